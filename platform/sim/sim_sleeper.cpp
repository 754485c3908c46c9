// The simulated desktop's Sleeper port: sleeps that pass in virtual time.
#include "platform/sim/sim_desktop_model.h"

namespace vl::sim::desktop_detail {

namespace {

class VirtualSleeper : public Sleeper {
 public:
  VirtualSleeper(std::shared_ptr<SimDesktop::Model> m, SimDesktop::Ports& p) : m_(std::move(m)), p_(p) {}
  void sleep(double seconds) override {
    {
      std::lock_guard<std::mutex> l(m_->m);
      m_->slept += seconds;
    }
    if (p_.sleepHook) p_.sleepHook(seconds);
  }

 private:
  std::shared_ptr<SimDesktop::Model> m_;
  SimDesktop::Ports& p_;
};

}  // namespace

std::unique_ptr<Sleeper> makeVirtualSleeper(std::shared_ptr<SimDesktop::Model> m, SimDesktop::Ports& p) {
  return std::make_unique<VirtualSleeper>(std::move(m), p);
}

}  // namespace vl::sim::desktop_detail
