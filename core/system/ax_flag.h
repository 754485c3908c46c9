// The published accessibility flag: whether a process is trusted with the accessibility
// features, written by the agent and read by the pane and by the sibling product's agent.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/errors/error_stack.h"
#include "platform/api/accessibility.h"
#include "platform/api/desktop.h"
#include "platform/api/user_defaults.h"

namespace vl {

// The published flag's window widths and preference key.
inline constexpr double kAXEnabledWindowWidth = 777.0;
inline constexpr double kAXDisabledWindowWidth = 888.0;
inline constexpr const char* kAXEnabledPreferenceKey = "AXEnabled";

// The never-shown window that carries the flag: made on the first publication and kept by
// its owner (the snapping controller) for its life.
struct AXFlagWindow {
  uint32_t number = 0;
};

// Publishes whether this process is trusted (asked of ax): the width of a never-shown window
// on desktop and the preference key "AXEnabled" in the bundle identifier's domain of defaults.
[[nodiscard]] int32_t QS842updateAXEnabled(Accessibility* ax, Desktop* desktop, UserDefaults* defaults, ErrorStack& errors,
                                           AXFlagWindow& window, const std::string& bundleID);
// What the process with this bundle identifier published: its window, else its preference.
bool QS842getAXEnabled(Desktop* desktop, UserDefaults* defaults, const std::string& bundleID);
std::optional<bool> QS842getAXEnabledFromWindow(Desktop* desktop, const std::string& bundleID);
bool QS842getAXEnabledFromPlist(UserDefaults* defaults, const std::string& bundleID);

}  // namespace vl
