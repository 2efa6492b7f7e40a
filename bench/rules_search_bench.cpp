// Find in Rules against tarn grep on the same archive, in the same run:
// rules_search_bench ARCHIVE PATTERN [RUNS]. The editor (offscreen) has the
// archive open; each run is timed from the search's start to its last
// match in the pane, and each tarn grep -i run (a process of its own, which
// opens the archive itself) from its start to its exit, the two taking
// turns so that both meet the same machine. Prints the best and the median
// of each and their ratio. Given a load-order file, it also times the search
// with "Shadowed copies too" checked, in the same turns, against unchecked.
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QProcess>
#include <QSignalBlocker>
#include <QTreeView>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/shell/main_frame.h"
#include "app/search/rules_search_pane.h"
#include "app/shell/tarn_editor_app.h"
#include "bench/editor_bench_support.h"

namespace {

using Clock = BenchClock;

struct CTimes {
  std::vector<double> millis;
  double Best() const { return *std::min_element(millis.begin(), millis.end()); }
  double Median() const {
    std::vector<double> sorted = millis;
    std::sort(sorted.begin(), sorted.end());
    return sorted[sorted.size() / 2];
  }
};

// tarn grep -i of the same, a process with its open, in milliseconds.
double TimeGrep(const QString& archive, const QString& pattern) {
  QProcess tarn;
  tarn.setStandardOutputFile(QProcess::nullDevice());
  const Clock::time_point start = Clock::now();
  tarn.start(QStringLiteral(TARN_BIN_DIR "/tarn"),
             {QStringLiteral("grep"), QStringLiteral("-i"), pattern,
              archive.endsWith(QLatin1String(".order")) ? QLatin1Char('@') + archive : archive});
  tarn.waitForFinished(-1);
  return Millis(Clock::now() - start);
}

void Report(const QString& pattern, int matches, const CTimes& pane, const CTimes& tarn,
            const CTimes* copies, int copyMatches) {
  std::printf("Find in Rules \"%s\": %d matches; best %.1f ms, median %.1f ms\n",
              qPrintable(pattern), matches, pane.Best(), pane.Median());
  std::printf("tarn grep -i (process, with its open): best %.1f ms, median %.1f ms\n", tarn.Best(),
              tarn.Median());
  std::printf("ratio Find in Rules / tarn grep: best %.2fx, median %.2fx (target 2x or less)\n",
              pane.Best() / tarn.Best(), pane.Median() / tarn.Median());
  if (copies != nullptr) {
    std::printf(
        "with Shadowed copies too: %d matches; best %.1f ms, median %.1f ms; %.2fx the "
        "search of the winners (median)\n",
        copyMatches, copies->Best(), copies->Median(), copies->Median() / pane.Median());
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: rules_search_bench ARCHIVE PATTERN [RUNS]\n");
    return 2;
  }
  qInstallMessageHandler(&QuietSizeHints);
  const QString archive = QString::fromLocal8Bit(argv[1]);
  const QString pattern = QString::fromLocal8Bit(argv[2]);
  const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 10;

  CBenchApplication application(argc, argv);
  CTarnEditorApp app;
  app.SetArguments({archive});
  if (!app.InitInstance()) return 1;
  QCoreApplication::processEvents();
  auto* main = static_cast<CMainFrame*>(app.GetMainWnd());
  CRulesSearchPane* pane = main->GetRulesSearch();
  pane->Begin();
  pane->GetField()->setText(pattern);

  const auto search = [&] {
    const Clock::time_point start = Clock::now();
    pane->Search();
    while (pane->IsSearching()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return Millis(Clock::now() - start);
  };
  const auto grep = [&] { return TimeGrep(archive, pattern); };
  QCheckBox* copies = pane->GetCopiesBox();
  const bool order = !copies->isHidden();
  const auto searchCopies = [&] {
    // Its toggle would search at once, outside the time taken.
    const QSignalBlocker quiet(copies);
    copies->setChecked(true);
    const double millis = search();
    copies->setChecked(false);
    return millis;
  };
  search();  // warm: the archive's pages and the code
  grep();
  if (order) searchCopies();
  CTimes pane_, tarn_, copies_;
  int copyMatches = 0;
  for (int i = 0; i < runs; ++i) {
    pane_.millis.push_back(search());
    tarn_.millis.push_back(grep());
    if (!order) continue;
    copies_.millis.push_back(searchCopies());
    copyMatches = pane->GetResults()->model()->rowCount();
  }
  if (order) search();
  const int matches = pane->GetResults()->model()->rowCount();
  Report(pattern, matches, pane_, tarn_, order ? &copies_ : nullptr, copyMatches);
  app.ExitInstance();
  return 0;
}
