// Value helpers of the record classes.
#include "core/store/record_values.h"

#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "core/plist/codec.h"

namespace vl {

std::string gText(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%g", v);
  return buf;
}

double doubleOf(const pl::Value* v) {
  if (!v) return 0;
  if (v->isNumber()) return v->doubleValue();
  if (const std::string* s = v->asString()) {
    const char* p = s->c_str();
    char* end = nullptr;
    double d = std::strtod(p, &end);
    if (end == p || !std::isfinite(d)) return 0;
    return d;
  }
  return 0;
}

int32_t intOf(const pl::Value* v) {
  if (!v) return 0;
  if (v->isNumber()) return v->intValue();
  if (v->isString()) {
    double d = doubleOf(v);
    if (d >= 2147483647.0) return INT32_MAX;
    if (d <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(d);
  }
  return 0;
}

pl::Date storeNow() {
  using namespace std::chrono;
  double unix = duration<double>(system_clock::now().time_since_epoch()).count();
  return pl::Date{unix - 978307200.0};
}

std::string lowercased(const std::string& s) {
  std::string out = s;
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

int compareIgnoringCase(const std::string& a, const std::string& b) {
  std::string la = lowercased(a), lb = lowercased(b);
  return la < lb ? -1 : (la > lb ? 1 : 0);
}

std::string debugText(const pl::Value& v) {
  if (v.isNull()) return {};
  return pl::writeOpenStep(v);
}

}  // namespace vl
