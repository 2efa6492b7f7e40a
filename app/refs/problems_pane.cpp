#include "app/refs/problems_pane.h"

#include <QApplication>
#include <QHeaderView>
#include <QMdiArea>
#include <QTreeWidget>

#include "app/document/entry_selection.h"
#include "app/document/entry_text.h"
#include "app/document/status_text.h"
#include "app/document/tarn_editor_doc.h"
#include "app/framework/command_ids.h"
#include "app/framework/document.h"
#include "app/framework/frames.h"
#include "app/refs/reference_places.h"
#include "app/refs/rules_references.h"

CProblemsPane::CProblemsPane(CMDIFrameWnd* frame)
    : QDockWidget(QStringLiteral("Problems"), frame), m_frame(frame), m_list(new QTreeWidget) {
  setObjectName(QStringLiteral("Problems"));
  setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable);
  setAllowedAreas(Qt::BottomDockWidgetArea | Qt::TopDockWidgetArea);
  setWidget(m_list);
  m_list->setAccessibleName(QStringLiteral("Problems"));
  m_list->setHeaderLabels({QStringLiteral("Problem"), QStringLiteral("Entry"),
                           QStringLiteral("Block"), QStringLiteral("Name"),
                           QStringLiteral("Value")});
  m_list->setRootIsDecorated(false);
  m_list->setUniformRowHeights(true);
  m_list->setAllColumnsShowFocus(true);
  m_list->header()->setStretchLastSection(true);
  connect(m_list, &QTreeWidget::activated, this,
          [this](const QModelIndex& index) { ShowProblem(index.row()); });
  if (QMdiArea* area = frame->GetMdiArea()) {
    connect(area, &QMdiArea::subWindowActivated, this, [this] { Follow(m_frame->MDIGetActive()); });
  }
  connect(this, &QDockWidget::visibilityChanged, this, [this](bool visible) {
    if (visible) Follow(m_frame->MDIGetActive());
  });
}

bool CProblemsPane::OnCmdMsg(int id, CCmdUI* query) {
  if (id != ID_VIEW_PROBLEMS) return false;
  if (query != nullptr) query->checked = isVisible();
  return Handle(query, [this] {
    if (isVisible()) {
      // The focus goes back to the window rather than nowhere.
      const bool focused = isAncestorOf(QApplication::focusWidget());
      hide();
      CMDIChildWnd* window = m_frame->MDIGetActive();
      CView* view = window != nullptr ? window->GetActiveView() : nullptr;
      if (focused && view != nullptr) view->GetWidget()->setFocus(Qt::OtherFocusReason);
      return;
    }
    show();
    raise();
    m_list->setFocus(Qt::OtherFocusReason);
  });
}

void CProblemsPane::Follow(CMDIChildWnd* window) {
  if (window == nullptr || !isVisible()) return;
  auto* document = dynamic_cast<CTarnEditorDoc*>(window->GetActiveDocument());
  CReferenceLinks* links = document != nullptr ? document->GetLinks() : nullptr;
  if (m_links != nullptr) disconnect(m_links, nullptr, this, nullptr);
  m_window = window;
  m_links = links;
  if (links != nullptr) connect(links, &CReferenceLinks::rebuilt, this, &CProblemsPane::Refresh);
  Refresh();
}

void CProblemsPane::Refresh() {
  const auto* references = dynamic_cast<const CRulesReferences*>(m_links.data());
  const CRulesIndex* index = references != nullptr ? references->GetIndex() : nullptr;
  m_indexed = index != nullptr;
  m_rows = m_indexed ? ProblemRows(*index) : std::vector<CMarkedRow>();
  m_problems = m_indexed ? index->Unresolved().size() + index->Duplicates().size() : 0;
  m_list->clear();
  QList<QTreeWidgetItem*> items;
  for (size_t i = 0; i < m_rows.size() && i < kMostListed; ++i) {
    const CMarkedRow& row = m_rows[i];
    items << new QTreeWidgetItem(
        QStringList{QString::fromLatin1(row.mark), BytesToText(row.entry), BytesToText(row.block),
                    IndentedBytesToText(size_t{4} * row.depth, row.name), BytesToText(row.value)});
  }
  m_list->addTopLevelItems(items);
  for (int column = 0; column < 4; ++column) m_list->resizeColumnToContents(column);
  if (isVisible() && m_indexed) ShowStatusText(CountText());
}

QString CProblemsPane::CountText() const {
  if (!m_indexed) return QString();
  return m_problems == 1 ? QStringLiteral("1 problem")
                         : QStringLiteral("%1 problems").arg(m_problems);
}

void CProblemsPane::ShowProblem(int row) {
  if (row < 0 || static_cast<size_t>(row) >= m_rows.size() || m_window == nullptr) return;
  if (QMdiArea* area = m_window->mdiArea();
      area != nullptr && area->currentSubWindow() != m_window) {
    area->setActiveSubWindow(m_window);
  }
  auto* target = dynamic_cast<CEntrySelection*>(m_window.data());
  if (target != nullptr)
    target->SelectEntryRow(m_rows[static_cast<size_t>(row)].entry,
                           m_rows[static_cast<size_t>(row)].row);
}
