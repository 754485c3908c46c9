// The default and cancel button search over accessibility elements.
#include "agent/snapping/button_search.h"

#include <cfloat>
#include <new>

#include "agent/snapping/ax_helpers.h"

namespace vl {

namespace {

constexpr int kMaxDescentDepth = 9;
constexpr double kMinButtonWidth = 20.0;

// The candidate buffer: made on first use with room for 10, emptied by each search. Each
// thread has its own, so a search on the worker never meets one on the main thread.
std::vector<ButtonInfo>* candidateBuffer() {
  thread_local std::vector<ButtonInfo>* buffer = nullptr;
  thread_local std::vector<ButtonInfo> storage;
  if (!buffer) {
    try {
      storage.reserve(10);
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
    buffer = &storage;
  }
  return buffer;
}

// Decodes one UTF-8 code point; a byte that starts no valid sequence stands for itself,
// outside the range of code points, so that it never folds.
uint32_t nextCodePoint(const std::string& s, size_t& i) {
  auto b = static_cast<unsigned char>(s[i]);
  size_t extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : 0;
  bool ok = extra > 0 && i + extra < s.size();
  for (size_t k = 1; ok && k <= extra; ++k) ok = (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
  if (!ok) {
    ++i;
    return b < 0x80 ? b : 0x110000u + b;
  }
  uint32_t cp = b & (0x3F >> extra);
  for (size_t k = 1; k <= extra; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
  i += extra + 1;
  return cp;
}

uint32_t fold(uint32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;                 // Latin-1
  if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131) return c | 1;  // Latin Extended-A pairs
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 32;              // Greek
  if (c >= 0x410 && c <= 0x42F) return c + 32;                            // Cyrillic
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  return c;
}

}  // namespace

bool equalsIgnoringCase(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size())
    if (fold(nextCodePoint(a, i)) != fold(nextCodePoint(b, j))) return false;
  return i == a.size() && j == b.size();
}

const std::vector<ButtonInfo>& lastButtonCandidates() {
  static const std::vector<ButtonInfo> none;
  std::vector<ButtonInfo>* b = candidateBuffer();
  return b ? *b : none;
}

bool QS844btnElementInfo(Accessibility* ax, Screens* screens, const AXElementRef& element, const Rect& windowRect, const std::string& cancelTitle,
                         ButtonInfo* out) {
  std::string role;
  if (axString(ax, element, kAXRoleAttribute, &role) != kAXErrorSuccess || role != kAXButtonRole) return false;
  // Title-bar buttons and other special buttons carry a subrole.
  AXValue subrole;
  if (axCopy(ax, element, kAXSubroleAttribute, &subrole) == kAXErrorSuccess) return false;
  AXValue sizeValue;
  if (axCopy(ax, element, kAXSizeAttribute, &sizeValue) != kAXErrorSuccess) return false;
  auto* size = std::get_if<Size>(&sizeValue);
  if (!size || size->width < kMinButtonWidth) return false;
  Point centre;
  if (QS842elementPosition(ax, element, &centre) != 0 || !rectContainsPoint(windowRect, centre)) return false;
  std::string title;
  if (axString(ax, element, kAXTitleAttribute, &title) != kAXErrorSuccess || title.empty()) return false;

  ButtonInfo info;
  info.x = centre.x;
  info.y = centre.y;
  if (equalsIgnoringCase(title, "OK")) info.cls = kButtonClassOK;
  else if (equalsIgnoringCase(title, "Cancel") || equalsIgnoringCase(title, cancelTitle)) info.cls = kButtonClassCancel;
  else info.cls = kButtonClassOther;

  bool enabled = false;
  info.usable = axBool(ax, element, kAXEnabledAttribute, &enabled) == kAXErrorSuccess && enabled &&
                QS842withinScreen(screens, centre.x, centre.y);
  if (info.usable) {
    if (ax) {
      AXElementRef hit;
      if (ax->copyElementAtPosition(ax->systemWideElement(), static_cast<float>(centre.x),
                                    static_cast<float>(centre.y), &hit) == kAXErrorSuccess)
        info.usable = axEqual(hit, element);
    }
  }
  *out = info;
  return true;
}

bool QS844collectBtnElementInfo(Accessibility* ax, Screens* screens, const AXElementRef& element, int depth, int kind, const Rect& windowRect,
                                const std::string& cancelTitle, std::vector<ButtonInfo>& list) {
  std::string role;
  if (axString(ax, element, kAXRoleAttribute, &role) == kAXErrorSuccess && role == kAXToolbarRole) return false;
  if (depth <= kMaxDescentDepth) {
    AXValue kids;
    if (axCopy(ax, element, kAXChildrenAttribute, &kids) == kAXErrorSuccess) {
      auto* children = std::get_if<std::vector<AXElementRef>>(&kids);
      if (children && !children->empty()) {
        for (const AXElementRef& child : *children)
          if (QS844collectBtnElementInfo(ax, screens, child, depth + 1, kind, windowRect, cancelTitle, list)) return true;
        return false;
      }
    }
  }
  ButtonInfo info;
  if (!QS844btnElementInfo(ax, screens, element, windowRect, cancelTitle, &info)) return false;
  list.push_back(info);
  return info.cls == kind;
}

int32_t QS844buttonPosition(Accessibility* ax, Screens* screens, const AXElementRef& window, int kind, Point* out, const std::string& cancelTitle) {
  if (!window || !out) return 8440027;
  std::vector<ButtonInfo>* list = candidateBuffer();
  if (!list) return 8440032;
  list->clear();

  std::string appName;
  AXElementRef parent;
  if (axElement(ax, window, kAXParentAttribute, &parent) != kAXErrorSuccess ||
      axString(ax, parent, kAXTitleAttribute, &appName) != kAXErrorSuccess)
    appName.clear();
  // These draw their own dialogs; only the attributes can be trusted there.
  if (appName == "Chrome" || appName == "1Password mini") return 8440092;
  if (appName != "Finder" && appName != "SecurityAgent") {
    std::string subrole;
    if (axString(ax, window, kAXSubroleAttribute, &subrole) == kAXErrorSuccess && subrole == kAXStandardWindowSubrole)
      return 8440092;
  }
  Rect windowRect;
  if (QS842elementRect(ax, window, &windowRect) != 0) return 8440096;

  bool found = false;
  try {
    found = QS844collectBtnElementInfo(ax, screens, window, 0, kind, windowRect, cancelTitle, *list);
  } catch (const std::bad_alloc&) {
    return 8440032;
  }
  if (list->empty()) return 8440104;

  const ButtonInfo* chosen = nullptr;
  if (found) {
    chosen = &list->back();
  } else {
    size_t corner = 0;
    for (size_t i = 1; i < list->size(); ++i)
      if ((*list)[i].x + (*list)[i].y > (*list)[corner].x + (*list)[corner].y) corner = i;
    size_t neighbour = corner;
    double best = -FLT_MAX;
    for (size_t i = 0; i < list->size(); ++i) {
      if (i == corner || (*list)[i].y != (*list)[corner].y) continue;
      if ((*list)[i].x > best) {
        best = (*list)[i].x;
        neighbour = i;
      }
    }
    const ButtonInfo& c = (*list)[corner];
    const ButtonInfo& n = (*list)[neighbour];
    if (kind == kButtonKindDefault) {
      if (c.cls != kButtonClassCancel) chosen = &c;
      else if (n.cls != kButtonClassCancel) chosen = &n;
      else return 8440144;
    } else if (kind == kButtonKindCancel) {
      if (n.cls != kButtonClassOK) chosen = &n;
      else if (c.cls != kButtonClassOK) chosen = &c;
      else return 8440151;
    } else {
      return 8440154;
    }
  }
  if (!chosen->usable) return 8440163;
  *out = Point{chosen->x, chosen->y};
  return 0;
}

}  // namespace vl
