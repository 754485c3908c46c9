// What the desktop the pane runs on cannot do for cursor snapping, and how the Applications
// tab and the accessibility warning say so; decided here, below the toolkit.
#pragma once

#include <optional>
#include <string>

#include "pane/windows/ax_warning.h"

namespace vl {

// Told by the process that built the pane's ports; both empty on the simulated Mac.
struct DesktopLimits {
  // Non-empty where no program may move the pointer (a Wayland session, no display): the one
  // message the Applications tab shows, with the snapping controls disabled.
  std::string snappingOff;
  // Non-empty where the desktop has no per-program accessibility permission, only a switch for
  // its accessibility bus: how to turn that switch on.
  std::string accessibilityHint;
};

struct AppsTabState {
  bool snappingControlsEnabled = true;
  // The accessibility warning is offered (it is disabled with the others when snapping is off).
  bool warningVisible = false;
  // Shown above the controls; empty: no message.
  std::string message;
};

// agentAXEnabled: the snapping agent published that it may read other programs' windows.
AppsTabState appsTabState(const DesktopLimits& limits, bool agentAXEnabled);

inline constexpr const char* kAccessibilityOffMessage = "Cursor snapping cannot read dialogs on this desktop.";
inline constexpr const char* kAgentNotReadingMessage = "Velmora Manager has not reported that it can read dialogs.";
inline constexpr const char* kAgentNotReadingInformative =
    "The desktop's accessibility bus is on. Velmora Manager may not be running yet; it reports again when it "
    "starts.";

// The accessibility warning sheet's texts on a desktop without per-program permissions:
// nullopt where the desktop keeps per-program permissions (no hint) or its accessibility is on.
std::optional<AXWarningTexts> desktopAXWarningTexts(const DesktopLimits& limits, bool accessibilityOn);
// The Applications tab's warning alert there (always texts, the button asks for them); nullopt
// where the desktop keeps per-program permissions.
std::optional<AXWarningTexts> desktopSnappingWarningTexts(const DesktopLimits& limits, bool accessibilityOn);

}  // namespace vl
