// velmora-ctl favourite set: edits one favourite of a device in the settings store without
// the settings window, saves, and (with --notify) tells a running agent as the pane does.
#include <filesystem>
#include <iostream>
#include <optional>

#include "core/plist/number_text.h"
#include "core/store/cursor_speed_record.h"
#include "core/store/device_record.h"
#include "core/store/store.h"
#include "core/system/boa_notifications.h"
#include "core/system/drovana.h"
#include "platform/api/platform.h"
#include "platform/linux/dbus_notifications.h"
#include "platform/linux/sd_event_runloop.h"
#include "platform/linux/xdg_paths.h"
#include "platform/sim/world.h"
#include "tools/common/agent_bus.h"
#include "tools/common/device_names.h"
#include "tools/common/suggest.h"
#include "tools/ctl/command.h"

namespace vl::ctl {
namespace {

const char* kHelp =
    "usage: velmora-ctl favourite set --device DEVICE --favourite N [--store PATH]\n"
    "                                [--sensitivity S] [--tracking T] [--accel on|off]\n"
    "                                [--select] [--create] [--notify]\n\n"
    "Changes favourite N (1 to 5, as the settings window numbers them; --favorite works too)\n"
    "of DEVICE and saves the store. DEVICE is written as the store names devices,\n"
    "\"vid-pid-mid-transport\" in hex (e.g. 93a-2510-0-USB, as 'velmora-ctl store show' and the\n"
    "agent's log print it); \"093a:2510:0 USB\" and \"VID 0x093A PID 0x2510 MID - USB\" work too.\n\n"
    "  --store PATH   the store file (default: the user's \"Device.dvsetting\" in\n"
    "                 ~/.local/share/Drovana & Velmora)\n"
    "  --sensitivity S   pointer resolution, 10 to 2000\n"
    "  --tracking T      tracking speed, 0 to 20\n"
    "  --accel on|off    acceleration switch\n"
    "  --select          make N the device's chosen favourite\n"
    "  --create          add the device with the five default favourites when it is missing\n"
    "  --notify          post \"Cursor Speed Cmd\" so that a running agent applies it now (on\n"
    "                    the bus the agent of the simulated Mac recorded, else the session bus)\n\n"
    "The store is refused while another writer (the settings window) holds it.\n";

int set(Args args) {
  ErrorStack errors;  // this run's failures
  std::string error, device, favourite, store, sens, track, accel;
  auto opt = [&](const char* name, std::string* out) {
    bool got = takeOption(args, name, out, &error);
    return got && error.empty();
  };
  opt("--device", &device);
  bool hasFavourite = opt("--favourite", &favourite);
  std::string favorite;
  if (opt("--favorite", &favorite)) {
    if (hasFavourite && favorite != favourite) return usageError("favourite", "--favourite and --favorite disagree");
    favourite = favorite;
  }
  opt("--store", &store);
  bool hasSens = opt("--sensitivity", &sens);
  bool hasTrack = opt("--tracking", &track);
  bool hasAccel = opt("--accel", &accel);
  if (!error.empty()) return usageError("favourite", error);
  bool select = takeFlag(args, "--select"), create = takeFlag(args, "--create"), notify = takeFlag(args, "--notify");
  if (!args.empty()) return usageError("favourite", "unexpected argument '" + args[0] + "'");
  if (device.empty()) return usageError("favourite", std::string("--device needs ") + cli::kDeviceNameForms);
  auto id = cli::parseDeviceName(device);
  if (!id) return usageError("favourite", "'" + device + "' is not " + cli::kDeviceNameForms);
  // Shown and saved in one form, the store's.
  device = cli::deviceNameText(id->vid, id->pid, id->mid, id->transport);
  unsigned long long number = 0;
  if (favourite.empty()) return usageError("favourite", "--favourite needs a number from 1 to 5");
  if (!parseUnsigned(favourite, &number) || number < 1 || number > 5)
    return usageError("favourite", "--favourite needs a number from 1 to 5, not '" + favourite + "'");
  const unsigned long long n = number - 1;  // the stored index
  double s = 0, t = 0;
  if (hasSens) {
    Result<double> parsed = parseNumberIn("--sensitivity", sens, kMinSensitivity, kMaxSensitivity);
    if (!parsed) return usageError("favourite", parsed.status().detail());
    s = *parsed;
  }
  if (hasTrack) {
    Result<double> parsed = parseNumberIn("--tracking", track, kMinTrackingSpeed, kMaxTrackingSpeed);
    if (!parsed) return usageError("favourite", parsed.status().detail());
    t = *parsed;
  }
  if (hasAccel && accel != "on" && accel != "off") return usageError("favourite", "--accel takes on or off");

  std::optional<linux_::XdgPaths> paths;
  Platform p;
  if (store.empty()) {
    auto made = linux_::XdgPaths::create(linux_::XdgEnvironment::fromProcess(), VELMORA_SOURCE_RESOURCES);
    if (!made) return failure(made.status().detail());
    paths = std::move(made).value();
    p.paths = &*paths;
  }
  std::optional<std::string> url = store.empty() ? storeFilePath(p, errors) : std::optional<std::string>(store);
  if (!url) return failure("no settings store location");
  {
    // A store is made in an existing folder only: say which folder is missing.
    std::error_code ec;
    std::filesystem::path folder = std::filesystem::path(*url).parent_path();
    if (folder.empty()) folder = ".";
    if (!std::filesystem::is_directory(folder, ec))
      return failure("cannot save " + *url + ": the folder " + folder.string() +
                     (std::filesystem::exists(folder, ec) ? " is not a folder" : " does not exist"));
  }

  StoreContextRef ctx;
  ErrorInfo openError;
  if (createStoreContext(p, errors, url, nullptr, false, &ctx, &openError, recordSettings()) != 0) {
    auto d = openError.userInfo.find(kDescriptionKey);
    return failure("cannot open " + *url + " for writing: " +
                   (d != openError.userInfo.end() ? d->second.describe() : openError.domain + " " + std::to_string(openError.code)));
  }
  DeviceRecord* rec = fetchDevice(errors, id->vid, id->pid, id->mid, id->transport, ctx.get());
  if (!rec) {
    if (!create) return failure("the store has no device " + device + " (use --create to add it)");
    rec = insertDevice(errors, ctx.get());
    rec->setVid(id->vid);
    rec->setPid(id->pid);
    rec->setMid(id->mid);
    rec->setTransport(id->transport);
    // Without the device's service at hand, the resolution the system assumes for a mouse.
    rec->setPointerResolution(std::string("400"));
    rec->setViewScaleX(std::string("3.0"));
    if (!rec->insert5CursorSpeedsWithSens(-1, -1)) return failure("cannot make the device's favourites");
  }
  CursorSpeedRecord* cs = nullptr;
  for (CursorSpeedRecord* c : rec->cursorSpeeds())
    if (c->value(attr::cursorSpeed::index).longLongValue() == static_cast<int64_t>(n)) cs = c;
  if (!cs) return failure("device " + device + " has no favourite " + std::to_string(number));
  if (hasSens) cs->setSensitivity(pl::formatG(s));
  if (hasTrack) cs->setTrackingSpeed(pl::formatG(t));
  if (hasAccel) cs->setDisableAccl(accel == "off");
  if (select) rec->setCursorSpeedSelectedIndex(static_cast<int64_t>(n));
  rec->updateCursorSpeedDate();
  ErrorInfo saveError;
  if (saveStoreContext(ctx.get(), &saveError) != 0) {
    auto d = saveError.userInfo.find(kDescriptionKey);
    std::string why = d != saveError.userInfo.end()
                          ? d->second.describe()
                          : (saveError.domain.empty() ? std::string("the store refused the change")
                                                      : saveError.domain + " " + std::to_string(saveError.code));
    return failure("cannot save " + *url + ": " + why);
  }
  std::cout << "saved favourite " << number << " of " << device << " in " << *url << "\n";
  // The record goes with its context: keep what the command carries first.
  std::optional<std::string> savedSens = cs->sensitivity(), savedTrack = cs->trackingSpeed();
  bool savedDisable = cs->disableAccl();
  ctx.reset();

  if (notify) {
    auto agent = cli::connectToAgent(sim::worldFolderFor(""));
    if (!agent) return failure("saved, but cannot reach the agent's bus to tell it: " + agent.status().detail());
    linux_::DbusNotifications* bus = agent->bus.get();
    QS824postCursorSpeedNotification(bus, id->vid, id->pid, id->mid, id->transport, velmora::kPaneBundleID,
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
  return usageError("favourite", "unknown subcommand '" + args[0] + "'" + cli::didYouMean(args[0], {"set"}));
}

}  // namespace

CommandGroup favouriteCommand() {
  return {"favourite", "change a device's favourite speed in the store", kHelp, run};
}

}  // namespace vl::ctl
