// 16.16 fixed-point conversions: each rounds the exact result to the nearest integer, ties
// away from zero, and saturates to the signed 32-bit range, so the curves drawn match the
// values written to devices bit for bit.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace vl {

using Fixed = int32_t;
inline constexpr Fixed kFixedOne = 65536;

namespace detail {
inline Fixed saturate(long double v) {
  if (std::isnan(v)) return 0;
  if (v >= static_cast<long double>(std::numeric_limits<int32_t>::max()))
    return std::numeric_limits<int32_t>::max();
  if (v <= static_cast<long double>(std::numeric_limits<int32_t>::min()))
    return std::numeric_limits<int32_t>::min();
  return static_cast<Fixed>(v);
}
// Rounds num/den (den > 0) to nearest, ties away from zero, in exact integer arithmetic.
inline Fixed roundedQuotient(__int128 num, __int128 den) {
  if (den < 0) { num = -num; den = -den; }
  __int128 q = (num >= 0 ? (2 * num + den) : (2 * num - den)) / (2 * den);
  if (q > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (q < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<Fixed>(q);
}
}  // namespace detail

// Double to 16.16. 0.6875 -> 45056, -1.0 -> -65536, 20 -> 1310720.
inline Fixed X2Fix(double x) {
  // x * 65536 is exact in double for every value that does not saturate, so std::round
  // (ties away from zero) on it is the exact rounding.
  return detail::saturate(static_cast<long double>(std::round(x * 65536.0)));
}

inline double Fix2X(Fixed f) { return static_cast<double>(f) / 65536.0; }

inline Fixed FixMul(Fixed a, Fixed b) {
  return detail::roundedQuotient(static_cast<__int128>(a) * b, 65536);
}

// Division by zero saturates toward the sign of the dividend, as the platform does.
inline Fixed FixDiv(Fixed a, Fixed b) {
  if (b == 0) return a >= 0 ? std::numeric_limits<int32_t>::max() : std::numeric_limits<int32_t>::min();
  return detail::roundedQuotient(static_cast<__int128>(a) * 65536, b);
}

}  // namespace vl
