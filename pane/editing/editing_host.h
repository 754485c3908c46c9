// What the speed tab's editing classes need of the pane controller, beside its window (the
// PaneWindow port: alert sheets, beep, field focus), and of the numeric field widgets.
#pragma once

#include <vector>

// SpeedField, SheetAlert and the alert return codes come with the window port.
#include "pane/windows/pane_window.h"

namespace vl {

class QS802DeviceClass;
class QS805CursorSpeedClass;
class UndoManager;

// Return code of an alert sheet the program ended itself (NSApp endSheet: without a button).
inline constexpr int kModalResponseStop = -1000;

// The pane controller's side: it owns the cursor-speed list and the main window's undo.
class SpeedEditingHost {
 public:
  virtual ~SpeedEditingHost() = default;

  // The selected objects of the pane's cursor-speed list (the favourites table), in row
  // order; empty when nothing is selected.
  virtual std::vector<QS805CursorSpeedClass*> selectedCursorSpeeds() const = 0;
  // The undo manager of the pane's main window (null when it has none).
  virtual UndoManager* mainWindowUndoManager() = 0;
  // applyRecommendedSens:accl:toDevice: (the controller's values-from-outside rule).
  virtual void applyRecommendedSens(double sensitivityDisplay, double trackingSpeed, QS802DeviceClass* device) = 0;
};

// One numeric field of the speed tab, as the widget shows it.
class SpeedFieldView {
 public:
  virtual ~SpeedFieldView() = default;
  // The number the field shows now (its text as the user's locale reads it); NaN when none.
  virtual double doubleValue() const = 0;
  // Selects the field's whole text.
  virtual void selectText() = 0;
  // Makes the field first responder of its window again (after a step changed its value).
  virtual void makeFirstResponder() = 0;
};

}  // namespace vl
