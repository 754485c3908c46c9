// The published accessibility flag: whether a process may use the accessibility features,
// written by the agent (the width of a never-shown window and a user-default preference) and
// read by the pane and by other agents.
#include "core/system/ax_flag.h"

#include "core/errors/error_stack.h"
#include "platform/api/accessibility.h"
#include "platform/api/desktop.h"
#include "platform/api/user_defaults.h"

namespace vl {

namespace {

int32_t setWindowWidth(Desktop* desktop, AXFlagWindow& w, bool trusted) {
  if (!desktop) return 8420438;
  Rect frame{0, 0, trusted ? kAXEnabledWindowWidth : kAXDisabledWindowWidth, 10};
  if (w.number != 0 && desktop->setWindowFrame(w.number, frame).ok()) return 0;
  // First use, or the window server no longer knows the window: make it (again).
  uint32_t number = desktop->createWindow(Rect{0, 0, 10, 10}, true, true, false);
  if (number == 0) return 8420438;
  w.number = number;
  return desktop->setWindowFrame(number, frame).ok() ? 0 : 8420438;
}

int32_t publishThroughWindow(Desktop* desktop, ErrorStack& errors, AXFlagWindow& w, bool trusted) {
  if (int32_t e = setWindowWidth(desktop, w, trusted)) {
    QS810stackError(errors, nullptr, e);
    return 8420452;
  }
  return 0;
}

int32_t setPreference(UserDefaults* defaults, const std::string& bundleID, bool trusted) {
  if (bundleID.empty()) return 8420478;
  if (!defaults) return 8420490;
  auto current = defaults->value(bundleID, kAXEnabledPreferenceKey);
  if (!current || *current != pl::Value(trusted)) {
    if (!defaults->setValue(bundleID, kAXEnabledPreferenceKey, pl::Value(trusted)).ok()) return 8420490;
  }
  defaults->synchronize(bundleID);
  return 0;
}

int32_t publishThroughPreference(UserDefaults* defaults, ErrorStack& errors, const std::string& bundleID, bool trusted) {
  if (int32_t e = setPreference(defaults, bundleID, trusted)) {
    QS810stackError(errors, nullptr, e);
    return 8420497;
  }
  return 0;
}

}  // namespace

int32_t QS842updateAXEnabled(Accessibility* ax, Desktop* desktop, UserDefaults* defaults, ErrorStack& errors, AXFlagWindow& window,
                             const std::string& bundleID) {
  bool trusted = ax && ax->isProcessTrusted();
  if (int32_t e = publishThroughWindow(desktop, errors, window, trusted)) {
    QS810stackError(errors, nullptr, e);
    return 8420372;
  }
  if (int32_t e = publishThroughPreference(defaults, errors, bundleID, trusted)) {
    QS810stackError(errors, nullptr, e);
    return 8420376;
  }
  return 0;
}

std::optional<bool> QS842getAXEnabledFromWindow(Desktop* desktop, const std::string& bundleID) {
  if (!desktop || bundleID.empty()) return std::nullopt;
  auto apps = desktop->runningApplications(bundleID);
  if (apps.empty()) return std::nullopt;
  int32_t pid = apps.front().processIdentifier;
  for (const WindowInfo& w : desktop->windowList(true)) {
    if (w.ownerPid != pid) continue;
    if (w.bounds.width == kAXEnabledWindowWidth) return true;
    if (w.bounds.width == kAXDisabledWindowWidth) return false;
  }
  return std::nullopt;
}

bool QS842getAXEnabledFromPlist(UserDefaults* defaults, const std::string& bundleID) {
  if (!defaults || bundleID.empty()) return false;
  // Another process wrote it: read the domain afresh.
  defaults->synchronize(bundleID);
  auto v = defaults->value(bundleID, kAXEnabledPreferenceKey);
  return v && v->isNumber() && v->boolValue();
}

bool QS842getAXEnabled(Desktop* desktop, UserDefaults* defaults, const std::string& bundleID) {
  if (auto fromWindow = QS842getAXEnabledFromWindow(desktop, bundleID)) return *fromWindow;
  return QS842getAXEnabledFromPlist(defaults, bundleID);
}

}  // namespace vl
