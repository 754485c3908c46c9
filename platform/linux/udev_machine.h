// UdevMachine: the real machine's pointing devices as udev knows them, kept as I/O-registry
// entries (physical device, interface, HID device, event service) with the identity the rest
// of the system reads, and followed through a udev monitor: arrivals and removals come from
// the monitor's descriptor, never from polling. Keyboards, joysticks, tablets and touchscreens
// are not pointing devices here.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/api/status.h"
#include "platform/linux/pointer_writer.h"
#include "platform/linux/registry_tree.h"

struct udev;
struct udev_device;
struct udev_monitor;

namespace vl::linux_ {

// What an IOHIDDevice entry needs to talk to its device: the HID device whose hidraw node
// carries the reports, its report descriptor and, for a receiver's per-slot view, the slot
// whose answers it passes on (0: every answer).
struct UdevHidNode {
  std::string hidSysPath;
  std::vector<uint8_t> descriptor;
  int slot = 0;
};

// One pointing device (one evdev node) as the registry shows it.
struct UdevPointingDevice {
  RegistryId service = 0;    // the event-service entry
  RegistryId hidDevice = 0;  // the IOHIDDevice entry above it
  linux_input::InputDeviceInfo info;
  std::string kind;          // "mouse", "touchpad", "pointingstick" or "trackball"
  std::string transport, product, manufacturer, serialNumber, driver;
  uint32_t vendorId = 0, productId = 0, locationId = 0;
  int receiverSlot = 0;      // the slot on its receiver; 0 when not behind one
  std::string physicalPath;  // the sysfs path of the physical device (USB device, link, ...)
};

class UdevMachine {
 public:
  using Listener = std::function<void(const UdevPointingDevice& device, bool added)>;
  using Token = uint64_t;

  // Scans the devices present and arms the monitor. A failure when udev cannot be reached (no
  // /sys, no libudev context).
  static Result<std::unique_ptr<UdevMachine>> open();
  ~UdevMachine();
  UdevMachine(const UdevMachine&) = delete;
  UdevMachine& operator=(const UdevMachine&) = delete;

  RegistryTree& registry() { return registry_; }
  const RegistryTree& registry() const { return registry_; }
  // The monitor's descriptor: readable when uevents wait; processEvents reads them.
  int monitorFd() const;
  // Takes every waiting uevent, updates the registry and tells the listeners.
  void processEvents();

  // The pointing devices present, by their evdev node's sysfs path.
  const std::map<std::string, UdevPointingDevice>& devices() const { return devices_; }
  const UdevHidNode* hidNode(RegistryId entry) const;
  // The /dev/hidrawN node of a HID device as udev knows it now; empty when it has none.
  std::string hidrawNodeFor(const std::string& hidSysPath) const;

  Token addListener(Listener fn);
  void removeListener(Token t);
  // How many uevents were taken, and when the last pointing device was added (monotonic s).
  uint64_t eventsSeen() const { return eventsSeen_; }

 private:
  UdevMachine() = default;
  void scan();
  void handle(udev_device* dev, const std::string& action);
  bool add(udev_device* evdev);
  void removeDevice(const std::string& sysPath);
  RegistryId node(const std::string& key, RegistryId parent, std::vector<std::string> classes, std::string name,
                  pl::Dict props, bool pinned);
  void addInterfaceHidNodes(udev_device* usbDevice, uint32_t location, const std::string& transport);
  RegistryId addHidNode(udev_device* hid, RegistryId parent, const pl::Dict& identity, bool dropVendorPairs,
                        bool pinned);
  void prune(RegistryId from);
  void notify(const UdevPointingDevice& d, bool added);

  struct udev* udev_ = nullptr;
  struct udev_monitor* monitor_ = nullptr;
  RegistryTree registry_;
  std::map<std::string, RegistryId> nodes_;  // sysfs path (or key) -> entry
  std::set<RegistryId> pinned_;              // entries kept while their physical device stays
  std::map<RegistryId, UdevHidNode> hidNodes_;
  std::map<std::string, UdevPointingDevice> devices_;
  std::map<Token, Listener> listeners_;
  Token nextToken_ = 1;
  uint64_t eventsSeen_ = 0;
};

// Helpers with no udev in them (tested directly).
namespace udev_detail {
// "USB", "Bluetooth", "Bluetooth Low Energy", "I2C", "SPI", "PS/2", ... from the bus number of
// HID_ID or the input id, and whether the HID device sits on a uhid (BLE) node.
std::string transportForBus(uint32_t bus, bool viaUhid);
// A location ID like the platform's for a USB port chain: bus in the top byte, then one nibble
// per port ("2.3" on bus 1 -> 0x01230000); a receiver's slot takes the next nibble.
uint32_t usbLocation(uint32_t busnum, const std::string& devpath, int slot);
// A location for anything else, stable for the same key (non-zero, positive as 32-bit).
uint32_t hashedLocation(const std::string& key);
// "0003:0000046D:0000C52B" -> bus, vendor, product.
[[nodiscard]] bool parseHidId(const std::string& text, uint32_t* bus, uint32_t* vendor, uint32_t* product);
// The slot of a receiver's paired device from its HID_PHYS ("usb-...-2/input2:1" -> 1); 0 when none.
int slotFromPhys(const std::string& phys);
// Whether an input device is velmora-inputd's virtual pointer (a uinput device named
// "Velmora filtered …"): its motion is a real device's, already counted.
bool isFilteredPointer(const std::string& inputSysPath, const std::string& name);
}  // namespace udev_detail

}  // namespace vl::linux_
