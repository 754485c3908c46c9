// The simulated HID event system's service clients and event-system clients (the machine hands
// new, removed and changed services to the clients).
#pragma once

#include "platform/sim/sim_mac_impl.h"

namespace vl::sim::mac_detail {

class SimService : public HidServiceClient {
 public:
  SimService(SimMac::Impl& m, RegistryId id) : m_(m), id_(id) {}
  RegistryId registryID() const override { return id_; }
  std::optional<pl::Value> property(std::string_view key) const override {
    auto n = m_.node(id_);
    if (!n) return std::nullopt;
    auto it = n->props.find(key);
    if (it == n->props.end()) return std::nullopt;
    return it->second;
  }
  Status setProperty(std::string_view key, const pl::Value& value) override {
    Node* n = m_.node(id_);
    bool refused = !n || m_.refusedKeys[std::string(key)];
    m_.recordWrite(id_, key, value, !refused);
    if (refused) return Status::failure(1, "the service refused " + std::string(key));
    n->props[std::string(key)] = value;
    return Status::success();
  }

 private:
  SimMac::Impl& m_;
  RegistryId id_;
};

class SimClient : public HidEventSystemClient {
 public:
  explicit SimClient(SimMac::Impl& m) : m_(m) { m_.clients.push_back(this); }
  ~SimClient() override { m_.clients.erase(std::remove(m_.clients.begin(), m_.clients.end(), this), m_.clients.end()); }

  void setMatchingMultiple(const pl::Array& matching) override { matching_ = matching; }
  void scheduleWithRunLoop() override { scheduled_ = true; }
  void unscheduleFromRunLoop() override { scheduled_ = false; }
  void registerDeviceMatchingCallback(ServiceCallback cb) override { matchingCb_ = std::move(cb); }
  std::vector<ServiceRef> copyServices() override {
    std::vector<ServiceRef> out;
    for (const auto& [id, n] : m_.nodes)
      if (m_.clientMatches(matching_, n)) out.push_back(serviceFor(id));
    return out;
  }
  void registerRemovalCallback(const ServiceRef& service, ServiceCallback cb) override {
    if (service) removalCbs_[service->registryID()] = std::move(cb);
  }
  void registerPropertyChangedCallback(const std::string& key, PropertyCallback cb) override {
    if (cb) propertyCbs_[key] = std::move(cb);
    else propertyCbs_.erase(key);
  }

  void arrived(RegistryId id) {
    const Node* n = m_.node(id);
    if (!scheduled_ || !matchingCb_ || !n || !m_.clientMatches(matching_, *n)) return;
    ServiceRef s = serviceFor(id);
    // The callback is looked up when the event is delivered: a client unscheduled in
    // between gets nothing, as on the platform.
    m_.deliver([this, s, alive = alive_] {
      if (*alive && scheduled_ && matchingCb_) matchingCb_(s);
    });
  }
  void removed(RegistryId id, const ServiceRef& s) {
    auto it = removalCbs_.find(id);
    if (it == removalCbs_.end() || !scheduled_) return;
    ServiceCallback cb = it->second;
    removalCbs_.erase(it);
    m_.deliver([cb, s, alive = alive_] {
      if (*alive) cb(s);
    });
  }
  void propertyChanged(const std::string& key, const pl::Value& v) {
    auto it = propertyCbs_.find(key);
    if (it == propertyCbs_.end() || !scheduled_) return;
    PropertyCallback cb = it->second;
    m_.deliver([cb, key, v, alive = alive_] {
      if (*alive) cb(key, v);
    });
  }
  void invalidate() { *alive_ = false; }

 private:
  ServiceRef serviceFor(RegistryId id) {
    auto& s = m_.services[id];
    if (!s) s = std::make_shared<SimService>(m_, id);
    return s;
  }
  SimMac::Impl& m_;
  pl::Array matching_;
  bool scheduled_ = false;
  ServiceCallback matchingCb_;
  std::map<RegistryId, ServiceCallback> removalCbs_;
  std::map<std::string, PropertyCallback> propertyCbs_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace vl::sim::mac_detail
