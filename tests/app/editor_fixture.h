// Shared by the editor's window tests: a private settings location, one run
// of the editor from start-up to exit, ways to read what its panes show and
// what the process holds open, and a guard that turns a hang into a failure.
#pragma once

#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QMdiArea>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>

#include <fcntl.h>
#include <stdlib.h>
#ifdef _WIN32
#include <io.h>
#else
#include <signal.h>
#include <unistd.h>
#endif

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/shell/child_frame.h"
#include "app/framework/command_ids.h"
#include "app/framework/doc_template.h"
#include "app/framework/splitter.h"
#include "app/tree/left_view.h"
#include "app/shell/main_frame.h"
#include "app/shell/tarn_editor_app.h"
#include "app/document/tarn_editor_doc.h"
#include "app/rows/tarn_editor_view.h"
#include "tests/support/process_probe.h"

// Makes `link` a symbolic link to `target` where this process may make one:
// Windows asks a privilege for it, and Wine makes none. Elsewhere it throws
// (and the test fails) when it cannot.
inline bool MakeLink(const std::string& target, const std::string& link) {
#ifdef _WIN32
  std::error_code error;
  std::filesystem::create_symlink(target, link, error);
  return !error;
#else
  std::filesystem::create_symlink(target, link);
  return true;
#endif
}

// Every per-user setting of this process goes to a fresh temporary folder
// while the object lives, never to the user's own.
class CTestSettings {
 public:
  CTestSettings() {
    [[maybe_unused]] const bool first = s_alive++ == 0;
    QStandardPaths::setTestModeEnabled(true);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
#ifdef _WIN32
    // Windows keeps them in the registry, which no path redirects: each
    // object starts them empty, and the user's own, put aside by the first
    // of objects whose lives overlap, come back when the last goes.
    QSettings settings = Editor();
    if (first) {
      s_saved.clear();
      for (const QString& key : settings.allKeys()) s_saved.append({key, settings.value(key)});
    }
    settings.clear();
#endif
  }
  ~CTestSettings() {
    [[maybe_unused]] const bool last = --s_alive == 0;
#ifdef _WIN32
    if (!last) return;
    QSettings settings = Editor();
    settings.clear();
    for (const auto& [key, value] : s_saved) settings.setValue(key, value);
#endif
  }
  // Whether one is alive: an editor run without one would read and change
  // the recent files of whoever runs the tests.
  static bool Alive() { return s_alive > 0; }
  CTestSettings(const CTestSettings&) = delete;
  CTestSettings& operator=(const CTestSettings&) = delete;
  QString Path() const { return m_dir.path(); }
  // The recent-file list as stored.
  QStringList StoredRecentFiles() const {
    QSettings settings = Editor();
    settings.beginGroup(QStringLiteral("Recent File List"));
    QStringList files;
    for (int i = 1; i <= 16; ++i) {
      const QString path = settings.value(QStringLiteral("File%1").arg(i)).toString();
      if (!path.isEmpty()) files << path;
    }
    return files;
  }

 private:
  static QSettings Editor() {
    return QSettings(QStringLiteral("Tarn"), QStringLiteral("Tarn Editor"));
  }

  QTemporaryDir m_dir;
  static inline int s_alive = 0;  // objects whose lives overlap
#ifdef _WIN32
  static inline QList<QPair<QString, QVariant>> s_saved;
#endif
};

// One run of the editor: start-up with `arguments` on construction, exit on
// destruction. File dialogs are answered from a queue instead of shown.
class CEditorRun {
 public:
  explicit CEditorRun(const QStringList& arguments = {}) {
    if (!CTestSettings::Alive())
      qFatal("an editor run needs a CTestSettings alive, or it changes the user's own settings");
    m_app.SetArguments(arguments);
    m_app.SetFileDialogHook([this](bool open, const QString& suggested, const QString& title) {
      m_dialogs.append({open, suggested, title});
      return m_answers.isEmpty() ? QString() : m_answers.takeFirst();
    });
    m_started = m_app.InitInstance();
    if (m_started) {
      Main()->activateWindow();
      (void)QTest::qWaitForWindowActive(Main());
    }
  }
  ~CEditorRun() { m_app.ExitInstance(); }
  CEditorRun(const CEditorRun&) = delete;
  CEditorRun& operator=(const CEditorRun&) = delete;

  bool Started() const { return m_started; }
  CTarnEditorApp& App() { return m_app; }
  CMainFrame* Main() { return static_cast<CMainFrame*>(m_app.GetMainWnd()); }

  // The next file dialog returns `path` (an empty path is a cancel).
  void Answer(const QString& path) { m_answers.append(path); }
  struct CDialogCall {
    bool open;
    QString suggested;
    QString title;
  };
  const QList<CDialogCall>& Dialogs() const { return m_dialogs; }

  bool Command(int id) { return Main()->SendCommand(id); }

  std::vector<CChildFrame*> Frames() {
    std::vector<CChildFrame*> frames;
    if (Main() == nullptr) return frames;
    for (CMDIChildWnd* frame : Main()->GetChildFrames()) {
      if (auto* child = qobject_cast<CChildFrame*>(frame)) frames.push_back(child);
    }
    return frames;
  }
  CChildFrame* Active() { return qobject_cast<CChildFrame*>(Main()->MDIGetActive()); }
  std::vector<CTarnEditorDoc*> Documents() {
    std::vector<CTarnEditorDoc*> documents;
    for (CDocument* document : m_app.GetDocuments()) {
      documents.push_back(static_cast<CTarnEditorDoc*>(document));
    }
    return documents;
  }

  // Lets deferred deletions and queued updates happen.
  static void Settle() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
  }

 private:
  CTarnEditorApp m_app;
  bool m_started = false;
  QStringList m_answers;
  QList<CDialogCall> m_dialogs;
};

inline CLeftView* TreeOf(CChildFrame* frame) {
  return qobject_cast<CLeftView*>(frame->GetSplitter()->GetPane(0, 0));
}

inline CTarnEditorView* ListOf(CChildFrame* frame) { return frame->GetRightPane(); }

// The names the tree shows, top to bottom.
inline QStringList TreeNames(CLeftView* tree) {
  QStringList names;
  QAbstractItemModel* model = tree->model();
  for (int row = 0; row < model->rowCount(); ++row) {
    names << model->index(row, 0).data().toString();
  }
  return names;
}

// The rows the list shows, each as "Name|Value".
inline QStringList ListRows(CTarnEditorView* list) {
  QStringList rows;
  QAbstractItemModel* model = list->model();
  for (int row = 0; row < model->rowCount(); ++row) {
    rows << model->index(row, 0).data().toString() + QLatin1Char('|') +
                model->index(row, 1).data().toString();
  }
  return rows;
}

// Clicks the tree's item at `row`, as a user would.
inline void ClickTreeRow(CLeftView* tree, int row) {
  const QModelIndex index = tree->model()->index(row, 0);
  tree->scrollTo(index);
  QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualRect(index).center());
}

// F2 on `view`'s current item, as a user opens its editor in place: that
// editor, or null when none opened.
inline QLineEdit* EditInPlace(QAbstractItemView* view) {
  view->setFocus();
  QTest::keyClick(view, Qt::Key_F2);
  return qobject_cast<QLineEdit*>(QApplication::focusWidget());
}

inline QString ToQ(const std::string& s) { return QString::fromStdString(s); }

// Descriptors of this process once Qt's shared worker threads are gone: the
// raster engine starts them for large fills when it sees fit, and each holds
// an event descriptor of its own for as long as it lives.
inline int CountSettledDescriptors() {
  QThreadPool::globalInstance()->waitForDone();
  return CountOpenDescriptors();
}

// Whether this process still maps the archive at `path` or holds it open.
inline bool HoldsArchive(const std::string& path) {
  return IsMapped(path) || CountDescriptorsOn(path) > 0;
}

// Where a test sends what a program writes to be lost.
#ifdef _WIN32
inline constexpr char kNullDevice[] = "NUL";
#else
inline constexpr char kNullDevice[] = "/dev/null";
#endif

// Ends the process with a message when what it guards has not finished
// after `seconds`: a blocked open or a hang fails the test with a reason
// instead of stalling the run until the harness gives up.
#ifdef _WIN32
// Windows has no alarm signal: a watching thread ends the process instead.
class CHangGuard {
 public:
  CHangGuard(unsigned seconds, const char* what)
      : m_what(what), m_watch([this, seconds] { Watch(seconds); }) {}
  ~CHangGuard() {
    {
      const std::lock_guard<std::mutex> lock(m_mutex);
      m_finished = true;
    }
    m_done.notify_one();
    m_watch.join();
  }
  CHangGuard(const CHangGuard&) = delete;
  CHangGuard& operator=(const CHangGuard&) = delete;

 private:
  void Watch(unsigned seconds) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_done.wait_for(lock, std::chrono::seconds(seconds), [this] { return m_finished; })) return;
    std::fprintf(stderr, "FAIL! hung or blocked: %s\n", m_what.c_str());
    std::fflush(stderr);
    std::_Exit(124);
  }

  std::string m_what;
  std::mutex m_mutex;
  std::condition_variable m_done;
  bool m_finished = false;
  std::thread m_watch;
};
#else
class CHangGuard {
 public:
  CHangGuard(unsigned seconds, const char* what) {
    std::strncpy(s_what, what, sizeof s_what - 1);
    struct sigaction action {};
    action.sa_handler = &CHangGuard::OnAlarm;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGALRM, &action, nullptr);
    ::alarm(seconds);
  }
  ~CHangGuard() { ::alarm(0); }
  CHangGuard(const CHangGuard&) = delete;
  CHangGuard& operator=(const CHangGuard&) = delete;

 private:
  static void OnAlarm(int) {
    static const char kPrefix[] = "FAIL! hung or blocked: ";
    (void)!::write(2, kPrefix, sizeof kPrefix - 1);
    (void)!::write(2, s_what, std::strlen(s_what));
    (void)!::write(2, "\n", 1);
    ::_exit(124);
  }
  static inline char s_what[256] = {};
};
#endif

// A pseudo-terminal: what a program writes to the file named by Name()
// reaches a terminal, and can be read back from here. Windows has none to
// name as a file: there it never opens.
#ifdef _WIN32
class CPseudoTerminal {
 public:
  bool IsOpen() const { return false; }
  std::string Name() const { return {}; }
  std::string Read() { return {}; }
};
#else
class CPseudoTerminal {
 public:
  CPseudoTerminal() : m_master(::posix_openpt(O_RDWR | O_NOCTTY)) {
    if (m_master >= 0 && (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)) {
      ::close(m_master);
      m_master = -1;
    }
  }
  ~CPseudoTerminal() {
    if (m_master >= 0) ::close(m_master);
  }
  CPseudoTerminal(const CPseudoTerminal&) = delete;
  CPseudoTerminal& operator=(const CPseudoTerminal&) = delete;

  bool IsOpen() const { return m_master >= 0; }
  std::string Name() const { return IsOpen() ? ::ptsname(m_master) : std::string(); }
  // What was written so far, with the terminal's "\r\n" line ends as "\n".
  std::string Read() {
    std::string said;
    if (!IsOpen()) return said;
    ::fcntl(m_master, F_SETFL, O_NONBLOCK);
    char buffer[4096];
    for (ssize_t n; (n = ::read(m_master, buffer, sizeof buffer)) > 0;)
      said.append(buffer, size_t(n));
    std::erase(said, '\r');
    return said;
  }

 private:
  int m_master;
};
#endif

// Points this process's stderr at the file `path` (a terminal's, or a log)
// while the object lives.
class CStderrTo {
 public:
  explicit CStderrTo(const std::string& path) : m_saved(::dup(2)) {
    std::fflush(stderr);
#ifdef O_NOCTTY
    const int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOCTTY, 0600);
#else
    const int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
#endif
    if (file >= 0) {
      ::dup2(file, 2);
      ::close(file);
    }
  }
  ~CStderrTo() {
    std::fflush(stderr);
    ::dup2(m_saved, 2);
    ::close(m_saved);
  }
  CStderrTo(const CStderrTo&) = delete;
  CStderrTo& operator=(const CStderrTo&) = delete;

 private:
  int m_saved;
};
