// The editor as a new user meets it: where a newly selected entry starts,
// which window stays maximised, the keys for child windows, the main title,
// what the status bar says after an open, a failed open (also from the
// command line), a Save As and a selection, finding an entry by part of its
// name, binary entries, the Open dialog, and what a screen reader hears.
#include <QAccessible>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QScrollBar>
#include <QTextBrowser>
#include <QTimer>

#include <sys/stat.h>

#include <filesystem>
#include <memory>

#include "app/tree/entry_find.h"
#include "app/document/entry_hooks.h"
#include "app/framework/status_bar.h"
#include "app/shell/help_window.h"
#include "editor_fixture.h"
#include "storage/platform.h"
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
    if (action->isVisible())
      texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
  }
  return texts;
}

QAction* MenuAction(QMenu* menu, const QString& text) {
  for (QAction* action : menu->actions()) {
    if (action->text() == text) return action;
  }
  return nullptr;
}

// The find field of a tree, shown or not; null before the first find.
QLineEdit* FindField(CLeftView* tree) {
  return tree->GetFindBar() != nullptr ? tree->GetFindBar()->GetField() : nullptr;
}

// The "no match" note of a find field, when it shows.
bool ShowsNoMatch(CLeftView* tree) {
  if (tree->GetFindBar() == nullptr) return false;
  for (QLabel* label : tree->GetFindBar()->findChildren<QLabel*>()) {
    if (label->isVisible() && label->text() == QStringLiteral("no match")) return true;
  }
  return false;
}

QString SelectedName(CLeftView* tree) {
  const QModelIndexList rows = tree->selectionModel()->selectedRows();
  return rows.size() == 1 ? rows[0].data().toString() : QString();
}

QString AccessibleText(QObject* object, QAccessible::Text kind) {
  QAccessibleInterface* face = QAccessible::queryAccessibleInterface(object);
  return face != nullptr ? face->text(kind) : QString();
}

QString AccessibleName(QObject* object) { return AccessibleText(object, QAccessible::Name); }

}  // namespace

class UsabilityTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<CTestSettings> m_settings;
  CTempDir m_dir;
  QString
      m_archive;    // Data\Long.ini (2,200 rows), Data\Short.ini (110 rows), Data\Tank.ini, readme
  QString m_other;  // one entry

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
    list->selectionModel()->setCurrentIndex(
        last, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);

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
    // Maximised, in brackets; else plain.
    QCOMPARE(run.Main()->windowTitle(), QStringLiteral("Tarn Editor - [a.big]"));
    for (int id : {ID_WINDOW_CASCADE, ID_WINDOW_TILE_HORZ}) {
      QVERIFY(run.Command(id));
      QVERIFY(!run.Active()->isMaximized());
      QCOMPARE(run.Main()->windowTitle(), QStringLiteral("Tarn Editor - a.big"));
    }
    QVERIFY(run.Command(ID_WINDOW_NEW));
    QCOMPARE(run.Main()->windowTitle(), QStringLiteral("Tarn Editor - [a.big:2]"));
    QVERIFY(run.Command(ID_FILE_NEW));
    QCOMPARE(run.Main()->windowTitle(), QStringLiteral("Tarn Editor - [TarnEdi1]"));
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
    QCOMPARE(Message(run), "Cannot open " + QDir::toNativeSeparators(bad) + ": " +
                               CStatus::WordsFor(CStatus::Kind::BadMagic));
    QCOMPARE(run.Frames().size(), size_t{1});
    QVERIFY(run.Command(ID_WINDOW_CASCADE));
    QCOMPARE(Message(run), QStringLiteral("Ready"));

    run.Answer(missing);
    QVERIFY(run.Command(ID_FILE_OPEN));
    // The system's words for a missing file: ENOENT and Windows'
    // ERROR_FILE_NOT_FOUND are both 2.
    const QString notFound = QString::fromStdString(platform::Error(2).Text());
    QCOMPARE(Message(run), "Cannot open " + QDir::toNativeSeparators(missing) + ": " + notFound);

    // From the recent-file list: the file went away after it was listed.
    const QString gone = Write("gone.big", CBigBuilder().Build());
    run.Answer(gone);
    QVERIFY(run.Command(ID_FILE_OPEN));
    QVERIFY(run.Command(ID_FILE_CLOSE));
    std::filesystem::remove(gone.toStdString());
    QVERIFY(run.Command(ID_FILE_MRU_FILE1));
    QCOMPARE(Message(run), "Cannot open " + QDir::toNativeSeparators(gone) + ": " + notFound);
  }

  void aBadPathOnTheCommandLineSaysWhyOnATerminal() {
#ifdef _WIN32
    QSKIP("not on Windows: no pseudo-terminal to start from");
#else
    // A name with a terminal's escape sequence in it is shown, not obeyed.
    const QString bad = Write("bad\x1b[2J.big", "not an archive at all");
    CPseudoTerminal terminal;
    QVERIFY(terminal.IsOpen());
    QProcess process;
    process.setStandardErrorFile(ToQ(terminal.Name()));
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
    const QStringList lines = QString::fromLocal8Bit(terminal.Read()).split('\n');
    QString shown = bad;
    shown.replace(QChar(0x1B), QStringLiteral("\\x1B"));
    QVERIFY2(lines.contains("tarn-editor: cannot open " + shown + ": " +
                            CStatus::WordsFor(CStatus::Kind::BadMagic)),
             qPrintable(lines.join('\n')));
#endif
  }

  void aBadPathFromTheDesktopSaysWhyInTheWindow() {
    // Started from a file manager, stderr goes nowhere a user looks.
    const QString bad = Write("bad.big", "not an archive at all");
    const std::string log = m_dir.Path() + "/stderr.txt";
    auto redirect = std::make_unique<CStderrTo>(log);
    CEditorRun run({bad});
    redirect.reset();
    QVERIFY(run.Started());
    QVERIFY(run.Main()->isVisible());
    QVERIFY(run.Documents().empty());
    const QString reason =
        QDir::toNativeSeparators(bad) + ": " + CStatus::WordsFor(CStatus::Kind::BadMagic);
    QCOMPARE(Message(run), "Cannot open " + reason);
    // Where stderr does go (a session log), the line is there as well.
    QVERIFY(
        QString::fromStdString(ReadWholeFile(log)).contains("tarn-editor: cannot open " + reason));
  }

  // --- 6. Save As says what it did not do

  void saveAsProposesACopyAndSaysWhyItRefuses() {
    CEditorRun run({m_archive});
    run.Answer(m_archive);
    QVERIFY(run.Command(ID_FILE_SAVE_AS));
    QCOMPARE(run.Dialogs().back().suggested, QString::fromStdString(m_dir.Path() + "/a copy.big"));
    const QString refused = "Cannot save a copy: " + QDir::toNativeSeparators(m_archive) + ": ";
    QVERIFY(Message(run).startsWith(refused));
    QVERIFY(Message(run).size() > refused.size());

    const QString nowhere = QString::fromStdString(m_dir.Path() + "/no/such/folder/x.big");
    run.Answer(nowhere);
    QVERIFY(run.Command(ID_FILE_SAVE_AS));
    QVERIFY(
        Message(run).startsWith("Cannot save a copy: " + QDir::toNativeSeparators(nowhere) + ": "));
    QVERIFY(!std::filesystem::exists(nowhere.toStdString()));

    const QString copy = QString::fromStdString(m_dir.Path() + "/a copy.big");
    run.Answer(copy);
    QVERIFY(run.Command(ID_FILE_SAVE_AS));
    QCOMPARE(Message(run), "Saved a copy as " + QDir::toNativeSeparators(copy));
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
    ClickTreeRow(TreeOf(run.Frames()[0]), 3);  // readme: no block, shown as text
    QCOMPARE(Message(run), QStringLiteral("10 bytes of text"));
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
    QCOMPARE(ShownTexts(edit),
             QStringList({"&Undo\tCtrl+Z", "&Redo\tCtrl+Y", "-", "Cu&t\tCtrl+X", "&Copy\tCtrl+C",
                          "&Paste\tCtrl+V", "&Delete\tDel", "Edit &Text...", "-", "Add &Files...",
                          "Add F&older...", "Replace &With File...", "-", "&Find...\tCtrl+F",
                          "Find in &Rules...\tCtrl+Shift+F"}));
    QVERIFY(MenuAction(edit, "&Find...\tCtrl+F")->isEnabled());

    QVERIFY(FindField(tree) == nullptr || !FindField(tree)->isVisible());
    tree->setFocus();
    QTest::keyClick(tree, Qt::Key_F, Qt::ControlModifier);
    QLineEdit* field = FindField(tree);
    QVERIFY(field != nullptr && field->isVisible());
    QVERIFY(field->hasFocus());
    // At the bottom of the tree pane, inside it, below the items.
    QWidget* window = tree->window();
    const QRect place(field->mapTo(window, QPoint(0, 0)), field->size());
    const QRect pane(tree->mapTo(window, QPoint(0, 0)), tree->size());
    const QRect items(tree->viewport()->mapTo(window, QPoint(0, 0)), tree->viewport()->size());
    QVERIFY(pane.contains(place));
    QVERIFY(place.bottom() >= pane.bottom() - 8);
    QVERIFY(items.bottom() < place.top());

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

  void theFindFieldNeverCoversTheCurrentEntry() {
    CBigBuilder builder;
    for (int i = 0; i < 300; ++i)
      builder.Add("Data\\Unit" + std::to_string(1000 + i) + ".ini", "A 1\n");
    CEditorRun run({Write("many.big", builder.Build())});
    CLeftView* tree = TreeOf(run.Frames()[0]);
    // The last entry, at the very bottom of the pane.
    tree->setFocus();
    QTest::keyClick(tree, Qt::Key_End);
    const QModelIndex last = tree->model()->index(299, 0);
    QCOMPARE(tree->currentIndex(), last);
    QTest::keyClick(tree, Qt::Key_F, Qt::ControlModifier);
    QVERIFY(FindField(tree) != nullptr && FindField(tree)->isVisible());
    QVERIFY(tree->viewport()->rect().contains(tree->visualRect(last)));
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
    QVERIFY(run.Command(ID_VIEW_AS_RULES));  // not a TGA as it claims: shown in hex unless asked
    const int visible = list->viewport()->width();
    QVERIFY(visible > 100);
    QVERIFY(list->GetColumnWidth(0) <= visible);
    QVERIFY(list->GetColumnWidth(1) <= visible);
    // Value starts inside the pane.
    QVERIFY(list->header()->sectionViewportPosition(1) < visible);
    QCOMPARE(
        Message(run),
        QString("%1 bytes, binary data, %2 rows").arg(noise.size()).arg(list->model()->rowCount()));
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
    QCOMPARE(AccessibleText(bar->GetPane(0), QAccessible::Description), panes[0]);
    for (int i = 1; i < bar->GetPaneCount(); ++i)
      QCOMPARE(AccessibleName(bar->GetPane(i)), panes[i]);
    QVERIFY(run.Command(ID_EDIT_FIND));
    QCOMPARE(AccessibleName(FindField(tree)), QStringLiteral("Find entry"));
  }

  // The message pane reads out what it shows, exactly, and shows what a
  // name holds as text: markup in a name is not obeyed (an image it names
  // would be read from any path, here a pipe nobody writes to).
  void theMessageIsHeardAndShownAsItIs() {
#ifdef _WIN32
    QSKIP("not on Windows: no FIFO, and no file name may hold < > or a double quote");
#else
    const CHangGuard guard(60, "a message naming an image");
    const std::string pipe = m_dir.Path() + "/pipe";
    std::filesystem::remove(pipe);
    QVERIFY(::mkfifo(pipe.c_str(), 0600) == 0);
    const QString bad = Write("Tom&Jerry <img src=\"pipe\">.big", "not an archive at all");
    // The image's relative path is taken from the working folder.
    struct CBackToWorkingFolder {
      QString folder = QDir::currentPath();
      ~CBackToWorkingFolder() { QDir::setCurrent(folder); }
    } backToWorkingFolder;
    QDir::setCurrent(ToQ(m_dir.Path()));
    CEditorRun run({m_archive});
    QLabel* pane = run.Main()->GetStatusBar()->GetPane(0);
    QCOMPARE(AccessibleName(pane), QStringLiteral("4 entries"));
    run.Answer(bad);
    QVERIFY(run.Command(ID_FILE_OPEN));
    pane->grab();
    const QString why = "Cannot open " + bad + ": " + CStatus::WordsFor(CStatus::Kind::BadMagic);
    QCOMPARE(Message(run), why);
    QCOMPARE(AccessibleName(pane), why);
    QVERIFY(pane->sizeHint().width() >= pane->fontMetrics().horizontalAdvance(why));
#endif
  }

  // --- 11. the Open dialog

  void theOpenDialogOffersArchivesAndStartsWhereItWasLeft() {
    const CHangGuard guard(60, "the Open dialog");
    std::filesystem::create_directories(m_dir.Path() + "/mods/old");
    const QString folder = ToQ(m_dir.Path() + "/mods/old");
    const QString archive = Write("mods/old/x.big", CBigBuilder().Add("x", "A B\nEnd\n").Build());
    {
      CEditorRun run;
      run.Answer(archive);
      QVERIFY(run.Command(ID_FILE_OPEN));
      QVERIFY(run.Command(ID_FILE_OPEN));
      QCOMPARE(run.Dialogs().back().suggested, folder);

      // The real dialog: archives first, all files second, in that folder.
      run.App().SetFileDialogHook({});
      QStringList filters;
      QString selected, shown;
      QTimer poll;
      connect(&poll, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) return;
        filters = dialog->nameFilters();
        selected = dialog->selectedNameFilter();
        shown = dialog->directory().absolutePath();
        dialog->reject();
      });
      poll.start(20);
      QVERIFY(run.Command(ID_FILE_OPEN));
      QCOMPARE(filters,
               QStringList({"BIG archives (*.big)", "Load orders (*.order)", "All Files (*)"}));
      QCOMPARE(selected, filters.value(0));
      QCOMPARE(shown, folder);
    }
    {
      // Kept for the next time the editor runs, while the folder is there.
      CEditorRun run;
      QVERIFY(run.Command(ID_FILE_OPEN));
      QCOMPARE(run.Dialogs().back().suggested, folder);
      std::filesystem::remove_all(m_dir.Path() + "/mods");
      QVERIFY(run.Command(ID_FILE_OPEN));
      QCOMPARE(run.Dialogs().back().suggested, QString());
    }
  }

  // --- 10. saving names archives as archives, and each window keeps its words

  void saveDialogsOfferArchivesAndAddTheirExtension() {
    const QString path = Write("c.big", CBigBuilder().Add("x", "A B\nEnd\n").Build());
    CEditorRun run({path});
    run.Documents()[0]->GetHooks()->DeleteEntries({"x"});
    const QString mod = QString::fromStdString(m_dir.Path() + "/mod");
    run.Answer(mod);
    QVERIFY(run.Command(ID_FILE_SAVE_CHANGES_AS));
    QCOMPARE(run.Dialogs().back().title, QStringLiteral("Save Changes As"));
    QVERIFY(std::filesystem::exists((mod + ".big").toStdString()));
    QVERIFY(!std::filesystem::exists(mod.toStdString()));
    // A suffix typed is the user's.
    run.Answer(mod + ".arc");
    QVERIFY(run.Command(ID_FILE_SAVE_AS));
    QCOMPARE(run.Dialogs().back().title, QStringLiteral("Save As"));
    QVERIFY(std::filesystem::exists((mod + ".arc").toStdString()));

    // The real dialog: archives first, as Open offers them.
    run.App().SetFileDialogHook({});
    QStringList filters;
    QString title, suffix, proposed;
    QTimer poll;
    connect(&poll, &QTimer::timeout, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return;
      filters = dialog->nameFilters();
      title = dialog->windowTitle();
      suffix = dialog->defaultSuffix();
      proposed = dialog->selectedFiles().value(0);
      dialog->reject();
    });
    poll.start(20);
    QVERIFY(run.Command(ID_FILE_SAVE_AS));
    QCOMPARE(filters, QStringList({"BIG archives (*.big)", "All Files (*)"}));
    QCOMPARE(title, QStringLiteral("Save As"));
    QCOMPARE(suffix, QStringLiteral("big"));
    // Proposed beside the archive the window now shows.
    QCOMPARE(QFileInfo(proposed).fileName(), QStringLiteral("mod copy.arc"));
  }

  void eachWindowShowsItsOwnMessageAndTheTitleOneName() {
    CEditorRun run({m_archive});
    CChildFrame* first = run.Active();
    run.Answer(m_other);
    QVERIFY(run.Command(ID_FILE_OPEN));
    CChildFrame* second = run.Active();
    QCOMPARE(Message(run), QStringLiteral("1 entry"));
    QTest::keyClick(TreeOf(second), Qt::Key_F6, Qt::ControlModifier);
    QCOMPARE(run.Active(), first);
    ClickTreeRow(TreeOf(first), 2);  // Data\Tank.ini
    QCOMPARE(Message(run), QStringLiteral("29 bytes, 2 rows"));
    QTest::keyClick(TreeOf(first), Qt::Key_F6, Qt::ControlModifier);
    QCOMPARE(Message(run), QStringLiteral("1 entry"));
    // The document's name once: "- [NAME]" where the maximised window's
    // buttons sit in the menu bar, "- NAME" elsewhere.
    const QRegularExpression once(QStringLiteral("^Tarn Editor - \\[?b\\.big\\]?$"));
    QVERIFY2(once.match(run.Main()->windowTitle()).hasMatch(),
             qPrintable(run.Main()->windowTitle()));
    QTest::keyClick(TreeOf(second), Qt::Key_F6, Qt::ControlModifier);
    QCOMPARE(Message(run), QStringLiteral("29 bytes, 2 rows"));
    QCOMPARE(run.Main()->windowTitle(), QStringLiteral("Tarn Editor - [a.big]"));
  }

  // --- 11. help: the manual and the version

  void f1ShowsTheManualAndAboutTheVersion() {
    CEditorRun run({m_archive});
    QMenu* help = BarMenu(run, "&Help");
    QVERIFY(help != nullptr);
    QVERIFY(MenuAction(help, "Tarn Editor &Help\tF1") != nullptr);
    QTest::keyClick(TreeOf(run.Active()), Qt::Key_F1);
    auto* window = run.Main()->findChild<CHelpWindow*>();
    QVERIFY(window != nullptr && window->isVisible());
    // The manual page read as a page, not as its source.
    const QString manual = window->GetBrowser()->toPlainText();
    QVERIFY(manual.contains(QStringLiteral("Save As...")));
    QVERIFY(manual.contains(QStringLiteral("tarn-editor --version")));
    for (const char* source : {"\\f", "\\-", "\\(", "\n.", "@PROJECT_VERSION@"})
      QVERIFY2(!manual.contains(QLatin1String(source)), source);
    // Its named characters kept: a dash dropped left sentences that did not parse.
    QVERIFY(manual.contains(QStringLiteral("512 \u00D7 512, DXT5")));
    QVERIFY(manual.contains(QStringLiteral(" \u2014 ")));
    // F1 again brings the same window forward.
    QTest::keyClick(TreeOf(run.Active()), Qt::Key_F1);
    QCOMPARE(run.Main()->findChildren<CHelpWindow*>().size(), 1);

    QString about;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) return;
      about = box->text();
      box->accept();
    });
    QVERIFY(run.Command(ID_APP_ABOUT));
    QVERIFY2(about.startsWith(QStringLiteral("Tarn Editor " TARN_VERSION "\n")), qPrintable(about));
    QVERIFY(about.contains(QStringLiteral("all rights are reserved")));
  }
};

QTEST_MAIN(UsabilityTest)
#include "usability_test.moc"
