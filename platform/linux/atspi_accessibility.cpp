// AtspiAccessibility: AX attribute reads answered from AT-SPI objects through libatspi.
#include "platform/linux/atspi_accessibility.h"

#include <atspi/atspi.h>
#include <dbus/dbus.h>
#include <systemd/sd-bus.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <mutex>

#include "platform/linux/sd_event_runloop.h"

namespace vl::linux_ {

namespace {

// libatspi keeps one connection and one object cache per process, used by the snapping worker
// and the main thread alike: every call into it goes through this lock.
std::mutex& atspiLock() {
  static std::mutex m;
  return m;
}


// A counted reference to a GObject of libatspi.
template <class T>
struct GRef {
  T* p = nullptr;
  GRef() = default;
  explicit GRef(T* adopt) : p(adopt) {}
  GRef(const GRef& o) : p(o.p ? static_cast<T*>(g_object_ref(o.p)) : nullptr) {}
  GRef& operator=(GRef o) {
    std::swap(p, o.p);
    return *this;
  }
  ~GRef() {
    if (p) g_object_unref(p);
  }
  explicit operator bool() const { return p != nullptr; }
};
using Acc = GRef<AtspiAccessible>;

enum class Kind { SystemWide, Application, Element };

class AtspiElement : public AXObject {
 public:
  AtspiElement(const void* owner, Kind kind, Acc acc, int32_t pid)
      : owner(owner), kind(kind), acc(std::move(acc)), pid(pid) {}
  bool isEqual(const AXObject& other) const override {
    auto* o = dynamic_cast<const AtspiElement*>(&other);
    if (!o || o->owner != owner || o->kind != kind) return false;
    if (kind == Kind::SystemWide) return true;
    if (!acc || !o->acc) return !acc && !o->acc && pid == o->pid;
    return sameObject(acc.p, o->acc.p);
  }
  static bool sameObject(AtspiAccessible* a, AtspiAccessible* b) {
    if (a == b) return true;
    const AtspiObject* x = &a->parent;
    const AtspiObject* y = &b->parent;
    if (!x->app || !y->app || !x->path || !y->path || !x->app->bus_name || !y->app->bus_name) return false;
    return std::strcmp(x->path, y->path) == 0 && std::strcmp(x->app->bus_name, y->app->bus_name) == 0;
  }
  const void* owner;
  Kind kind;
  Acc acc;
  int32_t pid;
};

// Frees a GError and says whether there was one.
bool failed(GError*& e) {
  if (!e) return false;
  g_error_free(e);
  e = nullptr;
  return true;
}

bool hasState(AtspiAccessible* a, AtspiStateType s, bool* ok = nullptr) {
  AtspiStateSet* set = atspi_accessible_get_state_set(a);
  if (ok) *ok = set != nullptr;
  if (!set) return false;
  bool has = atspi_state_set_contains(set, s);
  g_object_unref(set);
  return has;
}

// Whether a holds every one of the states, with one call to its application.
bool hasStates(AtspiAccessible* a, std::initializer_list<AtspiStateType> all) {
  AtspiStateSet* set = atspi_accessible_get_state_set(a);
  if (!set) return false;
  bool has = true;
  for (AtspiStateType s : all) has = has && atspi_state_set_contains(set, s);
  g_object_unref(set);
  return has;
}

bool isWindowRole(AtspiRole r) {
  switch (r) {
    case ATSPI_ROLE_FRAME:
    case ATSPI_ROLE_WINDOW:
    case ATSPI_ROLE_DIALOG:
    case ATSPI_ROLE_ALERT:
    case ATSPI_ROLE_FILE_CHOOSER:
    case ATSPI_ROLE_COLOR_CHOOSER:
      return true;
    default:
      return false;
  }
}

bool isDialogRole(AtspiRole r) {
  return r == ATSPI_ROLE_DIALOG || r == ATSPI_ROLE_ALERT || r == ATSPI_ROLE_FILE_CHOOSER || r == ATSPI_ROLE_COLOR_CHOOSER;
}

std::string axRole(AtspiRole r) {
  if (isWindowRole(r)) return kAXWindowRole;
  switch (r) {
    case ATSPI_ROLE_PUSH_BUTTON:
      return kAXButtonRole;
    case ATSPI_ROLE_TOOL_BAR:
      return kAXToolbarRole;
    case ATSPI_ROLE_APPLICATION:
      return kAXApplicationRole;
    case ATSPI_ROLE_CHECK_BOX:
      return "AXCheckBox";
    case ATSPI_ROLE_RADIO_BUTTON:
      return "AXRadioButton";
    case ATSPI_ROLE_LABEL:
    case ATSPI_ROLE_STATIC:
      return "AXStaticText";
    case ATSPI_ROLE_TEXT:
    case ATSPI_ROLE_ENTRY:
    case ATSPI_ROLE_PASSWORD_TEXT:
      return "AXTextField";
    case ATSPI_ROLE_SLIDER:
      return "AXSlider";
    case ATSPI_ROLE_MENU_BAR:
      return "AXMenuBar";
    default:
      return "AXGroup";
  }
}

std::string takeString(gchar* s) {
  std::string out = s ? s : "";
  g_free(s);
  return out;
}

constexpr int kMaxDepth = 40;
constexpr int kMaxVisited = 4000;

}  // namespace

struct AtspiAccessibility::Impl {
  std::string userBusAddress;
  sd_bus* userBus = nullptr;
  AXElementRef systemWide;

  ~Impl() {
    if (userBus) sd_bus_flush_close_unref(userBus);
  }

  AXElementRef element(Acc a, int32_t pid = 0) const {
    return std::make_shared<AtspiElement>(this, Kind::Element, std::move(a), pid);
  }
  AXElementRef application(Acc a, int32_t pid) const {
    return std::make_shared<AtspiElement>(this, Kind::Application, std::move(a), pid);
  }

  static std::vector<Acc> children(AtspiAccessible* a) {
    std::vector<Acc> out;
    GError* e = nullptr;
    gint n = atspi_accessible_get_child_count(a, &e);
    if (failed(e) || n <= 0) return out;
    for (gint i = 0; i < n; ++i) {
      AtspiAccessible* c = atspi_accessible_get_child_at_index(a, i, &e);
      if (failed(e) || !c) continue;
      out.emplace_back(c);
    }
    return out;
  }

  // The applications on the bus; the cache is switched off for each so that states and
  // children are always read from the application (no event loop keeps a cache current here).
  static std::vector<Acc> apps() {
    AtspiAccessible* desktop = atspi_get_desktop(0);
    if (!desktop) return {};
    std::vector<Acc> out = children(desktop);
    g_object_unref(desktop);
    for (Acc& a : out) atspi_accessible_set_cache_mask(a.p, ATSPI_CACHE_NONE);
    return out;
  }

  static int32_t pidOf(AtspiAccessible* a) {
    GError* e = nullptr;
    guint pid = atspi_accessible_get_process_id(a, &e);
    return failed(e) ? 0 : static_cast<int32_t>(pid);
  }

  static Acc activeWindow(AtspiAccessible* app) {
    for (Acc& w : children(app))
      if (hasStates(w.p, {ATSPI_STATE_ACTIVE, ATSPI_STATE_SHOWING})) return w;
    return Acc();
  }

  static Acc focusedApp() {
    for (Acc& a : apps())
      if (activeWindow(a.p)) return a;
    return Acc();
  }

  static Acc appForPid(int32_t pid) {
    for (Acc& a : apps())
      if (pidOf(a.p) == pid) return a;
    return Acc();
  }

  static bool extents(AtspiAccessible* a, AtspiRect* out) {
    AtspiComponent* c = atspi_accessible_get_component_iface(a);
    if (!c) return false;
    GError* e = nullptr;
    AtspiRect* r = atspi_component_get_extents(c, ATSPI_COORD_TYPE_SCREEN, &e);
    g_object_unref(c);
    if (failed(e) || !r) return false;
    *out = *r;
    g_free(r);
    return true;
  }

  // The push button in the DEFAULT state that the user can see, depth first.
  static Acc defaultButton(AtspiAccessible* root) {
    int visited = 0;
    std::vector<std::pair<Acc, int>> stack;
    for (Acc& c : children(root)) stack.emplace_back(std::move(c), 1);
    std::reverse(stack.begin(), stack.end());
    while (!stack.empty() && visited < kMaxVisited) {
      auto [node, depth] = std::move(stack.back());
      stack.pop_back();
      ++visited;
      GError* e = nullptr;
      AtspiRole role = atspi_accessible_get_role(node.p, &e);
      if (failed(e)) continue;
      if (role == ATSPI_ROLE_PUSH_BUTTON) {
        AtspiStateSet* set = atspi_accessible_get_state_set(node.p);
        bool found = set && atspi_state_set_contains(set, ATSPI_STATE_IS_DEFAULT) &&
                     atspi_state_set_contains(set, ATSPI_STATE_SHOWING);
        if (set) g_object_unref(set);
        if (found) return node;
        continue;
      }
      // A window inside a window is a window of its own, with its own default button.
      if (depth >= kMaxDepth || isWindowRole(role)) continue;
      auto kids = children(node.p);
      for (auto it = kids.rbegin(); it != kids.rend(); ++it) stack.emplace_back(std::move(*it), depth + 1);
    }
    return Acc();
  }

  // The innermost element at a screen point inside a.
  static Acc deepestAt(Acc a, int x, int y) {
    for (int depth = 0; depth < kMaxDepth; ++depth) {
      AtspiComponent* c = atspi_accessible_get_component_iface(a.p);
      if (!c) break;
      GError* e = nullptr;
      AtspiAccessible* child = atspi_component_get_accessible_at_point(c, x, y, ATSPI_COORD_TYPE_SCREEN, &e);
      g_object_unref(c);
      if (failed(e) || !child) break;
      Acc next(child);
      if (AtspiElement::sameObject(next.p, a.p)) break;
      a = std::move(next);
    }
    return a;
  }

  static bool contains(const AtspiRect& r, int x, int y) {
    return r.width > 0 && r.height > 0 && x >= r.x && x < r.x + r.width && y >= r.y && y < r.y + r.height;
  }

  // The showing window of app under the point, the active one first.
  static Acc windowAt(AtspiAccessible* app, int x, int y) {
    auto windows = children(app);
    std::stable_partition(windows.begin(), windows.end(), [](const Acc& w) { return hasState(w.p, ATSPI_STATE_ACTIVE); });
    for (Acc& w : windows) {
      AtspiRect r;
      if (hasState(w.p, ATSPI_STATE_SHOWING) && extents(w.p, &r) && contains(r, x, y)) return w;
    }
    return Acc();
  }

  std::string untrustedReason() {
    if (!userBus) {
      int r;
      if (userBusAddress.empty()) {
        r = sd_bus_open_user(&userBus);
      } else {
        r = sd_bus_new(&userBus);
        if (r >= 0) r = sd_bus_set_address(userBus, userBusAddress.c_str());
        if (r >= 0) r = sd_bus_set_bus_client(userBus, 1);
        if (r >= 0) r = sd_bus_start(userBus);
      }
      if (r < 0) {
        userBus = sd_bus_unref(userBus);
        return std::string("the session bus cannot be reached: ") + std::strerror(-r);
      }
    }
    sd_bus_error e = SD_BUS_ERROR_NULL;
    int enabled = 0;
    int r = sd_bus_get_property_trivial(userBus, "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Status", "IsEnabled", &e,
                                        'b', &enabled);
    std::string why;
    if (r < 0) why = std::string("the AT-SPI bus does not answer: ") + (e.message ? e.message : std::strerror(-r));
    else if (!enabled) why = "assistive technologies are switched off on this desktop";
    sd_bus_error_free(&e);
    if (!why.empty()) return why;
    AtspiAccessible* desktop = atspi_get_desktop(0);
    if (!desktop) return "the AT-SPI registry does not answer";
    GError* ge = nullptr;
    atspi_accessible_get_child_count(desktop, &ge);
    g_object_unref(desktop);
    if (failed(ge)) return "the AT-SPI registry does not answer";
    return {};
  }
};

AtspiAccessibility::AtspiAccessibility(Key) : impl_(std::make_unique<Impl>()) {}

AtspiAccessibility::~AtspiAccessibility() {
  if (loop_ && watch_) loop_->unwatchFd(watch_);
  std::lock_guard<std::mutex> l(atspiLock());
  impl_.reset();
  // libatspi's connection stays for the process: it cannot be started a second time cleanly.
}

Result<std::unique_ptr<AtspiAccessibility>> AtspiAccessibility::create(const std::string& userBusAddress) {
  std::lock_guard<std::mutex> l(atspiLock());
  // 0: started now; 1: already started by an earlier adapter in this process.
  int r = atspi_init();
  if (r != 0 && r != 1) return Status::failure(r, "libatspi could not reach the AT-SPI bus");
  auto a = std::make_unique<AtspiAccessibility>(Key{});
  a->impl_->userBusAddress = userBusAddress;
  a->impl_->systemWide = std::make_shared<AtspiElement>(a->impl_.get(), Kind::SystemWide, Acc(), 0);
  return a;
}

Status AtspiAccessibility::attach(SdEventRunLoop& loop) {
  int fd = -1;
  {
    std::lock_guard<std::mutex> l(atspiLock());
    DBusConnection* c = atspi_get_a11y_bus();
    if (!c || !dbus_connection_get_unix_fd(c, &fd)) return Status::failure(1, "the AT-SPI connection has no descriptor");
  }
  watch_ = loop.watchFd(fd, [] {
    std::lock_guard<std::mutex> l(atspiLock());
    DBusConnection* c = atspi_get_a11y_bus();
    if (!c) return;
    // Reads what arrived and hands it to libatspi's own handlers; never blocks.
    if (dbus_connection_read_write(c, 0))
      while (dbus_connection_dispatch(c) == DBUS_DISPATCH_DATA_REMAINS) {
      }
  });
  if (!watch_) return Status::failure(1, "the AT-SPI connection cannot be watched");
  loop_ = &loop;
  return Status::success();
}

AXElementRef AtspiAccessibility::systemWideElement() { return impl_->systemWide; }

AXElementRef AtspiAccessibility::createApplication(int32_t pid) {
  std::lock_guard<std::mutex> l(atspiLock());
  return impl_->application(Impl::appForPid(pid), pid);
}

int32_t AtspiAccessibility::copyAttributeValue(const AXElementRef& element, std::string_view attr, AXValue* out) {
  auto* e = element ? dynamic_cast<const AtspiElement*>(element.get()) : nullptr;
  if (!e || e->owner != impl_.get() || !out) return kAXErrorIllegalArgument;
  std::lock_guard<std::mutex> l(atspiLock());
  Impl& m = *impl_;
  if (e->kind == Kind::SystemWide) {
    if (attr != kAXFocusedApplicationAttribute) return kAXErrorAttributeUnsupported;
    Acc app = Impl::focusedApp();
    if (!app) return kAXErrorNoValue;
    int32_t pid = Impl::pidOf(app.p);
    *out = m.application(std::move(app), pid);
    return kAXErrorSuccess;
  }
  if (e->kind == Kind::Application) {
    // A gone application fails the reads below: they say CannotComplete.
    if (!e->acc) return kAXErrorCannotComplete;
    AtspiAccessible* app = e->acc.p;
    if (attr == kAXRoleAttribute) {
      *out = std::string(kAXApplicationRole);
      return kAXErrorSuccess;
    }
    if (attr == kAXTitleAttribute) {
      GError* ge = nullptr;
      std::string name = takeString(atspi_accessible_get_name(app, &ge));
      if (failed(ge)) return kAXErrorCannotComplete;
      *out = std::move(name);
      return kAXErrorSuccess;
    }
    // An application with windows none of which shows is hidden.
    if (attr == kAXHiddenAttribute) {
      auto windows = Impl::children(app);
      bool hidden = !windows.empty();
      for (Acc& w : windows)
        if (hasState(w.p, ATSPI_STATE_SHOWING)) hidden = false;
      *out = hidden;
      return kAXErrorSuccess;
    }
    if (attr == kAXFocusedWindowAttribute) {
      Acc w = Impl::activeWindow(app);
      if (!w) return kAXErrorNoValue;
      *out = m.element(std::move(w), e->pid);
      return kAXErrorSuccess;
    }
    if (attr == kAXWindowsAttribute || attr == kAXChildrenAttribute) {
      std::vector<AXElementRef> v;
      for (Acc& w : Impl::children(app)) v.push_back(m.element(std::move(w), e->pid));
      *out = std::move(v);
      return kAXErrorSuccess;
    }
    return kAXErrorAttributeUnsupported;
  }

  AtspiAccessible* a = e->acc.p;
  GError* ge = nullptr;
  // Every read is a round trip to the application: the reads that need no role come first, and
  // a gone element fails them by itself.
  if (attr == kAXTitleAttribute) {
    std::string name = takeString(atspi_accessible_get_name(a, &ge));
    if (failed(ge)) return kAXErrorInvalidUIElement;
    *out = std::move(name);
    return kAXErrorSuccess;
  }
  if (attr == kAXPositionAttribute || attr == kAXSizeAttribute) {
    AtspiRect r;
    if (!Impl::extents(a, &r)) return kAXErrorNoValue;
    if (attr == kAXPositionAttribute) *out = Point{static_cast<double>(r.x), static_cast<double>(r.y)};
    else *out = Size{static_cast<double>(r.width), static_cast<double>(r.height)};
    return kAXErrorSuccess;
  }
  if (attr == kAXEnabledAttribute) {
    AtspiStateSet* set = atspi_accessible_get_state_set(a);
    if (!set) return kAXErrorInvalidUIElement;
    bool defunct = atspi_state_set_contains(set, ATSPI_STATE_DEFUNCT);
    bool enabled = atspi_state_set_contains(set, ATSPI_STATE_ENABLED) && atspi_state_set_contains(set, ATSPI_STATE_SENSITIVE);
    g_object_unref(set);
    if (defunct) return kAXErrorInvalidUIElement;
    *out = enabled;
    return kAXErrorSuccess;
  }
  if (attr == kAXChildrenAttribute) {
    std::vector<AXElementRef> v;
    for (Acc& c : Impl::children(a)) v.push_back(m.element(std::move(c), e->pid));
    *out = std::move(v);
    return kAXErrorSuccess;
  }
  if (attr == kAXParentAttribute) {
    AtspiAccessible* p = atspi_accessible_get_parent(a, &ge);
    if (failed(ge) || !p) return kAXErrorNoValue;
    Acc parent(p);
    if (atspi_accessible_get_role(p, &ge) == ATSPI_ROLE_APPLICATION && !failed(ge)) {
      *out = m.application(std::move(parent), e->pid);
    } else {
      (void)failed(ge);
      *out = m.element(std::move(parent), e->pid);
    }
    return kAXErrorSuccess;
  }

  AtspiRole role = atspi_accessible_get_role(a, &ge);
  if (failed(ge)) return kAXErrorInvalidUIElement;
  const bool window = isWindowRole(role);
  if (attr == kAXRoleAttribute) {
    *out = axRole(role);
    return kAXErrorSuccess;
  }
  if (attr == kAXSubroleAttribute) {
    if (!window) return kAXErrorNoValue;
    bool dialog = isDialogRole(role) || hasState(a, ATSPI_STATE_MODAL);
    *out = std::string(dialog ? kAXDialogSubrole : kAXStandardWindowSubrole);
    return kAXErrorSuccess;
  }
  if (window && attr == kAXMinimizedAttribute) {
    // A window closed but kept by its program no longer shows: to the user it is gone.
    AtspiStateSet* set = atspi_accessible_get_state_set(a);
    if (!set) return kAXErrorInvalidUIElement;
    bool showing = atspi_state_set_contains(set, ATSPI_STATE_SHOWING) && !atspi_state_set_contains(set, ATSPI_STATE_DEFUNCT);
    bool iconified = atspi_state_set_contains(set, ATSPI_STATE_ICONIFIED);
    g_object_unref(set);
    if (!showing && !iconified) return kAXErrorInvalidUIElement;
    *out = iconified;
    return kAXErrorSuccess;
  }
  if (window && attr == kAXDefaultButtonAttribute) {
    Acc b = Impl::defaultButton(a);
    if (!b) return kAXErrorNoValue;
    *out = m.element(std::move(b), e->pid);
    return kAXErrorSuccess;
  }
  // The title-bar buttons belong to the window manager and are not on the bus; the cancel
  // button is found by the caller's own search.
  if (window && (attr == kAXCancelButtonAttribute || attr == kAXCloseButtonAttribute ||
                 attr == kAXMinimizeButtonAttribute || attr == kAXZoomButtonAttribute))
    return kAXErrorNoValue;
  return kAXErrorAttributeUnsupported;
}

int32_t AtspiAccessibility::copyElementAtPosition(const AXElementRef& element, float x, float y, AXElementRef* out) {
  auto* e = element ? dynamic_cast<const AtspiElement*>(element.get()) : nullptr;
  if (!e || e->owner != impl_.get() || !out) return kAXErrorIllegalArgument;
  std::lock_guard<std::mutex> l(atspiLock());
  int ix = static_cast<int>(x), iy = static_cast<int>(y);
  std::vector<Acc> apps;
  if (e->kind == Kind::SystemWide) {
    apps = Impl::apps();
    // The frontmost application's windows lie above the others.
    std::stable_partition(apps.begin(), apps.end(), [](const Acc& a) { return static_cast<bool>(Impl::activeWindow(a.p)); });
  } else if (e->kind == Kind::Application) {
    if (!e->acc) return kAXErrorCannotComplete;
    apps.push_back(e->acc);
  } else {
    apps.push_back(e->acc);  // hit test inside one element
  }
  for (Acc& app : apps) {
    Acc w = e->kind == Kind::Element ? app : Impl::windowAt(app.p, ix, iy);
    if (!w) continue;
    Acc hit = Impl::deepestAt(std::move(w), ix, iy);
    *out = impl_->element(std::move(hit), Impl::pidOf(app.p));
    return kAXErrorSuccess;
  }
  return kAXErrorNoValue;
}

int32_t AtspiAccessibility::getPid(const AXElementRef& element, int32_t* pid) {
  auto* e = element ? dynamic_cast<const AtspiElement*>(element.get()) : nullptr;
  if (!e || e->owner != impl_.get() || !pid) return kAXErrorIllegalArgument;
  if (e->kind == Kind::SystemWide) {
    *pid = 0;
    return kAXErrorSuccess;
  }
  if (e->kind == Kind::Application && !e->acc) {
    *pid = e->pid;
    return kAXErrorSuccess;
  }
  std::lock_guard<std::mutex> l(atspiLock());
  int32_t p = Impl::pidOf(e->acc.p);
  if (p == 0) return kAXErrorInvalidUIElement;
  *pid = p;
  return kAXErrorSuccess;
}

bool AtspiAccessibility::isProcessTrusted() { return untrustedReason().empty(); }

std::string AtspiAccessibility::untrustedReason() {
  std::lock_guard<std::mutex> l(atspiLock());
  return impl_->untrustedReason();
}

std::vector<AtspiApplicationInfo> AtspiAccessibility::applications() {
  std::lock_guard<std::mutex> l(atspiLock());
  std::vector<AtspiApplicationInfo> out;
  for (Acc& a : Impl::apps()) {
    AtspiApplicationInfo info;
    info.pid = Impl::pidOf(a.p);
    if (info.pid <= 0) continue;
    GError* ge = nullptr;
    info.name = takeString(atspi_accessible_get_name(a.p, &ge));
    (void)failed(ge);
    for (Acc& w : Impl::children(a.p)) {
      if (!hasState(w.p, ATSPI_STATE_SHOWING)) continue;
      info.hasWindows = true;
      if (hasState(w.p, ATSPI_STATE_ACTIVE)) info.active = true;
    }
    out.push_back(std::move(info));
  }
  return out;
}

}  // namespace vl::linux_
