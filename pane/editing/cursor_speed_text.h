// VL230CursorSpeedTextClass: the logic of the sensitivity and tracking-speed fields: arrow-key
// stepping, select-all after focus and the too-fast guard of the sensitivity field.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "pane/editing/editing_host.h"
#include "platform/api/platform.h"

namespace vl {

// Key commands a numeric field may handle; everything else is left to the field.
enum class TextCommand {
  MoveUp,                      // Up
  MoveDown,                    // Down
  MoveUpAndModifySelection,    // Shift-Up
  MoveDownAndModifySelection,  // Shift-Down
  Other,
};

// Range of the arrow keys (typing and paste may go up to 1990; above 1900 the guard asks).
inline constexpr double kSteppedSensitivityMin = 5;
inline constexpr double kSteppedSensitivityMax = 1900;
inline constexpr double kSteppedTrackingMin = 0;
inline constexpr double kSteppedTrackingMax = 20;
// Seconds until the too-fast sheet ends itself, and until a focused field selects its text.
inline constexpr double kTooFastSheetSeconds = 5.0;
inline constexpr double kSelectTextDelay = 0.3;

class VL230CursorSpeedTextClass {
 public:
  // p gives the run loop (delays) and the strings tables; view is the widget; prefPane the
  // controller owning the cursor-speed list; window the pane's window (sheet, beep). All must
  // outlive this.
  VL230CursorSpeedTextClass(SpeedField field, const Platform& p, SpeedFieldView& view, SpeedEditingHost& prefPane,
                            PaneWindow& window);
  ~VL230CursorSpeedTextClass();
  VL230CursorSpeedTextClass(const VL230CursorSpeedTextClass&) = delete;
  VL230CursorSpeedTextClass& operator=(const VL230CursorSpeedTextClass&) = delete;

  SpeedField field() const { return field_; }

  // becomeFirstResponder: selects the whole text kSelectTextDelay seconds later.
  void becomeFirstResponder();

  // control:textView:doCommandBySelector:. consumed is false for commands this field does not
  // handle; stored is the stepped text, given to the selected favourites ("sensitivityDisplay"
  // or "trackingSpeed") if any are selected; nullopt when the step changed nothing.
  struct CommandResult {
    bool consumed = false;
    std::optional<std::string> stored;
  };
  CommandResult control(TextCommand command);

  // cursorSpeedCounter:precision:isIncrement:: the next multiple of 10 / 10^(precision+1)
  // above (up) or below v.
  static double cursorSpeedCounter(double v, int precision, bool up);
  // The value a command gives v in a field, clamped to the field's stepping range; nullopt for
  // commands the field does not handle.
  static std::optional<double> steppedValue(SpeedField field, TextCommand command, double v);

  // controlTextDidBeginEditing: / controlTextDidEndEditing:. Ending an edit of the sensitivity
  // field that began here (or after a slider release) with a value above 1900 beeps and shows
  // the too-fast sheet, which ends itself after kTooFastSheetSeconds.
  void controlTextDidBeginEditing();
  void controlTextDidEndEditing();
  // alertDidEnd:returnCode:contextInfo:: any code but kKeepSettingReturn ("Keep setting")
  // undoes the last change and restores the selected favourite's sensitivity.
  void alertDidEnd(int returnCode);

  bool isSensitivityTextEdited() const { return isSensitivityTextEdited_; }
  void setIsSensitivityTextEdited(bool v) { isSensitivityTextEdited_ = v; }
  // Whether this field's too-fast sheet is up.
  bool isTooFastSheetShown() const { return sheetShown_; }

  // The sheet: message "Cursor speed is too fast. ...", buttons "Restore now" (default) and
  // "Keep setting", texts from the pane's strings table "vl".
  static SheetAlert tooFastAlert(const Platform& p);
  static constexpr int kRestoreNowReturn = kAlertFirstButtonReturn;
  static constexpr int kKeepSettingReturn = kAlertSecondButtonReturn;

 private:
  SpeedField field_;
  const Platform& platform_;
  SpeedFieldView& view_;
  SpeedEditingHost& prefPane_;
  PaneWindow& window_;
  bool isSensitivityTextEdited_ = false;
  bool sheetShown_ = false;
  uint64_t sheetCount_ = 0;  // tells a late answer or timer of an earlier sheet from this one's
};
using CursorSpeedText = VL230CursorSpeedTextClass;  // the readable name

}  // namespace vl
