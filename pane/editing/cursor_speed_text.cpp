// The numeric fields of the speed tab: stepping, select-all after focus, the too-fast guard.
#include "pane/editing/cursor_speed_text.h"

#include <algorithm>
#include <cmath>

#include "core/plist/number_text.h"
#include "core/store/cursor_speed_record.h"
#include "core/store/undo_manager.h"
#include "core/system/strings.h"
#include "platform/api/runloop.h"

namespace vl {

namespace {
constexpr const char* kSelectTextSelector = "selectText:";
// The sheet's automatic end is a request aimed at the window that shows it.
constexpr const char* kEndSheetSelector = "endSheet:";
constexpr double kTooFastThreshold = 1900;
}  // namespace

VL230CursorSpeedTextClass::VL230CursorSpeedTextClass(SpeedField field, const Platform& p, SpeedFieldView& view,
                                                     SpeedEditingHost& prefPane, PaneWindow& window)
    : field_(field), platform_(p), view_(view), prefPane_(prefPane), window_(window) {}

VL230CursorSpeedTextClass::~VL230CursorSpeedTextClass() {
  if (!platform_.runLoop) return;
  platform_.runLoop->cancelAllPerforms(this);
  // The pending automatic end calls back into this object; a sheet still up is the window's.
  if (sheetShown_) platform_.runLoop->cancelPerform(&window_, kEndSheetSelector);
}

void VL230CursorSpeedTextClass::becomeFirstResponder() {
  if (!platform_.runLoop) {
    view_.selectText();
    return;
  }
  platform_.runLoop->cancelPerform(this, kSelectTextSelector);
  platform_.runLoop->perform(this, kSelectTextSelector, kSelectTextDelay, [this] { view_.selectText(); });
}

double VL230CursorSpeedTextClass::cursorSpeedCounter(double v, int precision, bool up) {
  // Whole numbers kept as doubles: no conversion to an integer type can overflow on a huge v.
  double c = std::pow(10.0, precision + 1);
  double n = std::trunc(v * c + 0.9);
  double last = std::fmod(n, 10);  // the sign of n, as the remainder of integers has
  double stepped;
  if (up) {
    stepped = n - last + 10;
  } else {
    stepped = last != 0 ? n - last : n - 10;
  }
  return stepped / c;
}

std::optional<double> VL230CursorSpeedTextClass::steppedValue(SpeedField field, TextCommand command, double v) {
  if (command == TextCommand::Other) return std::nullopt;
  bool up = command == TextCommand::MoveUp || command == TextCommand::MoveUpAndModifySelection;
  bool shift = command == TextCommand::MoveUpAndModifySelection || command == TextCommand::MoveDownAndModifySelection;
  double r;
  if (field == SpeedField::Sensitivity) {
    if (shift) {
      r = cursorSpeedCounter(v, -1, up);
    } else {
      r = up ? v + 1 : v - 1;
    }
    return std::clamp(r, kSteppedSensitivityMin, kSteppedSensitivityMax);
  }
  // Finer steps near zero, where a small change of acceleration is a large change of feel.
  int e = v < 0.1 ? 1 : 0;
  bool below = v <= 0.1;
  int precision;
  if (shift) {
    precision = up ? 1 + e : (below ? 2 : 1);
  } else {
    precision = up ? 2 + e : (below ? 3 : 2);
  }
  r = cursorSpeedCounter(v, precision, up);
  return std::clamp(r, kSteppedTrackingMin, kSteppedTrackingMax);
}

VL230CursorSpeedTextClass::CommandResult VL230CursorSpeedTextClass::control(TextCommand command) {
  if (command == TextCommand::Other) return {};
  double v = view_.doubleValue();
  // A field without a number has nothing to step from; the key is still the field's.
  if (!std::isfinite(v)) return {true, std::nullopt};
  std::optional<double> r = steppedValue(field_, command, v);
  if (!r || *r == v) return {true, std::nullopt};
  std::string text = pl::formatG(*r);
  for (QS805CursorSpeedClass* cs : prefPane_.selectedCursorSpeeds()) {
    if (!cs) continue;
    if (field_ == SpeedField::Sensitivity) {
      cs->setSensitivityDisplay(text);
    } else {
      cs->setTrackingSpeed(text);
    }
  }
  view_.makeFirstResponder();
  return {true, text};
}

void VL230CursorSpeedTextClass::controlTextDidBeginEditing() {
  if (field_ == SpeedField::Sensitivity) isSensitivityTextEdited_ = true;
}

SheetAlert VL230CursorSpeedTextClass::tooFastAlert(const Platform& p) {
  SheetAlert a;
  a.messageText = localized(p, "Cursor speed is too fast. It will be restored to the system defaults in 5 seconds.", "vl");
  a.buttons = {localized(p, "Restore now", "vl"), localized(p, "Keep setting", "vl")};
  return a;
}

void VL230CursorSpeedTextClass::controlTextDidEndEditing() {
  if (field_ != SpeedField::Sensitivity || !isSensitivityTextEdited_) return;
  isSensitivityTextEdited_ = false;
  double v = view_.doubleValue();
  if (!(v > kTooFastThreshold)) return;
  // One sheet at a time: the window is blocked while it is up, so a second would only stack.
  if (sheetShown_) return;
  sheetShown_ = true;
  uint64_t sheet = ++sheetCount_;
  if (RunLoop* rl = platform_.runLoop) {
    rl->cancelPerform(&window_, kEndSheetSelector);
    rl->perform(&window_, kEndSheetSelector, kTooFastSheetSeconds, [this, sheet] {
      // Ends only this sheet: its answer cancels this request, so a later alert is left alone.
      if (!sheetShown_ || sheet != sheetCount_) return;
      window_.endSheetAlert(kModalResponseStop);
      // A window that had already dropped the sheet did not call back: end it here.
      if (sheetShown_ && sheet == sheetCount_) alertDidEnd(kModalResponseStop);
    });
  }
  window_.beep();
  window_.showSheetAlert(tooFastAlert(platform_), [this, sheet](int returnCode) {
    // An answer to a sheet already ended (by the timer) changes nothing twice.
    if (!sheetShown_ || sheet != sheetCount_) return;
    alertDidEnd(returnCode);
  });
}

void VL230CursorSpeedTextClass::alertDidEnd(int returnCode) {
  // The automatic end must not fire later on a sheet that is gone (or on the next one).
  if (sheetShown_ && platform_.runLoop) platform_.runLoop->cancelPerform(&window_, kEndSheetSelector);
  sheetShown_ = false;
  if (returnCode == kKeepSettingReturn) return;
  if (UndoManager* undo = prefPane_.mainWindowUndoManager(); undo && undo->canUndo()) undo->undo();
  for (QS805CursorSpeedClass* cs : prefPane_.selectedCursorSpeeds()) {
    if (cs) cs->restoreSensitivity();
  }
}

}  // namespace vl
