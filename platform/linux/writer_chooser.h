// How the udev service clients find the speed writer of a device: a chooser the desktop
// composition supplies (one writer per session and device); where there is none the refusing
// writer stands in, so nothing reports a speed it did not set.
#pragma once

#include <functional>
#include <string>

#include "platform/linux/pointer_writer.h"
#include "platform/linux/pointer_writer_choice.h"

namespace vl::linux_input {

// The writer for a device, or null for "none in this session". Called once per device as it
// appears; the writer must outlive the device's service client.
using WriterChooser = std::function<PointerWriter*(const InputDeviceInfo& device)>;

inline constexpr const char* kNoWriterDetail = "no speed writer for this session";

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
