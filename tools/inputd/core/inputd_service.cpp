// The service's bookkeeping of filtered devices.
#include "tools/inputd/core/inputd_service.h"

#include <cctype>

namespace vl::inputd {

bool isEventNode(const std::string& devNode) {
  static constexpr std::string_view prefix = "/dev/input/event";
  if (devNode.size() <= prefix.size() || devNode.size() > prefix.size() + 5 || devNode.compare(0, prefix.size(), prefix) != 0)
    return false;
  for (size_t i = prefix.size(); i < devNode.size(); ++i)
    if (!std::isdigit(static_cast<unsigned char>(devNode[i]))) return false;
  return true;
}

InputdService::InputdService(DeviceOpener& opener, AccessPolicy& policy, Watch watch, Unwatch unwatch)
    : opener_(opener), policy_(policy), watch_(std::move(watch)), unwatch_(std::move(unwatch)) {}

InputdService::~InputdService() { releaseAll(); }

Status InputdService::filter(const Caller& caller, const std::string& devNode, double resolution, double acceleration) {
  if (!isEventNode(devNode)) return Status::failure(inputd_error::kBadNode, devNode + " is not an event device node");
  auto curve = CursorCurve::create(nullptr, resolution, acceleration);
  if (!curve) return Status::failure(inputd_error::kBadSpeed, curve.status().detail());
  auto it = devices_.find(devNode);
  if (it != devices_.end() && it->second.owner != caller.busName)
    return Status::failure(inputd_error::kBusy, devNode + " is filtered for another client");
  // Asked every time: a session that has become inactive (a user switch) loses the right.
  if (Status s = policy_.mayFilter(caller, devNode); !s.ok()) return s;
  if (it != devices_.end()) {
    it->second.filter.setCurve(*curve);
    return Status::success();
  }
  auto opened = opener_.open(devNode);
  if (!opened) return Status::failure(inputd_error::kDeviceFailed, opened.status().detail());
  auto [pos, inserted] = devices_.emplace(devNode, Filtered{caller.busName, std::move(*opened), MotionFilter(*curve), 0});
  if (watch_) pos->second.watch = watch_(pos->second.device.input->fd(), [this, devNode] { pump(devNode); });
  return Status::success();
}

Status InputdService::release(const Caller& caller, const std::string& devNode) {
  auto it = devices_.find(devNode);
  if (it == devices_.end()) return Status::failure(inputd_error::kNotFiltered, devNode + " is not filtered");
  if (it->second.owner != caller.busName) return Status::failure(inputd_error::kBusy, devNode + " is filtered for another client");
  drop(it);
  return Status::success();
}

std::optional<std::pair<double, double>> InputdService::speed(const std::string& devNode) const {
  auto it = devices_.find(devNode);
  if (it == devices_.end()) return std::nullopt;
  return std::make_pair(it->second.filter.curve().resolution(), it->second.filter.curve().acceleration());
}

void InputdService::callerGone(const std::string& busName) {
  for (auto it = devices_.begin(); it != devices_.end();) {
    auto next = std::next(it);
    if (it->second.owner == busName) drop(it);
    it = next;
  }
}

void InputdService::releaseAll() {
  while (!devices_.empty()) drop(devices_.begin());
}

void InputdService::drop(std::map<std::string, Filtered>::iterator it) {
  if (it->second.watch && unwatch_) unwatch_(it->second.watch);
  // Closing the grabbed descriptor ends the grab; the virtual pointer goes with its own.
  devices_.erase(it);
}

void InputdService::pump(const std::string& devNode) {
  auto it = devices_.find(devNode);
  if (it == devices_.end()) return;
  in_.clear();
  out_.clear();
  Status s = it->second.device.input->read(in_);
  for (const InputEvent& e : in_) it->second.filter.feed(e, out_);
  if (!out_.empty()) it->second.device.output->write(out_).ignore("a lost frame of motion; the next one follows");
  // An unplugged device reads as gone: its filter ends with it.
  if (!s.ok()) drop(it);
}

}  // namespace vl::inputd
