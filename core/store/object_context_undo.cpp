// ManagedObjectContext: undo and redo, and bringing deleted records back.
#include "core/store/object_context.h"

#include <algorithm>

#include "core/store/object_context_support.h"

namespace vl {

using namespace objctx;

void ManagedObjectContext::undelete(ManagedObject* o, bool) {
  if (o->deleted_) {
    o->deleted_ = false;
    deletedStored_.erase(std::remove(deletedStored_.begin(), deletedStored_.end(), o), deletedStored_.end());
    noteInserted(o);
  } else if (!o->registered_) {
    revive(o);
  } else {
    return;
  }
  registerUndo([this, o] { deleteObject(o); });
}

void ManagedObjectContext::revive(ManagedObject* o) {
  // A record whose row is gone comes back as a new record, saved under a new row id.
  o->registered_ = true;
  if (o->stored_ == false && o->pk_ != 0) o->pk_ = 0;
  for (auto& v : o->committed_) v = pl::Value();
  std::fill(o->committedToOne_.begin(), o->committedToOne_.end(), nullptr);
  live_[ix(o->entityKind())].push_back(o);
  noteInserted(o);
}

void ManagedObjectContext::registerUndo(std::function<void()> fn) {
  if (undo_) undo_->registerUndo(std::move(fn));
}

void ManagedObjectContext::undo() {
  if (!undo_) return;
  processPendingChanges();
  undo_->undo();
}

void ManagedObjectContext::redo() {
  if (!undo_) return;
  processPendingChanges();
  undo_->redo();
}

}  // namespace vl
