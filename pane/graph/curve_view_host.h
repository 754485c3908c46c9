// What the curve graph needs of the pane controller that owns it: the selected device and
// its favourites in list order, the table's state, the keyboard and mouse state of the moment,
// the driver facts found at load time, and a few services (undo, redraw, sheet alerts).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vl {

class QS802DeviceClass;
class QS805CursorSpeedClass;
class VL260CurveView;

// The selection values the graph follows: the controller calls observeValueForKeyPath on the
// view whenever one of them changes (the first three on the cursor-speed list, the last on the
// device list) and whenever either list's selection changes.
inline constexpr std::string_view kObservedSensitivity = "selection.sensitivity";
inline constexpr std::string_view kObservedTrackingSpeed = "selection.trackingSpeed";
inline constexpr std::string_view kObservedDisableAccl = "selection.disableAccl";
inline constexpr std::string_view kObservedStatus = "selection.VL702status";

class CurveViewHost {
 public:
  virtual ~CurveViewHost() = default;

  // --- Observation --------------------------------------------------------------------------
  // From prepare until dispose the view wants observeValueForKeyPath for the key paths above
  // (new values only, no initial call).
  virtual void addCurveViewObserver(VL260CurveView* view) = 0;
  virtual void removeCurveViewObserver(VL260CurveView* view) = 0;

  // --- The lists ----------------------------------------------------------------------------
  // The device selected in the device list; null when none.
  virtual QS802DeviceClass* selectedDevice() const = 0;
  // The cursor-speed list's rows (the selected device's favourites sorted by "index").
  virtual std::vector<QS805CursorSpeedClass*> cursorSpeedRows() const = 0;
  // The cursor-speed list's selection index; kNoCurve (curve_view_model.h) when none. While the
  // two lists are between updates the row may belong to another device.
  virtual size_t cursorSpeedSelectionIndex() const = 0;
  // Selects a row of the cursor-speed list (⌘1 … ⌘5).
  virtual void selectCursorSpeedRow(size_t row) = 0;
  // Whether the cursor-speed table is enabled and whether it is the window's first responder.
  virtual bool cursorSpeedTableEnabled() const = 0;
  virtual bool cursorSpeedTableIsFirstResponder() const = 0;
  // Whether the selected device has been deleted from the store (its values must not be set).
  virtual bool isDeleted(const QS802DeviceClass* device) const = 0;

  // --- Input state of the moment ------------------------------------------------------------
  // [NSEvent pressedMouseButtons] != 0.
  virtual bool mouseButtonDown() const = 0;

  // --- Facts found when the pane loaded -----------------------------------------------------
  // The path of the kernel extension with this bundle identifier; nullopt when there is none.
  virtual std::optional<std::string> kernelExtensionPath(const std::string& bundleIdentifier) const = 0;
  // The Microsoft mouse driver's path; nullopt when it is not installed.
  virtual std::optional<std::string> microsoftDriverPath() const = 0;
  // Whether Karabiner-Elements runs.
  virtual bool karabinerElementsRunning() const = 0;

  // --- Services -----------------------------------------------------------------------------
  virtual void removeAllUndoActions() = 0;
  // setNeedsDisplay: the window calls drawRect soon.
  virtual void setNeedsDisplay() = 0;
  // A sheet alert on the pane's window (message text and informative text).
  virtual void showSheetAlert(const std::string& message, const std::string& informativeText) = 0;
};

}  // namespace vl
