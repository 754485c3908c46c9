// The Qt side of the update sheet, the quarantine sheet and the uninstall alerts, and the
// object that makes their delegates for a pane view and hands them to the controller.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QPushButton>

#include <functional>
#include <memory>

#include "pane/controller/pane_controller.h"
#include "pane/windows/gatekeeper_sheet.h"
#include "pane/windows/uninstall.h"
#include "pane/windows/update_sheet.h"

namespace vl::ui {

// "Ver … is now available." with Download, Skip This Version and Remind Me Later, window-modal
// on the pane's window.
class UpdateSheetWidget : public QDialog, public UpdateSheetView {
  Q_OBJECT
 public:
  // badge: the label on the pane that signals an available update (hidden or shown here).
  UpdateSheetWidget(const Platform& platform, QWidget* parent, QLabel* badge);
  void setDelegate(UpdateSheetDelegate* d) { delegate_ = d; }
  void showUpdateSheet(const std::string& message) override;
  void closeUpdateSheet() override;
  void setBadgeHidden(bool hidden) override;
  // "Checking for updates…" with a busy bar and Cancel, window-modal, while "Check for
  // Updates" waits for the web service.
  void showCheckProgress(bool shown) override;
  QDialog* progressSheet() const { return progress_; }

  QLabel* message() const { return msg_; }
  QPushButton* downloadButton() const { return download_; }
  QPushButton* skipButton() const { return skip_; }
  QPushButton* remindButton() const { return remind_; }

 private:
  UpdateSheetDelegate* delegate_ = nullptr;
  QLabel* badge_;
  QLabel* msg_;
  QPushButton *download_, *skip_, *remind_;
  QDialog* progress_;
};

// The quarantine sheet: why, and OK (asks for the password) or Cancel.
class GatekeeperSheetWidget : public QDialog, public GatekeeperSheetView {
  Q_OBJECT
 public:
  GatekeeperSheetWidget(const Platform& platform, QWidget* parent);
  void setDelegate(GatekeeperSheetDelegate* d) { delegate_ = d; }
  void showGatekeeperSheet(const std::string& panePath) override;
  void closeGatekeeperSheet() override;
  QPushButton* okButton() const { return ok_; }

 private:
  GatekeeperSheetDelegate* delegate_ = nullptr;
  QLabel* msg_;
  QPushButton *ok_, *cancel_;
};

// The uninstall's application-modal alerts: message boxes whose buttons have no shortcuts.
class QtUninstallView : public UninstallView {
 public:
  QtUninstallView(QWidget* parent, std::function<void()> hideTabs) : parent_(parent), hideTabs_(std::move(hideTabs)) {}
  int runModalAlert(const SheetAlert& alert) override;
  void hideTabView() override {
    if (hideTabs_) hideTabs_();
  }

 private:
  QWidget* parent_;
  std::function<void()> hideTabs_;
};

// The three windows of one pane view, made when the view attaches its controller.
class HouseWindows {
 public:
  // window: the pane view (its alerts); badge: the update badge on the "Other" tab.
  HouseWindows(const Platform& platform, quillon_Velmora_prefpane& controller, PaneWindow& window, QWidget* parent,
               QLabel* badge, std::function<void()> hideTabs);
  ~HouseWindows();
  UpdateSheetDelegate& update() { return *update_; }
  GatekeeperSheetDelegate& gatekeeper() { return *gatekeeper_; }
  UpdateSheetWidget& updateSheet() { return *updateSheet_; }
  GatekeeperSheetWidget& gatekeeperSheet() { return *gatekeeperSheet_; }
  // The shown sheets, for the pane's cancelling of attached sheets.
  std::vector<PaneSheet*> shownSheets();

 private:
  quillon_Velmora_prefpane& controller_;
  std::unique_ptr<UpdateSheetWidget> updateSheet_;
  std::unique_ptr<GatekeeperSheetWidget> gatekeeperSheet_;
  std::unique_ptr<QtUninstallView> uninstallView_;
  std::unique_ptr<UpdateSheetDelegate> update_;
  std::unique_ptr<GatekeeperSheetDelegate> gatekeeper_;
};

}  // namespace vl::ui
