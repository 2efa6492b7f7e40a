// The main window: the frame around every document window, with the status
// bar at its bottom.
#pragma once

#include "app/framework/frames.h"

class CProblemsPane;
class CRulesSearchPane;
class CStatusBar;

class CMainFrame : public CMDIFrameWnd {
  Q_OBJECT

 public:
  CMainFrame() = default;

  // Creates the status bar with its message pane and three lock indicators.
  int OnCreate() override;
  CStatusBar* GetStatusBar() const { return m_wndStatusBar; }
  // Find in Rules, a pane under the document windows.
  CRulesSearchPane* GetRulesSearch() const { return m_rulesSearch; }
  // View > Problems, a pane under them too.
  CProblemsPane* GetProblems() const { return m_problems; }
  // File > Compare With... for the active document.
  bool OnCmdMsg(int id, CCmdUI* query) override;

 protected:
  CStatusBar* m_wndStatusBar = nullptr;
  CRulesSearchPane* m_rulesSearch = nullptr;
  CProblemsPane* m_problems = nullptr;
};
