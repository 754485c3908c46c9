// Cursor jumps and glides through the Cursor and Sleeper ports.
#include "agent/snapping/cursor_motion.h"

#include <cmath>
#include <limits>
#include <optional>

#include "core/errors/error_stack.h"
#include "platform/api/cursor.h"
#include "platform/api/sleeper.h"

namespace vl {

namespace {

int glideDistance(Point from, Point to) {
  double dx = std::trunc(to.x - from.x), dy = std::trunc(to.y - from.y);
  return static_cast<int>(std::sqrt(dx * dx + dy * dy));
}

}  // namespace

int glideStepLimit(Point from, Point to) { return glideDistance(from, to) / 70 + 10; }

int32_t QS846postMouseMovedEvent(Cursor* cursor, Point at) {
  if (!cursor) return 8460096;
  // Made for each post: an event kept across calls would tie this function to one cursor port.
  std::optional<MouseEvent> event = cursor->createMouseEvent(kCGEventMouseMoved, at, kCGMouseButtonLeft);
  if (!event) return 8460096;
  event->flags = cursor->hidModifierFlags();
  event->location = at;
  // The latest possible time stamp, so that nothing queued is taken as newer.
  event->timestamp = std::numeric_limits<uint64_t>::max();
  cursor->postEvent(kCGSessionEventTap, *event);
  return 0;
}

int32_t QS846moveCursor(Cursor* cursor, Sleeper* sleeperPort, ErrorStack& errors, bool jump, Point from, Point to) {
  if (!cursor) return 8460073;
  ThreadSleeper fallback;
  Sleeper& sleeper = sleeperPort ? *sleeperPort : fallback;
  if (!jump) {
    int n = glideDistance(from, to) / 70 + 11;
    Point current = from;
    int mismatches = 0;
    do {
      --n;
      double sx = std::trunc((to.x - current.x) / n), sy = std::trunc((to.y - current.y) / n);
      if (sx == 0 && sy == 0) break;
      current.x += sx;
      current.y += sy;
      // A step that does not land shows up below: the cursor's real position differs from
      // the step's, which ends the glide as when the user moves it.
      (void)cursor->warpMouseCursorPosition(current);
      sleeper.sleep(kGlideStepSeconds);
      // The user took the mouse: leave the cursor to them.
      if (cursor->currentButtonState() != 0) return 0;
      Point real = cursor->location();
      if (std::trunc(real.x) != std::trunc(current.x) || std::trunc(real.y) != std::trunc(current.y)) {
        if (++mismatches == kGlideMismatchLimit) return 0;
      }
    } while (n > 1);
  }
  if (int32_t err = cursor->warpMouseCursorPosition(to)) {
    QS810stackError(errors, nullptr, err);
    return 8460073;
  }
  if (int32_t err = QS846postMouseMovedEvent(cursor, to)) {
    QS810stackError(errors, nullptr, err);
    return 8460076;
  }
  return 0;
}

}  // namespace vl
