// The parametric acceleration model: quartic, derivative, curve blending and scalePointer.
#include "pane/curves/parametric_curves.h"

#include <limits>

namespace vl {

namespace {
constexpr Fixed kFixed67 = 0x430000;
constexpr Fixed kFixed96 = 0x600000;

// The square of a value as the raw product shifted right 16 bits without sign.
IOFixed64 squareLogical(IOFixed64 v) { return IOFixed64::withRaw(wrap::mulShiftLogical(v.value, v.value)); }
}  // namespace

Fixed deviceScaleFor(double resolution) { return FixDiv(X2Fix(resolution), kFixed67); }
Fixed cursorScale() { return FixDiv(kFixed96, kFixed67); }

IOFixed64 IOQuarticFunction(IOFixed64 x, const IOFixed64 gain[4]) {
  IOFixed64 result = gain[0] * x;
  result = result + squareLogical(gain[1] * x);
  if (gain[2].value != 0) result = result + exponent(gain[2] * x, 3);
  if (gain[3].value != 0) result = result + exponent(gain[3] * x, 4);
  return result;
}

IOFixed64 IOQuarticDerivative(IOFixed64 x, const IOFixed64 gain[4]) {
  IOFixed64 result = gain[0];
  result = result + (x * squareLogical(gain[1])) * 2;
  if (gain[2].value != 0) result = result + (squareLogical(x) * exponent(gain[2], 3)) * 3;
  if (gain[3].value != 0) result = result + (exponent(x, 3) * exponent(gain[3], 4)) * 4;
  return result;
}

IOFixed64 OSObjectToIOFixed64(const pl::Value* number) {
  if (!number || !number->isNumber()) return IOFixed64{};
  return IOFixed64::withFixed(number->intValue());
}

bool PACurvesFillParamsFromDict(const pl::Dict* dict, IOFixed64 deviceScale, IOFixed64 cursorScale,
                                IOHIPointing__PAParameters& out) {
  if (!dict) return false;
  auto field = [dict](const char* key) {
    auto it = dict->find(key);
    return OSObjectToIOFixed64(it == dict->end() ? nullptr : &it->second);
  };
  out.deviceScale = deviceScale;
  out.cursorScale = cursorScale;
  out.accelIndex = field(kHIDAccelIndexKey);
  out.gain[0] = field(kHIDAccelGainLinearKey);
  out.gain[1] = field(kHIDAccelGainParabolicKey);
  out.gain[2] = field(kHIDAccelGainCubicKey);
  out.gain[3] = field(kHIDAccelGainQuarticKey);
  out.tangent[0] = field(kHIDAccelTangentSpeedLinearKey);
  out.tangent[1] = field(kHIDAccelTangentSpeedParabolicRootKey);
  return out.gain[0].value != 0 || out.gain[1].value != 0 || out.gain[2].value != 0 || out.gain[3].value != 0;
}

int32_t setupForAcceleration(AccelerationState& state, const pl::Value* curves, double resolution,
                             double tracking) {
  const Fixed desiredFixed = X2Fix(tracking);
  const Fixed devScale = deviceScaleFor(resolution);
  const Fixed curScale = cursorScale();
  state.g_fractX = 0;

  if (devScale <= 0 || !curves || desiredFixed <= 0 || curScale <= 0) return curve_error::kSetupBadArguments;
  const pl::Array* list = curves->asArray();
  if (!list) return curve_error::kSetupNotArray;

  const IOFixed64 desired = IOFixed64::withFixed(desiredFixed);
  const IOFixed64 deviceScale = IOFixed64::withFixed(devScale);
  const IOFixed64 cursor = IOFixed64::withFixed(curScale);

  if (list->empty() || !(*list)[0].isDict()) return curve_error::kSetupFirstNotDict;
  IOHIPointing__PAParameters low{}, high{};
  if (!PACurvesFillParamsFromDict((*list)[0].asDict(), deviceScale, cursor, low)) return curve_error::kSetupFirstNoGain;

  // Walk up to the first curve at or above the desired index; the one before it is low.
  size_t next = 0;
  const pl::Dict* current = (*list)[0].asDict();
  for (;;) {
    if (!PACurvesFillParamsFromDict(current, deviceScale, cursor, high)) break;
    bool reached = true;
    if (high.accelIndex < desired) {
      low = high;
      reached = false;
    }
    ++next;
    if (next >= list->size()) break;
    if (!(*list)[next].isDict()) return curve_error::kSetupLaterNotDict;
    if (reached) break;
    current = (*list)[next].asDict();
  }

  IOHIPointing__PAParameters& primary = state.g_paparams.primary;
  const IOFixed64 span = high.accelIndex - low.accelIndex;
  if (span.value > 0) {
    const IOFixed64 ratio = (desired - low.accelIndex) / span;
    auto blend = [&ratio](IOFixed64 lo, IOFixed64 hi) {
      IOFixed64 v = lo + (hi - lo) * ratio;
      return v.value < 0 ? IOFixed64{} : v;
    };
    primary.deviceScale = high.deviceScale;
    primary.cursorScale = high.cursorScale;
    primary.accelIndex = desired;
    for (int i = 0; i < 4; ++i) primary.gain[i] = blend(low.gain[i], high.gain[i]);
    for (int i = 0; i < 2; ++i) primary.tangent[i] = blend(low.tangent[i], high.tangent[i]);
  } else {
    primary = high;
  }

  int32_t result = 0;
  if (primary.gain[0].value == 0 && primary.gain[1].value == 0 && primary.gain[2].value == 0 &&
      primary.gain[3].value == 0)
    result = curve_error::kSetupBlendNoGain;

  IOHIPointing__PASecondaryParameters& secondary = state.g_paparams.secondary;
  secondary = IOHIPointing__PASecondaryParameters{};
  const IOFixed64 t0 = primary.tangent[0];
  const IOFixed64 t1 = primary.tangent[1];
  if (t1.value > 0 && t1 < t0) {
    secondary.tangentIndex = 1;
    secondary.rootTangentValue = IOQuarticFunction(t1, primary.gain);
    secondary.linearSlope = IOQuarticDerivative(t1, primary.gain);
  } else {
    secondary.linearTangentValue = IOQuarticFunction(t0, primary.gain);
    secondary.linearSlope = IOQuarticDerivative(t0, primary.gain);
    secondary.linearIntercept = secondary.linearTangentValue - t0 * secondary.linearSlope;
    secondary.rootTangentValue = secondary.linearIntercept + secondary.linearSlope * t1;
  }
  secondary.rootSlope = (secondary.linearSlope * secondary.rootTangentValue) * 2;
  secondary.rootIntercept = squareLogical(secondary.rootTangentValue) - secondary.rootSlope * t1;
  return result;
}

IOFixed64 PACurvesGetAccelerationMultiplier(IOFixed64 speed, const IOHIPointing__PAParameters& primary,
                                            const IOHIPointing__PASecondaryParameters& secondary) {
  if (speed.value <= 0 || primary.deviceScale.value == 0) return IOFixed64::withRaw(1);
  const IOFixed64 v = speed / primary.deviceScale;
  // A corrupt index must not read beside the array; the model only ever stores 0 or 1.
  const IOFixed64 tangent = primary.tangent[secondary.tangentIndex == 1 ? 1 : 0];
  IOFixed64 accel;
  if (tangent.value != 0 && v <= tangent) {
    accel = IOQuarticFunction(v, primary.gain);
  } else if (secondary.tangentIndex == 0 && primary.tangent[1].value != 0 && v <= primary.tangent[1]) {
    accel = secondary.linearSlope * v + secondary.linearIntercept;
  } else {
    // The square-root tail: whole-number steps only.
    const IOFixed64 r = secondary.rootSlope * v + secondary.rootIntercept;
    const uint64_t n = static_cast<uint64_t>(r.value / 65536);
    accel = IOFixed64::withRaw(static_cast<int64_t>(static_cast<uint32_t>(llsqrt(n))) << 16);
  }
  return (accel * primary.cursorScale) / speed;
}

Fixed scalePointer(AccelerationState& state, Fixed delta) {
  const int64_t x = delta;
  const int64_t carry = state.g_fractX;
  // The whole part of |delta|, as a whole IOFixed64.
  const uint64_t whole = llsqrt(static_cast<uint64_t>(x * x) >> 32);
  const IOFixed64 speed = IOFixed64::withRaw(static_cast<int64_t>(static_cast<uint32_t>(whole)) << 16);
  const IOFixed64 m =
      PACurvesGetAccelerationMultiplier(speed, state.g_paparams.primary, state.g_paparams.secondary);
  const int64_t y = wrap::add(wrap::mul(m.value, x) / 65536, carry);
  const uint32_t high = y < 0 ? 0xFFFF0000u : 0u;
  state.g_fractX = static_cast<Fixed>(high | (static_cast<uint32_t>(state.g_fractX) & 0xFFFFu));
  if (y > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (y < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<Fixed>(y);
}

}  // namespace vl
