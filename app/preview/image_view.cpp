#include "app/preview/image_view.h"

#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kCheckerSquare = 8;
constexpr double kSmallest = 1.0 / 64;
constexpr double kLargest = 64;

QPixmap Checkerboard() {
  QPixmap tile(2 * kCheckerSquare, 2 * kCheckerSquare);
  tile.fill(QColor(0xCC, 0xCC, 0xCC));
  QPainter painter(&tile);
  const QColor dark(0x99, 0x99, 0x99);
  painter.fillRect(0, 0, kCheckerSquare, kCheckerSquare, dark);
  painter.fillRect(kCheckerSquare, kCheckerSquare, kCheckerSquare, kCheckerSquare, dark);
  return tile;
}

}  // namespace

CImageView::CImageView() {
  setFocusPolicy(Qt::StrongFocus);
  setAccessibleName(QStringLiteral("Image"));
  // A screen reader lands on the viewport, the part that is painted.
  viewport()->setAccessibleName(accessibleName());
}

void CImageView::SetImage(const QImage& image) {
  m_image = image;
  m_reduced = QImage();
  FitToPane();
}

double CImageView::GetScale() const {
  if (!m_fitted || m_image.isNull()) return m_scale;
  const QSize pane = viewport()->size();
  return std::max(kSmallest, std::min(static_cast<double>(pane.width()) / m_image.width(),
                                      static_cast<double>(pane.height()) / m_image.height()));
}

QSize CImageView::ShownSize() const {
  const double scale = GetScale();
  return {static_cast<int>(std::lround(m_image.width() * scale)),
          static_cast<int>(std::lround(m_image.height() * scale))};
}

void CImageView::FitToPane() {
  m_fitted = true;
  UpdateScrollRange();
  viewport()->update();
}

void CImageView::ShowActualSize() {
  m_fitted = false;
  m_scale = 1;
  UpdateScrollRange();
  viewport()->update();
}

void CImageView::Zoom(int steps) {
  const double now = GetScale();
  m_fitted = false;
  m_scale = std::clamp(now * std::pow(1.25, steps), kSmallest, kLargest);
  UpdateScrollRange();
  viewport()->update();
}

void CImageView::UpdateScrollRange() {
  const QSize shown = m_image.isNull() ? QSize() : ShownSize();
  horizontalScrollBar()->setRange(0, std::max(0, shown.width() - viewport()->width()));
  verticalScrollBar()->setRange(0, std::max(0, shown.height() - viewport()->height()));
  horizontalScrollBar()->setPageStep(viewport()->width());
  verticalScrollBar()->setPageStep(viewport()->height());
}

void CImageView::paintEvent(QPaintEvent* event) {
  (void)event;
  if (m_image.isNull()) return;
  QPainter painter(viewport());
  const QSize shown = ShownSize();
  // Centred when it is smaller than the pane, scrolled when larger.
  const int x = shown.width() < viewport()->width() ? (viewport()->width() - shown.width()) / 2
                                                    : -horizontalScrollBar()->value();
  const int y = shown.height() < viewport()->height() ? (viewport()->height() - shown.height()) / 2
                                                      : -verticalScrollBar()->value();
  const QRect target(QPoint(x, y), shown);
  painter.drawTiledPixmap(target, Checkerboard());
  // Enlarged pixels stay sharp squares, drawn as they are needed; reduced
  // ones are smoothed, once for each size when the result is not much
  // larger than the pane.
  const QSize pane = viewport()->size();
  const bool keep = GetScale() < 1 && qint64{shown.width()} * shown.height() <=
                                          4 * qint64{pane.width()} * pane.height();
  if (!keep) {
    m_reduced = QImage();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, GetScale() < 1);
    painter.drawImage(target, m_image);
    return;
  }
  if (m_reduced.size() != shown) {
    m_reduced = QImage(shown, QImage::Format_ARGB32_Premultiplied);
    m_reduced.fill(Qt::transparent);
    QPainter reducer(&m_reduced);
    reducer.setRenderHint(QPainter::SmoothPixmapTransform);
    reducer.drawImage(QRect(QPoint(), shown), m_image);
  }
  painter.drawImage(target.topLeft(), m_reduced);
}

void CImageView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollRange();
}

void CImageView::wheelEvent(QWheelEvent* event) {
  if (!(event->modifiers() & Qt::ControlModifier)) return QAbstractScrollArea::wheelEvent(event);
  const int steps = event->angleDelta().y() / 120;
  if (steps != 0) Zoom(steps);
  event->accept();
}

void CImageView::keyPressEvent(QKeyEvent* event) {
  if (event->modifiers() & Qt::ControlModifier) {
    switch (event->key()) {
      case Qt::Key_0: FitToPane(); return;
      case Qt::Key_1: ShowActualSize(); return;
      case Qt::Key_Plus:
      case Qt::Key_Equal: Zoom(1); return;
      case Qt::Key_Minus: Zoom(-1); return;
      default: break;
    }
  }
  QAbstractScrollArea::keyPressEvent(event);
}
