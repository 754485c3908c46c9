// The accessibility warning: who lacks the permission, what each button does, and clearing
// every permission.
#include "pane/windows/ax_warning.h"

#include "core/system/ax_flag.h"
#include "core/system/boa_notifications.h"
#include "core/system/drovana.h"
#include "core/system/launch_agent.h"
#include "core/system/versions.h"
#include "pane/windows/sheet_host.h"
#include "platform/api/accessibility.h"
#include "platform/api/platform.h"
#include "platform/api/runloop.h"
#include "platform/api/system_info.h"

namespace vl {

namespace {
constexpr const char* kAccessibilityService = "Accessibility";
constexpr const char* kInputMonitoringService = "ListenEvent";
}  // namespace

std::optional<AXWarningTexts> axWarningTexts(bool agentUntrusted, bool hostUntrusted) {
  if (!agentUntrusted && !hostUntrusted) return std::nullopt;
  std::string names;
  if (agentUntrusted && hostUntrusted)
    names = std::string(kAgentQuotedName) + " and " + kHostQuotedName;
  else
    names = agentUntrusted ? kAgentQuotedName : kHostQuotedName;
  AXWarningTexts t;
  t.message = "You need to allow " + names + " to use accessibility features in Security & Privacy.";
  if (!agentUntrusted)
    t.informative =
        "If this message is displayed even though you have already done it, please click Cancel button and quit "
        "“System Preferences”.";
  else
    t.informative = "If this message is displayed even though you have already done it, please uncheck and check " +
                    names + " again in the accessibility list.";
  return t;
}

VL216AXWarnWinDelegate::Ports VL216AXWarnWinDelegate::Ports::from(const Platform& p) {
  return Ports{p.system, p.accessibility, p.desktop, p.notifications, p.runLoop, p.paths, p.workspace, p.sleeper};
}

bool VL216AXWarnWinDelegate::catalinaOrLater() const {
  const Ports& p = ports_;
  if (!p.system) return true;
  OsVersion v = p.system->osVersion();
  return v.major > 10 || (v.major == 10 && v.minor >= 15);
}

void VL216AXWarnWinDelegate::showAXWarnWindow() {
  const Ports& p = ports_;
  const DesktopLimits limits = pane_.desktopLimits();
  if (!limits.accessibilityHint.empty()) {
    // No per-program permission here: the one question is whether the desktop's accessibility
    // bus is on, for the agent and this window alike.
    const bool on = p.accessibility && p.accessibility->isProcessTrusted();
    std::optional<AXWarningTexts> texts = desktopAXWarningTexts(limits, on);
    if (!texts) return;
    visible_ = true;
    view_.showSheet(*texts);
    return;
  }
  // An agent that has not published its flag (not running yet) is not counted as refused.
  std::optional<bool> agent = QS842getAXEnabledFromWindow(p.desktop, velmora::kAgentBundleID);
  bool agentUntrusted = agent.has_value() && !*agent;
  bool hostUntrusted = catalinaOrLater() && p.accessibility && !p.accessibility->isProcessTrusted();
  std::optional<AXWarningTexts> texts = axWarningTexts(agentUntrusted, hostUntrusted);
  if (!texts) return;
  visible_ = true;
  view_.showSheet(*texts);
}

void VL216AXWarnWinDelegate::closeAXWarnWindow() {
  if (!visible_) return;
  visible_ = false;
  view_.closeSheet();
}

bool VL216AXWarnWinDelegate::cancelByPrefPane() {
  closeAXWarnWindow();
  return true;
}

void VL216AXWarnWinDelegate::okButton() {
  closeAXWarnWindow();
  pane_.showAll();
  if (RunLoop* rl = ports_.runLoop) rl->perform(this, "showAXMessage", 0, [this] { showAXMessage(); });
}

void VL216AXWarnWinDelegate::showAXMessage() {
  const Ports& p = ports_;
  (void)QS824postAXWarningNotification(p.notifications, std::string(velmora::kAgentBundleID), pane_.paneBundleIdentifier());
  if (catalinaOrLater() && p.accessibility) (void)p.accessibility->isProcessTrustedWithOptions(true);
}

void VL216AXWarnWinDelegate::cancelButton() {
  closeAXWarnWindow();
  pane_.showAll();
}

void VL216AXWarnWinDelegate::uninstallButton() {
  pane_.showUninstallWindow();
  cancelButton();
}

std::string VL216AXWarnWinDelegate::clearedPermissions() const {
  return catalinaOrLater() ? "“Accessibility” and “Input Monitoring”" : "“Accessibility”";
}

void VL216AXWarnWinDelegate::clearButton() {
  const std::string what = clearedPermissions();
  SheetAlert first;
  first.messageText = "Clear all configurations of " + what + ".";
  first.informativeText = "It removes all registered applications from " + what +
                          " in System Preferences.app > Security & Privacy > Privacy. You need to logout your account "
                          "after clearing it.";
  first.buttons = {"OK", QS812localizedCancelButtonTitle(ports_.paths, ports_.system)};
  pane_.window().showSheetAlert(first, [this, what](int returnCode) {
    if (returnCode != kAlertFirstButtonReturn) return;
    SheetAlert second;
    second.messageText = "Are you sure to clear all configurations of " + what + "?";
    second.buttons = {"OK", QS812localizedCancelButtonTitle(ports_.paths, ports_.system)};
    view_.runConfirmAlert(second, [this](int code) {
      if (code != kAlertFirstButtonReturn) return;
      if (RunLoop* rl = ports_.runLoop)
        rl->perform(this, "clearAccessibility", 0, [this] { clearAccessibility(); });
    });
  });
}

void VL216AXWarnWinDelegate::clearAccessibility() {
  const Ports& p = ports_;
  QS812terminateApp(p.workspace, p.sleeper, drovana::kAgentBundleID);
  pane_.quitBOA();
  bool cleared = p.accessibility && p.accessibility->resetPermissions(kAccessibilityService).ok();
  if (cleared && catalinaOrLater())
    p.accessibility->resetPermissions(kInputMonitoringService)
        .ignore("the user is told to log out for the accessibility permission, which was reset; this one goes with it");
  cancelButton();
  SheetAlert done;
  // Where the system keeps no such permission there is nothing to log out for.
  done.messageText = cleared ? kLogoutText : kNoPermissionText;
  pane_.window().showSheetAlert(done, nullptr);
}

}  // namespace vl
