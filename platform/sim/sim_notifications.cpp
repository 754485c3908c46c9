// The simulated Mac's Notifications port: posts delivered to this machine's observers.
#include "platform/sim/sim_mac_impl.h"

namespace vl::sim::mac_detail {

namespace {

class SimNotifications : public Notifications {
 public:
  explicit SimNotifications(SimMac::Impl& m) : m_(m) {}
  Status post(const std::string& name, const std::string& object, const pl::Dict& userInfo) override {
    m_.posted.push_back({name, object, userInfo});
    for (const auto& [t, entry] : m_.notificationObservers) {
      if (entry.first != name) continue;
      Token token = t;
      SimMac::Impl* m = &m_;
      m_.deliver([m, token, name, object, userInfo] {
        // An observer removed before delivery gets nothing.
        auto it = m->notificationObservers.find(token);
        if (it != m->notificationObservers.end()) {
          auto handler = it->second.second;
          handler(name, object, userInfo);
        }
      });
    }
    return Status::success();
  }
  Token addObserver(const std::string& name, Handler handler) override {
    Token t = m_.nextToken++;
    m_.notificationObservers[t] = {name, std::move(handler)};
    return t;
  }
  void removeObserver(Token t) override { m_.notificationObservers.erase(t); }

 private:
  SimMac::Impl& m_;
};

}  // namespace

std::unique_ptr<Notifications> makeNotifications(SimMac::Impl& m) { return std::make_unique<SimNotifications>(m); }

}  // namespace vl::sim::mac_detail
