// Copy and paste of one favourite setting in the favourites table.
#include "pane/editing/favorite_table.h"

#include <cmath>

#include "core/plist/codec.h"
#include "core/plist/number_text.h"
#include "core/store/cursor_speed_record.h"
#include "core/store/device_record.h"
#include "platform/api/pasteboard.h"

namespace vl {

namespace {

// The number a pasted value stands for; nullopt for values that stand for none (arrays,
// dictionaries, data, dates, texts that are not one number). A text with no number or with
// trailing words would read as 0 or as its leading number, turning junk into a setting.
std::optional<double> answeredNumber(const pl::Value& v) {
  if (const std::string* s = v.asString()) {
    std::optional<pl::LeadingNumber> n = pl::parseLeadingNumber(*s);
    if (!n) return std::nullopt;
    for (size_t i = n->length; i < s->size(); ++i) {
      char c = (*s)[i];
      if (c != ' ' && c != '\t' && c != '\n' && c != '\r') return std::nullopt;
    }
    return n->value;
  }
  if (v.isNumber()) return v.doubleValue();
  return std::nullopt;
}

std::optional<std::string> rangedText(const pl::Value* v, double lo, double hi) {
  if (!v) return std::nullopt;
  std::optional<double> n = answeredNumber(*v);
  // NaN and infinities fail the comparisons.
  if (!n || !(*n >= lo && *n <= hi)) return std::nullopt;
  return pl::formatG(*n);
}

}  // namespace

PastedSpeed readSpeedFromPasteboardText(std::string_view text) {
  if (text.size() > kMaxPastedTextBytes) return {};
  pl::ReadResult r = pl::read(text);
  if (!r || !r.value->isDict()) return {};
  const pl::Value& dic = *r.value;
  const pl::Value* sens = dic.find("Sensitivity");
  if (!sens) sens = dic.find("Speed");
  PastedSpeed out;
  out.sensitivity = rangedText(sens, kPasteSensitivityMin, kPasteSensitivityMax);
  out.tracking = rangedText(dic.find("Acceleration"), kPasteTrackingMin, kPasteTrackingMax);
  return out;
}

std::string speedPasteboardText(const std::string& deviceName, const std::string& sensitivityDisplay,
                                const std::string& trackingSpeed) {
  std::string name = deviceName;
  for (char& c : name) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  pl::Dict d;
  d["Sensitivity"] = pl::Value(sensitivityDisplay);
  d["Acceleration"] = pl::Value(trackingSpeed);
  return "//" + name + "\n" + pl::writeOpenStep(pl::Value(std::move(d))) + "\n";
}

VL240FavoriteTableClass::VL240FavoriteTableClass(SpeedEditingHost& cursorSpeedList, Pasteboard* pasteboard)
    : cursorSpeedList_(cursorSpeedList), pasteboard_(pasteboard) {}

QS805CursorSpeedClass* VL240FavoriteTableClass::singleSelection() const {
  std::vector<QS805CursorSpeedClass*> sel = cursorSpeedList_.selectedCursorSpeeds();
  return sel.size() == 1 ? sel.front() : nullptr;
}

bool VL240FavoriteTableClass::validateMenuItem(MenuAction action) const {
  QS805CursorSpeedClass* cs = singleSelection();
  if (!cs) return false;
  switch (action) {
    case MenuAction::Copy:
      return pasteboard_ && !cs->disableAccl();
    case MenuAction::Paste: {
      if (cs->isLocked()) return false;
      std::optional<std::string> s, t;
      readFromPasteBoardSensitivity(&s, &t);
      return s && t;
    }
    case MenuAction::Other:
      return true;
  }
  return false;
}

bool VL240FavoriteTableClass::copy() {
  // Shortcuts reach here without the menu's check: a setting with acceleration off would be
  // pasted back with it on, so it is not copied.
  if (!validateMenuItem(MenuAction::Copy)) return false;
  QS805CursorSpeedClass* cs = singleSelection();
  QS802DeviceClass* device = cs->device();
  std::string name = device ? device->displayName() : std::string();
  pasteboard_->setString(speedPasteboardText(name, cs->sensitivityDisplay(), cs->trackingSpeed().value_or("")));
  return true;
}

bool VL240FavoriteTableClass::paste() {
  // Checked again here: a locked setting is never changed by a paste, however it is asked.
  if (!validateMenuItem(MenuAction::Paste)) return false;
  QS805CursorSpeedClass* cs = singleSelection();
  std::optional<std::string> s, t;
  readFromPasteBoardSensitivity(&s, &t);
  if (cs->sensitivityDisplay() != *s) cs->setSensitivityDisplay(*s);
  if (cs->trackingSpeed() != *t) cs->setTrackingSpeed(*t);
  if (cs->disableAccl()) cs->setDisableAccl(false);
  return true;
}

void VL240FavoriteTableClass::readFromPasteBoardSensitivity(std::optional<std::string>* sensitivity,
                                                            std::optional<std::string>* tracking) const {
  PastedSpeed p;
  if (pasteboard_) {
    if (std::optional<std::string> text = pasteboard_->string()) p = readSpeedFromPasteboardText(*text);
  }
  if (sensitivity) *sensitivity = std::move(p.sensitivity);
  if (tracking) *tracking = std::move(p.tracking);
}

bool VL240FavoriteTableClass::tableView(std::string_view column, bool rowSelected, bool tableIsFirstResponderOfKeyWindow) {
  return column == "label" && rowSelected && tableIsFirstResponderOfKeyWindow;
}

}  // namespace vl
