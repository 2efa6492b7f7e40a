#include "app/framework/frames.h"

#include <QAction>
#include <QCloseEvent>
#include <QLabel>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QVariant>

#include "app/framework/command_ids.h"
#include "app/framework/doc_template.h"
#include "app/framework/document.h"
#include "app/framework/splitter.h"
#include "app/framework/status_bar.h"
#include "app/framework/win_app.h"

namespace {

// Action properties: the command id, and what kind of item an action is.
constexpr char kCommandIdProperty[] = "tarnCommandId";
constexpr char kGrayedProperty[] = "tarnGrayed";
// Recent files and the window list are rebuilt each time their menu opens.
constexpr char kDynamicProperty[] = "tarnDynamic";
// A child frame's own status-bar message.
constexpr char kMessageProperty[] = "tarnMessage";

// The framework's own words for the standard commands, shown in the message
// pane while the pointer rests on a menu item.
QString StandardPrompt(int id) {
  if (id >= ID_FILE_MRU_FILE1 && id <= ID_FILE_MRU_LAST) {
    return QStringLiteral("Open this document");
  }
  switch (id) {
    case ID_FILE_NEW: return QStringLiteral("Create a new document");
    case ID_FILE_OPEN: return QStringLiteral("Open an existing document");
    case ID_FILE_CLOSE: return QStringLiteral("Close the active document");
    case ID_FILE_SAVE: return QStringLiteral("Save the active document");
    case ID_FILE_SAVE_AS: return QStringLiteral("Save the active document under a new name");
    case ID_APP_EXIT: return QStringLiteral("Quit the application");
    case ID_APP_ABOUT:
      return QStringLiteral("Display program information, version number and copyright");
    case ID_HELP: return QStringLiteral("Show the manual");
    case ID_EDIT_UNDO: return QStringLiteral("Undo the last action");
    case ID_EDIT_REDO: return QStringLiteral("Redo the previously undone action");
    case ID_EDIT_CLEAR: return QStringLiteral("Delete the selected entries");
    case ID_EDIT_TEXT: return QStringLiteral("Edit the whole text of the current entry");
    case ID_EDIT_ADD_FILES: return QStringLiteral("Add files as entries");
    case ID_EDIT_ADD_FOLDER: return QStringLiteral("Add every file under a folder as entries");
    case ID_EDIT_REPLACE_FILE: return QStringLiteral("Give the current entry the bytes of a file");
    case ID_FILE_SAVE_CHANGES_AS:
      return QStringLiteral("Save only the added and changed entries as an archive");
    case ID_EDIT_CUT: return QStringLiteral("Cut the selection to the clipboard");
    case ID_EDIT_COPY: return QStringLiteral("Copy the selection to the clipboard");
    case ID_EDIT_PASTE: return QStringLiteral("Insert the clipboard contents");
    case ID_VIEW_STATUS_BAR: return QStringLiteral("Show or hide the status bar");
    case ID_VIEW_FOLDERS: return QStringLiteral("Show the entries as folders, or as one list");
    case ID_FILE_NEW_ORDER:
      return QStringLiteral("Open several archives as one load order, the last loaded winning");
    case ID_FILE_NEW_ORDER_FOLDER:
      return QStringLiteral("Open a folder's archives as one load order, in name order");
    case ID_FILE_SAVE_ORDER_AS: return QStringLiteral("Save the window's load order as a file");
    case ID_COMPARE_WITH_SHADOWED:
      return QStringLiteral("Compare the entry with the copy it overrides in an earlier archive");
    case ID_VIEW_OVERRIDDEN_ONLY:
      return QStringLiteral("Show only the entries that override copies in earlier archives");
    case ID_VIEW_AS_RULES: return QStringLiteral("Show the entry as rules, and entries like it");
    case ID_VIEW_AS_TEXT: return QStringLiteral("Show the entry as text, and entries like it");
    case ID_VIEW_AS_HEX: return QStringLiteral("Show the entry's bytes in hex, and entries like it");
    case ID_VIEW_AS_IMAGE: return QStringLiteral("Show the entry as an image, and entries like it");
    case ID_VIEW_AS_SOUND: return QStringLiteral("Show the entry as a sound, and entries like it");
    case ID_WINDOW_SPLIT: return QStringLiteral("Move the bar between the panes");
    case ID_WINDOW_NEW: return QStringLiteral("Open another window for the active document");
    case ID_WINDOW_CASCADE: return QStringLiteral("Arrange windows so they overlap");
    case ID_WINDOW_TILE_HORZ: return QStringLiteral("Arrange windows as tiles that do not overlap");
    case ID_WINDOW_ARRANGE: return QStringLiteral("Arrange icons at the bottom of the window");
    default: return QString();
  }
}

bool IsDynamic(const QAction* action) { return action->property(kDynamicProperty).toBool(); }

}  // namespace

void SetCommandId(QAction* action, int id) { action->setProperty(kCommandIdProperty, id); }

int GetCommandId(const QAction* action) { return action->property(kCommandIdProperty).toInt(); }

// --- child frame

CMDIChildWnd::CMDIChildWnd() {
  setAttribute(Qt::WA_DeleteOnClose);
  // The window menu of every child would claim Ctrl+F4 for itself, and keys
  // claimed twice do nothing; the main frame keeps it, for the active child.
  if (QMenu* menu = systemMenu()) {
    for (QAction* action : menu->actions()) {
      if (action->shortcuts().contains(QKeySequence(Qt::CTRL | Qt::Key_F4))) {
        action->setShortcuts({});
      }
    }
  }
}

void CMDIChildWnd::closeEvent(QCloseEvent* event) {
  // The last window of a document with changes asks before they go.
  if (m_pDocument != nullptr && !m_pDocument->IsClosing() && m_pDocument->GetFrames().size() == 1 &&
      !m_pDocument->SaveModified()) {
    return event->ignore();
  }
  QMdiSubWindow::closeEvent(event);
}

CMDIChildWnd::~CMDIChildWnd() {
  // The views go first, while this is still a whole frame: each detaches
  // from the document, which goes with its last view. A document that keeps
  // other frames renumbers them.
  CDocument* document = m_pDocument;
  bool documentStays = false;
  if (document != nullptr) {
    for (CView* view : document->GetViews()) {
      if (view->GetParentFrame() != this) documentStays = true;
    }
  }
  if (QWidget* client = widget()) {
    setWidget(nullptr);
    delete client;
  }
  if (documentStays) document->UpdateFrameCounts();
}

bool CMDIChildWnd::LoadFrame(int resourceId, CCreateContext& context) {
  CWinApp* app = AfxGetApp();
  CMDIFrameWnd* mainFrame = app != nullptr ? app->GetMainWnd() : nullptr;
  if (mainFrame == nullptr) return false;
  m_nIDResource = resourceId;
  m_pDocument = context.m_pCurrentDoc;
  setWindowIcon(app->GetResources().LoadIcon(resourceId));
  if (!OnCreateClient(context)) return false;
  hide();
  mainFrame->AddChildFrame(this);
  return true;
}

bool CMDIChildWnd::OnCreateClient(CCreateContext& context) {
  if (!context.m_pNewViewClass || context.m_pCurrentDoc == nullptr) return false;
  CView* view = context.m_pNewViewClass();
  context.m_pCurrentDoc->AddView(view);
  setWidget(view->GetWidget());
  return true;
}

void CMDIChildWnd::ActivateFrame(ShowCommand show) {
  switch (show) {
    case ShowCommand::Maximized: showMaximized(); break;
    case ShowCommand::Normal: showNormal(); break;
    case ShowCommand::Default:
      if (isHidden()) QMdiSubWindow::show();
      break;
  }
  if (QMdiArea* area = mdiArea()) area->setActiveSubWindow(this);
}

CView* CMDIChildWnd::GetActiveView() const {
  for (QWidget* w = focusWidget(); w != nullptr && w != this; w = w->parentWidget()) {
    if (auto* view = dynamic_cast<CView*>(w)) return view;
  }
  if (m_pDocument == nullptr) return nullptr;
  for (CView* view : m_pDocument->GetViews()) {
    if (view->GetParentFrame() == this) return view;
  }
  return nullptr;
}

CSplitterWnd* CMDIChildWnd::GetSplitter() const { return qobject_cast<CSplitterWnd*>(widget()); }

void CMDIChildWnd::OnUpdateFrameTitle() {
  if (m_pDocument == nullptr) return;
  QString title = m_pDocument->GetTitle();
  if (m_nWindow > 0) title += QLatin1Char(':') + QString::number(m_nWindow);
  if (m_pDocument->IsModified()) title += QLatin1Char('*');
  setWindowTitle(title);
}

bool CMDIChildWnd::OnCmdMsg(int id, CCmdUI* query) {
  // The document may close this frame: nothing of it is touched afterwards.
  if (m_pDocument != nullptr && m_pDocument->OnCmdMsg(id, query)) return true;
  CSplitterWnd* splitter = GetSplitter();
  if (splitter == nullptr) return false;
  switch (id) {
    case ID_WINDOW_SPLIT: return Handle(query, [splitter] { splitter->DoKeyboardSplit(); });
    case ID_NEXT_PANE:
    case ID_PREV_PANE:
      return Handle(query, [splitter, id] { splitter->ActivateNext(id == ID_PREV_PANE); });
    default: return false;
  }
}

// --- main frame

CMDIFrameWnd::CMDIFrameWnd() : m_mdiArea(new QMdiArea) {
  setCentralWidget(m_mdiArea);
  connect(m_mdiArea, &QMdiArea::subWindowActivated, this, &CMDIFrameWnd::OnChildActivated);
  AddWindowKeys();
}

void CMDIFrameWnd::AddWindowKeys() {
  // The child-window keys of the platform's multiple-document frames. They
  // are the frame's own, not commands of the program's accelerator table:
  // closing a window closes that window only, not its document's others.
  auto add = [this](QKeySequence keys, auto&& slot) {
    auto* action = new QAction(this);
    action->setShortcut(keys);
    action->setShortcutContext(Qt::WindowShortcut);
    // Unlike a command, these leave each window its message: the one that
    // comes to the front shows its own.
    connect(action, &QAction::triggered, this, slot);
    addAction(action);
  };
  add(QKeySequence(Qt::CTRL | Qt::Key_F4), [this] {
    if (CMDIChildWnd* child = MDIGetActive()) child->close();
  });
  add(QKeySequence(Qt::CTRL | Qt::Key_F6), [this] { m_mdiArea->activateNextSubWindow(); });
  add(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F6),
      [this] { m_mdiArea->activatePreviousSubWindow(); });
}

CMDIFrameWnd::~CMDIFrameWnd() {
  // Child frames go while this is still a whole frame, and without telling
  // it about every activation on the way.
  disconnect(m_mdiArea, nullptr, this, nullptr);
  for (CMDIChildWnd* frame : GetChildFrames()) delete frame;
}

bool CMDIFrameWnd::LoadFrame(int resourceId) {
  CWinApp* app = AfxGetApp();
  if (app == nullptr) return false;
  const CResourceTable& resources = app->GetResources();
  m_defaultMenu = resources.FindMenu(resourceId);
  if (m_defaultMenu == nullptr) return false;
  setWindowIcon(resources.LoadIcon(resourceId));
  m_strTitle = resources.LoadString(resourceId);
  OnUpdateFrameTitle();
  if (const auto* table = resources.FindAccelerators(resourceId)) {
    for (const CAcceleratorResource& entry : *table) {
      auto* action = new QAction(this);
      action->setShortcut(entry.keys);
      action->setShortcutContext(Qt::WindowShortcut);
      SetCommandId(action, entry.id);
      connect(action, &QAction::triggered, this, [this, id = entry.id] { SendCommand(id); });
      addAction(action);
      m_accelerators.push_back(action);
    }
  }
  ShowMenu(m_defaultMenu);
  return OnCreate() != -1;
}

CMDIChildWnd* CMDIFrameWnd::MDIGetActive() const {
  return qobject_cast<CMDIChildWnd*>(m_mdiArea->currentSubWindow());
}

std::vector<CMDIChildWnd*> CMDIFrameWnd::GetChildFrames() const {
  std::vector<CMDIChildWnd*> frames;
  for (QMdiSubWindow* sub : m_mdiArea->subWindowList()) {
    if (auto* frame = qobject_cast<CMDIChildWnd*>(sub)) frames.push_back(frame);
  }
  return frames;
}

void CMDIFrameWnd::AddChildFrame(CMDIChildWnd* frame) {
  m_openingChild = frame;
  m_mdiArea->addSubWindow(frame);
  connect(frame, &QWidget::windowTitleChanged, this, &CMDIFrameWnd::OnUpdateFrameTitle);
  // Closing the last child must bring back the frame's own menu; the area
  // says nothing when the current child is simply destroyed.
  connect(frame, &QObject::destroyed, this, &CMDIFrameWnd::OnChildActivated, Qt::QueuedConnection);
}

bool CMDIFrameWnd::QueryCommand(int id, CCmdUI* state) {
  return OnCmdMsg(id, state) && state->enabled;
}

bool CMDIFrameWnd::SendCommand(int id) {
  CCmdUI state;
  if (!QueryCommand(id, &state)) return false;
  // A command's own words replace what the bar said before; moving between
  // the panes says nothing, and leaves the facts of the entry in sight.
  if (id != ID_NEXT_PANE && id != ID_PREV_PANE) SetMessageText(QString());
  OnCmdMsg(id, nullptr);
  return true;
}

void CMDIFrameWnd::SetMessageText(const QString& text) {
  CMDIChildWnd* owner = m_openingChild != nullptr && m_openingChild->isHidden()
                            ? m_openingChild.data()
                            : MDIGetActive();
  if (owner != nullptr) owner->setProperty(kMessageProperty, text);
  ShowMessage(text);
}

void CMDIFrameWnd::ShowMessage(const QString& text) {
  auto* bar = findChild<CStatusBar*>(QString(), Qt::FindDirectChildrenOnly);
  if (bar == nullptr || bar->GetPaneCount() == 0) return;
  CWinApp* app = AfxGetApp();
  bar->GetPane(0)->setText(
      !text.isEmpty() || app == nullptr ? text : app->LoadString(AFX_IDS_IDLEMESSAGE));
}

QString CMDIFrameWnd::GetMessageText() const {
  auto* bar = findChild<CStatusBar*>(QString(), Qt::FindDirectChildrenOnly);
  return bar != nullptr && bar->GetPaneCount() > 0 ? bar->GetPane(0)->text() : QString();
}

void CMDIFrameWnd::OnUpdateFrameTitle() {
  QString title = m_strTitle;
  // A maximised child is named in brackets, the form a maximised child
  // whose buttons sit in the menu bar writes into the title itself: it
  // then finds its name there and does not add it a second time.
  CMDIChildWnd* child = MDIGetActive();
  if (child != nullptr && !child->windowTitle().isEmpty()) {
    title += child->isMaximized() ? QStringLiteral(" - [%1]").arg(child->windowTitle())
                                  : QStringLiteral(" - ") + child->windowTitle();
  }
  m_settingTitle = true;
  setWindowTitle(title);
  m_settingTitle = false;
}

void CMDIFrameWnd::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  // A maximised child writes its title into the frame's, and puts the
  // frame's old one back when it is restored; the frame's own part follows
  // the active document in every state.
  if (event->type() == QEvent::WindowTitleChange && !m_settingTitle) OnUpdateFrameTitle();
}

bool CMDIFrameWnd::OnCmdMsg(int id, CCmdUI* query) {
  if (CMDIChildWnd* child = MDIGetActive(); child != nullptr && child->OnCmdMsg(id, query)) {
    return true;
  }
  const bool hasChildren = !m_mdiArea->subWindowList().isEmpty();
  switch (id) {
    case ID_VIEW_STATUS_BAR:
      if (auto* bar = findChild<CStatusBar*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (query != nullptr) query->checked = !bar->isHidden();
        return Handle(query, [bar] { bar->setHidden(!bar->isHidden()); });
      }
      break;
    case ID_WINDOW_NEW:
      return Handle(
          query,
          [this] {
            CDocument* document = MDIGetActive()->GetActiveDocument();
            CMultiDocTemplate* docTemplate = document ? document->GetDocTemplate() : nullptr;
            if (docTemplate == nullptr) return;
            if (CMDIChildWnd* frame = docTemplate->CreateNewFrame(document)) {
              docTemplate->InitialUpdateFrame(frame, document);
            }
          },
          MDIGetActive() != nullptr);
    case ID_WINDOW_CASCADE:
      return Handle(
          query, [this] { m_mdiArea->cascadeSubWindows(); }, hasChildren);
    case ID_WINDOW_TILE_HORZ:
      return Handle(
          query, [this] { m_mdiArea->tileSubWindows(); }, hasChildren);
    case ID_WINDOW_ARRANGE:
      return Handle(
          query,
          [this] {
            // Minimised children line up along the bottom edge, left to right.
            int x = 0;
            const int bottom = m_mdiArea->viewport()->height();
            for (QMdiSubWindow* sub : m_mdiArea->subWindowList()) {
              if (!sub->isMinimized()) continue;
              sub->move(x, bottom - sub->height());
              x += sub->width();
            }
          },
          hasChildren);
    default: break;
  }
  CWinApp* app = AfxGetApp();
  return app != nullptr && app->OnCmdMsg(id, query);
}

void CMDIFrameWnd::closeEvent(QCloseEvent* event) {
  if (CWinApp* app = AfxGetApp()) {
    // Every document agrees before any closes: Cancel keeps them all.
    for (CDocument* document : app->GetDocuments()) {
      if (!document->SaveModified()) return event->ignore();
    }
    for (CDocument* document : app->GetDocuments()) document->OnCloseDocument();
  }
  event->accept();
}

void CMDIFrameWnd::OnChildActivated() {
  const CMenuResource* menu = m_defaultMenu;
  if (CMDIChildWnd* child = MDIGetActive()) {
    if (const CMenuResource* own = AfxGetApp()->GetResources().FindMenu(child->GetResourceId())) {
      menu = own;
    }
  }
  if (menu != m_shownMenu) ShowMenu(menu);
  OnUpdateFrameTitle();
  CMDIChildWnd* active = MDIGetActive();
  if (active != nullptr && active == m_openingChild) m_openingChild = nullptr;
  if (active != m_messageChild) {
    // The pane says what the window now in front last said, not what the
    // one left behind did.
    m_messageChild = active;
    ShowMessage(active != nullptr ? active->property(kMessageProperty).toString() : QString());
  }
}

void CMDIFrameWnd::ShowMenu(const CMenuResource* menu) {
  auto built = std::find_if(m_builtMenus.begin(), m_builtMenus.end(),
                            [menu](const CBuiltMenu& b) { return b.resource == menu; });
  if (built == m_builtMenus.end()) {
    CBuiltMenu fresh{menu, {}};
    for (const CPopupResource& popupResource : *menu) {
      auto* popup = new QMenu(popupResource.caption, this);
      for (const CMenuItemResource& item : popupResource.items) {
        if (item.id == ID_SEPARATOR) {
          popup->addSeparator();
          continue;
        }
        QAction* action = popup->addAction(item.caption);
        SetCommandId(action, item.id);
        action->setProperty(kGrayedProperty, item.grayed);
        action->setStatusTip(StandardPrompt(item.id));
        connect(action, &QAction::triggered, this, [this, id = item.id] { SendCommand(id); });
      }
      connect(popup, &QMenu::aboutToShow, this, [this, popup] { UpdateMenu(popup); });
      fresh.popups.push_back(popup);
    }
    m_builtMenus.push_back(std::move(fresh));
    built = m_builtMenus.end() - 1;
  }
  menuBar()->clear();
  for (QMenu* popup : built->popups) menuBar()->addMenu(popup);
  m_shownMenu = menu;
  UpdateMenus();
}

void CMDIFrameWnd::UpdateMenus() {
  for (const CBuiltMenu& built : m_builtMenus) {
    if (built.resource != m_shownMenu) continue;
    for (QMenu* popup : built.popups) UpdateMenu(popup);
  }
}

void CMDIFrameWnd::UpdateMenu(QMenu* menu) {
  for (QAction* action : menu->actions()) {
    if (IsDynamic(action)) delete action;
  }
  bool windowMenu = false;
  for (QAction* action : menu->actions()) {
    const int id = GetCommandId(action);
    if (id == 0) continue;
    if (id == ID_FILE_MRU_FILE1) {
      UpdateRecentFiles(menu, action);
      continue;
    }
    if (id == ID_WINDOW_NEW) windowMenu = true;
    CCmdUI state;
    const bool known = OnCmdMsg(id, &state);
    action->setEnabled(!action->property(kGrayedProperty).toBool() && known && state.enabled);
    action->setCheckable(state.checked.has_value());
    if (state.checked) action->setChecked(*state.checked);
  }
  if (windowMenu) UpdateWindowList(menu);
}

void CMDIFrameWnd::UpdateRecentFiles(QMenu* menu, QAction* placeholder) {
  CRecentFileList* list = AfxGetApp()->GetRecentFileList();
  const int count = list != nullptr ? list->GetCount() : 0;
  placeholder->setVisible(count == 0);
  placeholder->setEnabled(false);
  for (int i = 0; i < count; ++i) {
    auto* action = new QAction(list->GetDisplayName(i), menu);
    const int id = ID_FILE_MRU_FILE1 + i;
    SetCommandId(action, id);
    action->setProperty(kDynamicProperty, true);
    action->setStatusTip(StandardPrompt(id));
    connect(action, &QAction::triggered, this, [this, id] { SendCommand(id); });
    menu->insertAction(placeholder, action);
  }
}

void CMDIFrameWnd::UpdateWindowList(QMenu* menu) {
  const std::vector<CMDIChildWnd*> frames = GetChildFrames();
  if (frames.empty()) return;
  menu->addSeparator()->setProperty(kDynamicProperty, true);
  CMDIChildWnd* active = MDIGetActive();
  for (size_t i = 0; i < frames.size(); ++i) {
    QString text = frames[i]->windowTitle();
    text.replace(QLatin1Char('&'), QStringLiteral("&&"));
    if (i < 9) text = QStringLiteral("&%1 %2").arg(i + 1).arg(text);
    QAction* action = menu->addAction(text);
    action->setProperty(kDynamicProperty, true);
    SetCommandId(action, ID_WINDOW_LIST_FIRST + static_cast<int>(i));
    // Only the active window carries a mark.
    action->setCheckable(frames[i] == active);
    action->setChecked(frames[i] == active);
    QPointer<CMDIChildWnd> frame = frames[i];
    connect(action, &QAction::triggered, this, [this, frame] {
      if (frame) m_mdiArea->setActiveSubWindow(frame);
    });
  }
}
