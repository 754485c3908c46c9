// Live input ports for the curve graph's speed indicator: the HID manager, which hands raw
// input values (usage, integer value, timestamp) of matching HID devices, and mouse-moved
// event monitors, which hand the cursor deltas of every movement.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "core/plist/value.h"
#include "platform/api/hid.h"

namespace vl {

// Matching keys of the HID manager and of input-value matching.
inline constexpr const char* kIOHIDLocationIDKey = "LocationID";
inline constexpr const char* kIOHIDDeviceUsagePairsKey = "DeviceUsagePairs";
inline constexpr const char* kIOHIDDeviceUsagePageKey = "DeviceUsagePage";
inline constexpr const char* kIOHIDDeviceUsageKey = "DeviceUsage";
inline constexpr const char* kIOHIDElementUsagePageKey = "UsagePage";
inline constexpr const char* kIOHIDElementUsageKey = "Usage";

// Generic desktop page and its usages the indicator reads.
inline constexpr uint32_t kHIDPage_GenericDesktop = 1;
inline constexpr uint32_t kHIDUsage_GD_Pointer = 1;
inline constexpr uint32_t kHIDUsage_GD_Mouse = 2;
inline constexpr uint32_t kHIDUsage_GD_X = 48;
inline constexpr uint32_t kHIDUsage_GD_Y = 49;

// One input value: IOHIDValueGetElement's usage page and usage, IOHIDValueGetIntegerValue
// and IOHIDValueGetTimeStamp. The values of one input report share a timestamp.
struct HidInputValue {
  uint32_t usagePage = 0;
  uint32_t usage = 0;
  int64_t integerValue = 0;
  uint64_t timestamp = 0;
  bool operator==(const HidInputValue&) const = default;
};

// An IOHIDDeviceRef as the HID manager hands it.
class HidInputDevice {
 public:
  // IOHIDValueCallback: result is a platform status (kIOReturnSuccess for a good value).
  using InputValueCallback = std::function<void(int32_t result, const HidInputValue& value)>;

  virtual ~HidInputDevice() = default;
  // IOHIDDeviceGetService.
  virtual RegistryId service() const = 0;
  // IOHIDDeviceOpen / IOHIDDeviceClose; open returns a platform status.
  [[nodiscard]] virtual int32_t open() = 0;
  virtual void close() = 0;
  // IOHIDDeviceSetInputValueMatchingMultiple: an array of {"UsagePage", "Usage"} dictionaries;
  // only values of elements matching one of them are delivered. An empty array lets all through.
  virtual void setInputValueMatchingMultiple(const pl::Array& matching) = 0;
  // IOHIDDeviceRegisterInputValueCallback; an empty callback unregisters.
  virtual void registerInputValueCallback(InputValueCallback cb) = 0;
  // IOHIDDeviceScheduleWithRunLoop / IOHIDDeviceUnscheduleFromRunLoop on the current run loop
  // in the common modes: values are delivered, on the run loop, only while scheduled.
  virtual void scheduleWithRunLoop() = 0;
  virtual void unscheduleFromRunLoop() = 0;
};
using HidInputDeviceRef = std::shared_ptr<HidInputDevice>;

// An IOHIDManagerRef.
class HidManager {
 public:
  virtual ~HidManager() = default;
  // IOHIDManagerSetDeviceMatching: property matching as the HID family does it ("LocationID",
  // "DeviceUsagePairs" of {"DeviceUsagePage", "DeviceUsage"}: any pair of the device matches).
  virtual void setDeviceMatching(const pl::Dict& matching) = 0;
  // IOHIDManagerOpen (no options); a platform status.
  [[nodiscard]] virtual int32_t open() = 0;
  // IOHIDManagerClose.
  virtual void close() = 0;
  // IOHIDManagerCopyDevices: the devices that match now (empty without matching).
  virtual std::vector<HidInputDeviceRef> copyDevices() = 0;
};

class HidManagers {
 public:
  virtual ~HidManagers() = default;
  // IOHIDManagerCreate; null on failure.
  virtual std::unique_ptr<HidManager> createManager() = 0;
};

// A mouse-moved event: NSEvent's deltaX and deltaY (cursor points, before the cursor is
// clamped to the screens).
struct MouseMovedEvent {
  double deltaX = 0;
  double deltaY = 0;
};

class EventMonitors {
 public:
  using Token = uint64_t;  // 0 is never a valid token
  using Handler = std::function<void(const MouseMovedEvent&)>;

  virtual ~EventMonitors() = default;
  // +[NSEvent addLocalMonitorForEventsMatchingMask:NSEventMaskMouseMoved handler:]: movements
  // while this application receives the events. Handlers run on the run loop.
  virtual Token addLocalMouseMovedMonitor(Handler handler) = 0;
  // +[NSEvent addGlobalMonitorForEventsMatchingMask:NSEventMaskMouseMoved handler:]: movements
  // while another application receives them.
  virtual Token addGlobalMouseMovedMonitor(Handler handler) = 0;
  // +[NSEvent removeMonitor:]; an unknown token is ignored.
  virtual void removeMonitor(Token token) = 0;
};

}  // namespace vl
