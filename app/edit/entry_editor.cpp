#include "app/edit/entry_editor.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

#include <filesystem>
#include <functional>

#include "app/compare/compare_window.h"
#include "app/edit/text_window.h"
#include "app/edit/value_edit.h"
#include "app/entry_folders.h"
#include "app/entry_logic.h"
#include "app/framework/command_ids.h"
#include "app/framework/frames.h"
#include "app/framework/win_app.h"
#include "app/status_text.h"
#include "app/tarn_editor_doc.h"
#include "storage/replacing_file.h"
#include "storage/disk_file.h"
#include "storage/handle_owner.h"
#include "archive/big_writer.h"

namespace {

void ShowMessage(const QString& text) {
  if (CWinApp* app = AfxGetApp()) app->SetMessageText(text);
}

std::string NativePath(const QString& path) { return QFile::encodeName(path).toStdString(); }

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

// One user action: what each name it touched was before and is after.
class CChangeCommand : public QUndoCommand {
 public:
  struct CName {
    std::string name;
    std::optional<CChangeSet::CChange> before;
    std::optional<CChangeSet::CChange> after;
  };

  CChangeCommand(const QString& text, CShownArchive& changes, std::vector<CName> names,
                 std::function<void()> changed)
      : QUndoCommand(text),
        m_changes(changes),
        m_names(std::move(names)),
        m_changed(std::move(changed)) {}

  void redo() override {
    for (const CName& n : m_names) m_changes.Restore(n.name, n.after);
    m_changed();
  }
  void undo() override {
    for (auto n = m_names.rbegin(); n != m_names.rend(); ++n) m_changes.Restore(n->name, n->before);
    m_changed();
  }

 private:
  CShownArchive& m_changes;
  std::vector<CName> m_names;
  std::function<void()> m_changed;
};

// A file's bytes, copied into memory of our own when it is added: the
// file may change or go before the archive is saved, and no descriptor is
// held per pending file. Nothing (with `reason`, about the file) when it
// cannot be read whole.
std::optional<CDataBuffer> ReadFileBytes(const std::filesystem::path& path, std::string& reason) {
  const std::string name = path.string();
  const platform::Result<platform::Handle> opened = platform::CreateFile(
      name, platform::kGenericRead, platform::kOpenExisting, platform::kFileShareRead);
  const CHandleOwner file(*opened);
  const auto fail = [&](const std::string& why) -> std::optional<CDataBuffer> {
    reason = name + ": " + why;
    return std::nullopt;
  };
  if (!opened) return fail(opened.GetError().Text());
  const platform::Result<int64_t> size = platform::GetFileSize(file.Get());
  if (!size) return fail(size.GetError().Text());
  if (*size >= int64_t{kMostArchiveBytes}) return fail("2 GiB or more");
  CDataBuffer bytes(nullptr, static_cast<uint32_t>(*size));
  if (*size > 0) {
    uint8_t* into = bytes.GetWritable(static_cast<int32_t>(*size));
    const platform::Error error =
        platform::ReadAt(file.Get(), 0, into, static_cast<uint32_t>(*size));
    if (error.Failed()) return fail(error.Text());
  }
  return bytes;
}

struct CFound {
  std::string name;
  std::filesystem::path path;
};

// Every regular file at or under `path`, named as pack would name it below
// the folder chosen ('\\' between the parts); what cannot be added goes to
// `skipped`.
void Gather(const std::filesystem::path& path, const std::string& prefix,
            std::vector<CFound>& found, QStringList& skipped) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::file_status status = fs::symlink_status(path, error);
  const auto skip = [&](const fs::path& at, const QString& why) {
    skipped << QStringLiteral("%1 (%2)").arg(QString::fromStdString(at.string()), why);
  };
  if (fs::is_symlink(status)) return skip(path, QStringLiteral("symbolic link, not followed"));
  if (fs::is_regular_file(status)) {
    found.push_back({prefix + path.filename().string(), path});
    return;
  }
  if (!fs::is_directory(status)) return skip(path, QStringLiteral("not a regular file or folder"));
  for (auto it = fs::recursive_directory_iterator(path, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    const fs::file_status item = it->symlink_status(error);
    std::string relative;
    bool joined = false;  // a '\\' inside one name would read as a separator
    for (const fs::path& part : fs::relative(it->path(), path)) {
      const std::string piece = part.string();
      joined = joined || piece.find('\\') != std::string::npos;
      if (!relative.empty()) relative += '\\';
      relative += piece;
    }
    const std::string name = prefix + relative;
    if (joined && fs::is_regular_file(item)) {
      skip(it->path(), QStringLiteral("name holds a '\\'"));
      continue;
    }
    if (fs::is_symlink(item)) {
      skip(it->path(), QStringLiteral("symbolic link, not followed"));
    } else if (fs::is_regular_file(item)) {
      found.push_back({name, it->path()});
    } else if (!fs::is_directory(item)) {
      skip(it->path(), QStringLiteral("not a regular file or folder"));
    }
  }
  if (error) skip(path, QString::fromLocal8Bit(error.message()));
}

}  // namespace

CEntryEditor::CEntryEditor(CTarnEditorDoc& document) : m_document(document) {}

bool CEntryEditor::IsEntryChanged(std::string_view name) const {
  return m_document.Changes().Find(name) != nullptr;
}

bool CEntryEditor::IsEntryRemoved(std::string_view name) const {
  const CChangeSet::CChange* change = m_document.Changes().Find(name);
  return change != nullptr && change->removed;
}

CDataBuffer CEntryEditor::ShownBytes(std::string_view name, const CDataBuffer& opened) const {
  const CChangeSet::CChange* change = m_document.Changes().Find(name);
  if (change == nullptr) return opened;
  return change->removed ? CDataBuffer() : change->bytes;
}

std::vector<std::string> CEntryEditor::AddedNames() const {
  std::vector<std::string> names;
  for (const auto& [name, change] : m_document.Changes().GetChanges()) {
    if (!change.removed && m_document.Entries().find(name) == m_document.Entries().end())
      names.push_back(name);
  }
  return names;
}

std::vector<std::string> CEntryEditor::ChangedNames() const {
  std::vector<std::string> names;
  names.reserve(m_document.Changes().size());
  for (const auto& change : m_document.Changes().GetChanges()) names.push_back(change.first);
  return names;
}

bool CEntryEditor::RenameEntry(std::string_view from, const QString& to) {
  const std::optional<CDataBuffer> bytes =
      CurrentBytes(m_document.Entries(), m_document.Changes(), from);
  const std::optional<std::string> name = TextToBytes(to);
  if (!bytes) return false;
  if (name && *name == from) return true;
  const std::string conflict = name
                                   ? NameConflict(m_document.Entries(), m_document.Changes(), *name).GetWords()
                                   : "a character has no byte in names";
  if (!conflict.empty()) {
    ShowMessage(QStringLiteral("Cannot rename %1 to %2: %3")
                    .arg(BytesToText(from), to, QString::fromStdString(conflict)));
    return false;
  }
  // An opened entry goes and the new name comes; an added one just moves.
  const bool opened = m_document.Entries().find(from) != m_document.Entries().end();
  std::vector<CStep> steps;
  steps.push_back(
      {std::string(from),
       opened ? std::optional<CChangeSet::CChange>(CChangeSet::CChange{true, {}}) : std::nullopt});
  steps.push_back({*name, CChangeSet::CChange{false, *bytes}});
  Push(QStringLiteral("Rename"), std::move(steps));
  return true;
}

bool CEntryEditor::RenameFolder(const std::vector<std::string>& names, size_t part,
                                const QString& to) {
  const std::optional<std::string> newPart = TextToBytes(to);
  const auto refuse = [&](const QString& why) {
    ShowMessage(QStringLiteral("Cannot rename the folder to %1: %2").arg(to, why));
    return false;
  };
  if (!newPart) return refuse(QStringLiteral("a character has no byte in names"));
  // Every name leaves before any arrives, so the new names are checked
  // against the archive as it will be, not against the names they replace.
  CChangeSet trial = m_document.Changes();
  std::vector<CStep> steps;
  std::vector<std::pair<std::string, CDataBuffer>> moving;
  for (const std::string& name : names) {
    std::optional<CDataBuffer> bytes = CurrentBytes(m_document.Entries(), trial, name);
    if (!bytes) continue;  // deleted already
    std::string renamed = ReplaceNamePart(name, part, *newPart);
    if (renamed == name) return true;  // the same name: nothing to do
    const bool opened = m_document.Entries().find(name) != m_document.Entries().end();
    const std::optional<CChangeSet::CChange> gone =
        opened ? std::optional<CChangeSet::CChange>(CChangeSet::CChange{true, {}}) : std::nullopt;
    trial.Restore(name, gone);
    steps.push_back({name, gone});
    moving.emplace_back(std::move(renamed), std::move(*bytes));
  }
  if (moving.empty()) return false;
  for (auto& [name, bytes] : moving) {
    const std::string conflict = NameConflict(m_document.Entries(), trial, name).GetWords();
    if (!conflict.empty())
      return refuse(BytesToText(name) + QStringLiteral(": ") + QString::fromStdString(conflict));
    trial.Put(name, bytes);
    steps.push_back({name, CChangeSet::CChange{false, std::move(bytes)}});
  }
  Push(QStringLiteral("Rename Folder"), std::move(steps));
  return true;
}

void CEntryEditor::AddPaths(const QStringList& paths, const QString& prefix, QWidget* parent) {
  if (paths.isEmpty()) return;
  bool asked = false;
  const QString typed =
      QInputDialog::getText(parent, QStringLiteral("Add"), QStringLiteral("Names start with:"),
                            QLineEdit::Normal, prefix, &asked);
  if (!asked) return;
  std::optional<std::string> start = TextToBytes(typed);
  if (start && !start->empty() && start->back() != '\\' && start->back() != '/') *start += '\\';
  if (!start) {
    ShowMessage(
        QStringLiteral("Cannot add: the prefix holds a character that has no byte in names"));
    return;
  }
  std::vector<CFound> found;
  QStringList skipped;
  for (const QString& path : paths)
    Gather(std::filesystem::path(QFile::encodeName(path).toStdString()), *start, found, skipped);
  std::sort(found.begin(), found.end(),
            [](const CFound& a, const CFound& b) { return a.name < b.name; });

  // One question for the whole batch when some names are taken.
  bool replace = true;
  const bool anyTaken = std::any_of(found.begin(), found.end(), [this](const CFound& f) {
    return CurrentBytes(m_document.Entries(), m_document.Changes(), f.name).has_value();
  });
  if (anyTaken) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Tarn Editor"),
                    QStringLiteral("Some of the names are entries already. Replace them?"),
                    QMessageBox::NoButton, parent);
    QPushButton* replaceButton = box.addButton(QStringLiteral("Replace"), QMessageBox::AcceptRole);
    QPushButton* skipButton = box.addButton(QStringLiteral("Skip"), QMessageBox::RejectRole);
    box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(skipButton);
    box.exec();
    if (box.clickedButton() != replaceButton && box.clickedButton() != skipButton) return;
    replace = box.clickedButton() == replaceButton;
  }

  // Each name is tried against the ones added before it, so a batch cannot
  // make an entry both a file and a folder either.
  CChangeSet trial = m_document.Changes();
  std::vector<CStep> steps;
  for (const CFound& f : found) {
    const bool taken = CurrentBytes(m_document.Entries(), trial, f.name).has_value();
    if (taken && !replace) continue;
    const std::string conflict = NameConflict(m_document.Entries(), trial, f.name, taken).GetWords();
    std::string reason;
    const std::optional<CDataBuffer> bytes =
        conflict.empty() ? ReadFileBytes(f.path, reason) : std::nullopt;
    if (!bytes) {
      skipped << QStringLiteral("%1 (%2)").arg(
          BytesToText(f.name), QString::fromLocal8Bit(conflict.empty() ? reason : conflict));
      continue;
    }
    trial.Put(f.name, *bytes);
    steps.push_back({f.name, CChangeSet::CChange{false, *bytes}});
  }
  const size_t added = steps.size();
  if (!steps.empty())
    Push(added == 1 ? QStringLiteral("Add File") : QStringLiteral("Add %1 Files").arg(added),
         std::move(steps));
  QString text =
      added == 1 ? QStringLiteral("Added 1 entry") : QStringLiteral("Added %1 entries").arg(added);
  if (!skipped.isEmpty()) text += QStringLiteral("; skipped ") + skipped.join(QStringLiteral(", "));
  ShowMessage(text);
}

void CEntryEditor::ReplaceWithFile(std::string_view name, QWidget* parent) {
  if (!CurrentBytes(m_document.Entries(), m_document.Changes(), name)) return;
  const QString path = QFileDialog::getOpenFileName(parent, QStringLiteral("Replace With File"));
  if (path.isEmpty()) return;
  std::string reason;
  const std::optional<CDataBuffer> bytes =
      ReadFileBytes(QFile::encodeName(path).toStdString(), reason);
  if (!bytes) {
    ShowMessage(QStringLiteral("Cannot replace %1: %2")
                    .arg(BytesToText(name), QString::fromLocal8Bit(reason)));
    return;
  }
  Push(QStringLiteral("Replace"), {{std::string(name), CChangeSet::CChange{false, *bytes}}});
}

void CEntryEditor::DeleteEntries(const std::vector<std::string>& names) {
  std::vector<CStep> steps;
  for (const std::string& name : names) {
    if (IsEntryRemoved(name)) continue;
    // An added entry simply goes; an opened one waits to be deleted.
    const bool opened = m_document.Entries().find(name) != m_document.Entries().end();
    steps.push_back({name, opened
                               ? std::optional<CChangeSet::CChange>(CChangeSet::CChange{true, {}})
                               : std::nullopt});
  }
  if (steps.empty()) return;
  Push(steps.size() == 1 ? QStringLiteral("Delete")
                         : QStringLiteral("Delete %1 Entries").arg(steps.size()),
       std::move(steps));
}

bool CEntryEditor::EditText(std::string_view name, QWidget* parent) {
  const std::optional<CDataBuffer> now =
      CurrentBytes(m_document.Entries(), m_document.Changes(), name);
  if (!now) return false;
  const std::string_view bytes(reinterpret_cast<const char*>(now->GetData()), now->GetSize());
  if (LooksBinary(bytes)) {
    ShowMessage(QStringLiteral("%1 is not text: it holds a zero byte").arg(BytesToText(name)));
    return false;
  }
  auto* window = new CTextWindow(
      BytesToText(name), m_document.GetTitle(), bytes,
      [this, entry = std::string(name)](std::string_view read, std::string& text) {
        return ApplyText(entry, read, text);
      },
      parent);
  // The window goes with the document's last window at the latest, once
  // SaveModified has asked about its text.
  connect(this, &QObject::destroyed, window, [window] { delete window; });
  std::erase_if(m_textWindows, [](const QPointer<CTextWindow>& w) { return w.isNull(); });
  m_textWindows.emplace_back(window);
  window->show();
  return true;
}

QString CEntryEditor::ApplyText(const std::string& entry, std::string_view read,
                                std::string& text) {
  const std::optional<CDataBuffer> current =
      CurrentBytes(m_document.Entries(), m_document.Changes(), entry);
  const QString name = BytesToText(entry);
  if (!current) {
    return QStringLiteral(
               "Not applied: %1 is no longer in the archive (deleted or renamed since this "
               "window read it)")
        .arg(name);
  }
  const std::string_view now(reinterpret_cast<const char*>(current->GetData()), current->GetSize());
  // Taking the window's text as it is would undo whatever changed the
  // entry since (an edit in the list, Undo, Redo, another text window).
  if (now != read) {
    std::optional<std::string> merged = MergeTexts(read, text, now);
    if (!merged) {
      return QStringLiteral(
                 "Not applied: %1 changed since this window read it, in lines this window "
                 "changed too; copy your text, close the window and open it again")
          .arg(name);
    }
    text = std::move(*merged);
  }
  if (text.size() > UINT32_MAX) return QStringLiteral("Not applied: the text is too long");
  if (text == now) return QString();
  const CDataBuffer changed(text.data(), static_cast<uint32_t>(text.size()));
  Push(QStringLiteral("Edit Text"), {{entry, CChangeSet::CChange{false, changed}}});
  return QString();
}

bool CEntryEditor::EditValue(std::string_view entry, size_t offset, size_t size,
                             const QString& value) {
  const std::optional<CDataBuffer> now =
      CurrentBytes(m_document.Entries(), m_document.Changes(), entry);
  if (!now || offset + size > now->GetSize()) return false;
  const std::string_view text(reinterpret_cast<const char*>(now->GetData()), now->GetSize());
  QString reason;
  const std::optional<std::string> changed = ReplaceValue(text, offset, size, value, reason);
  if (!changed) {
    ShowMessage(reason);
    return false;
  }
  if (*changed == text) return true;  // the same bytes: nothing to undo
  if (changed->size() > UINT32_MAX) return false;
  const CDataBuffer bytes(changed->data(), static_cast<uint32_t>(changed->size()));
  Push(QStringLiteral("Edit Value"), {{std::string(entry), CChangeSet::CChange{false, bytes}}});
  return true;
}

void CEntryEditor::Push(const QString& text, std::vector<CStep> steps) {
  std::vector<CChangeCommand::CName> names;
  names.reserve(steps.size());
  for (CStep& step : steps) {
    names.push_back({step.name, m_document.Changes().Get(step.name), std::move(step.after)});
  }
  m_undo.push(
      new CChangeCommand(text, m_document.Shown(), std::move(names), [this] { OnChanged(); }));
}

QString CEntryEditor::ChangesText() const {
  const size_t count = m_document.Changes().size();
  return count == 1 ? QStringLiteral("1 change") : QStringLiteral("%1 changes").arg(count);
}

void CEntryEditor::OnChanged() {
  const bool modified = !m_document.Changes().empty();
  if (modified != m_document.IsModified()) {
    m_document.SetModifiedFlag(modified);
    m_document.UpdateFrameCounts();  // retitles the windows: '*' while changes are pending
  }
  m_document.UpdateAllViews(kEntriesChanged);
  ShowMessage(ChangesText());
}

bool CEntryEditor::WriteTo(const QString& path, SaveScope scope, QString& reason) const {
  const CStatus written = m_document.Shown().Write(NativePath(path), scope);
  if (written.GetKind() == CStatus::Kind::SourceChanged) {
    reason = Shown(m_document.GetPathName()) + QStringLiteral(": ") + RewrittenText();
  } else if (!written.IsOk()) {
    reason = Shown(path) + QStringLiteral(": ") + QString::fromLocal8Bit(written.GetWords());
  }
  return written.IsOk();
}

QString CEntryEditor::RewrittenText() {
  return QStringLiteral(
      "another program rewrote it in place since it was opened, so its entries can no longer "
      "be read as they were");
}

void CEntryEditor::Forget() { m_undo.clear(); }

CEntryEditor::DiskAnswer CEntryEditor::AskAboutDisk(const QString& path, bool whole) const {
  const CShownArchive& shown = m_document.Shown();
  if (!shown.IsOpenedFile()) return DiskAnswer::Go;
  const DiskChange disk = shown.CheckDisk();
  const bool overOpened = SamePath(path, m_document.GetPathName());
  if (disk == DiskChange::None || (disk != DiskChange::Rewritten && !overOpened))
    return DiskAnswer::Go;
  if (disk == DiskChange::Rewritten && (!whole || shown.Opened().empty())) return DiskAnswer::Go;
  CWinApp* app = AfxGetApp();
  QMessageBox box(QMessageBox::Warning, QStringLiteral("Tarn Editor"),
                  QStringLiteral("The archive changed on disk since it was opened"),
                  QMessageBox::NoButton, app != nullptr ? app->GetMainWnd() : nullptr);
  box.setObjectName(QStringLiteral("changedOnDisk"));
  const QString file = Shown(m_document.GetPathName());
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

size_t CEntryEditor::OtherWindowsOn(const QString& path) const {
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
    const auto* compare = qobject_cast<const CCompareWindow*>(window);
    if (compare == nullptr) continue;
    const std::vector<std::string> shown = compare->ShownPaths();
    windows += std::any_of(shown.begin(), shown.end(),
                           [&](const std::string& at) { return IdentityOfFile(at) == file; });
  }
  return windows;
}

bool CEntryEditor::SaveTo(const QString& path, const QString& saved) {
  switch (AskAboutDisk(path, true)) {
    case DiskAnswer::Go: break;
    case DiskAnswer::SaveAs: return SaveAs(SaveAsProposal(m_document.GetPathName()));
    case DiskAnswer::SaveChangesAs: return SaveChangesAs();
    case DiskAnswer::Cancel:
      ShowMessage(QStringLiteral("Not saved; %1").arg(ChangesText()));
      return false;
  }
  // Counted before the file is replaced: then it is still theirs.
  const size_t others = OtherWindowsOn(path);
  QString reason;
  if (!WriteTo(path, SaveScope::Whole, reason)) {
    ShowMessage(QStringLiteral("Cannot save: %1").arg(reason));
    return false;
  }
  // The window now stands for the archive it wrote, with nothing pending.
  if (!m_document.Reload(path, reason)) {
    ShowMessage(QStringLiteral("Saved, but cannot read it back: %1").arg(reason));
    return true;
  }
  if (path != m_document.GetPathName()) m_document.SetPathName(path);
  QString text = saved.arg(Shown(path));
  if (others == 1) {
    text += QStringLiteral("; 1 other window keeps showing what it opened until it is reopened");
  } else if (others > 1) {
    text +=
        QStringLiteral("; %1 other windows keep showing what they opened until they are reopened")
            .arg(others);
  }
  ShowMessage(text);
  return true;
}

bool CEntryEditor::Save() {
  if (m_document.GetPathName().isEmpty()) return SaveAs(QString());
  return SaveTo(m_document.GetPathName(), QStringLiteral("Saved %1"));
}

bool CEntryEditor::SaveAs(const QString& proposal) {
  const QString path = AfxGetApp()->PromptDocumentSaveName(QStringLiteral("Save As"), proposal);
  if (path.isEmpty()) return false;
  return SaveTo(path, SamePath(path, m_document.GetPathName()) ? QStringLiteral("Saved %1")
                                                               : QStringLiteral("Saved as %1"));
}

bool CEntryEditor::SaveChangesAs() {
  const QString path =
      AfxGetApp()->PromptDocumentSaveName(QStringLiteral("Save Changes As"), QString());
  if (path.isEmpty()) return false;
  if (SamePath(path, m_document.GetPathName())) {
    ShowMessage(QStringLiteral("Cannot save the changes over the archive they change"));
    return false;
  }
  QString reason;
  if (!WriteTo(path, SaveScope::ChangesOnly, reason)) {
    ShowMessage(QStringLiteral("Cannot save the changes: %1").arg(reason));
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
  ShowMessage(text);
  return true;
}

bool CEntryEditor::SaveModified() {
  // Text not applied is asked about first: applying it may give the
  // archive changes to save.
  for (const QPointer<CTextWindow>& window : m_textWindows) {
    if (window != nullptr && !window->MayClose()) return false;
  }
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

bool CEntryEditor::OnCmdMsg(int id, CCmdUI* query) {
  switch (id) {
    case ID_FILE_SAVE:
      return Handle(
          query, [this] { Save(); }, m_document.IsModified());
    case ID_FILE_SAVE_CHANGES_AS:
      return Handle(
          query, [this] { SaveChangesAs(); }, m_document.IsModified());
    case ID_EDIT_UNDO:
      return Handle(
          query, [this] { m_undo.undo(); }, m_undo.canUndo());
    case ID_EDIT_REDO:
      return Handle(
          query, [this] { m_undo.redo(); }, m_undo.canRedo());
    default: return false;
  }
}
