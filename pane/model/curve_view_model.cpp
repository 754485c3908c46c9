// The curve graph's toolkit-free computations: zoom, the curve chain, focus and indicator.
#include "pane/model/curve_view_model.h"

#include "core/system/favourite_colours.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "core/errors/error_stack.h"
#include "core/plist/number_text.h"
#include "pane/curves/parametric_curves.h"

namespace vl {

namespace {
constexpr double kZoomStep = 0.1;
constexpr double kFaintAlpha = 0.3;
constexpr double kFocusedLineWidth = 3;
constexpr double kOtherLineWidth = 1.5;
constexpr double kLinearEnd = 500;
constexpr double kTableExtension = 6000;
constexpr int kPAStep = 10;
const Segment kIdentitySegment{0x7FFF0000, kFixedOne, 0};

// A truncating conversion that stays defined for any double.
int32_t truncToInt32(double v) {
  if (std::isnan(v)) return 0;
  if (v >= static_cast<double>(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
  if (v <= static_cast<double>(std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

int32_t safeAbs(int32_t v) { return v == std::numeric_limits<int32_t>::min() ? std::numeric_limits<int32_t>::max() : std::abs(v); }

// A label's numeric value: its leading number, 0 when there is none.
double labelValue(const std::string& text) {
  return pl::parseLeadingDecimal(text);
}

std::string formatScale(double v) {
  return pl::formatFixed(v, 1);
}

// A stored scale below the smallest zoom step would make the graph divide by zero (a fresh
// device has no vertical scale) or walk millions of device speeds; it shows and counts as 1.0.
std::string usableScaleText(const std::string& text) {
  const double v = labelValue(text);
  return std::isfinite(v) && v >= kZoomStep ? text : "1.0";
}
}  // namespace

Rgba favouriteColour(int index) {
  const int* c = favouriteColourComponents(index);
  return Rgba{c[0] / 255.0, c[1] / 255.0, c[2] / 255.0, 1.0};
}

CurveViewModel::CurveViewModel(ErrorStack& errors, double viewWidth, double viewHeight)
    : errors_(&errors), viewWidth_(viewWidth), viewHeight_(viewHeight) {
  scratchTable_.reserve(256);
}

void CurveViewModel::setViewSize(double width, double height) {
  viewWidth_ = std::max(width, kGraphOriginX + kGraphMinPlotWidth);
  viewHeight_ = std::max(height, kGraphOriginY + kGraphMinPlotHeight);
}

int32_t CurveViewModel::setViewScaleBy(ZoomSender sender, bool shiftHeld, const std::string& deviceScaleX,
                                       const std::string& deviceScaleY, std::span<const CurveSpeed> rows) {
  std::string textX, textY;
  if (sender != ZoomSender::None) {
    double x = labelValue(scaleXText_), y = labelValue(scaleYText_);
    bool xChanged = false, yChanged = false;
    switch (sender) {
      case ZoomSender::XUp: x += kZoomStep, xChanged = true; break;
      case ZoomSender::XDown:
        if (x - kZoomStep < kZoomStep) return 0;
        x -= kZoomStep, xChanged = true;
        break;
      case ZoomSender::YUp: y += kZoomStep, yChanged = true; break;
      case ZoomSender::YDown:
        if (y - kZoomStep < kZoomStep) return 0;
        y -= kZoomStep, yChanged = true;
        break;
      default: break;
    }
    textX = formatScale(x);
    textY = formatScale(y);
    if (shiftHeld && xChanged) textY = textX;
    if (shiftHeld && yChanged) textX = textY;
  } else {
    textX = deviceScaleX;
    textY = deviceScaleY;
  }
  scaleXText_ = usableScaleText(textX);
  scaleYText_ = usableScaleText(textY);
  sx_ = labelValue(scaleXText_);
  sy_ = labelValue(scaleYText_);
  viewScale_ = AffineTransform::identity();
  viewScale_.translate(kGraphOriginX, kGraphOriginY);
  viewScale_.scale(sx_, sy_);
  graphWidth_ = truncToInt32((viewWidth_ - kGraphOriginX) / sx_);
  indicatorValue_ = 0;

  for (size_t i = 0; i < kCurveRows; ++i) {
    if (int32_t err = recomputeRow(i, rows)) return err;
  }
  return 0;
}

int32_t CurveViewModel::recomputeRow(size_t i, std::span<const CurveSpeed> rows) {
  const CurveSpeed* cs = i < rows.size() ? &rows[i] : nullptr;
  if (cs && cs->device && cs->device->acclCurves) return updateCurvePA(&presetCurves_[i], cs);
  return updateCurveSG(&presetCurves_[i], cs);
}

int32_t CurveViewModel::setFocusedCurve(size_t k, std::span<const CurveSpeed> rows) {
  for (size_t i = 0; i < kCurveRows; ++i) {
    // A row without a colour stays clear; fading it would draw it in faint black.
    Rgba colour = kClearColour;
    if (i < rows.size() && rows[i].color) {
      colour = *rows[i].color;
      if (i != k) colour.a = kFaintAlpha;
    }
    presetCurveColors_[i] = colour;
    presetCurves_[i].setLineWidth(i == k ? kFocusedLineWidth : kOtherLineWidth);
  }
  return 0;
}

void CurveViewModel::setCurveVisible(std::span<const CurveSpeed> rows) {
  for (size_t i = 0; i < kCurveRows; ++i) curveVisible_[i] = i < rows.size() && rows[i].visible;
}

int32_t CurveViewModel::updateCurvePA(CurvePath* path, const CurveSpeed* cs) {
  const int32_t err = cs ? updateCurvePA(path, cs->device, cs->sensitivity, cs->trackingSpeed, cs->disableAccl)
                         : updateCurvePA(path, nullptr, 0, 0, false);
  if (err) {
    QS810stackError(*errors_, nullptr, err);
    return curve_view_error::kPACursorSpeed;
  }
  return 0;
}

int32_t CurveViewModel::updateCurveSG(CurvePath* path, const CurveSpeed* cs) {
  const int32_t err = cs ? updateCurveSG(path, cs->device, cs->sensitivity, cs->trackingSpeed, cs->disableAccl)
                         : updateCurveSG(path, nullptr, 0, 0, false);
  if (err) {
    QS810stackError(*errors_, nullptr, err);
    return curve_view_error::kSGCursorSpeed;
  }
  return 0;
}

int32_t CurveViewModel::updateCurvePA(CurvePath* path, const CurveDevice* device, double sensitivity,
                                      double tracking, bool disableAccl) {
  if (!device || !device->enabled) {
    clearCurve(path);
    return 0;
  }
  if (disableAccl) {
    setToLinearCurve(path);
    return 0;
  }
  int32_t err;
  if (X2Fix(tracking) != 0) {
    err = updateCurvePA(path, device->acclCurves, sensitivity, tracking);
  } else {
    // Tracking 0 is drawn from the table's first curve, unscaled.
    const bool hasTable = device->acclTable != nullptr;
    if (hasTable) scratchTable_.assign(device->acclTable->begin(), device->acclTable->end());
    err = updateCurveSG(path, hasTable ? &scratchTable_ : nullptr, sensitivity, tracking);
  }
  if (err) {
    QS810stackError(*errors_, nullptr, err);
    return curve_view_error::kPADevice;
  }
  return 0;
}

int32_t CurveViewModel::updateCurveSG(CurvePath* path, const CurveDevice* device, double sensitivity,
                                      double tracking, bool disableAccl) {
  state_.g_segments[0] = kIdentitySegment;
  if (!device || !device->enabled) {
    clearCurve(path);
    return 0;
  }
  if (disableAccl) {
    setToLinearCurve(path);
    return 0;
  }
  const bool hasTable = device->acclTable != nullptr;
  if (hasTable) scratchTable_.assign(device->acclTable->begin(), device->acclTable->end());
  pl::Data* copy = hasTable ? &scratchTable_ : nullptr;
  if (device->drovanaDriver) {
    if (int32_t err = updateCurveSG(path, copy, sensitivity, tracking)) {
      QS810stackError(*errors_, nullptr, err);
      return curve_view_error::kSGDrovana;
    }
    return 0;
  }
  const double r = device->pointerResolution;
  if (int32_t err = changeAcclTable(copy, r, sensitivity)) {
    QS810stackError(*errors_, nullptr, err);
    return curve_view_error::kSGChangeTable;
  }
  if (int32_t err = updateCurveSG(path, copy, r, tracking)) {
    QS810stackError(*errors_, nullptr, err);
    return curve_view_error::kSGTable;
  }
  return 0;
}

int32_t CurveViewModel::updateCurvePA(CurvePath* path, const pl::Value* parametricCurves, double pointerResolution,
                                      double tracking) {
  CurvePath& p = path ? *path : scratchPath_;
  clearCurve(&p);
  if (int32_t err = setupForAcceleration(state_, parametricCurves, pointerResolution, tracking)) {
    QS810stackError(*errors_, nullptr, err);
    return curve_view_error::kPAPathSetup;
  }
  const int32_t ymax = truncToInt32((viewHeight_ - kGraphOriginY) / sy_);
  int32_t x = 0, y = 0, previous = 0;
  bool computedAtX = false;
  for (; x < graphWidth_; x += kPAStep) {
    y = truncToInt32(Fix2X(scalePointer(state_, X2Fix(x))));
    computedAtX = true;
    if (y > ymax) break;
    if (y != previous) {
      p.lineTo(x, y);
      previous = y;
    }
    computedAtX = false;
    // The last step may pass the width; stop before the counter could overflow.
    if (x > std::numeric_limits<int32_t>::max() - kPAStep) break;
  }
  // The closing line goes to the curve's own value at the x reached: ending on the previous
  // step's y would draw a flat stub at the right edge that the curve does not have.
  if (!computedAtX && x > 0) y = truncToInt32(Fix2X(scalePointer(state_, X2Fix(x))));
  p.lineTo(x, y);
  p.transform(viewScale_);
  p.setToPACurve();
  return 0;
}

int32_t CurveViewModel::updateCurveSG(CurvePath* path, pl::Data* acclTable, double pointerResolution,
                                      double tracking) {
  if (pointerResolution < 0 || !acclTable || tracking < 0) return curve_error::kSegmentsBadArguments;
  CurvePath& p = path ? *path : scratchPath_;
  clearCurve(&p);
  const int32_t err = buildSegments(state_, acclTable, pointerResolution, tracking, segmentPoints_);
  for (const ScaledPoint& pt : segmentPoints_.view()) p.lineTo(Fix2X(pt.x), Fix2X(pt.y));
  if (err) return err;

  // Past the table's last point to device speed 6000: flat when an accelerated curve ends
  // rising, else along the line through the origin with the last piece's slope. A vertical
  // last piece (a zero resolution puts every point at device speed 0) has no slope and
  // continues flat too, instead of towards a point at infinity.
  const auto& el = p.elements();
  const PathElement last = el[el.size() - 1];
  const PathElement prev = el[el.size() - 2];
  if (last.x == prev.x || (tracking > 0 && last.y > prev.y)) {
    p.relativeLineTo(kTableExtension, 0);
  } else {
    p.lineTo(kTableExtension, kTableExtension * (last.y - prev.y) / (last.x - prev.x));
  }
  p.transform(viewScale_);
  p.setToSGCurve();
  return 0;
}

void CurveViewModel::clearCurve(CurvePath* path) {
  CurvePath& p = path ? *path : scratchPath_;
  p.removeAllPoints();
  p.moveTo(0, 0);
  p.setMiterLimit(kLinearCurveKind);
}

void CurveViewModel::setToLinearCurve(CurvePath* path) {
  CurvePath& p = path ? *path : scratchPath_;
  clearCurve(&p);
  p.lineTo(kLinearEnd, kLinearEnd);
  p.transform(viewScale_);
}

int CurveViewModel::backCalculateAxesPA(int a) {
  const Fixed target = X2Fix(a);
  int i = 0;
  for (; i < graphWidth_; ++i) {
    if (scalePointer(state_, X2Fix(i)) > target) return i == 0 ? 0 : i - 1;
  }
  return i == 0 ? 0 : i - 1;
}

int CurveViewModel::backCalculateAxesSG(int a) const {
  const Fixed target = X2Fix(a);
  for (const Segment& s : state_.g_segments) {
    // A flat piece has no inverse: FixDiv saturates, which puts the indicator past the right edge.
    if (s.deviceLimit >= target) return FixDiv(wrap::sub32(target, s.intercept), s.slope) / kFixedOne;
  }
  return 0;
}

void CurveViewModel::mouseMoved(double deltaX, double deltaY, bool buttonDown) {
  if (buttonDown || cursorSpeedIndex_ >= kCurveRows) return;
  const int m = std::max(safeAbs(truncToInt32(deltaX)), safeAbs(truncToInt32(deltaY)));
  const CurvePath& focused = presetCurves_[cursorSpeedIndex_];
  int device = m;
  if (focused.isPACurve())
    device = backCalculateAxesPA(m);
  else if (!focused.isLinearCurve())
    device = backCalculateAxesSG(m);
  updateIndicatorByX(device, 0);
}

void CurveViewModel::updateIndicatorByX(int x, int y) {
  const int m = std::max(safeAbs(x), safeAbs(y));
  double vx = m, vy = 0;
  viewScale_.apply(vx, vy);
  indicatorValue_ = truncToInt32(vx);
}

}  // namespace vl
