// Handles what a private sd-bus connection has received, waiting once for more when told to:
// the writers' buses run without an event loop in tests and tools, and pump this by hand.
#pragma once

#include <systemd/sd-bus.h>

#include <cstdint>

namespace vl::linux_input {

inline void processBusEvents(sd_bus* bus, double timeout) {
  bool waited = false;
  for (;;) {
    int rc = sd_bus_process(bus, nullptr);
    if (rc < 0) return;
    if (rc > 0) continue;
    if (waited || timeout <= 0) return;
    sd_bus_wait(bus, static_cast<uint64_t>(timeout * 1e6));
    waited = true;
  }
}

}  // namespace vl::linux_input
