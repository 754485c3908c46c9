// The simulated Mac's Screens port: screen frames and display-change observers.
#include "platform/sim/sim_mac_impl.h"

namespace vl::sim::mac_detail {

namespace {

class SimScreens : public Screens {
 public:
  explicit SimScreens(SimMac::Impl& m) : m_(m) {}
  std::vector<Rect> frames() const override { return m_.screenFrames; }
  Token observeChanges(std::function<void()> fn) override {
    Token t = m_.nextToken++;
    m_.screenObservers[t] = std::move(fn);
    return t;
  }
  void unobserve(Token t) override { m_.screenObservers.erase(t); }

 private:
  SimMac::Impl& m_;
};

}  // namespace

std::unique_ptr<Screens> makeScreens(SimMac::Impl& m) { return std::make_unique<SimScreens>(m); }

}  // namespace vl::sim::mac_detail
