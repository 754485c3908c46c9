// A simulated HID device's input queue (the receiver's answers are offered to the open queues).
#pragma once

#include <deque>

#include "platform/sim/sim_mac_impl.h"

namespace vl::sim::mac_detail {

class SimQueue : public HidQueue {
 public:
  SimQueue(SimMac::Impl& m, RegistryId device, size_t depth, std::vector<pl::Dict> elements)
      : m_(m), device_(device), depth_(depth), elements_(std::move(elements)) {
    m_.queues.push_back(this);
  }
  ~SimQueue() override { m_.queues.erase(std::remove(m_.queues.begin(), m_.queues.end(), this), m_.queues.end()); }
  void addElement(uint32_t cookie) override { cookies_.push_back(cookie); }
  void start() override { started_ = true; }
  void stop() override { started_ = false; }
  std::optional<pl::Data> copyNextValue() override {
    if (values_.empty()) return std::nullopt;
    pl::Data v = std::move(values_.front());
    values_.pop_front();
    return v;
  }
  void offer(RegistryId device, uint32_t reportID, const pl::Data& value) {
    if (!started_ || device != device_) return;
    for (uint32_t c : cookies_) {
      for (const auto& e : elements_) {
        pl::Value ev(e);
        if (ev.integerFor("ElementCookie") == static_cast<int64_t>(c) &&
            ev.integerFor("ReportID") == static_cast<int64_t>(reportID) && ev.integerFor("Type") == 2) {
          if (values_.size() < depth_) values_.push_back(value);
          return;
        }
      }
    }
  }

 private:
  SimMac::Impl& m_;
  RegistryId device_;
  size_t depth_;
  std::vector<pl::Dict> elements_;
  std::vector<uint32_t> cookies_;
  std::deque<pl::Data> values_;
  bool started_ = false;
};

}  // namespace vl::sim::mac_detail
