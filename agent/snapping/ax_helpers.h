// Accessibility helpers: the focused application and window, element centres and
// rectangles, a named control's usable centre and whether a point is on a screen. The
// published accessibility flag, which the pane reads too, is in core/system/ax_flag.h.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/system/ax_flag.h"
#include "platform/api/accessibility.h"
#include "platform/api/desktop.h"
#include "platform/api/screens.h"

namespace vl {

// The focused application (system-wide, else the frontmost application's process) and its
// focused window; either out pointer may be null. Returns 0 when a window was found, else the
// accessibility error of the read that failed. The desktop gives the frontmost application.
[[nodiscard]] int32_t QS842copyFocusedElement(Accessibility* ax, Desktop* desktop, AXElementRef* outApp, AXElementRef* outWindow);
// The element's centre (its position when it has no readable size).
[[nodiscard]] int32_t QS842elementPosition(Accessibility* ax, const AXElementRef& element, Point* out);
[[nodiscard]] int32_t QS842elementRect(Accessibility* ax, const AXElementRef& element, Rect* out);
// The centre of the control the window's attribute names, if it is enabled, uncovered, inside
// the window and on one of the screens.
[[nodiscard]] int32_t QS842elementAttrPosition(Accessibility* ax, Screens* screens, ErrorStack& errors, const AXElementRef& window,
                                               std::string_view attribute, Point* out);
// Whether a global top-left point lies on any screen.
bool QS842withinScreen(Screens* screens, double x, double y);

// Attribute reads through the Accessibility port; a missing port or
// element reads as kAXErrorFailure / kAXErrorIllegalArgument.
[[nodiscard]] int32_t axCopy(Accessibility* ax, const AXElementRef& element, std::string_view attribute, AXValue* out);
[[nodiscard]] int32_t axString(Accessibility* ax, const AXElementRef& element, std::string_view attribute, std::string* out);
[[nodiscard]] int32_t axBool(Accessibility* ax, const AXElementRef& element, std::string_view attribute, bool* out);
[[nodiscard]] int32_t axElement(Accessibility* ax, const AXElementRef& element, std::string_view attribute, AXElementRef* out);

}  // namespace vl
