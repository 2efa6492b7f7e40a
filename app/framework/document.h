// The document base and the view mixin.
//
// A document is shown by one or more views, each a pane of some child frame.
// Views attach themselves when created through a creation context and
// detach in their destructor; when the last view of an auto-deleting
// document goes, the document deletes itself. So a document lives exactly as
// long as it has a window, which is what lets views point into it.
#pragma once

#include <QString>

#include <vector>

#include "app/framework/cmd_target.h"

class CDocument;
class CMultiDocTemplate;
class CMDIChildWnd;
class QWidget;

class CView {
 public:
  CView() = default;
  CView(const CView&) = delete;
  CView& operator=(const CView&) = delete;
  virtual ~CView();

  CDocument* GetDocument() const { return m_pDocument; }
  // Called once, after the document has opened (or been made new).
  virtual void OnInitialUpdate() {}
  // Called when the document changed in a way `hint` says (the document's
  // own values); the base does nothing.
  virtual void OnUpdate(int hint) { (void)hint; }
  virtual QWidget* GetWidget() = 0;
  // The child frame whose client holds this view, or null.
  CMDIChildWnd* GetParentFrame();

 private:
  friend class CDocument;
  CDocument* m_pDocument = nullptr;
};

class CDocument : public CCmdTarget {
 public:
  CDocument() = default;
  CDocument(const CDocument&) = delete;
  CDocument& operator=(const CDocument&) = delete;
  ~CDocument() override;

  // File New: clears the contents. True to keep the document.
  virtual bool OnNewDocument();
  // Open: fill the document from `path`. True to keep the document. The base
  // knows no file format and refuses.
  virtual bool OnOpenDocument(const QString& path);
  // Writes the document to `path`; the base has no format and writes nothing.
  virtual bool OnSaveDocument(const QString& path);
  virtual void DeleteContents() {}
  // File Save and Save As. Save writes only a modified document with a
  // path; Save As asks for a path first.
  virtual void OnFileSave();
  virtual void OnFileSaveAs();
  // Closes every frame showing this document, and with them the document.
  virtual void OnCloseDocument();
  // Before the document's last window closes: true when it may. The base
  // has nothing to save and always agrees.
  virtual bool SaveModified() { return true; }
  // Whether OnCloseDocument is under way (its windows are not asked again).
  bool IsClosing() const { return m_bClosing; }
  // Calls OnUpdate(hint) on every view.
  void UpdateAllViews(int hint);

  bool OnCmdMsg(int id, CCmdUI* query) override;

  const QString& GetTitle() const { return m_strTitle; }
  void SetTitle(const QString& title);
  // The full path the document was opened from; empty for a new document.
  const QString& GetPathName() const { return m_strPathName; }
  // Sets the path and the title it implies, and puts the path at the top
  // of the recent-file list when `addToMru`.
  void SetPathName(const QString& path, bool addToMru = true);
  bool IsModified() const { return m_bModified; }
  void SetModifiedFlag(bool modified = true) { m_bModified = modified; }
  // Why the last open or save of this document failed, in words for the
  // user that start with the file it was about ("PATH: REASON"); empty
  // after one that succeeded, or when nothing said.
  const QString& GetLastError() const { return m_strLastError; }

  void AddView(CView* view);
  void RemoveView(CView* view);
  const std::vector<CView*>& GetViews() const { return m_views; }
  // The distinct frames of the views, in view order.
  std::vector<CMDIChildWnd*> GetFrames() const;
  // Numbers the frames ":1", ":2", ... when there are several, and retitles them.
  void UpdateFrameCounts();

  CMultiDocTemplate* GetDocTemplate() const { return m_pDocTemplate; }

 protected:
  void SetLastError(const QString& error) { m_strLastError = error; }

 private:
  friend class CMultiDocTemplate;
  std::vector<CView*> m_views;
  QString m_strTitle;
  QString m_strPathName;
  QString m_strLastError;
  bool m_bModified = false;
  bool m_bClosing = false;
  // While false, losing the last view leaves the document to its template
  // (a failed open deletes both explicitly).
  bool m_bAutoDelete = true;
  CMultiDocTemplate* m_pDocTemplate = nullptr;
};
