// The application object: resources, document templates, the recent-file
// list kept in the per-user settings, the command line, and the standard
// handlers of File New, File Open, the recent files and Exit.
//
// There is one application object at a time (AfxGetApp). Run() is the whole
// life of a program: it makes the QApplication, runs InitInstance, the event
// loop and ExitInstance, and destroys every window before the QApplication
// goes. Tests make an application object on their own QApplication and call
// InitInstance and ExitInstance themselves.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

#include "app/framework/cmd_target.h"
#include "app/framework/resources.h"

class CDocument;
class CMDIFrameWnd;
class CMultiDocTemplate;
class QSettings;

// What the command line asks for.
class CCommandLineInfo {
 public:
  enum ShellCommand { FileNew, FileOpen, FileNothing };

  // Takes one argument of the command line. `isFlag` when it was given as a
  // switch (leading '-'); switches are accepted and have no effect.
  virtual ~CCommandLineInfo() = default;
  virtual void ParseParam(const QString& param, bool isFlag, bool isLast);

  ShellCommand m_nShellCommand = FileNew;
  QString m_strFileName;
};

// Up to `size` full paths, most recent first, kept under "Recent File List"
// as "File1", "File2", ...
class CRecentFileList {
 public:
  explicit CRecentFileList(int size) : m_nSize(size) {}

  void ReadList(QSettings& settings);
  void WriteList(QSettings& settings) const;
  // Puts `path` first, dropping an older entry for the same file and the
  // oldest entry when the list is full.
  void Add(const QString& path);
  void Remove(int index);
  int GetSize() const { return m_nSize; }
  int GetCount() const { return static_cast<int>(m_files.size()); }
  const QString& operator[](int index) const { return m_files.at(index); }
  // The menu text of entry `index`: "&1 " and the path, shortened in the
  // middle when long, with any '&' doubled.
  QString GetDisplayName(int index) const;

 private:
  int m_nSize;
  QStringList m_files;
};

class CWinApp : public CCmdTarget {
 public:
  explicit CWinApp(const CResourceTable& resources);
  ~CWinApp() override;
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  // The program's life; returns its exit status (1 when start-up fails).
  int Run(int& argc, char** argv);
  virtual bool InitInstance() { return true; }
  // Saves the settings and destroys every window and document.
  virtual int ExitInstance();

  // The arguments after the program name. Run() takes them from the
  // QApplication; tests set them.
  void SetArguments(const QStringList& arguments) { m_arguments = arguments; }

  const CResourceTable& GetResources() const { return m_resources; }
  QString LoadString(int id) const { return m_resources.LoadString(id); }
  // The application title: string AFX_IDS_APP_TITLE.
  QString GetAppName() const;

  // Settings live under `company`, in a part named after the application title.
  void SetRegistryKey(const QString& company);
  // A settings object for the application's part of the per-user settings.
  std::unique_ptr<QSettings> GetProfile() const;
  // Reads the recent-file list, of at most `maxMru` entries.
  void LoadStdProfileSettings(int maxMru);
  void SaveStdProfileSettings();
  CRecentFileList* GetRecentFileList() const { return m_pRecentFileList.get(); }
  void AddToRecentFileList(const QString& path);

  void AddDocTemplate(std::unique_ptr<CMultiDocTemplate> docTemplate);
  const std::vector<std::unique_ptr<CMultiDocTemplate>>& GetDocTemplates() const {
    return m_templates;
  }
  // Every open document of every template.
  std::vector<CDocument*> GetDocuments() const;

  void ParseCommandLine(CCommandLineInfo& info) const;
  // Carries out the command line; false when the file it names does not
  // open, with why in `failure` ("PATH: REASON") when given.
  bool ProcessShellCommand(const CCommandLineInfo& info, QString* failure = nullptr);

  // Brings the file's window forward when it is open already, else opens it
  // through the first template. The path is made absolute first. Null, with
  // why in `failure` ("PATH: REASON") when given, when it does not open.
  CDocument* OpenDocumentFile(const QString& path, QString* failure = nullptr);
  void OnFileNew();
  void OnFileOpen();
  // Opens recent file `index`; a file that no longer opens leaves the list.
  bool OnOpenRecentFile(int index);
  // A file chosen to open did not open: no dialog, `failure` ("PATH:
  // REASON") in the message pane.
  virtual void ReportOpenFailure(const QString& failure);

  // Asks the user for a file to open (starting in folder `suggested`, the
  // one the last Open dialog was left in; the working folder when empty), or
  // for where to save (with `suggested` as the starting name). The dialog is
  // titled `title`, "Open" or "Save As" when empty. Empty when the user
  // cancels.
  QString DoPromptFileName(bool open, const QString& suggested, const QString& title = QString());
  // Asks where to save a document of the first template: its filters
  // first, as Open offers them, and its extension added to a name typed
  // without one.
  QString PromptDocumentSaveName(const QString& title, const QString& suggested);
  // The Open dialog's filters: each template's filter name, those added,
  // then all files.
  QString OpenFileFilter(bool added = true) const;
  // Another kind of file Open offers, as "Words (*.ext)"; Save never does.
  void AddOpenFilter(const QString& filter) { m_openFilters << filter; }
  // Asks for an existing folder; empty when the user cancels.
  QString PromptFolderName(const QString& title);
  // Asks for several existing files, in the order the dialog gives them;
  // empty when the user cancels. The file dialog hook answers it with the
  // paths one a line.
  QStringList PromptFileNames(const QString& title);
  // Shows `text`, a list to read (what could not be done), under
  // `heading`, in a dialog the user closes.
  void ShowReport(const QString& title, const QString& heading, const QString& text);
  // Tests answer the dialogs through these instead of showing them.
  using FileDialogHook =
      std::function<QString(bool open, const QString& suggested, const QString& title)>;
  void SetFileDialogHook(FileDialogHook hook) { m_fileDialogHook = std::move(hook); }
  using FolderDialogHook = std::function<QString(const QString& title)>;
  void SetFolderDialogHook(FolderDialogHook hook) { m_folderDialogHook = std::move(hook); }
  using ReportHook = std::function<void(const QString& title, const QString& text)>;
  void SetReportHook(ReportHook hook) { m_reportHook = std::move(hook); }

  CMDIFrameWnd* GetMainWnd() const { return m_pMainWnd.get(); }
  // Shows `text` in the main frame's message pane (the idle message when
  // empty), until the next command.
  void SetMessageText(const QString& text);

  bool OnCmdMsg(int id, CCmdUI* query) override;

 protected:
  void SetMainWnd(std::unique_ptr<CMDIFrameWnd> frame);

 private:
  const CResourceTable& m_resources;
  QStringList m_arguments;
  QString m_registryKey;
  std::unique_ptr<CRecentFileList> m_pRecentFileList;
  std::vector<std::unique_ptr<CMultiDocTemplate>> m_templates;
  std::unique_ptr<CMDIFrameWnd> m_pMainWnd;
  FileDialogHook m_fileDialogHook;
  FolderDialogHook m_folderDialogHook;
  QStringList m_openFilters;
  ReportHook m_reportHook;
};

CWinApp* AfxGetApp();

// `path` with `extension` (".big") added when its file name has no suffix.
QString WithDefaultExtension(const QString& path, const QString& extension);
