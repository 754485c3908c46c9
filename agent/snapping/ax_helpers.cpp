// Accessibility helpers over the Accessibility, Desktop and Screens ports.
#include "agent/snapping/ax_helpers.h"

#include "core/errors/error_stack.h"
#include "platform/api/desktop.h"
#include "platform/api/screens.h"

namespace vl {

int32_t axCopy(Accessibility* ax, const AXElementRef& element, std::string_view attribute, AXValue* out) {
  if (!ax) return kAXErrorFailure;
  if (!element) return kAXErrorIllegalArgument;
  return ax->copyAttributeValue(element, attribute, out);
}

int32_t axString(Accessibility* ax, const AXElementRef& element, std::string_view attribute, std::string* out) {
  AXValue v;
  int32_t err = axCopy(ax, element, attribute, &v);
  if (err) return err;
  auto* s = std::get_if<std::string>(&v);
  if (!s) return kAXErrorIllegalArgument;
  *out = std::move(*s);
  return kAXErrorSuccess;
}

int32_t axBool(Accessibility* ax, const AXElementRef& element, std::string_view attribute, bool* out) {
  AXValue v;
  int32_t err = axCopy(ax, element, attribute, &v);
  if (err) return err;
  if (auto* b = std::get_if<bool>(&v)) *out = *b;
  else if (auto* d = std::get_if<double>(&v)) *out = *d != 0;
  else return kAXErrorIllegalArgument;
  return kAXErrorSuccess;
}

int32_t axElement(Accessibility* ax, const AXElementRef& element, std::string_view attribute, AXElementRef* out) {
  AXValue v;
  int32_t err = axCopy(ax, element, attribute, &v);
  if (err) return err;
  auto* e = std::get_if<AXElementRef>(&v);
  if (!e || !*e) return kAXErrorIllegalArgument;
  *out = std::move(*e);
  return kAXErrorSuccess;
}

int32_t QS842copyFocusedElement(Accessibility* ax, Desktop* desktop, AXElementRef* outApp, AXElementRef* outWindow) {
  if (outApp) outApp->reset();
  if (outWindow) outWindow->reset();
  if (!ax) return kAXErrorFailure;
  AXElementRef app;
  int32_t err = axElement(ax, ax->systemWideElement(), kAXFocusedApplicationAttribute, &app);
  if (err) {
    // The focused application cannot be asked for: the frontmost application stands in.
    std::optional<RunningApplication> front = desktop ? desktop->frontmostApplication() : std::nullopt;
    if (front && front->processIdentifier != 0) {
      app = ax->createApplication(front->processIdentifier);
      err = kAXErrorSuccess;
    }
  }
  if (!app) return err ? err : kAXErrorFailure;
  AXElementRef window;
  err = axElement(ax, app, kAXFocusedWindowAttribute, &window);
  if (outApp) *outApp = std::move(app);
  if (outWindow) *outWindow = std::move(window);
  return err;
}

int32_t QS842elementPosition(Accessibility* ax, const AXElementRef& element, Point* out) {
  if (!element || !out) return 8420023;
  AXValue v;
  if (axCopy(ax, element, kAXPositionAttribute, &v) != kAXErrorSuccess) return 8420027;
  auto* pos = std::get_if<Point>(&v);
  if (!pos) return 8420031;
  Point centre = *pos;
  AXValue s;
  if (axCopy(ax, element, kAXSizeAttribute, &s) == kAXErrorSuccess) {
    if (auto* size = std::get_if<Size>(&s)) {
      centre.x += size->width / 2;
      centre.y += size->height / 2;
    }
  }
  *out = centre;
  return 0;
}

int32_t QS842elementRect(Accessibility* ax, const AXElementRef& element, Rect* out) {
  if (!element || !out) return 8420116;
  AXValue v;
  if (axCopy(ax, element, kAXPositionAttribute, &v) != kAXErrorSuccess) return 8420120;
  auto* pos = std::get_if<Point>(&v);
  if (!pos) return 8420124;
  AXValue s;
  if (axCopy(ax, element, kAXSizeAttribute, &s) != kAXErrorSuccess) return 8420128;
  auto* size = std::get_if<Size>(&s);
  if (!size) return 8420132;
  *out = Rect{pos->x, pos->y, size->width, size->height};
  return 0;
}

bool QS842withinScreen(Screens* screens, double x, double y) {
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

int32_t QS842elementAttrPosition(Accessibility* ax, Screens* screens, ErrorStack& errors, const AXElementRef& window,
                                 std::string_view attribute, Point* out) {
  AXElementRef control;
  int32_t err = axElement(ax, window, attribute, &control);
  if (err) {
    QS810stackError(errors, nullptr, err);
    return 8420064;
  }
  bool enabled = true;
  if (axBool(ax, control, kAXEnabledAttribute, &enabled) == kAXErrorSuccess && !enabled) {
    QS810stackError(errors, nullptr, 8420078);
    return 8420082;
  }
  Point centre;
  if (int32_t e = QS842elementPosition(ax, control, &centre)) {
    QS810stackError(errors, nullptr, e);
    return 8420082;
  }
  if (ax) {
    AXElementRef hit;
    if (ax->copyElementAtPosition(ax->systemWideElement(), static_cast<float>(centre.x), static_cast<float>(centre.y),
                                  &hit) == kAXErrorSuccess) {
      Point hitCentre;
      // Something else lies over the control's centre: a click there would not reach it.
      if (QS842elementPosition(ax, hit, &hitCentre) == 0 && !(hitCentre == centre)) return 8420092;
    }
  }
  Rect windowRect;
  if (QS842elementRect(ax, window, &windowRect) != 0 || !rectContainsPoint(windowRect, centre)) return 8420099;
  if (!QS842withinScreen(screens, centre.x, centre.y)) return 8420102;
  *out = centre;
  return 0;
}

}  // namespace vl
