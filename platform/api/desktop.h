// Desktop port: what the workspace and the window server tell about applications beyond the
// Workspace port — activation notifications, activation policies, lookup by process — and the
// window list, including windows of this process that are never shown.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/api/screens.h"
#include "platform/api/status.h"
#include "platform/api/workspace.h"

namespace vl {

// NSApplicationActivationPolicy.
inline constexpr int32_t kActivationPolicyRegular = 0;
inline constexpr int32_t kActivationPolicyAccessory = 1;
inline constexpr int32_t kActivationPolicyProhibited = 2;

// One entry of CGWindowListCopyWindowInfo.
struct WindowInfo {
  uint32_t number = 0;      // kCGWindowNumber
  int32_t ownerPid = 0;     // kCGWindowOwnerPID
  std::string ownerName;    // kCGWindowOwnerName
  Rect bounds;              // kCGWindowBounds (top-left global coordinates)
  int32_t layer = 0;        // kCGWindowLayer
  bool onScreen = false;    // kCGWindowIsOnscreen
};

class Desktop {
 public:
  using Token = uint64_t;  // 0 is never a valid token
  using ActivationHandler = std::function<void(const RunningApplication& app)>;

  virtual ~Desktop() = default;
  // NSWorkspace frontmostApplication.
  virtual std::optional<RunningApplication> frontmostApplication() const = 0;
  // NSRunningApplication runningApplicationWithProcessIdentifier:.
  virtual std::optional<RunningApplication> runningApplication(int32_t pid) const = 0;
  // NSRunningApplication runningApplicationsWithBundleIdentifier:.
  virtual std::vector<RunningApplication> runningApplications(const std::string& bundleID) const = 0;
  // NSRunningApplication activationPolicy; -1 when no such process runs.
  virtual int32_t activationPolicy(int32_t pid) const = 0;
  // NSWorkspaceDidActivateApplicationNotification, delivered on the observer's run loop with
  // the notification's NSWorkspaceApplicationKey entry.
  virtual Token observeActivation(ActivationHandler handler) = 0;
  virtual void unobserveActivation(Token token) = 0;

  // CGWindowListCopyWindowInfo with kCGWindowListOptionAll (front to back), optionally with
  // kCGWindowListExcludeDesktopElements.
  virtual std::vector<WindowInfo> windowList(bool excludeDesktopElements) const = 0;
  // A window of this process (NSWindow initWithContentRect:styleMask:backing:defer:); it is
  // listed by the window server even while never ordered in. 0 when it cannot be made.
  virtual uint32_t createWindow(Rect contentRect, bool borderless, bool buffered, bool defer) = 0;
  // setFrame:display:; a failure when the window is not this process's.
  virtual Status setWindowFrame(uint32_t window, Rect frame) = 0;
};

}  // namespace vl
