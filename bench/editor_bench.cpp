// The editor at scale, offscreen, next to the command-line tool on the same
// input in the same run:
//
//   1. open an archive of 200,000 entries (TARN_BENCH_ENTRIES), records in
//      shuffled order, until its tree has painted, and
//      the memory that adds, against `tarn list` of that archive;
//   2. select an entry of 50,000 rows until the list is filled, fitted and
//      painted, against `tarn show` of that entry;
//   3. in that entry, edit a value, undo and redo, each until the list is
//      painted again (the target: 50 ms each).
//
// Each figure is the median of several runs. `tarn` runs as a process with
// its output going to /dev/null; its time includes starting the process.
#include <QApplication>
#include <QItemSelectionModel>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/shell/child_frame.h"
#include "app/edit/entry_editor.h"
#include "app/document/entry_hooks.h"
#include "app/framework/doc_template.h"
#include "app/tree/left_view.h"
#include "app/shell/tarn_editor_app.h"
#include "app/document/tarn_editor_doc.h"
#include "app/rows/tarn_editor_view.h"
#include "bench/bench_data.h"
#include "bench/editor_bench_support.h"
#include "tests/support/big_builder.h"


namespace {

// TARN_BENCH_ENTRIES=1000000 measures at the format's scale.
const uint32_t kEntries = [] {
  const QByteArray given = qgetenv("TARN_BENCH_ENTRIES");
  return given.isEmpty() ? 200000u : given.toUInt();
}();
constexpr int kListRows = 50000;
// TARN_BENCH_RUNS=200 gives a profiler enough of each part to see.
const int kRuns = [] {
  const QByteArray given = qgetenv("TARN_BENCH_RUNS");
  return given.isEmpty() ? 7 : std::max(1, given.toInt());
}();

using Clock = BenchClock;

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// A spawned child takes over this process's peak memory at exec, so its own
// peak is read through GNU time, which starts it from a small process of its
// own. -1 where there is no GNU time.
long ToolPeakKb(const std::string& scratchDir, const std::vector<std::string>& args) {
  if (::access("/usr/bin/time", X_OK) != 0) return -1;
  const std::string report = scratchDir + "/peak";
  std::vector<std::string> timed = {"/usr/bin/time", "-f", "%M", "-o", report};
  timed.insert(timed.end(), args.begin(), args.end());
  RunTool(timed);
  long kb = -1;
  std::ifstream(report) >> kb;
  return kb;
}

long HeapKb() { return static_cast<long>(mallinfo2().uordblks / 1024); }

// An entry of exactly `rows` rows: blocks of 100 lines, one nested block each.
std::string ManyRowsText(int rows) {
  std::string text;
  int made = 0;
  for (int block = 0; made < rows; ++block) {
    text += "Object Unit" + std::to_string(block) + "\n";
    ++made;
    for (int line = 0; line < 97 && made < rows; ++line, ++made) {
      text +=
          "  Key" + std::to_string(line) + " = Value " + std::to_string(block * 97 + line) + "\n";
    }
    if (made + 2 <= rows) {
      text += "  Draw = Model\n    Scale 2\n  End\n";
      made += 2;
    }
    text += "End\n";
  }
  return text;
}

void Settle() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QCoreApplication::processEvents();
}

// The document's own share of an open: the archive read into the entry
// map. Nothing when it cannot be read.
std::optional<double> EntryMapMillis(const std::string& path) {
  std::vector<double> mapTimes;
  for (int i = 0; i < kRuns; ++i) {
    CEntryMap entries;
    const Clock::time_point start = Clock::now();
    if (!OpenArchiveEntries(path, entries).IsOk()) return std::nullopt;
    mapTimes.push_back(Millis(Clock::now() - start));
  }
  return Median(mapTimes);
}

// What step 2 times, as a function of its own so that a profiler can be
// told to count only this: valgrind --tool=callgrind
// --toggle-collect='*SelectAndPaint*'.
[[gnu::noinline]] void SelectAndPaint(CLeftView* tree, CTarnEditorView* list,
                                      const QModelIndex& item) {
  tree->selectionModel()->setCurrentIndex(item, QItemSelectionModel::ClearAndSelect);
  QCoreApplication::processEvents();
  list->viewport()->repaint();
}

// Step 1: `tarn list` against the editor's open to a painted tree, with
// the memory each takes.
bool MeasureOpen(CTarnEditorApp& app, const std::string& tarn, const std::string& wide,
                 const std::string& scratchDir) {
  std::vector<double> toolTimes, editorTimes;
  const long toolRss = ToolPeakKb(scratchDir, {tarn, "list", wide});
  long addedRssKb = 0, addedHeapKb = 0;
  // The tool and the editor take turns: memory the system has just taken
  // back is slow to touch again on some virtual machines, and each should
  // meet it as often as the other.
  for (int i = 0; i < kRuns; ++i) {
    toolTimes.push_back(RunTool({tarn, "list", wide}));
    malloc_trim(0);
    const long rssBefore = ResidentKb();
    const long heapBefore = HeapKb();
    const Clock::time_point start = Clock::now();
    const auto [document, frame, tree] = OpenArchive(app, wide);
    if (document == nullptr) return false;
    QCoreApplication::processEvents();
    tree->viewport()->repaint();
    editorTimes.push_back(Millis(Clock::now() - start));
    if (tree->model()->rowCount() != static_cast<int>(kEntries)) return false;
    addedRssKb = ResidentKb() - rssBefore;
    addedHeapKb = HeapKb() - heapBefore;
    document->OnCloseDocument();
    Settle();
  }
  const std::optional<double> mapMillis = EntryMapMillis(wide);
  if (!mapMillis) return false;
  const double toolOpen = Median(toolTimes), editorOpen = Median(editorTimes);
  std::printf("\n%u entries: open to painted tree\n", kEntries);
  if (toolRss >= 0)
    std::printf("  tarn list (process)      %8.1f ms   peak RSS %ld KiB\n", toolOpen, toolRss);
  else
    std::printf("  tarn list (process)      %8.1f ms   (peak RSS: no /usr/bin/time)\n", toolOpen);
  std::printf("  editor open + paint      %8.1f ms   RSS added %ld KiB, heap added %ld KiB\n",
              editorOpen, addedRssKb, addedHeapKb);
  std::printf("    of which entry map     %8.1f ms\n", *mapMillis);
  std::printf("  ratio                    %8.2fx\n", editorOpen / toolOpen);
  return true;
}

// Step 1b: the same archive opened into View > Folders, taking turns with
// the flat list: the folder index is built in one pass over the names.
bool MeasureFolders(CTarnEditorApp& app, const std::string& wide) {
  std::vector<double> flatTimes, folderTimes, indexTimes;
  long indexHeapKb = 0;
  for (int i = 0; i < 2 * kRuns; ++i) {
    const bool folders = i % 2 == 1;
    malloc_trim(0);
    const Clock::time_point start = Clock::now();
    const auto [document, frame, tree] = OpenArchive(app, wide);
    if (document == nullptr) return false;
    QCoreApplication::processEvents();
    if (folders) {
      const long heapBefore = HeapKb();
      const Clock::time_point toggle = Clock::now();
      tree->SetShowFolders(true);
      indexTimes.push_back(Millis(Clock::now() - toggle));
      indexHeapKb = HeapKb() - heapBefore;
    }
    tree->viewport()->repaint();
    (folders ? folderTimes : flatTimes).push_back(Millis(Clock::now() - start));
    document->OnCloseDocument();
    Settle();
  }
  std::printf("\n%u entries: open to painted tree, flat list against View > Folders\n", kEntries);
  std::printf("  flat list                %8.1f ms\n", Median(flatTimes));
  std::printf(
      "  folders                  %8.1f ms   (of which the folder index %.1f ms, heap %ld KiB)\n",
      Median(folderTimes), Median(indexTimes), indexHeapKb);
  std::printf("  ratio                    %8.2fx\n", Median(folderTimes) / Median(flatTimes));
  return true;
}

// Step 2: `tarn show` against selecting the entry of many rows. Leaves
// `tall` open for step 3; a document of null when it could not be opened
// or its list was not filled.
COpened MeasureSelect(CTarnEditorApp& app, const std::string& tarn, const std::string& tall) {
  std::vector<double> toolTimes, editorTimes;
  for (int i = 0; i < kRuns; ++i) toolTimes.push_back(RunTool({tarn, "show", tall, "Big.ini"}));
  const COpened opened = OpenArchive(app, tall);
  if (opened.document == nullptr) return opened;
  CTarnEditorView* list = opened.frame->GetRightPane();
  Settle();
  const QModelIndex big = opened.tree->model()->index(0, 0);
  const QModelIndex small = opened.tree->model()->index(1, 0);
  for (int i = 0; i < kRuns; ++i) {
    opened.tree->selectionModel()->setCurrentIndex(small, QItemSelectionModel::ClearAndSelect);
    Settle();
    const Clock::time_point start = Clock::now();
    SelectAndPaint(opened.tree, list, big);
    editorTimes.push_back(Millis(Clock::now() - start));
    if (list->model()->rowCount() != kListRows) {
      std::fprintf(stderr, "expected %d rows, got %d\n", kListRows, list->model()->rowCount());
      return {};
    }
  }
  const double toolShow = Median(toolTimes), editorShow = Median(editorTimes);
  std::printf("\nentry of %d rows: select to filled, fitted and painted list\n", kListRows);
  std::printf("  tarn show (process)      %8.1f ms\n", toolShow);
  std::printf("  editor select + paint    %8.1f ms   (columns %d and %d px)\n", editorShow,
              list->GetColumnWidth(0), list->GetColumnWidth(1));
  std::printf("  ratio                    %8.2fx\n", editorShow / toolShow);
  return opened;
}

// Step 3: edit a value of the entry step 2 selected, undo and redo.
void MeasureEdit(const COpened& opened) {
  CTarnEditorDoc* document = opened.document;
  CTarnEditorView* list = opened.frame->GetRightPane();
  std::vector<double> editTimes, undoTimes, redoTimes;
  const CRulesRows& rows = list->GetModel()->GetRows();
  const size_t row = static_cast<size_t>(kListRows / 2);
  const size_t offset = rows.ValueOffset(rows[row]);
  const size_t size = rows[row].value.size();
  const auto timed = [&](std::vector<double>& times, auto&& action) {
    const Clock::time_point start = Clock::now();
    action();
    Settle();
    list->viewport()->repaint();
    times.push_back(Millis(Clock::now() - start));
  };
  for (int i = 0; i < kRuns; ++i) {
    const QString value = QStringLiteral("Edited %1").arg(i);
    timed(editTimes, [&] { document->GetHooks()->EditValue("Big.ini", offset, size, value); });
    timed(undoTimes, [&] { document->GetUndoStack().undo(); });
    timed(redoTimes, [&] { document->GetUndoStack().redo(); });
    document->GetUndoStack().undo();
    Settle();
  }
  std::printf("\nentry of %d rows: change to repainted list\n", kListRows);
  std::printf("  edit a value             %8.1f ms\n", Median(editTimes));
  std::printf("  undo                     %8.1f ms\n", Median(undoTimes));
  std::printf("  redo                     %8.1f ms\n", Median(redoTimes));
}

}  // namespace

int main(int argc, char** argv) {
  const std::string tarn = std::string(TARN_BIN_DIR) + "/tarn";
  CTempDir dir;
  std::printf("writing archives...\n");
  const std::string wide = dir.Write("wide.big", MakeBenchArchive(kEntries, 1, true));
  const std::string rowsText = ManyRowsText(kListRows);
  const std::string tall = dir.Write(
      "tall.big", CBigBuilder().Add("Big.ini", rowsText).Add("Small.ini", "A B\nEnd\n").Build());

  CBenchApplication application(argc, argv);
  CTarnEditorApp app;
  if (!app.InitInstance()) return 1;
  Settle();
  if (!MeasureOpen(app, tarn, wide, application.GetScratchPath().toStdString())) return 1;
  if (!MeasureFolders(app, wide)) return 1;
  const COpened opened = MeasureSelect(app, tarn, tall);
  if (opened.document == nullptr) return 1;
  MeasureEdit(opened);
  app.ExitInstance();
  return 0;
}
