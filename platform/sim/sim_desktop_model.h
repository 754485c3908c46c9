// The simulated desktop's model (elements, applications, focus, cursor, faults), the state its
// ports share and the makers of those ports; seen only by the simulated desktop's own files.
#pragma once

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/sim/sim_desktop.h"

namespace vl::sim {

// Why a failed announcement of a trust change is dropped: observers read the trust again at
// their next look, so a lost announcement delays them and loses nothing.
inline constexpr const char* kTrustAnnouncementIsAHint =
    "observers read the trust again at their next look; a lost announcement only delays them";

namespace desktop_detail {

struct Node {
  uint64_t id = 0;
  int32_t pid = 0;
  uint64_t parent = 0;  // 0: a top-level window (its parent is the application)
  std::string role;
  std::optional<std::string> subrole, title;
  std::optional<Rect> frame;
  std::optional<bool> enabled;
  bool minimized = false;
  std::string name;
  std::vector<uint64_t> children;
  std::map<std::string, uint64_t> links;
  std::map<std::string, int32_t> failures;
};

struct App {
  RunningApplication info;
  int32_t policy = kActivationPolicyRegular;
  bool hidden = false;
  uint64_t element = 0;           // the application element
  std::vector<uint64_t> windows;  // top-level windows, front first
  uint64_t focused = 0;           // focused window or sheet
  std::map<std::string, int32_t> failures;
};

struct OwnWindow {
  uint32_t number = 0;
  int32_t ownerPid = 0;
  Rect frame;
};

inline pl::Value rectValue(const Rect& r) { return pl::Array{r.x, r.y, r.width, r.height}; }
inline std::optional<Rect> rectFrom(const pl::Value* v) {
  const pl::Array* a = v ? v->asArray() : nullptr;
  if (!a || a->size() != 4) return std::nullopt;
  for (const auto& e : *a)
    if (!e.isNumber()) return std::nullopt;
  return Rect{(*a)[0].doubleValue(), (*a)[1].doubleValue(), (*a)[2].doubleValue(), (*a)[3].doubleValue()};
}
inline std::map<std::string, int32_t> failuresFrom(const pl::Value* v) {
  std::map<std::string, int32_t> out;
  if (const pl::Dict* d = v ? v->asDict() : nullptr)
    for (const auto& [k, e] : *d)
      if (e.isNumber()) out[k] = e.intValue();
  return out;
}

}  // namespace desktop_detail

struct SimDesktop::Model {
  using Node = desktop_detail::Node;
  using App = desktop_detail::App;
  using OwnWindow = desktop_detail::OwnWindow;

  mutable std::mutex m;
  std::map<uint64_t, Node> nodes;
  std::map<int32_t, App> apps;
  std::map<std::string, uint64_t> names;
  std::vector<uint64_t> zOrder;  // top-level windows, front first
  int32_t frontmost = 0;
  int32_t axFocusPid = 0;        // Control Center holds the focus without being frontmost
  int32_t ownPid = 0;
  uint64_t nextId = 1000;
  int32_t nextPid = 700;
  Point cursor{720, 450};
  uint32_t buttons = 0;
  uint64_t flags = 0;
  bool trusted = true;
  int prompts = 0;
  double suppression = 0.25;
  std::vector<OwnWindow> ownWindows;
  int32_t systemFocusFailure = 0;
  int32_t hitTestFailure = 0;
  bool windowCreationFails = false, eventCreationFails = false, warpFails = false;
  std::vector<CursorEvent> log;
  std::vector<MouseEvent> posted;
  std::vector<Rect> screens{{0, 0, 1440, 900}};
  double slept = 0;

  // --- queries (lock held) ---
  Node* node(uint64_t id) {
    auto it = nodes.find(id);
    return it == nodes.end() ? nullptr : &it->second;
  }
  const Node* node(uint64_t id) const {
    auto it = nodes.find(id);
    return it == nodes.end() ? nullptr : &it->second;
  }
  App* app(int32_t pid) {
    auto it = apps.find(pid);
    return it == apps.end() ? nullptr : &it->second;
  }
  const App* app(int32_t pid) const {
    auto it = apps.find(pid);
    return it == apps.end() ? nullptr : &it->second;
  }
  int32_t focusPid() const { return axFocusPid != 0 && apps.count(axFocusPid) ? axFocusPid : frontmost; }
  RunningApplication info(const App& a) const {
    RunningApplication r = a.info;
    r.active = a.info.processIdentifier == frontmost;
    return r;
  }
  uint64_t topWindowOf(uint64_t id) const {
    const Node* n = node(id);
    for (int guard = 0; n && n->parent != 0 && guard < 256; ++guard) n = node(n->parent);
    return n ? n->id : 0;
  }
  bool visible(uint64_t window) const {
    const Node* n = node(window);
    if (!n || n->minimized) return false;
    const App* a = app(n->pid);
    return a && !a->hidden;
  }

  uint64_t add(const ElementSpec& s, int32_t pid, uint64_t parent, std::vector<std::pair<uint64_t, const ElementSpec*>>& made,
               int depth = 0) {
    if (depth > 64) return 0;
    Node n;
    n.id = nextId++;
    n.pid = pid;
    n.parent = parent;
    n.role = s.role;
    n.subrole = s.subrole;
    n.title = s.title;
    n.frame = s.frame;
    n.enabled = s.enabled;
    n.name = s.name;
    n.failures = s.failures;
    uint64_t id = n.id;
    nodes.emplace(id, std::move(n));
    if (!s.name.empty()) names[s.name] = id;
    made.emplace_back(id, &s);
    for (const auto& c : s.children) {
      uint64_t cid = add(c, pid, id, made, depth + 1);
      if (cid) nodes[id].children.push_back(cid);
    }
    return id;
  }

  void removeSubtree(uint64_t id, int depth = 0) {
    Node* n = node(id);
    if (!n || depth > 256) return;
    for (uint64_t c : std::vector<uint64_t>(n->children)) removeSubtree(c, depth + 1);
    auto it = names.find(n->name);
    if (it != names.end() && it->second == id) names.erase(it);
    nodes.erase(id);
  }

  // Deepest element under p, later children being in front of earlier ones.
  uint64_t hit(uint64_t id, Point p, int depth = 0) const {
    const Node* n = node(id);
    if (!n || depth > 64) return 0;
    for (auto it = n->children.rbegin(); it != n->children.rend(); ++it)
      if (uint64_t h = hit(*it, p, depth + 1)) return h;
    if (n->frame && rectContainsPoint(*n->frame, p)) return id;
    return 0;
  }

  void bringToFront(int32_t pid) {
    App* a = app(pid);
    if (!a) return;
    std::vector<uint64_t> mine, rest;
    for (uint64_t w : zOrder) (std::find(a->windows.begin(), a->windows.end(), w) != a->windows.end() ? mine : rest).push_back(w);
    // Keep the application's own order.
    std::stable_sort(mine.begin(), mine.end(), [&](uint64_t x, uint64_t y) {
      return std::find(a->windows.begin(), a->windows.end(), x) < std::find(a->windows.begin(), a->windows.end(), y);
    });
    zOrder = mine;
    zOrder.insert(zOrder.end(), rest.begin(), rest.end());
  }

  int32_t launch(RunningApplication info, int32_t policy) {
    if (info.processIdentifier == 0) info.processIdentifier = nextPid++;
    else nextPid = std::max(nextPid, info.processIdentifier + 1);
    App a;
    a.policy = policy;
    a.info = std::move(info);
    a.info.active = false;
    Node e;
    e.id = nextId++;
    e.pid = a.info.processIdentifier;
    e.role = kAXApplicationRole;
    e.title = a.info.localizedName;
    a.element = e.id;
    nodes.emplace(e.id, std::move(e));
    int32_t pid = a.info.processIdentifier;
    apps[pid] = std::move(a);
    return pid;
  }

  void focusNext(App& a) {
    a.focused = 0;
    for (uint64_t w : a.windows) {
      const Node* n = node(w);
      if (n && !n->minimized) {
        a.focused = w;
        // A window's open sheet keeps the focus.
        for (auto it = n->children.rbegin(); it != n->children.rend(); ++it) {
          const Node* c = node(*it);
          if (c && c->role == kAXSheetRole) {
            a.focused = c->id;
            break;
          }
        }
        return;
      }
    }
  }

  void log_(CursorEvent::Kind k, Point p, double t) { log.push_back({k, t, p}); }
};

namespace desktop_detail {

// --- AX objects --------------------------------------------------------------------------------

enum class AXKind { SystemWide, Application, Element };

class SimAX : public AXObject {
 public:
  SimAX(const SimDesktop::Model* model, AXKind kind, int32_t pid, uint64_t id) : model(model), kind(kind), pid(pid), id(id) {}
  bool isEqual(const AXObject& other) const override {
    auto* o = dynamic_cast<const SimAX*>(&other);
    if (!o || o->model != model) return false;
    if (kind == AXKind::SystemWide || o->kind == AXKind::SystemWide) return kind == o->kind;
    return id == o->id && (id != 0 || pid == o->pid);
  }
  const SimDesktop::Model* model;
  AXKind kind;
  int32_t pid;
  uint64_t id;  // the node; for an application element of no running process, 0
};

}  // namespace desktop_detail

struct SimDesktop::Ports {
  Ports(SimDesktop& owner, RunLoop* rl, Notifications* n) : owner(owner), runLoop(rl), notifications(n) {}

  SimDesktop& owner;
  RunLoop* runLoop;
  Notifications* notifications;
  std::function<void(double)> sleepHook;
  std::function<double()> clock;
  std::function<void()> changed;
  std::function<std::vector<Rect>()> screens;
  std::map<uint64_t, Desktop::ActivationHandler> activationObservers;
  uint64_t nextToken = 1;
  std::unique_ptr<Accessibility> ax;
  std::unique_ptr<Cursor> cursor;
  std::unique_ptr<Desktop> desktop;
  std::unique_ptr<Sleeper> sleeper;

  double now() const {
    if (clock) return clock();
    if (runLoop) return runLoop->now();
    std::lock_guard<std::mutex> l(owner.model_->m);
    return owner.model_->slept;
  }
  void notifyChanged() {
    if (changed) changed();
  }
  void announceActivation(const RunningApplication& app) {
    for (const auto& [t, fn] : activationObservers) {
      auto f = fn;
      if (runLoop) runLoop->post([f, app] { f(app); });
      else f(app);
    }
  }
};

namespace desktop_detail {

// The desktop's ports, each in its own file.
std::unique_ptr<Accessibility> makeAccessibility(std::shared_ptr<SimDesktop::Model> m, std::function<void()> onReset);
std::unique_ptr<Cursor> makeCursor(std::shared_ptr<SimDesktop::Model> m, SimDesktop::Ports& p);
std::unique_ptr<Desktop> makeDesktopPort(std::shared_ptr<SimDesktop::Model> m, SimDesktop::Ports& p);
std::unique_ptr<Sleeper> makeVirtualSleeper(std::shared_ptr<SimDesktop::Model> m, SimDesktop::Ports& p);

}  // namespace desktop_detail

}  // namespace vl::sim
