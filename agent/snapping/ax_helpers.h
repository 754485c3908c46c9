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
#include "platform/api/platform.h"

namespace vl {

// The focused application (system-wide, else the frontmost application's process) and its
// focused window; either out pointer may be null. Returns 0 when a window was found, else the
// platform's accessibility error of the read that failed.
[[nodiscard]] int32_t QS842copyFocusedElement(const Platform& p, AXElementRef* outApp, AXElementRef* outWindow);
// The element's centre (its position when it has no readable size).
[[nodiscard]] int32_t QS842elementPosition(const Platform& p, const AXElementRef& element, Point* out);
[[nodiscard]] int32_t QS842elementRect(const Platform& p, const AXElementRef& element, Rect* out);
// The centre of the control the window's attribute names, if it is enabled, uncovered, inside
// the window and on a screen.
[[nodiscard]] int32_t QS842elementAttrPosition(const Platform& p, ErrorStack& errors, const AXElementRef& window, std::string_view attribute, Point* out);
// Whether a global top-left point lies on any screen.
bool QS842withinScreen(const Platform& p, double x, double y);

// Attribute reads through p's Accessibility port; a missing port or
// element reads as kAXErrorFailure / kAXErrorIllegalArgument.
[[nodiscard]] int32_t axCopy(const Platform& p, const AXElementRef& element, std::string_view attribute, AXValue* out);
[[nodiscard]] int32_t axString(const Platform& p, const AXElementRef& element, std::string_view attribute, std::string* out);
[[nodiscard]] int32_t axBool(const Platform& p, const AXElementRef& element, std::string_view attribute, bool* out);
[[nodiscard]] int32_t axElement(const Platform& p, const AXElementRef& element, std::string_view attribute, AXElementRef* out);

}  // namespace vl
