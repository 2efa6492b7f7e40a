// View > Problems: a pane under the document windows with what `tarn lint`
// finds in the active window's archive as shown, pending changes included:
// the rows of reference keys that name nothing defined, and the blocks
// defined twice or more. It follows the active window and the index built
// beside it after each change; the status bar says "N problems". Enter or
// a double-click on one shows its row in the window.
#pragma once

#include <QDockWidget>
#include <QPointer>

#include <vector>

#include "app/document/reference_links.h"
#include "app/framework/cmd_target.h"

class CMDIChildWnd;
class CMDIFrameWnd;
class QTreeWidget;

class CProblemsPane : public QDockWidget, public CCmdTarget {
  Q_OBJECT

 public:
  // Past this many the list stops; the count still says them all.
  static constexpr size_t kMostListed = 10000;

  explicit CProblemsPane(CMDIFrameWnd* frame);

  // View > Problems shows and hides the pane.
  bool OnCmdMsg(int id, CCmdUI* query) override;
  // Lists the active window's problems from its last index.
  void Refresh();
  // Shows problem `row` in its window.
  void ShowProblem(int row);
  QTreeWidget* GetList() const { return m_list; }
  // "N problems", as `tarn lint` counts them (a block defined twice is one,
  // listed once for each definition); empty before the window's first index.
  QString CountText() const;

 private:
  void Follow(CMDIChildWnd* window);

  CMDIFrameWnd* m_frame;
  QTreeWidget* m_list;
  QPointer<CMDIChildWnd> m_window;  // whose problems are listed
  QPointer<CReferenceLinks> m_links;
  std::vector<CMarkedRow> m_rows;
  size_t m_problems = 0;
  bool m_indexed = false;
};
