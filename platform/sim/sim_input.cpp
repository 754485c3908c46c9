// The simulated Mac's live input: HID managers that match HID devices by location and usage
// pairs and hand their input values on the run loop, and mouse-moved event monitors.
#include <algorithm>

#include "platform/sim/sim_mac_impl.h"

namespace vl::sim {

namespace mac_detail {

class SimInputDevice : public HidInputDevice {
 public:
  // Devices of an opened manager come opened, as IOHIDManagerOpen opens every device it matches.
  SimInputDevice(SimMac::Impl& m, RegistryId id, bool opened) : m_(m), id_(id), open_(opened) {
    m_.inputDevices.push_back(this);
  }
  ~SimInputDevice() override {
    m_.inputDevices.erase(std::remove(m_.inputDevices.begin(), m_.inputDevices.end(), this), m_.inputDevices.end());
  }
  RegistryId service() const override { return m_.node(id_) ? id_ : 0; }
  int32_t open() override {
    if (!m_.node(id_)) return kIOReturnNotFound;
    open_ = true;
    return kIOReturnSuccess;
  }
  void close() override { open_ = false; }
  void setInputValueMatchingMultiple(const pl::Array& matching) override { matching_ = matching; }
  void registerInputValueCallback(InputValueCallback cb) override { callback_ = std::move(cb); }
  void scheduleWithRunLoop() override { scheduled_ = true; }
  void unscheduleFromRunLoop() override { scheduled_ = false; }

  RegistryId id() const { return id_; }
  bool listening() const { return open_ && scheduled_ && callback_ && m_.node(id_); }
  bool passes(const HidInputValue& v) const {
    if (matching_.empty()) return true;
    for (const auto& m : matching_) {
      auto page = m.integerFor(kIOHIDElementUsagePageKey);
      auto usage = m.integerFor(kIOHIDElementUsageKey);
      if ((!page || *page == static_cast<int64_t>(v.usagePage)) && (!usage || *usage == static_cast<int64_t>(v.usage)))
        return true;
    }
    return false;
  }
  // The callback as registered now; a later unregister does not stop values already posted,
  // as on the platform, but a device that is gone by then gets nothing.
  void deliver(const HidInputValue& v) {
    std::weak_ptr<bool> alive = alive_;
    m_.deliver([this, alive, v] {
      if (alive.expired() || !listening()) return;
      auto cb = callback_;
      cb(kIOReturnSuccess, v);
    });
  }

 private:
  SimMac::Impl& m_;
  RegistryId id_;
  bool open_ = false, scheduled_ = false;
  pl::Array matching_;
  InputValueCallback callback_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

namespace {

// The IOHIDDevice entries that match a manager's dictionary: every key but the usage pairs
// compared as the registry compares properties; with pairs, any one of them must match.
std::vector<RegistryId> matchingHidDevices(const SimMac::Impl& m, const pl::Dict& matching) {
  std::vector<RegistryId> out;
  pl::Dict base = matching;
  base.erase(kIOHIDDeviceUsagePairsKey);
  base[kIOProviderClassKey] = pl::Value("IOHIDDevice");
  std::vector<pl::Dict> alternatives;
  auto pairs = matching.find(kIOHIDDeviceUsagePairsKey);
  if (pairs != matching.end() && pairs->second.isArray()) {
    for (const auto& p : *pairs->second.asArray()) {
      pl::Dict d = base;
      if (auto page = p.find(kIOHIDDeviceUsagePageKey)) d[kIOHIDDeviceUsagePageKey] = *page;
      if (auto usage = p.find(kIOHIDDeviceUsageKey)) d[kIOHIDDeviceUsageKey] = *usage;
      alternatives.push_back(std::move(d));
    }
  } else {
    alternatives.push_back(base);
  }
  for (const auto& [id, node] : m.nodes) {
    for (const auto& alt : alternatives) {
      if (m.matches(node, alt)) {
        out.push_back(id);
        break;
      }
    }
  }
  return out;
}

class SimHidManager : public HidManager {
 public:
  explicit SimHidManager(SimMac::Impl& m) : m_(m) {}
  void setDeviceMatching(const pl::Dict& matching) override {
    matching_ = matching;
    hasMatching_ = true;
  }
  int32_t open() override {
    if (m_.hidManagerOpenFails) return kIOReturnNotPermitted;
    opened_ = true;
    return kIOReturnSuccess;
  }
  void close() override { opened_ = false; }
  std::vector<HidInputDeviceRef> copyDevices() override {
    std::vector<HidInputDeviceRef> out;
    if (!hasMatching_) return out;
    for (RegistryId id : matchingHidDevices(m_, matching_)) out.push_back(std::make_shared<SimInputDevice>(m_, id, opened_));
    return out;
  }

 private:
  SimMac::Impl& m_;
  pl::Dict matching_;
  bool hasMatching_ = false;
  bool opened_ = false;
};

class SimHidManagers : public HidManagers {
 public:
  explicit SimHidManagers(SimMac::Impl& m) : m_(m) {}
  std::unique_ptr<HidManager> createManager() override {
    if (m_.hidManagerCreationFails) return nullptr;
    return std::make_unique<SimHidManager>(m_);
  }

 private:
  SimMac::Impl& m_;
};

class SimEventMonitors : public EventMonitors {
 public:
  explicit SimEventMonitors(SimMac::Impl& m) : m_(m) {}
  Token addLocalMouseMovedMonitor(Handler h) override { return add(true, std::move(h)); }
  Token addGlobalMouseMovedMonitor(Handler h) override { return add(false, std::move(h)); }
  void removeMonitor(Token t) override { m_.mouseMonitors.erase(t); }

 private:
  Token add(bool local, Handler h) {
    Token t = m_.nextToken++;
    m_.mouseMonitors[t] = {local, std::move(h)};
    return t;
  }
  SimMac::Impl& m_;
};

}  // namespace

std::unique_ptr<HidManagers> makeHidManagers(SimMac::Impl& m) { return std::make_unique<SimHidManagers>(m); }
std::unique_ptr<EventMonitors> makeEventMonitors(SimMac::Impl& m) { return std::make_unique<SimEventMonitors>(m); }

size_t deliverInputReport(SimMac::Impl& m, RegistryId hidDevice, const std::vector<HidInputValue>& values) {
  size_t listeners = 0;
  // A copy: a callback may close devices and so change the list.
  std::vector<SimInputDevice*> devices = m.inputDevices;
  for (SimInputDevice* d : devices) {
    if (d->id() != hidDevice || !d->listening()) continue;
    ++listeners;
    for (const auto& v : values)
      if (d->passes(v)) d->deliver(v);
  }
  return listeners;
}

}  // namespace mac_detail

HidManagers& SimMac::hidManagers() { return *impl_->hidManagersPort; }
EventMonitors& SimMac::eventMonitors() { return *impl_->eventMonitorsPort; }

size_t SimMac::postInputReport(RegistryId hidDevice, const std::vector<HidInputValue>& values) {
  return mac_detail::deliverInputReport(*impl_, hidDevice, values);
}

void SimMac::postMouseMoved(double deltaX, double deltaY) {
  Impl& m = *impl_;
  const bool local = m.receivesMouseEvents;
  for (const auto& [token, monitor] : m.mouseMonitors) {
    if (monitor.local != local) continue;
    const uint64_t t = token;
    m.deliver([&m, t, deltaX, deltaY] {
      // Removed in the meantime: as the platform, no more events.
      auto it = m.mouseMonitors.find(t);
      if (it == m.mouseMonitors.end()) return;
      auto handler = it->second.handler;
      handler(MouseMovedEvent{deltaX, deltaY});
    });
  }
}

void SimMac::setReceivesMouseEvents(bool receives) { impl_->receivesMouseEvents = receives; }

std::vector<RegistryId> SimMac::pointerDevicesAt(uint32_t locationID) const {
  pl::Dict matching;
  matching[kIOHIDLocationIDKey] = pl::Value::uint32(locationID);
  pl::Array pairs;
  for (uint32_t usage : {kHIDUsage_GD_Pointer, kHIDUsage_GD_Mouse}) {
    pl::Dict p;
    p[kIOHIDDeviceUsagePageKey] = pl::Value::int64(kHIDPage_GenericDesktop);
    p[kIOHIDDeviceUsageKey] = pl::Value::int64(usage);
    pairs.emplace_back(std::move(p));
  }
  matching[kIOHIDDeviceUsagePairsKey] = pl::Value(std::move(pairs));
  return mac_detail::matchingHidDevices(*impl_, matching);
}

void SimMac::failHidManagerCreation(bool fail) { impl_->hidManagerCreationFails = fail; }
void SimMac::failHidManagerOpen(bool fail) { impl_->hidManagerOpenFails = fail; }

}  // namespace vl::sim
