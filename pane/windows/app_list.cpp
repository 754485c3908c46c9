// The application list of the pane: snapping records in their order, several selected.
#include "pane/windows/app_list.h"

#include <algorithm>

#include "core/store/app_record.h"
#include "core/store/object_context.h"
#include "core/store/store.h"

namespace vl {

AppList::~AppList() { watch(nullptr); }

void AppList::watch(ManagedObjectContext* ctx) {
  if (context_ && contextToken_) context_->removeObjectsDidChangeObserver(contextToken_);
  contextToken_ = 0;
  context_ = ctx;
  if (!ctx) return;
  // Records added, deleted or renamed behind the list (undo, another editor) rearrange it.
  contextToken_ = ctx->addObjectsDidChangeObserver([this](const ObjectsDidChange& change) {
    auto isApp = [](const ManagedObject* o) { return dynamic_cast<const QS803AppClass*>(o) != nullptr; };
    bool touched = std::any_of(change.inserted.begin(), change.inserted.end(), isApp) ||
                   std::any_of(change.deleted.begin(), change.deleted.end(), isApp) ||
                   std::any_of(change.updated.begin(), change.updated.end(), isApp);
    if (touched) rearrange();
  });
}

void AppList::fetch(ManagedObjectContext* ctx) {
  if (ctx != context_) watch(ctx);
  rearrange();
}

void AppList::rearrange() {
  std::vector<QS803AppClass*> rows;
  if (context_)
    if (auto all = QS803AppClass::fetchAllSnappingApps(context_->errorStack(), context_)) rows = std::move(*all);
  std::stable_sort(rows.begin(), rows.end(), QS803AppClass::sortDescriptorsLess);
  setRows(std::move(rows));
}

std::optional<size_t> AppList::indexOf(const QS803AppClass* app) const {
  auto it = std::find(rows_.begin(), rows_.end(), app);
  if (it == rows_.end()) return std::nullopt;
  return static_cast<size_t>(it - rows_.begin());
}

std::vector<QS803AppClass*> AppList::selectedObjects() const {
  std::vector<QS803AppClass*> out;
  for (size_t i : selection_) out.push_back(rows_[i]);
  return out;
}

void AppList::setSelectionIndexes(std::vector<size_t> rows) {
  rows.erase(std::remove_if(rows.begin(), rows.end(), [&](size_t i) { return i >= rows_.size(); }), rows.end());
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  if (rows == selection_) return;
  selection_ = std::move(rows);
  post(Change::Selection);
}

void AppList::setSelectedObjects(const std::vector<QS803AppClass*>& apps) {
  std::vector<size_t> rows;
  for (QS803AppClass* a : apps)
    if (auto i = indexOf(a)) rows.push_back(*i);
  setSelectionIndexes(std::move(rows));
}

QS803AppClass* AppList::newObject() { return context_ ? QS814insertApplication(context_->errorStack(), context_) : nullptr; }

void AppList::addObject(QS803AppClass* app) {
  if (!app || indexOf(app)) return;
  std::vector<QS803AppClass*> rows = rows_;
  // Its sorted place; it stays out of the selection.
  rows.insert(std::upper_bound(rows.begin(), rows.end(), app, QS803AppClass::sortDescriptorsLess), app);
  setRows(std::move(rows));
}

void AppList::removeObjectsAtArrangedObjectIndexes(const std::vector<size_t>& indexes) {
  std::vector<QS803AppClass*> doomed;
  for (size_t i : indexes)
    if (QS803AppClass* a = row(i); a && !a->isDefault()) doomed.push_back(a);
  if (doomed.empty()) return;
  std::vector<QS803AppClass*> rows;
  for (QS803AppClass* a : rows_)
    if (std::find(doomed.begin(), doomed.end(), a) == doomed.end()) rows.push_back(a);
  setRows(std::move(rows));
  if (context_)
    for (QS803AppClass* a : doomed) context_->deleteObject(a);
}

void AppList::setRows(std::vector<QS803AppClass*> rows) {
  std::vector<QS803AppClass*> selected = selectedObjects();
  bool changed = rows != rows_;
  rows_ = std::move(rows);
  // The selection follows its records before anyone hears of the new rows.
  std::vector<size_t> keep;
  for (QS803AppClass* a : selected)
    if (auto i = indexOf(a)) keep.push_back(*i);
  std::sort(keep.begin(), keep.end());
  bool selectionChanged = keep != selection_;
  selection_ = std::move(keep);
  if (changed) post(Change::Content);
  if (selectionChanged) post(Change::Selection);
}

AppList::Token AppList::addObserver(Observer o) {
  Token t = nextToken_++;
  observers_[t] = std::move(o);
  return t;
}

void AppList::removeObserver(Token t) { observers_.erase(t); }

void AppList::post(Change c) {
  auto copy = observers_;
  for (auto& [t, o] : copy)
    if (observers_.count(t)) o(c);
}

}  // namespace vl
