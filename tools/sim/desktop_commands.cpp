// velmora-sim's desktop commands over the world's shared desktop.
#include "tools/sim/desktop_commands.h"

#include "tools/common/agent_bus.h"
#include "tools/common/cli_args.h"

#include <algorithm>
#include <map>
#include <cstdlib>
#include <iostream>
#include <sstream>

#include "platform/api/accessibility.h"
#include "platform/api/cursor.h"
#include "platform/linux/dbus_notifications.h"
#include "platform/linux/sd_event_runloop.h"
#include "platform/sim/sim_desktop.h"
#include "platform/sim/sim_desktop_world.h"
#include "platform/sim/world.h"

namespace vl::simtool {
namespace {

using Args = std::vector<std::string>;
using cli::takeFlag;
using cli::takeOption;

int usage(const std::string& command, const std::string& msg) {
  std::cerr << "velmora-sim: " << msg << "\nTry 'velmora-sim " << command << " --help'.\n";
  return 2;
}
int failure(const std::string& msg) {
  std::cerr << "velmora-sim: " << msg << "\n";
  return 1;
}


std::vector<std::string> split(const std::string& text) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : text) {
    if (c == ',') {
      out.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  out.push_back(cur);
  for (auto& s : out) {
    while (!s.empty() && s.front() == ' ') s.erase(s.begin());
    while (!s.empty() && s.back() == ' ') s.pop_back();
  }
  return out;
}

// Opens the world, reads its desktop, runs change under the desktop's lock and writes it back.
int editDesktop(const std::string& folder, const std::function<Status(sim::SimDesktop&)>& change) {
  sim::WorldOptions options;
  options.processName = "velmora-sim";
  auto world = sim::World::open(folder, options);
  if (!world)
    return failure("no simulated Mac at " + folder + ": " + world.status().detail() +
                   "\nCreate one with 'velmora-sim init'.");
  auto desk = sim::SimDesktopWorld::open(folder, (*world)->mac().desktop(), std::nullopt);
  if (!desk) return failure(desk.status().detail());
  if (Status edited = (*desk)->edit(change); !edited) return failure(edited.detail());
  return 0;
}

std::string point(Point p) {
  std::ostringstream s;
  s << "(" << p.x << ", " << p.y << ")";
  return s.str();
}

int runOpenDialog(Args& args, const std::string& folder) {
  std::string error, buttons = "OK", def, cancel, title;
  takeOption(args, "--buttons", &buttons, &error);
  bool hasDefault = error.empty() && takeOption(args, "--default", &def, &error);
  bool hasCancel = error.empty() && takeOption(args, "--cancel", &cancel, &error);
  if (error.empty()) takeOption(args, "--title", &title, &error);
  if (!error.empty()) return usage("open-dialog", error);
  bool sheet = takeFlag(args, "--sheet");
  if (args.size() != 1) return usage("open-dialog", args.empty() ? "missing APP" : "unexpected argument '" + args[1] + "'");
  sim::DialogSpec spec;
  spec.buttons = split(buttons);
  for (const auto& b : spec.buttons)
    if (b.empty()) return usage("open-dialog", "--buttons needs titles separated by commas");
  auto named = [&](const std::string& n) { return std::find(spec.buttons.begin(), spec.buttons.end(), n) != spec.buttons.end(); };
  if (hasDefault && !named(def)) return usage("open-dialog", "--default names no button of --buttons");
  if (hasCancel && !named(cancel)) return usage("open-dialog", "--cancel names no button of --buttons");
  if (hasDefault) spec.defaultButton = def;
  if (hasCancel) spec.cancelButton = cancel;
  spec.sheet = sheet;
  spec.title = title;
  std::string app = args[0];
  std::ostringstream report;
  int rc = editDesktop(folder, [&](sim::SimDesktop& d) -> Status {
    int32_t pid = d.ensureApplication(app);
    d.activate(pid);
    uint64_t id = d.openDialog(pid, spec);
    if (!id) {
      return Status::failure(1, "cannot open a dialog in " + app);
    }
    report << (sheet ? "sheet " : "dialog ") << id << " in " << app << "\n";
    for (const auto& b : spec.buttons)
      if (auto c = d.centreOf(d.elementNamed(b))) report << "  \"" << b << "\" at " << point(*c) << "\n";
    return Status::success();
  });
  std::cout << report.str();
  return rc;
}

int runFocus(Args& args, const std::string& folder) {
  if (args.size() != 1) return usage("focus", args.empty() ? "missing APP" : "unexpected argument '" + args[1] + "'");
  std::string app = args[0];
  return editDesktop(folder, [&](sim::SimDesktop& d) -> Status {
    if (app == "Control Center" || app == sim::kControlCenterBundleID) d.focusControlCenter();
    else d.activate(d.ensureApplication(app));
    return Status::success();
  });
}

int runCloseWindow(Args& args, const std::string& folder) {
  if (!args.empty()) return usage("close-window", "unexpected argument '" + args[0] + "'");
  return editDesktop(folder, [](sim::SimDesktop& d) -> Status {
    if (d.closeWindow(0)) return Status::success();
    return Status::failure(1, "the focused application has no window to close");
  });
}

int runMoveCursor(Args& args, const std::string& folder) {
  if (args.size() != 2) return usage("move-cursor", "needs X and Y");
  double x = 0, y = 0;
  for (int i = 0; i < 2; ++i)
    if (!cli::parseDouble(args[static_cast<size_t>(i)], i == 0 ? &x : &y))
      return usage("move-cursor", "X and Y must be numbers: " + cli::notANumber(args[static_cast<size_t>(i)]));
  return editDesktop(folder, [&](sim::SimDesktop& d) -> Status {
    d.moveCursor({x, y});
    return Status::success();
  });
}

int runHold(Args& args, const std::string& folder) {
  if (args.size() != 1 || (args[0] != "shift" && args[0] != "button"))
    return usage("hold", "hold takes shift or button");
  bool shift = args[0] == "shift";
  return editDesktop(folder, [&](sim::SimDesktop& d) -> Status {
    if (shift) d.setModifierFlags(kCGEventFlagMaskShift);
    else d.setButtons(1);
    return Status::success();
  });
}

int runRelease(Args& args, const std::string& folder) {
  if (!args.empty()) return usage("release", "unexpected argument '" + args[0] + "'");
  return editDesktop(folder, [](sim::SimDesktop& d) -> Status {
    d.setButtons(0);
    d.setModifierFlags(0);
    return Status::success();
  });
}

int runTrust(Args& args, const std::string& folder) {
  if (args.size() != 1 || (args[0] != "on" && args[0] != "off")) return usage("trust", "trust takes on or off");
  bool on = args[0] == "on";
  int rc = editDesktop(folder, [&](sim::SimDesktop& d) -> Status {
    d.setTrusted(on);
    return Status::success();
  });
  if (rc != 0) return rc;
  // The system tells every process that a permission changed.
  auto agent = cli::connectToAgent(folder);
  if (!agent) {
    std::cerr << "velmora-sim: trust saved, but no session bus to announce it: " << agent.status().detail() << "\n";
    return 0;
  }
  linux_::DbusNotifications* bus = agent->bus.get();
  if (Status posted = bus->post(kAXApiChangedNotification, "", {}); !posted) {
    std::cerr << "velmora-sim: trust saved, but it could not be announced: " << posted.detail() << "\n";
    return 0;
  }
  bus->flush();
  return 0;
}

}  // namespace

namespace {

pl::Value frameValue(const pl::Value* v) {
  const pl::Array* a = v ? v->asArray() : nullptr;
  if (!a || a->size() != 4) return pl::Value();
  pl::Dict f;
  f["x"] = (*a)[0];
  f["y"] = (*a)[1];
  f["width"] = (*a)[2];
  f["height"] = (*a)[3];
  return pl::Value(std::move(f));
}

// The saved desktop (a flat element table) as the text listing shows it: applications with
// their windows, each window an element tree with positions, sizes and attributes.
pl::Value desktopTree(const pl::Value& saved) {
  std::map<uint64_t, const pl::Value*> elements;
  if (const pl::Array* list = saved.arrayFor("elements"))
    for (const auto& e : *list)
      if (auto id = e.find("id")) elements[id->unsignedLongLongValue()] = &e;
  std::function<pl::Value(uint64_t, int)> tree = [&](uint64_t id, int depth) -> pl::Value {
    auto it = elements.find(id);
    if (it == elements.end() || depth > 32) return pl::Value();
    const pl::Value& e = *it->second;
    pl::Dict out;
    out["id"] = pl::Value::uint64(id);
    out["role"] = pl::Value(e.stringFor("role").value_or(""));
    for (const char* k : {"subrole", "title", "name"})
      if (auto v = e.stringFor(k)) out[k] = pl::Value(*v);
    out["frame"] = frameValue(e.find("frame"));
    if (auto v = e.boolFor("enabled")) out["enabled"] = pl::Value(*v);
    out["minimized"] = pl::Value(e.boolFor("minimized").value_or(false));
    pl::Dict links;
    if (const pl::Dict* l = e.dictFor("links")) {
      for (const auto& [attr, target] : *l) {
        pl::Dict link;
        uint64_t to = target.unsignedLongLongValue();
        link["id"] = pl::Value::uint64(to);
        if (auto t = elements.find(to); t != elements.end())
          if (auto title = t->second->stringFor("title")) link["title"] = pl::Value(*title);
        links[attr] = pl::Value(std::move(link));
      }
    }
    out["links"] = pl::Value(std::move(links));
    pl::Array children;
    if (const pl::Array* c = e.arrayFor("children"))
      for (const auto& child : *c)
        if (pl::Value v = tree(child.unsignedLongLongValue(), depth + 1); !v.isNull()) children.push_back(std::move(v));
    out["children"] = pl::Value(std::move(children));
    return pl::Value(std::move(out));
  };
  pl::Dict root;
  const int64_t frontmost = saved.find("frontmost") ? saved.find("frontmost")->longLongValue() : 0;
  const int64_t focusPid = saved.find("focusPid") ? saved.find("focusPid")->longLongValue() : 0;
  pl::Array apps;
  if (const pl::Array* list = saved.arrayFor("applications")) {
    for (const auto& a : *list) {
      pl::Dict app;
      int64_t pid = a.find("pid") ? a.find("pid")->longLongValue() : 0;
      app["pid"] = pl::Value(static_cast<long long>(pid));
      for (const char* k : {"bundleIdentifier", "name", "bundleURL"})
        app[k] = pl::Value(a.stringFor(k).value_or(""));
      app["activationPolicy"] = a.find("activationPolicy") ? *a.find("activationPolicy") : pl::Value(0LL);
      app["hidden"] = pl::Value(a.boolFor("hidden").value_or(false));
      app["frontmost"] = pl::Value(pid == frontmost);
      app["hasFocus"] = pl::Value(pid == focusPid);
      app["focusedElement"] = a.find("focused") ? *a.find("focused") : pl::Value::uint64(0);
      pl::Array windows;
      if (const pl::Array* w = a.arrayFor("windows"))
        for (const auto& id : *w)
          if (pl::Value v = tree(id.unsignedLongLongValue(), 0); !v.isNull()) windows.push_back(std::move(v));
      app["windows"] = pl::Value(std::move(windows));
      apps.emplace_back(std::move(app));
    }
  }
  root["applications"] = pl::Value(std::move(apps));
  pl::Dict cursor;
  if (const pl::Array* c = saved.arrayFor("cursor"); c && c->size() == 2) {
    cursor["x"] = (*c)[0];
    cursor["y"] = (*c)[1];
  }
  cursor["buttons"] = saved.find("buttons") ? *saved.find("buttons") : pl::Value::uint32(0);
  uint64_t flags = saved.find("modifierFlags") ? saved.find("modifierFlags")->unsignedLongLongValue() : 0;
  cursor["shift"] = pl::Value((flags & kCGEventFlagMaskShift) != 0);
  root["cursor"] = pl::Value(std::move(cursor));
  root["accessibilityTrusted"] = pl::Value(saved.boolFor("trusted").value_or(false));
  pl::Array own;
  if (const pl::Array* list = saved.arrayFor("processWindows")) {
    for (const auto& w : *list) {
      pl::Dict d;
      d["number"] = w.find("number") ? *w.find("number") : pl::Value::uint32(0);
      d["pid"] = w.find("pid") ? *w.find("pid") : pl::Value::int32(0);
      d["frame"] = frameValue(w.find("frame"));
      own.emplace_back(std::move(d));
    }
  }
  root["processWindows"] = pl::Value(std::move(own));
  return pl::Value(std::move(root));
}

}  // namespace

namespace {

// Opens the world with its shared desktop loaded and hands the desktop to use.
template <class Use>
Status withDesktop(const std::string& folder, Use use) {
  sim::WorldOptions options;
  options.processName = "velmora-sim";
  auto world = sim::World::open(folder, options);
  if (!world) return world.status();
  sim::SimDesktop& d = (*world)->mac().desktop();
  auto desk = sim::SimDesktopWorld::open(folder, d, std::nullopt);
  if (!desk) return desk.status();
  use(d);
  return Status::success();
}

}  // namespace

Result<pl::Value> desktopValue(const std::string& folder) {
  pl::Value out;
  if (Status read = withDesktop(folder, [&](sim::SimDesktop& d) { out = desktopTree(d.save()); }); !read) return read;
  return out;
}

Status printDesktop(const std::string& folder, std::ostream& out) {
  return withDesktop(folder, [&](sim::SimDesktop& d) { out << d.describe(); });
}

const std::vector<DesktopCommand>& desktopCommands() {
  static const std::vector<DesktopCommand> list = {
      {"open-dialog", "open a dialog or sheet in an application",
       "usage: velmora-sim open-dialog APP --buttons \"Save,Cancel\" [--default NAME] [--cancel NAME]\n"
       "                               [--sheet] [--title TEXT]\n\n"
       "Brings APP to the front (running it when it is not) and opens a dialog with the buttons\n"
       "in a row at the bottom right, left to right as listed. --default and --cancel expose a\n"
       "button as the dialog's default or cancel button; --sheet attaches it to the front window.\n"
       "Prints the dialog's id and where each button's centre lies.\n",
       runOpenDialog},
      {"focus", "bring an application to the front",
       "usage: velmora-sim focus APP\n\nActivates APP (its name or bundle identifier); \"Control Center\" moves the\n"
       "focus into Control Center without changing the frontmost application.\n",
       runFocus},
      {"close-window", "close the focused window",
       "usage: velmora-sim close-window\n\nCloses the focused window or sheet; the application's next window gets the focus.\n",
       runCloseWindow},
      {"move-cursor", "move the mouse",
       "usage: velmora-sim move-cursor X Y\n\nMoves the cursor to X, Y (points from the top left of the main screen).\n",
       runMoveCursor},
      {"hold", "hold Shift or the mouse button",
       "usage: velmora-sim hold shift|button\n\nHolds the Shift key or the left mouse button until 'release'.\n", runHold},
      {"release", "let go of Shift and the mouse buttons",
       "usage: velmora-sim release\n\nReleases every held key and button.\n", runRelease},
      {"trust", "grant or take back the accessibility permission",
       "usage: velmora-sim trust on|off\n\nGrants or takes back the agent's accessibility permission and announces the change.\n",
       runTrust},
  };
  return list;
}

}  // namespace vl::simtool
