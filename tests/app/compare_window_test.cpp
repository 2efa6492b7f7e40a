// File > Compare With... on a real window, offscreen: the changed entries
// with their marks, the rows a changed rules entry lost and gained set
// apart from the unchanged ones around them, Extract, and the failures said
// in the status bar.
#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QStatusBar>
#include <QTest>
#include <QTreeWidget>

#include <filesystem>
#include <string>

#include "app/compare/compare_window.h"
#include "app/framework/status_bar.h"
#include "editor_fixture.h"
#include "tests/support/big_builder.h"

namespace {

QString StatusText(CEditorRun& run) { return run.Main()->GetStatusBar()->GetPane(0)->text(); }

CCompareWindow* OpenWindow() {
  for (QWidget* widget : QApplication::topLevelWidgets())
    if (auto* window = qobject_cast<CCompareWindow*>(widget);
        window != nullptr && window->isVisible())
      return window;
  return nullptr;
}

// Each row as "MARK|NAME|VALUE|DESCRIPTION".
QStringList Rows(QTreeWidget* tree) {
  QStringList rows;
  for (int r = 0; r < tree->topLevelItemCount(); ++r) {
    QTreeWidgetItem* item = tree->topLevelItem(r);
    QStringList cells;
    for (int c = 0; c < tree->columnCount(); ++c) cells << item->text(c);
    cells << item->data(0, Qt::AccessibleDescriptionRole).toString();
    rows << cells.join(QLatin1Char('|'));
  }
  return rows;
}

}  // namespace

class CompareWindowTest : public QObject {
  Q_OBJECT

 private:
  CTestSettings m_settings;
  CTempDir m_dir;
  std::string m_old;
  std::string m_new;
  std::string m_newTank;

 private slots:
  void initTestCase() {
    std::string lines;
    for (int i = 0; i < 8; ++i)
      lines += "  L" + std::to_string(i) + " = " + std::to_string(i) + "\n";
    m_old = m_dir.Write("old.big",
                        CBigBuilder()
                            .Add("Data\\Gone.ini", "x")
                            .Add("Data\\Tank.ini", "Object Tank\n  Speed = 30\n" + lines + "End\n")
                            .Build());
    m_newTank = "Object Tank\n  Speed = 40\n" + lines + "  Armor = 5\nEnd\n";
    m_new = m_dir.Write("new.big", CBigBuilder()
                                       .Add("Data\\New.ini", "Object N\nEnd\n")
                                       .Add("Data\\Tank.ini", m_newTank)
                                       .Build());
  }

  void theWindowMarksEntriesAndSetsChangedRowsApart() {
    CEditorRun run({ToQ(m_old)});
    run.Answer(ToQ(m_new));
    QVERIFY(run.Command(ID_FILE_COMPARE));
    CCompareWindow* window = OpenWindow();
    QVERIFY(window != nullptr);
    QCOMPARE(Rows(window->GetEntries()),
             QStringList({"- removed|Data\\Gone.ini|removed: Data\\Gone.ini",
                          "+ added|Data\\New.ini|added: Data\\New.ini",
                          "M changed|Data\\Tank.ini|changed: Data\\Tank.ini"}));
    QCOMPARE(StatusText(run), QStringLiteral("3 entries differ"));

    window->GetEntries()->setCurrentItem(window->GetEntries()->topLevelItem(2));
    QCOMPARE(
        Rows(window->GetRows()),
        QStringList({"~|Tank|Object|block changed: Tank Object",
                     "|Tank|Object|unchanged row: Tank Object",
                     "-|    Speed|30|removed row: Speed 30", "+|    Speed|40|added row: Speed 40",
                     "|    L0|0|unchanged row: L0 0", "|    L1|1|unchanged row: L1 1",
                     "|...||unchanged rows not shown", "|    L6|6|unchanged row: L6 6",
                     "|    L7|7|unchanged row: L7 7", "+|    Armor|5|added row: Armor 5"}));
    // Colour is never the only sign: removed rows are struck through,
    // added ones bold, and the marks above say it in text.
    QVERIFY(window->GetRows()->topLevelItem(2)->font(1).strikeOut());
    QVERIFY(window->GetRows()->topLevelItem(3)->font(1).bold());
    QVERIFY(window->GetRows()->topLevelItem(4)->foreground(1).color() !=
            window->GetRows()->topLevelItem(3)->foreground(1).color());

    // Extract writes the compared archive's copy; never over an archive.
    const std::string target = m_dir.Path() + "/tank.ini";
    run.Answer(ToQ(target));
    window->ExtractChange(2);
    QCOMPARE(ReadWholeFile(target), m_newTank);
    run.Answer(ToQ(m_new));
    window->ExtractChange(0);
    QVERIFY(window->statusBar()->currentMessage().startsWith(
        QStringLiteral("Cannot extract Data\\Gone.ini")));
    QVERIFY(ReadWholeFile(m_new).rfind("BIGF", 0) == 0);

    // Extract All writes what a patch needs: the entries added or changed.
    const std::string folder = m_dir.Path() + "/patch";
    run.App().SetFolderDialogHook([&folder](const QString&) { return ToQ(folder); });
    window->ExtractAll();
    QCOMPARE(ReadWholeFile(folder + "/Data/Tank.ini"), m_newTank);
    QCOMPARE(ReadWholeFile(folder + "/Data/New.ini"), std::string("Object N\nEnd\n"));
    QVERIFY(!std::filesystem::exists(folder + "/Data/Gone.ini"));
    QCOMPARE(window->statusBar()->currentMessage(),
             QStringLiteral("Extracted 2 of 2 entries to ") + ToQ(folder));
    // Escape puts the window away.
    const QPointer<CCompareWindow> kept(window);
    QTest::keyClick(window->GetEntries(), Qt::Key_Escape);
    QTRY_VERIFY(kept.isNull());
  }

  void aFileThatIsNoArchiveIsSaidInTheStatusBar() {
    CEditorRun run({ToQ(m_old)});
    const std::string bad = m_dir.Write("bad.big", "not an archive");
    run.Answer(ToQ(bad));
    QVERIFY(run.Command(ID_FILE_COMPARE));
    QVERIFY(OpenWindow() == nullptr);
    QVERIFY2(StatusText(run).startsWith(QStringLiteral("Cannot compare with ") + ToQ(bad) +
                                        QStringLiteral(": ")),
             qPrintable(StatusText(run)));
  }
};

QTEST_MAIN(CompareWindowTest)
#include "compare_window_test.moc"
