#include "app/entry_actions.h"

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QUrl>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QVBoxLayout>

#include <algorithm>
#include <string>
#include <vector>

#include "app/framework/command_ids.h"
#include "app/framework/frames.h"
#include "app/framework/status_bar.h"
#include "app/framework/win_app.h"
#include "app/left_view.h"
#include "app/main_frame.h"
#include "app/tarn_editor_doc.h"
#include "archive/entry_path.h"
#include "archive/extract.h"
#include "storage/replacing_file.h"

namespace {

CEntryActions::CDialogs g_dialogs;

std::string NativePath(const QString& path) { return QFile::encodeName(path).toStdString(); }

// The archive's own file, which no extraction may replace.
std::optional<platform::FileIdentity> ArchiveIdentity(const CTarnEditorDoc* document) {
  if (document == nullptr || document->GetPathName().isEmpty()) return std::nullopt;
  return IdentityOfFile(NativePath(document->GetPathName()));
}

void ShowProblems(QWidget* parent, const std::vector<CEntryProblem>& problems, size_t written) {
  QString text;
  for (const CEntryProblem& problem : problems)
    text += BytesToText(problem.name) + QStringLiteral(": ") +
            QString::fromLocal8Bit(problem.reason) + QLatin1Char('\n');
  if (g_dialogs.showProblems) return g_dialogs.showProblems(text);
  QDialog dialog(parent);
  dialog.setWindowTitle(QStringLiteral("Extract All"));
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(
      new QLabel(QStringLiteral("%1 entries were extracted; these were not:").arg(written)));
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

}  // namespace

std::unique_ptr<QMimeData> ExtractForDrag(const QString& folder,
                                          std::span<const CExtractEntry> entries,
                                          std::vector<CEntryProblem>& problems) {
  CExtractReport report;
  ExtractEntries(NativePath(folder), entries, {}, report);
  problems = report.problems;
  if (!report.folderError.IsOk())
    problems.push_back({std::string(), report.folderError.GetWords()});
  if (report.written == 0) return nullptr;
  QList<QUrl> urls;
  size_t problem = 0;  // both in the entries' order
  for (const CExtractEntry& entry : entries) {
    if (problem < report.problems.size() && report.problems[problem].name == entry.name) {
      ++problem;
      continue;
    }
    if (urls.size() == static_cast<qsizetype>(report.written)) break;  // the rest were not tried
    QString path = folder;
    for (const std::string_view part : SplitEntryName(entry.name)) {
      path += QLatin1Char('/') +
              QFile::decodeName(QByteArray(part.data(), static_cast<qsizetype>(part.size())));
    }
    urls << QUrl::fromLocalFile(path);
  }
  auto data = std::make_unique<QMimeData>();
  data->setUrls(urls);
  return data;
}

void CEntryActions::SetDialogsForTests(CDialogs dialogs) { g_dialogs = std::move(dialogs); }

CEntryActions::CEntryActions(CLeftView* tree) : QObject(tree), m_tree(tree) {
  tree->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(tree, &QWidget::customContextMenuRequested, this, &CEntryActions::OnContextMenu);
  // The Menu key's own context menu event carries a position that need not
  // be the current item's, and Shift+F10 makes none on every platform: both
  // are taken as keys, so the keyboard always acts on the current item.
  tree->installEventFilter(this);
}

bool CEntryActions::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_tree && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<const QKeyEvent*>(event);
    const bool shiftF10 = key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier;
    if (key->key() == Qt::Key_Menu || shiftF10) {
      ShowMenuAtCurrentItem();
      return true;
    }
  }
  return QObject::eventFilter(watched, event);
}

void CEntryActions::ShowMenuAtCurrentItem() {
  const QModelIndex index = m_tree->currentIndex();
  QRect rect = m_tree->visualRect(index);
  if (!index.isValid() || !m_tree->viewport()->rect().intersects(rect))
    rect = m_tree->viewport()->rect().adjusted(4, 4, -4, -4);
  std::unique_ptr<QMenu> menu(BuildMenu(index));
  menu->exec(
      m_tree->viewport()->mapToGlobal(rect.topLeft() + QPoint(rect.height(), rect.height() / 2)));
}

void CEntryActions::OnContextMenu(const QPoint& position) {
  // A right click acts on the item under the pointer.
  const QModelIndex index = m_tree->indexAt(position);
  std::unique_ptr<QMenu> menu(BuildMenu(index));
  menu->exec(m_tree->viewport()->mapToGlobal(position));
}

QMenu* CEntryActions::BuildMenu(const QModelIndex& index) {
  auto* menu = new QMenu(m_tree);
  const QPersistentModelIndex item(index);
  // A folder, or an item of a selection of several: everything selected
  // goes to a folder the user picks.
  const bool folder = m_tree->GetFolderOf(index).has_value();
  const bool several = folder || (m_tree->selectionModel()->isSelected(index) &&
                                  m_tree->selectionModel()->selectedRows().size() > 1);
  QAction* extract = menu->addAction(QStringLiteral("Extract..."), this, [this, item, several] {
    if (several) ExtractSelected();
    else ExtractEntry(item);
  });
  QAction* all = menu->addAction(QStringLiteral("Extract All..."), this, [this] { ExtractAll(); });
  menu->addSeparator();
  // The Edit menu's commands, with their keys, on the item under the pointer.
  AddCommand(menu, QStringLiteral("Edit Text...\tEnter"), ID_EDIT_TEXT, item, !folder);
  QAction* rename = menu->addAction(QStringLiteral("Rename\tF2"), this, [this, item] {
    if (!item.isValid()) return;
    MakeCurrent(item);
    m_tree->edit(item);
  });
  rename->setEnabled(index.isValid() && (index.flags() & Qt::ItemIsEditable));
  AddCommand(menu, QStringLiteral("Delete\tDel"), ID_EDIT_CLEAR, item, true);
  AddCommand(menu, QStringLiteral("Replace With File..."), ID_EDIT_REPLACE_FILE, item, !folder);
  AddCommand(menu, QStringLiteral("Add Files..."), ID_EDIT_ADD_FILES, item, true);
  menu->addSeparator();
  QAction* copy =
      menu->addAction(QStringLiteral("Copy Name"), this, [this, item] { CopyName(item); });
  extract->setEnabled(index.isValid());
  copy->setEnabled(index.isValid());
  all->setEnabled(m_tree->model()->rowCount() > 0);
  return menu;
}

void CEntryActions::MakeCurrent(const QModelIndex& index) {
  QItemSelectionModel* selection = m_tree->selectionModel();
  // A selection the item is part of stays whole: the command is for all of it.
  if (selection->isSelected(index)) {
    selection->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
  } else {
    selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
  }
}

void CEntryActions::AddCommand(QMenu* menu, const QString& text, int id,
                               const QPersistentModelIndex& item, bool fits) {
  CMDIChildWnd* frame = m_tree->GetParentFrame();
  CCmdUI state;
  // Add Files needs no item; the others act on the one under the pointer.
  const bool needsItem = id != ID_EDIT_ADD_FILES;
  const bool enabled = frame != nullptr && fits && frame->OnCmdMsg(id, &state) &&
                       (needsItem ? item.isValid() : state.enabled);
  QAction* action = menu->addAction(text, this, [this, id, item] {
    CMDIChildWnd* window = m_tree->GetParentFrame();
    if (window == nullptr) return;
    if (item.isValid()) MakeCurrent(item);
    if (CWinApp* app = AfxGetApp()) app->SetMessageText(QString());
    window->OnCmdMsg(id, nullptr);
  });
  action->setEnabled(enabled);
}

void CEntryActions::CopyName(const QModelIndex& index) {
  if (!index.isValid()) return;
  // The whole name, as the flat list shows it, even where the folder tree
  // shows only its last part.
  const std::optional<std::string_view> name = m_tree->NameOf(index);
  QApplication::clipboard()->setText(name ? BytesToText(*name)
                                          : index.data(Qt::DisplayRole).toString());
}

void CEntryActions::ExtractEntry(const QModelIndex& index) {
  const CTarnEditorDoc* document = m_tree->GetDocument();
  const std::optional<std::string_view> shownName = m_tree->NameOf(index);
  if (!index.isValid() || document == nullptr || !shownName) return;
  const std::string name(*shownName);
  // What the window shows: the pending bytes of a changed or added entry.
  const std::shared_ptr<const CShownSnapshot> shown = document->Shown().Snapshot();
  const std::vector<std::string> only{name};
  QString refusal;
  if (ExtractableEntries(*shown, &only, refusal).empty()) {
    if (!refusal.isEmpty()) SetStatus(refusal);
    return;
  }
  const std::vector<std::string_view> parts = SplitEntryName(name);
  const QString suggested = BytesToText(parts.empty() ? std::string_view() : parts.back());
  const QString chosen = g_dialogs.saveFile ? g_dialogs.saveFile(suggested)
                                            : QFileDialog::getSaveFileName(
                                                  m_tree, QStringLiteral("Extract"), suggested);
  if (chosen.isEmpty()) return;
  CStatus status;
  // An archive that could not be mapped is read here, this entry only.
  const std::optional<CDataBuffer> bytes = shown->Bytes(name);
  if (bytes && bytes->HasData() &&
      (status = WriteFileReplacing(NativePath(chosen), *bytes, ArchiveIdentity(document))).IsOk()) {
    SetStatus(QStringLiteral("Extracted %1").arg(BytesToText(name)));
  } else if (!bytes || bytes->IsCutOnDisk()) {
    SetStatus(QStringLiteral("Cannot extract %1: %2").arg(BytesToText(name), ArchiveChangedText()));
  } else {
    SetStatus(QStringLiteral("Cannot extract %1 to %2: %3")
                  .arg(BytesToText(name), chosen, QString::fromLocal8Bit(status.GetWords())));
  }
}

std::vector<CExtractEntry> CEntryActions::ExtractableEntries(const CShownSnapshot& shown,
                                                             const std::vector<std::string>* only,
                                                             QString& refusal) const {
  std::vector<CExtractEntry> entries = shown.EntriesToExtract(only);
  const CTarnEditorDoc* document = m_tree->GetDocument();
  // Entries this window has not changed are read from the opened file: not
  // once another program has rewritten it in place.
  const bool fromOpened = std::any_of(entries.begin(), entries.end(), [&](const CExtractEntry& e) {
    return shown.Changes().Find(e.name) == nullptr;
  });
  if (fromOpened && document != nullptr && !document->Shown().OpenedBytesIntact() &&
      document->Shown().IsOpenedFile()) {
    refusal = only != nullptr && only->size() == 1
                  ? QStringLiteral("Cannot extract %1: %2")
                        .arg(BytesToText(only->front()), ArchiveChangedText())
                  : QStringLiteral("Cannot extract: %1").arg(ArchiveChangedText());
    entries.clear();
  }
  return entries;
}

void CEntryActions::ExtractAll() {
  const CTarnEditorDoc* document = m_tree->GetDocument();
  if (document == nullptr) return;
  // Held until the extraction ends: the entries' names and bytes live in it.
  const std::shared_ptr<const CShownSnapshot> shown = document->Shown().Snapshot();
  QString refusal;
  std::vector<CExtractEntry> entries = ExtractableEntries(*shown, nullptr, refusal);
  if (!refusal.isEmpty()) return SetStatus(refusal);
  if (!entries.empty()) ExtractToFolder(std::move(entries), QStringLiteral("Extract All"));
}

void CEntryActions::ExtractSelected() {
  const CTarnEditorDoc* document = m_tree->GetDocument();
  if (document == nullptr) return;
  // The selected entries as the window shows them, under their whole names
  // as Extract All writes them.
  std::vector<std::string> names = m_tree->SelectedNames();
  std::sort(names.begin(), names.end());
  const std::shared_ptr<const CShownSnapshot> shown = document->Shown().Snapshot();
  QString refusal;
  std::vector<CExtractEntry> entries = ExtractableEntries(*shown, &names, refusal);
  if (!refusal.isEmpty()) return SetStatus(refusal);
  if (!entries.empty()) ExtractToFolder(std::move(entries), QStringLiteral("Extract"));
}

void CEntryActions::ExtractToFolder(std::vector<CExtractEntry> entries, const QString& title) {
  const CTarnEditorDoc* document = m_tree->GetDocument();
  const QString folder = g_dialogs.chooseFolder ? g_dialogs.chooseFolder()
                                                : QFileDialog::getExistingDirectory(m_tree, title);
  if (folder.isEmpty()) return;

  // Modal, so the document and its entries stay while the dialog lets
  // events through.
  QProgressDialog progress(QStringLiteral("Extracting entries..."), QStringLiteral("Cancel"), 0,
                           1000, m_tree);
  progress.setWindowTitle(title);
  progress.setWindowModality(Qt::ApplicationModal);
  progress.setMinimumDuration(500);
  progress.setAutoClose(false);
  progress.setAutoReset(false);
  QElapsedTimer sinceUpdate;
  sinceUpdate.start();
  CExtractOptions options;
  options.protect = ArchiveIdentity(document);
  options.progress = [&](const CProgress& done) {
    if (sinceUpdate.elapsed() < 50 && done.entriesDone < done.entriesTotal) return true;
    sinceUpdate.restart();
    const double share = done.bytesTotal > 0 ? double(done.bytesDone) / double(done.bytesTotal)
                                             : double(done.entriesDone) / double(done.entriesTotal);
    progress.setLabelText(QStringLiteral("Extracting entries... %1 of %2")
                              .arg(done.entriesDone)
                              .arg(done.entriesTotal));
    progress.setValue(static_cast<int>(share * 1000));
    QCoreApplication::processEvents();
    return !progress.wasCanceled();
  };
  CExtractReport report;
  ExtractEntries(NativePath(folder), entries, options, report);
  progress.close();

  if (!report.folderError.IsOk()) {
    SetStatus(QStringLiteral("Cannot extract to %1: %2")
                  .arg(folder, QString::fromLocal8Bit(report.folderError.GetWords())));
    return;
  }
  if (report.archiveChanged) {
    // Refused as Save As refuses: what the archive holds now is not what
    // the window shows. The entries written before the cut are whole.
    SetStatus(QStringLiteral("Cannot extract all: %1 (%2 of %3 entries were extracted)")
                  .arg(ArchiveChangedText())
                  .arg(report.written)
                  .arg(entries.size()));
    return;
  }
  QString summary = QStringLiteral("Extracted %1 of %2 entries to %3")
                        .arg(report.written)
                        .arg(entries.size())
                        .arg(folder);
  if (report.left > 0)
    summary += QStringLiteral(" (stopped; %1 more not extracted)").arg(report.left);
  SetStatus(report.cancelled ? summary + QStringLiteral(" (cancelled)") : summary);
  if (!report.problems.empty()) ShowProblems(m_tree, report.problems, report.written);
}

QString CEntryActions::ArchiveChangedText() const {
  const CTarnEditorDoc* document = m_tree->GetDocument();
  const QString path = document != nullptr ? document->GetPathName() : QString();
  return path + QStringLiteral(": ") + QString::fromLatin1(kArchiveChangedWords);
}

void CEntryActions::SetStatus(const QString& text) {
  auto* frame =
      qobject_cast<CMainFrame*>(AfxGetApp() != nullptr ? AfxGetApp()->GetMainWnd() : nullptr);
  if (frame == nullptr || frame->GetStatusBar() == nullptr ||
      frame->GetStatusBar()->GetPaneCount() == 0)
    return;
  frame->GetStatusBar()->GetPane(0)->setText(text);
}
