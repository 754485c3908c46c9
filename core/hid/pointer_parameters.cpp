// Pointer parameters on HID event-system services.
#include "core/hid/pointer_parameters.h"

#include <algorithm>

#include "core/errors/error_stack.h"
#include "core/hid/fixed_point.h"
#include "platform/api/platform.h"

namespace vl {

namespace {

// A number property as the platform's number object reads it; wrong types count as absent.
std::optional<pl::Value> numberProperty(const HidServiceClient* service, std::string_view key) {
  if (!service) return std::nullopt;
  auto v = service->property(key);
  if (!v || !v->isNumber()) return std::nullopt;
  return v;
}

// Writes a 16.16 value wrapped as a signed 32-bit number.
[[nodiscard]] bool writeFixed(HidServiceClient* service, std::string_view key, double value) {
  return service->setProperty(key, pl::Value::int32(X2Fix(value))).ok();
}

double readFixed(const HidServiceClient* service, std::string_view key) {
  auto v = numberProperty(service, key);
  if (!v) return 0.0;
  return Fix2X(v->intValue());
}

// Routes the watcher's arrival and removal events to the target.
void arrival(HidEventSystemClient* client, ServiceNotifyTarget* target, const ServiceRef& service, bool isNew) {
  client->registerRemovalCallback(service, [target](const ServiceRef& s) { target->serviceNotify(s, false, true); });
  target->serviceNotify(service, true, isNew);
}

}  // namespace

bool isSameService(const HidServiceClient* a, const HidServiceClient* b) {
  if (!a || !b) return false;
  if (a == b) return true;
  return a->registryID() != 0 && a->registryID() == b->registryID();
}

std::optional<uint32_t> serviceUInt32(const HidServiceClient* service, std::string_view key) {
  auto v = numberProperty(service, key);
  if (!v) return std::nullopt;
  return v->unsignedIntValue();
}

std::optional<std::string> serviceString(const HidServiceClient* service, std::string_view key) {
  if (!service) return std::nullopt;
  auto v = service->property(key);
  if (!v || !v->isString()) return std::nullopt;
  return *v->asString();
}

void QS852installServiceNotify(HidEventSystemClient* client, ServiceNotifyTarget* target) {
  if (!client || !target) return;
  pl::Array matching;
  matching.push_back(pl::Dict{{"DeviceUsagePage", 1}, {"DeviceUsage", 1}});
  matching.push_back(pl::Dict{{"DeviceUsagePage", 1}, {"DeviceUsage", 2}});
  client->setMatchingMultiple(matching);
  client->scheduleWithRunLoop();
  client->registerDeviceMatchingCallback(
      [client, target](const ServiceRef& s) { arrival(client, target, s, /*isNew=*/true); });
  auto services = client->copyServices();
  for (const auto& s : services) arrival(client, target, s, /*isNew=*/false);
}

void QS852removeServiceNotify(HidEventSystemClient* client) {
  if (!client) return;
  client->registerDeviceMatchingCallback(nullptr);
  client->unscheduleFromRunLoop();
}

bool QS852isCompatibilityInterface(const HidServiceClient* service) {
  if (!service) return false;
  auto v = service->property("HIDCompatibilityInterface");
  return v && v->isBool() && v->boolValue();
}

bool QS852isSupportedServiceClient(const Platform& p, const HidServiceClient* service) {
  if (!service) return false;
  if (QS852isCompatibilityInterface(service)) return false;
  if (serviceUInt32(service, "VendorID").value_or(0) == 0) return false;
  uint32_t page = serviceUInt32(service, "PrimaryUsagePage").value_or(0);
  uint32_t usage = serviceUInt32(service, "PrimaryUsage").value_or(0);
  if (page == 0xFF00 && usage == 0x17) return false;
  auto location = numberProperty(service, "LocationID");
  if (!location || location->longLongValue() == 0) return false;
  return QS852createRegistryAndReturnError(p, service, nullptr) == 0;
}

int32_t QS852createRegistryAndReturnError(const Platform& p, const HidServiceClient* service, RegistryId* outEntry) {
  return QS852createRegistryAndReturnError(p.registry, service, outEntry);
}

int32_t QS852createRegistryAndReturnError(IoRegistry* reg, const HidServiceClient* service, RegistryId* outEntry) {
  if (!service) return 8520179;
  RegistryId id = service->registryID();
  if (id == 0) return 8520182;
  if (!reg) return 8520185;
  pl::Dict matching{{kIORegistryEntryIDKey, pl::Value::uint64(id)}};
  auto found = reg->matchingServices(matching);
  if (found.status != kIOReturnSuccess || found.entries.empty()) return 8520190;
  if (outEntry) *outEntry = found.entries.front();
  return 0;
}

RegistryId QS852createRegistry(const Platform& p, const HidServiceClient* service) {
  return QS852createRegistry(p.registry, service);
}

RegistryId QS852createRegistry(IoRegistry* registry, const HidServiceClient* service) {
  RegistryId entry = 0;
  if (QS852createRegistryAndReturnError(registry, service, &entry) != 0) return 0;
  return entry;
}

std::optional<std::string> QS852getClass(const Platform& p, const HidServiceClient* service) {
  RegistryId entry = QS852createRegistry(p, service);
  if (entry == 0) return std::nullopt;
  std::string cls = p.registry->className(entry);
  if (cls.empty()) return std::nullopt;
  return cls;
}

void QS852getDeviceInfo(const HidServiceClient* service, uint32_t* outVid, uint32_t* outPid, uint32_t* outMid,
                        std::optional<std::string>* outTransport, std::optional<pl::Value>* outLocationID,
                        uint8_t* outUnifyingIndex) {
  if (!service) return;
  if (outVid) *outVid = serviceUInt32(service, "VendorID").value_or(0);
  if (outPid) *outPid = serviceUInt32(service, "ProductID").value_or(0);
  if (outMid) *outMid = serviceUInt32(service, kQuillonMIDKey).value_or(0);
  if (outTransport) *outTransport = serviceString(service, "Transport");
  if (outLocationID) {
    auto loc = numberProperty(service, "LocationID");
    // A location stored as a negative 32-bit number is the unsigned registry value.
    if (loc && loc->intValue() < 0) loc = pl::Value::uint32(loc->unsignedIntValue());
    *outLocationID = loc;
  }
  if (outUnifyingIndex)
    *outUnifyingIndex = static_cast<uint8_t>(serviceUInt32(service, kQuillonUnifyingIXKey).value_or(0) & 0xFF);
}

int32_t QS852setUnifyingInfo(HidServiceClient* service, uint32_t mid, uint8_t unifyingIndex) {
  if (!service) return 8520310;
  if (!service->setProperty(kQuillonMIDKey, pl::Value::uint32(mid)).ok()) return 8520311;
  if (!service->setProperty(kQuillonUnifyingIXKey, pl::Value::uint8(unifyingIndex)).ok()) return 8520312;
  return 0;
}

int32_t QS852setCursorSpeed(HidServiceClient* service, const std::string* acclKey, std::optional<double> sensitivity,
                            std::optional<double> trackingSpeed, std::optional<bool> disableAccl) {
  bool disabled = disableAccl.value_or(false);
  if (sensitivity && !disabled) {
    if (int32_t e = QS852setCursorSens(service, *sensitivity)) {
      QS810stackError(nullptr, e);
      return 8520331;
    }
  }
  double value = disabled ? kDisabledAcceleration : trackingSpeed.value_or(kDefaultTrackingSpeed);
  if (int32_t e = QS852setCursorAccl(service, acclKey, value)) {
    QS810stackError(nullptr, e);
    return 8520339;
  }
  return 0;
}

int32_t QS852setCursorSens(HidServiceClient* service, double resolution) {
  // NaN fails both comparisons of the range check; refuse it with the same number rather
  // than writing a meaningless resolution.
  if (!(resolution >= 10 && resolution <= 2000)) return 8520352;
  // The write's own result is not checked: a service that refuses keeps its value.
  if (service) (void)writeFixed(service, kHIDPointerResolutionKey, resolution);
  return 0;
}

int32_t QS852setCursorAccl(HidServiceClient* service, const std::string* acclKey, double value) {
  if (!acclKey) return 8520365;
  if (!(value <= 20)) return 8520366;
  if (service) (void)writeFixed(service, *acclKey, value);  // result not checked, as above
  return 0;
}

double QS852getCursorSens(const HidServiceClient* service) { return readFixed(service, kHIDPointerResolutionKey); }

int32_t QS852setScrollSpeed(HidServiceClient* service, std::optional<double> sensitivity,
                            std::optional<double> acceleration, const std::string* acclKey) {
  if (!service) return 8520385;
  if (int32_t e = QS852setScrollSens(service, sensitivity.value_or(kDefaultScrollSensitivity))) {
    QS810stackError(nullptr, e);
    return 8520389;
  }
  if (int32_t e = QS852setScrollAccl(service, acclKey, acceleration.value_or(kDefaultScrollAcceleration))) {
    QS810stackError(nullptr, e);
    return 8520395;
  }
  return 0;
}

int32_t QS852setScrollSpeedWithFactor(HidServiceClient* service, std::optional<double> sensitivity,
                                      std::optional<double> acceleration, const std::string* acclKey, double factor) {
  if (!service) return 8520411;
  if (int32_t e = QS852setScrollSensFactor(service, sensitivity.value_or(0.0), factor)) {
    QS810stackError(nullptr, e);
    return 8520417;
  }
  if (int32_t e = QS852setScrollAccl(service, acclKey, acceleration.value_or(kDefaultScrollAcceleration))) {
    QS810stackError(nullptr, e);
    return 8520423;
  }
  return 0;
}

int32_t QS852setScrollSens(HidServiceClient* service, double resolution) {
  if (!(resolution >= 0 && resolution <= 1000)) return 8520437;
  if (service) (void)writeFixed(service, kHIDScrollResolutionKey, resolution);  // result not checked
  return 0;
}

int32_t QS852setScrollSensFactor(HidServiceClient* service, double sensitivity, double factor) {
  if (!(factor > 0)) return 8520451;
  double s = std::max(sensitivity, -100.0);
  if (s >= 1) s = 0.999;
  double resolution = std::clamp((1 - s) * factor, 0.0, 1000.0);
  if (int32_t e = QS852setScrollSens(service, resolution)) {
    QS810stackError(nullptr, e);
    return 8520475;
  }
  return 0;
}

int32_t QS852setScrollAccl(HidServiceClient* service, const std::string* acclKey, double value) {
  if (!acclKey || acclKey->empty()) return 8520487;
  if (!(value <= 20)) return 8520488;
  if (service) (void)writeFixed(service, *acclKey, value);  // result not checked, as above
  return 0;
}

double QS852getScrollSens(const HidServiceClient* service) { return readFixed(service, kHIDScrollResolutionKey); }

uint32_t QS812hidSystem(const Platform& p) { return QS812hidSystem(p.eventSystem); }

uint32_t QS812hidSystem(HidEventSystem* eventSystem) {
  // The event-system port opens the connection once and keeps it for its own life.
  return eventSystem ? eventSystem->openEventStatus() : 0;
}

double QS812systemAcclForType(const Platform& p, const std::string* acclKey, double cap) {
  return QS812systemAcclForType(p.eventSystem, acclKey, cap);
}

double QS812systemAcclForType(HidEventSystem* eventSystem, const std::string* acclKey, double cap) {
  double value = 0;
  if (acclKey && eventSystem) {
    double read = 0;
    if (eventSystem->getAccelerationWithKey(QS812hidSystem(eventSystem), *acclKey, &read) == kIOReturnSuccess) {
      value = Fix2X(static_cast<Fixed>(std::clamp(std::trunc(read * 65536.0), -2147483648.0, 2147483647.0)));
    } else {
      value = read;
    }
  }
  value = std::min(value, cap);
  return std::max(value, 0.0);
}

}  // namespace vl
