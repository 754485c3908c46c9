// velmora-ctl uninstall: removes Velmora as the settings pane's "Uninstall…" does, through the
// same routine, from a simulated Mac or from this Linux session; --dry-run lists what it would
// remove and changes nothing.
#include <unistd.h>

#include <iostream>
#include <memory>
#include <optional>

#include "core/errors/error_stack.h"
#include "core/store/store.h"
#include "core/store/user_info_record.h"
#include "core/system/drovana.h"
#include "core/system/launch_agent.h"
#include "core/system/privileges.h"
#include "pane/windows/uninstall.h"
#include "platform/api/service_manager.h"
#include "platform/linux/file_user_defaults.h"
#include "platform/linux/sd_event_runloop.h"
#include "platform/linux/systemd_service_manager.h"
#include "platform/linux/xattr_file_attributes.h"
#include "platform/linux/xdg_paths.h"
#include "platform/sim/world.h"
#include "tools/common/suggest.h"
#include "tools/common/world_process.h"
#include "tools/ctl/command.h"

namespace vl::ctl {

namespace {

const char* kHelp =
    "usage: velmora-ctl uninstall [--dry-run] [--json] [--world DIR | --systemd] [--yes]\n\n"
    "Removes Velmora as the settings window's \"Uninstall...\" button does:\n"
    "  - the pane Velmora.prefPane from the user's PreferencePanes folder and, with an\n"
    "    administrator's password, the copy installed for all users\n"
    "  - the running agent, its launch agent (unit or autostart entry) and old login item\n"
    "  - the settings folder \"Drovana & Velmora\" with the store, unless Drovana is installed:\n"
    "    then the shared store stays and only Velmora's selected device is cleared in it\n"
    "  - the older settings folder \"Velmora\", the pane's saved window frames and update\n"
    "    choices (and the share-settings consent without Drovana), the agent's user defaults\n"
    "Nothing is removed when a settings folder resolves outside the user's data folder.\n\n"
    "Options:\n"
    "  --dry-run     list what would be removed; change nothing\n"
    "  --json        the list as one JSON object\n"
    "  --yes         do not ask for confirmation (needed when standard input is no terminal)\n"
    "  --world DIR   the simulated Mac (default: $VELMORA_WORLD, else\n"
    "                $XDG_DATA_HOME/velmora/world)\n"
    "  --systemd     this Linux session: systemd user manager, XDG folders, pkexec\n\n"
    "The copy for all users is removed first, under one administrator prompt; cancelled or\n"
    "denied, nothing is removed. A step that fails does not stop the others: each item that\n"
    "could not be removed is named with the reason, and a second run finishes what is left.\n\n"
    "Exit status: 0 when removed (or listed), 1 when refused, cancelled or not complete, 2 for\n"
    "usage errors.\n";

// The ports of this Linux session itself.
struct SessionPorts {
  std::optional<linux_::XdgPaths> paths;
  std::unique_ptr<linux_::FileUserDefaults> defaults;
  std::unique_ptr<linux_::SystemdServiceManager> manager;
  std::unique_ptr<linux_::PkexecAdminPrompt> prompt;
  linux_::XattrFileAttributes attributes;
};

class CtlHooks : public UninstallHooks {
 public:
  CtlHooks(const Platform& p, ErrorStack& errors, bool systemd) : p_(p), errors_(errors), systemd_(systemd) {}
  void terminateAgent() override {
    if (p_.workspace) QS812terminateApp(p_.workspace, p_.sleeper, velmora::kAgentBundleID);
    if (systemd_ && p_.serviceManager)
      p_.serviceManager->stop(velmora::kAgentBundleID).ignore("stopping a unit that is not running fails, and that is fine here");
  }
  int32_t clearSharedSelection(ErrorInfo* error) override {
    bool exists = false;
    auto file = storeFilePath(p_, errors_, &exists);
    if (!file || !exists) return 0;  // no store: nothing of ours in it
    StoreContextRef ctx;
    if (int32_t r = openStoreContext(p_, errors_, nullptr, false, &ctx, error, recordSettings())) return r;
    UserInfoRecord* info = fetchUserInfo(errors_, ctx.get());
    if (!info) return 0;
    info->setVlDeviceSelectedIndex(std::nullopt);
    return saveStoreContext(ctx.get(), error);
  }
  void fatal(int32_t code, int64_t site, const ErrorInfo* error) override {
    std::string text;
    if (error && error->userInfo.count(kDescriptionKey))
      if (const std::string* s = error->userInfo.at(kDescriptionKey).asString()) text = *s;
    message = "stopped at site " + std::to_string(site) + " (" + std::to_string(code) + ")" + (text.empty() ? "" : ": " + text);
  }
  std::string message;

 private:
  const Platform& p_;
  ErrorStack& errors_;
  bool systemd_;
};

void printItems(const UninstallPlan& plan, bool json, bool dryRun, const std::string& outcome,
                const std::vector<UninstallFailure>& failures) {
  auto items = plan.items();
  auto failureOf = [&](const UninstallItem& i) -> const UninstallFailure* {
    for (const auto& f : failures)
      if (f.item.kind == i.kind && f.item.target == i.target) return &f;
    return nullptr;
  };
  if (json) {
    std::cout << "{\"dryRun\":" << (dryRun ? "true" : "false") << ",\"drovanaInstalled\":" << (plan.drovanaInstalled ? "true" : "false")
              << ",\"refused\":" << (plan.refused.empty() ? "null" : jsonString(plan.refused))
              << ",\"outcome\":" << jsonString(outcome) << ",\"items\":[";
    for (size_t i = 0; i < items.size(); ++i) {
      const UninstallFailure* f = failureOf(items[i]);
      std::cout << (i ? "," : "") << "{\"kind\":" << jsonString(items[i].kind) << ",\"target\":" << jsonString(items[i].target)
                << ",\"privileged\":" << (items[i].privileged ? "true" : "false")
                << ",\"notRemoved\":" << (f ? jsonString(f->reason) : std::string("null")) << "}";
    }
    std::cout << "]}\n";
    return;
  }
  if (!plan.refused.empty()) std::cout << "refused: " << plan.refused << "\n";
  std::cout << (dryRun ? "would remove:" : outcome == "removed" || outcome == "incomplete" ? "removed:" : "to remove:") << "\n";
  for (const auto& i : items) {
    const UninstallFailure* f = failureOf(i);
    std::cout << "  " << i.kind << ": " << i.target << (i.privileged ? " (with administrator rights)" : "")
              << (f ? " -- NOT removed: " + f->reason : std::string()) << "\n";
  }
  if (plan.drovanaInstalled) std::cout << "kept: the store shared with Drovana\n";
}

int run(const Args& in) {
  ErrorStack errors;  // this run's failures
  Args args = in;
  for (const auto& a : args)
    if (isHelp(a)) {
      std::cout << kHelp;
      return kExitOk;
    }
  std::string error, worldOption;
  bool haveWorld = takeOption(args, "--world", &worldOption, &error);
  if (!error.empty()) return usageError("uninstall", error);
  bool systemd = takeFlag(args, "--systemd");
  bool dryRun = takeFlag(args, "--dry-run");
  bool json = takeFlag(args, "--json");
  bool yes = takeFlag(args, "--yes");
  if (!args.empty()) {
    std::vector<std::string> known = {"--dry-run", "--json", "--yes", "--world", "--systemd", "--help"};
    return usageError("uninstall", "unexpected argument '" + args[0] + "'" + cli::didYouMean(args[0], known));
  }
  if (haveWorld && systemd) return usageError("uninstall", "--world and --systemd name two systems; give one");

  auto created = linux_::SdEventRunLoop::create();
  if (!created) return failure(created.status().detail());
  std::unique_ptr<linux_::SdEventRunLoop> loop = std::move(created).value();
  std::unique_ptr<cli::WorldProcess> world;
  SessionPorts session;
  Platform p;
  if (systemd) {
    auto paths = linux_::XdgPaths::create(linux_::XdgEnvironment::fromProcess(), VELMORA_SOURCE_RESOURCES);
    if (!paths) return failure(paths.status().detail());
    session.paths = std::move(paths).value();
    session.defaults = std::make_unique<linux_::FileUserDefaults>(session.paths->preferences());
    session.manager = std::make_unique<linux_::SystemdServiceManager>(linux_::SystemdOptions::fromProcess());
    session.prompt = std::make_unique<linux_::PkexecAdminPrompt>();
    p.runLoop = loop.get();
    p.paths = &*session.paths;
    p.defaults = session.defaults.get();
    p.serviceManager = session.manager.get();
    p.adminPrompt = session.prompt.get();
    p.fileAttributes = &session.attributes;
  } else {
    cli::WorldProcessOptions wo;
    wo.folder = sim::worldFolderFor(worldOption);
    wo.resources = VELMORA_SOURCE_RESOURCES;
    wo.processName = "velmora-ctl";
    wo.self.bundleIdentifier = "quillon.Velmora.ctl";
    wo.self.localizedName = "velmora-ctl";
    wo.self.processIdentifier = static_cast<int32_t>(::getpid());
    auto opened = cli::WorldProcess::open(*loop, wo);
    if (!opened) return failure(opened.status().detail());
    world = std::move(opened).value();
    p = world->platform();
  }

  UninstallPlan plan = planUninstall(p);
  if (dryRun) {
    printItems(plan, json, true, plan.refused.empty() ? "dry run" : "refused", {});
    return plan.refused.empty() ? kExitOk : kExitFailure;
  }
  if (!plan.refused.empty()) {
    printItems(plan, json, false, "refused", {});
    return failure("nothing was removed: " + plan.refused);
  }
  if (!yes) {
    if (!::isatty(STDIN_FILENO)) return usageError("uninstall", "standard input is no terminal: confirm with --yes");
    printItems(plan, false, false, "", {});
    std::cout << "Are you sure you want to uninstall Velmora? [y/N] " << std::flush;
    std::string answer;
    std::getline(std::cin, answer);
    if (answer != "y" && answer != "Y" && answer != "yes") {
      std::cout << "nothing was removed\n";
      return kExitFailure;
    }
  }
  CtlHooks hooks(p, errors, systemd);
  std::vector<UninstallFailure> failures;
  // The copy for all users goes first, under the one administrator prompt: cancelled or
  // denied, nothing at all is removed.
  int32_t r = runUninstall(p, errors, plan, "velmora-ctl is going to remove Velmora's copy for all users.", hooks, &failures);
  errors.clear();
  if (r == kAdminCancelled || r == kAdminDenied) {
    printItems(plan, json, false, r == kAdminCancelled ? "cancelled" : "denied", {});
    return failure(std::string("the administrator prompt was ") + (r == kAdminCancelled ? "cancelled" : "denied") +
                   "; nothing was removed");
  }
  if (r != 0 && failures.empty()) {
    printItems(plan, json, false, "failed", {});
    return failure("the uninstall " + (hooks.message.empty() ? "failed (" + std::to_string(r) + ")" : hooks.message));
  }
  if (!failures.empty()) {
    // Everything else is gone; each item left is named with its reason, and a second run
    // finishes what can be finished then.
    printItems(plan, json, false, "incomplete", failures);
    for (const auto& f : failures)
      std::cerr << "velmora-ctl: could not remove the " << f.item.kind << " " << f.item.target << ": " << f.reason << "\n";
    std::cerr << "velmora-ctl: the uninstall is not complete; run it again once the reasons above are dealt with\n";
    return kExitFailure;
  }
  printItems(plan, json, false, "removed", {});
  return kExitOk;
}

}  // namespace

CommandGroup uninstallCommand() {
  return {"uninstall", "remove Velmora as the settings window's Uninstall button does", kHelp, run};
}

}  // namespace vl::ctl
