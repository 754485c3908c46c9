// Text from outside the agent (command names, transports) as it goes into the agent's log:
// cut to a bounded length, with the cut counted, and control characters shown as escapes, so
// that a sender can neither fill the log nor forge lines in it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vl {

inline constexpr size_t kLogTextLimit = 200;
// A transport shares its line with numbers that must not be pushed out of it.
inline constexpr size_t kLogTransportLimit = 64;
// A whole log line, outside texts included: the last bound before a line is written.
inline constexpr size_t kLogLineLimit = 1000;

// At most limit bytes of text (never splitting a UTF-8 sequence), followed by
// "… (N more bytes)" when something was cut.
std::string textForLog(std::string_view text, size_t limit = kLogTextLimit);

}  // namespace vl
