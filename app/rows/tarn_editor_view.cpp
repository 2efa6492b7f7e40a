#include "app/rows/tarn_editor_view.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QToolTip>
#include <QLineEdit>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>
#include <new>

#include "app/document/status_text.h"
#include "app/document/entry_hooks.h"
#include "app/document/entry_text.h"
#include "app/document/reference_links.h"
#include "app/rows/value_links.h"
#include "app/document/text_width.h"
#include "app/framework/win_app.h"
#include "app/document/tarn_editor_doc.h"
#include "archive/change_set.h"
#include "archive/shown_order.h"
#include "rules/rules_search.h"

void CRulesRowModel::InsertColumn(int column, const QString& heading) {
  column = std::clamp(column, 0, static_cast<int>(m_headings.size()));
  beginInsertColumns(QModelIndex(), column, column);
  m_headings.insert(column, heading);
  endInsertColumns();
}

void CRulesRowModel::BeginReplaceRows() {
  beginResetModel();
  m_rows = CRulesRows();
  m_replacing = true;
}

void CRulesRowModel::SetRows(CRulesRows rows) {
  if (!m_replacing) beginResetModel();
  m_rows = rows;
  m_replacing = false;
  endResetModel();
}

int CRulesRowModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int CRulesRowModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_headings.size());
}

QModelIndex CRulesRowModel::index(int row, int column, const QModelIndex& parent) const {
  if (row < 0 || column < 0 || parent.isValid() || static_cast<size_t>(row) >= m_rows.size() ||
      column >= m_headings.size()) {
    return QModelIndex();
  }
  return createIndex(row, column);
}

Qt::ItemFlags CRulesRowModel::flags(const QModelIndex& index) const {
  if (!index.isValid() || index.model() != this) return Qt::NoItemFlags;
  Qt::ItemFlags flags = Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
  // Only the values of key/value lines: block rows stand for headers.
  if (m_edit && index.column() == 1 && m_rows[static_cast<size_t>(index.row())].depth > 0) {
    flags |= Qt::ItemIsEditable;
  }
  return flags;
}

bool CRulesRowModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::EditRole || !(flags(index) & Qt::ItemIsEditable)) return false;
  const CRulesRow row = m_rows[static_cast<size_t>(index.row())];
  // Carried out once the editor has closed: the change rebuilds the rows
  // this call came from.
  QTimer::singleShot(0, this,
                     [edit = m_edit, offset = m_rows.ValueOffset(row), size = row.value.size(),
                      text = value.toString()] { edit(offset, size, text); });
  return true;
}

std::string_view CRulesRowModel::LinkableValue(const QModelIndex& index) const {
  if (!index.isValid() || index.column() != 1 || static_cast<size_t>(index.row()) >= m_rows.size())
    return {};
  const CRulesRow row = m_rows[static_cast<size_t>(index.row())];
  return row.depth > 0 ? row.value : std::string_view();
}

QVariant CRulesRowModel::data(const QModelIndex& index, int role) const {
  if (role == Qt::AccessibleDescriptionRole && m_links != nullptr) {
    const std::string_view value = LinkableValue(index);
    if (value.empty()) return QVariant();
    const QString described = ReferencesDescription(*m_links, value);
    return described.isEmpty() ? QVariant() : QVariant(described);
  }
  if ((role != Qt::DisplayRole && role != Qt::EditRole) ||
      !checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
    return QVariant();
  }
  const CRulesRow row = m_rows[static_cast<size_t>(index.row())];
  switch (index.column()) {
    case 0: return IndentedBytesToText(size_t{4} * row.depth, row.name);
    case 1: return BytesToText(row.value);
    default: return QVariant();
  }
}

QVariant CRulesRowModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
      section >= m_headings.size()) {
    return QVariant();
  }
  return m_headings[section];
}

CTarnEditorView::CTarnEditorView() {
  setModel(&m_model);
  setAccessibleName(QStringLiteral("Rows"));
  NameCellEditors(QStringLiteral("Value"));
  setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
  setItemDelegateForColumn(1, new CValueLinkDelegate(itemDelegate(), this));
  m_model.SetValueEditor([this](size_t offset, size_t size, const QString& value) {
    auto* document = static_cast<CTarnEditorDoc*>(GetDocument());
    if (document == nullptr || !m_hasEntry) return;
    if (!m_copyOf.empty()) {
      ShowStatusText(ReadOnlyCopyText(QStringLiteral("edit value"), m_entryName, m_copyOf));
      return;
    }
    if (CEntryHooks* hooks = document->GetHooks())
      hooks->EditValue(m_entryName, offset, size, value);
  });
}

bool CTarnEditorView::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
  const bool asked = trigger == AllEditTriggers || (editTriggers() & trigger) != 0;
  if (asked && index.isValid() && !m_copyOf.empty()) {
    ShowStatusText(ReadOnlyCopyText(QStringLiteral("edit value"), m_entryName, m_copyOf));
    return false;
  }
  // Said rather than nothing at all: where a block's header is changed.
  if (asked && index.isValid() && m_model.IsBlockRowOfEditable(index.row())) {
    ShowStatusText(QStringLiteral(
        "A block's name and type are changed in its entry's text: Edit Text (Enter on the "
        "entry in the tree)"));
    return false;
  }
  if (index.isValid() && index.column() == 0 && trigger != QAbstractItemView::NoEditTriggers) {
    return CListView::edit(m_model.index(index.row(), 1), trigger, event);
  }
  return CListView::edit(index, trigger, event);
}

void CTarnEditorView::keyPressEvent(QKeyEvent* event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (enter && state() != QAbstractItemView::EditingState && currentIndex().isValid() &&
      edit(currentIndex(), QAbstractItemView::EditKeyPressed, event)) {
    return;
  }
  CListView::keyPressEvent(event);
}

void CTarnEditorView::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && event->modifiers() == Qt::ControlModifier) {
    const QPoint point = event->position().toPoint();
    if (const std::optional<std::string> name = ReferenceAt(point)) {
      // The row clicked is the place left, where Back returns.
      selectionModel()->setCurrentIndex(
          indexAt(point), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
      emit referenceClicked(*name);
      return;
    }
  }
  CListView::mousePressEvent(event);
}

bool CTarnEditorView::viewportEvent(QEvent* event) {
  if (event->type() == QEvent::ToolTip && m_model.GetLinks() != nullptr) {
    auto* help = static_cast<QHelpEvent*>(event);
    const std::optional<std::string> name = ReferenceAt(help->pos());
    if (name) {
      QToolTip::showText(help->globalPos(), m_model.GetLinks()->DefinitionPreview(*name),
                         viewport());
    } else {
      QToolTip::hideText();
    }
    return true;
  }
  return CListView::viewportEvent(event);
}

std::optional<std::string> CTarnEditorView::ReferenceAt(const QPoint& point) const {
  const QModelIndex index = indexAt(point);
  const std::string_view value = m_model.LinkableValue(index);
  if (value.empty() || m_model.GetLinks() == nullptr) return std::nullopt;
  const int left = CValueLinkDelegate::TextLeft(this, visualRect(index));
  return ReferenceAtX(*m_model.GetLinks(), value, fontMetrics(), point.x() - left);
}

std::optional<std::string> CTarnEditorView::CurrentReference() const {
  const int row = currentIndex().row();
  const CReferenceLinks* links = m_model.GetLinks();
  if (row < 0 || links == nullptr) return std::nullopt;
  const CRulesRow cells = m_model.GetRows()[static_cast<size_t>(row)];
  if (cells.depth == 0) return std::string(cells.name);
  const std::vector<CTokenSpan> spans = ReferenceSpans(*links, cells.value);
  if (spans.empty()) return std::nullopt;
  return std::string(cells.value.substr(static_cast<size_t>(spans.front().start),
                                        static_cast<size_t>(spans.front().length)));
}

QString CTarnEditorView::SelectedRowsText() const {
  QModelIndexList rows = selectionModel()->selectedRows();
  std::sort(rows.begin(), rows.end(),
            [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
  QString text;
  for (const QModelIndex& row : rows) {
    text += m_model.index(row.row(), 0).data().toString() + QLatin1Char('\t') +
            m_model.index(row.row(), 1).data().toString() + QLatin1Char('\n');
  }
  return text;
}

void CTarnEditorView::OnUpdate(int hint) {
  auto* document = static_cast<CTarnEditorDoc*>(GetDocument());
  if (document == nullptr || !m_hasEntry || hint == kEntriesReplacing) return;
  const CShownOrder* order = document->Shown().Order();
  const std::optional<CDataBuffer> now =
      m_copyOf.empty()   ? CurrentBytes(document->Entries(), document->Changes(), m_entryName)
      : order != nullptr ? order->CopyIn(m_copyOf, m_entryName)
                         : std::nullopt;
  const CDataBuffer bytes = now ? *now : CDataBuffer();
  if (hint == kEntriesChanged && bytes.GetData() == m_shown.GetData() &&
      bytes.GetSize() == m_shown.GetSize())
    return;
  // The same place in the rows, as far as they still reach.
  const int scroll = verticalScrollBar()->value();
  const int across = horizontalScrollBar()->value();
  const int row = currentIndex().row();
  ShowBytes(bytes);
  if (row >= 0 && row < m_model.rowCount()) {
    selectionModel()->setCurrentIndex(
        m_model.index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  }
  verticalScrollBar()->setValue(scroll);
  horizontalScrollBar()->setValue(across);
}

void CTarnEditorView::OnInitialUpdate() {
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setAllColumnsShowFocus(true);
  m_model.InsertColumn(0, QStringLiteral("Name"));
  m_model.InsertColumn(1, QStringLiteral("Value"));
  header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  if (auto* document = static_cast<CTarnEditorDoc*>(GetDocument())) {
    if (CReferenceLinks* links = document->GetLinks()) {
      m_model.SetLinks(links);
      connect(links, &CReferenceLinks::rebuilt, viewport(), qOverload<>(&QWidget::update));
    }
  }
  CListView::OnInitialUpdate();
}

void CTarnEditorView::ShowEntry(const CDataBuffer& entry, std::string_view name,
                                std::string_view copyOf) {
  m_entryName = std::string(name);
  m_copyOf = std::string(copyOf);
  m_hasEntry = true;
  ShowBytes(entry);
}

void CTarnEditorView::ShowBytes(const CDataBuffer& entry) {
  m_shown = entry;
  // The old rows point into the parser's last result: they go before it parses.
  m_model.BeginReplaceRows();
  CRulesRows rows;
  const bool parsed = WithinMemory([&] {
    m_parser.SetSource(entry);
    m_parser.Parse();
    rows = CRulesRows(m_parser);
  });
  if (!parsed) {
    // An entry whose rows do not fit in memory shows none.
    m_parser.SetSource(CDataBuffer());
    m_parser.Parse();
  }
  m_model.SetRows(rows);
  // A new entry starts at its first row with nothing selected, wherever the
  // last one was scrolled to.
  selectionModel()->clear();
  scrollToTop();
  horizontalScrollBar()->setValue(0);
  AutoSizeColumns();
  if (!entry.HasData() && entry.GetSize() > 0) {
    // An archive that could not be mapped, and this entry could not be
    // read from it either (gone, cut short, or too large for memory).
    ShowStatusText(QStringLiteral("Cannot read this entry from the archive"));
    return;
  }
  const std::string_view bytes = entry.View();
  QString text = EntryStatusText(bytes.size(), m_model.GetRows().size(), !IsRulesText(bytes));
  if (!m_copyOf.empty()) {
    text += QStringLiteral("; a shadowed copy in %1, read only")
                .arg(BytesToText(CShownOrder::FileName(m_copyOf)));
  }
  ShowStatusText(text);
}

void CTarnEditorView::AutoSizeColumns() {
  if (m_model.columnCount() != 2) return;  // before the columns are made
  // One pass over the rows in place estimates both columns and keeps the
  // widest few of each; only those are measured exactly.
  const CTextWidthEstimate estimate(fontMetrics());
  CWidestCandidates names(kMeasuredCells), values(kMeasuredCells);
  size_t row = 0;
  if (!m_model.GetRows().empty()) {
    m_parser.ForEachRow([&](const CRulesRow& cells) {
      names.Offer(row, estimate.Estimate(size_t{4} * cells.depth, cells.name));
      values.Offer(row, estimate.Estimate(0, cells.value));
      ++row;
    });
  }
  // A column never gets narrower than its heading, so the heading stays readable.
  const CColumnWidths minimum{header()->sectionSizeHint(0), header()->sectionSizeHint(1)};
  CColumnWidths chosen{std::max(minimum.name, WidestCellWidth(*this, 0, names.Take())),
                       std::max(minimum.value, WidestCellWidth(*this, 1, values.Take()))};
  // A line of binary data can be thousands of pixels wide: within a shown
  // pane no column fits itself past the pane, and Value stays in view.
  if (isVisible() && viewport()->width() > 0) {
    chosen = CapColumnWidths(chosen, minimum, viewport()->width());
  }
  SetColumnWidth(0, chosen.name);
  SetColumnWidth(1, chosen.value);
}

CColumnWidths CapColumnWidths(CColumnWidths fitted, CColumnWidths minimum, int visible) {
  CColumnWidths widths;
  widths.value = std::max(minimum.value, std::min(fitted.value, visible));
  const int nameRoom = visible - std::min(widths.value, visible / 2);
  widths.name = std::max(minimum.name, std::min(fitted.name, nameRoom));
  return widths;
}
