// VL220DeviceWinDelegate: the stored-devices sheet, which lists the pane's devices so that
// ones no longer used can be removed (never one that is connected).
#pragma once

#include <set>
#include <vector>

#include "pane/windows/arranged_list.h"
#include "pane/windows/pane_window.h"

namespace vl {

class SheetHost;
class QS802DeviceClass;

class DeviceWindowView {
 public:
  virtual ~DeviceWindowView() = default;
  virtual void showSheet() = 0;
  // Closes sheets attached to this one, then the sheet.
  virtual void closeSheet() = 0;
  // The rows (the pane's device list) or the selection changed.
  virtual void reloadTable() = 0;
  virtual void setDeleteButtonHidden(bool hidden) = 0;
};

class VL220DeviceWinDelegate : public PaneSheet {
 public:
  VL220DeviceWinDelegate(SheetHost& pane, DeviceWindowView& view);
  ~VL220DeviceWinDelegate() override;
  VL220DeviceWinDelegate(const VL220DeviceWinDelegate&) = delete;
  VL220DeviceWinDelegate& operator=(const VL220DeviceWinDelegate&) = delete;

  void showDeviceWindow();
  void closeDeviceWindow();
  // The pane never closes this sheet on its own.
  bool cancelByPrefPane() override { return false; }
  void removeDevice();
  // The table's selection (rows of rows()) changed.
  void tableViewSelectionDidChange(const std::set<size_t>& rows);
  // A device was connected or disconnected, or the store changed: read the rows again.
  void deviceStatusChanged();
  const std::set<size_t>& selectedRows() const { return selection_; }
  // Every stored device, connected or not, in the pane's order (the pane's own list leaves out
  // devices without a driver, which are the ones worth removing).
  const std::vector<QS802DeviceClass*>& rows() const { return devices_.arrangedObjects(); }
  bool deleteButtonHidden() const { return deleteHidden_; }
  bool isVisible() const { return visible_; }

 private:
  // Hidden when nothing is selected or any selected device is connected.
  void refreshDeleteButton();
  SheetHost& pane_;
  DeviceWindowView& view_;
  DeviceList devices_;
  std::set<size_t> selection_;
  bool deleteHidden_ = true;
  bool visible_ = false;
  uint64_t observer_ = 0;
};
using DeviceSheetDelegate = VL220DeviceWinDelegate;  // the readable name

}  // namespace vl
