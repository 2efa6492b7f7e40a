// Find in Rules, driven as a user would, offscreen: the matches of the
// active window's archive are what `tarn grep -i` prints, Enter and F4 show
// one in both panes, a new search or a closed window ends the last one, and
// the field and the matches have names for a screen reader.
#include <QAccessible>
#include <QLabel>
#include <QLineEdit>
#include <QTreeView>

#include "app/edit/entry_editor.h"
#include "app/framework/status_bar.h"
#include "app/search/rules_search_pane.h"
#include "editor_fixture.h"
#include "tests/support/big_builder.h"
#include "tests/support/run_tarn.h"

namespace {

QString Message(CEditorRun& run) { return run.Main()->GetStatusBar()->GetPane(0)->text(); }

// The matches as tarn grep prints them: ENTRY, BLOCK, NAME, VALUE.
QStringList Matches(CRulesSearchPane* pane) {
  QStringList lines;
  QAbstractItemModel* model = pane->GetResults()->model();
  for (int row = 0; row < model->rowCount(); ++row) {
    QStringList cells;
    for (int column = 0; column < 4; ++column) cells << model->index(row, column).data().toString();
    lines << cells.join(QLatin1Char('\t'));
  }
  return lines;
}

QStringList GrepLines(const std::string& pattern, const QString& path) {
  const CTarnResult r = RunTarnCaptured({"grep", "-i", pattern, path.toStdString()});
  return QString::fromLatin1(r.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void Search(CEditorRun& run, const QString& text) {
  QVERIFY(run.Command(ID_EDIT_FIND_IN_RULES));
  CRulesSearchPane* pane = run.Main()->GetRulesSearch();
  QTest::keyClicks(pane->GetField(), text);
  QTest::keyClick(pane->GetField(), Qt::Key_Return);
}

QString AccessibleName(QObject* object) {
  QAccessibleInterface* face = QAccessible::queryAccessibleInterface(object);
  return face != nullptr ? face->text(QAccessible::Name) : QString();
}

}  // namespace

class SearchTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    const std::string text =
        "Object Tank\n  Speed = 30\n  WeaponSet\n    Weapon = TankGun\n  End\nEnd\n"
        "Weapon TankGun\n  Damage 40\nEnd\n";
    m_path = ToQ(
        m_dir.Write("a.big", CBigBuilder()
                                 .Add("Data\\Tank.ini", text)
                                 .Add("Data\\Other.ini", "Object Jeep\n  Weapon = JeepGun\nEnd\n")
                                 .Add("Data\\Binary.dat", std::string("Weapon\0", 7))
                                 .Add("Data\\Plain.ini", "Object Boat\n  Speed 5\nEnd\n")
                                 .Build()));
    CBigBuilder many;
    for (int i = 0; i < 400; ++i) {
      std::string entry;
      for (int b = 0; b < 100; ++b)
        entry += "Object U" + std::to_string(b) + "\n  Cost = " + std::to_string(i) +
                 "\n  Weapon Gun\nEnd\n";
      many.Add("e" + std::to_string(1000 + i), entry);
    }
    m_large = ToQ(m_dir.Write("large.big", many.Build()));
  }

  void matchesAreTarnGrepsAndShowInBothPanes() {
    CEditorRun run({m_path});
    CRulesSearchPane* pane = run.Main()->GetRulesSearch();
    QVERIFY(!pane->isVisible());
    Search(run, "weapon");
    QVERIFY(pane->isVisible());
    // The search runs beside the window: nothing has arrived yet.
    QCOMPARE(pane->GetResults()->model()->rowCount(), 0);
    QTRY_VERIFY(!pane->IsSearching());
    const QStringList expected = GrepLines("weapon", m_path);
    QCOMPARE(expected.size(), 4);
    QCOMPARE(Matches(pane), expected);
    QCOMPARE(Message(run), QStringLiteral("4 matches in 2 entries"));

    // Enter on the third match: "Weapon = TankGun", inside WeaponSet.
    CLeftView* tree = TreeOf(run.Frames()[0]);
    CTarnEditorView* list = ListOf(run.Frames()[0]);
    QTreeView* results = pane->GetResults();
    results->setFocus();
    results->setCurrentIndex(results->model()->index(2, 0));
    QTest::keyClick(results, Qt::Key_Return);
    QCOMPARE(tree->currentIndex().data().toString(), QStringLiteral("Data\\Tank.ini"));
    QCOMPARE(list->currentIndex().row(), 3);
    QCOMPARE(ListRows(list).at(3), QStringLiteral("        Weapon|TankGun"));
    QVERIFY(list->selectionModel()->isRowSelected(3, QModelIndex()));
    QCOMPARE(Message(run), QStringLiteral("Match 3 of 4"));

    // F4 and Shift+F4 step through the matches, wrapping around.
    QTest::keyClick(results, Qt::Key_F4);
    QCOMPARE(results->currentIndex().row(), 3);
    QCOMPARE(ListRows(list).at(list->currentIndex().row()), QStringLiteral("TankGun|Weapon"));
    QTest::keyClick(results, Qt::Key_F4);
    QCOMPARE(results->currentIndex().row(), 0);
    QCOMPARE(tree->currentIndex().data().toString(), QStringLiteral("Data\\Other.ini"));
    QCOMPARE(ListRows(list).at(list->currentIndex().row()), QStringLiteral("    Weapon|JeepGun"));
    QTest::keyClick(results, Qt::Key_F4, Qt::ShiftModifier);
    QCOMPARE(results->currentIndex().row(), 3);
    QCOMPARE(Message(run), QStringLiteral("Match 4 of 4"));

    // A search that finds nothing says so.
    pane->GetField()->clear();
    Search(run, "nowhere");
    QTRY_VERIFY(!pane->IsSearching());
    QCOMPARE(pane->GetResults()->model()->rowCount(), 0);
    QCOMPARE(Message(run), QStringLiteral("No row holds \"nowhere\""));
    // Escape in the field with no search running closes the pane.
    QTest::keyClick(pane->GetField(), Qt::Key_Escape);
    QVERIFY(!pane->isVisible());
  }

  void thePendingChangesAreWhatIsSearched() {
    CEditorRun run({m_path});
    auto* editor = dynamic_cast<CEntryEditor*>(run.Documents()[0]->GetHooks());
    QVERIFY(editor != nullptr);
    const std::string boat = "Object Boat\n  Weapon = BoatGun\nEnd\n";
    const std::string raft = "Object Raft\n  Weapon = RaftGun\nEnd\n";
    editor->Push(
        QStringLiteral("Edit"),
        {{"Data\\Plain.ini",
          CChangeSet::CChange{false, CDataBuffer(boat.data(), static_cast<uint32_t>(boat.size()))}},
         {"Data\\Other.ini", CChangeSet::CChange{true, {}}},
         {"Data\\New.ini",
          CChangeSet::CChange{false,
                              CDataBuffer(raft.data(), static_cast<uint32_t>(raft.size()))}}});
    CRulesSearchPane* pane = run.Main()->GetRulesSearch();
    Search(run, "weapon");
    QTRY_VERIFY(!pane->IsSearching());
    const QStringList found = Matches(pane);
    // An added entry's match shows in both panes like any other.
    QTreeView* results = pane->GetResults();
    results->setFocus();
    results->setCurrentIndex(results->model()->index(0, 0));
    QTest::keyClick(results, Qt::Key_Return);
    QCOMPARE(TreeOf(run.Frames()[0])->currentIndex().data().toString(),
             QStringLiteral("Data\\New.ini"));
    QCOMPARE(ListRows(ListOf(run.Frames()[0])).at(ListOf(run.Frames()[0])->currentIndex().row()),
             QStringLiteral("    Weapon|RaftGun"));
    // What tarn grep finds in the archive saved with the changes.
    const QString saved = ToQ(m_dir.Path() + "/saved.big");
    run.Answer(saved);
    QVERIFY(run.Command(ID_FILE_SAVE_AS));
    QCOMPARE(found, GrepLines("weapon", saved));
    QCOMPARE(found.size(), 5);  // Tank.ini 3, Plain.ini and New.ini 1 each
  }

  void aNewSearchOrAClosedWindowEndsTheLastOne() {
    CEditorRun run({m_large});
    CRulesSearchPane* pane = run.Main()->GetRulesSearch();
    Search(run, "Weapon");
    // A new search replaces the running one: only its matches are listed.
    pane->GetField()->clear();
    Search(run, "Cost = 39");
    QTRY_VERIFY(!pane->IsSearching());
    QCOMPARE(Matches(pane), GrepLines("Cost = 39", m_large));
    QCOMPARE(pane->GetResults()->model()->rowCount(), 0);  // across key and value: no row

    pane->GetField()->clear();
    Search(run, "39");
    // Escape stops it wherever the focus is; what was found so far stays, in
    // order (all of it, when the search was done first).
    QTest::keyClick(TreeOf(run.Frames()[0]), Qt::Key_Escape);
    QTRY_VERIFY(!pane->IsSearching());
    const QStringList all = GrepLines("39", m_large);
    const QStringList found = Matches(pane);
    QCOMPARE(found, all.mid(0, found.size()));
    QVERIFY(Message(run).startsWith(QStringLiteral("Search stopped: ")) || found == all);

    // Closing the window during a search ends it and lets the archive go.
    pane->GetField()->clear();
    Search(run, "Weapon");
    run.Frames()[0]->close();
    CEditorRun::Settle();
    QVERIFY(!pane->IsSearching());
    QCOMPARE(pane->GetResults()->model()->rowCount(), 0);
    QVERIFY(!HoldsArchive(m_large.toStdString()));
  }

  void fieldAndMatchesHaveAccessibleNames() {
    CEditorRun run({m_path});
    CRulesSearchPane* pane = run.Main()->GetRulesSearch();
    QCOMPARE(AccessibleName(pane->GetField()), QStringLiteral("Find in rules"));
    QCOMPARE(AccessibleName(pane->GetResults()), QStringLiteral("Matches"));
    QAbstractItemModel* model = pane->GetResults()->model();
    QStringList headings;
    for (int column = 0; column < model->columnCount(); ++column)
      headings << model->headerData(column, Qt::Horizontal).toString();
    QCOMPARE(headings, QStringList({"Entry", "Block", "Name", "Value"}));
  }

 private:
  CTestSettings m_settings;
  CTempDir m_dir;
  QString m_path;
  QString m_large;

  // A save while the search runs puts another archive in the window: the
  // matches still name the entries they were found in.
  void aSaveDuringTheSearchKeepsItsMatchesNames() {
    const QString path = ToQ(m_dir.Write("saving.big", ReadWholeFile(m_large.toStdString())));
    CEditorRun run({path});
    // The first entries go, so every later one moves up in the saved archive.
    std::vector<std::string> gone;
    for (int i = 0; i < 200; ++i) gone.push_back("e" + std::to_string(1000 + i));
    run.Documents()[0]->GetHooks()->DeleteEntries(gone);
    CRulesSearchPane* pane = run.Main()->GetRulesSearch();
    Search(run, "Cost = 399");
    QVERIFY(run.Command(ID_FILE_SAVE));
    QTRY_VERIFY(!pane->IsSearching());
    QCOMPARE(Matches(pane), GrepLines("Cost = 399", path));
    QCOMPARE(Matches(pane).size(), 100);
  }
};

QTEST_MAIN(SearchTest)
#include "search_test.moc"
