// The tree's context menu: Extract, Extract All, the entry commands and Copy
// Name on a real window, offscreen, with every dialog answered by the test.
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <string>

#include "app/extract/entry_extractor.h"
#include "app/edit/text_window.h"
#include "app/tree/entry_actions.h"
#include "app/document/entry_hooks.h"
#include "app/framework/status_bar.h"
#include "editor_fixture.h"
#include "storage/disk_file_test_helper.h"
#include "tests/support/big_builder.h"

namespace {

QString StatusText(CEditorRun& run) { return run.Main()->GetStatusBar()->GetPane(0)->text(); }

// The context menu's items, "" for a separator.
const QStringList kMenu = {"Extract...",
                           "Extract All...",
                           "",
                           "Edit Text...\tEnter",
                           "Rename\tF2",
                           "Delete\tDel",
                           "Replace With File...",
                           "Add Files...",
                           "",
                           "Copy Name"};

}  // namespace

class EntryActionsTest : public QObject {
  Q_OBJECT

 private:
  CTestSettings m_settings;
  CTempDir m_dir;
  std::string m_archive;
  QString m_saveAnswer;
  QString m_folderAnswer;
  QString m_problems;
  int m_problemDialogs = 0;

  // The run's dialogs answer from the fields above.
  void Hook(CEditorRun& run) {
    run.App().SetFileDialogHook(
        [this](bool, const QString&, const QString&) { return m_saveAnswer; });
    run.App().SetFolderDialogHook([this](const QString&) { return m_folderAnswer; });
    run.App().SetReportHook([this](const QString&, const QString& text) {
      m_problems = text;
      ++m_problemDialogs;
    });
  }

 private slots:
  void initTestCase() {
    m_archive = m_dir.Write("a.big", CBigBuilder()
                                         .Add("Data\\INI\\Tank.ini", "Object Tank\nEnd\n")
                                         .Add("Data\\Other.ini", "other")
                                         .Add("..\\escape", "evil")
                                         .Add("a.big", "would replace the archive")
                                         .Build());
  }

  void theMenuOffersTheEntryCommandsWithTheirKeys() {
    CEditorRun run({ToQ(m_archive)});
    Hook(run);
    CLeftView* tree = TreeOf(run.Frames()[0]);
    auto* actions = tree->findChild<CEntryActions*>();
    QVERIFY(actions != nullptr);
    QCOMPARE(tree->contextMenuPolicy(), Qt::CustomContextMenu);
    tree->setCurrentIndex(tree->model()->index(0, 0));
    const auto menuOn = [&](int row) {
      return std::unique_ptr<QMenu>(actions->BuildMenu(tree->model()->index(row, 0)));
    };
    const auto item = [](QMenu* menu, const char* text) {
      for (QAction* action : menu->actions()) {
        if (action->text() == QLatin1String(text)) return action;
      }
      return static_cast<QAction*>(nullptr);
    };
    std::unique_ptr<QMenu> menu = menuOn(1);
    QStringList texts;
    for (QAction* action : menu->actions()) {
      texts << action->text();
      QVERIFY(action->isSeparator() || action->isEnabled());
    }
    QCOMPARE(texts, kMenu);

    // Copy Name: the name as the tree shows it.
    item(menu.get(), "Copy Name")->trigger();
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("Data\\INI\\Tank.ini"));

    // The commands act on the item under the pointer, not the current one.
    item(menuOn(2).get(), "Delete\tDel")->trigger();
    CEntryHooks* hooks = run.Documents()[0]->GetHooks();
    QVERIFY(hooks->IsEntryRemoved("Data\\Other.ini"));
    QVERIFY(!hooks->IsEntryRemoved("..\\escape"));
    item(menuOn(1).get(), "Edit Text...\tEnter")->trigger();
    auto* text = run.Main()->findChild<CTextWindow*>();
    QVERIFY(text != nullptr);
    QCOMPARE(text->windowTitle(), QStringLiteral("Data\\INI\\Tank.ini - a.big"));
    delete text;
    item(menuOn(3).get(), "Rename\tF2")->trigger();
    auto* field = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    QVERIFY(field != nullptr);
    QCOMPARE(field->text(), QStringLiteral("a.big"));
  }

  void theKeyboardOpensTheMenuOnTheCurrentItem() {
    CEditorRun run({ToQ(m_archive)});
    Hook(run);
    CLeftView* tree = TreeOf(run.Frames()[0]);
    tree->setCurrentIndex(tree->model()->index(1, 0));
    for (const auto& [key, modifiers] :
         {std::pair{Qt::Key_Menu, Qt::NoModifier}, std::pair{Qt::Key_F10, Qt::ShiftModifier}}) {
      QStringList shown;
      bool extractEnabled = false;
      QTimer::singleShot(0, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (menu == nullptr) return;
        for (QAction* action : menu->actions()) shown << action->text();
        extractEnabled = menu->actions()[0]->isEnabled();
        menu->close();
      });
      QTest::keyClick(tree, key, modifiers);
      QCOMPARE(shown, kMenu);
      QVERIFY(extractEnabled);
    }
  }

  void extractWritesOneEntryWhereTheUserSays() {
    CEditorRun run({ToQ(m_archive)});
    Hook(run);
    CLeftView* tree = TreeOf(run.Frames()[0]);
    auto* actions = tree->findChild<CEntryActions*>();
    m_saveAnswer = ToQ(m_dir.Path() + "/picked.ini");
    actions->ExtractEntry(tree->model()->index(1, 0));
    QCOMPARE(ReadWholeFile(m_dir.Path() + "/picked.ini"), std::string("Object Tank\nEnd\n"));
    QCOMPARE(StatusText(run), QStringLiteral("Extracted Data\\INI\\Tank.ini"));

    // Onto the archive itself: refused, the archive unchanged.
    const std::string before = ReadWholeFile(m_archive);
    m_saveAnswer = ToQ(m_archive);
    actions->ExtractEntry(tree->model()->index(1, 0));
    QCOMPARE(ReadWholeFile(m_archive), before);
    QCOMPARE(
        StatusText(run),
        QStringLiteral("Cannot extract Data\\INI\\Tank.ini to %1: would replace the archive itself")
            .arg(ToQ(m_archive)));
  }

  void extractAllWritesEveryEntryAndListsTheOnesItCouldNot() {
    CEditorRun run({ToQ(m_archive)});
    Hook(run);
    CLeftView* tree = TreeOf(run.Frames()[0]);
    auto* actions = tree->findChild<CEntryActions*>();
    const std::string before = ReadWholeFile(m_archive);
    m_problemDialogs = 0;
    // Into the archive's own folder: the entry named like the archive must not replace it.
    m_folderAnswer = ToQ(m_dir.Path());
    actions->ExtractAll();
    QCOMPARE(ReadWholeFile(m_dir.Path() + "/Data/INI/Tank.ini"), std::string("Object Tank\nEnd\n"));
    QCOMPARE(ReadWholeFile(m_dir.Path() + "/Data/Other.ini"), std::string("other"));
    QCOMPARE(ReadWholeFile(m_archive), before);
    QVERIFY(!std::filesystem::exists(m_dir.Path() + "/../escape"));
    QCOMPARE(m_problemDialogs, 1);
    QCOMPARE(m_problems, QStringLiteral("..\\escape: name has a part '.' or '..'\n"
                                        "a.big: would replace the archive itself\n"));
    QCOMPARE(StatusText(run),
             QStringLiteral("Extracted 2 of 4 entries to %1").arg(ToQ(m_dir.Path())));

    // A cancelled folder dialog does nothing.
    m_folderAnswer.clear();
    actions->ExtractAll();
    QCOMPARE(m_problemDialogs, 1);
  }

  // An archive that cannot be mapped: each entry is read where it lies,
  // for Extract and for Extract All alike.
  void extractionReadsAnArchiveThatCannotBeMapped() {
    CDiskFileTestHelper::SetMappingDisabled(true);
    CEditorRun run({ToQ(m_archive)});
    Hook(run);
    CDiskFileTestHelper::SetMappingDisabled(false);
    CLeftView* tree = TreeOf(run.Frames()[0]);
    auto* actions = tree->findChild<CEntryActions*>();
    m_saveAnswer = ToQ(m_dir.Path() + "/unmapped.ini");
    actions->ExtractEntry(tree->model()->index(1, 0));
    QCOMPARE(ReadWholeFile(m_dir.Path() + "/unmapped.ini"), std::string("Object Tank\nEnd\n"));
    m_folderAnswer = ToQ(m_dir.Path() + "/unmapped");
    actions->ExtractAll();
    QCOMPARE(ReadWholeFile(m_dir.Path() + "/unmapped/Data/INI/Tank.ini"),
             std::string("Object Tank\nEnd\n"));
    QCOMPARE(ReadWholeFile(m_dir.Path() + "/unmapped/Data/Other.ini"), std::string("other"));
    QCOMPARE(StatusText(run), QStringLiteral("Extracted 3 of 4 entries to %1").arg(m_folderAnswer));
  }

  // Read where it lies, an entry can still fail to read: the status bar
  // says so, and nothing reads bytes that are not there.
  void anEntryThatCannotBeReadIsReportedNotShown() {
#ifdef _WIN32
    QSKIP(
        "not on Windows: no other program can cut short an archive held open there (it is opened "
        "without write sharing)");
#else
    const std::string path = m_dir.Write(
        "unreadable.big", CBigBuilder().Add("gone.ini", std::string(9000, 'g')).Build());
    CDiskFileTestHelper::SetMappingDisabled(true);
    CEditorRun run({ToQ(path)});
    Hook(run);
    CDiskFileTestHelper::SetMappingDisabled(false);
    std::filesystem::resize_file(path, 100);
    CLeftView* tree = TreeOf(run.Frames()[0]);
    tree->selectionModel()->setCurrentIndex(tree->model()->index(0, 0),
                                            QItemSelectionModel::ClearAndSelect);
    QCOMPARE(StatusText(run), QStringLiteral("Cannot read this entry from the archive"));
    m_saveAnswer = ToQ(m_dir.Path() + "/gone.ini");
    TreeOf(run.Frames()[0])->findChild<CEntryActions*>()->ExtractEntry(tree->model()->index(0, 0));
    QVERIFY(!std::filesystem::exists(m_dir.Path() + "/gone.ini"));
    QCOMPARE(StatusText(run),
             QStringLiteral("Cannot extract gone.ini: %1: has changed on disk since it was opened")
                 .arg(ToQ(path)));
#endif
  }

  // Another program cuts the open archive short: what it holds now is not
  // what the window shows, so neither extraction writes zeros as entries.
  void extractionRefusesAnArchiveCutShortOnDisk() {
#ifdef _WIN32
    QSKIP(
        "not on Windows: no other program can cut short an archive held open there (it is opened "
        "without write sharing)");
#else
    const std::string path = m_dir.Write("cut.big", CBigBuilder()
                                                        .Add("first.ini", std::string(5000, 'f'))
                                                        .Add("second.ini", std::string(5000, 's'))
                                                        .Build());
    CEditorRun run({ToQ(path)});
    Hook(run);
    CLeftView* tree = TreeOf(run.Frames()[0]);
    auto* actions = tree->findChild<CEntryActions*>();
    QVERIFY(std::filesystem::exists(path));
    std::filesystem::resize_file(path, 100);
    const QString changed = ToQ(path) + QStringLiteral(": has changed on disk since it was opened");

    m_saveAnswer = ToQ(m_dir.Path() + "/second.ini");
    actions->ExtractEntry(tree->model()->index(1, 0));
    QVERIFY(!std::filesystem::exists(m_dir.Path() + "/second.ini"));
    QCOMPARE(StatusText(run), QStringLiteral("Cannot extract second.ini: %1").arg(changed));

    m_problemDialogs = 0;
    m_folderAnswer = ToQ(m_dir.Path() + "/cut");
    actions->ExtractAll();
    QVERIFY(!std::filesystem::exists(m_dir.Path() + "/cut/first.ini"));
    QCOMPARE(StatusText(run), QStringLiteral("Cannot extract: %1").arg(changed));
    QCOMPARE(m_problemDialogs, 0);
#endif
  }
};

QTEST_MAIN(EntryActionsTest)
#include "entry_actions_test.moc"
