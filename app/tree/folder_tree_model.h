// The tree pane's rows as folders (View > Folders): the same rows as the
// flat model beside it, which stays the one source of names, bytes and
// marks; this model only arranges them under folders.
//
// An item's internal id is its parent folder; its row says which child of
// that folder it is (the folders first, then the entries).
#pragma once

#include <QAbstractItemModel>

#include <optional>
#include <string>
#include <vector>

#include "app/tree/entry_folders.h"

class CEntryTreeModel;

class CFolderTreeModel : public QAbstractItemModel {
  Q_OBJECT

 public:
  // Says what a folder holds, for whoever reads the tree out.
  static constexpr int kFolderRole = Qt::UserRole + 1;

  explicit CFolderTreeModel(CEntryTreeModel& flat, QObject* parent = nullptr);

  // Arranges the flat model's rows again (they were reset).
  void Rebuild();
  // The marks may have changed: repaints them, folders included.
  void MarksChanged();

  // The flat model's row of an entry item; nothing for a folder.
  std::optional<size_t> RowOfIndex(const QModelIndex& index) const;
  // The folder of a folder item; nothing for an entry.
  std::optional<uint32_t> FolderOfIndex(const QModelIndex& index) const;
  QModelIndex IndexOfRow(size_t row) const;
  QModelIndex IndexOfFolder(uint32_t folder) const;
  const CEntryFolders& GetFolders() const { return m_folders; }

  QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  bool hasChildren(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  // Renaming a folder in place renames every entry under it.
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

 private:
  // Whether any entry at or under each folder is changed, worked out when
  // a folder is first drawn after the marks changed.
  const std::vector<bool>& FoldersChanged() const;

  CEntryTreeModel& m_flat;
  CEntryFolders m_folders;
  mutable std::vector<bool> m_changed;
  mutable bool m_changedKnown = false;
};
