// PointerWriter: where a real pointing device's speed goes on a Linux desktop. The udev-backed
// HID service client hands every pointer-parameter write (resolution, acceleration, the
// acceleration type) to the writer chosen for its device — X11 XInput properties, KWin's
// per-device D-Bus interface, or the exact evdev filter of velmora-inputd — and reads the
// values back from it, so the agent's logic stays the same as on the simulated Mac.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/plist/value.h"
#include "platform/api/status.h"

namespace vl::linux_input {

// The name velmora-inputd gives each virtual pointer that carries a filtered device's motion
// (followed by the device's own name). Velmora's device search passes them by: they are its
// own output, not a mouse of the user.
inline constexpr std::string_view kFilteredPointerPrefix = "Velmora filtered ";

// What a writer needs to know of one real pointing device (filled from udev).
struct InputDeviceInfo {
  std::string sysPath;   // the evdev node's sysfs path, /sys/devices/.../input/inputN/eventM
  std::string devNode;   // /dev/input/eventM
  std::string sysName;   // eventM
  std::string name;      // the kernel's device name (also the X11 and KWin device name)
  uint32_t vendorId = 0;
  uint32_t productId = 0;
  bool touchpad = false;  // ID_INPUT_TOUCHPAD
};

class PointerWriter {
 public:
  using ChangedCallback = std::function<void(const InputDeviceInfo& device)>;

  virtual ~PointerWriter() = default;

  // A short name for logs and listings: "x11-libinput", "x11-ptraccel", "kwin", "inputd", "none".
  virtual std::string name() const = 0;
  // The name for one device where a writer drives devices in more than one way (X11: the
  // libinput driver's properties or the server's own acceleration).
  virtual std::string nameFor(const InputDeviceInfo& /*device*/) const { return name(); }
  // True when this writer can set the device's speed in the running session.
  virtual bool handles(const InputDeviceInfo& device) const = 0;

  // One pointer-parameter write as the HID service receives it: the key
  // ("HIDPointerResolution", "HIDMouseAcceleration", "HIDTrackpadAcceleration",
  // "HIDPointerAccelerationType", "HIDPointerAccelerationTable", ...) and its value
  // (16.16 fixed point in a signed 32-bit number for the numeric keys). Out-of-range and NaN
  // values are refused, never written.
  virtual Status setProperty(const InputDeviceInfo& device, std::string_view key, const pl::Value& value) = 0;
  // The value last written or, before any write, what the device carries now; nullopt when
  // the writer has nothing for the key.
  virtual std::optional<pl::Value> property(const InputDeviceInfo& device, std::string_view key) const = 0;

  // Gives the device the desktop's own setting back (the one it had before the first write).
  virtual Status restore(const InputDeviceInfo& device) = 0;

  // Called on the run loop when the desktop's own speed of the device changed behind the
  // writer's back (the user's settings panel, another tool); an empty callback unregisters.
  virtual void onChangedBehindBack(ChangedCallback cb) = 0;
};

}  // namespace vl::linux_input
