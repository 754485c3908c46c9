// The curve graph as a standalone SVG picture: frame, ticks, labels and the favourites'
// curves in their colours, laid out as the settings window draws them.
#pragma once

#include <array>
#include <string>

#include "pane/model/curve_view_model.h"

namespace vl {

struct GraphSvgText {
  std::string caption;                       // one line above the plot
  std::array<std::string, kCurveRows> legend;  // per row; empty rows get no legend entry
};

// Draws the visible rows' curves and then the focused one (even when hidden), as the graph
// does; rows with a clear colour or an empty path are left out.
std::string renderGraphSvg(const CurveViewModel& model, const GraphSvgText& text);

}  // namespace vl
