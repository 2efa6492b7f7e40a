#include "app/framework/document.h"

#include <QFileInfo>
#include <QWidget>

#include <algorithm>

#include "app/framework/command_ids.h"
#include "app/framework/doc_template.h"
#include "app/framework/frames.h"
#include "app/framework/win_app.h"

CView::~CView() {
  if (m_pDocument != nullptr) m_pDocument->RemoveView(this);
}

CMDIChildWnd* CView::GetParentFrame() {
  for (QWidget* w = GetWidget(); w != nullptr; w = w->parentWidget()) {
    if (auto* frame = qobject_cast<CMDIChildWnd*>(w)) return frame;
  }
  return nullptr;
}

CDocument::~CDocument() {
  // Views outliving their document would point at nothing: cut them loose.
  for (CView* view : m_views) view->m_pDocument = nullptr;
  if (m_pDocTemplate != nullptr) m_pDocTemplate->RemoveDocument(this);
}

bool CDocument::OnNewDocument() {
  DeleteContents();
  m_strPathName.clear();
  SetModifiedFlag(false);
  return true;
}

bool CDocument::OnOpenDocument(const QString& path) {
  (void)path;
  return false;
}

bool CDocument::OnSaveDocument(const QString& path) {
  (void)path;
  return false;
}

void CDocument::OnFileSave() {
  if (IsModified() && !m_strPathName.isEmpty() && OnSaveDocument(m_strPathName)) {
    SetModifiedFlag(false);
  }
}

void CDocument::OnFileSaveAs() {
  const QString path = AfxGetApp()->DoPromptFileName(false, m_strPathName);
  if (!path.isEmpty()) OnSaveDocument(path);
}

void CDocument::OnCloseDocument() {
  // Deleting the last frame deletes this document, so collect them first
  // and stop the chain from deleting it halfway through.
  const std::vector<CMDIChildWnd*> frames = GetFrames();
  const bool autoDelete = m_bAutoDelete;
  m_bAutoDelete = false;
  m_bClosing = true;
  for (CMDIChildWnd* frame : frames) {
    // Closed first, as its own close button would: the area then hands the
    // activation on to the next window in the same state (maximised stays
    // maximised), which it does not for a window that is simply destroyed.
    frame->close();
    delete frame;
  }
  DeleteContents();
  if (autoDelete) delete this;
}

bool CDocument::OnCmdMsg(int id, CCmdUI* query) {
  switch (id) {
    case ID_FILE_CLOSE:
      return Handle(query, [this] {
        if (SaveModified()) OnCloseDocument();
      });
    case ID_FILE_SAVE: return Handle(query, [this] { OnFileSave(); });
    case ID_FILE_SAVE_AS: return Handle(query, [this] { OnFileSaveAs(); });
    default: return false;
  }
}

void CDocument::UpdateAllViews(int hint) {
  // A copy: a view may go while it is told.
  const std::vector<CView*> views = m_views;
  for (CView* view : views) view->OnUpdate(hint);
}

void CDocument::SetTitle(const QString& title) {
  m_strTitle = title;
  UpdateFrameCounts();
}

void CDocument::SetPathName(const QString& path, bool addToMru) {
  m_strPathName = QFileInfo(path).absoluteFilePath();
  SetTitle(QFileInfo(m_strPathName).fileName());
  if (addToMru && AfxGetApp() != nullptr) AfxGetApp()->AddToRecentFileList(m_strPathName);
}

void CDocument::AddView(CView* view) {
  if (view->m_pDocument == this) return;
  if (view->m_pDocument != nullptr) view->m_pDocument->RemoveView(view);
  m_views.push_back(view);
  view->m_pDocument = this;
}

void CDocument::RemoveView(CView* view) {
  auto it = std::find(m_views.begin(), m_views.end(), view);
  if (it == m_views.end()) return;
  m_views.erase(it);
  view->m_pDocument = nullptr;
  if (m_views.empty() && m_bAutoDelete) delete this;
}

std::vector<CMDIChildWnd*> CDocument::GetFrames() const {
  std::vector<CMDIChildWnd*> frames;
  for (CView* view : m_views) {
    CMDIChildWnd* frame = view->GetParentFrame();
    if (frame != nullptr && std::find(frames.begin(), frames.end(), frame) == frames.end()) {
      frames.push_back(frame);
    }
  }
  return frames;
}

void CDocument::UpdateFrameCounts() {
  const std::vector<CMDIChildWnd*> frames = GetFrames();
  int number = frames.size() > 1 ? 1 : 0;
  for (CMDIChildWnd* frame : frames) {
    frame->SetWindowNumber(number);
    if (number > 0) ++number;
    frame->OnUpdateFrameTitle();
  }
}
