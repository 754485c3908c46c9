// How the udev service clients find the speed writer of a device: a chooser the desktop
// composition supplies (one writer per session and device), and the writer that stands in
// when there is none, which refuses every write so nothing reports a speed it did not set.
#pragma once

#include <functional>
#include <string>

#include "platform/linux/pointer_writer.h"

namespace vl::linux_input {

// The writer for a device, or null for "none in this session". Called once per device as it
// appears; the writer must outlive the device's service client.
using WriterChooser = std::function<PointerWriter*(const InputDeviceInfo& device)>;

inline constexpr const char* kNoWriterDetail = "no speed writer for this session";

class RefusingPointerWriter : public PointerWriter {
 public:
  std::string name() const override { return "none"; }
  bool handles(const InputDeviceInfo&) const override { return false; }
  Status setProperty(const InputDeviceInfo&, std::string_view, const pl::Value&) override {
    return Status::failure(kRefused, kNoWriterDetail);
  }
  std::optional<pl::Value> property(const InputDeviceInfo&, std::string_view) const override { return std::nullopt; }
  Status restore(const InputDeviceInfo&) override { return Status::failure(kRefused, kNoWriterDetail); }
  void onChangedBehindBack(ChangedCallback) override {}

  // kIOReturnNotPermitted, as the platform refuses a property it does not take.
  static constexpr int64_t kRefused = static_cast<int32_t>(0xE00002E2);
};

// Whether a service property is a pointer parameter that belongs to the speed writer.
inline bool isPointerParameterKey(std::string_view key) {
  static const char* const keys[] = {
      "HIDPointerResolution",         "HIDMouseAcceleration",          "HIDTrackpadAcceleration",
      "HIDPointerAcceleration",       "HIDPointerAccelerationType",    "HIDPointerAccelerationTable",
      "HIDMouseAccelerationTable",    "HIDTrackpadAccelerationTable",  "HIDScrollResolution",
      "HIDMouseScrollAcceleration",   "HIDTrackpadScrollAcceleration", "HIDScrollAcceleration",
      "HIDScrollAccelerationType",    "HIDScrollAccelerationTable",    "HIDPointerAccelerationParameters",
      "HIDScrollResolutionX",         "HIDScrollResolutionY",          "HIDMouseScrollAccelerationTable"};
  for (const char* k : keys)
    if (key == k) return true;
  return false;
}

}  // namespace vl::linux_input
