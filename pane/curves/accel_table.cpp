// The acceleration-table model: interpolate, changeAcclTable and the segment builder.
#include "pane/curves/accel_table.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "pane/curves/parametric_curves.h"

namespace vl {

namespace {
constexpr Fixed kFixedHalf = 0x8000;
constexpr Fixed kLastDeviceLimit = 0x7FFFFFFF;

// Callers check the bounds; these only assemble big-endian integers.
uint16_t readU16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
Fixed readFixed(const uint8_t* p) {
  return static_cast<Fixed>((static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
                            (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]));
}
void writeFixed(uint8_t* p, Fixed v) {
  const auto u = static_cast<uint32_t>(v);
  p[0] = static_cast<uint8_t>(u >> 24);
  p[1] = static_cast<uint8_t>(u >> 16);
  p[2] = static_cast<uint8_t>(u >> 8);
  p[3] = static_cast<uint8_t>(u);
}

struct CurveRef {
  size_t offset = 0;  // of the curve header
  Fixed level = 0;
  uint16_t count = 0;
  size_t pointsOffset() const { return offset + kCurveHeaderBytes; }
  size_t end() const { return pointsOffset() + kPointBytes * count; }
};

// Reads the curve at offset; false when its header or its points lie beyond the end.
bool curveAt(const pl::Data& table, size_t offset, CurveRef* out) {
  if (offset > table.size() || table.size() - offset < kCurveHeaderBytes) return false;
  out->offset = offset;
  out->level = readFixed(&table[offset]);
  out->count = readU16(&table[offset + 4]);
  return out->end() <= table.size();
}

// A cursor over the points of one curve.
struct PointReader {
  const uint8_t* next = nullptr;
  int left = 0;
  Fixed x = 0, y = 0;
  void read() {
    x = readFixed(next);
    y = readFixed(next + 4);
    next += kPointBytes;
  }
};
}  // namespace

Fixed interpolate(Fixed x1, Fixed y1, Fixed x2, Fixed y2, Fixed x3, Fixed y3, Fixed scale, bool lower) {
  const Fixed slope = x2 == x1 ? 0 : FixDiv(wrap::sub32(y2, y1), wrap::sub32(x2, x1));
  const Fixed r = wrap::add32(wrap::sub32(y1, FixMul(slope, x1)), FixMul(slope, x3));
  const Fixed d = FixMul(scale, wrap::sub32(y3, r));
  return lower ? wrap::sub32(y3, d) : wrap::add32(r, d);
}

int32_t changeAcclTable(pl::Data* table, double resolution, double sensitivity) {
  if (!table) return curve_error::kChangeTableNil;
  // A zero resolution would feed infinity or NaN to the conversion.
  if (resolution == 0 || !std::isfinite(sensitivity / resolution)) return curve_error::kChangeTableBadResolution;
  if (table->size() < kTableHeaderBytes) return curve_error::kChangeTableTruncated;
  const uint16_t curves = readU16(&(*table)[8]);
  size_t offset = kTableHeaderBytes;
  for (uint16_t c = 0; c < curves; ++c) {
    // A table whose counts claim more than it holds is completed with zeros, header
    // included, so that nothing is ever read beyond its end.
    if (table->size() < offset + kCurveHeaderBytes) table->resize(offset + kCurveHeaderBytes, 0);
    const uint16_t n = readU16(&(*table)[offset + 4]);
    const size_t end = offset + kCurveHeaderBytes + kPointBytes * n;
    if (table->size() < end) table->resize(end, 0);
    for (size_t p = offset + kCurveHeaderBytes; p < end; p += kPointBytes) {
      const Fixed x = readFixed(&(*table)[p]);
      writeFixed(&(*table)[p], X2Fix(Fix2X(x) * sensitivity / resolution));
    }
    offset = end;
  }
  return 0;
}

int32_t buildSegments(AccelerationState& state, const pl::Data* table, double resolution, double tracking,
                      SegmentPoints& points) {
  points.count = 0;
  const Fixed desired = X2Fix(tracking);
  const Fixed deviceScale = deviceScaleFor(resolution);
  const Fixed curScale = cursorScale();
  if (resolution < 0 || !table || tracking < 0) return curve_error::kSegmentsBadArguments;

  // The table comes from a device: every header and every point the counts claim must be
  // there before any of it is read.
  if (table->size() < kTableHeaderBytes) return curve_error::kSegmentsTruncated;
  const uint16_t curveCount = readU16(&(*table)[8]);
  if (curveCount == 0) return curve_error::kSegmentsNoCurves;
  {
    size_t offset = kTableHeaderBytes;
    CurveRef c;
    for (uint16_t i = 0; i < curveCount; ++i) {
      if (!curveAt(*table, offset, &c)) return curve_error::kSegmentsTruncated;
      offset = c.end();
    }
  }

  // Tracking 0.5 selects the mid level; the mapping is linear on either side of it.
  const Fixed mid = readFixed(&(*table)[0]);
  Fixed level;
  if (desired <= kFixedHalf) {
    const Fixed half = FixMul(desired, mid);
    level = wrap::add32(half, half);
  } else {
    const Fixed half = FixMul(wrap::sub32(desired, kFixedHalf), wrap::sub32(kFixedOne, mid));
    level = wrap::add32(mid, wrap::add32(half, half));
  }

  CurveRef first, high, low;
  bool hasLow = false;
  Fixed scale;
  curveAt(*table, kTableHeaderBytes, &first);
  if (level <= first.level) {
    high = first;
    scale = kFixedOne;
  } else {
    CurveRef prev = first, c;
    bool found = false;
    for (uint16_t i = 1; i < curveCount; ++i) {
      curveAt(*table, prev.end(), &c);
      if (level <= c.level) {
        low = prev;
        high = c;
        hasLow = found = true;
        break;
      }
      prev = c;
    }
    if (found) {
      scale = high.level == low.level
                  ? 0
                  : FixDiv(wrap::sub32(level, low.level), wrap::sub32(high.level, low.level));
    } else {
      // Beyond the last curve: extrapolate from it alone.
      high = prev;
      scale = high.level == 0 ? 0 : FixDiv(level, high.level);
    }
  }

  const int lowCount = hasLow ? low.count : 0;
  const int m = std::max(lowCount, static_cast<int>(high.count));
  if (m > kMaxCurvePoints) return curve_error::kSegmentsTooManyPoints;
  // A curve without points has no first point; its bytes would be the next curve's.
  if (high.count == 0 || (hasLow && low.count == 0)) return curve_error::kSegmentsEmptyCurve;

  PointReader lo, hi;
  lo.next = &(*table)[hasLow ? low.pointsOffset() : high.pointsOffset()];
  lo.left = lowCount;
  lo.read();
  hi.next = &(*table)[high.pointsOffset()];
  hi.left = high.count;
  hi.read();

  Fixed x1 = 0, y1 = 0, prevX = 0, prevY = 0, sx1 = 0, sy1 = 0;
  int written = 0;
  bool more;
  do {
    bool lower;
    Fixed x2, y2, x3, y3;
    if (lo.left > 0 && (lo.x <= hi.x || hi.left == 0)) {
      lower = true;
      x2 = hi.x, y2 = hi.y, x3 = lo.x, y3 = lo.y;
      if (--lo.left > 0) lo.read();
    } else {
      lower = false;
      x2 = lo.x, y2 = lo.y, x3 = hi.x, y3 = hi.y;
      if (hi.left > 0 && --hi.left > 0) hi.read();
    }
    if (written == 2 * m) return curve_error::kSegmentsOverflow;

    const Fixed sx2 = FixMul(deviceScale, x3);
    const Fixed sy2 = FixMul(curScale, interpolate(x1, y1, x2, y2, x3, y3, scale, lower));
    points.points[static_cast<size_t>(points.count++)] = {sx2, sy2};

    more = lo.left > 0 || hi.left > 0;
    Segment& seg = state.g_segments[static_cast<size_t>(written++)];
    seg.deviceLimit = more ? sx2 : kLastDeviceLimit;
    seg.slope = sx2 == sx1 ? 0 : FixDiv(wrap::sub32(sy2, sy1), wrap::sub32(sx2, sx1));
    seg.intercept = wrap::sub32(sy2, FixMul(seg.slope, sx2));

    // While both curves run, the anchor follows the point just used; once one is used
    // up, it alternates between its last two values.
    if (lo.left > 0 && hi.left > 0) {
      prevX = x1, prevY = y1;
      if (!(lo.x > hi.x)) x1 = x3, y1 = y3;
    } else {
      std::swap(x1, prevX);
      std::swap(y1, prevY);
    }
    sx1 = sx2, sy1 = sy2;
  } while (more);

  state.g_segments[static_cast<size_t>(written)] = Segment{};
  return 0;
}

}  // namespace vl
