// LinuxDesktop: applications from the Linux workspace, activations from AT-SPI and the X root
// window, and the X window list, over XCB (each request's error comes back to its caller, so a
// window that vanishes between two requests never ends the process).
#include "platform/linux/linux_desktop.h"

#include <systemd/sd-bus.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "platform/linux/linux_workspace.h"
#include "platform/linux/sd_event_runloop.h"

namespace vl::linux_ {

namespace {

constexpr const char* kWindowEvents = "org.a11y.atspi.Event.Window";
constexpr const char* kActivateEvent = "window:activate";

template <class T>
struct Freed {
  T* p = nullptr;
  ~Freed() { std::free(p); }
};

xcb_atom_t intern(xcb_connection_t* c, const char* name) {
  auto cookie = xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name);
  Freed<xcb_intern_atom_reply_t> r{xcb_intern_atom_reply(c, cookie, nullptr)};
  return r.p ? r.p->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

// A property of 32-bit items of the given type; empty when it is missing or of another kind.
std::vector<uint32_t> valuesOf(xcb_get_property_reply_t* r, xcb_atom_t type) {
  std::vector<uint32_t> out;
  if (!r || r->format != 32 || r->type != type) return out;
  const auto* v = static_cast<const uint32_t*>(xcb_get_property_value(r));
  out.assign(v, v + xcb_get_property_value_length(r) / 4);
  return out;
}

std::vector<uint32_t> property32(xcb_connection_t* c, uint32_t window, xcb_atom_t atom, xcb_atom_t type) {
  Freed<xcb_get_property_reply_t> r{xcb_get_property_reply(c, xcb_get_property(c, 0, window, atom, type, 0, 4096), nullptr)};
  return valuesOf(r.p, type);
}

std::string commandName(int32_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(in, name);
  return name;
}

xcb_connection_t* connect(const std::string& display, int* screen) {
  xcb_connection_t* c = xcb_connect(display.empty() ? nullptr : display.c_str(), screen);
  if (xcb_connection_has_error(c)) {
    xcb_disconnect(c);
    return nullptr;
  }
  return c;
}

// Where the AT-SPI bus is: named in the environment, else announced on the session bus.
std::string atspiBusAddress(const std::string& userBusAddress, std::string* why) {
  if (const char* a = std::getenv("AT_SPI_BUS_ADDRESS"); a && *a) return a;
  sd_bus* bus = nullptr;
  int r = 0;
  if (userBusAddress.empty()) {
    r = sd_bus_open_user(&bus);
  } else {
    r = sd_bus_new(&bus);
    if (r >= 0) r = sd_bus_set_address(bus, userBusAddress.c_str());
    if (r >= 0) r = sd_bus_set_bus_client(bus, 1);
    if (r >= 0) r = sd_bus_start(bus);
  }
  std::string address;
  if (r >= 0) {
    sd_bus_error e = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    const char* a = nullptr;
    r = sd_bus_call_method(bus, "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", &e, &reply, "");
    if (r >= 0) r = sd_bus_message_read(reply, "s", &a);
    if (r >= 0 && a) address = a;
    else *why = std::string("the AT-SPI bus is not announced: ") + (e.message ? e.message : std::strerror(-r));
    sd_bus_error_free(&e);
    sd_bus_message_unref(reply);
  } else {
    *why = std::string("the session bus cannot be reached: ") + std::strerror(-r);
  }
  sd_bus_flush_close_unref(bus);
  return address;
}

int onWindowActivate(sd_bus_message* m, void* self, sd_bus_error*) {
  const char* sender = sd_bus_message_get_sender(m);
  if (!sender) return 0;
  sd_bus_creds* creds = nullptr;
  pid_t pid = 0;
  // The bus daemon vouches for the sender's process, whatever the event's contents say.
  if (sd_bus_get_name_creds(sd_bus_message_get_bus(m), sender, SD_BUS_CREDS_PID, &creds) >= 0)
    (void)sd_bus_creds_get_pid(creds, &pid);
  sd_bus_creds_unref(creds);
  static_cast<LinuxDesktop*>(self)->activated(static_cast<int32_t>(pid));
  return 0;
}

}  // namespace

struct LinuxDesktop::Atoms {
  xcb_atom_t clientListStacking = XCB_ATOM_NONE;
  xcb_atom_t activeWindow = XCB_ATOM_NONE;
  xcb_atom_t wmPid = XCB_ATOM_NONE;
  xcb_atom_t windowType = XCB_ATOM_NONE;
  xcb_atom_t windowTypeDesktop = XCB_ATOM_NONE;
};

LinuxDesktop::LinuxDesktop(Key, LinuxWorkspace& workspace) : workspace_(workspace), atoms_(std::make_unique<Atoms>()) {}

LinuxDesktop::~LinuxDesktop() {
  if (loop_ && xWatch_) loop_->unwatchFd(xWatch_);
  if (atspiBus_) {
    // Sent without waiting for the answer (the flush below delivers it): a registry that hangs
    // must not hold up the agent's quit.
    if (registered_)
      (void)sd_bus_call_method_async(atspiBus_, nullptr, "org.a11y.atspi.Registry", "/org/a11y/atspi/registry",
                                     "org.a11y.atspi.Registry", "DeregisterEvent", nullptr, nullptr, "s", kActivateEvent);
    sd_bus_slot_unref(activateMatch_);
    sd_bus_detach_event(atspiBus_);
    sd_bus_flush_close_unref(atspiBus_);
  }
  // The windows of this process go with its connection.
  if (query_) xcb_disconnect(query_);
  if (events_) xcb_disconnect(events_);
}

std::unique_ptr<LinuxDesktop> LinuxDesktop::create(LinuxWorkspace& workspace, const LinuxDesktopOptions& o) {
  auto d = std::make_unique<LinuxDesktop>(Key{}, workspace);
  if (o.useX) {
    int screen = 0;
    d->query_ = connect(o.display, &screen);
    if (d->query_) {
      xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(d->query_));
      for (int i = 0; i < screen && it.rem; ++i) xcb_screen_next(&it);
      d->root_ = it.data->root;
      d->rootHeight_ = it.data->height_in_pixels;
      Atoms& a = *d->atoms_;
      a.clientListStacking = intern(d->query_, "_NET_CLIENT_LIST_STACKING");
      a.activeWindow = intern(d->query_, "_NET_ACTIVE_WINDOW");
      a.wmPid = intern(d->query_, "_NET_WM_PID");
      a.windowType = intern(d->query_, "_NET_WM_WINDOW_TYPE");
      a.windowTypeDesktop = intern(d->query_, "_NET_WM_WINDOW_TYPE_DESKTOP");
      d->events_ = connect(o.display, &screen);
      if (d->events_) {
        // The window manager announces the active window on the root: its changes wake the loop.
        uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_change_window_attributes(d->events_, d->root_, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(d->events_);
      }
    } else {
      d->notes_.push_back("windows: no X server answers at " + (o.display.empty() ? std::string("$DISPLAY") : o.display) +
                          "; no window list and no flag window");
    }
  }
  if (o.useAtspi) {
    std::string why;
    std::string address = atspiBusAddress(o.userBusAddress, &why);
    sd_bus* bus = nullptr;
    int r = address.empty() ? -ENOENT : sd_bus_new(&bus);
    if (r >= 0) r = sd_bus_set_address(bus, address.c_str());
    if (r >= 0) r = sd_bus_set_bus_client(bus, 1);
    if (r >= 0) r = sd_bus_start(bus);
    if (r >= 0) r = sd_bus_match_signal(bus, &d->activateMatch_, nullptr, nullptr, kWindowEvents, "Activate",
                                        onWindowActivate, d.get());
    if (r >= 0) {
      d->atspiBus_ = bus;
      // Toolkits send only the events some client registered for.
      sd_bus_error e = SD_BUS_ERROR_NULL;
      int rr = sd_bus_call_method(bus, "org.a11y.atspi.Registry", "/org/a11y/atspi/registry", "org.a11y.atspi.Registry",
                                  "RegisterEvent", &e, nullptr, "s", kActivateEvent);
      d->registered_ = rr >= 0;
      if (rr < 0)
        d->notes_.push_back(std::string("application activation: the AT-SPI registry refused the window events (") +
                            (e.message ? e.message : std::strerror(-rr)) + ")");
      sd_bus_error_free(&e);
    } else {
      d->activateMatch_ = sd_bus_slot_unref(d->activateMatch_);
      sd_bus_flush_close_unref(bus);
      if (why.empty()) why = std::string("the AT-SPI bus cannot be reached: ") + std::strerror(-r);
      d->notes_.push_back("application activation: " + why);
    }
  }
  return d;
}

Status LinuxDesktop::attach(SdEventRunLoop& loop) {
  loop_ = &loop;
  if (atspiBus_) {
    int r = sd_bus_attach_event(atspiBus_, loop.event(), 0);
    if (r < 0) return Status::failure(-r, std::string("the AT-SPI events cannot be watched: ") + std::strerror(-r));
  }
  if (events_) {
    xWatch_ = loop.watchFd(xcb_get_file_descriptor(events_), [this] { handleXEvents(); });
    if (!xWatch_) return Status::failure(1, "the X connection cannot be watched");
    handleXEvents();  // what arrived before the watch began
  }
  return Status::success();
}

void LinuxDesktop::handleXEvents() {
  bool changed = false;
  for (;;) {
    while (xcb_generic_event_t* ev = xcb_poll_for_event(events_)) {
      if ((ev->response_type & 0x7f) == XCB_PROPERTY_NOTIFY &&
          reinterpret_cast<xcb_property_notify_event_t*>(ev)->atom == atoms_->activeWindow)
        changed = true;
      std::free(ev);
    }
    if (xcb_connection_has_error(events_)) {
      // A closed connection stays readable: watching it on would spin the loop.
      if (loop_ && xWatch_) loop_->unwatchFd(xWatch_);
      xWatch_ = 0;
      return;
    }
    if (!changed) return;
    changed = false;
    int32_t pid = activeWindowPid(events_);
    // No active window: the next activation counts even when it is the same program's.
    if (pid <= 0) lastActivated_ = 0;
    else activated(pid);
  }
}

void LinuxDesktop::activated(int32_t pid) {
  // One notification per change of program, as the workspace sends it: a program's second
  // window, or both sources telling the same, make no new one.
  if (pid <= 0 || pid == lastActivated_) return;
  lastActivated_ = pid;
  if (observers_.empty()) return;
  auto app = runningApplication(pid);
  if (!app) return;
  app->active = true;
  std::vector<Token> tokens;
  for (const auto& [t, fn] : observers_) tokens.push_back(t);
  for (Token t : tokens)
    if (auto it = observers_.find(t); it != observers_.end()) it->second(*app);
}

int32_t LinuxDesktop::activeWindowPid(xcb_connection_t* c) const {
  auto active = property32(c, root_, atoms_->activeWindow, XCB_ATOM_WINDOW);
  if (active.empty() || active[0] == 0) return 0;
  auto pid = property32(c, active[0], atoms_->wmPid, XCB_ATOM_CARDINAL);
  return pid.empty() ? 0 : static_cast<int32_t>(pid[0]);
}

std::optional<RunningApplication> LinuxDesktop::complete(std::optional<RunningApplication> app, bool showsWindows) const {
  if (!app) return app;
  const bool shownEntry = !app->bundleIdentifier.empty() && app->activationPolicy == kActivationPolicyRegular;
  app->activationPolicy = shownEntry && (showsWindows || ownsViewableWindow(app->processIdentifier))
                              ? kActivationPolicyRegular
                              : kActivationPolicyAccessory;
  return app;
}

std::optional<RunningApplication> LinuxDesktop::runningApplication(int32_t pid) const {
  // With a window manager X says which program is active and which shows windows, in a few
  // round trips; without one, AT-SPI is asked (a call to every program on its bus).
  int32_t activePid = 0;
  bool xKnowsActive = false;
  if (query_) {
    std::lock_guard<std::mutex> l(xLock_);
    Freed<xcb_get_property_reply_t> r{xcb_get_property_reply(
        query_, xcb_get_property(query_, 0, root_, atoms_->activeWindow, XCB_ATOM_WINDOW, 0, 1), nullptr)};
    xKnowsActive = r.p && r.p->type == XCB_ATOM_WINDOW;
    if (xKnowsActive) activePid = activeWindowPid(query_);
  }
  if (xKnowsActive) {
    auto app = workspace_.runningApplication(pid);
    if (app) app->active = pid == activePid;
    return complete(std::move(app), false);
  }
  bool shows = false;
  return complete(workspace_.runningApplication(pid, &shows), shows);
}

std::optional<RunningApplication> LinuxDesktop::frontmostApplication() const {
  int32_t pid = 0;
  if (query_) {
    std::lock_guard<std::mutex> l(xLock_);
    pid = activeWindowPid(query_);
  }
  if (pid <= 0) {
    auto front = workspace_.frontmostApplication();
    if (!front) return std::nullopt;
    pid = front->processIdentifier;
  }
  auto app = runningApplication(pid);
  if (app) app->active = true;
  return app;
}

std::vector<RunningApplication> LinuxDesktop::runningApplications(const std::string& bundleID) const {
  std::vector<RunningApplication> out;
  if (bundleID.empty()) return out;
  for (const RunningApplication& a : workspace_.runningApplications())
    if (a.bundleIdentifier == bundleID)
      if (auto app = runningApplication(a.processIdentifier)) out.push_back(std::move(*app));
  return out;
}

int32_t LinuxDesktop::activationPolicy(int32_t pid) const {
  auto app = runningApplication(pid);
  return app ? app->activationPolicy : -1;
}

Desktop::Token LinuxDesktop::observeActivation(ActivationHandler handler) {
  Token t = next_++;
  observers_[t] = std::move(handler);
  return t;
}

void LinuxDesktop::unobserveActivation(Token token) { observers_.erase(token); }

bool LinuxDesktop::ownsViewableWindow(int32_t pid) const {
  if (pid <= 0 || !query_) return false;
  for (const WindowInfo& w : windowList(false))
    if (w.ownerPid == pid && w.onScreen) return true;
  return false;
}

std::vector<WindowInfo> LinuxDesktop::windowList(bool excludeDesktopElements) const {
  std::vector<WindowInfo> out;
  if (!query_) return out;
  std::lock_guard<std::mutex> l(xLock_);
  xcb_connection_t* c = query_;
  const Atoms& a = *atoms_;
  // The manager's list runs bottom to top; the port's runs front to back.
  std::vector<uint32_t> managed = property32(c, root_, a.clientListStacking, XCB_ATOM_WINDOW);
  std::reverse(managed.begin(), managed.end());
  std::vector<uint32_t> windows = managed;
  const size_t managedCount = windows.size();
  if (Freed<xcb_query_tree_reply_t> tree{xcb_query_tree_reply(c, xcb_query_tree(c, root_), nullptr)}; tree.p) {
    const xcb_window_t* kids = xcb_query_tree_children(tree.p);
    for (int i = xcb_query_tree_children_length(tree.p) - 1; i >= 0; --i)
      if (std::find(managed.begin(), managed.end(), kids[i]) == managed.end()) windows.push_back(kids[i]);
  }
  // All requests first, then the replies: one wait for the whole list, not one per window.
  struct Pending {
    xcb_get_property_cookie_t pid, type;
    xcb_get_geometry_cookie_t geometry;
    xcb_get_window_attributes_cookie_t attributes;
    xcb_translate_coordinates_cookie_t origin;
  };
  std::vector<Pending> pending;
  pending.reserve(windows.size());
  for (uint32_t w : windows)
    pending.push_back({xcb_get_property(c, 0, w, a.wmPid, XCB_ATOM_CARDINAL, 0, 1),
                       xcb_get_property(c, 0, w, a.windowType, XCB_ATOM_ATOM, 0, 32), xcb_get_geometry(c, w),
                       xcb_get_window_attributes(c, w), xcb_translate_coordinates(c, w, root_, 0, 0)});
  std::map<int32_t, std::string> names;
  for (size_t i = 0; i < windows.size(); ++i) {
    const Pending& p = pending[i];
    // Every reply is taken, even of a window that is skipped, so none is left queued.
    Freed<xcb_get_property_reply_t> pid{xcb_get_property_reply(c, p.pid, nullptr)};
    Freed<xcb_get_property_reply_t> type{xcb_get_property_reply(c, p.type, nullptr)};
    Freed<xcb_get_geometry_reply_t> geometry{xcb_get_geometry_reply(c, p.geometry, nullptr)};
    Freed<xcb_get_window_attributes_reply_t> attributes{xcb_get_window_attributes_reply(c, p.attributes, nullptr)};
    Freed<xcb_translate_coordinates_reply_t> origin{xcb_translate_coordinates_reply(c, p.origin, nullptr)};
    // Gone meanwhile.
    if (!geometry.p || !attributes.p || !origin.p) continue;
    auto pids = valuesOf(pid.p, XCB_ATOM_CARDINAL);
    // A window of the root that names no process is a window manager's frame or a helper.
    if (i >= managedCount && pids.empty()) continue;
    if (excludeDesktopElements) {
      auto types = valuesOf(type.p, XCB_ATOM_ATOM);
      if (std::find(types.begin(), types.end(), a.windowTypeDesktop) != types.end()) continue;
    }
    WindowInfo info;
    info.number = windows[i];
    info.ownerPid = pids.empty() ? 0 : static_cast<int32_t>(pids[0]);
    if (info.ownerPid > 0) {
      auto [it, fresh] = names.try_emplace(info.ownerPid);
      if (fresh) it->second = commandName(info.ownerPid);
      info.ownerName = it->second;
    }
    info.bounds = Rect{static_cast<double>(origin.p->dst_x), static_cast<double>(origin.p->dst_y),
                       static_cast<double>(geometry.p->width), static_cast<double>(geometry.p->height)};
    info.onScreen = attributes.p->map_state == XCB_MAP_STATE_VIEWABLE;
    out.push_back(std::move(info));
  }
  return out;
}

namespace {

// An X rectangle from a frame in the port's coordinates; false when X cannot hold it.
bool xRect(Rect frame, int rootHeight, int16_t* x, int16_t* y, uint16_t* w, uint16_t* h) {
  if (!std::isfinite(frame.x) || !std::isfinite(frame.y) || !std::isfinite(frame.width) || !std::isfinite(frame.height))
    return false;
  const double top = rootHeight - (frame.y + frame.height);
  if (frame.width < 1 || frame.height < 1 || frame.width > 32767 || frame.height > 32767) return false;
  if (std::abs(frame.x) > 32767 || std::abs(top) > 32767) return false;
  *x = static_cast<int16_t>(std::lround(frame.x));
  *y = static_cast<int16_t>(std::lround(top));
  *w = static_cast<uint16_t>(std::lround(frame.width));
  *h = static_cast<uint16_t>(std::lround(frame.height));
  return true;
}

}  // namespace

uint32_t LinuxDesktop::createWindow(Rect contentRect, bool borderless, bool buffered, bool defer) {
  (void)borderless, (void)buffered, (void)defer;  // never shown: no frame, no backing
  if (!query_) return 0;
  std::lock_guard<std::mutex> l(xLock_);
  int16_t x, y;
  uint16_t w, h;
  if (!xRect(contentRect, rootHeight_, &x, &y, &w, &h)) return 0;
  xcb_window_t window = xcb_generate_id(query_);
  // Override-redirect: no window manager frames, lists or shows it.
  uint32_t overrideRedirect = 1;
  xcb_void_cookie_t made = xcb_create_window_checked(query_, XCB_COPY_FROM_PARENT, window, root_, x, y, w, h, 0,
                                                     XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                                                     XCB_CW_OVERRIDE_REDIRECT, &overrideRedirect);
  if (xcb_generic_error_t* e = xcb_request_check(query_, made)) {
    std::free(e);
    return 0;
  }
  // Owned by this process in every window list.
  uint32_t pid = static_cast<uint32_t>(::getpid());
  xcb_change_property(query_, XCB_PROP_MODE_REPLACE, window, atoms_->wmPid, XCB_ATOM_CARDINAL, 32, 1, &pid);
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) == 0)
    xcb_change_property(query_, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLIENT_MACHINE, XCB_ATOM_STRING, 8,
                        static_cast<uint32_t>(std::strlen(host)), host);
  xcb_flush(query_);
  ownWindows_.insert(window);
  return window;
}

Status LinuxDesktop::setWindowFrame(uint32_t window, Rect frame) {
  if (!query_) return Status::failure(1, "no X display");
  std::lock_guard<std::mutex> l(xLock_);
  if (!ownWindows_.count(window)) return Status::failure(1, "window " + std::to_string(window) + " is not this process's");
  int16_t x, y;
  uint16_t w, h;
  if (!xRect(frame, rootHeight_, &x, &y, &w, &h)) return Status::failure(1, "a frame X cannot hold");
  const uint32_t values[] = {static_cast<uint32_t>(x), static_cast<uint32_t>(y), w, h};
  xcb_void_cookie_t done = xcb_configure_window_checked(
      query_, window, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT,
      values);
  if (xcb_generic_error_t* e = xcb_request_check(query_, done)) {
    int code = e->error_code;
    std::free(e);
    ownWindows_.erase(window);
    return Status::failure(1, "the X server refused the frame (error " + std::to_string(code) + ")");
  }
  return Status::success();
}

}  // namespace vl::linux_
