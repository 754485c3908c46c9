// velmora-ctl favourite set: edits one favourite of a device in the settings store without
// the settings window, saves, and (with --notify) tells a running agent as the pane does.
#include <cstdio>
#include <iostream>
#include <optional>

#include "core/store/cursor_speed_record.h"
#include "core/store/device_record.h"
#include "core/store/store.h"
#include "core/system/boa_notifications.h"
#include "core/system/drovana.h"
#include "platform/api/platform.h"
#include "platform/linux/dbus_notifications.h"
#include "platform/linux/sd_event_runloop.h"
#include "platform/linux/xdg_paths.h"
#include "tools/ctl/command.h"

namespace vl::ctl {
namespace {

const char* kHelp =
    "usage: velmora-ctl favourite set --device INDEX --favourite N [--store PATH]\n"
    "                                [--sensitivity S] [--tracking T] [--accel on|off]\n"
    "                                [--select] [--create] [--notify]\n\n"
    "Changes favourite N (0-4) of the device INDEX (\"vid-pid-mid-transport\" in hex, as the\n"
    "store names devices, e.g. 93a-2510-0-USB) and saves the store.\n\n"
    "  --store PATH   the store file (default: the user's \"Device.dvsetting\")\n"
    "  --sensitivity S   pointer resolution, 10 to 2000\n"
    "  --tracking T      tracking speed, at most 20\n"
    "  --accel on|off    acceleration switch\n"
    "  --select          make N the device's chosen favourite\n"
    "  --create          add the device with the five default favourites when it is missing\n"
    "  --notify          post \"Cursor Speed Cmd\" so that a running agent applies it now\n\n"
    "The store is refused while another writer (the settings window) holds it.\n";

struct Identity {
  uint32_t vid = 0, pid = 0, mid = 0;
  std::string transport;
};

std::optional<Identity> parseIndex(const std::string& text) {
  Identity id;
  size_t at = 0;
  uint32_t* parts[] = {&id.vid, &id.pid, &id.mid};
  for (uint32_t* p : parts) {
    size_t dash = text.find('-', at);
    if (dash == std::string::npos || dash == at) return std::nullopt;
    unsigned long long v = 0;
    if (!parseUnsigned("0x" + text.substr(at, dash - at), &v) || v > 0xFFFFFFFFull) return std::nullopt;
    *p = static_cast<uint32_t>(v);
    at = dash + 1;
  }
  id.transport = text.substr(at);
  if (id.transport.empty()) return std::nullopt;
  return id;
}

int set(Args args) {
  std::string error, device, favourite, store, sens, track, accel;
  auto opt = [&](const char* name, std::string* out) {
    bool got = takeOption(args, name, out, &error);
    return got && error.empty();
  };
  opt("--device", &device);
  opt("--favourite", &favourite);
  opt("--store", &store);
  bool hasSens = opt("--sensitivity", &sens);
  bool hasTrack = opt("--tracking", &track);
  bool hasAccel = opt("--accel", &accel);
  if (!error.empty()) return usageError("favourite", error);
  bool select = takeFlag(args, "--select"), create = takeFlag(args, "--create"), notify = takeFlag(args, "--notify");
  if (!args.empty()) return usageError("favourite", "unexpected argument '" + args[0] + "'");
  auto id = parseIndex(device);
  if (!id) return usageError("favourite", "--device needs an index like 93a-2510-0-USB");
  unsigned long long n = 0;
  if (!parseUnsigned(favourite, &n) || n > 4) return usageError("favourite", "--favourite needs a number from 0 to 4");
  double s = 0, t = 0;
  if (hasSens && (!parseDouble(sens, &s) || s < 10 || s > 2000))
    return usageError("favourite", "--sensitivity must be a number from 10 to 2000");
  if (hasTrack && (!parseDouble(track, &t) || t > 20)) return usageError("favourite", "--tracking must be at most 20");
  if (hasAccel && accel != "on" && accel != "off") return usageError("favourite", "--accel takes on or off");

  std::optional<linux_::XdgPaths> paths;
  Platform p;
  if (store.empty()) {
    paths = linux_::XdgPaths::create(linux_::XdgEnvironment::fromProcess(), VELMORA_SOURCE_RESOURCES, &error);
    if (!paths) return failure(error);
    p.paths = &*paths;
  }
  std::optional<std::string> url = store.empty() ? QS814prefsFileURL(p) : std::optional<std::string>(store);
  if (!url) return failure("no settings store location");

  StoreContextRef ctx;
  ErrorInfo openError;
  if (QS814createMOC(p, url, nullptr, false, &ctx, &openError, recordSettings()) != 0) {
    auto d = openError.userInfo.find(kDescriptionKey);
    return failure("cannot open " + *url + " for writing: " +
                   (d != openError.userInfo.end() ? d->second.describe() : openError.domain + " " + std::to_string(openError.code)));
  }
  QS802DeviceClass* rec = QS814fetchDevice(id->vid, id->pid, id->mid, id->transport, ctx.get());
  if (!rec) {
    if (!create) return failure("the store has no device " + device + " (use --create to add it)");
    rec = QS814insertDevice(ctx.get());
    rec->setVid(id->vid);
    rec->setPid(id->pid);
    rec->setMid(id->mid);
    rec->setTransport(id->transport);
    // Without the device's service at hand, the resolution the system assumes for a mouse.
    rec->setPointerResolution(std::string("400"));
    rec->setViewScaleX(std::string("3.0"));
    if (!rec->insert5CursorSpeedsWithSens(-1, -1)) return failure("cannot make the device's favourites");
  }
  QS805CursorSpeedClass* cs = nullptr;
  for (QS805CursorSpeedClass* c : rec->cursorSpeeds())
    if (c->value(attr::cursorSpeed::index).longLongValue() == static_cast<int64_t>(n)) cs = c;
  if (!cs) return failure("device " + device + " has no favourite " + favourite);
  char buf[32];
  if (hasSens) {
    std::snprintf(buf, sizeof buf, "%g", s);
    cs->setSensitivity(std::string(buf));
  }
  if (hasTrack) {
    std::snprintf(buf, sizeof buf, "%g", t);
    cs->setTrackingSpeed(std::string(buf));
  }
  if (hasAccel) cs->setDisableAccl(accel == "off");
  if (select) rec->setCursorSpeedSelectedIndex(static_cast<int64_t>(n));
  rec->updateCursorSpeedDate();
  ErrorInfo saveError;
  if (QS814saveMOC(ctx.get(), &saveError) != 0) return failure("cannot save " + *url);
  std::cout << "saved favourite " << n << " of " << device << " in " << *url << "\n";
  // The record goes with its context: keep what the command carries first.
  std::optional<std::string> savedSens = cs->sensitivity(), savedTrack = cs->trackingSpeed();
  bool savedDisable = cs->disableAccl();
  ctx.reset();

  if (notify) {
    auto loop = linux_::SdEventRunLoop::create(&error);
    auto bus = loop ? linux_::DbusNotifications::connect(*loop, &error) : nullptr;
    if (!bus) return failure("saved, but cannot reach the session bus to tell the agent: " + error);
    Platform np;
    np.runLoop = loop.get();
    np.notifications = bus.get();
    QS824postCursorSpeedNotification(np, id->vid, id->pid, id->mid, id->transport, velmora::kPaneBundleID,
                                     savedSens, savedTrack, savedDisable);
    bus->flush();
    std::cout << "posted \"" << cmd::kCursorSpeed << "\"\n";
  }
  return kExitOk;
}

int run(const Args& args) {
  if (args.empty()) return usageError("favourite", "missing subcommand (set)");
  if (args[0] == "set") {
    if (args.size() > 1 && isHelp(args[1])) {
      std::cout << kHelp;
      return kExitOk;
    }
    return set(Args(args.begin() + 1, args.end()));
  }
  return usageError("favourite", "unknown subcommand '" + args[0] + "'");
}

bool registered = registerGroup({"favourite", "change a device's favourite speed in the store", kHelp, run});

}  // namespace
}  // namespace vl::ctl
