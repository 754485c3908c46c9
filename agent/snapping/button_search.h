// The default and cancel button search: walks a window's elements for titled, enabled push
// buttons and picks one by its title or, failing that, by its place in the bottom row.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/api/accessibility.h"
#include "platform/api/screens.h"

namespace vl {

inline constexpr int kButtonKindDefault = 0;
inline constexpr int kButtonKindCancel = 1;

// Button classes.
inline constexpr int32_t kButtonClassOK = 0;
inline constexpr int32_t kButtonClassCancel = 1;
inline constexpr int32_t kButtonClassOther = 2;

// One candidate.
struct ButtonInfo {
  double x = 0, y = 0;  // centre
  int32_t cls = kButtonClassOther;
  bool usable = false;  // enabled, on a screen and not covered
};

// The centre of the window's default (kind 0) or cancel (kind 1) button, read through the
// accessibility port and checked to lie on one of the screens. cancelTitle is the system's
// localised title of cancel buttons (QS812localizedCancelButtonTitle).
[[nodiscard]] int32_t QS844buttonPosition(Accessibility* ax, Screens* screens, const AXElementRef& window, int kind, Point* out,
                                          const std::string& cancelTitle);

// The depth-first walk; true when a button of the requested kind was found.
bool QS844collectBtnElementInfo(Accessibility* ax, Screens* screens, const AXElementRef& element, int depth, int kind, const Rect& windowRect,
                                const std::string& cancelTitle, std::vector<ButtonInfo>& list);
// Whether an element is a candidate button, and its record.
bool QS844btnElementInfo(Accessibility* ax, Screens* screens, const AXElementRef& element, const Rect& windowRect, const std::string& cancelTitle,
                         ButtonInfo* out);

// Equality of two texts ignoring case (Latin, Greek and Cyrillic letters folded).
bool equalsIgnoringCase(const std::string& a, const std::string& b);

// The candidates of the last search on this thread (diagnostics and tests).
const std::vector<ButtonInfo>& lastButtonCandidates();

}  // namespace vl
