// velmora-ctl agent install|start|stop|status|uninstall: registers, starts, stops, reports and
// removes the agent as a launch agent, through the same functions the settings pane uses, on a
// simulated Mac (its folder keeps the registrations) or the user's systemd manager.
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <optional>
#include <thread>

#include "core/errors/error_stack.h"
#include "core/system/drovana.h"
#include "core/system/launch_agent.h"
#include "platform/api/paths.h"
#include "platform/api/service_manager.h"
#include "platform/linux/systemd_service_manager.h"
#include "platform/sim/world.h"
#include "platform/sim/world_service_manager.h"
#include "tools/common/suggest.h"
#include "tools/ctl/agent_service.h"

namespace vl::ctl {

namespace fs = std::filesystem;

const char* kAgentServiceHelp =
    "usage: velmora-ctl agent install [--bundle PATH] [--world DIR | --systemd]\n"
    "       velmora-ctl agent start|stop|uninstall [--world DIR | --systemd]\n"
    "       velmora-ctl agent status [--json] [--world DIR | --systemd]\n\n"
    "Runs Velmora Manager as a launch agent, as the settings window does:\n"
    "  install     removes the old login item \"Velmora Manager\", registers the agent bundle\n"
    "              (its property list quillon.Velmora.boa.plist), loads and starts it; when the\n"
    "              LaunchAgents folder refuses the write, asks for an administrator to repair it\n"
    "              and tries once more\n"
    "  start       starts the registered agent now\n"
    "  stop        asks the running agent to quit (it stays registered)\n"
    "  status      whether the agent is registered, loaded and running (with its process id)\n"
    "  uninstall   unloads the agent and removes its property list\n\n"
    "Options:\n"
    "  --bundle PATH   the agent bundle (Velmora Manager.app); default: the one in Velmora.prefPane\n"
    "                  beside the programs\n"
    "  --world DIR     the simulated Mac whose service manager runs the agent (default:\n"
    "                  $VELMORA_WORLD, else $XDG_DATA_HOME/velmora/world)\n"
    "  --systemd       this Linux session's systemd user manager instead (an autostart entry and a\n"
    "                  direct start where none answers)\n"
    "  --json          status as one JSON object\n\n"
    "Exit status: 0 on success, 1 when the agent could not be registered or started, 2 for\n"
    "usage errors.\n";

namespace {

const std::vector<std::string> kSubcommands = {"install", "start", "stop", "status", "uninstall"};

std::string executableFolder() {
  char buf[4096];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  return fs::path(std::string(buf, static_cast<size_t>(n))).parent_path().string();
}

// The agent inside the pane bundle the build made beside the programs.
std::optional<std::string> defaultBundle() {
  std::string dir = executableFolder();
  if (dir.empty()) return std::nullopt;
  std::string inner = std::string(velmora::kPaneFileName) + "/Contents/Library/LoginItems/" + velmora::kAgentName + ".app";
  for (const std::string& base : {dir, fs::path(dir).parent_path().string()}) {
    std::error_code ec;
    if (fs::is_directory(base + "/" + inner, ec)) return base + "/" + inner;
  }
  return std::nullopt;
}

std::string describe(const ErrorInfo& e) {
  const pl::Value* d = e.userInfo.count(kDescriptionKey) ? &e.userInfo.at(kDescriptionKey) : nullptr;
  std::string text = d && d->asString() ? *d->asString() : "";
  return e.domain + " " + std::to_string(e.code) + (text.empty() ? "" : ": " + text);
}

struct Target {
  std::unique_ptr<ServiceManager> manager;
  std::unique_ptr<AdminPrompt> prompt;
  std::string where;  // for messages
};

int install(const Platform& p, const std::string& bundle, const std::string& where) {
  ErrorStack errors;  // this run's failures
  std::string label = velmora::kAgentBundleID;
  if (!QS812isExecutableFileAtURL(bundle)) return failure(bundle + " is no application bundle");
  // The agent's former way of starting would start a second one at login.
  QS812removeFileFromLoginItems(p, velmora::kAgentName);
  ErrorInfo error;
  int32_t code = QS812registerLaunchAgent(p, bundle, &error);
  if (code == kLaunchAgentNotWritten && error.domain == kCocoaErrorDomain && error.code == kFileWriteNoPermissionError) {
    std::cerr << "velmora-ctl: the LaunchAgents folder refuses the agent's property list; asking for an administrator\n";
    AdminResult repair = QS812fixPermissionOfLaunchAgent(p, "velmora-ctl", "Velmora");
    if (!repair.accepted()) std::cerr << "velmora-ctl: the repair did not happen: " << repair.text << "\n";
    // The permission change takes a moment to be seen by everyone.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    error = {};
    code = QS812registerLaunchAgent(p, bundle, &error);
  }
  if (code != 0) {
    QS810stackError(errors, nullptr, code);
    std::string entries;
    for (const auto& e : errorStackEntries(errors)) entries += " " + e;
    errors.clear();
    return failure("cannot register the agent (" + std::to_string(code) + ")" +
                   (error.domain.empty() ? "" : ": " + describe(error)) + "; error stack:" + entries);
  }
  if (!QS812isLaunchAgentLoaded(p, label)) {
    if (!QS812homeVolumeOwnerShip(p))
      return failure("the agent did not load: the volume of the home folder ignores ownership");
    auto why = QS812errorMsgLaunchAgent(p, label);
    return failure("the agent did not load" + (why ? ": " + describe(*why) : std::string()));
  }
  if (QS812startLaunchAgentForBundleID(p, errors, label) != 0) {
    errors.clear();
    return failure("the agent is loaded but did not start");
  }
  std::cout << "registered and started " << label << " (" << bundle << ") on " << where << "\n";
  return kExitOk;
}

int status(const Platform& p, bool json, const std::string& where) {
  ServiceStatus s = p.serviceManager->status(velmora::kAgentBundleID);
  ErrorInfo ignored;
  std::string plist = QS812launchAgentURL(p, velmora::kAgentBundleID, &ignored).value_or("");
  if (json) {
    std::cout << "{\"label\":" << cli::jsonString(velmora::kAgentBundleID) << ",\"serviceManager\":" << cli::jsonString(where)
              << ",\"propertyList\":" << cli::jsonString(plist) << ",\"registered\":" << (s.registered ? "true" : "false")
              << ",\"loaded\":" << (s.loaded ? "true" : "false") << ",\"running\":" << (s.pid ? "true" : "false")
              << ",\"pid\":" << (s.pid ? std::to_string(*s.pid) : "null") << ",\"detail\":" << cli::jsonString(s.detail)
              << "}\n";
    return kExitOk;
  }
  std::cout << "label:           " << velmora::kAgentBundleID << "\n"
            << "service manager: " << where << "\n"
            << "property list:   " << plist << "\n"
            << "registered:      " << (s.registered ? "yes" : "no") << "\n"
            << "loaded:          " << (s.loaded ? "yes" : "no") << "\n"
            << "running:         " << (s.pid ? "yes, pid " + std::to_string(*s.pid) : std::string("no")) << "\n"
            << "detail:          " << s.detail << "\n";
  return kExitOk;
}

}  // namespace

bool isAgentServiceCommand(const std::string& sub) {
  return std::find(kSubcommands.begin(), kSubcommands.end(), sub) != kSubcommands.end();
}

int runAgentService(const std::string& sub, Args args) {
  ErrorStack errors;  // this run's failures
  for (const auto& a : args)
    if (isHelp(a)) {
      std::cout << kAgentServiceHelp;
      return kExitOk;
    }
  std::string error, worldOption, bundleOption;
  bool haveWorld = takeOption(args, "--world", &worldOption, &error);
  if (!error.empty()) return usageError("agent", error);
  bool haveBundle = takeOption(args, "--bundle", &bundleOption, &error);
  if (!error.empty()) return usageError("agent", error);
  bool systemd = takeFlag(args, "--systemd");
  bool json = takeFlag(args, "--json");
  if (!args.empty()) {
    std::vector<std::string> known = {"--world", "--systemd", "--json", "--bundle", "--help"};
    return usageError("agent", "unexpected argument '" + args[0] + "'" + cli::didYouMean(args[0], known));
  }
  if (haveWorld && systemd) return usageError("agent", "--world and --systemd name two service managers; give one");
  if (haveBundle && sub != "install" && sub != "uninstall")
    return usageError("agent", "agent " + sub + " does not use --bundle (install and uninstall do)");
  if (json && sub != "status") return usageError("agent", "agent " + sub + " does not use --json (status does)");

  Target t;
  if (systemd) {
    t.manager = std::make_unique<linux_::SystemdServiceManager>(linux_::SystemdOptions::fromProcess());
    t.prompt = std::make_unique<linux_::PkexecAdminPrompt>();
    t.where = "the systemd user manager";
  } else {
    std::string folder = sim::worldFolderFor(worldOption);
    if (!sim::World::exists(folder))
      return failure("no simulated Mac at " + folder + "\nCreate one with 'velmora-sim init', or use --systemd.");
    t.manager = std::make_unique<sim::WorldServiceManager>(folder);
    t.prompt = std::make_unique<sim::WorldAdminPrompt>(folder);
    t.where = "the simulated Mac in " + folder;
  }
  const char* home = std::getenv("HOME");
  RootedPaths paths(home ? home : "/", VELMORA_SOURCE_RESOURCES);
  Platform p;
  p.serviceManager = t.manager.get();
  p.adminPrompt = t.prompt.get();
  p.paths = &paths;

  std::string bundle = bundleOption;
  if (!haveBundle && (sub == "install" || sub == "uninstall")) {
    auto found = defaultBundle();
    if (!found && sub == "install")
      return usageError("agent", "no " + std::string(velmora::kPaneFileName) + " beside the programs; name the agent bundle with --bundle PATH");
    bundle = found.value_or("");
  }
  std::string label = velmora::kAgentBundleID;
  if (sub == "install") return install(p, bundle, t.where);
  if (sub == "status") return status(p, json, t.where);
  if (sub == "start") {
    if (!QS812isLaunchAgentLoaded(p, label) && !p.serviceManager->status(label).registered)
      return failure("the agent is not registered; run 'velmora-ctl agent install' first");
    if (QS812startLaunchAgentForBundleID(p, errors, label) != 0) {
      auto entries = errorStackEntries(errors);
      errors.clear();
      auto why = QS812errorMsgLaunchAgent(p, label);
      return failure("the agent did not start (" + (entries.empty() ? std::string("?") : entries.front()) + ")" +
                     (why ? ": " + describe(*why) : std::string()));
    }
    std::cout << "started " << label << "\n";
    return kExitOk;
  }
  if (sub == "stop") {
    if (!p.serviceManager->stop(label)) return failure("the agent is not loaded");
    std::cout << "stopped " << label << "\n";
    return kExitOk;
  }
  // uninstall: by the bundle when there is one, else by the label's property list.
  if (!bundle.empty() && QS812launchAgentURLWithURL(p, bundle, nullptr)) {
    QS812removeLaunchAgent(p, bundle);
  } else {
    ErrorInfo ignored;
    if (auto plist = QS812launchAgentURL(p, label, &ignored)) {
      p.serviceManager->bootout(*plist).ignore("the unload fails when no agent is loaded");
      p.serviceManager->removeFile(*plist).ignore("a file that cannot be removed is found again by the next removal");
    }
  }
  std::cout << "removed " << label << "\n";
  return kExitOk;
}

}  // namespace vl::ctl
