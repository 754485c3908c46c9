// The curve graph's picture, drawn through a DrawingSurface.
#include <string>

#include "pane/graph/curve_view.h"
#include "pane/model/graph_axes.h"

namespace vl {

namespace {
constexpr DrawRect kPlotFrame{kGraphOriginX, kGraphOriginY, kGraphPlotWidth, kGraphPlotHeight};
constexpr double kTickLength = 3;
constexpr double kXTickBase = kGraphOriginY - kTickLength;  // ticks hang below the plot
constexpr double kYTickBase = kGraphOriginX - kTickLength;  // and stand left of it
}  // namespace

void drawCurveGraph(const CurveViewModel& model, const GraphOverlay& overlay, DrawingSurface& surface) {
  surface.frameRect(kPlotFrame, kGraphFrameColour, 1);

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

  // Curves stay inside the frame's line. The focused curve comes last, over the others, and
  // is drawn even when its check box is off.
  surface.pushClip({kPlotFrame.x + 1, kPlotFrame.y + 1, kPlotFrame.width - 2, kPlotFrame.height - 2});
  const size_t focused = model.cursorSpeedIndex();
  for (size_t i = 0; i < kCurveRows; ++i) {
    if (i == focused || !model.curveVisible(i)) continue;
    surface.strokePath(model.presetCurve(i), model.presetCurveColor(i), model.presetCurve(i).lineWidth());
  }
  if (overlay.sourceCurve && overlay.sourceCurveColor && !overlay.sourceCurve->isEmpty())
    surface.strokePath(*overlay.sourceCurve, *overlay.sourceCurveColor, overlay.sourceCurve->lineWidth());
  if (focused < kCurveRows)
    surface.strokePath(model.presetCurve(focused), model.presetCurveColor(focused), model.presetCurve(focused).lineWidth());
  if (overlay.indicatorValue != 0)
    surface.frameRect({static_cast<double>(overlay.indicatorValue), kGraphOriginY, 1, kGraphPlotHeight}, kIndicatorColour, 1);
  surface.popClip();
}

}  // namespace vl
