// The agent's file of speeds to give back: reading what a killed run left, recording before a
// first write, dropping after a restore. Values are 16.16 integers, never formatted reals.
#include "agent/restore_values.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>

#include "core/hid/fixed_point.h"
#include "core/plist/codec.h"
#include "core/store/device_record.h"

namespace vl {

namespace {

constexpr const char* kDevicesKey = "Devices";
constexpr const char* kResolutionKey = "HIDPointerResolution";
constexpr const char* kAccelerationKeyKey = "AccelerationKey";
constexpr const char* kAccelerationKey = "Acceleration";
constexpr const char* kFormatKey = "Format";
constexpr int64_t kFormat = 1;

// The same bounds the writes to a device accept: anything else could not be written back.
bool usable(const SavedSpeed& s) {
  double resolution = Fix2X(s.resolution);
  return resolution >= 10 && resolution <= 2000 && Fix2X(s.acceleration) <= 20 && !s.accelerationKey.empty();
}

std::optional<int32_t> int32For(const pl::Value& dict, const char* key) {
  const pl::Value* v = dict.find(key);
  if (!v || !v->isInteger()) return std::nullopt;
  int64_t n = v->longLongValue();
  if (n < INT32_MIN || n > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(n);
}

}  // namespace

std::string RestoreValues::keyFor(uint32_t vid, uint32_t pid, uint32_t mid, const std::string& transport,
                                  const std::optional<pl::Value>& locationID) {
  std::string key = QS802DeviceClass::indexWithVID(vid, pid, mid, transport) + "@";
  char buf[16];
  uint32_t location = locationID && locationID->isNumber() ? locationID->unsignedIntValue() : 0;
  auto r = std::to_chars(buf, buf + sizeof buf, location, 16);
  key.append(buf, r.ptr);
  return key;
}

bool RestoreValues::load(std::string* message) {
  entries_.clear();
  leftOver_.clear();
  std::error_code ec;
  auto status = std::filesystem::symlink_status(path_, ec);
  if (ec || status.type() == std::filesystem::file_type::not_found) return true;
  if (status.type() != std::filesystem::file_type::regular) {
    if (message) *message = path_ + ": not a regular file; starting without saved speeds";
    return false;
  }
  pl::ReadResult read = pl::readFile(path_);
  if (!read || !read.value->isDict()) {
    if (message) *message = path_ + ": " + (read ? std::string("not a dictionary") : read.error) +
                            "; starting without saved speeds";
    return false;
  }
  size_t dropped = 0;
  if (const pl::Dict* devices = read.value->dictFor(kDevicesKey)) {
    for (const auto& [key, v] : *devices) {
      SavedSpeed s;
      auto resolution = v.isDict() ? int32For(v, kResolutionKey) : std::nullopt;
      auto acceleration = v.isDict() ? int32For(v, kAccelerationKey) : std::nullopt;
      auto accelerationKey = v.isDict() ? v.stringFor(kAccelerationKeyKey) : std::nullopt;
      if (resolution && acceleration && accelerationKey) {
        s.resolution = *resolution;
        s.acceleration = *acceleration;
        s.accelerationKey = *accelerationKey;
      }
      if (!usable(s)) {
        ++dropped;
        continue;
      }
      entries_[key] = s;
      leftOver_.insert(key);
    }
  }
  if (dropped == 0) return true;
  if (message) *message = path_ + ": " + std::to_string(dropped) + " unusable saved speed(s) dropped";
  return false;
}

const SavedSpeed* RestoreValues::find(const std::string& key) const {
  auto it = entries_.find(key);
  return it == entries_.end() ? nullptr : &it->second;
}

Status RestoreValues::record(const std::string& key, const SavedSpeed& values) {
  if (entries_.count(key)) return Status::success();
  entries_[key] = values;
  return save();
}

Status RestoreValues::remove(const std::string& key) {
  leftOver_.erase(key);
  if (entries_.erase(key) == 0) return Status::success();
  return save();
}

Status RestoreValues::save() const {
  if (entries_.empty()) {
    if (::unlink(path_.c_str()) != 0 && errno != ENOENT)
      return Status::failure(errno, path_ + ": cannot remove: " + std::strerror(errno));
    return Status::success();
  }
  std::error_code ec;
  auto folder = std::filesystem::path(path_).parent_path();
  if (!folder.empty()) std::filesystem::create_directories(folder, ec);
  pl::Dict devices;
  for (const auto& [key, s] : entries_) {
    devices[key] = pl::Dict{{kResolutionKey, pl::Value::int32(s.resolution)},
                            {kAccelerationKeyKey, s.accelerationKey},
                            {kAccelerationKey, pl::Value::int32(s.acceleration)}};
  }
  std::string xml = pl::writeXml(pl::Value(pl::Dict{{kFormatKey, pl::Value::int64(kFormat)}, {kDevicesKey, devices}}));
  std::string error;
  if (!pl::writeFileAtomic(path_, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(xml.data()), xml.size()),
                           &error))
    return Status::failure(1, error);
  return Status::success();
}

}  // namespace vl
