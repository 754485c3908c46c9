// velmora-manager: Velmora Manager, the background agent, on the real machine's pointing
// devices or on the shared simulated Mac (the world folder), with a real run loop and the
// session bus for the pane's commands.
#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "agent/app_controller.h"
#include "agent/snapping/snapping_controller.h"
#include "core/system/alerts.h"
#include "core/system/drovana.h"
#include "pane/curves/default_curves.h"
#include "platform/linux/console_alerts.h"
#include "platform/linux/sd_event_runloop.h"
#include "platform/sim/world.h"
#include "tools/common/bundle_resources.h"
#include "tools/common/desktop_process.h"
#include "tools/common/system_choice.h"
#include "tools/common/world_process.h"
#include "tools/common/service_url.h"

namespace {

const char* kHelp =
    "usage: velmora-manager [--system desktop|world] [--world DIR] [--resources DIR] [--quiet]\n\n"
    "Velmora Manager, the background agent: applies each pointing device's chosen favourite\n"
    "speed whenever the device appears, after login, at unlock, after a display change and\n"
    "after a system-speed change, obeys the settings pane's commands, and gives every device\n"
    "the system speed back when it quits (SIGTERM, SIGINT or SIGHUP). Each device's own speed\n"
    "is kept in the world (agent/restore-values.plist) while it carries a favourite, so that\n"
    "after a crash the next run gives it back.\n\n"
    "  --system desktop  the real machine's mice and trackpads (the default without --world\n"
    "                    or $VELMORA_WORLD)\n"
    "  --system world    the simulated Mac of --world DIR, else $VELMORA_WORLD, else\n"
    "                    $XDG_DATA_HOME/velmora/world; create one with 'velmora-sim init'\n"
    "  --world DIR       run on that simulated Mac\n"
    "  --resources DIR   strings tables and device definitions (default: the Resources of the\n"
    "                    bundle it runs from, else the source tree's)\n"
    "  --quiet           do not print what is applied and restored\n"
    "  --help, --version (which also says which system it would run on)\n\n"
    "One agent runs per simulated Mac: a second one on the same world says which process holds\n"
    "the world's lock and ends with status 1, touching no device.\n\n"
    "Exit status: 0 after a normal quit, 1 when it cannot start, 2 for usage errors,\n"
    "70 after a fatal error (the alert is printed on standard error).\n";

constexpr int kExitCannotStart = 1;

// This process as the workspace lists it; its bundle when the executable lies in one
// (<bundle>.app/Contents/MacOS/<name>).
// argv0 as the service manager gave it (the bundle's own path when it names a link there).
vl::RunningApplication agentApplication(const char* argv0) {
  vl::RunningApplication app;
  app.bundleIdentifier = vl::velmora::kAgentBundleID;
  app.localizedName = vl::velmora::kAgentName;
  if (argv0 && argv0[0] == '/') {
    app.executableURL = argv0;
  } else {
    char buf[4096];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n > 0) app.executableURL.assign(buf, static_cast<size_t>(n));
  }
  auto macos = app.executableURL.rfind("/Contents/MacOS/");
  if (macos != std::string::npos) app.bundleURL = app.executableURL.substr(0, macos);
  return app;
}

std::string timestamp() {
  char buf[32];
  std::time_t t = std::time(nullptr);
  std::strftime(buf, sizeof buf, "%H:%M:%S", std::localtime(&t));
  return buf;
}

// The agent on the real machine: the same controller over the Linux adapters.
int runOnDesktop(vl::linux_::SdEventRunLoop& loop, const vl::cli::SystemChoice& choice, const std::string& resources,
                 bool quiet) {
  using namespace vl;
  auto say = [quiet](const std::string& line) {
    if (!quiet) std::cout << timestamp() << "  " << line << std::endl;
  };
  cli::DesktopProcessOptions options;
  options.resources = resources;
  // The session's writer (its choice logged here) and desktop adapters; the writer first gives
  // back what a run that ended abnormally left on the devices.
  cli::DesktopSlotOptions slotOptions;
  slotOptions.restoreFile = true;
  slotOptions.sessionPorts = true;
  slotOptions.loop = &loop;
  // Said after the first line, which names the system.
  std::vector<std::string> early;
  bool started = false;
  slotOptions.log = [&](const std::string& line) {
    if (started) say(line);
    else early.push_back(line);
  };
  options.slots = cli::defaultDesktopSlots(slotOptions);
  if (const char* url = std::getenv(cli::kServiceURLEnvironment)) options.serviceURL = url;
  // Device messages (a receiver this user may not open, a speed no writer takes) are the
  // user's business even with --quiet.
  options.report = [](const std::string& line) { std::cerr << timestamp() << "  " << line << std::endl; };
  auto opened = cli::DesktopProcess::open(loop, std::move(options));
  if (!opened) {
    std::cerr << "velmora-manager: cannot reach this machine's devices: " << opened.status().detail() << "\n";
    return kExitCannotStart;
  }
  std::unique_ptr<cli::DesktopProcess> process = std::move(opened).value();
  if (!process->bus())
    std::cerr << "velmora-manager: cannot reach the session bus (" << process->busError()
              << "); the settings pane's commands will not arrive\n";

  AgentSettings settings;
  settings.bundle.resourcesDir = resources;
  std::string folder = process->dataFolder() + "/agent";
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) {
    std::cerr << "velmora-manager: cannot make " << folder << ": " << ec.message() << "\n";
    return kExitCannotStart;
  }
  settings.restoreValuesPath = folder + "/restore-values.plist";
  settings.instanceLockPath = folder + "/agent.lock";
  settings.sharingSaltPath = folder + "/sharing-salt";
  if (const pl::Data* table = defaultAcclTable()) settings.defaultAcclTable = pl::Value(*table);
  if (const pl::Value* curves = defaultAcclCurves()) settings.defaultAcclCurves = *curves;
  // This program's error stack and identity, handed to everything that reports a failure.
  ErrorStack errorStack;
  const ProcessIdentity identity{ProcessRole::Agent, settings.bundle, {}};
  const ErrorContext errors{errorStack, identity};
  // What a killed run left on the devices goes back before any device is announced, unless
  // another agent of this user runs: those settings are then its own (this one stops below).
  process->giveLeftoversBack(settings.instanceLockPath);
  std::optional<AppControllerClass> controller;
  // The agent's quit writes what it knows as the system speed; the writers hold each device's
  // own desktop setting and give exactly that back.
  auto quit = [&] {
    controller->applicationWillTerminate();
    if (Status st = process->giveSpeedsBack(); !st.ok())
      std::cerr << timestamp() << "  a device's own speed could not be given back: " << st.detail() << std::endl;
  };
  linux_::ConsoleAlerts alerts(stderr, velmora::kAgentName);
  linux_::ProcessLifecycle lifecycle(
      [&](int) {
        if (!controller) return;
        if (controller->startRefused()) std::exit(kExitCannotStart);
        quit();
      },
      [](const std::string&) {});
  Platform platform = process->platform();
  platform.alerts = &alerts;
  platform.lifecycle = &lifecycle;
  say("Velmora Manager " + settings.bundle.version + " on this machine (" + cli::systemLine(choice) + "), " +
      std::to_string(process->machine().devices().size()) + " pointing device(s) seen by udev");
  started = true;
  for (const auto& line : early) say(line);
  for (const auto& note : process->notes()) say(note);

  controller.emplace(platform, errors, settings);
  // Snapping follows application activation and publishes its accessibility flag through the
  // desktop port; where the pointer cannot be moved (Wayland, no display) it stays off, and the
  // notes above said why once.
  if (platform.desktop && platform.cursor)
    controller->setSnappingHooks(std::make_unique<SnappingController>(
        SnappingController::Ports::from(platform), errors, [&controller] { return controller->managedObjectContext(); }));
  if (!quiet) controller->setActivityLog([](const std::string& line) { std::cout << timestamp() << "  " << line << std::endl; });
  controller->setStartRefusedSink([](const std::string& line) { std::cerr << "velmora-manager: " << line << std::endl; });
  if (Status routed = loop.handleTerminationSignals([&](int sig) {
        say(std::string(strsignal(sig)) + ": quitting");
        quit();
        loop.stop(0);
      });
      !routed) {
    std::cerr << "velmora-manager: " << routed.detail() << "\n";
    return 1;
  }
  loop.addEndOfPassObserver([] { malloc_trim(0); });
  controller->applicationWillFinishLaunching();
  controller->applicationDidFinishLaunching();
  // After the agent's own session observers: its logout restore comes first.
  if (controller->launched()) process->giveSpeedsBackAtSessionEnd();
  int status = loop.run();
  controller.reset();
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace vl;
  std::string worldOption, systemOption, resources = cli::bundledResourcesOr(VELMORA_SOURCE_RESOURCES);
  bool quiet = false, worldGiven = false, version = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::cout << kHelp;
      return 0;
    }
    if (a == "--version") {
      version = true;
      continue;
    }
    if ((a == "--world" || a == "--resources" || a == "--system") && i + 1 < argc) {
      (a == "--world" ? worldOption : a == "--system" ? systemOption : resources) = argv[++i];
      worldGiven = worldGiven || a == "--world";
    } else if (a.rfind("--world=", 0) == 0) {
      worldOption = a.substr(8);
      worldGiven = true;
    } else if (a.rfind("--system=", 0) == 0) {
      systemOption = a.substr(9);
    } else if (a == "--quiet") {
      quiet = true;
    } else {
      std::cerr << "velmora-manager: unexpected argument '" << a << "'\nTry 'velmora-manager --help'.\n";
      return 2;
    }
  }

  auto choice = cli::chooseSystem(systemOption, worldGiven, std::getenv("VELMORA_WORLD"));
  if (!choice) {
    std::cerr << "velmora-manager: " << choice.status().detail() << "\nTry 'velmora-manager --help'.\n";
    return 2;
  }
  if (version) {
    std::cout << "velmora-manager " << VELMORA_VERSION_TEXT << "\n" << cli::systemLine(*choice) << "\n";
    return 0;
  }

  auto created = linux_::SdEventRunLoop::create();
  if (!created) {
    std::cerr << "velmora-manager: cannot create the run loop: " << created.status().detail() << "\n";
    return 1;
  }
  std::unique_ptr<linux_::SdEventRunLoop> loop = std::move(created).value();
  if (choice->system == cli::System::Desktop) return runOnDesktop(*loop, *choice, resources, quiet);
  std::string folder = sim::worldFolderFor(worldOption);
  cli::WorldProcessOptions worldOptions;
  worldOptions.folder = folder;
  worldOptions.resources = resources;
  worldOptions.processName = velmora::kAgentName;
  worldOptions.self.bundleIdentifier = velmora::kAgentBundleID;
  worldOptions.self.localizedName = velmora::kAgentName;
  worldOptions.bus = cli::WorldProcessOptions::Bus::Session;
  if (const char* url = std::getenv(cli::kServiceURLEnvironment)) worldOptions.serviceURL = url;
  auto opened = cli::WorldProcess::open(*loop, worldOptions);
  if (!opened) {
    std::cerr << "velmora-manager: " << opened.status().detail() << "\n";
    return kExitCannotStart;
  }
  std::unique_ptr<cli::WorldProcess> process = std::move(opened).value();
  sim::World* world = &process->world();
  auto* bus = process->bus();
  if (!bus) {
    std::cerr << "velmora-manager: cannot reach the session bus (" << process->busError()
              << "); the settings pane's commands will not arrive\n";
  }

  AgentSettings settings;
  settings.bundle.resourcesDir = resources;
  // The devices' own speeds belong to this simulated Mac, so they are kept with it.
  settings.restoreValuesPath = world->folder() + "/agent/restore-values.plist";
  // One agent per simulated Mac: agents on other worlds of this user do not stop this one.
  settings.instanceLockPath = sim::World::agentLockPath(folder);
  // So is the salt of the machine identifier its uploads carry.
  settings.sharingSaltPath = world->folder() + "/agent/sharing-salt";
  // A device whose service carries no acceleration data shows the model's defaults.
  if (const pl::Data* table = defaultAcclTable()) settings.defaultAcclTable = pl::Value(*table);
  if (const pl::Value* curves = defaultAcclCurves()) settings.defaultAcclCurves = *curves;
  // This program's error stack and identity, handed to everything that reports a failure.
  ErrorStack errorStack;
  const ProcessIdentity identity{ProcessRole::Agent, settings.bundle, {}};
  const ErrorContext errors{errorStack, identity};
  // Made once its platform is complete; the lifecycle below already needs to reach it.
  std::optional<AppControllerClass> controller;

  linux_::ConsoleAlerts alerts(stderr, velmora::kAgentName);
  // A fatal end or a quit runs the shutdown sequence, which gives every device the system
  // speed back, before the process exits.
  linux_::ProcessLifecycle lifecycle(
      [&](int) {
        if (!controller) return;
        // A refused start touched nothing: no shutdown sequence, and the status of a program
        // that cannot start.
        if (controller->startRefused()) std::exit(kExitCannotStart);
        controller->applicationWillTerminate();
      },
                                     [&](const std::string& id) {
                                       if (Status ended = world->terminateApplication(id); !ended)
                                         std::cerr << "velmora-manager: cannot end " << id << ": " << ended.detail() << "\n";
                                     });
  // User defaults live in the world, so the published accessibility flag reaches the pane; the
  // crash report is a file of this machine, which the desktop's own file manager shows.
  Platform platform = process->platform();
  platform.alerts = &alerts;
  platform.lifecycle = &lifecycle;

  controller.emplace(platform, errors, settings);
  controller->setSnappingHooks(std::make_unique<SnappingController>(
      SnappingController::Ports::from(platform), errors, [&controller] { return controller->managedObjectContext(); }));
  if (!quiet) {
    controller->setActivityLog([](const std::string& line) {
      std::cout << timestamp() << "  " << line << std::endl;
    });
  }
  controller->setStartRefusedSink([](const std::string& line) { std::cerr << "velmora-manager: " << line << std::endl; });

  process->follow([](const std::string& e) { std::cerr << "velmora-manager: " << e << "\n"; });
  if (Status routed = loop->handleTerminationSignals([&](int sig) {
        if (!quiet) std::cout << timestamp() << "  " << strsignal(sig) << ": quitting" << std::endl;
        controller->applicationWillTerminate();
        loop->stop(0);
      });
      !routed) {
    std::cerr << "velmora-manager: " << routed.detail() << "\n";
    return 1;
  }

  // Work comes in short bursts (a device, a command) between long idle times: give the memory
  // a burst freed back to the system instead of keeping it for the next one.
  loop->addEndOfPassObserver([] { malloc_trim(0); });

  if (!quiet)
    std::cout << timestamp() << "  Velmora Manager " << settings.bundle.version << " on " << folder << " ("
              << cli::systemLine(*choice) << ": a simulated Mac)" << std::endl;
  controller->applicationWillFinishLaunching();
  controller->applicationDidFinishLaunching();
  // The programs of another terminal find the agent's bus in the world, whatever their own
  // environment says.
  if (bus && controller->launched()) {
    std::string address = bus->address();
    if (!address.empty()) {
      if (Status recorded = sim::World::recordAgentBus(folder, address); !recorded)
        std::cerr << "velmora-manager: cannot record the bus address in the world: " << recorded.detail() << "\n";
    }
  }
  // The workspace of every process on the world lists the agent, so that the settings window
  // can tell how old it is and ask it to quit.
  bool recorded = false;
  if (controller->launched()) {
    Result<int32_t> record = world->recordHostProcess(agentApplication(argv[0]));
    recorded = record.ok();
    if (!recorded)
      std::cerr << "velmora-manager: cannot record the agent in the world's applications: " << record.status().detail()
                << "\n";
  }
  int status = loop->run();
  if (recorded) {
    if (Status ended = world->terminateProcess(static_cast<int32_t>(::getpid())); !ended)
      std::cerr << "velmora-manager: cannot remove the agent from the world's applications: " << ended.detail() << "\n";
  }
  // The controller goes before the ports declared after it (alerts, lifecycle, defaults).
  controller.reset();
  return status;
}
