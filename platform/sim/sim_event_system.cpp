// The simulated Mac's HidEventSystem port: clients, and the system-wide acceleration reads.
#include "platform/sim/sim_event_system.h"

namespace vl::sim::mac_detail {

namespace {

// Deferred deliveries hold a flag that dies with the client.
class SafeClient : public SimClient {
 public:
  using SimClient::SimClient;
  ~SafeClient() override { invalidate(); }
};

class SimEventSystem : public HidEventSystem {
 public:
  explicit SimEventSystem(SimMac::Impl& m) : m_(m) {}
  std::unique_ptr<HidEventSystemClient> createClient() override {
    if (m_.clientCreationFails) return nullptr;
    return std::make_unique<SafeClient>(m_);
  }
  uint32_t openEventStatus() override { return 0x1403; }
  int32_t getAccelerationWithKey(uint32_t connection, const std::string& key, double* value) override {
    if (m_.accelerationReadsFail || connection == 0) return kIOReturnError;
    auto it = m_.systemAccel.find(key);
    if (it == m_.systemAccel.end()) return kIOReturnNotFound;
    *value = it->second;
    return kIOReturnSuccess;
  }

 private:
  SimMac::Impl& m_;
};

}  // namespace

std::unique_ptr<HidEventSystem> makeEventSystem(SimMac::Impl& m) { return std::make_unique<SimEventSystem>(m); }

}  // namespace vl::sim::mac_detail
