// Uninstalling: what an uninstall removes (worked out first, so that it can be listed, run
// "dry", and refused as a whole when a folder is not where it must be) and the routine that
// removes it in its fixed order. The pane's uninstall alerts and velmora-ctl uninstall both
// use it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/system/privileges.h"
#include "pane/windows/pane_window.h"
#include "pane/windows/recommended_window.h"  // kShareSettingsKey
#include "platform/api/alerts.h"
#include "platform/api/platform.h"
#include "platform/api/status.h"

namespace vl {

// Fatal sites of the uninstall.
inline constexpr int64_t kUninstallAuthorizationSite = 1300114;
inline constexpr int64_t kUninstallStoreSaveSite = 1300133;
inline constexpr int64_t kUninstallSettingsFolderSite = 1300148;
inline constexpr int64_t kUninstallOlderFolderSite = 1300172;
inline constexpr int64_t kUninstallUserPaneSite = 1300202;
inline constexpr int64_t kUninstallAllUsersPaneSite = 1300208;

// The pane's keys an uninstall removes: the four saved window frames and the update keys;
// kShareSettingsKey too unless the sibling product shares the store.
extern const std::vector<std::string> kPaneKeysRemovedOnUninstall;

// One thing an uninstall removes or changes, for listings.
struct UninstallItem {
  std::string kind;    // "all-users pane", "agent", "launch agent", "login item", "store field",
                       // "settings folder", "older settings folder", "defaults key",
                       // "defaults domain", "pane"
  std::string target;  // a path, a label, a key
  bool privileged = false;  // needs administrator rights
};

struct UninstallPlan {
  bool drovanaInstalled = false;  // a sibling driver shares the store: it stays
  std::optional<std::string> userPane;      // Velmora.prefPane in the user's PreferencePanes
  std::optional<std::string> allUsersPane;  // ... in the all-users (local) PreferencePanes
  std::optional<std::string> agentBundle;   // the agent inside the found pane
  std::optional<std::string> launchAgentPropertyList;
  std::optional<std::string> settingsFolder;  // the store's folder (only without the sibling)
  std::optional<std::string> olderFolder;     // the older product-only folder
  std::optional<std::string> storeFile;       // what "Show Settings File in Finder" shows
  std::vector<std::string> paneKeys;          // present keys of the pane's domain
  bool agentDefaults = false;                 // the agent's defaults domain has keys
  // Why nothing may be removed (a folder resolves outside where it must lie); empty: go.
  std::string refused;
  std::vector<UninstallItem> items() const;
};

// Looks at this system: what an uninstall would remove. Changes nothing.
UninstallPlan planUninstall(const Platform& p);

// What the routine needs from whoever runs it (the pane, or velmora-ctl).
class UninstallHooks {
 public:
  virtual ~UninstallHooks() = default;
  // Before anything changes: the pane hides its tabs and closes its sheets.
  virtual void beginUninstall() {}
  // Ends the running agent.
  virtual void terminateAgent() = 0;
  // The sibling shares the store: clears this product's selection field and saves. 0 or the
  // store's failure number with *error.
  [[nodiscard]] virtual int32_t clearSharedSelection(ErrorInfo* error) = 0;
  // The pane lets go of the store and its observers.
  virtual void willUnselect() {}
  // Steps failed: called once, after every other step was tried, with the first failure's
  // number and site; error describes every failure (one line each).
  virtual void fatal(int32_t code, int64_t site, const ErrorInfo* error) = 0;
};

// Something an uninstall could not remove, and why.
struct UninstallFailure {
  UninstallItem item;
  int32_t code = 0;  // the failure's number (the site's number where the step has none)
  int64_t site = 0;
  std::string reason;
};

// Removes what plan names. The copy for all users comes first, under the one administrator
// prompt (adminMessage says why) that runs every privileged step, so that a cancelled or
// denied prompt leaves everything as it was: then the prompt's code (kAdminCancelled,
// kAdminDenied) is returned and nothing else happens. Then the rest in the uninstall's order;
// a step that fails does not stop the others. Each failure is added to *failures (when
// given) and reported through hooks.fatal once at the end; a later run finishes what is left.
// 0 when everything was removed, else the first failure's number. A refused plan removes
// nothing and returns kUninstallRefused.
inline constexpr int32_t kUninstallRefused = 1300100;
[[nodiscard]] int32_t runUninstall(const Platform& p, ErrorStack& errors, const UninstallPlan& plan, const std::string& adminMessage,
                                   UninstallHooks& hooks, std::vector<UninstallFailure>* failures = nullptr);

// Deletes path and everything below it without following any symbolic link (a link is removed,
// never its target). Success when nothing is left; else the first failure (errno as code).
Status removeTreeNoFollow(const std::string& path);

// The uninstall alerts of the pane: application-modal, buttons without key equivalents.
class UninstallView {
 public:
  virtual ~UninstallView() = default;
  // Runs the alert modally; returns kAlertFirstButtonReturn, kAlertSecondButtonReturn, ...
  virtual int runModalAlert(const SheetAlert& alert) = 0;
  // Hides the pane's tab view (nothing is to be touched while the uninstall runs).
  virtual void hideTabView() = 0;
};

}  // namespace vl
