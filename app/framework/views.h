// The two view bases: a tree view and a report-style list view, each a Qt
// item view over a model the derived view supplies.
#pragma once

#include <QTreeView>

#include "app/framework/document.h"

class CTextCellDelegate;

// A tree of items. Single selection, no editing, no header; rows are assumed
// to be of one height so that long lists lay out without measuring each row.
class CTreeView : public QTreeView, public CView {
  Q_OBJECT

 public:
  CTreeView();
  QWidget* GetWidget() override { return this; }
};

// A report list: rows of text cells under a header of column headings.
// Several rows can be selected; there is no sorting, and no editing unless
// the derived view turns it on. Columns keep the widths they are given.
// Cells of plain text are painted with one text layout each, pixel for pixel
// as the style would paint them.
class CListView : public QTreeView, public CView {
  Q_OBJECT

 public:
  CListView();
  QWidget* GetWidget() override { return this; }
  void SetColumnWidth(int column, int width);
  int GetColumnWidth(int column) const;
  // Names the in-place editor of a cell made editable, for a screen reader.
  void NameCellEditors(const QString& name);

 private:
  CTextCellDelegate* m_cells;  // owned by the view as a child
};
