// HID devices of the real machine over hidraw: open, the elements of the report descriptor,
// input queues fed from the node, and output and feature reports. Reads never block; a device
// that goes away mid-exchange ends the exchange with what arrived. A node the user may not
// open is reported once, with the udev rule that grants access.
#pragma once

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/api/hid.h"
#include "platform/linux/hid_report_descriptor.h"
#include "platform/linux/udev_machine.h"

namespace vl::linux_ {

// The rule shipped for receivers, and where it goes.
inline constexpr const char* kReceiverRuleName = "70-velmora-receivers.rules";

class HidrawDevices : public HidDevices {
 public:
  // Waits while a device prepares its answers; the descriptors of the open devices are given
  // so a waiter may return as soon as something arrived.
  using Waiter = std::function<void(double seconds, const std::vector<int>& fds)>;
  using Report = std::function<void(const std::string& line)>;
  // open(2) as the adapter calls it (path, flags); a test stands a refusing one in.
  using Opener = std::function<int(const char* path, int flags)>;
  // Without a waiter the calling thread sleeps the whole time, as the exchanges expect.
  HidrawDevices(UdevMachine& machine, Report report = {}, Waiter waiter = {}, Opener opener = {});
  ~HidrawDevices() override;

  HidDeviceRef createDevice(RegistryId entry) override;
  // Linux asks no permission to listen to pointer movements beyond reading the devices.
  bool checkListenAccess() override { return true; }
  void pause(double seconds) override;

  // Internal: open devices register so a pause can gather what they receive.
  class Device;
  void opened(Device* d);
  void closed(Device* d);
  void permissionDenied(const std::string& node);
  // The node a rule-less user cannot open, as said once (tests).
  const std::set<std::string>& deniedNodes() const { return denied_; }

 private:
  UdevMachine& machine_;
  Report report_;
  Waiter waiter_;
  Opener opener_;
  std::vector<Device*> open_;
  std::set<std::string> denied_;
};

// A waiter that returns as soon as one of the descriptors is readable (or the time is up):
// for scripted devices that answer at once.
void waitForInput(double seconds, const std::vector<int>& fds);

}  // namespace vl::linux_
