// The multiple-document main frame and its child frames.
//
// CMDIFrameWnd is a QMainWindow around a QMdiArea. It builds its menu bar
// from a menu resource and swaps in the active child's document menu while a
// child is active; it turns menu items and accelerator keys into command ids
// and routes them (see cmd_target.h). Menu items carry their shortcut labels
// as text only: the keys themselves come from the accelerator table, so a key
// whose command nobody handles is still taken and does nothing.
//
// CMDIChildWnd is a QMdiSubWindow holding one client widget (a view, or a
// splitter of views) that shows one document. Closing the frame destroys its
// views; the document goes with its last view.
#pragma once

#include <QMainWindow>
#include <QMdiSubWindow>
#include <QPointer>

#include <vector>

#include "app/framework/cmd_target.h"
#include "app/framework/resources.h"

class CDocument;
class CView;
class CSplitterWnd;
class CStatusBar;
class QAction;
class QMdiArea;
class QMenu;
struct CCreateContext;

class CMDIChildWnd : public QMdiSubWindow, public CCmdTarget {
  Q_OBJECT

 public:
  enum class ShowCommand { Default, Normal, Maximized };

  CMDIChildWnd();
  ~CMDIChildWnd() override;

  // Creates the client through OnCreateClient and adds the frame, hidden,
  // to the main frame's MDI area. False when the client cannot be made.
  bool LoadFrame(int resourceId, CCreateContext& context);
  // The base client is one view of the template's view class.
  virtual bool OnCreateClient(CCreateContext& context);
  // Shows the frame as asked and makes it the active child.
  virtual void ActivateFrame(ShowCommand show = ShowCommand::Default);

  CDocument* GetActiveDocument() const { return m_pDocument; }
  // The view that has (or last had) the focus, else the first view.
  CView* GetActiveView() const;
  // The client when it is a splitter, else null.
  CSplitterWnd* GetSplitter() const;
  int GetResourceId() const { return m_nIDResource; }

  // ":n" after the document's title when it has several frames.
  void SetWindowNumber(int number) { m_nWindow = number; }
  void OnUpdateFrameTitle();

  bool OnCmdMsg(int id, CCmdUI* query) override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  CDocument* m_pDocument = nullptr;
  int m_nIDResource = 0;
  int m_nWindow = 0;
};

class CMDIFrameWnd : public QMainWindow, public CCmdTarget {
  Q_OBJECT

 public:
  CMDIFrameWnd();
  ~CMDIFrameWnd() override;

  // Takes menu, accelerator table, icon and title of `resourceId`, then runs
  // OnCreate. False when a resource is missing or OnCreate returns -1.
  bool LoadFrame(int resourceId);
  // The window creation step: 0 to go on, -1 to fail.
  virtual int OnCreate() { return 0; }

  QMdiArea* GetMdiArea() const { return m_mdiArea; }
  // The current child frame, whether or not the application has the focus.
  CMDIChildWnd* MDIGetActive() const;
  std::vector<CMDIChildWnd*> GetChildFrames() const;
  void AddChildFrame(CMDIChildWnd* frame);

  // Runs a command as a menu item or its key would: only when some target
  // handles it and has it enabled. Returns whether it ran. What the message
  // pane said before goes back to the idle message first, so a message
  // stands until the next command.
  bool SendCommand(int id);
  // Shows `text` in the status bar's message pane; the idle message when
  // `text` is empty. The text belongs to the active child (to one still
  // opening, when there is one): each child shows its own again when it
  // becomes the active one.
  void SetMessageText(const QString& text);
  QString GetMessageText() const;
  // The title: the frame's own, then the active child's title after " - ".
  void OnUpdateFrameTitle();
  // Whether a command would run now, and its check mark.
  bool QueryCommand(int id, CCmdUI* state);
  // Brings every menu of the bar up to date (enabled states, check marks, the
  // recent files, the window list), as happens when a menu opens.
  void UpdateMenus();
  // The menu resource the bar shows now.
  const CMenuResource* GetShownMenu() const { return m_shownMenu; }

  bool OnCmdMsg(int id, CCmdUI* query) override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void AddWindowKeys();
  void ShowMenu(const CMenuResource* menu);
  void OnChildActivated();
  void UpdateMenu(QMenu* menu);
  void UpdateRecentFiles(QMenu* menu, QAction* placeholder);
  void UpdateWindowList(QMenu* menu);
  void ShowMessage(const QString& text);

  struct CBuiltMenu {
    const CMenuResource* resource;
    std::vector<QMenu*> popups;
  };
  QMdiArea* m_mdiArea;
  const CMenuResource* m_defaultMenu = nullptr;
  const CMenuResource* m_shownMenu = nullptr;
  std::vector<CBuiltMenu> m_builtMenus;
  std::vector<QAction*> m_accelerators;
  QString m_strTitle;
  bool m_settingTitle = false;
  // The child whose message the pane shows, and one added but not yet
  // shown: what its document says while it opens is its own.
  QPointer<CMDIChildWnd> m_messageChild;
  QPointer<CMDIChildWnd> m_openingChild;
};

// Sets an action's command id, and reads it back (0 when none).
void SetCommandId(QAction* action, int id);
int GetCommandId(const QAction* action);
