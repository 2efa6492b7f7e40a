// What outlives a window: the recent-file list across runs, and the files on
// disk, which Save and Save As must leave as they were except for the copy
// the user asks for.
#include <QDir>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>

#include <filesystem>
#include <set>
#include <vector>

#include "editor_fixture.h"
#include "tests/support/big_builder.h"

namespace {

QMenu* FileMenu(CEditorRun& run) {
  for (QAction* action : run.Main()->menuBar()->actions()) {
    if (action->text() == QStringLiteral("&File")) return action->menu();
  }
  return nullptr;
}

QStringList ShownRecentFiles(CEditorRun& run) {
  run.Main()->UpdateMenus();
  QStringList texts;
  for (QAction* action : FileMenu(run)->actions()) {
    const int id = GetCommandId(action);
    // The placeholder shares the first entry's id.
    if (action->text() == QStringLiteral("Recent File")) continue;
    if (action->isVisible() && id >= ID_FILE_MRU_FILE1 && id <= ID_FILE_MRU_LAST) {
      texts << action->text();
    }
  }
  return texts;
}

std::set<std::string> FolderListing(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

}  // namespace

class PersistenceTest : public QObject {
  Q_OBJECT

 private:
  std::string Archive(const CTempDir& dir, const std::string& name) {
    return dir.Write(name,
                     CBigBuilder().Add("Rules.ini", "Object " + name + "\n  A = 1\nEnd\n").Build());
  }

 private slots:
  void recentFilesSurviveARestart() {
    CTestSettings settings;
    CTempDir dir;
    const QString a = QString::fromStdString(Archive(dir, "a.big"));
    const QString b = QString::fromStdString(Archive(dir, "b.big"));
    {
      CEditorRun run({a});
      QVERIFY(run.Started());
      QCOMPARE(ShownRecentFiles(run), QStringList({"&1 " + QDir::toNativeSeparators(a)}));
      run.Answer(b);
      QVERIFY(run.Command(ID_FILE_OPEN));
      QCOMPARE(ShownRecentFiles(run), QStringList({"&1 " + QDir::toNativeSeparators(b),
                                                   "&2 " + QDir::toNativeSeparators(a)}));
    }
    QCOMPARE(settings.StoredRecentFiles(), QStringList({b, a}));
    {
      CEditorRun run;
      QCOMPARE(ShownRecentFiles(run), QStringList({"&1 " + QDir::toNativeSeparators(b),
                                                   "&2 " + QDir::toNativeSeparators(a)}));
      // The placeholder gives way to the entries.
      for (QAction* action : FileMenu(run)->actions()) {
        QVERIFY(action->text() != QStringLiteral("Recent File") || !action->isVisible());
      }
      // Opening the second entry puts it first.
      QVERIFY(run.Command(ID_FILE_MRU_FILE1 + 1));
      QCOMPARE(run.Documents().size(), size_t{1});
      QCOMPARE(run.Documents()[0]->GetPathName(), a);
      QCOMPARE(ShownRecentFiles(run), QStringList({"&1 " + QDir::toNativeSeparators(a),
                                                   "&2 " + QDir::toNativeSeparators(b)}));
      // Entries past the end do nothing.
      QVERIFY(!run.Command(ID_FILE_MRU_FILE1 + 2));
    }
    QCOMPARE(settings.StoredRecentFiles(), QStringList({a, b}));
  }

  void settingsKeptUnderTheOldNameMoveOverOnce() {
#ifdef _WIN32
    QSKIP("the old name's settings live in the registry, which these tests do not redirect");
#endif
    CTestSettings settings;
    CTempDir dir;
    const QString a = QString::fromStdString(Archive(dir, "a.big"));
    const QString oldOrganisation = QStringLiteral("Local AppWizard-Generated Applications");
    QSettings(oldOrganisation, QStringLiteral("Tarn Editor"))
        .setValue(QStringLiteral("Recent File List/File1"), a);
    {
      CEditorRun run;
      QCOMPARE(ShownRecentFiles(run), QStringList({"&1 " + QDir::toNativeSeparators(a)}));
    }
    QCOMPARE(settings.StoredRecentFiles(), QStringList({a}));
    QVERIFY(QSettings(oldOrganisation, QStringLiteral("Tarn Editor")).allKeys().isEmpty());
  }

  void aRecentFileThatNoLongerOpensIsDropped() {
    CTestSettings settings;
    CTempDir dir;
    const QString a = QString::fromStdString(Archive(dir, "a.big"));
    const QString b = QString::fromStdString(Archive(dir, "b.big"));
    {
      CEditorRun run({a});
      run.Answer(b);
      QVERIFY(run.Command(ID_FILE_OPEN));
    }
    std::filesystem::remove(a.toStdString());
    dir.Write("b.big", "no longer an archive");
    {
      CEditorRun run;
      QCOMPARE(ShownRecentFiles(run).size(), 2);
      QVERIFY(run.Command(ID_FILE_MRU_FILE1 + 1));  // a: gone
      QVERIFY(run.Documents().empty());
      QVERIFY(run.Frames().empty());
      QCOMPARE(ShownRecentFiles(run), QStringList({"&1 " + QDir::toNativeSeparators(b)}));
      QVERIFY(run.Command(ID_FILE_MRU_FILE1));  // b: not an archive now
      QVERIFY(run.Documents().empty());
      QCOMPARE(ShownRecentFiles(run), QStringList());
      run.Main()->UpdateMenus();
      bool placeholder = false;
      for (QAction* action : FileMenu(run)->actions()) {
        if (action->text() == QStringLiteral("Recent File")) {
          placeholder = action->isVisible() && !action->isEnabled();
        }
      }
      QVERIFY(placeholder);
    }
    CEditorRun run;
    QCOMPARE(ShownRecentFiles(run), QStringList());
    QVERIFY(settings.StoredRecentFiles().isEmpty());
  }

  void theListKeepsSixteen() {
    CTestSettings settings;
    CTempDir dir;
    QStringList paths;
    {
      CEditorRun run;
      for (int i = 0; i < 18; ++i) {
        paths << QString::fromStdString(Archive(dir, "f" + std::to_string(i) + ".big"));
        run.Answer(paths.back());
        QVERIFY(run.Command(ID_FILE_OPEN));
      }
      QCOMPARE(run.Documents().size(), size_t{18});
      QCOMPARE(ShownRecentFiles(run).size(), 16);
    }
    QStringList expected;
    for (int i = 17; i >= 2; --i) expected << paths[i];
    QCOMPARE(settings.StoredRecentFiles(), expected);
  }

  void saveAndSaveAsLeaveTheArchiveAlone() {
    CTestSettings settings;
    CTempDir dir;
    const std::string archive = Archive(dir, "a.big");
    const std::string bytes = ReadWholeFile(archive);
    const auto modified = std::filesystem::last_write_time(archive);
    const bool linked = MakeLink(archive, dir.Path() + "/link.big");
    const std::set<std::string> listing = FolderListing(dir.Path());

    CEditorRun run({QString::fromStdString(archive)});
    QVERIFY(run.Started());
    ClickTreeRow(TreeOf(run.Frames()[0]), 0);

    // Save, with nothing changed: not offered by menu, nothing by key.
    QVERIFY(!run.Command(ID_FILE_SAVE));
    QTest::keyClick(TreeOf(run.Frames()[0]), Qt::Key_S, Qt::ControlModifier);
    QVERIFY(run.Dialogs().isEmpty());

    // Save As onto the archive itself, by any name, or cancelled.
    std::vector<std::string> names = {archive, dir.Path() + "/./a.big", std::string()};
    if (linked) names.insert(names.begin() + 1, dir.Path() + "/link.big");
    for (const std::string& name : names) {
      run.Answer(QString::fromStdString(name));
      QVERIFY(run.Command(ID_FILE_SAVE_AS));
    }
    QCOMPARE(run.Dialogs().size(), static_cast<qsizetype>(names.size()));
    QVERIFY(!run.Dialogs()[0].open);
    QCOMPARE(run.Dialogs()[0].suggested, QString::fromStdString(dir.Path() + "/a copy.big"));
    QCOMPARE(ReadWholeFile(archive), bytes);
    QCOMPARE(std::filesystem::last_write_time(archive), modified);
    QCOMPARE(FolderListing(dir.Path()), listing);
    QVERIFY(!linked || std::filesystem::is_symlink(dir.Path() + "/link.big"));

    // Save As elsewhere: an exact copy, and the archive still untouched.
    const std::string copy = dir.Path() + "/copy.big";
    run.Answer(QString::fromStdString(copy));
    QVERIFY(run.Command(ID_FILE_SAVE_AS));
    QCOMPARE(ReadWholeFile(copy), bytes);
    QCOMPARE(ReadWholeFile(archive), bytes);
    QCOMPARE(std::filesystem::last_write_time(archive), modified);
    // The window still shows the archive it opened.
    QCOMPARE(run.Documents()[0]->GetPathName(), QString::fromStdString(archive));
    QCOMPARE(run.Frames()[0]->windowTitle(), QStringLiteral("a.big"));
    QCOMPARE(ListRows(ListOf(run.Frames()[0])), QStringList({"a.big|Object", "    A|1"}));

    // A new document has nothing to save: Save As is not offered, no dialog, no file.
    QVERIFY(run.Command(ID_FILE_NEW));
    const qsizetype dialogs = run.Dialogs().size();
    run.Answer(QString::fromStdString(dir.Path() + "/new.big"));
    QVERIFY(!run.Command(ID_FILE_SAVE_AS));
    QVERIFY(!run.Command(ID_FILE_SAVE));
    QCOMPARE(run.Dialogs().size(), dialogs);
    QVERIFY(!std::filesystem::exists(dir.Path() + "/new.big"));
  }

  // A Save As that fails keeps its reason for the window to show, with the
  // file it is about; one that succeeds clears it.
  void aFailedSaveAsKeepsItsReason() {
    CTestSettings settings;
    CTempDir dir;
    const std::string archive = Archive(dir, "a.big");
    CEditorRun run({QString::fromStdString(archive)});
    QVERIFY(run.Started());
    CTarnEditorDoc* document = run.Documents()[0];
    const QString nowhere = QString::fromStdString(dir.Path() + "/missing/copy.big");
    QVERIFY(!document->OnSaveDocument(nowhere));
    QVERIFY2(document->GetLastError().startsWith(QDir::toNativeSeparators(nowhere) + ": ") &&
                 document->GetLastError().size() > nowhere.size() + 2,
             qPrintable(document->GetLastError()));
    QVERIFY(!document->OnSaveDocument(QString::fromStdString(archive)));
    QCOMPARE(document->GetLastError(), QDir::toNativeSeparators(QString::fromStdString(archive)) +
                                           ": is the opened archive itself");
    QVERIFY(document->OnSaveDocument(QString::fromStdString(dir.Path() + "/copy.big")));
    QVERIFY(document->GetLastError().isEmpty());
  }

  void closingWithoutSavingAsksNothing() {
    CTestSettings settings;
    CTempDir dir;
    const std::string archive = Archive(dir, "a.big");
    const std::string bytes = ReadWholeFile(archive);
    {
      CEditorRun run({QString::fromStdString(archive)});
      QVERIFY(run.Command(ID_FILE_NEW));
      QVERIFY(run.Command(ID_APP_EXIT));
      CEditorRun::Settle();
      QVERIFY(!run.Main()->isVisible());
      QVERIFY(run.Documents().empty());
      QVERIFY(run.Dialogs().isEmpty());
    }
    QCOMPARE(ReadWholeFile(archive), bytes);
  }
};

QTEST_MAIN(PersistenceTest)
#include "persistence_test.moc"
