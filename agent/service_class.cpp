// The agent's per-device entry: services, saved values, record, apply and restore.
#include "agent/service_class.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>

#include "agent/app_controller.h"
#include "agent/log_text.h"
#include "agent/restore_values.h"
#include "core/system/alerts.h"
#include "core/hid/fixed_point.h"
#include "core/hid/pointer_parameters.h"
#include "core/hid/registry_search.h"
#include "core/plist/ascii_text.h"
#include "core/plist/number_text.h"
#include "core/store/cursor_speed_record.h"
#include "core/store/defined_device.h"
#include "core/store/device_record.h"
#include "core/store/store.h"
#include "platform/api/platform.h"
#include "platform/api/runloop.h"

namespace vl {

namespace {

// The writes report nothing (a service that refuses a value simply keeps its own), so the
// log reads each value back before it calls a speed applied or given back: on a desktop whose
// writer refuses, "applied" would otherwise be a false success.
bool carries(const HidServiceClient* service, std::string_view key, double value) {
  auto v = service ? service->property(key) : std::nullopt;
  return v && v->isNumber() && v->intValue() == X2Fix(value);
}


constexpr const char* kTimerSelector = "setCursorSpeedOnTimer";

// The values a favourite puts on its device, every one decided before anything is written, or
// why it cannot be applied. Such a value is one record's data (put there by another program, an
// older version or a damaged file), not the agent's failure. Stored texts are read as the
// platform reads them, by their leading number ("1200abc" is 1200).
struct FavouriteValues {
  double sensitivity = 0;
  double tracking = 0;
  bool accelerationOff = false;
  std::string refusal;  // empty when the favourite can be applied whole
};

FavouriteValues decideFavourite(const QS805CursorSpeedClass* cs) {
  FavouriteValues v;
  if (!cs) {
    v.refusal = "there is no chosen favourite";
    return v;
  }
  // Acceleration off writes only its marker: the resolution stays, no stored number is used.
  if (cs->disableAccl()) {
    v.accelerationOff = true;
    return v;
  }
  auto decide = [&](const std::optional<std::string>& text, const char* what, double low, double high,
                    double* out) -> bool {
    auto shown = [&] { return std::string(what) + " \"" + textForLog(text.value_or(""), 40) + "\""; };
    if (!text || text->empty()) {
      v.refusal = std::string(what) + " is missing";
      return false;
    }
    auto n = pl::parseLeadingNumber(*text);
    if (!n || !std::isfinite(n->value)) {
      v.refusal = shown() + " is not a number";
      return false;
    }
    if (!(n->value >= low && n->value <= high)) {
      v.refusal = shown() + " is not from " + pl::formatShortest(low) + " to " + pl::formatShortest(high);
      return false;
    }
    *out = n->value == 0 ? 0.0 : n->value;  // no negative zero on a device
    return true;
  };
  if (!decide(cs->sensitivity(), "sensitivity", 10, 2000, &v.sensitivity)) return v;
  decide(cs->trackingSpeed(), "tracking speed", 0, 20, &v.tracking);
  return v;
}

using pl::hexText;

std::optional<pl::Value> entryProperty(IoRegistry* reg, RegistryId entry, const char* key) {
  if (!reg || entry == 0) return std::nullopt;
  return reg->property(entry, key);
}

}  // namespace

// --- IOResourceClass -----------------------------------------------------------------------------

bool IOResourceClass::isEqualToVID(uint32_t vid, uint32_t pid, uint32_t mid, const std::string& transport) const {
  return vid_ == vid && pid_ == pid && mid_ == mid && transport_.value_or("") == transport;
}

bool IOResourceClass::isEqualToLocationID(const std::optional<pl::Value>& locationID) const {
  if (!locationID_ || !locationID || !locationID->isNumber()) return false;
  // Services report a location with the top bit set as a negative number while the entry
  // keeps it unsigned: both are the same 32-bit register value.
  return locationID_->unsignedIntValue() == locationID->unsignedIntValue();
}

bool IOResourceClass::isCursorSpeedEnabled() const { return !(deviceObj_ && deviceObj_->cursorSpeedDisabled()); }

bool IOResourceClass::isTargetDevice() const {
  if (isAppleGestureDevice_) return true;
  return controller_ && controller_->dvVersion() == 0;
}

void IOResourceClass::loadMOC(ManagedObjectContext* ctx, RegistryId registry) {
  QS802DeviceClass* device = ctx ? QS814fetchDevice(errors_->stack, vid_, pid_, mid_, transport_.value_or(""), ctx) : nullptr;
  // The controller keeps the definitions read once; an entry without one reads them itself.
  std::optional<DeviceDefinitionCache> own;
  DeviceDefinitionCache& definitions =
      controller_ ? controller_->deviceDefinitions() : own.emplace(ports_.alerting.paths, ports_.alerting.system);
  if (!device) {
    device = ctx ? VL714insertDefinedDevice(errors_->stack, definitions, vid_, pid_, mid_, transport_.value_or(""),
                                            registry, ctx, -1.0, -1.0)
                 : nullptr;
    if (!device) {
      AbendApp(ports_.alerting.platform(), *errors_, nullptr, nullptr, 0, 5000098);
      return;
    }
  } else {
    VL714searchAndApplyDeviceDefinition(definitions, device);
  }
  deviceObj_ = device;
}

// --- ServiceClass --------------------------------------------------------------------------------

std::unique_ptr<ServiceClass> ServiceClass::serviceWithClient(const ServicePorts& ports, ErrorContext errors,
                                                             const ServiceRef& service, AppControllerClass* controller) {
  std::unique_ptr<ServiceClass> s(new ServiceClass());  // private constructor
  s->ports_ = ports;
  s->errors_.emplace(errors);
  if (int32_t e = s->initWithClient(service, controller)) {
    AbendApp(ports.alerting.platform(), errors, nullptr, nullptr, e, 5200043);
    return nullptr;
  }
  return s;
}

ServiceClass::~ServiceClass() {
  removeAllClients();
  cancelSetCursorSpeedOnTimer();
}

int32_t ServiceClass::initWithClient(const ServiceRef& service, AppControllerClass* controller) {
  if (!service || !controller) return 5200056;
  std::optional<std::string> transport;
  QS852getDeviceInfo(service.get(), &vid_, &pid_, &mid_, &transport, &locationID_, nullptr);
  transport_ = transport;
  controller_ = controller;
  isAppleGestureDevice_ = QS822isAppleGestureDevice(vid_, pid_);
  pointerResolution_ = kDefaultPointerResolution;
  pointerAcclType_ = kHIDMouseAccelerationKey;
  scrollResolution_ = kDefaultScrollResolution;
  scrollAcclType_ = kHIDMouseScrollAccelerationKey;
  clientList_.clear();
  if (int32_t e = addClient(service)) {
    QS810stackError(errors_->stack, nullptr, e);
    return 5200079;
  }
  return 0;
}

int32_t ServiceClass::addClient(const ServiceRef& service) {
  if (!service || containsClient(service)) return 0;
  clientList_.push_back(service);
  RegistryId entry = 0;
  if (int32_t e = serviceRegistryEntry(ports_.registry, service.get(), &entry)) {
    QS810stackError(errors_->stack, nullptr, e);
    return 5200144;
  }
  RegistryId es = eventServiceEntry(ports_.registry, errors_->stack, entry);
  if (es != 0 && esRegistry_ == 0) esRegistry_ = es;
  auto read = [&](const char* key) {
    auto v = entryProperty(ports_.registry, entry, key);
    if (!v) v = entryProperty(ports_.registry, es, key);
    return v;
  };
  if (auto v = read(kHIDPointerResolutionKey); v && v->isNumber()) pointerResolution_ = Fix2X(v->intValue());
  if (auto v = read(kHIDScrollResolutionKey); v && v->isNumber()) scrollResolution_ = Fix2X(v->intValue());
  if (auto v = read(kHIDPointerAccelerationTypeKey); v && v->isString()) pointerAcclType_ = *v->asString();
  if (auto v = read(kHIDScrollAccelerationTypeKey); v && v->isString()) scrollAcclType_ = *v->asString();
  return 0;
}

void ServiceClass::removeClient(const ServiceRef& service) {
  auto it = std::find_if(clientList_.begin(), clientList_.end(), [&](const ServiceRef& s) { return isSameService(s, service); });
  if (it == clientList_.end()) return;
  clientList_.erase(it);
  if (clientList_.empty()) clearInfo();
}

void ServiceClass::removeAllClients() {
  while (!clientList_.empty()) removeClient(clientList_.front());
}

bool ServiceClass::containsClient(const ServiceRef& service) const {
  return std::any_of(clientList_.begin(), clientList_.end(), [&](const ServiceRef& s) { return isSameService(s, service); });
}

void ServiceClass::clearInfo() {
  cancelSetCursorSpeedOnTimer();
  clientList_.clear();
  esRegistry_ = 0;
  pointerResolution_ = 0;
  scrollResolution_ = 0;
  vid_ = pid_ = mid_ = 0;
  pointerAcclType_.reset();
  scrollAcclType_.reset();
  locationID_.reset();
  transport_.reset();
  deviceObj_ = nullptr;
  leftOverRestored_ = false;
}

RegistryId ServiceClass::copyIORegistry() const {
  for (const auto& s : clientList_) {
    RegistryId e = 0;
    if (serviceRegistryEntry(ports_.registry, s.get(), &e) == 0) return e;
  }
  return 0;
}

void ServiceClass::loadMOC(ManagedObjectContext* ctx) {
  IOResourceClass::loadMOC(ctx, esRegistry_ != 0 ? esRegistry_ : copyIORegistry());
}

int32_t ServiceClass::setCursorSpeedWithClient(const ServiceRef& service) {
  if (!isSettable()) return 0;
  QS805CursorSpeedClass* cs = deviceObj_ ? deviceObj_->selectedCursorSpeed() : nullptr;
  const FavouriteValues v = decideFavourite(cs);
  // A favourite that cannot be applied whole is not applied in part: the device carries the
  // system speed, as a device whose setting is switched off does, rather than a mix of this
  // favourite and whatever it was given last.
  if (!v.refusal.empty()) {
    if (v.refusal != lastRefusal_ && controller_)
      controller_->logActivity(textForLog(restoreKey()) + ": the chosen favourite is not applied, " + v.refusal +
                               "; the device keeps the system speed");
    lastRefusal_ = v.refusal;
    if (int32_t e = restoreCursorSpeedUnconditionalWithClient(service)) {
      QS810stackError(errors_->stack, nullptr, e);
      return 5220076;
    }
    return 0;
  }
  lastRefusal_.clear();
  recordSavedValues(service);
  const std::string key = pointerAcclType_.value_or(kHIDMouseAccelerationKey);
  std::optional<double> sens, track;
  if (!v.accelerationOff) {
    sens = v.sensitivity;
    track = v.tracking;
  }
  if (int32_t e = QS852setCursorSpeed(errors_->stack, service.get(), &key, sens, track, v.accelerationOff)) {
    QS810stackError(errors_->stack, nullptr, e);
    return 5220076;
  }
  const bool taken = v.accelerationOff ? carries(service.get(), key, kDisabledAcceleration)
                                       : carries(service.get(), kHIDPointerResolutionKey, v.sensitivity) &&
                                             carries(service.get(), key, v.tracking);
  if (controller_ && !taken) {
    controller_->logActivity("could not apply favourite " + std::to_string(cs->index() + 1) + " to " + name() + " (" +
                             (applyReason_.empty() ? std::string("requested") : textForLog(applyReason_)) +
                             ") service 0x" + hexText(service->registryID()) +
                             ": the device did not take it (see the writer's message)");
  } else if (controller_) {
    // Names exactly what was written: with acceleration off the resolution is left as it was.
    std::string line = "applied favourite " + std::to_string(cs->index() + 1) + " to " + name() + " (" +
                       (applyReason_.empty() ? std::string("requested") : textForLog(applyReason_)) + ") service 0x" +
                       hexText(service->registryID()) + ": " +
                       (v.accelerationOff ? std::string("acceleration off, resolution unchanged")
                                          : "sensitivity " + pl::formatG(v.sensitivity) + ", tracking " +
                                                pl::formatG(v.tracking));
    controller_->logActivity(line);
  }
  return 0;
}

std::string ServiceClass::name() const {
  // The transport comes from the device: bounded and escaped so it cannot forge log lines.
  return QS802DeviceClass::indexWithVID(vid_, pid_, mid_, textForLog(transport_.value_or(""), kLogTransportLimit));
}

int32_t ServiceClass::setCursorSpeed() {
  if (controller_ && !clientList_.empty() && !isSettable()) {
    controller_->logActivity("skipped " + name() + (applyReason_.empty() ? "" : " (" + textForLog(applyReason_) + ")") + ": " +
                             (isCursorSpeedEnabled() ? "left to Drovana, which drives this device"
                                                     : "cursor speed is turned off for this device"));
  }
  auto clients = clientList_;
  for (const auto& s : clients) {
    if (int32_t e = setCursorSpeedWithClient(s)) {
      QS810stackError(errors_->stack, nullptr, e);
      return 5220093;
    }
  }
  return 0;
}

int32_t ServiceClass::restoreCursorSpeedUnconditionalWithClient(const ServiceRef& service) {
  const std::string key = pointerAcclType_.value_or(kHIDMouseAccelerationKey);
  double system = systemAcceleration(ports_.eventSystem, &key, kSystemAccelerationCap);
  if (int32_t e = QS852setCursorSpeed(errors_->stack, service.get(), &key, pointerResolution_, system, std::nullopt)) {
    QS810stackError(errors_->stack, nullptr, e);
    return 5220142;
  }
  const bool taken = carries(service.get(), kHIDPointerResolutionKey, pointerResolution_) &&
                     carries(service.get(), key, system);
  if (!taken) ++restoresNotTaken_;
  if (controller_ && !taken) {
    controller_->logActivity("could not give " + name() + " service 0x" + hexText(service->registryID()) +
                             " the system speed back: the device did not take it");
  } else if (controller_) {
    // The key comes from the device's registry: outside text like the transport.
    std::string line = "restored " + name() + " service 0x" + hexText(service->registryID()) +
                       " to the system speed: resolution " + pl::formatG(pointerResolution_) + ", " +
                       textForLog(key, kLogTransportLimit) + " " + pl::formatG(system);
    controller_->logActivity(line);
  }
  return 0;
}

int32_t ServiceClass::restoreCursorSpeedWithClient(const ServiceRef& service) {
  if (!isSettable()) return 0;
  if (int32_t e = restoreCursorSpeedUnconditionalWithClient(service)) {
    QS810stackError(errors_->stack, nullptr, e);
    return 5220160;
  }
  return 0;
}

int32_t ServiceClass::restoreCursorSpeed() {
  restoresNotTaken_ = 0;
  auto clients = clientList_;
  for (const auto& s : clients) {
    if (int32_t e = restoreCursorSpeedWithClient(s)) {
      QS810stackError(errors_->stack, nullptr, e);
      return 5220172;
    }
  }
  // A device left to the sibling product may still carry our speed: keep its values.
  if (isTargetDevice()) forgetSavedValues();
  return 0;
}

int32_t ServiceClass::enableCursorSpeedWithclient(const ServiceRef& service) {
  if (!isTargetDevice()) return 0;
  int32_t e = isCursorSpeedEnabled() ? setCursorSpeedWithClient(service) : restoreCursorSpeedUnconditionalWithClient(service);
  if (e) {
    QS810stackError(errors_->stack, nullptr, e);
    return 5220038;
  }
  return 0;
}

int32_t ServiceClass::enableCurosrSpeed() {
  auto clients = clientList_;
  for (const auto& s : clients) {
    if (int32_t e = enableCursorSpeedWithclient(s)) {
      QS810stackError(errors_->stack, nullptr, e);
      return 5220049;
    }
  }
  if (isTargetDevice() && !isCursorSpeedEnabled()) forgetSavedValues();
  return 0;
}

void ServiceClass::setCursorSpeedAfterDelay(double seconds, std::string reason) {
  RunLoop* rl = ports_.runLoop;
  if (!rl) return;
  applyReason_ = std::move(reason);
  rl->cancelPerform(this, kTimerSelector);
  rl->perform(this, kTimerSelector, seconds, [this] { setCursorSpeedOnTimer(); });
}

void ServiceClass::cancelSetCursorSpeedOnTimer() {
  if (RunLoop* rl = ports_.runLoop) rl->cancelPerform(this, kTimerSelector);
}

void ServiceClass::setCursorSpeedOnTimer() {
  if (!locationID_) return;
  if (controller_ && !controller_->isUserActive()) {
    controller_->logActivity("skipped " + name() + (applyReason_.empty() ? "" : " (" + textForLog(applyReason_) + ")") +
                             ": the user is not active (logged out or screen locked)");
    return;
  }
  if (int32_t e = setCursorSpeed()) AbendApp(ports_.alerting.platform(), *errors_, nullptr, nullptr, e, 5220112);
}

// --- Speeds to give back ------------------------------------------------------------------------

std::string ServiceClass::restoreKey() const {
  return RestoreValues::keyFor(vid_, pid_, mid_, transport_.value_or(""), locationID_);
}

void ServiceClass::adoptSavedValues() {
  RestoreValues* rv = controller_ ? controller_->restoreValues() : nullptr;
  if (!rv || !locationID_) return;
  if (const SavedSpeed* saved = rv->find(restoreKey())) pointerResolution_ = Fix2X(saved->resolution);
}

void ServiceClass::recordSavedValues(const ServiceRef& service) {
  RestoreValues* rv = controller_ ? controller_->restoreValues() : nullptr;
  if (!rv || !service || !locationID_) return;
  std::string key = restoreKey();
  if (rv->find(key)) return;
  // A resolution no write would take could not be given back anyway.
  if (!(pointerResolution_ >= 10 && pointerResolution_ <= 2000)) return;
  SavedSpeed saved;
  saved.resolution = X2Fix(pointerResolution_);
  saved.accelerationKey = pointerAcclType_.value_or(kHIDMouseAccelerationKey);
  std::optional<pl::Value> own = service->property(saved.accelerationKey);
  double acceleration = own && own->isNumber() ? Fix2X(own->intValue())
                                               : systemAcceleration(ports_.eventSystem, &saved.accelerationKey, kSystemAccelerationCap);
  saved.acceleration = X2Fix(std::min(acceleration, kSystemAccelerationCap));
  Status kept = rv->record(key, saved);
  // Without the file the speed is still applied; only a crash could then leave it behind.
  if (!kept && !savingFailed_ && controller_)
    controller_->logActivity("cannot keep " + textForLog(key) + "'s own speed for after a crash: " + textForLog(kept.detail()));
  savingFailed_ = !kept;
}

void ServiceClass::forgetSavedValues() {
  leftOverRestored_ = false;
  RestoreValues* rv = controller_ ? controller_->restoreValues() : nullptr;
  if (!rv || !locationID_) return;
  if (Status removed = rv->remove(restoreKey()); !removed && controller_) controller_->logActivity(textForLog(removed.detail()));
}

int32_t ServiceClass::restoreLeftOver(const ServiceRef& only) {
  RestoreValues* rv = controller_ ? controller_->restoreValues() : nullptr;
  if (!rv || !locationID_) return 0;
  std::string key = restoreKey();
  const SavedSpeed* found = rv->find(key);
  if (!found || !(rv->isLeftOver(key) || leftOverRestored_) || !isTargetDevice()) return 0;
  SavedSpeed saved = *found;
  pointerResolution_ = Fix2X(saved.resolution);
  std::vector<ServiceRef> clients = only ? std::vector<ServiceRef>{only} : clientList_;
  for (const auto& s : clients) {
    if (int32_t e = QS852setCursorSpeed(errors_->stack, s.get(), &saved.accelerationKey, Fix2X(saved.resolution),
                                        Fix2X(saved.acceleration), std::nullopt)) {
      QS810stackError(errors_->stack, nullptr, e);
      return 5220190;
    }
  }
  if (controller_ && !leftOverRestored_)
    controller_->logActivity("gave " + textForLog(key) +
                             " back the speed it had before an earlier run ended abnormally: resolution " +
                             pl::formatShortest(Fix2X(saved.resolution)) + ", " +
                             textForLog(saved.accelerationKey, kLogTransportLimit) + " " +
                             pl::formatShortest(Fix2X(saved.acceleration)));
  rv->clearLeftOver(key);
  leftOverRestored_ = true;
  return 0;
}

}  // namespace vl
