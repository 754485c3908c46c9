// Arithmetic primitives of the acceleration model: the 16.16 conversions, IOFixed64's
// operators, the square roots, powers, and the quartic with its derivative.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

#include "core/hid/fixed_point.h"
#include "pane/curves/fixed64.h"
#include "pane/curves/parametric_curves.h"

namespace vl {
namespace {

constexpr int32_t kMax32 = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin32 = std::numeric_limits<int32_t>::min();

IOFixed64 raw(int64_t v) { return IOFixed64::withRaw(v); }

TEST(FixedConversions, RoundToNearestTiesAwayFromZeroAndSaturate) {
  struct Case { double x; Fixed want; } cases[] = {
      {0.6875, 45056}, {-1.0, -65536}, {20, 1310720},
      {0.5 / 65536, 1}, {-0.5 / 65536, -1},            // ties go away from zero
      {0.49 / 65536, 0}, {1.5 / 65536, 2}, {-2.5 / 65536, -3},
      {1e12, kMax32}, {-1e12, kMin32}, {NAN, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(X2Fix(c.x), c.want) << c.x;
  EXPECT_DOUBLE_EQ(Fix2X(0x18000), 1.5);

  EXPECT_EQ(FixMul(1, 0x8000), 1);    // 0.5 unit rounds up
  EXPECT_EQ(FixMul(-1, 0x8000), -1);  // and away from zero below it
  EXPECT_EQ(FixMul(1, 0x7FFF), 0);
  EXPECT_EQ(FixMul(0x18000, 0x18000), 0x24000);
  EXPECT_EQ(FixMul(kMax32, kMax32), kMax32);
  EXPECT_EQ(FixMul(kMin32, kMax32), kMin32);
  EXPECT_EQ(FixDiv(1, 0x20000), 1);
  EXPECT_EQ(FixDiv(-1, 0x20000), -1);
  EXPECT_EQ(FixDiv(kMax32, 1), kMax32);
  EXPECT_EQ(FixDiv(0x10000, 3 * 0x10000), 21845);  // 0.33333 rounds down
  EXPECT_EQ(FixDiv(0x20000, 3 * 0x10000), 43691);  // 0.66667 rounds up
}

TEST(FixedConversions, ScalesOfBothModels) {
  EXPECT_EQ(deviceScaleFor(400), 391260);  // 26214400 / 67 = 391259.70 rounds up
  EXPECT_EQ(deviceScaleFor(67), 0x10000);
  EXPECT_EQ(cursorScale(), 0x16ECE);
}

TEST(IOFixed64Operators, TruncateTowardZeroAndDoNotRescaleIntegers) {
  EXPECT_EQ((raw(-98304) * raw(1)).value, -1);           // -1.5 units truncates to -1, not -2
  EXPECT_EQ((raw(98304) * raw(1)).value, 1);
  EXPECT_EQ((raw(0x18000) * raw(0x18000)).value, 0x24000);
  EXPECT_EQ((raw(-1) / raw(3 * 65536)).value, 0);       // -1/3 unit
  EXPECT_EQ((raw(-65536) / raw(3 * 65536)).value, -21845);
  EXPECT_EQ((raw(0x30000) * int64_t{2}).value, 0x60000);  // raw product
  EXPECT_EQ((raw(-7) / int64_t{2}).value, -3);
  EXPECT_EQ((raw(0x18000) + int64_t{2}).value, 0x38000);  // whole units
  EXPECT_EQ((raw(0x18000) - int64_t{2}).value, -0x8000);
  EXPECT_EQ((raw(5) + raw(-7)).value, -2);
  EXPECT_TRUE(raw(-1) < raw(0));
  EXPECT_EQ(IOFixed64::withFixed(-65536).value, -65536);  // sign-extended
}

TEST(IOFixed64Operators, OverflowWrapsLikeTwosComplement) {
  const int64_t max64 = std::numeric_limits<int64_t>::max();
  EXPECT_EQ((raw(max64) * int64_t{2}).value, -2);
  EXPECT_EQ((raw(max64) + raw(1)).value, std::numeric_limits<int64_t>::min());
  EXPECT_EQ((raw(int64_t{1} << 40) * raw(int64_t{1} << 40)).value, 0);  // 2^80 wraps to 0
  const int64_t a = (int64_t{1} << 32) + 1;                                  // a² = 2^64 + 2^33 + 1
  EXPECT_EQ((raw(a) * raw(a)).value, ((int64_t{1} << 33) + 1) / 65536);
  EXPECT_EQ((raw(std::numeric_limits<int64_t>::min()) / int64_t{-1}).value, std::numeric_limits<int64_t>::min());
}

TEST(SquareRoots, BitByBit) {
  struct Case { uint64_t v, want; } cases[] = {
      {0, 0}, {1, 1}, {3, 1}, {4, 2}, {~uint64_t{0}, 4294967295u},
      {uint64_t{1} << 62, uint64_t{1} << 31},
      {uint64_t{0xFFFFFFFF} * 0xFFFFFFFF, 0xFFFFFFFF},
      {uint64_t{0xFFFFFFFF} * 0xFFFFFFFF - 1, 0xFFFFFFFE},
  };
  for (const auto& c : cases) EXPECT_EQ(llsqrt(c.v), c.want) << c.v;
  EXPECT_EQ(lsqrt(0), 0);
  EXPECT_EQ(lsqrt(0xFFFFFFFFu), 65535);
  EXPECT_EQ(lsqrt(65535u * 65535u), 65535);
  EXPECT_EQ(lsqrt(65535u * 65535u - 1), 65534);

  std::mt19937_64 rng(7);
  for (int i = 0; i < 2000; ++i) {
    const uint64_t v = rng() >> (rng() % 64);
    const uint64_t r = llsqrt(v);
    EXPECT_LE(r * r, v);
    EXPECT_TRUE(r == 0xFFFFFFFF || (r + 1) * (r + 1) > v) << v;
    const auto v32 = static_cast<uint32_t>(v);
    const uint32_t r32 = lsqrt(v32);
    EXPECT_LE(uint64_t{r32} * r32, v32);
    EXPECT_GT(uint64_t{r32 + 1} * (r32 + 1), v32);
  }
}

TEST(Exponent, PowersTruncateAfterEveryStep) {
  EXPECT_EQ(exponent(raw(0x18000), 0).value, 0);  // raw 0, not 1.0
  EXPECT_EQ(exponent(raw(0x18000), 1).value, 0x18000);
  EXPECT_EQ(exponent(raw(0x18000), 2).value, 0x24000);
  EXPECT_EQ(exponent(raw(-98304), 3).value, -221184);  // -3.375
  // 1.1 (72090): 72090² / 65536 = 79299.44 -> 79299; 79299 · 72090 / 65536 = 87229.3 -> 87229.
  EXPECT_EQ(exponent(raw(72090), 3).value, 87229);
}

TEST(Quartic, SingleGainsAndTheirDerivatives) {
  struct Case { int gain; int64_t x, q, dq; } cases[] = {
      {0, 0x3B333, 0x3B333, 0x10000},     // Q = x, Q' = 1
      {1, 0x20000, 0x40000, 0x40000},     // (1·2)² = 4, 2·2 = 4
      {2, 0x20000, 0x80000, 0xC0000},     // 8, 3·4 = 12
      {3, 0x20000, 0x100000, 0x200000},   // 16, 4·8 = 32
  };
  for (const auto& c : cases) {
    IOFixed64 g[4]{};
    g[c.gain] = raw(0x10000);
    EXPECT_EQ(IOQuarticFunction(raw(c.x), g).value, c.q) << "gain " << c.gain;
    EXPECT_EQ(IOQuarticDerivative(raw(c.x), g).value, c.dq) << "gain " << c.gain;
  }
}

TEST(Quartic, SquareOfTheParabolicTermIsALogicalShift) {
  // (1.0 ⊗ x)² = 9·2^60 has its top bit set; an arithmetic shift would make it negative.
  IOFixed64 g[4]{raw(0), raw(0x10000), raw(0), raw(0)};
  EXPECT_EQ(IOQuarticFunction(raw(0xC0000000), g).value, (int64_t{1} << 47) + (int64_t{1} << 44));
}

TEST(Quartic, AgreesWithRealArithmeticOnTheDefaultGains) {
  // Curve 6 of the default list: 0.96, 1.06, 0.18.
  IOFixed64 g[4]{raw(0xF5C3), raw(0x10F5C), raw(0x2E14), raw(0)};
  auto d = [](IOFixed64 v) { return static_cast<double>(v.value) / 65536.0; };
  for (double x = 0.25; x < 16; x += 0.75) {
    const IOFixed64 fx = raw(X2Fix(x));
    const double q = d(g[0]) * d(fx) + std::pow(d(g[1]) * d(fx), 2) + std::pow(d(g[2]) * d(fx), 3);
    const double dq = d(g[0]) + 2 * d(fx) * d(g[1]) * d(g[1]) + 3 * d(fx) * d(fx) * std::pow(d(g[2]), 3);
    EXPECT_NEAR(d(IOQuarticFunction(fx, g)), q, 1e-3 * (1 + q)) << x;
    EXPECT_NEAR(d(IOQuarticDerivative(fx, g)), dq, 1e-3 * (1 + dq)) << x;
  }
}

}  // namespace
}  // namespace vl
