// What the benchmarks that drive the editor share: the application they
// run it in, their clock, and opening an archive in a window. Header only,
// so that each benchmark links nothing more than the editor's library.
#pragma once

#include <QApplication>
#include <QSettings>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/document/tarn_editor_doc.h"
#include "app/framework/splitter.h"
#include "app/shell/child_frame.h"
#include "app/shell/main_frame.h"
#include "app/shell/tarn_editor_app.h"
#include "app/tree/left_view.h"

using BenchClock = std::chrono::steady_clock;

inline double Millis(BenchClock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

extern char** environ;

// Runs the tool with its output thrown away; its wall time in milliseconds.
inline double RunTool(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  const BenchClock::time_point start = BenchClock::now();
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
    std::fprintf(stderr, "cannot run %s\n", argv[0]);
    std::exit(1);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  const double millis = Millis(BenchClock::now() - start);
  posix_spawn_file_actions_destroy(&actions);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s failed\n", argv[0]);
    std::exit(1);
  }
  return millis;
}

// This process's resident memory.
inline long ResidentKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return 0;
}

// The offscreen platform warns on every change of a window's size hints;
// install with qInstallMessageHandler to keep the figures readable.
inline void QuietSizeHints(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type != QtDebugMsg && !message.contains(QLatin1String("propagateSizeHints"))) {
    std::fprintf(stderr, "%s\n", qPrintable(message));
  }
}

// The Qt application, offscreen unless QT_QPA_PLATFORM says otherwise, with
// its settings in a folder of its own: a run neither reads nor changes the
// user's recent files and window layout.
class CBenchApplication {
 public:
  CBenchApplication(int& argc, char** argv) : m_application(OffscreenArgc(argc), argv) {
    QStandardPaths::setTestModeEnabled(true);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settings.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settings.path());
  }
  CBenchApplication(const CBenchApplication&) = delete;
  CBenchApplication& operator=(const CBenchApplication&) = delete;

  // A folder for scratch files that goes with the run.
  QString GetScratchPath() const { return m_settings.path(); }

 private:
  // The platform is chosen when QApplication is made, so it is set first.
  static int& OffscreenArgc(int& argc) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    return argc;
  }

  QApplication m_application;
  QTemporaryDir m_settings;
};

// An archive opened in a window of its own: its document (null when it
// could not be opened), the window's frame and its tree.
struct COpened {
  CTarnEditorDoc* document = nullptr;
  CChildFrame* frame = nullptr;
  CLeftView* tree = nullptr;
};
inline COpened OpenArchive(CTarnEditorApp& app, const std::string& path) {
  COpened opened;
  opened.document =
      static_cast<CTarnEditorDoc*>(app.OpenDocumentFile(QString::fromStdString(path)));
  if (opened.document == nullptr) return opened;
  opened.frame = static_cast<CChildFrame*>(app.GetMainWnd()->MDIGetActive());
  opened.tree = qobject_cast<CLeftView*>(opened.frame->GetSplitter()->GetPane(0, 0));
  return opened;
}
