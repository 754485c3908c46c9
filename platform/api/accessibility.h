// Accessibility port: the user-interface elements of running applications as the platform's
// accessibility interface exposes them (attribute reads with the platform's error codes, hit
// testing, process ids) and whether this process is trusted to use it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/api/geometry.h"
#include "platform/api/status.h"

namespace vl {

// AXError values.
inline constexpr int32_t kAXErrorSuccess = 0;
inline constexpr int32_t kAXErrorFailure = -25200;
inline constexpr int32_t kAXErrorIllegalArgument = -25201;
inline constexpr int32_t kAXErrorInvalidUIElement = -25202;
inline constexpr int32_t kAXErrorCannotComplete = -25204;
inline constexpr int32_t kAXErrorAttributeUnsupported = -25205;
inline constexpr int32_t kAXErrorAPIDisabled = -25211;
inline constexpr int32_t kAXErrorNoValue = -25212;

// Attribute names and values this system reads.
inline constexpr const char* kAXRoleAttribute = "AXRole";
inline constexpr const char* kAXSubroleAttribute = "AXSubrole";
inline constexpr const char* kAXTitleAttribute = "AXTitle";
inline constexpr const char* kAXParentAttribute = "AXParent";
inline constexpr const char* kAXChildrenAttribute = "AXChildren";
inline constexpr const char* kAXPositionAttribute = "AXPosition";
inline constexpr const char* kAXSizeAttribute = "AXSize";
inline constexpr const char* kAXEnabledAttribute = "AXEnabled";
inline constexpr const char* kAXMinimizedAttribute = "AXMinimized";
inline constexpr const char* kAXHiddenAttribute = "AXHidden";
inline constexpr const char* kAXFocusedApplicationAttribute = "AXFocusedApplication";
inline constexpr const char* kAXFocusedWindowAttribute = "AXFocusedWindow";
inline constexpr const char* kAXWindowsAttribute = "AXWindows";
inline constexpr const char* kAXDefaultButtonAttribute = "AXDefaultButton";
inline constexpr const char* kAXCancelButtonAttribute = "AXCancelButton";
inline constexpr const char* kAXCloseButtonAttribute = "AXCloseButton";
inline constexpr const char* kAXMinimizeButtonAttribute = "AXMinimizeButton";
inline constexpr const char* kAXZoomButtonAttribute = "AXZoomButton";
inline constexpr const char* kAXButtonRole = "AXButton";
inline constexpr const char* kAXToolbarRole = "AXToolbar";
inline constexpr const char* kAXWindowRole = "AXWindow";
inline constexpr const char* kAXSheetRole = "AXSheet";
inline constexpr const char* kAXApplicationRole = "AXApplication";
inline constexpr const char* kAXStandardWindowSubrole = "AXStandardWindow";
inline constexpr const char* kAXDialogSubrole = "AXDialog";

// The distributed notification the system posts when the accessibility permission of any
// process changes.
inline constexpr const char* kAXApiChangedNotification = "com.apple.accessibility.api";

// One element as the platform hands it out. Copies of an AXElementRef share the one retained
// platform object; the last copy releases it.
class AXObject {
 public:
  virtual ~AXObject() = default;
  // CFEqual: whether both name the same user-interface element.
  virtual bool isEqual(const AXObject& other) const = 0;
};
using AXElementRef = std::shared_ptr<const AXObject>;

// Equality of two references as the platform decides it; two absent ones are equal.
inline bool axEqual(const AXElementRef& a, const AXElementRef& b) {
  if (a == b) return true;
  if (!a || !b) return false;
  return a->isEqual(*b);
}

// An attribute value: an element, an element list, text, a boolean, a number, a point
// (AXPosition) or a size (AXSize).
using AXValue = std::variant<std::monostate, AXElementRef, std::vector<AXElementRef>, std::string, bool, double, Point,
                             Size>;

class Accessibility {
 public:
  virtual ~Accessibility() = default;
  // AXUIElementCreateSystemWide. An adapter creates it once and returns the same object.
  virtual AXElementRef systemWideElement() = 0;
  // AXUIElementCreateApplication: always an element; reads fail when no such process runs.
  virtual AXElementRef createApplication(int32_t pid) = 0;
  // AXUIElementCopyAttributeValue; *out is untouched on failure.
  [[nodiscard]] virtual int32_t copyAttributeValue(const AXElementRef& element, std::string_view attribute, AXValue* out) = 0;
  // AXUIElementCopyElementAtPosition (top-left global coordinates, single precision as the
  // platform takes them).
  [[nodiscard]] virtual int32_t copyElementAtPosition(const AXElementRef& element, float x, float y, AXElementRef* out) = 0;
  // AXUIElementGetPid.
  [[nodiscard]] virtual int32_t getPid(const AXElementRef& element, int32_t* pid) = 0;
  // AXIsProcessTrusted / AXIsProcessTrustedWithOptions with kAXTrustedCheckOptionPrompt.
  virtual bool isProcessTrusted() = 0;
  virtual bool isProcessTrustedWithOptions(bool prompt) = 0;
  // tccutil reset <service>: forgets every program's permission for service ("Accessibility",
  // "ListenEvent"). A failure when the system keeps no such permission (this default).
  virtual Status resetPermissions(const std::string& service) {
    return Status::failure(1, "this system keeps no " + service + " permission");
  }
};

}  // namespace vl
