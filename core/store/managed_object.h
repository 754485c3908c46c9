// ManagedObject: one record of the settings store, with typed attributes, relationships kept
// together with their inverses, and tracking of unsaved changes. Records are owned by their
// context; a pointer to one stays valid for the context's life, even after the record is deleted.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/plist/value.h"
#include "core/store/store_model.h"

namespace vl {

class ManagedObjectContext;
struct RecordPorts;
struct RecordSettings;
class ErrorStack;

class ManagedObject {
 public:
  ManagedObject(const ManagedObject&) = delete;
  ManagedObject& operator=(const ManagedObject&) = delete;
  virtual ~ManagedObject() = default;

  EntityKind entityKind() const { return entity_->kind; }
  const EntityDesc& entity() const { return *entity_; }
  const char* entityName() const { return entity_->name; }
  // The owning context; null once the record was deleted and that deletion saved (or an
  // unsaved record was deleted).
  ManagedObjectContext* managedObjectContext() const { return registered_ ? ctx_ : nullptr; }

  // Attributes by position (the record classes) or by name (the generic helpers). Unknown
  // names read as null and are not written.
  const pl::Value& value(int attr) const;
  // Stores the value (converted to the attribute's type), registers an undo step and notes the
  // key for the next objects-did-change notification. Storing an identical value does nothing.
  // A value the attribute refuses (a non-finite number for a decimal text) is not stored:
  // false, and the attribute keeps its value.
  bool setValue(int attr, const pl::Value& v);
  // Stores the value for the next save without an undo step or a change notification.
  void setPrimitiveValue(int attr, const pl::Value& v);
  const pl::Value& valueForKey(std::string_view key) const;
  bool setValueForKey(std::string_view key, const pl::Value& v);

  // Relationships by position in the entity's relationship list. Changing one side keeps the
  // inverse in step, each with its undo step.
  ManagedObject* toOne(int rel) const;
  void setToOne(int rel, ManagedObject* target);
  const std::vector<ManagedObject*>& toMany(int rel) const;
  void addToMany(int rel, ManagedObject* obj);
  void removeFromMany(int rel, ManagedObject* obj);

  // Attribute values changed since the last save or fetch (all set values for a new record).
  pl::Dict changedValues() const;
  // Names of the attributes and relationships changed since the last save or fetch.
  std::vector<std::string> changedKeys() const;
  bool hasChanges() const;
  bool isInserted() const { return registered_ && !stored_; }
  bool isDeleted() const { return deleted_; }
  bool isUpdated() const;
  // The row id in the store file; 0 until the record was saved.
  int64_t primaryKey() const { return pk_; }

 protected:
  ManagedObject() = default;
  // The ports the record's context was given (kept after the record was deleted).
  const RecordPorts& ports() const;
  // What the program that opened the store gave its records.
  const RecordSettings& recordSettings() const;
  // Where the record pushes its failures: its context's error stack.
  ErrorStack& errorStack() const;
  // Called after the record was inserted into, or loaded from, its context.
  virtual void awake() {}
  // Called before the context drops the record's in-memory state: transient state that ties a
  // record to running services is released here.
  virtual void willTurnIntoFault() {}

 private:
  friend class ManagedObjectContext;

  void noteChanged(const char* key);
  void rawSetToOne(int rel, ManagedObject* target);  // no inverse, no undo
  void rawAddToMany(int rel, ManagedObject* obj);
  void rawRemoveFromMany(int rel, ManagedObject* obj);
  void snapshotToMany(int rel);

  ManagedObjectContext* ctx_ = nullptr;
  const EntityDesc* entity_ = nullptr;
  int64_t pk_ = 0;
  uint64_t seq_ = 0;  // order of making, for saving new rows in that order
  bool registered_ = false;  // live in the context (fetchable unless deleted_)
  bool stored_ = false;      // has a row in the store file
  bool deleted_ = false;     // deletion of the stored row pending
  std::vector<pl::Value> values_;
  std::vector<pl::Value> committed_;
  std::vector<ManagedObject*> toOne_;           // per relationship (to-one ones used)
  std::vector<ManagedObject*> committedToOne_;
  std::vector<std::vector<ManagedObject*>> toMany_;
  std::vector<std::optional<std::vector<ManagedObject*>>> committedToMany_;
  std::set<std::string> passKeys_;  // keys changed since the last change notification
};

}  // namespace vl
