// The udev tests' bench: a umockdev machine, the Linux registry, event system and hidraw
// adapters on it, a virtual run loop, and a speed writer that records what it is given.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/linux/hidraw_devices.h"
#include "platform/linux/udev_event_system.h"
#include "platform/linux/udev_machine.h"
#include "support/result_value.h"
#include "support/sim_world.h"
#include "udev/mock_machine.h"

namespace vl::test {

class RecordingWriter : public linux_input::PointerWriter {
 public:
  std::string name() const override { return "recording"; }
  bool handles(const linux_input::InputDeviceInfo&) const override { return true; }
  Status setProperty(const linux_input::InputDeviceInfo& d, std::string_view key, const pl::Value& v) override {
    writes.push_back({d.devNode, std::string(key), v});
    values[d.devNode + "/" + std::string(key)] = v;
    return Status();
  }
  std::optional<pl::Value> property(const linux_input::InputDeviceInfo& d, std::string_view key) const override {
    auto it = values.find(d.devNode + "/" + std::string(key));
    if (it == values.end()) return std::nullopt;
    return it->second;
  }
  Status restore(const linux_input::InputDeviceInfo&) override { return Status(); }
  void onChangedBehindBack(ChangedCallback) override {}
  struct Write {
    std::string node, key;
    pl::Value value;
  };
  std::vector<Write> writes;
  std::map<std::string, pl::Value> values;
};

// SimWorld gives the folders, store, session and the rest; the HID ports are the Linux ones.
class UdevBench : public SimWorld {
 protected:
  void SetUp() override {
    if (!testing::MockMachine::available()) GTEST_SKIP() << testing::MockMachine::whyUnavailable();
  }
  // Starts the adapters on the devices written so far.
  void start(bool withWriter = true) {
    machine = test::valueOf(linux_::UdevMachine::open());
    ASSERT_TRUE(machine);
    linux_input::WriterChooser chooser;
    if (withWriter) chooser = [this](const linux_input::InputDeviceInfo&) { return &writer; };
    events = std::make_unique<linux_::UdevEventSystem>(*machine, chooser, [this](const std::string& l) { reports.push_back(l); });
    hid = std::make_unique<linux_::HidrawDevices>(
        *machine, [this](const std::string& l) { reports.push_back(l); },
        [this](double s, const std::vector<int>& fds) {
          mock.serveReceiver();
          linux_::waitForInput(s, fds);
        },
        opener);
    mock.setPump([this] { machine->processEvents(); });
    platform.registry = &machine->registry();
    platform.eventSystem = events.get();
    platform.hidDevices = hid.get();
  }
  // Takes the uevents sent so far, as the run loop does when the monitor's descriptor is readable.
  void pump() { machine->processEvents(); }
  std::shared_ptr<linux_::UdevServiceClient> serviceAt(const std::string& evdev) {
    auto it = machine->devices().find(evdev);
    if (it == machine->devices().end()) return nullptr;
    return events->service(it->second.service);
  }

  testing::MockMachine mock;
  RecordingWriter writer;
  linux_::HidrawDevices::Opener opener;
  std::unique_ptr<linux_::UdevMachine> machine;
  std::unique_ptr<linux_::UdevEventSystem> events;
  std::unique_ptr<linux_::HidrawDevices> hid;
  std::vector<std::string> reports;
};

}  // namespace vl::test
