// The Applications tab's state and the accessibility warning's texts for the running desktop.
#include "pane/windows/desktop_limits.h"

namespace vl {

AppsTabState appsTabState(const DesktopLimits& limits, bool agentAXEnabled) {
  AppsTabState s;
  s.warningVisible = !agentAXEnabled;
  if (!limits.snappingOff.empty()) {
    // Rules still edited here would do nothing in this session: say so once, plainly.
    s.snappingControlsEnabled = false;
    s.message = limits.snappingOff;
  }
  return s;
}

std::optional<AXWarningTexts> desktopAXWarningTexts(const DesktopLimits& limits, bool accessibilityOn) {
  if (limits.accessibilityHint.empty() || accessibilityOn) return std::nullopt;
  return AXWarningTexts{kAccessibilityOffMessage, limits.accessibilityHint};
}

std::optional<AXWarningTexts> desktopSnappingWarningTexts(const DesktopLimits& limits, bool accessibilityOn) {
  if (limits.accessibilityHint.empty()) return std::nullopt;
  if (!accessibilityOn) return AXWarningTexts{kAccessibilityOffMessage, limits.accessibilityHint};
  return AXWarningTexts{kAgentNotReadingMessage, kAgentNotReadingInformative};
}

}  // namespace vl
