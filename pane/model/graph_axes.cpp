// Axis ticks and label spacing of the curve graph.
#include "pane/model/graph_axes.h"

#include <cmath>
#include <limits>
#include <string>

namespace vl {

namespace {
int visibleRange(double extent, double scale) {
  const double r = extent / scale;
  if (!(r >= 0)) return 0;
  return r >= 1e6 ? 1000000 : static_cast<int>(r);
}
}  // namespace

LabelMeasure measureByDigits(const LabelMetrics& m) {
  return [m](const std::string& text) { return LabelSize{static_cast<double>(text.size()) * m.digitWidth, m.height}; };
}

int axisStep(int range) { return range < 10 ? 1 : range < 100 ? 10 : 50; }

std::vector<AxisTick> xAxisTicksMeasured(const CurveViewModel& model, const LabelMeasure& measure) {
  std::vector<AxisTick> ticks;
  const int range = visibleRange(model.viewWidth() - kGraphOriginX, model.scaleX());
  const int step = axisStep(range);
  double lastEnd = -std::numeric_limits<double>::infinity();
  for (int v = step; v <= range; v += step) {
    double x = v, y = 0;
    model.viewScale().apply(x, y);
    const LabelSize size = measure(std::to_string(v));
    AxisTick t{v, x, false, x - size.width / 2, size.width, size.height};
    if (t.labelStart > lastEnd + 25) {
      t.labelled = true;
      lastEnd = t.labelStart + size.width;
    }
    ticks.push_back(t);
  }
  return ticks;
}

std::vector<AxisTick> yAxisTicksMeasured(const CurveViewModel& model, const LabelMeasure& measure) {
  std::vector<AxisTick> ticks;
  const int range = visibleRange(model.viewHeight() - kGraphOriginY, model.scaleY());
  const int step = axisStep(range);
  double lastTop = -std::numeric_limits<double>::infinity();
  for (int v = step; v <= range; v += step) {
    double x = 0, y = v;
    model.viewScale().apply(x, y);
    const LabelSize size = measure(std::to_string(v));
    AxisTick t{v, y, false, y - size.height / 2, size.width, size.height};
    if (t.labelStart > lastTop + 2) {
      t.labelled = true;
      lastTop = t.labelStart + size.height;
    }
    ticks.push_back(t);
  }
  return ticks;
}

}  // namespace vl
