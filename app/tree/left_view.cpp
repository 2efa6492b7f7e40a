#include "app/tree/left_view.h"

#include <QFont>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QDrag>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QScrollBar>
#include <QLineEdit>
#include <QShortcut>
#include <QTimer>

#include <algorithm>

#include "app/document/entry_export.h"
#include "app/document/entry_text.h"
#include "app/document/status_text.h"
#include "app/tree/entry_actions.h"
#include "app/tree/entry_find.h"
#include "app/tree/entry_origin.h"
#include "app/framework/splitter.h"
#include "app/framework/win_app.h"
#include "app/document/entry_hooks.h"
#include "app/document/tarn_editor_doc.h"

const CEntryMap CEntryTreeModel::kNoEntries;

void CEntryTreeModel::SetEntries(const CEntryMap* entries) {
  beginResetModel();
  m_entries = entries != nullptr ? entries : &kNoEntries;
  m_added = m_hooks != nullptr ? m_hooks->AddedNames() : std::vector<std::string>();
  FillRows();
  endResetModel();
}

int CEntryTreeModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  return static_cast<int>(IsDirect() ? m_entries->size() : m_rows.size());
}

int CEntryTreeModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : (m_order != nullptr ? 2 : 1);
}

void CEntryTreeModel::SetFilter(std::function<bool(size_t)> keep) {
  beginResetModel();
  m_keep = std::move(keep);
  m_archive.clear();
  FillRows();
  endResetModel();
}

void CEntryTreeModel::SetArchiveShown(std::string path) {
  beginResetModel();
  m_keep = {};
  m_archive = std::move(path);
  FillRows();
  endResetModel();
}

bool CEntryTreeModel::IsCopyRow(int row) const {
  if (m_archive.empty() || row < 0 || row >= rowCount()) return false;
  return m_rows[static_cast<size_t>(row)] < -static_cast<int64_t>(m_added.size());
}

std::optional<CShownOrder::CArchiveEntry> CEntryTreeModel::ArchiveEntryOfRow(int row) const {
  if (m_archive.empty() || m_order == nullptr || row < 0 || row >= rowCount()) return std::nullopt;
  const int64_t at = m_rows[static_cast<size_t>(row)];
  if (at < 0) {
    const auto k = static_cast<size_t>(-1 - at);
    if (k < m_added.size()) return std::nullopt;
    return m_copies[k - m_added.size()];
  }
  // A name the archive wins: unique unless another archive holds a copy.
  const CShownOrder::CShownName& shown = m_order->Names()[static_cast<size_t>(at)];
  CShownOrder::CArchiveEntry entry{shown.position, CShownOrder::Stand::Unique,
                                   static_cast<uint32_t>(at)};
  for (uint32_t i = shown.first; i < shown.first + shown.count; ++i)
    if (m_order->Shadowed()[i].archive != shown.archive) entry.stand = CShownOrder::Stand::Won;
  return entry;
}

std::string_view CEntryTreeModel::NameOfRow(int row) const {
  if (IsDirect()) return m_entries->NameAt(static_cast<size_t>(row));
  const int64_t at = m_rows[static_cast<size_t>(row)];
  if (at >= 0) return m_entries->NameAt(static_cast<size_t>(at));
  const auto k = static_cast<size_t>(-1 - at);
  if (k < m_added.size()) return m_added[k];
  return m_order->Archives()[m_archiveAt].entries->NameAt(m_copies[k - m_added.size()].position);
}

std::optional<size_t> CEntryTreeModel::PositionOfRow(int row) const {
  if (IsDirect()) return static_cast<size_t>(row);
  const int64_t at = m_rows[static_cast<size_t>(row)];
  return at >= 0 ? std::optional<size_t>(static_cast<size_t>(at)) : std::nullopt;
}

int CEntryTreeModel::RowOfPosition(size_t position) const {
  if (IsDirect()) return static_cast<int>(position);
  return RowOfName(m_entries->NameAt(position));
}

int CEntryTreeModel::RowOfName(std::string_view name) const {
  int low = 0, high = rowCount();
  while (low < high) {
    const int middle = low + (high - low) / 2;
    if (NameOfRow(middle) < name) low = middle + 1;
    else high = middle;
  }
  return low < rowCount() && NameOfRow(low) == name ? low : -1;
}

bool CEntryTreeModel::UpdateAddedNames() {
  std::vector<std::string> added =
      m_hooks != nullptr ? m_hooks->AddedNames() : std::vector<std::string>();
  if (added == m_added) return false;
  beginResetModel();
  m_added = std::move(added);
  FillRows();
  endResetModel();
  return true;
}

void CEntryTreeModel::FillRows() {
  m_rows.clear();
  m_copies.clear();
  if (!m_archive.empty()) {
    const std::optional<uint32_t> archive =
        m_order != nullptr ? m_order->ArchiveAt(m_archive) : std::nullopt;
    if (archive) return FillArchiveRows(*archive);
    m_archive.clear();
  }
  if (m_added.empty() && !m_keep) return;
  // Both are in byte order: one merge.
  m_rows.reserve((m_keep ? 0 : m_entries->size()) + m_added.size());
  size_t position = 0, k = 0;
  while (position < m_entries->size() || k < m_added.size()) {
    if (k == m_added.size() ||
        (position < m_entries->size() && m_entries->NameAt(position) < m_added[k])) {
      if (!m_keep || m_keep(position)) m_rows.push_back(static_cast<int64_t>(position));
      ++position;
    } else {
      m_rows.push_back(-1 - static_cast<int64_t>(k++));
    }
  }
}

void CEntryTreeModel::FillArchiveRows(uint32_t archive) {
  m_archiveAt = archive;
  const std::vector<CShownOrder::CArchiveEntry> entries = m_order->EntriesOf(archive);
  const CEntryMap& own = *m_order->Archives()[archive].entries;
  // Added names are the target's entries, written on save.
  const size_t added = archive == m_order->Target() ? m_added.size() : 0;
  m_rows.reserve(entries.size() + added);
  // The archive's names and the added ones are both in byte order: one merge.
  size_t e = 0, k = 0;
  while (e < entries.size() || k < added) {
    if (k == added || (e < entries.size() && own.NameAt(entries[e].position) < m_added[k])) {
      const CShownOrder::CArchiveEntry& entry = entries[e++];
      if (entry.stand == CShownOrder::Stand::Won || entry.stand == CShownOrder::Stand::Unique) {
        m_rows.push_back(static_cast<int64_t>(entry.name));
      } else {
        m_rows.push_back(-1 - static_cast<int64_t>(m_added.size() + m_copies.size()));
        m_copies.push_back(entry);
      }
    } else {
      m_rows.push_back(-1 - static_cast<int64_t>(k++));
    }
  }
}

Qt::ItemFlags CEntryTreeModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags flags = QAbstractListModel::flags(index);
  if (index.isValid()) flags |= Qt::ItemIsDragEnabled;  // out, onto a file manager
  if (index.isValid() && index.column() == 0 && m_editable != nullptr)
    flags |= Qt::ItemIsEditable;
  return flags;
}

bool CEntryTreeModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::EditRole || !index.isValid() || index.column() != 0 || m_editable == nullptr)
    return false;
  // Carried out once the editor has closed: a rename rebuilds the rows.
  QTimer::singleShot(0, this,
                     [this, hooks = m_editable, from = std::string(NameOfRow(index.row())),
                      to = value.toString()] {
                       if (hooks->RenameEntry(from, to)) emit renamed(to);
                     });
  return true;
}

QVariant CEntryTreeModel::data(const QModelIndex& index, int role) const {
  if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
    return QVariant();
  }
  const std::string_view name = NameOfRow(index.row());
  if (index.column() == 1) return OriginData(index.row(), name, role);
  switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole: return BytesToText(name);
    case kEntryDataRole: {
      // An added entry has no bytes in the map; the hooks give them.
      static const CDataBuffer kAdded;
      const std::optional<size_t> position = PositionOfRow(index.row());
      if (IsCopyRow(index.row())) {
        const CEntryMap& own = *m_order->Archives()[m_archiveAt].entries;
        return QVariant::fromValue(
            reinterpret_cast<quintptr>(&own.BufferAt(ArchiveEntryOfRow(index.row())->position)));
      }
      return QVariant::fromValue(
          reinterpret_cast<quintptr>(position ? &m_entries->BufferAt(*position) : &kAdded));
    }
    case Qt::FontRole:
      if (IsCopyRow(index.row())) return OriginData(index.row(), name, role);
      if (m_hooks != nullptr && m_hooks->IsEntryChanged(name)) {
        // Bold while changed; struck out while it waits to be deleted.
        QFont font;
        font.setBold(true);
        font.setStrikeOut(m_hooks->IsEntryRemoved(name));
        return font;
      }
      return QVariant();
    case Qt::AccessibleDescriptionRole:
      if (m_hooks != nullptr && !IsCopyRow(index.row()) && m_hooks->IsEntryChanged(name)) {
        if (m_hooks->IsEntryRemoved(name)) return QStringLiteral("deleted");
        if (m_order == nullptr)
          return PositionOfRow(index.row()) ? QStringLiteral("changed") : QStringLiteral("added");
      }
      return OriginData(index.row(), name, role);
    case Qt::ToolTipRole: return OriginData(index.row(), name, role);
    default: return QVariant();
  }
}

QVariant CEntryTreeModel::OriginData(int row, std::string_view name, int role) const {
  if (m_order == nullptr) return QVariant();
  const bool copy = IsCopyRow(row);
  const bool changed = !copy && m_hooks != nullptr && m_hooks->IsEntryChanged(name);
  const std::optional<CShownOrder::CArchiveEntry> entry = ArchiveEntryOfRow(row);
  const auto origin = [&] {
    return entry ? StandOf(*m_order, m_archiveAt, *entry, changed)
                 : OriginOf(*m_order, PositionOfRow(row), changed);
  };
  if (role == Qt::DisplayRole) return origin().from;
  if (role == Qt::ToolTipRole || role == Qt::AccessibleDescriptionRole) return origin().description;
  if (role == Qt::FontRole && copy) {
    // Read only, and not what the game loads: set apart beside the words.
    QFont font;
    font.setItalic(true);
    return font;
  }
  if (role == Qt::FontRole && changed) {
    QFont font;
    font.setBold(true);
    return font;
  }
  return QVariant();
}

void CEntryTreeModel::MarksChanged(int first, int last) {
  first = std::max(first, 0);
  last = std::min(last, rowCount() - 1);
  if (first > last) return;
  emit dataChanged(index(first), index(last, columnCount() - 1),
                   {Qt::FontRole, Qt::AccessibleDescriptionRole, Qt::DisplayRole});
}

QVariant CEntryTreeModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return QVariant();
  if (section == 0) return QStringLiteral("Name");
  if (section == 1 && m_order != nullptr) return QStringLiteral("From");
  return QVariant();
}

CLeftView::CLeftView() {
  setModel(&m_model);
  // Several entries at once for Delete and Copy; the list shows the current one.
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  // F2 renames in place; a double-click opens the text instead.
  setEditTriggers(QAbstractItemView::EditKeyPressed);
  setAcceptDrops(true);
  viewport()->setAcceptDrops(true);
  setDragEnabled(true);
  connect(this, &QTreeView::doubleClicked, this, [this](const QModelIndex& index) {
    if (index.isValid()) EditCurrentText();
  });
  setAccessibleName(QStringLiteral("Entries"));
  ListenToSelection();
  connect(this, &QTreeView::expanded, this, [this] { FitColumnToNames(); });
  m_actions = new CEntryActions(this);  // the context menu; a child, gone with the view
  AddFindKeys(this);
  // The entry renamed is the one the user was on: it stays selected under
  // its new name, rather than the old one waiting to go.
  connect(&m_model, &CEntryTreeModel::renamed, this, [this](const QString& to) {
    const std::optional<std::string> name = TextToBytes(to);
    const int row = name ? m_model.RowOfName(*name) : -1;
    if (row >= 0)
      selectionModel()->setCurrentIndex(IndexOfFlatRow(row), QItemSelectionModel::ClearAndSelect);
  });
}

CLeftView::~CLeftView() { delete m_findBar; }

void CLeftView::ListenToSelection() {
  connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, &CLeftView::OnSelchanged);
}

void CLeftView::SetEntryFilter(std::function<bool(size_t)> keep) {
  Rearrange([&] { m_model.SetFilter(std::move(keep)); });
}

void CLeftView::ShowArchiveEntries(std::optional<size_t> archive) {
  const CTarnEditorDoc* document = GetDocument();
  const CShownOrder* order = document != nullptr ? document->Shown().Order() : nullptr;
  std::string path;
  if (order != nullptr && archive && *archive < order->Archives().size())
    path = order->Archives()[*archive].path;
  Rearrange([&] { m_model.SetArchiveShown(std::move(path)); });
  if (order == nullptr || !archive || *archive >= order->Archives().size()) return;
  const CArchiveTally& tally = order->Tallies()[*archive];
  const QString name = BytesToText(CShownOrder::FileName(order->Archives()[*archive].path));
  ShowStatusText(order->Archives()[*archive].taken
                     ? QStringLiteral("%1: %2 won, %3 unique, %4 lost")
                           .arg(name)
                           .arg(tally.wins - tally.only)
                           .arg(tally.only)
                           .arg(tally.loses)
                     : QStringLiteral("%1 is left out: none of its entries is loaded").arg(name));
}

bool CLeftView::IsCopy(const QModelIndex& index) const {
  const std::optional<size_t> row = FlatRowOf(index);
  return row && m_model.IsCopyRow(static_cast<int>(*row));
}

bool CLeftView::RefuseCopies(const QString& action) const {
  for (const size_t row : SelectedFlatRows()) {
    if (!m_model.IsCopyRow(static_cast<int>(row))) continue;
    ShowStatusText(ReadOnlyCopyText(action, m_model.NameOfRow(static_cast<int>(row)),
                                    m_model.GetArchiveShown()));
    return true;
  }
  return false;
}

void CLeftView::Rearrange(const std::function<void()>& change) {
  OnUpdate(kEntriesReplacing);  // keeps the current entry and the scroll
  m_refilling = true;
  change();
  m_refilling = false;
  OnUpdate(kEntriesChanged);
  m_folderModelStale = true;
  if (m_showFolders) {
    m_folderModel.Rebuild();
    m_folderModelStale = false;
    ExpandFolders(m_kept.folders);
  }
  // Words of an archive's own entries ("lost to patch.big") are wider than
  // the marks.
  FitColumnToNames();
  if (m_kept.name) {
    const int row = m_model.RowOfName(*m_kept.name);
    if (row >= 0)
      selectionModel()->setCurrentIndex(IndexOfFlatRow(row), QItemSelectionModel::ClearAndSelect);
  }
}

void CLeftView::SetShowFolders(bool folders) {
  if (folders == m_showFolders) return;
  const QModelIndex current = currentIndex();
  const std::optional<size_t> row = FlatRowOf(current);
  const std::optional<uint32_t> folder = m_folderModel.FolderOfIndex(current);
  const std::string folderPath =
      folder ? m_folderModel.GetFolders().PathOf(*folder) : std::string();
  m_showFolders = folders;
  if (folders && m_folderModelStale) {
    m_folderModel.Rebuild();
    m_folderModelStale = false;
  }
  QItemSelectionModel* old = selectionModel();
  m_refilling = true;  // the list pane keeps the entry it shows
  setModel(folders ? static_cast<QAbstractItemModel*>(&m_folderModel) : &m_model);
  old->deleteLater();
  ListenToSelection();
  // The same entry stays current; a current folder gives way to its first entry.
  std::optional<size_t> keep = row;
  if (!keep && folder) {
    const std::vector<uint32_t> under = m_folderModel.GetFolders().RowsUnder(*folder);
    if (!under.empty()) keep = under.front();
  }
  if (keep) {
    const QModelIndex item = IndexOfFlatRow(static_cast<int>(*keep));
    selectionModel()->setCurrentIndex(item, QItemSelectionModel::ClearAndSelect);
    scrollTo(item);
  }
  m_refilling = false;
  FitColumnToNames();
}

std::optional<size_t> CLeftView::FlatRowOf(const QModelIndex& index) const {
  if (!index.isValid()) return std::nullopt;
  if (index.model() == &m_folderModel) return m_folderModel.RowOfIndex(index);
  return static_cast<size_t>(index.row());
}

QModelIndex CLeftView::IndexOfFlatRow(int row) const {
  if (row < 0) return QModelIndex();
  return m_showFolders ? m_folderModel.IndexOfRow(static_cast<size_t>(row)) : m_model.index(row);
}

QModelIndex CLeftView::IndexOfPosition(size_t position) const {
  if (position >= m_model.GetEntries().size()) return QModelIndex();
  return IndexOfFlatRow(m_model.RowOfPosition(position));
}

std::optional<std::string_view> CLeftView::NameOf(const QModelIndex& index) const {
  const std::optional<size_t> row = FlatRowOf(index);
  if (!row) return std::nullopt;
  return m_model.NameOfRow(static_cast<int>(*row));
}

std::vector<size_t> CLeftView::SelectedFlatRows() const {
  std::vector<size_t> rows;
  for (const QModelIndex& item : selectionModel()->selectedRows()) {
    if (const std::optional<size_t> row = FlatRowOf(item)) {
      rows.push_back(*row);
    } else if (const std::optional<uint32_t> folder = m_folderModel.FolderOfIndex(item)) {
      const std::vector<uint32_t> under = m_folderModel.GetFolders().RowsUnder(*folder);
      rows.insert(rows.end(), under.begin(), under.end());
    }
  }
  // A folder and entries inside it may both be selected.
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  return rows;
}

std::vector<std::string> CLeftView::ExpandedFolders() const {
  std::vector<std::string> paths;
  const CEntryFolders& folders = m_folderModel.GetFolders();
  for (uint32_t folder = 1; folder < folders.FolderCount(); ++folder) {
    if (isExpanded(m_folderModel.IndexOfFolder(folder))) paths.push_back(folders.PathOf(folder));
  }
  return paths;
}

void CLeftView::ExpandFolders(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    const uint32_t folder = m_folderModel.GetFolders().FindFolder(path);
    if (folder != CEntryFolders::kRoot) expand(m_folderModel.IndexOfFolder(folder));
  }
}

CEntryFindBar* CLeftView::GetFindBar() const { return m_findBar; }

void CLeftView::AddFindKeys(QWidget* owner) {
  auto* next = new QShortcut(QKeySequence(Qt::Key_F3), owner);
  next->setContext(Qt::WidgetWithChildrenShortcut);
  connect(next, &QShortcut::activated, this, [this] { FindNext(FindDirection::Forward); });
  auto* previous = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3), owner);
  previous->setContext(Qt::WidgetWithChildrenShortcut);
  connect(previous, &QShortcut::activated, this, [this] { FindNext(FindDirection::Backward); });
}

CTarnEditorDoc* CLeftView::GetDocument() const {
  return static_cast<CTarnEditorDoc*>(CView::GetDocument());
}

void CLeftView::OnInitialUpdate() {
  CTreeView::OnInitialUpdate();
  if (const CTarnEditorDoc* document = GetDocument()) {
    m_model.SetHooks(document->GetHooks());
    m_model.SetOrder(document->Shown().Order());
    m_model.SetEntries(&document->Entries());
    ShowOriginColumn(document->Shown().Order() != nullptr);
    m_folderModelStale = true;
    if (m_showFolders) {
      m_folderModel.Rebuild();
      m_folderModelStale = false;
    }
  }
  FitColumnToNames();
}

void CLeftView::OnUpdate(int hint) {
  const CTarnEditorDoc* document = GetDocument();
  if (document == nullptr) return;
  if (hint == kEntriesChanged || hint == kEntriesReplacing) {
    const QModelIndex current = currentIndex();
    const std::optional<std::string_view> name = NameOf(current);
    m_kept.name = name ? std::optional<std::string>(*name) : std::nullopt;
    m_kept.folders = m_showFolders ? ExpandedFolders() : std::vector<std::string>();
    const std::optional<uint32_t> folder = m_folderModel.FolderOfIndex(current);
    m_kept.folder = folder ? std::optional<std::string>(m_folderModel.GetFolders().PathOf(*folder))
                           : std::nullopt;
    m_kept.scroll = verticalScrollBar()->value();
    m_kept.across = horizontalScrollBar()->value();
  }
  if (hint == kEntriesReplacing) return;
  if (hint == kEntriesChanged) {
    // Names came or went: the rows are new, at the same entry and scroll.
    m_refilling = true;
    const bool reset = m_model.UpdateAddedNames();
    m_refilling = false;
    if (!reset) {
      RepaintMarks(true);
      return;
    }
  }
  if (hint != kEntriesReplaced && hint != kEntriesChanged) return;
  if (hint == kEntriesReplaced && KeepRowsOfOrder(*document)) return;
  m_refilling = true;
  if (hint == kEntriesReplaced) {
    m_model.SetOrder(document->Shown().Order());
    m_model.SetEntries(&document->Entries());
    ShowOriginColumn(document->Shown().Order() != nullptr);
  }
  m_folderModelStale = true;
  if (m_showFolders) {
    m_folderModel.Rebuild();
    m_folderModelStale = false;
    ExpandFolders(m_kept.folders);
  }
  FitColumnToNames();
  const int moveTo = SelectKept(hint, *document);
  m_refilling = false;
  verticalScrollBar()->setValue(m_kept.scroll);
  horizontalScrollBar()->setValue(m_kept.across);
  if (moveTo >= 0)
    selectionModel()->setCurrentIndex(IndexOfFlatRow(moveTo), QItemSelectionModel::ClearAndSelect);
}

// Selects again what was current before the rows were made again; the row
// to go to once they are in, or -1. The entry it was on went with the
// step, or stays only as deleted (a rename undone or redone): then the
// name the step gave it instead, selected by the caller once the rows are
// in, so that the list pane follows.
int CLeftView::SelectKept(int hint, const CTarnEditorDoc& document) {
  const std::vector<std::string>& moved = document.StepNames();
  if (m_kept.name && hint == kEntriesChanged && !moved.empty() &&
      !document.Shown().Has(*m_kept.name)) {
    const int row = m_model.RowOfName(moved.front());
    if (row >= 0) return row;
  }
  if (m_kept.name) {
    const int row = m_model.RowOfName(*m_kept.name);
    if (row >= 0)
      selectionModel()->setCurrentIndex(IndexOfFlatRow(row), QItemSelectionModel::ClearAndSelect);
  } else if (m_kept.folder && m_showFolders) {
    const uint32_t folder = m_folderModel.GetFolders().FindFolder(*m_kept.folder);
    if (folder != CEntryFolders::kRoot) {
      selectionModel()->setCurrentIndex(m_folderModel.IndexOfFolder(folder),
                                        QItemSelectionModel::ClearAndSelect);
    }
  }
  return -1;
}

// A save into a load order's target that kept every name: a million rows
// made again, and their widths measured, took longer than the save of the
// target alone. Folders hold the old names, and are made again. Where a
// name is won by another archive now (a shadowed entry saved into the
// target), a filter may take or drop its row: only unfiltered rows stay.
bool CLeftView::KeepRowsOfOrder(const CTarnEditorDoc& document) {
  const CShownOrder* order = document.Shown().Order();
  if (m_showFolders || order == nullptr || order != m_model.GetOrder()) return false;
  if (!order->NamesKept() && !(order->SameNames() && !m_model.IsFiltered())) return false;
  m_model.KeepRows(&document.Entries());
  m_refilling = true;
  const bool reset = m_model.UpdateAddedNames();
  m_refilling = false;
  if (reset) return false;
  RepaintMarks(false);
  return true;
}

void CLeftView::scrollTo(const QModelIndex& index, ScrollHint hint) {
  CTreeView::scrollTo(index, hint);
  // From is narrow, and stands before the names: at the left edge the start
  // of every name is in sight too.
  if (!m_showFolders && m_model.columnCount() > 1 && header()->visualIndex(1) == 0)
    horizontalScrollBar()->setValue(0);
}

void CLeftView::RepaintMarks(bool fitChangedOnly) {
  if (m_showFolders) {
    m_folderModel.MarksChanged();
    return;
  }
  // Rows out of sight read their marks when they come into it. Told of
  // every row, the view walked each one: a second for an edit in a load
  // order of a million names.
  const QModelIndex top = indexAt(QPoint(0, 0));
  const QModelIndex bottom = indexAt(QPoint(0, viewport()->height() - 1));
  const int first = top.isValid() ? top.row() : 0;
  const int last = bottom.isValid() ? bottom.row() : m_model.rowCount() - 1;
  m_model.MarksChanged(first, last);
  if (m_model.columnCount() < 2) return;
  // A mark, or the bold of a pending change, may be wider than From was:
  // it fits the rows in sight, as at the open. After an edit only the
  // changed ones (bold) can have grown; measuring every row in sight took
  // as long as the rest of an edit in a load order.
  std::vector<size_t> inSight;
  for (int row = std::max(first, 0); row <= last; ++row)
    if (!fitChangedOnly || m_model.data(m_model.index(row, 1), Qt::FontRole).isValid())
      inSight.push_back(static_cast<size_t>(row));
  if (inSight.empty()) return;
  header()->resizeSection(1,
                          std::max(header()->sectionSize(1), WidestCellWidth(*this, 1, inSight)));
}

void CLeftView::FitColumnToNames() {
  if (m_model.columnCount() > 1) {
    FitOriginColumns();
    return;
  }
  // The column fills the pane, and grows past it (with a scroll bar) when
  // a name is wider than the pane.
  header()->setStretchLastSection(true);
  if (m_showFolders) {
    // The rows in sight and a few around them are measured, not all the
    // rows of an open folder: opening one of 30,000 entries would spend
    // 25 ms on measuring alone.
    header()->setResizeContentsPrecision(static_cast<int>(kMeasuredCells));
    header()->setMinimumSectionSize(std::max(sizeHintForColumn(0), header()->defaultSectionSize()));
    return;
  }
  const CTextWidthEstimate estimate(fontMetrics());
  const int widest =
      WidestCellWidth(*this, 0, WidestNames(m_model.GetEntries(), estimate, kMeasuredCells));
  header()->setMinimumSectionSize(std::max(widest + indentation(), header()->minimumSectionSize()));
}

void CLeftView::OnSelchanged(const QItemSelection& selected, const QItemSelection& deselected) {
  const QModelIndex newItem = selected.indexes().value(0);
  const QModelIndex oldItem = deselected.indexes().value(0);
  const bool oldSelected = oldItem.isValid() && selectionModel()->isSelected(oldItem);
  const bool newSelected = newItem.isValid() && selectionModel()->isSelected(newItem);
  const auto itemData = reinterpret_cast<const void*>(
      newItem.data(CEntryTreeModel::kEntryDataRole).value<quintptr>());
  const CDataBuffer* entry = EntryToShow(oldSelected, newSelected, itemData);
  if (entry == nullptr || m_refilling) return;
  const std::optional<std::string_view> name = NameOf(newItem);
  if (!name) return;
  // A copy the order does not show has no pending bytes: a change to its
  // name is the winner's.
  if (IsCopy(newItem)) return emit EntrySelected(*entry, *name, m_model.GetArchiveShown());
  const CTarnEditorDoc* document = GetDocument();
  const CEntryHooks* hooks = document != nullptr ? document->GetHooks() : nullptr;
  emit EntrySelected(hooks != nullptr ? hooks->ShownBytes(*name, *entry) : *entry, *name, {});
}

void CLeftView::BeginFind() {
  if (m_findBar == nullptr) {
    m_findBar = new CEntryFindBar(this);
    if (auto* splitter = qobject_cast<CSplitterWnd*>(parentWidget()))
      splitter->AddOverlay(m_findBar);
    AddFindKeys(m_findBar);
    connect(m_findBar, &CEntryFindBar::TextEdited, this,
            [this] { FindFrom(true, FindDirection::Forward); });
    connect(m_findBar, &CEntryFindBar::NextRequested, this,
            [this] { FindFrom(false, FindDirection::Forward); });
    connect(m_findBar, &CEntryFindBar::CloseRequested, this, &CLeftView::EndFind);
  }
  m_findBar->SetNoMatch(false);
  m_findBar->show();
  PlaceFindBar();
  // The items' strip just got shorter: a current item at its bottom would
  // now be out of sight.
  if (currentIndex().isValid()) scrollTo(currentIndex());
  m_findBar->GetField()->selectAll();
  m_findBar->GetField()->setFocus(Qt::ShortcutFocusReason);
}

void CLeftView::EndFind() {
  if (m_findBar == nullptr || m_findBar->isHidden()) return;
  m_findBar->hide();
  m_findBar->SetNoMatch(false);
  PlaceFindBar();
  setFocus(Qt::OtherFocusReason);
}

void CLeftView::FindNext(FindDirection direction) {
  if (m_findBar == nullptr || m_findBar->GetText().isEmpty()) {
    BeginFind();
    return;
  }
  FindFrom(false, direction);
}

void CLeftView::FindFrom(bool fromCurrent, FindDirection direction) {
  const CEntryMap& entries = m_model.GetEntries();
  const std::optional<std::string> needle = TextToBytes(m_findBar->GetText());
  if (needle && needle->empty()) {
    m_findBar->SetNoMatch(false);
    return;
  }
  // FindEntry starts one step past `from`: one step back makes the current
  // entry the first one tried.
  const size_t n = entries.size();
  const QModelIndex current = currentIndex();
  const std::optional<size_t> currentRow = FlatRowOf(current);
  const std::optional<size_t> at =
      currentRow ? m_model.PositionOfRow(static_cast<int>(*currentRow)) : std::nullopt;
  size_t from = at ? *at : n;
  if (fromCurrent && from < n) {
    from = direction == FindDirection::Forward ? (from + n - 1) % n : (from + 1) % n;
  }
  const std::optional<size_t> match =
      needle ? FindEntry(entries, *needle, from, direction) : std::nullopt;
  m_findBar->SetNoMatch(!match.has_value());
  if (!match) return;
  const QModelIndex index = IndexOfPosition(*match);
  selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
  scrollTo(index);
}

std::vector<std::string> CLeftView::SelectedNames() const {
  const std::vector<size_t> rows = SelectedFlatRows();
  std::vector<std::string> names;
  names.reserve(rows.size());
  for (const size_t row : rows) names.emplace_back(m_model.NameOfRow(static_cast<int>(row)));
  return names;
}

void CLeftView::DeleteSelected() {
  const CTarnEditorDoc* document = GetDocument();
  const std::vector<std::string> names = SelectedNames();
  if (RefuseCopies(QStringLiteral("delete"))) return;
  if (document != nullptr && document->GetHooks() != nullptr && !names.empty()) {
    document->GetHooks()->DeleteEntries(names);
  }
}

void CLeftView::EditCurrentText() {
  const CTarnEditorDoc* document = GetDocument();
  const std::optional<std::string_view> name = NameOf(currentIndex());
  if (document == nullptr || document->GetHooks() == nullptr || !name) return;
  if (IsCopy(currentIndex())) {
    ShowStatusText(ReadOnlyCopyText(QStringLiteral("edit text"), *name, m_model.GetArchiveShown()));
    return;
  }
  document->GetHooks()->EditText(*name, window());
}

QString CLeftView::DefaultPrefix() const {
  const QModelIndex current = currentIndex();
  if (const std::optional<uint32_t> folder = m_folderModel.FolderOfIndex(current)) {
    return BytesToText(m_folderModel.GetFolders().PathOf(*folder)) + QLatin1Char('\\');
  }
  const std::optional<std::string_view> entry = NameOf(current);
  if (!entry) return QString();
  const std::string_view name = *entry;
  const size_t last = name.find_last_of("\\/");
  return last == std::string_view::npos ? QString() : BytesToText(name.substr(0, last + 1));
}

void CLeftView::AddPaths(const QStringList& paths) {
  const CTarnEditorDoc* document = GetDocument();
  if (document != nullptr && document->GetHooks() != nullptr)
    document->GetHooks()->AddPaths(paths, DefaultPrefix(), window());
}

void CLeftView::ReplaceCurrent() {
  const CTarnEditorDoc* document = GetDocument();
  const std::optional<std::string_view> name = NameOf(currentIndex());
  if (document == nullptr || document->GetHooks() == nullptr || !name) return;
  if (IsCopy(currentIndex())) {
    ShowStatusText(ReadOnlyCopyText(QStringLiteral("replace"), *name, m_model.GetArchiveShown()));
    return;
  }
  document->GetHooks()->ReplaceWithFile(*name, window());
}

namespace {

QStringList LocalPaths(const QMimeData* data) {
  QStringList paths;
  if (data == nullptr) return paths;
  for (const QUrl& url : data->urls()) {
    if (!url.isLocalFile()) return {};
    paths << url.toLocalFile();
  }
  return paths;
}

}  // namespace

void CLeftView::dragEnterEvent(QDragEnterEvent* event) {
  // Our own entries dragged back in would be added as copies of themselves.
  if (event->source() == this || LocalPaths(event->mimeData()).isEmpty()) return event->ignore();
  event->acceptProposedAction();
}

void CLeftView::dragMoveEvent(QDragMoveEvent* event) {
  if (event->source() == this || LocalPaths(event->mimeData()).isEmpty()) return event->ignore();
  event->acceptProposedAction();
}

void CLeftView::dropEvent(QDropEvent* event) {
  const QStringList paths = event->source() == this ? QStringList() : LocalPaths(event->mimeData());
  if (paths.isEmpty()) return event->ignore();
  event->acceptProposedAction();
  // Asked once the drop has ended, so the file manager is not kept waiting.
  QTimer::singleShot(0, this, [this, paths] { AddPaths(paths); });
}

void CLeftView::startDrag(Qt::DropActions) {
  const CTarnEditorDoc* document = GetDocument();
  if (document == nullptr || document->GetExport() == nullptr) return;
  // Extracted by name, it would be the winner's bytes.
  if (RefuseCopies(QStringLiteral("extract"))) return;
  std::unique_ptr<QMimeData> carried = document->GetExport()->DragOut(SelectedNames());
  if (carried == nullptr) return;
  auto* drag = new QDrag(this);
  drag->setMimeData(carried.release());
  drag->exec(Qt::CopyAction, Qt::CopyAction);
}

void CLeftView::keyPressEvent(QKeyEvent* event) {
  if (event->modifiers() == Qt::NoModifier && event->key() == Qt::Key_Delete) {
    DeleteSelected();
    return;
  }
  // The Enter that ends renaming in place comes here too, once the field
  // has passed it on: it is the rename's, not a new command.
  const bool enter =
      (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && state() != EditingState;
  if (event->modifiers() == Qt::NoModifier && enter && currentIndex().isValid()) {
    // Enter opens a folder, or closes it; an entry's text.
    if (m_folderModel.FolderOfIndex(currentIndex())) {
      setExpanded(currentIndex(), !isExpanded(currentIndex()));
    } else {
      EditCurrentText();
    }
    return;
  }
  CTreeView::keyPressEvent(event);
}

bool CLeftView::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
  const bool asked = trigger == AllEditTriggers || (editTriggers() & trigger) != 0;
  if (!asked || m_model.GetArchiveShown().empty()) return CTreeView::edit(index, trigger, event);
  // A folder is renamed by renaming every entry under it.
  std::vector<uint32_t> rows;
  if (const std::optional<size_t> row = FlatRowOf(index)) {
    rows.push_back(static_cast<uint32_t>(*row));
  } else if (const std::optional<uint32_t> folder = m_folderModel.FolderOfIndex(index)) {
    rows = m_folderModel.GetFolders().RowsUnder(*folder);
  }
  for (const uint32_t row : rows) {
    if (!m_model.IsCopyRow(static_cast<int>(row))) continue;
    ShowStatusText(ReadOnlyCopyText(QStringLiteral("rename"),
                                    m_model.NameOfRow(static_cast<int>(row)),
                                    m_model.GetArchiveShown()));
    return false;
  }
  return CTreeView::edit(index, trigger, event);
}

void CLeftView::resizeEvent(QResizeEvent* event) {
  CTreeView::resizeEvent(event);
  PlaceFindBar();
}

void CLeftView::moveEvent(QMoveEvent* event) {
  CTreeView::moveEvent(event);
  PlaceFindBar();
}

void CLeftView::FitOriginColumns() {
  // From, first, as wide as its widest cell in sight; the names take the
  // rest, and more (with a scroll bar) when a name is wider.
  header()->setStretchLastSection(false);
  header()->setMinimumSectionSize(header()->defaultSectionSize() / 2);
  header()->resizeSection(1, sizeHintForColumn(1));
  int names = 0;
  if (m_showFolders) {
    header()->setResizeContentsPrecision(static_cast<int>(kMeasuredCells));
    names = sizeHintForColumn(0);
  } else {
    const CTextWidthEstimate estimate(fontMetrics());
    names = WidestCellWidth(*this, 0, WidestNames(m_model.GetEntries(), estimate, kMeasuredCells)) +
            indentation();
  }
  header()->resizeSection(0, std::max(names, viewport()->width() - header()->sectionSize(1)));
}

void CLeftView::ShowOriginColumn(bool shown) {
  setHeaderHidden(!shown);
  if (!shown) return;
  // The mark and archive are short and the names long: From comes first,
  // where it is seen without scrolling.
  if (header()->visualIndex(1) != 0) header()->moveSection(header()->visualIndex(1), 0);
  PlaceFindBar();
}

void CLeftView::PlaceFindBar() {
  // The field takes a strip at the bottom of the pane, below the items.
  const bool shown = m_findBar != nullptr && !m_findBar->isHidden();
  const int height = shown ? m_findBar->sizeHint().height() : 0;
  // The header, shown in a load order's window, keeps its strip at the top.
  setViewportMargins(0, isHeaderHidden() ? 0 : header()->sizeHint().height(), 0, height);
  if (!shown) return;
  const QRect items = viewport()->geometry();
  const QPoint at = mapTo(m_findBar->parentWidget(), QPoint(items.left(), items.bottom() + 1));
  m_findBar->setGeometry(at.x(), at.y(), items.width(), height);
}

const CDataBuffer* EntryToShow(bool oldItemSelected, bool newItemSelected,
                               const void* newItemData) {
  if (oldItemSelected || !newItemSelected) return nullptr;
  return static_cast<const CDataBuffer*>(newItemData);
}
