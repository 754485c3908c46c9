// The device list and the favourite list of the pane: sorting, filtering and selection.
#include "pane/windows/arranged_list.h"

#include <algorithm>
#include <tuple>

#include "core/store/cursor_speed_record.h"
#include "core/store/device_record.h"
#include "core/store/store.h"

namespace vl {

// --- DeviceList ------------------------------------------------------------------------------------

void DeviceList::fetch(ManagedObjectContext* ctx) {
  context_ = ctx;
  std::vector<QS802DeviceClass*> rows;
  for (QS802DeviceClass* d : QS814allDevices(ctx))
    if (!filterByDriver_ || d->driverManufacture()) rows.push_back(d);
  // Display name, then product id, then model id, all ascending; the names are computed once.
  std::vector<std::tuple<std::string, uint32_t, uint32_t, QS802DeviceClass*>> keyed;
  keyed.reserve(rows.size());
  for (QS802DeviceClass* d : rows) keyed.emplace_back(d->displayName(), d->pid(), d->mid(), d);
  std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
    return std::tie(std::get<0>(a), std::get<1>(a), std::get<2>(a)) <
           std::tie(std::get<0>(b), std::get<1>(b), std::get<2>(b));
  });
  rows.clear();
  for (auto& k : keyed) rows.push_back(std::get<3>(k));
  setRows(std::move(rows));
}

bool DeviceList::setSelectionIndex(std::optional<size_t> i) {
  if (i && *i >= count()) return false;
  setSelectionRaw(i);
  return true;
}

bool DeviceList::setSelectedObject(QS802DeviceClass* device) {
  if (!device) return setSelectionIndex(std::nullopt);
  std::optional<size_t> i = indexOf(device);
  return i && setSelectionIndex(i);
}

void DeviceList::clear() {
  context_ = nullptr;
  setRows({});
}

// --- CursorSpeedList -------------------------------------------------------------------------------

void CursorSpeedList::setDevice(QS802DeviceClass* device) {
  device_ = device;
  refresh();
}

void CursorSpeedList::refresh() {
  std::vector<QS805CursorSpeedClass*> rows;
  if (device_ && !device_->isDeleted()) rows = device_->cursorSpeeds();
  std::stable_sort(rows.begin(), rows.end(),
                   [](QS805CursorSpeedClass* a, QS805CursorSpeedClass* b) { return a->index() < b->index(); });
  setRows(std::move(rows));
  QS805CursorSpeedClass* chosen = device_ && !device_->isDeleted() ? device_->selectedCursorSpeed() : nullptr;
  setSelectionRaw(chosen ? indexOf(chosen) : std::nullopt);
}

bool CursorSpeedList::setSelectionIndex(size_t i) {
  QS805CursorSpeedClass* cs = row(i);
  if (!cs || !device_) return false;
  if (device_->cursorSpeedSelectedIndex() != cs->index()) device_->setCursorSpeedSelectedIndex(cs->index());
  setSelectionRaw(i);
  return true;
}

}  // namespace vl
