// A load order in one window, offscreen: the tree shows each name from the
// archive that wins it with the mark tarn overrides prints, the pane counts
// and reorders the archives, and a change lands in the target alone.
#include <QCheckBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTreeWidget>

#include <filesystem>
#include <map>
#include <string>

#include "app/compare/compare_window.h"
#include "app/document/disk_watch.h"
#include "app/document/entry_hooks.h"
#include "app/document/entry_text.h"
#include "app/framework/status_bar.h"
#include "app/order/load_order_pane.h"
#include "app/search/rules_search_pane.h"
#include "app/shell/disk_bar.h"
#include "archive/entry_map.h"
#include "archive/shown_order.h"
#include "editor_fixture.h"
#include "tests/support/big_builder.h"
#include "tests/support/run_tarn.h"

namespace {

const std::string kTank = "Object Tank\r\n  Speed = 30\r\n  Armor = Light\r\nEnd\r\n";

QString StatusText(CEditorRun& run) { return run.Main()->GetStatusBar()->GetPane(0)->text(); }

// Name -> the From column, for every row of the tree.
std::map<QString, QString> FromColumn(CLeftView* tree) {
  std::map<QString, QString> from;
  QAbstractItemModel* model = tree->model();
  for (int row = 0; row < model->rowCount(); ++row)
    from[model->index(row, 0).data().toString()] = model->index(row, 1).data().toString();
  return from;
}

int RowOf(CLeftView* tree, const QString& name) {
  QAbstractItemModel* model = tree->model();
  for (int row = 0; row < model->rowCount(); ++row)
    if (model->index(row, 0).data().toString() == name) return row;
  return -1;
}

CLoadOrderList* PaneOf(CChildFrame* frame) { return frame->findChild<CLoadOrderList*>(); }

CCompareWindow* OpenedComparison() {
  CCompareWindow* compare = nullptr;
  for (QWidget* window : QApplication::topLevelWidgets())
    if (auto* found = qobject_cast<CCompareWindow*>(window)) compare = found;
  return compare;
}

// The rows a comparison removes and adds: "-NAME=VALUE", "+NAME=VALUE".
QStringList ChangedRows(CCompareWindow* compare) {
  QStringList changed;
  QTreeWidget* rows = compare->GetRows();
  for (int row = 0; row < rows->topLevelItemCount(); ++row) {
    const QTreeWidgetItem* item = rows->topLevelItem(row);
    if (item->text(0) == QLatin1String("-") || item->text(0) == QLatin1String("+"))
      changed << item->text(0) + item->text(1).trimmed() + QLatin1Char('=') + item->text(2);
  }
  return changed;
}

// Three archives: the middle one wins a.ini over base, loses b.ini to the
// mod, and alone holds c.ini. Returns the order's path.
std::string WriteThreeArchives(CTempDir& dir) {
  dir.Write("base.big", CBigBuilder().Add("a.ini", "base").Add("z.ini", "z").Build());
  dir.Write("mid.big", CBigBuilder()
                           .Add("a.ini", "mid")
                           .Add("b.ini", "Object Tank\r\n  Speed = 20\r\nEnd\r\n")
                           .Add("c.ini", "c")
                           .Build());
  dir.Write("mod.big",
            CBigBuilder().Add("b.ini", "Object Tank\r\n  Speed = 99\r\nEnd\r\n").Build());
  return dir.Write("game.order", "base.big\nmid.big\nmod.big\n");
}

}  // namespace

class OrderWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void ShowsWinnersEditsIntoTheTargetAndNothingElse();
  void NewOrderFromAFolderSavesAsAFileThatOpensTheSame();
  void ShowItsEntriesMarksEachAndShowsALostCopyReadOnly();
  void ALostCopyComparesItselfWithTheWinner();
  void FindInRulesFindsShadowedCopiesOnlyWhenAsked();
  void FromStaysInSightBesideALongName();
  void FromWidensToTheBoldOfAChange();
  void ASavedCopyOfAShadowedEntryIsOverriddenOnly();
  void AnotherArchiveChangedOnDiskIsToldAndReadAgain();
};

void OrderWindowTest::ShowsWinnersEditsIntoTheTargetAndNothingElse() {
  CTestSettings settings;
  CTempDir dir;
  const std::string base = dir.Write("base.big", CBigBuilder()
                                                     .Add("Data\\INI\\Tank.ini", kTank)
                                                     .Add("Data\\a.ini", "old")
                                                     .Add("Data\\same.ini", "s")
                                                     .Build());
  const std::string patch = dir.Write(
      "patch.big", CBigBuilder().Add("Data\\b.ini", "b").Add("Data\\same.ini", "s").Build());
  // Spelt otherwise, as the game does not mind.
  const std::string mod =
      dir.Write("mod.big", CBigBuilder().Add("data/a.ini", "new").Add("Data\\c.ini", "c").Build());
  const std::string order = dir.Write("game.order", "# the game first\nbase.big\npatch.big\nmod.big\n");
  const std::string baseBytes = ReadWholeFile(base), patchBytes = ReadWholeFile(patch);

  CEditorRun run({ToQ(order)});
  QVERIFY(run.Started());
  CChildFrame* frame = run.Active();
  QVERIFY(frame != nullptr);
  CLeftView* tree = TreeOf(frame);
  CLoadOrderList* pane = PaneOf(frame);
  QVERIFY(pane != nullptr);
  QVERIFY(!tree->isHeaderHidden());
  // The keyboard starts in the tree, as in an archive's window.
  QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(tree));
  CTarnEditorDoc* document = run.Documents()[0];

  // The marks and winners are tarn's.
  const CTarnResult overrides = RunTarnCaptured({"overrides", "@" + order});
  QCOMPARE(overrides.status, 0);
  std::map<QString, QString> expected;
  for (const QString& line : ToQ(overrides.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
    const QStringList fields = line.split(QLatin1Char('\t'));
    if (fields[0] == QLatin1String("shadowed")) continue;
    expected[fields[1]] = fields[0] + QLatin1Char(' ') + QFileInfo(fields[2]).fileName();
  }
  std::map<QString, QString> shown = FromColumn(tree);
  for (const auto& [name, from] : shown)
    if (!from.startsWith(QLatin1Char(' '))) QCOMPARE(from, expected[name]);
  QCOMPARE(expected.size(), size_t{2});
  QCOMPARE(shown[QStringLiteral("data/a.ini")], QStringLiteral("! mod.big"));
  QCOMPARE(shown[QStringLiteral("Data\\same.ini")], QStringLiteral("= patch.big"));
  QCOMPARE(shown[QStringLiteral("Data\\b.ini")], QStringLiteral("  patch.big"));
  QVERIFY(tree->model()
              ->index(RowOf(tree, QStringLiteral("data/a.ini")), 1)
              .data(Qt::AccessibleDescriptionRole)
              .toString()
              .contains(QLatin1String("different copies in base.big")));

  // The pane's counts: wins, loses, only.
  QCOMPARE(pane->topLevelItemCount(), 3);
  const auto counts = [pane](int row) {
    QTreeWidgetItem* item = pane->topLevelItem(row);
    return item->text(1) + QLatin1Char('/') + item->text(2) + QLatin1Char('/') + item->text(3);
  };
  QCOMPARE(counts(0), QStringLiteral("1/2/1"));  // Tank.ini; a.ini, same.ini lost
  QCOMPARE(counts(1), QStringLiteral("2/0/1"));
  QCOMPARE(counts(2), QStringLiteral("2/0/1"));
  QVERIFY(pane->topLevelItem(2)->font(0).bold());  // the last is the target

  // The mod moved before the patch: the patch wins nothing new, the mod
  // still wins a.ini; base moved last wins a.ini back.
  pane->setCurrentItem(pane->topLevelItem(0));
  pane->setFocus();
  QTest::keyClick(pane, Qt::Key_Down, Qt::AltModifier);
  QTest::keyClick(pane, Qt::Key_Down, Qt::AltModifier);
  QCOMPARE(pane->topLevelItem(2)->text(0), QStringLiteral("base.big"));
  shown = FromColumn(tree);
  QCOMPARE(shown[QStringLiteral("Data\\a.ini")], QStringLiteral("! base.big"));
  QVERIFY(!shown.count(QStringLiteral("data/a.ini")));
  QVERIFY(pane->topLevelItem(1)->font(0).bold());  // the target moved with its archive
  QTest::keyClick(pane, Qt::Key_Up, Qt::AltModifier);
  QTest::keyClick(pane, Qt::Key_Up, Qt::AltModifier);
  QCOMPARE(pane->topLevelItem(0)->text(0), QStringLiteral("base.big"));

  // Left out, the patch's names are gone; the target cannot be left out.
  pane->topLevelItem(1)->setCheckState(0, Qt::Unchecked);
  QCOMPARE(RowOf(tree, QStringLiteral("Data\\b.ini")), -1);
  QCOMPARE(StatusText(run), EntryCountText(document->Entries().size()));
  QCOMPARE(FromColumn(tree)[QStringLiteral("Data\\same.ini")], QStringLiteral("  base.big"));
  pane->topLevelItem(2)->setCheckState(0, Qt::Unchecked);
  QVERIFY(StatusText(run).contains(QLatin1String("the target cannot be left out")));
  QCOMPARE(pane->topLevelItem(2)->checkState(0), Qt::Checked);
  pane->topLevelItem(1)->setCheckState(0, Qt::Checked);
  QVERIFY(RowOf(tree, QStringLiteral("Data\\b.ini")) >= 0);

  // A value of base's entry, changed: it now comes from the target.
  const std::string tank = "Data\\INI\\Tank.ini";
  QVERIFY(document->GetHooks()->EditValue(tank, kTank.find("30"), 2, QStringLiteral("45")));
  QCOMPARE(FromColumn(tree)[ToQ(tank)], QStringLiteral("! mod.big"));
  // The pane counts it as the tree shows it, before it is saved.
  QCOMPARE(counts(0), QStringLiteral("0/3/0"));
  QCOMPARE(counts(2), QStringLiteral("3/0/1"));
  // An order that would load base after the target, hiding the change from
  // the game, is refused and left as it was.
  pane->setCurrentItem(pane->topLevelItem(0));
  QTest::keyClick(pane, Qt::Key_Down, Qt::AltModifier);
  QTest::keyClick(pane, Qt::Key_Down, Qt::AltModifier);
  QVERIFY2(StatusText(run).contains(QLatin1String(
               "base.big, loaded after the target, would hide its pending change")),
           qPrintable(StatusText(run)));
  QCOMPARE(pane->topLevelItem(2)->text(0), QStringLiteral("mod.big"));
  QCOMPARE(FromColumn(tree)[ToQ(tank)], QStringLiteral("! mod.big"));
  // Deleting it would need to delete base's copy too.
  tree->setCurrentIndex(tree->model()->index(RowOf(tree, ToQ(tank)), 0));
  QVERIFY(run.Command(ID_EDIT_CLEAR));
  QVERIFY2(StatusText(run).contains(QLatin1String("base.big holds it")), qPrintable(StatusText(run)));
  QVERIFY(document->Changes().Find(tank)->removed == false);

  QVERIFY(run.Command(ID_FILE_SAVE));
  QVERIFY2(StatusText(run).startsWith(QLatin1String("Saved")), qPrintable(StatusText(run)));
  QVERIFY(!document->IsModified());
  CEntryMap saved;
  QVERIFY(OpenArchiveEntries(mod, saved).IsOk());
  QCOMPARE(saved.size(), size_t{3});
  QCOMPARE(ToQ(std::string(saved.Get(tank)->View())),
           ToQ("Object Tank\r\n  Speed = 45\r\n  Armor = Light\r\nEnd\r\n"));
  QCOMPARE(ToQ(std::string(saved.Get("data/a.ini")->View())), QStringLiteral("new"));
  QVERIFY(ReadWholeFile(base) == baseBytes);
  QVERIFY(ReadWholeFile(patch) == patchBytes);
  QCOMPARE(FromColumn(tree)[ToQ(tank)], QStringLiteral("! mod.big"));
  QCOMPARE(counts(2), QStringLiteral("3/0/1"));

  // What the mod changes in the entry: one row.
  tree->setCurrentIndex(tree->model()->index(RowOf(tree, ToQ(tank)), 0));
  QVERIFY(run.Command(ID_COMPARE_WITH_SHADOWED));
  CCompareWindow* compare = OpenedComparison();
  QVERIFY(compare != nullptr);
  QCOMPARE(ChangedRows(compare),
           QStringList({QStringLiteral("-Speed=30"), QStringLiteral("+Speed=45")}));
  delete compare;

  // Changed back and saved again: the target holds the names it held, so
  // the rows stay, selection and all, and the mark says base's bytes again.
  QVERIFY(document->GetHooks()->EditValue(tank, kTank.find("30"), 2, QStringLiteral("30")));
  QVERIFY(run.Command(ID_FILE_SAVE));
  QVERIFY2(StatusText(run).startsWith(QLatin1String("Saved")), qPrintable(StatusText(run)));
  QCOMPARE(FromColumn(tree)[ToQ(tank)], QStringLiteral("= mod.big"));
  QCOMPARE(tree->currentIndex().data().toString(), ToQ(tank));
}

// A folder's archives in name order; the order saved names them relative
// to its own folder, keeps one left out as a comment, and opens as it was.
void OrderWindowTest::NewOrderFromAFolderSavesAsAFileThatOpensTheSame() {
  CTestSettings settings;
  CTempDir dir;
  std::filesystem::create_directory(dir.Path() + "/Data");
  dir.Write("Data/b.big", CBigBuilder().Add("x.ini", "b").Build());
  dir.Write("Data/a.big", CBigBuilder().Add("x.ini", "a").Add("y.ini", "a").Build());
  dir.Write("Data/notes.txt", "not an archive");
  CEditorRun run;
  QVERIFY(run.Started());
  run.App().SetFolderDialogHook([&](const QString&) { return ToQ(dir.Path() + "/Data"); });
  QVERIFY(run.Command(ID_FILE_NEW_ORDER_FOLDER));
  CChildFrame* frame = run.Active();
  QVERIFY(frame != nullptr);
  QCOMPARE(FromColumn(TreeOf(frame))[QStringLiteral("x.ini")], QStringLiteral("! b.big"));
  CLoadOrderList* pane = PaneOf(frame);
  pane->topLevelItem(0)->setCheckState(0, Qt::Unchecked);  // a.big left out
  QCOMPARE(RowOf(TreeOf(frame), QStringLiteral("y.ini")), -1);

  const std::string file = dir.Path() + "/game.order";
  run.Answer(ToQ(file));
  QVERIFY(run.Command(ID_FILE_SAVE_ORDER_AS));
  QCOMPARE(ToQ(ReadWholeFile(file)).split(QLatin1Char('\n')).mid(1),
           QStringList({QStringLiteral("# left out: Data/a.big"), QStringLiteral("Data/b.big"),
                        QString()}));
  QCOMPARE(QFileInfo(run.Documents()[0]->GetPathName()).fileName(), QStringLiteral("game.order"));
  const CTarnResult listed = RunTarnCaptured({"overrides", "@" + file});
  QCOMPARE(listed.status, 0);
}

// The middle of three archives: one name it wins, one it loses to the mod,
// one only it holds. Its lost copy shows its own rows, and is not edited.
void OrderWindowTest::ShowItsEntriesMarksEachAndShowsALostCopyReadOnly() {
  CTestSettings settings;
  CTempDir dir;
  CEditorRun run({ToQ(WriteThreeArchives(dir))});
  QVERIFY(run.Started());
  CChildFrame* frame = run.Active();
  CLeftView* tree = TreeOf(frame);
  emit PaneOf(frame)->showEntriesOf(1);
  const std::map<QString, QString> expected{
      {QStringLiteral("a.ini"), QStringLiteral("won")},
      {QStringLiteral("b.ini"), QStringLiteral("lost to mod.big")},
      {QStringLiteral("c.ini"), QStringLiteral("unique")}};
  QCOMPARE(FromColumn(tree), expected);

  const QModelIndex lost = tree->model()->index(RowOf(tree, QStringLiteral("b.ini")), 0);
  QVERIFY(tree->model()
              ->index(lost.row(), 1)
              .data(Qt::AccessibleDescriptionRole)
              .toString()
              .contains(QLatin1String("shown read only")));
  tree->setCurrentIndex(lost);
  CTarnEditorView* list = frame->GetRightPane();
  QCOMPARE(list->GetModel()->index(1, 1).data().toString(), QStringLiteral("20"));
  static_cast<QAbstractItemView*>(list)->edit(list->GetModel()->index(1, 1));
  QVERIFY(list->viewport()->findChild<QLineEdit*>() == nullptr);
  list->GetModel()->setData(list->GetModel()->index(1, 1), QStringLiteral("77"));
  QVERIFY2(StatusText(run).contains(QLatin1String("this is the copy in mid.big")),
           qPrintable(StatusText(run)));
  QVERIFY(run.Command(ID_EDIT_CLEAR));
  QVERIFY(run.Documents()[0]->Changes().GetChanges().empty());

  emit PaneOf(frame)->showEntriesOf(std::nullopt);
  QCOMPARE(FromColumn(tree)[QStringLiteral("b.ini")], QStringLiteral("! mod.big"));
  QVERIFY(RowOf(tree, QStringLiteral("z.ini")) >= 0);
}

// Among base's entries, its lost copy is compared with the winner, not the
// copy nearest the winner.
void OrderWindowTest::ALostCopyComparesItselfWithTheWinner() {
  CTestSettings settings;
  CTempDir dir;
  const auto tank = [](int speed) {
    return "Object Tank\r\n  Speed = " + std::to_string(speed) + "\r\nEnd\r\n";
  };
  dir.Write("base.big", CBigBuilder().Add("b.ini", tank(10)).Build());
  dir.Write("mid.big", CBigBuilder().Add("b.ini", tank(20)).Build());
  dir.Write("mod.big", CBigBuilder().Add("b.ini", tank(99)).Build());
  CEditorRun run({ToQ(dir.Write("game.order", "base.big\nmid.big\nmod.big\n"))});
  QVERIFY(run.Started());
  CChildFrame* frame = run.Active();
  CLeftView* tree = TreeOf(frame);
  emit PaneOf(frame)->showEntriesOf(0);
  tree->setCurrentIndex(tree->model()->index(RowOf(tree, QStringLiteral("b.ini")), 0));
  QVERIFY(run.Command(ID_COMPARE_WITH_SHADOWED));
  CCompareWindow* compare = OpenedComparison();
  QVERIFY(compare != nullptr);
  QCOMPARE(ChangedRows(compare),
           QStringList({QStringLiteral("-Speed=10"), QStringLiteral("+Speed=99")}));
  QVERIFY(compare->windowTitle().contains(QLatin1String("base.big")));
  QCOMPARE(compare->statusBar()->currentMessage(), QStringLiteral("1 entry differs"));
  delete compare;
}

// The game sees the mod's Speed only; the box adds mid's, named as its copy,
// and Enter on it shows that copy.
void OrderWindowTest::FindInRulesFindsShadowedCopiesOnlyWhenAsked() {
  CTestSettings settings;
  CTempDir dir;
  CEditorRun run({ToQ(WriteThreeArchives(dir))});
  QVERIFY(run.Started());
  QVERIFY(run.Command(ID_EDIT_FIND_IN_RULES));
  CRulesSearchPane* search = run.Main()->GetRulesSearch();
  QVERIFY(search->GetCopiesBox()->isVisible());
  const auto matches = [search] {
    QStringList found;
    QAbstractItemModel* model = search->GetResults()->model();
    for (int row = 0; row < model->rowCount(); ++row)
      found << model->index(row, 0).data().toString() + QLatin1Char('=') +
                   model->index(row, 3).data().toString();
    return found;
  };
  QTest::keyClicks(search->GetField(), QStringLiteral("speed"));
  QTest::keyClick(search->GetField(), Qt::Key_Return);
  QTRY_VERIFY(!search->IsSearching());
  QCOMPARE(matches(), QStringList({QStringLiteral("b.ini=99")}));

  search->GetCopiesBox()->setChecked(true);
  QTRY_VERIFY(!search->IsSearching());
  QCOMPARE(matches(),
           QStringList({QStringLiteral("b.ini=99"), QStringLiteral("b.ini (mid.big)=20")}));
  QAbstractItemModel* model = search->GetResults()->model();
  QCOMPARE(model->index(1, 0).data(Qt::AccessibleDescriptionRole).toString(),
           QStringLiteral("shadowed copy in mid.big"));
  search->ShowMatch(1);
  CChildFrame* frame = run.Active();
  CLeftView* tree = TreeOf(frame);
  QCOMPARE(tree->model()->index(tree->currentIndex().row(), 1).data().toString(),
           QStringLiteral("lost to mod.big"));
  QCOMPARE(frame->GetRightPane()->currentIndex().data().toString().trimmed(),
           QStringLiteral("Speed"));
  QCOMPARE(frame->GetRightPane()->GetModel()->index(1, 1).data().toString(), QStringLiteral("20"));
}

// Going to an entry whose name is wider than the pane keeps From in sight.
void OrderWindowTest::FromStaysInSightBesideALongName() {
  CTestSettings settings;
  CTempDir dir;
  const std::string name = "Data\\" + std::string(400, 'n') + ".ini";
  dir.Write("base.big", CBigBuilder().Add("a.ini", "1").Add(name, "1").Build());
  dir.Write("mod.big", CBigBuilder().Add(name, "2").Build());
  CEditorRun run({ToQ(dir.Write("game.order", "base.big\nmod.big\n"))});
  QVERIFY(run.Started());
  CLeftView* tree = TreeOf(run.Active());
  const QModelIndex row = tree->model()->index(RowOf(tree, ToQ(name)), 0);
  tree->setCurrentIndex(row);
  tree->scrollTo(row);
  QVERIFY(tree->horizontalScrollBar()->maximum() > 0);  // the name is wider than the pane
  QCOMPARE(tree->horizontalScrollBar()->value(), 0);
}

// Changed into the target, an entry's From reads "! TARGET" in bold, wider
// than anything the column held at the open: it is shown whole.
void OrderWindowTest::FromWidensToTheBoldOfAChange() {
  CTestSettings settings;
  CTempDir dir;
  const std::string tank = "Data\\INI\\Tank.ini";
  dir.Write("base.big", CBigBuilder().Add(tank, kTank).Build());
  dir.Write("my-own-mod.big", CBigBuilder().Add("x.ini", "1").Build());
  CEditorRun run({ToQ(dir.Write("game.order", "base.big\nmy-own-mod.big\n"))});
  QVERIFY(run.Started());
  CLeftView* tree = TreeOf(run.Active());
  QVERIFY(
      run.Documents()[0]->GetHooks()->EditValue(tank, kTank.find("30"), 2, QStringLiteral("45")));
  const QModelIndex from = tree->model()->index(RowOf(tree, ToQ(tank)), 1);
  QCOMPARE(from.data().toString(), QStringLiteral("! my-own-mod.big"));
  QVERIFY(tree->header()->sectionSize(1) >= tree->sizeHintForIndex(from).width());
}

// Saved into the target, a base entry's copy overrides it: Overridden Only
// shows it from then on, as the rows of the names shown stay.
void OrderWindowTest::ASavedCopyOfAShadowedEntryIsOverriddenOnly() {
  CTestSettings settings;
  CTempDir dir;
  const std::string tank = "Data\\INI\\Tank.ini";
  dir.Write("base.big", CBigBuilder().Add(tank, kTank).Add("x.ini", "1").Build());
  dir.Write("mod.big", CBigBuilder().Add("y.ini", "1").Build());
  CEditorRun run({ToQ(dir.Write("game.order", "base.big\nmod.big\n"))});
  QVERIFY(run.Started());
  CLeftView* tree = TreeOf(run.Active());
  QVERIFY(run.Command(ID_VIEW_OVERRIDDEN_ONLY));
  QCOMPARE(tree->model()->rowCount(), 0);
  QVERIFY(
      run.Documents()[0]->GetHooks()->EditValue(tank, kTank.find("30"), 2, QStringLiteral("45")));
  QVERIFY(run.Command(ID_FILE_SAVE));
  QVERIFY2(StatusText(run).startsWith(QLatin1String("Saved")), qPrintable(StatusText(run)));
  QCOMPARE(tree->model()->rowCount(), 1);
  QCOMPARE(tree->model()->index(0, 1).data().toString(), QStringLiteral("! mod.big"));
}

QTEST_MAIN(OrderWindowTest)
// Not the target alone: any archive of the order that another program
// rewrites is named in the bar, nothing more is read from it as it was
// opened, and Reload reads it again.
void OrderWindowTest::AnotherArchiveChangedOnDiskIsToldAndReadAgain() {
#ifdef _WIN32
  QSKIP("not on Windows: no other program can rewrite an archive held open there");
#else
  CTestSettings settings;
  CTempDir dir;
  CEditorRun run({ToQ(WriteThreeArchives(dir))});
  QVERIFY(run.Started());
  CTarnEditorDoc* document = run.Documents()[0];
  CDiskBar* bar = run.Active()->GetDiskBar();
  QVERIFY(bar != nullptr && bar->isHidden());

  // The same size, so that only its stamp tells.
  WriteWholeFile(dir.Path() + "/mid.big",
                 CBigBuilder()
                     .Add("a.ini", "MID")
                     .Add("b.ini", "Object Tank\r\n  Speed = 21\r\nEnd\r\n")
                     .Add("c.ini", "c")
                     .Build());
  document->GetDiskWatch().CheckNow();
  QVERIFY(!bar->isHidden());
  QVERIFY2(bar->GetLabel()->text().contains(QLatin1String("mid.big in place")),
           qPrintable(bar->GetLabel()->text()));
  QVERIFY(!document->Shown().ShownBytesIntact());

  bar->GetReload()->click();
  QVERIFY(bar->isHidden());
  QVERIFY(document->Shown().ShownBytesIntact());
  QCOMPARE(document->Shown().Bytes("a.ini")->View(), std::string_view("MID"));
  QCOMPARE(FromColumn(TreeOf(run.Active()))[QStringLiteral("b.ini")], QStringLiteral("! mod.big"));
#endif
}

#include "order_window_test.moc"
