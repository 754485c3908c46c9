// The speed-help window: help texts as resources, controls placed on the text's markers.
#include "pane/editing/speed_help_view.h"

#include "core/plist/file_input.h"
#include "core/plist/number_text.h"
#include "core/store/cursor_speed_record.h"
#include "platform/api/paths.h"
#include "platform/api/system_info.h"

namespace vl {

namespace {
// Help texts are a few kilobytes; a larger file is not a help text.
constexpr size_t kMaxHelpBytes = 1024 * 1024;

size_t utf16Length(std::string_view utf8) {
  size_t n = 0;
  for (unsigned char c : utf8) {
    if ((c & 0xC0) == 0x80) continue;  // continuation byte
    n += c >= 0xF0 ? 2 : 1;            // four-byte sequences are surrogate pairs
  }
  return n;
}
}  // namespace

std::optional<std::string> helpResourcePath(const Platform& p, const std::string& name) {
  if (!p.paths) return std::nullopt;
  std::vector<std::string> langs;
  if (p.system) {
    for (const std::string& l : p.system->preferredLanguages()) {
      langs.push_back(l);
      if (l.size() > 2) langs.push_back(l.substr(0, 2));
    }
  }
  langs.push_back("en");
  for (const std::string& l : langs) {
    std::string path = p.paths->resources() + "/" + l + ".lproj/" + name + ".html";
    if (pl::pathStatError(path) == 0) return path;
  }
  return std::nullopt;
}

std::optional<std::string> loadHelpText(const Platform& p, const std::string& name) {
  std::optional<std::string> path = helpResourcePath(p, name);
  if (!path) return std::nullopt;
  std::string text;
  if (!pl::readRegularFile(*path, kMaxHelpBytes, &text)) return std::nullopt;
  return text;
}

VL250SpeedHelpViewClass::VL250SpeedHelpViewClass(SpeedEditingHost& prefPane, PaneWindow& paneWindow,
                                                 SpeedHelpWindow& window)
    : prefPane_(prefPane), paneWindow_(paneWindow), window_(window) {}

std::optional<size_t> VL250SpeedHelpViewClass::utf16Find(std::string_view text, std::string_view needle) {
  if (needle.empty()) return std::nullopt;
  size_t at = text.find(needle);
  if (at == std::string_view::npos) return std::nullopt;
  return utf16Length(text.substr(0, at));
}

HelpPoint VL250SpeedHelpViewClass::boundingRectForString(
    std::string_view marker, std::string_view text,
    const std::function<std::optional<HelpPoint>(size_t, size_t)>& markCharacters) {
  std::optional<size_t> at = utf16Find(text, marker);
  if (!at || !markCharacters) return kOffscreenPoint;
  return markCharacters(*at, utf16Length(marker)).value_or(kOffscreenPoint);
}

void VL250SpeedHelpViewClass::show() {
  window_.orderFront();
  std::string text = window_.helpText();
  auto mark = [this](size_t position, size_t length) { return window_.markCharacters(position, length); };
  window_.placeControl(HelpControl::ZeroButton, boundingRectForString(kZeroButtonMarker, text, mark));
  window_.placeControl(HelpControl::ShortBox, boundingRectForString(kShortBoxMarker, text, mark));
  window_.placeControl(HelpControl::LongBox, boundingRectForString(kLongBoxMarker, text, mark));
  clearAllButtons();
}

void VL250SpeedHelpViewClass::setTrackingSpeedtoZero() {
  std::vector<QS805CursorSpeedClass*> selected = prefPane_.selectedCursorSpeeds();
  if (!selected.empty() && selected.front()) {
    QS805CursorSpeedClass* cs = selected.front();
    double display = pl::parseLeadingDecimal(cs->sensitivityDisplay(), 0);
    prefPane_.applyRecommendedSens(display, 0, cs->device());
  }
  clearAllButtons();
  moveFocusToSensitivity();
}

void VL250SpeedHelpViewClass::moveFocusToSensitivity() { paneWindow_.focusSpeedField(SpeedField::Sensitivity); }

void VL250SpeedHelpViewClass::moveFocusToTrackingSpeed() { paneWindow_.focusSpeedField(SpeedField::Tracking); }

void VL250SpeedHelpViewClass::clearAllButtons() { window_.clearAllButtons(); }

}  // namespace vl
