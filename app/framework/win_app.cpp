#include "app/framework/win_app.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>
#include <QSettings>

#include <algorithm>

#include "app/framework/command_ids.h"
#include "app/framework/doc_template.h"
#include "app/framework/document.h"
#include "app/framework/frames.h"

namespace {

CWinApp* g_app = nullptr;

constexpr char kRecentFileSection[] = "Recent File List";
// Where the Open dialog was last left, so the next one starts there.
constexpr char kOpenFolderKey[] = "Settings/Open Folder";
// Longest recent-file path shown whole in the menu.
constexpr int kMaxDisplayLength = 60;
// Windows names one file in any mix of letter cases and either separator:
// "C:/Mods/A.big" and "c:\mods\a.BIG" take one place in the recent list.
#ifdef _WIN32
constexpr Qt::CaseSensitivity kPathCase = Qt::CaseInsensitive;
#else
constexpr Qt::CaseSensitivity kPathCase = Qt::CaseSensitive;
#endif
bool SamePath(const QString& a, const QString& b) {
  return QDir::fromNativeSeparators(a).compare(QDir::fromNativeSeparators(b), kPathCase) == 0;
}

// "/first/.../last" within `limit` characters where it can be done.
QString AbbreviatePath(const QString& path, int limit) {
  if (path.size() <= limit) return path;
  const QString separator = QDir::separator();
  const QStringList parts = path.split(separator);
  // The first folder (or drive) stays; an absolute path starts with an
  // empty part before its first separator.
  const qsizetype kept = parts.front().isEmpty() ? 2 : 1;
  if (parts.size() < kept + 2) return path;
  const QString head = parts.mid(0, kept).join(separator) + separator + QStringLiteral("...");
  QString tail = separator + parts.back();
  for (qsizetype i = parts.size() - 2; i >= kept; --i) {
    const QString longer = separator + parts[i] + tail;
    if (head.size() + longer.size() > limit) break;
    tail = longer;
  }
  return head + tail;
}

}  // namespace

CWinApp* AfxGetApp() { return g_app; }

// --- command line

void CCommandLineInfo::ParseParam(const QString& param, bool isFlag, bool isLast) {
  if (!isFlag && m_strFileName.isEmpty()) m_strFileName = param;
  if (isLast && !m_strFileName.isEmpty() &&
      (m_nShellCommand == FileNew || m_nShellCommand == FileNothing)) {
    m_nShellCommand = FileOpen;
  }
}

// --- recent files

void CRecentFileList::ReadList(QSettings& settings) {
  m_files.clear();
  settings.beginGroup(QLatin1String(kRecentFileSection));
  for (int i = 1; i <= m_nSize; ++i) {
    const QString path = settings.value(QStringLiteral("File%1").arg(i)).toString();
    if (path.isEmpty()) continue;
    if (std::none_of(m_files.begin(), m_files.end(),
                     [&](const QString& listed) { return SamePath(listed, path); }))
      m_files.append(path);
  }
  settings.endGroup();
}

void CRecentFileList::WriteList(QSettings& settings) const {
  settings.beginGroup(QLatin1String(kRecentFileSection));
  settings.remove(QString());
  for (qsizetype i = 0; i < m_files.size(); ++i) {
    settings.setValue(QStringLiteral("File%1").arg(i + 1), m_files[i]);
  }
  settings.endGroup();
}

void CRecentFileList::Add(const QString& path) {
  m_files.removeIf([&](const QString& listed) { return SamePath(listed, path); });
  m_files.prepend(path);
  while (m_files.size() > m_nSize) m_files.removeLast();
}

void CRecentFileList::Remove(int index) {
  if (index >= 0 && index < m_files.size()) m_files.removeAt(index);
}

QString CRecentFileList::GetDisplayName(int index) const {
  QString path = AbbreviatePath(QDir::toNativeSeparators(m_files.at(index)), kMaxDisplayLength);
  path.replace(QLatin1Char('&'), QStringLiteral("&&"));
  const int number = index + 1;
  const QString prefix = number < 10    ? QStringLiteral("&%1").arg(number)
                         : number == 10 ? QStringLiteral("1&0")
                                        : QString::number(number);
  return prefix + QLatin1Char(' ') + path;
}

// --- application

CWinApp::CWinApp(const CResourceTable& resources) : m_resources(resources) { g_app = this; }

CWinApp::~CWinApp() {
  m_pMainWnd.reset();
  m_templates.clear();
  if (g_app == this) g_app = nullptr;
}

int CWinApp::Run(int& argc, char** argv) {
  QApplication application(argc, argv);
  m_arguments = QApplication::arguments().mid(1);
  if (!InitInstance()) {
    ExitInstance();
    return 1;
  }
  const int status = QApplication::exec();
  ExitInstance();
  return status;
}

int CWinApp::ExitInstance() {
  if (m_pRecentFileList) SaveStdProfileSettings();
  // Every window, view and document goes here, while the QApplication lives.
  m_pMainWnd.reset();
  return 0;
}

QString CWinApp::GetAppName() const { return LoadString(AFX_IDS_APP_TITLE); }

void CWinApp::SetRegistryKey(const QString& company) { m_registryKey = company; }

std::unique_ptr<QSettings> CWinApp::GetProfile() const {
  return std::make_unique<QSettings>(m_registryKey, GetAppName());
}

void CWinApp::LoadStdProfileSettings(int maxMru) {
  m_pRecentFileList = std::make_unique<CRecentFileList>(maxMru);
  m_pRecentFileList->ReadList(*GetProfile());
}

void CWinApp::SaveStdProfileSettings() {
  if (!m_pRecentFileList) return;
  std::unique_ptr<QSettings> profile = GetProfile();
  m_pRecentFileList->WriteList(*profile);
  profile->sync();
}

void CWinApp::AddToRecentFileList(const QString& path) {
  if (!m_pRecentFileList) return;
  m_pRecentFileList->Add(path);
  SaveStdProfileSettings();
}

void CWinApp::AddDocTemplate(std::unique_ptr<CMultiDocTemplate> docTemplate) {
  docTemplate->LoadTemplate();
  m_templates.push_back(std::move(docTemplate));
}

std::vector<CDocument*> CWinApp::GetDocuments() const {
  std::vector<CDocument*> documents;
  for (const auto& docTemplate : m_templates) {
    const auto& list = docTemplate->GetDocuments();
    documents.insert(documents.end(), list.begin(), list.end());
  }
  return documents;
}

void CWinApp::SetMainWnd(std::unique_ptr<CMDIFrameWnd> frame) { m_pMainWnd = std::move(frame); }

void CWinApp::ParseCommandLine(CCommandLineInfo& info) const {
  bool switchesEnded = false;
  for (qsizetype i = 0; i < m_arguments.size(); ++i) {
    const QString& argument = m_arguments[i];
    const bool isLast = i + 1 == m_arguments.size();
    if (!switchesEnded && argument == QLatin1String("--")) {
      switchesEnded = true;
      info.ParseParam(QString(), true, isLast);
      continue;
    }
    const bool isFlag = !switchesEnded && argument.size() > 1 && argument.startsWith('-');
    info.ParseParam(isFlag ? argument.mid(1) : argument, isFlag, isLast);
  }
}

bool CWinApp::ProcessShellCommand(const CCommandLineInfo& info, QString* failure) {
  switch (info.m_nShellCommand) {
    case CCommandLineInfo::FileNew: OnFileNew(); return true;
    case CCommandLineInfo::FileOpen:
      return OpenDocumentFile(info.m_strFileName, failure) != nullptr;
    case CCommandLineInfo::FileNothing: return true;
  }
  return false;
}

CDocument* CWinApp::OpenDocumentFile(const QString& path, QString* failure) {
  if (m_templates.empty() || path.isEmpty()) {
    if (failure != nullptr) *failure = path + QStringLiteral(": no file named");
    return nullptr;
  }
  const QString fullPath = QFileInfo(path).absoluteFilePath();
  for (const auto& docTemplate : m_templates) {
    if (CDocument* open = docTemplate->FindOpenDocument(fullPath)) {
      const std::vector<CMDIChildWnd*> frames = open->GetFrames();
      if (!frames.empty()) frames.front()->ActivateFrame();
      return open;
    }
  }
  return m_templates.front()->OpenDocumentFile(fullPath, true, failure);
}

void CWinApp::SetMessageText(const QString& text) {
  if (m_pMainWnd) m_pMainWnd->SetMessageText(text);
}

void CWinApp::ReportOpenFailure(const QString& failure) {
  SetMessageText(QStringLiteral("Cannot open ") + failure);
}

void CWinApp::OnFileNew() {
  if (!m_templates.empty()) m_templates.front()->OpenDocumentFile(QString());
}

void CWinApp::OnFileOpen() {
  std::unique_ptr<QSettings> profile = GetProfile();
  QString folder = profile->value(QLatin1String(kOpenFolderKey)).toString();
  // A folder since removed leaves the dialog where it would start anyway.
  if (!QFileInfo(folder).isDir()) folder.clear();
  const QString path = DoPromptFileName(true, folder);
  if (path.isEmpty()) return;
  profile->setValue(QLatin1String(kOpenFolderKey), QFileInfo(path).absolutePath());
  profile->sync();
  QString failure;
  if (OpenDocumentFile(path, &failure) == nullptr) ReportOpenFailure(failure);
}

bool CWinApp::OnOpenRecentFile(int index) {
  if (!m_pRecentFileList || index < 0 || index >= m_pRecentFileList->GetCount()) return false;
  const QString path = (*m_pRecentFileList)[index];
  QString failure;
  if (OpenDocumentFile(path, &failure) != nullptr) return true;
  ReportOpenFailure(failure);
  m_pRecentFileList->Remove(index);
  SaveStdProfileSettings();
  return false;
}

QString CWinApp::OpenFileFilter(bool added) const {
  QStringList filters;
  for (const auto& docTemplate : m_templates) {
    const QString filter = docTemplate->GetDocString(CMultiDocTemplate::filterName);
    if (!filter.isEmpty() && !filters.contains(filter)) filters << filter;
  }
  if (added) filters << m_openFilters;
  // Any file may still be chosen: an archive need not be named *.big.
  filters << QStringLiteral("All Files (*)");
  return filters.join(QStringLiteral(";;"));
}

QString CWinApp::DoPromptFileName(bool open, const QString& suggested, const QString& title) {
  const QString caption = !title.isEmpty() ? title
                          : open           ? QStringLiteral("Open")
                                           : QStringLiteral("Save As");
  if (m_fileDialogHook) return m_fileDialogHook(open, suggested, caption);
  if (open) {
    return QFileDialog::getOpenFileName(m_pMainWnd.get(), caption, suggested, OpenFileFilter());
  }
  return QFileDialog::getSaveFileName(m_pMainWnd.get(), caption, suggested);
}

QStringList CWinApp::PromptFileNames(const QString& title) {
  if (m_fileDialogHook)
    return m_fileDialogHook(true, QString(), title).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  return QFileDialog::getOpenFileNames(m_pMainWnd.get(), title, QString(), OpenFileFilter());
}

QString CWinApp::PromptFolderName(const QString& title) {
  if (m_folderDialogHook) return m_folderDialogHook(title);
  return QFileDialog::getExistingDirectory(m_pMainWnd.get(), title);
}

void CWinApp::ShowReport(const QString& title, const QString& heading, const QString& text) {
  if (m_reportHook) return m_reportHook(title, text);
  QDialog dialog(m_pMainWnd.get());
  dialog.setWindowTitle(title);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(new QLabel(heading));
  auto* list = new QPlainTextEdit(text);
  list->setReadOnly(true);
  list->setLineWrapMode(QPlainTextEdit::NoWrap);
  layout->addWidget(list);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  layout->addWidget(buttons);
  dialog.resize(560, 320);
  dialog.exec();
}

QString CWinApp::PromptDocumentSaveName(const QString& title, const QString& suggested) {
  const QString extension = m_templates.empty()
                                ? QString()
                                : m_templates.front()->GetDocString(CMultiDocTemplate::filterExt);
  if (m_fileDialogHook)
    return WithDefaultExtension(m_fileDialogHook(false, suggested, title), extension);
  QFileDialog dialog(m_pMainWnd.get(), title, suggested, OpenFileFilter(false));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  // The dialog adds it too, so that it asks before replacing the file
  // the name with its extension names.
  if (extension.startsWith(QLatin1Char('.'))) dialog.setDefaultSuffix(extension.mid(1));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
  return WithDefaultExtension(dialog.selectedFiles().front(), extension);
}

QString WithDefaultExtension(const QString& path, const QString& extension) {
  if (path.isEmpty() || extension.isEmpty() || !QFileInfo(path).suffix().isEmpty()) return path;
  return path + extension;
}

bool CWinApp::OnCmdMsg(int id, CCmdUI* query) {
  if (id >= ID_FILE_MRU_FILE1 && id <= ID_FILE_MRU_LAST) {
    const int index = id - ID_FILE_MRU_FILE1;
    const bool present = m_pRecentFileList && index < m_pRecentFileList->GetCount();
    return Handle(
        query, [this, index] { OnOpenRecentFile(index); }, present);
  }
  if (id == ID_APP_EXIT) {
    return Handle(query, [this] {
      if (m_pMainWnd) m_pMainWnd->close();
    });
  }
  return false;
}
