// QtDrawingSurface: the curve graph's drawing commands carried out with a QPainter. The graph's
// coordinates have their origin at the bottom left and y upwards; the widget's run downwards
// from the top, so every y is flipped against the view's height.
#pragma once

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QPointF>
#include <QVector>
#include <vector>

#include "pane/graph/drawing.h"

namespace vl::ui {

QColor toQColor(const Rgba& c);
// The small system font the graph's labels use.
QFont smallSystemFont();

class QtDrawingSurface : public DrawingSurface {
 public:
  // viewHeight: the height of the view in the graph's units (its y = 0 is the widget's bottom).
  QtDrawingSurface(QPainter& painter, double viewHeight);
  ~QtDrawingSurface() override;

  void frameRect(const DrawRect& rect, const Rgba& colour, double lineWidth) override;
  void fillRect(const DrawRect& rect, const Rgba& colour) override;
  void strokePath(const CurvePath& path, const Rgba& colour, double lineWidth) override;
  TextSize measureText(const std::string& text) override;
  void drawText(const std::string& text, double x, double y, const Rgba& colour) override;
  void pushClip(const DrawRect& rect) override;
  void popClip() override;

  // The flipped rectangle in widget coordinates.
  QRectF toWidget(const DrawRect& r) const { return QRectF(r.x, height_ - r.y - r.height, r.width, r.height); }

 private:
  QPainter& painter_;
  double height_;
  QFont font_;
  QFontMetricsF metrics_;
  int clipDepth_ = 0;
  // Reused between strokes, so a frame allocates nothing once warm.
  QVector<QPointF> points_;
};

}  // namespace vl::ui
