// Shared checks of the property-list fuzz targets: what a reader accepted must survive the
// writers, and a broken invariant aborts so libFuzzer keeps the input.
#pragma once

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "core/plist/codec.h"

namespace plfuzz {

// Structural equality where NaN equals NaN and, with wholeDates, dates compare by their
// whole seconds within the years an XML date can show (the XML form has no fraction).
inline bool same(const pl::Value& a, const pl::Value& b, bool wholeDates) {
  if (a.type() != b.type()) return false;
  switch (a.type()) {
    case pl::Type::Real: {
      double x = a.doubleValue(), y = b.doubleValue();
      return (std::isnan(x) && std::isnan(y)) || x == y;
    }
    case pl::Type::Integer:
      return a.asInteger()->bits == b.asInteger()->bits && a == b;
    case pl::Type::Date: {
      double x = a.asDate()->seconds, y = b.asDate()->seconds;
      if (!wholeDates) return (std::isnan(x) && std::isnan(y)) || x == y;
      auto clamp = [](double s) {
        if (std::isnan(s)) return 0.0;
        return std::fmin(std::fmax(std::trunc(s), -63113904000.0), 252423993599.0);
      };
      return std::fabs(clamp(x) - clamp(y)) <= 1.0;
    }
    case pl::Type::Array: {
      const auto &x = *a.asArray(), &y = *b.asArray();
      if (x.size() != y.size()) return false;
      for (size_t i = 0; i < x.size(); ++i)
        if (!same(x[i], y[i], wholeDates)) return false;
      return true;
    }
    case pl::Type::Dict: {
      const auto &x = *a.asDict(), &y = *b.asDict();
      if (x.size() != y.size()) return false;
      for (auto i = x.begin(), j = y.begin(); i != x.end(); ++i, ++j)
        if (i->first != j->first || !same(i->second, j->second, wholeDates)) return false;
      return true;
    }
    default:
      return a == b;
  }
}

[[noreturn]] inline void broken(const char* what, const std::string& detail) {
  std::fprintf(stderr, "invariant broken: %s: %s\n", what, detail.c_str());
  std::abort();
}

inline void checkError(const pl::ReadResult& r) {
  if (r) {
    if (!r.error.empty()) broken("success with an error text", r.error);
    return;
  }
  if (r.error.empty()) broken("failure without an error text", "");
  if (r.error.find('\n') != std::string::npos) broken("error text spans lines", r.error);
}

// A value read by any reader must come back from the binary writer unchanged.
inline void checkBinaryRoundTrip(const pl::Value& v) {
  pl::Data b = pl::writeBinary(v);
  pl::ReadResult r = pl::readBinary(b);
  if (!r) broken("binary writer output unreadable", r.error);
  if (!same(v, *r.value, false)) broken("binary round trip changed the value", v.describe().substr(0, 200));
}

}  // namespace plfuzz
