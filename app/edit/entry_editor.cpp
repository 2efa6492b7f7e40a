#include "app/edit/entry_editor.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QPushButton>
#include <QMessageBox>

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
#include "archive/extract.h"
#include "storage/disk_file.h"

namespace {

void ShowMessage(const QString& text) {
  if (CWinApp* app = AfxGetApp()) app->SetMessageText(text);
}

std::string NativePath(const QString& path) { return QFile::encodeName(path).toStdString(); }

QString Shown(const QString& path) {
  return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
}

// One user action: what each name it touched was before and is after.
class CChangeCommand : public QUndoCommand {
 public:
  struct CName {
    std::string name;
    std::optional<CChangeSet::CChange> before;
    std::optional<CChangeSet::CChange> after;
  };

  CChangeCommand(const QString& text, CChangeSet& changes, std::vector<CName> names,
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
  CChangeSet& m_changes;
  std::vector<CName> m_names;
  std::function<void()> m_changed;
};

// A file's bytes, mapped rather than copied; nothing (with `reason`) when
// it cannot be read.
std::optional<CDataBuffer> ReadFileBytes(const std::filesystem::path& path, std::string& reason) {
  CDiskFile file;
  CDataBuffer bytes;
  if (file.OpenRead(path.string()) != 0 || file.LoadWhole(bytes, nullptr) != 0) {
    reason = file.GetLastError().GetWords();
    return std::nullopt;
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
  return m_document.m_changes.Find(name) != nullptr;
}

bool CEntryEditor::IsEntryRemoved(std::string_view name) const {
  const CChangeSet::CChange* change = m_document.m_changes.Find(name);
  return change != nullptr && change->removed;
}

CDataBuffer CEntryEditor::ShownBytes(std::string_view name, const CDataBuffer& opened) const {
  const CChangeSet::CChange* change = m_document.m_changes.Find(name);
  if (change == nullptr) return opened;
  return change->removed ? CDataBuffer() : change->bytes;
}

std::vector<std::string> CEntryEditor::AddedNames() const {
  std::vector<std::string> names;
  for (const auto& [name, change] : m_document.m_changes.GetChanges()) {
    if (!change.removed && m_document.m_entries.find(name) == m_document.m_entries.end())
      names.push_back(name);
  }
  return names;
}

std::vector<std::string> CEntryEditor::ChangedNames() const {
  std::vector<std::string> names;
  names.reserve(m_document.m_changes.size());
  for (const auto& change : m_document.m_changes.GetChanges()) names.push_back(change.first);
  return names;
}

bool CEntryEditor::RenameEntry(std::string_view from, const QString& to) {
  const std::optional<CDataBuffer> bytes =
      CurrentBytes(m_document.m_entries, m_document.m_changes, from);
  const std::optional<std::string> name = TextToBytes(to);
  if (!bytes) return false;
  if (name && *name == from) return true;
  const std::string conflict = name
                                   ? NameConflict(m_document.m_entries, m_document.m_changes, *name)
                                   : "a character has no byte in names";
  if (!conflict.empty()) {
    ShowMessage(QStringLiteral("Cannot rename %1 to %2: %3")
                    .arg(BytesToText(from), to, QString::fromStdString(conflict)));
    return false;
  }
  // An opened entry goes and the new name comes; an added one just moves.
  const bool opened = m_document.m_entries.find(from) != m_document.m_entries.end();
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
  CChangeSet trial = m_document.m_changes;
  std::vector<CStep> steps;
  std::vector<std::pair<std::string, CDataBuffer>> moving;
  for (const std::string& name : names) {
    std::optional<CDataBuffer> bytes = CurrentBytes(m_document.m_entries, trial, name);
    if (!bytes) continue;  // deleted already
    std::string renamed = ReplaceNamePart(name, part, *newPart);
    if (renamed == name) return true;  // the same name: nothing to do
    const bool opened = m_document.m_entries.find(name) != m_document.m_entries.end();
    const std::optional<CChangeSet::CChange> gone =
        opened ? std::optional<CChangeSet::CChange>(CChangeSet::CChange{true, {}}) : std::nullopt;
    trial.Restore(name, gone);
    steps.push_back({name, gone});
    moving.emplace_back(std::move(renamed), std::move(*bytes));
  }
  if (moving.empty()) return false;
  for (auto& [name, bytes] : moving) {
    const std::string conflict = NameConflict(m_document.m_entries, trial, name);
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
    return CurrentBytes(m_document.m_entries, m_document.m_changes, f.name).has_value();
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
  CChangeSet trial = m_document.m_changes;
  std::vector<CStep> steps;
  for (const CFound& f : found) {
    const bool taken = CurrentBytes(m_document.m_entries, trial, f.name).has_value();
    if (taken && !replace) continue;
    const std::string conflict = NameConflict(m_document.m_entries, trial, f.name, taken);
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
  if (!CurrentBytes(m_document.m_entries, m_document.m_changes, name)) return;
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
    const bool opened = m_document.m_entries.find(name) != m_document.m_entries.end();
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
      CurrentBytes(m_document.m_entries, m_document.m_changes, name);
  if (!now) return false;
  const std::string_view bytes(reinterpret_cast<const char*>(now->GetData()), now->GetSize());
  if (LooksBinary(bytes)) {
    ShowMessage(QStringLiteral("%1 is not text: it holds a zero byte").arg(BytesToText(name)));
    return false;
  }
  auto* window = new CTextWindow(
      BytesToText(name) + QStringLiteral(" - ") + m_document.GetTitle(), bytes,
      [this, entry = std::string(name)](std::string text) {
        const std::optional<CDataBuffer> current =
            CurrentBytes(m_document.m_entries, m_document.m_changes, entry);
        if (!current || text.size() > UINT32_MAX) return false;
        const std::string_view was(reinterpret_cast<const char*>(current->GetData()),
                                   current->GetSize());
        if (text == was) return true;
        const CDataBuffer changed(text.data(), static_cast<uint32_t>(text.size()));
        Push(QStringLiteral("Edit Text"), {{entry, CChangeSet::CChange{false, changed}}});
        return true;
      },
      parent);
  // The window goes with the document's last window at the latest.
  connect(this, &QObject::destroyed, window, [window] { delete window; });
  window->show();
  return true;
}

bool CEntryEditor::EditValue(std::string_view entry, size_t offset, size_t size,
                             const QString& value) {
  const std::optional<CDataBuffer> now =
      CurrentBytes(m_document.m_entries, m_document.m_changes, entry);
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
    names.push_back({step.name, m_document.m_changes.Get(step.name), std::move(step.after)});
  }
  m_undo.push(
      new CChangeCommand(text, m_document.m_changes, std::move(names), [this] { OnChanged(); }));
}

QString CEntryEditor::ChangesText() const {
  const size_t count = m_document.m_changes.size();
  return count == 1 ? QStringLiteral("1 change") : QStringLiteral("%1 changes").arg(count);
}

void CEntryEditor::OnChanged() {
  const bool modified = !m_document.m_changes.empty();
  if (modified != m_document.IsModified()) {
    m_document.SetModifiedFlag(modified);
    m_document.UpdateFrameCounts();  // retitles the windows: '*' while changes are pending
  }
  m_document.UpdateAllViews(kEntriesChanged);
  ShowMessage(ChangesText());
}

bool CEntryEditor::WriteTo(const QString& path, SaveScope scope, QString& reason) const {
  // Unchanged entries are copied from the opened file by the kernel, when
  // it is still the file they were read from; else from the mapped bytes,
  // which are the same.
  CSaveSource source;
  if (m_document.IsArchiveUnchanged()) {
    source.file = CHandleHolder::Wrap(
        *platform::CreateFile(NativePath(m_document.GetPathName()), platform::kGenericRead,
                              platform::kOpenExisting, platform::kFileShareRead));
  }
  const CStatus written = WriteChangedArchive(NativePath(path), m_document.m_entries,
                                              m_document.m_changes, scope, source);
  if (!written.IsOk())
    reason = Shown(path) + QStringLiteral(": ") + QString::fromLocal8Bit(written.GetWords());
  return written.IsOk();
}

bool CEntryEditor::Reopen(const QString& path, QString& reason) {
  CEntryMap saved;
  CStatus error;
  if (!OpenArchiveEntries(NativePath(path), saved, &error)) {
    reason = StatusText(error, Shown(path));
    return false;
  }
  // The old entries stay alive until every view has let go of them.
  m_document.UpdateAllViews(kEntriesReplacing);
  CEntryMap opened;
  opened.swap(m_document.m_entries);
  m_document.m_entries.swap(saved);
  m_document.m_changes.clear();
  m_undo.clear();
  m_document.Restamp(path);
  m_document.SetModifiedFlag(false);
  m_document.UpdateFrameCounts();
  m_document.UpdateAllViews(kEntriesReplaced);
  return true;
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
  // Counted before the file is replaced: then it is still theirs.
  const size_t others = OtherWindowsOn(path);
  QString reason;
  if (!WriteTo(path, SaveScope::Whole, reason)) {
    ShowMessage(QStringLiteral("Cannot save: %1").arg(reason));
    return false;
  }
  // The window now stands for the archive it wrote, with nothing pending.
  if (!Reopen(path, reason)) {
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
  const QString path = AfxGetApp()->DoPromptFileName(false, proposal);
  if (path.isEmpty()) return false;
  if (QFileInfo(path).absoluteFilePath() ==
      QFileInfo(m_document.GetPathName()).absoluteFilePath()) {
    return Save();
  }
  return SaveTo(path, QStringLiteral("Saved as %1"));
}

bool CEntryEditor::SaveChangesAs() {
  const QString path = AfxGetApp()->DoPromptFileName(false, QString());
  if (path.isEmpty()) return false;
  if (!m_document.GetPathName().isEmpty() &&
      QFileInfo(path).absoluteFilePath() ==
          QFileInfo(m_document.GetPathName()).absoluteFilePath()) {
    ShowMessage(QStringLiteral("Cannot save the changes over the archive they change"));
    return false;
  }
  QString reason;
  if (!WriteTo(path, SaveScope::ChangesOnly, reason)) {
    ShowMessage(QStringLiteral("Cannot save the changes: %1").arg(reason));
    return false;
  }
  size_t deletions = 0;
  for (const auto& [name, change] : m_document.m_changes.GetChanges())
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
