// The udev-backed HID event system, its clients and service clients.
#include "platform/linux/udev_event_system.h"

#include "core/plist/value.h"

namespace vl::linux_ {

namespace {

class UdevClient : public HidEventSystemClient {
 public:
  explicit UdevClient(UdevEventSystem& system) : system_(system) {
    token_ = system_.listen([this](const ServiceRef& s, bool added) { changed(s, added); });
    changeToken_ = system_.listenChanges([this](const UdevServiceClient& s) { speedChanged(s); });
  }
  ~UdevClient() override {
    system_.unlisten(token_);
    system_.unlistenChanges(changeToken_);
  }

  void setMatchingMultiple(const pl::Array& matching) override { matching_ = matching; }
  void scheduleWithRunLoop() override { scheduled_ = true; }
  void unscheduleFromRunLoop() override { scheduled_ = false; }
  void registerDeviceMatchingCallback(ServiceCallback cb) override { arrival_ = std::move(cb); }
  std::vector<ServiceRef> copyServices() override {
    std::vector<ServiceRef> out;
    for (auto& s : system_.services())
      if (matches(*s)) out.push_back(s);
    return out;
  }
  void registerRemovalCallback(const ServiceRef& service, ServiceCallback cb) override {
    if (!service) return;
    if (cb) removal_[service->registryID()] = std::move(cb);
    else removal_.erase(service->registryID());
  }
  // The desktop's own speed of a device changing behind its writer's back stands for the
  // platform's system-speed change (speedChanged).
  void registerPropertyChangedCallback(const std::string& key, PropertyCallback cb) override {
    if (cb) propertyCallbacks_[key] = std::move(cb);
    else propertyCallbacks_.erase(key);
  }

 private:
  bool matches(const UdevServiceClient& s) const {
    const RegistryTree::Entry* e = system_.machine().registry().entry(s.registryID());
    if (!e) return false;
    for (const auto& m : matching_) {
      const pl::Dict* d = m.asDict();
      if (d && RegistryTree::usagePairMatches(e->props, *d)) return true;
    }
    return false;
  }
  void changed(const ServiceRef& service, bool added) {
    if (added) {
      auto* s = static_cast<UdevServiceClient*>(service.get());
      if (scheduled_ && arrival_ && matches(*s)) {
        auto cb = arrival_;  // the callback may replace itself
        cb(service);
      }
      return;
    }
    auto it = removal_.find(service->registryID());
    if (it == removal_.end()) return;
    auto cb = std::move(it->second);
    removal_.erase(it);
    if (scheduled_) cb(service);
  }

  void speedChanged(const UdevServiceClient& s) {
    if (!scheduled_ || !matches(s)) return;
    const std::string key = s.info().touchpad ? "HIDTrackpadAcceleration" : "HIDMouseAcceleration";
    auto it = propertyCallbacks_.find(key);
    if (it == propertyCallbacks_.end()) return;
    auto cb = it->second;  // the callback may replace itself
    cb(key, s.property(key).value_or(pl::Value::int32(0)));
  }

  UdevEventSystem& system_;
  uint64_t token_ = 0, changeToken_ = 0;
  pl::Array matching_;
  bool scheduled_ = false;
  ServiceCallback arrival_;
  std::map<RegistryId, ServiceCallback> removal_;
  std::map<std::string, PropertyCallback> propertyCallbacks_;
};

}  // namespace

// --- UdevServiceClient -----------------------------------------------------------------------

UdevServiceClient::UdevServiceClient(UdevEventSystem& system, const UdevPointingDevice& device,
                                     linux_input::PointerWriter& writer)
    : system_(&system), id_(device.service), device_(device), info_(device.info), writer_(&writer) {
  identity_ = system.machine().registry().properties(device.service);
  // A receiver's slot is known from the kernel; the model id still comes from the receiver.
  if (device.receiverSlot > 0) ownProps_["QuillonUnifyingIX"] = pl::Value::uint8(static_cast<uint8_t>(device.receiverSlot));
}

std::optional<pl::Value> UdevServiceClient::property(std::string_view key) const {
  if (linux_input::isPointerParameterKey(key)) {
    if (auto v = writer_->property(info_, key)) return v;
    // Which key a device takes its acceleration under is the device's own fact.
    if (key == "HIDPointerAccelerationType" || key == "HIDScrollAccelerationType") {
      auto it = identity_.find(key);
      if (it != identity_.end()) return it->second;
    }
    return std::nullopt;
  }
  auto own = ownProps_.find(key);
  if (own != ownProps_.end()) return own->second;
  auto it = identity_.find(key);
  if (it == identity_.end()) return std::nullopt;
  return it->second;
}

Status UdevServiceClient::setProperty(std::string_view key, const pl::Value& value) {
  if (linux_input::isPointerParameterKey(key)) {
    Status s = writer_->setProperty(info_, key, value);
    if (!s.ok()) {
      lastRefusal_ = s.detail().empty() ? "refused" : s.detail();
      system_->reportRefusal(*this, lastRefusal_);
      return Status::failure(s.code(), lastRefusal_);
    }
    lastRefusal_.clear();
    return Status::success();
  }
  if (key == "QuillonMID" || key == "QuillonUnifyingIX") {
    if (!value.isNumber()) return Status::failure(1, std::string(key) + " takes a number");
    ownProps_[std::string(key)] = value;
    return Status::success();
  }
  // Identity is the kernel's; nothing else is written here.
  return Status::failure(1, std::string(key) + " is the kernel's to say");
}

// --- UdevEventSystem -------------------------------------------------------------------------

UdevEventSystem::UdevEventSystem(UdevMachine& machine, linux_input::WriterChooser chooser, Report report)
    : machine_(machine), chooser_(std::move(chooser)), report_(std::move(report)) {
  for (const auto& [path, d] : machine_.devices()) services_[d.service] = makeService(d);
  machineToken_ = machine_.addListener([this](const UdevPointingDevice& d, bool added) { deviceChanged(d, added); });
  // The registry's pointer parameters of a device are its writer's.
  machine_.registry().setDynamicProperty([this](RegistryId id, std::string_view key) -> std::optional<pl::Value> {
    if (!linux_input::isPointerParameterKey(key)) return std::nullopt;
    auto it = services_.find(id);
    if (it == services_.end()) return std::nullopt;
    return it->second->writer().property(it->second->info(), key);
  });
}

UdevEventSystem::~UdevEventSystem() {
  for (auto* w : watchedWriters_) w->onChangedBehindBack(nullptr);
  machine_.removeListener(machineToken_);
  machine_.registry().setDynamicProperty(nullptr);
}

std::shared_ptr<UdevServiceClient> UdevEventSystem::makeService(const UdevPointingDevice& d) {
  linux_input::PointerWriter* writer = chooser_ ? chooser_(d.info) : nullptr;
  if (writer && watchedWriters_.insert(writer).second)
    writer->onChangedBehindBack([this](const linux_input::InputDeviceInfo& device) { desktopSpeedChanged(device); });
  return std::make_shared<UdevServiceClient>(*this, d, writer ? *writer : refusing_);
}

void UdevEventSystem::deviceChanged(const UdevPointingDevice& d, bool added) {
  std::shared_ptr<UdevServiceClient> s;
  if (added) {
    s = makeService(d);
    services_[d.service] = s;
  } else {
    auto it = services_.find(d.service);
    if (it == services_.end()) return;
    s = it->second;
    services_.erase(it);
  }
  auto copy = listeners_;
  for (auto& [t, fn] : copy)
    if (listeners_.count(t)) fn(s, added);
}

std::unique_ptr<HidEventSystemClient> UdevEventSystem::createClient() { return std::make_unique<UdevClient>(*this); }

int32_t UdevEventSystem::getAccelerationWithKey(uint32_t, const std::string&, double*) { return kIOReturnNotFound; }

std::shared_ptr<UdevServiceClient> UdevEventSystem::service(RegistryId entry) const {
  auto it = services_.find(entry);
  return it == services_.end() ? nullptr : it->second;
}

std::vector<std::shared_ptr<UdevServiceClient>> UdevEventSystem::services() const {
  std::vector<std::shared_ptr<UdevServiceClient>> out;
  for (const auto& [id, s] : services_) out.push_back(s);
  return out;
}

linux_input::PointerWriter* UdevEventSystem::writerFor(RegistryId serviceEntry) const {
  auto s = service(serviceEntry);
  return s ? &s->writer() : nullptr;
}

uint64_t UdevEventSystem::listen(Listener fn) {
  uint64_t t = nextToken_++;
  listeners_.emplace(t, std::move(fn));
  return t;
}

void UdevEventSystem::unlisten(uint64_t token) { listeners_.erase(token); }

uint64_t UdevEventSystem::listenChanges(ChangeListener fn) {
  uint64_t t = nextToken_++;
  changeListeners_.emplace(t, std::move(fn));
  return t;
}

void UdevEventSystem::unlistenChanges(uint64_t token) { changeListeners_.erase(token); }

void UdevEventSystem::desktopSpeedChanged(const linux_input::InputDeviceInfo& device) {
  std::shared_ptr<UdevServiceClient> changed;
  for (const auto& [id, s] : services_)
    if (s->info().sysPath == device.sysPath && s->info().devNode == device.devNode) changed = s;
  if (!changed) return;
  auto copy = changeListeners_;
  for (auto& [t, fn] : copy)
    if (changeListeners_.count(t)) fn(*changed);
}

void UdevEventSystem::reportRefusal(const UdevServiceClient& service, const std::string& detail) {
  // Once per device and reason: the agent writes every few seconds at most, but a log that
  // repeats itself hides what changed.
  std::string key = service.info().sysPath + "\n" + detail;
  if (!refusalsSaid_.insert(key).second || !report_) return;
  report_("cannot set the speed of " + service.info().name + " (" + service.info().devNode + "): " + detail);
}

}  // namespace vl::linux_
