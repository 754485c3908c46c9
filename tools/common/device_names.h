// Device names on the command line. Output uses one form, the settings store's index
// ("4c-269-0-Bluetooth": vendor, product and model id in lower-case hex, then the transport);
// input also takes the forms older listings printed: "004c:0269:0 Bluetooth" and
// "VID 0x004C PID 0x0269 MID - Bluetooth" (MID "-" is 0).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vl::cli {

struct DeviceName {
  uint32_t vid = 0, pid = 0, mid = 0;
  std::string transport;
};

std::optional<DeviceName> parseDeviceName(const std::string& text);
// The index form.
std::string deviceNameText(uint32_t vid, uint32_t pid, uint32_t mid, const std::string& transport);
// What --device accepts, for error messages.
inline constexpr const char* kDeviceNameForms =
    "a device like 4c-269-0-Bluetooth (also \"004c:0269:0 Bluetooth\" or \"VID 0x004C PID 0x0269 MID - Bluetooth\")";

}  // namespace vl::cli
