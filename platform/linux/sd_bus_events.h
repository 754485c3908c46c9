// Handles what a private sd-bus connection has received, waiting once for more when told to:
// the writers' buses run without an event loop in tests and tools, and pump this by hand.
#pragma once

#include <systemd/sd-bus.h>

#include <cstdint>
#include <string>

namespace vl::linux_input {

// Connects to the bus at address, or to the default bus when address is empty (the system bus
// when system is true, else the session bus); returns sd-bus's negative errno on failure, with
// *out left null.
inline int openBusAt(const std::string& address, bool system, sd_bus** out) {
  sd_bus* bus = nullptr;
  int rc = 0;
  if (address.empty()) {
    rc = system ? sd_bus_open_system(&bus) : sd_bus_open_user(&bus);
  } else {
    rc = sd_bus_new(&bus);
    if (rc >= 0) rc = sd_bus_set_address(bus, address.c_str());
    if (rc >= 0) rc = sd_bus_set_bus_client(bus, 1);
    if (rc >= 0) rc = sd_bus_start(bus);
  }
  if (rc < 0) bus = sd_bus_unref(bus);
  *out = bus;
  return rc;
}

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
