// QS805CursorSpeedClass: initial values, validation, display form and the system's own speed.
#include "core/store/cursor_speed_record.h"

#include "core/plist/number_text.h"
#include "core/system/favourite_colours.h"

#include <algorithm>

#include "core/devices/exchange_file.h"
#include "core/hid/pointer_parameters.h"
#include "core/plist/codec.h"
#include "core/store/device_record.h"
#include "core/store/record_ports.h"
#include "core/store/record_values.h"
#include "core/store/store.h"
#include "core/store/store_text.h"
#include "core/system/versions.h"
#include "core/system/strings.h"

namespace vl {

namespace {
const pl::Value* get(const pl::Dict& d, const char* k) {
  auto it = d.find(k);
  return it == d.end() ? nullptr : &it->second;
}
}  // namespace

RgbColor favouriteColor(int64_t index) {
  const int* c = favouriteColourComponents(index);
  return {c[0] / 255.0, c[1] / 255.0, c[2] / 255.0, 1.0};
}

pl::Data archiveColor(const RgbColor& c) {
  pl::Dict d;
  d["NSColorSpace"] = pl::Value("NSCalibratedRGBColorSpace");
  d["red"] = pl::Value(c.red);
  d["green"] = pl::Value(c.green);
  d["blue"] = pl::Value(c.blue);
  d["alpha"] = pl::Value(c.alpha);
  return pl::writeBinary(pl::Value(std::move(d)));
}

std::optional<RgbColor> unarchiveColor(const pl::Data& data) {
  pl::ReadResult r = pl::readBinary(data);
  if (!r || !r.value->isDict()) return std::nullopt;
  auto red = r.value->numberFor("red"), green = r.value->numberFor("green"), blue = r.value->numberFor("blue");
  if (!red || !green || !blue) return std::nullopt;
  return RgbColor{*red, *green, *blue, r.value->numberFor("alpha").value_or(1.0)};
}


std::vector<std::string> QS805CursorSpeedClass::keyPathsForValuesAffecting(const std::string& key) {
  if (key == "isSystemCursorSpeed" || key == "VL705label") return {"sensitivity", "trackingSpeed", "disableAccl"};
  if (key == "sensitivityDisplay") return {"sensitivity"};
  return {};
}

std::optional<std::string> QS805CursorSpeedClass::sensitivity() const {
  if (const std::string* s = value(attr::cursorSpeed::sensitivity).asString()) return *s;
  return std::nullopt;
}

std::optional<std::string> QS805CursorSpeedClass::trackingSpeed() const {
  if (const std::string* s = value(attr::cursorSpeed::trackingSpeed).asString()) return *s;
  return std::nullopt;
}

std::optional<std::string> QS805CursorSpeedClass::title() const {
  if (const std::string* s = value(attr::cursorSpeed::title).asString()) return *s;
  return std::nullopt;
}

std::optional<RgbColor> QS805CursorSpeedClass::color() const {
  const pl::Data* d = value(attr::cursorSpeed::color).asData();
  return d ? unarchiveColor(*d) : std::nullopt;
}

bool QS805CursorSpeedClass::setSensitivity(const std::optional<std::string>& v) {
  return setValue(attr::cursorSpeed::sensitivity, v ? pl::Value(*v) : pl::Value());
}

bool QS805CursorSpeedClass::setTrackingSpeed(const std::optional<std::string>& v) {
  return setValue(attr::cursorSpeed::trackingSpeed, v ? pl::Value(*v) : pl::Value());
}

void QS805CursorSpeedClass::setTitle(const std::optional<std::string>& v) {
  setValue(attr::cursorSpeed::title, v ? pl::Value(*v) : pl::Value());
}

QS802DeviceClass* QS805CursorSpeedClass::device() const {
  return static_cast<QS802DeviceClass*>(toOne(attr::cursorSpeed::device));
}

void QS805CursorSpeedClass::setDevice(QS802DeviceClass* d) { setToOne(attr::cursorSpeed::device, d); }

QS805CursorSpeedClass* QS805CursorSpeedClass::initWithIndex(int64_t index, double sensitivity, double tracking) {
  const int64_t k = ((index % 5) + 5) % 5;
  QS812initAttributesOfManagedObject(this);
  setIndex(index);
  setColor(favouriteColor(k));
  double t = tracking < 0 ? kDefaultFavouriteTrackingSpeed : tracking;
  setTrackingSpeed(gText(std::min(kMaxTrackingSpeed, t)));
  double s = sensitivity < 0 ? kDefaultSensitivity : sensitivity;
  setSensitivity(gText(std::min(kMaxSensitivity, std::max(kMinSensitivity, 100.0 * static_cast<double>(k) + s))));
  setVisible(true);
  setTitle(localizedFormat(ports().texts(), "Favorite Settings %d", kTableDvvl, {static_cast<long long>(k + 1)}));
  return this;
}

QS805CursorSpeedClass* QS805CursorSpeedClass::initWithCSDic(const pl::Dict& dic) {
  QS812setDictionaryToManagedObject(&dic, this);
  return this;
}

pl::Dict QS805CursorSpeedClass::csDic() const { return QS812managedObjectToDictionary(this); }

std::string QS805CursorSpeedClass::sensitivityDisplay() const {
  return gText(kSensitivityDisplayBase - doubleOf(&value(attr::cursorSpeed::sensitivity)));
}

void QS805CursorSpeedClass::setSensitivityDisplay(const std::optional<std::string>& text) {
  if (!text) {
    setSensitivity(std::nullopt);
    return;
  }
  pl::Value v(*text);
  setSensitivity(gText(kSensitivityDisplayBase - doubleOf(&v)));
}

ErrorInfo speedRangeError(const TextSource& texts, const BundleInfo& bundle, double value, double minimum, double maximum) {
  ErrorInfo e;
  e.domain = bundle.identifier;
  e.code = 0;
  e.userInfo[kDescriptionKey] = pl::Value(localizedFormat(
      texts, "A value of %g is out of range.\nAcceptable values are %g to %g.", kTableDvvl, {value, minimum, maximum}));
  return e;
}

bool QS805CursorSpeedClass::validateSensitivityDisplay(const pl::Value& v, ErrorInfo* error) const {
  double d = doubleOf(&v);
  if (d >= kMinSensitivityDisplay && d <= kMaxSensitivityDisplay) return true;
  if (error) *error = speedRangeError(ports().texts(), recordSettings().bundle, d, kMinSensitivityDisplay, kMaxSensitivityDisplay);
  return false;
}

bool QS805CursorSpeedClass::validateTrackingSpeed(const pl::Value& v, ErrorInfo* error) const {
  double d = doubleOf(&v);
  if (d >= kMinTrackingSpeed && d <= kMaxTrackingSpeed) return true;
  if (error) *error = speedRangeError(ports().texts(), recordSettings().bundle, d, kMinTrackingSpeed, kMaxTrackingSpeed);
  return false;
}

std::string QS805CursorSpeedClass::systemTrackingSpeed() const {
  QS802DeviceClass* d = device();
  const std::string key = d && d->isAppleTrackpad() ? kHIDTrackpadAccelerationKey : kHIDMouseAccelerationKey;
  double v = systemAcceleration(ports().eventSystem, &key, kMaxTrackingSpeed);
  v = std::min(kMaxTrackingSpeed, std::max(kMinTrackingSpeed, v));
  return gText(QS812round1(4, v));
}

bool QS805CursorSpeedClass::isSystemCursorSpeed() const {
  QS802DeviceClass* d = device();
  if (!d) return false;
  auto native = d->pointerResolution();
  auto sens = sensitivity();
  auto track = trackingSpeed();
  return native && sens && *native == *sens && track && systemTrackingSpeed() == *track && !disableAccl();
}

void QS805CursorSpeedClass::restoreSensitivity() {
  QS802DeviceClass* d = device();
  setSensitivity(d ? d->pointerResolution() : std::nullopt);
}

void QS805CursorSpeedClass::restoreCursorSpeed() {
  setDisableAccl(false);
  restoreSensitivity();
  setTrackingSpeed(systemTrackingSpeed());
}

std::string QS805CursorSpeedClass::VL705label() const {
  if (disableAccl()) return localized(ports().texts(), "----------------", kTableVl);
  std::string tracking = pl::formatG(doubleOf(&value(attr::cursorSpeed::trackingSpeed)), 5).substr(0, 5);
  double display = kSensitivityDisplayBase - doubleOf(&value(attr::cursorSpeed::sensitivity));
  long long shown = display >= 2147483647.0 ? 2147483647LL : display <= -2147483648.0 ? -2147483648LL
                                                                                    : static_cast<long long>(display);
  return localizedFormat(ports().texts(), "Ⓐ%s Ⓢ%-4d", kTableVl, {tracking, shown});
}

namespace csdic {
double sensitivity(const pl::Dict& d) { return doubleOf(get(d, "sensitivity")); }
double trackingSpeed(const pl::Dict& d) { return doubleOf(get(d, "trackingSpeed")); }
bool disableAccl(const pl::Dict& d) {
  const pl::Value* v = get(d, "disableAccl");
  if (!v) return false;
  if (v->isNumber()) return v->boolValue();
  if (const std::string* s = v->asString()) return !s->empty() && std::string("YyTt123456789").find((*s)[0]) != std::string::npos;
  return false;
}
bool csValidate(const pl::Dict& d) { return vl::csValidate(pl::Value(d), nullptr); }
}  // namespace csdic

}  // namespace vl
