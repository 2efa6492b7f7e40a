#include "app/tarn_editor_doc.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>

#include "app/disk_watch.h"
#include "app/edit/entry_editor.h"
#include "app/entry_hooks.h"
#include "app/entry_logic.h"
#include "app/framework/command_ids.h"
#include "app/framework/frames.h"
#include "app/framework/win_app.h"
#include "app/status_text.h"

namespace {

void ShowMessage(const QString& text) {
  if (CWinApp* app = AfxGetApp()) app->SetMessageText(text);
}

}  // namespace

CTarnEditorDoc::CTarnEditorDoc()
    : m_editor(std::make_unique<CEntryEditor>(*this)), m_watch(std::make_unique<CDiskWatch>([this] {
        return m_shown.IsOpenedFile() ? m_shown.CheckDisk() : DiskChange::None;
      })) {}

CTarnEditorDoc::~CTarnEditorDoc() {
  // The undo steps go before the change set they point at.
  m_watch.reset();
  m_editor.reset();
  // Each entry holds a share of the archive's mapping; the last one to go
  // unmaps it and closes the file.
  m_shown = CShownArchive();
}

bool CTarnEditorDoc::OnNewDocument() { return CDocument::OnNewDocument(); }

bool CTarnEditorDoc::OnOpenDocument(const QString& path) {
  // Stamped on both sides of the open: if the file changed meanwhile, what
  // was read cannot be told apart from what is there now, and Save As will
  // not copy it.
  const std::optional<CArchiveStamp> before = StampArchive(path);
  const CStatus error = m_shown.Open(QFile::encodeName(path).toStdString());
  if (!error.IsOk()) {
    SetLastError(StatusText(error, path));
    return false;
  }
  SetLastError(QString());
  const std::optional<CArchiveStamp> after = StampArchive(path);
  m_archive.reset();
  if (before && before == after) m_archive = after;
  m_watch->Watch(QFileInfo(path).absoluteFilePath());
  ShowMessage(EntryCountText(Entries().size()));
  return true;
}

bool CTarnEditorDoc::Reload(const QString& path, QString& reason) {
  CShownArchive saved;
  const std::optional<CArchiveStamp> before = StampArchive(path);
  const CStatus error = saved.Open(QFile::encodeName(path).toStdString());
  if (!error.IsOk()) {
    reason = StatusText(error, QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()));
    return false;
  }
  // The old entries stay alive until every view has let go of them, and
  // as long as a snapshot of them is read beside the window.
  UpdateAllViews(kEntriesReplacing);
  m_editor->Forget();
  m_shown = std::move(saved);
  const std::optional<CArchiveStamp> after = StampArchive(path);
  m_archive.reset();
  if (before && before == after) m_archive = after;
  SetModifiedFlag(false);
  UpdateFrameCounts();
  UpdateAllViews(kEntriesReplaced);
  m_watch->Watch(QFileInfo(path).absoluteFilePath());
  emit m_watch->changed(DiskChange::None);
  return true;
}

bool CTarnEditorDoc::ReloadFromDisk() {
  if (IsModified()) {
    CWinApp* app = AfxGetApp();
    const QMessageBox::StandardButton answer = QMessageBox::question(
        app != nullptr ? app->GetMainWnd() : nullptr, QStringLiteral("Tarn Editor"),
        QStringLiteral("Reload %1 from disk and drop %2?").arg(GetTitle(), m_editor->ChangesText()),
        QMessageBox::Yes | QMessageBox::Cancel, QMessageBox::Cancel);
    if (answer != QMessageBox::Yes) return false;
  }
  QString reason;
  if (!Reload(GetPathName(), reason)) {
    ShowMessage(QStringLiteral("Cannot reload: %1").arg(reason));
    return false;
  }
  ShowMessage(QStringLiteral("Reloaded; %1").arg(EntryCountText(Entries().size())));
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
  return DiskChangeText(change, GetPathName(), pastEnd);
}

bool CTarnEditorDoc::OnSaveDocument(const QString& path) {
  if (!m_archive || !m_shown.IsOpenedFile()) {
    // A new document, or an archive that changed while it was being read.
    SetLastError(path + QStringLiteral(": no archive read unchanged to copy from"));
    return false;
  }
  const CStatus copied = CopyArchive(*m_archive, path, m_shown.File());
  SetLastError(copied.IsOk() ? QString() : StatusText(copied));
  return copied.IsOk();
}

// Nothing is ever modified, so there is nothing to save; the framework's
// save would write this document's (empty) format over the archive.
void CTarnEditorDoc::OnFileSave() { m_editor->Save(); }

void CTarnEditorDoc::OnFileSaveAs() {
  if (IsModified()) {
    m_editor->SaveAs(GetPathName().isEmpty() ? QString() : SaveAsProposal(GetPathName()));
    return;
  }
  if (GetPathName().isEmpty()) return;
  // The archive's own name would only be refused.
  const QString path =
      AfxGetApp()->PromptDocumentSaveName(QStringLiteral("Save As"), SaveAsProposal(GetPathName()));
  if (path.isEmpty()) return;
  const QString shown = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
  ShowMessage(OnSaveDocument(path) ? QStringLiteral("Saved a copy as %1").arg(shown)
                                   : QStringLiteral("Cannot save a copy: %1").arg(GetLastError()));
}

bool CTarnEditorDoc::OnCmdMsg(int id, CCmdUI* query) {
  if (id == ID_FILE_SAVE_AS) {
    return Handle(
        query, [this] { OnFileSaveAs(); }, !GetPathName().isEmpty() || IsModified());
  }
  if (m_editor->OnCmdMsg(id, query)) return true;
  return CDocument::OnCmdMsg(id, query);
}

bool CTarnEditorDoc::SaveModified() { return m_editor->SaveModified(); }

CEntryHooks* CTarnEditorDoc::GetHooks() const { return m_editor.get(); }
