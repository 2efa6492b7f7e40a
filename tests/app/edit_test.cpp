// Changing an archive from its window, offscreen: a value edited in place,
// undone and redone, saved over the archive and read back by tarn; a save
// that fails; Save Changes As; and the question on closing.
#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QDir>
#include <QDropEvent>
#include <QInputDialog>
#include <QMimeData>
#include <QUrl>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <QLabel>
#include <QTreeWidget>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "app/extract/entry_extractor.h"
#include "app/compare/compare_window.h"
#include "app/shell/disk_bar.h"
#include "app/document/disk_watch.h"
#include "app/edit/entry_editor.h"
#include "app/tree/entry_actions.h"
#include "app/document/entry_hooks.h"
#include "app/edit/text_window.h"
#include "app/edit/value_edit.h"
#include "app/tree/entry_actions.h"
#include "app/framework/status_bar.h"
#include "app/search/rules_search_pane.h"
#include "archive/entry_map.h"
#include "storage/disk_file_test_helper.h"
#include "archive/entry_path.h"
#include "editor_fixture.h"
#include "tests/support/big_builder.h"
#include "tests/support/run_tarn.h"

namespace {

QString StatusText(CEditorRun& run) { return run.Main()->GetStatusBar()->GetPane(0)->text(); }

const std::string kTank = "; tanks\r\nObject Tank\r\n  Speed = 30 ; fast\r\n  Armor\r\nEnd\r\n";

// The row whose Name cell reads `name`, or -1.
int RowNamed(CTarnEditorView* list, const QString& name) {
  for (int row = 0; row < list->model()->rowCount(); ++row) {
    if (list->model()->index(row, 0).data().toString() == name) return row;
  }
  return -1;
}

// Edits the value of row `row` as a user does: F2, type, Enter.
void TypeValue(CTarnEditorView* list, int row, const QString& text) {
  list->setCurrentIndex(list->model()->index(row, 0));
  QLineEdit* field = EditInPlace(list);
  QVERIFY(field != nullptr);
  QCOMPARE(field->accessibleName(), QStringLiteral("Value"));
  field->selectAll();
  QTest::keyClicks(field, text);
  QTest::keyClick(field, Qt::Key_Return);
  // The editor hands its text over on a queued call, and the change
  // follows once the editor has closed.
  CEditorRun::Settle();
  CEditorRun::Settle();
}

// Answers the next message box with `button` once it shows.
void AnswerQuestion(QMessageBox::StandardButton button, QString* text = nullptr) {
  QTimer::singleShot(0, [button, text] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    if (text != nullptr) *text = box->text();
    box->button(button)->click();
  });
}

// Answers the next message box by its button named `text`, keeping its
// question in `question`.
void AnswerButton(const QString& text, QString* question = nullptr) {
  QTimer::singleShot(0, [text, question] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    if (question != nullptr) *question = box->text();
    for (QAbstractButton* button : box->buttons()) {
      if (button->text() == text) return button->click();
    }
  });
}

// Offers every modal window that shows to `answer` until it takes one
// (looked for every 10 ms, for at most 10 s).
void WhenModal(std::function<bool(QWidget*)> answer) {
  auto* timer = new QTimer;
  auto tries = std::make_shared<int>(0);
  QObject::connect(timer, &QTimer::timeout, [timer, tries, answer] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal != nullptr && answer(modal)) {
      timer->stop();
      timer->deleteLater();
    } else if (++*tries > 1000) {
      timer->stop();
      timer->deleteLater();
    }
  });
  timer->start(10);
}

// Answers the next prefix question with `prefix`.
void AnswerPrefix(const QString& prefix) {
  WhenModal([prefix](QWidget* modal) {
    auto* dialog = qobject_cast<QInputDialog*>(modal);
    if (dialog == nullptr) return false;
    dialog->setTextValue(prefix);
    dialog->accept();
    return true;
  });
}

// Drops `paths` onto the tree, as a file manager would.
void Drop(CLeftView* tree, const QStringList& paths) {
  QMimeData data;
  QList<QUrl> urls;
  for (const QString& path : paths) urls << QUrl::fromLocalFile(path);
  data.setUrls(urls);
  // The drop goes where the drag entered.
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(tree->viewport(), &enter);
  QVERIFY(enter.isAccepted());
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(tree->viewport(), &drop);
  QVERIFY(drop.isAccepted());
}

// What another program may do to an open archive: rewrite it in place
// (same file, larger or the same size with its times put back), put
// another file in its place, or cut it short.
enum class Outside { InPlaceLarger, InPlaceSameSizeTimesBack, Renamed, CutShort };

[[maybe_unused]] void ChangeOnDisk(const std::string& path, Outside how) {
  const std::string other = CBigBuilder()
                                .Add("Data\\Tank.ini", "Object Boat\r\nEnd\r\n")
                                .Add("other.ini", std::string(200, 'o'))
                                .Build();
  const std::filesystem::file_time_type written = std::filesystem::last_write_time(path);
  switch (how) {
    case Outside::InPlaceLarger: {
      std::ofstream out(path, std::ios::binary | std::ios::trunc);  // the same inode
      out << other;
      break;
    }
    case Outside::InPlaceSameSizeTimesBack: {
      std::string same = ReadWholeFile(path);
      same.replace(same.find("30"), 2, "99");
      {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << same;
      }
      std::filesystem::last_write_time(path, written);
      break;
    }
    case Outside::Renamed:
      WriteWholeFile(path + ".new", other);
      std::filesystem::rename(path + ".new", path);
      break;
    case Outside::CutShort: std::filesystem::resize_file(path, 60); break;
  }
}

}  // namespace

class EditTest : public QObject {
  Q_OBJECT

 private:
  CTestSettings m_settings;
  CTempDir m_dir;

  std::string Archive(const std::string& name) {
    return m_dir.Write(
        name, CBigBuilder().Add("Data\\Tank.ini", kTank).Add("other.ini", "X = 1\n").Build());
  }

 private slots:
  void aValueChangesOnlyItsOwnBytes() {
    QString reason;
    // A comment, the spacing and the line end stay; blanks typed around go.
    QCOMPARE(ReplaceValue("  A = 30 ; c\r\n", 6, 2, QStringLiteral(" 45\t"), reason),
             std::string("  A = 45 ; c\r\n"));
    // A key with no value gets one after a blank.
    QCOMPARE(ReplaceValue("  A\r\n", 3, 0, QStringLiteral("1"), reason), std::string("  A 1\r\n"));
    QVERIFY(!ReplaceValue("A = 1\n", 4, 1, QStringLiteral("2\n3"), reason));
    QCOMPARE(reason, QStringLiteral("A value is one line: line ends are not taken"));
    QVERIFY(!ReplaceValue("A = 1\n", 4, 1, QStringLiteral("2;3"), reason));
    QVERIFY(!ReplaceValue("A = 1\n", 4, 1, QString(QChar(0x4E2D)), reason));
  }

  void editUndoRedoSaveShowsOneLineChanged() {
    const std::string path = Archive("edit.big");
    CEditorRun run({ToQ(path)});
    CChildFrame* frame = run.Frames()[0];
    CLeftView* tree = TreeOf(frame);
    CTarnEditorView* list = ListOf(frame);
    ClickTreeRow(tree, 0);
    const int speed = RowNamed(list, QStringLiteral("    Speed"));
    QVERIFY(speed >= 0);
    // Block rows are headers: not edited here, and F2 on one says where.
    QVERIFY(!(list->model()->flags(list->model()->index(0, 1)) & Qt::ItemIsEditable));
    list->setCurrentIndex(list->model()->index(0, 0));
    QVERIFY(EditInPlace(list) == nullptr);
    QVERIFY(StatusText(run).startsWith(QStringLiteral("A block's name and type are changed")));

    TypeValue(list, speed, QStringLiteral("45"));
    QCOMPARE(list->model()->index(speed, 1).data().toString(), QStringLiteral("45"));
    QCOMPARE(StatusText(run), QStringLiteral("1 change"));
    QVERIFY(frame->windowTitle().endsWith(QLatin1Char('*')));
    const QModelIndex item = tree->model()->index(0, 0);
    QCOMPARE(item.data(Qt::AccessibleDescriptionRole).toString(), QStringLiteral("changed"));
    QVERIFY(item.data(Qt::FontRole).value<QFont>().bold());
    QVERIFY(!tree->model()->index(1, 0).data(Qt::AccessibleDescriptionRole).isValid());

    // A line end (pasted, say) is refused with the reason, and changes nothing.
    QVERIFY(!run.Documents()[0]->GetHooks()->EditValue("Data\\Tank.ini", kTank.find("30"), 2,
                                                       QStringLiteral("1\n2")));
    QCOMPARE(StatusText(run), QStringLiteral("A value is one line: line ends are not taken"));
    QCOMPARE(list->model()->index(speed, 1).data().toString(), QStringLiteral("45"));

    QVERIFY(run.Command(ID_EDIT_UNDO));
    QCOMPARE(list->model()->index(speed, 1).data().toString(), QStringLiteral("30"));
    QVERIFY(!frame->windowTitle().endsWith(QLatin1Char('*')));
    QVERIFY(!tree->model()->index(0, 0).data(Qt::AccessibleDescriptionRole).isValid());
    QVERIFY(run.Command(ID_EDIT_REDO));
    QCOMPARE(list->model()->index(speed, 1).data().toString(), QStringLiteral("45"));
    QCOMPARE(list->currentIndex().row(), speed);

    QVERIFY(run.Command(ID_FILE_SAVE));
    QVERIFY(StatusText(run).startsWith(QStringLiteral("Saved ")));
    QVERIFY(!StatusText(run).contains(QStringLiteral("other window")));
    QVERIFY(!frame->windowTitle().endsWith(QLatin1Char('*')));
    std::string expected = kTank;
    expected.replace(expected.find("30"), 2, "45");
    QCOMPARE(RunTarnCaptured({"cat", path, "Data\\Tank.ini"}).out, expected);
    QCOMPARE(RunTarnCaptured({"check", path}).out, std::string("ok: 2 entries\n"));
    // The window shows the saved archive, on the same entry and row.
    QCOMPARE(tree->currentIndex().row(), 0);
    QCOMPARE(list->model()->index(speed, 1).data().toString(), QStringLiteral("45"));
    QCOMPARE(list->currentIndex().row(), speed);
    QVERIFY(!tree->model()->index(0, 0).data(Qt::AccessibleDescriptionRole).isValid());
    QVERIFY(!run.Command(ID_EDIT_UNDO));  // the saved archive is where undo starts
    // No temporary file left beside it. Where an open file cannot be
    // replaced (Windows), the old one goes once the references index built
    // beside the window lets go of it.
    const auto files = [this] {
      size_t count = 0;
      for ([[maybe_unused]] const auto& file : std::filesystem::directory_iterator(m_dir.Path()))
        ++count;
      return count;
    };
    QTRY_COMPARE_WITH_TIMEOUT(files(), size_t{1}, 20000);
  }

  void aFailedSaveKeepsTheChangesAndTheArchive() {
    std::filesystem::create_directories(m_dir.Path() + "/gone");
    const std::string path = m_dir.Path() + "/gone/a.big";
    WriteWholeFile(path, CBigBuilder().Add("Data\\Tank.ini", kTank).Build());
    CEditorRun run({ToQ(path)});
    CChildFrame* frame = run.Frames()[0];
    ClickTreeRow(TreeOf(frame), 0);
    CTarnEditorView* list = ListOf(frame);
    TypeValue(list, RowNamed(list, QStringLiteral("    Speed")), QStringLiteral("45"));
    // The folder goes while the window is open (the archive stays mapped):
    // Save asks first, as the archive is no longer where it was.
    std::filesystem::rename(m_dir.Path() + "/gone", m_dir.Path() + "/moved");
    AnswerButton(QStringLiteral("Overwrite"));
    QVERIFY(run.Command(ID_FILE_SAVE));
    QVERIFY(StatusText(run).startsWith(QStringLiteral("Cannot save: ")));
    QVERIFY(frame->windowTitle().endsWith(QLatin1Char('*')));
    QCOMPARE(run.Documents()[0]->Changes().size(), size_t{1});
    QVERIFY(!std::filesystem::exists(m_dir.Path() + "/gone"));
    QCOMPARE(ReadWholeFile(m_dir.Path() + "/moved/a.big"),
             CBigBuilder().Add("Data\\Tank.ini", kTank).Build());

    // Save Changes As: only the changed entry.
    const QString mod = ToQ(m_dir.Path() + "/mod.big");
    run.Answer(mod);
    QVERIFY(run.Command(ID_FILE_SAVE_CHANGES_AS));
    QCOMPARE(RunTarnCaptured({"list", mod.toStdString()}).out,
             "38\t" + std::to_string(kTank.size()) + "\tData\\Tank.ini\n");

    // Closing asks; Cancel keeps the window, Discard closes it.
    QString question;
    AnswerQuestion(QMessageBox::Cancel, &question);
    QVERIFY(run.Command(ID_FILE_CLOSE));
    QCOMPARE(question, QStringLiteral("Save the changes to a.big?"));
    QCOMPARE(run.Frames().size(), size_t{1});
    AnswerQuestion(QMessageBox::Discard);
    frame->close();
    CEditorRun::Settle();
    QCOMPARE(run.Frames().size(), size_t{0});
  }

  void deleteSeveralUndoThenSaveAndCopy() {
    const std::string path = m_dir.Write("del.big", CBigBuilder()
                                                        .Add("a.ini", "Object A\n V = 1\nEnd\n")
                                                        .Add("b.ini", "Object B\n V = 2\nEnd\n")
                                                        .Add("c.ini", "Object C\n V = 3\nEnd\n")
                                                        .Build());
    CEditorRun run({ToQ(path)});
    CChildFrame* frame = run.Frames()[0];
    CLeftView* tree = TreeOf(frame);
    ClickTreeRow(tree, 0);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      tree->visualRect(tree->model()->index(2, 0)).center());
    // Copy from the tree: the selected names.
    tree->setFocus();
    QVERIFY(run.Command(ID_EDIT_COPY));
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("a.ini\nc.ini\n"));

    QTest::keyClick(tree, Qt::Key_Delete);
    QCOMPARE(StatusText(run), QStringLiteral("2 changes"));
    QCOMPARE(tree->model()->index(0, 0).data(Qt::AccessibleDescriptionRole).toString(),
             QStringLiteral("deleted"));
    QVERIFY(tree->model()->index(2, 0).data(Qt::FontRole).value<QFont>().strikeOut());
    QVERIFY(ListOf(frame)->model()->rowCount() == 0);  // the current entry is gone
    QVERIFY(run.Command(ID_EDIT_UNDO));                // one step for both
    QVERIFY(!frame->windowTitle().endsWith(QLatin1Char('*')));
    QCOMPARE(ListRows(ListOf(frame)), QStringList({"C|Object", "    V|3"}));
    QVERIFY(run.Command(ID_EDIT_REDO));

    // Save Changes As cannot carry deletions, and says so.
    run.Answer(ToQ(m_dir.Path() + "/nothing.big"));
    QVERIFY(run.Command(ID_FILE_SAVE_CHANGES_AS));
    QVERIFY(StatusText(run).endsWith(
        QStringLiteral("; 2 deletions left out (an archive loaded over another cannot delete)")));
    QCOMPARE(RunTarnCaptured({"check", m_dir.Path() + "/nothing.big"}).out,
             std::string("ok: 0 entries\n"));

    QVERIFY(run.Command(ID_FILE_SAVE));
    QCOMPARE(RunTarnCaptured({"list", path}).out, std::string("30\t20\tb.ini\n"));
    QCOMPARE(TreeNames(tree), QStringList({"b.ini"}));

    // Copy from the list: the selected rows.
    ClickTreeRow(tree, 0);
    CTarnEditorView* list = ListOf(frame);
    list->setFocus();
    list->selectAll();
    QVERIFY(run.Command(ID_EDIT_COPY));
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("B\tObject\n    V\t2\n"));
  }

  void renameFollowsPacksNameRules() {
    const std::string path = m_dir.Write("ren.big", CBigBuilder()
                                                        .Add("a.ini", "Object A\n V = 1\nEnd\n")
                                                        .Add("b.ini", "Object B\n V = 2\nEnd\n")
                                                        .Build());
    CEditorRun run({ToQ(path)});
    CChildFrame* frame = run.Frames()[0];
    CLeftView* tree = TreeOf(frame);
    CEntryHooks* hooks = run.Documents()[0]->GetHooks();
    for (const char* refused : {"a.ini\\x", "..\\evil", "a.ini", ""}) {
      QVERIFY(!hooks->RenameEntry("b.ini", QString::fromLatin1(refused)));
      QVERIFY(StatusText(run).startsWith(QStringLiteral("Cannot rename b.ini to ")));
    }
    ClickTreeRow(tree, 1);
    QLineEdit* field = EditInPlace(tree);
    QVERIFY(field != nullptr);
    field->selectAll();
    QTest::keyClicks(field, QStringLiteral("New\\b.ini"));
    QTest::keyClick(field, Qt::Key_Return);
    CEditorRun::Settle();
    CEditorRun::Settle();
    QCOMPARE(TreeNames(tree), QStringList({"New\\b.ini", "a.ini", "b.ini"}));
    QVERIFY(run.Main()->findChild<CTextWindow*>() == nullptr);  // that Enter opened nothing
    QCOMPARE(tree->model()->index(0, 0).data(Qt::AccessibleDescriptionRole).toString(),
             QStringLiteral("added"));
    QCOMPARE(tree->model()->index(2, 0).data(Qt::AccessibleDescriptionRole).toString(),
             QStringLiteral("deleted"));
    // The entry stays selected under its new name, its rows still shown.
    QCOMPARE(tree->currentIndex().row(), 0);
    QCOMPARE(ListRows(ListOf(frame)), QStringList({"B|Object", "    V|2"}));
    // Undo and Redo take the selection with the entry, by whichever name.
    QVERIFY(run.Command(ID_EDIT_UNDO));
    QCOMPARE(TreeNames(tree), QStringList({"a.ini", "b.ini"}));
    QCOMPARE(tree->currentIndex().data().toString(), QStringLiteral("b.ini"));
    QVERIFY(run.Command(ID_EDIT_REDO));
    QCOMPARE(tree->currentIndex().data().toString(), QStringLiteral("New\\b.ini"));
    QVERIFY(run.Command(ID_FILE_SAVE));
    QCOMPARE(RunTarnCaptured({"list", path}).out,
             std::string("48\t20\tNew\\b.ini\n68\t20\ta.ini\n"));
    QCOMPARE(TreeNames(tree), QStringList({"New\\b.ini", "a.ini"}));
  }

  // One function (IsSameEntry) says whether two names are one entry, for
  // the editor as for tarn pack and tarn extract: a rename that would make
  // the saved archive one they refuse is refused here, with the reason.
  void renameToAnotherSpellingOfAnEntryIsRefused() {
    const std::string path = m_dir.Write("spell.big", CBigBuilder()
                                                          .Add("a\\b", "Object A\n V = 1\nEnd\n")
                                                          .Add("x.ini", "Object X\n V = 2\nEnd\n")
                                                          .Build());
    CEditorRun run({ToQ(path)});
    CEntryHooks* hooks = run.Documents()[0]->GetHooks();
    const struct {
      const char* to;
      const char* why;
    } refused[] = {
        {"a/b/c", "'a\\b' is an entry, not a folder"},
        {"a/b", "names the same file as 'a\\b'"},
        {"a", "a folder of that name exists"},
    };
    for (const auto& r : refused) {
      QVERIFY(!hooks->RenameEntry("x.ini", QString::fromLatin1(r.to)));
      QCOMPARE(StatusText(run), QStringLiteral("Cannot rename x.ini to %1: %2")
                                    .arg(QString::fromLatin1(r.to), QString::fromLatin1(r.why)));
    }
    QVERIFY(!run.Documents()[0]->IsModified());
    // Letter case is one where names fold it (Windows), as pack judges.
    QCOMPARE(hooks->RenameEntry("x.ini", QStringLiteral("A\\B")), !kEntryNamesFoldCase);
    if (kEntryNamesFoldCase) return;
    QVERIFY(run.Command(ID_FILE_SAVE));
    QCOMPARE(RunTarnCaptured({"list", path}).out, std::string("40\t20\tA\\B\n60\t20\ta\\b\n"));
    const CTarnResult extracted = RunTarnCaptured({"extract", path, m_dir.Path() + "/spell"});
    QCOMPARE(extracted.status, 0);
  }

  void savingOverAnArchiveAnotherWindowShowsSaysSo() {
    const std::string shown = Archive("shown.big");
    const std::string other = Archive("other.big");
    CEditorRun run({ToQ(shown)});
    QVERIFY(AfxGetApp()->OpenDocumentFile(ToQ(other)) != nullptr);
    QCOMPARE(run.Documents().size(), size_t{2});
    CTarnEditorDoc* saving = run.Documents()[1];
    QCOMPARE(saving->GetPathName(), ToQ(other));
    saving->GetHooks()->DeleteEntries({"other.ini"});
    run.Answer(ToQ(shown));
    QVERIFY(run.Command(ID_FILE_SAVE_AS));
    QCOMPARE(StatusText(run),
             QStringLiteral(
                 "Saved as %1; 1 other window keeps showing what it opened until it is reopened")
                 .arg(QDir::toNativeSeparators(ToQ(shown))));
    QCOMPARE(RunTarnCaptured({"list", shown}).out,
             "38\t" + std::to_string(kTank.size()) + "\tData\\Tank.ini\n");
    // The other window still shows both entries it opened.
    QCOMPARE(TreeNames(TreeOf(run.Frames()[0])).size(), 2);
  }

  void aDroppedFolderIsAddedUnderThePrefix() {
    const std::string mod = m_dir.Path() + "/mod";
    std::filesystem::create_directories(mod + "/Data/INI");
    WriteWholeFile(mod + "/Data/INI/new.ini", "Object New\nEnd\n");
    WriteWholeFile(mod + "/top.ini", "top");
    const bool linked = MakeLink("/etc/passwd", mod + "/link.ini");
    const std::string path = Archive("drop.big");
    CEditorRun run({ToQ(path)});
    CChildFrame* frame = run.Frames()[0];
    CLeftView* tree = TreeOf(frame);
    // The tree's items drag out (onto a file manager) as well as take drops.
    QVERIFY(tree->dragEnabled() &&
            (tree->model()->flags(tree->model()->index(0, 0)) & Qt::ItemIsDragEnabled));
    ClickTreeRow(tree, 0);  // Data\Tank.ini: its folder is proposed
    QCOMPARE(tree->DefaultPrefix(), QStringLiteral("Data\\"));
    AnswerPrefix(QStringLiteral("Mods"));
    Drop(tree, {ToQ(mod)});
    QTRY_COMPARE(TreeNames(tree).size(), 4);
    QCOMPARE(TreeNames(tree), QStringList({"Data\\Tank.ini", "Mods\\Data\\INI\\new.ini",
                                           "Mods\\top.ini", "other.ini"}));
    if (linked) {
      QVERIFY(StatusText(run).startsWith(QStringLiteral("Added 2 entries; skipped ")));
      QVERIFY(StatusText(run).contains(QStringLiteral("symbolic link, not followed")));
    } else {
      QVERIFY(StatusText(run).startsWith(QStringLiteral("Added 2 entries")));
    }
    QCOMPARE(tree->model()->index(2, 0).data(Qt::AccessibleDescriptionRole).toString(),
             QStringLiteral("added"));

    // The same again: the names are taken; Skip keeps what is there.
    AnswerPrefix(QStringLiteral("Mods\\"));
    Drop(tree, {ToQ(mod)});
    WhenModal([](QWidget* modal) {
      auto* box = qobject_cast<QMessageBox*>(modal);
      if (box == nullptr) return false;
      for (QAbstractButton* button : box->buttons()) {
        if (button->text() == QStringLiteral("Skip")) button->click();
      }
      return true;
    });
    QTRY_VERIFY(StatusText(run).startsWith(QStringLiteral("Added 0 entries")));
    QVERIFY(StatusText(run).startsWith(QStringLiteral("Added 0 entries")));

    QVERIFY(run.Command(ID_FILE_SAVE));
    const std::string listed = RunTarnCaptured({"list", path}).out;
    QVERIFY(listed.find("\tMods\\Data\\INI\\new.ini\n") != std::string::npos);
    QCOMPARE(RunTarnCaptured({"cat", path, "Mods\\top.ini"}).out, std::string("top"));
    QCOMPARE(RunTarnCaptured({"check", path}).out, std::string("ok: 4 entries\n"));
  }

  void aDragCarriesTheEntriesExtractedUnderItsFolderOnly() {
    const std::string folder = m_dir.Path() + "/drag";
    std::vector<CExtractEntry> entries(4);
    const std::pair<const char*, std::string> given[] = {{"Data\\a.ini", "A = 1\n"},
                                                         {"..\\evil.ini", "evil"},
                                                         {"Data/a.ini", "twin"},
                                                         {"b.ini", ""}};
    for (size_t k = 0; k < entries.size(); ++k) {
      entries[k].name = given[k].first;
      entries[k].bytes =
          CDataBuffer(given[k].second.data(), static_cast<uint32_t>(given[k].second.size()));
      entries[k].size = entries[k].claimed = given[k].second.size();
    }
    std::vector<CEntryProblem> problems;
    const std::unique_ptr<QMimeData> data = ExtractForDrag(ToQ(folder), entries, problems);
    QVERIFY(data != nullptr);
    QCOMPARE(data->urls(), QList<QUrl>({QUrl::fromLocalFile(ToQ(folder + "/Data/a.ini")),
                                        QUrl::fromLocalFile(ToQ(folder + "/b.ini"))}));
    QCOMPARE(ReadWholeFile(folder + "/Data/a.ini"), std::string("A = 1\n"));
    QCOMPARE(problems.size(), size_t{2});  // the unsafe name, and the second name of one file
    QCOMPARE(problems[0].name, std::string("..\\evil.ini"));
    QVERIFY(!std::filesystem::exists(m_dir.Path() + "/evil.ini"));
    // Nothing written: nothing to drag.
    QVERIFY(ExtractForDrag(ToQ(folder + "2"), std::span(entries).subspan(1, 1), problems) ==
            nullptr);
  }

  void foldersActOnEverythingUnderThem() {
    const std::string path =
        m_dir.Write("folders.big", CBigBuilder()
                                       .Add("Data/INI/b.ini", "Object B\n V = 2\nEnd\n")
                                       .Add("Data\\INI\\a.ini", "Object A\n V = 1\nEnd\n")
                                       .Add("Data\\Maps\\m.ini", "M = 1\n")
                                       .Add("top.ini", "T = 1\n")
                                       .Build());
    CEditorRun run({ToQ(path)});
    CChildFrame* frame = run.Frames()[0];
    CLeftView* tree = TreeOf(frame);
    ClickTreeRow(tree, 1);
    QVERIFY(run.Command(ID_VIEW_FOLDERS));
    // The same entry stays current, its folder opened; either separator
    // makes one folder.
    QCOMPARE(TreeNames(tree), QStringList({"Data", "top.ini"}));
    QCOMPARE(tree->currentIndex().data().toString(), QStringLiteral("a.ini"));
    const QPersistentModelIndex ini = tree->currentIndex().parent();
    QCOMPARE(ini.data().toString(), QStringLiteral("INI"));
    QCOMPARE(tree->model()->rowCount(ini), 2);
    QCOMPARE(ListRows(ListOf(frame)), QStringList({"A|Object", "    V|1"}));

    // Delete on a folder: everything under it, one step, marked in the tree.
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualRect(ini).center());
    tree->setFocus();
    QTest::keyClick(tree, Qt::Key_Delete);
    QCOMPARE(StatusText(run), QStringLiteral("2 changes"));
    QCOMPARE(run.Documents()[0]->GetUndoStack().undoText(), QStringLiteral("Delete 2 Entries"));
    QCOMPARE(tree->model()->index(0, 0, ini).data(Qt::AccessibleDescriptionRole).toString(),
             QStringLiteral("deleted"));
    QCOMPARE(ini.data(Qt::AccessibleDescriptionRole).toString(),
             QStringLiteral("folder, holds changes"));
    QVERIFY(run.Command(ID_EDIT_UNDO));
    QVERIFY(!frame->windowTitle().endsWith(QLatin1Char('*')));
    QCOMPARE(ini.data(Qt::AccessibleDescriptionRole).toString(), QStringLiteral("folder"));

    // Extract on a folder: everything under it, by the whole names.
    const std::string out = m_dir.Path() + "/out";
    run.App().SetFolderDialogHook([&out](const QString&) { return ToQ(out); });
    std::unique_ptr<QMenu> menu(tree->findChild<CEntryActions*>()->BuildMenu(ini));
    menu->actions().value(0)->trigger();
    run.App().SetFolderDialogHook({});
    QVERIFY(std::filesystem::is_regular_file(out + "/Data/INI/a.ini"));
    QVERIFY(std::filesystem::is_regular_file(out + "/Data/INI/b.ini"));
    QVERIFY(!std::filesystem::exists(out + "/Data/Maps"));

    // Rename on a folder renames its part of every name under it, keeping
    // each name's separators.
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualRect(ini).center());
    QTest::keyClick(tree, Qt::Key_F2);
    auto* field = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    QVERIFY(field != nullptr);
    field->selectAll();
    QTest::keyClicks(field, QStringLiteral("Rules"));
    QTest::keyClick(field, Qt::Key_Return);
    CEditorRun::Settle();
    CEditorRun::Settle();
    QCOMPARE(StatusText(run), QStringLiteral("4 changes"));
    // The Enter that ended the rename left the folder open and current.
    QVERIFY(tree->isExpanded(tree->currentIndex()));
    QCOMPARE(tree->currentIndex().data().toString(), QStringLiteral("INI"));
    // An entry renamed in the folder view stays in its folder.
    const QModelIndex maps = tree->model()->index(1, 0, tree->model()->index(0, 0));
    QCOMPARE(maps.data().toString(), QStringLiteral("Maps"));
    tree->setCurrentIndex(tree->model()->index(0, 0, maps));
    QTest::keyClick(tree, Qt::Key_F2);
    field = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    QVERIFY(field != nullptr);
    QCOMPARE(field->text(), QStringLiteral("m.ini"));
    field->selectAll();
    QTest::keyClicks(field, QStringLiteral("n.ini"));
    QTest::keyClick(field, Qt::Key_Return);
    CEditorRun::Settle();
    CEditorRun::Settle();
    QVERIFY(run.Command(ID_FILE_SAVE));
    QCOMPARE(
        RunTarnCaptured({"list", path}).out,
        std::string(
            "106\t20\tData/Rules/b.ini\n126\t6\tData\\Maps\\n.ini\n132\t20\tData\\Rules\\a.ini\n"
            "152\t6\ttop.ini\n"));
    // Still folders after the save.
    const QModelIndex data = tree->model()->index(0, 0);
    QCOMPARE(tree->model()->index(1, 0, data).data().toString(), QStringLiteral("Rules"));
    QVERIFY(run.Command(ID_VIEW_FOLDERS));
    QCOMPARE(TreeNames(tree).size(), 4);
  }

  void theTextWindowKeepsTheLineEnds() {
    QCOMPARE(LineEndOf("a\r\nb\n"), std::string_view("\r\n"));
    // Mixed ends: each line left alone keeps its own, a changed one its
    // line's, an added one the first line's.
    const std::string mixed = "a\r\nb\nc\r\nd\ne";
    QCOMPARE(TextToShow(mixed), std::string("a\nb\nc\nd\ne"));
    QCOMPARE(TextToEntryBytes(QStringLiteral("a\nb\nC\nd\ne"), mixed),
             std::optional<std::string>("a\r\nb\nC\r\nd\ne"));
    QCOMPARE(TextToEntryBytes(QStringLiteral("a\nb\nx\ny\nd\ne\n"), mixed),
             std::optional<std::string>("a\r\nb\nx\r\ny\r\nd\ne\r\n"));
    QCOMPARE(TextToEntryBytes(QStringLiteral("a\nd\ne"), mixed),
             std::optional<std::string>("a\r\nd\ne"));
    // A CR alone ends a line too, and stays one: an unchanged text is the
    // same bytes, so there is nothing to apply.
    for (const std::string old : {"one\rtwo\rthree\r", "crlf\r\nlf\ncr\rend\n", "a\r\r\nb"}) {
      QCOMPARE(TextToEntryBytes(QString::fromLatin1(TextToShow(old)), old),
               std::optional<std::string>(old));
    }
    QCOMPARE(TextToEntryBytes(QStringLiteral("crlf\nlf\ncr\nend\nX"), "crlf\r\nlf\ncr\rend\n"),
             std::optional<std::string>("crlf\r\nlf\ncr\rend\nX"));
    QCOMPARE(TextToEntryBytes(QStringLiteral("one\nTWO\nnew\n"), "one\rtwo\r"),
             std::optional<std::string>("one\rTWO\rnew\r"));

    const std::string path = Archive("text.big");
    CEditorRun run({ToQ(path)});
    CChildFrame* frame = run.Frames()[0];
    CLeftView* tree = TreeOf(frame);
    ClickTreeRow(tree, 0);
    tree->setFocus();
    QTest::keyClick(tree, Qt::Key_Return);
    auto* window = run.Main()->findChild<CTextWindow*>();
    QVERIFY(window != nullptr);
    QPlainTextEdit* editor = window->GetEditor();
    QVERIFY(editor->toPlainText().startsWith(QStringLiteral("; tanks\nObject Tank\n")));
    editor->setPlainText(
        editor->toPlainText().replace(QStringLiteral("Armor"), QStringLiteral("Armor = 9")));
    window->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Apply)->click();
    QCOMPARE(ListRows(ListOf(frame)).last(), QStringLiteral("    Armor|9"));
    QVERIFY(run.Command(ID_FILE_SAVE));
    std::string expected = kTank;
    expected.replace(expected.find("Armor"), 5, "Armor = 9");
    QCOMPARE(RunTarnCaptured({"cat", path, "Data\\Tank.ini"}).out, expected);
  }

  // Whatever another program does to the archive while the window has it
  // open, no save, copy or extraction reports success with bytes the window
  // did not show, and no pending change is lost.
  void aChangeOnDiskIsNeverSavedOverOrFrom() {
#ifdef _WIN32
    QSKIP(
        "not on Windows: no other program can rewrite or cut short an archive held open there, "
        "and Wine renames nothing over an open file");
#else
    for (const Outside how : {Outside::InPlaceLarger, Outside::InPlaceSameSizeTimesBack,
                              Outside::Renamed, Outside::CutShort}) {
      const std::string path = Archive("disk.big");
      CEditorRun run({ToQ(path)});
      CTarnEditorDoc* document = run.Documents()[0];
      ClickTreeRow(TreeOf(run.Frames()[0]), 0);
      CTarnEditorView* list = ListOf(run.Frames()[0]);
      TypeValue(list, RowNamed(list, QStringLiteral("    Speed")), QStringLiteral("45"));
      ChangeOnDisk(path, how);
      const std::string theirs = ReadWholeFile(path);
      const bool rewritten = how != Outside::Renamed;

      // Save asks; Cancel keeps everything as it is.
      QString question;
      AnswerButton(QStringLiteral("Cancel"), &question);
      QVERIFY(run.Command(ID_FILE_SAVE));
      QCOMPARE(question, QStringLiteral("The archive changed on disk since it was opened"));
      QCOMPARE(ReadWholeFile(path), theirs);
      QCOMPARE(document->Changes().size(), size_t{1});

      // Save As elsewhere would write the opened bytes too: refused once
      // they may be the other program's.
      const std::string copy = m_dir.Path() + "/copy.big";
      if (rewritten) {
        std::filesystem::remove(copy);
        run.Answer(ToQ(copy));
        AnswerButton(QStringLiteral("Cancel"));
        QVERIFY(run.Command(ID_FILE_SAVE_AS));
        QVERIFY(!std::filesystem::exists(copy));
      }

      // Extraction reads the opened file too.
      const std::string folder = m_dir.Path() + "/out";
      std::filesystem::remove_all(folder);
      run.App().SetFolderDialogHook([&](const QString&) { return ToQ(folder); });
      TreeOf(run.Frames()[0])->findChild<CEntryActions*>()->ExtractAll();
      run.App().SetFolderDialogHook({});
      QCOMPARE(std::filesystem::exists(folder + "/other.ini"), !rewritten);
      if (!rewritten) {
        // The opened bytes: the file that replaced it is not what it shows.
        QCOMPARE(ReadWholeFile(folder + "/other.ini"), std::string("X = 1\n"));
        // Overwrite puts the window's archive in the other file's place.
        AnswerButton(QStringLiteral("Overwrite"));
        QVERIFY(run.Command(ID_FILE_SAVE));
        QCOMPARE(RunTarnCaptured({"cat", path, "other.ini"}).out, std::string("X = 1\n"));
        QVERIFY(RunTarnCaptured({"cat", path, "Data\\Tank.ini"}).out.find("Speed = 45") !=
                std::string::npos);
        continue;
      }
      QVERIFY(StatusText(run).startsWith(QStringLiteral("Cannot extract: ")));
      // Nor are they searched.
      QVERIFY(run.Command(ID_EDIT_FIND_IN_RULES));
      CRulesSearchPane* search = run.Main()->GetRulesSearch();
      search->GetField()->setText(QStringLiteral("Speed"));
      QTest::keyClick(search->GetField(), Qt::Key_Return);
      QVERIFY(!search->IsSearching());
      QVERIFY(StatusText(run).startsWith(QStringLiteral("Cannot search: ")));
      search->hide();
      // Only the change, which lives in memory, can still be written.
      const std::string mod = m_dir.Path() + "/mod.big";
      run.Answer(ToQ(mod));
      AnswerButton(QStringLiteral("Save Changes As..."));
      QVERIFY(run.Command(ID_FILE_SAVE));
      QVERIFY(RunTarnCaptured({"cat", mod, "Data\\Tank.ini"}).out.find("Speed = 45") !=
              std::string::npos);
      QCOMPARE(RunTarnCaptured({"list", mod}).out.find("other.ini"), std::string::npos);
      QCOMPARE(ReadWholeFile(path), theirs);
      QCOMPARE(document->Changes().size(), size_t{1});
    }
#endif
  }

  // Extract, drag-out and Compare With take the pending changes as the
  // window shows them; Compare can look from either side.
  void extractAndCompareTakeThePendingChanges() {
    const std::string path = Archive("pending.big");
    CEditorRun run({ToQ(path)});
    CTarnEditorDoc* document = run.Documents()[0];
    ClickTreeRow(TreeOf(run.Frames()[0]), 0);
    CTarnEditorView* list = ListOf(run.Frames()[0]);
    TypeValue(list, RowNamed(list, QStringLiteral("    Speed")), QStringLiteral("45"));
    QVERIFY(document->GetHooks()->RenameEntry("other.ini", QStringLiteral("renamed.ini")));
    const std::string folder = m_dir.Path() + "/pending";
    run.App().SetFolderDialogHook([&](const QString&) { return ToQ(folder); });
    TreeOf(run.Frames()[0])->findChild<CEntryActions*>()->ExtractAll();
    run.App().SetFolderDialogHook({});
    QVERIFY(ReadWholeFile(folder + "/Data/Tank.ini").find("Speed = 45") != std::string::npos);
    QVERIFY(!std::filesystem::exists(folder + "/other.ini"));
    QCOMPARE(ReadWholeFile(folder + "/renamed.ini"), std::string("X = 1\n"));

    // Against the archive as it is on disk: the window's side has the changes.
    run.Answer(ToQ(path));
    CompareDocumentWith(document, nullptr);
    CCompareWindow* compare = nullptr;
    for (QWidget* window : QApplication::topLevelWidgets())
      if (auto* found = qobject_cast<CCompareWindow*>(window)) compare = found;
    QVERIFY(compare != nullptr);
    const auto marks = [](CCompareWindow* window) {
      QStringList lines;
      for (int row = 0; row < window->GetEntries()->topLevelItemCount(); ++row) {
        const QTreeWidgetItem* item = window->GetEntries()->topLevelItem(row);
        lines << item->text(0).left(1) + QLatin1Char(' ') + item->text(1);
      }
      return lines;
    };
    QCOMPARE(marks(compare), QStringList({"M Data\\Tank.ini", "+ other.ini", "- renamed.ini"}));
    CCompareWindow* swapped = compare->SwapSides();
    QVERIFY(swapped != nullptr);
    QCOMPARE(marks(swapped), QStringList({"M Data\\Tank.ini", "- other.ini", "+ renamed.ini"}));
    swapped->close();
  }

  // An added file's bytes are taken when it is added: the file changing or
  // going afterwards changes nothing that is saved or undone.
  void anAddedFileIsTakenWhenAdded() {
    const std::string path = Archive("added.big");
    const std::string file = m_dir.Write("new.ini", "Object New\nEnd\n");
    CEditorRun run({ToQ(path)});
    AnswerPrefix(QString());
    TreeOf(run.Frames()[0])->AddPaths({ToQ(file)});
    CEditorRun::Settle();
    QCOMPARE(StatusText(run), QStringLiteral("Added 1 entry"));
    WriteWholeFile(file, "Object Changed\nEnd\n");
    std::filesystem::resize_file(file, 3);
    QVERIFY(run.Command(ID_FILE_SAVE));
    QCOMPARE(RunTarnCaptured({"cat", path, "new.ini"}).out, std::string("Object New\nEnd\n"));
  }

  // The bar across the window: another program's change is seen, Reload
  // shows the archive as it now is, Keep Mine keeps the window's.
  void theBarOffersReloadOrKeepMine() {
#ifdef _WIN32
    QSKIP(
        "not on Windows: no other program can rewrite or cut short an archive held open there, "
        "and Wine renames nothing over an open file");
#else
    const std::string path = Archive("bar.big");
    CEditorRun run({ToQ(path)});
    CTarnEditorDoc* document = run.Documents()[0];
    CDiskBar* bar = run.Frames()[0]->GetDiskBar();
    QVERIFY(bar != nullptr && bar->isHidden());
    ChangeOnDisk(path, Outside::Renamed);
    document->GetDiskWatch().CheckNow();
    QVERIFY(!bar->isHidden());
    QVERIFY(bar->GetLabel()->text().contains(QStringLiteral("replaced")));
    bar->GetKeep()->click();
    QVERIFY(bar->isHidden());
    document->GetDiskWatch().CheckNow();
    QVERIFY(bar->isHidden());  // the same change is not told twice
    QCOMPARE(TreeNames(TreeOf(run.Frames()[0])), QStringList({"Data\\Tank.ini", "other.ini"}));

    QVERIFY(document->ReloadFromDisk());  // what the other program wrote

    // Cut short: the entries that now read as zeros are named.
    ChangeOnDisk(path, Outside::CutShort);
    document->GetDiskWatch().CheckNow();
    QVERIFY(!bar->isHidden());
    QVERIFY(StatusText(run).contains(QStringLiteral("now read as zeros")));
    QVERIFY(StatusText(run).contains(QStringLiteral("other.ini")));

    WriteWholeFile(path, CBigBuilder().Add("fresh.ini", "A = 1\n").Build());
    document->GetDiskWatch().CheckNow();
    bar->GetReload()->click();
    QVERIFY(bar->isHidden());
    QCOMPARE(TreeNames(TreeOf(run.Frames()[0])), QStringList({"fresh.ini"}));
#endif
  }

  void theTextWindowAsksBeforeTextIsLostAndSaysWhyApplyFails() {
    const std::string path = Archive("ask.big");
    CEditorRun run({ToQ(path)});
    CChildFrame* frame = run.Frames()[0];
    CLeftView* tree = TreeOf(frame);
    CTarnEditorView* list = ListOf(frame);
    ClickTreeRow(tree, 0);
    const auto open = [&] {
      tree->setFocus();
      QTest::keyClick(tree, Qt::Key_Return);
      QPointer<CTextWindow> window = run.Main()->findChild<CTextWindow*>();
      return window;
    };
    const auto type = [](CTextWindow* window, const char* from, const char* to) {
      QPlainTextEdit* editor = window->GetEditor();
      editor->setPlainText(editor->toPlainText().replace(QLatin1String(from), QLatin1String(to)));
    };

    // Esc and the close button ask; Cancel keeps the window and its text,
    // Discard closes it with nothing changed.
    QPointer<CTextWindow> window = open();
    QVERIFY(window != nullptr);
    type(window, "Armor", "Armor = 9");
    QString question;
    AnswerQuestion(QMessageBox::Cancel, &question);
    QTest::keyClick(window->GetEditor(), Qt::Key_Escape);
    CEditorRun::Settle();
    QCOMPARE(question, QStringLiteral("Apply the changed text to Data\\Tank.ini?"));
    QVERIFY(window != nullptr && window->isVisible());
    AnswerQuestion(QMessageBox::Discard);
    window->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Close)->click();
    CEditorRun::Settle();
    QVERIFY(window == nullptr);
    QVERIFY(run.Documents()[0]->Changes().empty());

    // Closed by the window manager (Alt+F4), Apply takes the text first.
    window = open();
    type(window, "Armor", "Armor = 9");
    AnswerQuestion(QMessageBox::Apply);
    window->close();
    CEditorRun::Settle();
    QVERIFY(window == nullptr);
    QCOMPARE(ListRows(list).last(), QStringLiteral("    Armor|9"));

    // Quitting asks about the text before the archive's changes.
    window = open();
    type(window, "Armor = 9", "Armor = 8");
    question.clear();
    AnswerQuestion(QMessageBox::Cancel, &question);
    run.Main()->close();
    CEditorRun::Settle();
    QCOMPARE(question, QStringLiteral("Apply the changed text to Data\\Tank.ini?"));
    QVERIFY(run.Main()->isVisible() && window != nullptr);

    // A value edited in the list after the window read the entry: Apply
    // keeps it (taking the window's text as it was would undo it), and
    // the window shows it.
    CEntryHooks* hooks = run.Documents()[0]->GetHooks();
    const auto speed = [&] {
      return list->model()->index(RowNamed(list, QStringLiteral("    Speed")), 1).data().toString();
    };
    QVERIFY(hooks->EditValue("Data\\Tank.ini", kTank.find("30"), 2, QStringLiteral("45")));
    QVERIFY(window->Apply());
    QVERIFY(window->GetProblem().startsWith(QStringLiteral("Applied together with the changes")));
    QCOMPARE(speed(), QStringLiteral("45"));
    QCOMPARE(ListRows(list).last(), QStringLiteral("    Armor|8"));
    QVERIFY(window->GetEditor()->toPlainText().contains(QStringLiteral("Speed = 45")));
    // Both changed the same line: refused, with why, the list's value kept.
    type(window, "Speed = 45", "Speed = 50");
    QVERIFY(hooks->EditValue("Data\\Tank.ini", kTank.find("30"), 2, QStringLiteral("60")));
    QVERIFY(!window->Apply());
    QVERIFY(window->GetProblem().contains(QStringLiteral("in lines this window changed too")));
    QCOMPARE(speed(), QStringLiteral("60"));

    // Deleted meanwhile: that is the reason given, not the characters.
    window->deleteLater();
    CEditorRun::Settle();
    window = open();
    type(window, "Armor = 8", "Armor = 7");
    hooks->DeleteEntries({"Data\\Tank.ini"});
    QVERIFY(!window->Apply());
    QCOMPARE(window->GetProblem(),
             QStringLiteral("Not applied: Data\\Tank.ini is no longer in the archive (deleted or "
                            "renamed since this window read it)"));
  }

  // An archive read where its entries lie (not mapped) and replaced on disk
  // is saved from its own file, a piece at a time: a save that fails keeps
  // none of its entries in memory.
  void aSaveOfAnUnmappedArchiveKeepsNoEntryInMemory() {
#if !defined(__GLIBC__) || defined(_WIN32)
    QSKIP("not without glibc: counts the heap through its mallinfo2");
#else
    CBigBuilder big;
    for (int i = 0; i < 32; ++i) big.Add("e" + std::to_string(i), std::string(1 << 20, 'e'));
    const std::string path = m_dir.Write("unmapped.big", big.Build());
    CDiskFileTestHelper::SetMappingDisabled(true);
    CEditorRun run({ToQ(path)});
    CDiskFileTestHelper::SetMappingDisabled(false);
    CTarnEditorDoc* document = run.Documents()[0];
    QVERIFY(!document->Entries().IsMapped());
    document->GetHooks()->DeleteEntries({"e0"});
    ChangeOnDisk(path, Outside::Renamed);
    const size_t before = mallinfo2().uordblks;
    run.Answer(ToQ(m_dir.Path() + "/no/such/folder/x.big"));
    QVERIFY(run.Command(ID_FILE_SAVE_AS));
    QVERIFY(StatusText(run).startsWith(QStringLiteral("Cannot save: ")));
    QVERIFY(mallinfo2().uordblks < before + (8u << 20));
    QCOMPARE(document->Changes().size(), size_t{1});
#endif
  }
};

QTEST_MAIN(EditTest)
#include "edit_test.moc"
