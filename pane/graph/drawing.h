// The drawing commands the curve graph issues, in view coordinates (origin bottom-left, y up,
// the units of the graph's own numbers), and the surfaces that carry them out: the window's
// painter implements the same interface.
#pragma once

#include <string>

#include "pane/model/curve_path.h"
#include "pane/model/curve_view_model.h"

namespace vl {

struct DrawRect {
  double x = 0, y = 0, width = 0, height = 0;
  bool operator==(const DrawRect&) const = default;
};

struct TextSize {
  double width = 0, height = 0;
};

class DrawingSurface {
 public:
  virtual ~DrawingSurface() = default;
  // NSFrameRectWithWidth: fills a band of lineWidth along the inside of the rectangle's edges
  // (a rectangle no wider or higher than two bands comes out filled).
  virtual void frameRect(const DrawRect& rect, const Rgba& colour, double lineWidth) = 0;
  // NSRectFill.
  virtual void fillRect(const DrawRect& rect, const Rgba& colour) = 0;
  // -[NSBezierPath stroke] with round line joins (and caps) in the colour and width given;
  // the path's own line width is not used.
  virtual void strokePath(const CurvePath& path, const Rgba& colour, double lineWidth) = 0;
  // -[NSString sizeWithAttributes:] in the small system font.
  virtual TextSize measureText(const std::string& text) = 0;
  // -[NSString drawAtPoint:withAttributes:] in the small system font: the text's box has its
  // bottom-left corner at (x, y).
  virtual void drawText(const std::string& text, double x, double y, const Rgba& colour) = 0;
  // Clipping: NSRectClip inside a saved graphics state; pops restore the previous clip.
  virtual void pushClip(const DrawRect& rect) = 0;
  virtual void popClip() = 0;
};

}  // namespace vl
