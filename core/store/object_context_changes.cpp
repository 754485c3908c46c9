// ManagedObjectContext: inserting, fetching and deleting records, change tracking, change notifications.
#include "core/store/object_context.h"

#include <algorithm>

#include "core/store/object_context_support.h"
#include "core/store/record_factory.h"

namespace vl {

using namespace objctx;

bool ObjectsDidChange::changed(const ManagedObject* o, std::string_view key) const {
  auto it = changedKeys.find(o);
  if (it == changedKeys.end()) return false;
  return std::find(it->second.begin(), it->second.end(), key) != it->second.end();
}

// --- Records -------------------------------------------------------------------------------

ManagedObject* ManagedObjectContext::insertNewObject(EntityKind kind) {
  ensureLoaded(kind);
  std::unique_ptr<ManagedObject> rec = makeStoreRecord(kind);
  if (!rec) return nullptr;
  const EntityDesc& e = model_->entity(kind);
  rec->ctx_ = this;
  rec->entity_ = &e;
  rec->registered_ = true;
  rec->values_.resize(e.attributes.size());
  rec->committed_.resize(e.attributes.size());
  rec->toOne_.assign(e.relationships.size(), nullptr);
  rec->committedToOne_.assign(e.relationships.size(), nullptr);
  rec->toMany_.assign(e.relationships.size(), {});
  rec->committedToMany_.assign(e.relationships.size(), std::nullopt);
  rec->seq_ = owned_.size();
  ManagedObject* obj = rec.get();
  owned_.push_back(std::move(rec));
  live_[ix(kind)].push_back(obj);
  noteInserted(obj);
  registerUndo([this, obj] { deleteObject(obj); });
  obj->awake();
  return obj;
}

std::vector<ManagedObject*> ManagedObjectContext::fetch(EntityKind kind,
                                                        const std::function<bool(const ManagedObject&)>& pred) {
  ensureLoaded(kind);
  std::vector<ManagedObject*> out;
  out.reserve(live_[ix(kind)].size());
  for (ManagedObject* o : live_[ix(kind)])
    if (!o->deleted_ && (!pred || pred(*o))) out.push_back(o);
  return out;
}

void ManagedObjectContext::deleteObject(ManagedObject* o) {
  if (!o || o->ctx_ != this || !o->registered_ || o->deleted_) return;
  const EntityDesc& e = o->entity();
  // Nullify: every relationship that points at the record lets go of it.
  for (size_t r = 0; r < e.relationships.size(); ++r) {
    const RelationshipDesc& rd = e.relationships[r];
    ensureLoaded(rd.destination);
    if (rd.toMany) {
      std::vector<ManagedObject*> children = o->toMany_[r];
      int inv = model_->entity(rd.destination).relationshipIndex(rd.inverse);
      for (ManagedObject* c : children)
        if (inv >= 0) c->setToOne(inv, nullptr);
    } else {
      o->setToOne(static_cast<int>(r), nullptr);
    }
  }
  bool wasStored = o->stored_;
  if (wasStored) {
    o->deleted_ = true;
    deletedStored_.push_back(o);
  } else {
    unregister(o);
  }
  noteDeleted(o);
  registerUndo([this, o] { undelete(o, true); });
}

void ManagedObjectContext::unregister(ManagedObject* o) {
  o->registered_ = false;
  auto& list = live_[ix(o->entityKind())];
  list.erase(std::remove(list.begin(), list.end(), o), list.end());
}

void ManagedObjectContext::noteInserted(ManagedObject* o) {
  touched_.insert(o);
  passInserted_.push_back(o);
}

void ManagedObjectContext::noteDeleted(ManagedObject* o) {
  touched_.insert(o);
  passDeleted_.push_back(o);
}

void ManagedObjectContext::noteUpdated(ManagedObject* o) {
  touched_.insert(o);
  passUpdated_.insert(o);
}

std::vector<ManagedObject*> ManagedObjectContext::dirtyRecords() const {
  std::vector<ManagedObject*> out;
  for (ManagedObject* o : touched_)
    if (o->registered_ && o->hasChanges()) out.push_back(o);
  return out;
}

bool ManagedObjectContext::hasChanges() const {
  if (!deletedStored_.empty()) return true;
  for (ManagedObject* o : touched_)
    if (o->registered_ && o->hasChanges()) return true;
  return false;
}

std::vector<ManagedObject*> ManagedObjectContext::insertedObjects() const {
  std::vector<ManagedObject*> out;
  for (ManagedObject* o : touched_)
    if (o->isInserted()) out.push_back(o);
  return out;
}

std::vector<ManagedObject*> ManagedObjectContext::updatedObjects() const {
  std::vector<ManagedObject*> out;
  for (ManagedObject* o : touched_)
    if (o->isUpdated()) out.push_back(o);
  return out;
}

std::vector<ManagedObject*> ManagedObjectContext::deletedObjects() const { return deletedStored_; }

// --- Notifications ---------------------------------------------------------------------------

void ManagedObjectContext::processPendingChanges() {
  if (notifying_) return;
  ObjectsDidChange n;
  std::set<ManagedObject*> insertedNow;
  for (ManagedObject* o : passInserted_) {
    if (insertedNow.count(o)) continue;
    insertedNow.insert(o);
    if (o->registered_ && !o->deleted_) n.inserted.push_back(o);
  }
  std::set<ManagedObject*> seen;
  for (ManagedObject* o : passDeleted_) {
    if (!seen.insert(o).second) continue;
    bool goneNow = o->deleted_ || !o->registered_;
    // A record made and dropped within one pass was never seen by anyone.
    bool madeThisPass = insertedNow.count(o) && !o->stored_;
    if (goneNow && !madeThisPass) n.deleted.push_back(o);
  }
  for (ManagedObject* o : passUpdated_) {
    if (o->passKeys_.empty() || !o->registered_ || o->deleted_) continue;
    if (std::find(n.inserted.begin(), n.inserted.end(), o) != n.inserted.end()) continue;
    n.updated.push_back(o);
    n.changedKeys[o] = std::vector<std::string>(o->passKeys_.begin(), o->passKeys_.end());
  }
  for (ManagedObject* o : passUpdated_) o->passKeys_.clear();
  for (ManagedObject* o : passInserted_) o->passKeys_.clear();
  passInserted_.clear();
  passDeleted_.clear();
  passUpdated_.clear();
  if (n.inserted.empty() && n.updated.empty() && n.deleted.empty()) return;
  notifying_ = true;
  auto copy = observers_;
  for (auto& [t, fn] : copy)
    if (observers_.count(t)) fn(n);
  notifying_ = false;
}

ManagedObjectContext::Token ManagedObjectContext::addObjectsDidChangeObserver(Observer o) {
  Token t = nextToken_++;
  observers_[t] = std::move(o);
  return t;
}

void ManagedObjectContext::removeObjectsDidChangeObserver(Token t) { observers_.erase(t); }

}  // namespace vl
