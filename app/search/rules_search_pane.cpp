#include "app/search/rules_search_pane.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFont>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMdiArea>
#include <QShortcut>
#include <QTreeView>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include <algorithm>

#include "app/document/status_text.h"
#include "app/document/entry_text.h"
#include "app/document/entry_selection.h"
#include "app/framework/command_ids.h"
#include "app/framework/document.h"
#include "app/framework/frames.h"
#include "app/framework/win_app.h"
#include "app/document/tarn_editor_doc.h"
#include "archive/shown_order.h"

namespace {

const char* const kHeadings[] = {"Entry", "Block", "Name", "Value", "Kind"};
constexpr int kKindColumn = 4;

// The archive document of a window, or null.
CTarnEditorDoc* ArchiveOf(CMDIChildWnd* window) {
  return window != nullptr ? dynamic_cast<CTarnEditorDoc*>(window->GetActiveDocument()) : nullptr;
}

// The user searches what the window shows: the pending changes.
CPendingEntries PendingEntries(const CTarnEditorDoc& document) {
  CPendingEntries pending;
  for (const auto& [name, change] : document.Changes().GetChanges()) {
    const auto opened = document.Entries().find(name);
    if (opened != document.Entries().end()) {
      pending.changed.emplace_back(opened.Position(),
                                   change.removed ? CDataBuffer() : change.bytes);
    } else if (!change.removed) {
      pending.added.emplace_back(name, change.bytes);
    }
  }
  return pending;
}

// Every copy the order shadows, as its archive holds it: views of mapped
// archives, kept by their maps; a buffer read for each of the others.
void AddShadowedCopies(const CShownOrder& order, CPendingEntries& pending) {
  for (const CShownOrder::CArchive& archive : order.Archives()) {
    pending.copyArchives.push_back(archive.path);
    pending.copyMaps.push_back(archive.entries);
  }
  pending.shadowed.reserve(order.Shadowed().size());
  const auto& names = order.Names();
  for (uint32_t n = 0; n < names.size(); ++n) {
    for (uint32_t i = names[n].first; i < names[n].first + names[n].count; ++i) {
      const CLoadOrderEntry copy = order.Shadowed()[i];
      const CEntryMap& entries = *order.Archives()[copy.archive].entries;
      std::string_view bytes;
      if (entries.IsMapped()) {
        bytes = entries.BytesAt(copy.position);
      } else {
        bytes = pending.copyBuffers.emplace_back(entries.BufferAt(copy.position)).View();
      }
      pending.shadowed.push_back({n, copy.archive, entries.NameAt(copy.position), bytes});
    }
  }
}

}  // namespace

// --- model

void CFoundRowModel::Clear() {
  beginResetModel();
  m_rows = CFoundRows();
  m_marks.clear();
  m_nameText.clear();
  m_names.clear();
  m_copyOf.clear();
  endResetModel();
}

template <typename EntryName, typename CopyOf>
void CFoundRowModel::Append(CFoundRows&& rows, EntryName&& entryName, CopyOf&& copyOf) {
  if (rows.rows.empty()) return;
  const int first = rowCount();
  beginInsertRows(QModelIndex(), first, first + static_cast<int>(rows.rows.size()) - 1);
  for (const CFoundRows::CRow& row : rows.rows) {
    if (!m_names.empty() && m_names.back().entry == row.entry) continue;
    const std::string_view name = entryName(row.entry);
    m_names.push_back(
        {row.entry, static_cast<uint32_t>(m_nameText.size()), static_cast<uint32_t>(name.size())});
    m_nameText.append(name);
    const std::string_view archive = copyOf(row.entry);
    if (archive.empty()) continue;
    const auto known = std::find(m_copyOf.begin(), m_copyOf.end(), archive);
    m_names.back().copy = static_cast<int32_t>(known - m_copyOf.begin());
    if (known == m_copyOf.end()) m_copyOf.emplace_back(archive);
  }
  if (m_rows.rows.empty()) {
    m_rows = std::move(rows);
  } else {
    m_rows.Append(rows);
  }
  endInsertRows();
}

void CFoundRowModel::SetMarkedRows(CFoundRows&& rows, std::vector<std::string> marks,
                                   const std::vector<std::string_view>& names) {
  beginResetModel();
  m_rows = std::move(rows);
  m_marks = std::move(marks);
  m_nameText.clear();
  m_names.clear();
  m_copyOf.clear();
  for (size_t entry = 0; entry < names.size(); ++entry) {
    m_names.push_back({static_cast<uint32_t>(entry), static_cast<uint32_t>(m_nameText.size()),
                       static_cast<uint32_t>(names[entry].size())});
    m_nameText.append(names[entry]);
  }
  endResetModel();
}

const CFoundRowModel::CName* CFoundRowModel::NameOf(int row) const {
  const uint32_t entry = At(row).entry;
  const auto name = std::lower_bound(m_names.begin(), m_names.end(), entry,
                                     [](const CName& n, uint32_t e) { return n.entry < e; });
  return name == m_names.end() || name->entry != entry ? nullptr : &*name;
}

std::string_view CFoundRowModel::EntryNameOf(int row) const {
  const CName* name = NameOf(row);
  return name == nullptr ? std::string_view()
                         : std::string_view(m_nameText).substr(name->at, name->size);
}

std::string_view CFoundRowModel::CopyOfRow(int row) const {
  const CName* name = NameOf(row);
  if (name == nullptr || name->copy < 0) return {};
  return m_copyOf[static_cast<size_t>(name->copy)];
}

int CFoundRowModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_rows.rows.size());
}

int CFoundRowModel::columnCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  return m_marks.empty() ? kKindColumn : kKindColumn + 1;
}

QVariant CFoundRowModel::data(const QModelIndex& index, int role) const {
  if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
    return QVariant();
  const std::string_view copy = CopyOfRow(index.row());
  const auto archive = [copy] { return BytesToText(CShownOrder::FileName(copy)); };
  if (!copy.empty() && (role == Qt::ToolTipRole || role == Qt::AccessibleDescriptionRole))
    return QStringLiteral("shadowed copy in %1").arg(archive());
  if (!copy.empty() && role == Qt::FontRole) {
    // Not what the game loads: set apart, beside the words.
    QFont font;
    font.setItalic(true);
    return font;
  }
  if (role != Qt::DisplayRole) return QVariant();
  const CFoundRows::CRow& row = At(index.row());
  switch (index.column()) {
    case 0:
      return BytesToText(EntryNameOf(index.row())) +
             (copy.empty() ? QString() : QStringLiteral(" (%1)").arg(archive()));
    case 1: return BytesToText(m_rows.Text(row.block, row.blockSize));
    case 2: return IndentedBytesToText(size_t{4} * row.depth, m_rows.Text(row.name, row.nameSize));
    case 3: return BytesToText(m_rows.Text(row.value, row.valueSize));
    case kKindColumn:
      return static_cast<size_t>(index.row()) < m_marks.size()
                 ? QString::fromLatin1(m_marks[static_cast<size_t>(index.row())])
                 : QString();
    default: return QVariant();
  }
}

QVariant CFoundRowModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
      section >= columnCount()) {
    return QVariant();
  }
  return QString::fromLatin1(kHeadings[section]);
}

// --- pane

CRulesSearchPane::CRulesSearchPane(CMDIFrameWnd* frame)
    : QDockWidget(QStringLiteral("Find in Rules"), frame),
      m_frame(frame),
      m_field(new QLineEdit),
      m_copies(new QCheckBox(QStringLiteral("Shadowed copies too"))),
      m_results(new QTreeView),
      m_stopKey(new QShortcut(QKeySequence(Qt::Key_Escape), frame)),
      m_model(this) {
  setObjectName(QStringLiteral("FindInRules"));
  setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable);
  setAllowedAreas(Qt::BottomDockWidgetArea | Qt::TopDockWidgetArea);
  auto* body = new QWidget;
  auto* layout = new QVBoxLayout(body);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->setSpacing(2);
  auto* line = new QHBoxLayout;
  line->addWidget(m_field, 1);
  line->addWidget(m_copies);
  layout->addLayout(line);
  layout->addWidget(m_results);
  m_copies->setToolTip(QStringLiteral(
      "Search the copies a later archive overrides too, not only what the game loads"));
  m_copies->hide();
  // The matches listed follow the box at once: what they cover is its question.
  connect(m_copies, &QCheckBox::toggled, this, [this] {
    if (!m_pattern.isEmpty() && m_field->text() == m_pattern) Search();
  });
  if (QMdiArea* area = frame->GetMdiArea())
    connect(area, &QMdiArea::subWindowActivated, this, &CRulesSearchPane::ShowCopiesBox);
  setWidget(body);

  m_field->setAccessibleName(QStringLiteral("Find in rules"));
  m_field->setPlaceholderText(
      QStringLiteral("Find in rules: text in a row's name or value, then Enter"));
  m_field->installEventFilter(this);
  connect(m_field, &QLineEdit::returnPressed, this, &CRulesSearchPane::Search);

  m_results->setAccessibleName(QStringLiteral("Matches"));
  m_results->setModel(&m_model);
  m_results->setRootIsDecorated(false);
  m_results->setItemsExpandable(false);
  m_results->setUniformRowHeights(true);
  m_results->setSelectionMode(QAbstractItemView::SingleSelection);
  m_results->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_results->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_results->setAllColumnsShowFocus(true);
  m_results->header()->setStretchLastSection(true);
  m_results->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  m_results->installEventFilter(this);
  connect(m_results, &QAbstractItemView::activated, this,
          [this](const QModelIndex& index) { ShowMatch(index.row()); });

  // While a search runs, Escape stops it wherever the focus is in the window.
  m_stopKey->setContext(Qt::WindowShortcut);
  m_stopKey->setEnabled(false);
  connect(m_stopKey, &QShortcut::activated, this, &CRulesSearchPane::Stop);
}

CRulesSearchPane::~CRulesSearchPane() { m_job.reset(); }

bool CRulesSearchPane::OnCmdMsg(int id, CCmdUI* query) {
  switch (id) {
    case ID_EDIT_FIND_IN_RULES:
      return Handle(
          query, [this] { Begin(); }, ArchiveOf(m_frame->MDIGetActive()) != nullptr);
    case ID_NEXT_MATCH:
    case ID_PREV_MATCH:
      return Handle(
          query, [this, id] { Step(id == ID_NEXT_MATCH ? 1 : -1); },
          m_model.rowCount() > 0 && m_window != nullptr);
    default: return false;
  }
}

void CRulesSearchPane::ShowCopiesBox() {
  const CTarnEditorDoc* document = ArchiveOf(m_frame->MDIGetActive());
  m_copies->setVisible(document != nullptr && document->IsLoadOrder());
}

void CRulesSearchPane::Begin() {
  ShowCopiesBox();
  show();
  raise();
  m_field->selectAll();
  m_field->setFocus(Qt::ShortcutFocusReason);
}

void CRulesSearchPane::Search() {
  CMDIChildWnd* window = m_frame->MDIGetActive();
  CTarnEditorDoc* document = ArchiveOf(window);
  const std::optional<std::string> pattern = TextToBytes(m_field->text());
  if (document == nullptr || !pattern || pattern->empty()) {
    if (document != nullptr && !pattern) {
      ShowStatusText(
          QStringLiteral("No row holds \"%1\": no byte stands for some of its characters")
              .arg(EscapeControls(m_field->text())));
    }
    return;
  }
  if (!document->Shown().ShownBytesIntact()) {
    // Its unchanged entries would be searched as another program left them,
    // which is not what was opened: no matches are better than wrong ones.
    ShowStatusText(QStringLiteral("Cannot search: %1: has changed on disk since it was opened")
                       .arg(QDir::toNativeSeparators(document->GetPathName())));
    return;
  }
  StartOver(window);
  m_pattern = m_field->text();
  const uint64_t generation = ++m_generation;
  CPendingEntries pending = PendingEntries(*document);
  ShowCopiesBox();
  if (m_copies->isVisible() && m_copies->isChecked() && document->Shown().Order() != nullptr)
    AddShadowedCopies(*document->Shown().Order(), pending);
  m_job = std::make_unique<CRulesSearchJob>(
      document->Shown().SharedOpened(), *pattern, this,
      [this, generation](CFoundRows&& rows, size_t done) {
        OnDeliver(generation, std::move(rows), done);
      },
      [this, generation](CRulesSearchJob::Outcome outcome, const QString& failure) {
        OnFinish(generation, outcome, failure);
      },
      std::move(pending));
  m_stopKey->setEnabled(true);
  ShowStatusText(
      QStringLiteral("Searching the rules for \"%1\"...").arg(EscapeControls(m_pattern)));
}

void CRulesSearchPane::StartOver(CMDIChildWnd* window) {
  m_job.reset();  // the last search, if it still runs
  m_stopKey->setEnabled(false);
  ++m_generation;
  ForgetWindow();
  m_model.Clear();
  m_results->scrollToTop();
  m_fitted = false;
  m_window = window;
  // The matches are the window's: they go with it.
  connect(window, &QObject::destroyed, this, [this] {
    m_job.reset();
    m_stopKey->setEnabled(false);
    m_model.Clear();
  });
}

void CRulesSearchPane::ShowRows(CMDIChildWnd* window, const QString& what,
                                const std::vector<CMarkedRow>& rows) {
  StartOver(window);
  CFoundRows found;
  std::vector<std::string_view> names;
  std::vector<std::string> marks;
  const auto put = [&found](std::string_view text, uint32_t& at, uint32_t& size) {
    at = static_cast<uint32_t>(found.text.size());
    size = static_cast<uint32_t>(text.size());
    found.text.append(text);
  };
  for (const CMarkedRow& row : rows) {
    if (names.empty() || names.back() != row.entry) names.push_back(row.entry);
    CFoundRows::CRow cells{};
    cells.entry = static_cast<uint32_t>(names.size() - 1);
    cells.row = static_cast<uint32_t>(row.row);
    cells.depth = row.depth;
    put(row.block, cells.block, cells.blockSize);
    put(row.name, cells.name, cells.nameSize);
    put(row.value, cells.value, cells.valueSize);
    found.rows.push_back(cells);
    marks.push_back(row.mark);
  }
  m_model.SetMarkedRows(std::move(found), std::move(marks), names);
  // The mark leads, as `tarn refs` prints it.
  QHeaderView* header = m_results->header();
  if (header->visualIndex(kKindColumn) != 0)
    header->moveSection(header->visualIndex(kKindColumn), 0);
  for (int column = 0; column <= kKindColumn; ++column) m_results->resizeColumnToContents(column);
  m_fitted = true;
  show();
  raise();
  m_results->setFocus(Qt::OtherFocusReason);
  if (m_model.rowCount() > 0) {
    m_results->selectionModel()->setCurrentIndex(
        m_model.index(0, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  }
  ShowStatusText(QStringLiteral("%1 %2 of %3")
                     .arg(m_model.rowCount())
                     .arg(QLatin1String(m_model.rowCount() == 1 ? "place" : "places"))
                     .arg(EscapeControls(what)));
}

void CRulesSearchPane::ForgetWindow() {
  if (m_window != nullptr) disconnect(m_window, &QObject::destroyed, this, nullptr);
  m_window = nullptr;
}

void CRulesSearchPane::Stop() {
  if (m_job != nullptr) m_job->Stop();
}

void CRulesSearchPane::OnDeliver(uint64_t generation, CFoundRows&& rows, size_t entriesDone) {
  if (generation != m_generation || m_job == nullptr) return;
  CTarnEditorDoc* document = ArchiveOf(m_window);
  if (document == nullptr) return;
  m_model.Append(
      std::move(rows), [&](uint32_t entry) { return m_job->NameOf(entry); },
      [&](uint32_t entry) { return m_job->CopyOf(entry); });
  if (!m_fitted && m_model.rowCount() > 0) {
    // Fitted once, to the first matches, so the columns hold still while
    // more arrive.
    for (int column = 0; column < 3; ++column) m_results->resizeColumnToContents(column);
    m_fitted = true;
  }
  const size_t total = std::max<size_t>(m_job->GetEntryCount(), 1);
  ShowStatusText(QStringLiteral("Searching the rules: %1%, %2")
                     .arg(static_cast<int>(entriesDone * 100 / total))
                     .arg(CountText()));
}

QString CRulesSearchPane::CountText() const {
  const int rows = m_model.rowCount();
  const size_t entries = m_model.GetEntryCount();
  return QStringLiteral("%1 %2 in %3 %4")
      .arg(rows)
      .arg(QLatin1String(rows == 1 ? "match" : "matches"))
      .arg(entries)
      .arg(QLatin1String(entries == 1 ? "entry" : "entries"));
}

void CRulesSearchPane::OnFinish(uint64_t generation, CRulesSearchJob::Outcome outcome,
                                const QString& failure) {
  if (generation != m_generation) return;
  m_job.reset();
  m_stopKey->setEnabled(false);
  const QString shown = EscapeControls(m_pattern);
  switch (outcome) {
    case CRulesSearchJob::Outcome::Complete:
      ShowStatusText(m_model.rowCount() == 0 ? QStringLiteral("No row holds \"%1\"").arg(shown)
                                             : CountText());
      break;
    case CRulesSearchJob::Outcome::Stopped:
      ShowStatusText(QStringLiteral("Search stopped: %1 so far").arg(CountText()));
      break;
    case CRulesSearchJob::Outcome::TooMany:
      ShowStatusText(
          QStringLiteral("Too many matches: the first %1 are listed").arg(m_model.rowCount()));
      break;
    case CRulesSearchJob::Outcome::Failed:
      ShowStatusText(QStringLiteral("Search failed: %1").arg(failure));
      break;
  }
}

void CRulesSearchPane::ShowMatch(int row) {
  if (row < 0 || row >= m_model.rowCount() || m_window == nullptr) return;
  const QModelIndex index = m_model.index(row, 0);
  if (m_results->currentIndex().row() != row) {
    m_results->selectionModel()->setCurrentIndex(
        index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  }
  m_results->scrollTo(index);
  if (QMdiArea* area = m_window->mdiArea();
      area != nullptr && area->currentSubWindow() != m_window) {
    area->setActiveSubWindow(m_window);
  }
  auto* target = dynamic_cast<CEntrySelection*>(m_window.data());
  const std::string_view copy = m_model.CopyOfRow(row);
  const std::string_view name = m_model.EntryNameOf(row);
  const size_t at = m_model.At(row).row;
  if (target == nullptr ||
      !(copy.empty() ? target->SelectEntryRow(name, at) : target->SelectCopyRow(copy, name, at)))
    return;
  QString text = QStringLiteral("Match %1 of %2").arg(row + 1).arg(m_model.rowCount());
  if (!copy.empty())
    text += QStringLiteral(", a shadowed copy in %1, read only")
                .arg(BytesToText(CShownOrder::FileName(copy)));
  ShowStatusText(text);
}

void CRulesSearchPane::Step(int direction) {
  const int count = m_model.rowCount();
  if (count == 0) return;
  const int current = m_results->currentIndex().isValid() ? m_results->currentIndex().row()
                                                          : (direction > 0 ? -1 : count);
  ShowMatch(((current + direction) % count + count) % count);
}

bool CRulesSearchPane::eventFilter(QObject* watched, QEvent* event) {
  const int key = event->type() == QEvent::KeyPress ? static_cast<QKeyEvent*>(event)->key() : 0;
  if (watched == m_field && key == Qt::Key_Down && m_model.rowCount() > 0) {
    // From the field down into the matches, at the first when none is current.
    if (!m_results->currentIndex().isValid()) {
      m_results->selectionModel()->setCurrentIndex(
          m_model.index(0, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    m_results->setFocus(Qt::OtherFocusReason);
    return true;
  }
  if ((watched == m_field || watched == m_results) && key == Qt::Key_Escape) {
    // Escape with no search running: done finding; back to the window.
    hide();
    if (CMDIChildWnd* window = m_frame->MDIGetActive()) {
      if (CView* view = window->GetActiveView()) view->GetWidget()->setFocus(Qt::OtherFocusReason);
    }
    return true;
  }
  return QDockWidget::eventFilter(watched, event);
}
