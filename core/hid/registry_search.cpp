// Registry search and device identity.
#include "core/hid/registry_search.h"

#include <cstring>

#include "core/errors/error_stack.h"
#include "core/hid/fixed_point.h"
#include "core/hid/pointer_parameters.h"
#include "core/system/drovana.h"
#include "platform/api/platform.h"
#include "platform/api/system_info.h"

namespace vl {

namespace {

bool oneOf(uint32_t v, std::initializer_list<uint32_t> set) {
  for (uint32_t s : set)
    if (v == s) return true;
  return false;
}

constexpr std::initializer_list<uint32_t> kAppleMice = {0x0301, 0x0302, 0x0304, 0x0306, 0x0307, 0x0309, 0x030C};

std::optional<std::string> stringProperty(const Platform& p, RegistryId entry, std::string_view key) {
  auto v = p.registry->property(entry, key);
  if (!v || !v->isString()) return std::nullopt;
  return *v->asString();
}

std::optional<pl::Value> numberProperty(const Platform& p, RegistryId entry, std::string_view key) {
  auto v = p.registry->property(entry, key);
  if (!v || !v->isNumber()) return std::nullopt;
  return v;
}

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// Walks the entry, its ancestors and its descendants in the registry's search order and stops
// at the first entry for which visit returns true. Iterator failures push the platform code
// and the caller's number and make the walk fail.
enum class Walk { Found, NotFound, Failed };
template <class Visit>
Walk searchOrder(const Platform& p, RegistryId entry, int32_t parentError, int32_t childError, Visit visit) {
  if (visit(entry)) return Walk::Found;
  auto parents = p.registry->parents(entry, true);
  if (parents.status != kIOReturnSuccess) {
    QS810stackError(nullptr, parents.status);
    QS810stackError(nullptr, parentError);
    return Walk::Failed;
  }
  for (RegistryId a : parents.entries)
    if (visit(a)) return Walk::Found;
  auto children = p.registry->children(entry, true);
  if (children.status != kIOReturnSuccess) {
    QS810stackError(nullptr, children.status);
    QS810stackError(nullptr, childError);
    return Walk::Failed;
  }
  for (RegistryId c : children.entries)
    if (visit(c)) return Walk::Found;
  return Walk::NotFound;
}

}  // namespace

bool QS822isApplMouse(uint32_t vid, uint32_t pid) { return vid == kAppleUsbVendorID && oneOf(pid, kAppleMice); }

bool QS822isMagicMouse(uint32_t vid, uint32_t pid) {
  return (vid == kAppleBluetoothVendorID && pid == 0x0269) || (vid == kAppleUsbVendorID && oneOf(pid, {0x030D, 0x0269}));
}

bool QS822isMagicTrackpad(uint32_t vid, uint32_t pid) {
  return (vid == kAppleBluetoothVendorID && pid == 0x0265) || (vid == kAppleUsbVendorID && oneOf(pid, {0x030E, 0x0265}));
}

bool QS822isAppleInternalTrackpad(uint32_t vid, uint32_t pid) {
  return vid == kAppleUsbVendorID && !oneOf(pid, kAppleMice) && pid != 0x030D && !oneOf(pid, {0x0265, 0x0269, 0x030E});
}

bool QS822isAppleTrackpad(uint32_t vid, uint32_t pid) {
  return QS822isAppleInternalTrackpad(vid, pid) || (vid == kAppleBluetoothVendorID && pid == 0x0265) ||
         (vid == kAppleUsbVendorID && oneOf(pid, {0x0265, 0x030E}));
}

bool QS822isAppleGestureDevice(uint32_t vid, uint32_t pid) {
  return QS822isAppleTrackpad(vid, pid) || (vid == kAppleBluetoothVendorID && pid == 0x0269) ||
         (vid == kAppleUsbVendorID && oneOf(pid, {0x0269, 0x030D}));
}

RegistryId QS822createParentRegistry(const Platform& p, RegistryId entry, const char* className) {
  return QS822createParentRegistry(p.registry, entry, className);
}

RegistryId QS822createParentRegistry(IoRegistry* registry, RegistryId entry, const char* className) {
  if (entry == 0 || !className || !registry) {
    QS810stackError(nullptr, 8220026);
    return 0;
  }
  if (registry->conformsTo(entry, className)) return entry;
  auto parents = registry->parents(entry, true);
  if (parents.status != kIOReturnSuccess) {
    QS810stackError(nullptr, parents.status);
    QS810stackError(nullptr, 8220038);
    return 0;
  }
  for (RegistryId a : parents.entries)
    if (registry->conformsTo(a, className)) return a;
  auto children = registry->children(entry, true);
  if (children.status != kIOReturnSuccess) {
    QS810stackError(nullptr, children.status);
    QS810stackError(nullptr, 8220054);
    return 0;
  }
  for (RegistryId c : children.entries)
    if (registry->conformsTo(c, className)) return c;
  return 0;
}

RegistryId QS822createEventServiceRegistry(const Platform& p, RegistryId entry) {
  return QS822createEventServiceRegistry(p.registry, entry);
}

RegistryId QS822createEventServiceRegistry(IoRegistry* registry, RegistryId entry) {
  if (entry == 0 || !registry) return 0;
  if (registry->conformsTo(entry, "IOHIDEventService")) return entry;
  RegistryId device = QS822createParentRegistry(registry, entry, "IOHIDDevice");
  if (device == 0) {
    QS810stackError(nullptr, 8220788);
    return 0;
  }
  auto children = registry->children(device, true);
  if (children.status != kIOReturnSuccess) {
    QS810stackError(nullptr, children.status);
    QS810stackError(nullptr, 8220792);
    return 0;
  }
  for (RegistryId c : children.entries)
    if (registry->conformsTo(c, "IOHIDEventService")) return c;
  return 0;
}

std::optional<pl::Value> QS822searchLocationID(const Platform& p, RegistryId entry) {
  if (entry == 0 || !p.registry) return std::nullopt;
  std::optional<pl::Value> found;
  auto visit = [&](RegistryId e) {
    auto v = numberProperty(p, e, "LocationID");
    if (!v) v = numberProperty(p, e, "locationID");
    if (v && v->intValue() != 0) {
      found = v;
      return true;
    }
    return false;
  };
  if (searchOrder(p, entry, 8220292, 8220323, visit) != Walk::Found) return std::nullopt;
  return found;
}

std::optional<std::string> QS822searchDriverID(const Platform& p, RegistryId entry) {
  if (entry == 0 || !p.registry) return std::nullopt;
  std::optional<std::string> found;
  bool sawDrovana = false;
  auto visit = [&](RegistryId e) {
    auto id = stringProperty(p, e, "CFBundleIdentifier");
    if (!id) return false;
    if (startsWith(*id, drovana::kDriverBundlePrefix)) {
      sawDrovana = true;
      return false;
    }
    if (startsWith(*id, "com.apple")) return false;
    found = *id;
    return true;
  };
  Walk w = searchOrder(p, entry, 8220200, 8220229, visit);
  if (w == Walk::Failed) return std::nullopt;
  if (w == Walk::Found) return found;
  return std::string(sawDrovana ? drovana::kDriverBundlePrefix : "com.apple");
}

double QS822searchResolution(const Platform& p, RegistryId entry, const char* key) {
  if (entry == 0 || !key || !p.registry) return -1;
  if (auto v = numberProperty(p, entry, key)) return Fix2X(v->intValue());
  auto location = numberProperty(p, entry, "LocationID");
  if (!location) return -1;
  pl::Dict matching{{kIOProviderClassKey, "IOHIDEventService"},
                    {kIOPropertyMatchKey, pl::Dict{{"LocationID", *location}}}};
  auto services = p.registry->matchingServices(matching);
  if (services.status != kIOReturnSuccess) return -1;
  for (RegistryId s : services.entries)
    if (auto v = numberProperty(p, s, key)) return Fix2X(v->intValue());
  return -1;
}

bool QS822isDrovanaDriver(const Platform& p, RegistryId entry) {
  if (entry == 0 || !p.registry) return false;
  std::string cls = p.registry->className(entry);
  return cls == drovana::kDriverClass || cls == drovana::kDriverClassPT;
}

std::vector<HidDeviceRef> QS822HIDDeviceList(const Platform& p, const std::optional<pl::Value>& locationID, uint32_t usagePage,
                                             uint32_t usage, const char* key, const pl::Value* value) {
  return QS822HIDDeviceList(p.registry, p.hidDevices, locationID, usagePage, usage, key, value);
}

HidDeviceRef QS822createHIDDevice(const Platform& p, const std::optional<pl::Value>& locationID, uint32_t usagePage, uint32_t usage,
                                  const char* key, const pl::Value* value) {
  return QS822createHIDDevice(p.registry, p.hidDevices, locationID, usagePage, usage, key, value);
}

HidDeviceRef QS822createLogitechHID(const Platform& p, const std::optional<pl::Value>& locationID) {
  return QS822createLogitechHID(p.registry, p.hidDevices, locationID);
}

std::vector<HidDeviceRef> QS822HIDDeviceList(IoRegistry* registry, HidDevices* hidDevices, const std::optional<pl::Value>& locationID,
                                             uint32_t usagePage, uint32_t usage, const char* key, const pl::Value* value) {
  std::vector<HidDeviceRef> out;
  if (!locationID || !registry || !hidDevices) return out;
  pl::Dict matching{{kIOProviderClassKey, "IOHIDDevice"}, {"LocationID", *locationID}};
  if (usagePage != 0) matching["DeviceUsagePage"] = pl::Value::uint32(usagePage);
  if (usage != 0) matching["DeviceUsage"] = pl::Value::uint32(usage);
  auto found = registry->matchingServices(matching);
  if (found.status != kIOReturnSuccess) return out;
  for (RegistryId e : found.entries) {
    if (registry->conformsTo(e, "IOHIDDeviceShim")) continue;
    if (key && value) {
      auto v = registry->property(e, key);
      if (!v || *v != *value) continue;
    }
    if (auto dev = hidDevices->createDevice(e)) out.push_back(std::move(dev));
  }
  return out;
}

HidDeviceRef QS822createHIDDevice(IoRegistry* registry, HidDevices* hidDevices, const std::optional<pl::Value>& locationID,
                                  uint32_t usagePage, uint32_t usage, const char* key, const pl::Value* value) {
  auto list = QS822HIDDeviceList(registry, hidDevices, locationID, usagePage, usage, key, value);
  return list.empty() ? nullptr : list.front();
}

HidDeviceRef QS822createLogitechHID(IoRegistry* registry, HidDevices* hidDevices, const std::optional<pl::Value>& locationID) {
  if (auto d = QS822createHIDDevice(registry, hidDevices, locationID, 0xFF00, 0x01)) return d;
  return QS822createHIDDevice(registry, hidDevices, locationID, 0xFF80, 0x80);
}

std::optional<std::string> QS822getUserClients(const Platform& p, const HidDevice* device, const char* excludeName) {
  if (!device || !p.registry) return std::nullopt;
  RegistryId entry = device->service();
  if (entry == 0) return std::nullopt;
  auto children = p.registry->children(entry, true);
  if (children.status != kIOReturnSuccess) return std::nullopt;
  std::string self = p.system ? p.system->processName() : std::string();
  std::vector<std::string> names;
  for (RegistryId c : children.entries) {
    if (!p.registry->conformsTo(c, "IOHIDLibUserClient")) continue;
    auto creator = stringProperty(p, c, "IOUserClientCreator");
    if (!creator) continue;
    auto comma = creator->find(", ");
    if (comma == std::string::npos) continue;
    // The process name is the second part; anything after a further ", " is not part of it.
    std::string rest = creator->substr(comma + 2);
    std::string name = rest.substr(0, rest.find(", "));
    if (excludeName && name.find(excludeName) != std::string::npos) continue;
    if (!self.empty() && self.find(name) != std::string::npos) continue;
    bool seen = false;
    for (const auto& n : names) seen = seen || n == name;
    if (!seen) names.push_back(name);
  }
  if (names.empty()) return std::nullopt;
  std::string joined;
  for (size_t i = 0; i < names.size(); ++i) joined += (i ? "," : "") + names[i];
  return joined;
}

namespace {

// The receiver's long-report input element and a started queue on it.
struct ReceiverQueue {
  std::unique_ptr<HidQueue> queue;
  int32_t error = 0;  // 1 no element, 2 no queue
};

ReceiverQueue openReceiverQueue(HidDevice* device) {
  ReceiverQueue rq;
  pl::Dict match{{"ReportID", 17}, {"UsagePage", 0xFF00}, {"Type", 2}};
  auto elements = device->copyMatchingElements(match);
  if (elements.empty()) {
    rq.error = 1;
    return rq;
  }
  rq.queue = device->createQueue(100);
  if (!rq.queue) {
    rq.error = 2;
    return rq;
  }
  auto cookie = pl::Value(elements.front()).integerFor("ElementCookie");
  rq.queue->addElement(static_cast<uint32_t>(cookie.value_or(0)));
  rq.queue->start();
  return rq;
}

pl::Data shortReport(uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4) { return pl::Data{0x10, b1, b2, b3, b4, 0x00, 0x00}; }

void pause(const Platform& p, double s) {
  if (p.hidDevices) p.hidDevices->pause(s);
}

}  // namespace

std::optional<std::string> QS822logitechUnifyingDeviceName(const Platform& p, HidDevice* device, int index) {
  if (!device) return std::nullopt;
  ReceiverQueue rq = openReceiverQueue(device);
  if (rq.error) return std::nullopt;
  const uint8_t ix = static_cast<uint8_t>(index);
  if (device->setReport(kIOHIDReportTypeOutput, 0x10, shortReport(0xFF, 0x83, 0xB5, 0x2F + ix)) != kIOReturnSuccess)
    return std::nullopt;
  pause(p, 0.1);
  if (device->setReport(kIOHIDReportTypeOutput, 0x10, shortReport(0xFF, 0x83, 0xB5, 0x3F + ix)) != kIOReturnSuccess)
    return std::nullopt;
  pause(p, 0.1);
  rq.queue->stop();
  for (int i = 0; i < 5; ++i) {
    auto value = rq.queue->copyNextValue();
    if (!value) return std::nullopt;
    if (value->size() < 19 || (*value)[3] != static_cast<uint8_t>(0x3F + ix)) continue;
    size_t end = std::min<size_t>(value->size(), 5 + 31);
    std::string name;
    for (size_t b = 5; b < end && (*value)[b] != 0; ++b) name += static_cast<char>((*value)[b]);
    return name;
  }
  return std::nullopt;
}

int32_t QS822logitechFirmVersion(const Platform& p, HidDevice* device, int index, uint32_t* outVersion) {
  if (outVersion) *outVersion = 0;
  if (!device) return 8220594;
  ReceiverQueue rq = openReceiverQueue(device);
  if (rq.error == 1) return 8220604;
  if (rq.error == 2) return 8220608;
  const uint8_t ix = static_cast<uint8_t>(index);
  if (int32_t r = device->setReport(kIOHIDReportTypeOutput, 0x10, shortReport(ix, 0x02, 0x0A, 0x00))) {
    QS810stackError(nullptr, r);
    return 8220622;
  }
  if (int32_t r = device->setReport(kIOHIDReportTypeOutput, 0x10, shortReport(ix, 0x02, 0x1A, 0x01))) {
    QS810stackError(nullptr, r);
    return 8220625;
  }
  pause(p, 0.1);
  rq.queue->stop();
  uint32_t version = 0;
  for (int i = 0; i < 5 && version == 0; ++i) {
    auto value = rq.queue->copyNextValue();
    if (!value) break;
    if (value->size() < 19 || (*value)[5] != 0x50 || (*value)[6] != 0x4D) continue;
    version = (uint32_t{(*value)[7]} << 24) | (uint32_t{(*value)[8]} << 16) | (uint32_t{(*value)[9]} << 8) |
              uint32_t{(*value)[10]};
  }
  if (outVersion) *outVersion = version;
  return version == 0 ? 8220653 : 0;
}

bool QS822IOHIDCheckAccess(const Platform& p) {
  if (p.system) {
    OsVersion v = p.system->osVersion();
    if (v.major < 10 || (v.major == 10 && v.minor < 15)) return true;
  }
  return p.hidDevices && p.hidDevices->checkListenAccess();
}

bool VL722isSupportedServiceClient(const Platform& p, const HidServiceClient* service) {
  if (serviceUInt32(service, "VendorID").value_or(0) == kWacomVendorID) return false;
  return QS852isSupportedServiceClient(p, service);
}

const char* VL712drovanaError(uint32_t drovanaVersion) {
  if (drovanaVersion == 0) return nullptr;
  if (drovanaVersion < drovana::kFirstCompatibleVersion) return "Please upgrade Drovana to the latest version.";
  if (drovanaVersion < drovana::kFirstIncompatibleVersion) return nullptr;
  return "This version does not have compatibility with Drovana currently you are using. Please upgrade Velmora to "
         "the latest version.";
}

}  // namespace vl
