// The image view: a picture fitted to the pane, or zoomed (Ctrl+wheel,
// Ctrl+0 fits again, Ctrl+1 shows it at its actual size), its alpha drawn
// over a checkerboard so transparent parts show as such.
#pragma once

#include <QAbstractScrollArea>
#include <QImage>

class CImageView : public QAbstractScrollArea {
  Q_OBJECT

 public:
  CImageView();

  // Shows `image` fitted to the pane.
  void SetImage(const QImage& image);
  const QImage& GetImage() const { return m_image; }
  bool IsFitted() const { return m_fitted; }
  // Pixels of the pane a pixel of the image takes.
  double GetScale() const;
  void FitToPane();
  void ShowActualSize();
  // Zooms in (steps > 0) or out by steps of a quarter.
  void Zoom(int steps);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void UpdateScrollRange();
  QSize ShownSize() const;

  QImage m_image;
  // The image reduced to the size it is shown at, made once for each zoom:
  // a repaint (a scroll, a window passing over) then copies it, instead of
  // scaling all of a large texture again.
  QImage m_reduced;
  bool m_fitted = true;
  double m_scale = 1;  // when not fitted
};
