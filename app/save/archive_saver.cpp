#include "app/save/archive_saver.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>

#include "app/document/entry_text.h"
#include "app/document/archive_window.h"
#include "app/document/status_text.h"
#include "app/document/tarn_editor_doc.h"
#include "app/framework/command_ids.h"
#include "app/framework/frames.h"
#include "app/framework/win_app.h"
#include "storage/replacing_file.h"

namespace {

QString Shown(const QString& path) {
  return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
}

// Whether two paths name one file: the same spelling, or the same file now.
bool SamePath(const QString& a, const QString& b) {
  if (a.isEmpty() || b.isEmpty()) return false;
  if (QFileInfo(a).absoluteFilePath() == QFileInfo(b).absoluteFilePath()) return true;
  const std::optional<platform::FileIdentity> file = IdentityOfFile(NativePath(a));
  return file.has_value() && file == IdentityOfFile(NativePath(b));
}

}  // namespace

bool CArchiveSaver::WriteTo(const QString& path, SaveScope scope, QString& reason) const {
  const CStatus written = m_document.Shown().Write(NativePath(path), scope);
  if (written.GetKind() == CStatus::Kind::SourceChanged) {
    reason = Shown(m_document.SavedPath()) + QStringLiteral(": ") + RewrittenText();
  } else if (!written.IsOk()) {
    reason = Shown(path) + QStringLiteral(": ") + QString::fromLocal8Bit(written.GetWords());
  }
  return written.IsOk();
}

QString CArchiveSaver::RewrittenText() {
  return QStringLiteral(
      "another program rewrote it in place since it was opened, so its entries can no longer "
      "be read as they were");
}

CArchiveSaver::DiskAnswer CArchiveSaver::AskAboutDisk(const QString& path, bool whole) const {
  const CShownArchive& shown = m_document.Shown();
  if (!shown.IsOpenedFile()) return DiskAnswer::Go;
  const DiskChange disk = shown.CheckDisk();
  const bool overOpened = SamePath(path, m_document.SavedPath());
  if (disk == DiskChange::None || (disk != DiskChange::Rewritten && !overOpened))
    return DiskAnswer::Go;
  if (disk == DiskChange::Rewritten && (!whole || shown.Opened().empty())) return DiskAnswer::Go;
  CWinApp* app = AfxGetApp();
  QMessageBox box(QMessageBox::Warning, QStringLiteral("Tarn Editor"),
                  QStringLiteral("The archive changed on disk since it was opened"),
                  QMessageBox::NoButton, app != nullptr ? app->GetMainWnd() : nullptr);
  box.setObjectName(QStringLiteral("changedOnDisk"));
  const QString file = Shown(m_document.SavedPath());
  QPushButton* instead = nullptr;
  QPushButton* overwrite = nullptr;
  if (disk == DiskChange::Rewritten) {
    // Nothing of the opened file can be written: only the changes, which
    // live in memory, can be kept.
    box.setInformativeText(
        QStringLiteral("Another program rewrote %1 in place: the entries this window has not "
                       "changed can no longer be read as they were opened, so the whole archive "
                       "cannot be written. Save Changes As... writes your changes as an archive "
                       "to load over it. Your changes stay pending.")
            .arg(file));
    instead = box.addButton(QStringLiteral("Save Changes As..."), QMessageBox::AcceptRole);
  } else {
    box.setInformativeText(
        QStringLiteral("Another program %1 %2 after this window opened it. Overwrite puts this "
                       "window's archive in its place, and what the other program wrote is "
                       "lost. Your changes stay pending until saved.")
            .arg(disk == DiskChange::Gone ? QStringLiteral("removed") : QStringLiteral("replaced"),
                 file));
    instead = box.addButton(QStringLiteral("Save As..."), QMessageBox::AcceptRole);
    overwrite = box.addButton(QStringLiteral("Overwrite"), QMessageBox::DestructiveRole);
  }
  box.addButton(QMessageBox::Cancel);
  box.setDefaultButton(instead);
  box.exec();
  if (box.clickedButton() == instead)
    return disk == DiskChange::Rewritten ? DiskAnswer::SaveChangesAs : DiskAnswer::SaveAs;
  if (overwrite != nullptr && box.clickedButton() == overwrite) return DiskAnswer::Go;
  return DiskAnswer::Cancel;
}

size_t CArchiveSaver::OtherWindowsOn(const QString& path) const {
  const std::optional<platform::FileIdentity> file = IdentityOfFile(NativePath(path));
  if (!file) return 0;
  size_t windows = 0;
  if (const CWinApp* app = AfxGetApp()) {
    for (const CDocument* document : app->GetDocuments()) {
      if (document == &m_document || document->GetPathName().isEmpty()) continue;
      if (IdentityOfFile(NativePath(document->GetPathName())) == file)
        windows += document->GetFrames().size();
    }
  }
  for (QWidget* window : QApplication::topLevelWidgets()) {
    const auto* compare = dynamic_cast<const CArchiveWindow*>(window);
    if (compare == nullptr) continue;
    const std::vector<std::string> shown = compare->ShownPaths();
    windows += std::any_of(shown.begin(), shown.end(),
                           [&](const std::string& at) { return IdentityOfFile(at) == file; });
  }
  return windows;
}

bool CArchiveSaver::SaveTo(const QString& path, const QString& saved) {
  switch (AskAboutDisk(path, true)) {
    case DiskAnswer::Go: break;
    case DiskAnswer::SaveAs: return SaveAs(SaveAsProposal(m_document.SavedPath()));
    case DiskAnswer::SaveChangesAs: return SaveChangesAs();
    case DiskAnswer::Cancel:
      ShowStatusText(QStringLiteral("Not saved; %1").arg(m_document.ChangesText()));
      return false;
  }
  // Counted before the file is replaced: then it is still theirs.
  const size_t others = OtherWindowsOn(path);
  QString reason;
  if (!WriteTo(path, SaveScope::Whole, reason)) {
    ShowStatusText(QStringLiteral("Cannot save: %1").arg(reason));
    return false;
  }
  // The window now stands for the archive it wrote, with nothing pending.
  if (!m_document.Reload(path, reason)) {
    ShowStatusText(QStringLiteral("Saved, but cannot read it back: %1").arg(reason));
    return true;
  }
  if (path != m_document.SavedPath() && !m_document.IsLoadOrder()) m_document.SetPathName(path);
  QString text = saved.arg(Shown(path));
  if (others == 1) {
    text += QStringLiteral("; 1 other window keeps showing what it opened until it is reopened");
  } else if (others > 1) {
    text +=
        QStringLiteral("; %1 other windows keep showing what they opened until they are reopened")
            .arg(others);
  }
  ShowStatusText(text);
  return true;
}

bool CArchiveSaver::Save() {
  if (m_document.SavedPath().isEmpty()) return SaveAs(QString());
  return SaveTo(m_document.SavedPath(), QStringLiteral("Saved %1"));
}

bool CArchiveSaver::SaveAs(const QString& proposal) {
  const QString path = AfxGetApp()->PromptDocumentSaveName(QStringLiteral("Save As"), proposal);
  if (path.isEmpty()) return false;
  return SaveTo(path, SamePath(path, m_document.SavedPath()) ? QStringLiteral("Saved %1")
                                                               : QStringLiteral("Saved as %1"));
}

bool CArchiveSaver::SaveChangesAs() {
  const QString path =
      AfxGetApp()->PromptDocumentSaveName(QStringLiteral("Save Changes As"), QString());
  if (path.isEmpty()) return false;
  if (SamePath(path, m_document.SavedPath())) {
    ShowStatusText(QStringLiteral("Cannot save the changes over the archive they change"));
    return false;
  }
  QString reason;
  if (!WriteTo(path, SaveScope::ChangesOnly, reason)) {
    ShowStatusText(QStringLiteral("Cannot save the changes: %1").arg(reason));
    return false;
  }
  size_t deletions = 0;
  for (const auto& [name, change] : m_document.Changes().GetChanges())
    deletions += change.removed ? 1 : 0;
  QString text = QStringLiteral("Saved the changes as %1").arg(Shown(path));
  if (deletions > 0) {
    text +=
        deletions == 1
            ? QStringLiteral("; 1 deletion left out (an archive loaded over another cannot delete)")
            : QStringLiteral(
                  "; %1 deletions left out (an archive loaded over another cannot delete)")
                  .arg(deletions);
  }
  ShowStatusText(text);
  return true;
}

bool CArchiveSaver::MayClose() {
  if (!m_document.IsModified()) return true;
  CWinApp* app = AfxGetApp();
  QWidget* parent = app != nullptr ? app->GetMainWnd() : nullptr;
  const QMessageBox::StandardButton answer = QMessageBox::question(
      parent, QStringLiteral("Tarn Editor"),
      QStringLiteral("Save the changes to %1?").arg(m_document.GetTitle()),
      QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save);
  if (answer == QMessageBox::Discard) return true;
  if (answer == QMessageBox::Save) return Save();
  return false;
}

void CArchiveSaver::SaveCopyAs() {
  if (m_document.SavedPath().isEmpty()) return;
  // The archive's own name would only be refused.
  const QString path = AfxGetApp()->PromptDocumentSaveName(
      QStringLiteral("Save As"), SaveAsProposal(m_document.SavedPath()));
  if (path.isEmpty()) return;
  ShowStatusText(m_document.OnSaveDocument(path)
                     ? QStringLiteral("Saved a copy as %1").arg(Shown(path))
                     : QStringLiteral("Cannot save a copy: %1").arg(m_document.GetLastError()));
}

bool CArchiveSaver::OnCmdMsg(int id, CCmdUI* query) {
  const bool modified = m_document.IsModified();
  switch (id) {
    case ID_FILE_SAVE:
      return Handle(
          query, [this] { Save(); }, modified);
    case ID_FILE_SAVE_CHANGES_AS:
      return Handle(
          query, [this] { SaveChangesAs(); }, modified);
    case ID_FILE_SAVE_AS:
      // Offered for an opened archive, and for a new one once it has entries.
      return Handle(
          query,
          [this, modified] {
            const QString path = m_document.SavedPath();
            if (!modified) return SaveCopyAs();
            SaveAs(path.isEmpty() ? QString() : SaveAsProposal(path));
          },
          !m_document.SavedPath().isEmpty() || modified);
    default: return false;
  }
}

QString SaveAsProposal(const QString& path) {
  const QFileInfo info(path);
  const QString suffix = info.suffix();
  QString name = info.completeBaseName() + QStringLiteral(" copy");
  if (!suffix.isEmpty()) name += QLatin1Char('.') + suffix;
  return info.dir().filePath(name);
}
