// velmora-ctl agent send: posts a pane-agent command to the running agent, as the settings
// pane or the sibling product would.
#include <iostream>
#include <map>
#include <set>
#include <vector>

#include "core/system/boa_notifications.h"
#include "core/system/drovana.h"
#include "platform/api/platform.h"
#include "platform/linux/dbus_notifications.h"
#include "platform/linux/sd_event_runloop.h"
#include "platform/sim/world.h"
#include "tools/common/agent_bus.h"
#include "tools/common/device_names.h"
#include "tools/common/suggest.h"
#include "tools/ctl/agent_service.h"
#include "tools/ctl/command.h"

namespace vl::ctl {
namespace {

const char* kHelp =
    "usage: velmora-ctl agent send COMMAND [OPTIONS]\n\n"
    "Posts a command under the notification name \"quillon.dvvl\" to the agent, on the bus that\n"
    "the running agent of the simulated Mac recorded in its world (else the session bus).\n"
    "COMMAND is a short name or the command's own text:\n"
    "  cursor-speed   \"Cursor Speed Cmd\"            apply the device's chosen favourite now\n"
    "  activate       \"Cursor Speed Activate Cmd\"   apply, or restore the system speed when the\n"
    "                                               device is turned off in the store\n"
    "  snapping       \"Auto Cursor Snapping Cmd\"    reload the snapping settings\n"
    "  ax-warning     \"Accessibility Warning Cmd\"   ask for the accessibility permission\n"
    "  upload         \"Upload Cursor Speed Cmd\"\n"
    "  launched       \"Application Launced Cmd\"     (--version, --build-date)\n\n"
    "Options:\n"
    "  --device DEVICE        the device, as 'velmora-ctl store show' names it (4c-269-0-Bluetooth),\n"
    "                         for cursor-speed and activate; or the four options below\n"
    "  --vid V --pid P --mid M --transport T   the device (numbers decimal or 0x hex)\n"
    "  --version V            a packed version number (e.g. 0x05318000), for launched\n"
    "  --build-date D         for launched\n"
    "  --receiver ID          the one agent that is to act (e.g. quillon.Velmora.boa)\n"
    "  --object SENDER        the sender's bundle identifier (default quillon.Velmora.prefpane)\n\n"
    "The agent reads a device's speed from the store, never from the command: save it first\n"
    "('velmora-ctl favourite set ... --notify' does both). An option the command does not use\n"
    "is refused, and so is an unknown command.\n\n"
    "  --raw   post COMMAND as it is written, with any of the options below as well:\n"
    "          --sensitivity S --tracking T --disable-accl yes|no --disabled yes|no\n"
    "          --application A --snapping S --jump yes|no --bounce yes|no\n";

struct KnownCommand {
  const char* alias;
  const char* text;
  std::set<std::string> options;  // besides --receiver and --object
};

const std::set<std::string> kDeviceOptions = {"--device", "--vid", "--pid", "--mid", "--transport"};

const std::vector<KnownCommand>& knownCommands() {
  static const std::vector<KnownCommand> list = {
      {"cursor-speed", cmd::kCursorSpeed, kDeviceOptions},
      {"activate", cmd::kCursorSpeedActivate, kDeviceOptions},
      {"snapping", cmd::kAutoCursorSnapping, {}},
      {"ax-warning", cmd::kAccessibilityWarning, {}},
      {"upload", cmd::kUploadCursorSpeed, {}},
      {"launched", cmd::kApplicationLaunched, {"--version", "--build-date"}},
  };
  return list;
}

bool parseYesNo(const std::string& text, bool* out) {
  if (text == "yes" || text == "true" || text == "1" || text == "on") return *out = true, true;
  if (text == "no" || text == "false" || text == "0" || text == "off") return *out = false, true;
  return false;
}

int send(Args args) {
  if (args.empty()) return usageError("agent", "agent send needs a COMMAND");
  const bool raw = takeFlag(args, "--raw");
  std::string command = args[0];
  args.erase(args.begin());
  const KnownCommand* known = nullptr;
  for (const auto& k : knownCommands())
    if (command == k.alias || command == k.text) known = &k;
  if (!known && !raw) {
    std::vector<std::string> names;
    std::string list;
    for (const auto& k : knownCommands()) {
      names.push_back(k.alias);
      list += std::string(list.empty() ? "" : ", ") + k.alias;
    }
    return usageError("agent", "unknown command '" + command + "'" + cli::didYouMean(command, names) +
                                   "\nKnown commands: " + list + " (or their texts, such as \"" + cmd::kCursorSpeed +
                                   "\"); --raw posts any name");
  }
  if (known) command = known->text;

  std::string error, value;
  pl::Dict info;
  std::set<std::string> given;
  std::string object = velmora::kPaneBundleID;
  // The device in one of the forms the tools print.
  if (takeOption(args, "--device", &value, &error)) {
    auto d = cli::parseDeviceName(value);
    if (!d) return usageError("agent", "'" + value + "' is not " + cli::kDeviceNameForms);
    info[key::kVID] = pl::Value::uint32(d->vid);
    info[key::kPID] = pl::Value::uint32(d->pid);
    info[key::kMID] = pl::Value::uint32(d->mid);
    info[key::kTransport] = d->transport;
    given.insert("--device");
  }
  if (!error.empty()) return usageError("agent", error);
  // Numbers.
  for (const auto& [option, key] : std::map<std::string, const char*>{
           {"--vid", key::kVID}, {"--pid", key::kPID}, {"--mid", key::kMID}, {"--version", key::kVersion}}) {
    if (takeOption(args, option, &value, &error)) {
      unsigned long long n = 0;
      if (!parseUnsigned(value, &n) || n > 0xFFFFFFFFull)
        return usageError("agent", option + " needs an unsigned 32-bit number, not '" + value + "'");
      info[key] = pl::Value::uint32(static_cast<uint32_t>(n));
      given.insert(option);
    }
    if (!error.empty()) return usageError("agent", error);
  }
  // Booleans.
  for (const auto& [option, key] : std::map<std::string, const char*>{{"--disable-accl", key::kDisableAccl},
                                                                       {"--disabled", key::kDisabled},
                                                                       {"--jump", key::kJump},
                                                                       {"--bounce", key::kBounce}}) {
    if (takeOption(args, option, &value, &error)) {
      bool b = false;
      if (!parseYesNo(value, &b)) return usageError("agent", option + " takes yes or no, not '" + value + "'");
      info[key] = b;
      given.insert(option);
    }
    if (!error.empty()) return usageError("agent", error);
  }
  // Strings.
  for (const auto& [option, key] : std::map<std::string, const char*>{{"--receiver", key::kReceiver},
                                                                       {"--transport", key::kTransport},
                                                                       {"--sensitivity", key::kSensitivity},
                                                                       {"--tracking", key::kTrackingSpeed},
                                                                       {"--application", key::kApplication},
                                                                       {"--snapping", key::kSnapping},
                                                                       {"--build-date", key::kBuildDate}}) {
    if (takeOption(args, option, &value, &error)) {
      info[key] = value;
      given.insert(option);
    }
    if (!error.empty()) return usageError("agent", error);
  }
  if (takeOption(args, "--object", &value, &error)) object = value;
  if (!error.empty()) return usageError("agent", error);
  if (!args.empty()) return usageError("agent", "unexpected argument '" + args[0] + "'");
  if (given.count("--device") && (given.count("--vid") || given.count("--pid") || given.count("--mid") ||
                                  given.count("--transport")))
    return usageError("agent", "name the device either with --device or with --vid/--pid/--mid/--transport");
  if (!raw) {
    given.erase("--receiver");
    for (const auto& option : given) {
      if (known->options.count(option)) continue;
      std::string why = option == "--sensitivity" || option == "--tracking" || option == "--disable-accl" ||
                                option == "--disabled"
                            ? " (the agent reads the device's settings from the store: change them with "
                              "'velmora-ctl favourite set ... --notify')"
                            : "";
      return usageError("agent", std::string(known->alias) + " does not use " + option + why +
                                     "; --raw posts it all the same");
    }
  }

  auto created = linux_::SdEventRunLoop::create();
  if (!created) return failure("cannot create a run loop: " + created.status().detail());
  std::unique_ptr<linux_::SdEventRunLoop> loop = std::move(created).value();
  auto connected = cli::connectAgentBus(*loop, sim::worldFolderFor(""));
  if (!connected) return failure("cannot reach the agent's bus: " + connected.status().detail());
  std::unique_ptr<linux_::DbusNotifications> bus = std::move(connected).value();
  Platform p;
  p.runLoop = loop.get();
  p.notifications = bus.get();
  if (!QS824postBOANotification(p.notifications, std::nullopt, command, std::nullopt, std::nullopt, std::nullopt, std::nullopt, object,
                                &info))
    return failure("cannot post the command: " + bus->lastError());
  bus->flush();
  std::cout << "posted \"" << command << "\"\n";
  return kExitOk;
}

int run(const Args& args) {
  if (args.empty()) return usageError("agent", "missing subcommand (send, install, start, stop, status, uninstall)");
  if (isAgentServiceCommand(args[0])) return runAgentService(args[0], Args(args.begin() + 1, args.end()));
  if (args[0] == "send") {
    if (args.size() > 1 && isHelp(args[1])) {
      std::cout << kHelp;
      return kExitOk;
    }
    return send(Args(args.begin() + 1, args.end()));
  }
  return usageError("agent", "unknown subcommand '" + args[0] + "'" +
                                 cli::didYouMean(args[0], {"send", "install", "start", "stop", "status", "uninstall"}));
}

}  // namespace

CommandGroup agentCommand() {
  return {"agent", "run the agent as a launch agent, post commands to it",
           std::string(kHelp) + "\n" + kAgentServiceHelp, run};
}

}  // namespace vl::ctl
