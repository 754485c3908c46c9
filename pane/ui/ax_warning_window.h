// AXWarningWindow: the accessibility warning sheet in Qt — the message and advice, and the
// OK, Cancel, Uninstall and Clear buttons; the last clear confirmation ignores Return.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

#include "pane/controller/pane_controller.h"
#include "pane/windows/ax_warning.h"

namespace vl::ui {

class AXWarningWindow : public QDialog, public AXWarnWindowView {
  Q_OBJECT
 public:
  AXWarningWindow(quillon_Velmora_prefpane& pane, QWidget* parent);
  AXWarningDelegate& delegate() { return delegate_; }
  QLabel* messageLabel() const { return message_; }
  QLabel* informativeLabel() const { return informative_; }
  // The confirmation up now, if any.
  QMessageBox* confirmAlert() const { return confirm_; }

  void showSheet(const AXWarningTexts& texts) override;
  void closeSheet() override;
  void runConfirmAlert(const SheetAlert& alert, std::function<void(int)> completion) override;

 private:
  QLabel* message_;
  QLabel* informative_;
  AXWarningDelegate delegate_;
  QPointer<QMessageBox> confirm_;
};

}  // namespace vl::ui
