// The pointing devices the agent would see, on the real machine or a world: the agent's own
// connected-device tracker run in virtual time over the system's HID ports (so a receiver's
// paired mice get their model ids), through a layer that keeps what it learns to itself.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "platform/api/hid.h"
#include "platform/api/platform.h"

namespace vl::ctl {

struct PointingRow {
  std::string device;     // the store's name: vid-pid-mid-transport
  std::string product, transport, path, writer;
  uint32_t vid = 0, pid = 0, mid = 0;
  int slot = 0;           // on its receiver; 0 when none
  bool supported = false;
};

// ports: registry, eventSystem and hidDevices of the system. pathOf and writerOf name a
// service's node (udev path) and speed writer.
std::vector<PointingRow> listPointingDevices(const Platform& ports,
                                             const std::function<std::string(const HidServiceClient&)>& pathOf,
                                             const std::function<std::string(const HidServiceClient&)>& writerOf);

void printPointingText(const std::vector<PointingRow>& rows, const std::string& systemLine, std::ostream& out);
void printPointingJson(const std::vector<PointingRow>& rows, const std::string& system, std::ostream& out);

}  // namespace vl::ctl
