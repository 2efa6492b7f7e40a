#include "app/tree/entry_actions.h"

#include <QApplication>
#include <QClipboard>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMenu>

#include <algorithm>
#include <string>
#include <vector>

#include "app/document/entry_export.h"
#include "app/document/entry_text.h"
#include "app/document/status_text.h"
#include "app/document/tarn_editor_doc.h"
#include "app/framework/command_ids.h"
#include "app/framework/frames.h"
#include "app/tree/left_view.h"

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
  if (const CTarnEditorDoc* document = m_tree->GetDocument(); document && document->IsLoadOrder()) {
    menu->addSeparator();
    AddCommand(menu, QStringLiteral("Compare With Shadowed"), ID_COMPARE_WITH_SHADOWED, item,
               !folder);
  }
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
    ShowStatusText(QString());
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
  const std::optional<std::string_view> name = m_tree->NameOf(index);
  if (!index.isValid() || document == nullptr || !name || document->GetExport() == nullptr) return;
  // Extracted by name, a copy the order does not show would be the winner.
  if (m_tree->IsCopy(index)) {
    ShowStatusText(
        ReadOnlyCopyText(QStringLiteral("extract"), *name, m_tree->GetModel()->GetArchiveShown()));
    return;
  }
  document->GetExport()->ExtractEntry(std::string(*name));
}

void CEntryActions::ExtractAll() {
  const CTarnEditorDoc* document = m_tree->GetDocument();
  if (document != nullptr && document->GetExport() != nullptr)
    document->GetExport()->ExtractEntries(nullptr, m_tree);
}

void CEntryActions::ExtractSelected() {
  const CTarnEditorDoc* document = m_tree->GetDocument();
  if (document == nullptr || document->GetExport() == nullptr) return;
  if (m_tree->RefuseCopies(QStringLiteral("extract"))) return;
  // The selected entries as the window shows them, under their whole names
  // as Extract All writes them.
  std::vector<std::string> names = m_tree->SelectedNames();
  std::sort(names.begin(), names.end());
  document->GetExport()->ExtractEntries(&names, m_tree);
}
