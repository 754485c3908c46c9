// The shared half of the desktop writers: checks, mapping, original capture and restore.
#include "platform/linux/mapped_pointer_writer.h"

#include <algorithm>
#include <cmath>

namespace vl::linux_input {

namespace {
constexpr double kFixedOne = 65536.0;

// A 16.16 value as the services carry it; refuses what is not a finite number.
Result<int32_t> fixedOf(const pl::Value& value) {
  if (value.isReal()) {
    double d = value.doubleValue();
    if (!std::isfinite(d)) return Status::failure(writer_error::kNotANumber, "not a finite number");
    return value.intValue();
  }
  if (!value.isInteger()) return Status::failure(writer_error::kNotANumber, "not a number");
  int64_t v = value.longLongValue();
  if (v < INT32_MIN || v > INT32_MAX) return Status::failure(writer_error::kNotANumber, "beyond a 16.16 number");
  return static_cast<int32_t>(v);
}
}  // namespace

double libinputFlatSpeedFor(double gain) { return std::clamp(gain - 1.0, -1.0, 1.0); }
double ptraccelDecelerationFor(double gain) { return std::clamp(1.0 / gain, kMinDeceleration, kMaxDeceleration); }

bool isPointerAccelerationKey(std::string_view key) {
  return key == "HIDMouseAcceleration" || key == "HIDTrackpadAcceleration" || key == "HIDPointerAcceleration";
}

MappedPointerWriter::MappedPointerWriter(GainMapping mapping, WriterRestoreFile* restoreFile)
    : mapping_(std::move(mapping)), restoreFile_(restoreFile) {}

std::string MappedPointerWriter::deviceKey(const InputDeviceInfo& device) {
  return device.devNode.empty() ? "name:" + device.name : device.devNode;
}

Status MappedPointerWriter::setProperty(const InputDeviceInfo& device, std::string_view key, const pl::Value& value) {
  const std::string k = deviceKey(device);
  auto it = devices_.find(k);
  // Checked on a copy: a refused value leaves nothing behind.
  DeviceState state = it != devices_.end() ? it->second : DeviceState{};
  state.info = device;

  if (key == "HIDPointerAccelerationType") {
    if (!value.isString()) return Status::failure(writer_error::kNotANumber, "the acceleration type is a key name");
    state.accelerationType = value;
  } else if (key == "HIDPointerResolution") {
    auto f = fixedOf(value);
    if (!f) return f.status();
    double r = *f / kFixedOne;
    if (r < 10 || r > 2000) return Status::failure(writer_error::kResolutionRange, "resolution outside 10 … 2000");
    state.resolution = *f;
  } else if (isPointerAccelerationKey(key)) {
    auto f = fixedOf(value);
    if (!f) return f.status();
    if (*f / kFixedOne > 20) return Status::failure(writer_error::kAccelerationRange, "acceleration above 20");
    state.acceleration = *f;
    state.accelerationKey = std::string(key);
  } else {
    return Status::failure(writer_error::kUnknownKey, std::string(key) + " has no desktop setting");
  }
  DeviceState& stored = devices_[k] = std::move(state);
  // The desktop is written once the acceleration is known; a later resolution re-applies.
  if (stored.acceleration && (key == "HIDPointerResolution" || isPointerAccelerationKey(key)))
    return apply(stored);
  return Status::success();
}

Status MappedPointerWriter::apply(DeviceState& state) {
  const double resolution = state.resolution ? *state.resolution / kFixedOne : 400.0;
  const double acceleration = *state.acceleration / kFixedOne;
  DesktopSpeed speed = mapping_ ? mapping_(resolution, acceleration) : DesktopSpeed{96.0 / resolution, acceleration < 0};
  speed.resolution = resolution;
  speed.acceleration = acceleration;
  if (!std::isfinite(speed.gain) || speed.gain <= 0)
    return Status::failure(writer_error::kDeviceValueRange, "the mapped gain is not a positive number");
  if (!state.original) {
    auto original = captureOriginal(state.info);
    if (!original) return original.status();
    state.original = *original;
    if (restoreFile_) {
      // The desktop's value is kept in memory either way; a file that cannot be written costs
      // only the crash-safe copy, so the write still goes ahead.
      restoreFile_->remember(name(), deviceKey(state.info), *state.original).ignore("crash copy only");
    }
  }
  return writeSpeed(state.info, speed);
}

std::optional<pl::Value> MappedPointerWriter::property(const InputDeviceInfo& device, std::string_view key) const {
  auto it = devices_.find(deviceKey(device));
  if (it == devices_.end()) return std::nullopt;
  const DeviceState& s = it->second;
  if (key == "HIDPointerResolution" && s.resolution) return pl::Value::int32(*s.resolution);
  if (key == "HIDPointerAccelerationType" && s.accelerationType) return s.accelerationType;
  if (isPointerAccelerationKey(key) && s.acceleration && (s.accelerationKey == key)) return pl::Value::int32(*s.acceleration);
  return std::nullopt;
}

Status MappedPointerWriter::restore(const InputDeviceInfo& device) {
  auto it = devices_.find(deviceKey(device));
  if (it == devices_.end() || !it->second.original) {
    if (it != devices_.end()) devices_.erase(it);
    return Status::success();
  }
  Status s = writeOriginal(it->second.info, *it->second.original);
  if (!s.ok() && s.code() != writer_error::kNoDevice) return s;
  // A device that is gone has nothing to give back; its entry goes too.
  const std::string key = it->first;
  devices_.erase(it);
  if (restoreFile_) return restoreFile_->forget(name(), key);
  return Status::success();
}

Status MappedPointerWriter::restoreLeftovers() {
  if (!restoreFile_) return Status::success();
  Status first = Status::success();
  for (const auto& [key, original] : restoreFile_->entries(name())) {
    if (devices_.count(key)) continue;  // written in this run: restore() has its original
    InputDeviceInfo info;
    if (key.rfind("name:", 0) == 0) {
      info.name = key.substr(5);
    } else {
      info.devNode = key;
      auto n = original.find("name");
      if (n != original.end() && n->second.isString()) info.name = *n->second.asString();
    }
    Status s = writeOriginal(info, original);
    if (s.ok()) {
      Status f = restoreFile_->forget(name(), key);
      if (!f.ok() && first.ok()) first = std::move(f);
    } else if (s.code() != writer_error::kNoDevice && first.ok()) {
      first = std::move(s);
    }
  }
  return first;
}

void MappedPointerWriter::reportChanged(const InputDeviceInfo& device) const {
  if (changed_) changed_(device);
}

std::optional<InputDeviceInfo> MappedPointerWriter::writtenDevice(std::string_view key) const {
  auto it = devices_.find(key);
  if (it == devices_.end() || !it->second.original) return std::nullopt;
  return it->second.info;
}

std::optional<InputDeviceInfo> MappedPointerWriter::writtenDeviceWhere(
    const std::function<bool(const InputDeviceInfo&)>& match) const {
  for (const auto& [key, state] : devices_)
    if (state.original && match(state.info)) return state.info;
  return std::nullopt;
}

}  // namespace vl::linux_input
