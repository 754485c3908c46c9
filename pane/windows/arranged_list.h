// The pane's two array-controller-like lists: the devices of the device table (sorted, filtered,
// one selected) and the favourites of the selected device (sorted by their index, the selection
// being the device's chosen favourite). Plain classes the Qt table models read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace vl {

class ManagedObjectContext;
class QS802DeviceClass;
class QS805CursorSpeedClass;

// Rows and a single selection, with change callbacks.
template <class T>
class ArrangedList {
 public:
  enum class Change { Content, Selection };
  using Observer = std::function<void(Change)>;
  using Token = uint64_t;

  size_t count() const { return rows_.size(); }
  // Null beyond the end.
  T* row(size_t i) const { return i < rows_.size() ? rows_[i] : nullptr; }
  const std::vector<T*>& arrangedObjects() const { return rows_; }
  std::optional<size_t> indexOf(const T* object) const {
    for (size_t i = 0; i < rows_.size(); ++i)
      if (rows_[i] == object) return i;
    return std::nullopt;
  }
  std::optional<size_t> selectionIndex() const { return selection_; }
  T* selectedObject() const { return selection_ ? row(*selection_) : nullptr; }

  Token addObserver(Observer o) {
    Token t = nextToken_++;
    observers_[t] = std::move(o);
    return t;
  }
  void removeObserver(Token t) { observers_.erase(t); }

 protected:
  // Replaces the rows; the selection follows its object (none when it is gone).
  void setRows(std::vector<T*> rows) {
    T* selected = selectedObject();
    bool changed = rows != rows_;
    rows_ = std::move(rows);
    std::optional<size_t> keep = selected ? indexOf(selected) : std::nullopt;
    if (changed) post(Change::Content);
    setSelectionRaw(keep);
  }
  // Stores the selection (nullopt or a valid row) and tells the observers when it changed.
  void setSelectionRaw(std::optional<size_t> i) {
    if (i && *i >= rows_.size()) i.reset();
    if (i == selection_) return;
    selection_ = i;
    post(Change::Selection);
  }
  void post(Change c) {
    auto copy = observers_;
    for (auto& [t, o] : copy)
      if (observers_.count(t)) o(c);
  }

 private:
  std::vector<T*> rows_;
  std::optional<size_t> selection_;
  std::map<Token, Observer> observers_;
  Token nextToken_ = 1;
};

// deviceList: every stored device sorted by display name, product id and model id; unless told
// otherwise only those some driver drives ("driverManufacture != NULL").
class DeviceList : public ArrangedList<QS802DeviceClass> {
 public:
  // Whether only devices with a driver are listed (the predicate is on by default).
  bool filtersByDriver() const { return filterByDriver_; }
  void setFiltersByDriver(bool on) { filterByDriver_ = on; }
  // Fetches the devices of ctx again, sorted and filtered; the selection follows its device.
  // A null context empties the list.
  void fetch(ManagedObjectContext* ctx);
  // Refetches from the context of the last fetch (status icons, driver changes).
  void refetch() { fetch(context_); }
  // False for a row out of range (the selection is then unchanged); nullopt selects nothing.
  bool setSelectionIndex(std::optional<size_t> i);
  bool setSelectedObject(QS802DeviceClass* device);
  void clear();

 private:
  ManagedObjectContext* context_ = nullptr;
  bool filterByDriver_ = true;
};

// cursorSpeedList: the favourites of one device (the selected one) sorted by "index"; its
// selection is the device's chosen favourite, so selecting a row changes the store.
class CursorSpeedList : public ArrangedList<QS805CursorSpeedClass> {
 public:
  QS802DeviceClass* device() const { return device_; }
  // Shows the favourites of device (null: none).
  void setDevice(QS802DeviceClass* device);
  // Reads the rows and the chosen favourite from the device again.
  void refresh();
  // Makes the favourite in row i the device's chosen one. False for a row out of range or
  // without a device.
  bool setSelectionIndex(size_t i);

 private:
  QS802DeviceClass* device_ = nullptr;
};

}  // namespace vl
