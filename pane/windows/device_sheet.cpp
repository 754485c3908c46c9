// The stored-devices sheet: which devices it lists, when the delete button shows, removal.
#include "pane/windows/device_sheet.h"

#include <algorithm>

#include "core/store/device_record.h"
#include "core/store/object_context.h"
#include "pane/windows/sheet_host.h"

namespace vl {

VL220DeviceWinDelegate::VL220DeviceWinDelegate(SheetHost& pane, DeviceWindowView& view)
    : pane_(pane), view_(view) {
  devices_.setFiltersByDriver(false);
  // The pane's list changes when devices come and go or the store changes under it.
  observer_ = pane_.deviceList().addObserver([this](DeviceList::Change) {
    if (visible_) deviceStatusChanged();
  });
}

VL220DeviceWinDelegate::~VL220DeviceWinDelegate() { pane_.deviceList().removeObserver(observer_); }

void VL220DeviceWinDelegate::deviceStatusChanged() {
  std::vector<QS802DeviceClass*> selected;
  for (size_t r : selection_)
    if (QS802DeviceClass* d = devices_.row(r)) selected.push_back(d);
  devices_.fetch(pane_.managedObjectContext());
  // The selection follows its devices.
  selection_.clear();
  for (QS802DeviceClass* d : selected)
    if (auto i = devices_.indexOf(d)) selection_.insert(*i);
  view_.reloadTable();
  refreshDeleteButton();
}

void VL220DeviceWinDelegate::showDeviceWindow() {
  pane_.window().endEditing();
  devices_.fetch(pane_.managedObjectContext());
  selection_.clear();
  size_t row = 0;
  if (QS802DeviceClass* d = pane_.selectedDevice())
    if (auto i = devices_.indexOf(d)) row = *i;
  if (row < devices_.count()) selection_.insert(row);
  pane_.mocUndoRegisterWindow(true);
  visible_ = true;
  view_.reloadTable();
  refreshDeleteButton();
  view_.showSheet();
}

void VL220DeviceWinDelegate::closeDeviceWindow() {
  if (!visible_) return;
  pane_.removeAllUndoActions();
  view_.closeSheet();
  visible_ = false;
  pane_.mocUndoRegisterWindow(false);
  // The row chosen here becomes the pane's selection when the pane lists it.
  if (!selection_.empty())
    if (QS802DeviceClass* d = devices_.row(*selection_.begin())) (void)pane_.deviceList().setSelectedObject(d);
}

void VL220DeviceWinDelegate::tableViewSelectionDidChange(const std::set<size_t>& rows) {
  selection_.clear();
  for (size_t r : rows)
    if (r < devices_.count()) selection_.insert(r);
  refreshDeleteButton();
}

void VL220DeviceWinDelegate::refreshDeleteButton() {
  bool hidden = selection_.empty();
  for (size_t r : selection_) {
    QS802DeviceClass* d = devices_.row(r);
    if (!d || d->VL702isConnected()) hidden = true;
  }
  deleteHidden_ = hidden;
  view_.setDeleteButtonHidden(hidden);
}

void VL220DeviceWinDelegate::removeDevice() {
  refreshDeleteButton();
  if (deleteHidden_) return;
  ManagedObjectContext* ctx = pane_.managedObjectContext();
  if (!ctx) return;
  std::vector<QS802DeviceClass*> doomed;
  for (size_t r : selection_)
    if (QS802DeviceClass* d = devices_.row(r)) doomed.push_back(d);
  selection_.clear();
  for (QS802DeviceClass* d : doomed) ctx->deleteObject(d);
  ctx->processPendingChanges();
  // Saved at once: a removal that only lived until the pane closes would bring the device back.
  (void)pane_.saveMOC();
  deviceStatusChanged();
}

}  // namespace vl
