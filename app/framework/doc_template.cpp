#include "app/framework/doc_template.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "app/framework/document.h"
#include "app/framework/frames.h"
#include "app/framework/win_app.h"

CMultiDocTemplate::CMultiDocTemplate(int resourceId, std::function<CDocument*()> document,
                                     std::function<CMDIChildWnd*()> frame,
                                     std::function<CView*()> view)
    : m_nIDResource(resourceId),
      m_newDocument(std::move(document)),
      m_newFrame(std::move(frame)),
      m_newView(std::move(view)) {}

CMultiDocTemplate::~CMultiDocTemplate() {
  // Normally every document has gone with its frames; any left has no window.
  while (!m_docList.empty()) delete m_docList.back();
}

void CMultiDocTemplate::LoadTemplate() {
  m_docStrings = AfxGetApp()->LoadString(m_nIDResource).split(QLatin1Char('\n'));
}

QString CMultiDocTemplate::GetDocString(DocStringIndex index) const {
  return m_docStrings.value(index);
}

void CMultiDocTemplate::RemoveDocument(CDocument* document) {
  auto it = std::find(m_docList.begin(), m_docList.end(), document);
  if (it != m_docList.end()) m_docList.erase(it);
  document->m_pDocTemplate = nullptr;
}

void CMultiDocTemplate::SetDefaultTitle(CDocument* document) {
  QString name = GetDocString(docName);
  if (name.isEmpty()) name = QStringLiteral("Untitled");
  document->SetTitle(name + QString::number(m_nUntitledCount + 1));
}

CMDIChildWnd* CMultiDocTemplate::CreateNewFrame(CDocument* document) {
  CCreateContext context;
  context.m_pCurrentDoc = document;
  context.m_pNewViewClass = m_newView;
  CMDIChildWnd* frame = m_newFrame();
  if (!frame->LoadFrame(m_nIDResource, context)) {
    delete frame;
    return nullptr;
  }
  return frame;
}

void CMultiDocTemplate::InitialUpdateFrame(CMDIChildWnd* frame, CDocument* document,
                                           bool makeVisible) {
  for (CView* view : document->GetViews()) {
    if (view->GetParentFrame() == frame) view->OnInitialUpdate();
  }
  document->UpdateFrameCounts();
  if (makeVisible) frame->ActivateFrame();
}

CDocument* CMultiDocTemplate::OpenDocumentFile(const QString& path, bool makeVisible,
                                               QString* failure) {
  CDocument* document = m_newDocument();
  document->m_pDocTemplate = this;
  document->m_bAutoDelete = false;
  m_docList.push_back(document);

  // A document that never opens takes its frame with it, and nothing of it
  // may have been seen: it is deleted here, not through its last view.
  auto discard = [document, failure, &path](CMDIChildWnd* frame) {
    if (failure != nullptr) {
      *failure = document->GetLastError();
      if (failure->isEmpty()) {
        *failure = QFileInfo(path).absoluteFilePath() +
                   (frame == nullptr ? QStringLiteral(": its window could not be made")
                                     : QStringLiteral(": it could not be read"));
      }
    }
    delete frame;
    delete document;
    return nullptr;
  };
  CMDIChildWnd* frame = CreateNewFrame(document);
  if (frame == nullptr) return discard(nullptr);

  if (path.isEmpty()) {
    SetDefaultTitle(document);
    if (!document->OnNewDocument()) return discard(frame);
    ++m_nUntitledCount;
  } else {
    const QString fullPath = QFileInfo(path).absoluteFilePath();
    if (!document->OnOpenDocument(fullPath)) return discard(frame);
    document->SetPathName(fullPath);
  }
  document->m_bAutoDelete = true;
  InitialUpdateFrame(frame, document, makeVisible);
  return document;
}

CDocument* CMultiDocTemplate::FindOpenDocument(const QString& path) const {
  // The same file may be named through a link or a relative path; when it
  // no longer exists, only the same name can match.
  const QString wanted = QFileInfo(path).absoluteFilePath();
  for (CDocument* document : m_docList) {
    const QString& open = document->GetPathName();
    if (open.isEmpty()) continue;
    if (open == wanted) return document;
    std::error_code error;
    if (std::filesystem::equivalent(QFile::encodeName(wanted).toStdString(),
                                    QFile::encodeName(open).toStdString(), error)) {
      return document;
    }
  }
  return nullptr;
}
