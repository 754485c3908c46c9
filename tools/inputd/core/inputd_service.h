// InputdService: the exact-curve service's logic, without a bus: which caller filters which
// device at which speed, the grab and the virtual pointer of each, and their release when the
// caller asks, leaves the bus, or the service ends.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>

#include "tools/inputd/core/input_ports.h"

namespace vl::inputd {

class InputdService {
 public:
  // watch(fd, fn) → token, unwatch(token): how the run loop calls back when a device has events.
  using Watch = std::function<uint64_t(int fd, std::function<void()> fn)>;
  using Unwatch = std::function<void(uint64_t token)>;
  InputdService(DeviceOpener& opener, AccessPolicy& policy, Watch watch, Unwatch unwatch);
  ~InputdService();
  InputdService(const InputdService&) = delete;
  InputdService& operator=(const InputdService&) = delete;

  // Filters devNode at this speed (resolution 10 … 2000, acceleration ≤ 20, negative = off),
  // grabbing it on the first call. A second call changes the speed of the running filter.
  Status filter(const Caller& caller, const std::string& devNode, double resolution, double acceleration);
  // Ends the filter: the grab goes, the device works as before.
  Status release(const Caller& caller, const std::string& devNode);
  // The speed in force, for read-back.
  std::optional<std::pair<double, double>> speed(const std::string& devNode) const;
  // A caller that left the bus (or crashed) gives up every device it filtered.
  void callerGone(const std::string& busName);
  void releaseAll();
  size_t filtered() const { return devices_.size(); }

  // Moves what the device has through the filter (the run loop calls it on readable).
  void pump(const std::string& devNode);

 private:
  struct Filtered {
    std::string owner;
    OpenedDevice device;
    MotionFilter filter;
    uint64_t watch = 0;
  };
  void drop(std::map<std::string, Filtered>::iterator it);

  DeviceOpener& opener_;
  AccessPolicy& policy_;
  Watch watch_;
  Unwatch unwatch_;
  std::map<std::string, Filtered> devices_;
  std::vector<InputEvent> in_, out_;
};

// Only /dev/input/eventN names a device the service may open.
bool isEventNode(const std::string& devNode);

}  // namespace vl::inputd
