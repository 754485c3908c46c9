// The curve graph's picture, drawn through a DrawingSurface.
#include <algorithm>
#include <optional>
#include <string>

#include "pane/graph/curve_view.h"
#include "pane/model/graph_axes.h"

namespace vl {

namespace {
constexpr double kTickLength = 3;
constexpr double kXTickBase = kGraphOriginY - kTickLength;  // ticks hang below the plot
constexpr double kYTickBase = kGraphOriginX - kTickLength;  // and stand left of it
constexpr double kCrossingMarkSize = 7;
}  // namespace

std::optional<double> curveHeightAt(const CurvePath& path, double x) {
  const auto& el = path.elements();
  for (size_t i = 1; i < el.size(); ++i) {
    const PathElement& a = el[i - 1];
    const PathElement& b = el[i];
    if (b.op != PathOp::LineTo) continue;
    const double lo = std::min(a.x, b.x), hi = std::max(a.x, b.x);
    if (x < lo || x > hi) continue;
    if (b.x == a.x) return std::max(a.y, b.y);
    return a.y + (b.y - a.y) * (x - a.x) / (b.x - a.x);
  }
  return std::nullopt;
}

void drawCurveGraph(const CurveViewModel& model, const GraphOverlay& overlay, DrawingSurface& surface) {
  const DrawRect plotFrame{kGraphOriginX, kGraphOriginY, model.plotWidth(), model.plotHeight()};
  surface.frameRect(plotFrame, kGraphFrameColour, 1);

  const LabelMeasure measure = [&surface](const std::string& text) {
    const TextSize size = surface.measureText(text);
    return LabelSize{size.width, size.height};
  };
  for (const AxisTick& t : xAxisTicksMeasured(model, measure)) {
    surface.frameRect({t.position, kXTickBase, 1, kTickLength}, kGraphFrameColour, 1);
    if (t.labelled) surface.drawText(std::to_string(t.value), t.labelStart, kXTickBase - t.labelHeight, kGraphLabelColour);
  }
  for (const AxisTick& t : yAxisTicksMeasured(model, measure)) {
    surface.frameRect({kYTickBase, t.position, kTickLength, 1}, kGraphFrameColour, 1);
    if (t.labelled) surface.drawText(std::to_string(t.value), kYTickBase - t.labelWidth, t.labelStart, kGraphLabelColour);
  }

  // Curves stay inside the frame's line. The focused curve comes last, over the others; a
  // curve whose check box is off is not drawn, the focused one included (the user hid it).
  surface.pushClip({plotFrame.x + 1, plotFrame.y + 1, plotFrame.width - 2, plotFrame.height - 2});
  const size_t focused = model.cursorSpeedIndex();
  for (size_t i = 0; i < kCurveRows; ++i) {
    if (i == focused || !model.curveVisible(i)) continue;
    surface.strokePath(model.presetCurve(i), model.presetCurveColor(i), model.presetCurve(i).lineWidth());
  }
  if (overlay.sourceCurve && overlay.sourceCurveColor && !overlay.sourceCurve->isEmpty())
    surface.strokePath(*overlay.sourceCurve, *overlay.sourceCurveColor, overlay.sourceCurve->lineWidth());
  const bool focusedShown = focused < kCurveRows && model.curveVisible(focused);
  if (focusedShown)
    surface.strokePath(model.presetCurve(focused), model.presetCurveColor(focused), model.presetCurve(focused).lineWidth());
  if (overlay.indicatorValue != 0 && overlay.indicatorAlpha > 0) {
    Rgba line = kIndicatorColour;
    line.a *= overlay.indicatorAlpha;
    const double x = overlay.indicatorValue;
    surface.frameRect({x, kGraphOriginY, 1, model.plotHeight()}, line, 1);
    // Where the device's speed meets the curve: the cursor speed it gives.
    if (focusedShown) {
      if (auto y = curveHeightAt(model.presetCurve(focused), x + 0.5)) {
        Rgba mark = model.presetCurveColor(focused);
        mark.a = overlay.indicatorAlpha;
        const double h = kCrossingMarkSize / 2;
        surface.fillRect({x + 0.5 - h, *y - h, kCrossingMarkSize, kCrossingMarkSize}, mark);
        surface.frameRect({x + 0.5 - h, *y - h, kCrossingMarkSize, kCrossingMarkSize}, line, 1);
      }
    }
  }
  surface.popClip();
}

}  // namespace vl
