// SVG pictures of the curve graph: the window's drawing on an SvgSurface, with a caption and
// a legend in a strip above it.
#include "pane/graph/graph_svg.h"

#include "pane/graph/curve_view.h"
#include "pane/graph/svg_surface.h"

namespace vl {

namespace {
constexpr double kTopStrip = 42;
constexpr double kRightMargin = 14;
constexpr Rgba kCaptionColour{0.2, 0.2, 0.2, 1};
}  // namespace

std::string renderGraphSvg(const CurveViewModel& model, const GraphSvgText& text) {
  SvgSurface surface(model.viewWidth(), model.viewHeight(), kTopStrip, kRightMargin);
  const double top = model.viewHeight() + kTopStrip;  // the strip in view coordinates
  if (!text.caption.empty()) surface.drawText(text.caption, kGraphOriginX, top - 15, kCaptionColour);
  // Legend: a short line in each row's colour, then its text.
  double x = kGraphOriginX;
  for (size_t i = 0; i < kCurveRows; ++i) {
    if (text.legend[i].empty()) continue;
    Rgba c = model.presetCurveColor(i);
    c.a = 1;
    surface.fillRect({x, top - 28.5, 14, 3}, c);
    surface.drawText(text.legend[i], x + 18, top - 33, kCaptionColour);
    x += 22 + surface.measureText(text.legend[i]).width + 14;
  }
  drawCurveGraph(model, GraphOverlay{}, surface);
  return surface.document();
}

}  // namespace vl
