// The acceleration model's parameter sets, segments and the state one drawn curve leaves
// behind (the parameters scalePointer reads, its carry, and the segment table).
#pragma once

#include <array>
#include <cstdint>

#include "pane/curves/fixed64.h"

namespace vl {

// Error numbers of the acceleration model.
namespace curve_error {
// setupForAcceleration
inline constexpr int32_t kSetupBadArguments = 2660445;  // device scale, curves, tracking or cursor scale
inline constexpr int32_t kSetupNotArray = 2660446;
inline constexpr int32_t kSetupFirstNotDict = 2660453;
inline constexpr int32_t kSetupFirstNoGain = 2660454;
inline constexpr int32_t kSetupLaterNotDict = 2660461;
inline constexpr int32_t kSetupBlendNoGain = 2660508;
// changeAcclTable
inline constexpr int32_t kChangeTableNil = 2680019;
inline constexpr int32_t kChangeTableBadResolution = 2680024;  // resolution 0, or a factor that is not finite
inline constexpr int32_t kChangeTableTruncated = 2680031;      // the table header or a curve header is missing
// segment builder
inline constexpr int32_t kSegmentsBadArguments = 2620064;
inline constexpr int32_t kSegmentsTruncated = 2620071;    // header, a curve header or points beyond the end
inline constexpr int32_t kSegmentsNoCurves = 2620075;
inline constexpr int32_t kSegmentsTooManyPoints = 2620130;
inline constexpr int32_t kSegmentsEmptyCurve = 2620134;   // a bracketing curve without points
inline constexpr int32_t kSegmentsOverflow = 2620179;
}  // namespace curve_error

// The parameter set of one parametric curve.
struct IOHIPointing__PAParameters {
  IOFixed64 deviceScale;  // device speed divisor
  IOFixed64 cursorScale;  // cursor speed multiplier
  IOFixed64 accelIndex;
  IOFixed64 gain[4];
  IOFixed64 tangent[2];
};

// Values derived from a parameter set by setupForAcceleration.
struct IOHIPointing__PASecondaryParameters {
  int32_t tangentIndex = 0;  // which tangent speed ends the pure quartic part
  IOFixed64 linearSlope;
  IOFixed64 linearIntercept;
  IOFixed64 linearTangentValue;
  IOFixed64 rootTangentValue;
  IOFixed64 rootSlope;
  IOFixed64 rootIntercept;
};

struct PAParams {
  IOHIPointing__PAParameters primary;
  IOHIPointing__PASecondaryParameters secondary;
};

// One straight piece of a table curve, all 16.16.
struct Segment {
  Fixed deviceLimit = 0;  // scaled device speed up to which the piece applies
  Fixed slope = 0;
  Fixed intercept = 0;
  bool operator==(const Segment&) const = default;
};

inline constexpr int kSegmentCount = 64;
inline constexpr int kMaxCurvePoints = 32;  // per bracketing curve; 2 × this many segments

// What the last curve computation leaves: the view's live indicator reads it back, so the
// owner keeps one instance and computes the focused curve last.
struct AccelerationState {
  PAParams g_paparams;
  Fixed g_fractX = 0;
  // One entry beyond the 64 so that the clearing after a full table stays inside.
  std::array<Segment, kSegmentCount + 1> g_segments{};
};

}  // namespace vl
