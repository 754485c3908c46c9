// AppControllerClass: Velmora Manager's controller — start-up and shutdown, the read-only
// store, the device list and its speed policy, the pane's commands, the log window and the
// crash report. Everything runs on the main run loop.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "agent/log_text.h"
#include "core/system/log_viewer.h"
#include "agent/restore_values.h"
#include "agent/service_class.h"
#include "core/devices/connected_device.h"
#include "core/errors/error_context.h"
#include "core/store/defined_device.h"
#include "core/store/store.h"
#include "core/store/web_sharing.h"
#include "core/system/drovana.h"
#include "core/system/instance_lock.h"
#include "platform/api/notifications.h"
#include "platform/api/platform.h"
#include "platform/api/screens.h"

namespace vl {

class QS809UserInfoClass;

// What the agent is beyond its ports: its bundle facts and where its single-instance lock lies.
struct AgentSettings {
  BundleInfo bundle{velmora::kAgentBundleID, velmora::kAgentName, VELMORA_VERSION_TEXT, ""};
  // Empty: the lock file in the temporary folder of the Paths port (one agent per user
  // session). On a simulated Mac the program puts it in the world, one agent per world.
  std::string instanceLockPath;
  // The file of speeds to give back after a crash. Empty: kRestoreValuesFile in the user's
  // Application Support folder of the Paths port.
  std::string restoreValuesPath;
  // The salt of the machine identifier that uploads carry. Empty: beside the settings store;
  // on a simulated Mac the program keeps it in the world.
  std::string sharingSaltPath;
  // What the agent's records take from it; the bundle is the one above.
  std::optional<pl::Value> defaultAcclTable;
  std::optional<pl::Value> defaultAcclCurves;
};

inline constexpr const char* kRestoreValuesFile = "Velmora Manager/Restore Values.plist";

// The snapping operations the controller calls. SnappingController implements them; this
// default does nothing, for a controller that runs without snapping (tests, tools).
class SnappingHooks {
 public:
  virtual ~SnappingHooks() = default;
  virtual void startAutoSnapping() {}
  virtual void stopAutoSnapping() {}
  virtual void reloadSnappingAppList() {}
  virtual void pause(bool paused) {}
  virtual void installAXNotify() {}
  virtual void updateAXEnabled() {}
  virtual void axWarning() {}
};

class AppControllerClass : public ConnectedDeviceController {
 public:
  // The controller and everything it makes run on platform's ports, and report failures to
  // errors (the program's error stack and identity, which outlive the controller).
  AppControllerClass(const Platform& platform, ErrorContext errors, AgentSettings settings = {});
  ~AppControllerClass() override;
  AppControllerClass(const AppControllerClass&) = delete;
  AppControllerClass& operator=(const AppControllerClass&) = delete;

  // --- Application delegate ------------------------------------------------------------------
  void applicationWillFinishLaunching();
  void applicationDidFinishLaunching();
  void applicationWillTerminate();
  void applicationDidChangeScreenParameters();
  // The uncaught-error report: writes the crash file, posts a notice and ends the agent.
  void exceptionHandler(const std::string& callStack);
  // Where the crash report goes.
  std::string crashReportPath() const;

  // --- Store ---------------------------------------------------------------------------------
  [[nodiscard]] int32_t openMOC(ErrorInfo* outError);
  ManagedObjectContext* managedObjectContext() const { return managedObjectContext_.get(); }
  QS809UserInfoClass* userInfo() const { return userInfo_; }

  // --- Sibling product -------------------------------------------------------------------------
  void launchedDrovanaVersion(uint32_t version, const std::optional<std::string>& buildDate);
  uint32_t dvVersion() const { return dvVersion_; }

  // --- Device watcher callbacks ----------------------------------------------------------------
  bool respondsTo(Message m) const override;
  void connectedDeviceNotify(const ServiceRef& service, bool attached) override;
  void connectedDeviceLogout() override;
  void connectedDeviceLogin() override;
  void connectedDeviceScreenLocked() override;
  void connectedDeviceScreenUnlocked() override;
  void connectedDeviceCursorSpeedChanged(double value) override;
  void connectedDeviceError(int32_t error) override;

  // --- Speed policy ----------------------------------------------------------------------------
  [[nodiscard]] int32_t installDeviceNotify();
  void removeDeviceNotify();
  [[nodiscard]] int32_t setCursorSpeedForVID(uint32_t vid, uint32_t pid, uint32_t mid, const std::optional<std::string>& transport);
  [[nodiscard]] int32_t enableCursorSpeedForVID(uint32_t vid, uint32_t pid, uint32_t mid,
                                  const std::optional<std::string>& transport);
  // reason tells the log why ("login", "display change", ...).
  void setCursorSpeedAfterDelay(double seconds, const std::string& reason = {});
  [[nodiscard]] int32_t restoreCursorSpeed();
  void loadMOC();
  // The speeds to give back; null before start-up has read them.
  RestoreValues* restoreValues() const { return restoreValues_.get(); }
  QS825ConnectedDeviceNotifier* connectedDeviceNotifier() const { return connectedDeviceNotifier_.get(); }
  const std::vector<std::unique_ptr<ServiceClass>>* connectedDeviceList() const {
    return hasDeviceList_ ? &connectedDeviceList_ : nullptr;
  }
  bool isUserActive() const { return !connectedDeviceNotifier_ || connectedDeviceNotifier_->isUserActive(); }

  // --- Commands --------------------------------------------------------------------------------
  // sender: the object the command was posted with (the pane's bundle identifier), for the log.
  void boaNotification(const pl::Dict& userInfo, const std::string& sender = {});

  // --- Snapping --------------------------------------------------------------------------------
  void startAutoSnapping();
  void stopAutoSnapping();
  void reloadSnappingAppList();
  void installAXNotify();
  void updateAXEnabled();
  void uploadRecommendedSettings();
  bool snappingStarted() const { return snappingStarted_; }
  void setSnappingHooks(std::unique_ptr<SnappingHooks> hooks) { snapping_ = std::move(hooks); }

  // --- Log window ------------------------------------------------------------------------------
  LogViewer& logViewer() { return logViewer_; }
  void openLogViewer() { logViewer_.openLogViewer(); }
  void closeLogViewer() { logViewer_.closeLogViewer(); }

  // A line for the program's live log (what is applied and restored); empty sink by default.
  void setActivityLog(std::function<void(const std::string&)> sink) { activity_ = std::move(sink); }
  // Outside texts are cut where they enter a line; the whole line is bounded here as well, so
  // that no line, whatever it carries, can fill the disk under the log.
  void logActivity(const std::string& line) const {
    if (activity_) activity_(textForLog(line, kLogLineLimit));
  }

  // Where the one line that explains a refused start goes (a second agent on the same world);
  // the activity log when not set.
  void setStartRefusedSink(std::function<void(const std::string&)> sink) { startRefusedSink_ = std::move(sink); }
  // The start was refused: the agent ends without having touched a device.
  bool startRefused() const { return startRefused_; }

  const AgentSettings& settings() const { return settings_; }
  const Platform& platform() const { return platform_; }
  const ErrorContext& errors() const { return errors_; }
  // The device definitions read for this agent's records, kept for its life.
  DeviceDefinitionCache& deviceDefinitions() { return definitions_; }
  bool launched() const { return launched_; }
  bool terminating() const { return terminating_; }

 private:
  // What quitting did with the entries a crashed run left for devices not yet announced.
  struct LeftOverOutcome {
    std::set<std::string> failedKeys;
    size_t failed = 0;  // present, but the write failed: the entry stays
    size_t absent = 0;  // not reached now: the entry stays for a later run
  };
  LeftOverOutcome restoreLeftOverAtQuit();
  // Ends the agent through the fatal path; callers return right after.
  void fatal(const char* message, const char* table, int64_t code, int64_t site);
  ServiceClass* entryForClient(const ServiceRef& service);
  // The packed version of the running agent, as the launch announcement carries it.
  uint32_t currentApplicationVersion() const;

  Platform platform_;
  ErrorContext errors_;
  AgentSettings settings_;
  DeviceDefinitionCache definitions_;
  StoreContextRef managedObjectContext_;
  QS809UserInfoClass* userInfo_ = nullptr;
  uint32_t dvVersion_ = 0;
  std::unique_ptr<QS825ConnectedDeviceNotifier> connectedDeviceNotifier_;
  std::vector<std::unique_ptr<ServiceClass>> connectedDeviceList_;
  bool hasDeviceList_ = false;
  LogViewer logViewer_;
  bool snappingStarted_ = false;
  std::unique_ptr<SnappingHooks> snapping_;
  std::unique_ptr<InstanceLock> instanceLock_;
  std::unique_ptr<RestoreValues> restoreValues_;
  Notifications::Token commandToken_ = 0;
  Screens::Token screensToken_ = 0;
  std::function<void(const std::string&)> activity_;
  std::function<void(const std::string&)> startRefusedSink_;
  std::string commandSource_;  // "command from <sender>" while a command is handled
  bool startRefused_ = false;
  bool launched_ = false;
  bool terminating_ = false;
  // Made on the first upload and kept: the identifier is computed once per process.
  std::unique_ptr<QS836MachineIdentifier> machineIdentifier_;
};

}  // namespace vl
