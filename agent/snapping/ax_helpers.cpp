// Accessibility helpers over the Accessibility, Desktop, Screens and UserDefaults ports.
#include "agent/snapping/ax_helpers.h"

#include "core/errors/error_stack.h"
#include "platform/api/desktop.h"
#include "platform/api/platform.h"
#include "platform/api/screens.h"
#include "platform/api/user_defaults.h"

namespace vl {

int32_t axCopy(const Platform& p, const AXElementRef& element, std::string_view attribute, AXValue* out) {
  Accessibility* ax = p.accessibility;
  if (!ax) return kAXErrorFailure;
  if (!element) return kAXErrorIllegalArgument;
  return ax->copyAttributeValue(element, attribute, out);
}

int32_t axString(const Platform& p, const AXElementRef& element, std::string_view attribute, std::string* out) {
  AXValue v;
  int32_t err = axCopy(p, element, attribute, &v);
  if (err) return err;
  auto* s = std::get_if<std::string>(&v);
  if (!s) return kAXErrorIllegalArgument;
  *out = std::move(*s);
  return kAXErrorSuccess;
}

int32_t axBool(const Platform& p, const AXElementRef& element, std::string_view attribute, bool* out) {
  AXValue v;
  int32_t err = axCopy(p, element, attribute, &v);
  if (err) return err;
  if (auto* b = std::get_if<bool>(&v)) *out = *b;
  else if (auto* d = std::get_if<double>(&v)) *out = *d != 0;
  else return kAXErrorIllegalArgument;
  return kAXErrorSuccess;
}

int32_t axElement(const Platform& p, const AXElementRef& element, std::string_view attribute, AXElementRef* out) {
  AXValue v;
  int32_t err = axCopy(p, element, attribute, &v);
  if (err) return err;
  auto* e = std::get_if<AXElementRef>(&v);
  if (!e || !*e) return kAXErrorIllegalArgument;
  *out = std::move(*e);
  return kAXErrorSuccess;
}

int32_t QS842copyFocusedElement(const Platform& p, AXElementRef* outApp, AXElementRef* outWindow) {
  if (outApp) outApp->reset();
  if (outWindow) outWindow->reset();
  if (!p.accessibility) return kAXErrorFailure;
  AXElementRef app;
  int32_t err = axElement(p, p.accessibility->systemWideElement(), kAXFocusedApplicationAttribute, &app);
  if (err) {
    // The focused application cannot be asked for: the frontmost application stands in.
    std::optional<RunningApplication> front = p.desktop ? p.desktop->frontmostApplication() : std::nullopt;
    if (front && front->processIdentifier != 0) {
      app = p.accessibility->createApplication(front->processIdentifier);
      err = kAXErrorSuccess;
    }
  }
  if (!app) return err ? err : kAXErrorFailure;
  AXElementRef window;
  err = axElement(p, app, kAXFocusedWindowAttribute, &window);
  if (outApp) *outApp = std::move(app);
  if (outWindow) *outWindow = std::move(window);
  return err;
}

int32_t QS842elementPosition(const Platform& p, const AXElementRef& element, Point* out) {
  if (!element || !out) return 8420023;
  AXValue v;
  if (axCopy(p, element, kAXPositionAttribute, &v) != kAXErrorSuccess) return 8420027;
  auto* pos = std::get_if<Point>(&v);
  if (!pos) return 8420031;
  Point centre = *pos;
  AXValue s;
  if (axCopy(p, element, kAXSizeAttribute, &s) == kAXErrorSuccess) {
    if (auto* size = std::get_if<Size>(&s)) {
      centre.x += size->width / 2;
      centre.y += size->height / 2;
    }
  }
  *out = centre;
  return 0;
}

int32_t QS842elementRect(const Platform& p, const AXElementRef& element, Rect* out) {
  if (!element || !out) return 8420116;
  AXValue v;
  if (axCopy(p, element, kAXPositionAttribute, &v) != kAXErrorSuccess) return 8420120;
  auto* pos = std::get_if<Point>(&v);
  if (!pos) return 8420124;
  AXValue s;
  if (axCopy(p, element, kAXSizeAttribute, &s) != kAXErrorSuccess) return 8420128;
  auto* size = std::get_if<Size>(&s);
  if (!size) return 8420132;
  *out = Rect{pos->x, pos->y, size->width, size->height};
  return 0;
}

bool QS842withinScreen(const Platform& p, double x, double y) {
  Screens* screens = p.screens;
  if (!screens) return false;
  std::vector<Rect> frames = screens->frames();
  if (frames.empty()) return false;
  const Rect& main = frames.front();
  for (const Rect& f : frames) {
    // Screens are laid out with the origin at the bottom left of the main screen.
    Rect flipped{f.x, (main.y + main.height) - (f.y + f.height), f.width, f.height};
    if (rectContainsPoint(flipped, Point{x, y})) return true;
  }
  return false;
}

int32_t QS842elementAttrPosition(const Platform& p, ErrorStack& errors, const AXElementRef& window, std::string_view attribute, Point* out) {
  AXElementRef control;
  int32_t err = axElement(p, window, attribute, &control);
  if (err) {
    QS810stackError(errors, nullptr, err);
    return 8420064;
  }
  bool enabled = true;
  if (axBool(p, control, kAXEnabledAttribute, &enabled) == kAXErrorSuccess && !enabled) {
    QS810stackError(errors, nullptr, 8420078);
    return 8420082;
  }
  Point centre;
  if (int32_t e = QS842elementPosition(p, control, &centre)) {
    QS810stackError(errors, nullptr, e);
    return 8420082;
  }
  if (Accessibility* ax = p.accessibility) {
    AXElementRef hit;
    if (ax->copyElementAtPosition(ax->systemWideElement(), static_cast<float>(centre.x), static_cast<float>(centre.y),
                                  &hit) == kAXErrorSuccess) {
      Point hitCentre;
      // Something else lies over the control's centre: a click there would not reach it.
      if (QS842elementPosition(p, hit, &hitCentre) == 0 && !(hitCentre == centre)) return 8420092;
    }
  }
  Rect windowRect;
  if (QS842elementRect(p, window, &windowRect) != 0 || !rectContainsPoint(windowRect, centre)) return 8420099;
  if (!QS842withinScreen(p, centre.x, centre.y)) return 8420102;
  *out = centre;
  return 0;
}

}  // namespace vl
