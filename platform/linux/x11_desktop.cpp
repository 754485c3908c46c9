// X11 adapters: RandR screens and change events, and the pointer through XTest or XWarpPointer.
#include "platform/linux/x11_desktop.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xrandr.h>
#include <poll.h>

// Xlib names its status type with a macro that hides the project's own Status.
#undef Status

#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/linux/sd_event_runloop.h"

namespace vl::linux_ {

namespace {

// Modifier masks of the event flags.
constexpr uint64_t kFlagControl = 1ull << 18;
constexpr uint64_t kFlagAlternate = 1ull << 19;
constexpr uint64_t kFlagCommand = 1ull << 20;

Display* openDisplay(const std::string& name) { return XOpenDisplay(name.empty() ? nullptr : name.c_str()); }

std::string displayText(const std::string& name) {
  if (!name.empty()) return name;
  const char* env = std::getenv("DISPLAY");
  return env ? env : "(DISPLAY is not set)";
}

}  // namespace

std::vector<Rect> framesFromRootRects(const std::vector<Rect>& rootRects, int primaryIndex) {
  if (rootRects.empty()) return {};
  size_t main = 0;
  if (primaryIndex >= 0 && static_cast<size_t>(primaryIndex) < rootRects.size() && rootRects[primaryIndex].y == 0) {
    main = static_cast<size_t>(primaryIndex);
  } else {
    for (size_t i = 1; i < rootRects.size(); ++i) {
      const Rect &a = rootRects[i], &b = rootRects[main];
      if (a.y < b.y || (a.y == b.y && a.x < b.x)) main = i;
    }
  }
  // The port's global coordinates: y up from the bottom of the main screen.
  double h = rootRects[main].y + rootRects[main].height;
  std::vector<Rect> out;
  auto flip = [h](const Rect& r) { return Rect{r.x, h - (r.y + r.height), r.width, r.height}; };
  out.push_back(flip(rootRects[main]));
  for (size_t i = 0; i < rootRects.size(); ++i)
    if (i != main) out.push_back(flip(rootRects[i]));
  return out;
}

// --- Screens ---------------------------------------------------------------------------------

X11Screens::X11Screens(Key) {}

X11Screens::~X11Screens() {
  if (loop_ && watch_) loop_->unwatchFd(watch_);
  if (dpy_) XCloseDisplay(dpy_);
}

Result<std::unique_ptr<X11Screens>> X11Screens::create(const std::string& displayName) {
  auto s = std::make_unique<X11Screens>(Key{});
  s->dpy_ = openDisplay(displayName);
  if (!s->dpy_) return Status::failure(1, "no X server answers at " + displayText(displayName));
  int event = 0, error = 0;
  if (XRRQueryExtension(s->dpy_, &event, &error)) {
    s->randrEvent_ = event;
    XRRSelectInput(s->dpy_, DefaultRootWindow(s->dpy_),
                   RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask | RROutputChangeNotifyMask);
  }
  XFlush(s->dpy_);
  s->readFrames();
  return s;
}

void X11Screens::readFrames() {
  std::vector<Rect> rects;
  int primary = -1;
  Window root = DefaultRootWindow(dpy_);
  if (randrEvent_ >= 0) {
    if (XRRScreenResources* res = XRRGetScreenResourcesCurrent(dpy_, root)) {
      RROutput primaryOutput = XRRGetOutputPrimary(dpy_, root);
      for (int i = 0; i < res->ncrtc; ++i) {
        XRRCrtcInfo* crtc = XRRGetCrtcInfo(dpy_, res, res->crtcs[i]);
        if (!crtc) continue;
        if (crtc->mode != None && crtc->width > 0 && crtc->height > 0) {
          for (int o = 0; o < crtc->noutput; ++o)
            if (crtc->outputs[o] == primaryOutput) primary = static_cast<int>(rects.size());
          Rect r{static_cast<double>(crtc->x), static_cast<double>(crtc->y), static_cast<double>(crtc->width),
                 static_cast<double>(crtc->height)};
          // Mirrored outputs share one rectangle: one screen.
          if (std::find(rects.begin(), rects.end(), r) == rects.end()) rects.push_back(r);
        }
        XRRFreeCrtcInfo(crtc);
      }
      XRRFreeScreenResources(res);
    }
  }
  if (rects.empty()) {
    // No RandR outputs (or none lit): the root window is the one screen.
    int screen = DefaultScreen(dpy_);
    rects.push_back(Rect{0, 0, static_cast<double>(DisplayWidth(dpy_, screen)),
                         static_cast<double>(DisplayHeight(dpy_, screen))});
  }
  std::lock_guard<std::mutex> l(m_);
  frames_ = framesFromRootRects(rects, primary);
}

std::vector<Rect> X11Screens::frames() const {
  std::lock_guard<std::mutex> l(m_);
  return frames_;
}

Screens::Token X11Screens::observeChanges(std::function<void()> fn) {
  Token t = next_++;
  observers_[t] = std::move(fn);
  return t;
}

void X11Screens::unobserve(Token t) { observers_.erase(t); }

int X11Screens::handleEvents() {
  bool changed = false;
  while (XPending(dpy_) > 0) {
    XEvent ev;
    XNextEvent(dpy_, &ev);
    if (randrEvent_ < 0) continue;
    if (ev.type == randrEvent_ + RRScreenChangeNotify) {
      XRRUpdateConfiguration(&ev);
      changed = true;
    } else if (ev.type == randrEvent_ + RRNotify) {
      changed = true;
    }
  }
  if (!changed) return 0;
  readFrames();
  // One report for a burst: a resize brings a screen, a CRTC and an output event together.
  std::vector<Token> tokens;
  for (const auto& [t, fn] : observers_) tokens.push_back(t);
  for (Token t : tokens)
    if (auto it = observers_.find(t); it != observers_.end()) it->second();
  return 1;
}

Status X11Screens::attach(SdEventRunLoop& loop) {
  watch_ = loop.watchFd(ConnectionNumber(dpy_), [this] { handleEvents(); });
  if (!watch_) return Status::failure(1, "the X connection cannot be watched");
  loop_ = &loop;
  // Events Xlib read before the watch began would otherwise wait for the next one.
  handleEvents();
  return Status::success();
}

int X11Screens::processPending(double timeout) {
  if (XPending(dpy_) == 0) {
    pollfd p{ConnectionNumber(dpy_), POLLIN, 0};
    poll(&p, 1, static_cast<int>(timeout * 1000));
  }
  return handleEvents();
}

// --- Cursor ----------------------------------------------------------------------------------

X11Cursor::X11Cursor(Key) {}

X11Cursor::~X11Cursor() {
  if (dpy_) XCloseDisplay(dpy_);
}

Result<std::unique_ptr<X11Cursor>> X11Cursor::create(const std::string& displayName) {
  auto c = std::make_unique<X11Cursor>(Key{});
  c->dpy_ = openDisplay(displayName);
  if (!c->dpy_) return Status::failure(1, "no X server answers at " + displayText(displayName));
  int event = 0, error = 0, major = 0, minor = 0;
  c->xtest_ = XTestQueryExtension(c->dpy_, &event, &error, &major, &minor);
  return c;
}

X11Cursor::Pointer X11Cursor::query() const {
  Pointer p;
  Window root = 0, child = 0;
  int wx = 0, wy = 0;
  std::lock_guard<std::mutex> l(m_);
  p.ok = XQueryPointer(dpy_, DefaultRootWindow(dpy_), &root, &child, &p.x, &p.y, &wx, &wy, &p.mask);
  return p;
}

bool X11Cursor::moveTo(Point to) {
  // Whole pixels, rounded down, so that a point read back compares equal in its integer part.
  int x = static_cast<int>(std::floor(to.x)), y = static_cast<int>(std::floor(to.y));
  std::lock_guard<std::mutex> l(m_);
  int screen = DefaultScreen(dpy_);
  if (x < 0 || y < 0 || x >= DisplayWidth(dpy_, screen) || y >= DisplayHeight(dpy_, screen)) return false;
  if (xtest_) XTestFakeMotionEvent(dpy_, -1, x, y, CurrentTime);
  else XWarpPointer(dpy_, None, DefaultRootWindow(dpy_), 0, 0, 0, 0, x, y);
  // Round trip: the move has happened when this returns, so a read that follows sees it.
  XSync(dpy_, False);
  return true;
}

int32_t X11Cursor::warpMouseCursorPosition(Point p) { return moveTo(p) ? kCGErrorSuccess : kCGErrorFailure; }

Point X11Cursor::location() const {
  Pointer p = query();
  return Point{static_cast<double>(p.x), static_cast<double>(p.y)};
}

uint32_t X11Cursor::currentButtonState() const {
  Pointer p = query();
  uint32_t bits = 0;
  if (p.mask & Button1Mask) bits |= 1u << 0;  // left
  if (p.mask & Button3Mask) bits |= 1u << 1;  // right
  if (p.mask & Button2Mask) bits |= 1u << 2;  // middle
  if (p.mask & Button4Mask) bits |= 1u << 3;
  if (p.mask & Button5Mask) bits |= 1u << 4;
  // The wheel's buttons are pressed and released in one go: only held buttons count.
  return bits & 0x7u;
}

uint64_t X11Cursor::hidModifierFlags() const {
  Pointer p = query();
  uint64_t flags = 0;
  if (p.mask & ShiftMask) flags |= kCGEventFlagMaskShift;
  if (p.mask & ControlMask) flags |= kFlagControl;
  if (p.mask & Mod1Mask) flags |= kFlagAlternate;
  if (p.mask & Mod4Mask) flags |= kFlagCommand;
  return flags;
}

std::optional<MouseEvent> X11Cursor::createMouseEvent(int type, Point location, int button) {
  MouseEvent e;
  e.type = type;
  e.button = button;
  e.location = location;
  return e;
}

void X11Cursor::postEvent(int tap, const MouseEvent& event) {
  // Only motion is posted by this system; it reaches programs as the pointer's own motion.
  if (event.type == kCGEventMouseMoved) (void)moveTo(event.location);
}

void X11Cursor::setLocalEventsSuppressionInterval(double seconds) {
  std::lock_guard<std::mutex> l(m_);
  suppression_ = seconds;
}

}  // namespace vl::linux_
