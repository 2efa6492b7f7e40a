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
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

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
#include "tests/support/big_builder.h"

namespace {

constexpr uint32_t kEntries = 200000;

using Clock = std::chrono::steady_clock;

double Millis(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct CTimes {
  std::vector<double> millis;
  void Print(const char* what) {
    std::sort(millis.begin(), millis.end());
    std::printf("  %-34s %3zu keys   median %6.2f ms   max %6.2f ms\n", what, millis.size(),
                millis[millis.size() / 2], millis.back());
  }
};

// One key into `target`, timed until both panes have repainted.
double TimeKey(QWidget* target, int key, Qt::KeyboardModifiers modifiers, const QString& text,
               CLeftView* tree, CTarnEditorView* list) {
  const Clock::time_point start = Clock::now();
  QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
  QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
  QApplication::sendEvent(target, &press);
  QApplication::sendEvent(target, &release);
  QCoreApplication::processEvents();
  tree->viewport()->repaint();
  list->viewport()->repaint();
  return Millis(Clock::now() - start);
}

void Type(const std::string& text, QLineEdit* field, CLeftView* tree, CTarnEditorView* list,
          CTimes& times) {
  for (const char c : text) {
    const QString key(QLatin1Char{c});
    times.millis.push_back(TimeKey(field, 0, Qt::NoModifier, key, tree, list));
  }
}

// The offscreen platform warns on every change of a window's size hints.
void Quiet(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type != QtDebugMsg && !message.contains(QLatin1String("propagateSizeHints"))) {
    std::fprintf(stderr, "%s\n", qPrintable(message));
  }
}

void Clear(QLineEdit* field, CLeftView* tree) {
  field->clear();
  tree->setCurrentIndex(tree->model()->index(0, 0));
  QCoreApplication::processEvents();
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  qInstallMessageHandler(&Quiet);
  CTempDir dir;
  std::printf("writing archive...\n");
  const std::string wide = dir.Write("wide.big", MakeBenchArchive(kEntries));

  QApplication application(argc, argv);
  QTemporaryDir settingsDir;
  QStandardPaths::setTestModeEnabled(true);
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());

  CTarnEditorApp app;
  app.SetArguments({QString::fromStdString(wide)});
  if (!app.InitInstance()) return 1;
  QCoreApplication::processEvents();
  auto* frame = static_cast<CChildFrame*>(app.GetMainWnd()->MDIGetActive());
  auto* tree = qobject_cast<CLeftView*>(frame->GetSplitter()->GetPane(0, 0));
  CTarnEditorView* list = frame->GetRightPane();
  if (tree->model()->rowCount() != static_cast<int>(kEntries)) return 1;
  tree->BeginFind();
  QCoreApplication::processEvents();
  // The find bar's own field: the frame holds other fields (rename, Find in Rules).
  auto* bar = frame->findChild<CEntryFindBar*>();
  QLineEdit* field = bar != nullptr ? bar->GetField() : nullptr;
  if (field == nullptr || !field->isVisible()) {
    std::fprintf(stderr, "the find field did not open\n");
    return 1;
  }

  const CEntryMap& entries = tree->GetModel()->GetEntries();
  const std::string last(entries.NameAt(entries.size() - 1));
  const std::string tail = last.substr(last.size() - std::min<size_t>(last.size(), 14));
  // One pass first, so the names are in memory and the code warm.
  Type(tail, field, tree, list, *new CTimes);
  Clear(field, tree);

  std::printf("\n%u entries: one key in the find field to painted panes\n", kEntries);
  CTimes toLast;
  Type(tail, field, tree, list, toLast);
  const QString found = tree->currentIndex().data().toString();
  toLast.Print("tail of the last name");
  if (found != QString::fromLatin1(last.data(), static_cast<qsizetype>(last.size()))) {
    std::fprintf(stderr, "the last name was not found (at %s)\n", qPrintable(found));
    return 1;
  }

  Clear(field, tree);
  CTimes none;
  Type("#no such name#", field, tree, list, none);
  none.Print("no match (all names, each key)");

  // A folder-like text in a good share of the names; F3 steps through it.
  Clear(field, tree);
  const std::string middle(entries.NameAt(entries.size() / 2));
  const std::string common = middle.substr(0, std::min<size_t>(middle.size(), 6));
  Type(common, field, tree, list, *new CTimes);
  CTimes next;
  double slowest = 0;
  QString slowestEntry;
  for (int i = 0; i < 100; ++i) {
    next.millis.push_back(TimeKey(field, Qt::Key_F3, Qt::NoModifier, QString(), tree, list));
    if (next.millis.back() > slowest) {
      slowest = next.millis.back();
      slowestEntry = app.GetMainWnd()->GetMessageText();
    }
  }
  next.Print(("F3 through \"" + common + "\"").c_str());
  // What the slowest key selected: the list's share of a keystroke grows
  // with the entry it shows.
  std::printf("  %-34s %s\n", "slowest F3 selected", qPrintable(slowestEntry));

  // The search alone, through every name.
  CTimes scan;
  for (int i = 0; i < 21; ++i) {
    const Clock::time_point start = Clock::now();
    if (FindEntry(entries, "#no such name#", 0, FindDirection::Forward)) return 1;
    scan.millis.push_back(Millis(Clock::now() - start));
  }
  std::sort(scan.millis.begin(), scan.millis.end());
  std::printf("  %-34s median %6.2f ms\n", "of which a search of all names", scan.millis[10]);

  app.ExitInstance();
  return 0;
}
