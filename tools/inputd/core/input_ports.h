// The ports velmora-inputd works through: a grabbed evdev device (events in), a uinput device
// (events out), and the question whether a caller may filter a device. The kernel adapters
// implement the first two, logind and polkit the third; tests use fakes.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/api/status.h"
#include "tools/inputd/core/motion_filter.h"

namespace vl::inputd {

// Error codes of the service (module 871).
namespace inputd_error {
inline constexpr int64_t kNotAllowed = 8710021;    // polkit said no
inline constexpr int64_t kNotOwner = 8710022;      // the device is not on the caller's active seat
inline constexpr int64_t kNotAPointer = 8710023;   // not a mouse, touchpad, pointing stick or trackball
inline constexpr int64_t kBadNode = 8710024;       // not /dev/input/eventN
inline constexpr int64_t kBusy = 8710025;          // another caller filters the device
inline constexpr int64_t kDeviceFailed = 8710026;  // open, grab, read or uinput failed
inline constexpr int64_t kNotFiltered = 8710027;
inline constexpr int64_t kBadSpeed = 8710028;
}  // namespace inputd_error

// A device grabbed for this process alone: its events no longer reach anyone else.
class GrabbedInput {
 public:
  virtual ~GrabbedInput() = default;
  virtual int fd() const = 0;
  // Appends what the device has now without blocking; failure when it is gone.
  virtual Status read(std::vector<InputEvent>& out) = 0;
};

// The virtual device that carries the filtered motion to the desktop.
class VirtualPointer {
 public:
  virtual ~VirtualPointer() = default;
  virtual Status write(const std::vector<InputEvent>& events) = 0;
};

struct OpenedDevice {
  std::unique_ptr<GrabbedInput> input;
  std::unique_ptr<VirtualPointer> output;
};

class DeviceOpener {
 public:
  virtual ~DeviceOpener() = default;
  // Grabs devNode and makes a virtual pointer with its capabilities.
  virtual Result<OpenedDevice> open(const std::string& devNode) = 0;
};

struct Caller {
  std::string busName;  // the caller's unique bus name; its grabs end when it leaves the bus
  uid_t uid = 0;
  pid_t pid = 0;
};

class AccessPolicy {
 public:
  virtual ~AccessPolicy() = default;
  // Success only when the device is a pointing device on the caller's active seat and the
  // caller is authorised.
  virtual Status mayFilter(const Caller& caller, const std::string& devNode) = 0;
};

}  // namespace vl::inputd
