// The settings model's tables and the attribute value conversion.
#include "core/store/store_model.h"

#include "core/plist/number_text.h"

#include <cmath>

namespace vl {

int EntityDesc::attributeIndex(std::string_view n) const {
  for (size_t i = 0; i < attributes.size(); ++i)
    if (n == attributes[i].name) return static_cast<int>(i);
  return -1;
}

int EntityDesc::relationshipIndex(std::string_view n) const {
  for (size_t i = 0; i < relationships.size(); ++i)
    if (n == relationships[i].name) return static_cast<int>(i);
  return -1;
}

const EntityDesc* StoreModel::entityNamed(std::string_view n) const {
  for (const auto& e : entities)
    if (n == e.name) return &e;
  return nullptr;
}

const StoreModel& StoreModel::current() {
  using T = AttrType;
  static const StoreModel model{
      1,
      {
          {EntityKind::Device,
           "Device",
           {{"vid", T::UInt32},
            {"pid", T::UInt32},
            {"mid", T::UInt32},
            {"transport", T::String},
            {"registryName", T::String},
            {"pointerResolution", T::String, true},
            {"name", T::String},
            {"expansionData", T::Dict},
            {"cursorSpeedDisabled", T::Boolean},
            {"cursorSpeedSelectedIndex", T::Integer},
            {"cursorSpeedDate", T::Date},
            {"applicationSelectedIndex", T::Integer},
            {"actionDisabled", T::Boolean},
            {"buttonCount", T::Integer},
            {"hScrollOp", T::String},
            {"partName", T::Dict},
            {"viewScaleX", T::String, true},
            {"viewScaleY", T::String, true}},
           {{"cursorSpeeds", EntityKind::CursorSpeed, true, "device"},
            {"applications", EntityKind::Application, true, "device"}}},
          {EntityKind::CursorSpeed,
           "CursorSpeed",
           {{"sensitivity", T::String, true},
            {"trackingSpeed", T::String, true},
            {"disableAccl", T::Boolean},
            {"index", T::Integer},
            {"isLocked", T::Boolean},
            {"expansionData", T::Dict},
            {"visible", T::Boolean},
            {"color", T::Data},
            {"title", T::String}},
           {{"device", EntityKind::Device, false, "cursorSpeeds"}}},
          {EntityKind::Application,
           "Application",
           {{"bookmark", T::Data},
            {"matchingKey", T::String},
            {"bundleID", T::String},
            {"index", T::Integer},
            {"name", T::String},
            {"expansionData", T::Dict},
            {"setupCommand", T::Dict},
            {"scrollSpeedDisabled", T::Boolean},
            {"scrollSpeedSensFactor", T::String},
            {"scrollSpeedAcceleration", T::String},
            {"scrollSpeedDisableAccl", T::Boolean},
            {"snapping", T::String},
            {"snappingJump", T::Boolean},
            {"snappingBounce", T::Boolean},
            {"snappingSpeed", T::Integer}},
           {{"device", EntityKind::Device, false, "applications"},
            {"actions", EntityKind::Action, true, "application"}}},
          {EntityKind::Action,
           "Action",
           {{"button", T::Any}, {"scroll", T::Any}, {"scrollIX", T::Any}, {"modkeys", T::Any}, {"func", T::Any}},
           {{"application", EntityKind::Application, false, "actions"}}},
          {EntityKind::UserInfo,
           "UserInfo",
           {{"expansionData", T::Dict}, {"dvDeviceSelectedIndex", T::String}, {"vlDeviceSelectedIndex", T::String}},
           {}},
      }};
  return model;
}

bool acceptsValue(const AttributeDesc& d, const pl::Value& v) {
  if (!d.decimalText || v.isNull()) return true;
  if (const std::string* s = v.asString()) return pl::parseDecimal(*s).has_value();
  return v.isNumber() && !v.isBool() && std::isfinite(v.doubleValue());
}

pl::Value coerceToAttribute(AttrType t, const pl::Value& v) {
  if (v.isNull()) return v;
  switch (t) {
    case AttrType::Any: return v;
    case AttrType::Integer:
      // A number written as text by another program is kept as the number it reads as.
      if (const std::string* s = v.asString()) {
        auto i = pl::parseIntegerText(*s);
        return i ? pl::Value::int64(*i) : pl::Value();
      }
      if (v.isBool()) return pl::Value::int64(v.boolValue() ? 1 : 0);
      if (v.isInteger()) return v;
      if (v.isReal()) return std::isfinite(v.doubleValue()) ? pl::Value::int64(v.longLongValue()) : pl::Value();
      return {};
    case AttrType::UInt32:
      if (v.isNumber() && (!v.isReal() || std::isfinite(v.doubleValue())))
        return pl::Value::uint32(v.unsignedIntValue());
      return {};
    case AttrType::Boolean:
      if (v.isNumber()) return pl::Value(v.boolValue());
      if (const std::string* s = v.asString()) return pl::Value(pl::parseBoolText(*s));
      return {};
    case AttrType::String:
      if (v.isString()) return v;
      if (v.isNumber() && !v.isBool()) {
        return pl::Value(pl::formatG(v.doubleValue()));
      }
      return {};
    case AttrType::Date: return v.isDate() ? v : pl::Value();
    case AttrType::Dict: return v.isDict() ? v : pl::Value();
    case AttrType::Data: return v.isData() ? v : pl::Value();
  }
  return {};
}

}  // namespace vl
