#include "app/document/tarn_editor_doc.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QSignalBlocker>

#include "app/document/disk_watch.h"
#include "app/document/entry_hooks.h"
#include "app/document/entry_text.h"
#include "app/framework/command_ids.h"
#include "app/framework/frames.h"
#include "app/framework/win_app.h"
#include "app/document/archive_copy.h"
#include "app/document/status_text.h"

CTarnEditorDoc::CTarnEditorDoc()
    : m_watch(std::make_unique<CDiskWatch>([this] {
        // A load order's target first: it is what a save writes.
        const DiskChange opened = OpenedChange();
        return opened != DiskChange::None ? opened : m_shown.CheckOtherArchives();
      })) {
  QObject::connect(&m_undo, &QUndoStack::indexChanged, [this] { OnChanged(); });
}

CTarnEditorDoc::~CTarnEditorDoc() {
  // The features (and their windows) go first, then the undo steps, before
  // the change set they point at.
  m_features.clear();
  m_watch.reset();
  const QSignalBlocker quiet(m_undo);
  m_undo.clear();
  // Each entry holds a share of the archive's mapping; the last one to go
  // unmaps it and closes the file.
  m_shown = CShownArchive();
}

void CTarnEditorDoc::AddFeature(std::unique_ptr<CDocumentFeature> feature) {
  m_features.push_back(std::move(feature));
}

QString CTarnEditorDoc::ChangesText() const {
  const size_t count = Changes().size();
  return count == 1 ? QStringLiteral("1 change") : QStringLiteral("%1 changes").arg(count);
}

void CTarnEditorDoc::OnChanged() {
  const bool modified = !m_undo.isClean();
  if (modified != IsModified()) {
    SetModifiedFlag(modified);
    UpdateFrameCounts();  // retitles the windows: '*' while changes are pending
  }
  UpdateAllViews(kEntriesChanged);
  TellFeatures();
  ShowStatusText(ChangesText());
}

void CTarnEditorDoc::TellFeatures() {
  for (const std::unique_ptr<CDocumentFeature>& feature : m_features) feature->OnShownChanged();
}

bool CTarnEditorDoc::OnNewDocument() { return CDocument::OnNewDocument(); }

bool CTarnEditorDoc::IsLoadOrderPath(const QString& path) {
  return path.endsWith(QLatin1String(kLoadOrderSuffix), Qt::CaseInsensitive);
}

QString CTarnEditorDoc::SavedPath() const {
  return IsLoadOrder() ? QString::fromStdString(m_shown.SavedPath()) : GetPathName();
}

bool CTarnEditorDoc::OnOpenDocument(const QString& path) {
  CStatus error;
  if (IsLoadOrderPath(path)) {
    // The order file names its archives; each is named in a failure.
    CResult<std::vector<std::string>> paths = ReadLoadOrderFile(NativePath(path));
    error = paths ? m_shown.OpenOrder(*paths) : paths.GetStatus();
  } else {
    error = m_shown.Open(NativePath(path));
  }
  if (!error.IsOk()) {
    SetLastError(StatusText(error, path));
    return false;
  }
  SetLastError(QString());
  WatchShown();
  NotifyOrderListeners();
  TellFeatures();
  ShowStatusText(EntryCountText(Entries().size()));
  return true;
}

bool CTarnEditorDoc::OpenOrder(const std::vector<std::string>& paths, QString& reason) {
  CShownArchive opened;
  if (const CStatus error = opened.OpenOrder(paths); !error.IsOk()) {
    reason = StatusText(error);
    return false;
  }
  UpdateAllViews(kEntriesReplacing);
  {
    const QSignalBlocker quiet(m_undo);
    m_undo.clear();
  }
  m_shown = std::move(opened);
  SetModifiedFlag(false);
  UpdateFrameCounts();
  UpdateAllViews(kEntriesReplaced);
  WatchShown();
  NotifyOrderListeners();
  return true;
}

DiskChange CTarnEditorDoc::OpenedChange() const {
  // A new document, or a new archive a load order writes into, has no file.
  return m_shown.IsOpenedFile() ? m_shown.CheckDisk() : DiskChange::None;
}

void CTarnEditorDoc::WatchShown() {
  // Absolute: the path name is not set until an open has succeeded.
  QStringList paths;
  for (const std::string& path : m_shown.WatchedPaths())
    paths << QFileInfo(QFile::decodeName(QByteArray::fromStdString(path))).absoluteFilePath();
  m_watch->Watch(paths);
}

void CTarnEditorDoc::AddOrderListener(QObject* owner, std::function<void()> listener) {
  m_orderListeners.push_back({owner, std::move(listener)});
}

void CTarnEditorDoc::NotifyOrderListeners() {
  // A listener may make windows that listen too: the list is copied first.
  const auto listeners = m_orderListeners;
  for (const auto& [owner, listener] : listeners)
    if (owner != nullptr) listener();
}

CStatus CTarnEditorDoc::ChangeOrder(const std::function<void(CShownOrder&)>& change,
                                    const std::function<void(CShownOrder&)>& undo) {
  if (!IsLoadOrder()) return {};
  UpdateAllViews(kEntriesReplacing);
  CStatus refused = m_shown.ChangeOrder(change, undo);
  UpdateAllViews(kEntriesReplaced);
  WatchShown();
  NotifyOrderListeners();
  // The names the window shows came or went; a refusal, said by the
  // caller, takes the bar after this.
  if (refused.IsOk()) ShowStatusText(EntryCountText(Entries().size()));
  return refused;
}

bool CTarnEditorDoc::Reload(const QString& path, QString& reason) {
  if (IsLoadOrder()) {
    UpdateAllViews(kEntriesReplacing);
    // The other archives another program changed, then the target.
    size_t others = 0;
    CStatus error = m_shown.ReopenOtherArchives(others);
    const bool otherFailed = !error.IsOk();
    if (error.IsOk()) error = m_shown.ReopenSaved(NativePath(path));
    if (error.IsOk()) {
      const QSignalBlocker quiet(m_undo);
      m_undo.clear();
      SetModifiedFlag(false);
      UpdateFrameCounts();
    }
    UpdateAllViews(kEntriesReplaced);
    NotifyOrderListeners();
    if (!error.IsOk()) {
      // An archive other than the target is named by the status itself.
      reason =
          otherFailed
              ? StatusText(error)
              : StatusText(error, QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()));
      return false;
    }
    WatchShown();
    emit m_watch->changed(DiskChange::None);
    // What the target holds is what the window showed before the save;
    // another archive read again may hold anything.
    if (others > 0) TellFeatures();
    return true;
  }
  CShownArchive saved;
  const CStatus error = saved.Open(NativePath(path));
  if (!error.IsOk()) {
    reason = StatusText(error, QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()));
    return false;
  }
  // The old entries stay alive until every view has let go of them, and
  // as long as a snapshot of them is read beside the window.
  UpdateAllViews(kEntriesReplacing);
  {
    // Quiet: the views hear of the new entries below, not of a step.
    const QSignalBlocker quiet(m_undo);
    m_undo.clear();
  }
  m_shown = std::move(saved);
  SetModifiedFlag(false);
  UpdateFrameCounts();
  UpdateAllViews(kEntriesReplaced);
  TellFeatures();
  m_watch->Watch(QFileInfo(path).absoluteFilePath());
  emit m_watch->changed(DiskChange::None);
  return true;
}

bool CTarnEditorDoc::ReloadFromDisk() {
  if (IsModified()) {
    CWinApp* app = AfxGetApp();
    const QMessageBox::StandardButton answer = QMessageBox::question(
        app != nullptr ? app->GetMainWnd() : nullptr, QStringLiteral("Tarn Editor"),
        QStringLiteral("Reload %1 from disk and drop %2?").arg(GetTitle(), ChangesText()),
        QMessageBox::Yes | QMessageBox::Cancel, QMessageBox::Cancel);
    if (answer != QMessageBox::Yes) return false;
  }
  QString reason;
  if (!Reload(SavedPath(), reason)) {
    ShowStatusText(QStringLiteral("Cannot reload: %1").arg(reason));
    return false;
  }
  ShowStatusText(QStringLiteral("Reloaded; %1").arg(EntryCountText(Entries().size())));
  return true;
}

QString CTarnEditorDoc::DiskChangeWords() const {
  const DiskChange change = m_watch->GetLast();
  QString pastEnd;
  if (change == DiskChange::Rewritten) {
    size_t count = 0;
    QStringList names;
    for (const std::string& name : m_shown.EntriesPastEnd(3, count)) names << BytesToText(name);
    if (count > static_cast<size_t>(names.size()))
      names << QStringLiteral("%1 more").arg(count - static_cast<size_t>(names.size()));
    if (count > 0) {
      pastEnd = (count == 1 ? QStringLiteral("1 entry (%1)") : QStringLiteral("%2 entries (%1)"))
                    .arg(names.join(QStringLiteral(", ")))
                    .arg(count);
    }
  }
  // Of a load order whose target stands as it was, the other archive that
  // changed.
  std::string other;
  if (OpenedChange() == DiskChange::None && m_shown.CheckOtherArchives(&other) != DiskChange::None)
    return DiskChangeText(
        change, QFileInfo(QFile::decodeName(QByteArray::fromStdString(other))).absoluteFilePath(),
        {});
  return DiskChangeText(change, SavedPath(), pastEnd);
}

bool CTarnEditorDoc::OnSaveDocument(const QString& path) {
  // The stamp the archive took on both sides of its read: unset for a new
  // document, or an archive that changed while it was being read.
  const std::optional<CFileStamp>& opened = m_shown.OpenedStamp();
  if (!opened || !m_shown.IsOpenedFile()) {
    SetLastError(path + QStringLiteral(": no archive read unchanged to copy from"));
    return false;
  }
  const CArchiveStamp source{QFileInfo(SavedPath()).absoluteFilePath(), *opened};
  const CStatus copied = CopyArchive(source, path, m_shown.File());
  SetLastError(copied.IsOk() ? QString() : StatusText(copied));
  return copied.IsOk();
}

// The framework's own save would write this document's (empty) format over
// the archive: both go to the save feature instead.
void CTarnEditorDoc::OnFileSave() { OnCmdMsg(ID_FILE_SAVE, nullptr); }

void CTarnEditorDoc::OnFileSaveAs() { OnCmdMsg(ID_FILE_SAVE_AS, nullptr); }

bool CTarnEditorDoc::OnCmdMsg(int id, CCmdUI* query) {
  switch (id) {
    case ID_EDIT_UNDO:
      return Handle(
          query, [this] { m_undo.undo(); }, m_undo.canUndo());
    case ID_EDIT_REDO:
      return Handle(
          query, [this] { m_undo.redo(); }, m_undo.canRedo());
    default: break;
  }
  for (const std::unique_ptr<CDocumentFeature>& feature : m_features) {
    if (feature->OnCmdMsg(id, query)) return true;
  }
  return CDocument::OnCmdMsg(id, query);
}

bool CTarnEditorDoc::SaveModified() {
  for (const std::unique_ptr<CDocumentFeature>& feature : m_features) {
    if (!feature->MayClose()) return false;
  }
  return true;
}
