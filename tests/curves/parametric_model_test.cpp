// The parametric model: reading curve dictionaries, blending the curve list for a tracking
// speed, the secondary parameters, the multiplier and scalePointer.
#include <gtest/gtest.h>

#include <cmath>

#include "pane/curves/default_curves.h"
#include "pane/curves/parametric_curves.h"
#include "tests/curves/curve_fixtures.h"

namespace vl {
namespace {

using test::CurveFields;
using test::fx;
using test::makeCurve;

IOFixed64 raw(int64_t v) { return IOFixed64::withRaw(v); }

pl::Value list(std::initializer_list<pl::Value> items) { return pl::Value(pl::Array(items)); }

// The default list's curve 1 alone: Q(x) = x up to 8.0, no root tangent.
pl::Value linearOnly() { return list({makeCurve({.index = 0, .linear = 0x10000, .tangentLinear = 0x80000})}); }

TEST(CurveDictionaries, NumbersAreSignExtended16Dot16AndEverythingElseIsZero) {
  const pl::Value neg = pl::Value::uint32(0xFFFF0000u);
  const pl::Value i32 = pl::Value::int32(-65536);
  const pl::Value real = pl::Value(2.9);
  const pl::Value yes = pl::Value(true);
  const pl::Value text = pl::Value("65536");
  EXPECT_EQ(OSObjectToIOFixed64(&neg).value, -65536);
  EXPECT_EQ(OSObjectToIOFixed64(&i32).value, -65536);
  EXPECT_EQ(OSObjectToIOFixed64(&real).value, 2);  // a real's integer value
  EXPECT_EQ(OSObjectToIOFixed64(&yes).value, 1);
  EXPECT_EQ(OSObjectToIOFixed64(&text).value, 0);
  EXPECT_EQ(OSObjectToIOFixed64(nullptr).value, 0);
}

TEST(CurveDictionaries, FillWritesEveryFieldAndReportsWhetherAGainIsSet) {
  IOHIPointing__PAParameters p{};
  p.accelIndex = raw(99);
  EXPECT_FALSE(PACurvesFillParamsFromDict(nullptr, raw(1), raw(2), p));
  EXPECT_EQ(p.accelIndex.value, 99);  // untouched

  const pl::Value noGains = makeCurve({.index = 0x8000, .tangentLinear = 0x80000, .tangentRoot = 0x100000});
  EXPECT_FALSE(PACurvesFillParamsFromDict(noGains.asDict(), raw(391260), raw(0x16ECE), p));
  EXPECT_EQ(p.deviceScale.value, 391260);
  EXPECT_EQ(p.cursorScale.value, 0x16ECE);
  EXPECT_EQ(p.accelIndex.value, 0x8000);
  EXPECT_EQ(p.tangent[0].value, 0x80000);
  EXPECT_EQ(p.tangent[1].value, 0x100000);

  const pl::Value quarticOnly = makeCurve({.quartic = -1});
  EXPECT_TRUE(PACurvesFillParamsFromDict(quarticOnly.asDict(), raw(1), raw(1), p));
  EXPECT_EQ(p.gain[3].value, -1);
  EXPECT_EQ(p.accelIndex.value, 0);
}

TEST(SetupForAcceleration, RefusesWhatItCannotUse) {
  const pl::Value good = linearOnly();
  const pl::Value notArray = pl::Value("curves");
  const pl::Value empty = list({});
  const pl::Value firstNotDict = list({pl::Value(1), makeCurve({.linear = 0x10000})});
  const pl::Value firstNoGain = list({makeCurve({.index = 0, .tangentLinear = 0x80000})});
  // The walk reaches the first curve at once, but still checks the element after it.
  const pl::Value secondIsText = list({makeCurve({.index = 0x10000, .linear = 0x10000}), pl::Value("x")});
  // The walk stops at the gainless curve; tracking 2.0 over [0, 1.0] extrapolates every gain
  // to -g, which is clamped to 0.
  const pl::Value blendsToNothing =
      list({makeCurve({.index = 0, .linear = 0x10000, .parabolic = 0x8000}), makeCurve({.index = 0x10000})});
  struct Case { const char* name; const pl::Value* curves; double resolution, tracking; int32_t want; } cases[] = {
      {"resolution 0", &good, 0, 1.0, 2660445},
      {"negative resolution", &good, -400, 1.0, 2660445},
      {"no curves", nullptr, 400, 1.0, 2660445},
      {"tracking 0", &good, 400, 0, 2660445},
      {"tracking below one unit", &good, 400, 0.4 / 65536, 2660445},
      {"not an array", &notArray, 400, 1.0, 2660446},
      {"empty array", &empty, 400, 1.0, 2660453},
      {"first not a dictionary", &firstNotDict, 400, 1.0, 2660453},
      {"first without gains", &firstNoGain, 400, 1.0, 2660454},
      {"later not a dictionary", &secondIsText, 400, 0.5, 2660461},
      {"blend without gains", &blendsToNothing, 400, 2.0, 2660508},
      {"linear curve", &good, 400, 1.0, 0},
  };
  for (const auto& c : cases) {
    AccelerationState s;
    s.g_fractX = 0x1234;
    EXPECT_EQ(setupForAcceleration(s, c.curves, c.resolution, c.tracking), c.want) << c.name;
    EXPECT_EQ(s.g_fractX, 0) << c.name << ": the carry is reset before any check";
  }
}

TEST(SetupForAcceleration, AFailedWalkKeepsThePreviousParameters) {
  AccelerationState s;
  const pl::Value good = linearOnly();
  ASSERT_EQ(setupForAcceleration(s, &good, 400, 1.0), 0);
  const PAParams before = s.g_paparams;
  const pl::Value bad = list({makeCurve({.index = 0x10000, .linear = 0x20000}), pl::Value(3)});
  EXPECT_EQ(setupForAcceleration(s, &bad, 800, 0.5), 2660461);
  EXPECT_EQ(s.g_paparams.primary.gain[0], before.primary.gain[0]);
  EXPECT_EQ(s.g_paparams.primary.deviceScale, before.primary.deviceScale);
}

TEST(SetupForAcceleration, BlendedParametersStillComputedWithoutGains) {
  AccelerationState s;
  const pl::Value curves =
      list({makeCurve({.index = 0, .linear = 0x10000, .parabolic = 0x8000}), makeCurve({.index = 0x10000})});
  ASSERT_EQ(setupForAcceleration(s, &curves, 400, 2.0), 2660508);
  EXPECT_EQ(s.g_paparams.primary.accelIndex.value, 0x20000);
  EXPECT_EQ(s.g_paparams.primary.deviceScale.value, 391260);
}

class DefaultCurveList : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(curves, nullptr); }
  const pl::Value* curves = defaultAcclCurves();
  AccelerationState s;
  const IOHIPointing__PAParameters& p() const { return s.g_paparams.primary; }
  void expectCurve(int64_t index, std::array<int64_t, 4> gains, std::array<int64_t, 2> tangents) {
    EXPECT_EQ(p().accelIndex.value, index);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(p().gain[i].value, gains[i]) << "gain " << i;
    for (int i = 0; i < 2; ++i) EXPECT_EQ(p().tangent[i].value, tangents[i]) << "tangent " << i;
  }
};

TEST_F(DefaultCurveList, HoldsTenCurvesInAscendingIndex) {
  const pl::Array& a = *curves->asArray();
  ASSERT_EQ(a.size(), 10u);
  EXPECT_EQ(a[0].asDict()->size(), 3u);  // index, linear gain, linear tangent
  const int64_t indexes[] = {0, 0x2000, 0x8000, 0xB000, 0xE000, 0x10000, 0x18000, 0x20000, 0x28000, 0x30000};
  for (size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(a[i].integerFor("HIDAccelIndex"), indexes[i]);
    EXPECT_EQ(a[i].find("HIDAccelGainQuartic"), nullptr);
  }
  EXPECT_EQ(a[9].integerFor("HIDAccelGainParabolic"), 0x1E148);
  EXPECT_EQ(a[4].integerFor("HIDAccelTangentSpeedLinear"), 0x88000);
}

TEST_F(DefaultCurveList, TrackingOneStopsAtCurveSixAndBlendsToIt) {
  ASSERT_EQ(setupForAcceleration(s, curves, 400, 1.0), 0);
  expectCurve(0x10000, {0xF5C3, 0x10F5C, 0x2E14, 0}, {0x8999A, 0xF0000});
  EXPECT_EQ(p().deviceScale.value, 391260);
  EXPECT_EQ(p().cursorScale.value, 0x16ECE);
}

TEST_F(DefaultCurveList, TrackingBeyondTheLastIndexUsesCurveTenUnchanged) {
  ASSERT_EQ(setupForAcceleration(s, curves, 400, 5.0), 0);
  expectCurve(0x30000, {0x10000, 0x1E148, 0x6666, 0}, {0x90000, 0xC0000});
}

TEST_F(DefaultCurveList, TrackingOneSixteenthBlendsCurvesOneAndTwoHalfAndHalf) {
  ASSERT_EQ(setupForAcceleration(s, curves, 400, 0.0625), 0);
  // 0.96, 0.2, 0.04 (5243 / 2 truncated), tangents 8.1 and 9.5.
  expectCurve(0x1000, {62915, 13107, 2621, 0}, {530841, 622592});
}

TEST_F(DefaultCurveList, TrackingAtTheFirstIndexUsesTheFirstCurve) {
  const pl::Value firstAtOne = list({makeCurve({.index = 0x10000, .linear = 0x20000, .tangentLinear = 0x40000}),
                                     makeCurve({.index = 0x20000, .linear = 0x30000})});
  ASSERT_EQ(setupForAcceleration(s, &firstAtOne, 400, 0.5), 0);
  expectCurve(0x10000, {0x20000, 0, 0, 0}, {0x40000, 0});
}

TEST(SecondaryParameters, RootTangentBeforeTheLinearOneEndsTheQuartic) {
  AccelerationState s;
  const pl::Value c = list({makeCurve({.index = 0, .linear = 0x10000, .tangentLinear = 0x80000, .tangentRoot = 0x40000})});
  ASSERT_EQ(setupForAcceleration(s, &c, 67, 1.0), 0);
  const auto& sec = s.g_paparams.secondary;
  EXPECT_EQ(sec.tangentIndex, 1);
  EXPECT_EQ(sec.rootTangentValue.value, fx(4));
  EXPECT_EQ(sec.linearSlope.value, fx(1));
  EXPECT_EQ(sec.linearIntercept.value, 0);
  EXPECT_EQ(sec.linearTangentValue.value, 0);
  EXPECT_EQ(sec.rootSlope.value, fx(8));        // 2 · 1 · 4
  EXPECT_EQ(sec.rootIntercept.value, fx(-16));  // 4² − 8 · 4
  // Beyond 4.0 the tail takes over at once: ⌊√(8·5 − 16)⌋ = 4, so 5 counts give 4 · 1.43283
  // less the truncations of the multiplier.
  EXPECT_EQ(scalePointer(s, fx(5)), 375605);
  EXPECT_EQ(scalePointer(s, fx(4)), 375608);  // the quartic: 4 · 93902
}

TEST(SecondaryParameters, LinearTangentHandsOverToTheLineThenTheRoot) {
  AccelerationState s;
  const pl::Value c = list({makeCurve({.index = 0, .linear = 0x10000, .parabolic = 0x4000, .tangentLinear = 0x40000,
                                       .tangentRoot = 0x80000})});
  ASSERT_EQ(setupForAcceleration(s, &c, 67, 1.0), 0);
  const auto& sec = s.g_paparams.secondary;
  // Q(x) = x + x²/16: Q(4) = 5, Q'(4) = 1.5; the line 1.5x − 1 reaches 11 at 8.
  EXPECT_EQ(sec.tangentIndex, 0);
  EXPECT_EQ(sec.linearTangentValue.value, fx(5));
  EXPECT_EQ(sec.linearSlope.value, fx(1.5));
  EXPECT_EQ(sec.linearIntercept.value, fx(-1));
  EXPECT_EQ(sec.rootTangentValue.value, fx(11));
  EXPECT_EQ(sec.rootSlope.value, fx(33));         // 2 · 1.5 · 11
  EXPECT_EQ(sec.rootIntercept.value, fx(121 - 264));

  const auto& prim = s.g_paparams.primary;
  auto accel = [&](double speed) {
    const IOFixed64 m = PACurvesGetAccelerationMultiplier(raw(fx(speed)), prim, sec);
    return static_cast<double>((m * raw(fx(speed))).value) / 0x16ECE;  // a = m · speed / cursor scale
  };
  EXPECT_NEAR(accel(2), 2.25, 1e-3);  // quartic
  EXPECT_NEAR(accel(6), 8.0, 1e-3);   // line: 1.5 · 6 − 1
  EXPECT_NEAR(accel(10), 13.0, 1e-3); // tail: ⌊√(33 · 10 − 143)⌋ = ⌊√187⌋
}

TEST(Multiplier, NoSpeedOrNoScaleGivesOneUnit) {
  IOHIPointing__PAParameters p{};
  IOHIPointing__PASecondaryParameters sec{};
  p.deviceScale = raw(0x10000);
  EXPECT_EQ(PACurvesGetAccelerationMultiplier(raw(0), p, sec).value, 1);
  EXPECT_EQ(PACurvesGetAccelerationMultiplier(raw(-5), p, sec).value, 1);
  p.deviceScale = raw(0);
  EXPECT_EQ(PACurvesGetAccelerationMultiplier(raw(0x10000), p, sec).value, 1);
}

TEST(ScalePointer, WholeCountsOnlyAndTheSquareRootTailOfALinearCurve) {
  AccelerationState s;
  const pl::Value c = linearOnly();
  ASSERT_EQ(setupForAcceleration(s, &c, 67, 1.0), 0);
  EXPECT_EQ(scalePointer(s, 0), 0);
  EXPECT_EQ(scalePointer(s, 0x8000), 0);        // below one count: speed 0, multiplier of one unit
  EXPECT_EQ(scalePointer(s, fx(4)), 375608);    // 4 · 1.43283 exactly
  EXPECT_EQ(scalePointer(s, fx(10)), 0);        // rootSlope and rootIntercept are 0
  EXPECT_EQ(s.g_fractX, 0);
}

TEST(ScalePointer, NegativeResultsSetTheCarrysUpperHalf) {
  AccelerationState s;
  const pl::Value c = linearOnly();
  ASSERT_EQ(setupForAcceleration(s, &c, 67, 1.0), 0);
  EXPECT_EQ(scalePointer(s, fx(-4)), -375608);
  EXPECT_EQ(s.g_fractX, static_cast<Fixed>(0xFFFF0000u));
  // The carry is added to the next result as it stands.
  EXPECT_EQ(scalePointer(s, fx(4)), 375608 - 65536);
  EXPECT_EQ(s.g_fractX, static_cast<Fixed>(0xFFFF0000u) & 0xFFFF);
}

// The blended quartic in doubles, as a reader of the curve would evaluate it.
double realOutput(const PAParams& pp, double delta) {
  auto d = [](IOFixed64 v) { return static_cast<double>(v.value) / 65536.0; };
  const auto& p = pp.primary;
  const auto& sec = pp.secondary;
  const double speed = std::floor(std::fabs(delta));
  if (speed <= 0) return 0;
  const double v = speed / d(p.deviceScale);
  auto q = [&](double x) {
    return d(p.gain[0]) * x + std::pow(d(p.gain[1]) * x, 2) + std::pow(d(p.gain[2]) * x, 3) +
           std::pow(d(p.gain[3]) * x, 4);
  };
  const double t = d(p.tangent[sec.tangentIndex]);
  double a;
  if (t != 0 && v <= t)
    a = q(v);
  else if (sec.tangentIndex == 0 && d(p.tangent[1]) != 0 && v <= d(p.tangent[1]))
    a = d(sec.linearSlope) * v + d(sec.linearIntercept);
  else
    a = std::sqrt(std::fmax(0, d(sec.rootSlope) * v + d(sec.rootIntercept)));
  return a * d(p.cursorScale) / speed * delta;
}

TEST_F(DefaultCurveList, DefaultFavouriteFollowsTheRealCurveWithinTheTailsWholeSteps) {
  for (double tracking : {0.6875, 1.0, 2.25}) {
    ASSERT_EQ(setupForAcceleration(s, curves, 400, tracking), 0);
    for (int delta = 1; delta <= 600; ++delta) {
      const double got = Fix2X(scalePointer(s, fx(delta)));
      const double want = realOutput(s.g_paparams, delta);
      const double v = delta / Fix2X(deviceScaleFor(400));
      // The quartic and the line lose only truncations; the tail's whole-number square
      // root may lose up to one step of the cursor scale.
      const double tolerance = v <= Fix2X(p().tangent[0].asFixed()) ? 0.01 + 1e-3 * want : 1.5;
      ASSERT_NEAR(got, want, tolerance) << "tracking " << tracking << " delta " << delta;
    }
  }
}

}  // namespace
}  // namespace vl
