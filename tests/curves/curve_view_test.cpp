// The curve graph's model: zoom, the recomputation chain for parametric and table curves,
// focus colours, and the live indicator's back-calculation.
#include <gtest/gtest.h>

#include <vector>

#include "core/errors/error_stack.h"
#include "pane/curves/default_curves.h"
#include "pane/curves/parametric_curves.h"
#include "pane/model/curve_view_model.h"
#include "pane/model/graph_axes.h"
#include "tests/curves/curve_fixtures.h"

namespace vl {
namespace {

using test::fx;
using test::makeCurve;
using test::makeTable;

constexpr double kCursor = 0x16ECE / 65536.0;

class CurveViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    device.acclCurves = defaultAcclCurves();
    device.acclTable = defaultAcclTable();
    ASSERT_NE(device.acclCurves, nullptr);
    ASSERT_NE(device.acclTable, nullptr);
    for (int i = 0; i < 5; ++i)
      rows.push_back({&device, 400.0 + 100 * i, 0.6875, false, favouriteColour(i), true});
  }
  void zoom(const std::string& x, const std::string& y) {
    ASSERT_EQ(model.setViewScaleBy(ZoomSender::None, false, x, y, rows), 0);
  }
  static PathElement at(double x, double y, double sx, double sy) { return {PathOp::LineTo, 26 + x * sx, 18 + y * sy}; }

  CurveDevice device{true, nullptr, nullptr, false, 400};
  std::vector<CurveSpeed> rows;
  ErrorStack errors;
  CurveViewModel model{errors};
};

TEST_F(CurveViewTest, ZoomStepsByATenthAndShiftZoomsBothAxes) {
  zoom("1.0", "1.5");
  struct Step { ZoomSender sender; bool shift; const char* x; const char* y; } steps[] = {
      {ZoomSender::YUp, true, "1.6", "1.6"},
      {ZoomSender::XUp, false, "1.7", "1.6"},
      {ZoomSender::YDown, false, "1.7", "1.5"},
      {ZoomSender::XDown, true, "1.6", "1.6"},
      {ZoomSender::Other, false, "1.6", "1.6"},
  };
  for (const auto& s : steps) {
    ASSERT_EQ(model.setViewScaleBy(s.sender, s.shift, "", "", rows), 0);
    EXPECT_EQ(model.scaleXText(), s.x);
    EXPECT_EQ(model.scaleYText(), s.y);
  }
}

TEST_F(CurveViewTest, ZoomingBelowATenthDoesNothingAtAll) {
  zoom("0.1", "0.2");
  model.presetCurve(0).removeAllPoints();
  ASSERT_EQ(model.setViewScaleBy(ZoomSender::XDown, true, "", "", rows), 0);
  EXPECT_EQ(model.scaleXText(), "0.1");
  EXPECT_EQ(model.scaleYText(), "0.2");
  EXPECT_TRUE(model.presetCurve(0).isEmpty());  // nothing recomputed
  ASSERT_EQ(model.setViewScaleBy(ZoomSender::YDown, false, "", "", rows), 0);
  EXPECT_EQ(model.scaleYText(), "0.1");
}

TEST_F(CurveViewTest, ScaleSetsTheTransformAndTheVisibleWidth) {
  zoom("3.0", "2.0");
  EXPECT_EQ(model.graphWidth(), 200);
  double x = 10, y = 10;
  model.viewScale().apply(x, y);
  EXPECT_DOUBLE_EQ(x, 56);
  EXPECT_DOUBLE_EQ(y, 38);
  zoom("0.7", "1");
  EXPECT_EQ(model.graphWidth(), 857);  // 600 / 0.7 truncated
}

TEST_F(CurveViewTest, AStoredScaleThatCannotBeUsedCountsAsOne) {
  // A fresh device stores no vertical scale; 0 would divide the graph by zero.
  for (const char* bad : {"", "0", "-2.0", "abc", "nan", "0.01"}) {
    zoom("3.0", bad);
    EXPECT_EQ(model.scaleYText(), "1.0") << bad;
    EXPECT_DOUBLE_EQ(model.scaleY(), 1.0);
  }
}

TEST_F(CurveViewTest, ParametricPathStepsByTenCountsAndStopsAboveTheTop) {
  // Q(v) = v up to 1000 counts at resolution 67: y = ⌊x · 1.43283⌋, which passes 300 at 220.
  const pl::Value curves(pl::Array{makeCurve({.index = 0, .linear = 0x10000, .tangentLinear = fx(1000)})});
  zoom("1.0", "1.0");
  CurvePath path;
  ASSERT_EQ(model.updateCurvePA(&path, &curves, 67, 1.0), 0);
  EXPECT_TRUE(path.isPACurve());
  const auto& el = path.elements();
  ASSERT_EQ(el.size(), 23u);
  EXPECT_EQ(el[0], (PathElement{PathOp::MoveTo, 26, 18}));
  for (int i = 1; i <= 21; ++i) {
    const int x = 10 * i;
    EXPECT_EQ(el[static_cast<size_t>(i)], at(x, static_cast<int>(x * 93902 / 65536), 1, 1)) << x;
  }
  EXPECT_EQ(el[22], at(220, 315, 1, 1));  // the point that went above, as computed
}

TEST_F(CurveViewTest, ParametricPathEndsAtTheVisibleWidthOnTheCurve) {
  const pl::Value curves(pl::Array{makeCurve({.index = 0, .linear = 0x10000, .tangentLinear = fx(1000)})});
  zoom("3.0", "0.5");  // width 200, height 600
  CurvePath path;
  ASSERT_EQ(model.updateCurvePA(&path, &curves, 67, 1.0), 0);
  EXPECT_EQ(path.elements()[path.elementCount() - 2], at(190, 272, 3, 0.5));
  // Not a flat stub at the previous step's height: the curve's own value at the edge.
  EXPECT_EQ(path.elements().back(), at(200, 200 * 93902 / 65536, 3, 0.5));
}

TEST_F(CurveViewTest, DisabledAccelerationIsTheDiagonalAndADisabledDeviceIsEmpty) {
  zoom("2.0", "0.5");
  CurvePath path;
  ASSERT_EQ(model.updateCurvePA(&path, &device, 400, 1.0, true), 0);
  ASSERT_EQ(path.elementCount(), 2u);
  EXPECT_EQ(path.elements()[0], (PathElement{PathOp::MoveTo, 26, 18}));
  EXPECT_EQ(path.elements()[1], at(500, 500, 2, 0.5));
  EXPECT_TRUE(path.isLinearCurve());

  CurveDevice off = device;
  off.enabled = false;
  for (bool table : {false, true}) {
    if (table)
      model.updateCurveSG(&path, &off, 400, 1.0, false);
    else
      model.updateCurvePA(&path, &off, 400, 1.0, false);
    ASSERT_EQ(path.elementCount(), 1u);
    EXPECT_EQ(path.elements()[0], (PathElement{PathOp::MoveTo, 0, 0}));
    EXPECT_TRUE(path.isLinearCurve());
  }
}

TEST_F(CurveViewTest, TrackingZeroDrawsTheTablesFirstCurveUnscaledThroughTheOrigin) {
  zoom("1.0", "1.0");
  device.pointerResolution = 800;  // not used: the sensitivity is the resolution here
  CurvePath path;
  ASSERT_EQ(model.updateCurvePA(&path, &device, 400, 0, false), 0);
  EXPECT_TRUE(path.isSGCurve());
  const double sx = 391260 / 65536.0;
  ASSERT_EQ(path.elementCount(), 3u);
  EXPECT_EQ(path.elements()[1], at(sx, kCursor, 1, 1));
  EXPECT_EQ(path.elements()[2], at(6000, 6000 * kCursor / sx, 1, 1));
}

TEST_F(CurveViewTest, TableCurvesScaleTheDeviceTableUnlessTheSiblingDriverDrivesIt) {
  zoom("1.0", "1.0");
  const pl::Data before = *device.acclTable;
  CurvePath path;
  ASSERT_EQ(model.updateCurveSG(&path, &device, 800, 0, false), 0);  // table x doubled, resolution 400
  EXPECT_EQ(model.lastSegmentPoints().points[0].x, 2 * 391260);
  EXPECT_EQ(*device.acclTable, before);  // scaled on a private copy

  device.drovanaDriver = true;
  ASSERT_EQ(model.updateCurveSG(&path, &device, 800, 0, false), 0);  // unscaled, resolution 800
  EXPECT_EQ(model.lastSegmentPoints().points[0].x, deviceScaleFor(800));
  EXPECT_EQ(model.state().g_segments[1], Segment{});

  CurveDevice off = device;
  off.enabled = false;
  model.state().g_segments[0] = Segment{1, 2, 3};
  model.updateCurveSG(&path, &off, 800, 0, false);
  EXPECT_EQ(model.state().g_segments[0], (Segment{0x7FFF0000, 0x10000, 0}));  // the identity piece
}

TEST_F(CurveViewTest, TableCurveExtendsFlatWhenItEndsRisingElseAlongItsSlope) {
  zoom("1.0", "1.0");
  CurvePath path;
  // One curve above the tracking's level: its points are drawn as they are (scale 1).
  pl::Data rising = makeTable(0x8000, {{0x10000, {{fx(1), fx(1)}, {fx(2), fx(3)}}}});
  ASSERT_EQ(model.updateCurveSG(&path, &rising, 67, 0.5), 0);
  EXPECT_EQ(path.elements().back(), at(2 + 6000, 3 * kCursor, 1, 1));

  pl::Data falling = makeTable(0x8000, {{0x10000, {{fx(1), fx(3)}, {fx(2), fx(1)}}}});
  ASSERT_EQ(model.updateCurveSG(&path, &falling, 67, 0.5), 0);
  EXPECT_EQ(path.elements().back(), at(6000, 6000 * (-2 * kCursor), 1, 1));

  // At resolution 0 every point has device speed 0: no slope, so flat, never infinite.
  ASSERT_EQ(model.updateCurveSG(&path, &rising, 0, 0), 0);
  EXPECT_EQ(path.elements().back(), at(6000, 3 * kCursor, 1, 1));
}

TEST_F(CurveViewTest, FailuresArePushedAndWrappedAlongTheChain) {
  zoom("1.0", "1.0");
  const pl::Value notCurves("x");
  CurveDevice bad = device;
  bad.acclCurves = &notCurves;
  CurveSpeed cs{&bad, 400, 1.0, false, std::nullopt, true};
  CurvePath path;
  EXPECT_EQ(model.updateCurvePA(&path, &cs), 2640292);
  EXPECT_EQ(errorStackEntries(errors), (std::vector<std::string>{"264.0276", "264.0175", "266.0446"}));

  errors.clear();
  CurveDevice noResolution = device;
  noResolution.pointerResolution = 0;
  CurveSpeed sg{&noResolution, 400, 1.0, false, std::nullopt, true};
  EXPECT_EQ(model.updateCurveSG(&path, &sg), 2620325);
  EXPECT_EQ(errorStackEntries(errors), (std::vector<std::string>{"262.0296", "268.0024"}));

  errors.clear();
  CurveDevice noTable = device;
  noTable.acclTable = nullptr;
  noTable.drovanaDriver = true;
  EXPECT_EQ(model.updateCurveSG(&path, &noTable, 400, 1.0, false), 2620287);
  EXPECT_EQ(errorStackEntries(errors), (std::vector<std::string>{"262.0064"}));
}

TEST_F(CurveViewTest, FocusedRowIsOpaqueAndWideMissingRowsAndColoursStayClear) {
  std::vector<CurveSpeed> three(rows.begin(), rows.begin() + 3);
  three[2].color.reset();
  ASSERT_EQ(model.setViewScaleBy(ZoomSender::None, false, "3.0", "1.0", three), 0);
  ASSERT_EQ(model.setFocusedCurve(1, three), 0);
  Rgba faintBlue = favouriteColour(0);
  faintBlue.a = 0.3;
  EXPECT_EQ(model.presetCurveColor(0), faintBlue);
  EXPECT_EQ(model.presetCurveColor(1), favouriteColour(1));
  for (size_t i = 2; i < 5; ++i) EXPECT_EQ(model.presetCurveColor(i), kClearColour) << i;
  const double widths[] = {1.5, 3, 1.5, 1.5, 1.5};
  for (size_t i = 0; i < 5; ++i) EXPECT_EQ(model.presetCurve(i).lineWidth(), widths[i]) << i;
  for (size_t i = 3; i < 5; ++i) {
    EXPECT_EQ(model.presetCurve(i).elementCount(), 1u) << "row " << i << " has an empty curve";
  }
  EXPECT_TRUE(model.presetCurve(0).isPACurve());

  three[1].visible = false;
  model.setCurveVisible(three);
  const bool visible[] = {true, false, true, false, false};
  for (size_t i = 0; i < 5; ++i) EXPECT_EQ(model.curveVisible(i), visible[i]) << i;
}

TEST_F(CurveViewTest, FocusedCurveComputedLastLeavesItsParametersForTheIndicator) {
  zoom("3.0", "1.0");
  EXPECT_EQ(model.state().g_paparams.primary.deviceScale.value, deviceScaleFor(800));  // row 4 last
  const CurvePath row0 = model.presetCurve(0);
  ASSERT_EQ(model.updateCurvePA(nullptr, &rows[0]), 0);
  EXPECT_EQ(model.state().g_paparams.primary.deviceScale.value, 391260);
  EXPECT_EQ(model.presetCurve(0).elements(), row0.elements());
}

TEST_F(CurveViewTest, ParametricBackCalculationFindsTheLastCountNotAbove) {
  const pl::Value curves(pl::Array{makeCurve({.index = 0, .linear = 0x10000, .tangentLinear = fx(1000)})});
  zoom("1.0", "1.0");
  ASSERT_EQ(model.updateCurvePA(nullptr, &curves, 67, 1.0), 0);
  EXPECT_EQ(model.backCalculateAxesPA(14), 9);   // 9 → 12.9, 10 → 14.3
  EXPECT_EQ(model.backCalculateAxesPA(0), 0);    // below the first count's result
  EXPECT_EQ(model.backCalculateAxesPA(100000), model.graphWidth() - 1);
  zoom("1e9", "1.0");
  ASSERT_EQ(model.graphWidth(), 0);
  EXPECT_EQ(model.backCalculateAxesPA(14), 0);
}

TEST_F(CurveViewTest, TableBackCalculationInvertsTheSegmentThatHoldsTheSpeed) {
  zoom("1.0", "1.0");
  CurvePath path;
  pl::Data t = *defaultAcclTable();
  ASSERT_EQ(model.updateCurveSG(&path, &t, 400, 0), 0);
  // One piece through the origin with slope 1.43283 / 5.97015: 10 pixels come from 41.67 counts.
  EXPECT_EQ(model.backCalculateAxesSG(10), 41);
  EXPECT_EQ(model.backCalculateAxesSG(0), 0);
}

TEST_F(CurveViewTest, IndicatorFollowsTheFocusedCurvesKind) {
  zoom("2.0", "1.0");
  model.setCursorSpeedIndex(0);
  rows[0].disableAccl = true;
  ASSERT_EQ(model.updateCurvePA(&model.presetCurve(0), &rows[0]), 0);
  model.mouseMoved(-7.9, 3, false);
  EXPECT_EQ(model.indicatorValue(), 26 + 7 * 2);
  model.mouseMoved(20, 3, true);  // ignored while a button is down
  EXPECT_EQ(model.indicatorValue(), 26 + 7 * 2);

  rows[0].disableAccl = false;
  ASSERT_EQ(model.updateCurvePA(&model.presetCurve(0), &rows[0]), 0);
  const int device = model.backCalculateAxesPA(12);
  ASSERT_GT(device, 0);
  model.mouseMoved(0, -12.5, false);
  EXPECT_EQ(model.indicatorValue(), 26 + device * 2);

  model.setCursorSpeedIndex(kNoCurve);
  model.mouseMoved(50, 0, false);
  EXPECT_EQ(model.indicatorValue(), 26 + device * 2);
}

TEST_F(CurveViewTest, AxisTicksStepWithTheRangeAndLabelsKeepTheirDistance) {
  EXPECT_EQ(axisStep(9), 1);
  EXPECT_EQ(axisStep(10), 10);
  EXPECT_EQ(axisStep(99), 10);
  EXPECT_EQ(axisStep(100), 50);
  zoom("0.5", "1.0");  // 1200 counts wide: a tick every 50 counts, 25 points apart
  const auto x = xAxisTicks(model, {});
  ASSERT_EQ(x.size(), 24u);
  EXPECT_EQ(x[0].value, 50);
  EXPECT_DOUBLE_EQ(x[0].position, 51);
  for (size_t i = 0; i < x.size(); ++i) EXPECT_EQ(x[i].labelled, i % 2 == 0) << x[i].value;
  const auto y = yAxisTicks(model, {});
  ASSERT_EQ(y.size(), 6u);  // 50 … 300
  for (const auto& t : y) EXPECT_TRUE(t.labelled);
  zoom("10.0", "20.0");    // 60 by 15: steps of 10 and 10
  EXPECT_EQ(xAxisTicks(model, {}).size(), 6u);
  EXPECT_EQ(yAxisTicks(model, {}).size(), 1u);
}

}  // namespace
}  // namespace vl
