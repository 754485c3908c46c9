// The simulated Mac's HidDevices port: devices with their elements, queues and reports.
#include "platform/sim/sim_hid_queue.h"

namespace vl::sim::mac_detail {

namespace {

// Flattens an element tree ("Elements" children of collections).
void flattenElements(const pl::Array& in, std::vector<pl::Dict>& out, int depth = 0) {
  if (depth > 32) return;
  for (const auto& e : in) {
    const pl::Dict* d = e.asDict();
    if (!d) continue;
    pl::Dict copy = *d;
    copy.erase("Elements");
    out.push_back(std::move(copy));
    if (auto kids = e.arrayFor("Elements")) flattenElements(*kids, out, depth + 1);
  }
}

class SimHidDevice : public HidDevice {
 public:
  SimHidDevice(SimMac::Impl& m, RegistryId id) : m_(m), id_(id) {}
  RegistryId service() const override { return m_.node(id_) ? id_ : 0; }
  int32_t open() override { return m_.node(id_) ? kIOReturnSuccess : kIOReturnNotFound; }
  void close() override {}
  std::vector<pl::Dict> copyMatchingElements(const pl::Dict& matching) override {
    std::vector<pl::Dict> out;
    for (auto& e : elements()) {
      bool ok = true;
      for (const auto& [k, v] : matching) {
        auto it = e.find(k);
        ok = ok && it != e.end() && it->second == v;
      }
      if (ok) out.push_back(e);
    }
    return out;
  }
  std::unique_ptr<HidQueue> createQueue(int depth) override {
    if (!m_.node(id_) || depth <= 0) return nullptr;
    return std::make_unique<SimQueue>(m_, id_, static_cast<size_t>(depth), elements());
  }
  int32_t setReport(int type, uint32_t reportID, const pl::Data& bytes) override {
    if (!m_.node(id_)) return kIOReturnNotFound;
    if (type != kIOHIDReportTypeOutput) return kIOReturnError;
    m_.answerReceiver(id_, reportID, bytes);
    return lastStatus_;
  }

 private:
  std::vector<pl::Dict> elements() const {
    std::vector<pl::Dict> out;
    const Node* n = m_.node(id_);
    if (!n) return out;
    auto it = n->props.find("Elements");
    if (it != n->props.end() && it->second.isArray()) flattenElements(*it->second.asArray(), out);
    return out;
  }
  SimMac::Impl& m_;
  RegistryId id_;
  int32_t lastStatus_ = kIOReturnSuccess;
};

class SimDevices : public HidDevices {
 public:
  explicit SimDevices(SimMac::Impl& m) : m_(m) {}
  HidDeviceRef createDevice(RegistryId entry) override {
    const Node* n = m_.node(entry);
    if (!n || !m_.conforms(*n, "IOHIDDevice")) return nullptr;
    return std::make_shared<SimHidDevice>(m_, entry);
  }
  bool checkListenAccess() override { return m_.listenAccess; }
  void pause(double) override {}

 private:
  SimMac::Impl& m_;
};

}  // namespace

std::unique_ptr<HidDevices> makeHidDevices(SimMac::Impl& m) { return std::make_unique<SimDevices>(m); }

}  // namespace vl::sim::mac_detail
