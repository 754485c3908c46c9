// Listing the pointing devices the agent would see.
#include "tools/ctl/pointing_listing.h"

#include <map>
#include <ostream>

#include "core/devices/connected_device.h"
#include "core/hid/pointer_parameters.h"
#include "core/hid/registry_search.h"
#include "core/runloop/virtual_runloop.h"
#include "core/system/drovana.h"
#include "platform/api/hid.h"
#include "platform/api/session.h"
#include "tools/common/device_names.h"
#include "tools/ctl/command.h"

namespace vl::ctl {

namespace {

// A service whose writes stay here: listing never changes the system it looks at.
class KeptService : public HidServiceClient {
 public:
  explicit KeptService(ServiceRef inner) : inner_(std::move(inner)) {}
  RegistryId registryID() const override { return inner_->registryID(); }
  std::optional<pl::Value> property(std::string_view key) const override {
    auto it = own_.find(key);
    if (it != own_.end()) return it->second;
    return inner_->property(key);
  }
  Status setProperty(std::string_view key, const pl::Value& value) override {
    if (key != kQuillonMIDKey && key != kQuillonUnifyingIXKey) return Status::failure(1, "a listing changes no " + std::string(key));
    own_[std::string(key)] = value;
    return Status::success();
  }
  const ServiceRef& inner() const { return inner_; }

 private:
  ServiceRef inner_;
  pl::Dict own_;
};

class KeptClient : public HidEventSystemClient {
 public:
  explicit KeptClient(std::unique_ptr<HidEventSystemClient> inner) : inner_(std::move(inner)) {}
  void setMatchingMultiple(const pl::Array& m) override { inner_->setMatchingMultiple(m); }
  void scheduleWithRunLoop() override { inner_->scheduleWithRunLoop(); }
  void unscheduleFromRunLoop() override { inner_->unscheduleFromRunLoop(); }
  void registerDeviceMatchingCallback(ServiceCallback cb) override {
    if (!cb) return inner_->registerDeviceMatchingCallback(nullptr);
    inner_->registerDeviceMatchingCallback([this, cb](const ServiceRef& s) { cb(wrap(s)); });
  }
  std::vector<ServiceRef> copyServices() override {
    std::vector<ServiceRef> out;
    for (auto& s : inner_->copyServices()) out.push_back(wrap(s));
    return out;
  }
  void registerRemovalCallback(const ServiceRef& service, ServiceCallback cb) override {
    auto* kept = dynamic_cast<KeptService*>(service.get());
    if (!kept) return;
    if (!cb) return inner_->registerRemovalCallback(kept->inner(), nullptr);
    inner_->registerRemovalCallback(kept->inner(), [this, cb](const ServiceRef& s) { cb(wrap(s)); });
  }
  void registerPropertyChangedCallback(const std::string&, PropertyCallback) override {}

 private:
  ServiceRef wrap(const ServiceRef& s) {
    auto& w = wrapped_[s->registryID()];
    if (!w) w = std::make_shared<KeptService>(s);
    return w;
  }
  std::unique_ptr<HidEventSystemClient> inner_;
  std::map<RegistryId, ServiceRef> wrapped_;
};

class KeptEventSystem : public HidEventSystem {
 public:
  explicit KeptEventSystem(HidEventSystem& inner) : inner_(inner) {}
  std::unique_ptr<HidEventSystemClient> createClient() override {
    auto c = inner_.createClient();
    return c ? std::make_unique<KeptClient>(std::move(c)) : nullptr;
  }
  uint32_t openEventStatus() override { return inner_.openEventStatus(); }
  int32_t getAccelerationWithKey(uint32_t c, const std::string& k, double* v) override {
    return inner_.getAccelerationWithKey(c, k, v);
  }

 private:
  HidEventSystem& inner_;
};

class AlwaysActive : public Session {
 public:
  SessionState current() const override { return {true, false}; }
  Token observe(std::function<void(SessionEvent)>) override { return 1; }
  void unobserve(Token) override {}
};

class Collect : public ConnectedDeviceController {
 public:
  void connectedDeviceNotify(const ServiceRef& s, bool attached) override {
    if (attached) seen.push_back(s);
  }
  std::vector<ServiceRef> seen;
};

}  // namespace

std::vector<PointingRow> listPointingDevices(const Platform& ports,
                                             const std::function<std::string(const HidServiceClient&)>& pathOf,
                                             const std::function<std::string(const HidServiceClient&)>& writerOf) {
  std::vector<PointingRow> rows;
  if (!ports.eventSystem) return rows;
  VirtualRunLoop loop;
  KeptEventSystem events(*ports.eventSystem);
  AlwaysActive session;
  Platform p = ports;
  p.runLoop = &loop;
  p.eventSystem = &events;
  p.session = &session;
  Collect collect;
  auto notifier = QS825ConnectedDeviceNotifier::connectedDeviceNotifierWithController(ConnectedDevicePorts::from(p), &collect, nullptr,
                                                                                     velmora::kAgentBundleID);
  if (!notifier) return rows;
  // Long enough for every standby time and a receiver's retries; virtual, so it costs only the
  // receivers' own answer times.
  loop.advance(7.0);
  notifier->finishAllDevices();
  for (const auto& s : collect.seen) {
    auto* kept = static_cast<KeptService*>(s.get());
    PointingRow r;
    std::optional<std::string> transport;
    uint8_t slot = 0;
    getDeviceInfo(s.get(), &r.vid, &r.pid, &r.mid, &transport, nullptr, &slot);
    r.transport = transport.value_or("");
    r.device = cli::deviceNameText(r.vid, r.pid, r.mid, r.transport);
    r.product = serviceString(s.get(), "Product").value_or("");
    r.slot = slot;
    r.path = pathOf ? pathOf(*kept->inner()) : "";
    r.writer = writerOf ? writerOf(*kept->inner()) : "";
    r.supported = VL722isSupportedServiceClient(p, s.get());
    rows.push_back(std::move(r));
  }
  notifier.reset();
  return rows;
}

void printPointingText(const std::vector<PointingRow>& rows, const std::string& systemLine, std::ostream& out) {
  out << systemLine << "\n";
  if (rows.empty()) out << "no pointing devices\n";
  for (const auto& r : rows) {
    out << "\n" << (r.product.empty() ? r.device : r.product) << "\n"
        << "  device     " << r.device << (r.supported ? "" : "   (not supported)") << "\n"
        << "  transport  " << (r.transport.empty() ? "-" : r.transport) << "\n"
        << "  path       " << (r.path.empty() ? "-" : r.path) << "\n"
        << "  slot       " << (r.slot ? std::to_string(r.slot) : std::string("-")) << "\n"
        << "  writer     " << (r.writer.empty() ? "-" : r.writer) << "\n";
  }
}

void printPointingJson(const std::vector<PointingRow>& rows, const std::string& system, std::ostream& out) {
  out << "{\"system\": " << jsonString(system) << ", \"devices\": [";
  for (size_t i = 0; i < rows.size(); ++i) {
    const auto& r = rows[i];
    out << (i ? ",\n " : "\n ") << "{\"device\": " << jsonString(r.device) << ", \"product\": " << jsonString(r.product)
        << ", \"vid\": " << r.vid << ", \"pid\": " << r.pid << ", \"mid\": " << r.mid
        << ", \"transport\": " << jsonString(r.transport) << ", \"path\": " << jsonString(r.path)
        << ", \"slot\": " << r.slot << ", \"writer\": " << jsonString(r.writer)
        << ", \"supported\": " << (r.supported ? "true" : "false") << "}";
  }
  out << (rows.empty() ? "]}\n" : "\n]}\n");
}

}  // namespace vl::ctl
