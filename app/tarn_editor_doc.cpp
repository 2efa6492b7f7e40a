#include "app/tarn_editor_doc.h"

#include <QFile>

#include "app/framework/win_app.h"

CTarnEditorDoc::~CTarnEditorDoc() {
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
  CArchiveOpenError error;
  if (!OpenArchiveEntries(QFile::encodeName(path).toStdString(), m_entries, &error)) {
    m_lastError = path + QStringLiteral(": ") + QString::fromLocal8Bit(error.Describe());
    return false;
  }
  m_lastError.clear();
  const std::optional<CArchiveStamp> after = StampArchive(path);
  m_archive.reset();
  if (before && before == after) m_archive = after;
  return true;
}

bool CTarnEditorDoc::OnSaveDocument(const QString& path) {
  if (!m_archive) {
    // A new document, or an archive that changed while it was being read.
    m_lastError = path + QStringLiteral(": no archive read unchanged to copy from");
    return false;
  }
  if (CopyArchive(*m_archive, path, &m_lastError) != CopyResult::Copied) return false;
  m_lastError.clear();
  return true;
}

// Nothing is ever modified, so there is nothing to save; the framework's
// save would write this document's (empty) format over the archive.
void CTarnEditorDoc::OnFileSave() {}

void CTarnEditorDoc::OnFileSaveAs() {
  if (!m_archive) return;
  const QString path = AfxGetApp()->DoPromptFileName(false, GetPathName());
  if (!path.isEmpty()) OnSaveDocument(path);
}
