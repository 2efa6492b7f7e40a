// The document template: binds a document class to a child-frame class and a
// view class under one resource id, and carries out the open sequence:
//
//   document, then frame with its views attached to the document, then the
//   document's open, then one initial update of every view of the frame,
//   and only then the frame is activated.
//
// After a failed open nothing of the new document remains: its frame and
// views are destroyed, then the document.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class CDocument;
class CMDIChildWnd;
class CMDIFrameWnd;
class CView;
class QWidget;

// What a frame needs to create its views: the document they attach to and
// the template's view class.
struct CCreateContext {
  CDocument* m_pCurrentDoc = nullptr;
  std::function<CView*()> m_pNewViewClass;
};

class CMultiDocTemplate {
 public:
  // Fields of the document string, in the order the string holds them.
  enum DocStringIndex {
    windowTitle,
    docName,
    fileNewName,
    filterName,
    filterExt,
    regFileTypeId,
    regFileTypeName,
  };

  template <typename TDocument, typename TFrame, typename TView>
  static std::unique_ptr<CMultiDocTemplate> Make(int resourceId) {
    return std::unique_ptr<CMultiDocTemplate>(new CMultiDocTemplate(
        resourceId, [] { return static_cast<CDocument*>(new TDocument); },
        [] { return static_cast<CMDIChildWnd*>(new TFrame); },
        [] { return static_cast<CView*>(new TView); }));
  }
  // The same, with documents made by `document` (which may give each one
  // what it needs beyond its class).
  template <typename TFrame, typename TView>
  static std::unique_ptr<CMultiDocTemplate> Make(int resourceId,
                                                 std::function<CDocument*()> document) {
    return std::unique_ptr<CMultiDocTemplate>(new CMultiDocTemplate(
        resourceId, std::move(document), [] { return static_cast<CMDIChildWnd*>(new TFrame); },
        [] { return static_cast<CView*>(new TView); }));
  }
  ~CMultiDocTemplate();
  CMultiDocTemplate(const CMultiDocTemplate&) = delete;
  CMultiDocTemplate& operator=(const CMultiDocTemplate&) = delete;

  // Loads the document string, menu and icon of the resource id.
  void LoadTemplate();
  int GetResourceId() const { return m_nIDResource; }
  QString GetDocString(DocStringIndex index) const;

  // Opens `path` in a new document and frame, or makes a new untitled
  // document when `path` is empty. Returns the document, or null on failure,
  // with why in `failure` ("PATH: REASON") when given.
  CDocument* OpenDocumentFile(const QString& path, bool makeVisible = true,
                              QString* failure = nullptr);
  // A further frame on `document`, with its own views. Null on failure.
  CMDIChildWnd* CreateNewFrame(CDocument* document);
  // Gives every view of the frame its initial update, then activates it.
  void InitialUpdateFrame(CMDIChildWnd* frame, CDocument* document, bool makeVisible = true);

  // The open document whose file is `path` (same file, however named), or null.
  CDocument* FindOpenDocument(const QString& path) const;
  const std::vector<CDocument*>& GetDocuments() const { return m_docList; }
  void RemoveDocument(CDocument* document);

 private:
  CMultiDocTemplate(int resourceId, std::function<CDocument*()> document,
                    std::function<CMDIChildWnd*()> frame, std::function<CView*()> view);
  void SetDefaultTitle(CDocument* document);

  int m_nIDResource;
  std::function<CDocument*()> m_newDocument;
  std::function<CMDIChildWnd*()> m_newFrame;
  std::function<CView*()> m_newView;
  QStringList m_docStrings;
  std::vector<CDocument*> m_docList;  // not owned: documents delete themselves
  int m_nUntitledCount = 0;
};
