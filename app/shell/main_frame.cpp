#include "app/shell/main_frame.h"

#include "app/compare/compare_window.h"
#include "app/document/tarn_editor_doc.h"
#include "app/order/load_order_file.h"

#include "app/framework/command_ids.h"
#include "app/framework/status_bar.h"
#include "app/refs/problems_pane.h"
#include "app/search/rules_search_pane.h"

namespace {

constexpr int kIndicators[] = {
    ID_SEPARATOR,  // the message pane
    ID_INDICATOR_CAPS,
    ID_INDICATOR_NUM,
    ID_INDICATOR_SCRL,
};

}  // namespace

int CMainFrame::OnCreate() {
  if (CMDIFrameWnd::OnCreate() == -1) return -1;
  m_wndStatusBar = new CStatusBar;
  if (!m_wndStatusBar->Create(this)) {
    delete m_wndStatusBar;
    m_wndStatusBar = nullptr;
    return -1;
  }
  if (!m_wndStatusBar->SetIndicators(kIndicators, static_cast<int>(std::size(kIndicators)))) {
    return -1;
  }
  m_rulesSearch = new CRulesSearchPane(this);
  addDockWidget(Qt::BottomDockWidgetArea, m_rulesSearch);
  m_rulesSearch->hide();
  m_problems = new CProblemsPane(this);
  addDockWidget(Qt::BottomDockWidgetArea, m_problems);
  // Both panes list rows of the window's archive: one place, two tabs.
  tabifyDockWidget(m_rulesSearch, m_problems);
  m_problems->hide();
  return 0;
}

bool CMainFrame::OnCmdMsg(int id, CCmdUI* query) {
  if (m_rulesSearch != nullptr && m_rulesSearch->OnCmdMsg(id, query)) return true;
  if (m_problems != nullptr && m_problems->OnCmdMsg(id, query)) return true;
  if (id == ID_FILE_NEW_ORDER || id == ID_FILE_NEW_ORDER_FOLDER)
    return Handle(query, [id] { NewLoadOrder(id == ID_FILE_NEW_ORDER_FOLDER); });
  if (id == ID_FILE_COMPARE) {
    CMDIChildWnd* child = MDIGetActive();
    const auto* document = child != nullptr
                               ? dynamic_cast<const CTarnEditorDoc*>(child->GetActiveDocument())
                               : nullptr;
    const bool opened = document != nullptr && !document->GetPathName().isEmpty();
    return Handle(
        query, [this, document] { CompareDocumentWith(document, this); }, opened);
  }
  return CMDIFrameWnd::OnCmdMsg(id, query);
}
