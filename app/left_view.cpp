#include "app/left_view.h"

#include <QHeaderView>
#include <QItemSelectionModel>

#include <algorithm>

#include "app/child_frame.h"
#include "app/tarn_editor_doc.h"
#include "app/tarn_editor_view.h"

void CEntryTreeModel::AppendItems(std::vector<CTreeItem> items) {
  if (items.empty()) return;
  const int first = static_cast<int>(m_items.size());
  beginInsertRows(QModelIndex(), first, first + static_cast<int>(items.size()) - 1);
  if (m_items.empty()) {
    m_items = std::move(items);
  } else {
    m_items.insert(m_items.end(), items.begin(), items.end());
  }
  endInsertRows();
}

int CEntryTreeModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_items.size());
}

QVariant CEntryTreeModel::data(const QModelIndex& index, int role) const {
  if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
    return QVariant();
  }
  const CTreeItem& item = m_items[static_cast<size_t>(index.row())];
  switch (role) {
    case Qt::DisplayRole:
      return BytesToText(*item.name);
    case kEntryDataRole:
      return QVariant::fromValue(reinterpret_cast<quintptr>(item.data));
    default:
      return QVariant();
  }
}

CLeftView::CLeftView() {
  setModel(&m_model);
  connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &CLeftView::OnSelchanged);
}

CTarnEditorDoc* CLeftView::GetDocument() const {
  return static_cast<CTarnEditorDoc*>(CView::GetDocument());
}

void CLeftView::OnInitialUpdate() {
  CTreeView::OnInitialUpdate();
  if (const CTarnEditorDoc* document = GetDocument()) {
    m_model.AppendItems(FillTreeItems(document->m_entries));
  }
  FitColumnToNames();
}

void CLeftView::FitColumnToNames() {
  const std::vector<CTreeItem>& items = m_model.GetItems();
  const CTextWidthEstimate estimate(fontMetrics());
  std::vector<int> widths;
  widths.reserve(items.size());
  for (const CTreeItem& item : items) widths.push_back(estimate.Estimate(0, *item.name));
  const int widest = WidestCellWidth(*this, 0, widths);
  // The column fills the pane, and grows past it (with a scroll bar) when
  // a name is wider than the pane.
  header()->setStretchLastSection(true);
  header()->setMinimumSectionSize(std::max(widest + indentation(), header()->minimumSectionSize()));
}

void CLeftView::OnSelchanged(const QItemSelection& selected, const QItemSelection& deselected) {
  const QModelIndex newItem = selected.indexes().value(0);
  const QModelIndex oldItem = deselected.indexes().value(0);
  const bool oldSelected = oldItem.isValid() && selectionModel()->isSelected(oldItem);
  const bool newSelected = newItem.isValid() && selectionModel()->isSelected(newItem);
  const auto itemData =
      reinterpret_cast<const void*>(newItem.data(CEntryTreeModel::kEntryDataRole).value<quintptr>());
  const CDataBuffer* entry = EntryToShow(oldSelected, newSelected, itemData);
  if (entry == nullptr) return;
  // The tree is a pane of the splitter, and the splitter the client of the frame.
  QWidget* splitter = parentWidget();
  auto* frame = qobject_cast<CChildFrame*>(splitter != nullptr ? splitter->parentWidget() : nullptr);
  if (frame == nullptr) return;
  if (CTarnEditorView* list = frame->GetRightPane()) list->ShowEntry(*entry);
}
