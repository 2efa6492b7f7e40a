// A load order in the editor, offscreen, next to `tarn overrides` of the
// same archives in the same run (bench/load_order_bench.sh makes them):
//
//   1. open the load-order file until its tree has painted, against
//      `tarn overrides @FILE` (the target: 2x or less), and the memory that
//      adds against the sum of each archive opened alone (1.3x or less);
//   2. move one archive up, and leave one out and take it back, each until
//      the tree has painted again (the target: 100 ms);
//   3. Show Its Entries on the first archive (every entry of it, won, lost
//      or unique) and Show All Entries, each until painted (100 ms).
//
//   order_window_bench TARN ORDER_FILE ARCHIVE... [--runs N]
#include <QApplication>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <malloc.h>

#include "app/document/tarn_editor_doc.h"
#include "app/framework/splitter.h"
#include "app/shell/child_frame.h"
#include "app/shell/main_frame.h"
#include "app/shell/tarn_editor_app.h"
#include "app/tree/left_view.h"
#include "archive/shown_order.h"
#include "bench/editor_bench_support.h"


namespace {

using Clock = BenchClock;

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void Settle() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QCoreApplication::processEvents();
}

// Opens `path` to a painted tree.
COpened OpenPainted(CTarnEditorApp& app, const std::string& path) {
  const COpened opened = OpenArchive(app, path);
  if (opened.document == nullptr) return opened;
  QCoreApplication::processEvents();
  opened.tree->viewport()->repaint();
  return opened;
}

// The memory an open adds, measured with the window open.
long AddedKb(CTarnEditorApp& app, const std::string& path) {
  malloc_trim(0);
  const long before = ResidentKb();
  const COpened opened = OpenPainted(app, path);
  if (opened.document == nullptr) std::exit(1);
  const long added = ResidentKb() - before;
  opened.document->OnCloseDocument();
  Settle();
  return added;
}

struct CTimes {
  std::vector<double> tool, open, move, leave, wins, its, all;
};

// Part 1's times and part 2's, taking turns with tarn.
bool MeasureRuns(CTarnEditorApp& app, const std::string& tarn, const std::string& order, int runs,
                 CTimes& times) {
  for (int i = 0; i < runs; ++i) {
    times.tool.push_back(RunTool({tarn, "overrides", "@" + order}));
    const Clock::time_point start = Clock::now();
    const COpened opened = OpenPainted(app, order);
    if (opened.document == nullptr || !opened.document->IsLoadOrder()) return false;
    times.open.push_back(Millis(Clock::now() - start));
    // The second archive up and back, the third left out and taken back.
    for (const size_t from : {size_t{1}, size_t{0}}) {
      const Clock::time_point moved = Clock::now();
      opened.document->ChangeOrder([from](CShownOrder& shown) { shown.Move(from, 1 - from); });
      opened.tree->viewport()->repaint();
      times.move.push_back(Millis(Clock::now() - moved));
    }
    for (const bool taken : {false, true}) {
      const Clock::time_point left = Clock::now();
      opened.document->ChangeOrder([taken](CShownOrder& shown) { (void)shown.Take(2, taken); });
      opened.tree->viewport()->repaint();
      times.leave.push_back(Millis(Clock::now() - left));
    }
    // What Show Its Entries showed before it listed lost copies: the names
    // the archive wins, as a filter.
    const Clock::time_point filtered = Clock::now();
    opened.tree->SetEntryFilter([shown = opened.document->Shown().Order()](size_t position) {
      return shown->Names()[position].archive == 0;
    });
    opened.tree->viewport()->repaint();
    times.wins.push_back(Millis(Clock::now() - filtered));
    for (const std::optional<size_t> archive :
         {std::optional<size_t>(0), std::optional<size_t>()}) {
      const Clock::time_point shown = Clock::now();
      opened.tree->ShowArchiveEntries(archive);
      opened.tree->viewport()->repaint();
      (archive ? times.its : times.all).push_back(Millis(Clock::now() - shown));
    }
    opened.document->OnCloseDocument();
    Settle();
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  qInstallMessageHandler(QuietSizeHints);
  int runs = 5;
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else {
      args.emplace_back(argv[i]);
    }
  }
  if (args.size() < 3) {
    std::fprintf(stderr, "usage: order_window_bench TARN ORDER_FILE ARCHIVE... [--runs N]\n");
    return 2;
  }
  const std::string tarn = args[0], order = args[1];
  const std::vector<std::string> archives(args.begin() + 2, args.end());
  int appArgc = 1;
  CBenchApplication bench(appArgc, argv);
  CTarnEditorApp app;
  if (!app.InitInstance()) return 1;

  CTimes times;
  if (!MeasureRuns(app, tarn, order, runs, times)) return 1;
  const long orderKb = AddedKb(app, order);
  long aloneKb = 0;
  for (const std::string& archive : archives) aloneKb += AddedKb(app, archive);

  const double tool = Median(times.tool), open = Median(times.open);
  std::printf("%zu archives: open to painted tree (median of %d)\n", archives.size(), runs);
  std::printf("  tarn overrides @FILE     %8.1f ms\n", tool);
  std::printf("  editor open + paint      %8.1f ms   ratio %.2fx (target 2x)\n", open, open / tool);
  std::printf("  memory added             %8ld KiB  against %ld KiB opened alone, summed: %.2fx "
              "(target 1.3x)\n",
              orderKb, aloneKb, static_cast<double>(orderKb) / static_cast<double>(aloneKb));
  std::printf("  move an archive up       %8.1f ms   (target 100 ms)\n", Median(times.move));
  std::printf("  leave one out / take it  %8.1f ms   (target 100 ms)\n", Median(times.leave));
  std::printf("  the first's wins alone   %8.1f ms\n", Median(times.wins));
  std::printf("  show the first's entries %8.1f ms   ratio %.2fx (target 100 ms)\n",
              Median(times.its), Median(times.its) / Median(times.wins));
  std::printf("  show all entries again   %8.1f ms   (target 100 ms)\n", Median(times.all));
  app.ExitInstance();
  return 0;
}
