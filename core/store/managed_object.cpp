// ManagedObject: attribute and relationship access with change tracking and undo.
#include "core/store/managed_object.h"

#include <algorithm>

#include "core/store/object_context.h"

namespace vl {

namespace {
const pl::Value kNull;

bool identical(const pl::Value& a, const pl::Value& b) { return a.type() == b.type() && a == b; }

bool sameMembers(std::vector<ManagedObject*> a, std::vector<ManagedObject*> b) {
  std::sort(a.begin(), a.end());
  std::sort(b.begin(), b.end());
  return a == b;
}
}  // namespace

const RecordPorts& ManagedObject::ports() const { return ctx_->recordPorts(); }
const RecordSettings& ManagedObject::recordSettings() const { return ctx_->recordSettings(); }
ErrorStack& ManagedObject::errorStack() const { return ctx_->errorStack(); }

const pl::Value& ManagedObject::value(int attr) const {
  if (attr < 0 || static_cast<size_t>(attr) >= values_.size()) return kNull;
  return values_[static_cast<size_t>(attr)];
}

bool ManagedObject::setValue(int attr, const pl::Value& v) {
  if (!ctx_ || attr < 0 || static_cast<size_t>(attr) >= values_.size()) return false;
  const AttributeDesc& d = entity_->attributes[static_cast<size_t>(attr)];
  if (!acceptsValue(d, v)) return false;
  pl::Value nv = coerceToAttribute(d.type, v);
  pl::Value& cur = values_[static_cast<size_t>(attr)];
  if (identical(cur, nv)) return true;
  pl::Value old = std::move(cur);
  cur = std::move(nv);
  ctx_->registerUndo([this, attr, old] { setValue(attr, old); });
  noteChanged(d.name);
  return true;
}

void ManagedObject::setPrimitiveValue(int attr, const pl::Value& v) {
  if (!ctx_ || attr < 0 || static_cast<size_t>(attr) >= values_.size()) return;
  if (!acceptsValue(entity_->attributes[static_cast<size_t>(attr)], v)) return;
  values_[static_cast<size_t>(attr)] = coerceToAttribute(entity_->attributes[static_cast<size_t>(attr)].type, v);
  ctx_->touched_.insert(this);
}

const pl::Value& ManagedObject::valueForKey(std::string_view key) const { return value(entity_->attributeIndex(key)); }

bool ManagedObject::setValueForKey(std::string_view key, const pl::Value& v) {
  int i = entity_->attributeIndex(key);
  return i >= 0 && setValue(i, v);
}

ManagedObject* ManagedObject::toOne(int rel) const {
  if (rel < 0 || static_cast<size_t>(rel) >= toOne_.size()) return nullptr;
  return toOne_[static_cast<size_t>(rel)];
}

const std::vector<ManagedObject*>& ManagedObject::toMany(int rel) const {
  static const std::vector<ManagedObject*> none;
  if (rel < 0 || static_cast<size_t>(rel) >= toMany_.size()) return none;
  // Children are read with their entity; the list is complete once that entity is loaded.
  if (ctx_) ctx_->ensureLoaded(entity_->relationships[static_cast<size_t>(rel)].destination);
  return toMany_[static_cast<size_t>(rel)];
}

void ManagedObject::setToOne(int rel, ManagedObject* target) {
  if (!ctx_ || rel < 0 || static_cast<size_t>(rel) >= toOne_.size()) return;
  const RelationshipDesc& rd = entity_->relationships[static_cast<size_t>(rel)];
  if (rd.toMany) return;
  if (target && (target->ctx_ != ctx_ || target->entityKind() != rd.destination)) return;
  ManagedObject* old = toOne_[static_cast<size_t>(rel)];
  if (old == target) return;
  const EntityDesc& dest = ctx_->model().entity(rd.destination);
  int inv = dest.relationshipIndex(rd.inverse);
  if (old && inv >= 0) {
    old->rawRemoveFromMany(inv, this);
    old->noteChanged(rd.inverse);
  }
  toOne_[static_cast<size_t>(rel)] = target;
  noteChanged(rd.name);
  if (target && inv >= 0) {
    target->rawAddToMany(inv, this);
    target->noteChanged(rd.inverse);
  }
  ctx_->registerUndo([this, rel, old] { setToOne(rel, old); });
}

void ManagedObject::addToMany(int rel, ManagedObject* obj) {
  if (!ctx_ || !obj || rel < 0 || static_cast<size_t>(rel) >= toMany_.size()) return;
  const RelationshipDesc& rd = entity_->relationships[static_cast<size_t>(rel)];
  if (!rd.toMany || obj->entityKind() != rd.destination) return;
  int inv = obj->entity().relationshipIndex(rd.inverse);
  if (inv >= 0) obj->setToOne(inv, this);
}

void ManagedObject::removeFromMany(int rel, ManagedObject* obj) {
  if (!ctx_ || !obj || rel < 0 || static_cast<size_t>(rel) >= toMany_.size()) return;
  const RelationshipDesc& rd = entity_->relationships[static_cast<size_t>(rel)];
  if (!rd.toMany || obj->entityKind() != rd.destination) return;
  int inv = obj->entity().relationshipIndex(rd.inverse);
  if (inv >= 0 && obj->toOne(inv) == this) obj->setToOne(inv, nullptr);
}

void ManagedObject::rawSetToOne(int rel, ManagedObject* target) { toOne_[static_cast<size_t>(rel)] = target; }

void ManagedObject::snapshotToMany(int rel) {
  auto& snap = committedToMany_[static_cast<size_t>(rel)];
  if (!snap) snap = toMany_[static_cast<size_t>(rel)];
}

void ManagedObject::rawAddToMany(int rel, ManagedObject* obj) {
  auto& list = toMany_[static_cast<size_t>(rel)];
  if (std::find(list.begin(), list.end(), obj) != list.end()) return;
  snapshotToMany(rel);
  list.push_back(obj);
}

void ManagedObject::rawRemoveFromMany(int rel, ManagedObject* obj) {
  auto& list = toMany_[static_cast<size_t>(rel)];
  auto it = std::find(list.begin(), list.end(), obj);
  if (it == list.end()) return;
  snapshotToMany(rel);
  list.erase(it);
}

void ManagedObject::noteChanged(const char* key) {
  passKeys_.insert(key);
  if (ctx_) ctx_->noteUpdated(this);
}

std::vector<std::string> ManagedObject::changedKeys() const {
  std::vector<std::string> out;
  for (size_t i = 0; i < values_.size(); ++i)
    if (!identical(values_[i], committed_[i])) out.push_back(entity_->attributes[i].name);
  for (size_t r = 0; r < entity_->relationships.size(); ++r) {
    if (entity_->relationships[r].toMany) {
      const auto& snap = committedToMany_[r];
      if (snap && !sameMembers(*snap, toMany_[r])) out.push_back(entity_->relationships[r].name);
    } else if (toOne_[r] != committedToOne_[r]) {
      out.push_back(entity_->relationships[r].name);
    }
  }
  return out;
}

pl::Dict ManagedObject::changedValues() const {
  pl::Dict out;
  for (size_t i = 0; i < values_.size(); ++i)
    if (!identical(values_[i], committed_[i])) out[entity_->attributes[i].name] = values_[i];
  return out;
}

bool ManagedObject::isUpdated() const { return registered_ && stored_ && !deleted_ && !changedKeys().empty(); }

bool ManagedObject::hasChanges() const { return isInserted() || deleted_ || !changedKeys().empty(); }

}  // namespace vl
