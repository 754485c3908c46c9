// DeviceWindow: the stored-devices sheet in Qt — every stored device with its identity and
// whether it is connected, a Delete button shown only when the selection may go, and Done.
#pragma once

#include <QDialog>
#include <QPushButton>
#include <QTableWidget>

#include "pane/controller/pane_controller.h"
#include "pane/windows/device_sheet.h"

namespace vl::ui {

class DeviceWindow : public QDialog, public DeviceWindowView {
  Q_OBJECT
 public:
  DeviceWindow(quillon_Velmora_prefpane& pane, QWidget* parent);
  DeviceSheetDelegate& delegate() { return delegate_; }
  QTableWidget* table() const { return table_; }
  QPushButton* deleteButton() const { return delete_; }

  void showSheet() override;
  void closeSheet() override;
  void reloadTable() override;
  void setDeleteButtonHidden(bool hidden) override;

 private:
  QTableWidget* table_;
  QPushButton* delete_;
  DeviceSheetDelegate delegate_;
  bool loading_ = false;
};

}  // namespace vl::ui
