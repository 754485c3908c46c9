// IOFixed64 (48.16 signed fixed point) with the kernel's integer operators, and the bit-by-bit
// square roots and powers the acceleration curves are computed with.
#pragma once

#include <compare>
#include <cstdint>

#include "core/hid/fixed_point.h"

namespace vl {

// Wrapping 64-bit arithmetic: the curve model has no overflow checks, and the platform's
// results are the two's-complement bits, so the operations go through unsigned integers
// (defined behaviour) and convert back (modular since C++20).
namespace wrap {
inline int64_t add(int64_t a, int64_t b) { return static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b)); }
inline int64_t sub(int64_t a, int64_t b) { return static_cast<int64_t>(static_cast<uint64_t>(a) - static_cast<uint64_t>(b)); }
inline int64_t mul(int64_t a, int64_t b) { return static_cast<int64_t>(static_cast<uint64_t>(a) * static_cast<uint64_t>(b)); }
// Truncating division. The curves never divide by zero or by -1 at INT64_MIN; should a
// corrupt parameter set ever ask, zero and the wrapped quotient keep the result defined.
inline int64_t div(int64_t a, int64_t b) {
  if (b == 0) return 0;
  if (b == -1) return sub(0, a);
  return a / b;
}
// The product shifted right 16 bits as an unsigned number (a logical shift).
inline int64_t mulShiftLogical(int64_t a, int64_t b) {
  return static_cast<int64_t>((static_cast<uint64_t>(a) * static_cast<uint64_t>(b)) >> 16);
}
// 32-bit counterparts for the table model's 16.16 values.
inline Fixed add32(Fixed a, Fixed b) { return static_cast<Fixed>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b)); }
inline Fixed sub32(Fixed a, Fixed b) { return static_cast<Fixed>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b)); }
}  // namespace wrap

// 48.16 fixed point, 1.0 = 65536. Operators with another IOFixed64 rescale; operators with a
// plain integer do not (a × n is the raw product, a + n adds n whole units).
struct IOFixed64 {
  int64_t value = 0;

  static constexpr IOFixed64 withRaw(int64_t raw) { return IOFixed64{raw}; }
  // A 16.16 value, sign-extended.
  static constexpr IOFixed64 withFixed(Fixed f) { return IOFixed64{static_cast<int64_t>(f)}; }
  // A whole number of units.
  static IOFixed64 withInteger(int64_t n) { return IOFixed64{wrap::mul(n, 65536)}; }

  constexpr int64_t as64() const { return value; }
  // The low 32 bits as a 16.16 value.
  constexpr Fixed asFixed() const { return static_cast<Fixed>(static_cast<uint32_t>(static_cast<uint64_t>(value))); }

  friend IOFixed64 operator*(IOFixed64 a, IOFixed64 b) { return {wrap::div(wrap::mul(a.value, b.value), 65536)}; }
  friend IOFixed64 operator*(IOFixed64 a, int64_t n) { return {wrap::mul(a.value, n)}; }
  friend IOFixed64 operator/(IOFixed64 a, IOFixed64 b) { return {wrap::div(wrap::mul(a.value, 65536), b.value)}; }
  friend IOFixed64 operator/(IOFixed64 a, int64_t n) { return {wrap::div(a.value, n)}; }
  friend IOFixed64 operator+(IOFixed64 a, IOFixed64 b) { return {wrap::add(a.value, b.value)}; }
  friend IOFixed64 operator-(IOFixed64 a, IOFixed64 b) { return {wrap::sub(a.value, b.value)}; }
  friend IOFixed64 operator+(IOFixed64 a, int64_t n) { return {wrap::add(a.value, wrap::mul(n, 65536))}; }
  friend IOFixed64 operator-(IOFixed64 a, int64_t n) { return {wrap::sub(a.value, wrap::mul(n, 65536))}; }

  friend constexpr bool operator==(IOFixed64 a, IOFixed64 b) = default;
  friend constexpr auto operator<=>(IOFixed64 a, IOFixed64 b) = default;
};

// ⌊√v⌋, two bits of v per round from the top, 32 rounds.
constexpr uint64_t llsqrt(uint64_t v) {
  uint64_t root = 0, rem = 0;
  for (int i = 0; i < 32; ++i) {
    rem = (rem << 2) | (v >> 62);
    v <<= 2;
    uint64_t candidate = (root << 2) | 1;
    root <<= 1;
    if (rem >= candidate) {
      rem -= candidate;
      root |= 1;
    }
  }
  return root;
}

// The same method on 32 bits, 16 rounds.
constexpr uint16_t lsqrt(uint32_t v) {
  uint32_t root = 0, rem = 0;
  for (int i = 0; i < 16; ++i) {
    rem = (rem << 2) | (v >> 30);
    v <<= 2;
    uint32_t candidate = (root << 2) | 1;
    root <<= 1;
    if (rem >= candidate) {
      rem -= candidate;
      root |= 1;
    }
  }
  return static_cast<uint16_t>(root);
}

// x to the power n by repeated truncating products; n = 0 gives raw 0 (not 1.0).
inline IOFixed64 exponent(IOFixed64 x, uint8_t n) {
  if (n == 0) return IOFixed64{};
  IOFixed64 r = x;
  for (uint8_t i = 1; i < n; ++i) r = r * x;
  return r;
}

}  // namespace vl
