// Find in the editor's tree at scale, offscreen: an archive of 200,000
// entries is open, the find field shows, and text is typed into it one key
// at a time. Each keystroke is timed from the key event to a repainted tree
// and list: the search from the current entry, the selection of the match,
// the list filled from that entry and both panes painted.
//
// Three kinds of typing: the tail of the last entry's name (each key moves
// the search on from where the last one stopped), a text that matches
// nothing (every key walks all 200,000 names), and F3 through a text found
// once in every thousand names or so.
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "app/shell/child_frame.h"
#include "app/tree/entry_find.h"
#include "app/framework/splitter.h"
#include "app/tree/left_view.h"
#include "app/shell/main_frame.h"
#include "app/shell/tarn_editor_app.h"
#include "app/rows/tarn_editor_view.h"
#include "bench/bench_data.h"
#include "bench/editor_bench_support.h"
#include "tests/support/big_builder.h"

namespace {

constexpr uint32_t kEntries = 200000;

using Clock = BenchClock;

struct CTimes {
  std::vector<double> millis;
  void Print(const char* what) {
    std::sort(millis.begin(), millis.end());
    std::printf("  %-34s %3zu keys   median %6.2f ms   max %6.2f ms\n", what, millis.size(),
                millis[millis.size() / 2], millis.back());
  }
};

// The open archive's panes and its find bar's field, which the keys go to.
struct CPanes {
  CLeftView* tree = nullptr;
  CTarnEditorView* list = nullptr;
  QLineEdit* field = nullptr;
};

// One key into the find field, timed until both panes have repainted.
double TimeKey(const CPanes& panes, int key, const QString& text) {
  const Clock::time_point start = Clock::now();
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
  QApplication::sendEvent(panes.field, &press);
  QApplication::sendEvent(panes.field, &release);
  QCoreApplication::processEvents();
  panes.tree->viewport()->repaint();
  panes.list->viewport()->repaint();
  return Millis(Clock::now() - start);
}

void Type(const std::string& text, const CPanes& panes, CTimes& times) {
  for (const char c : text) times.millis.push_back(TimeKey(panes, 0, QString(QLatin1Char{c})));
}

void Clear(const CPanes& panes) {
  panes.field->clear();
  panes.tree->setCurrentIndex(panes.tree->model()->index(0, 0));
  QCoreApplication::processEvents();
}

// The panes of the archive the application opened, with the find field
// shown; a null field when the archive or the field is not as expected.
CPanes OpenFind(CTarnEditorApp& app) {
  auto* frame = static_cast<CChildFrame*>(app.GetMainWnd()->MDIGetActive());
  CPanes panes;
  panes.tree = qobject_cast<CLeftView*>(frame->GetSplitter()->GetPane(0, 0));
  panes.list = frame->GetRightPane();
  if (panes.tree->model()->rowCount() != static_cast<int>(kEntries)) return {};
  panes.tree->BeginFind();
  QCoreApplication::processEvents();
  // The find bar's own field: the frame holds other fields (rename, Find in Rules).
  auto* bar = frame->findChild<CEntryFindBar*>();
  panes.field = bar != nullptr ? bar->GetField() : nullptr;
  if (panes.field == nullptr || !panes.field->isVisible()) {
    std::fprintf(stderr, "the find field did not open\n");
    return {};
  }
  return panes;
}

// Typing the tail of the last name: each key moves the search on from
// where the last one stopped. False when the last name was not found.
bool TypeTailOfLastName(const CPanes& panes, const CEntryMap& entries) {
  const std::string last(entries.NameAt(entries.size() - 1));
  const std::string tail = last.substr(last.size() - std::min<size_t>(last.size(), 14));
  // One pass first, so the names are in memory and the code warm.
  CTimes warm;
  Type(tail, panes, warm);
  Clear(panes);

  std::printf("\n%u entries: one key in the find field to painted panes\n", kEntries);
  CTimes toLast;
  Type(tail, panes, toLast);
  const QString found = panes.tree->currentIndex().data().toString();
  toLast.Print("tail of the last name");
  if (found != QString::fromLatin1(last.data(), static_cast<qsizetype>(last.size()))) {
    std::fprintf(stderr, "the last name was not found (at %s)\n", qPrintable(found));
    return false;
  }
  return true;
}

// F3 through a folder-like text found in a good share of the names.
void StepThroughCommonText(CTarnEditorApp& app, const CPanes& panes, const CEntryMap& entries) {
  const std::string middle(entries.NameAt(entries.size() / 2));
  const std::string common = middle.substr(0, std::min<size_t>(middle.size(), 6));
  CTimes typed;
  Type(common, panes, typed);
  CTimes next;
  double slowest = 0;
  QString slowestEntry;
  for (int i = 0; i < 100; ++i) {
    next.millis.push_back(TimeKey(panes, Qt::Key_F3, QString()));
    if (next.millis.back() > slowest) {
      slowest = next.millis.back();
      slowestEntry = app.GetMainWnd()->GetMessageText();
    }
  }
  next.Print(("F3 through \"" + common + "\"").c_str());
  // What the slowest key selected: the list's share of a keystroke grows
  // with the entry it shows.
  std::printf("  %-34s %s\n", "slowest F3 selected", qPrintable(slowestEntry));
}

// The search alone, through every name. False when it found the text that
// no name holds.
bool TimeSearchAlone(const CEntryMap& entries) {
  CTimes scan;
  for (int i = 0; i < 21; ++i) {
    const Clock::time_point start = Clock::now();
    if (FindEntry(entries, "#no such name#", 0, FindDirection::Forward)) return false;
    scan.millis.push_back(Millis(Clock::now() - start));
  }
  std::sort(scan.millis.begin(), scan.millis.end());
  std::printf("  %-34s median %6.2f ms\n", "of which a search of all names", scan.millis[10]);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  qInstallMessageHandler(&QuietSizeHints);
  CTempDir dir;
  std::printf("writing archive...\n");
  const std::string wide = dir.Write("wide.big", MakeBenchArchive(kEntries));

  CBenchApplication application(argc, argv);
  CTarnEditorApp app;
  app.SetArguments({QString::fromStdString(wide)});
  if (!app.InitInstance()) return 1;
  QCoreApplication::processEvents();
  const CPanes panes = OpenFind(app);
  if (panes.field == nullptr) return 1;
  const CEntryMap& entries = panes.tree->GetModel()->GetEntries();

  if (!TypeTailOfLastName(panes, entries)) return 1;
  // Every key walks all the names.
  Clear(panes);
  CTimes none;
  Type("#no such name#", panes, none);
  none.Print("no match (all names, each key)");
  Clear(panes);
  StepThroughCommonText(app, panes, entries);
  if (!TimeSearchAlone(entries)) return 1;

  app.ExitInstance();
  return 0;
}
