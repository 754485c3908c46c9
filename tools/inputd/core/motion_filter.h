// MotionFilter: the exact cursor curve on any desktop. Evdev frames in (REL_X/REL_Y and
// whatever else the device reports, closed by SYN_REPORT), frames out with the motion scaled
// by the acceleration model, sub-pixel remainders carried from frame to frame. Pure: no
// device, no clock; the events' own timestamps travel through unchanged.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/inputd/core/cursor_curve.h"

namespace vl::inputd {

// The fields of the kernel's input_event the filter reads and writes.
struct InputEvent {
  int64_t timeUsec = 0;
  uint16_t type = 0;
  uint16_t code = 0;
  int32_t value = 0;
  bool operator==(const InputEvent&) const = default;
};

// Event types and codes (the kernel's numbers).
inline constexpr uint16_t kEvSyn = 0x00, kEvKey = 0x01, kEvRel = 0x02;
inline constexpr uint16_t kSynReport = 0, kSynDropped = 3;
inline constexpr uint16_t kRelX = 0x00, kRelY = 0x01;

class MotionFilter {
 public:
  explicit MotionFilter(CursorCurve curve) : curve_(std::move(curve)) {}

  // Takes one event; appends what is to be emitted (a whole frame at its SYN_REPORT).
  void feed(const InputEvent& e, std::vector<InputEvent>& out);
  // A new speed; the remainders stay (they are pixels already owed to the cursor).
  void setCurve(CursorCurve curve) { curve_ = std::move(curve); }
  const CursorCurve& curve() const { return curve_; }

  // The sub-pixel parts not yet emitted, 16.16, each of magnitude below 1.0.
  int64_t remainderX() const { return remX_; }
  int64_t remainderY() const { return remY_; }

 private:
  CursorCurve curve_;
  std::vector<InputEvent> pending_;  // the frame's other events, in order
  int32_t dx_ = 0, dy_ = 0;
  bool dropping_ = false;
  int64_t remX_ = 0, remY_ = 0;
};

}  // namespace vl::inputd
