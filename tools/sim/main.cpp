// velmora-sim: drives the shared simulated Mac (the world folder) — makes a machine, plugs
// devices in and out, locks the screen, moves the system's speed slider, and shows what the
// programs running on it wrote to the devices.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "core/plist/codec.h"
#include "core/plist/number_text.h"
#include "platform/sim/world.h"
#include "tools/common/cli_args.h"
#include "tools/common/command_table.h"
#include "tools/common/device_names.h"
#include "tools/common/suggest.h"
#include "tools/sim/desktop_commands.h"
#include "tools/sim/input_commands.h"
#include "tools/sim/quarantine_command.h"
#include "tools/sim/json.h"

namespace vl::simtool {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

using Args = std::vector<std::string>;

struct Context {
  std::string worldFolder;
  std::string fixtures;
};

using Command = cli::Command<int(Args&, const Context&)>;

const std::vector<std::string> kDefaultMachine = {"mac-platform-macbookpro12-1", "macbook-pro-internal-trackpad",
                                                  "logitech-unifying-receiver", "generic-usb-optical-mouse"};

const char* const kAccelerationKeys[] = {"HIDMouseAcceleration",       "HIDTrackpadAcceleration",
                                         "HIDPointerAcceleration",     "HIDMouseScrollAcceleration",
                                         "HIDTrackpadScrollAcceleration", "HIDScrollAcceleration"};

int usage(const std::string& command, const std::string& msg) {
  std::cerr << "velmora-sim: " << msg << "\nTry 'velmora-sim " << (command.empty() ? "" : command + " ") << "--help'.\n";
  return kExitUsage;
}

int failure(const std::string& msg) {
  std::cerr << "velmora-sim: " << msg << "\n";
  return kExitFailure;
}

using cli::isHelp;
using cli::takeFlag;
using cli::takeOption;



bool parseId(const std::string& text, RegistryId* out) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return false;
  char* end = nullptr;
  errno = 0;
  unsigned long long v = std::strtoull(text.c_str(), &end, 0);
  if (errno != 0 || end == text.c_str() || *end != '\0') return false;
  *out = v;
  return true;
}

bool parseDouble(const std::string& text, double* out) {
  return cli::parseDouble(text, out);
}

std::string hex(uint64_t v, int width = 0) {
  char b[32];
  std::snprintf(b, sizeof b, "0x%0*llX", width, static_cast<unsigned long long>(v));
  return b;
}

std::string localTime(double t) {
  time_t secs = static_cast<time_t>(t);
  struct tm tm {};
  localtime_r(&secs, &tm);
  char b[64];
  std::strftime(b, sizeof b, "%Y-%m-%d %H:%M:%S", &tm);
  char ms[8];
  std::snprintf(ms, sizeof ms, ".%03d", static_cast<int>((t - static_cast<double>(secs)) * 1000) % 1000);
  return std::string(b) + ms;
}

double wallClock() {
  struct timespec ts {};
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

sim::WorldOptions options() {
  sim::WorldOptions o;
  o.processName = "velmora-sim";
  return o;
}

Result<std::unique_ptr<sim::World>> openWorld(const Context& ctx) { return sim::World::open(ctx.worldFolder, options()); }

// A 16.16 property as a number, with its raw value.
pl::Value fixedValue(const std::optional<pl::Value>& raw) {
  if (!raw || !raw->isNumber()) return pl::Value();
  return pl::Value(raw->isReal() ? raw->doubleValue() : static_cast<double>(raw->intValue()) / 65536.0);
}

// --- Commands --------------------------------------------------------------------------------

int runInit(Args& args, const Context& ctx) {
  bool force = takeFlag(args, "--force");
  if (!args.empty()) return usage("init", "unexpected argument '" + args[0] + "'");
  if (sim::World::exists(ctx.worldFolder) && !force)
    return failure("a world already exists in " + ctx.worldFolder + " (use --force to replace it)");
  // Every profile loads before anything is written, so a bad fixture folder leaves no half machine.
  std::vector<pl::Value> fixtures;
  for (const auto& p : kDefaultMachine) {
    auto r = pl::readFile(ctx.fixtures + "/" + p + ".plist");
    if (!r) return failure("cannot load the device profile " + p + ": " + r.error);
    fixtures.push_back(*r.value);
  }
  auto created = sim::World::create(ctx.worldFolder, options(), force);
  if (!created) return failure(created.status().detail());
  std::unique_ptr<sim::World> world = std::move(created).value();
  for (size_t i = 0; i < fixtures.size(); ++i) {
    Result<RegistryId> id = world->attach(fixtures[i]);
    if (!id) return failure("cannot attach " + kDefaultMachine[i] + ": " + id.status().detail());
    std::cout << hex(*id) << "  " << kDefaultMachine[i] << "\n";
  }
  // The system's own speeds as a new Mac has them, so that restoring a device has a value.
  for (const auto& [key, value] : std::vector<std::pair<std::string, double>>{
           {"HIDMouseAcceleration", 0.875}, {"HIDTrackpadAcceleration", 0.6875},
           {"HIDMouseScrollAcceleration", 0.3125}, {"HIDTrackpadScrollAcceleration", 0.3125}}) {
    if (Status changed = world->setSystemAcceleration(key, value); !changed) return failure(changed.detail());
  }
  std::cout << "world ready in " << ctx.worldFolder << "\n";
  return kExitOk;
}

// The profile names of the fixture folder (file names without ".plist"), sorted.
std::vector<std::string> profileNames(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(folder, ec))
    if (e.path().extension() == ".plist") names.push_back(e.path().stem().string());
  std::sort(names.begin(), names.end());
  return names;
}

int runAttach(Args& args, const Context& ctx) {
  if (args.size() != 1) return usage("attach", args.empty() ? "missing PROFILE" : "unexpected argument '" + args[1] + "'");
  const std::string& profile = args[0];
  // A name, not a path: it must be one of the profiles 'profiles' lists.
  bool isPath = profile.find('/') != std::string::npos || (profile.size() > 6 && profile.ends_with(".plist"));
  if (!isPath) {
    std::vector<std::string> names = profileNames(ctx.fixtures);
    if (std::find(names.begin(), names.end(), profile) == names.end()) {
      std::cerr << "velmora-sim: no device profile '" << profile << "'" << cli::didYouMean(profile, names)
                << "\n'velmora-sim profiles' lists the devices that can be attached.\n";
      return kExitUsage;
    }
  }
  auto opened = openWorld(ctx);
  if (!opened) return failure(opened.status().detail());
  std::unique_ptr<sim::World> world = std::move(opened).value();
  Result<RegistryId> id = world->attachProfile(ctx.fixtures, args[0]);
  if (!id) return failure("cannot attach " + args[0] + ": " + id.status().detail());
  std::cout << hex(*id) << "\n";
  return kExitOk;
}

int runDetach(Args& args, const Context& ctx) {
  if (args.size() != 1) return usage("detach", args.empty() ? "missing ID" : "unexpected argument '" + args[1] + "'");
  RegistryId id = 0;
  if (!parseId(args[0], &id)) return usage("detach", "'" + args[0] + "' is not a registry id");
  auto opened = openWorld(ctx);
  if (!opened) return failure(opened.status().detail());
  std::unique_ptr<sim::World> world = std::move(opened).value();
  if (Status changed = world->detach(id); !changed) return failure(changed.detail());
  return kExitOk;
}

// lock, unlock, logout, login: one session flag each.
std::function<int(Args&, const Context&)> sessionCommand(const char* name, bool lockFlag, bool value) {
  return [=](Args& args, const Context& ctx) {
    if (!args.empty()) return usage(name, "unexpected argument '" + args[0] + "'");
    auto opened = openWorld(ctx);
    if (!opened) return failure(opened.status().detail());
    std::unique_ptr<sim::World> world = std::move(opened).value();
    SessionState s = world->mac().session().current();
    if (lockFlag) s.screenLocked = value;
    else s.onConsole = value;
    if (Status changed = world->setSessionState(s); !changed) return failure(changed.detail());
    return kExitOk;
  };
}

// The system-wide speeds the system's own settings change, with the values they take: at
// most 20, the limit of an acceleration value, and never below 0.
const std::vector<std::string> kSystemKeys = {"HIDMouseAcceleration", "HIDTrackpadAcceleration",
                                              "HIDMouseScrollAcceleration", "HIDTrackpadScrollAcceleration"};
constexpr double kSystemAccelMin = 0.0;
constexpr double kSystemAccelMax = 20.0;

int runSetSystemAccel(Args& args, const Context& ctx) {
  if (args.size() != 2) return usage("set-system-accel", "expected KEY VALUE");
  double value = 0;
  if (std::find(kSystemKeys.begin(), kSystemKeys.end(), args[0]) == kSystemKeys.end()) {
    std::string list;
    for (const auto& k : kSystemKeys) list += (list.empty() ? "" : ", ") + k;
    return usage("set-system-accel",
                 "unknown key '" + args[0] + "'" + cli::didYouMean(args[0], kSystemKeys) + "\nThe keys are " + list);
  }
  if (!parseDouble(args[1], &value)) return usage("set-system-accel", cli::notANumber(args[1]));
  if (!(value >= kSystemAccelMin && value <= kSystemAccelMax))
    return usage("set-system-accel", args[0] + " takes a value from 0 to 20, not " + args[1]);
  auto opened = openWorld(ctx);
  if (!opened) return failure(opened.status().detail());
  std::unique_ptr<sim::World> world = std::move(opened).value();
  if (Status changed = world->setSystemAcceleration(args[0], value); !changed) return failure(changed.detail());
  return kExitOk;
}

int runDisplayChange(Args& args, const Context& ctx) {
  if (!args.empty()) return usage("display-change", "unexpected argument '" + args[0] + "'");
  auto opened = openWorld(ctx);
  if (!opened) return failure(opened.status().detail());
  std::unique_ptr<sim::World> world = std::move(opened).value();
  if (Status changed = world->displayChange(); !changed) return failure(changed.detail());
  return kExitOk;
}

pl::Value describeWorld(sim::World& world, const std::vector<sim::PropertyWrite>& history) {
  sim::SimMac& mac = world.mac();
  std::map<RegistryId, const sim::PropertyWrite*> lastWrite;
  for (const auto& w : history)
    if (w.accepted) lastWrite[w.service] = &w;
  pl::Dict root;
  root["world"] = pl::Value(world.folder());
  SessionState s = mac.session().current();
  pl::Dict session;
  session["onConsole"] = pl::Value(s.onConsole);
  session["screenLocked"] = pl::Value(s.screenLocked);
  root["session"] = pl::Value(session);
  root["displayChanges"] = pl::Value::uint64(world.displayChangeCount());
  pl::Dict accel;
  for (const char* k : kAccelerationKeys)
    if (auto v = mac.systemAcceleration(k)) accel[k] = pl::Value(*v);
  root["systemAcceleration"] = pl::Value(accel);
  pl::Array devices;
  for (const auto& d : world.devices()) {
    pl::Dict dev;
    dev["id"] = pl::Value::uint64(d.id);
    dev["idHex"] = pl::Value(hex(d.id));
    dev["profile"] = pl::Value(d.profile);
    dev["name"] = pl::Value(d.name);
    dev["attached"] = pl::Value(d.attached);
    pl::Array services;
    for (RegistryId id : mac.eventServicesOf(d.id)) {
      const IoRegistry& reg = mac.registry();
      auto prop = [&](const char* key) { return reg.property(id, key); };
      pl::Dict svc;
      svc["id"] = pl::Value::uint64(id);
      svc["idHex"] = pl::Value(hex(id));
      svc["class"] = pl::Value(reg.className(id));
      for (const auto& [out, key] : std::map<std::string, const char*>{{"product", "Product"},
                                                                       {"vid", "VendorID"},
                                                                       {"pid", "ProductID"},
                                                                       {"mid", "QuillonMID"},
                                                                       {"unifyingIndex", "QuillonUnifyingIX"},
                                                                       {"transport", "Transport"},
                                                                       {"location", "LocationID"},
                                                                       {"accelerationKey", "HIDPointerAccelerationType"}})
        if (auto v = prop(key)) svc[out] = *v;
      auto resolution = prop("HIDPointerResolution");
      if (resolution) svc["resolutionRaw"] = *resolution;
      svc["resolution"] = fixedValue(resolution);
      // The device as the store and the other programs name it (a service without a model id
      // is model 0).
      if (auto vid = prop("VendorID"), pid = prop("ProductID"); vid && pid && vid->isNumber() && pid->isNumber()) {
        auto mid = prop("QuillonMID");
        auto transport = prop("Transport");
        svc["device"] = pl::Value(cli::deviceNameText(
            vid->unsignedIntValue(), pid->unsignedIntValue(), mid && mid->isNumber() ? mid->unsignedIntValue() : 0,
            transport && transport->isString() ? *transport->asString() : std::string()));
      }
      pl::Dict accelerations;
      for (const char* k : kAccelerationKeys)
        if (auto v = prop(k)) accelerations[k] = fixedValue(v);
      svc["acceleration"] = pl::Value(accelerations);
      std::string key = prop("HIDPointerAccelerationType") && prop("HIDPointerAccelerationType")->isString()
                            ? *prop("HIDPointerAccelerationType")->asString()
                            : "HIDMouseAcceleration";
      svc["accelerationValue"] = fixedValue(prop(key.c_str()));
      if (auto it = lastWrite.find(id); it != lastWrite.end()) {
        pl::Dict lw;
        lw["time"] = pl::Value(it->second->time);
        lw["writer"] = pl::Value(it->second->writer);
        lw["key"] = pl::Value(it->second->key);
        svc["lastWrite"] = pl::Value(lw);
      }
      services.emplace_back(std::move(svc));
    }
    dev["services"] = pl::Value(std::move(services));
    devices.emplace_back(std::move(dev));
  }
  root["devices"] = pl::Value(std::move(devices));
  return pl::Value(std::move(root));
}

std::string fixedText(const pl::Dict& svc, const char* key) {
  auto it = svc.find(key);
  if (it == svc.end() || it->second.isNull()) return "-";
  return pl::formatG(it->second.doubleValue());
}

void printWorld(const pl::Value& w, std::ostream& out) {
  auto session = w.find("session");
  out << "world      " << w.stringFor("world").value_or("") << "\n"
      << "session    " << (session->boolFor("onConsole").value_or(true) ? "on console" : "logged out") << ", "
      << (session->boolFor("screenLocked").value_or(false) ? "screen locked" : "screen unlocked")
      << "; display changes " << w.find("displayChanges")->unsignedLongLongValue() << "\n";
  out << "system     ";
  const pl::Dict* accel = w.dictFor("systemAcceleration");
  if (accel->empty()) out << "no acceleration set";
  bool first = true;
  for (const auto& [k, v] : *accel) {
    out << (first ? "" : ", ") << k << " " << pl::formatG(v.doubleValue());
    first = false;
  }
  out << "\n";
  for (const auto& d : *w.arrayFor("devices")) {
    out << "\n" << d.stringFor("idHex").value_or("") << "  " << d.stringFor("profile").value_or("") << "  ("
        << d.stringFor("name").value_or("") << ")\n";
    for (const auto& s : *d.arrayFor("services")) {
      const pl::Dict& svc = *s.asDict();
      auto num = [&](const char* k, int width) {
        auto v = s.find(k);
        return v ? hex(v->unsignedIntValue(), width) : std::string("-");
      };
      out << "  service " << s.stringFor("idHex").value_or("") << "  " << s.stringFor("class").value_or("") << "  \""
          << s.stringFor("product").value_or("") << "\"\n"
          << "    device " << s.stringFor("device").value_or("-") << "  location " << num("location", 8) << "\n"
          << "    HIDPointerResolution " << fixedText(svc, "resolution") << "  "
          << s.stringFor("accelerationKey").value_or("HIDMouseAcceleration") << " " << fixedText(svc, "accelerationValue");
      if (const pl::Value* lw = s.find("lastWrite"))
        out << "  (last written by " << lw->stringFor("writer").value_or("") << " at "
            << localTime(lw->numberFor("time").value_or(0)) << ")";
      out << "\n";
    }
  }
}

int runShow(Args& args, const Context& ctx) {
  bool json = takeFlag(args, "--json");
  if (!args.empty()) return usage("show", "unexpected argument '" + args[0] + "'");
  auto opened = openWorld(ctx);
  if (!opened) return failure(opened.status().detail());
  std::unique_ptr<sim::World> world = std::move(opened).value();
  auto writes = world->history(0);
  if (!writes) return failure(writes.status().detail());
  const std::vector<sim::PropertyWrite>& history = *writes;
  pl::Value w = describeWorld(*world, history);
  if (json) {
    // Everything the text shows: the devices and the desktop.
    Result<pl::Value> desktop = desktopValue(ctx.worldFolder);
    if (!desktop) return failure(desktop.status().detail());
    if (pl::Dict* root = w.asDict()) (*root)["desktop"] = std::move(desktop).value();
    std::cout << toJson(w) << "\n";
  } else {
    printWorld(w, std::cout);
    // The desktop (applications, windows, cursor) below the devices.
    if (Status printed = printDesktop(ctx.worldFolder, std::cout); !printed) return failure(printed.detail());
  }
  return kExitOk;
}

int runWrites(Args& args, const Context& ctx) {
  bool json = takeFlag(args, "--json");
  std::string sinceText, afterText, error;
  bool hasSince = takeOption(args, "--since", &sinceText, &error);
  if (!error.empty()) return usage("writes", error);
  bool hasAfter = takeOption(args, "--after", &afterText, &error);
  if (!error.empty()) return usage("writes", error);
  if (!args.empty()) return usage("writes", "unexpected argument '" + args[0] + "'");
  double since = 0;
  if (hasSince) {
    double secs = 0;
    if (!parseDouble(sinceText, &secs) || secs < 0) return usage("writes", cli::notANumber(sinceText) + " of seconds");
    since = wallClock() - secs;
  }
  if (hasAfter) {
    double t = 0;
    if (!parseDouble(afterText, &t)) return usage("writes", cli::notANumber(afterText) + " (a time)");
    since = std::max(since, t);
  }
  auto opened = openWorld(ctx);
  if (!opened) return failure(opened.status().detail());
  std::unique_ptr<sim::World> world = std::move(opened).value();
  auto writes = world->history(since);
  if (!writes) return failure(writes.status().detail());
  const std::vector<sim::PropertyWrite>& history = *writes;
  if (json) {
    pl::Array out;
    for (const auto& w : history) {
      pl::Dict e;
      e["time"] = pl::Value(w.time);
      e["service"] = pl::Value::uint64(w.service);
      e["serviceHex"] = pl::Value(hex(w.service));
      e["key"] = pl::Value(w.key);
      e["value"] = w.value;
      e["writer"] = pl::Value(w.writer);
      e["accepted"] = pl::Value(w.accepted);
      out.emplace_back(std::move(e));
    }
    std::cout << toJson(pl::Value(std::move(out))) << "\n";
    return kExitOk;
  }
  for (const auto& w : history) {
    std::cout << localTime(w.time) << "  " << w.writer << "  " << hex(w.service) << "  " << w.key << " = "
              << w.value.describe();
    if (w.value.isInteger() && (w.key == "HIDPointerResolution" || w.key.find("Acceleration") != std::string::npos))
      std::cout << " (" << pl::formatG(static_cast<double>(w.value.intValue()) / 65536.0) << ")";
    if (!w.accepted) std::cout << "  [refused]";
    std::cout << "\n";
  }
  return kExitOk;
}

int runProfiles(Args& args, const Context& ctx) {
  bool json = takeFlag(args, "--json");
  if (!args.empty()) return usage("profiles", "unexpected argument '" + args[0] + "'");
  std::error_code ec;
  std::vector<std::pair<std::string, std::string>> rows;
  for (std::filesystem::directory_iterator it(ctx.fixtures, ec), end; !ec && it != end; it.increment(ec)) {
    const std::filesystem::directory_entry& e = *it;
    if (e.path().extension() != ".plist") continue;
    auto r = pl::readFile(e.path().string());
    std::string name = r ? r.value->stringFor("name").value_or("") : "(unreadable: " + r.error + ")";
    rows.emplace_back(e.path().stem().string(), name);
  }
  if (ec) return failure("cannot list " + ctx.fixtures + ": " + ec.message());
  std::sort(rows.begin(), rows.end());
  if (json) {
    pl::Array out;
    for (const auto& [p, n] : rows) {
      pl::Dict d;
      d["profile"] = pl::Value(p);
      d["name"] = pl::Value(n);
      out.emplace_back(std::move(d));
    }
    std::cout << toJson(pl::Value(std::move(out))) << "\n";
    return kExitOk;
  }
  size_t width = 0;
  for (const auto& r : rows) width = std::max(width, r.first.size());
  for (const auto& [p, n] : rows) std::cout << p << std::string(width - p.size() + 2, ' ') << n << "\n";
  return kExitOk;
}

std::vector<Command> makeCommands() {
  std::vector<Command> list = {
      {"init", "make a default machine in the world folder",
       "usage: velmora-sim init [--force]\n\n"
       "Makes a new world: a MacBook Pro (platform entry and built-in trackpad), a Logitech\n"
       "Unifying receiver with its paired mice and a plain USB mouse; the session is on the\n"
       "console and unlocked. Prints the id of each device. --force replaces an existing world\n"
       "(ids go on from the old one, so running programs see its devices leave).\n",
       runInit},
      {"attach", "plug a device in; prints its id",
       "usage: velmora-sim attach PROFILE\n\n"
       "Attaches the device profile PROFILE (a name from 'velmora-sim profiles', or a path to a\n"
       "profile .plist) and prints the registry id of its top entry.\n",
       runAttach},
      {"detach", "unplug a device",
       "usage: velmora-sim detach ID\n\nDetaches the device whose top entry has registry id ID (0x hex or decimal).\n",
       runDetach},
      {"lock", "lock the screen", "usage: velmora-sim lock\n\nLocks the screen.\n", sessionCommand("lock", true, true)},
      {"unlock", "unlock the screen", "usage: velmora-sim unlock\n\nUnlocks the screen.\n",
       sessionCommand("unlock", true, false)},
      {"logout", "make the session inactive",
       "usage: velmora-sim logout\n\nThe user's session leaves the console (logging out or fast user switching).\n",
       sessionCommand("logout", false, false)},
      {"login", "make the session active again",
       "usage: velmora-sim login\n\nThe user's session is on the console again.\n", sessionCommand("login", false, true)},
      {"set-system-accel", "change a system-wide acceleration value",
       "usage: velmora-sim set-system-accel KEY VALUE\n\n"
       "Sets the system-wide acceleration KEY to VALUE (0 to 20), as moving the slider in the\n"
       "system's settings does; programs watching the key are told. KEY is one of\n"
       "HIDMouseAcceleration, HIDTrackpadAcceleration, HIDMouseScrollAcceleration and\n"
       "HIDTrackpadScrollAcceleration.\n",
       runSetSystemAccel},
      {"display-change", "tell programs that the display arrangement changed",
       "usage: velmora-sim display-change\n\nCounts a display change; programs' screen observers are told.\n",
       runDisplayChange},
      {"show", "the devices with their identity and current speed values",
       "usage: velmora-sim show [--json]\n\n"
       "Lists the session state and the system-wide acceleration values, then every attached\n"
       "device and its pointing services: the device as the store names it\n"
       "(vid-pid-mid-transport in hex, e.g. 4c-269-0-Bluetooth), location, the current\n"
       "HIDPointerResolution and acceleration values (16.16 numbers shown as decimals) and who\n"
       "wrote them last; then the desktop: applications, windows and their controls with\n"
       "positions, sizes and attributes, the cursor and the accessibility trust. --json holds\n"
       "all of it (the desktop under \"desktop\").\n",
       runShow},
      {"writes", "the history of service property writes",
       "usage: velmora-sim writes [--json] [--since SECONDS] [--after TIME]\n\n"
       "Lists the property writes of every program, oldest first, with time, writer, service,\n"
       "key and value. --since keeps those of the last SECONDS seconds; --after those at or\n"
       "after TIME (seconds since the epoch, as 'date +%s.%N' prints).\n",
       runWrites},
      {"profiles", "the device profiles that can be attached",
       "usage: velmora-sim profiles [--json]\n\nLists the device profiles of the fixture folder with their descriptions.\n",
       runProfiles},
  };
  // The desktop's commands (dialogs, focus, cursor, trust) live in their own file.
  for (const auto& d : desktopCommands())
    list.push_back({d.name, d.summary, d.help, [r = d.run](Args& a, const Context& c) { return r(a, c.worldFolder); }});
  for (const auto& d : inputCommands())
    list.push_back({d.name, d.summary, d.help, [r = d.run](Args& a, const Context& c) { return r(a, c.worldFolder); }});
  list.push_back({"quarantine", "mark a file as a download (quarantine attribute)", kQuarantineHelp,
                  [](Args& a, const Context& c) { return runQuarantine(a, c.worldFolder); }});
  return list;
}

const std::vector<Command>& commands() {
  static const std::vector<Command> list = makeCommands();
  return list;
}

void printToolHelp(std::ostream& out) {
  out << "usage: velmora-sim [--world DIR] [--fixtures DIR] COMMAND [ARGS...]\n\n"
         "Drives the simulated Mac that Velmora's programs share (the world folder).\n\n"
         "Commands:\n";
  for (const auto& c : commands()) {
    std::string n = c.name;
    out << "  " << n << std::string(n.size() < 18 ? 18 - n.size() : 1, ' ') << c.summary << "\n";
  }
  out << "\nOptions (before or after the command):\n"
         "  --world DIR      the world folder (default: $VELMORA_WORLD, else\n"
         "                   $XDG_DATA_HOME/velmora/world or ~/.local/share/velmora/world)\n"
         "  --fixtures DIR   the folder of device profiles\n\n"
         "Run 'velmora-sim COMMAND --help' for a command's options.\n";
}

int run(Args args) {
  Context ctx;
  std::string world, fixtures, error;
  bool hasWorld = takeOption(args, "--world", &world, &error);
  if (!error.empty()) return usage("", error);
  if (hasWorld && world.empty()) return usage("", "empty --world");
  bool hasFixtures = takeOption(args, "--fixtures", &fixtures, &error);
  if (!error.empty()) return usage("", error);
  if (hasFixtures && fixtures.empty()) return usage("", "empty --fixtures");
  ctx.worldFolder = sim::worldFolderFor(world);
  ctx.fixtures = hasFixtures ? fixtures : sim::deviceProfileFolder(VELMORA_SOURCE_RESOURCES);
  if (auto status = cli::answerToolWords(args, "velmora-sim", printToolHelp)) return *status;
  if (const Command* c = cli::findCommand(commands(), args[0])) {
    Args rest(args.begin() + 1, args.end());
    if (std::any_of(rest.begin(), rest.end(), isHelp)) {
      std::cout << c->help;
      return kExitOk;
    }
    return c->run(rest, ctx);
  }
  if (args[0].rfind("-", 0) == 0) return usage("", "unknown option '" + args[0] + "'");
  return usage("", "unknown command '" + args[0] + "'" + cli::didYouMean(args[0], cli::commandNames(commands())));
}

}  // namespace
}  // namespace vl::simtool

int main(int argc, char** argv) { return vl::simtool::run(vl::simtool::Args(argv + 1, argv + argc)); }
