// The parametric acceleration model: a blended quartic with a tangent line and a square-root
// tail, set up from a curve list and applied to device deltas in integer arithmetic only.
#pragma once

#include <cstdint>

#include "core/plist/value.h"
#include "pane/curves/acceleration_state.h"

namespace vl {

// Keys of one curve dictionary.
inline constexpr const char* kHIDAccelIndexKey = "HIDAccelIndex";
inline constexpr const char* kHIDAccelGainLinearKey = "HIDAccelGainLinear";
inline constexpr const char* kHIDAccelGainParabolicKey = "HIDAccelGainParabolic";
inline constexpr const char* kHIDAccelGainCubicKey = "HIDAccelGainCubic";
inline constexpr const char* kHIDAccelGainQuarticKey = "HIDAccelGainQuartic";
inline constexpr const char* kHIDAccelTangentSpeedLinearKey = "HIDAccelTangentSpeedLinear";
inline constexpr const char* kHIDAccelTangentSpeedParabolicRootKey = "HIDAccelTangentSpeedParabolicRoot";

// Q(x) = (g0 x) + (g1 x)^2 + (g2 x)^3 + (g3 x)^4 with the kernel's truncations.
IOFixed64 IOQuarticFunction(IOFixed64 x, const IOFixed64 gain[4]);
// Q'(x) = g0 + 2 x g1^2 + 3 x^2 g2^3 + 4 x^3 g3^4.
IOFixed64 IOQuarticDerivative(IOFixed64 x, const IOFixed64 gain[4]);

// A number's 32-bit value as a sign-extended 16.16; anything else (or nothing) is 0.
IOFixed64 OSObjectToIOFixed64(const pl::Value* number);

// Fills a parameter set from one curve dictionary; true when a gain is non-zero. A null
// dictionary returns false and leaves the set untouched.
bool PACurvesFillParamsFromDict(const pl::Dict* dict, IOFixed64 deviceScale, IOFixed64 cursorScale,
                                IOHIPointing__PAParameters& out);

// Builds state.g_paparams for a tracking speed from a curve list and resets the carry.
int32_t setupForAcceleration(AccelerationState& state, const pl::Value* curves, double resolution,
                             double tracking);

// The factor a device delta of this speed is multiplied by.
IOFixed64 PACurvesGetAccelerationMultiplier(IOFixed64 speed, const IOHIPointing__PAParameters& primary,
                                            const IOHIPointing__PASecondaryParameters& secondary);

// Accelerates one device delta with the state's current parameters.
Fixed scalePointer(AccelerationState& state, Fixed delta);

// The two scales both models use: resolution ÷ 67 and 96 ÷ 67.
Fixed deviceScaleFor(double resolution);
Fixed cursorScale();

}  // namespace vl
