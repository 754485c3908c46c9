// Moving the cursor: an instant jump or a short glide in 13-millisecond steps that gives way
// to the user's own mouse, each ending with a posted mouse-moved event at the target.
#pragma once

#include <cstdint>

#include "core/errors/error_stack.h"
#include "platform/api/geometry.h"
#include "platform/api/platform.h"

namespace vl {

inline constexpr double kGlideStepSeconds = 0.013;
inline constexpr int kGlideMismatchLimit = 5;

// Through p's Cursor and Sleeper ports. Global top-left coordinates. Returns 0 also when the user cut a glide short.
[[nodiscard]] int32_t QS846moveCursor(const Platform& p, ErrorStack& errors, bool jump, Point from, Point to);
[[nodiscard]] int32_t QS846postMouseMovedEvent(const Platform& p, Point at);

// The most steps a glide over this distance takes.
int glideStepLimit(Point from, Point to);

}  // namespace vl
