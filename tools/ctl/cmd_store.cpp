// velmora-ctl store: shows what a settings store holds (devices with their favourites, and the
// snapping applications), as text or JSON.
#include <cstdio>
#include <iostream>
#include <sstream>

#include "core/store/records.h"
#include "core/store/record_values.h"
#include "tools/common/suggest.h"
#include "tools/ctl/command.h"
#include "tools/ctl/store_location.h"
#include "tools/ctl/store_path.h"

namespace vl::ctl {
namespace {

const char* kHelp =
    "usage: velmora-ctl store show [--store PATH] [--json]\n\n"
    "Shows the settings store, opened read-only (never blocked by the settings pane): every\n"
    "device with its identity, names, native resolution, selected favourite and the five\n"
    "favourites (numbered 1 to 5, as --favourite takes them), then the applications with\n"
    "their cursor-snapping values.\n\n"
    "  --store PATH   the store file (default: the user's \"Device.dvsetting\" in\n"
    "                 ~/.local/share/Drovana & Velmora)\n\n"
    "A favourite's sensitivity is the pointer resolution written to the device (10 to 2000,\n"
    "lower is faster); the settings window shows it as a speed, 2000 minus the sensitivity.\n"
    "In --json, favourites carry their stored index (0 to 4) and their number (1 to 5).\n";

std::string hex(uint32_t v) {
  char b[16];
  std::snprintf(b, sizeof b, "0x%x", v);
  return b;
}

std::string jsonOpt(const std::optional<std::string>& s) { return s ? jsonString(*s) : "null"; }

std::string orDash(const std::optional<std::string>& s) { return s ? *s : "-"; }

std::vector<CursorSpeedRecord*> byIndex(DeviceRecord* d) {
  auto css = d->cursorSpeeds();
  std::stable_sort(css.begin(), css.end(),
                   [](CursorSpeedRecord* a, CursorSpeedRecord* b) { return a->index() < b->index(); });
  return css;
}

void printText(const std::vector<DeviceRecord*>& devices, std::vector<AppRecord*> apps, std::ostream& out) {
  out << "Devices: " << devices.size() << "\n";
  if (!devices.empty())
    out << "(sensitivity: the pointer resolution written to the device, 10 to 2000, lower is faster;\n"
           " the settings window shows it as a speed, 2000 minus the sensitivity)\n";
  for (DeviceRecord* d : devices) {
    out << "\n" << d->index() << "\n"
        << "  vid " << hex(d->vid()) << "  pid " << hex(d->pid()) << "  mid " << hex(d->mid()) << "  transport "
        << orDash(d->transport()) << "\n"
        << "  name: " << orDash(d->name()) << "  registry name: " << orDash(d->registryName())
        << "  shown as: " << d->displayName() << "\n"
        << "  native resolution: " << orDash(d->pointerResolution())
        << "  selected favourite: " << d->cursorSpeedSelectedIndex() + 1
        << (d->cursorSpeedDisabled() ? "  (turned off for this device)" : "") << "\n";
    for (CursorSpeedRecord* cs : byIndex(d)) {
      out << "  favourite " << cs->index() + 1 << " (" << orDash(cs->title()) << "): sensitivity "
          << orDash(cs->sensitivity()) << " (window speed " << cs->sensitivityDisplay() << "), tracking " << orDash(cs->trackingSpeed())
          << (cs->disableAccl() ? ", acceleration off" : "")
          << (cs->index() == d->cursorSpeedSelectedIndex() ? "  <- selected" : "") << "\n";
    }
    if (size_t n = d->applications().size()) out << "  applications of the sibling product: " << n << "\n";
  }
  std::sort(apps.begin(), apps.end(), AppRecord::sortDescriptorsLess);
  out << "\nApplications: " << apps.size() << "\n";
  for (AppRecord* a : apps) {
    out << "  " << a->displayName() << (a->isDefault() ? "" : " [" + orDash(a->matchingKey()) + "]") << ": "
        << orDash(a->snapping());
    if (!a->isDefault() && a->snapping() == std::optional<std::string>(kSnappingSameAsDefault))
      out << " (" << a->actualSnapping() << ")";
    out << (a->snappingJump() ? ", jump" : "") << (a->snappingBounce() ? ", bounce" : "") << "\n";
  }
}

void printJson(const std::vector<DeviceRecord*>& devices, std::vector<AppRecord*> apps, std::ostream& out) {
  out << "{\"devices\": [";
  for (size_t i = 0; i < devices.size(); ++i) {
    DeviceRecord* d = devices[i];
    out << (i ? ", " : "") << "{\"index\": " << jsonString(d->index()) << ", \"vid\": " << d->vid()
        << ", \"pid\": " << d->pid() << ", \"mid\": " << d->mid() << ", \"transport\": " << jsonOpt(d->transport())
        << ", \"name\": " << jsonOpt(d->name()) << ", \"registryName\": " << jsonOpt(d->registryName())
        << ", \"displayName\": " << jsonString(d->displayName())
        << ", \"pointerResolution\": " << jsonOpt(d->pointerResolution())
        << ", \"cursorSpeedSelectedIndex\": " << d->cursorSpeedSelectedIndex()
        << ", \"selectedFavourite\": " << d->cursorSpeedSelectedIndex() + 1
        << ", \"cursorSpeedDisabled\": " << (d->cursorSpeedDisabled() ? "true" : "false")
        << ", \"applications\": " << d->applications().size() << ", \"cursorSpeeds\": [";
    auto css = byIndex(d);
    for (size_t j = 0; j < css.size(); ++j) {
      CursorSpeedRecord* cs = css[j];
      out << (j ? ", " : "") << "{\"index\": " << cs->index() << ", \"favourite\": " << cs->index() + 1
          << ", \"title\": " << jsonOpt(cs->title())
          << ", \"sensitivity\": " << jsonOpt(cs->sensitivity())
          << ", \"sensitivityDisplay\": " << jsonString(cs->sensitivityDisplay())
          << ", \"trackingSpeed\": " << jsonOpt(cs->trackingSpeed())
          << ", \"disableAccl\": " << (cs->disableAccl() ? "true" : "false") << "}";
    }
    out << "]}";
  }
  std::sort(apps.begin(), apps.end(), AppRecord::sortDescriptorsLess);
  out << "], \"applications\": [";
  for (size_t i = 0; i < apps.size(); ++i) {
    AppRecord* a = apps[i];
    out << (i ? ", " : "") << "{\"matchingKey\": " << jsonOpt(a->matchingKey()) << ", \"name\": " << jsonOpt(a->name())
        << ", \"default\": " << (a->isDefault() ? "true" : "false") << ", \"snapping\": " << jsonOpt(a->snapping())
        << ", \"actualSnapping\": " << jsonString(a->actualSnapping())
        << ", \"snappingJump\": " << (a->snappingJump() ? "true" : "false")
        << ", \"snappingBounce\": " << (a->snappingBounce() ? "true" : "false") << "}";
  }
  out << "]}\n";
}

int show(Args args) {
  ErrorStack errors;  // this run's failures
  std::string option, error;
  bool hasStore = takeOption(args, "--store", &option, &error);
  if (!error.empty()) return usageError("store", error);
  if (hasStore && option.empty()) return usageError("store", "--store needs a path");
  bool json = takeFlag(args, "--json");
  if (!args.empty()) return usageError("store", "unexpected argument '" + args.front() + "'");
  Result<std::string> where = storePathOrDefault(option);
  if (!where) return failure(where.status().detail());
  const std::string path = *where;
  if (auto problem = storePathProblem(path)) return failure(*problem);
  const Platform platform;
  StoreContextRef ctx;
  ErrorInfo err;
  if (createStoreContext(platform, errors, path, nullptr, true, &ctx, &err, recordSettings()) != 0) {
    const pl::Value* why = err.userInfo.count(kDescriptionKey) ? &err.userInfo.at(kDescriptionKey) : nullptr;
    return failure(path + ": " + (why ? why->describe() : "cannot be opened"));
  }
  // A truncated or overwritten file can read as a store with fewer records: refuse to show it.
  if (Status integrity = ctx->checkIntegrity(); !integrity.ok()) return failure(path + ": " + integrity.detail());
  std::vector<DeviceRecord*> devices = allDevices(ctx.get());
  std::vector<AppRecord*> apps = AppRecord::fetchAllSnappingApps(errors, ctx.get()).value_or(std::vector<AppRecord*>{});
  if (json)
    printJson(devices, apps, std::cout);
  else
    printText(devices, apps, std::cout);
  if (ctx->isDamaged()) return failure(path + ": part of the store could not be read");
  return kExitOk;
}

int run(const Args& all) {
  if (all.empty()) return usageError("store", "missing subcommand");
  Args rest(all.begin() + 1, all.end());
  if (all[0] == "show") {
    if (!rest.empty() && isHelp(rest[0])) {
      std::cout << kHelp;
      return kExitOk;
    }
    return show(rest);
  }
  return usageError("store", "unknown subcommand '" + all[0] + "'" + cli::didYouMean(all[0], {"show"}));
}

}  // namespace

CommandGroup storeCommand() {
  return {"store", "show the contents of a settings store", kHelp, run};
}

}  // namespace vl::ctl
