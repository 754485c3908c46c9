// velmora-ctl agent send: posts any pane-agent command on the session bus, as the settings
// pane or the sibling product would.
#include <iostream>
#include <map>

#include "core/system/boa_notifications.h"
#include "core/system/drovana.h"
#include "platform/api/platform.h"
#include "platform/linux/dbus_notifications.h"
#include "platform/linux/sd_event_runloop.h"
#include "tools/ctl/command.h"

namespace vl::ctl {
namespace {

const char* kHelp =
    "usage: velmora-ctl agent send COMMAND [OPTIONS]\n\n"
    "Posts a command under the notification name \"quillon.dvvl\" on the session bus.\n"
    "COMMAND is the command's own text or a short name:\n"
    "  cursor-speed   \"Cursor Speed Cmd\"            (device options, speed options)\n"
    "  activate       \"Cursor Speed Activate Cmd\"   (device options, --disabled)\n"
    "  snapping       \"Auto Cursor Snapping Cmd\"    (--application, --snapping, --jump, --bounce)\n"
    "  ax-warning     \"Accessibility Warning Cmd\"\n"
    "  upload         \"Upload Cursor Speed Cmd\"\n"
    "  launched       \"Application Launced Cmd\"     (--version, --build-date)\n\n"
    "Options:\n"
    "  --receiver ID          the one agent that is to act (e.g. quillon.Velmora.boa)\n"
    "  --vid V --pid P --mid M --transport T   the device (numbers decimal or 0x hex)\n"
    "  --sensitivity S --tracking T --disable-accl yes|no   a cursor speed's values\n"
    "  --disabled yes|no      the device's new switch for \"Cursor Speed Activate Cmd\"\n"
    "  --application A --snapping S --jump yes|no --bounce yes|no\n"
    "  --version V            a packed version number (e.g. 0x05318000)\n"
    "  --build-date D\n"
    "  --object SENDER        the sender's bundle identifier (default quillon.Velmora.prefpane)\n";

const std::map<std::string, std::string> kAliases = {
    {"cursor-speed", cmd::kCursorSpeed},        {"activate", cmd::kCursorSpeedActivate},
    {"snapping", cmd::kAutoCursorSnapping},     {"ax-warning", cmd::kAccessibilityWarning},
    {"upload", cmd::kUploadCursorSpeed},        {"launched", cmd::kApplicationLaunched},
};

bool parseYesNo(const std::string& text, bool* out) {
  if (text == "yes" || text == "true" || text == "1" || text == "on") return *out = true, true;
  if (text == "no" || text == "false" || text == "0" || text == "off") return *out = false, true;
  return false;
}

int send(Args args) {
  if (args.empty()) return usageError("agent", "agent send needs a COMMAND");
  std::string command = args[0];
  args.erase(args.begin());
  if (auto a = kAliases.find(command); a != kAliases.end()) command = a->second;

  std::string error, value;
  pl::Dict info;
  std::string object = velmora::kPaneBundleID;
  // Numbers.
  for (const auto& [option, key] : std::map<std::string, const char*>{
           {"--vid", key::kVID}, {"--pid", key::kPID}, {"--mid", key::kMID}, {"--version", key::kVersion}}) {
    if (takeOption(args, option, &value, &error)) {
      unsigned long long n = 0;
      if (!parseUnsigned(value, &n) || n > 0xFFFFFFFFull)
        return usageError("agent", option + " needs an unsigned 32-bit number, not '" + value + "'");
      info[key] = pl::Value::uint32(static_cast<uint32_t>(n));
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
    if (takeOption(args, option, &value, &error)) info[key] = value;
    if (!error.empty()) return usageError("agent", error);
  }
  if (takeOption(args, "--object", &value, &error)) object = value;
  if (!error.empty()) return usageError("agent", error);
  if (!args.empty()) return usageError("agent", "unexpected argument '" + args[0] + "'");

  auto loop = linux_::SdEventRunLoop::create(&error);
  if (!loop) return failure("cannot create a run loop: " + error);
  auto bus = linux_::DbusNotifications::connect(*loop, &error);
  if (!bus) return failure("cannot reach the session bus: " + error);
  Platform p;
  p.runLoop = loop.get();
  p.notifications = bus.get();
  if (!QS824postBOANotification(p, std::nullopt, command, std::nullopt, std::nullopt, std::nullopt, std::nullopt, object,
                                &info))
    return failure("cannot post the command: " + bus->lastError());
  bus->flush();
  std::cout << "posted \"" << command << "\"\n";
  return kExitOk;
}

int run(const Args& args) {
  if (args.empty()) return usageError("agent", "missing subcommand (send)");
  if (args[0] == "send") {
    if (args.size() > 1 && isHelp(args[1])) {
      std::cout << kHelp;
      return kExitOk;
    }
    return send(Args(args.begin() + 1, args.end()));
  }
  return usageError("agent", "unknown subcommand '" + args[0] + "'");
}

bool registered = registerGroup({"agent", "post commands to a running agent", kHelp, run});

}  // namespace
}  // namespace vl::ctl
