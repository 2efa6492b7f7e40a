// Following the references between rules blocks in the editor, offscreen:
// the index is built beside the window from what it shows, pending changes
// included; a value naming a block is a link that F12 or Ctrl+click follows,
// Alt+Left and Alt+Right go back and forth; Shift+F12 lists what `tarn refs`
// prints in the Find in Rules pane; View > Problems what `tarn lint` finds;
// the value editor offers the blocks a key leads to.
#include <QAbstractItemView>
#include <QAccessible>
#include <QCompleter>
#include <QLineEdit>
#include <QLabel>
#include <QTreeView>
#include <QTreeWidget>

#include "app/document/entry_hooks.h"
#include "app/document/reference_links.h"
#include "app/framework/status_bar.h"
#include "app/refs/problems_pane.h"
#include "app/refs/reference_places.h"
#include "app/refs/rules_references.h"
#include "app/rows/value_links.h"
#include "app/search/rules_search_pane.h"
#include "editor_fixture.h"
#include "tests/support/big_builder.h"
#include "tests/support/run_tarn.h"

namespace {

const std::string kTank =
    "Object Tank\n  Speed = 30\n  WeaponSet\n    Weapon = PRIMARY TankGun\n  End\nEnd\n";
const std::string kWeapons = "Weapon TankGun\n  Damage 40\nEnd\nWeapon JeepGun\n  Damage 10\nEnd\n";

CRulesReferences* ReferencesOf(CEditorRun& run) {
  return dynamic_cast<CRulesReferences*>(run.Documents()[0]->GetLinks());
}

// Waits for the index of what the window shows now.
bool IndexSettles(CRulesReferences* references) {
  return QTest::qWaitFor(
      [&] { return references->GetIndex() != nullptr && !references->IsBuilding(); });
}

QString Message(CEditorRun& run) { return run.Main()->GetStatusBar()->GetPane(0)->text(); }

QString Cell(QAbstractItemModel* model, int row, int column, int role = Qt::DisplayRole) {
  return model->index(row, column).data(role).toString();
}

}  // namespace

class RefsTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    m_path = ToQ(m_dir.Write(
        "a.big",
        CBigBuilder().Add("Data\\Tank.ini", kTank).Add("Data\\Weapons.ini", kWeapons).Build()));
  }

  void aLinkGoesToItsDefinitionAndBack() {
    CEditorRun run({m_path});
    CChildFrame* frame = run.Frames()[0];
    CLeftView* tree = TreeOf(frame);
    CTarnEditorView* list = ListOf(frame);
    QVERIFY(IndexSettles(ReferencesOf(run)));
    QVERIFY(frame->SelectEntryRow("Data\\Tank.ini", 3));
    QCOMPARE(ListRows(list).at(3), QStringLiteral("        Weapon|PRIMARY TankGun"));
    // A screen reader hears where the link leads.
    QCOMPARE(Cell(list->model(), 3, 1, Qt::AccessibleDescriptionRole),
             QStringLiteral("reference to TankGun in Data\\Weapons.ini"));
    QVERIFY(Cell(list->model(), 1, 1, Qt::AccessibleDescriptionRole).isEmpty());

    list->setFocus();
    QTest::keyClick(list, Qt::Key_F12);
    QCOMPARE(tree->currentIndex().data().toString(), QStringLiteral("Data\\Weapons.ini"));
    QCOMPARE(ListRows(list).at(list->currentIndex().row()), QStringLiteral("TankGun|Weapon"));
    QTest::keyClick(list, Qt::Key_Left, Qt::AltModifier);
    QCOMPARE(tree->currentIndex().data().toString(), QStringLiteral("Data\\Tank.ini"));
    QCOMPARE(list->currentIndex().row(), 3);
    QTest::keyClick(list, Qt::Key_Right, Qt::AltModifier);
    QCOMPARE(tree->currentIndex().data().toString(), QStringLiteral("Data\\Weapons.ini"));

    // Ctrl and a click on the link's text: its end of the cell, not the modifier's.
    QVERIFY(frame->SelectEntryRow("Data\\Tank.ini", 3));
    const QRect cell = list->visualRect(list->model()->index(3, 1));
    const QFontMetrics metrics = list->fontMetrics();
    const int x = CValueLinkDelegate::TextLeft(list, cell) +
                  metrics.horizontalAdvance(QStringLiteral("PRIMARY T"));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      QPoint(x, cell.center().y()));
    QCOMPARE(tree->currentIndex().data().toString(), QStringLiteral("Data\\Weapons.ini"));
  }

  void findReferencesListsWhatTarnRefsPrints() {
    CEditorRun run({m_path});
    CChildFrame* frame = run.Frames()[0];
    QVERIFY(IndexSettles(ReferencesOf(run)));
    QVERIFY(frame->SelectEntryRow("Data\\Weapons.ini", 2));
    ListOf(frame)->setFocus();
    QTest::keyClick(ListOf(frame), Qt::Key_F12, Qt::ShiftModifier);
    CRulesSearchPane* pane = run.Main()->GetRulesSearch();
    QVERIFY(pane->isVisible());
    QStringList lines;
    QAbstractItemModel* model = pane->GetResults()->model();
    for (int row = 0; row < model->rowCount(); ++row) {
      lines << QStringList{Cell(model, row, 4), Cell(model, row, 0), Cell(model, row, 1),
                           Cell(model, row, 2), Cell(model, row, 3)}
                   .join(QLatin1Char('\t'));
    }
    const CTarnResult refs = RunTarnCaptured({"refs", "TankGun", m_path.toStdString()});
    QCOMPARE(lines, QString::fromLatin1(refs.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts));
    // Enter on the use goes to it.
    pane->GetResults()->setCurrentIndex(model->index(0, 0));
    QTest::keyClick(pane->GetResults(), Qt::Key_Return);
    QCOMPARE(TreeOf(frame)->currentIndex().data().toString(), QStringLiteral("Data\\Tank.ini"));
    QCOMPARE(ListOf(frame)->currentIndex().row(), 3);
  }

  void theIndexIsOfThePendingChanges() {
    CEditorRun run({m_path});
    CRulesReferences* references = ReferencesOf(run);
    QVERIFY(IndexSettles(references));
    QVERIFY(references->GetIndex()->UsesOf("JeepGun").empty());
    QVERIFY(run.Documents()[0]->GetHooks()->EditValue("Data\\Tank.ini", kTank.find("PRIMARY"), 15,
                                                      QStringLiteral("PRIMARY JeepGun")));
    QVERIFY(IndexSettles(references));
    QCOMPARE(references->GetIndex()->UsesOf("JeepGun").size(), size_t{1});
    QVERIFY(references->GetIndex()->UsesOf("TankGun").empty());
    QVERIFY(run.Frames()[0]->SelectEntryRow("Data\\Tank.ini", 3));
    QCOMPARE(Cell(ListOf(run.Frames()[0])->model(), 3, 1, Qt::AccessibleDescriptionRole),
             QStringLiteral("reference to JeepGun in Data\\Weapons.ini"));
  }

  void problemsAreWhatTarnLintFinds() {
    std::string units;
    for (int i = 0; i < 25; ++i)
      units += "Object U" + std::to_string(i) + "\n  Weapon = Gun\nEnd\n";
    units += "Object Stray\n  Weapon = Gnu\nEnd\n";
    const std::string path = m_dir.Write("lint.big", CBigBuilder()
                                                         .Add("A.ini", "Weapon Gun\nEnd\n")
                                                         .Add("B.ini", "Weapon Gun\nEnd\n")
                                                         .Add("Units.ini", units)
                                                         .Build());
    CEditorRun run({ToQ(path)});
    QVERIFY(IndexSettles(ReferencesOf(run)));
    QVERIFY(run.Command(ID_VIEW_PROBLEMS));
    CProblemsPane* pane = run.Main()->GetProblems();
    QVERIFY(pane->isVisible());
    QCOMPARE(Message(run), QStringLiteral("2 problems"));
    QTreeWidget* list = pane->GetList();
    QStringList rows;
    for (int row = 0; row < list->topLevelItemCount(); ++row) {
      QStringList cells;
      for (int column = 0; column < 5; ++column) cells << list->topLevelItem(row)->text(column);
      rows << cells.join(QLatin1Char('\t'));
    }
    const QStringList lint = QString::fromLatin1(RunTarnCaptured({"lint", path}).out)
                                 .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(rows.first(), lint.first());
    QCOMPARE(rows.mid(1), QStringList({QStringLiteral("duplicate\tA.ini\tGun\tGun\tWeapon"),
                                       QStringLiteral("duplicate\tB.ini\tGun\tGun\tWeapon")}));
    list->setFocus();
    list->setCurrentItem(list->topLevelItem(0));
    QTest::keyClick(list, Qt::Key_Return);
    QCOMPARE(TreeOf(run.Frames()[0])->currentIndex().data().toString(),
             QStringLiteral("Units.ini"));
    QCOMPARE(ListRows(ListOf(run.Frames()[0])).at(ListOf(run.Frames()[0])->currentIndex().row()),
             QStringLiteral("    Weapon|Gnu"));
  }

  // Each place a duplicate is defined is the row of its block in that
  // entry, however the duplicates' places interleave the entries.
  void duplicatesArePlacedAtTheirBlocksRows() {
    CRulesIndex index;
    index.Build({{"A.ini", "Armor Aa\nEnd\nWeapon Gun\nEnd\nWeapon Zed\nEnd\n"},
                 {"B.ini", "Weapon Zed\nEnd\nWeapon Gun\nEnd\n"}});
    QStringList places;
    for (const CMarkedRow& row : ProblemRows(index))
      places << QString::fromStdString(row.entry + " " + row.name + " " + std::to_string(row.row));
    QCOMPARE(places, QStringList({"A.ini Gun 1", "B.ini Gun 0", "A.ini Zed 2", "B.ini Zed 1"}));
    const std::vector<CMarkedRow> gun = ReferenceRows(index, "Gun");
    QCOMPARE(gun.size(), size_t{2});
    QCOMPARE(gun[0].row, size_t{1});
    QCOMPARE(gun[1].row, size_t{0});
  }

  void completionOffersTheBlocksAKeyLeadsToFirst() {
    const std::string text =
        "Weapon Gun\nEnd\nWeapon Cannon\nEnd\nArmor Plate\nEnd\nObject A\n  Weapon = Gun\nEnd\n"
        "Object B\n  Weapon = NONE\nEnd\nObject C\n  Weapon = NONE\nEnd\n";
    CRulesIndex index;
    index.Build({{"a.ini", text}});
    QCOMPARE(
        CompletionsOf(index, "Weapon"),
        QStringList({QStringLiteral("Cannon"), QStringLiteral("Gun"), QStringLiteral("NONE")}));
  }

  // In the value editor: typing offers the names, and Enter on an offer of
  // just what was typed commits the value at once.
  void theValueEditorOffersAndOneEnterCommits() {
    CEditorRun run({m_path});
    QVERIFY(IndexSettles(ReferencesOf(run)));
    CChildFrame* frame = run.Frames()[0];
    QVERIFY(frame->SelectEntryRow("Data\\Tank.ini", 3));
    QLineEdit* field = EditInPlace(ListOf(frame));
    QVERIFY(field != nullptr);
    field->selectAll();
    QTest::keyClicks(field, QStringLiteral("PRIMARY Je"));
    auto* offers = field->findChild<QCompleter*>();
    QVERIFY(offers != nullptr);
    QTRY_VERIFY(offers->popup()->isVisible());
    QCOMPARE(offers->currentCompletion(), QStringLiteral("JeepGun"));
    QTest::keyClicks(field, QStringLiteral("epGun"));
    QTRY_VERIFY(offers->popup()->isVisible());
    QTest::keyClick(offers->popup(), Qt::Key_Return);
    CEditorRun::Settle();
    CEditorRun::Settle();
    QVERIFY(run.Frames()[0]->windowTitle().endsWith(QLatin1Char('*')));
    QCOMPARE(Message(run), QStringLiteral("1 change"));
  }

  // A value naming 20,000 blocks paints, and a click on a link in it
  // follows that link, at once: placing each of its runs by measuring the
  // text before it froze the window for minutes.
  void aValueNamingThousandsOfBlocksPaintsAndFollows() {
    std::string blocks, value = "Object User\n  Armor =";
    for (int n = 0; n < 20000; ++n) {
      blocks += "Armor N" + std::to_string(n) + "\nEnd\n";
      value += " N" + std::to_string(n);
    }
    const QString path = ToQ(m_dir.Write(
        "wide.big",
        CBigBuilder().Add("Armor.ini", blocks).Add("User.ini", value + "\nEnd\n").Build()));
    CEditorRun run({path});
    CChildFrame* frame = run.Frames()[0];
    CTarnEditorView* list = ListOf(frame);
    QVERIFY(IndexSettles(ReferencesOf(run)));
    QVERIFY(frame->SelectEntryRow("User.ini", 1));
    list->viewport()->grab();
    const QRect cell = list->visualRect(list->model()->index(1, 1));
    const int x = CValueLinkDelegate::TextLeft(list, cell) +
                  list->fontMetrics().horizontalAdvance(QStringLiteral("N0 N1 N"));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      QPoint(x, cell.center().y()));
    QCOMPARE(TreeOf(frame)->currentIndex().data().toString(), QStringLiteral("Armor.ini"));
    QCOMPARE(ListRows(list).at(list->currentIndex().row()), QStringLiteral("N2|Armor"));
  }

  void backAndForwardGoAsABrowserDoes() {
    CPlaceHistory history;
    QVERIFY(!history.Back({"b", 0}));
    history.Leave({"a", 1});
    history.Leave({"b", 2});
    QCOMPARE(history.Back({"c", 3})->entry, std::string("b"));
    QCOMPARE(history.Back({"b", 2})->entry, std::string("a"));
    QCOMPARE(history.Forward({"a", 1})->entry, std::string("b"));
    // Going somewhere new from the middle forgets what lay forward.
    history.Leave({"b", 2});
    QVERIFY(!history.CanGoForward());
  }

 private:
  CTestSettings m_settings;
  CTempDir m_dir;
  QString m_path;
};

QTEST_MAIN(RefsTest)
#include "refs_test.moc"
