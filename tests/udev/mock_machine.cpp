// The umockdev machine of the udev tests: device trees, uevents and the scripted receiver.
#include "udev/mock_machine.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace vl::testing {

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

std::vector<std::string>* gCreated = nullptr;  // the device being built, for its removal

std::string addDevice(UMockdevTestbed* tb, const char* subsystem, const std::string& name, const std::string& parent,
                      const Pairs& attrs, const Pairs& props) {
  std::vector<gchar*> a, p;
  for (const auto& [k, v] : attrs) {
    a.push_back(const_cast<gchar*>(k.c_str()));
    a.push_back(const_cast<gchar*>(v.c_str()));
  }
  a.push_back(nullptr);
  for (const auto& [k, v] : props) {
    p.push_back(const_cast<gchar*>(k.c_str()));
    p.push_back(const_cast<gchar*>(v.c_str()));
  }
  p.push_back(nullptr);
  gchar* path = umockdev_testbed_add_devicev(tb, subsystem, name.c_str(), parent.empty() ? nullptr : parent.c_str(),
                                             a.data(), p.data());
  std::string out = path ? path : "";
  g_free(path);
  if (gCreated) gCreated->push_back(out);
  return out;
}

std::string hex4(uint16_t v) {
  char b[8];
  std::snprintf(b, sizeof b, "%04x", v);
  return b;
}

std::string hexUpper(uint16_t v, int width) {
  char b[16];
  std::snprintf(b, sizeof b, "%0*X", width, v);
  return b;
}

std::string hidId(uint16_t bus, uint16_t vid, uint16_t pid) {
  return hexUpper(bus, 4) + ":" + hexUpper(vid, 8) + ":" + hexUpper(pid, 8);
}

}  // namespace

std::vector<uint8_t> mouseDescriptor() {
  return {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x09, 0x01, 0xA1, 0x00, 0x05, 0x09, 0x19, 0x01, 0x29, 0x03, 0x15,
          0x00, 0x25, 0x01, 0x95, 0x03, 0x75, 0x01, 0x81, 0x02, 0x95, 0x01, 0x75, 0x05, 0x81, 0x01, 0x05, 0x01,
          0x09, 0x30, 0x09, 0x31, 0x09, 0x38, 0x15, 0x81, 0x25, 0x7F, 0x75, 0x08, 0x95, 0x03, 0x81, 0x06, 0xC0, 0xC0};
}

std::vector<uint8_t> receiverVendorDescriptor() {
  // Short (0x10, 6 bytes) and long (0x11, 19 bytes) vendor reports, each in and out.
  return {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x10, 0x75, 0x08, 0x95, 0x06, 0x15, 0x00, 0x26, 0xFF,
          0x00, 0x09, 0x01, 0x81, 0x00, 0x09, 0x01, 0x91, 0x00, 0xC0, 0x06, 0x00, 0xFF, 0x09, 0x02, 0xA1, 0x01,
          0x85, 0x11, 0x75, 0x08, 0x95, 0x13, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x09, 0x02, 0x81, 0x00, 0x09, 0x02,
          0x91, 0x00, 0xC0};
}

std::vector<uint8_t> pairedDeviceDescriptor() {
  // A mouse with report id 2, then the vendor collections the receiver driver adds.
  std::vector<uint8_t> d = {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x85, 0x02, 0x09, 0x01, 0xA1, 0x00, 0x05, 0x09,
                            0x19, 0x01, 0x29, 0x03, 0x15, 0x00, 0x25, 0x01, 0x95, 0x03, 0x75, 0x01, 0x81, 0x02,
                            0x95, 0x01, 0x75, 0x05, 0x81, 0x01, 0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x15, 0x81,
                            0x25, 0x7F, 0x75, 0x08, 0x95, 0x02, 0x81, 0x06, 0xC0, 0xC0};
  auto v = receiverVendorDescriptor();
  d.insert(d.end(), v.begin(), v.end());
  return d;
}

std::string MockMachine::add(const char* subsystem, const std::string& name, const std::string& parent, const Pairs& attrs,
                             const Pairs& props) {
  std::string path = addDevice(tb_, subsystem, name, parent, attrs, props);
  if (pump_) pump_();
  return path;
}

// True once a testbed exists in a process under the preload.
bool MockMachine::available() { return umockdev_in_mock_environment(); }

const char* MockMachine::whyUnavailable() {
  return "umockdev's preload is not active (run under umockdev-wrapper, as ctest does)";
}

MockMachine::MockMachine() { tb_ = umockdev_testbed_new(); }

MockMachine::~MockMachine() {
  if (receiverFd_ >= 0) ::close(receiverFd_);
  if (tb_) g_object_unref(tb_);
}

std::string MockMachine::addHid(const std::string& parent, const std::string& name, const std::string& id,
                                const std::string& hidName, const std::string& phys, const std::string& uniq,
                                const std::vector<uint8_t>& descriptor) {
  std::string path = add("hid", name, parent, {},
                               {{"HID_ID", id}, {"HID_NAME", hidName}, {"HID_PHYS", phys}, {"HID_UNIQ", uniq}});
  std::vector<uint8_t> copy = descriptor;
  umockdev_testbed_set_attribute_binary(tb_, path.c_str(), "report_descriptor", copy.data(), static_cast<gint>(copy.size()));
  return path;
}

std::string MockMachine::addInput(const std::string& parent, int n, const std::string& name, uint16_t bus, uint16_t vid,
                                  uint16_t pid, const Pairs& flags, bool emit) {
  std::string input = add("input", "input" + std::to_string(n), parent,
                                {{"name", name}, {"id/bustype", hex4(bus)}, {"id/vendor", hex4(vid)}, {"id/product", hex4(pid)}},
                                {{"NAME", "\"" + name + "\""}});
  Pairs props = {{"DEVNAME", "/dev/input/event" + std::to_string(n)}, {"ID_INPUT", "1"}};
  props.insert(props.end(), flags.begin(), flags.end());
  // umockdev sends the "add" uevent of every device it adds; a device added before the
  // adapters start has no one to hear it, which stands for "present at start".
  (void)emit;
  return add("input", "event" + std::to_string(n), input, {}, props);
}

std::string MockMachine::addUsbMouse(int busnum, const std::string& port, uint16_t vid, uint16_t pid,
                                     const std::string& product, bool emit) {
  std::vector<std::string> created;
  gCreated = &created;
  std::string name = std::to_string(busnum) + "-" + port;
  std::string usb = add("usb", name, "",
                              {{"idVendor", hex4(vid)}, {"idProduct", hex4(pid)}, {"busnum", std::to_string(busnum)},
                               {"devpath", port}, {"product", product}, {"manufacturer", "Maker"}, {"serial", "SN" + name}},
                              {{"DEVTYPE", "usb_device"}});
  std::string iface = add("usb", name + ":1.0", usb, {{"bInterfaceNumber", "00"}}, {{"DEVTYPE", "usb_interface"}});
  char hidName[64];
  std::snprintf(hidName, sizeof hidName, "0003:%04X:%04X.%04X", vid, pid, nextHid_++);
  std::string hid = addHid(iface, hidName, hidId(3, vid, pid), "Maker " + product, "usb-0000:00:14.0-" + port + "/input0", "",
                           mouseDescriptor());
  int n = nextInput_++;
  std::string ev = addInput(hid, n, "Maker " + product, 3, vid, pid, {{"ID_INPUT_MOUSE", "1"}}, emit);
  gCreated = nullptr;
  removeTogether_[ev] = created;
  return ev;
}

std::string MockMachine::addBluetoothMouse(const std::string& address, uint16_t vid, uint16_t pid, const std::string& name,
                                           bool lowEnergy, bool emit) {
  // The uhid node and the Bluetooth adapter are the machine's, shared by every device on them.
  if (lowEnergy && uhid_.empty()) uhid_ = add("misc", "uhid", "", {}, {});
  if (!lowEnergy && hci_.empty()) hci_ = add("bluetooth", "hci0", "", {}, {{"DEVTYPE", "host"}});
  std::vector<std::string> created;
  gCreated = &created;
  char hidName[64];
  std::snprintf(hidName, sizeof hidName, "0005:%04X:%04X.%04X", vid, pid, nextHid_++);
  std::string top = lowEnergy ? uhid_ : hci_;
  std::string parent =
      lowEnergy ? uhid_ : add("bluetooth", "hci0:" + std::to_string(nextHid_ + 255), hci_, {}, {{"DEVTYPE", "link"}});
  std::string hid = addHid(parent, hidName, hidId(5, vid, pid), name, "00:1a:7d:da:71:13", address, mouseDescriptor());
  std::string ev = addInput(hid, nextInput_++, name, 5, vid, pid, {{"ID_INPUT_MOUSE", "1"}}, emit);
  gCreated = nullptr;
  removeTogether_[ev] = created;
  (void)top;
  return ev;
}

std::string MockMachine::addI2cTouchpad(const std::string& client, uint16_t vid, uint16_t pid, const std::string& name,
                                        bool emit) {
  std::vector<std::string> created;
  gCreated = &created;
  std::string adapter = add("i2c", "i2c-2", "", {}, {});
  std::string dev = add("i2c", client, adapter, {{"name", client}}, {});
  char hidName[64];
  std::snprintf(hidName, sizeof hidName, "0018:%04X:%04X.%04X", vid, pid, nextHid_++);
  std::string hid = addHid(dev, hidName, hidId(0x18, vid, pid), name, "i2c-" + client, "", mouseDescriptor());
  std::string ev = addInput(hid, nextInput_++, name + " Touchpad", 0x18, vid, pid, {{"ID_INPUT_TOUCHPAD", "1"}}, emit);
  // The same chip's other half, which is not a pointing device here.
  addInput(hid, nextInput_++, name + " Mouse", 0x18, vid, pid, {{"ID_INPUT_MOUSE", "1"}, {"ID_INPUT_TOUCHSCREEN", "1"}}, emit);
  gCreated = nullptr;
  removeTogether_[ev] = created;
  (void)adapter;
  return ev;
}

std::vector<std::string> MockMachine::addReceiver(int busnum, const std::string& port, uint16_t pid, const Pairings& pairings,
                                                  bool emit) {
  const uint16_t vid = 0x046D;
  std::vector<std::string> created;
  gCreated = &created;
  std::string name = std::to_string(busnum) + "-" + port;
  std::string usb = add("usb", name, "",
                              {{"idVendor", hex4(vid)}, {"idProduct", hex4(pid)}, {"busnum", std::to_string(busnum)},
                               {"devpath", port}, {"product", "USB Receiver"}, {"manufacturer", "Logitech"}},
                              {{"DEVTYPE", "usb_device"}});
  std::string hids[3];
  for (int i = 0; i < 3; ++i) {
    std::string iface = add("usb", name + ":1." + std::to_string(i), usb,
                                  {{"bInterfaceNumber", "0" + std::to_string(i)}}, {{"DEVTYPE", "usb_interface"}});
    char hidName[64];
    std::snprintf(hidName, sizeof hidName, "0003:%04X:%04X.%04X", vid, pid, nextHid_++);
    std::vector<uint8_t> desc = i == 2 ? receiverVendorDescriptor() : i == 1 ? mouseDescriptor() : std::vector<uint8_t>{0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0xC0};
    hids[i] = addHid(iface, hidName, hidId(3, vid, pid), "Logitech USB Receiver",
                     "usb-0000:00:14.0-" + port + "/input" + std::to_string(i), "", desc);
  }
  // The keyboard half of the receiver: never a pointing device.
  addInput(hids[0], nextInput_++, "Logitech USB Receiver", 3, vid, pid, {{"ID_INPUT_KEYBOARD", "1"}, {"ID_INPUT_KEY", "1"}}, emit);
  receiverNode_ = "/dev/hidraw" + std::to_string(nextRaw_);
  // Added from a description with a node line, so umockdev makes the node a pty whose other
  // end the test holds.
  std::string rawPath = hids[2] + "/hidraw/hidraw" + std::to_string(nextRaw_++);
  std::string description = "P: " + rawPath.substr(4) + "\nN: " + receiverNode_.substr(5) + "\nE: DEVNAME=" +
                            receiverNode_ + "\nE: SUBSYSTEM=hidraw\nA: dev=241:0\n";
  GError* err = nullptr;
  if (!umockdev_testbed_add_from_string(tb_, description.c_str(), &err)) {
    std::fprintf(stderr, "mock receiver node: %s\n", err ? err->message : "?");
    if (err) g_error_free(err);
  }
  receiverFd_ = umockdev_testbed_get_dev_fd(tb_, receiverNode_.c_str());
  if (receiverFd_ >= 0) receiverFd_ = ::dup(receiverFd_);
  if (receiverFd_ >= 0) ::fcntl(receiverFd_, F_SETFL, ::fcntl(receiverFd_, F_GETFL) | O_NONBLOCK);
  pairings_ = pairings;
  std::vector<std::string> out;
  for (const auto& [slot, mid] : pairings) {
    char hidName[64];
    std::snprintf(hidName, sizeof hidName, "0003:%04X:%04X.%04X", vid, mid, nextHid_++);
    std::string child = addHid(hids[2], hidName, hidId(3, vid, mid), "Logitech Wireless Mouse " + hexUpper(mid, 4),
                               "usb-0000:00:14.0-" + port + "/input2:" + std::to_string(slot), "", pairedDeviceDescriptor());
    out.push_back(addInput(child, nextInput_++, "Logitech Wireless Mouse " + hexUpper(mid, 4), 3, vid, mid,
                           {{"ID_INPUT_MOUSE", "1"}}, emit));
  }
  gCreated = nullptr;
  // The paired devices go one by one; the receiver goes with the last.
  for (const auto& ev : out) removeTogether_[ev] = {};
  if (!out.empty()) removeTogether_[out.back()] = created;
  return out;
}

std::string MockMachine::addKeyboard(bool emit) {
  std::string usb = add("usb", "3-1", "", {{"idVendor", "04d9"}, {"idProduct", "1603"}, {"busnum", "3"}, {"devpath", "1"}},
                              {{"DEVTYPE", "usb_device"}});
  std::string hid = addHid(usb, "0003:04D9:1603.00F0", hidId(3, 0x04D9, 0x1603), "Keyboard", "usb-3-1/input0", "",
                           {0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0xC0});
  return addInput(hid, nextInput_++, "Keyboard", 3, 0x04D9, 0x1603, {{"ID_INPUT_KEYBOARD", "1"}, {"ID_INPUT_KEY", "1"}}, emit);
}

std::string MockMachine::addJoystick(bool emit) {
  std::string usb = add("usb", "3-2", "", {{"idVendor", "045e"}, {"idProduct", "028e"}, {"busnum", "3"}, {"devpath", "2"}},
                              {{"DEVTYPE", "usb_device"}});
  std::string hid = addHid(usb, "0003:045E:028E.00F1", hidId(3, 0x045E, 0x028E), "Gamepad", "usb-3-2/input0", "",
                           {0x05, 0x01, 0x09, 0x05, 0xA1, 0x01, 0xC0});
  return addInput(hid, nextInput_++, "Gamepad", 3, 0x045E, 0x028E, {{"ID_INPUT_JOYSTICK", "1"}, {"ID_INPUT_MOUSE", "1"}}, emit);
}

std::string MockMachine::addTablet(bool emit) {
  std::string usb = add("usb", "3-3", "", {{"idVendor", "056a"}, {"idProduct", "0374"}, {"busnum", "3"}, {"devpath", "3"}},
                              {{"DEVTYPE", "usb_device"}});
  std::string hid = addHid(usb, "0003:056A:0374.00F2", hidId(3, 0x056A, 0x0374), "Wacom Intuos", "usb-3-3/input0", "",
                           {0x05, 0x0D, 0x09, 0x02, 0xA1, 0x01, 0xC0});
  return addInput(hid, nextInput_++, "Wacom Intuos Pen", 3, 0x056A, 0x0374, {{"ID_INPUT_TABLET", "1"}, {"ID_INPUT_MOUSE", "1"}}, emit);
}

std::string MockMachine::addVirtualPointer(const std::string& name, bool emit) {
  int n = nextInput_++;
  std::string input = add("input", "virtual/input/input" + std::to_string(n), "",
                          {{"name", name}, {"id/bustype", "0006"}, {"id/vendor", "0000"}, {"id/product", "0000"}},
                          {{"NAME", "\"" + name + "\""}});
  (void)emit;  // umockdev announces every device it adds
  return add("input", "event" + std::to_string(n), input, {},
             {{"DEVNAME", "/dev/input/event" + std::to_string(n)}, {"ID_INPUT", "1"}, {"ID_INPUT_MOUSE", "1"}});
}

void MockMachine::uevent(const std::string& path, const char* action) {
  umockdev_testbed_uevent(tb_, path.c_str(), action);
  if (pump_) pump_();
}

void MockMachine::remove(const std::string& evdevPath) {
  uevent(evdevPath, "remove");
  auto it = removeTogether_.find(evdevPath);
  umockdev_testbed_remove_device(tb_, evdevPath.c_str());
  if (it == removeTogether_.end()) return;
  // Children first: each removal takes its own bus link, so the names can come back.
  for (auto p = it->second.rbegin(); p != it->second.rend(); ++p)
    if (*p != evdevPath) umockdev_testbed_remove_device(tb_, p->c_str());
  removeTogether_.erase(it);
}

void MockMachine::unplugReceiverNode() {
  if (receiverFd_ >= 0) ::close(receiverFd_);
  receiverFd_ = -1;
  silent_ = true;
}

void MockMachine::serveReceiver() {
  if (receiverFd_ < 0) return;
  uint8_t buf[512];
  ssize_t n;
  while ((n = ::read(receiverFd_, buf, sizeof buf)) > 0) pending_.insert(pending_.end(), buf, buf + n);
  // Reports to the receiver are 7 bytes (short) here.
  while (pending_.size() >= 7) {
    std::vector<uint8_t> r(pending_.begin(), pending_.begin() + 7);
    pending_.erase(pending_.begin(), pending_.begin() + 7);
    writes_.push_back(r);
    if (silent_ || r[0] != 0x10) continue;
    std::vector<uint8_t> answer;
    auto put = [&](std::vector<uint8_t> report) { answer.insert(answer.end(), report.begin(), report.end()); };
    if (r[1] == 0xFF && r[2] == 0x80) {
      put({0x10, 0xFF, 0x80, r[3], 0x00, 0x00, 0x00});
      if (r[3] == 0x02 && r[4] == 0x02) {
        for (const auto& [slot, mid] : pairings_)
          put({0x10, static_cast<uint8_t>(slot), 0x41, 0x04, 0x00, static_cast<uint8_t>(mid & 0xFF), static_cast<uint8_t>(mid >> 8)});
        put({0x10, 0x07, 0x80, 0x02, 0x00, 0x00, 0x00});
      }
    }
    if (!answer.empty()) (void)!::write(receiverFd_, answer.data(), answer.size());
  }
}

}  // namespace vl::testing
