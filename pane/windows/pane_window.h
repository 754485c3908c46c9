// PaneWindow: what the settings pane's controller needs of its window — input state, the
// window and its sheets, editing focus, alerts, tables, labels, the Edit menu and URLs. The Qt
// front end implements it; tests use a recording fake. Everything is called on the main thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace vl {

// The modifier keys held right now (NSEvent modifierFlags).
struct ModifierFlags {
  bool shift = false;
  bool control = false;
  bool option = false;
  bool command = false;
  // Shift is held and none of the other three.
  bool shiftAlone() const { return shift && !control && !option && !command; }
};

// An alert shown as a sheet on the pane's window. Buttons from right to left: the first is the
// default button (return code 1000), the second 1001, the third 1002, as the platform numbers
// them. An empty list means one button, "OK".
struct SheetAlert {
  std::string messageText;
  std::string informativeText;
  std::vector<std::string> buttons;
  // A notice (shown with the information icon) rather than a warning.
  bool informational = false;
};
inline constexpr int kAlertFirstButtonReturn = 1000;
inline constexpr int kAlertSecondButtonReturn = 1001;
inline constexpr int kAlertThirdButtonReturn = 1002;

// The tabs of the pane's main view, in their order.
enum class PaneTab { Speed = 0, Applications = 1, Other = 2 };

// A sheet the pane put on its window (the application list, a secondary window) that the
// controller may have to close: "Show All" and leaving the pane cancel it.
class PaneSheet {
 public:
  virtual ~PaneSheet() = default;
  // cancelByPrefPane: closes the sheet; false stops the cancelling of the sheets below it.
  virtual bool cancelByPrefPane() = 0;
};

// Which text field the controller moves the focus to.
enum class SpeedField { Sensitivity, Tracking };

class PaneWindow {
 public:
  virtual ~PaneWindow() = default;

  // --- Input state -------------------------------------------------------------------------
  // [NSEvent modifierFlags]
  virtual ModifierFlags modifierFlags() const = 0;
  // [NSEvent pressedMouseButtons] != 0
  virtual bool mouseButtonDown() const = 0;

  // --- The window and its sheets -----------------------------------------------------------
  // The host window shows the pane and is on screen ([mainWindow isVisible]).
  virtual bool isMainWindowVisible() const = 0;
  // The sheets attached to the main window, outermost first (a sheet's own sheet follows it);
  // empty when none. Entries without a cancel hook are null.
  virtual std::vector<PaneSheet*> attachedSheets() const = 0;
  // Closes every attached sheet, innermost first (QS812closeAttachedSheet on the main window).
  virtual void closeAttachedSheets() = 0;
  // The tab shown in the main view.
  virtual PaneTab selectedTab() const = 0;
  // The favourites table: whether it takes input, and whether it is the key window's first
  // responder (the graph's keys act on it then).
  virtual bool cursorSpeedTableEnabled() const = 0;
  virtual bool cursorSpeedTableIsFirstResponder() const = 0;

  // --- Editing -----------------------------------------------------------------------------
  // commitEditing: ends editing in the focused field and hands its text to the store. False
  // when the text is refused (the field keeps the focus and shows why).
  virtual bool commitEditing() = 0;
  // makeFirstResponder:nil: ends editing without a focused control.
  virtual void endEditing() = 0;
  // QS812keyControl: remembers the control being edited in the key window, and gives it the
  // focus back (selecting its text) when saving took it away. restore without remember does
  // nothing.
  virtual void rememberKeyControl() = 0;
  virtual void restoreKeyControl() = 0;
  // Gives the sensitivity or the tracking-speed field the focus.
  virtual void focusSpeedField(SpeedField field) = 0;

  // --- Alerts ------------------------------------------------------------------------------
  // Shows the alert as a sheet on the main window (closing sheets attached there first);
  // completion, when given, runs once with the return code when the sheet ends.
  virtual void showSheetAlert(const SheetAlert& alert, std::function<void(int returnCode)> completion) = 0;
  // Ends the alert sheet shown last, as if a button with returnCode was pressed (NSApp endSheet:
  // returnCode:). Nothing when no alert sheet is shown.
  virtual void endSheetAlert(int returnCode) = 0;
  // NSBeep.
  virtual void beep() = 0;

  // --- What the window shows ---------------------------------------------------------------
  // The device list or the cursor-speed list changed its rows, order or selection, or a
  // device's status icon changed: the tables read the lists again.
  virtual void reloadDeviceTable() = 0;
  virtual void reloadCursorSpeedTable() = 0;
  // Shows or hides the full-size label "Please show all preferences." over the main view.
  virtual void setShowAllLabelVisible(bool visible) = 0;
  // The error view's message, or the main view when message is empty (mainNibName's choice).
  virtual void showErrorView(const std::string& message) = 0;
  // The curve graph must be drawn again.
  virtual void redrawCurve() = 0;

  // --- Edit menu ---------------------------------------------------------------------------
  // What Undo and Redo can do changed (the controller's canUndo/canRedo): refresh the menu.
  virtual void undoStateChanged() = 0;
  // Drops the undo history of the text fields (the main window's field editor and the sheets).
  virtual void removeTextUndoActions() = 0;

  // --- Outside the window ------------------------------------------------------------------
  // [[NSWorkspace sharedWorkspace] openURL:]: opens a web page in the user's browser.
  virtual void openURL(const std::string& url) = 0;
};

}  // namespace vl
