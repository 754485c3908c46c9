// SvgSurface: the graph's drawing commands written as an SVG document (the command line's
// plots and pictures for people to look at), and RecordingSurface, which keeps the commands
// as data for tests and benchmarks.
#pragma once

#include <string>
#include <vector>

#include "pane/graph/drawing.h"

namespace vl {

class SvgSurface : public DrawingSurface {
 public:
  // A picture of a view of width × height points, with topStrip points above the view and
  // rightMargin points right of it for what is drawn there (captions, legends).
  SvgSurface(double width, double height, double topStrip = 0, double rightMargin = 0);

  void frameRect(const DrawRect& rect, const Rgba& colour, double lineWidth) override;
  void fillRect(const DrawRect& rect, const Rgba& colour) override;
  void strokePath(const CurvePath& path, const Rgba& colour, double lineWidth) override;
  TextSize measureText(const std::string& text) override;
  void drawText(const std::string& text, double x, double y, const Rgba& colour) override;
  void pushClip(const DrawRect& rect) override;
  void popClip() override;

  // The whole document (clips still open are closed).
  std::string document() const;

  static constexpr double kFontSize = 10;
  static constexpr double kCharWidth = 5.6;  // an average glyph of the font at that size
  static constexpr double kLineHeight = 12;

 private:
  double y(double viewY) const { return top_ + height_ - viewY; }
  double width_, height_, top_, right_;
  std::string body_;
  int openClips_ = 0;
  int nextClip_ = 1;
};

// One drawing command as issued.
struct DrawCommand {
  enum class Kind { FrameRect, FillRect, StrokePath, Text, PushClip, PopClip };
  Kind kind = Kind::FillRect;
  DrawRect rect;               // rectangles and clips
  Rgba colour;
  double lineWidth = 0;
  const CurvePath* path = nullptr;  // the path stroked (valid while the view is unchanged)
  std::string text;
  double x = 0, y = 0;         // text origin
};

class RecordingSurface : public DrawingSurface {
 public:
  void frameRect(const DrawRect& rect, const Rgba& colour, double lineWidth) override;
  void fillRect(const DrawRect& rect, const Rgba& colour) override;
  void strokePath(const CurvePath& path, const Rgba& colour, double lineWidth) override;
  // Labels are 6 points per character and 12 high.
  TextSize measureText(const std::string& text) override;
  void drawText(const std::string& text, double x, double y, const Rgba& colour) override;
  void pushClip(const DrawRect& rect) override;
  void popClip() override;

  std::vector<DrawCommand> commands;
};

}  // namespace vl
