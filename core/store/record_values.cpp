// Value helpers of the record classes.
#include "core/store/record_values.h"

#include "core/plist/ascii_text.h"
#include "core/plist/number_text.h"

#include <cctype>
#include <chrono>
#include <cmath>

#include "core/plist/codec.h"

namespace vl {

std::string gText(double v) {
  return pl::formatG(v);
}

double doubleOf(const pl::Value* v) {
  if (!v) return 0;
  if (v->isNumber()) return v->doubleValue();
  // A stored text may come from any program: read the number it begins with, as the
  // platform's doubleValue does; none, or a special value, reads as 0.
  if (const std::string* s = v->asString()) return pl::parseLeadingDecimal(*s);
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

std::string lowercased(const std::string& s) { return pl::asciiLower(s); }

int compareIgnoringCase(const std::string& a, const std::string& b) {
  std::string la = lowercased(a), lb = lowercased(b);
  return la < lb ? -1 : (la > lb ? 1 : 0);
}

std::string debugText(const pl::Value& v) {
  if (v.isNull()) return {};
  return pl::writeOpenStep(v);
}

}  // namespace vl
