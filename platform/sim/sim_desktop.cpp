// SimDesktop: the simulated desktop's model, its accessibility, cursor and desktop ports,
// dialog layout, fixtures and the property-list form the world keeps.
#include "platform/sim/sim_desktop.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <sstream>

namespace vl::sim {

namespace {

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

pl::Value rectValue(const Rect& r) { return pl::Array{r.x, r.y, r.width, r.height}; }
std::optional<Rect> rectFrom(const pl::Value* v) {
  const pl::Array* a = v ? v->asArray() : nullptr;
  if (!a || a->size() != 4) return std::nullopt;
  for (const auto& e : *a)
    if (!e.isNumber()) return std::nullopt;
  return Rect{(*a)[0].doubleValue(), (*a)[1].doubleValue(), (*a)[2].doubleValue(), (*a)[3].doubleValue()};
}

}  // namespace

struct SimDesktop::Model {
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

// --- AX objects --------------------------------------------------------------------------------

namespace {

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

}  // namespace

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

namespace {

class SimAccessibility : public Accessibility {
 public:
  explicit SimAccessibility(std::shared_ptr<SimDesktop::Model> m) : m_(std::move(m)) {
    system_ = std::make_shared<SimAX>(m_.get(), AXKind::SystemWide, 0, 0);
  }
  AXElementRef systemWideElement() override { return system_; }
  AXElementRef createApplication(int32_t pid) override {
    std::lock_guard<std::mutex> l(m_->m);
    const App* a = m_->app(pid);
    return std::make_shared<SimAX>(m_.get(), AXKind::Application, pid, a ? a->element : 0);
  }

  int32_t copyAttributeValue(const AXElementRef& element, std::string_view attr, AXValue* out) override {
    auto* e = element ? dynamic_cast<const SimAX*>(element.get()) : nullptr;
    if (!e || e->model != m_.get() || !out) return kAXErrorIllegalArgument;
    std::lock_guard<std::mutex> l(m_->m);
    SimDesktop::Model& m = *m_;
    if (!m.trusted) return kAXErrorAPIDisabled;
    if (e->kind == AXKind::SystemWide) {
      if (attr != kAXFocusedApplicationAttribute) return kAXErrorAttributeUnsupported;
      if (m.systemFocusFailure) return m.systemFocusFailure;
      const App* a = m.app(m.focusPid());
      if (!a) return kAXErrorNoValue;
      *out = appRef(*a);
      return kAXErrorSuccess;
    }
    if (e->kind == AXKind::Application) {
      const App* a = m.app(e->pid);
      if (!a || a->element != e->id) return kAXErrorCannotComplete;
      if (auto f = a->failures.find(std::string(attr)); f != a->failures.end()) return f->second;
      if (attr == kAXRoleAttribute) return set(out, std::string(kAXApplicationRole));
      if (attr == kAXTitleAttribute) return set(out, a->info.localizedName);
      if (attr == kAXHiddenAttribute) return set(out, a->hidden);
      if (attr == kAXFocusedWindowAttribute) {
        if (!a->focused || !m.node(a->focused)) return kAXErrorNoValue;
        return set(out, ref(a->focused, a->info.processIdentifier));
      }
      if (attr == kAXWindowsAttribute || attr == kAXChildrenAttribute) {
        std::vector<AXElementRef> v;
        for (uint64_t w : a->windows) v.push_back(ref(w, a->info.processIdentifier));
        *out = std::move(v);
        return kAXErrorSuccess;
      }
      return kAXErrorAttributeUnsupported;
    }
    const Node* n = m.node(e->id);
    if (!n) return kAXErrorInvalidUIElement;
    if (auto f = n->failures.find(std::string(attr)); f != n->failures.end()) return f->second;
    if (attr == kAXRoleAttribute) return set(out, n->role);
    if (attr == kAXSubroleAttribute) return n->subrole ? set(out, *n->subrole) : kAXErrorNoValue;
    if (attr == kAXTitleAttribute) return n->title ? set(out, *n->title) : kAXErrorNoValue;
    if (attr == kAXPositionAttribute)
      return n->frame ? set(out, Point{n->frame->x, n->frame->y}) : kAXErrorNoValue;
    if (attr == kAXSizeAttribute)
      return n->frame ? set(out, Size{n->frame->width, n->frame->height}) : kAXErrorNoValue;
    if (attr == kAXEnabledAttribute) return n->enabled ? set(out, *n->enabled) : kAXErrorAttributeUnsupported;
    if (attr == kAXChildrenAttribute) {
      std::vector<AXElementRef> v;
      v.reserve(n->children.size());
      for (uint64_t c : n->children) v.push_back(ref(c, n->pid));
      *out = std::move(v);
      return kAXErrorSuccess;
    }
    if (attr == kAXParentAttribute) {
      if (n->parent) return set(out, ref(n->parent, n->pid));
      const App* a = m.app(n->pid);
      if (!a) return kAXErrorNoValue;
      return set(out, appRef(*a));
    }
    bool isWindow = n->role == kAXWindowRole || n->role == kAXSheetRole;
    if (attr == kAXMinimizedAttribute) return isWindow ? set(out, n->minimized) : kAXErrorAttributeUnsupported;
    if (auto lk = n->links.find(std::string(attr)); lk != n->links.end()) {
      if (!m.node(lk->second)) return kAXErrorNoValue;
      return set(out, ref(lk->second, n->pid));
    }
    if (isWindow && (attr == kAXDefaultButtonAttribute || attr == kAXCancelButtonAttribute ||
                     attr == kAXCloseButtonAttribute || attr == kAXMinimizeButtonAttribute ||
                     attr == kAXZoomButtonAttribute))
      return kAXErrorNoValue;
    return kAXErrorAttributeUnsupported;
  }

  int32_t copyElementAtPosition(const AXElementRef& element, float x, float y, AXElementRef* out) override {
    auto* e = element ? dynamic_cast<const SimAX*>(element.get()) : nullptr;
    if (!e || e->model != m_.get() || !out) return kAXErrorIllegalArgument;
    std::lock_guard<std::mutex> l(m_->m);
    SimDesktop::Model& m = *m_;
    if (!m.trusted) return kAXErrorAPIDisabled;
    if (m.hitTestFailure) return m.hitTestFailure;
    Point p{x, y};
    for (uint64_t w : m.zOrder) {
      if (!m.visible(w)) continue;
      const Node* n = m.node(w);
      if (e->kind == AXKind::Application && n->pid != e->pid) continue;
      if (uint64_t h = m.hit(w, p)) {
        *out = ref(h, n->pid);
        return kAXErrorSuccess;
      }
    }
    return kAXErrorNoValue;
  }

  int32_t getPid(const AXElementRef& element, int32_t* pid) override {
    auto* e = element ? dynamic_cast<const SimAX*>(element.get()) : nullptr;
    if (!e || e->model != m_.get() || !pid) return kAXErrorIllegalArgument;
    std::lock_guard<std::mutex> l(m_->m);
    if (e->kind == AXKind::SystemWide) {
      *pid = 0;
      return kAXErrorSuccess;
    }
    if (e->kind == AXKind::Element && !m_->node(e->id)) return kAXErrorInvalidUIElement;
    *pid = e->pid;
    return kAXErrorSuccess;
  }

  bool isProcessTrusted() override {
    std::lock_guard<std::mutex> l(m_->m);
    return m_->trusted;
  }
  bool isProcessTrustedWithOptions(bool prompt) override {
    std::lock_guard<std::mutex> l(m_->m);
    if (prompt && !m_->trusted) ++m_->prompts;
    return m_->trusted;
  }

 private:
  template <class T>
  static int32_t set(AXValue* out, T v) {
    *out = std::move(v);
    return kAXErrorSuccess;
  }
  AXElementRef ref(uint64_t id, int32_t pid) const { return std::make_shared<SimAX>(m_.get(), AXKind::Element, pid, id); }
  AXElementRef appRef(const App& a) const {
    return std::make_shared<SimAX>(m_.get(), AXKind::Application, a.info.processIdentifier, a.element);
  }

  std::shared_ptr<SimDesktop::Model> m_;
  AXElementRef system_;
};

class SimCursor : public Cursor {
 public:
  SimCursor(std::shared_ptr<SimDesktop::Model> m, SimDesktop::Ports& p) : m_(std::move(m)), p_(p) {}
  int32_t warpMouseCursorPosition(Point to) override {
    double t = p_.now();
    {
      std::lock_guard<std::mutex> l(m_->m);
      if (m_->warpFails) return kCGErrorFailure;
      m_->cursor = to;
      m_->log_(CursorEvent::Warp, to, t);
    }
    p_.notifyChanged();
    return kCGErrorSuccess;
  }
  Point location() const override {
    std::lock_guard<std::mutex> l(m_->m);
    return m_->cursor;
  }
  uint32_t currentButtonState() const override {
    std::lock_guard<std::mutex> l(m_->m);
    return m_->buttons;
  }
  uint64_t hidModifierFlags() const override {
    std::lock_guard<std::mutex> l(m_->m);
    return m_->flags;
  }
  std::optional<MouseEvent> createMouseEvent(int type, Point location, int button) override {
    std::lock_guard<std::mutex> l(m_->m);
    if (m_->eventCreationFails) return std::nullopt;
    MouseEvent e;
    e.type = type;
    e.button = button;
    e.location = location;
    return e;
  }
  void postEvent(int tap, const MouseEvent& e) override {
    double t = p_.now();
    {
      std::lock_guard<std::mutex> l(m_->m);
      m_->posted.push_back(e);
      if (e.type == kCGEventMouseMoved) {
        m_->cursor = e.location;
        m_->log_(CursorEvent::Posted, e.location, t);
      }
    }
    p_.notifyChanged();
  }
  void setLocalEventsSuppressionInterval(double seconds) override {
    std::lock_guard<std::mutex> l(m_->m);
    m_->suppression = seconds;
  }

 private:
  std::shared_ptr<SimDesktop::Model> m_;
  SimDesktop::Ports& p_;
};

class SimDesktopPort : public Desktop {
 public:
  SimDesktopPort(std::shared_ptr<SimDesktop::Model> m, SimDesktop::Ports& p) : m_(std::move(m)), p_(p) {}
  std::optional<RunningApplication> frontmostApplication() const override {
    std::lock_guard<std::mutex> l(m_->m);
    const App* a = m_->app(m_->frontmost);
    if (!a) return std::nullopt;
    return m_->info(*a);
  }
  std::optional<RunningApplication> runningApplication(int32_t pid) const override {
    std::lock_guard<std::mutex> l(m_->m);
    const App* a = m_->app(pid);
    if (!a) return std::nullopt;
    return m_->info(*a);
  }
  std::vector<RunningApplication> runningApplications(const std::string& bundleID) const override {
    std::lock_guard<std::mutex> l(m_->m);
    std::vector<RunningApplication> out;
    for (const auto& [pid, a] : m_->apps)
      if (!bundleID.empty() && a.info.bundleIdentifier == bundleID) out.push_back(m_->info(a));
    return out;
  }
  int32_t activationPolicy(int32_t pid) const override {
    std::lock_guard<std::mutex> l(m_->m);
    const App* a = m_->app(pid);
    return a ? a->policy : -1;
  }
  Token observeActivation(ActivationHandler handler) override {
    Token t = p_.nextToken++;
    p_.activationObservers[t] = std::move(handler);
    return t;
  }
  void unobserveActivation(Token token) override { p_.activationObservers.erase(token); }

  std::vector<WindowInfo> windowList(bool excludeDesktopElements) const override {
    std::lock_guard<std::mutex> l(m_->m);
    std::vector<WindowInfo> out;
    for (uint64_t w : m_->zOrder) {
      const Node* n = m_->node(w);
      const App* a = n ? m_->app(n->pid) : nullptr;
      if (!n || !a) continue;
      WindowInfo i;
      i.number = static_cast<uint32_t>(w);
      i.ownerPid = n->pid;
      i.ownerName = a->info.localizedName;
      i.bounds = n->frame.value_or(Rect{});
      i.onScreen = m_->visible(w);
      out.push_back(std::move(i));
    }
    for (const auto& w : m_->ownWindows) {
      WindowInfo i;
      i.number = w.number;
      i.ownerPid = w.ownerPid;
      if (const App* a = m_->app(w.ownerPid)) i.ownerName = a->info.localizedName;
      i.bounds = w.frame;
      out.push_back(std::move(i));
    }
    return out;
  }
  uint32_t createWindow(Rect contentRect, bool borderless, bool buffered, bool defer) override {
    uint32_t number = 0;
    {
      std::lock_guard<std::mutex> l(m_->m);
      if (m_->windowCreationFails) return 0;
      number = static_cast<uint32_t>(m_->nextId++);
      // A titled window's frame would add the title bar; a borderless one is its content.
      Rect frame = contentRect;
      if (!borderless) frame.height += 22;
      m_->ownWindows.push_back({number, m_->ownPid, frame});
    }
    p_.notifyChanged();
    return number;
  }
  bool setWindowFrame(uint32_t window, Rect frame) override {
    {
      std::lock_guard<std::mutex> l(m_->m);
      auto it = std::find_if(m_->ownWindows.begin(), m_->ownWindows.end(), [&](const OwnWindow& w) {
        return w.number == window && w.ownerPid == m_->ownPid;
      });
      if (it == m_->ownWindows.end()) return false;
      if (it->frame == frame) return true;
      it->frame = frame;
    }
    p_.notifyChanged();
    return true;
  }

 private:
  std::shared_ptr<SimDesktop::Model> m_;
  SimDesktop::Ports& p_;
};

class VirtualSleeper : public Sleeper {
 public:
  VirtualSleeper(std::shared_ptr<SimDesktop::Model> m, SimDesktop::Ports& p) : m_(std::move(m)), p_(p) {}
  void sleep(double seconds) override {
    {
      std::lock_guard<std::mutex> l(m_->m);
      m_->slept += seconds;
    }
    if (p_.sleepHook) p_.sleepHook(seconds);
  }

 private:
  std::shared_ptr<SimDesktop::Model> m_;
  SimDesktop::Ports& p_;
};

}  // namespace

// --- SimDesktop ------------------------------------------------------------------------------

SimDesktop::SimDesktop(RunLoop* runLoop, Notifications* notifications)
    : model_(std::make_shared<Model>()), ports_(std::make_unique<Ports>(*this, runLoop, notifications)) {
  ports_->ax = std::make_unique<SimAccessibility>(model_);
  ports_->cursor = std::make_unique<SimCursor>(model_, *ports_);
  ports_->desktop = std::make_unique<SimDesktopPort>(model_, *ports_);
  ports_->sleeper = std::make_unique<VirtualSleeper>(model_, *ports_);
}

SimDesktop::~SimDesktop() = default;

Accessibility& SimDesktop::accessibility() { return *ports_->ax; }
Cursor& SimDesktop::cursor() { return *ports_->cursor; }
Desktop& SimDesktop::desktop() { return *ports_->desktop; }
Sleeper& SimDesktop::sleeper() { return *ports_->sleeper; }
void SimDesktop::setSleepHook(std::function<void(double)> hook) { ports_->sleepHook = std::move(hook); }
double SimDesktop::slept() const {
  std::lock_guard<std::mutex> l(model_->m);
  return model_->slept;
}
void SimDesktop::setClock(std::function<double()> clock) { ports_->clock = std::move(clock); }
void SimDesktop::setScreenFrames(std::vector<Rect> frames) {
  std::lock_guard<std::mutex> l(model_->m);
  model_->screens = std::move(frames);
}
void SimDesktop::setScreenSource(std::function<std::vector<Rect>()> source) { ports_->screens = std::move(source); }
std::vector<Rect> SimDesktop::screenFrames() const {
  if (ports_->screens) return ports_->screens();
  std::lock_guard<std::mutex> l(model_->m);
  return model_->screens;
}
void SimDesktop::setChangeObserver(std::function<void()> fn) { ports_->changed = std::move(fn); }

int32_t SimDesktop::launch(RunningApplication app, int32_t activationPolicy, bool activate_) {
  int32_t pid;
  {
    std::lock_guard<std::mutex> l(model_->m);
    pid = model_->launch(std::move(app), activationPolicy);
  }
  if (activate_) activate(pid);
  else ports_->notifyChanged();
  return pid;
}

int32_t SimDesktop::ensureApplication(const std::string& nameOrBundleID) {
  if (auto pid = pidOf(nameOrBundleID)) return *pid;
  RunningApplication app;
  std::string name = nameOrBundleID;
  std::string compact;
  for (char c : name)
    if (c != ' ') compact += c;
  app.localizedName = name;
  app.bundleIdentifier = "sim." + compact;
  app.bundleURL = "/Applications/" + name + ".app";
  app.executableURL = app.bundleURL + "/Contents/MacOS/" + name;
  return launch(app, kActivationPolicyRegular, false);
}

void SimDesktop::quit(int32_t pid) {
  {
    std::lock_guard<std::mutex> l(model_->m);
    Model& m = *model_;
    App* a = m.app(pid);
    if (!a) return;
    for (uint64_t w : a->windows) {
      m.zOrder.erase(std::remove(m.zOrder.begin(), m.zOrder.end(), w), m.zOrder.end());
      m.removeSubtree(w);
    }
    m.nodes.erase(a->element);
    m.apps.erase(pid);
    if (m.frontmost == pid) m.frontmost = 0;
    if (m.axFocusPid == pid) m.axFocusPid = 0;
  }
  ports_->notifyChanged();
}

void SimDesktop::activate(int32_t pid) {
  std::optional<RunningApplication> info;
  {
    std::lock_guard<std::mutex> l(model_->m);
    Model& m = *model_;
    App* a = m.app(pid);
    if (!a) return;
    m.frontmost = pid;
    m.axFocusPid = 0;
    a->hidden = false;
    m.bringToFront(pid);
    info = m.info(*a);
  }
  ports_->announceActivation(*info);
  ports_->notifyChanged();
}

void SimDesktop::focusControlCenter() {
  auto pid = pidOf(kControlCenterBundleID);
  if (!pid) {
    RunningApplication cc;
    cc.bundleIdentifier = kControlCenterBundleID;
    cc.localizedName = "Control Center";
    cc.bundleURL = "/System/Library/CoreServices/ControlCenter.app";
    cc.executableURL = cc.bundleURL + "/Contents/MacOS/ControlCenter";
    pid = launch(cc, kActivationPolicyAccessory, false);
    Rect panel{1100, 24, 320, 420};
    auto screens = screenFrames();
    if (!screens.empty()) panel.x = screens.front().x + screens.front().width - 340;
    ElementSpec w;
    w.role = kAXWindowRole;
    w.subrole = "AXSystemDialog";
    w.title = "Control Center";
    w.frame = panel;
    ElementSpec b;
    b.title = "Focus";
    b.frame = Rect{panel.x + 20, panel.y + 20, 130, 60};
    b.enabled = true;
    w.children.push_back(b);
    openWindow(*pid, w);
  }
  {
    std::lock_guard<std::mutex> l(model_->m);
    model_->axFocusPid = *pid;
    model_->bringToFront(*pid);
  }
  ports_->notifyChanged();
}

void SimDesktop::setHidden(int32_t pid, bool hidden) {
  {
    std::lock_guard<std::mutex> l(model_->m);
    if (App* a = model_->app(pid)) a->hidden = hidden;
  }
  ports_->notifyChanged();
}

std::optional<int32_t> SimDesktop::pidOf(const std::string& key) const {
  std::lock_guard<std::mutex> l(model_->m);
  for (const auto& [pid, a] : model_->apps)
    if (a.info.localizedName == key || a.info.bundleIdentifier == key) return pid;
  return std::nullopt;
}

std::vector<RunningApplication> SimDesktop::applications() const {
  std::lock_guard<std::mutex> l(model_->m);
  std::vector<RunningApplication> out;
  for (const auto& [pid, a] : model_->apps) out.push_back(model_->info(a));
  return out;
}

void SimDesktop::setOwnProcess(int32_t pid) {
  std::lock_guard<std::mutex> l(model_->m);
  model_->ownPid = pid;
}

uint64_t SimDesktop::openWindow(int32_t pid, const ElementSpec& window, uint64_t sheetOf) {
  uint64_t id = 0;
  {
    std::lock_guard<std::mutex> l(model_->m);
    Model& m = *model_;
    App* a = m.app(pid);
    if (!a) return 0;
    if (sheetOf && (!m.node(sheetOf) || m.node(sheetOf)->pid != pid)) return 0;
    std::vector<std::pair<uint64_t, const ElementSpec*>> made;
    id = m.add(window, pid, sheetOf, made);
    // Links name elements of this window first, then any element on the desktop.
    std::map<std::string, uint64_t> local;
    for (auto& [nid, spec] : made)
      if (!spec->name.empty()) local[spec->name] = nid;
    for (auto& [nid, spec] : made) {
      for (const auto& [attr, target] : spec->links) {
        auto it = local.find(target);
        uint64_t to = it != local.end() ? it->second : (m.names.count(target) ? m.names[target] : 0);
        if (to) m.nodes[nid].links[attr] = to;
      }
    }
    a = m.app(pid);
    if (sheetOf) {
      m.nodes[sheetOf].children.push_back(id);
    } else {
      a->windows.insert(a->windows.begin(), id);
      m.zOrder.insert(m.zOrder.begin(), id);
    }
    a->focused = id;
  }
  ports_->notifyChanged();
  return id;
}

uint64_t SimDesktop::openDialog(int32_t pid, const DialogSpec& d) {
  Rect screen{0, 0, 1440, 900};
  if (auto screens = screenFrames(); !screens.empty()) screen = screens.front();
  uint64_t parent = 0;
  std::optional<Rect> parentFrame;
  {
    std::lock_guard<std::mutex> l(model_->m);
    if (d.sheet) {
      if (const App* a = model_->app(pid)) {
        for (uint64_t w : a->windows) {
          const Node* n = model_->node(w);
          if (n && !n->minimized) {
            parent = w;
            parentFrame = n->frame;
            break;
          }
        }
      }
    }
  }
  if (d.sheet && !parent) {
    // A sheet needs a window to hang from: give the application a document window.
    ElementSpec doc;
    doc.role = kAXWindowRole;
    doc.subrole = kAXStandardWindowSubrole;
    doc.title = "Untitled";
    doc.frame = Rect{screen.x + 320, 120, 800, 560};
    parent = openWindow(pid, doc);
    parentFrame = doc.frame;
  }
  const double width = 420, height = d.sheet ? 150 : 172;
  ElementSpec w;
  w.role = d.sheet ? kAXSheetRole : kAXWindowRole;
  if (!d.sheet) w.subrole = kAXDialogSubrole;
  w.title = d.title;
  Rect frame;
  if (d.sheet && parentFrame) {
    frame = Rect{parentFrame->x + (parentFrame->width - width) / 2, parentFrame->y + 22, width, height};
  } else {
    // Centred a third of the way down the main screen, as the platform places alerts.
    frame = Rect{screen.x + std::floor((screen.width - width) / 2), std::floor((screen.height - height) / 3), width, height};
  }
  w.frame = frame;
  ElementSpec text;
  text.role = "AXStaticText";
  text.frame = Rect{frame.x + 20, frame.y + (d.sheet ? 20 : 42), width - 40, 40};
  w.children.push_back(text);
  if (!d.sheet) {
    const char* subroles[] = {"AXCloseButton", "AXMinimizeButton", "AXZoomButton"};
    const char* attrs[] = {kAXCloseButtonAttribute, kAXMinimizeButtonAttribute, kAXZoomButtonAttribute};
    for (int i = 0; i < 3; ++i) {
      ElementSpec b;
      b.subrole = subroles[i];
      b.frame = Rect{frame.x + 8 + 20 * i, frame.y + 4, 14, 16};
      b.enabled = i == 0;
      b.name = std::string(subroles[i]);
      w.links[attrs[i]] = b.name;
      w.children.push_back(b);
    }
  }
  // Buttons right-aligned on the bottom row, 12 points apart.
  std::vector<double> widths;
  double total = 0;
  for (const auto& t : d.buttons) {
    widths.push_back(std::max(82.0, 8.0 * static_cast<double>(t.size()) + 32));
    total += widths.back();
  }
  total += 12.0 * (d.buttons.empty() ? 0 : d.buttons.size() - 1);
  double x = frame.x + width - 20 - total;
  double y = frame.y + height - 20 - 24;
  for (size_t i = 0; i < d.buttons.size(); ++i) {
    ElementSpec b;
    b.title = d.buttons[i];
    b.frame = Rect{x, y, widths[i], 24};
    b.enabled = true;
    b.name = d.buttons[i];
    w.children.push_back(b);
    x += widths[i] + 12;
  }
  if (d.defaultButton) w.links[kAXDefaultButtonAttribute] = *d.defaultButton;
  if (d.cancelButton) w.links[kAXCancelButtonAttribute] = *d.cancelButton;
  return openWindow(pid, w, parent);
}

bool SimDesktop::closeWindow(uint64_t window) {
  {
    std::lock_guard<std::mutex> l(model_->m);
    Model& m = *model_;
    if (window == 0) {
      const App* a = m.app(m.focusPid());
      window = a ? a->focused : 0;
    }
    Node* n = m.node(window);
    if (!n || (n->role != kAXWindowRole && n->role != kAXSheetRole)) return false;
    App* a = m.app(n->pid);
    if (n->parent) {
      Node* p = m.node(n->parent);
      if (p) p->children.erase(std::remove(p->children.begin(), p->children.end(), window), p->children.end());
    } else if (a) {
      a->windows.erase(std::remove(a->windows.begin(), a->windows.end(), window), a->windows.end());
    }
    m.zOrder.erase(std::remove(m.zOrder.begin(), m.zOrder.end(), window), m.zOrder.end());
    m.removeSubtree(window);
    if (a && (a->focused == window || !m.node(a->focused))) m.focusNext(*a);
  }
  ports_->notifyChanged();
  return true;
}

void SimDesktop::setMinimized(uint64_t window, bool minimized) {
  {
    std::lock_guard<std::mutex> l(model_->m);
    Node* n = model_->node(window);
    if (!n) return;
    n->minimized = minimized;
    App* a = model_->app(n->pid);
    if (a && minimized && model_->topWindowOf(a->focused) == window) model_->focusNext(*a);
  }
  ports_->notifyChanged();
}

void SimDesktop::setEnabled(uint64_t element, bool enabled) {
  {
    std::lock_guard<std::mutex> l(model_->m);
    if (Node* n = model_->node(element)) n->enabled = enabled;
  }
  ports_->notifyChanged();
}

void SimDesktop::setFrame(uint64_t element, Rect frame) {
  {
    std::lock_guard<std::mutex> l(model_->m);
    if (Node* n = model_->node(element)) n->frame = frame;
  }
  ports_->notifyChanged();
}

void SimDesktop::failAttribute(uint64_t element, const std::string& attribute, int32_t err) {
  std::lock_guard<std::mutex> l(model_->m);
  Model& m = *model_;
  std::map<std::string, int32_t>* f = nullptr;
  if (Node* n = m.node(element)) {
    f = &n->failures;
    for (auto& [pid, a] : m.apps)
      if (a.element == element) f = &a.failures;
  }
  if (!f) return;
  if (err) (*f)[attribute] = err;
  else f->erase(attribute);
}

void SimDesktop::failSystemWideFocus(int32_t err) {
  std::lock_guard<std::mutex> l(model_->m);
  model_->systemFocusFailure = err;
}
void SimDesktop::failHitTest(int32_t err) {
  std::lock_guard<std::mutex> l(model_->m);
  model_->hitTestFailure = err;
}

uint64_t SimDesktop::elementNamed(const std::string& name) const {
  std::lock_guard<std::mutex> l(model_->m);
  auto it = model_->names.find(name);
  return it == model_->names.end() ? 0 : it->second;
}

std::optional<Point> SimDesktop::centreOf(uint64_t element) const {
  std::lock_guard<std::mutex> l(model_->m);
  const Node* n = model_->node(element);
  if (!n || !n->frame) return std::nullopt;
  return Point{n->frame->x + n->frame->width / 2, n->frame->y + n->frame->height / 2};
}

uint64_t SimDesktop::focusedWindow() const {
  std::lock_guard<std::mutex> l(model_->m);
  const App* a = model_->app(model_->focusPid());
  return a ? a->focused : 0;
}

AXElementRef SimDesktop::axElement(uint64_t element) const {
  std::lock_guard<std::mutex> l(model_->m);
  for (const auto& [pid, a] : model_->apps)
    if (a.element == element) return std::make_shared<SimAX>(model_.get(), AXKind::Application, pid, element);
  const Node* n = model_->node(element);
  return std::make_shared<SimAX>(model_.get(), AXKind::Element, n ? n->pid : 0, element);
}

Point SimDesktop::cursorPosition() const { return ports_->cursor->location(); }
void SimDesktop::moveCursor(Point p, bool announce) {
  double t = ports_->now();
  {
    std::lock_guard<std::mutex> l(model_->m);
    model_->cursor = p;
    model_->log_(CursorEvent::User, p, t);
  }
  if (announce) ports_->notifyChanged();
}
void SimDesktop::setButtons(uint32_t mask) {
  {
    std::lock_guard<std::mutex> l(model_->m);
    model_->buttons = mask;
  }
  ports_->notifyChanged();
}
void SimDesktop::setModifierFlags(uint64_t flags) {
  {
    std::lock_guard<std::mutex> l(model_->m);
    model_->flags = flags;
  }
  ports_->notifyChanged();
}
std::vector<CursorEvent> SimDesktop::cursorLog() const {
  std::lock_guard<std::mutex> l(model_->m);
  return model_->log;
}
void SimDesktop::clearCursorLog() {
  std::lock_guard<std::mutex> l(model_->m);
  model_->log.clear();
  model_->posted.clear();
}
std::vector<MouseEvent> SimDesktop::postedEvents() const {
  std::lock_guard<std::mutex> l(model_->m);
  return model_->posted;
}
double SimDesktop::suppressionInterval() const {
  std::lock_guard<std::mutex> l(model_->m);
  return model_->suppression;
}

void SimDesktop::setTrusted(bool trusted) {
  bool changed;
  {
    std::lock_guard<std::mutex> l(model_->m);
    changed = model_->trusted != trusted;
    model_->trusted = trusted;
  }
  if (!changed) return;
  if (ports_->notifications) ports_->notifications->post(kAXApiChangedNotification, "", {});
  ports_->notifyChanged();
}
bool SimDesktop::trusted() const {
  std::lock_guard<std::mutex> l(model_->m);
  return model_->trusted;
}
int SimDesktop::prompts() const {
  std::lock_guard<std::mutex> l(model_->m);
  return model_->prompts;
}
std::optional<WindowInfo> SimDesktop::ownWindow(uint32_t number) const {
  for (const auto& w : ports_->desktop->windowList(false))
    if (w.number == number) return w;
  return std::nullopt;
}

void SimDesktop::failWindowCreation(bool fail) {
  std::lock_guard<std::mutex> l(model_->m);
  model_->windowCreationFails = fail;
}
void SimDesktop::failEventCreation(bool fail) {
  std::lock_guard<std::mutex> l(model_->m);
  model_->eventCreationFails = fail;
}
void SimDesktop::failWarp(bool fail) {
  std::lock_guard<std::mutex> l(model_->m);
  model_->warpFails = fail;
}

// --- Persistence --------------------------------------------------------------------------------

namespace {

pl::Value idList(const std::vector<uint64_t>& ids) {
  pl::Array a;
  for (uint64_t id : ids) a.push_back(pl::Value::uint64(id));
  return a;
}
std::vector<uint64_t> idsFrom(const pl::Value* v) {
  std::vector<uint64_t> out;
  if (const pl::Array* a = v ? v->asArray() : nullptr)
    for (const auto& e : *a)
      if (e.isNumber()) out.push_back(e.unsignedLongLongValue());
  return out;
}
pl::Value failureDict(const std::map<std::string, int32_t>& f) {
  pl::Dict d;
  for (const auto& [k, v] : f) d[k] = pl::Value::int32(v);
  return d;
}
std::map<std::string, int32_t> failuresFrom(const pl::Value* v) {
  std::map<std::string, int32_t> out;
  if (const pl::Dict* d = v ? v->asDict() : nullptr)
    for (const auto& [k, e] : *d)
      if (e.isNumber()) out[k] = e.intValue();
  return out;
}

}  // namespace

pl::Value SimDesktop::save() const {
  std::lock_guard<std::mutex> l(model_->m);
  const Model& m = *model_;
  pl::Dict root;
  pl::Array apps;
  for (const auto& [pid, a] : m.apps) {
    pl::Dict d;
    d["pid"] = pl::Value::int32(pid);
    d["bundleIdentifier"] = a.info.bundleIdentifier;
    d["bundleURL"] = a.info.bundleURL;
    d["executableURL"] = a.info.executableURL;
    d["name"] = a.info.localizedName;
    d["activationPolicy"] = pl::Value::int32(a.policy);
    d["hidden"] = a.hidden;
    d["element"] = pl::Value::uint64(a.element);
    d["windows"] = idList(a.windows);
    d["focused"] = pl::Value::uint64(a.focused);
    if (!a.failures.empty()) d["failures"] = failureDict(a.failures);
    apps.push_back(std::move(d));
  }
  root["applications"] = std::move(apps);
  pl::Array nodes;
  for (const auto& [id, n] : m.nodes) {
    bool isApp = false;
    for (const auto& [pid, a] : m.apps) isApp = isApp || a.element == id;
    if (isApp) continue;
    pl::Dict d;
    d["id"] = pl::Value::uint64(id);
    d["pid"] = pl::Value::int32(n.pid);
    d["parent"] = pl::Value::uint64(n.parent);
    d["role"] = n.role;
    if (n.subrole) d["subrole"] = *n.subrole;
    if (n.title) d["title"] = *n.title;
    if (n.frame) d["frame"] = rectValue(*n.frame);
    if (n.enabled) d["enabled"] = *n.enabled;
    if (n.minimized) d["minimized"] = true;
    if (!n.name.empty()) d["name"] = n.name;
    d["children"] = idList(n.children);
    if (!n.links.empty()) {
      pl::Dict links;
      for (const auto& [k, v] : n.links) links[k] = pl::Value::uint64(v);
      d["links"] = std::move(links);
    }
    if (!n.failures.empty()) d["failures"] = failureDict(n.failures);
    nodes.push_back(std::move(d));
  }
  root["elements"] = std::move(nodes);
  root["zOrder"] = idList(m.zOrder);
  root["frontmost"] = pl::Value::int32(m.frontmost);
  root["focusPid"] = pl::Value::int32(m.axFocusPid);
  root["nextId"] = pl::Value::uint64(m.nextId);
  root["nextPid"] = pl::Value::int32(m.nextPid);
  root["cursor"] = pl::Array{m.cursor.x, m.cursor.y};
  root["buttons"] = pl::Value::uint32(m.buttons);
  root["modifierFlags"] = pl::Value::uint64(m.flags);
  root["trusted"] = m.trusted;
  root["prompts"] = pl::Value::int32(m.prompts);
  pl::Array own;
  for (const auto& w : m.ownWindows) {
    pl::Dict d;
    d["number"] = pl::Value::uint32(w.number);
    d["pid"] = pl::Value::int32(w.ownerPid);
    d["frame"] = rectValue(w.frame);
    own.push_back(std::move(d));
  }
  root["processWindows"] = std::move(own);
  return root;
}

bool SimDesktop::load(const pl::Value& saved, std::string* error, bool keepLocal) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  if (!saved.isDict()) return fail("desktop is not a dictionary");
  Model fresh;
  for (const auto& a : saved.arrayFor("applications") ? *saved.arrayFor("applications") : pl::Array{}) {
    App app;
    auto pid = a.integerFor("pid");
    auto element = a.integerFor("element");
    if (!pid || !element) return fail("application without pid or element");
    app.info.processIdentifier = static_cast<int32_t>(*pid);
    app.info.bundleIdentifier = a.stringFor("bundleIdentifier").value_or("");
    app.info.bundleURL = a.stringFor("bundleURL").value_or("");
    app.info.executableURL = a.stringFor("executableURL").value_or("");
    app.info.localizedName = a.stringFor("name").value_or("");
    app.policy = static_cast<int32_t>(a.integerFor("activationPolicy").value_or(0));
    app.hidden = a.boolFor("hidden").value_or(false);
    app.element = static_cast<uint64_t>(*element);
    app.windows = idsFrom(a.find("windows"));
    app.focused = static_cast<uint64_t>(a.integerFor("focused").value_or(0));
    app.failures = failuresFrom(a.find("failures"));
    Node e;
    e.id = app.element;
    e.pid = app.info.processIdentifier;
    e.role = kAXApplicationRole;
    e.title = app.info.localizedName;
    fresh.nodes[e.id] = e;
    fresh.apps[app.info.processIdentifier] = std::move(app);
  }
  for (const auto& v : saved.arrayFor("elements") ? *saved.arrayFor("elements") : pl::Array{}) {
    Node n;
    auto id = v.integerFor("id");
    if (!id) return fail("element without id");
    n.id = static_cast<uint64_t>(*id);
    n.pid = static_cast<int32_t>(v.integerFor("pid").value_or(0));
    n.parent = static_cast<uint64_t>(v.integerFor("parent").value_or(0));
    n.role = v.stringFor("role").value_or("");
    n.subrole = v.stringFor("subrole");
    n.title = v.stringFor("title");
    n.frame = rectFrom(v.find("frame"));
    n.enabled = v.boolFor("enabled");
    n.minimized = v.boolFor("minimized").value_or(false);
    n.name = v.stringFor("name").value_or("");
    n.children = idsFrom(v.find("children"));
    if (const pl::Dict* links = v.dictFor("links"))
      for (const auto& [k, t] : *links)
        if (t.isNumber()) n.links[k] = t.unsignedLongLongValue();
    n.failures = failuresFrom(v.find("failures"));
    if (!n.name.empty()) fresh.names[n.name] = n.id;
    fresh.nodes[n.id] = std::move(n);
  }
  fresh.zOrder = idsFrom(saved.find("zOrder"));
  fresh.frontmost = static_cast<int32_t>(saved.integerFor("frontmost").value_or(0));
  fresh.axFocusPid = static_cast<int32_t>(saved.integerFor("focusPid").value_or(0));
  fresh.nextId = static_cast<uint64_t>(saved.integerFor("nextId").value_or(1000));
  fresh.nextPid = static_cast<int32_t>(saved.integerFor("nextPid").value_or(700));
  if (const pl::Array* c = saved.arrayFor("cursor"); c && c->size() == 2)
    fresh.cursor = Point{(*c)[0].doubleValue(), (*c)[1].doubleValue()};
  fresh.buttons = static_cast<uint32_t>(saved.integerFor("buttons").value_or(0));
  fresh.flags = static_cast<uint64_t>(saved.integerFor("modifierFlags").value_or(0));
  fresh.trusted = saved.boolFor("trusted").value_or(true);
  fresh.prompts = static_cast<int>(saved.integerFor("prompts").value_or(0));
  for (const auto& w : saved.arrayFor("processWindows") ? *saved.arrayFor("processWindows") : pl::Array{}) {
    auto frame = rectFrom(w.find("frame"));
    if (!frame) return fail("process window without frame");
    fresh.ownWindows.push_back({static_cast<uint32_t>(w.integerFor("number").value_or(0)),
                                static_cast<int32_t>(w.integerFor("pid").value_or(0)), *frame});
  }
  // Every id a list names must exist, so that no later step follows a dangling one.
  for (const auto& [id, n] : fresh.nodes)
    for (uint64_t c : n.children)
      if (!fresh.nodes.count(c)) return fail("element " + std::to_string(id) + " names a missing child");
  for (const auto& [pid, a] : fresh.apps)
    for (uint64_t w : a.windows)
      if (!fresh.nodes.count(w)) return fail("application " + std::to_string(pid) + " names a missing window");
  std::erase_if(fresh.zOrder, [&](uint64_t w) { return !fresh.nodes.count(w); });

  bool trustChanged;
  std::optional<RunningApplication> activated;
  {
    std::lock_guard<std::mutex> l(model_->m);
    Model& m = *model_;
    trustChanged = m.trusted != fresh.trusted;
    // Another process activated an application: this one hears of it as from the workspace.
    if (fresh.frontmost != m.frontmost && fresh.frontmost != 0)
      if (const App* a = fresh.app(fresh.frontmost)) activated = fresh.info(*a);
    m.nodes = std::move(fresh.nodes);
    m.apps = std::move(fresh.apps);
    m.names = std::move(fresh.names);
    m.zOrder = std::move(fresh.zOrder);
    m.frontmost = fresh.frontmost;
    m.axFocusPid = fresh.axFocusPid;
    m.nextId = std::max(m.nextId, fresh.nextId);
    m.nextPid = std::max(m.nextPid, fresh.nextPid);
    m.buttons = fresh.buttons;
    m.flags = fresh.flags;
    m.trusted = fresh.trusted;
    m.prompts = std::max(m.prompts, fresh.prompts);
    if (keepLocal) {
      std::erase_if(fresh.ownWindows, [&](const OwnWindow& w) { return w.ownerPid == m.ownPid; });
      for (const auto& w : m.ownWindows)
        if (w.ownerPid == m.ownPid) fresh.ownWindows.push_back(w);
    } else {
      m.cursor = fresh.cursor;
    }
    m.ownWindows = std::move(fresh.ownWindows);
  }
  if (activated) ports_->announceActivation(*activated);
  if (trustChanged && ports_->notifications) ports_->notifications->post(kAXApiChangedNotification, "", {});
  return true;
}

std::string SimDesktop::describe() const {
  std::lock_guard<std::mutex> l(model_->m);
  const Model& m = *model_;
  std::ostringstream out;
  auto rectText = [](const std::optional<Rect>& r) {
    if (!r) return std::string("(no frame)");
    std::ostringstream s;
    s << "(" << r->x << ", " << r->y << ", " << r->width << " x " << r->height << ")";
    return s.str();
  };
  std::function<void(uint64_t, int)> tree = [&](uint64_t id, int depth) {
    const Node* n = m.node(id);
    if (!n || depth > 32) return;
    if (depth > 0) out << std::string(2 * depth + 3, ' ');
    out << n->role;
    if (n->subrole) out << "/" << *n->subrole;
    if (n->title) out << " \"" << *n->title << "\"";
    out << " " << rectText(n->frame);
    if (n->enabled && !*n->enabled) out << " disabled";
    if (n->minimized) out << " minimized";
    for (const auto& [attr, to] : n->links) {
      const Node* t = m.node(to);
      if (t && attr != kAXCloseButtonAttribute && attr != kAXMinimizeButtonAttribute && attr != kAXZoomButtonAttribute)
        out << " " << attr << "=" << (t->title ? "\"" + *t->title + "\"" : std::to_string(to));
    }
    out << "  [" << id << "]\n";
    for (uint64_t c : n->children) tree(c, depth + 1);
  };
  for (const auto& [pid, a] : m.apps) {
    out << (pid == m.frontmost ? "* " : "  ") << a.info.localizedName << " (" << a.info.bundleIdentifier << ", pid " << pid
        << ", policy " << a.policy << (a.hidden ? ", hidden" : "") << (pid == m.axFocusPid ? ", has focus" : "") << ")\n";
    for (uint64_t w : a.windows) {
      if (a.focused && m.topWindowOf(a.focused) == w) out << "  >";
      else out << "   ";
      tree(w, 0);
    }
  }
  out << "cursor (" << m.cursor.x << ", " << m.cursor.y << ")";
  if (m.buttons) out << " buttons " << m.buttons;
  if (m.flags & kCGEventFlagMaskShift) out << " shift";
  out << "\naccessibility " << (m.trusted ? "trusted" : "not trusted") << "\n";
  for (const auto& w : m.ownWindows)
    out << "process window " << w.number << " of pid " << w.ownerPid << " " << rectText(w.frame) << "\n";
  return out.str();
}

// --- Fixtures -----------------------------------------------------------------------------------

std::optional<ElementSpec> elementSpecFromPlist(const pl::Value& v, std::string* error) {
  std::function<std::optional<ElementSpec>(const pl::Value&, int)> parse = [&](const pl::Value& e,
                                                                              int depth) -> std::optional<ElementSpec> {
    auto fail = [&](const std::string& why) -> std::optional<ElementSpec> {
      if (error) *error = why;
      return std::nullopt;
    };
    if (!e.isDict()) return fail("element is not a dictionary");
    if (depth > 48) return fail("elements nested too deeply");
    ElementSpec s;
    s.role = e.stringFor("role").value_or(kAXButtonRole);
    s.subrole = e.stringFor("subrole");
    s.title = e.stringFor("title");
    if (const pl::Value* f = e.find("frame")) {
      s.frame = rectFrom(f);
      if (!s.frame) return fail("frame must be [x, y, width, height]");
    }
    s.enabled = e.boolFor("enabled");
    if (!s.enabled && s.role == kAXButtonRole && !e.find("enabled")) s.enabled = true;
    s.name = e.stringFor("name").value_or("");
    if (const pl::Dict* links = e.dictFor("links"))
      for (const auto& [k, t] : *links)
        if (t.isString()) s.links[k] = *t.asString();
    s.failures = failuresFrom(e.find("failures"));
    if (const pl::Array* kids = e.arrayFor("children")) {
      for (const auto& k : *kids) {
        auto c = parse(k, depth + 1);
        if (!c) return std::nullopt;
        s.children.push_back(std::move(*c));
      }
    }
    return s;
  };
  return parse(v, 0);
}

uint64_t loadDesktopFixture(SimDesktop& desktop, const pl::Value& fixture, std::string* error) {
  const pl::Value* appV = fixture.find("application");
  const pl::Value* winV = fixture.find("window");
  if (!appV || !appV->isDict() || !winV) {
    if (error) *error = "fixture needs an application and a window";
    return 0;
  }
  auto spec = elementSpecFromPlist(*winV, error);
  if (!spec) return 0;
  RunningApplication app;
  app.localizedName = appV->stringFor("name").value_or("App");
  app.bundleIdentifier = appV->stringFor("bundleIdentifier").value_or("sim." + app.localizedName);
  app.bundleURL = "/Applications/" + app.localizedName + ".app";
  app.executableURL = app.bundleURL + "/Contents/MacOS/" + app.localizedName;
  auto pid = desktop.pidOf(app.bundleIdentifier);
  int32_t p = pid ? *pid
                  : desktop.launch(app, static_cast<int32_t>(appV->integerFor("activationPolicy").value_or(0)), false);
  uint64_t parent = 0;
  if (const pl::Value* host = fixture.find("host")) {
    auto hostSpec = elementSpecFromPlist(*host, error);
    if (!hostSpec) return 0;
    parent = desktop.openWindow(p, *hostSpec);
  }
  desktop.activate(p);
  return desktop.openWindow(p, *spec, parent);
}

}  // namespace vl::sim
