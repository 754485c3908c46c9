// The acceleration-table model: rescaling a table for a sensitivity, and turning the curves
// that bracket a tracking speed into scaled points and straight-line segments.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "core/plist/value.h"
#include "pane/curves/acceleration_state.h"

namespace vl {

// The table layout: mid level, four carried bytes, curve count, then the curves.
inline constexpr size_t kTableHeaderBytes = 10;
inline constexpr size_t kCurveHeaderBytes = 6;
inline constexpr size_t kPointBytes = 8;

// The point on the line through (x1, y1) and (x2, y2) at x3, moved toward y3 by scale.
Fixed interpolate(Fixed x1, Fixed y1, Fixed x2, Fixed y2, Fixed x3, Fixed y3, Fixed scale, bool lower);

// Rescales, in place, the device speed of every point by sensitivity ÷ resolution; a curve
// whose points run past the end is first extended with zeros.
int32_t changeAcclTable(pl::Data* table, double resolution, double sensitivity);

struct ScaledPoint {
  Fixed x = 0;  // device speed
  Fixed y = 0;  // cursor speed
  bool operator==(const ScaledPoint&) const = default;
};

// The scaled points of one built table curve (one per segment), without allocation.
struct SegmentPoints {
  std::array<ScaledPoint, kSegmentCount> points{};
  int count = 0;
  std::span<const ScaledPoint> view() const { return {points.data(), static_cast<size_t>(count)}; }
};

// Builds the table curve for a tracking speed into points and state.g_segments. Points and
// segments written before a failure stay as they are.
int32_t buildSegments(AccelerationState& state, const pl::Data* table, double resolution, double tracking,
                      SegmentPoints& points);

}  // namespace vl
