// velmora-sim move: input reports (X and Y sharing a timestamp) for devices read through the
// HID manager, mouse-moved events with cursor deltas for Apple's devices.
#include "tools/sim/input_commands.h"

#include <chrono>
#include <cmath>
#include <iostream>
#include <thread>

#include "platform/sim/world.h"
#include "tools/common/cli_args.h"
#include "tools/common/device_names.h"
#include "tools/common/suggest.h"

namespace vl::simtool {

namespace {

using Args = std::vector<std::string>;

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr double kMaxDelta = 32767;  // what one HID report axis can carry
constexpr double kMaxCount = 100000;
constexpr double kMaxInterval = 60000;

int usage(const std::string& msg) {
  std::cerr << "velmora-sim: " << msg << "\nTry 'velmora-sim move --help'.\n";
  return kExitUsage;
}

int failure(const std::string& msg) {
  std::cerr << "velmora-sim: " << msg << "\n";
  return kExitFailure;
}

// Where a named device's movements go.
struct Target {
  std::string name;
  bool apple = false;
  RegistryId hidDevice = 0;
};

std::optional<uint32_t> numberProperty(const IoRegistry& reg, RegistryId id, const char* key) {
  auto v = reg.property(id, key);
  if (!v || !v->isNumber()) return std::nullopt;
  return v->unsignedIntValue();
}

// The attached device with this identity, looked up on its pointing services; *names gets
// every attached device's name for a suggestion.
std::optional<Target> findTarget(sim::World& world, const cli::DeviceName& want, std::vector<std::string>* names) {
  sim::SimMac& mac = world.mac();
  const IoRegistry& reg = mac.registry();
  for (const auto& d : world.devices()) {
    for (RegistryId svc : mac.eventServicesOf(d.id)) {
      auto vid = numberProperty(reg, svc, "VendorID");
      auto pid = numberProperty(reg, svc, "ProductID");
      auto transport = reg.property(svc, "Transport");
      if (!vid || !pid) continue;
      const uint32_t mid = numberProperty(reg, svc, "QuillonMID").value_or(0);
      const std::string t = transport && transport->isString() ? *transport->asString() : "";
      const std::string name = cli::deviceNameText(*vid, *pid, mid, t);
      names->push_back(name);
      if (*vid != want.vid || *pid != want.pid || mid != want.mid || t != want.transport) continue;
      Target target;
      target.name = name;
      target.apple = *vid == 0x05AC || *vid == 0x004C;
      if (!target.apple) {
        if (auto location = numberProperty(reg, svc, "LocationID")) {
          auto entries = mac.pointerDevicesAt(*location);
          if (!entries.empty()) target.hidDevice = entries.front();
        }
      }
      return target;
    }
  }
  return std::nullopt;
}

bool wholeNumberIn(const std::string& text, double lo, double hi, double* out) {
  return cli::parseDouble(text, out) && *out == std::trunc(*out) && *out >= lo && *out <= hi;
}

uint64_t monotonicNanos() {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count());
}

int runMove(Args& args, const std::string& folder) {
  std::string countText, intervalText, error;
  const bool hasCount = cli::takeOption(args, "--count", &countText, &error);
  if (!error.empty()) return usage(error);
  const bool hasInterval = cli::takeOption(args, "--interval", &intervalText, &error);
  if (!error.empty()) return usage(error);
  for (const auto& a : args)
    if (a.size() > 2 && a.rfind("--", 0) == 0)
      return usage("unknown option '" + a + "'" + cli::didYouMean(a, {"--count", "--interval"}));
  if (args.size() != 3) return usage(args.size() < 3 ? "needs ID DX DY" : "unexpected argument '" + args[3] + "'");

  auto name = cli::parseDeviceName(args[0]);
  if (!name) return usage("'" + args[0] + "' is not " + cli::kDeviceNameForms);
  double dx = 0, dy = 0, count = 1, interval = 10;
  for (int i : {1, 2}) {
    double* out = i == 1 ? &dx : &dy;
    if (!wholeNumberIn(args[static_cast<size_t>(i)], -kMaxDelta, kMaxDelta, out))
      return usage(std::string(i == 1 ? "DX" : "DY") + " takes a whole number of counts from -32767 to 32767, not '" +
                   args[static_cast<size_t>(i)] + "'");
  }
  if (hasCount && !wholeNumberIn(countText, 1, kMaxCount, &count))
    return usage("--count takes a whole number from 1 to 100000, not '" + countText + "'");
  if (hasInterval && !wholeNumberIn(intervalText, 0, kMaxInterval, &interval))
    return usage("--interval takes whole milliseconds from 0 to 60000, not '" + intervalText + "'");

  sim::WorldOptions options;
  options.processName = "velmora-sim";
  auto opened = sim::World::open(folder, options);
  if (!opened) return failure(opened.status().detail());
  std::unique_ptr<sim::World> world = std::move(opened).value();
  std::vector<std::string> names;
  auto target = findTarget(*world, *name, &names);
  if (!target) {
    const std::string wanted = cli::deviceNameText(name->vid, name->pid, name->mid, name->transport);
    return usage("no attached device is " + wanted + cli::didYouMean(wanted, names));
  }
  if (!target->apple && target->hidDevice == 0)
    return failure(target->name + " has no HID device whose input could be read");

  for (long n = 0; n < static_cast<long>(count); ++n) {
    if (n > 0 && interval > 0) std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<long>(interval)));
    Status posted;
    if (target->apple) {
      posted = world->postMouseMoved(dx, dy);
    } else {
      // One report: both axes carry its timestamp.
      const uint64_t t = monotonicNanos();
      posted = world->postInputReport(target->hidDevice,
                                      {HidInputValue{kHIDPage_GenericDesktop, kHIDUsage_GD_X, static_cast<int64_t>(dx), t},
                                       HidInputValue{kHIDPage_GenericDesktop, kHIDUsage_GD_Y, static_cast<int64_t>(dy), t}});
    }
    if (!posted) return failure(posted.detail());
  }
  std::cout << "moved " << target->name << " by " << static_cast<long>(dx) << "," << static_cast<long>(dy) << " "
            << static_cast<long>(count) << (count == 1 ? " time" : " times") << " ("
            << (target->apple ? "mouse-moved events" : "input reports") << ")\n";
  return kExitOk;
}

}  // namespace

const std::vector<DesktopCommand>& inputCommands() {
  static const std::vector<DesktopCommand> list = {
      {"move", "move a pointing device (the speed indicator follows)",
       "usage: velmora-sim move ID DX DY [--count N] [--interval MS]\n\n"
       "Moves the attached device ID (as the store names it, e.g. 93a-2510-0-USB; also\n"
       "\"093a:2510:0 USB\" or \"VID 0x093A PID 0x2510 MID - USB\") by DX, DY counts, N times\n"
       "(default 1), MS milliseconds apart (default 10). A device read through the HID manager\n"
       "gets input reports whose X and Y values share a timestamp; an Apple device (vendor\n"
       "0x05AC or 0x004C) makes mouse-moved events with the deltas as cursor points.\n"
       "Programs on the world see each movement once, while they have the world open.\n",
       runMove},
  };
  return list;
}

}  // namespace vl::simtool
