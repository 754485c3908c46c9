// The graph's drawing commands on a QPainter.
#include "pane/ui/qt_drawing_surface.h"

#include <QApplication>
#include <QPen>
#include <algorithm>

namespace vl::ui {

QColor toQColor(const Rgba& c) {
  auto unit = [](double v) { return std::clamp(v, 0.0, 1.0); };
  return QColor::fromRgbF(static_cast<float>(unit(c.r)), static_cast<float>(unit(c.g)),
                          static_cast<float>(unit(c.b)), static_cast<float>(unit(c.a)));
}

QFont smallSystemFont() {
  QFont f = QApplication::font();
  // The platform's small system font is about two points below the regular one; below eight
  // points the graph's numbers are hard to read on a laptop's screen.
  double size = f.pointSizeF() > 0 ? f.pointSizeF() - 2 : 9;
  f.setPointSizeF(std::max(size, 8.0));
  return f;
}

QtDrawingSurface::QtDrawingSurface(QPainter& painter, double viewHeight)
    : painter_(painter), height_(viewHeight), font_(smallSystemFont()), metrics_(font_) {
  painter_.save();
  painter_.setFont(font_);
}

QtDrawingSurface::~QtDrawingSurface() {
  while (clipDepth_ > 0) popClip();
  painter_.restore();
}

void QtDrawingSurface::frameRect(const DrawRect& rect, const Rgba& colour, double lineWidth) {
  const QRectF r = toWidget(rect);
  const QColor c = toQColor(colour);
  const double w = std::min(lineWidth, r.width() / 2), h = std::min(lineWidth, r.height() / 2);
  if (r.width() <= 2 * lineWidth || r.height() <= 2 * lineWidth) {
    painter_.fillRect(r, c);
    return;
  }
  // Four bands along the inside of the edges, as the platform frames a rectangle.
  painter_.fillRect(QRectF(r.left(), r.top(), r.width(), h), c);
  painter_.fillRect(QRectF(r.left(), r.bottom() - h, r.width(), h), c);
  painter_.fillRect(QRectF(r.left(), r.top() + h, w, r.height() - 2 * h), c);
  painter_.fillRect(QRectF(r.right() - w, r.top() + h, w, r.height() - 2 * h), c);
}

void QtDrawingSurface::fillRect(const DrawRect& rect, const Rgba& colour) {
  painter_.fillRect(toWidget(rect), toQColor(colour));
}

void QtDrawingSurface::strokePath(const CurvePath& path, const Rgba& colour, double lineWidth) {
  if (path.isEmpty() || colour.a <= 0) return;
  QPen pen(toQColor(colour), lineWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  painter_.setPen(pen);
  painter_.setBrush(Qt::NoBrush);
  const bool aa = painter_.testRenderHint(QPainter::Antialiasing);
  painter_.setRenderHint(QPainter::Antialiasing, true);
  // A polyline per run of lines from a move: cheaper than a general path for a curve of a few
  // hundred points, and the same picture.
  auto flush = [&] {
    if (points_.size() >= 2) painter_.drawPolyline(points_.constData(), static_cast<int>(points_.size()));
    points_.clear();
  };
  for (const PathElement& e : path.elements()) {
    if (e.op == PathOp::MoveTo) flush();
    points_.append(QPointF(e.x, height_ - e.y));
  }
  flush();
  painter_.setRenderHint(QPainter::Antialiasing, aa);
}

TextSize QtDrawingSurface::measureText(const std::string& text) {
  const QRectF r = metrics_.boundingRect(QString::fromStdString(text));
  return {metrics_.horizontalAdvance(QString::fromStdString(text)), std::max(r.height(), metrics_.height())};
}

void QtDrawingSurface::drawText(const std::string& text, double x, double y, const Rgba& colour) {
  painter_.setPen(toQColor(colour));
  // The text's box has its bottom at y (view units): the baseline lies the descent above it.
  painter_.drawText(QPointF(x, height_ - y - metrics_.descent()), QString::fromStdString(text));
}

void QtDrawingSurface::pushClip(const DrawRect& rect) {
  painter_.save();
  ++clipDepth_;
  painter_.setClipRect(toWidget(rect), painter_.hasClipping() ? Qt::IntersectClip : Qt::ReplaceClip);
}

void QtDrawingSurface::popClip() {
  if (clipDepth_ == 0) return;
  --clipDepth_;
  painter_.restore();
}

}  // namespace vl::ui
