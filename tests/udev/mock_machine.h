// A umockdev testbed dressed as a Linux machine with pointing devices: device trees written
// here for each kind of device the udev adapters must know or ignore, hot-plug uevents, and a
// scripted Unifying-style receiver that answers on its hidraw node.
#pragma once

#include <umockdev.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace vl::testing {

// The receiver's paired devices: slot -> model id.
using Pairings = std::map<int, uint16_t>;

class MockMachine {
 public:
  MockMachine();
  ~MockMachine();
  MockMachine(const MockMachine&) = delete;
  MockMachine& operator=(const MockMachine&) = delete;

  // Whether this process runs under umockdev's preload; tests skip with the reason otherwise.
  static bool available();
  static const char* whyUnavailable();

  // Each returns the evdev node's sysfs path. emit: send the "add" uevent (a device present
  // before the adapters start needs none).
  std::string addUsbMouse(int busnum, const std::string& port, uint16_t vid, uint16_t pid, const std::string& product,
                          bool emit = false);
  std::string addBluetoothMouse(const std::string& address, uint16_t vid, uint16_t pid, const std::string& name,
                                bool lowEnergy, bool emit = false);
  std::string addI2cTouchpad(const std::string& client, uint16_t vid, uint16_t pid, const std::string& name,
                             bool emit = false);
  // A receiver on a USB port with its HID interfaces (keyboard, mouse, vendor) and, for each
  // pairing, a paired device under the vendor interface as the kernel's receiver driver makes
  // them. Returns the paired devices' evdev paths in slot order.
  std::vector<std::string> addReceiver(int busnum, const std::string& port, uint16_t pid, const Pairings& pairings,
                                       bool emit = false);
  std::string addKeyboard(bool emit = false);
  std::string addJoystick(bool emit = false);
  std::string addTablet(bool emit = false);
  // A uinput pointer (under the virtual devices, no HID parent) named name.
  std::string addVirtualPointer(const std::string& name, bool emit = false);

  // Removes the device (and what hangs below it) and sends the "remove" uevent of the evdev node.
  void remove(const std::string& evdevPath);
  void uevent(const std::string& path, const char* action);
  // Called after every uevent sent: a listening socket queues only ten of them (the system's
  // datagram queue length), as a busy system's monitor would be read between them.
  void setPump(std::function<void()> fn) { pump_ = std::move(fn); }

  // The receiver's hidraw node and its pairings: answer what the adapter wrote to the node
  // (a waiter of the hid devices adapter calls this instead of sleeping).
  std::string receiverNode() const { return receiverNode_; }
  void setReceiverPairings(const Pairings& p) { pairings_ = p; }
  void setReceiverSilent(bool silent) { silent_ = silent; }
  // Closes the node's other end: the receiver is gone mid-exchange.
  void unplugReceiverNode();
  void serveReceiver();
  // The writes that reached the receiver, one report each.
  const std::vector<std::vector<uint8_t>>& receiverWrites() const { return writes_; }
  void denyReceiverNode();

 private:
  std::string addHid(const std::string& parent, const std::string& name, const std::string& hidId,
                     const std::string& hidName, const std::string& phys, const std::string& uniq,
                     const std::vector<uint8_t>& descriptor);
  std::string addInput(const std::string& parent, int n, const std::string& name, uint16_t bus, uint16_t vid,
                       uint16_t pid, const std::vector<std::pair<std::string, std::string>>& flags, bool emit);

  std::string add(const char* subsystem, const std::string& name, const std::string& parent,
                  const std::vector<std::pair<std::string, std::string>>& attrs,
                  const std::vector<std::pair<std::string, std::string>>& props);
  UMockdevTestbed* tb_ = nullptr;
  std::function<void()> pump_;
  int nextInput_ = 1, nextHid_ = 1, nextRaw_ = 0;
  std::string receiverNode_;
  std::string uhid_, hci_;
  int receiverFd_ = -1;
  Pairings pairings_;
  bool silent_ = false;
  std::vector<uint8_t> pending_;
  std::vector<std::vector<uint8_t>> writes_;
  std::map<std::string, std::vector<std::string>> removeTogether_;
};

// Report descriptors of the kinds of devices written above.
std::vector<uint8_t> mouseDescriptor();
std::vector<uint8_t> receiverVendorDescriptor();
std::vector<uint8_t> pairedDeviceDescriptor();

}  // namespace vl::testing
