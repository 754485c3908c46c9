// QS805CursorSpeedClass: one of a device's five favourite speeds: sensitivity (the pointer
// resolution written to the device), tracking speed (the acceleration) or acceleration off,
// with its initial values, validation, display form and comparison with the system's speed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/errors/error_stack.h"
#include "core/plist/value.h"
#include "core/store/managed_object.h"
#include "core/store/record_names.h"
#include "core/system/strings.h"
#include "platform/api/alerts.h"

namespace vl {

class QS802DeviceClass;

inline constexpr double kMinSensitivity = 10;
inline constexpr double kMaxSensitivity = 2000;
inline constexpr double kSensitivityDisplayBase = 2000;  // the user sees 2000 - sensitivity
inline constexpr double kMinSensitivityDisplay = 5;
inline constexpr double kMaxSensitivityDisplay = 1990;
inline constexpr double kMinTrackingSpeed = 0;
inline constexpr double kMaxTrackingSpeed = 20;
inline constexpr double kDefaultSensitivity = 400;
inline constexpr double kDefaultFavouriteTrackingSpeed = 0.6875;
inline constexpr int kFavouriteCount = 5;

struct RgbColor {
  double red = 0, green = 0, blue = 0, alpha = 1;
  bool operator==(const RgbColor&) const = default;
};
// The favourite colours by index modulo 5 (components 0..1).
RgbColor favouriteColor(int64_t index);
// The stored form of a colour (a binary property list of its calibrated RGB components) and
// back; nullopt for data that is not one.
pl::Data archiveColor(const RgbColor& c);
std::optional<RgbColor> unarchiveColor(const pl::Data& data);

class QS805CursorSpeedClass : public ManagedObject {
 public:
  QS805CursorSpeedClass() = default;

  static std::vector<std::string> keyPathsForValuesAffecting(const std::string& key);

  // Stored attributes.
  std::optional<std::string> sensitivity() const;
  std::optional<std::string> trackingSpeed() const;
  bool disableAccl() const { return value(attr::cursorSpeed::disableAccl).boolValue(); }
  int64_t index() const { return value(attr::cursorSpeed::index).longLongValue(); }
  bool isLocked() const { return value(attr::cursorSpeed::isLocked).boolValue(); }
  bool visible() const { return value(attr::cursorSpeed::visible).boolValue(); }
  std::optional<RgbColor> color() const;
  std::optional<std::string> title() const;
  // False, and nothing stored, for a text that is not a finite number.
  bool setSensitivity(const std::optional<std::string>& v);
  bool setTrackingSpeed(const std::optional<std::string>& v);
  // false stores null, as the pane's check boxes do.
  void setDisableAccl(bool v) { setValue(attr::cursorSpeed::disableAccl, v ? pl::Value(true) : pl::Value()); }
  void setIndex(int64_t v) { setValue(attr::cursorSpeed::index, pl::Value::int64(v)); }
  void setIsLocked(bool v) { setValue(attr::cursorSpeed::isLocked, v ? pl::Value(true) : pl::Value()); }
  void setVisible(bool v) { setValue(attr::cursorSpeed::visible, v ? pl::Value(true) : pl::Value()); }
  void setColor(const RgbColor& c) { setValue(attr::cursorSpeed::color, pl::Value(archiveColor(c))); }
  void setTitle(const std::optional<std::string>& v);
  QS802DeviceClass* device() const;
  void setDevice(QS802DeviceClass* d);

  QS805CursorSpeedClass* initWithIndex(int64_t index, double sensitivity, double tracking);
  QS805CursorSpeedClass* initWithCSDic(const pl::Dict& dic);
  pl::Dict csDic() const;

  std::string sensitivityDisplay() const;
  void setSensitivityDisplay(const std::optional<std::string>& text);
  // Validation hooks: false and *error filled with the range error when out of range.
  bool validateSensitivityDisplay(const pl::Value& value, ErrorInfo* error) const;
  bool validateTrackingSpeed(const pl::Value& value, ErrorInfo* error) const;

  std::string systemTrackingSpeed() const;
  bool isSystemCursorSpeed() const;
  void restoreSensitivity();
  void restoreCursorSpeed();

  // The short label of the favourite ("Ⓐ0.687 Ⓢ1600", or dashes with acceleration off).
  std::string VL705label() const;
};

// The range error of the validation hooks: domain the bundle's identifier, code 0, and the
// message "A value of %g is out of range.\nAcceptable values are %g to %g.".
ErrorInfo speedRangeError(const TextSource& texts, const BundleInfo& bundle, double value, double minimum, double maximum);

// Accessors of cursor-speed dictionaries.
namespace csdic {
double sensitivity(const pl::Dict& d);
double trackingSpeed(const pl::Dict& d);
bool disableAccl(const pl::Dict& d);
// Acceleration off passes; otherwise tracking speed at most 20 and sensitivity 10..2000.
bool csValidate(const pl::Dict& d);
}  // namespace csdic

}  // namespace vl
