// The curve graph as a standalone SVG picture: a caption and a legend above the graph as the
// settings window draws it (frame, ticks, labels, the favourites' curves in their colours).
#pragma once

#include <array>
#include <string>

#include "pane/model/curve_view_model.h"

namespace vl {

struct GraphSvgText {
  std::string caption;                         // one line above the plot
  std::array<std::string, kCurveRows> legend;  // per row; empty rows get no legend entry
};

std::string renderGraphSvg(const CurveViewModel& model, const GraphSvgText& text);

}  // namespace vl
