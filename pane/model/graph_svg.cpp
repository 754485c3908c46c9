// SVG rendering of the curve graph.
#include "pane/model/graph_svg.h"

#include <cmath>

#include "core/plist/number_text.h"
#include "pane/model/graph_axes.h"

namespace vl {

namespace {
constexpr double kTopStrip = 42;   // caption and legend above the plot
constexpr double kRightMargin = 14;
constexpr double kFontSize = 10;
const LabelMetrics kMetrics{5.6, 12};

std::string num(double v) {
  if (!std::isfinite(v)) v = 0;
  std::string s = pl::formatFixed(v, 2);
  while (!s.empty() && s.back() == '0') s.pop_back();
  if (!s.empty() && s.back() == '.') s.pop_back();
  return s == "-0" ? "0" : s;
}

std::string escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string rgb(const Rgba& c) {
  auto comp = [](double v) { return std::to_string(static_cast<int>(std::lround(std::fmax(0, std::fmin(1, v)) * 255))); };
  return "rgb(" + comp(c.r) + "," + comp(c.g) + "," + comp(c.b) + ")";
}

struct Canvas {
  double height;  // of the view; the SVG's y runs downwards from the top strip
  double y(double viewY) const { return kTopStrip + height - viewY; }
};

void curve(std::string& out, const Canvas& cv, const CurvePath& path, const Rgba& colour) {
  if (path.elementCount() < 2 || colour.a <= 0) return;
  std::string d;
  for (const PathElement& e : path.elements()) {
    d += e.op == PathOp::MoveTo ? "M" : "L";
    d += num(e.x) + " " + num(cv.y(e.y)) + " ";
  }
  d.pop_back();
  out += "    <path d=\"" + d + "\" stroke=\"" + rgb(colour) + "\"";
  if (colour.a < 1) out += " stroke-opacity=\"" + num(colour.a) + "\"";
  out += " stroke-width=\"" + num(path.lineWidth()) + "\"/>\n";
}
}  // namespace

std::string renderGraphSvg(const CurveViewModel& model, const GraphSvgText& text) {
  const Canvas cv{model.viewHeight()};
  const double width = model.viewWidth() + kRightMargin;
  const double height = model.viewHeight() + kTopStrip;
  const double plotTop = cv.y(kGraphOriginY + kGraphPlotHeight);
  std::string out;
  out += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + num(width) + "\" height=\"" + num(height) +
         "\" viewBox=\"0 0 " + num(width) + " " + num(height) + "\" font-family=\"Helvetica, Arial, sans-serif\" font-size=\"" +
         num(kFontSize) + "\">\n";
  out += "  <rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  if (!text.caption.empty())
    out += "  <text x=\"" + num(kGraphOriginX) + "\" y=\"12\" fill=\"#333\">" + escape(text.caption) + "</text>\n";

  // Legend: a short line in each row's colour, then its text.
  double lx = kGraphOriginX;
  for (size_t i = 0; i < kCurveRows; ++i) {
    if (text.legend[i].empty()) continue;
    Rgba c = model.presetCurveColor(i);
    c.a = 1;
    out += "  <line x1=\"" + num(lx) + "\" y1=\"27\" x2=\"" + num(lx + 14) + "\" y2=\"27\" stroke=\"" + rgb(c) +
           "\" stroke-width=\"3\"/>\n";
    out += "  <text x=\"" + num(lx + 18) + "\" y=\"30\" fill=\"#333\">" + escape(text.legend[i]) + "</text>\n";
    lx += 22 + kMetrics.digitWidth * static_cast<double>(text.legend[i].size()) + 14;
  }

  // Frame, ticks and labels in dark grey.
  out += "  <g fill=\"#404040\" stroke=\"none\">\n";
  out += "    <rect x=\"" + num(kGraphOriginX - 0.5) + "\" y=\"" + num(plotTop - 0.5) + "\" width=\"" +
         num(kGraphPlotWidth + 1) + "\" height=\"" + num(kGraphPlotHeight + 1) +
         "\" fill=\"none\" stroke=\"#404040\" stroke-width=\"1\"/>\n";
  for (const AxisTick& t : xAxisTicks(model, kMetrics)) {
    out += "    <rect x=\"" + num(t.position) + "\" y=\"" + num(cv.y(18)) + "\" width=\"1\" height=\"3\"/>\n";
    if (t.labelled)
      out += "    <text x=\"" + num(t.position) + "\" y=\"" + num(cv.y(15 - kMetrics.height) - 2) +
             "\" text-anchor=\"middle\">" + std::to_string(t.value) + "</text>\n";
  }
  for (const AxisTick& t : yAxisTicks(model, kMetrics)) {
    out += "    <rect x=\"23\" y=\"" + num(cv.y(t.position) - 1) + "\" width=\"3\" height=\"1\"/>\n";
    if (t.labelled)
      out += "    <text x=\"22\" y=\"" + num(cv.y(t.position) + 3.5) + "\" text-anchor=\"end\">" +
             std::to_string(t.value) + "</text>\n";
  }
  out += "  </g>\n";

  // Curves, clipped to the plot area inset by one point; the focused one last.
  out += "  <clipPath id=\"plot\"><rect x=\"" + num(kGraphOriginX + 1) + "\" y=\"" + num(plotTop + 1) + "\" width=\"" +
         num(kGraphPlotWidth - 2) + "\" height=\"" + num(kGraphPlotHeight - 2) + "\"/></clipPath>\n";
  out += "  <g clip-path=\"url(#plot)\" fill=\"none\" stroke-linejoin=\"round\" stroke-linecap=\"round\">\n";
  const size_t focused = model.cursorSpeedIndex();
  for (size_t i = 0; i < kCurveRows; ++i)
    if (i != focused && model.curveVisible(i)) curve(out, cv, model.presetCurve(i), model.presetCurveColor(i));
  if (focused < kCurveRows) curve(out, cv, model.presetCurve(focused), model.presetCurveColor(focused));
  out += "  </g>\n";
  out += "</svg>\n";
  return out;
}

}  // namespace vl
