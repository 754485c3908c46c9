// The model's cursor curve for one speed setting and its best constant-gain approximation.
#include "tools/inputd/core/cursor_curve.h"

#include <cmath>
#include <limits>

#include "pane/curves/default_curves.h"
#include "pane/curves/parametric_curves.h"

namespace vl::inputd {

namespace {
constexpr int64_t kCurveError = 8710011;
}

Result<CursorCurve> CursorCurve::create(const pl::Value* curves, double resolution, double acceleration) {
  if (!std::isfinite(resolution) || resolution < 10 || resolution > 2000)
    return Status::failure(kCurveError, "resolution outside 10 … 2000");
  if (!std::isfinite(acceleration) || acceleration > 20)
    return Status::failure(kCurveError, "acceleration above 20 or not a number");
  CursorCurve c;
  c.resolution_ = resolution;
  c.acceleration_ = acceleration;
  if (X2Fix(acceleration) <= 0) {
    c.linear_ = true;
    c.linearMultiplier_ = IOFixed64::withFixed(cursorScale()) / IOFixed64::withFixed(deviceScaleFor(resolution));
    return c;
  }
  if (!curves) curves = defaultAcclCurves();
  AccelerationState state;
  int32_t rc = setupForAcceleration(state, curves, resolution, acceleration);
  if (rc != 0) return Status::failure(rc, "the curve list cannot be set up for this speed");
  c.params_ = state.g_paparams;
  return c;
}

IOFixed64 CursorCurve::multiplier(uint64_t counts) const {
  if (linear_) return linearMultiplier_;
  // A whole speed of 32 integer bits, as the model keeps it.
  const IOFixed64 speed = IOFixed64::withRaw(static_cast<int64_t>(static_cast<uint32_t>(counts)) << 16);
  return PACurvesGetAccelerationMultiplier(speed, params_.primary, params_.secondary);
}

int64_t CursorCurve::scaled(IOFixed64 m, int32_t delta) {
  const int64_t x = static_cast<int64_t>(delta) * 65536;
  const int64_t y = wrap::mul(m.value, x) / 65536;
  if (y > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (y < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return y;
}

int64_t CursorCurve::cursorFixed(int32_t counts) const {
  const uint64_t magnitude = static_cast<uint64_t>(counts < 0 ? -static_cast<int64_t>(counts) : counts);
  return scaled(multiplier(magnitude), counts);
}

linux_input::DesktopSpeed flatSpeedFor(double resolution, double acceleration) {
  auto curve = CursorCurve::create(nullptr, resolution, acceleration);
  if (!curve) return {96.0 / resolution, acceleration < 0};
  if (acceleration <= 0) return {96.0 / resolution, acceleration < 0};
  double sumA = 0, sumA2 = 0;
  for (int v = 1; v <= 200; ++v) {
    double model = static_cast<double>(curve->cursorFixed(v)) / 65536.0;
    if (model <= 0) continue;
    double a = v / model;
    sumA += a;
    sumA2 += a * a;
  }
  if (sumA2 <= 0) return {96.0 / resolution, false};
  return {sumA / sumA2, false};
}

}  // namespace vl::inputd
