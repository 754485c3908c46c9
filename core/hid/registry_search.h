// Registry search and device identity: entries of a class above or below a device, driver
// and location, the resolution the system set, Apple/Magic classification, user clients,
// and the Logitech Unifying receiver's pairing answers.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

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

// Registry navigation through p's registry. Returned entries belong to the caller.
RegistryId QS822createParentRegistry(const Platform& p, RegistryId entry, const char* className);
RegistryId QS822createEventServiceRegistry(const Platform& p, RegistryId entry);
// The same through the registry alone.
RegistryId QS822createParentRegistry(IoRegistry* registry, RegistryId entry, const char* className);
RegistryId QS822createEventServiceRegistry(IoRegistry* registry, RegistryId entry);
std::optional<pl::Value> QS822searchLocationID(const Platform& p, RegistryId entry);
std::optional<std::string> QS822searchDriverID(const Platform& p, RegistryId entry);
double QS822searchResolution(const Platform& p, RegistryId entry, const char* key);
bool QS822isDrovanaDriver(const Platform& p, RegistryId entry);

// HID devices.
std::vector<HidDeviceRef> QS822HIDDeviceList(const Platform& p, const std::optional<pl::Value>& locationID, uint32_t usagePage,
                                             uint32_t usage, const char* key = nullptr,
                                             const pl::Value* value = nullptr);
HidDeviceRef QS822createHIDDevice(const Platform& p, const std::optional<pl::Value>& locationID, uint32_t usagePage, uint32_t usage,
                                  const char* key = nullptr, const pl::Value* value = nullptr);
HidDeviceRef QS822createLogitechHID(const Platform& p, const std::optional<pl::Value>& locationID);
// The same through the two ports they use: the registry (matching) and the HID devices (opening).
std::vector<HidDeviceRef> QS822HIDDeviceList(IoRegistry* registry, HidDevices* hidDevices, const std::optional<pl::Value>& locationID,
                                             uint32_t usagePage, uint32_t usage, const char* key = nullptr,
                                             const pl::Value* value = nullptr);
HidDeviceRef QS822createHIDDevice(IoRegistry* registry, HidDevices* hidDevices, const std::optional<pl::Value>& locationID,
                                  uint32_t usagePage, uint32_t usage, const char* key = nullptr, const pl::Value* value = nullptr);
HidDeviceRef QS822createLogitechHID(IoRegistry* registry, HidDevices* hidDevices, const std::optional<pl::Value>& locationID);
std::optional<std::string> QS822getUserClients(const Platform& p, const HidDevice* device, const char* excludeName);

// Logitech Unifying receiver.
std::optional<std::string> QS822logitechUnifyingDeviceName(const Platform& p, HidDevice* device, int index);
[[nodiscard]] int32_t QS822logitechFirmVersion(const Platform& p, HidDevice* device, int index, uint32_t* outVersion);

// Access and product-specific checks.
bool QS822IOHIDCheckAccess(const Platform& p);
bool VL722isSupportedServiceClient(const Platform& p, const HidServiceClient* service);
// The localization key of the message about an incompatible sibling product, or null.
const char* VL712drovanaError(uint32_t drovanaVersion);

}  // namespace vl
