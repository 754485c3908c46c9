// The udev machine: scanning, the monitor, and the registry entries of each pointing device.
#include "platform/linux/udev_machine.h"

#include <libudev.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "core/plist/ascii_text.h"
#include "platform/linux/hid_report_descriptor.h"

namespace vl::linux_ {

namespace udev_detail {

std::string transportForBus(uint32_t bus, bool viaUhid) {
  switch (bus) {
    case 0x03: return "USB";
    case 0x05: return viaUhid ? "Bluetooth Low Energy" : "Bluetooth";
    case 0x11: return "PS/2";
    case 0x18: return "I2C";
    case 0x19: return "Built-In";
    case 0x1C: return "SPI";
    case 0x06: return "Virtual";
    default: break;
  }
  return "Unknown";
}

uint32_t usbLocation(uint32_t busnum, const std::string& devpath, int slot) {
  uint32_t loc = (busnum & 0xFF) << 24;
  int shift = 20;
  size_t pos = 0;
  while (pos <= devpath.size() && !devpath.empty()) {
    size_t dot = devpath.find('.', pos);
    std::string part = devpath.substr(pos, dot == std::string::npos ? std::string::npos : dot - pos);
    uint32_t port = 0;
    for (char c : part)
      if (c >= '0' && c <= '9') port = port * 10 + static_cast<uint32_t>(c - '0');
    if (shift >= 0) {
      loc |= std::min<uint32_t>(port, 15) << shift;
      shift -= 4;
    }
    if (dot == std::string::npos) break;
    pos = dot + 1;
  }
  if (slot > 0) {
    if (shift >= 0) loc |= static_cast<uint32_t>(slot & 0xF) << shift;
    else loc ^= static_cast<uint32_t>(slot);
  }
  return loc != 0 ? loc : 1;
}

uint32_t hashedLocation(const std::string& key) {
  uint32_t h = 2166136261u;
  for (unsigned char c : key) {
    h ^= c;
    h *= 16777619u;
  }
  h &= 0x7FFFFFFF;
  return h != 0 ? h : 1;
}

bool parseHidId(const std::string& text, uint32_t* bus, uint32_t* vendor, uint32_t* product) {
  uint32_t parts[3] = {0, 0, 0};
  int n = 0;
  size_t digits = 0;
  for (char c : text) {
    if (c == ':') {
      if (digits == 0 || ++n > 2) return false;
      digits = 0;
      continue;
    }
    int v = pl::hexDigitValue(c);
    if (v < 0 || ++digits > 8) return false;
    parts[n] = parts[n] * 16 + static_cast<uint32_t>(v);
  }
  if (n != 2 || digits == 0) return false;
  *bus = parts[0];
  *vendor = parts[1];
  *product = parts[2];
  return true;
}

int slotFromPhys(const std::string& phys) {
  size_t colon = phys.rfind(':');
  size_t slash = phys.rfind('/');
  if (colon == std::string::npos || (slash != std::string::npos && colon < slash) || colon + 1 >= phys.size()) return 0;
  int slot = 0;
  for (size_t i = colon + 1; i < phys.size(); ++i) {
    if (phys[i] < '0' || phys[i] > '9' || slot > 100) return 0;
    slot = slot * 10 + (phys[i] - '0');
  }
  return slot >= 1 && slot <= 6 ? slot : 0;
}

}  // namespace udev_detail

namespace {

using namespace udev_detail;

std::string prop(udev_device* d, const char* key) {
  const char* v = d ? udev_device_get_property_value(d, key) : nullptr;
  return v ? v : "";
}

std::string attr(udev_device* d, const char* key) {
  const char* v = d ? udev_device_get_sysattr_value(d, key) : nullptr;
  std::string s = v ? v : "";
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

bool flag(udev_device* d, const char* key) { return prop(d, key) == "1"; }

std::string str(const char* s) { return s ? s : ""; }

uint32_t hexValue(const std::string& s) {
  uint32_t v = 0;
  for (char c : s) {
    int d = pl::hexDigitValue(c);
    if (d < 0) break;
    v = v * 16 + static_cast<uint32_t>(d);
  }
  return v;
}

uint32_t decValue(const std::string& s) {
  uint32_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') break;
    v = v * 10 + static_cast<uint32_t>(c - '0');
  }
  return v;
}

// What kind of pointing device an evdev node is; empty for everything else.
std::string pointingKind(udev_device* evdev) {
  std::string sysname = str(udev_device_get_sysname(evdev));
  if (sysname.rfind("event", 0) != 0) return "";
  // A tablet's pen, a touchscreen or a joystick may also say "mouse"; they are not pointing
  // devices whose speed this system sets.
  if (flag(evdev, "ID_INPUT_TABLET") || flag(evdev, "ID_INPUT_TABLET_PAD") || flag(evdev, "ID_INPUT_TOUCHSCREEN") ||
      flag(evdev, "ID_INPUT_JOYSTICK"))
    return "";
  if (flag(evdev, "ID_INPUT_TOUCHPAD")) return "touchpad";
  if (flag(evdev, "ID_INPUT_POINTINGSTICK")) return "pointingstick";
  if (flag(evdev, "ID_INPUT_TRACKBALL")) return "trackball";
  if (flag(evdev, "ID_INPUT_MOUSE")) return "mouse";
  return "";
}

}  // namespace

namespace udev_detail {
bool isFilteredPointer(const std::string& inputSysPath, const std::string& name) {
  // uinput devices live under the virtual devices; a real device never does.
  return inputSysPath.rfind("/sys/devices/virtual/", 0) == 0 &&
         std::string_view(name).substr(0, linux_input::kFilteredPointerPrefix.size()) ==
             linux_input::kFilteredPointerPrefix;
}
}  // namespace udev_detail

namespace {

std::vector<uint8_t> readDescriptor(udev_device* hid) {
  std::vector<uint8_t> out;
  const char* path = hid ? udev_device_get_syspath(hid) : nullptr;
  if (!path) return out;
  std::ifstream in(std::string(path) + "/report_descriptor", std::ios::binary);
  if (!in) return out;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (out.size() > 65536) out.clear();  // no real descriptor is that long
  return out;
}

pl::Array usagePairs(const std::vector<HidReportDescriptor::UsagePair>& apps, bool dropVendor) {
  pl::Array pairs;
  for (const auto& a : apps) {
    if (dropVendor && a.page >= 0xFF00) continue;
    pairs.push_back(pl::Dict{{"DeviceUsagePage", static_cast<long long>(a.page)},
                             {"DeviceUsage", static_cast<long long>(a.usage)}});
  }
  return pairs;
}

const std::vector<std::string> kEventServiceClasses = {"IOHIDEventDriver", "IOHIDEventService", "IOService",
                                                       "IORegistryEntry"};
const std::vector<std::string> kHidDeviceClasses = {"IOHIDDevice", "IOService", "IORegistryEntry"};

}  // namespace

Result<std::unique_ptr<UdevMachine>> UdevMachine::open() {
  std::unique_ptr<UdevMachine> m(new UdevMachine());  // private constructor
  m->udev_ = udev_new();
  if (!m->udev_) return Status::failure(1, "cannot reach udev (udev_new failed)");
  m->monitor_ = udev_monitor_new_from_netlink(m->udev_, "udev");
  if (!m->monitor_ || udev_monitor_filter_add_match_subsystem_devtype(m->monitor_, "input", nullptr) < 0 ||
      udev_monitor_enable_receiving(m->monitor_) < 0)
    return Status::failure(1, "cannot watch udev for devices that come and go (udev monitor)");
  // Armed before the scan, so a device that arrives meanwhile is not missed (a second "add"
  // for a device already known is ignored).
  m->scan();
  return m;
}

UdevMachine::~UdevMachine() {
  if (monitor_) udev_monitor_unref(monitor_);
  if (udev_) udev_unref(udev_);
}

int UdevMachine::monitorFd() const { return monitor_ ? udev_monitor_get_fd(monitor_) : -1; }

void UdevMachine::scan() {
  udev_enumerate* e = udev_enumerate_new(udev_);
  if (!e) return;
  udev_enumerate_add_match_subsystem(e, "input");
  udev_enumerate_scan_devices(e);
  for (udev_list_entry* it = udev_enumerate_get_list_entry(e); it; it = udev_list_entry_get_next(it)) {
    udev_device* d = udev_device_new_from_syspath(udev_, udev_list_entry_get_name(it));
    if (!d) continue;
    add(d);
    udev_device_unref(d);
  }
  udev_enumerate_unref(e);
}

void UdevMachine::processEvents() {
  if (!monitor_) return;
  while (udev_device* d = udev_monitor_receive_device(monitor_)) {
    ++eventsSeen_;
    handle(d, str(udev_device_get_action(d)));
    udev_device_unref(d);
  }
}

void UdevMachine::handle(udev_device* dev, const std::string& action) {
  std::string path = str(udev_device_get_syspath(dev));
  if (action == "remove") {
    removeDevice(path);
  } else if (action == "add" || action == "change") {
    bool known = devices_.count(path) != 0;
    // A change that makes a device stop being a pointing device takes it away.
    if (known && pointingKind(dev).empty()) removeDevice(path);
    else if (!known) add(dev);
  }
}

RegistryId UdevMachine::node(const std::string& key, RegistryId parent, std::vector<std::string> classes,
                             std::string name, pl::Dict props, bool pinned) {
  auto it = nodes_.find(key);
  if (it != nodes_.end() && registry_.exists(it->second)) return it->second;
  RegistryId id = registry_.add(parent, std::move(classes), std::move(name), std::move(props));
  nodes_[key] = id;
  if (pinned) pinned_.insert(id);
  return id;
}

RegistryId UdevMachine::addHidNode(udev_device* hid, RegistryId parent, const pl::Dict& identity, bool dropVendorPairs,
                                   bool pinned) {
  std::string path = str(udev_device_get_syspath(hid));
  auto known = nodes_.find(path);
  if (known != nodes_.end() && registry_.exists(known->second)) return known->second;
  UdevHidNode info;
  info.hidSysPath = path;
  info.descriptor = readDescriptor(hid);
  HidReportDescriptor desc = parseReportDescriptor(info.descriptor);
  pl::Dict props = identity;
  pl::Array pairs = usagePairs(desc.applications, dropVendorPairs);
  for (const auto& a : desc.applications) {
    if (dropVendorPairs && a.page >= 0xFF00) continue;
    props["PrimaryUsagePage"] = static_cast<long long>(a.page);
    props["PrimaryUsage"] = static_cast<long long>(a.usage);
    break;
  }
  props["DeviceUsagePairs"] = pairs;
  props["UdevPath"] = path;
  std::string raw = hidrawNodeFor(path);
  if (!raw.empty()) props["HIDRawNode"] = raw;
  std::string driver = str(udev_device_get_driver(hid));
  if (!driver.empty()) props["LinuxDriver"] = driver;
  RegistryId id = node(path, parent, kHidDeviceClasses, prop(hid, "HID_NAME"), std::move(props), pinned);
  hidNodes_[id] = std::move(info);
  return id;
}

std::string UdevMachine::hidrawNodeFor(const std::string& hidSysPath) const {
  std::string node;
  udev_enumerate* e = udev_enumerate_new(udev_);
  if (!e) return node;
  udev_device* hid = udev_device_new_from_syspath(udev_, hidSysPath.c_str());
  if (hid) {
    udev_enumerate_add_match_subsystem(e, "hidraw");
    udev_enumerate_add_match_parent(e, hid);
    udev_enumerate_scan_devices(e);
    for (udev_list_entry* it = udev_enumerate_get_list_entry(e); it && node.empty(); it = udev_list_entry_get_next(it)) {
      udev_device* raw = udev_device_new_from_syspath(udev_, udev_list_entry_get_name(it));
      if (!raw) continue;
      // Only the node right below this HID device, not one of a paired device beneath it.
      udev_device* parent = udev_device_get_parent(raw);
      if (parent && hidSysPath == str(udev_device_get_syspath(parent))) node = str(udev_device_get_devnode(raw));
      udev_device_unref(raw);
    }
    udev_device_unref(hid);
  }
  udev_enumerate_unref(e);
  return node;
}

void UdevMachine::addInterfaceHidNodes(udev_device* usbDevice, uint32_t location, const std::string& transport) {
  udev_enumerate* e = udev_enumerate_new(udev_);
  if (!e) return;
  udev_enumerate_add_match_subsystem(e, "hid");
  udev_enumerate_add_match_parent(e, usbDevice);
  udev_enumerate_scan_devices(e);
  for (udev_list_entry* it = udev_enumerate_get_list_entry(e); it; it = udev_list_entry_get_next(it)) {
    udev_device* hid = udev_device_new_from_syspath(udev_, udev_list_entry_get_name(it));
    if (!hid) continue;
    udev_device* iface = udev_device_get_parent(hid);
    if (iface && str(udev_device_get_subsystem(iface)) == "usb" && str(udev_device_get_devtype(iface)) == "usb_interface") {
      uint32_t bus = 0, vid = 0, pid = 0;
      // An interface whose HID_ID cannot be read is still listed, with no ids.
      if (!parseHidId(prop(hid, "HID_ID"), &bus, &vid, &pid)) bus = vid = pid = 0;
      RegistryId ifaceNode = node(str(udev_device_get_syspath(iface)), nodes_[str(udev_device_get_syspath(usbDevice))],
                                  {"IOUSBHostInterface", "IOService", "IORegistryEntry"},
                                  "IOUSBHostInterface@" + attr(iface, "bInterfaceNumber"),
                                  pl::Dict{{"bInterfaceNumber", static_cast<long long>(decValue(attr(iface, "bInterfaceNumber")))},
                                           {"locationID", static_cast<long long>(location)}},
                                  true);
      pl::Dict identity{{"VendorID", static_cast<long long>(vid)},
                        {"ProductID", static_cast<long long>(pid)},
                        {"Transport", transport},
                        {"LocationID", static_cast<long long>(location)}};
      std::string product = attr(usbDevice, "product"), maker = attr(usbDevice, "manufacturer");
      if (!product.empty()) identity["Product"] = product;
      if (!maker.empty()) identity["Manufacturer"] = maker;
      addHidNode(hid, ifaceNode, identity, false, true);
    }
    udev_device_unref(hid);
  }
  udev_enumerate_unref(e);
}

bool UdevMachine::add(udev_device* evdev) {
  std::string kind = pointingKind(evdev);
  if (kind.empty()) return false;
  std::string evPath = str(udev_device_get_syspath(evdev));
  if (devices_.count(evPath)) return false;
  udev_device* input = udev_device_get_parent_with_subsystem_devtype(evdev, "input", nullptr);
  if (!input) return false;

  UdevPointingDevice d;
  d.kind = kind;
  d.info.sysPath = evPath;
  d.info.devNode = str(udev_device_get_devnode(evdev));
  d.info.sysName = str(udev_device_get_sysname(evdev));
  d.info.name = attr(input, "name");
  // velmora-inputd's own virtual pointer: taking it for a new mouse would filter the filter.
  if (isFilteredPointer(str(udev_device_get_syspath(input)), d.info.name)) return false;
  d.info.vendorId = hexValue(attr(input, "id/vendor"));
  d.info.productId = hexValue(attr(input, "id/product"));
  d.info.touchpad = kind == "touchpad";

  udev_device* hid = udev_device_get_parent_with_subsystem_devtype(evdev, "hid", nullptr);
  udev_device* receiver = nullptr;
  if (hid) {
    udev_device* up = udev_device_get_parent(hid);
    if (up && str(udev_device_get_subsystem(up)) == "hid") receiver = up;
  }
  udev_device* usb = udev_device_get_parent_with_subsystem_devtype(evdev, "usb", "usb_device");
  udev_device* iface = udev_device_get_parent_with_subsystem_devtype(evdev, "usb", "usb_interface");
  udev_device* link = udev_device_get_parent_with_subsystem_devtype(evdev, "bluetooth", nullptr);
  udev_device* i2c = udev_device_get_parent_with_subsystem_devtype(evdev, "i2c", nullptr);

  uint32_t bus = 0;
  if (hid) {
    // A receiver's paired device is named by the receiver (its model id is learnt from it).
    if (!parseHidId(prop(receiver ? receiver : hid, "HID_ID"), &bus, &d.vendorId, &d.productId)) return false;
  } else {
    bus = hexValue(attr(input, "id/bustype"));
    d.vendorId = d.info.vendorId;
    d.productId = d.info.productId;
  }
  // Bluetooth LE devices come through bluez's uhid node (/sys/devices/virtual/misc/uhid/...).
  bool viaUhid = hid && str(udev_device_get_syspath(hid)).find("/uhid/") != std::string::npos;
  d.transport = transportForBus(bus, viaUhid);
  d.receiverSlot = receiver ? slotFromPhys(prop(hid, "HID_PHYS")) : 0;
  std::string uniq = hid ? prop(hid, "HID_UNIQ") : attr(input, "uniq");
  d.driver = str(udev_device_get_driver(hid ? hid : input));

  // The physical device: its entry, the location and the names people know it by.
  std::string physKey;
  RegistryId phys = 0;
  std::vector<std::string> physClasses;
  pl::Dict physProps;
  if (usb && bus == 0x03) {
    physKey = str(udev_device_get_syspath(usb));
    d.locationId = usbLocation(decValue(attr(usb, "busnum")), attr(usb, "devpath"), d.receiverSlot);
    d.product = attr(usb, "product");
    d.manufacturer = attr(usb, "manufacturer");
    d.serialNumber = attr(usb, "serial");
    physClasses = {"IOUSBHostDevice", "IOUSBDevice", "IOService", "IORegistryEntry"};
    uint32_t portLocation = usbLocation(decValue(attr(usb, "busnum")), attr(usb, "devpath"), 0);
    physProps = pl::Dict{{"idVendor", static_cast<long long>(hexValue(attr(usb, "idVendor")))},
                         {"idProduct", static_cast<long long>(hexValue(attr(usb, "idProduct")))},
                         {"locationID", static_cast<long long>(portLocation)}};
    if (!d.product.empty()) physProps["USB Product Name"] = d.product;
    if (!d.manufacturer.empty()) physProps["USB Vendor Name"] = d.manufacturer;
    if (!d.serialNumber.empty()) physProps["USB Serial Number"] = d.serialNumber;
  } else if (bus == 0x05) {
    // A Bluetooth device keeps its address whatever link or uhid node it comes back on.
    physKey = (viaUhid ? "ble:" : "bt:") + (uniq.empty() ? str(udev_device_get_syspath(hid ? hid : input)) : uniq);
    d.locationId = hashedLocation(physKey);
    d.serialNumber = uniq;
    physClasses = {viaUhid ? "IOBluetoothLEDevice" : "IOBluetoothDevice", "IOService", "IORegistryEntry"};
    if (link && !viaUhid) physProps["UdevPath"] = str(udev_device_get_syspath(link));
    if (!uniq.empty()) physProps["BD_ADDR"] = uniq;
  } else if (i2c) {
    physKey = str(udev_device_get_syspath(i2c));
    d.locationId = hashedLocation("i2c:" + str(udev_device_get_sysname(i2c)));
    physClasses = {"IOI2CDevice", "IOService", "IORegistryEntry"};
    physProps["UdevPath"] = physKey;
  } else {
    udev_device* top = hid ? udev_device_get_parent(hid) : udev_device_get_parent(input);
    physKey = top ? str(udev_device_get_syspath(top)) : str(udev_device_get_syspath(input));
    d.locationId = hashedLocation(physKey);
    physClasses = {"IOService", "IORegistryEntry"};
    physProps["UdevPath"] = physKey;
  }
  d.physicalPath = physKey;
  if (d.product.empty()) d.product = receiver ? prop(hid, "HID_NAME") : (hid ? prop(hid, "HID_NAME") : d.info.name);
  if (receiver) d.product = prop(hid, "HID_NAME");  // the paired mouse, not "USB Receiver"
  if (d.manufacturer.empty()) d.manufacturer = prop(evdev, "ID_VENDOR_FROM_DATABASE");

  pl::Dict identity{{"VendorID", static_cast<long long>(d.vendorId)},
                    {"ProductID", static_cast<long long>(d.productId)},
                    {"Transport", d.transport},
                    {"LocationID", static_cast<long long>(d.locationId)}};
  if (!d.product.empty()) identity["Product"] = d.product;
  if (!d.manufacturer.empty()) identity["Manufacturer"] = d.manufacturer;
  if (!d.serialNumber.empty()) identity["SerialNumber"] = d.serialNumber;

  phys = node(physKey, 0, physClasses, d.product.empty() ? d.info.name : d.product, physProps, true);
  RegistryId parent = phys;
  if (usb && bus == 0x03) {
    // Every HID interface of the device, so a receiver's vendor interface is there to ask.
    addInterfaceHidNodes(usb, usbLocation(decValue(attr(usb, "busnum")), attr(usb, "devpath"), 0), d.transport);
    if (iface) {
      auto it = nodes_.find(str(udev_device_get_syspath(iface)));
      if (it != nodes_.end() && registry_.exists(it->second)) parent = it->second;
    }
  }
  if (receiver) {
    auto it = nodes_.find(str(udev_device_get_syspath(receiver)));
    if (it != nodes_.end() && registry_.exists(it->second)) {
      parent = it->second;
    } else {
      pl::Dict rx = identity;
      rx["LocationID"] = static_cast<long long>(usb ? usbLocation(decValue(attr(usb, "busnum")), attr(usb, "devpath"), 0)
                                                     : d.locationId);
      parent = addHidNode(receiver, parent, rx, false, true);
    }
  }
  if (hid) {
    // A paired device's own vendor collections lead to the device, not to the receiver: the
    // slot view below answers for those.
    d.hidDevice = addHidNode(hid, parent, identity, receiver != nullptr, false);
  } else {
    // A pointing device without HID (PS/2, a platform driver) stands as its own HID device,
    // with no reports to exchange.
    pl::Dict props = identity;
    props["PrimaryUsagePage"] = 1;
    props["PrimaryUsage"] = 2;
    props["DeviceUsagePairs"] = pl::Array{pl::Dict{{"DeviceUsagePage", 1}, {"DeviceUsage", 2}}};
    props["UdevPath"] = str(udev_device_get_syspath(input));
    if (!d.driver.empty()) props["LinuxDriver"] = d.driver;
    d.hidDevice = node(str(udev_device_get_syspath(input)), parent, kHidDeviceClasses, d.info.name, props, false);
    hidNodes_[d.hidDevice] = UdevHidNode{};
  }
  if (receiver && d.receiverSlot > 0) {
    // The receiver as seen from this slot: its vendor interface, answering for this slot only.
    auto rxIt = nodes_.find(str(udev_device_get_syspath(receiver)));
    const RegistryTree::Entry* rxEntry = rxIt != nodes_.end() ? registry_.entry(rxIt->second) : nullptr;
    if (rxEntry) {
      pl::Dict view = rxEntry->props;
      view["LocationID"] = static_cast<long long>(d.locationId);
      view["ReceiverSlot"] = d.receiverSlot;
      std::string key = str(udev_device_get_syspath(hid)) + "#receiver";
      RegistryId v = node(key, d.hidDevice, kHidDeviceClasses, "Receiver slot " + std::to_string(d.receiverSlot), view, false);
      UdevHidNode info = hidNodes_[rxEntry->id];
      info.slot = d.receiverSlot;
      hidNodes_[v] = std::move(info);
    }
  }

  pl::Dict props = identity;
  props["PrimaryUsagePage"] = 1;
  props["PrimaryUsage"] = 2;
  props["DeviceUsagePairs"] = pl::Array{pl::Dict{{"DeviceUsagePage", 1}, {"DeviceUsage", 2}},
                                        pl::Dict{{"DeviceUsagePage", 1}, {"DeviceUsage", 1}}};
  props["HIDPointerAccelerationType"] = d.info.touchpad ? "HIDTrackpadAcceleration" : "HIDMouseAcceleration";
  props["HIDScrollAccelerationType"] = d.info.touchpad ? "HIDTrackpadScrollAcceleration" : "HIDMouseScrollAcceleration";
  props["UdevPath"] = evPath;
  props["DevNode"] = d.info.devNode;
  props["InputKind"] = d.kind;
  if (d.receiverSlot > 0) props["ReceiverSlot"] = d.receiverSlot;
  if (!d.driver.empty()) props["LinuxDriver"] = d.driver;
  d.service = node(evPath, d.hidDevice, kEventServiceClasses, d.info.name, std::move(props), false);
  auto [it, inserted] = devices_.emplace(evPath, std::move(d));
  notify(it->second, true);
  return true;
}

void UdevMachine::prune(RegistryId from) {
  // Walks up from an entry, removing the ones that no device needs any more.
  RegistryId id = from;
  while (id != 0 && !pinned_.count(id)) {
    const RegistryTree::Entry* e = registry_.entry(id);
    if (!e) break;
    // A receiver's slot view lives only for the paired device it hangs under.
    bool needed = false;
    for (RegistryId c : e->children) {
      const RegistryTree::Entry* ce = registry_.entry(c);
      bool slotView = ce && ce->props.count("ReceiverSlot") && registry_.conformsTo(c, "IOHIDDevice");
      if (ce && !slotView) needed = true;
    }
    if (needed) break;
    RegistryId parent = e->parent;
    for (RegistryId c : e->children) hidNodes_.erase(c);
    hidNodes_.erase(id);
    registry_.remove(id);
    id = parent;
  }
}

void UdevMachine::removeDevice(const std::string& sysPath) {
  auto it = devices_.find(sysPath);
  if (it == devices_.end()) return;
  UdevPointingDevice d = std::move(it->second);
  devices_.erase(it);
  RegistryId parent = registry_.entry(d.service) ? registry_.entry(d.service)->parent : 0;
  registry_.remove(d.service);
  prune(parent);
  // The physical device goes with its last pointing device.
  bool physUsed = false;
  for (const auto& [p, other] : devices_)
    if (other.physicalPath == d.physicalPath) physUsed = true;
  if (!physUsed) {
    auto n = nodes_.find(d.physicalPath);
    if (n != nodes_.end()) registry_.remove(n->second);
  }
  for (auto n = nodes_.begin(); n != nodes_.end();) {
    if (!registry_.exists(n->second)) {
      pinned_.erase(n->second);
      hidNodes_.erase(n->second);
      n = nodes_.erase(n);
    } else {
      ++n;
    }
  }
  notify(d, false);
}

const UdevHidNode* UdevMachine::hidNode(RegistryId entry) const {
  auto it = hidNodes_.find(entry);
  return it == hidNodes_.end() || !registry_.exists(entry) ? nullptr : &it->second;
}

UdevMachine::Token UdevMachine::addListener(Listener fn) {
  Token t = nextToken_++;
  listeners_.emplace(t, std::move(fn));
  return t;
}

void UdevMachine::removeListener(Token t) { listeners_.erase(t); }

void UdevMachine::notify(const UdevPointingDevice& d, bool added) {
  auto copy = listeners_;  // a listener may remove itself
  for (auto& [t, fn] : copy)
    if (listeners_.count(t)) fn(d, added);
}

}  // namespace vl::linux_
