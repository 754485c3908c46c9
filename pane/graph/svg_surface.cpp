// SVG and recording surfaces for the graph's drawing commands.
#include "pane/graph/svg_surface.h"

#include <cmath>

#include "core/plist/number_text.h"

namespace vl {

namespace {

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
  auto comp = [](double v) {
    return std::to_string(static_cast<int>(std::lround(std::fmax(0, std::fmin(1, std::isfinite(v) ? v : 0)) * 255)));
  };
  return "rgb(" + comp(c.r) + "," + comp(c.g) + "," + comp(c.b) + ")";
}

// " stroke=... [stroke-opacity=...]" or the fill form.
std::string paint(const char* what, const Rgba& c) {
  std::string out = std::string(" ") + what + "=\"" + rgb(c) + "\"";
  if (c.a < 1) out += std::string(" ") + what + "-opacity=\"" + num(std::fmax(0, c.a)) + "\"";
  return out;
}

// Characters, not bytes: a label in another script is as wide as its glyphs.
size_t glyphCount(const std::string& s) {
  size_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

}  // namespace

SvgSurface::SvgSurface(double width, double height, double topStrip, double rightMargin)
    : width_(width), height_(height), top_(topStrip), right_(rightMargin) {}

void SvgSurface::frameRect(const DrawRect& r, const Rgba& colour, double lw) {
  if (colour.a <= 0 || lw <= 0) return;
  // A band this thick covers the whole rectangle.
  if (r.width <= 2 * lw || r.height <= 2 * lw) {
    fillRect(r, colour);
    return;
  }
  // A stroke centred half a band inside the edges covers exactly the band.
  body_ += "  <rect x=\"" + num(r.x + lw / 2) + "\" y=\"" + num(y(r.y + r.height) + lw / 2) + "\" width=\"" +
           num(r.width - lw) + "\" height=\"" + num(r.height - lw) + "\" fill=\"none\"" + paint("stroke", colour) +
           " stroke-width=\"" + num(lw) + "\"/>\n";
}

void SvgSurface::fillRect(const DrawRect& r, const Rgba& colour) {
  if (colour.a <= 0) return;
  body_ += "  <rect x=\"" + num(r.x) + "\" y=\"" + num(y(r.y + r.height)) + "\" width=\"" + num(r.width) +
           "\" height=\"" + num(r.height) + "\"" + paint("fill", colour) + "/>\n";
}

void SvgSurface::strokePath(const CurvePath& path, const Rgba& colour, double lw) {
  if (path.elementCount() < 2 || colour.a <= 0) return;
  std::string d;
  for (const PathElement& e : path.elements()) {
    d += e.op == PathOp::MoveTo ? "M" : "L";
    d += num(e.x) + " " + num(y(e.y)) + " ";
  }
  d.pop_back();
  body_ += "  <path d=\"" + d + "\"" + paint("stroke", colour) + " stroke-width=\"" + num(lw) +
           "\" fill=\"none\" stroke-linejoin=\"round\" stroke-linecap=\"round\"/>\n";
}

TextSize SvgSurface::measureText(const std::string& text) {
  return {static_cast<double>(glyphCount(text)) * kCharWidth, kLineHeight};
}

void SvgSurface::drawText(const std::string& text, double x, double viewY, const Rgba& colour) {
  // The baseline sits a descent above the box's bottom.
  body_ += "  <text x=\"" + num(x) + "\" y=\"" + num(y(viewY) - 3) + "\"" + paint("fill", colour) + ">" + escape(text) +
           "</text>\n";
}

void SvgSurface::pushClip(const DrawRect& r) {
  const std::string id = "clip" + std::to_string(nextClip_++);
  body_ += "  <clipPath id=\"" + id + "\"><rect x=\"" + num(r.x) + "\" y=\"" + num(y(r.y + r.height)) + "\" width=\"" +
           num(r.width) + "\" height=\"" + num(r.height) + "\"/></clipPath>\n";
  body_ += "  <g clip-path=\"url(#" + id + ")\">\n";
  ++openClips_;
}

void SvgSurface::popClip() {
  if (openClips_ == 0) return;
  body_ += "  </g>\n";
  --openClips_;
}

std::string SvgSurface::document() const {
  const double w = width_ + right_, h = height_ + top_;
  std::string out = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + num(w) + "\" height=\"" + num(h) +
                    "\" viewBox=\"0 0 " + num(w) + " " + num(h) +
                    "\" font-family=\"Helvetica, Arial, sans-serif\" font-size=\"" + num(kFontSize) + "\">\n";
  out += "  <rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  out += body_;
  for (int i = 0; i < openClips_; ++i) out += "  </g>\n";
  out += "</svg>\n";
  return out;
}

void RecordingSurface::frameRect(const DrawRect& rect, const Rgba& colour, double lineWidth) {
  DrawCommand c;
  c.kind = DrawCommand::Kind::FrameRect;
  c.rect = rect;
  c.colour = colour;
  c.lineWidth = lineWidth;
  commands.push_back(std::move(c));
}

void RecordingSurface::fillRect(const DrawRect& rect, const Rgba& colour) {
  DrawCommand c;
  c.kind = DrawCommand::Kind::FillRect;
  c.rect = rect;
  c.colour = colour;
  commands.push_back(std::move(c));
}

void RecordingSurface::strokePath(const CurvePath& path, const Rgba& colour, double lineWidth) {
  DrawCommand c;
  c.kind = DrawCommand::Kind::StrokePath;
  c.path = &path;
  c.colour = colour;
  c.lineWidth = lineWidth;
  commands.push_back(std::move(c));
}

TextSize RecordingSurface::measureText(const std::string& text) {
  return {static_cast<double>(glyphCount(text)) * 6, 12};
}

void RecordingSurface::drawText(const std::string& text, double x, double y, const Rgba& colour) {
  DrawCommand c;
  c.kind = DrawCommand::Kind::Text;
  c.text = text;
  c.x = x;
  c.y = y;
  c.colour = colour;
  commands.push_back(std::move(c));
}

void RecordingSurface::pushClip(const DrawRect& rect) {
  DrawCommand c;
  c.kind = DrawCommand::Kind::PushClip;
  c.rect = rect;
  commands.push_back(std::move(c));
}

void RecordingSurface::popClip() {
  DrawCommand c;
  c.kind = DrawCommand::Kind::PopClip;
  commands.push_back(std::move(c));
}

}  // namespace vl
