// Screens port: the displays' frames in global coordinates (origin at the bottom left of the
// main screen, y up, as the platform's screens report them) and display-change events.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace vl {

struct Rect {
  double x = 0, y = 0, width = 0, height = 0;
  bool operator==(const Rect&) const = default;
};

class Screens {
 public:
  using Token = uint64_t;
  virtual ~Screens() = default;
  // The main screen first.
  virtual std::vector<Rect> frames() const = 0;
  // applicationDidChangeScreenParameters: the arrangement or a resolution changed.
  virtual Token observeChanges(std::function<void()> fn) = 0;
  virtual void unobserve(Token t) = 0;
};

}  // namespace vl
