// AppListSheet: the application-list sheet in Qt Widgets — the table of applications with each
// row's snapping choice in a pop-up, Add (a file chooser with a pop-up of the running
// applications in its accessory), Delete, Close, and drops of application bundles and desktop
// entries onto the table. Its logic is AppListDelegate's; this is its AppListView.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTableView>
#include <memory>

#include "pane/windows/app_list_sheet.h"

namespace vl {
class quillon_Velmora_prefpane;
}

namespace vl::ui {

class AppTableModel;

// The table: takes drops of files and asks the delegate whether and what to add.
// Where the file chooser for applications opens, best first: folders of application bundles,
// then the desktop's application entries (system before user); only folders that exist.
QStringList applicationFolders(const Platform& platform);

class AppTable : public QTableView {
  Q_OBJECT
 public:
  explicit AppTable(QWidget* parent) : QTableView(parent) {}
  void setDelegate(AppListDelegate* d) { delegate_ = d; }
  // The local file paths of a drag's data (file URLs only).
  static std::vector<std::string> filePathsOf(const QMimeData* data);

 protected:
  void dragEnterEvent(QDragEnterEvent* e) override;
  void dragMoveEvent(QDragMoveEvent* e) override;
  void dropEvent(QDropEvent* e) override;

 private:
  AppListDelegate* delegate_ = nullptr;
};

class AppListSheet : public QDialog, public AppListView {
  Q_OBJECT
 public:
  AppListSheet(const Platform& platform, quillon_Velmora_prefpane& prefPane, QWidget* parent);
  ~AppListSheet() override;

  AppListDelegate& delegate() { return *delegate_; }
  bool isShown() const { return delegate_->isShown(); }
  // Ends the sheet as the window does when a sheet above the pane must go.
  void endSheet();

  // The controls, for tests.
  AppTable* table() const { return table_; }
  AppTableModel* model() const { return model_; }
  QPushButton* addButton() const { return add_; }
  QPushButton* deleteButton() const { return delete_; }
  QPushButton* closeButton() const { return close_; }
  QFileDialog* filePanel() const { return panel_; }
  QComboBox* appPanelPopup() const { return popup_; }
  QPushButton* appPanelButton() const { return popupButton_; }
  QMessageBox* alert() const { return alert_; }

  // --- AppListView -----------------------------------------------------------------------------
  void reloadTable() override;
  std::vector<size_t> selectedRows() const override;
  void selectRows(const std::vector<size_t>& rows, bool extend) override;
  void deselectAll() override;
  void scrollRowToVisible(size_t row) override;
  void setDeleteButtonEnabled(bool enabled) override;
  bool commitEditing() override;
  void showSheet() override;
  void closeSheet() override;
  void closeAttachedSheets() override;
  bool hasAttachedSheet() const override;
  bool runLoopInDefaultMode() const override;
  void showSheetAlert(const SheetAlert& alert) override;
  void setRunningApplications(const std::vector<RunningAppItem>& items) override;
  std::optional<RunningAppItem> selectedRunningApplication() const override;
  void setAppPanelButtonEnabled(bool enabled) override;
  void runFilePanel(const std::string& message,
                    std::function<void(int result, std::optional<std::string> path)> completion) override;
  void cancelFilePanel() override;

 protected:
  void reject() override;  // Escape closes the sheet as its Close button does

 private:
  QString vlText(const char* key) const;
  void openEditors();

  Platform platform_;
  quillon_Velmora_prefpane& prefPane_;
  std::unique_ptr<AppListDelegate> delegate_;
  AppTable* table_ = nullptr;
  AppTableModel* model_ = nullptr;
  QPushButton* add_ = nullptr;
  QPushButton* delete_ = nullptr;
  QPushButton* close_ = nullptr;
  QPointer<QFileDialog> panel_;
  QPointer<QMessageBox> alert_;
  QWidget* accessory_ = nullptr;
  QComboBox* popup_ = nullptr;
  QPushButton* popupButton_ = nullptr;
  std::vector<RunningAppItem> items_;
  std::function<void(int, std::optional<std::string>)> panelDone_;
  bool syncing_ = false;
};

}  // namespace vl::ui
