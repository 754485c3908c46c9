// The curve graph's computations without a toolkit: zoom, the recomputation of the five
// favourite curves (parametric and table models), focus colours and the live indicator's
// back-calculation. The settings window draws what this holds.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>

#include "core/errors/error_stack.h"
#include "core/plist/value.h"
#include "pane/curves/accel_table.h"
#include "pane/curves/acceleration_state.h"
#include "pane/model/curve_path.h"

namespace vl {

namespace curve_view_error {
inline constexpr int32_t kPAPathSetup = 2640175;
inline constexpr int32_t kPADevice = 2640276;
inline constexpr int32_t kPACursorSpeed = 2640292;
inline constexpr int32_t kSGDrovana = 2620287;
inline constexpr int32_t kSGChangeTable = 2620296;
inline constexpr int32_t kSGTable = 2620304;
inline constexpr int32_t kSGCursorSpeed = 2620325;
// Where the caller reports a failed zoom recomputation as fatal.
inline constexpr int32_t kZoomFatalSite = 2600773;
}  // namespace curve_view_error

// The plot area in view points; ticks and labels lie left of and below it.
inline constexpr double kGraphOriginX = 26;
inline constexpr double kGraphOriginY = 18;
inline constexpr double kGraphPlotWidth = 600;
inline constexpr double kGraphPlotHeight = 300;
// The smallest plot the graph shrinks to.
inline constexpr double kGraphMinPlotWidth = 240;
inline constexpr double kGraphMinPlotHeight = 120;

struct Rgba {
  double r = 0, g = 0, b = 0, a = 0;
  bool operator==(const Rgba&) const = default;
};
inline constexpr Rgba kClearColour{};

// The favourites' colours by index modulo 5 (components out of 255).
Rgba favouriteColour(int index);

// What the graph needs of a device. The pointers refer to data the device record owns.
struct CurveDevice {
  bool enabled = false;                    // status > 1
  const pl::Value* acclCurves = nullptr;   // the parametric curve list, if any
  const pl::Data* acclTable = nullptr;     // the acceleration table
  bool drovanaDriver = false;              // driven by the sibling product's driver
  double pointerResolution = 0;            // the device's native resolution
};

// One favourite cursor speed (a row of the list).
struct CurveSpeed {
  const CurveDevice* device = nullptr;
  double sensitivity = 0;
  double trackingSpeed = 0;
  bool disableAccl = false;
  std::optional<Rgba> color;
  bool visible = false;
};

enum class ZoomSender { None, XUp, XDown, YUp, YDown, Other };

inline constexpr size_t kCurveRows = 5;
inline constexpr size_t kNoCurve = std::numeric_limits<size_t>::max();

class CurveViewModel {
 public:
  // errors: where a failed curve pushes its numbers; it outlives the model.
  explicit CurveViewModel(ErrorStack& errors, double viewWidth = kGraphOriginX + kGraphPlotWidth,
                          double viewHeight = kGraphOriginY + kGraphPlotHeight);

  // Zoom. With a sender the label values step by 0.1 (Shift zooms both axes alike); without
  // one the device's stored texts are loaded. Then every row's curve is recomputed; a
  // non-zero result is the failing number, which the caller treats as fatal.
  int32_t setViewScaleBy(ZoomSender sender, bool shiftHeld, const std::string& deviceScaleX,
                         const std::string& deviceScaleY, std::span<const CurveSpeed> rows);

  // Colours and line widths: the focused row opaque and wide, the others faint.
  int32_t setFocusedCurve(size_t k, std::span<const CurveSpeed> rows);
  // Loads the check boxes from the rows' "visible" flags.
  void setCurveVisible(std::span<const CurveSpeed> rows);
  // One check box, as the user clicks it.
  void setCurveVisible(size_t i, bool on) {
    if (i < kCurveRows) curveVisible_[i] = on;
  }

  // The recomputation chain; a null path computes (leaving the state set) without drawing.
  int32_t updateCurvePA(CurvePath* path, const CurveSpeed* cs);
  int32_t updateCurveSG(CurvePath* path, const CurveSpeed* cs);
  int32_t updateCurvePA(CurvePath* path, const CurveDevice* device, double sensitivity, double tracking,
                        bool disableAccl);
  int32_t updateCurveSG(CurvePath* path, const CurveDevice* device, double sensitivity, double tracking,
                        bool disableAccl);
  int32_t updateCurvePA(CurvePath* path, const pl::Value* parametricCurves, double pointerResolution,
                        double tracking);
  int32_t updateCurveSG(CurvePath* path, pl::Data* acclTable, double pointerResolution, double tracking);
  void clearCurve(CurvePath* path);
  void setToLinearCurve(CurvePath* path);

  // Back-calculation of the live indicator: the device delta behind a cursor delta, from the
  // curve computed last.
  int backCalculateAxesPA(int a);
  int backCalculateAxesSG(int a) const;
  // A cursor movement seen while no button is down: moves the indicator to the device speed
  // behind it on the focused curve.
  void mouseMoved(double deltaX, double deltaY, bool buttonDown);
  void updateIndicatorByX(int x, int y);
  // No indicator line (a drag started).
  void clearIndicator() { indicatorValue_ = 0; }

  // Read access for drawing and tests.
  const std::string& scaleXText() const { return scaleXText_; }
  const std::string& scaleYText() const { return scaleYText_; }
  double scaleX() const { return sx_; }
  double scaleY() const { return sy_; }
  const AffineTransform& viewScale() const { return viewScale_; }
  int32_t graphWidth() const { return graphWidth_; }
  double viewWidth() const { return viewWidth_; }
  double viewHeight() const { return viewHeight_; }
  // The plot's size in view points (the view less the axes' margins).
  double plotWidth() const { return viewWidth_ - kGraphOriginX; }
  double plotHeight() const { return viewHeight_ - kGraphOriginY; }
  // A new view size (the window was resized); the caller recomputes the curves.
  void setViewSize(double width, double height);
  const CurvePath& presetCurve(size_t i) const { return presetCurves_[i]; }
  CurvePath& presetCurve(size_t i) { return presetCurves_[i]; }
  const Rgba& presetCurveColor(size_t i) const { return presetCurveColors_[i]; }
  bool curveVisible(size_t i) const { return curveVisible_[i]; }
  size_t cursorSpeedIndex() const { return cursorSpeedIndex_; }
  void setCursorSpeedIndex(size_t i) { cursorSpeedIndex_ = i; }
  int32_t indicatorValue() const { return indicatorValue_; }
  AccelerationState& state() { return state_; }
  const AccelerationState& state() const { return state_; }
  // The scaled points of the last table curve built.
  const SegmentPoints& lastSegmentPoints() const { return segmentPoints_; }

 private:
  int32_t recomputeRow(size_t i, std::span<const CurveSpeed> rows);

  ErrorStack* errors_;  // a pointer, so that a model can be assigned anew
  double viewWidth_, viewHeight_;
  std::string scaleXText_, scaleYText_;
  double sx_ = 0, sy_ = 0;
  AffineTransform viewScale_;
  int32_t graphWidth_ = 0;
  std::array<CurvePath, kCurveRows> presetCurves_;
  std::array<Rgba, kCurveRows> presetCurveColors_{};
  std::array<bool, kCurveRows> curveVisible_{};
  size_t cursorSpeedIndex_ = kNoCurve;
  int32_t indicatorValue_ = 0;
  AccelerationState state_;
  SegmentPoints segmentPoints_;
  CurvePath scratchPath_;   // stands in for "no path"
  pl::Data scratchTable_;   // the private copy of a device's table, reused
};

}  // namespace vl
