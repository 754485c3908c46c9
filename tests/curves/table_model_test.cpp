// The acceleration-table model: interpolation, rescaling a table for a sensitivity, and the
// segment builder with its bracketing, anchor alternation and refusal of malformed tables.
#include <gtest/gtest.h>

#include "pane/curves/accel_table.h"
#include "pane/curves/default_curves.h"
#include "pane/curves/parametric_curves.h"
#include "tests/curves/curve_fixtures.h"

namespace vl {
namespace {

using test::fx;
using test::makeTable;
using test::readBE32;

constexpr Fixed kCursor = 0x16ECE;

// The default table, point by point.
pl::Data expectedDefaultTable() {
  return makeTable(0x8000, {{0, {{0x10000, 0x10000}}},
                            {0x10000,
                             {{0x713B, 0x6000}, {0x44EC5, 0x108000}, {0xC0000, 0x5F0000}, {0x16EC4F, 0x8B0000},
                              {0x1D3B14, 0x948000}, {0x227627, 0x960000}, {0x246276, 0x960000},
                              {0x260000, 0x960000}, {0x280000, 0x960000}}}});
}

TEST(DefaultTable, Is102BytesOfTwoCurves) {
  const pl::Data* t = defaultAcclTable();
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->size(), 102u);
  EXPECT_EQ(*t, expectedDefaultTable());
}

TEST(Interpolate, MovesTheLinePointTowardTheTarget) {
  // Line through (0, 0) and (2, 4) at x = 1 is 2; halfway toward 1 is 1.5.
  EXPECT_EQ(interpolate(0, 0, fx(2), fx(4), fx(1), fx(1), fx(0.5), false), fx(1.5));
  // lower: y3 − scale · (y3 − r) = 4 − 0.5 · 2 = 3.
  EXPECT_EQ(interpolate(fx(1), fx(1), fx(3), fx(3), fx(2), fx(4), fx(0.5), true), fx(3));
  // A vertical line has slope 0: r = y1.
  EXPECT_EQ(interpolate(fx(1), fx(7), fx(1), fx(9), fx(5), fx(3), 0, false), fx(7));
  EXPECT_EQ(interpolate(fx(1), fx(7), fx(1), fx(9), fx(5), fx(3), fx(1), false), fx(3));
}

TEST(ChangeAcclTable, ScalesEveryDeviceSpeedAndNoCursorSpeed) {
  pl::Data t = expectedDefaultTable();
  ASSERT_EQ(changeAcclTable(&t, 400, 800), 0);
  EXPECT_EQ(readBE32(t, 16), 0x20000);       // curve 1's x doubled
  EXPECT_EQ(readBE32(t, 20), 0x10000);       // its y untouched
  EXPECT_EQ(readBE32(t, 30), 2 * 0x713B);
  EXPECT_EQ(readBE32(t, 34), 0x6000);
  EXPECT_EQ(readBE32(t, 94), 2 * 0x280000);
  EXPECT_EQ(readBE32(t, 98), 0x960000);
  EXPECT_EQ(readBE32(t, 0), 0x8000);         // header untouched

  pl::Data third = makeTable(0x8000, {{0, {{0x10000, 0x10000}}}});
  ASSERT_EQ(changeAcclTable(&third, 3, 1), 0);
  EXPECT_EQ(readBE32(third, 10 + 6), 21845);  // 1/3 rounded to nearest
}

TEST(ChangeAcclTable, RefusesWhatItCannotScaleAndLeavesEmptyTablesAlone) {
  pl::Data t = expectedDefaultTable();
  const pl::Data original = t;
  EXPECT_EQ(changeAcclTable(nullptr, 400, 400), 2680019);
  EXPECT_EQ(changeAcclTable(&t, 0, 400), 2680024);     // would divide by zero
  EXPECT_EQ(changeAcclTable(&t, 400, NAN), 2680024);
  EXPECT_EQ(changeAcclTable(&t, INFINITY, INFINITY), 2680024);
  EXPECT_EQ(t, original);
  pl::Data shortTable(9, 0);
  EXPECT_EQ(changeAcclTable(&shortTable, 400, 400), 2680031);
  EXPECT_EQ(shortTable.size(), 9u);
  pl::Data noCurves = makeTable(0x8000, {});
  EXPECT_EQ(changeAcclTable(&noCurves, 400, 800), 0);
  EXPECT_EQ(noCurves, makeTable(0x8000, {}));
}

TEST(ChangeAcclTable, CompletesATableShorterThanItsCountsWithZeros) {
  // The point count claims two points, one is there.
  pl::Data t = makeTable(0x8000, {{0, {{0x10000, 0x10000}}}});
  t[15] = 2;
  ASSERT_EQ(changeAcclTable(&t, 400, 800), 0);
  ASSERT_EQ(t.size(), 10u + 6 + 16);
  EXPECT_EQ(readBE32(t, 16), 0x20000);
  EXPECT_EQ(readBE32(t, 24), 0);
  EXPECT_EQ(readBE32(t, 28), 0);

  // The curve count claims three curves, one is there: two empty headers are added.
  pl::Data u = makeTable(0x8000, {{0, {{0x10000, 0x10000}}}}, 3);
  ASSERT_EQ(changeAcclTable(&u, 400, 400), 0);
  EXPECT_EQ(u.size(), 10u + 14 + 6 + 6);

  // A header cut inside its point count: the missing byte reads as zero.
  pl::Data v = makeTable(0x8000, {{0, {{0x10000, 0x10000}}}}, 2);
  v.insert(v.end(), {0, 1, 0, 0, 0});  // level 1.0 and half a count
  ASSERT_EQ(changeAcclTable(&v, 400, 400), 0);
  EXPECT_EQ(v.size(), 10u + 14 + 6);
}

class SegmentBuilder : public ::testing::Test {
 protected:
  int32_t build(const pl::Data& table, double resolution, double tracking) {
    return buildSegments(s, &table, resolution, tracking, points);
  }
  AccelerationState s;
  SegmentPoints points;
};

TEST_F(SegmentBuilder, TrackingZeroSelectsTheFirstDefaultCurveAlone) {
  s.g_segments[1] = {1, 2, 3};
  ASSERT_EQ(build(*defaultAcclTable(), 400, 0), 0);
  ASSERT_EQ(points.count, 1);
  EXPECT_EQ(points.points[0], (ScaledPoint{391260, kCursor}));  // about (5.97, 1.43)
  const Fixed slope = FixDiv(kCursor, 391260);
  EXPECT_EQ(s.g_segments[0], (Segment{0x7FFFFFFF, slope, kCursor - FixMul(slope, 391260)}));
  EXPECT_EQ(s.g_segments[1], Segment{});
}

TEST_F(SegmentBuilder, TrackingHalfBlendsBothDefaultCurvesIntoTenPoints) {
  ASSERT_EQ(build(*defaultAcclTable(), 400, 0.5), 0);
  ASSERT_EQ(points.count, 10);
  EXPECT_NEAR(Fix2X(points.points[0].x), 2.6, 0.05);
  EXPECT_NEAR(Fix2X(points.points[0].y), 0.6, 0.05);
  EXPECT_NEAR(Fix2X(points.points[9].x), 238.8, 0.05);
  EXPECT_NEAR(Fix2X(points.points[9].y), 139.5, 0.05);
  for (int i = 1; i < points.count; ++i) {
    EXPECT_LT(points.points[i - 1].x, points.points[i].x);
    EXPECT_EQ(s.g_segments[i - 1].deviceLimit, points.points[i - 1].x);
  }
  EXPECT_EQ(s.g_segments[9].deviceLimit, 0x7FFFFFFF);
  EXPECT_EQ(s.g_segments[10], Segment{});
}

TEST_F(SegmentBuilder, OnceTheLowCurveIsUsedUpTheAnchorAlternates) {
  // Low curve (level 0): (2, 4). High curve (level 1): (1, 1), (3, 3), (5, 5). Tracking 0.5
  // blends halfway; at resolution 67 device speeds are unscaled. The anchor goes (0,0),
  // (1,1), then swaps with the one before at every point: (0,0), (1,1).
  const pl::Data t = makeTable(0x8000, {{0, {{fx(2), fx(4)}}}, {0x10000, {{fx(1), fx(1)}, {fx(3), fx(3)}, {fx(5), fx(5)}}}});
  ASSERT_EQ(build(t, 67, 0.5), 0);
  ASSERT_EQ(points.count, 4);
  const ScaledPoint want[] = {{fx(1), FixMul(kCursor, fx(1.5))},
                              {fx(2), FixMul(kCursor, fx(3))},
                              {fx(3), FixMul(kCursor, fx(4.5))},
                              {fx(5), FixMul(kCursor, fx(9))}};  // 7.5 with a fixed anchor
  for (int i = 0; i < 4; ++i) EXPECT_EQ(points.points[i], want[i]) << i;
  EXPECT_EQ(s.g_segments[0], (Segment{fx(1), 140853, 0}));
  EXPECT_EQ(s.g_segments[2], (Segment{fx(3), 140853, 0}));
  EXPECT_EQ(s.g_segments[3], (Segment{0x7FFFFFFF, 211280, 845118 - 1056400}));
  EXPECT_EQ(s.g_segments[4], Segment{});
}

TEST_F(SegmentBuilder, TrackingMapsOntoLevelsAroundTheMidLevel) {
  // Curves at 0 with (1, 1) and at 1.0 with (1, 5): the point's height is 1 + 4 · scale.
  const pl::Data t = makeTable(fx(0.25), {{0, {{fx(1), fx(1)}}}, {0x10000, {{fx(1), fx(5)}}}});
  struct Case { double tracking, height; } cases[] = {
      {0.5, 2.0},    // level 0.25
      {0.75, 3.5},   // level 0.25 + 2 · 0.25 · 0.75 = 0.625
      {1.0, 5.0},    // level 1.0: the high curve
      {0.125, 1.25}, // level 2 · 0.125 · 0.25 = 0.0625
  };
  for (const auto& c : cases) {
    ASSERT_EQ(build(t, 67, c.tracking), 0) << c.tracking;
    ASSERT_EQ(points.count, 2);
    EXPECT_EQ(points.points[0].y, FixMul(kCursor, fx(c.height))) << c.tracking;
  }
}

TEST_F(SegmentBuilder, OneCurveOfOnePointGivesOneSegmentThroughTheOrigin) {
  const pl::Data t = makeTable(0x8000, {{0, {{fx(1), fx(1)}}}});
  ASSERT_EQ(build(t, 67, 0), 0);
  ASSERT_EQ(points.count, 1);
  EXPECT_EQ(s.g_segments[0], (Segment{0x7FFFFFFF, kCursor, 0}));
  EXPECT_EQ(s.g_segments[1], Segment{});
}

TEST_F(SegmentBuilder, LastSegmentIsOpenEndedForEveryTracking) {
  for (double tracking = 0; tracking <= 3.0; tracking += 0.0625) {
    ASSERT_EQ(build(*defaultAcclTable(), 400, tracking), 0) << tracking;
    ASSERT_GE(points.count, 1);
    EXPECT_EQ(s.g_segments[static_cast<size_t>(points.count - 1)].deviceLimit, 0x7FFFFFFF) << tracking;
  }
}

TEST_F(SegmentBuilder, RefusesArgumentsAndTablesItCannotRead) {
  std::vector<std::pair<Fixed, Fixed>> many;
  for (int i = 1; i <= 33; ++i) many.push_back({fx(i), fx(i)});
  const pl::Data good = makeTable(0x8000, {{0, {{fx(1), fx(1)}}}});
  pl::Data pointsCut = good;
  pointsCut.pop_back();
  pl::Data countTooHigh = good;
  countTooHigh[15] = 2;
  const pl::Data emptyHigh = makeTable(0x8000, {{0, {}}, {0x10000, {{fx(1), fx(1)}}}});
  const pl::Data emptyLow = makeTable(0x8000, {{0, {}}, {0x10000, {{fx(1), fx(1)}}}});
  struct Case { const char* name; pl::Data table; double resolution, tracking; int32_t want; } cases[] = {
      {"negative resolution", good, -1, 0.5, 2620064},
      {"negative tracking", good, 400, -0.5, 2620064},
      {"shorter than its header", pl::Data(9, 0), 400, 0.5, 2620071},
      {"no curves", makeTable(0x8000, {}), 400, 0.5, 2620075},
      {"more curves claimed than present", makeTable(0x8000, {{0, {{fx(1), fx(1)}}}}, 2), 400, 0, 2620071},
      {"points cut short", pointsCut, 400, 0, 2620071},
      {"point count too high", countTooHigh, 400, 0, 2620071},
      {"33 points", makeTable(0x8000, {{0, many}}), 400, 0, 2620130},
      {"empty high curve", emptyHigh, 400, 0, 2620134},
      {"empty low curve", emptyLow, 400, 0.5, 2620134},
      {"zero resolution is allowed", good, 0, 0, 0},
  };
  for (auto& c : cases) EXPECT_EQ(build(c.table, c.resolution, c.tracking), c.want) << c.name;
  EXPECT_EQ(buildSegments(s, nullptr, 400, 0.5, points), 2620064);
}

TEST_F(SegmentBuilder, ExtendedTableFromChangeAcclTableIsRefusedWhenACurveIsEmpty) {
  pl::Data t = makeTable(0x8000, {{0, {{fx(1), fx(1)}}}}, 2);
  ASSERT_EQ(changeAcclTable(&t, 400, 400), 0);
  EXPECT_EQ(build(t, 400, 0), 0);           // level 0 needs only the first curve
  EXPECT_EQ(build(t, 400, 0.5), 2620134);   // the zero-filled second curve brackets 0.5
}

}  // namespace
}  // namespace vl
