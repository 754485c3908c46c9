// AppList: the pane's list of applications with a snapping choice, as the application table
// shows it: snapping records sorted with the default record first, then by name and matching
// key; several rows can be selected; inserted records are not selected by the list itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace vl {

class ManagedObjectContext;
class QS803AppClass;

class AppList {
 public:
  enum class Change { Content, Selection };
  using Observer = std::function<void(Change)>;
  using Token = uint64_t;

  AppList() = default;
  ~AppList();
  AppList(const AppList&) = delete;
  AppList& operator=(const AppList&) = delete;

  // Fetches the snapping records of ctx, sorted, and follows the context's changes (records
  // added, removed or renamed elsewhere rearrange the rows). A null context empties the list.
  void fetch(ManagedObjectContext* ctx);
  // Sorts and filters the records of the last fetch again; the selection follows its records.
  void rearrange();
  void clear() { fetch(nullptr); }
  ManagedObjectContext* context() const { return context_; }

  size_t count() const { return rows_.size(); }
  QS803AppClass* row(size_t i) const { return i < rows_.size() ? rows_[i] : nullptr; }
  const std::vector<QS803AppClass*>& arrangedObjects() const { return rows_; }
  std::optional<size_t> indexOf(const QS803AppClass* app) const;

  // The selected rows, ascending.
  const std::vector<size_t>& selectionIndexes() const { return selection_; }
  std::vector<QS803AppClass*> selectedObjects() const;
  // Rows out of range are dropped.
  void setSelectionIndexes(std::vector<size_t> rows);
  void setSelectedObjects(const std::vector<QS803AppClass*>& apps);

  // newObject: a fresh Application record inserted in the context (not yet in the rows);
  // null without a context.
  QS803AppClass* newObject();
  // addObject: puts the record into the rows at its sorted place. It is not selected.
  void addObject(QS803AppClass* app);
  // Removes the records at the rows from the list and deletes them from the store; the
  // default record is never removed.
  void removeObjectsAtArrangedObjectIndexes(const std::vector<size_t>& rows);

  Token addObserver(Observer o);
  void removeObserver(Token t);

 private:
  void setRows(std::vector<QS803AppClass*> rows);
  void post(Change c);
  void watch(ManagedObjectContext* ctx);

  ManagedObjectContext* context_ = nullptr;
  uint64_t contextToken_ = 0;
  std::vector<QS803AppClass*> rows_;
  std::vector<size_t> selection_;
  std::map<Token, Observer> observers_;
  Token nextToken_ = 1;
};

}  // namespace vl
