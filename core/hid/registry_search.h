// Registry search and device identity: entries of a class above or below a device, driver
// and location, the resolution the system set, Apple/Magic classification, user clients,
// and the Logitech Unifying receiver's pairing answers.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/errors/error_stack.h"
#include "core/plist/value.h"
#include "platform/api/hid.h"
#include "platform/api/platform.h"

namespace vl {

inline constexpr uint32_t kAppleUsbVendorID = 0x05AC;
inline constexpr uint32_t kAppleBluetoothVendorID = 0x004C;
inline constexpr uint32_t kLogitechVendorID = 0x046D;
inline constexpr uint32_t kWacomVendorID = 0x056A;

// Apple device identification.
bool QS822isApplMouse(uint32_t vid, uint32_t pid);
bool QS822isMagicMouse(uint32_t vid, uint32_t pid);
bool QS822isMagicTrackpad(uint32_t vid, uint32_t pid);
bool QS822isAppleInternalTrackpad(uint32_t vid, uint32_t pid);
bool QS822isAppleTrackpad(uint32_t vid, uint32_t pid);
bool QS822isAppleGestureDevice(uint32_t vid, uint32_t pid);

// Registry navigation. Returned entries belong to the caller; a null registry finds nothing.
// The entry of className at entry, above it or below it (0 after pushing an error when none).
RegistryId parentRegistryEntry(IoRegistry* registry, ErrorStack& errors, RegistryId entry, const char* className);
RegistryId eventServiceEntry(IoRegistry* registry, ErrorStack& errors, RegistryId entry);
std::optional<pl::Value> searchLocationID(IoRegistry* registry, ErrorStack& errors, RegistryId entry);
std::optional<std::string> searchDriverID(IoRegistry* registry, ErrorStack& errors, RegistryId entry);
// The resolution (fixed point read as a number) under key; -1 when no entry carries it.
double searchResolution(IoRegistry* registry, RegistryId entry, const char* key);
inline RegistryId QS822createParentRegistry(const Platform& p, ErrorStack& errors, RegistryId entry, const char* className) {
  return parentRegistryEntry(p.registry, errors, entry, className);
}
inline RegistryId QS822createEventServiceRegistry(const Platform& p, ErrorStack& errors, RegistryId entry) {
  return eventServiceEntry(p.registry, errors, entry);
}
inline std::optional<pl::Value> QS822searchLocationID(const Platform& p, ErrorStack& errors, RegistryId entry) {
  return searchLocationID(p.registry, errors, entry);
}
inline std::optional<std::string> QS822searchDriverID(const Platform& p, ErrorStack& errors, RegistryId entry) {
  return searchDriverID(p.registry, errors, entry);
}
inline double QS822searchResolution(const Platform& p, RegistryId entry, const char* key) {
  return searchResolution(p.registry, entry, key);
}
bool QS822isDrovanaDriver(const Platform& p, RegistryId entry);

// HID devices at a location, found in the registry and opened through hidDevices.
std::vector<HidDeviceRef> hidDeviceList(IoRegistry* registry, HidDevices* hidDevices,
                                        const std::optional<pl::Value>& locationID, uint32_t usagePage, uint32_t usage,
                                        const char* key = nullptr, const pl::Value* value = nullptr);
HidDeviceRef openHidDevice(IoRegistry* registry, HidDevices* hidDevices, const std::optional<pl::Value>& locationID,
                           uint32_t usagePage, uint32_t usage, const char* key = nullptr,
                           const pl::Value* value = nullptr);
// The receiver's vendor interface at a location.
HidDeviceRef logitechReceiverDevice(IoRegistry* registry, HidDevices* hidDevices, const std::optional<pl::Value>& locationID);
inline std::vector<HidDeviceRef> QS822HIDDeviceList(const Platform& p, const std::optional<pl::Value>& locationID,
                                                    uint32_t usagePage, uint32_t usage, const char* key = nullptr,
                                                    const pl::Value* value = nullptr) {
  return hidDeviceList(p.registry, p.hidDevices, locationID, usagePage, usage, key, value);
}
inline HidDeviceRef QS822createHIDDevice(const Platform& p, const std::optional<pl::Value>& locationID, uint32_t usagePage,
                                         uint32_t usage, const char* key = nullptr, const pl::Value* value = nullptr) {
  return openHidDevice(p.registry, p.hidDevices, locationID, usagePage, usage, key, value);
}
inline HidDeviceRef QS822createLogitechHID(const Platform& p, const std::optional<pl::Value>& locationID) {
  return logitechReceiverDevice(p.registry, p.hidDevices, locationID);
}
std::optional<std::string> QS822getUserClients(const Platform& p, const HidDevice* device, const char* excludeName);

// Logitech Unifying receiver.
std::optional<std::string> QS822logitechUnifyingDeviceName(const Platform& p, HidDevice* device, int index);
[[nodiscard]] int32_t QS822logitechFirmVersion(const Platform& p, ErrorStack& errors, HidDevice* device, int index, uint32_t* outVersion);

// Access and product-specific checks.
bool QS822IOHIDCheckAccess(const Platform& p);
bool VL722isSupportedServiceClient(const Platform& p, const HidServiceClient* service);
// The localization key of the message about an incompatible sibling product, or null.
const char* VL712drovanaError(uint32_t drovanaVersion);

}  // namespace vl
