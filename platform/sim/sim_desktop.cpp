// SimDesktop: what tests and the world do to the simulated desktop: applications, windows and
// controls, the cursor, trust and injected faults.
#include "platform/sim/sim_desktop.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "platform/sim/sim_desktop_model.h"

namespace vl::sim {

using namespace desktop_detail;

// --- SimDesktop ------------------------------------------------------------------------------

SimDesktop::SimDesktop(RunLoop* runLoop, Notifications* notifications)
    : model_(std::make_shared<Model>()), ports_(std::make_unique<Ports>(*this, runLoop, notifications)) {
  // A reset of the permission is announced and kept as `trust off` does it.
  ports_->ax = makeAccessibility(model_, [this] {
    if (ports_->notifications)
      ports_->notifications->post(kAXApiChangedNotification, "", {}).ignore(kTrustAnnouncementIsAHint);
    ports_->notifyChanged();
  });
  ports_->cursor = makeCursor(model_, *ports_);
  ports_->desktop = makeDesktopPort(model_, *ports_);
  ports_->sleeper = makeVirtualSleeper(model_, *ports_);
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
  if (ports_->notifications) ports_->notifications->post(kAXApiChangedNotification, "", {}).ignore(kTrustAnnouncementIsAHint);
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

}  // namespace vl::sim
