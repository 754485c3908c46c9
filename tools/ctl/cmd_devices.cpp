// velmora-ctl devices / demo: the pointing devices the agent would see on the real machine or
// a world (store name, product, transport, udev path, receiver slot, speed writer), the device
// profiles as the core sees them — identity, driver, support, Apple/Magic classification,
// receiver pairings — and, for the demo, a cursor speed written to each supported device.
#include <cstdio>
#include <iostream>
#include <sstream>

#include "core/errors/error_stack.h"
#include "core/hid/fixed_point.h"
#include "core/hid/pointer_parameters.h"
#include "core/plist/number_text.h"
#include "core/hid/registry_search.h"
#include "core/system/versions.h"
#include "platform/linux/hidraw_devices.h"
#include "platform/linux/udev_event_system.h"
#include "platform/linux/udev_machine.h"
#include "platform/sim/sim_mac.h"
#include "platform/sim/world.h"
#include "tools/common/desktop_process.h"
#include "tools/common/system_choice.h"
#include "tools/ctl/pointing_listing.h"
#include "tools/common/device_names.h"
#include "tools/ctl/command.h"

namespace vl::ctl {
namespace {

const char* kDevicesHelp =
    "usage: velmora-ctl devices [--system desktop|world] [--world DIR] [--json]\n"
    "       velmora-ctl devices [--profile NAME]... [--all] [--fixtures DIR] [--json]\n\n"
    "Lists the pointing devices Velmora Manager would see, as the store names them, with their\n"
    "product, transport, udev path, receiver slot and the speed writer that sets their speed.\n"
    "Paired mice are asked of their receiver for their model id, as the agent does.\n\n"
    "  --system desktop  this machine's mice and trackpads (the default without --world or\n"
    "                    $VELMORA_WORLD)\n"
    "  --system world    the simulated Mac of --world DIR, else $VELMORA_WORLD, else\n"
    "                    $XDG_DATA_HOME/velmora/world\n\n"
    "With --profile, --all or --fixtures it loads device profiles into a fresh simulated Mac\n"
    "instead and lists their pointing services as the core sees them: identity, location,\n"
    "driver, resolution, support and classification. Without --profile the default machine is\n"
    "used: a MacBook Pro with its built-in trackpad, a Logitech Unifying receiver with paired\n"
    "mice and a plain USB mouse; --all loads every profile of the fixture folder.\n";

const char* kDemoHelp =
    "usage: velmora-ctl demo [--fixtures DIR]\n\n"
    "Shows what the core can do on the simulated Mac: lists every device profile with its\n"
    "identity, support status and classification, then writes a cursor speed (sensitivity 600,\n"
    "tracking speed 0.6875) to each supported device and reads it back.\n";

const std::vector<std::string> kDefaultMachine = {"mac-platform-macbookpro12-1", "macbook-pro-internal-trackpad",
                                                  "logitech-unifying-receiver", "generic-usb-optical-mouse"};

struct Row {
  std::string profile, cls, transport, driver, accelKey, kind, reason;
  uint32_t vid = 0, pid = 0, mid = 0;
  uint64_t location = 0;
  double resolution = -1;
  bool supported = false, gesture = false;
  std::vector<std::pair<int, std::string>> paired;
  ServiceRef service;
};

std::string hex(uint64_t v, int width = 4) {
  char b[32];
  std::snprintf(b, sizeof b, "0x%0*llX", width, static_cast<unsigned long long>(v));
  return b;
}

std::string kindOf(uint32_t vid, uint32_t pid) {
  if (QS822isMagicMouse(vid, pid)) return "Magic Mouse";
  if (QS822isMagicTrackpad(vid, pid)) return "Magic Trackpad";
  if (QS822isApplMouse(vid, pid)) return "Apple mouse";
  if (QS822isAppleInternalTrackpad(vid, pid)) return "built-in trackpad";
  return "other";
}

std::string whyUnsupported(const HidServiceClient* s) {
  if (QS852isCompatibilityInterface(s)) return "compatibility interface";
  if (serviceUInt32(s, "VendorID").value_or(0) == kWacomVendorID) return "tablet vendor";
  if (serviceUInt32(s, "VendorID").value_or(0) == 0) return "no vendor id";
  if (serviceUInt32(s, "PrimaryUsagePage").value_or(0) == 0xFF00 && serviceUInt32(s, "PrimaryUsage").value_or(0) == 0x17)
    return "HID system service";
  auto loc = s->property("LocationID");
  if (!loc || !loc->isNumber() || loc->longLongValue() == 0) return "no location";
  return "no registry entry";
}

std::vector<Row> inspect(sim::SimMac& mac) {
  ErrorStack errors;  // this run's failures
  const Platform p = mac.platform();
  std::vector<Row> rows;
  for (RegistryId top : mac.attachedDevices()) {
    for (RegistryId id : mac.eventServicesOf(top)) {
      Row r;
      r.profile = mac.profileOf(top);
      r.service = mac.serviceFor(id);
      const HidServiceClient* s = r.service.get();
      std::optional<std::string> transport;
      std::optional<pl::Value> location;
      getDeviceInfo(s, &r.vid, &r.pid, &r.mid, &transport, &location, nullptr);
      r.transport = transport.value_or("");
      r.location = location ? location->unsignedLongLongValue() : 0;
      r.cls = QS852getClass(p, s).value_or("?");
      RegistryId entry = QS852createRegistry(p, s);
      r.driver = QS822searchDriverID(p, errors, entry).value_or("");
      r.resolution = QS822searchResolution(p, entry, kHIDPointerResolutionKey);
      r.accelKey = serviceString(s, kHIDPointerAccelerationTypeKey).value_or("");
      r.supported = VL722isSupportedServiceClient(p, s);
      if (!r.supported) r.reason = whyUnsupported(s);
      r.kind = kindOf(r.vid, r.pid);
      r.gesture = QS822isAppleGestureDevice(r.vid, r.pid);
      if (r.vid == kLogitechVendorID) {
        if (auto rx = QS822createLogitechHID(p, location)) {
          for (int slot = 1; slot <= 6; ++slot)
            if (auto name = QS822logitechUnifyingDeviceName(p, rx.get(), slot)) r.paired.emplace_back(slot, *name);
        }
      }
      rows.push_back(std::move(r));
    }
  }
  return rows;
}

void printText(const std::vector<Row>& rows, std::ostream& out) {
  for (const auto& r : rows) {
    out << r.profile << "  (" << r.cls << ")\n"
        << "  device     " << cli::deviceNameText(r.vid, r.pid, r.mid, r.transport) << "\n"
        << "  location   " << hex(r.location, 8) << "   driver " << (r.driver.empty() ? "-" : r.driver) << "\n"
        << "  resolution " << (r.resolution < 0 ? std::string("-") : std::to_string(static_cast<int>(r.resolution)) + " dpi")
        << "   acceleration key " << (r.accelKey.empty() ? "-" : r.accelKey) << "\n"
        << "  kind       " << r.kind << (r.gesture ? " (gesture device)" : "") << "\n"
        << "  supported  " << (r.supported ? "yes" : "no: " + r.reason) << "\n";
    for (const auto& [slot, name] : r.paired) out << "  paired     slot " << slot << ": " << name << "\n";
    out << "\n";
  }
}

void printJson(const std::vector<Row>& rows, std::ostream& out) {
  out << "[";
  for (size_t i = 0; i < rows.size(); ++i) {
    const Row& r = rows[i];
    out << (i ? ",\n " : "\n ") << "{\"profile\": " << jsonString(r.profile) << ", \"class\": " << jsonString(r.cls)
        << ", \"device\": " << jsonString(cli::deviceNameText(r.vid, r.pid, r.mid, r.transport))
        << ", \"vid\": " << r.vid << ", \"pid\": " << r.pid << ", \"mid\": " << r.mid
        << ", \"transport\": " << jsonString(r.transport) << ", \"location\": " << r.location
        << ", \"driver\": " << jsonString(r.driver) << ", \"resolution\": " << r.resolution
        << ", \"accelerationKey\": " << jsonString(r.accelKey) << ", \"kind\": " << jsonString(r.kind)
        << ", \"gesture\": " << (r.gesture ? "true" : "false") << ", \"supported\": " << (r.supported ? "true" : "false");
    if (!r.supported) out << ", \"reason\": " << jsonString(r.reason);
    out << ", \"paired\": [";
    for (size_t j = 0; j < r.paired.size(); ++j)
      out << (j ? ", " : "") << "{\"slot\": " << r.paired[j].first << ", \"name\": " << jsonString(r.paired[j].second) << "}";
    out << "]}";
  }
  out << "\n]\n";
}

// Loads the named profiles (or every profile of the folder) into mac.
bool load(sim::SimMac& mac, const std::string& dir, std::vector<std::string> profiles, bool all) {
  if (all) {
    profiles = {"mac-platform-macbookpro12-1",  "macbook-pro-internal-trackpad",  "magic-mouse-2-bluetooth",
                "magic-trackpad-2-bluetooth",   "magic-trackpad-2-usb",           "logitech-unifying-receiver",
                "logitech-mx-master-3-bluetooth", "generic-usb-optical-mouse",    "microsoft-mouse-vendor-driver",
                "kensington-expert-mouse-drovana", "wacom-intuos-tablet",          "hid-compatibility-shim",
                "hid-system-nx-event-service"};
  }
  for (const auto& p : profiles) {
    if (auto attached = mac.attachProfile(dir, p); !attached) {
      failure("cannot load device profile '" + p + "' from " + dir + ": " + attached.status().detail());
      return false;
    }
  }
  return true;
}

// The devices of the real machine or of a world, as the agent would see them.
int runPointingDevices(const std::string& systemOption, const std::string& worldOption, bool worldGiven, bool json) {
  auto choice = cli::chooseSystem(systemOption, worldGiven, std::getenv("VELMORA_WORLD"));
  if (!choice) return usageError("devices", choice.status().detail());
  std::string error;
  std::vector<PointingRow> rows;
  auto report = [](const std::string& line) { std::cerr << "velmora-ctl: " << line << "\n"; };
  if (choice->system == cli::System::Desktop) {
    auto opened = linux_::UdevMachine::open();
    if (!opened) return failure("cannot read this machine's devices: " + opened.status().detail());
    std::unique_ptr<linux_::UdevMachine> machine = std::move(opened).value();
    // The writer the agent would choose in this session; only a listing, so no restore file.
    cli::DesktopSlots slots = cli::defaultDesktopSlots({});
    linux_::UdevEventSystem events(*machine, slots.writerChooser, report);
    linux_::HidrawDevices hid(*machine, report);
    Platform p;
    p.registry = &machine->registry();
    p.eventSystem = &events;
    p.hidDevices = &hid;
    rows = listPointingDevices(
        p,
        [&](const HidServiceClient& s) { return serviceString(&s, "UdevPath").value_or(""); },
        [&](const HidServiceClient& s) {
          auto us = events.service(s.registryID());
          return us ? us->writer().nameFor(us->info()) : std::string("none");
        });
  } else {
    std::string folder = sim::worldFolderFor(worldOption);
    sim::WorldOptions options;
    options.processName = "velmora-ctl";
    auto opened = sim::World::open(folder, options);
    if (!opened) return failure("no simulated Mac at " + folder + ": " + opened.status().detail());
    std::unique_ptr<sim::World> world = std::move(opened).value();
    rows = listPointingDevices(
        world->platform(),
        [](const HidServiceClient& s) { return "registry " + hex(s.registryID(), 9); },
        [](const HidServiceClient&) { return std::string("simulated Mac"); });
  }
  if (json) printPointingJson(rows, cli::systemName(choice->system), std::cout);
  else printPointingText(rows, cli::systemLine(*choice), std::cout);
  return kExitOk;
}

int runDevices(const Args& in) {
  Args args = in;
  std::string dir, error, profile, systemOption, worldOption;
  bool fixtures = takeOption(args, "--fixtures", &dir, &error);
  if (fixtures && dir.empty()) return usageError("devices", "empty --fixtures");
  if (!error.empty()) return usageError("devices", error);
  if (!fixtures) dir = sim::deviceProfileFolder(VELMORA_SOURCE_RESOURCES);
  bool json = takeFlag(args, "--json");
  bool all = takeFlag(args, "--all");
  std::vector<std::string> profiles;
  while (takeOption(args, "--profile", &profile, &error)) profiles.push_back(profile);
  if (!error.empty()) return usageError("devices", error);
  bool systemGiven = takeOption(args, "--system", &systemOption, &error);
  if (!error.empty()) return usageError("devices", error);
  bool worldGiven = takeOption(args, "--world", &worldOption, &error);
  if (!error.empty()) return usageError("devices", error);
  if (!args.empty()) return usageError("devices", "unexpected argument '" + args[0] + "'");
  bool profileMode = fixtures || all || !profiles.empty();
  if (profileMode && (systemGiven || worldGiven))
    return usageError("devices", "--profile, --all and --fixtures load device profiles; they do not go with --system or --world");
  if (!profileMode) return runPointingDevices(systemOption, worldOption, worldGiven, json);
  if (profiles.empty() && !all) profiles = kDefaultMachine;

  sim::SimMac mac;
  if (!load(mac, dir, profiles, all)) return kExitFailure;
  auto rows = inspect(mac);
  if (json) printJson(rows, std::cout);
  else printText(rows, std::cout);
  return kExitOk;
}

int runDemo(const Args& in) {
  ErrorStack errors;  // this run's failures
  Args args = in;
  std::string dir = sim::deviceProfileFolder(VELMORA_SOURCE_RESOURCES), error;
  takeOption(args, "--fixtures", &dir, &error);
  if (!error.empty()) return usageError("demo", error);
  if (!args.empty()) return usageError("demo", "unexpected argument '" + args[0] + "'");

  sim::SimMac mac;
  mac.setProcessName("velmora-ctl");
  const Platform p = mac.platform();
  if (!load(mac, dir, {}, true)) return kExitFailure;

  std::cout << "Velmora core on a simulated Mac\n===============================\n\n";
  auto [model, identifier] = machineModelName(p.registry, p.defaults, p.system);
  std::cout << "Machine: " << model << ", serial " << machineSerialNumber(p.registry).value_or("unknown") << "\n\n";
  auto rows = inspect(mac);
  printText(rows, std::cout);

  std::cout << "Applying a favourite (sensitivity 600, tracking speed 0.6875) to supported devices:\n";
  for (const auto& r : rows) {
    if (!r.supported) continue;
    std::string key = r.accelKey.empty() ? kHIDMouseAccelerationKey : r.accelKey;
    errors.clear();
    int32_t e = setCursorSpeed(errors, r.service.get(), &key, 600.0, 0.6875, false);
    std::cout << "  " << r.profile << ": ";
    if (e != 0) {
      std::cout << "failed, " << QS810getErrorString(errors, {"", "velmora-ctl", VELMORA_VERSION_TEXT, ""}) << "\n";
      continue;
    }
    auto accel = r.service->property(key);
    std::cout << kHIDPointerResolutionKey << " = " << pl::formatG(getCursorSensitivity(r.service.get())) << " dpi ("
              << X2Fix(getCursorSensitivity(r.service.get())) << "), " << key << " = "
              << pl::formatG(accel ? Fix2X(accel->intValue()) : 0.0) << " (" << (accel ? accel->intValue() : 0) << ")\n";
  }
  std::cout << "\nTry:\n"
               "  velmora-ctl devices --all --json\n"
               "  velmora-ctl version parse 2.2b3\n"
               "  velmora-ctl --help\n";
  return kExitOk;
}

}  // namespace

CommandGroup devicesCommand() {
  return {"devices", "list the pointing devices the agent would see (this machine or a world)", kDevicesHelp, runDevices};
}

CommandGroup demoCommand() {
  return {"demo", "show what the core does on the simulated Mac", kDemoHelp, runDemo};
}

}  // namespace vl::ctl
