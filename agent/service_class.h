// The agent's entry for one physical pointing device: its services (one location), the values
// it had before the agent touched it, its Device record, and applying or restoring its speed.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/errors/error_context.h"
#include "core/errors/error_context.h"
#include "core/plist/value.h"
#include "core/system/alert_ports.h"
#include "platform/api/hid.h"

namespace vl {

class AppControllerClass;
class ManagedObjectContext;
class QS802DeviceClass;

// What a device entry uses: the registry (its entries and their properties), the event system
// (the system's acceleration), the run loop (the delayed apply) and the fatal ends.
struct ServicePorts {
  IoRegistry* registry = nullptr;
  HidEventSystem* eventSystem = nullptr;
  RunLoop* runLoop = nullptr;
  AlertPorts alerting;
  static ServicePorts from(const Platform& p) { return ServicePorts{p.registry, p.eventSystem, p.runLoop, AlertPorts::from(p)}; }
};

// Identity of a device and whether the agent may change its speed.
class IOResourceClass {
 public:
  virtual ~IOResourceClass() = default;

  // Transports are compared as strings (a hash of them could collide).
  bool isEqualToVID(uint32_t vid, uint32_t pid, uint32_t mid, const std::string& transport) const;
  bool isEqualToLocationID(const std::optional<pl::Value>& locationID) const;
  bool isCursorSpeedEnabled() const;
  bool isTargetDevice() const;
  bool isSettable() const { return isCursorSpeedEnabled() && isTargetDevice(); }
  // Fetches the device's record, or inserts one from the controller's device definitions;
  // fatal when neither works.
  void loadMOC(ManagedObjectContext* ctx, RegistryId registry);

  const std::optional<pl::Value>& locationID() const { return locationID_; }
  uint32_t vid() const { return vid_; }
  uint32_t pid() const { return pid_; }
  uint32_t mid() const { return mid_; }
  const std::optional<std::string>& transport() const { return transport_; }
  bool isAppleGestureDevice() const { return isAppleGestureDevice_; }
  QS802DeviceClass* deviceObj() const { return deviceObj_; }
  // Drops the record before its context goes away.
  void forgetDeviceObj() { deviceObj_ = nullptr; }

 protected:
  std::optional<pl::Value> locationID_;
  uint32_t vid_ = 0, pid_ = 0, mid_ = 0;
  std::optional<std::string> transport_;
  bool isAppleGestureDevice_ = false;
  QS802DeviceClass* deviceObj_ = nullptr;
  AppControllerClass* controller_ = nullptr;
  ServicePorts ports_;
  std::optional<ErrorContext> errors_;  // the controller's, set when the entry is made
};

class ServiceClass : public IOResourceClass {
 public:
  static constexpr double kDefaultPointerResolution = 400.0;
  static constexpr double kDefaultScrollResolution = 9.0;

  // Fatal (through AbendApp) when the entry cannot be made; null then.
  static std::unique_ptr<ServiceClass> serviceWithClient(const ServicePorts& ports, ErrorContext errors,
                                                        const ServiceRef& service, AppControllerClass* controller);
  ~ServiceClass() override;
  ServiceClass(const ServiceClass&) = delete;
  ServiceClass& operator=(const ServiceClass&) = delete;

  [[nodiscard]] int32_t initWithClient(const ServiceRef& service, AppControllerClass* controller);
  [[nodiscard]] int32_t addClient(const ServiceRef& service);
  void removeClient(const ServiceRef& service);
  void removeAllClients();
  bool containsClient(const ServiceRef& service) const;
  void clearInfo();
  void loadMOC(ManagedObjectContext* ctx);
  RegistryId copyIORegistry() const;

  // Applying and restoring.
  [[nodiscard]] int32_t setCursorSpeedWithClient(const ServiceRef& service);
  [[nodiscard]] int32_t setCursorSpeed();
  [[nodiscard]] int32_t restoreCursorSpeedUnconditionalWithClient(const ServiceRef& service);
  [[nodiscard]] int32_t restoreCursorSpeedWithClient(const ServiceRef& service);
  [[nodiscard]] int32_t restoreCursorSpeed();
  [[nodiscard]] int32_t enableCursorSpeedWithclient(const ServiceRef& service);
  [[nodiscard]] int32_t enableCurosrSpeed();
  // reason says in the log why the speed is applied ("attached", "unlock", ...).
  void setCursorSpeedAfterDelay(double seconds, std::string reason = {});
  void setApplyReason(std::string reason) { applyReason_ = std::move(reason); }
  // The device's name in the log: the store's index form ("4c-269-0-Bluetooth").
  std::string name() const;
  void cancelSetCursorSpeedOnTimer();
  void setCursorSpeedOnTimer();

  // Speeds to give back (the controller's RestoreValues, when it keeps one).
  std::string restoreKey() const;
  // The saved resolution, when the device has an entry, wins over the registry's reading: the
  // registry may already hold a speed this agent, or a killed one before it, wrote.
  void adoptSavedValues();
  // A device that a killed run left with its favourite gets its saved speed back at once: every
  // service, or only the one given (a service joining later).
  int32_t restoreLeftOver(const ServiceRef& only = nullptr);

  // How many of this entry's services did not take the system speed back at its last restore
  // (read back after the write: a refusing service keeps its own value).
  int restoresNotTaken() const { return restoresNotTaken_; }

  const std::vector<ServiceRef>& clientList() const { return clientList_; }
  RegistryId esRegistry() const { return esRegistry_; }
  double pointerResolution() const { return pointerResolution_; }
  double scrollResolution() const { return scrollResolution_; }
  const std::optional<std::string>& pointerAcclType() const { return pointerAcclType_; }
  void setPointerAcclType(std::optional<std::string> t) { pointerAcclType_ = std::move(t); }
  const std::optional<std::string>& scrollAcclType() const { return scrollAcclType_; }
  void setScrollAcclType(std::optional<std::string> t) { scrollAcclType_ = std::move(t); }

 private:
  ServiceClass() = default;
  // Records what the device has before the agent's first write to it.
  void recordSavedValues(const ServiceRef& service);
  void forgetSavedValues();
  std::vector<ServiceRef> clientList_;
  RegistryId esRegistry_ = 0;
  double pointerResolution_ = kDefaultPointerResolution;
  std::optional<std::string> pointerAcclType_;
  double scrollResolution_ = kDefaultScrollResolution;
  std::optional<std::string> scrollAcclType_;
  // Why the chosen favourite was last refused (logged once until it changes).
  std::string lastRefusal_;
  bool savingFailed_ = false;
  bool leftOverRestored_ = false;
  int restoresNotTaken_ = 0;
  std::string applyReason_;
};

}  // namespace vl
