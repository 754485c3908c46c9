// What the speed tab's editing classes need of the pane controller and its main window, and of
// the widgets they drive: the toolkit-free side of the sensitivity and tracking fields, the
// favourites table and the speed-help window.
#pragma once

#include <functional>
#include <string>
#include <vector>

// SpeedField: the window port names the two fields for the controller and the editing classes alike.
#include "pane/controller/pane_window.h"

namespace vl {

class QS802DeviceClass;
class QS805CursorSpeedClass;
class UndoManager;

// Return codes of an alert sheet, as the platform's alerts give them.
inline constexpr int kAlertDefaultReturn = 1;     // the default (right-most) button
inline constexpr int kAlertAlternateReturn = 0;   // the alternate button
inline constexpr int kModalResponseStop = -1000;  // ended by the program (endSheet:)

// An alert to show as a sheet: the texts are already localized.
struct AlertSheetRequest {
  std::string messageText;
  std::string defaultButton;
  std::string alternateButton;
  std::string informativeText;
};

// The pane controller's side (it owns the cursor-speed list and the main window).
class SpeedEditingHost {
 public:
  virtual ~SpeedEditingHost() = default;

  // The selected objects of the pane's cursor-speed list (the favourites table), in row
  // order; empty when nothing is selected.
  virtual std::vector<QS805CursorSpeedClass*> selectedCursorSpeeds() const = 0;
  // The undo manager of the pane's main window (null when it has none).
  virtual UndoManager* mainWindowUndoManager() = 0;

  // beginSheetModalForWindow: shows the alert as a sheet on the pane's main window. didEnd
  // runs once, with kAlertDefaultReturn or kAlertAlternateReturn, when the user answers.
  virtual void beginAlertSheet(const AlertSheetRequest& alert, std::function<void(int returnCode)> didEnd) = 0;
  // endSheet: closes the sheet begun above, if it is still up, without calling its didEnd
  // (the caller answers for it with kModalResponseStop).
  virtual void endAlertSheet() = 0;

  // applyRecommendedSens:accl:toDevice: (the controller's values-from-outside rule).
  virtual void applyRecommendedSens(double sensitivityDisplay, double trackingSpeed, QS802DeviceClass* device) = 0;
  // moveFocusToSensitivity: / moveFocusToTrackingSpeed:: the field becomes first responder of
  // the main window if it is not, and the main window comes to the front if it is not key.
  virtual void moveFocusToField(SpeedField field) = 0;
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
