// VL216AXWarnWinDelegate: the sheet that tells the user which programs still lack the
// accessibility permission, and offers to ask for it, uninstall, or clear every permission.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "pane/windows/pane_window.h"

namespace vl {

class Accessibility;
class Desktop;
class Notifications;
class Paths;
class RunLoop;
class SheetHost;
class Sleeper;
class SystemInfo;
class Workspace;
struct Platform;

inline constexpr const char* kAgentQuotedName = "“Velmora Manager”";
inline constexpr const char* kHostQuotedName = "“System Preferences”";
inline constexpr const char* kLogoutText = "Please logout your account.";
inline constexpr const char* kNoPermissionText =
    "This system keeps no accessibility permissions, so there is nothing to clear.";

struct AXWarningTexts {
  std::string message;
  std::string informative;
};
// The sheet's texts for who is untrusted; nullopt when both are trusted (no sheet).
std::optional<AXWarningTexts> axWarningTexts(bool agentUntrusted, bool hostUntrusted);

class AXWarnWindowView {
 public:
  virtual ~AXWarnWindowView() = default;
  virtual void showSheet(const AXWarningTexts& texts) = 0;
  virtual void closeSheet() = 0;
  // An application-modal alert whose buttons have no key equivalents, so Return and Escape do
  // nothing; completion runs with the button's return code.
  virtual void runConfirmAlert(const SheetAlert& alert, std::function<void(int returnCode)> completion) = 0;
};

class VL216AXWarnWinDelegate : public PaneSheet {
 public:
  // What the sheet reads, asks and posts itself.
  struct Ports {
    SystemInfo* system = nullptr;                // the system version (which permissions exist)
    Accessibility* accessibility = nullptr;      // this process's permission, the prompt, the reset
    Desktop* desktop = nullptr;                  // the agent's published flag
    Notifications* notifications = nullptr;      // asks the agent to prompt
    RunLoop* runLoop = nullptr;
    Paths* paths = nullptr;                      // with system: the cancel button's title
    Workspace* workspace = nullptr;              // with sleeper: quits the sibling agent
    Sleeper* sleeper = nullptr;
    static Ports from(const Platform& p);
  };

  VL216AXWarnWinDelegate(const Ports& ports, SheetHost& pane, AXWarnWindowView& view)
      : ports_(ports), pane_(pane), view_(view) {}
  // Shows the sheet when the agent or the settings host is not trusted.
  void showAXWarnWindow();
  void closeAXWarnWindow();
  bool cancelByPrefPane() override;
  void okButton();
  void showAXMessage();
  void cancelButton();
  void uninstallButton();
  void clearButton();
  void clearAccessibility();
  bool isVisible() const { return visible_; }

 private:
  bool catalinaOrLater() const;
  std::string clearedPermissions() const;
  Ports ports_;
  SheetHost& pane_;
  AXWarnWindowView& view_;
  bool visible_ = false;
};
using AXWarningDelegate = VL216AXWarnWinDelegate;  // the readable name

}  // namespace vl
