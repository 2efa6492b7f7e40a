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

#include "app/edit/text_window.h"
#include "app/edit/value_edit.h"
#include "app/document/entry_text.h"
#include "app/framework/command_ids.h"
#include "app/framework/frames.h"
#include "app/framework/win_app.h"
#include "app/document/status_text.h"
#include "app/document/tarn_editor_doc.h"
#include "rules/rules_search.h"
#include "storage/replacing_file.h"
#include "storage/disk_file.h"
#include "archive/big_writer.h"

namespace {

// One user action: what each name it touched was before and is after.
class CChangeCommand : public QUndoCommand {
 public:
  struct CName {
    std::string name;
    std::optional<CChangeSet::CChange> before;
    std::optional<CChangeSet::CChange> after;
  };

  // The document hears of each step from its stack, after it is done.
  CChangeCommand(const QString& text, CTarnEditorDoc& document, std::vector<CName> names)
      : QUndoCommand(text), m_document(document), m_names(std::move(names)) {}

  void redo() override {
    for (const CName& n : m_names) m_document.Shown().Restore(n.name, n.after);
    TellShownNames();
  }
  void undo() override {
    for (auto n = m_names.rbegin(); n != m_names.rend(); ++n)
      m_document.Shown().Restore(n->name, n->before);
    TellShownNames();
  }

 private:
  void TellShownNames() {
    std::vector<std::string> shown;
    for (const CName& n : m_names)
      if (m_document.Shown().Has(n.name)) shown.push_back(n.name);
    m_document.SetStepNames(std::move(shown));
  }

  CTarnEditorDoc& m_document;
  std::vector<CName> m_names;
};

// A file's bytes, copied into memory of our own when it is added: the
// file may change or go before the archive is saved, and no descriptor is
// held per pending file. Nothing (with `reason`, about the file) when it
// cannot be read whole.
std::optional<CDataBuffer> ReadFileBytes(const std::filesystem::path& path, std::string& reason) {
  CResult<CDataBuffer> bytes = ReadFileCopy(path.string(), kMostArchiveBytes, "2 GiB or more");
  if (bytes) return std::move(*bytes);
  reason = bytes.GetStatus().GetPath() + ": " + bytes.GetStatus().GetWords();
  return std::nullopt;
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
  const std::string conflict =
      name ? NameConflict(m_document.Entries(), m_document.Changes(), *name).GetWords()
           : "a character has no byte in names";
  if (!conflict.empty()) {
    ShowStatusText(QStringLiteral("Cannot rename %1 to %2: %3")
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
  return Push(QStringLiteral("Rename"), std::move(steps)).isEmpty();
}

bool CEntryEditor::RenameFolder(const std::vector<std::string>& names, size_t part,
                                const QString& to) {
  const std::optional<std::string> newPart = TextToBytes(to);
  const auto refuse = [&](const QString& why) {
    ShowStatusText(QStringLiteral("Cannot rename the folder to %1: %2").arg(to, why));
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
  return Push(QStringLiteral("Rename Folder"), std::move(steps)).isEmpty();
}

namespace {

// The prefix the user gives added names, proposed as `prefix`, as bytes
// ending in '\\' (or empty); nothing when the user cancels, or with a
// character no byte stands for (the status bar then says so).
std::optional<std::string> AskPrefix(const QString& prefix, QWidget* parent) {
  bool asked = false;
  const QString typed =
      QInputDialog::getText(parent, QStringLiteral("Add"), QStringLiteral("Names start with:"),
                            QLineEdit::Normal, prefix, &asked);
  if (!asked) return std::nullopt;
  std::optional<std::string> start = TextToBytes(typed);
  if (!start) {
    ShowStatusText(
        QStringLiteral("Cannot add: the prefix holds a character that has no byte in names"));
    return std::nullopt;
  }
  if (!start->empty() && start->back() != '\\' && start->back() != '/') *start += '\\';
  return start;
}

// One question for a whole batch of which some names are taken: whether
// to replace them (true) or skip them (false); nothing for Cancel.
std::optional<bool> AskReplace(QWidget* parent) {
  QMessageBox box(QMessageBox::Question, QStringLiteral("Tarn Editor"),
                  QStringLiteral("Some of the names are entries already. Replace them?"),
                  QMessageBox::NoButton, parent);
  QPushButton* replaceButton = box.addButton(QStringLiteral("Replace"), QMessageBox::AcceptRole);
  QPushButton* skipButton = box.addButton(QStringLiteral("Skip"), QMessageBox::RejectRole);
  box.addButton(QMessageBox::Cancel);
  box.setDefaultButton(skipButton);
  box.exec();
  if (box.clickedButton() != replaceButton && box.clickedButton() != skipButton)
    return std::nullopt;
  return box.clickedButton() == replaceButton;
}

}  // namespace

void CEntryEditor::AddPaths(const QStringList& paths, const QString& prefix, QWidget* parent) {
  if (paths.isEmpty()) return;
  const std::optional<std::string> start = AskPrefix(prefix, parent);
  if (!start) return;
  std::vector<CFound> found;
  QStringList skipped;
  for (const QString& path : paths)
    Gather(std::filesystem::path(NativePath(path)), *start, found, skipped);
  std::sort(found.begin(), found.end(),
            [](const CFound& a, const CFound& b) { return a.name < b.name; });

  bool replace = true;
  const bool anyTaken = std::any_of(found.begin(), found.end(), [this](const CFound& f) {
    return CurrentBytes(m_document.Entries(), m_document.Changes(), f.name).has_value();
  });
  if (anyTaken) {
    const std::optional<bool> answer = AskReplace(parent);
    if (!answer) return;
    replace = *answer;
  }

  // Each name is tried against the ones added before it, so a batch cannot
  // make an entry both a file and a folder either.
  CChangeSet trial = m_document.Changes();
  std::vector<CStep> steps;
  for (const CFound& f : found) {
    const bool taken = CurrentBytes(m_document.Entries(), trial, f.name).has_value();
    if (taken && !replace) continue;
    const std::string conflict =
        NameConflict(m_document.Entries(), trial, f.name, taken).GetWords();
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
  if (!steps.empty() &&
      !Push(added == 1 ? QStringLiteral("Add File") : QStringLiteral("Add %1 Files").arg(added),
            std::move(steps))
           .isEmpty())
    return;
  QString text =
      added == 1 ? QStringLiteral("Added 1 entry") : QStringLiteral("Added %1 entries").arg(added);
  if (!skipped.isEmpty()) text += QStringLiteral("; skipped ") + skipped.join(QStringLiteral(", "));
  ShowStatusText(text);
}

void CEntryEditor::ReplaceWithFile(std::string_view name, QWidget* parent) {
  if (!CurrentBytes(m_document.Entries(), m_document.Changes(), name)) return;
  const QString path = QFileDialog::getOpenFileName(parent, QStringLiteral("Replace With File"));
  if (path.isEmpty()) return;
  std::string reason;
  const std::optional<CDataBuffer> bytes = ReadFileBytes(NativePath(path), reason);
  if (!bytes) {
    ShowStatusText(QStringLiteral("Cannot replace %1: %2")
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
  // Named before the steps are handed over: an argument made from them
  // beside the move could see them already gone ("Delete 0 Entries").
  const QString text = steps.size() == 1 ? QStringLiteral("Delete")
                                         : QStringLiteral("Delete %1 Entries").arg(steps.size());
  Push(text, std::move(steps));
}

bool CEntryEditor::EditText(std::string_view name, QWidget* parent) {
  const std::optional<CDataBuffer> now =
      CurrentBytes(m_document.Entries(), m_document.Changes(), name);
  if (!now) return false;
  if (now->GetSize() > 0 && !now->HasData()) {
    // An archive that could not be mapped, and this entry could not be read.
    ShowStatusText(QStringLiteral("Cannot read %1 from the archive").arg(BytesToText(name)));
    return false;
  }
  const std::string_view bytes = now->View();
  if (!IsRulesText(bytes)) {
    ShowStatusText(QStringLiteral("%1 is not text: it holds a zero byte").arg(BytesToText(name)));
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
  if (current->GetSize() > 0 && !current->HasData())
    return QStringLiteral("Not applied: %1 can no longer be read from the archive").arg(name);
  const std::string_view now = current->View();
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
  return Push(QStringLiteral("Edit Text"), {{entry, CChangeSet::CChange{false, changed}}});
}

bool CEntryEditor::EditValue(std::string_view entry, size_t offset, size_t size,
                             const QString& value) {
  const std::optional<CDataBuffer> now =
      CurrentBytes(m_document.Entries(), m_document.Changes(), entry);
  const std::string_view text = now ? now->View() : std::string_view();
  if (offset + size > text.size()) return false;
  QString reason;
  const std::optional<std::string> changed = ReplaceValue(text, offset, size, value, reason);
  if (!changed) {
    ShowStatusText(reason);
    return false;
  }
  if (*changed == text) return true;  // the same bytes: nothing to undo
  if (changed->size() > UINT32_MAX) return false;
  const CDataBuffer bytes(changed->data(), static_cast<uint32_t>(changed->size()));
  return Push(QStringLiteral("Edit Value"), {{std::string(entry), CChangeSet::CChange{false, bytes}}})
      .isEmpty();
}

QString CEntryEditor::Push(const QString& text, std::vector<CStep> steps) {
  for (const CStep& step : steps) {
    // Putting an entry back as opened is never refused.
    if (!step.after) continue;
    const CStatus refused = m_document.Shown().MayChange(step.name, step.after->removed);
    if (refused.IsOk()) continue;
    const QString why = QStringLiteral("Cannot %1: %2").arg(text.toLower(), StatusText(refused));
    ShowStatusText(why);
    return why;
  }
  std::vector<CChangeCommand::CName> names;
  names.reserve(steps.size());
  for (CStep& step : steps) {
    names.push_back({step.name, m_document.Changes().Get(step.name), std::move(step.after)});
  }
  m_document.GetUndoStack().push(new CChangeCommand(text, m_document, std::move(names)));
  return QString();
}

bool CEntryEditor::MayClose() {
  // Asked before the archive's changes are: applying the text may give it
  // more to save.
  for (const QPointer<CTextWindow>& window : m_textWindows) {
    if (window != nullptr && !window->MayClose()) return false;
  }
  return true;
}

std::string ReplaceNamePart(std::string_view name, size_t part, std::string_view to) {
  size_t start = 0;
  for (size_t skipped = 0; skipped < part; ++skipped) {
    const size_t cut = name.find_first_of("\\/", start);
    if (cut == std::string_view::npos) return std::string(name);
    start = cut + 1;
  }
  const size_t end = std::min(name.find_first_of("\\/", start), name.size());
  std::string renamed(name.substr(0, start));
  renamed += to;
  renamed += name.substr(end);
  return renamed;
}
