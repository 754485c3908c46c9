// CursorCurve: the cursor movement the fixed-point acceleration model gives one speed setting
// (resolution, tracking speed or acceleration off), and the constant gain that approximates it
// on desktops that offer only a flat per-device speed.
#pragma once

#include <cstdint>

#include "core/plist/value.h"
#include "pane/curves/acceleration_state.h"
#include "platform/api/status.h"
#include "platform/linux/mapped_pointer_writer.h"

namespace vl::inputd {

class CursorCurve {
 public:
  // curves: the parametric curve list (the default list when null). acceleration < 0 (off),
  // and 0, which the model does not accelerate, give the model's linear part: the lowest
  // curve's 96 ÷ resolution. Refuses a resolution outside 10 … 2000, an acceleration above 20
  // and NaN.
  static Result<CursorCurve> create(const pl::Value* curves, double resolution, double acceleration);

  // The 16.16 multiplier for a frame whose motion is `counts` whole counts long.
  IOFixed64 multiplier(uint64_t counts) const;
  // One axis of a frame: delta × multiplier in 16.16, clamped to 32 bits as the model does.
  static int64_t scaled(IOFixed64 multiplier, int32_t delta);
  // The model's cursor movement in 16.16 for a one-axis delta of `counts` counts.
  int64_t cursorFixed(int32_t counts) const;

  double resolution() const { return resolution_; }
  double acceleration() const { return acceleration_; }

 private:
  CursorCurve() = default;
  PAParams params_{};
  bool linear_ = false;
  IOFixed64 linearMultiplier_{};
  double resolution_ = 0, acceleration_ = 0;
};

// The constant gain (pixels per count) closest to the model's curve over device speeds 1 …
// 200 counts per frame, in relative terms (least squares of the relative difference). With
// acceleration off the model is linear and the gain is exact.
linux_input::DesktopSpeed flatSpeedFor(double resolution, double acceleration);

}  // namespace vl::inputd
