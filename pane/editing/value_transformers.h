// The two slider transforms of the speed tab: stored text of a favourite <-> slider position.
#pragma once

#include <optional>
#include <string>

namespace vl {

// Sensitivity slider: shows the stored display value unchanged; a position stores the text of
// its integer part (fractions are cut).
class VL200SensitivityTransClass {
 public:
  // transformedValue: the stored text read as a number (0 for none or no number).
  static double transformedValue(const std::optional<std::string>& stored);
  // reverseTransformedValue: "%d" of the position's integer part.
  static std::string reverseTransformedValue(double position);
};
using SensitivityTransformer = VL200SensitivityTransClass;  // the readable name

// Tracking slider: runs over the square root of the tracking speed, so the small speeds most
// people use get most of the slider.
class VL200TrackingTransClass {
 public:
  // transformedValue: sqrt of the stored value (0 for none, no number or a negative one).
  static double transformedValue(const std::optional<std::string>& stored);
  // reverseTransformedValue: "%.3g" of position squared (1.5 -> "2.25", 0.83 -> "0.689").
  static std::string reverseTransformedValue(double position);
};
using TrackingTransformer = VL200TrackingTransClass;  // the readable name

}  // namespace vl
