// The archive tree: the left pane of every document window. It lists every
// entry of the document flat, in the document's order, and hands the
// selected entry's bytes to the list in the right pane of the same window.
//
// The items are a model over the document's map, not one object per item:
// filling the tree of an archive of a million entries costs nothing per
// entry beyond what the tree control keeps. Each item's data is the address
// of its entry's buffer inside the map.
#pragma once

#include <QAbstractListModel>
#include <QPointer>

#include <vector>

#include "app/entry_logic.h"
#include "app/framework/views.h"

class CEntryFindBar;
class CTarnEditorDoc;

class CEntryTreeModel : public QAbstractListModel {
  Q_OBJECT

 public:
  // The role under which an item gives the address of its entry's buffer,
  // as a quintptr.
  static constexpr int kEntryDataRole = Qt::UserRole;

  using QAbstractListModel::QAbstractListModel;

  // One item per entry of `entries`, in its order. The map must outlive
  // the model and not change (a document's never does).
  void SetEntries(const CEntryMap* entries);
  // Never null: an empty map until SetEntries.
  const CEntryMap& GetEntries() const { return *m_entries; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  // The one column is "Name", for whoever reads the hidden header out.
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

 private:
  static const CEntryMap kNoEntries;
  const CEntryMap* m_entries = &kNoEntries;
};

class CLeftView : public CTreeView {
  Q_OBJECT

 public:
  CLeftView();
  ~CLeftView() override;

  CTarnEditorDoc* GetDocument() const;
  // Fills the tree from the document, once.
  void OnInitialUpdate() override;
  CEntryTreeModel* GetModel() { return &m_model; }

  // Find: shows the find field at the bottom of the pane, with the focus.
  void BeginFind();
  // Selects the next (or previous) entry whose name holds the find text,
  // wrapping around; opens the field when there is no text yet.
  void FindNext(FindDirection direction);
  // Hides the field and gives the focus back to the tree.
  void EndFind();
  // The find field's bar; null until the first find.
  CEntryFindBar* GetFindBar() const;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void moveEvent(QMoveEvent* event) override;

 private:
  // The selection change: hands the new item's entry to the right pane.
  void OnSelchanged(const QItemSelection& selected, const QItemSelection& deselected);
  // Lets the one column grow to the widest name, so long names scroll
  // instead of being cut.
  void FitColumnToNames();
  // Finds from the current entry (itself included when `fromCurrent`).
  void FindFrom(bool fromCurrent, FindDirection direction);
  void PlaceFindBar();
  // F3 and Shift+F3 while `owner` or a child of it has the focus.
  void AddFindKeys(QWidget* owner);

  CEntryTreeModel m_model;
  // Made on first use. It lies over the bottom of the tree but is the
  // splitter's child (see CSplitterWnd::AddOverlay), and goes with the tree.
  QPointer<CEntryFindBar> m_findBar;
};
