// A small toolkit-free path for the curve graph: moves and lines in view points, an affine
// transform, and the curve kind carried in the miter limit as the drawing code expects.
#pragma once

#include <cstddef>
#include <vector>

namespace vl {

// x' = a·x + c·y + tx, y' = b·x + d·y + ty.
struct AffineTransform {
  double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;

  static AffineTransform identity() { return {}; }
  // Appends a translation / scale so that it applies before what is already there.
  void translate(double dx, double dy) {
    tx += a * dx + c * dy;
    ty += b * dx + d * dy;
  }
  void scale(double sx, double sy) {
    a *= sx, b *= sx;
    c *= sy, d *= sy;
  }
  void apply(double& x, double& y) const {
    const double nx = a * x + c * y + tx;
    y = b * x + d * y + ty;
    x = nx;
  }
  bool operator==(const AffineTransform&) const = default;
};

// Curve kinds, stored in the miter limit.
inline constexpr double kLinearCurveKind = 10;  // also the state after clearing
inline constexpr double kPACurveKind = 11;
inline constexpr double kSGCurveKind = 12;

enum class PathOp { MoveTo, LineTo };

struct PathElement {
  PathOp op = PathOp::MoveTo;
  double x = 0, y = 0;
  bool operator==(const PathElement&) const = default;
};

class CurvePath {
 public:
  // Keeps the storage, so redrawing a curve does not allocate again.
  void removeAllPoints() { elements_.clear(); }
  void moveTo(double x, double y) { elements_.push_back({PathOp::MoveTo, x, y}); }
  // An empty path starts at the origin.
  void lineTo(double x, double y) {
    if (elements_.empty()) moveTo(0, 0);
    elements_.push_back({PathOp::LineTo, x, y});
  }
  void relativeLineTo(double dx, double dy) {
    const PathElement cur = currentPoint();
    lineTo(cur.x + dx, cur.y + dy);
  }
  void transform(const AffineTransform& t) {
    for (auto& e : elements_) t.apply(e.x, e.y);
  }

  bool isEmpty() const { return elements_.empty(); }
  size_t elementCount() const { return elements_.size(); }
  const std::vector<PathElement>& elements() const { return elements_; }
  PathElement currentPoint() const { return elements_.empty() ? PathElement{} : elements_.back(); }

  double miterLimit() const { return miterLimit_; }
  void setMiterLimit(double m) { miterLimit_ = m; }
  double lineWidth() const { return lineWidth_; }
  void setLineWidth(double w) { lineWidth_ = w; }

  bool isLinearCurve() const { return miterLimit_ == kLinearCurveKind; }
  bool isPACurve() const { return miterLimit_ == kPACurveKind; }
  bool isSGCurve() const { return miterLimit_ == kSGCurveKind; }
  void setToPACurve() { miterLimit_ = kPACurveKind; }
  void setToSGCurve() { miterLimit_ = kSGCurveKind; }

 private:
  std::vector<PathElement> elements_;
  double miterLimit_ = kLinearCurveKind;
  double lineWidth_ = 1;
};

}  // namespace vl
