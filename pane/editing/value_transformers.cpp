// Slider transforms of the speed tab.
#include "pane/editing/value_transformers.h"

#include <cmath>
#include <limits>

#include "core/plist/number_text.h"

namespace vl {

namespace {
double storedNumber(const std::optional<std::string>& stored) {
  if (!stored) return 0;
  double v = pl::parseLeadingDecimal(*stored, 0);
  return std::isfinite(v) ? v : 0;
}
}  // namespace

double VL200SensitivityTransClass::transformedValue(const std::optional<std::string>& stored) {
  return storedNumber(stored);
}

std::string VL200SensitivityTransClass::reverseTransformedValue(double position) {
  // A slider's intValue: cut toward zero, within int (a NaN position reads as 0).
  if (!std::isfinite(position)) position = std::isnan(position) ? 0 : std::copysign(1e10, position);
  constexpr double lo = std::numeric_limits<int>::min(), hi = std::numeric_limits<int>::max();
  double whole = std::trunc(std::fmin(hi, std::fmax(lo, position)));
  return pl::formatFixed(whole, 0);
}

double VL200TrackingTransClass::transformedValue(const std::optional<std::string>& stored) {
  double v = storedNumber(stored);
  return v > 0 ? std::sqrt(v) : 0;
}

std::string VL200TrackingTransClass::reverseTransformedValue(double position) {
  if (!std::isfinite(position)) position = 0;
  return pl::formatG(position * position, 3);
}

}  // namespace vl
