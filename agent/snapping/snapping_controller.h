// The agent controller's snapping operations: starting and stopping automatic snapping with
// the store's Application records, following the frontmost application, and publishing the
// accessibility permission when it changes. Plugs into AppControllerClass as its hooks.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "agent/app_controller.h"
#include "agent/snapping/auto_snapping.h"
#include "agent/snapping/ax_helpers.h"
#include "core/errors/error_context.h"
#include "core/system/alert_ports.h"
#include "platform/api/desktop.h"
#include "platform/api/notifications.h"
#include "platform/api/workspace.h"

namespace vl {

class ManagedObjectContext;
class RunLoop;
class UserDefaults;

class SnappingController : public SnappingHooks {
 public:
  // What the controller uses itself; the engine it makes gets engine.
  struct Ports {
    RunLoop* runLoop = nullptr;                // the delayed re-read of the permission
    Desktop* desktop = nullptr;                // the frontmost application and its changes
    Notifications* notifications = nullptr;    // the permission's change
    Accessibility* accessibility = nullptr;    // the permission
    UserDefaults* defaults = nullptr;          // with desktop: the published flag
    AlertPorts alerting;                       // the fatal ends
    AutoSnapping::Ports engine;
    static Ports from(const Platform& p);
  };

  // context: the controller's store context (null while the store is closed). engine null:
  // the controller makes and owns its own engine on ports.engine. errors: the program's stack
  // and identity, for the fatal ends of snapping.
  SnappingController(const Ports& ports, ErrorContext errors, std::function<ManagedObjectContext*()> context,
                     AutoSnapping* engine = nullptr);
  // Removes its observations and performs, stops snapping and waits for the worker.
  ~SnappingController() override;
  SnappingController(const SnappingController&) = delete;
  SnappingController& operator=(const SnappingController&) = delete;

  void startAutoSnapping() override;
  // Returns when the worker has ended.
  void stopAutoSnapping() override;
  void setAutoSnappingTarget(const RunningApplication& app);
  void reloadSnappingAppList() override;
  void startAppWatcher();
  void removeAppWatcher();
  // app: the notification's application; null when called without a notification.
  void foremostAppActivated(const RunningApplication* app);
  void installAXNotify() override;
  void removeAXNotify();
  void axNotify();
  void updateAXEnabled() override;
  // At logout and login.
  void pause(bool paused) override;
  // "Accessibility Warning Cmd": the system asks the user to grant the permission.
  void axWarning() override;

  bool snappingStarted() const { return snappingStarted_; }
  const std::vector<SnappingApp>& snappingAppList() const { return snappingAppList_; }

 private:
  void fetchSnappingAppList();

  Ports ports_;
  ErrorContext errors_;
  std::function<ManagedObjectContext*()> context_;
  std::unique_ptr<AutoSnapping> ownEngine_;
  AutoSnapping& engine_;
  AXFlagWindow axFlagWindow_;
  std::vector<SnappingApp> snappingAppList_;
  bool snappingStarted_ = false;
  Desktop* watchedDesktop_ = nullptr;
  Desktop::Token appWatcher_ = 0;
  Notifications* axNotifications_ = nullptr;
  Notifications::Token axObserver_ = 0;
};

}  // namespace vl
