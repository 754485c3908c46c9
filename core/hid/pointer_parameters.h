// Pointer parameters on HID event-system services: watching pointing services, telling
// supported ones apart, reading identities, and writing cursor and scroll speeds as 16.16.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/plist/value.h"
#include "platform/api/hid.h"
#include "platform/api/platform.h"

namespace vl {

inline constexpr const char* kHIDPointerResolutionKey = "HIDPointerResolution";
inline constexpr const char* kHIDScrollResolutionKey = "HIDScrollResolution";
inline constexpr const char* kHIDMouseAccelerationKey = "HIDMouseAcceleration";
inline constexpr const char* kHIDTrackpadAccelerationKey = "HIDTrackpadAcceleration";
inline constexpr const char* kHIDPointerAccelerationKey = "HIDPointerAcceleration";
inline constexpr const char* kHIDMouseScrollAccelerationKey = "HIDMouseScrollAcceleration";
inline constexpr const char* kHIDTrackpadScrollAccelerationKey = "HIDTrackpadScrollAcceleration";
inline constexpr const char* kHIDScrollAccelerationKey = "HIDScrollAcceleration";
inline constexpr const char* kHIDPointerAccelerationTypeKey = "HIDPointerAccelerationType";
inline constexpr const char* kHIDScrollAccelerationTypeKey = "HIDScrollAccelerationType";
inline constexpr const char* kQuillonMIDKey = "QuillonMID";
inline constexpr const char* kQuillonUnifyingIXKey = "QuillonUnifyingIX";

inline constexpr double kDefaultTrackingSpeed = 0.6875;
inline constexpr double kDisabledAcceleration = -1.0;
inline constexpr double kDefaultScrollSensitivity = 9.0;
inline constexpr double kDefaultScrollAcceleration = 0.3125;
inline constexpr double kSystemAccelerationCap = 20.0;

// Receiver of the watcher's events. Services present at installation arrive with isNew
// false, later ones with isNew true; removals arrive with attached false, isNew true.
class ServiceNotifyTarget {
 public:
  virtual ~ServiceNotifyTarget() = default;
  virtual void serviceNotify(const ServiceRef& service, bool attached, bool isNew) = 0;
};

// Watching.
void QS852installServiceNotify(HidEventSystemClient* client, ServiceNotifyTarget* target);
void QS852removeServiceNotify(HidEventSystemClient* client);

// Classifying and resolving.
bool QS852isCompatibilityInterface(const HidServiceClient* service);
bool QS852isSupportedServiceClient(const Platform& p, const HidServiceClient* service);
// On success stores the entry in *outEntry when given.
[[nodiscard]] int32_t QS852createRegistryAndReturnError(const Platform& p, const HidServiceClient* service, RegistryId* outEntry);
RegistryId QS852createRegistry(const Platform& p, const HidServiceClient* service);
// The same through the registry alone.
[[nodiscard]] int32_t QS852createRegistryAndReturnError(IoRegistry* registry, const HidServiceClient* service, RegistryId* outEntry);
RegistryId QS852createRegistry(IoRegistry* registry, const HidServiceClient* service);
std::optional<std::string> QS852getClass(const Platform& p, const HidServiceClient* service);

// Identity; each output may be null.
void QS852getDeviceInfo(const HidServiceClient* service, uint32_t* outVid, uint32_t* outPid,
                        uint32_t* outMid, std::optional<std::string>* outTransport,
                        std::optional<pl::Value>* outLocationID, uint8_t* outUnifyingIndex);
inline void getDeviceInfo(const HidServiceClient* service, uint32_t* outVid, uint32_t* outPid, uint32_t* outMid,
                          std::optional<std::string>* outTransport, std::optional<pl::Value>* outLocationID,
                          uint8_t* outUnifyingIndex) {
  QS852getDeviceInfo(service, outVid, outPid, outMid, outTransport, outLocationID, outUnifyingIndex);
}
[[nodiscard]] int32_t QS852setUnifyingInfo(HidServiceClient* service, uint32_t mid, uint8_t unifyingIndex);

// Pointer speed. Absent optionals are the nil arguments.
[[nodiscard]] int32_t QS852setCursorSpeed(HidServiceClient* service, const std::string* acclKey,
                            std::optional<double> sensitivity, std::optional<double> trackingSpeed,
                            std::optional<bool> disableAccl);
[[nodiscard]] inline int32_t setCursorSpeed(HidServiceClient* service, const std::string* acclKey,
                                           std::optional<double> sensitivity, std::optional<double> trackingSpeed,
                                           std::optional<bool> disableAccl) {
  return QS852setCursorSpeed(service, acclKey, sensitivity, trackingSpeed, disableAccl);
}
[[nodiscard]] int32_t QS852setCursorSens(HidServiceClient* service, double resolution);
[[nodiscard]] int32_t QS852setCursorAccl(HidServiceClient* service, const std::string* acclKey, double value);
double QS852getCursorSens(const HidServiceClient* service);
inline double getCursorSensitivity(const HidServiceClient* service) { return QS852getCursorSens(service); }

// Scroll speed.
[[nodiscard]] int32_t QS852setScrollSpeed(HidServiceClient* service, std::optional<double> sensitivity,
                            std::optional<double> acceleration, const std::string* acclKey);
[[nodiscard]] int32_t QS852setScrollSpeedWithFactor(HidServiceClient* service, std::optional<double> sensitivity,
                                      std::optional<double> acceleration, const std::string* acclKey,
                                      double factor);
[[nodiscard]] int32_t QS852setScrollSens(HidServiceClient* service, double resolution);
[[nodiscard]] int32_t QS852setScrollSensFactor(HidServiceClient* service, double sensitivity, double factor);
[[nodiscard]] int32_t QS852setScrollAccl(HidServiceClient* service, const std::string* acclKey, double value);
double QS852getScrollSens(const HidServiceClient* service);

// System acceleration.
// The connection to the HID system (0 when there is none).
uint32_t QS812hidSystem(const Platform& p);
double QS812systemAcclForType(const Platform& p, const std::string* acclKey, double cap);
// The same through the event system alone.
uint32_t QS812hidSystem(HidEventSystem* eventSystem);
double QS812systemAcclForType(HidEventSystem* eventSystem, const std::string* acclKey, double cap);

// Whether two handles stand for the same service: the same object, or two objects for one
// registry entry (a service that arrives again through another client). Null is no service.
bool isSameService(const HidServiceClient* a, const HidServiceClient* b);
inline bool isSameService(const ServiceRef& a, const ServiceRef& b) { return isSameService(a.get(), b.get()); }

// Typed reads of service properties: a property of the wrong type counts as absent.
std::optional<uint32_t> serviceUInt32(const HidServiceClient* service, std::string_view key);
std::optional<std::string> serviceString(const HidServiceClient* service, std::string_view key);

}  // namespace vl
