// A load order in the editor, offscreen, next to `tarn overrides` of the
// same archives in the same run (bench/load_order_bench.sh makes them):
//
//   1. open the load-order file until its tree has painted, against
//      `tarn overrides @FILE` (the target: 2x or less), and the memory that
//      adds against the sum of each archive opened alone (1.3x or less);
//   2. move one archive up, and leave one out and take it back, each until
//      the tree has painted again (the target: 100 ms);
//   3. Show Its Entries on the first archive (every entry of it, won, lost
//      or unique) and Show All Entries, each until painted (100 ms);
//   4. a value of an entry another archive wins changed and saved into the
//      target, against the same in the target opened alone (as fast).
//
//   order_window_bench TARN ORDER_FILE ARCHIVE... [--runs N]
#include <QApplication>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <malloc.h>

#include "app/document/entry_hooks.h"
#include "app/document/tarn_editor_doc.h"
#include "app/framework/splitter.h"
#include "app/refs/rules_references.h"
#include "app/shell/child_frame.h"
#include "app/shell/main_frame.h"
#include "app/shell/tarn_editor_app.h"
#include "app/tree/left_view.h"
#include "archive/shown_order.h"
#include "rules/rules_parser.h"
#include "rules/rules_rows.h"
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

// Until the window's references index, built beside it, is ready.
void WaitForIndex(const COpened& opened) {
  const auto* references = dynamic_cast<const CRulesReferences*>(opened.document->GetLinks());
  while (references != nullptr && (references->GetIndex() == nullptr || references->IsBuilding()))
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// The memory an open adds, measured with the window open and its references
// index built: measured while the index is built beside the window, the
// figure said how far it had come.
long AddedKb(CTarnEditorApp& app, const std::string& path) {
  malloc_trim(0);
  const long before = ResidentKb();
  const COpened opened = OpenPainted(app, path);
  if (opened.document == nullptr) std::exit(1);
  WaitForIndex(opened);
  malloc_trim(0);
  const long added = ResidentKb() - before;
  opened.document->OnCloseDocument();
  Settle();
  return added;
}

struct CTimes {
  std::vector<double> tool, open, move, leave, wins, its, all;
};

// Step 1's times and step 2's, taking turns with tarn.
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

// The first entry of `entries` that `pick` accepts and holds a row with a
// value: its name, and where the value lies in its text.
struct CValue {
  std::string name;
  size_t offset = 0, size = 0;
};
template <typename Pick>
std::optional<CValue> FirstValue(const CEntryMap& entries, Pick&& pick) {
  for (size_t i = 0; i < entries.size(); ++i) {
    if (!pick(i)) continue;
    const CDataBuffer bytes = entries.BufferAt(i);
    CRulesParser parser;
    parser.SetSourceBytes(bytes.View());
    parser.Parse();
    const CRulesRows rows(parser);
    for (size_t r = 0; r < rows.size(); ++r)
      if (!rows[r].value.empty())
        return CValue{std::string(entries.NameAt(i)), rows.ValueOffset(rows[r]),
                      rows[r].value.size()};
  }
  return std::nullopt;
}

// A value changed and the archive saved, until the tree has painted again;
// the value then holds the new text.
double EditAndSave(const COpened& opened, CValue& value, int run) {
  const QString text = QStringLiteral("Edited %1").arg(run % 10);
  const Clock::time_point start = Clock::now();
  if (!opened.document->GetHooks()->EditValue(value.name, value.offset, value.size, text))
    return -1;
  value.size = static_cast<size_t>(text.size());
  opened.document->OnFileSave();
  Settle();
  opened.tree->viewport()->repaint();
  const double took = Millis(Clock::now() - start);
  return opened.document->IsModified() ? -1 : took;
}

// 4. A value of an entry another archive wins, changed into the target
// and saved, against a value of the target's own changed in the target
// opened alone (a copy of it, so that each saves what it opened).
bool MeasureEditAndSave(CTarnEditorApp& app, const std::string& order, const std::string& target,
                        int runs) {
  const std::string alone = target + ".alone.big";
  std::filesystem::copy_file(target, alone, std::filesystem::copy_options::overwrite_existing);
  const COpened single = OpenPainted(app, alone);
  const COpened window = OpenPainted(app, order);
  if (single.document == nullptr || window.document == nullptr || !window.document->IsLoadOrder())
    return false;
  std::optional<CValue> own =
      FirstValue(single.document->Shown().Opened(), [](size_t) { return true; });
  const CShownOrder& shown = *window.document->Shown().Order();
  // Won by another archive: the first save puts a copy of it into the target.
  std::optional<CValue> shadowed = FirstValue(*shown.Composed(), [&](size_t i) {
    return shown.Names()[i].archive != shown.Target() && shown.Names()[i].count > 0;
  });
  if (!own || !shadowed) return false;
  std::vector<double> alone_times, order_times;
  // Each save is timed on its own, in the window in front, as a person
  // saves: a window behind the other never painted its tree again, which
  // spared the archive alone its repaint. The index that the last edit or
  // save started rebuilding beside a window (five times larger for the
  // order) would take a core from the next, and the one that saves second
  // has the first's file still being written back: which goes first
  // alternates.
  const auto timed = [&](const COpened& opened, CValue& value, int run) {
    opened.frame->ActivateFrame();
    Settle();
    WaitForIndex(single);
    WaitForIndex(window);
    return EditAndSave(opened, value, run);
  };
  for (int i = 0; i < runs; ++i) {
    if (i % 2 == 0) alone_times.push_back(timed(single, *own, i));
    order_times.push_back(timed(window, *shadowed, i));
    if (i % 2 == 1) alone_times.push_back(timed(single, *own, i));
  }
  single.document->OnCloseDocument();
  window.document->OnCloseDocument();
  Settle();
  std::filesystem::remove(alone);
  if (*std::min_element(alone_times.begin(), alone_times.end()) < 0 ||
      *std::min_element(order_times.begin(), order_times.end()) < 0)
    return false;
  const double inOrder = Median(order_times), inAlone = Median(alone_times);
  // A window's first save costs more than its later ones in either window
  // (memory and pages new to the process): first is set against first.
  std::printf(
      "  edit a value and save    %8.1f ms   into the target, against %.1f ms in it "
      "alone: %.2fx\n",
      inOrder, inAlone, inOrder / inAlone);
  std::printf(
      "  the first of each         %8.1f ms   into the target (a copy taken in), against "
      "%.1f ms alone: %.2fx\n",
      order_times.front(), alone_times.front(), order_times.front() / alone_times.front());
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
  // Last: it writes the target.
  if (!MeasureEditAndSave(app, order, archives.back(), runs)) {
    std::fprintf(stderr, "order_window_bench: the edit and save could not be measured\n");
    return 1;
  }
  app.ExitInstance();
  return 0;
}
