// The exact filter against the acceleration model: strokes at 125, 1000 and 8000 reports per
// second, bit for bit, with no sub-pixel remainder lost.
#include "tools/inputd/core/motion_filter.h"

#include <gtest/gtest.h>

#include <cmath>

#include "pane/curves/default_curves.h"
#include "pane/curves/parametric_curves.h"

namespace vl::inputd {
namespace {

// A hand's stroke as a mouse reports it: a bell-shaped speed (counts per second) over
// `seconds`, sampled at `rate` reports per second, integer counts per report with the
// device's own fractions carried; timestamps in microseconds of virtual time.
std::vector<InputEvent> stroke(int rate, double peakCountsPerSecond, double seconds, double angle, double direction = 1) {
  std::vector<InputEvent> events;
  const int reports = static_cast<int>(seconds * rate);
  double fx = 0, fy = 0;
  for (int k = 0; k < reports; ++k) {
    const double t = (k + 0.5) / rate;
    const double s = std::sin(M_PI * t / seconds);
    const double v = direction * peakCountsPerSecond * s * s / rate;
    fx += v * std::cos(angle);
    fy += v * std::sin(angle);
    const int dx = static_cast<int>(std::trunc(fx)), dy = static_cast<int>(std::trunc(fy));
    fx -= dx;
    fy -= dy;
    const int64_t usec = static_cast<int64_t>(k) * 1000000 / rate;
    if (dx) events.push_back({usec, kEvRel, kRelX, dx});
    if (dy) events.push_back({usec, kEvRel, kRelY, dy});
    events.push_back({usec, kEvSyn, kSynReport, 0});
  }
  return events;
}

struct Totals {
  int64_t x = 0, y = 0;
};

// Runs a stream and checks, after every frame, that emitted pixels plus the remainder equal
// the model's total so far exactly; returns the emitted pixels.
Totals runAgainstModel(MotionFilter& filter, const std::vector<InputEvent>& events, double resolution, double tracking) {
  AccelerationState model;
  EXPECT_EQ(setupForAcceleration(model, defaultAcclCurves(), resolution, tracking), 0);
  Totals emitted;
  // A filter that ran before owes its remainders to this stroke.
  int64_t modelX = filter.remainderX(), modelY = filter.remainderY();
  int32_t dx = 0, dy = 0;
  std::vector<InputEvent> out;
  for (const InputEvent& e : events) {
    out.clear();
    filter.feed(e, out);
    if (e.type == kEvRel) (e.code == kRelX ? dx : dy) += e.value;
    if (e.type != kEvSyn) {
      EXPECT_TRUE(out.empty()) << "motion leaves only with its frame";
      continue;
    }
    if (dy == 0) {
      // One axis: exactly the model's own scalePointer, carry cleared (the filter keeps its own).
      model.g_fractX = 0;
      modelX += scalePointer(model, dx * 65536);
    } else {
      const uint64_t len = llsqrt(uint64_t(int64_t(dx) * dx + int64_t(dy) * dy));
      const IOFixed64 speed = IOFixed64::withRaw(int64_t(len) << 16);
      const IOFixed64 m = PACurvesGetAccelerationMultiplier(speed, model.g_paparams.primary, model.g_paparams.secondary);
      modelX += (m * IOFixed64::withRaw(int64_t(dx) << 16)).value;
      modelY += (m * IOFixed64::withRaw(int64_t(dy) << 16)).value;
    }
    dx = dy = 0;
    for (const InputEvent& o : out) {
      EXPECT_EQ(o.timeUsec, e.timeUsec) << "no event leaves later than its frame";
      if (o.type == kEvRel && o.code == kRelX) emitted.x += o.value;
      if (o.type == kEvRel && o.code == kRelY) emitted.y += o.value;
    }
    EXPECT_EQ(emitted.x * 65536 + filter.remainderX(), modelX);
    EXPECT_EQ(emitted.y * 65536 + filter.remainderY(), modelY);
    EXPECT_LT(std::abs(filter.remainderX()), 65536);
    EXPECT_LT(std::abs(filter.remainderY()), 65536);
    if (::testing::Test::HasFailure()) break;
  }
  return emitted;
}

TEST(MotionFilter, BitExactAgainstTheModelAtEveryReportRate) {
  struct Case {
    int rate;
    double resolution, tracking;
  } cases[] = {{125, 400, 0.6875}, {1000, 400, 0.6875}, {8000, 400, 0.6875}, {1000, 800, 3.0},
               {8000, 1600, 0.125}, {125, 10, 20.0},    {1000, 2000, 1.0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.rate << " Hz, resolution " << c.resolution << ", tracking " << c.tracking);
    auto curve = CursorCurve::create(nullptr, c.resolution, c.tracking);
    ASSERT_TRUE(curve.ok());
    MotionFilter filter(*curve);
    for (double angle : {0.0, 0.6, 2.5}) {
      for (double dir : {1.0, -1.0}) {
        Totals t = runAgainstModel(filter, stroke(c.rate, 6000, 0.3, angle, dir), c.resolution, c.tracking);
        if (angle == 0.0) {
          EXPECT_NE(t.x, 0) << "a stroke moves the cursor";
        }
      }
    }
  }
}

TEST(MotionFilter, SlowMotionAddsUpThroughTheRemainders) {
  // One count per report at 8000 Hz is far below a pixel per frame at resolution 2000: the
  // cursor must still move, by exactly the model's total.
  auto curve = CursorCurve::create(nullptr, 2000, 0.5);
  ASSERT_TRUE(curve.ok());
  MotionFilter filter(*curve);
  std::vector<InputEvent> events;
  for (int k = 0; k < 8000; ++k) {
    events.push_back({k * 125, kEvRel, kRelX, 1});
    events.push_back({k * 125, kEvSyn, kSynReport, 0});
  }
  Totals t = runAgainstModel(filter, events, 2000, 0.5);
  const int64_t perCount = curve->cursorFixed(1);
  ASSERT_GT(perCount, 0);
  ASSERT_LT(perCount, 65536);
  EXPECT_EQ(t.x, perCount * 8000 / 65536);
}

TEST(MotionFilter, AccelerationOffIsTheModelsLinearGain) {
  auto curve = CursorCurve::create(nullptr, 400, -1.0);
  ASSERT_TRUE(curve.ok());
  // 96 ÷ 400 = 0.24 pixel per count whatever the speed.
  EXPECT_EQ(curve->cursorFixed(100), curve->cursorFixed(1) * 100);
  EXPECT_NEAR(curve->cursorFixed(100) / 65536.0, 24.0, 0.01);
}

TEST(MotionFilter, OtherEventsKeepTheirPlaceAndDroppedMotionIsNotReplayed) {
  auto curve = CursorCurve::create(nullptr, 67, 1.0);
  ASSERT_TRUE(curve.ok());
  MotionFilter filter(*curve);
  std::vector<InputEvent> out;
  const InputEvent press{10, kEvKey, 0x110, 1};
  filter.feed({10, kEvRel, kRelX, 5}, out);
  filter.feed(press, out);
  filter.feed({10, kEvSyn, kSynReport, 0}, out);
  ASSERT_GE(out.size(), 3u);
  EXPECT_EQ(out.front(), press);
  EXPECT_EQ(out.back().type, kEvSyn);

  // After SYN_DROPPED the frame's motion is lost, but a button release still gets through.
  out.clear();
  filter.feed({20, kEvRel, kRelX, 50}, out);
  filter.feed({20, kEvSyn, kSynDropped, 0}, out);
  filter.feed({21, kEvRel, kRelX, 50}, out);
  filter.feed({21, kEvKey, 0x110, 0}, out);
  filter.feed({21, kEvSyn, kSynReport, 0}, out);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0], (InputEvent{21, kEvKey, 0x110, 0}));

  // A frame with no whole pixel and nothing else emits nothing, not an empty report.
  auto slow = CursorCurve::create(nullptr, 2000, 0.5);
  ASSERT_TRUE(slow.ok());
  MotionFilter quiet(*slow);
  out.clear();
  quiet.feed({30, kEvRel, kRelX, 1}, out);
  quiet.feed({30, kEvSyn, kSynReport, 0}, out);
  EXPECT_TRUE(out.empty());
  EXPECT_GT(quiet.remainderX(), 0);
}

TEST(CursorCurve, RefusesWhatNoDeviceMayBeGiven) {
  EXPECT_FALSE(CursorCurve::create(nullptr, 9.99, 1.0).ok());
  EXPECT_FALSE(CursorCurve::create(nullptr, 2000.01, 1.0).ok());
  EXPECT_FALSE(CursorCurve::create(nullptr, 400, 20.5).ok());
  EXPECT_FALSE(CursorCurve::create(nullptr, NAN, 1.0).ok());
  EXPECT_FALSE(CursorCurve::create(nullptr, 400, NAN).ok());
  EXPECT_TRUE(CursorCurve::create(nullptr, 10, 20).ok());
}

TEST(CursorCurve, FlatFitIsExactWithAccelerationOffAndInsideTheCurveOtherwise) {
  EXPECT_DOUBLE_EQ(flatSpeedFor(400, -1).gain, 0.24);
  EXPECT_TRUE(flatSpeedFor(400, -1).accelerationOff);
  auto curve = CursorCurve::create(nullptr, 400, 0.6875);
  ASSERT_TRUE(curve.ok());
  const double g = flatSpeedFor(400, 0.6875).gain;
  // The fitted constant lies between the curve's slowest and fastest gain over 1 … 200.
  double lo = 1e9, hi = 0;
  for (int v = 1; v <= 200; ++v) {
    double gv = curve->cursorFixed(v) / 65536.0 / v;
    lo = std::min(lo, gv);
    hi = std::max(hi, gv);
  }
  EXPECT_GT(g, lo);
  EXPECT_LT(g, hi);
}

}  // namespace
}  // namespace vl::inputd
