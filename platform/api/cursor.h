// Cursor port: the mouse cursor and buttons as the event system reports them (position,
// button state, modifier flags), warping the cursor, posting mouse events, and how long
// local input is suppressed after a posted move.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/api/geometry.h"

namespace vl {

inline constexpr uint64_t kCGEventFlagMaskShift = 1ull << 17;
inline constexpr int kCGEventMouseMoved = 5;
inline constexpr int kCGMouseButtonLeft = 0;
inline constexpr int kCGSessionEventTap = 1;
inline constexpr int32_t kCGErrorSuccess = 0;
inline constexpr int32_t kCGErrorFailure = 1000;

// A mouse event as CGEventCreateMouseEvent makes it and the caller then adjusts.
struct MouseEvent {
  int type = kCGEventMouseMoved;
  int button = kCGMouseButtonLeft;
  uint64_t flags = 0;
  Point location;
  uint64_t timestamp = 0;
};

class Cursor {
 public:
  virtual ~Cursor() = default;
  // CGWarpMouseCursorPosition (top-left global coordinates); a CGError.
  [[nodiscard]] virtual int32_t warpMouseCursorPosition(Point p) = 0;
  // The cursor's global position (top-left origin), as an event created now reports it.
  virtual Point location() const = 0;
  // GetCurrentButtonState: one bit per button held, 0 when none.
  virtual uint32_t currentButtonState() const = 0;
  // CGEventSourceFlagsState of the HID system state: the modifier keys held.
  virtual uint64_t hidModifierFlags() const = 0;
  // CGEventCreateMouseEvent; nullopt when no event can be made.
  virtual std::optional<MouseEvent> createMouseEvent(int type, Point location, int button) = 0;
  // CGEventPost at a tap.
  virtual void postEvent(int tap, const MouseEvent& event) = 0;
  // CGEventSourceSetLocalEventsSuppressionInterval for the combined event source.
  virtual void setLocalEventsSuppressionInterval(double seconds) = 0;
};

}  // namespace vl
