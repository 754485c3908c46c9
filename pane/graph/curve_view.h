// VL260CurveView: the acceleration graph of the pane's speed tab without a toolkit. It follows
// the pane controller's selection (observer with a fast path for value changes), keeps the
// five favourite curves, the faint pre-drag source curve and the live speed indicator (fed by
// the HID manager or by mouse-moved monitors), answers the tab's keys, and draws through a
// DrawingSurface.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/errors/error_context.h"
#include "pane/graph/curve_view_host.h"
#include "pane/graph/drawing.h"
#include "pane/model/curve_view_model.h"
#include "platform/api/input_sources.h"
#include "platform/api/platform.h"

namespace vl {

class QS802DeviceClass;
class QS805CursorSpeedClass;

namespace curve_view_error {
// The HID manager for the indicator could not be created / opened.
inline constexpr int32_t kHidManagerCreate = 2600502;
inline constexpr int32_t kHidManagerOpen = 2600504;
// Fatal alerts of the observer, all at one site.
inline constexpr int32_t kObserverOpenDevice = 2600419;
inline constexpr int32_t kObserverFocus = 2600444;
inline constexpr int32_t kObserverFocusedCurve = 2600450;
inline constexpr int32_t kObserverFastPath = 2600360;
inline constexpr int32_t kObserverFatalSite = 2600458;
}  // namespace curve_view_error

// NSEvent modifier flags (device independent).
inline constexpr uint32_t kShiftKeyMask = 1u << 17;
inline constexpr uint32_t kControlKeyMask = 1u << 18;
inline constexpr uint32_t kOptionKeyMask = 1u << 19;
inline constexpr uint32_t kCommandKeyMask = 1u << 20;
inline constexpr uint32_t kDeviceIndependentModifierMask = 0xFFFF0000u;

// Virtual key codes the graph answers.
inline constexpr uint16_t kKeyCodeSpace = 49;
inline constexpr uint16_t kKeyCodeL = 37;

// A key-down event as performKeyEquivalent sees it.
struct KeyEvent {
  uint16_t keyCode = 0;
  std::string characters;  // charactersIgnoringModifiers
  uint32_t modifierFlags = 0;
  bool isARepeat = false;
};

// The graph's colours (the implementer's where the toolkit has no named one).
inline constexpr Rgba kGraphFrameColour{0.333, 0.333, 0.333, 1};   // dark gray
inline constexpr Rgba kGraphLabelColour{0, 0, 0, 0.85};            // control text
inline constexpr Rgba kIndicatorColour{0.5, 0.5, 0.5, 1};          // gray

inline constexpr double kSourceCurveLineWidth = 3;
inline constexpr double kSourceCurveAlpha = 0.3;

// What the graph draws besides the model's curves.
struct GraphOverlay {
  const CurvePath* sourceCurve = nullptr;  // drawn before the focused curve
  std::optional<Rgba> sourceCurveColor;
  int32_t indicatorValue = 0;  // x of the indicator line in view points; 0 = none
  double indicatorAlpha = 1;   // fades out once the device stops
};

// The indicator stays this long after the device's last movement, then fades out over
// kIndicatorFadeSeconds.
inline constexpr double kIndicatorHoldSeconds = 1.0;
inline constexpr double kIndicatorFadeSeconds = 0.6;
inline constexpr double kIndicatorFadeStep = 1.0 / 30;

// The height of path (view points) where it passes x; nullopt where it does not reach x.
std::optional<double> curveHeightAt(const CurvePath& path, double x);

// The graph's picture: frame, ticks and "%d" labels with their spacing rules, the visible
// unfocused curves, the source curve and the focused curve clipped to the plot, and the
// indicator. VL260CurveView::drawRect and the command line's plot draw through it alike.
void drawCurveGraph(const CurveViewModel& model, const GraphOverlay& overlay, DrawingSurface& surface);

class VL260CurveView {
 public:
  // The view's size in points: the plot (600 × 300) with its axes' margins by default.
  // errors: the program's stack and identity; a failure in the observer is a fatal end.
  VL260CurveView(const Platform& platform, ErrorContext errors, CurveViewHost& host, double viewWidth = kGraphOriginX + kGraphPlotWidth,
                 double viewHeight = kGraphOriginY + kGraphPlotHeight);
  ~VL260CurveView();  // disposes when prepared
  VL260CurveView(const VL260CurveView&) = delete;
  VL260CurveView& operator=(const VL260CurveView&) = delete;

  // --- Life cycle ---------------------------------------------------------------------------
  // Empty curves, identity scale, observation of the controller, then one forced update.
  [[nodiscard]] int32_t prepare();
  // Closes the indicator sources and stops observing; only after prepare.
  void dispose();
  // A new size of the view in points (the window was resized): the curves are recomputed.
  void setViewSize(double width, double height);
  bool isPrepared() const { return prepared_; }

  // The controller's change notice; empty arguments force an update.
  void observeValueForKeyPath(std::string_view keyPath = {}, const void* object = nullptr);

  // --- Controls -----------------------------------------------------------------------------
  // A zoom button (or ZoomSender::None to load the selected device's zoom; Other recomputes
  // without zooming). A failed recomputation is a fatal alert.
  void setViewScaleBy(ZoomSender sender, bool shiftHeld = false);
  [[nodiscard]] int32_t setFocusedCurve(size_t index);
  // fromStore: the check boxes take the rows' "visible" flags; otherwise only redraws.
  void setCurveVisible(bool fromStore);
  // A click on row's visibility check box: toggles it and redraws.
  void clickCurveVisibleCheckbox(size_t row);
  // The window's key equivalents; true when handled.
  bool performKeyEquivalent(const KeyEvent& event);

  // --- Drawing and messages -----------------------------------------------------------------
  void drawRect(DrawingSurface& surface) const;
  // The text explaining why the device's speed cannot be changed; nullopt when it can.
  std::optional<std::string> errorMessage(const QS802DeviceClass* device) const;
  // Shows the selected device's message, if any, as a sheet with its identity.
  void showErrorMsg();

  // --- Live speed indicator -----------------------------------------------------------------
  [[nodiscard]] int32_t openDevice(QS802DeviceClass* device);
  void closeAllDevices();
  void updateIndicatorByX(int x, int y);
  // The input sources' callbacks (public for the ports' adapters and tests).
  void InputValueCallback(int32_t result, const HidInputValue& value);
  void MouseMovedCallback(const MouseMovedEvent& event);

  // --- What the window shows ----------------------------------------------------------------
  const std::string& scaleXLabel() const { return model_.scaleXText(); }
  const std::string& scaleYLabel() const { return model_.scaleYText(); }
  bool curveVisibleCheckbox(size_t row) const { return model_.curveVisible(row); }
  const Rgba& presetCurveColor(size_t row) const { return model_.presetCurveColor(row); }
  const CurvePath& presetCurve(size_t row) const { return model_.presetCurve(row); }
  const CurvePath& sourceCurve() const { return sourceCurve_; }
  const std::optional<Rgba>& sourceCurveColor() const { return sourceCurveColor_; }
  int32_t indicatorValue() const { return model_.indicatorValue(); }
  // 1 while the device moves, falling to 0 once it stopped.
  double indicatorAlpha() const { return indicatorAlpha_; }
  size_t cursorSpeedIndex() const { return model_.cursorSpeedIndex(); }
  int deviceStatus() const { return deviceStatus_; }
  const QS802DeviceClass* selectedDevice() const { return selectedDevice_; }
  double viewWidth() const { return model_.viewWidth(); }
  double viewHeight() const { return model_.viewHeight(); }
  const CurveViewModel& model() const { return model_; }
  // Whether an indicator source is open (the HID devices or the mouse monitors).
  size_t openHidDeviceCount() const { return hidDevices_.size(); }
  bool mouseMonitorsInstalled() const { return mouseMonitor1_ != 0 || mouseMonitor2_ != 0; }

 private:
  struct Rows;
  Rows rowsOf(const std::vector<QS805CursorSpeedClass*>& list) const;
  int32_t recomputeFocused(const QS805CursorSpeedClass* cs, CurvePath* path);
  void storeViewStateInto(QS802DeviceClass* device);
  void fatal(int32_t code, int64_t site);
  // The indicator moved: full strength, and the fade starts anew after the hold time.
  void indicatorMoved();
  void fadeIndicator();

  Platform platform_;
  ErrorContext errors_;
  CurveViewHost& host_;
  CurveViewModel model_;
  bool prepared_ = false;
  QS802DeviceClass* selectedDevice_ = nullptr;
  int deviceStatus_ = -1;
  CurvePath sourceCurve_;
  std::optional<Rgba> sourceCurveColor_;
  bool isDragging_ = false;
  double indicatorAlpha_ = 1;
  double indicatorMovedAt_ = 0;

  std::unique_ptr<HidManager> hidManager_;
  std::vector<HidInputDeviceRef> hidDevices_;
  EventMonitors::Token mouseMonitor1_ = 0, mouseMonitor2_ = 0;
  // InputValueCallback's pairing of X and Y: the two axes of one report share a timestamp.
  // Kept per view, so two views (or two tests) never mix their values.
  int64_t lastX_ = 0, lastY_ = 0;
  std::optional<uint64_t> lastTimestamp_;
};
using CurveView = VL260CurveView;  // the readable name

}  // namespace vl
