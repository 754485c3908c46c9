// RestoreValues: the speeds each device had before the agent first wrote to it, kept in a small
// per-user file so that a killed agent's successor can still give the devices their own speeds.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/plist/value.h"
#include "platform/api/status.h"

namespace vl {

// What a device had before the agent's first write, as the service holds it (16.16 fixed
// point), so that writing it back is exact and the file holds no locale-formatted reals.
struct SavedSpeed {
  int32_t resolution = 0;    // "HIDPointerResolution"
  std::string accelerationKey;
  int32_t acceleration = 0;  // the value under accelerationKey
  bool operator==(const SavedSpeed&) const = default;
};

// One entry per device (identity and location). An entry exists from just before the agent's
// first write to the device until the device has its own speed back, so whatever a run leaves
// behind names exactly the devices that may still carry a speed the agent wrote.
class RestoreValues {
 public:
  explicit RestoreValues(std::string path) : path_(std::move(path)) {}

  // The key of a device: its index and its location.
  static std::string keyFor(uint32_t vid, uint32_t pid, uint32_t mid, const std::string& transport,
                            const std::optional<pl::Value>& locationID);

  // Reads what an earlier run left. A missing file is an empty set; entries that do not hold
  // usable values are dropped. Returns false, with *message, when the file could not be read
  // or something was dropped; the set is usable either way. Everything read counts as left by
  // a run that did not end normally.
  bool load(std::string* message);

  const SavedSpeed* find(const std::string& key) const;
  // Left by an earlier run and not yet given back in this one.
  bool isLeftOver(const std::string& key) const { return leftOver_.count(key) != 0; }
  // The device has been given its speed back in this run; its entry stays until the run
  // itself restores the device.
  void clearLeftOver(const std::string& key) { leftOver_.erase(key); }
  size_t size() const { return entries_.size(); }
  std::vector<std::string> keys() const {
    std::vector<std::string> out;
    for (const auto& [key, saved] : entries_) out.push_back(key);
    return out;
  }

  // Adds an entry and writes the file (durably) before returning; an existing entry is kept
  // as it is, since it holds the older, truer values. A failure when the file could not be
  // written: the entry is kept in memory all the same.
  Status record(const std::string& key, const SavedSpeed& values);
  // Drops an entry once the device has its own speed back; writes the file when it changed
  // (removing it when nothing is left).
  Status remove(const std::string& key);

  const std::string& path() const { return path_; }

 private:
  Status save() const;

  std::string path_;
  std::map<std::string, SavedSpeed> entries_;
  std::set<std::string> leftOver_;
};

}  // namespace vl
