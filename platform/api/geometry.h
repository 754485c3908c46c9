// Points and sizes in global coordinates (top-left origin, y down, as the accessibility and
// event interfaces use them), and the containment rule the platform's rectangles follow.
#pragma once

#include "platform/api/screens.h"

namespace vl {

struct Point {
  double x = 0, y = 0;
  bool operator==(const Point&) const = default;
};

struct Size {
  double width = 0, height = 0;
  bool operator==(const Size&) const = default;
};

// CGRectContainsPoint: the left and top edges belong to the rectangle, the right and bottom
// edges do not; an empty rectangle contains nothing.
inline bool rectContainsPoint(const Rect& r, Point p) {
  return r.width > 0 && r.height > 0 && p.x >= r.x && p.x < r.x + r.width && p.y >= r.y && p.y < r.y + r.height;
}

// The square of `radius` points on every side around a point.
inline Rect squareAround(Point p, double radius) { return Rect{p.x - radius, p.y - radius, 2 * radius, 2 * radius}; }

}  // namespace vl
