#include "app/tree/folder_tree_model.h"

#include <QFont>
#include <QTimer>

#include "app/document/entry_hooks.h"
#include "app/document/entry_text.h"
#include "app/tree/left_view.h"

CFolderTreeModel::CFolderTreeModel(CEntryTreeModel& flat, QObject* parent)
    : QAbstractItemModel(parent), m_flat(flat) {}

void CFolderTreeModel::Rebuild() {
  beginResetModel();
  m_folders.Build(static_cast<size_t>(m_flat.rowCount()),
                  [this](size_t row) { return m_flat.NameOfRow(static_cast<int>(row)); });
  m_changedKnown = false;
  endResetModel();
}

void CFolderTreeModel::MarksChanged() {
  m_changedKnown = false;
  // Only the rows in sight are drawn again, whatever the range.
  std::vector<uint32_t> pending = {CEntryFolders::kRoot};
  while (!pending.empty()) {
    const uint32_t folder = pending.back();
    pending.pop_back();
    const int children = static_cast<int>(m_folders.ChildCount(folder));
    if (children == 0) continue;
    const QModelIndex parent =
        folder == CEntryFolders::kRoot ? QModelIndex() : IndexOfFolder(folder);
    emit dataChanged(index(0, 0, parent), index(children - 1, 0, parent),
                     {Qt::FontRole, Qt::AccessibleDescriptionRole});
    const auto& below = m_folders.Folder(folder).folders;
    pending.insert(pending.end(), below.begin(), below.end());
  }
}

const std::vector<bool>& CFolderTreeModel::FoldersChanged() const {
  if (m_changedKnown) return m_changed;
  m_changed.assign(m_folders.FolderCount(), false);
  // From the few changed names, not the many rows: this runs after every
  // edit while the folders are shown.
  if (const CEntryHooks* hooks = m_flat.GetHooks()) {
    for (const std::string& name : hooks->ChangedNames()) {
      const int row = m_flat.RowOfName(name);
      if (row < 0 || static_cast<size_t>(row) >= m_folders.RowCount()) continue;
      for (uint32_t at = m_folders.FolderOfRow(static_cast<size_t>(row));
           at != CEntryFolders::kRoot && !m_changed[at]; at = m_folders.Folder(at).parent) {
        m_changed[at] = true;
      }
    }
  }
  m_changedKnown = true;
  return m_changed;
}

std::optional<size_t> CFolderTreeModel::RowOfIndex(const QModelIndex& index) const {
  if (!index.isValid() || index.model() != this) return std::nullopt;
  const CEntryFolders::CFolder& folder =
      m_folders.Folder(static_cast<uint32_t>(index.internalId()));
  const auto child = static_cast<size_t>(index.row());
  if (child < folder.folders.size()) return std::nullopt;
  return folder.entries[child - folder.folders.size()];
}

std::optional<uint32_t> CFolderTreeModel::FolderOfIndex(const QModelIndex& index) const {
  if (!index.isValid() || index.model() != this) return std::nullopt;
  const CEntryFolders::CFolder& folder =
      m_folders.Folder(static_cast<uint32_t>(index.internalId()));
  const auto child = static_cast<size_t>(index.row());
  if (child >= folder.folders.size()) return std::nullopt;
  return folder.folders[child];
}

QModelIndex CFolderTreeModel::IndexOfRow(size_t row) const {
  if (row >= m_folders.RowCount()) return QModelIndex();
  return createIndex(static_cast<int>(m_folders.ChildOfRow(row)), 0,
                     quintptr(m_folders.FolderOfRow(row)));
}

QModelIndex CFolderTreeModel::IndexOfFolder(uint32_t folder) const {
  if (folder == CEntryFolders::kRoot || folder >= m_folders.FolderCount()) return QModelIndex();
  const CEntryFolders::CFolder& at = m_folders.Folder(folder);
  return createIndex(static_cast<int>(at.rowInParent), 0, quintptr(at.parent));
}

QModelIndex CFolderTreeModel::index(int row, int column, const QModelIndex& parent) const {
  if (row < 0 || column < 0 || column >= columnCount() || m_folders.FolderCount() == 0)
    return QModelIndex();
  uint32_t folder = CEntryFolders::kRoot;
  if (parent.isValid()) {
    const std::optional<uint32_t> inner = FolderOfIndex(parent);
    if (!inner) return QModelIndex();
    folder = *inner;
  }
  if (static_cast<size_t>(row) >= m_folders.ChildCount(folder)) return QModelIndex();
  return createIndex(row, column, quintptr(folder));
}

QModelIndex CFolderTreeModel::parent(const QModelIndex& child) const {
  if (!child.isValid()) return QModelIndex();
  return IndexOfFolder(static_cast<uint32_t>(child.internalId()));
}

int CFolderTreeModel::rowCount(const QModelIndex& parent) const {
  if (m_folders.FolderCount() == 0) return 0;
  if (!parent.isValid()) return static_cast<int>(m_folders.ChildCount(CEntryFolders::kRoot));
  const std::optional<uint32_t> folder = FolderOfIndex(parent);
  return folder ? static_cast<int>(m_folders.ChildCount(*folder)) : 0;
}

int CFolderTreeModel::columnCount(const QModelIndex& parent) const {
  (void)parent;
  return m_flat.columnCount();
}

bool CFolderTreeModel::hasChildren(const QModelIndex& parent) const {
  return !parent.isValid() || FolderOfIndex(parent).has_value();
}

QVariant CFolderTreeModel::data(const QModelIndex& index, int role) const {
  if (const std::optional<size_t> row = RowOfIndex(index)) {
    const QModelIndex flat = m_flat.index(static_cast<int>(*row), index.column());
    if (index.column() == 0 && (role == Qt::DisplayRole || role == Qt::EditRole)) {
      return BytesToText(m_folders.ShownName(*row, m_flat.NameOfRow(flat.row())));
    }
    return m_flat.data(flat, role);
  }
  const std::optional<uint32_t> folder = FolderOfIndex(index);
  if (!folder || index.column() != 0) return QVariant();
  switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole: return BytesToText(m_folders.Folder(*folder).name);
    case kFolderRole: return true;
    case Qt::FontRole:
      if (FoldersChanged()[*folder]) {
        QFont font;
        font.setBold(true);
        return font;
      }
      return QVariant();
    case Qt::AccessibleDescriptionRole:
      return FoldersChanged()[*folder] ? QStringLiteral("folder, holds changes")
                                       : QStringLiteral("folder");
    default: return QVariant();
  }
}

Qt::ItemFlags CFolderTreeModel::flags(const QModelIndex& index) const {
  if (const std::optional<size_t> row = RowOfIndex(index))
    return m_flat.flags(m_flat.index(static_cast<int>(*row), index.column()));
  Qt::ItemFlags flags = QAbstractItemModel::flags(index);
  if (index.isValid() && m_flat.GetHooks() != nullptr) flags |= Qt::ItemIsEditable;
  return flags;
}

bool CFolderTreeModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (const std::optional<size_t> row = RowOfIndex(index)) {
    // The text typed names the entry within its folder.
    const std::string_view name = m_flat.NameOfRow(static_cast<int>(*row));
    const std::string_view folder =
        name.substr(0, name.size() - m_folders.ShownName(*row, name).size());
    return m_flat.setData(m_flat.index(static_cast<int>(*row)),
                          BytesToText(folder) + value.toString(), role);
  }
  const std::optional<uint32_t> folder = FolderOfIndex(index);
  CEntryHooks* hooks = m_flat.GetHooks();
  if (role != Qt::EditRole || !folder || hooks == nullptr) return false;
  std::vector<std::string> names;
  for (const uint32_t row : m_folders.RowsUnder(*folder))
    names.emplace_back(m_flat.NameOfRow(static_cast<int>(row)));
  // Carried out once the editor has closed: a rename rebuilds the rows.
  QTimer::singleShot(0, this,
                     [hooks, names = std::move(names), part = m_folders.Folder(*folder).depth - 1,
                      to = value.toString()] { hooks->RenameFolder(names, part, to); });
  return true;
}

QVariant CFolderTreeModel::headerData(int section, Qt::Orientation orientation, int role) const {
  return m_flat.headerData(section, orientation, role);
}
