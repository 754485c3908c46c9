// The undo manager's implementation.
#include "core/store/undo_manager.h"

#include <utility>

namespace vl {

void UndoManager::registerUndo(Action a) {
  if (disabled_ > 0 || !a) return;
  if (target_) {
    target_->actions.push_back(std::move(a));
    return;
  }
  if (level_ == 0) {
    // The first change of a pass opens the pass's group.
    ++level_;
    eventGroupOpen_ = true;
  }
  open_.actions.push_back(std::move(a));
  redo_.clear();
}

void UndoManager::beginUndoGrouping() { ++level_; }

void UndoManager::endUndoGrouping() {
  if (level_ == 0) return;
  if (level_ == 1) post(Event::WillCloseUndoGroup);
  --level_;
  if (level_ == 0) {
    eventGroupOpen_ = false;
    if (!open_.empty()) undo_.push_back(std::exchange(open_, {}));
    open_.name.clear();
  }
}

void UndoManager::setActionName(std::string name) {
  if (undoing_ || redoing_) return;
  if (level_ > 0) open_.name = std::move(name);
}

std::string UndoManager::undoActionName() const {
  if (!open_.empty()) return open_.name;
  return undo_.empty() ? std::string() : undo_.back().name;
}

std::string UndoManager::redoActionName() const { return redo_.empty() ? std::string() : redo_.back().name; }

void UndoManager::closeEventGroup() {
  if (eventGroupOpen_ && level_ == 1) endUndoGrouping();
}

bool UndoManager::canUndo() const { return !undo_.empty() || !open_.empty(); }

void UndoManager::runGroup(Group g) {
  for (auto it = g.actions.rbegin(); it != g.actions.rend(); ++it) (*it)();
}

void UndoManager::undo() {
  closeEventGroup();
  if (level_ > 0 || undo_.empty() || undoing_ || redoing_) return;
  Group g = std::move(undo_.back());
  undo_.pop_back();
  Group inverse;
  inverse.name = g.name;
  undoing_ = true;
  target_ = &inverse;
  runGroup(std::move(g));
  target_ = nullptr;
  undoing_ = false;
  if (!inverse.empty()) redo_.push_back(std::move(inverse));
  post(Event::DidUndo);
}

void UndoManager::redo() {
  closeEventGroup();
  if (level_ > 0 || redo_.empty() || undoing_ || redoing_) return;
  Group g = std::move(redo_.back());
  redo_.pop_back();
  Group inverse;
  inverse.name = g.name;
  redoing_ = true;
  target_ = &inverse;
  runGroup(std::move(g));
  target_ = nullptr;
  redoing_ = false;
  if (!inverse.empty()) undo_.push_back(std::move(inverse));
  post(Event::DidRedo);
}

void UndoManager::removeAllActions() {
  undo_.clear();
  redo_.clear();
  open_ = {};
  level_ = 0;
  eventGroupOpen_ = false;
}

UndoManager::Token UndoManager::addObserver(Observer o) {
  Token t = nextToken_++;
  observers_[t] = std::move(o);
  return t;
}

void UndoManager::removeObserver(Token t) { observers_.erase(t); }

void UndoManager::post(Event e) {
  // Observers may add or remove observers; iterate over a copy.
  auto copy = observers_;
  for (auto& [t, o] : copy)
    if (observers_.count(t)) o(e);
}

}  // namespace vl
