// The simulated Mac's Session port: console and lock state with its observers.
#include "platform/sim/sim_mac_impl.h"

namespace vl::sim::mac_detail {

namespace {

class SimSession : public Session {
 public:
  explicit SimSession(SimMac::Impl& m) : m_(m) {}
  SessionState current() const override { return m_.sessionState; }
  Token observe(std::function<void(SessionEvent)> fn) override {
    Token t = m_.nextToken++;
    m_.sessionObservers[t] = std::move(fn);
    return t;
  }
  void unobserve(Token t) override { m_.sessionObservers.erase(t); }

 private:
  SimMac::Impl& m_;
};

}  // namespace

std::unique_ptr<Session> makeSession(SimMac::Impl& m) { return std::make_unique<SimSession>(m); }

}  // namespace vl::sim::mac_detail
