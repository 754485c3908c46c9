// Builders for acceleration tables and curve dictionaries used by the curve tests.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <utility>
#include <vector>

#include "core/plist/value.h"

namespace vl::test {

struct TableCurve {
  int32_t level;
  std::vector<std::pair<int32_t, int32_t>> points;  // 16.16 (x, y)
};

inline void putBE32(pl::Data& d, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) d.push_back(static_cast<uint8_t>(v >> s));
}
inline void putBE16(pl::Data& d, uint16_t v) {
  d.push_back(static_cast<uint8_t>(v >> 8));
  d.push_back(static_cast<uint8_t>(v));
}

// A table in the service property's layout; count overrides the curve count field.
inline pl::Data makeTable(int32_t midLevel, const std::vector<TableCurve>& curves,
                          std::optional<uint16_t> count = std::nullopt) {
  pl::Data d;
  putBE32(d, static_cast<uint32_t>(midLevel));
  putBE32(d, 0x40323030);
  putBE16(d, count.value_or(static_cast<uint16_t>(curves.size())));
  for (const auto& c : curves) {
    putBE32(d, static_cast<uint32_t>(c.level));
    putBE16(d, static_cast<uint16_t>(c.points.size()));
    for (auto [x, y] : c.points) {
      putBE32(d, static_cast<uint32_t>(x));
      putBE32(d, static_cast<uint32_t>(y));
    }
  }
  return d;
}

inline int32_t readBE32(const pl::Data& d, size_t at) {
  return static_cast<int32_t>((uint32_t{d[at]} << 24) | (uint32_t{d[at + 1]} << 16) | (uint32_t{d[at + 2]} << 8) |
                              uint32_t{d[at + 3]});
}

// One curve dictionary; absent fields are left out of it.
struct CurveFields {
  std::optional<int32_t> index = std::nullopt, linear = std::nullopt, parabolic = std::nullopt,
                         cubic = std::nullopt, quartic = std::nullopt, tangentLinear = std::nullopt,
                         tangentRoot = std::nullopt;
};
inline pl::Value makeCurve(const CurveFields& f) {
  pl::Dict d;
  auto put = [&d](const char* key, std::optional<int32_t> v) {
    if (v) d[key] = pl::Value::int32(*v);
  };
  put("HIDAccelIndex", f.index);
  put("HIDAccelGainLinear", f.linear);
  put("HIDAccelGainParabolic", f.parabolic);
  put("HIDAccelGainCubic", f.cubic);
  put("HIDAccelGainQuartic", f.quartic);
  put("HIDAccelTangentSpeedLinear", f.tangentLinear);
  put("HIDAccelTangentSpeedParabolicRoot", f.tangentRoot);
  return pl::Value(std::move(d));
}

inline constexpr int32_t fx(double v) { return static_cast<int32_t>(v * 65536.0 + (v >= 0 ? 0.5 : -0.5)); }

}  // namespace vl::test
