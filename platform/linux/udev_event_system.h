// The HID event system of the real machine: a service client per pointing device of the udev
// machine, clients with matching, arrival and removal callbacks, and the hand-over of every
// pointer-parameter property to the device's speed writer. Identity and the model-id keys
// the system writes itself stay with the service client.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "platform/api/hid.h"
#include "platform/linux/udev_machine.h"
#include "platform/linux/writer_chooser.h"

namespace vl::linux_ {

class UdevEventSystem;

class UdevServiceClient : public HidServiceClient {
 public:
  UdevServiceClient(UdevEventSystem& system, const UdevPointingDevice& device, linux_input::PointerWriter& writer);
  RegistryId registryID() const override { return id_; }
  std::optional<pl::Value> property(std::string_view key) const override;
  Status setProperty(std::string_view key, const pl::Value& value) override;

  const linux_input::InputDeviceInfo& info() const { return info_; }
  linux_input::PointerWriter& writer() const { return *writer_; }
  const UdevPointingDevice& device() const { return device_; }
  // The detail of the writer's last refusal; empty when the last write went through.
  const std::string& lastRefusal() const { return lastRefusal_; }

 private:
  UdevEventSystem* system_;
  RegistryId id_;
  UdevPointingDevice device_;
  linux_input::InputDeviceInfo info_;
  linux_input::PointerWriter* writer_;
  pl::Dict identity_;   // the entry's properties as they were when the device came
  pl::Dict ownProps_;   // the model id and receiver slot this system learnt
  std::string lastRefusal_;
};

class UdevEventSystem : public HidEventSystem {
 public:
  using Report = std::function<void(const std::string& line)>;
  // chooser may be empty: every device then gets the refusing writer. report hears, once per
  // device, that its speed cannot be set and why. The writers must outlive this object.
  UdevEventSystem(UdevMachine& machine, linux_input::WriterChooser chooser, Report report = {});
  ~UdevEventSystem() override;
  UdevEventSystem(const UdevEventSystem&) = delete;
  UdevEventSystem& operator=(const UdevEventSystem&) = delete;

  std::unique_ptr<HidEventSystemClient> createClient() override;
  uint32_t openEventStatus() override { return 1; }
  // The desktop's own acceleration is each device's writer's business; there is no
  // system-wide value to read here.
  int32_t getAccelerationWithKey(uint32_t connection, const std::string& key, double* value) override;

  // The service client of a device present now (the same object for every client); null
  // when the entry is no pointing device.
  std::shared_ptr<UdevServiceClient> service(RegistryId entry) const;
  std::vector<std::shared_ptr<UdevServiceClient>> services() const;
  UdevMachine& machine() { return machine_; }
  // The writer of a device that is present: for the registry's pointer parameters.
  linux_input::PointerWriter* writerFor(RegistryId serviceEntry) const;

  // Internal: clients register here to hear arrivals and removals.
  using Listener = std::function<void(const ServiceRef& service, bool added)>;
  uint64_t listen(Listener fn);
  void unlisten(uint64_t token);
  // Internal: clients register here to hear that the desktop's own speed of a device changed
  // behind its writer's back (the desktop's settings, another tool), as the platform's
  // system-speed change reaches them.
  using ChangeListener = std::function<void(const UdevServiceClient& service)>;
  uint64_t listenChanges(ChangeListener fn);
  void unlistenChanges(uint64_t token);
  void reportRefusal(const UdevServiceClient& service, const std::string& detail);

 private:
  void deviceChanged(const UdevPointingDevice& device, bool added);
  std::shared_ptr<UdevServiceClient> makeService(const UdevPointingDevice& device);
  UdevMachine& machine_;
  linux_input::WriterChooser chooser_;
  Report report_;
  linux_input::RefusingPointerWriter refusing_{linux_input::kNoWriterDetail};
  std::map<RegistryId, std::shared_ptr<UdevServiceClient>> services_;
  void desktopSpeedChanged(const linux_input::InputDeviceInfo& device);
  std::map<uint64_t, Listener> listeners_;
  std::map<uint64_t, ChangeListener> changeListeners_;
  std::set<linux_input::PointerWriter*> watchedWriters_;
  std::set<std::string> refusalsSaid_;
  uint64_t nextToken_ = 1;
  UdevMachine::Token machineToken_ = 0;
};

}  // namespace vl::linux_
