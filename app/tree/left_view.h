// The archive tree: the left pane of every document window. It lists every
// entry of the document flat, in the document's order, and hands the
// selected entry's bytes to the list in the right pane of the same window.
//
// The items are a model over the document's map, not one object per item:
// filling the tree of an archive of a million entries costs nothing per
// entry beyond what the tree control keeps. Each item's data is the address
// of its entry's buffer inside the map.
#pragma once

#include <QAbstractListModel>
#include <QPointer>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/framework/views.h"
#include "app/tree/entry_names.h"
#include "app/tree/folder_tree_model.h"
#include "archive/shown_order.h"
#include "storage/data_buffer.h"

class CEntryActions;

class CEntryFindBar;
class CEntryHooks;
class CTarnEditorDoc;

class CEntryTreeModel : public QAbstractListModel {
  Q_OBJECT

 public:
  // The role under which an item gives the address of its entry's buffer,
  // as a quintptr.
  static constexpr int kEntryDataRole = Qt::UserRole;

  using QAbstractListModel::QAbstractListModel;

  // One item per entry of `entries`, in its order. The map must outlive
  // the model and not change (a document's never does).
  void SetEntries(const CEntryMap* entries);
  // The same names as now, from `entries`: the rows stay as they are, and
  // with them the selection and the scroll.
  void KeepRows(const CEntryMap* entries) { m_entries = entries; }
  // Never null: an empty map until SetEntries.
  const CEntryMap& GetEntries() const { return *m_entries; }
  // What marks changed entries (bold, described as "changed"); may be null.
  void SetHooks(CEntryHooks* hooks) {
    m_hooks = hooks;
    m_editable = hooks;
  }
  CEntryHooks* GetHooks() const { return m_editable; }
  // The marks of the rows [first, last] may have changed: repaints them.
  void MarksChanged(int first, int last);
  // A load order's window: a second column, From, says where each entry
  // comes from. Null for one archive. Set before SetEntries.
  void SetOrder(const CShownOrder* order) { m_order = order; }
  const CShownOrder* GetOrder() const { return m_order; }
  // Only the opened entries `keep` says yes to are rows (added names
  // always are); an empty function keeps every entry.
  void SetFilter(std::function<bool(size_t position)> keep);
  bool IsFiltered() const { return static_cast<bool>(m_keep) || !m_archive.empty(); }
  // Show Its Entries: every entry of the order's archive at `path`, winning
  // or not, each with its stand in From; empty shows the names shown again.
  // This and SetFilter each drop the other.
  void SetArchiveShown(std::string path);
  const std::string& GetArchiveShown() const { return m_archive; }
  // Whether a row is a copy the order does not show (lost or left out): its
  // name is the shown archive's, its bytes that archive's own.
  bool IsCopyRow(int row) const;

  // The rows: the opened entries, and the names added since, in byte
  // order. An added entry has no position in the map.
  std::string_view NameOfRow(int row) const;
  std::optional<size_t> PositionOfRow(int row) const;
  int RowOfPosition(size_t position) const;
  // The row of `name`, or -1.
  int RowOfName(std::string_view name) const;
  // Takes the names added now; true when the rows changed (the model was reset).
  bool UpdateAddedNames();

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  // Renaming in place (F2): the text typed goes to the hooks.
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
  // The one column is "Name", for whoever reads the hidden header out.
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

 signals:
  // A rename made in place was taken; `to` is the entry's new name.
  void renamed(const QString& to);

 private:
  static const CEntryMap kNoEntries;
  const CEntryMap* m_entries = &kNoEntries;
  const CEntryHooks* m_hooks = nullptr;
  CEntryHooks* m_editable = nullptr;
  // Arranges the rows anew from the map, the added names and the filter.
  void FillRows();
  void FillArchiveRows(uint32_t archive);
  // Rows are the map's positions one to one: nothing added, filtered or
  // shown of one archive.
  bool IsDirect() const { return m_rows.empty() && !m_keep && m_archive.empty(); }
  // The shown archive's entry at `row`; nothing for an added name, or
  // while no archive is shown.
  std::optional<CShownOrder::CArchiveEntry> ArchiveEntryOfRow(int row) const;
  QVariant OriginData(int row, std::string_view name, int role) const;

  // Empty while nothing is added or filtered: row and position are then
  // the same. Else one per row: a position in the map, or -1 - k for
  // m_added[k], or for m_copies[k - m_added.size()].
  std::vector<int64_t> m_rows;
  std::vector<std::string> m_added;
  std::string m_archive;     // the path of the archive shown on its own
  uint32_t m_archiveAt = 0;  // its place in the order, as last filled
  std::vector<CShownOrder::CArchiveEntry> m_copies;
  const CShownOrder* m_order = nullptr;
  std::function<bool(size_t)> m_keep;
};
// What a change of the tree's selection hands to the list: the entry whose
// buffer address (inside the document's map) is the new item's data when the new item is now
// selected and the old one no longer is; otherwise nothing (null).
const CDataBuffer* EntryToShow(bool oldItemSelected, bool newItemSelected, const void* newItemData);

class CLeftView : public CTreeView {
  Q_OBJECT

 public:
  CLeftView();
  ~CLeftView() override;
  // Keeps a load order's From column in sight: scrolled to the start of a
  // long name, the view would put From out of sight to the left.
  void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;

  CTarnEditorDoc* GetDocument() const;
  // Fills the tree from the document, once.
  void OnInitialUpdate() override;
  // Marks changed entries; after a save, fills the tree again from the
  // saved archive with the same entry current and the same scroll.
  void OnUpdate(int hint) override;
  CEntryTreeModel* GetModel() { return &m_model; }

  // Only the opened entries `keep` says yes to (see
  // CEntryTreeModel::SetFilter); the current entry stays when kept.
  void SetEntryFilter(std::function<bool(size_t position)> keep);
  bool IsFiltered() const { return m_model.IsFiltered(); }
  // Show Its Entries on archive `archive` of the order (see
  // CEntryTreeModel::SetArchiveShown); nothing shows every name again.
  void ShowArchiveEntries(std::optional<size_t> archive);
  // Whether an item is a copy the order does not show (read only).
  bool IsCopy(const QModelIndex& index) const;
  // When the selection holds such a copy: says in the status bar that
  // `action` is refused on it, and true.
  bool RefuseCopies(const QString& action) const;
  using CTreeView::edit;

  // View > Folders: the entries as a folder tree, or flat in byte order
  // (the default). Keeps the current entry.
  bool ShowsFolders() const { return m_showFolders; }
  void SetShowFolders(bool folders);
  // What an item of either arrangement stands for: an entry's row in the
  // flat model (nothing for a folder), and back.
  std::optional<size_t> FlatRowOf(const QModelIndex& index) const;
  QModelIndex IndexOfFlatRow(int row) const;
  // The item of the entry at `position` in the document's map.
  QModelIndex IndexOfPosition(size_t position) const;
  // The folder of an item in the folder view; nothing for an entry.
  std::optional<uint32_t> GetFolderOf(const QModelIndex& index) const {
    return m_folderModel.FolderOfIndex(index);
  }
  // The entry name of an item; nothing for a folder.
  std::optional<std::string_view> NameOf(const QModelIndex& index) const;
  // The flat rows of the selected entries and of every entry under the
  // selected folders, ascending.
  std::vector<size_t> SelectedFlatRows() const;

  // Find: shows the find field at the bottom of the pane, with the focus.
  void BeginFind();
  // Selects the next (or previous) entry whose name holds the find text,
  // wrapping around; opens the field when there is no text yet.
  void FindNext(FindDirection direction);
  // Hides the field and gives the focus back to the tree.
  void EndFind();
  // The find field's bar; null until the first find.
  CEntryFindBar* GetFindBar() const;

  // The names of the selected entries (a folder's: every entry under it),
  // in byte order.
  std::vector<std::string> SelectedNames() const;
  // Delete: every selected entry, as one step.
  void DeleteSelected();
  // Edit Text on the current entry.
  void EditCurrentText();
  // The folder part of the current entry's name: where added files go.
  QString DefaultPrefix() const;
  // Adds the files and folders at `paths` (Add Files, Add Folder, a drop).
  void AddPaths(const QStringList& paths);
  // Replace With File on the current entry.
  void ReplaceCurrent();

 signals:
  // The user selected an entry: what the window shows of it now (pending
  // bytes where there are some), for the right pane. `copyOf` is the path
  // of the archive whose copy, not shown by the order, it is; else empty.
  void EntrySelected(const CDataBuffer& bytes, std::string_view name, std::string_view copyOf);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  // Del deletes the selected entries; Enter opens the text window.
  void keyPressEvent(QKeyEvent* event) override;
  // Renaming in place is refused on a copy not shown.
  bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
  // Files and folders dropped from a file manager are added.
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  // Dragging the selected entries out extracts them for the file manager.
  void startDrag(Qt::DropActions supportedActions) override;

 private:
  // The selection change: says which entry the new item is.
  void OnSelchanged(const QItemSelection& selected, const QItemSelection& deselected);
  // Lets the one column grow to the widest name, so long names scroll
  // instead of being cut.
  void FitColumnToNames();
  // Finds from the current entry (itself included when `fromCurrent`).
  void FindFrom(bool fromCurrent, FindDirection direction);
  // Arranges the rows anew by `change`, keeping the current entry.
  void Rearrange(const std::function<void()>& change);
  void PlaceFindBar();
  // The From column and the header, in a load order's window only.
  void ShowOriginColumn(bool shown);
  void FitOriginColumns();
  // After a change that kept every name: the marks of the rows in sight,
  // and From widened to fit them; to fit only the changed rows, after an
  // edit, where no other row's mark moved.
  void RepaintMarks(bool fitChangedOnly);
  // After the rows are made again: the current entry or folder as before
  // (m_kept), or the row to go to once they are in (-1 for none).
  int SelectKept(int hint, const CTarnEditorDoc& document);
  bool KeepRowsOfOrder(const CTarnEditorDoc& document);
  // F3 and Shift+F3 while `owner` or a child of it has the focus.
  void AddFindKeys(QWidget* owner);

  // Folders shown again after the rows were arranged anew.
  std::vector<std::string> ExpandedFolders() const;
  void ExpandFolders(const std::vector<std::string>& paths);
  void ListenToSelection();

  CEntryTreeModel m_model;
  CFolderTreeModel m_folderModel{m_model};
  bool m_showFolders = false;
  bool m_folderModelStale = true;  // built when first shown, and after rows change
  // Made on first use. It lies over the bottom of the tree but is the
  // splitter's child (see CSplitterWnd::AddOverlay), and goes with the tree.
  QPointer<CEntryFindBar> m_findBar;
  CEntryActions* m_actions = nullptr;  // the context menu; a child
  bool m_refilling = false;            // the selection stays out of the list pane's way
  // Where the tree was before the document took the saved archive's entries.
  struct CKept {
    std::optional<std::string> name;
    int scroll = 0;
    int across = 0;
    std::vector<std::string> folders;   // expanded, in the folder view
    std::optional<std::string> folder;  // the current one, when a folder is
  } m_kept;
};
