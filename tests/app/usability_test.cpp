// The editor as a new user meets it: where a newly selected entry starts,
// which window stays maximised, the keys for child windows, the main title,
// what the status bar says after an open, a failed open, a Save As and a
// selection, finding an entry by part of its name, binary entries, and the
// names a screen reader hears.
#include <QAccessible>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QScrollBar>

#include <filesystem>

#include "app/framework/status_bar.h"
#include "editor_fixture.h"
#include "tests/support/big_builder.h"

namespace {

// A rules text of `blocks` blocks of ten lines each: 11 rows a block.
std::string ManyRows(int blocks, const std::string& prefix) {
  std::string text;
  for (int b = 0; b < blocks; ++b) {
    text += "Object " + prefix + std::to_string(b) + "\n";
    for (int line = 0; line < 10; ++line) text += "  Key" + std::to_string(line) + " = 1\n";
    text += "End\n";
  }
  return text;
}

QString Message(CEditorRun& run) { return run.Main()->GetStatusBar()->GetPane(0)->text(); }

QMenu* BarMenu(CEditorRun& run, const QString& title) {
  for (QAction* action : run.Main()->menuBar()->actions()) {
    if (action->text() == title) return action->menu();
  }
  return nullptr;
}

QStringList ShownTexts(QMenu* menu) {
  QStringList texts;
  for (QAction* action : menu->actions()) {
    if (action->isVisible()) texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
  }
  return texts;
}

QAction* MenuAction(QMenu* menu, const QString& text) {
  for (QAction* action : menu->actions()) {
    if (action->text() == text) return action;
  }
  return nullptr;
}

// The find field of a tree, shown or not.
QLineEdit* FindField(CLeftView* tree) { return tree->findChild<QLineEdit*>(); }

// The "no match" note of a find field, when it shows.
bool ShowsNoMatch(CLeftView* tree) {
  for (QLabel* label : tree->findChildren<QLabel*>()) {
    if (label->isVisible() && label->text() == QStringLiteral("no match")) return true;
  }
  return false;
}

QString SelectedName(CLeftView* tree) {
  const QModelIndexList rows = tree->selectionModel()->selectedRows();
  return rows.size() == 1 ? rows[0].data().toString() : QString();
}

QString AccessibleName(QObject* object) {
  QAccessibleInterface* face = QAccessible::queryAccessibleInterface(object);
  return face != nullptr ? face->text(QAccessible::Name) : QString();
}

}  // namespace

class UsabilityTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<CTestSettings> m_settings;
  CTempDir m_dir;
  QString m_archive;  // Data\Long.ini (2,200 rows), Data\Short.ini (110 rows), Data\Tank.ini, readme
  QString m_other;    // one entry

  QString Write(const std::string& name, const std::string& bytes) {
    return QString::fromStdString(m_dir.Write(name, bytes));
  }

 private slots:
  void init() { m_settings = std::make_unique<CTestSettings>(); }

  void initTestCase() {
    m_archive = Write("a.big", CBigBuilder()
                                   .Add("Data\\Long.ini", ManyRows(200, "L"))
                                   .Add("Data\\Short.ini", ManyRows(10, "S"))
                                   .Add("Data\\Tank.ini", "Object Tank\n  Speed = 30\nEnd\n")
                                   .Add("readme", "; nothing\n")
                                   .Build());
    m_other = Write("b.big", CBigBuilder().Add("x", "A B\nEnd\n").Build());
  }

  // --- 1. each entry starts at its first row, none selected

  void aNewEntryStartsAtItsFirstRow() {
    CEditorRun run({m_archive});
    CChildFrame* frame = run.Frames()[0];
    CTarnEditorView* list = ListOf(frame);
    ClickTreeRow(TreeOf(frame), 0);
    QCOMPARE(list->model()->rowCount(), 2200);
    list->scrollToBottom();
    QVERIFY(list->verticalScrollBar()->value() > 0);
    const QModelIndex last = list->model()->index(2199, 0);
    list->selectionModel()->setCurrentIndex(last, QItemSelectionModel::ClearAndSelect |
                                                      QItemSelectionModel::Rows);

    ClickTreeRow(TreeOf(frame), 1);
    QCOMPARE(list->model()->rowCount(), 110);
    QCOMPARE(list->verticalScrollBar()->value(), 0);
    QVERIFY(list->selectionModel()->selectedRows().isEmpty());
    QVERIFY(!list->currentIndex().isValid());
  }

  // --- 2. and 3. child windows stay maximised; their keys

  void closingAWindowKeepsTheNextMaximised() {
    CEditorRun run({m_archive});
    run.Answer(m_other);
    QVERIFY(run.Command(ID_FILE_OPEN));
    QCOMPARE(run.Frames().size(), size_t{2});
    QVERIFY(run.Active()->isMaximized());
    QVERIFY(run.Command(ID_FILE_CLOSE));
    CEditorRun::Settle();
    QCOMPARE(run.Frames().size(), size_t{1});
    QVERIFY(run.Active() != nullptr);
    QVERIFY(run.Active()->isMaximized());

    // Ctrl+F4 closes the active window (not its document's other windows).
    QVERIFY(run.Command(ID_WINDOW_NEW));
    QCOMPARE(run.Frames().size(), size_t{2});
    QTest::keyClick(TreeOf(run.Active()), Qt::Key_F4, Qt::ControlModifier);
    CEditorRun::Settle();
    QCOMPARE(run.Frames().size(), size_t{1});
    QCOMPARE(run.Documents().size(), size_t{1});
    QVERIFY(run.Active()->isMaximized());
    QTest::keyClick(TreeOf(run.Active()), Qt::Key_F4, Qt::ControlModifier);
    CEditorRun::Settle();
    QVERIFY(run.Frames().empty());
  }

  void ctrlF6AndCtrlTabGoThroughTheWindows() {
    CEditorRun run({m_archive});
    run.Answer(m_other);
    QVERIFY(run.Command(ID_FILE_OPEN));
    QVERIFY(run.Command(ID_FILE_NEW));
    const std::vector<CChildFrame*> frames = run.Frames();
    QCOMPARE(frames.size(), size_t{3});
    CChildFrame* start = run.Active();
    QTest::keyClick(TreeOf(start), Qt::Key_F6, Qt::ControlModifier);
    CChildFrame* next = run.Active();
    QVERIFY(next != start);
    QVERIFY(next->isMaximized());
    QTest::keyClick(TreeOf(next), Qt::Key_F6, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(run.Active(), start);
    QVERIFY(start->isMaximized());
    QTest::keyClick(TreeOf(start), Qt::Key_Tab, Qt::ControlModifier);
    QVERIFY(run.Active() != start);
  }

  // --- 4. the main title names the active document

  void theMainTitleNamesTheActiveDocument() {
    CEditorRun run({m_archive});
    QCOMPARE(run.Main()->windowTitle(), QStringLiteral("Tarn Editor - a.big"));
    for (int id : {ID_WINDOW_CASCADE, ID_WINDOW_TILE_HORZ}) {
      QVERIFY(run.Command(id));
      QVERIFY(!run.Active()->isMaximized());
      QCOMPARE(run.Main()->windowTitle(), QStringLiteral("Tarn Editor - a.big"));
    }
    QVERIFY(run.Command(ID_WINDOW_NEW));
    QCOMPARE(run.Main()->windowTitle(), QStringLiteral("Tarn Editor - a.big:2"));
    QVERIFY(run.Command(ID_FILE_NEW));
    QCOMPARE(run.Main()->windowTitle(), QStringLiteral("Tarn Editor - TarnEdi1"));
    QVERIFY(run.Command(ID_FILE_CLOSE));
    QVERIFY(run.Command(ID_FILE_CLOSE));
    CEditorRun::Settle();
    QCOMPARE(run.Main()->windowTitle(), QStringLiteral("Tarn Editor"));
  }

  // --- 5. a failed open says why

  void aFailedOpenSaysWhyUntilTheNextCommand() {
    const QString bad = Write("bad.big", CBigBuilder().Add("a", "1").Magic("BIGX").Build());
    const QString missing = m_archive + ".gone";
    CEditorRun run({m_archive});
    run.Answer(bad);
    QVERIFY(run.Command(ID_FILE_OPEN));
    QCOMPARE(Message(run), "Cannot open " + bad + ": " + DescribeBigFailure(BigFailure::BadMagic));
    QCOMPARE(run.Frames().size(), size_t{1});
    QVERIFY(run.Command(ID_WINDOW_CASCADE));
    QCOMPARE(Message(run), QStringLiteral("Ready"));

    run.Answer(missing);
    QVERIFY(run.Command(ID_FILE_OPEN));
    QCOMPARE(Message(run), "Cannot open " + missing + ": No such file or directory");

    // From the recent-file list: the file went away after it was listed.
    const QString gone = Write("gone.big", CBigBuilder().Build());
    run.Answer(gone);
    QVERIFY(run.Command(ID_FILE_OPEN));
    QVERIFY(run.Command(ID_FILE_CLOSE));
    std::filesystem::remove(gone.toStdString());
    QVERIFY(run.Command(ID_FILE_MRU_FILE1));
    QCOMPARE(Message(run), "Cannot open " + gone + ": No such file or directory");
  }

  void aBadPathOnTheCommandLineSaysWhyOnStderr() {
    // A name with a terminal's escape sequence in it is shown, not obeyed.
    const QString bad = Write("bad\x1b[2J.big", "not an archive at all");
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_settings->Path());
    env.insert(QStringLiteral("HOME"), m_settings->Path());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_settings->Path());
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(TARN_EDITOR_PATH), {bad});
    QVERIFY(process.waitForFinished(60000));
    QVERIFY(process.exitCode() != 0);
    // Qt may add warnings of its own; the program's line is one of them.
    const QStringList lines = QString::fromLocal8Bit(process.readAllStandardError()).split('\n');
    QString shown = bad;
    shown.replace(QChar(0x1B), QStringLiteral("\\x1B"));
    QVERIFY2(lines.contains("tarn-editor: cannot open " + shown + ": " +
                            DescribeBigFailure(BigFailure::BadMagic)),
             qPrintable(lines.join('\n')));
  }

  // --- 6. Save As says what it did not do

  void saveAsProposesACopyAndSaysWhyItRefuses() {
    CEditorRun run({m_archive});
    run.Answer(m_archive);
    QVERIFY(run.Command(ID_FILE_SAVE_AS));
    QCOMPARE(run.Dialogs().back().suggested, QString::fromStdString(m_dir.Path() + "/a copy.big"));
    QVERIFY(Message(run).startsWith("Cannot save a copy: " + m_archive + ": "));
    QVERIFY(Message(run).size() > ("Cannot save a copy: " + m_archive + ": ").size());

    const QString nowhere = QString::fromStdString(m_dir.Path() + "/no/such/folder/x.big");
    run.Answer(nowhere);
    QVERIFY(run.Command(ID_FILE_SAVE_AS));
    QVERIFY(Message(run).startsWith("Cannot save a copy: " + nowhere + ": "));
    QVERIFY(!std::filesystem::exists(nowhere.toStdString()));

    const QString copy = QString::fromStdString(m_dir.Path() + "/a copy.big");
    run.Answer(copy);
    QVERIFY(run.Command(ID_FILE_SAVE_AS));
    QCOMPARE(Message(run), "Saved a copy as " + copy);
    QCOMPARE(ReadWholeFile(copy.toStdString()), ReadWholeFile(m_archive.toStdString()));
    std::filesystem::remove(copy.toStdString());

    // A new document has no archive: Save As is not offered.
    QVERIFY(run.Command(ID_FILE_NEW));
    CCmdUI state;
    QVERIFY(!run.Main()->QueryCommand(ID_FILE_SAVE_AS, &state));
    run.Main()->UpdateMenus();
    QVERIFY(!MenuAction(BarMenu(run, "&File"), "Save &As...")->isEnabled());
  }

  // --- 7. entry count and sizes

  void theStatusBarCountsEntriesAndRows() {
    CEditorRun run({m_archive});
    QCOMPARE(Message(run), QStringLiteral("4 entries"));
    ClickTreeRow(TreeOf(run.Frames()[0]), 2);  // Data\Tank.ini
    QCOMPARE(Message(run), QStringLiteral("29 bytes, 2 rows"));
    ClickTreeRow(TreeOf(run.Frames()[0]), 3);  // readme: no rows
    QCOMPARE(Message(run), QStringLiteral("10 bytes, 0 rows"));
    QVERIFY(run.Command(ID_WINDOW_CASCADE));
    QCOMPARE(Message(run), QStringLiteral("Ready"));
    run.Answer(m_other);
    QVERIFY(run.Command(ID_FILE_OPEN));
    QCOMPARE(Message(run), QStringLiteral("1 entry"));
  }

  // --- 8. Find

  void findSelectsEntriesByPartOfTheirName() {
    CEditorRun run({m_archive});
    CLeftView* tree = TreeOf(run.Frames()[0]);
    CTarnEditorView* list = ListOf(run.Frames()[0]);
    QMenu* edit = BarMenu(run, "&Edit");
    run.Main()->UpdateMenus();
    QCOMPARE(ShownTexts(edit), QStringList({"&Undo\tCtrl+Z", "&Redo\tCtrl+Y", "-", "Cu&t\tCtrl+X", "&Copy\tCtrl+C",
                                            "&Paste\tCtrl+V", "&Delete\tDel", "Edit &Text...", "-",
                                            "Add &Files...", "Add F&older...", "Replace &With File...", "-",
                                            "&Find...\tCtrl+F"}));
    QVERIFY(MenuAction(edit, "&Find...\tCtrl+F")->isEnabled());

    QVERIFY(FindField(tree) == nullptr || !FindField(tree)->isVisible());
    tree->setFocus();
    QTest::keyClick(tree, Qt::Key_F, Qt::ControlModifier);
    QLineEdit* field = FindField(tree);
    QVERIFY(field != nullptr && field->isVisible());
    QVERIFY(field->hasFocus());
    // At the bottom of the tree pane, inside it, below the items.
    const QRect place(field->mapTo(tree, QPoint(0, 0)), field->size());
    QVERIFY(tree->rect().contains(place));
    QVERIFY(place.bottom() >= tree->height() - 8);
    QVERIFY(tree->viewport()->geometry().bottom() < place.top());

    QTest::keyClicks(field, "TAN");
    QCOMPARE(SelectedName(tree), QStringLiteral("Data\\Tank.ini"));
    QCOMPARE(ListRows(list), QStringList({"Tank|Object", "    Speed|30"}));
    QVERIFY(!ShowsNoMatch(tree));
    QTest::keyClicks(field, "q");
    QVERIFY(ShowsNoMatch(tree));
    QCOMPARE(SelectedName(tree), QStringLiteral("Data\\Tank.ini"));
    QTest::keyClick(field, Qt::Key_Backspace);
    QVERIFY(!ShowsNoMatch(tree));

    // ".ini" is in three names: F3 goes on from the selected one and wraps.
    field->clear();
    QTest::keyClicks(field, ".INI");
    QCOMPARE(SelectedName(tree), QStringLiteral("Data\\Tank.ini"));
    QTest::keyClick(field, Qt::Key_F3);
    QCOMPARE(SelectedName(tree), QStringLiteral("Data\\Long.ini"));
    QTest::keyClick(field, Qt::Key_F3);
    QCOMPARE(SelectedName(tree), QStringLiteral("Data\\Short.ini"));
    QTest::keyClick(field, Qt::Key_F3, Qt::ShiftModifier);
    QCOMPARE(SelectedName(tree), QStringLiteral("Data\\Long.ini"));
    QTest::keyClick(field, Qt::Key_F3, Qt::ShiftModifier);
    QCOMPARE(SelectedName(tree), QStringLiteral("Data\\Tank.ini"));

    QTest::keyClick(field, Qt::Key_Escape);
    QVERIFY(!field->isVisible());
    QVERIFY(tree->hasFocus());
    QCOMPARE(SelectedName(tree), QStringLiteral("Data\\Tank.ini"));
    // F3 from the tree finds the next one with the last text.
    QTest::keyClick(tree, Qt::Key_F3);
    QCOMPARE(SelectedName(tree), QStringLiteral("Data\\Long.ini"));
    // The menu item opens it too.
    QVERIFY(run.Command(ID_EDIT_FIND));
    QVERIFY(field->isVisible());
  }

  // --- 9. binary entries

  void aBinaryEntryKeepsValueInView() {
    std::string noise = "Object X\n  A = 1\nEnd\n";
    noise += std::string(1, '\0');
    for (int i = 0; i < 3000; ++i) noise += static_cast<char>('!' + (i * 7) % 90);
    noise += "\nShort = 1\n";
    const QString path = Write("bin.big", CBigBuilder().Add("noise.tga", noise).Build());
    CEditorRun run({path});
    CTarnEditorView* list = ListOf(run.Frames()[0]);
    ClickTreeRow(TreeOf(run.Frames()[0]), 0);
    const int visible = list->viewport()->width();
    QVERIFY(visible > 100);
    QVERIFY(list->GetColumnWidth(0) <= visible);
    QVERIFY(list->GetColumnWidth(1) <= visible);
    // Value starts inside the pane.
    QVERIFY(list->header()->sectionViewportPosition(1) < visible);
    QCOMPARE(Message(run), QString("%1 bytes, binary data, %2 rows")
                               .arg(noise.size())
                               .arg(list->model()->rowCount()));
  }

  // --- 10. names for screen readers

  void panesHaveAccessibleNames() {
    CEditorRun run({m_archive});
    CLeftView* tree = TreeOf(run.Frames()[0]);
    CTarnEditorView* list = ListOf(run.Frames()[0]);
    QCOMPARE(AccessibleName(tree), QStringLiteral("Entries"));
    QCOMPARE(AccessibleName(list), QStringLiteral("Rows"));
    QCOMPARE(tree->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Name"));
    QCOMPARE(list->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Name"));
    QCOMPARE(list->model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Value"));
    CStatusBar* bar = run.Main()->GetStatusBar();
    const QStringList panes = {"Message", "Caps Lock", "Num Lock", "Scroll Lock"};
    for (int i = 0; i < bar->GetPaneCount(); ++i) QCOMPARE(AccessibleName(bar->GetPane(i)), panes[i]);
    QVERIFY(run.Command(ID_EDIT_FIND));
    QCOMPARE(AccessibleName(FindField(tree)), QStringLiteral("Find entry"));
  }
};

QTEST_MAIN(UsabilityTest)
#include "usability_test.moc"
