// The settings model: the five entities with their typed attributes and relationships, and the
// model version written into every store file.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "core/plist/value.h"

namespace vl {

enum class EntityKind : uint8_t { Device, CursorSpeed, Application, Action, UserInfo };
inline constexpr int kEntityCount = 5;

// How an attribute is held. Dictionaries and "Any" values are kept as binary property lists.
enum class AttrType : uint8_t {
  Integer,  // signed 64-bit
  UInt32,   // identity values: unsigned 32-bit, never read through signed formatting
  Boolean,
  String,
  Date,
  Dict,
  Data,
  Any,  // any property-list value (the sibling product's action values, whose types are its own)
};

struct AttributeDesc {
  const char* name;
  AttrType type;
  // A number kept as "%g" text: it takes only finite numbers, so no program can store a
  // "nan" or "inf" that the agent would later write to a device.
  bool decimalText = false;
};

struct RelationshipDesc {
  const char* name;
  EntityKind destination;
  bool toMany;
  const char* inverse;
};

struct EntityDesc {
  EntityKind kind;
  const char* name;
  std::vector<AttributeDesc> attributes;
  std::vector<RelationshipDesc> relationships;

  // -1 when the entity has no such attribute / relationship.
  int attributeIndex(std::string_view name) const;
  int relationshipIndex(std::string_view name) const;
};

// A model version. Later versions only append attributes and entities, so the fixed attribute
// positions the record classes use stay valid and an older file maps onto a newer model by name.
struct StoreModel {
  int32_t version = 0;
  std::vector<EntityDesc> entities;  // indexed by EntityKind

  const EntityDesc& entity(EntityKind k) const { return entities[static_cast<size_t>(k)]; }
  const EntityDesc* entityNamed(std::string_view name) const;

  // The model this program was built with.
  static const StoreModel& current();
};

// Converts a value to what an attribute of type t can hold: numbers between the number types,
// numbers to "%g" text for text attributes; anything else of the wrong type becomes null. The
// store therefore never holds a value its attribute cannot hold.
pl::Value coerceToAttribute(AttrType t, const pl::Value& v);

// Whether a value may be written to the attribute: for a decimal-text attribute only null, a
// finite number or a text that reads as one.
bool acceptsValue(const AttributeDesc& d, const pl::Value& v);

// Fixed attribute positions of the current model (the order of the model tables).
namespace attr {
namespace device {
enum : int {
  vid, pid, mid, transport, registryName, pointerResolution, name, expansionData, cursorSpeedDisabled,
  cursorSpeedSelectedIndex, cursorSpeedDate, applicationSelectedIndex, actionDisabled, buttonCount, hScrollOp,
  partName, viewScaleX, viewScaleY
};
enum Rel : int { cursorSpeeds, applications };
}  // namespace device
namespace cursorSpeed {
enum : int { sensitivity, trackingSpeed, disableAccl, index, isLocked, expansionData, visible, color, title };
enum Rel : int { device };
}  // namespace cursorSpeed
namespace application {
enum : int {
  bookmark, matchingKey, bundleID, index, name, expansionData, setupCommand, scrollSpeedDisabled,
  scrollSpeedSensFactor, scrollSpeedAcceleration, scrollSpeedDisableAccl, snapping, snappingJump,
  snappingBounce, snappingSpeed
};
enum Rel : int { device, actions };
}  // namespace application
namespace action {
enum : int { button, scroll, scrollIX, modkeys, func };
enum Rel : int { application };
}  // namespace action
namespace userInfo {
enum : int { expansionData, dvDeviceSelectedIndex, vlDeviceSelectedIndex };
}  // namespace userInfo
}  // namespace attr

}  // namespace vl
