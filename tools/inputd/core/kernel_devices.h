// The kernel side of velmora-inputd: an evdev node grabbed with EVIOCGRAB, and a uinput
// device with the same buttons and axes that carries the filtered motion.
#pragma once

#include "platform/linux/pointer_writer.h"
#include "tools/inputd/core/input_ports.h"

namespace vl::inputd {

// The name the virtual pointers carry, so that Velmora's own device search can pass them by.
inline constexpr std::string_view kVirtualPointerPrefix = linux_input::kFilteredPointerPrefix;

class KernelDeviceOpener final : public DeviceOpener {
 public:
  // uinputPath: normally /dev/uinput.
  explicit KernelDeviceOpener(std::string uinputPath = "/dev/uinput") : uinputPath_(std::move(uinputPath)) {}
  Result<OpenedDevice> open(const std::string& devNode) override;

 private:
  std::string uinputPath_;
};

// Grabs devNode alone (no virtual pointer): for checks of the grab itself.
Result<std::unique_ptr<GrabbedInput>> grabEventNode(const std::string& devNode);

}  // namespace vl::inputd
