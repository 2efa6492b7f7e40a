// The editor's windows, driven as a user would drive them: start-up with and
// without a path, the tree and the list, several windows on one document,
// File New, failed opens, the commands that must do nothing, the menus, the
// panes' keys and the status bar.
#include <QAbstractItemModelTester>
#include <QClipboard>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QSignalSpy>
#include <QStyleFactory>
#include <QStyledItemDelegate>

#include <memory>
#include <set>

#include "app/framework/status_bar.h"
#include "app/shell/resources.h"
#include <QPlainTextEdit>

#include "app/preview/preview_pane.h"
#include "editor_fixture.h"
#include "tests/support/big_builder.h"

namespace {

// A rules text with two blocks, a nested block, a one-word header and two
// headers of one name.
constexpr char kTankRules[] =
    "Object Tank\n"
    "  Speed = 30\n"
    "  Draw = Model\n"
    "    Scale 2\n"
    "  End\n"
    "  Armor = Heavy\n"
    "End\n"
    "Weapon Cannon\n"
    "  Damage = 100 ; hits hard\n"
    "End\n"
    "Lonely\n"
    "  Flag = Yes\n"
    "End\n"
    "Object Tank\n"
    "  Crew = 3\n"
    "End\n";

const QStringList kTankRows = {
    "Cannon|Weapon", "    Damage|100", "Lonely|",         "    Flag|Yes",    "Tank|Object",
    "    Speed|30",  "    Draw|Model", "        Scale|2", "    Armor|Heavy", "    Crew|3",
};

constexpr char kOtherRules[] = "Weapon Gun\n  Range = 200\nEnd\n";

// Menu texts as a list of "caption" strings, "-" for a separator; shown
// items only.
QStringList MenuTexts(QMenu* menu) {
  QStringList texts;
  for (QAction* action : menu->actions()) {
    if (!action->isVisible()) continue;
    texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
  }
  return texts;
}

QStringList BarTitles(QMenuBar* bar) {
  QStringList titles;
  for (QAction* action : bar->actions()) titles << action->text();
  return titles;
}

QMenu* BarMenu(QMenuBar* bar, const QString& title) {
  for (QAction* action : bar->actions()) {
    if (action->text() == title) return action->menu();
  }
  return nullptr;
}

QAction* MenuAction(QMenu* menu, const QString& text) {
  for (QAction* action : menu->actions()) {
    if (action->text() == text) return action;
  }
  return nullptr;
}

// Notes, when the main window is first shown, which documents are open.
class CShowWatcher : public QObject {
 public:
  int documentsAtShow = -1;
  bool childMaximizedAtShow = false;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show && documentsAtShow < 0 &&
        qobject_cast<CMainFrame*>(watched)) {
      documentsAtShow = static_cast<int>(AfxGetApp()->GetDocuments().size());
      CMDIChildWnd* child = AfxGetApp()->GetMainWnd()->MDIGetActive();
      childMaximizedAtShow = child != nullptr && child->isMaximized();
    }
    return false;
  }
};

}  // namespace

class EditorTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<CTestSettings> m_settings;
  CTempDir m_dir;
  QString m_archive;  // a.big: Tank.ini, Other.ini, Empty.ini, readme

  QString Write(const std::string& name, const std::string& bytes) {
    return QString::fromStdString(m_dir.Write(name, bytes));
  }

 private slots:
  // Each case starts with settings of its own: no recent files.
  void init() { m_settings = std::make_unique<CTestSettings>(); }

  void initTestCase() {
    m_archive = Write("a.big", CBigBuilder()
                                   .Add("Data\\Tank.ini", kTankRules)
                                   .Add("Data\\Other.ini", kOtherRules)
                                   .Add("Data\\Empty.ini", "")
                                   .Add("readme", "; just a comment\n   \n")
                                   .Build());
  }

  // --- start-up

  void startsEmptyWithoutAPath() {
    CEditorRun run;
    QVERIFY(run.Started());
    QVERIFY(run.Main()->isVisible());
    QVERIFY(run.Main()->windowState() & Qt::WindowMaximized);
    QVERIFY(run.Documents().empty());
    QVERIFY(run.Frames().empty());
    QCOMPARE(run.Main()->windowTitle(), QStringLiteral("Tarn Editor"));
    QCOMPARE(BarTitles(run.Main()->menuBar()), QStringList({"&File", "&View", "&Help"}));
  }

  void opensTheArchiveNamedOnTheCommandLine() {
    // What stands when the main window first shows.
    CShowWatcher watcher;
    qApp->installEventFilter(&watcher);
    CEditorRun run({m_archive});
    qApp->removeEventFilter(&watcher);
    QVERIFY(run.Started());
    QCOMPARE(watcher.documentsAtShow, 1);
    QVERIFY(watcher.childMaximizedAtShow);
    QVERIFY(run.Main()->isVisible());
    QVERIFY(run.Main()->windowState() & Qt::WindowMaximized);
    QCOMPARE(run.Documents().size(), size_t{1});
    QCOMPARE(run.Documents()[0]->GetPathName(), m_archive);
    QCOMPARE(run.Frames().size(), size_t{1});
    CChildFrame* frame = run.Frames()[0];
    QVERIFY(frame->isMaximized());
    QCOMPARE(run.Active(), frame);
    QCOMPARE(frame->windowTitle(), QStringLiteral("a.big"));
    QCOMPARE(TreeNames(TreeOf(frame)),
             QStringList({"Data\\Empty.ini", "Data\\Other.ini", "Data\\Tank.ini", "readme"}));
    QCOMPARE(ListRows(ListOf(frame)), QStringList());
    QCOMPARE(BarTitles(run.Main()->menuBar()),
             QStringList({"&File", "&Edit", "&View", "&Go", "&Window", "&Help"}));
    // Relative paths are taken from the current folder.
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(QString::fromStdString(m_dir.Path()));
    {
      CEditorRun relative({QStringLiteral("a.big")});
      QVERIFY(relative.Started());
      QCOMPARE(relative.Documents()[0]->GetPathName(), m_archive);
    }
    QDir::setCurrent(cwd);
  }

  void aPathThatIsNoArchiveEndsStartUp() {
#ifdef _WIN32
    QSKIP("not on Windows: no pseudo-terminal to start from");
#else
    const QString text = Write("notes.txt", "not an archive");
    // Started from a terminal, which shows why (see usability_test for a
    // start from the desktop).
    CPseudoTerminal terminal;
    QVERIFY(terminal.IsOpen());
    for (const QString& path :
         {text, m_archive + ".missing", QString::fromStdString(m_dir.Path())}) {
      const CStderrTo toTerminal(terminal.Name());
      CEditorRun run({path});
      QVERIFY(!run.Started());
      QVERIFY(!run.Main()->isVisible());
      QVERIFY(run.Documents().empty());
      QVERIFY(run.Frames().empty());
    }
#endif
  }

  void theProgramExitsWithFailureOnABadPath() {
#ifdef _WIN32
    QSKIP("not on Windows: no pseudo-terminal to start from");
#else
    const QString text = Write("bad.big", "BIGF but not really");
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_settings->Path());
    env.insert(QStringLiteral("HOME"), m_settings->Path());
    process.setProcessEnvironment(env);
    CPseudoTerminal terminal;
    QVERIFY(terminal.IsOpen());
    process.setStandardErrorFile(ToQ(terminal.Name()));
    process.start(QStringLiteral(TARN_EDITOR_PATH), {text});
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QVERIFY(process.exitCode() != 0);
#endif
  }

  // --- tree and list

  void treeListsEntriesInByteOrderWithTheirBuffers() {
    const std::string high = "\xE9t\xE9";
    const QString path = Write("order.big", CBigBuilder()
                                                .Add("b", "")
                                                .Add("B", "")
                                                .Add("ab", "")
                                                .Add("a", "")
                                                .Add("a\\b\\c", "")
                                                .Add(high, "")
                                                .Add("Z", "")
                                                .Build());
    CEditorRun run({path});
    QVERIFY(run.Started());
    CLeftView* tree = TreeOf(run.Frames()[0]);
    QCOMPARE(TreeNames(tree), QStringList({"B", "Z", "a", "a\\b\\c", "ab", "b",
                                           QString::fromLatin1(high.data(), 3)}));
    // Flat: no item has children.
    for (int row = 0; row < tree->model()->rowCount(); ++row) {
      QCOMPARE(tree->model()->rowCount(tree->model()->index(row, 0)), 0);
    }
    // Each item's data is the address of its buffer in the document's map.
    CTarnEditorDoc* document = run.Documents()[0];
    int row = 0;
    for (const auto& [name, buffer] : document->Entries()) {
      const QVariant data = tree->model()->index(row++, 0).data(CEntryTreeModel::kEntryDataRole);
      QCOMPARE(data.value<quintptr>(), reinterpret_cast<quintptr>(&buffer));
    }
    new QAbstractItemModelTester(tree->model(),
                                 QAbstractItemModelTester::FailureReportingMode::QtTest, tree);
  }

  void anArchiveWithoutEntriesOpensEmpty() {
    const QString path = Write("empty.big", CBigBuilder().Build());
    CEditorRun run({path});
    QVERIFY(run.Started());
    QCOMPARE(run.Frames().size(), size_t{1});
    QVERIFY(run.Documents()[0]->Entries().empty());
    QCOMPARE(TreeOf(run.Frames()[0])->model()->rowCount(), 0);
    QTest::keyClick(TreeOf(run.Frames()[0]), Qt::Key_Down);
    QCOMPARE(ListOf(run.Frames()[0])->model()->rowCount(), 0);
  }

  void selectingAnEntryShowsItsRows() {
    CEditorRun run({m_archive});
    CChildFrame* frame = run.Frames()[0];
    CLeftView* tree = TreeOf(frame);
    CTarnEditorView* list = ListOf(frame);
    new QAbstractItemModelTester(list->model(),
                                 QAbstractItemModelTester::FailureReportingMode::QtTest, list);
    QSignalSpy resets(list->model(), &QAbstractItemModel::modelReset);

    ClickTreeRow(tree, 2);  // Data\Tank.ini
    QCOMPARE(resets.count(), 1);
    QCOMPARE(ListRows(list), kTankRows);
    QCOMPARE(list->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Name"));
    QCOMPARE(list->model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Value"));

    // The keyboard works the same way; each change shows one entry once.
    tree->setFocus();
    QTest::keyClick(tree, Qt::Key_Up);  // Data\Other.ini
    QCOMPARE(resets.count(), 2);
    QCOMPARE(ListRows(list), QStringList({"Gun|Weapon", "    Range|200"}));
    QTest::keyClick(tree, Qt::Key_Down);
    QCOMPARE(ListRows(list), kTankRows);
    QTest::keyClick(tree, Qt::Key_Up);
    QTest::keyClick(tree, Qt::Key_Up);  // Data\Empty.ini: no bytes
    QCOMPARE(ListRows(list), QStringList());
    QTest::keyClick(tree, Qt::Key_End);  // readme: only a comment, no block: plain text
    QCOMPARE(frame->GetPreview()->currentWidget(),
             static_cast<QWidget*>(frame->GetPreview()->GetTextView()));
    QCOMPARE(resets.count(), 5);

    // Clicking the selected item again, or ctrl-clicking it away, shows nothing new.
    ClickTreeRow(tree, 2);
    const qsizetype before = resets.count();
    ClickTreeRow(tree, 2);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      tree->visualRect(tree->model()->index(2, 0)).center());
    QCOMPARE(resets.count(), before);
    QCOMPARE(ListRows(list), kTankRows);
  }

  void listRowsAreSelectableAndOnlyValuesEditable() {
    CEditorRun run({m_archive});
    CChildFrame* frame = run.Frames()[0];
    ClickTreeRow(TreeOf(frame), 2);
    CTarnEditorView* list = ListOf(frame);
    QCOMPARE(list->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(list->selectionMode(), QAbstractItemView::ExtendedSelection);
    QCOMPARE(list->editTriggers(),
             QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    QVERIFY(!(list->model()->flags(list->model()->index(1, 0)) & Qt::ItemIsEditable));
    QVERIFY(!list->isSortingEnabled());
    const QRect first = list->visualRect(list->model()->index(1, 0));
    const QRect third = list->visualRect(list->model()->index(3, 1));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, first.center());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier, third.center());
    QCOMPARE(list->selectionModel()->selectedRows().size(), qsizetype(2));
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, first.center());
    QVERIFY(list->indexWidget(list->model()->index(1, 0)) == nullptr);
    QCOMPARE(ListRows(list), kTankRows);
  }

  void columnsFitTheirWidestCell() {
    // The widest cell by pixels is not the longest by characters, and an
    // indented name is wider than its text alone.
    const std::string rules =
        "Object iiiiiiiiiiiiiiiiii\n"
        "  WWWWWWW = iiiiiiiiiiiiiiiiiiiiiiii\n"
        "  Draw = MMMMMMMMMM\n"
        "    MMMMMMM = x\n"
        "  End\n"
        "End\n";
    const QString path =
        Write("wide.big", CBigBuilder().Add("w", rules).Add("s", "A B\nEnd\n").Build());
    CEditorRun run({path});
    CChildFrame* frame = run.Frames()[0];
    CTarnEditorView* list = ListOf(frame);
    list->header()->setResizeContentsPrecision(-1);
    for (int row : {1, 0, 1}) {
      ClickTreeRow(TreeOf(frame), row);
      for (int column = 0; column < 2; ++column) {
        const int fitted =
            std::max(static_cast<QAbstractItemView*>(list)->sizeHintForColumn(column),
                     list->header()->sectionSizeHint(column));
        QCOMPARE(list->GetColumnWidth(column), fitted);
      }
    }
    // The narrow entry made the columns narrow again.
    ClickTreeRow(TreeOf(frame), 0);
    const int narrow = list->GetColumnWidth(1);
    ClickTreeRow(TreeOf(frame), 1);
    QVERIFY(list->GetColumnWidth(1) > narrow);
  }

  void fittingFiftyThousandRowsMeasuresTheWidest() {
    // Many rows: only the widest few are measured exactly, so the estimate
    // must not miss the one that matters. The widest is narrower than the
    // pane, which no fitted column goes past.
    std::string rules = "Object Big\n";
    for (int i = 0; i < 50000; ++i) rules += "  Key" + std::to_string(i) + " = v\n";
    rules += "  Last = " + std::string(30, 'W') + "\n";
    rules += "End\n";
    const QString path = Write("big.big", CBigBuilder().Add("big", rules).Build());
    CEditorRun run({path});
    CTarnEditorView* list = ListOf(run.Frames()[0]);
    ClickTreeRow(TreeOf(run.Frames()[0]), 0);
    QCOMPARE(list->model()->rowCount(), 50002);
    const QModelIndex widest = list->model()->index(50001, 1);
    QCOMPARE(widest.data().toString(), QString(30, 'W'));
    QCOMPARE(list->GetColumnWidth(1), list->sizeHintForIndex(widest).width());
  }

  void cellsPaintAsTheStyleWouldPaintThem() {
    // The list paints cells of plain text itself, shaping their text once
    // where the style shapes it several times. Every pixel must still be the
    // style's: selected or not, the focused cell, kerned pairs, tabs, bytes
    // above 0x7F, control bytes, empty cells, and a value too long for its
    // column.
    using namespace std::string_literals;
    const std::string rules =
        "Object AVATAR\n"
        "  Tab\tKey = a\tb  c\n"
        "  High = \x80\x85\x99\xC9t\xE9 \xFF\n"
        "  Control = a\x01"
        "b\x1F\x7F\0c\n"s +
        "  Empty =\n"
        "  Long = " +
        std::string(80, 'W') +
        " To Ty\n"
        "  Draw = Model\n"
        "    Scale 2\n"
        "  End\n"
        "End\n";
    const QString path = Write("paint.big", CBigBuilder().Add("p", rules).Build());
    // Made before the window, so that it outlives the list that uses it.
    const std::unique_ptr<QStyle> fusion(QStyleFactory::create(QStringLiteral("Fusion")));
    QVERIFY(fusion != nullptr);
    CEditorRun run({path});
    CTarnEditorView* list = ListOf(run.Frames()[0]);
    list->setStyle(fusion.get());
    ClickTreeRow(TreeOf(run.Frames()[0]), 0);
    QVERIFY(run.Command(ID_VIEW_AS_RULES));  // its zero byte would show it in hex
    QCOMPARE(list->model()->rowCount(), 8);
    list->SetColumnWidth(1, 120);  // the long value must be elided
    list->setFocus();
    list->selectionModel()->setCurrentIndex(list->model()->index(2, 0),
                                            QItemSelectionModel::NoUpdate);
    for (int row : {0, 2, 4}) {
      list->selectionModel()->select(list->model()->index(row, 0),
                                     QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    QAbstractItemDelegate* own = list->itemDelegate();
    QStyledItemDelegate styles;  // the style's own painting; the list ends with its own
    for (bool enabled : {true, false}) {
      list->setEnabled(enabled);
      list->setItemDelegate(&styles);
      const QImage expected = list->viewport()->grab().toImage();
      list->setItemDelegate(own);
      const QImage painted = list->viewport()->grab().toImage();
      QVERIFY(!expected.isNull());
      QVERIFY2(painted == expected, enabled ? "enabled" : "disabled");
    }
  }

  // --- windows

  void secondWindowOnOneDocument() {
    CEditorRun run({m_archive});
    CChildFrame* first = run.Frames()[0];
    QVERIFY(run.Command(ID_WINDOW_NEW));
    QCOMPARE(run.Frames().size(), size_t{2});
    QCOMPARE(run.Documents().size(), size_t{1});
    CChildFrame* second = run.Active();
    QVERIFY(second != first);
    QCOMPARE(second->GetActiveDocument(), first->GetActiveDocument());
    QVERIFY(TreeOf(second) != TreeOf(first));
    QVERIFY(ListOf(second) != ListOf(first));
    QCOMPARE(TreeNames(TreeOf(second)), TreeNames(TreeOf(first)));
    QCOMPARE(first->windowTitle(), QStringLiteral("a.big:1"));
    QCOMPARE(second->windowTitle(), QStringLiteral("a.big:2"));

    // Each tree drives its own list.
    ClickTreeRow(TreeOf(second), 1);
    QCOMPARE(ListRows(ListOf(second)), QStringList({"Gun|Weapon", "    Range|200"}));
    QCOMPARE(ListRows(ListOf(first)), QStringList());
    run.Main()->GetMdiArea()->setActiveSubWindow(first);
    ClickTreeRow(TreeOf(first), 2);
    QCOMPARE(ListRows(ListOf(first)), kTankRows);
    QCOMPARE(ListRows(ListOf(second)), QStringList({"Gun|Weapon", "    Range|200"}));

    // Closing one window keeps the document; closing the last ends it.
    first->close();
    CEditorRun::Settle();
    QCOMPARE(run.Frames().size(), size_t{1});
    QCOMPARE(run.Documents().size(), size_t{1});
    QCOMPARE(second->windowTitle(), QStringLiteral("a.big"));
    QCOMPARE(ListRows(ListOf(second)), QStringList({"Gun|Weapon", "    Range|200"}));
    second->close();
    CEditorRun::Settle();
    QVERIFY(run.Frames().empty());
    QVERIFY(run.Documents().empty());
    QCOMPARE(BarTitles(run.Main()->menuBar()), QStringList({"&File", "&View", "&Help"}));
  }

  void fileCloseClosesEveryWindowOfTheDocument() {
    CEditorRun run({m_archive});
    QVERIFY(run.Command(ID_WINDOW_NEW));
    QVERIFY(run.Command(ID_FILE_NEW));
    QCOMPARE(run.Frames().size(), size_t{3});
    run.Main()->GetMdiArea()->setActiveSubWindow(run.Frames()[0]);
    QVERIFY(run.Command(ID_FILE_CLOSE));
    CEditorRun::Settle();
    QCOMPARE(run.Frames().size(), size_t{1});
    QCOMPARE(run.Documents().size(), size_t{1});
    QCOMPARE(run.Documents()[0]->GetTitle(), QStringLiteral("TarnEdi1"));
  }

  void fileNewNumbersItsDocuments() {
    CEditorRun run;
    QVERIFY(run.Command(ID_FILE_NEW));
    QVERIFY(run.Command(ID_FILE_NEW));
    const std::vector<CChildFrame*> frames = run.Frames();
    QCOMPARE(frames.size(), size_t{2});
    QCOMPARE(frames[0]->windowTitle(), QStringLiteral("TarnEdi1"));
    QCOMPARE(frames[1]->windowTitle(), QStringLiteral("TarnEdi2"));
    QVERIFY(run.Active()->isMaximized());
    for (CChildFrame* frame : frames) {
      QCOMPARE(TreeOf(frame)->model()->rowCount(), 0);
      QCOMPARE(ListOf(frame)->model()->rowCount(), 0);
      QCOMPARE(ListOf(frame)->model()->columnCount(), 2);
    }
    QVERIFY(run.Documents()[0]->Entries().empty());
    QVERIFY(run.Documents()[0]->GetPathName().isEmpty());
    // Ctrl+N does the same.
    QTest::keyClick(run.Main(), Qt::Key_N, Qt::ControlModifier);
    QCOMPARE(run.Active()->windowTitle(), QStringLiteral("TarnEdi3"));
  }

  void aFailedOpenLeavesNothingBehind() {
    const QString bad = Write("bad.big", CBigBuilder().Add("a", "1").Magic("BIGX").Build());
    CEditorRun run({m_archive});
    CChildFrame* frame = run.Frames()[0];
    ClickTreeRow(TreeOf(frame), 2);
    const qsizetype topLevels = QApplication::topLevelWidgets().size();
    for (const QString& path : {bad, m_archive + ".gone", QString::fromStdString(m_dir.Path())}) {
      run.Answer(path);
      QVERIFY(run.Command(ID_FILE_OPEN));
      CEditorRun::Settle();
      QCOMPARE(run.Documents().size(), size_t{1});
      QCOMPARE(run.Frames().size(), size_t{1});
      QCOMPARE(run.Active(), frame);
      QCOMPARE(ListRows(ListOf(frame)), kTankRows);
    }
    // Quietly: no message box, no window of any kind.
    QCOMPARE(QApplication::topLevelWidgets().size(), topLevels);
    for (QWidget* w : QApplication::topLevelWidgets())
      QVERIFY(qobject_cast<QMessageBox*>(w) == nullptr);
    QCOMPARE(run.App().GetRecentFileList()->GetCount(), 1);
    QCOMPARE((*run.App().GetRecentFileList())[0], m_archive);
    // A cancelled dialog opens nothing either.
    run.Answer(QString());
    QVERIFY(run.Command(ID_FILE_OPEN));
    QCOMPARE(run.Documents().size(), size_t{1});
  }

  void openingAnOpenFileBringsItsWindowForward() {
    const QString other = Write("b.big", CBigBuilder().Add("x", "").Build());
    CEditorRun run({m_archive});
    CChildFrame* first = run.Frames()[0];
    run.Answer(other);
    QVERIFY(run.Command(ID_FILE_OPEN));
    QCOMPARE(run.Frames().size(), size_t{2});
    QVERIFY(run.Active() != first);
    // The same file by another name: a link in another folder.
    std::filesystem::create_directory(m_dir.Path() + "/links");
    // (A second hard link where no symbolic link can be made.)
    if (!MakeLink(m_archive.toStdString(), m_dir.Path() + "/links/again.big"))
      std::filesystem::create_hard_link(m_archive.toStdString(), m_dir.Path() + "/links/again.big");
    run.Answer(QString::fromStdString(m_dir.Path() + "/links/again.big"));
    QVERIFY(run.Command(ID_FILE_OPEN));
    QCOMPARE(run.Frames().size(), size_t{2});
    QCOMPARE(run.Documents().size(), size_t{2});
    QCOMPARE(run.Active(), first);
    QVERIFY(first->isMaximized());
  }

  void windowCommandsArrangeTheFrames() {
    const QString other = Write("c.big", CBigBuilder().Add("x", "").Build());
    CEditorRun run({m_archive});
    run.Answer(other);
    QVERIFY(run.Command(ID_FILE_OPEN));
    QMenu* window = BarMenu(run.Main()->menuBar(), QStringLiteral("&Window"));
    run.Main()->UpdateMenus();
    const QStringList texts = MenuTexts(window);
    QCOMPARE(texts.mid(0, 4), QStringList({"&New Window", "&Cascade", "&Tile", "&Arrange Icons"}));
    QCOMPARE(texts.mid(4), QStringList({"-", "&1 a.big", "&2 c.big"}));
    QVERIFY(MenuAction(window, "&2 c.big")->isChecked());
    QVERIFY(!MenuAction(window, "&1 a.big")->isChecked());
    MenuAction(window, "&1 a.big")->trigger();
    QCOMPARE(run.Active(), run.Frames()[0]);

    QVERIFY(run.Command(ID_WINDOW_TILE_HORZ));
    const std::vector<CChildFrame*> frames = run.Frames();
    QVERIFY(!frames[0]->isMaximized() && !frames[1]->isMaximized());
    QVERIFY(!frames[0]->geometry().intersects(frames[1]->geometry()));
    QVERIFY(run.Command(ID_WINDOW_CASCADE));
    QVERIFY(frames[0]->geometry().topLeft() != frames[1]->geometry().topLeft());
    QVERIFY(frames[0]->geometry().intersects(frames[1]->geometry()));
    frames[0]->showMinimized();
    frames[1]->showMinimized();
    QVERIFY(run.Command(ID_WINDOW_ARRANGE));
    const int bottom = run.Main()->GetMdiArea()->viewport()->height();
    QCOMPARE(frames[0]->geometry().bottom() + 1, bottom);
    QCOMPARE(frames[1]->geometry().bottom() + 1, bottom);
    QVERIFY(!frames[0]->geometry().intersects(frames[1]->geometry()));
  }

  // --- commands that do nothing

  void editCommandsDoNothing() {
    CEditorRun run({m_archive});
    CChildFrame* frame = run.Frames()[0];
    CLeftView* tree = TreeOf(frame);
    CTarnEditorView* list = ListOf(frame);
    ClickTreeRow(tree, 2);
    list->selectAll();
    const QModelIndexList selected = list->selectionModel()->selectedRows();
    QApplication::clipboard()->setText(QStringLiteral("sentinel"));

    // With nothing changed there is nothing to undo or redo. (Copy copies:
    // edit_test has it.)
    for (int id : {ID_EDIT_UNDO, ID_EDIT_REDO, ID_EDIT_CUT, ID_EDIT_PASTE})
      QVERIFY(!run.Command(id));
    QMenu* edit = BarMenu(run.Main()->menuBar(), QStringLiteral("&Edit"));
    run.Main()->UpdateMenus();
    // The first six; Find follows them.
    QCOMPARE(MenuTexts(edit).mid(0, 6),
             QStringList({"&Undo\tCtrl+Z", "&Redo\tCtrl+Y", "-", "Cu&t\tCtrl+X", "&Copy\tCtrl+C",
                          "&Paste\tCtrl+V"}));
    for (QAction* action : edit->actions().mid(0, 6)) {
      if (action->text().startsWith(QStringLiteral("&Copy"))) continue;
      QVERIFY(!action->isEnabled() || action->isSeparator());
      action->trigger();
    }

    const QList<QKeyCombination> keys = {
        Qt::CTRL | Qt::Key_Z,        Qt::CTRL | Qt::Key_X,       Qt::CTRL | Qt::Key_V,
        Qt::ALT | Qt::Key_Backspace, Qt::SHIFT | Qt::Key_Delete, Qt::SHIFT | Qt::Key_Insert,
        Qt::CTRL | Qt::Key_Y,
    };
    for (QWidget* target : {static_cast<QWidget*>(list), static_cast<QWidget*>(tree)}) {
      target->setFocus();
      for (QKeyCombination key : keys) {
        QTest::keyClick(target, key.key(), key.keyboardModifiers());
      }
    }
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("sentinel"));
    QCOMPARE(ListRows(list), kTankRows);
    QCOMPARE(list->selectionModel()->selectedRows(), selected);
    QCOMPARE(TreeNames(tree).size(), 4);
    QCOMPARE(tree->currentIndex().row(), 2);
    QCOMPARE(run.Documents().size(), size_t{1});
    QCOMPARE(run.Frames().size(), size_t{1});
  }

  // --- menus, keys and panes

  void menusMatchTheirTables() {
    CEditorRun run;
    QMenuBar* bar = run.Main()->menuBar();
    run.Main()->UpdateMenus();
    QCOMPARE(MenuTexts(BarMenu(bar, "&File")),
             QStringList({"&New\tCtrl+N", "&Open...\tCtrl+O", "-", "New &Load Order...",
                          "New Load Order From &Folder...", "-", "Recent File", "-", "E&xit"}));
    QCOMPARE(MenuTexts(BarMenu(bar, "&View")), QStringList({"&Status Bar", "S&plit"}));
    QVERIFY(!MenuAction(BarMenu(bar, "&File"), "Recent File")->isEnabled());
    QVERIFY(MenuAction(BarMenu(bar, "&File"), "&New\tCtrl+N")->isEnabled());
    QVERIFY(!MenuAction(BarMenu(bar, "&View"), "S&plit")->isEnabled());
    QVERIFY(MenuAction(BarMenu(bar, "&View"), "&Status Bar")->isChecked());

    QVERIFY(run.Command(ID_FILE_NEW));
    run.Main()->UpdateMenus();
    QCOMPARE(BarTitles(bar), QStringList({"&File", "&Edit", "&View", "&Go", "&Window", "&Help"}));
    QCOMPARE(
        MenuTexts(BarMenu(bar, "&File")),
        QStringList({"&New\tCtrl+N", "&Open...\tCtrl+O", "&Close", "&Save\tCtrl+S", "Save &As...",
                     "Save C&hanges As...", "Compa&re With...", "-", "New &Load Order...",
                     "New Load Order From &Folder...", "Save Load Order &As...", "-", "Recent File",
                     "-", "E&xit"}));
    // A new document has no file to compare.
    QVERIFY(!MenuAction(BarMenu(bar, "&File"), "Compa&re With...")->isEnabled());
    QVERIFY(MenuAction(BarMenu(bar, "&View"), "S&plit")->isEnabled());
  }

  void resourcesHoldTheDocumentStringAndIcons() {
    CEditorRun run;
    CMultiDocTemplate* docTemplate = run.App().GetDocTemplates().front().get();
    QCOMPARE(run.App().LoadString(IDR_TARNEDTYPE),
             QStringLiteral("\nTarnEdi\nTarnEdi\nBIG archives "
                            "(*.big)\n.big\nTarnEditor.Document\nTarnEdi Document"));
    QCOMPARE(docTemplate->GetDocString(CMultiDocTemplate::docName), QStringLiteral("TarnEdi"));
    QCOMPARE(docTemplate->GetDocString(CMultiDocTemplate::regFileTypeName),
             QStringLiteral("TarnEdi Document"));
    for (int id : {IDR_MAINFRAME, IDR_TARNEDTYPE}) {
      const QIcon icon = run.App().GetResources().LoadIcon(id);
      QCOMPARE(icon.availableSizes(), QList<QSize>({QSize(32, 32), QSize(16, 16)}));
    }
    for (const QImage& image : {DrawApplicationIcon(32), DrawApplicationIcon(16),
                                DrawDocumentIcon(32), DrawDocumentIcon(16)}) {
      std::set<QRgb> colours;
      int opaque = 0;
      for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
          const QRgb pixel = image.pixel(x, y);
          QVERIFY(qAlpha(pixel) == 0 || qAlpha(pixel) == 255);
          if (qAlpha(pixel) == 255) {
            colours.insert(pixel);
            ++opaque;
          }
        }
      }
      QVERIFY(colours.size() <= 16);
      QVERIFY(opaque > image.width() * image.height() / 4);
    }
  }

  void statusBarHasReadyAndThreeIndicators() {
    CEditorRun run;
    auto* bar = run.Main()->GetStatusBar();
    QCOMPARE(bar->GetPaneCount(), 4);
    QCOMPARE(bar->GetItemId(0), int(ID_SEPARATOR));
    QCOMPARE(bar->GetPane(0)->text(), QStringLiteral("Ready"));
    const QStringList texts = {"CAP", "NUM", "SCRL"};
    for (int i = 1; i <= 3; ++i) {
      // Offscreen, nothing tells the keys' state: shown dimmed.
      QCOMPARE(bar->GetPane(i)->text(), texts[i - 1]);
      QVERIFY(!bar->GetPane(i)->isEnabled());
      QVERIFY(bar->GetPane(i)->x() > bar->GetPane(0)->x());
    }
    QVERIFY(bar->GetPane(0)->width() > bar->width() / 2);
    QVERIFY(run.Command(ID_VIEW_STATUS_BAR));
    QVERIFY(bar->isHidden());
    run.Main()->UpdateMenus();
    QVERIFY(!MenuAction(BarMenu(run.Main()->menuBar(), "&View"), "&Status Bar")->isChecked());
    QVERIFY(run.Command(ID_VIEW_STATUS_BAR));
    QVERIFY(!bar->isHidden());
  }

  void panesStartAtTheirSizesAndTakeTheFocusByKey() {
    CEditorRun run({m_archive});
    CChildFrame* frame = run.Frames()[0];
    CSplitterWnd* splitter = frame->GetSplitter();
    QVERIFY(splitter->width() > 600);
    QCOMPARE(splitter->sizes().front(), 300);
    QCOMPARE(splitter->sizes().back(), splitter->width() - 300 - splitter->handleWidth());
    QCOMPARE(frame->GetSplitter()->parentWidget(), frame);
    QCOMPARE(TreeOf(frame)->parentWidget(), splitter);

    TreeOf(frame)->setFocus();
    QTest::keyClick(TreeOf(frame), Qt::Key_F6);
    QVERIFY(ListOf(frame)->hasFocus());
    QTest::keyClick(ListOf(frame), Qt::Key_F6);
    QVERIFY(TreeOf(frame)->hasFocus());
    QTest::keyClick(TreeOf(frame), Qt::Key_F6, Qt::ShiftModifier);
    QVERIFY(ListOf(frame)->hasFocus());
  }

  void splitMovesTheBarByKeyboard() {
    CEditorRun run({m_archive});
    CSplitterWnd* splitter = run.Frames()[0]->GetSplitter();
    const int start = splitter->sizes().front();
    QVERIFY(run.Command(ID_WINDOW_SPLIT));
    QVERIFY(splitter->IsTracking());
    QTest::keyClick(splitter, Qt::Key_Right);
    QTest::keyClick(splitter, Qt::Key_Right);
    QTest::keyClick(splitter, Qt::Key_Left);
    QVERIFY(splitter->sizes().front() > start);
    const int moved = splitter->sizes().front();
    QTest::keyClick(splitter, Qt::Key_Return);
    QVERIFY(!splitter->IsTracking());
    QCOMPARE(splitter->sizes().front(), moved);
    // Escape puts the bar back where tracking began.
    QVERIFY(run.Command(ID_WINDOW_SPLIT));
    QTest::keyClick(splitter, Qt::Key_Left);
    QTest::keyClick(splitter, Qt::Key_Left);
    QVERIFY(splitter->sizes().front() < moved);
    QTest::keyClick(splitter, Qt::Key_Escape);
    QCOMPARE(splitter->sizes().front(), moved);
  }
};

QTEST_MAIN(EditorTest)
#include "editor_test.moc"
