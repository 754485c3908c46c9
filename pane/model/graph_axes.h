// Tick marks and label places of the curve graph's axes, with the spacing rules that keep
// labels from running into each other.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "pane/model/curve_view_model.h"

namespace vl {

struct AxisTick {
  int value = 0;          // data units
  double position = 0;    // view points along the axis
  bool labelled = false;  // whether its "%d" label is drawn
  double labelStart = 0;  // x of the label's left edge (x axis) or bottom edge (y axis)
  double labelWidth = 0, labelHeight = 0;
};

// Label sizes in view points: a function giving a label's width and height.
struct LabelSize {
  double width = 0, height = 0;
};
using LabelMeasure = std::function<LabelSize(const std::string& text)>;

// Fixed label sizes: a label is as wide as its digits.
struct LabelMetrics {
  double digitWidth = 6;
  double height = 12;
};
LabelMeasure measureByDigits(const LabelMetrics& metrics);

// 1 below 10, 10 below 100, else 50.
int axisStep(int range);

// Ticks along the bottom edge: one per step up to the visible device-speed range; a label
// (centred on its tick) is drawn only when it starts more than 25 points right of the last
// drawn label's end.
std::vector<AxisTick> xAxisTicksMeasured(const CurveViewModel& model, const LabelMeasure& measure);
// Ticks along the left edge; a label (centred on its tick) is drawn only when it starts more
// than 2 points above the last drawn label's top.
std::vector<AxisTick> yAxisTicksMeasured(const CurveViewModel& model, const LabelMeasure& measure);

inline std::vector<AxisTick> xAxisTicks(const CurveViewModel& model, const LabelMetrics& metrics) {
  return xAxisTicksMeasured(model, measureByDigits(metrics));
}
inline std::vector<AxisTick> yAxisTicks(const CurveViewModel& model, const LabelMetrics& metrics) {
  return yAxisTicksMeasured(model, measureByDigits(metrics));
}

}  // namespace vl
