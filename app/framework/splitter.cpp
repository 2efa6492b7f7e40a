#include "app/framework/splitter.h"

#include <QApplication>
#include <QChildEvent>
#include <QKeyEvent>
#include <QMdiSubWindow>

#include <algorithm>

namespace {

// How far one arrow key moves the bar, in pixels.
constexpr int kKeyboardStep = 8;

}  // namespace

bool CSplitterWnd::CreateStatic(QWidget* parent, int rows, int cols) {
  if (m_rows != 0 || rows < 1 || cols < 1 || (rows != 1 && cols != 1)) return false;
  m_rows = rows;
  m_cols = cols;
  m_panes.assign(static_cast<size_t>(rows * cols), nullptr);
  m_idealSizes.assign(m_panes.size(), 0);
  setOrientation(rows == 1 ? Qt::Horizontal : Qt::Vertical);
  setChildrenCollapsible(false);
  // Inside a child frame the splitter is the frame's client.
  if (auto* frame = qobject_cast<QMdiSubWindow*>(parent)) {
    frame->setWidget(this);
  } else if (parent != nullptr) {
    setParent(parent);
  }
  return true;
}

bool CSplitterWnd::IsFreePane(int row, int col) const {
  return row >= 0 && row < m_rows && col >= 0 && col < m_cols &&
         m_panes[PaneIndex(row, col)] == nullptr;
}

bool CSplitterWnd::PlaceView(int row, int col, CView* view, QSize idealSize,
                             CCreateContext& context) {
  QWidget* widget = view->GetWidget();
  if (context.m_pCurrentDoc != nullptr) context.m_pCurrentDoc->AddView(view);
  const int index = PaneIndex(row, col);
  // Keep the grid order among the panes made so far.
  int at = 0;
  for (int i = 0; i < index; ++i) at += m_panes[i] != nullptr ? 1 : 0;
  insertWidget(at, widget);
  m_panes[index] = widget;
  m_idealSizes[index] = orientation() == Qt::Horizontal ? idealSize.width() : idealSize.height();
  // The last pane takes what the others leave, now and on every resize.
  for (int i = 0; i < count(); ++i) setStretchFactor(i, i == count() - 1 ? 1 : 0);
  return true;
}

QWidget* CSplitterWnd::GetPane(int row, int col) const {
  if (row < 0 || row >= m_rows || col < 0 || col >= m_cols) return nullptr;
  return m_panes[PaneIndex(row, col)];
}

void CSplitterWnd::AddOverlay(QWidget* widget) {
  m_addingOverlay = true;
  widget->setParent(this);
  m_addingOverlay = false;
  widget->raise();
}

void CSplitterWnd::childEvent(QChildEvent* event) {
  // QSplitter makes every new child widget a pane of its own.
  if (m_addingOverlay && event->added()) return;
  QSplitter::childEvent(event);
}

void CSplitterWnd::showEvent(QShowEvent* event) {
  QSplitter::showEvent(event);
  if (m_sized) return;
  m_sized = true;
  // Every pane but the last at its ideal size, the last gets the rest.
  const int total = orientation() == Qt::Horizontal ? width() : height();
  QList<int> sizes;
  int used = 0;
  for (size_t i = 0; i < m_panes.size(); ++i) {
    if (m_panes[i] == nullptr) continue;
    sizes.append(m_idealSizes[i]);
    used += m_idealSizes[i] + handleWidth();
  }
  if (sizes.isEmpty()) return;
  sizes.back() = std::max(sizes.back(), total - (used - sizes.back() - handleWidth()));
  setSizes(sizes);
}

void CSplitterWnd::ActivateNext(bool previous) {
  std::vector<QWidget*> panes;
  for (QWidget* pane : m_panes) {
    if (pane != nullptr) panes.push_back(pane);
  }
  if (panes.empty()) return;
  size_t current = 0;
  const QWidget* focus = QApplication::focusWidget();
  // A pane may hand its focus on to a widget outside it (the list to the
  // view shown in its place): that widget's focus is the pane's too, or
  // F6 would go from there to the pane, and so back to it.
  const auto holds = [focus](QWidget* pane) {
    for (QWidget* at = pane; at != nullptr; at = at->focusProxy())
      if (focus == at || at->isAncestorOf(focus)) return true;
    return false;
  };
  for (size_t i = 0; i < panes.size(); ++i) {
    if (focus != nullptr && holds(panes[i])) current = i;
  }
  const size_t n = panes.size();
  const size_t next = previous ? (current + n - 1) % n : (current + 1) % n;
  panes[next]->setFocus(Qt::OtherFocusReason);
}

void CSplitterWnd::DoKeyboardSplit() {
  if (m_tracking || count() < 2) return;
  m_tracking = true;
  m_sizesBeforeTracking = sizes();
  m_focusBeforeTracking = QApplication::focusWidget();
  setFocusPolicy(Qt::StrongFocus);
  setFocus(Qt::OtherFocusReason);
  handle(1)->setBackgroundRole(QPalette::Highlight);
  handle(1)->setAutoFillBackground(true);
}

void CSplitterWnd::EndTracking(bool accept) {
  if (!m_tracking) return;
  m_tracking = false;
  if (!accept) setSizes(m_sizesBeforeTracking);
  handle(1)->setAutoFillBackground(false);
  setFocusPolicy(Qt::NoFocus);
  QWidget* back = m_focusBeforeTracking;
  m_focusBeforeTracking = nullptr;
  if (back != nullptr && isAncestorOf(back)) {
    back->setFocus(Qt::OtherFocusReason);
  } else if (!m_panes.empty() && m_panes.front() != nullptr) {
    m_panes.front()->setFocus(Qt::OtherFocusReason);
  }
}

void CSplitterWnd::keyPressEvent(QKeyEvent* event) {
  if (!m_tracking) {
    QSplitter::keyPressEvent(event);
    return;
  }
  const bool horizontal = orientation() == Qt::Horizontal;
  int step = 0;
  switch (event->key()) {
    case Qt::Key_Left: step = horizontal ? -kKeyboardStep : 0; break;
    case Qt::Key_Right: step = horizontal ? kKeyboardStep : 0; break;
    case Qt::Key_Up: step = horizontal ? 0 : -kKeyboardStep; break;
    case Qt::Key_Down: step = horizontal ? 0 : kKeyboardStep; break;
    case Qt::Key_Return:
    case Qt::Key_Enter: EndTracking(true); return;
    case Qt::Key_Escape: EndTracking(false); return;
    default: event->accept(); return;
  }
  if (step != 0) {
    const QList<int> now = sizes();
    moveSplitter(now.front() + step, 1);
  }
  event->accept();
}

void CSplitterWnd::focusOutEvent(QFocusEvent* event) {
  QSplitter::focusOutEvent(event);
  // Leaving the splitter, by click or by switching windows, keeps the bar
  // where it is.
  if (m_tracking) EndTracking(true);
}
