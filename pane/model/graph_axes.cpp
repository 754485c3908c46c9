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
double labelWidth(int value, const LabelMetrics& m) {
  return static_cast<double>(std::to_string(value).size()) * m.digitWidth;
}
}  // namespace

int axisStep(int range) { return range < 10 ? 1 : range < 100 ? 10 : 50; }

std::vector<AxisTick> xAxisTicks(const CurveViewModel& model, const LabelMetrics& metrics) {
  std::vector<AxisTick> ticks;
  const int range = visibleRange(model.viewWidth() - kGraphOriginX, model.scaleX());
  const int step = axisStep(range);
  double lastEnd = -std::numeric_limits<double>::infinity();
  for (int v = step; v <= range; v += step) {
    double x = v, y = 0;
    model.viewScale().apply(x, y);
    AxisTick t{v, x, false, x - labelWidth(v, metrics) / 2};
    if (t.labelStart > lastEnd + 25) {
      t.labelled = true;
      lastEnd = t.labelStart + labelWidth(v, metrics);
    }
    ticks.push_back(t);
  }
  return ticks;
}

std::vector<AxisTick> yAxisTicks(const CurveViewModel& model, const LabelMetrics& metrics) {
  std::vector<AxisTick> ticks;
  const int range = visibleRange(model.viewHeight() - kGraphOriginY, model.scaleY());
  const int step = axisStep(range);
  double lastTop = -std::numeric_limits<double>::infinity();
  for (int v = step; v <= range; v += step) {
    double x = 0, y = v;
    model.viewScale().apply(x, y);
    AxisTick t{v, y, false, y - metrics.height / 2};
    if (t.labelStart > lastTop + 2) {
      t.labelled = true;
      lastTop = t.labelStart + metrics.height;
    }
    ticks.push_back(t);
  }
  return ticks;
}

}  // namespace vl
