// velmora-inputd: the privileged system service that gives any desktop Velmora's exact cursor
// curve — it grabs a pointing device's evdev node for the asking session and re-emits its
// motion through uinput, scaled by the acceleration model.
#include <systemd/sd-bus.h>

#include <cstring>
#include <iostream>
#include <string>

#include "platform/linux/sd_event_runloop.h"
#include "tools/inputd/core/inputd_bus.h"
#include "tools/inputd/core/kernel_devices.h"
#include "tools/inputd/core/system_access_policy.h"

namespace {

constexpr const char* kUsage =
    "Usage: velmora-inputd [--bus ADDRESS]\n"
    "\n"
    "Velmora's exact-curve service. Runs as a system service (velmora-inputd.service) on the\n"
    "system bus as org.velmora.Inputd1; a user's Velmora Manager asks it to filter the pointing\n"
    "devices of that user's active session. Every grab ends when the asking client leaves the\n"
    "bus and when this service stops, however it stops.\n"
    "\n"
    "Options:\n"
    "  --bus ADDRESS  serve on this D-Bus address instead of the system bus\n"
    "  --help         show this text\n"
    "  --version      show the version\n";

}  // namespace

int main(int argc, char** argv) {
  std::string address;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::cout << kUsage;
      return 0;
    }
    if (a == "--version") {
      std::cout << "velmora-inputd " << VELMORA_VERSION_TEXT << "\n";
      return 0;
    }
    if (a == "--bus" && i + 1 < argc) {
      address = argv[++i];
      continue;
    }
    std::cerr << "velmora-inputd: unknown option " << a << " (try --help)\n";
    return 2;
  }

  auto created = vl::linux_::SdEventRunLoop::create();
  if (!created) {
    std::cerr << "velmora-inputd: " << created.status().detail() << "\n";
    return 1;
  }
  std::unique_ptr<vl::linux_::SdEventRunLoop> loop = std::move(created).value();
  sd_bus* bus = nullptr;
  int rc;
  if (address.empty()) {
    rc = sd_bus_open_system(&bus);
  } else {
    rc = sd_bus_new(&bus);
    if (rc >= 0) rc = sd_bus_set_address(bus, address.c_str());
    if (rc >= 0) rc = sd_bus_set_bus_client(bus, 1);
    if (rc >= 0) rc = sd_bus_start(bus);
  }
  if (rc < 0 || sd_bus_attach_event(bus, loop->event(), 0) < 0) {
    std::cerr << "velmora-inputd: cannot connect to the bus: " << std::strerror(-rc) << "\n";
    sd_bus_unref(bus);
    return 1;
  }

  vl::inputd::KernelDeviceOpener opener;
  vl::inputd::SystemAccessPolicy policy(bus);
  vl::inputd::InputdService service(
      opener, policy, [&](int fd, std::function<void()> fn) { return loop->watchFd(fd, std::move(fn)); },
      [&](uint64_t token) { loop->unwatchFd(token); });
  int status = 1;
  {
    vl::inputd::InputdBus object(bus, service);
    if (!object.ok()) {
      std::cerr << "velmora-inputd: cannot register " << vl::inputd::kInputdObject << "\n";
    } else if ((rc = sd_bus_request_name(bus, vl::inputd::kInputdBusName, 0)) < 0) {
      std::cerr << "velmora-inputd: cannot own " << vl::inputd::kInputdBusName << ": " << std::strerror(-rc) << "\n";
    } else if (vl::Status routed = loop->handleTerminationSignals([&](int) {
                 service.releaseAll();
                 loop->stop(0);
               });
               !routed) {
      std::cerr << "velmora-inputd: " << routed.detail() << "\n";
    } else {
      std::cerr << "velmora-inputd: serving " << vl::inputd::kInputdBusName << "\n";
      status = loop->run();
    }
    service.releaseAll();
  }
  sd_bus_flush_close_unref(bus);
  return status < 0 ? 1 : status;
}
