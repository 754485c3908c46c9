// UndoManager: an undo/redo history of grouped actions, as the store context and the settings
// window share it. Actions registered while undoing go to the redo stack and the other way
// round; a new action clears the redo stack.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace vl {

class UndoManager {
 public:
  using Action = std::function<void()>;
  enum class Event { WillCloseUndoGroup, DidUndo, DidRedo };
  using Observer = std::function<void(Event)>;
  using Token = uint64_t;

  // Registers an action that undoes a change just made. Without an open group one is opened;
  // with groupsByEvent it stays open until closeEventGroup (the end of the run-loop pass).
  void registerUndo(Action undo);

  void beginUndoGrouping();
  void endUndoGrouping();
  int groupingLevel() const { return level_; }
  // Closes the group opened automatically for this pass, if any.
  void closeEventGroup();
  bool groupsByEvent() const { return groupsByEvent_; }
  void setGroupsByEvent(bool on) { groupsByEvent_ = on; }

  bool canUndo() const;
  bool canRedo() const { return !redo_.empty(); }
  // Closes an open event group first, then runs the newest group's actions newest first.
  void undo();
  void redo();
  bool isUndoing() const { return undoing_; }
  bool isRedoing() const { return redoing_; }

  void disableUndoRegistration() { ++disabled_; }
  void enableUndoRegistration() {
    if (disabled_ > 0) --disabled_;
  }
  bool isUndoRegistrationEnabled() const { return disabled_ == 0; }

  // Names the step being made (the open group; nothing while none is open), as the Edit menu
  // shows it: "Undo Sensitivity". The last name set before the group closes wins; undoing or
  // redoing a step keeps its name.
  void setActionName(std::string name);
  // The name of the step undo (redo) would take; empty when it has none.
  std::string undoActionName() const;
  std::string redoActionName() const;

  void removeAllActions();
  size_t undoCount() const { return undo_.size(); }
  size_t redoCount() const { return redo_.size(); }

  Token addObserver(Observer o);
  void removeObserver(Token t);

 private:
  struct Group {
    std::vector<Action> actions;
    std::string name;
    bool empty() const { return actions.empty(); }
  };
  void post(Event e);
  void runGroup(Group g);

  std::vector<Group> undo_;
  std::vector<Group> redo_;
  Group open_;
  Group* target_ = nullptr;  // group receiving registrations while undoing or redoing
  int level_ = 0;
  bool eventGroupOpen_ = false;
  bool groupsByEvent_ = true;
  bool undoing_ = false;
  bool redoing_ = false;
  int disabled_ = 0;
  Token nextToken_ = 1;
  std::map<Token, Observer> observers_;
};

}  // namespace vl
