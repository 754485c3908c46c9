// velmora-ctl snapping list / set: the cursor-snapping records of the settings store, shown and
// edited without the settings window; a change is saved and a running agent told to reload.
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>

#include "core/store/app_record.h"
#include "core/plist/ascii_text.h"
#include "core/store/store.h"
#include "core/system/boa_notifications.h"
#include "core/system/drovana.h"
#include "platform/api/platform.h"
#include "platform/linux/dbus_notifications.h"
#include "platform/linux/sd_event_runloop.h"
#include "platform/linux/xdg_paths.h"
#include "platform/sim/sim_workspace.h"
#include "platform/sim/world.h"
#include "tools/common/agent_bus.h"
#include "tools/common/suggest.h"
#include "tools/ctl/command.h"
#include "tools/ctl/store_path.h"

namespace vl::ctl {
namespace {

const char* kHelp =
    "usage: velmora-ctl snapping list [--store PATH] [--json]\n"
    "       velmora-ctl snapping set (--default | --app PATH-OR-MATCHING-KEY) --target VALUE\n"
    "                                [--jump | --glide] [--bounce | --no-bounce] [--store PATH]\n"
    "                                [--no-notify]\n\n"
    "Automatic cursor snapping moves the cursor onto a control of each new window, chosen per\n"
    "application; the default record holds the choice for every application without one.\n\n"
    "list   shows the snapping records (the store opened read-only).\n"
    "set    changes the default record or an application's record (made when missing, as the\n"
    "       settings window does; the default record too), saves the store and posts\n"
    "       \"Auto Cursor Snapping Cmd\" so that a running agent reloads (--no-notify: do not).\n\n"
    "  --app PATH-OR-MATCHING-KEY  an application bundle or program (its matching key is\n"
    "                              taken from it), or a matching key such as TextEdit.app\n"
    "  --target VALUE   same-as-default, none, default, cancel, close, minimize, fullscreen,\n"
    "                   or the stored value itself (\"Default Button\", ...)\n"
    "  --jump / --glide         move instantly / glide there\n"
    "  --bounce / --no-bounce   move back when the window goes away, or not\n"
    "  --store PATH             the store file (default: the user's \"Device.dvsetting\")\n\n"
    "set is refused while another writer (the settings window) holds the store.\n";

struct Target {
  const char* alias;
  const char* value;
};
const Target kTargets[] = {
    {"same-as-default", kSnappingSameAsDefault}, {"none", kSnappingNone},
    {"default", kSnappingDefaultButton},         {"cancel", kSnappingCancelButton},
    {"close", kSnappingCloseButton},             {"minimize", kSnappingMinimizeButton},
    {"fullscreen", kSnappingFullscreenButton},
};

// The stored value for what the user typed; "Dock" is stored by others but never offered.
std::optional<std::string> targetValue(const std::string& text) {
  for (const auto& t : kTargets)
    if (pl::asciiLower(text) == t.alias || pl::asciiLower(text) == pl::asciiLower(t.value)) return std::string(t.value);
  return std::nullopt;
}

std::string jsonOpt(const std::optional<std::string>& s) { return s ? jsonString(*s) : "null"; }

// The store's location and the platform pieces records need (home folder, bundles on disk).
struct Session {
  std::optional<linux_::XdgPaths> paths;
  std::unique_ptr<sim::SimWorkspace> workspace;
  Platform platform;  // points into the members above
  ErrorStack errors;   // the session's failures
  std::optional<std::string> url;
};

bool openSession(Session& s, const std::string& store, std::string* error) {
  Platform& p = s.platform;
  const char* home = std::getenv("HOME");
  s.workspace = std::make_unique<sim::SimWorkspace>(home ? home : "/");
  p.workspace = s.workspace.get();
  if (store.empty()) {
    auto paths = linux_::XdgPaths::create(linux_::XdgEnvironment::fromProcess(), VELMORA_SOURCE_RESOURCES);
    if (!paths) {
      *error = paths.status().detail();
      return false;
    }
    s.paths = std::move(paths).value();
    p.paths = &*s.paths;
  }
  s.url = store.empty() ? storeFilePath(p, s.errors) : std::optional<std::string>(store);
  if (!s.url) *error = "no settings store location";
  return s.url.has_value();
}

std::string describeError(const ErrorInfo& e) {
  auto d = e.userInfo.find(kDescriptionKey);
  if (e.code == kPersistentStoreInUseError)
    return "another writer (the settings window) holds the store; close it and try again";
  return d != e.userInfo.end() ? d->second.describe() : e.domain + " " + std::to_string(e.code);
}

std::string motion(const AppRecord* a) {
  return std::string(a->snappingJump() ? "jump" : "glide") + (a->snappingBounce() ? ", bounce" : "");
}

int list(Args args) {
  std::string error, store;
  takeOption(args, "--store", &store, &error);
  if (!error.empty()) return usageError("snapping", error);
  bool json = takeFlag(args, "--json");
  if (!args.empty()) return usageError("snapping", "unexpected argument '" + args[0] + "'");
  Session s;
  if (!openSession(s, store, &error)) return failure(error);
  if (auto problem = storePathProblem(*s.url)) return failure(*problem);
  StoreContextRef ctx;
  ErrorInfo openError;
  if (createStoreContext(s.platform, s.errors, s.url, nullptr, true, &ctx, &openError, recordSettings()) != 0)
    return failure("cannot open " + *s.url + ": " + describeError(openError));
  auto apps = AppRecord::fetchAllSnappingApps(s.errors, ctx.get()).value_or(std::vector<AppRecord*>{});
  std::sort(apps.begin(), apps.end(), AppRecord::sortDescriptorsLess);
  if (json) {
    std::cout << "[";
    bool first = true;
    for (AppRecord* a : apps) {
      std::cout << (first ? "\n" : ",\n") << "  {\"name\": " << jsonString(a->displayName())
                << ", \"default\": " << (a->isDefault() ? "true" : "false") << ", \"matchingKey\": "
                << jsonOpt(a->matchingKey()) << ", \"snapping\": " << jsonOpt(a->snapping())
                << ", \"actualSnapping\": " << jsonString(a->actualSnapping())
                << ", \"jump\": " << (a->snappingJump() ? "true" : "false")
                << ", \"bounce\": " << (a->snappingBounce() ? "true" : "false") << "}";
      first = false;
    }
    std::cout << (apps.empty() ? "]\n" : "\n]\n");
    return kExitOk;
  }
  if (apps.empty()) std::cout << "no snapping records (the settings window makes the default one)\n";
  for (AppRecord* a : apps) {
    std::string value = a->snapping().value_or("-");
    std::cout << a->displayName() << (a->isDefault() ? "" : " [" + a->matchingKey().value_or("") + "]") << ": "
              << value;
    if (value == kSnappingSameAsDefault) std::cout << " (" << a->actualSnapping() << ")";
    std::cout << ", " << motion(a) << "\n";
  }
  return kExitOk;
}

int set(Args args) {
  std::string error, store, app, target;
  takeOption(args, "--store", &store, &error);
  bool hasApp = error.empty() && takeOption(args, "--app", &app, &error);
  bool hasTarget = error.empty() && takeOption(args, "--target", &target, &error);
  if (!error.empty()) return usageError("snapping", error);
  bool isDefault = takeFlag(args, "--default");
  bool jump = takeFlag(args, "--jump"), glide = takeFlag(args, "--glide");
  bool bounce = takeFlag(args, "--bounce"), noBounce = takeFlag(args, "--no-bounce");
  bool notify = !takeFlag(args, "--no-notify");
  if (!args.empty()) return usageError("snapping", "unexpected argument '" + args[0] + "'");
  if (isDefault == hasApp) return usageError("snapping", "name either --default or --app");
  if (hasApp && app.empty()) return usageError("snapping", "--app needs an application or a matching key");
  if (!hasTarget) return usageError("snapping", "--target is required");
  if (jump && glide) return usageError("snapping", "--jump and --glide exclude each other");
  if (bounce && noBounce) return usageError("snapping", "--bounce and --no-bounce exclude each other");
  auto value = targetValue(target);
  if (!value) return usageError("snapping", "unknown --target '" + target + "'");
  if (isDefault && *value == kSnappingSameAsDefault)
    return usageError("snapping", "the default record cannot be \"Same as Default\"");

  Session s;
  if (!openSession(s, store, &error)) return failure(error);
  StoreContextRef ctx;
  ErrorInfo openError;
  if (createStoreContext(s.platform, s.errors, s.url, nullptr, false, &ctx, &openError, recordSettings()) != 0)
    return failure("cannot open " + *s.url + " for writing: " + describeError(openError));

  // The settings window makes sure the default record exists whenever it opens the store.
  AppRecord* def = AppRecord::fetchDefSnappingApp(s.errors, ctx.get());
  if (!def) def = AppRecord::insertSnappingAppWithObject(s.errors, AppObject(), ctx.get());
  if (!def) return failure("cannot make the default snapping record");

  AppRecord* rec = def;
  std::string key;
  if (hasApp) {
    std::error_code ec;
    bool onDisk = app.find('/') != std::string::npos && std::filesystem::exists(app, ec);
    std::string path = onDisk ? std::filesystem::absolute(app, ec).lexically_normal().string() : app;
    while (onDisk && path.size() > 1 && path.back() == '/') path.pop_back();
    key = onDisk ? AppRecord::matchingKeyFromURL(s.platform, path) : app;
    rec = nullptr;
    auto all = AppRecord::fetchAllSnappingApps(s.errors, ctx.get()).value_or(std::vector<AppRecord*>{});
    // An equal key first, then one whose trailing components it names.
    for (AppRecord* a : all)
      if (!a->isDefault() && pl::asciiLower(a->matchingKey().value_or("")) == pl::asciiLower(key)) rec = a;
    for (AppRecord* a : all)
      if (!rec && !a->isDefault() && a->isEqualToMatchingKey(key)) rec = a;
    if (!rec && onDisk) rec = AppRecord::insertSnappingAppWithObject(s.errors, AppObject(FileURL{path}), ctx.get());
    if (!rec && !onDisk) {
      rec = insertApplication(s.errors, ctx.get());
      if (rec) {
        rec->setMatchingKey(key);
        std::string name = key.substr(key.find_last_of('/') == std::string::npos ? 0 : key.find_last_of('/') + 1);
        if (name.size() > 4 && pl::asciiLower(name.substr(name.size() - 4)) == ".app") name.resize(name.size() - 4);
        rec->setName(name);
        rec->setSnapping(rec->initialSnapping());
      }
    }
    if (!rec) return failure("cannot make a snapping record for " + app);
  }
  rec->setSnapping(*value);
  if (jump || glide) rec->setSnappingJump(jump);
  if (bounce || noBounce) rec->setSnappingBounce(bounce);
  std::string shown = rec->displayName() + (rec->isDefault() ? "" : " [" + rec->matchingKey().value_or("") + "]");
  std::string summary = *value + ", " + motion(rec);
  ErrorInfo saveError;
  if (saveStoreContext(ctx.get(), &saveError) != 0) return failure("cannot save " + *s.url + ": " + describeError(saveError));
  ctx.reset();
  std::cout << "saved " << shown << ": " << summary << " in " << *s.url << "\n";

  if (notify) {
    auto agent = cli::connectToAgent(sim::worldFolderFor(""));
    if (!agent) {
      // The change is in the store: the agent reads it when it next starts.
      std::cerr << "velmora-ctl: saved, but no session bus to tell a running agent: " << agent.status().detail() << "\n";
      return kExitOk;
    }
    linux_::DbusNotifications* bus = agent->bus.get();
    QS824postAutoCursorSnappingNotification(bus, std::nullopt, velmora::kPaneBundleID, std::nullopt, std::nullopt,
                                            std::nullopt, std::nullopt);
    bus->flush();
    std::cout << "posted \"" << cmd::kAutoCursorSnapping << "\"\n";
  }
  return kExitOk;
}

int run(const Args& all) {
  if (all.empty() || isHelp(all[0])) {
    std::cout << kHelp;
    return all.empty() ? kExitUsage : kExitOk;
  }
  Args rest(all.begin() + 1, all.end());
  for (const auto& a : rest)
    if (isHelp(a)) {
      std::cout << kHelp;
      return kExitOk;
    }
  if (all[0] == "list") return list(rest);
  if (all[0] == "set") return set(rest);
  return usageError("snapping", "unknown subcommand '" + all[0] + "'" + cli::didYouMean(all[0], {"list", "set"}));
}

}  // namespace

CommandGroup snappingCommand() {
  return {"snapping", "show or change the cursor-snapping records of the store", kHelp, run};
}

}  // namespace vl::ctl
