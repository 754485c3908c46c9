// The simulated Mac's UserDefaults port, held in memory by domain.
#include "platform/sim/sim_mac_impl.h"

namespace vl::sim::mac_detail {

namespace {

class SimDefaults : public UserDefaults {
 public:
  explicit SimDefaults(SimMac::Impl& m) : m_(m) {}
  void synchronize(const std::string&) override {}
  std::optional<pl::Value> value(const std::string& domain, const std::string& key) const override {
    auto d = m_.defaults.find(domain);
    if (d == m_.defaults.end()) return std::nullopt;
    auto it = d->second.find(key);
    if (it == d->second.end()) return std::nullopt;
    return it->second;
  }
  Status setValue(const std::string& domain, const std::string& key, const pl::Value& v) override {
    m_.defaults[domain][key] = v;
    return Status::success();
  }
  Status removeValue(const std::string& domain, const std::string& key) override {
    m_.defaults[domain].erase(key);
    return Status::success();
  }
  Status removeDomain(const std::string& domain) override {
    m_.defaults.erase(domain);
    return Status::success();
  }

 private:
  SimMac::Impl& m_;
};

}  // namespace

std::unique_ptr<UserDefaults> makeUserDefaults(SimMac::Impl& m) { return std::make_unique<SimDefaults>(m); }

}  // namespace vl::sim::mac_detail
