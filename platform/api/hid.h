// HID ports: the I/O registry, the HID event system (service clients, matching, arrival,
// removal and property-change callbacks, system-wide acceleration), and HID devices with
// their elements, input queues and reports.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/plist/value.h"
#include "platform/api/status.h"

namespace vl {

// A registry entry is named by its registry id; 0 is "no entry". Ids stay unique for the
// life of the registry, so a stale id simply finds nothing.
using RegistryId = uint64_t;

// Platform status codes (kern_return_t / IOReturn).
inline constexpr int32_t kIOReturnSuccess = 0;
inline constexpr int32_t kIOReturnError = static_cast<int32_t>(0xE00002BC);
inline constexpr int32_t kIOReturnNoMemory = static_cast<int32_t>(0xE00002BD);
inline constexpr int32_t kIOReturnNotPermitted = static_cast<int32_t>(0xE00002E2);
inline constexpr int32_t kIOReturnNotFound = static_cast<int32_t>(0xE00002F0);
inline constexpr int32_t kIOReturnExclusiveAccess = static_cast<int32_t>(0xE00002C5);

// Matching-dictionary keys understood by IoRegistry::matchingServices.
inline constexpr const char* kIOProviderClassKey = "IOProviderClass";
inline constexpr const char* kIOPropertyMatchKey = "IOPropertyMatch";
inline constexpr const char* kIORegistryEntryIDKey = "IORegistryEntryID";
inline constexpr const char* kIONameMatchKey = "IONameMatch";  // IOServiceNameMatching: the entry's name

class IoRegistry {
 public:
  virtual ~IoRegistry() = default;

  virtual bool exists(RegistryId id) const = 0;
  // IOObjectCopyClass / IOObjectGetClass: the entry's class; empty when the entry is gone.
  virtual std::string className(RegistryId id) const = 0;
  // IOObjectConformsTo.
  virtual bool conformsTo(RegistryId id, std::string_view cls) const = 0;
  // IORegistryEntryGetName.
  virtual std::string name(RegistryId id) const = 0;
  // IORegistryEntryCreateCFProperty; nullopt when absent.
  virtual std::optional<pl::Value> property(RegistryId id, std::string_view key) const = 0;
  virtual pl::Dict properties(RegistryId id) const = 0;

  // IORegistryEntryCreateIterator in the service plane. Ancestors come nearest first;
  // descendants depth-first in child order. status is kIOReturnSuccess or the platform
  // code of a failed iterator.
  struct Iteration {
    int32_t status = kIOReturnSuccess;
    std::vector<RegistryId> entries;
  };
  virtual Iteration parents(RegistryId id, bool recursive) const = 0;
  virtual Iteration children(RegistryId id, bool recursive) const = 0;

  // IOServiceGetMatchingServices. The dictionary may hold "IOProviderClass" (entry must
  // conform), "IONameMatch" (the entry's name), "IORegistryEntryID", "IOPropertyMatch" (a dictionary of properties that must
  // be equal) and, as the HID family matches them, other keys compared with the entry's
  // properties ("DeviceUsagePage"/"DeviceUsage" also match any of its "DeviceUsagePairs").
  // status is the platform code when the lookup itself failed.
  virtual Iteration matchingServices(const pl::Dict& matching) const = 0;
};

// --- HID event system --------------------------------------------------------------------

class HidServiceClient {
 public:
  virtual ~HidServiceClient() = default;
  // IOHIDServiceClientGetRegistryID; 0 when the service has none.
  virtual RegistryId registryID() const = 0;
  // IOHIDServiceClientCopyProperty; nullopt when absent.
  virtual std::optional<pl::Value> property(std::string_view key) const = 0;
  // IOHIDServiceClientSetProperty; a failure when the service refused the value.
  virtual Status setProperty(std::string_view key, const pl::Value& value) = 0;
};
using ServiceRef = std::shared_ptr<HidServiceClient>;

class HidEventSystemClient {
 public:
  using ServiceCallback = std::function<void(const ServiceRef& service)>;
  using PropertyCallback = std::function<void(const std::string& key, const pl::Value& value)>;

  virtual ~HidEventSystemClient() = default;
  // IOHIDEventSystemClientSetMatchingMultiple: an array of matching dictionaries.
  virtual void setMatchingMultiple(const pl::Array& matching) = 0;
  // Callbacks are delivered only while the client is scheduled on the run loop.
  virtual void scheduleWithRunLoop() = 0;
  virtual void unscheduleFromRunLoop() = 0;
  // IOHIDEventSystemClientRegisterDeviceMatchingCallback; an empty callback unregisters.
  virtual void registerDeviceMatchingCallback(ServiceCallback cb) = 0;
  // IOHIDEventSystemClientCopyServices: the services that match now.
  virtual std::vector<ServiceRef> copyServices() = 0;
  // IOHIDServiceClientRegisterRemovalCallback.
  virtual void registerRemovalCallback(const ServiceRef& service, ServiceCallback cb) = 0;
  // IOHIDEventSystemClientRegisterPropertyChangedCallback for one system-wide key; an empty
  // callback unregisters.
  virtual void registerPropertyChangedCallback(const std::string& key, PropertyCallback cb) = 0;
};

class HidEventSystem {
 public:
  virtual ~HidEventSystem() = default;
  // IOHIDEventSystemClientCreate; null on failure.
  virtual std::unique_ptr<HidEventSystemClient> createClient() = 0;
  // NXOpenEventStatus: the connection to the HID system, opened on the first call and kept
  // (and answered again) for the adapter's life; 0 on failure, retried on the next call.
  virtual uint32_t openEventStatus() = 0;
  // IOHIDGetAccelerationWithKey on that connection: the system's current acceleration for
  // the key. Returns a platform status; *value is left untouched on failure.
  [[nodiscard]] virtual int32_t getAccelerationWithKey(uint32_t connection, const std::string& key, double* value) = 0;
};

// --- HID devices ---------------------------------------------------------------------------

inline constexpr int kIOHIDReportTypeInput = 0;
inline constexpr int kIOHIDReportTypeOutput = 1;
inline constexpr int kIOHIDReportTypeFeature = 2;

class HidQueue {
 public:
  virtual ~HidQueue() = default;
  // Adds the element with this cookie ("ElementCookie" of an element dictionary).
  virtual void addElement(uint32_t cookie) = 0;
  virtual void start() = 0;
  virtual void stop() = 0;
  // IOHIDQueueCopyNextValue: the next queued value's bytes; nullopt when the queue is empty.
  virtual std::optional<pl::Data> copyNextValue() = 0;
};

class HidDevice {
 public:
  virtual ~HidDevice() = default;
  // IOHIDDeviceGetService.
  virtual RegistryId service() const = 0;
  [[nodiscard]] virtual int32_t open() = 0;
  virtual void close() = 0;
  // IOHIDDeviceCopyMatchingElements: element dictionaries (keys as ioreg shows them) whose
  // values equal every key of the matching dictionary; collections are searched too.
  virtual std::vector<pl::Dict> copyMatchingElements(const pl::Dict& matching) = 0;
  // IOHIDQueueCreate; null on failure.
  virtual std::unique_ptr<HidQueue> createQueue(int depth) = 0;
  // IOHIDDeviceSetReport; returns a platform status.
  [[nodiscard]] virtual int32_t setReport(int type, uint32_t reportID, const pl::Data& bytes) = 0;
};
using HidDeviceRef = std::shared_ptr<HidDevice>;

class HidDevices {
 public:
  virtual ~HidDevices() = default;
  // IOHIDDeviceCreate on a registry entry; null when the entry is no HID device.
  virtual HidDeviceRef createDevice(RegistryId entry) = 0;
  // IOHIDCheckAccess for listen-event access: true when granted.
  virtual bool checkListenAccess() = 0;
  // Blocks the calling thread while a device prepares its answer (the receiver exchanges
  // wait 0.1 s between reports); a simulated device answers at once and need not wait.
  virtual void pause(double seconds) = 0;
};

}  // namespace vl
