// The document window: a child frame split into the archive tree on the
// left and the entry list on the right, always shown maximised when the
// framework activates it.
#pragma once

#include "app/document/entry_selection.h"
#include "app/framework/frames.h"
#include "app/refs/reference_places.h"
#include "archive/shown_archive.h"

class CDiskBar;
class CLeftView;
class CLoadOrderPane;
class CTarnEditorDoc;
class CDataBuffer;
class CPreviewPane;
class CRulesIndex;
class CSplitterWnd;
class CTarnEditorView;

class CChildFrame : public CMDIChildWnd, public CEntrySelection {
  Q_OBJECT

 public:
  CChildFrame() = default;

  void ActivateFrame(ShowCommand show = ShowCommand::Default) override;
  // A splitter of one row and two columns: the tree (300 pixels wide to
  // start with) and the list, which takes the rest.
  bool OnCreateClient(CCreateContext& context) override;
  // The list in row 0, column 1, or null when that pane holds no list.
  CTarnEditorView* GetRightPane() const;
  // Edit Find goes to this window's tree.
  bool OnCmdMsg(int id, CCmdUI* query) override;
  bool SelectEntryRow(std::string_view name, size_t row) override;
  bool SelectCopyRow(std::string_view archive, std::string_view name, size_t row) override;
  // The bar that says the archive changed on disk; hidden while it has not.
  CDiskBar* GetDiskBar() const { return m_diskBar; }
  // Shows an entry selected in the tree in the right pane, as what it is;
  // `copyOf` as CLeftView::EntrySelected gives it.
  void ShowEntry(const CDataBuffer& bytes, std::string_view name, std::string_view copyOf = {});
  // What holds the list and the other views of an entry, or null.
  CPreviewPane* GetPreview() const { return m_preview; }
  // Shows the block `name` is defined in, the place left kept for Back;
  // false (the status bar says why) when nothing defines it.
  bool GoToDefinition(const std::string& name);
  // Back and Forward through the places gone to.
  bool GoBack();
  bool GoForward();
  // Lists the definition and uses of `name` in the Find in Rules pane.
  bool FindReferences(const std::string& name);

 private:
  // The last references index of the document; null (the status bar then
  // says it is being built) before the first.
  const CRulesIndex* ReferencesIndex() const;
  // The entry and row the list shows now.
  CRowPlace CurrentPlace() const;
  bool GoTo(const CRowPlace& place);
  // Go to Definition, Find References, Back and Forward.
  bool OnReferenceCmd(int id, CCmdUI* query);
  CPlaceHistory m_history;
  void ShowDiskChange(DiskChange change);
  // The commands of a load order's window.
  bool OnOrderCommand(int id, CCmdUI* query, CLeftView* tree);
  // The Load Order pane above the tree, once the document is a load order.
  void AddOrderPane(CLeftView* tree, CTarnEditorDoc* document);
  // Selects the tree's item `item` and row `row` of the list it fills.
  bool SelectTreeRow(CLeftView* tree, const QModelIndex& item, size_t row);
  void PlaceDiskBar();
  bool eventFilter(QObject* watched, QEvent* event) override;
  CDiskBar* m_diskBar = nullptr;
  bool m_overriddenOnly = false;  // View > Overridden Only
  CLoadOrderPane* m_orderPane = nullptr;  // in a load order's window

 protected:
  CSplitterWnd* m_wndSplitter = nullptr;
  CPreviewPane* m_preview = nullptr;
};
