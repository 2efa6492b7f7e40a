// Two hundred archive windows opened and closed the ways a user does it, and
// nothing left behind: after the last window of a document closes, the
// archive is neither mapped nor open, and the process holds exactly the
// descriptors it held before. In the sanitizer build LeakSanitizer checks
// the rest when the program ends.
#include <QStringList>

#include <string>

#include "editor_fixture.h"
#include "tests/support/big_builder.h"
#include "tests/support/process_probe.h"

namespace {

constexpr int kCycles = 200;
constexpr int kEntries = 6;

std::string RulesArchive(const std::string& tag) {
  CBigBuilder builder;
  for (int e = 0; e < kEntries; ++e) {
    std::string text;
    for (int b = 0; b < 40; ++b) {
      text += "Object " + tag + std::to_string(e) + "_" + std::to_string(b) + "\n";
      text += "  Speed = " + std::to_string(b * 3) + "\n  Draw = Model\n    Scale 2\n  End\nEnd\n";
    }
    builder.Add("Data\\INI\\" + tag + std::to_string(e) + ".ini", text);
  }
  return builder.Build();
}

QString DescribeDescriptors() {
  QStringList lines;
  for (const std::string& line : ListOpenDescriptors()) lines << ToQ(line);
  return lines.join(QStringLiteral("; "));
}

}  // namespace

class OpenCloseTest : public QObject {
  Q_OBJECT

 private:
  CTestSettings m_settings;
  CTempDir m_dir;

 private slots:
  void windowsOpenedAndClosedTwoHundredTimesLeaveNothingBehind() {
    const CHangGuard guard(100, "open/close cycles");
    const std::string path = m_dir.Write("cycled.big", RulesArchive("Unit"));
    const std::string other = m_dir.Write("other.big", RulesArchive("Tool"));
    CEditorRun run;
    QVERIFY(run.Started());

    // The first window loads fonts, styles and plugins that stay for the
    // program's life; what the cycles must give back is counted after it.
    run.Answer(ToQ(other));
    QVERIFY(run.Command(ID_FILE_OPEN));
    ClickTreeRow(TreeOf(run.Active()), 1);
    QVERIFY(run.Command(ID_WINDOW_NEW));
    QVERIFY(run.Command(ID_FILE_CLOSE));
    CEditorRun::Settle();
    QVERIFY(!HoldsArchive(other));
    QVERIFY(!HoldsArchive(path));
    const int descriptorsBefore = CountSettledDescriptors();

    for (int cycle = 0; cycle < kCycles; ++cycle) {
      const QString at = QStringLiteral("cycle %1").arg(cycle);
      // The way File Open goes, or its shortcut through the recent files.
      if (cycle % 5 == 4) {
        QVERIFY2(run.Command(ID_FILE_MRU_FILE1), qPrintable(at));
      } else {
        run.Answer(ToQ(path));
        QVERIFY2(run.Command(ID_FILE_OPEN), qPrintable(at));
      }
      QVERIFY2(run.Documents().size() == 1 && run.Frames().size() == 1, qPrintable(at));
      QVERIFY2(IsMapped(path) && CountDescriptorsOn(path) > 0, qPrintable(at));

      // The list takes a share of the selected entry's bytes.
      CChildFrame* first = run.Active();
      ClickTreeRow(TreeOf(first), cycle % kEntries);
      QVERIFY2(ListOf(first)->model()->rowCount() > 0, qPrintable(at));

      const bool twoWindows = cycle % 2 == 1;
      CChildFrame* second = nullptr;
      if (twoWindows) {
        QVERIFY2(run.Command(ID_WINDOW_NEW), qPrintable(at));
        second = run.Active();
        QVERIFY2(second != first, qPrintable(at));
        ClickTreeRow(TreeOf(second), (cycle + 1) % kEntries);
        QVERIFY2(ListOf(second)->model()->rowCount() > 0, qPrintable(at));
      }

      switch (cycle / 2 % 3) {
        case 0:
          // File Close takes every window of the document at once.
          QVERIFY2(run.Command(ID_FILE_CLOSE), qPrintable(at));
          break;
        case 1:
        case 2: {
          // One window at a time, the older or the newer first: the
          // document and its archive stay while any window shows them.
          CChildFrame* closedFirst = cycle / 2 % 3 == 1 || !second ? first : second;
          CChildFrame* closedLast = closedFirst == first ? second : first;
          closedFirst->close();
          CEditorRun::Settle();
          if (closedLast != nullptr) {
            QVERIFY2(run.Documents().size() == 1, qPrintable(at));
            QVERIFY2(IsMapped(path), qPrintable(at));
            QVERIFY2(ListOf(closedLast)->model()->rowCount() > 0, qPrintable(at));
            closedLast->close();
          }
          break;
        }
      }
      CEditorRun::Settle();
      QVERIFY2(run.Documents().empty() && run.Frames().empty(), qPrintable(at));
      QVERIFY2(!IsMapped(path), qPrintable(at + ": the archive is still mapped"));
      QVERIFY2(CountDescriptorsOn(path) == 0, qPrintable(at + ": the archive is still open"));
    }
    QVERIFY2(CountSettledDescriptors() == descriptorsBefore,
             qPrintable(QStringLiteral("%1 descriptors before the cycles, now: %2")
                            .arg(descriptorsBefore)
                            .arg(DescribeDescriptors())));

    // Exit with a document open lets it go too.
    run.Answer(ToQ(path));
    QVERIFY(run.Command(ID_FILE_OPEN));
    ClickTreeRow(TreeOf(run.Active()), 0);
    QVERIFY(run.Command(ID_APP_EXIT));
    CEditorRun::Settle();
    QVERIFY(run.Documents().empty());
    QVERIFY(!HoldsArchive(path));
  }
};

QTEST_MAIN(OpenCloseTest)
#include "open_close_test.moc"
