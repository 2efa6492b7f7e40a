// A static splitter: a fixed grid of panes made once, each addressable by
// row and column. Only a single row or a single column is supported, which
// keeps every pane a direct child of the splitter (a view can walk up to the
// splitter and from there to its frame).
//
// Each pane is created with an ideal size; the panes start at those sizes
// and the last one takes whatever room is left.
#pragma once

#include <QSize>
#include <QSplitter>

#include <vector>

#include "app/framework/doc_template.h"
#include "app/framework/document.h"

class CSplitterWnd : public QSplitter {
  Q_OBJECT

 public:
  CSplitterWnd() = default;

  // Sets up a grid of `rows` × `cols` empty panes inside `parent`. False when
  // neither count is 1, or the grid is already made.
  bool CreateStatic(QWidget* parent, int rows, int cols);

  // Creates the pane at (row, col) as a TView attached to the context's
  // document. False when the position is outside the grid or already filled.
  template <typename TView>
  bool CreateView(int row, int col, QSize idealSize, CCreateContext& context) {
    if (!IsFreePane(row, col)) return false;
    return PlaceView(row, col, new TView, idealSize, context);
  }

  int GetRowCount() const { return m_rows; }
  int GetColumnCount() const { return m_cols; }
  // The widget at (row, col), or null outside the grid or before it is made.
  QWidget* GetPane(int row, int col) const;
  // The panes in grid order.
  const std::vector<QWidget*>& GetPanes() const { return m_panes; }

  // Makes `widget` a child of the splitter that is no pane: it is placed by
  // whoever made it, over a pane. A view's own child widgets are hidden from
  // a screen reader when the view is a list or tree (which tells only of
  // its items); the splitter's are not.
  void AddOverlay(QWidget* widget);

  // Moves the focus to the next (or previous) pane, wrapping around.
  void ActivateNext(bool previous = false);

  // Lets the user move the first bar with the arrow keys: Enter or leaving
  // keeps the new place, Escape puts the bar back.
  void DoKeyboardSplit();
  bool IsTracking() const { return m_tracking; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void childEvent(QChildEvent* event) override;

 private:
  bool IsFreePane(int row, int col) const;
  bool PlaceView(int row, int col, CView* view, QSize idealSize, CCreateContext& context);
  void EndTracking(bool accept);
  int PaneIndex(int row, int col) const { return row * m_cols + col; }

  int m_rows = 0;
  int m_cols = 0;
  std::vector<QWidget*> m_panes;
  std::vector<int> m_idealSizes;
  bool m_sized = false;
  bool m_tracking = false;
  bool m_addingOverlay = false;
  QList<int> m_sizesBeforeTracking;
  QWidget* m_focusBeforeTracking = nullptr;
};
