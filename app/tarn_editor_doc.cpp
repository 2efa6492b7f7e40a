#include "app/tarn_editor_doc.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "app/edit/entry_editor.h"
#include "app/entry_logic.h"
#include "app/framework/command_ids.h"
#include "app/framework/win_app.h"
#include "app/status_text.h"

namespace {

void ShowMessage(const QString& text) {
  if (CWinApp* app = AfxGetApp()) app->SetMessageText(text);
}

}  // namespace

CTarnEditorDoc::CTarnEditorDoc() : m_editor(std::make_unique<CEntryEditor>(*this)) {}

CTarnEditorDoc::~CTarnEditorDoc() {
  // The undo steps go before the change set they point at.
  m_editor.reset();
  // Each entry holds a share of the archive's mapping; the last one to go
  // unmaps it and closes the file.
  m_entries.clear();
}

bool CTarnEditorDoc::OnNewDocument() { return CDocument::OnNewDocument(); }

bool CTarnEditorDoc::OnOpenDocument(const QString& path) {
  // Stamped on both sides of the open: if the file changed meanwhile, what
  // was read cannot be told apart from what is there now, and Save As will
  // not copy it.
  const std::optional<CArchiveStamp> before = StampArchive(path);
  CStatus error;
  if (!OpenArchiveEntries(QFile::encodeName(path).toStdString(), m_entries, &error)) {
    SetLastError(StatusText(error, path));
    return false;
  }
  SetLastError(QString());
  const std::optional<CArchiveStamp> after = StampArchive(path);
  m_archive.reset();
  if (before && before == after) m_archive = after;
  ShowMessage(EntryCountText(m_entries.size()));
  return true;
}

bool CTarnEditorDoc::OnSaveDocument(const QString& path) {
  if (!m_archive) {
    // A new document, or an archive that changed while it was being read.
    SetLastError(path + QStringLiteral(": no archive read unchanged to copy from"));
    return false;
  }
  const CStatus copied = CopyArchive(*m_archive, path);
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

bool CTarnEditorDoc::IsArchiveUnchanged() const {
  return m_archive.has_value() && StampArchive(m_archive->path) == m_archive;
}

void CTarnEditorDoc::Restamp(const QString& path) { m_archive = StampArchive(path); }
