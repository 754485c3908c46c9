// The settings model's tables and the attribute value conversion.
#include "core/store/store_model.h"

#include <cmath>
#include <cstdio>

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
            {"pointerResolution", T::String},
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
            {"viewScaleX", T::String},
            {"viewScaleY", T::String}},
           {{"cursorSpeeds", EntityKind::CursorSpeed, true, "device"},
            {"applications", EntityKind::Application, true, "device"}}},
          {EntityKind::CursorSpeed,
           "CursorSpeed",
           {{"sensitivity", T::String},
            {"trackingSpeed", T::String},
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

pl::Value coerceToAttribute(AttrType t, const pl::Value& v) {
  if (v.isNull()) return v;
  switch (t) {
    case AttrType::Any: return v;
    case AttrType::Integer:
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
      return {};
    case AttrType::String:
      if (v.isString()) return v;
      if (v.isNumber() && !v.isBool()) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%g", v.doubleValue());
        return pl::Value(buf);
      }
      return {};
    case AttrType::Date: return v.isDate() ? v : pl::Value();
    case AttrType::Dict: return v.isDict() ? v : pl::Value();
    case AttrType::Data: return v.isData() ? v : pl::Value();
  }
  return {};
}

}  // namespace vl
