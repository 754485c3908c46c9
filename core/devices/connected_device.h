// Connected-device tracking: turns raw arrivals and removals of pointing services into
// debounced per-device announcements for one controller, learns a Logitech receiver's paired
// model id first, holds work back while the user is inactive, and reports session and
// system-speed changes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/errors/error_stack.h"
#include "core/hid/pointer_parameters.h"
#include "platform/api/hid.h"
#include "platform/api/platform.h"
#include "platform/api/session.h"

namespace vl {

// What the tracker tells its controller. Every message is optional: the tracker asks
// respondsTo() before sending one.
class ConnectedDeviceController {
 public:
  enum class Message { Notify, Logout, ScreenLocked, Login, ScreenUnlocked, CursorSpeedChanged, ScrollSpeedChanged, Error };
  virtual ~ConnectedDeviceController() = default;
  virtual bool respondsTo(Message m) const { return true; }
  virtual void connectedDeviceNotify(const ServiceRef& service, bool attached) {}
  virtual void connectedDeviceLogout() {}
  virtual void connectedDeviceScreenLocked() {}
  virtual void connectedDeviceLogin() {}
  virtual void connectedDeviceScreenUnlocked() {}
  virtual void connectedDeviceCursorSpeedChanged(double value) {}
  virtual void connectedDeviceScrollSpeedChanged(double value) {}
  virtual void connectedDeviceError(int32_t error) {}
};

class QS825ConnectedDeviceNotifier;

// What the notifier and its device records use: the event system (the services and their
// changes), the session (login and lock), the run loop (the steps' delays), and the registry
// and HID devices (a device's availability and the receiver's exchange).
struct ConnectedDevicePorts {
  HidEventSystem* eventSystem = nullptr;
  Session* session = nullptr;
  RunLoop* runLoop = nullptr;
  IoRegistry* registry = nullptr;
  HidDevices* hidDevices = nullptr;
  static ConnectedDevicePorts from(const Platform& p) {
    return ConnectedDevicePorts{p.eventSystem, p.session, p.runLoop, p.registry, p.hidDevices};
  }
};

// One service in flight: waits its standby time, maybe asks the receiver, then announces.
class QS826ConnectedDevice : public std::enable_shared_from_this<QS826ConnectedDevice> {
 public:
  // Null after pushing 8260026 when service or notifier is missing.
  static std::shared_ptr<QS826ConnectedDevice> connectedDeviceWithClient(const ServiceRef& service, bool attached,
                                                                         double standbyTime,
                                                                         QS825ConnectedDeviceNotifier* notifier);
  ~QS826ConnectedDevice();

  void attached();
  void detached();
  void userBecomeActive();
  void finish();
  bool isFinished() const { return !serviceClient_; }

  const ServiceRef& serviceClient() const { return serviceClient_; }
  double standbyTime() const { return standbyTime_; }
  bool isAttached() const { return isAttached_; }
  uint32_t vendorID() const { return vendorID_; }
  uint32_t productID() const { return productID_; }

  // The steps (public for the run loop's callbacks and for tests).
  void afterStandbyTime();
  bool isHIDDeviceAvailable();
  void startLogitechUnifyingInfo();
  void logitechUnifyingInfo();
  void notifyFinishedAndFinish();

 private:
  QS826ConnectedDevice() = default;
  enum class Step { None, AfterStandbyTime, Detached, LogitechUnifyingInfo };
  // The run-loop selector of a step, by which a pending step is cancelled.
  static const char* stepName(Step step);
  bool isUserDeactiveSetContinueProcess(Step step);
  void cancelSteps();
  void perform(Step step);
  void announce(bool attached);

  ServiceRef serviceClient_;
  double standbyTime_ = 0;
  QS825ConnectedDeviceNotifier* notifier_ = nullptr;
  ConnectedDevicePorts ports_;  // the notifier's ports, kept so steps can be cancelled after finish()
  bool isAttached_ = false;
  uint32_t vendorID_ = 0, productID_ = 0;
  Step nextProcess_ = Step::None;
  HidDeviceRef cmdDevice_;
};

class QS825ConnectedDeviceNotifier : public ServiceNotifyTarget {
 public:
  // The six system-wide keys whose changes are reported, in registration order.
  static const std::vector<std::string>& watchedKeys();
  // The extra standby time of each of the maker's programs.
  static double standbyTimeDiffForBundleID(const std::string& bundleID);

  // Null after pushing 8250056 (no controller) or 8250070 (no event-system client).
  static std::unique_ptr<QS825ConnectedDeviceNotifier> connectedDeviceNotifierWithController(
      const ConnectedDevicePorts& p, ConnectedDeviceController* controller, const BundleInfo* mainBundle, double standbyTimeDiff);
  static std::unique_ptr<QS825ConnectedDeviceNotifier> connectedDeviceNotifierWithController(
      const ConnectedDevicePorts& p, ConnectedDeviceController* controller, const BundleInfo* mainBundle, const std::string& bundleID);
  ~QS825ConnectedDeviceNotifier() override;

  // The watcher's callback.
  void serviceNotify(const ServiceRef& service, bool attached, bool isNew) override;

  void loginSessionHandler(bool becameActive);
  void screenLockedNotify(bool locked);
  void addUserStatus(uint32_t type);
  void removeUserStatus(uint32_t type);
  bool isUserActive() const { return userStatus_ == 0; }
  uint32_t userStatus() const { return userStatus_; }
  int32_t prevRemovedUserStatus() const { return prevRemovedUserStatus_; }

  void notifyDevice(QS826ConnectedDevice* record, bool attached);
  void finishedDevice(QS826ConnectedDevice* record);
  void notifyError(int32_t error);
  void finishAllDevices();

  const std::vector<std::shared_ptr<QS826ConnectedDevice>>& deviceList() const { return deviceList_; }
  double standbyTimeDiff() const { return standbyTimeDiff_; }
  ConnectedDeviceController* controller() const { return controller_; }
  const ConnectedDevicePorts& ports() const { return ports_; }
  HidEventSystemClient* hidService() const { return hidService_.get(); }

  static constexpr uint32_t kSessionInactive = 1;
  static constexpr uint32_t kScreenLocked = 2;

 private:
  QS825ConnectedDeviceNotifier() = default;
  std::shared_ptr<QS826ConnectedDevice> deviceForClient(const ServiceRef& service) const;
  void systemSpeedChanged(const std::string& key, const pl::Value& value);

  ConnectedDeviceController* controller_ = nullptr;
  ConnectedDevicePorts ports_;
  BundleInfo mainBundle_;
  bool hasBundle_ = false;
  double standbyTimeDiff_ = 0;
  std::vector<std::shared_ptr<QS826ConnectedDevice>> deviceList_;
  std::unique_ptr<HidEventSystemClient> hidService_;
  bool systemSpeedNotifyInstalled_ = false;
  uint32_t userStatus_ = 0;
  int32_t prevRemovedUserStatus_ = 0;
  Session::Token sessionToken_ = 0;
};

}  // namespace vl
