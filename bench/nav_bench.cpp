// Going to a definition at scale, offscreen: an archive of 200,000 rules
// entries that reference each other is open, its references index built
// beside the window; the list shows an entry and F12 is pressed on a row
// whose value names a block of another entry. Each F12 is timed from the key
// event to both panes repainted with the definition selected, and Alt+Left
// back likewise. Also: how long the index took beside the window, its
// memory against the rules bytes, and what Find References, the problems
// and one key's completions cost on the window's thread.
#include <QApplication>
#include <QKeyEvent>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "app/document/tarn_editor_doc.h"
#include "app/framework/splitter.h"
#include "app/refs/reference_places.h"
#include "app/refs/rules_references.h"
#include "app/rows/tarn_editor_view.h"
#include "app/shell/child_frame.h"
#include "app/shell/tarn_editor_app.h"
#include "app/tree/left_view.h"
#include "bench/bench_data.h"
#include "bench/editor_bench_support.h"
#include "tests/support/big_builder.h"

namespace {

constexpr uint32_t kEntries = 200000;
constexpr size_t kEntryBytes = 400;
constexpr size_t kJumps = 60;

using Clock = BenchClock;

struct CTimes {
  std::vector<double> millis;
  void Print(const char* what) {
    std::sort(millis.begin(), millis.end());
    std::printf("  %-34s %3zu times  median %6.2f ms   max %6.2f ms\n", what, millis.size(),
                millis[millis.size() / 2], millis.back());
  }
};

double TimeKey(CChildFrame* frame, int key, Qt::KeyboardModifiers modifiers) {
  CTarnEditorView* list = frame->GetRightPane();
  auto* tree = qobject_cast<CLeftView*>(frame->GetSplitter()->GetPane(0, 0));
  const Clock::time_point start = Clock::now();
  QKeyEvent press(QEvent::KeyPress, key, modifiers);
  QKeyEvent release(QEvent::KeyRelease, key, modifiers);
  QApplication::sendEvent(list, &press);
  QApplication::sendEvent(list, &release);
  QCoreApplication::processEvents();
  tree->viewport()->repaint();
  list->viewport()->repaint();
  return Millis(Clock::now() - start);
}

// The first row of `entry` whose value links to a block of another entry.
std::optional<CRowPlace> LinkIn(const CRulesIndex& index, uint32_t entry) {
  const std::vector<CRulesSource>& sources = index.Sources();
  std::optional<CRowPlace> found;
  CRulesParser parser;
  parser.SetSourceBytes(sources[entry].Bytes());
  parser.Parse();
  size_t row = 0;
  parser.ForEachRow([&](const CRulesRow& cells) {
    if (!found && cells.depth > 0) {
      ForEachValueToken(cells.value, [&](std::string_view token) {
        for (const CRulesDefinition* d : index.DefinitionsOf(token))
          if (d->entry != entry && !found)
            found = CRowPlace{std::string(sources[entry].Name()), row};
      });
    }
    ++row;
  });
  return found;
}

template <typename Work>
double TimeOnce(Work&& work) {
  const Clock::time_point start = Clock::now();
  work();
  return Millis(Clock::now() - start);
}

// Waits for the first index of the open archive; what it took from the
// open, and the longest the window waited for an event meanwhile.
const CRulesIndex* WaitForIndex(CRulesReferences& references, Clock::time_point opening) {
  // The window answers while the index is built: the longest wait for an
  // event in that time is what the user feels of it.
  double longestTurn = 0;
  while (references.GetIndex() == nullptr || references.IsBuilding()) {
    const double turn = TimeOnce([] { QCoreApplication::processEvents(QEventLoop::AllEvents, 5); });
    longestTurn = std::max(longestTurn, turn);
  }
  const double built = Millis(Clock::now() - opening);
  const CRulesIndex& index = *references.GetIndex();
  double rulesBytes = 0;
  for (const CRulesSource& source : index.Sources())
    rulesBytes += static_cast<double>(source.Bytes().size());
  const auto indexBytes = static_cast<double>(index.MemoryBytes());
  std::printf("\n%zu rules entries, %.1f MB of rules\n", index.Sources().size(), rulesBytes / 1e6);
  std::printf("  %-34s %8.0f ms (longest event-loop turn meanwhile %.1f ms)\n",
              "open to index built", built, longestTurn);
  std::printf("  %-34s %8.1f MB (%.1f %% of the rules bytes)\n", "index memory", indexBytes / 1e6,
              100.0 * indexBytes / rulesBytes);
  return &index;
}

// F12 from links spread over the archive, Alt+Left back, and the same
// place selected directly; false when a key did not go where it should.
bool TimeJumps(CChildFrame* frame, const CRulesIndex& index) {
  CTimes jumps, backs, selects;
  const size_t count = index.Sources().size();
  for (size_t i = 0; i < count && jumps.millis.size() < kJumps; ++i) {
    const std::optional<CRowPlace> from = LinkIn(index, static_cast<uint32_t>(i * 7919 % count));
    if (!from) continue;
    frame->SelectEntryRow(from->entry, from->row);
    frame->GetRightPane()->setFocus();
    QCoreApplication::processEvents();
    const std::string before = frame->GetRightPane()->GetEntryName();
    jumps.millis.push_back(TimeKey(frame, Qt::Key_F12, Qt::NoModifier));
    const bool left = frame->GetRightPane()->GetEntryName() != before;
    backs.millis.push_back(TimeKey(frame, Qt::Key_Left, Qt::AltModifier));
    if (!left || frame->GetRightPane()->GetEntryName() != before) {
      std::fprintf(stderr, "F12 or Alt+Left did not go from %s and back\n", before.c_str());
      return false;
    }
    // The same way there as Enter on a match of Find in Rules takes: the
    // selection both panes show, without the index.
    const CRowPlace there = *DefinitionPlace(index, *frame->GetRightPane()->CurrentReference());
    selects.millis.push_back(TimeOnce([&] {
      frame->SelectEntryRow(there.entry, there.row);
      QCoreApplication::processEvents();
      qobject_cast<CLeftView*>(frame->GetSplitter()->GetPane(0, 0))->viewport()->repaint();
      frame->GetRightPane()->viewport()->repaint();
    }));
  }
  std::printf("\nF12 and Alt+Left to painted panes\n");
  jumps.Print("F12 (go to definition)");
  backs.Print("Alt+Left (back)");
  selects.Print("selecting the definition directly");
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  qInstallMessageHandler(&QuietSizeHints);
  CTempDir dir;
  std::printf("writing archive...\n");
  const std::string path =
      dir.Write("refs.big", MakeReferencingRulesArchive(kEntries, kEntryBytes));

  CBenchApplication application(argc, argv);
  CTarnEditorApp app;
  app.SetArguments({QString::fromStdString(path)});
  const Clock::time_point opening = Clock::now();
  if (!app.InitInstance()) return 1;
  auto* frame = static_cast<CChildFrame*>(app.GetMainWnd()->MDIGetActive());
  auto* document = static_cast<CTarnEditorDoc*>(frame->GetActiveDocument());
  auto* references = dynamic_cast<CRulesReferences*>(document->GetLinks());
  if (references == nullptr) return 1;
  const CRulesIndex& index = *WaitForIndex(*references, opening);
  if (!TimeJumps(frame, index)) return 1;

  std::printf("\non the window's thread, once each\n");
  const std::string name(index.NameOf(index.Definitions()[index.Definitions().size() / 2]));
  std::printf("  %-34s %8.1f ms\n", "Find References rows",
              TimeOnce([&] { (void)ReferenceRows(index, name); }));
  std::printf("  %-34s %8.1f ms\n", "problem rows", TimeOnce([&] { (void)ProblemRows(index); }));
  std::printf("\nbeside the window\n");
  std::printf("  %-34s %8.1f ms\n", "completions of one key",
              TimeOnce([&] { (void)CompletionsOf(index, "Projectile"); }));
  app.ExitInstance();
  return 0;
}
