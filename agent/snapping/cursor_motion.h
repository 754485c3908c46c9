// Moving the cursor: an instant jump or a short glide in 13-millisecond steps that gives way
// to the user's own mouse, each ending with a posted mouse-moved event at the target.
#pragma once

#include <cstdint>

#include "core/errors/error_stack.h"
#include "platform/api/geometry.h"
#include "platform/api/cursor.h"
#include "platform/api/sleeper.h"

namespace vl {

inline constexpr double kGlideStepSeconds = 0.013;
inline constexpr int kGlideMismatchLimit = 5;

// Global top-left coordinates. Returns 0 also when the user cut a glide short. The glide waits
// on sleeper (null: the calling thread sleeps).
[[nodiscard]] int32_t QS846moveCursor(Cursor* cursor, Sleeper* sleeper, ErrorStack& errors, bool jump, Point from, Point to);
[[nodiscard]] int32_t QS846postMouseMovedEvent(Cursor* cursor, Point at);

// The most steps a glide over this distance takes.
int glideStepLimit(Point from, Point to);

}  // namespace vl
