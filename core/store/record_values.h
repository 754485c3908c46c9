// Small value helpers shared by the record classes: "%g" text, numbers read from text the way
// the platform's strings read them, the current date, and case-insensitive comparison.
#pragma once

#include <string>

#include "core/plist/value.h"

namespace vl {

// "%g" of a number.
std::string gText(double v);
// The double a value stands for: a number's value, or the leading number of a text (0 when
// there is none), as the platform's doubleValue of a string reads it.
double doubleOf(const pl::Value* v);
// The int a value stands for (truncated), as intValue reads numbers and texts.
int32_t intOf(const pl::Value* v);
// The date now, in seconds since the reference date.
pl::Date storeNow();
// Case-insensitive order of two texts (the localized comparison of names).
int compareIgnoringCase(const std::string& a, const std::string& b);
std::string lowercased(const std::string& s);
// The property-list text of a value for the debugging fields (OpenStep form), or empty for null.
std::string debugText(const pl::Value& v);

}  // namespace vl
