// PaneView: the pane's main view in Qt Widgets and the controller's window port. A stack of
// the tab view (speed tab: device table, favourite table, sensitivity and tracking fields and
// sliders, the disable-acceleration check box, the curve graph, the version) and the error
// view ("ErrorWin"), with the "Please show all preferences." label over both.
#pragma once

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QPointer>
#include <QSlider>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableView>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/store/record_names.h"
#include "pane/ui/pane_tab_names.h"
#include "pane/windows/pane_window.h"
#include "platform/api/platform.h"

namespace vl {
class quillon_Velmora_prefpane;
class VL260CurveView;
class VL230CursorSpeedTextClass;
class SpeedEditingHost;
using CurveView = VL260CurveView;
using CursorSpeedText = VL230CursorSpeedTextClass;
}  // namespace vl

namespace vl::ui {
class HouseWindows;
}  // namespace vl::ui

namespace vl::ui {

class AppListSheet;
class CurveGraphPanel;
class DeviceTableModel;
class FavouriteTableModel;
class SpeedLineEdit;
class RegistryWindow;
class LogWindow;
class DeviceWindow;
class AXWarningWindow;
class FavouriteEditActions;

// The keyboard and mouse state of the moment (NSEvent modifierFlags / pressedMouseButtons).
class InputState {
 public:
  virtual ~InputState() = default;
  virtual Qt::KeyboardModifiers modifiers() const = 0;
  virtual bool mouseButtonDown() const = 0;
};
// Asks the window system (QGuiApplication::queryKeyboardModifiers, mouseButtons).
class QtInputState : public InputState {
 public:
  Qt::KeyboardModifiers modifiers() const override;
  bool mouseButtonDown() const override;
};
// On this platform Control plays the part of Command: ⌘1 is Ctrl+1, ⌘Z is Ctrl+Z.
ModifierFlags modifierFlagsOf(Qt::KeyboardModifiers m);

// The slider range of the tracking speed: the square root of 0 … 20 in thousandths.
inline constexpr int kTrackingSliderScale = 1000;

// How long the window says devices are being found before it says none is there: well past
// the standby time after which the devices appear.
inline constexpr double kDeviceSearchSeconds = 6;

class PaneView : public QWidget, public PaneWindow {
  Q_OBJECT
 public:
  // platform: its run loop ends each event's pass (so the store's changes of one user action
  // are one change and one undo step) and its strings tables give the texts. input must
  // outlive the view.
  PaneView(const Platform& platform, const InputState& input, QWidget* parent = nullptr);
  ~PaneView() override;

  // Connects the controller, its curve graph and the editing logic of the fields. The view
  // shows no store before this; detach before the controller goes.
  void attach(quillon_Velmora_prefpane& controller, CurveView* curveView, SpeedEditingHost& editingHost);
  void detach();
  // The controller opened its store (willSelect) or is about to drop it (willUnselect): the
  // view follows the store's changes only in between.
  void storeOpened();
  void storeClosing();

  // Selects a tab by its short name; false for an unknown name.
  bool selectTab(const std::string& name);
  // The Edit menu (Undo, Redo) for the host's menu bar; its actions work from the view's keys
  // as well.
  QMenu* editMenu() const { return editMenu_; }
  QAction* undoAction() const { return undoAction_; }
  QAction* redoAction() const { return redoAction_; }
  // Cut, Copy and Paste of the Edit menu (text fields, else the selected favourite).
  FavouriteEditActions* editActions() const { return editActions_; }

  // The controls, for the host and tests.
  QTabWidget* tabs() const { return tabs_; }
  QTableView* deviceTable() const { return deviceTable_; }
  QTableView* favouriteTable() const { return favouriteTable_; }
  SpeedLineEdit* sensitivityField() const { return sensitivityField_; }
  SpeedLineEdit* trackingField() const { return trackingField_; }
  QSlider* sensitivitySlider() const { return sensitivitySlider_; }
  QSlider* trackingSlider() const { return trackingSlider_; }
  QCheckBox* disableAcclCheckbox() const { return disableAccl_; }
  QPushButton* recommendButton() const { return recommend_; }
  CurveGraphPanel* curvePanel() const { return curvePanel_; }
  QLabel* versionLabel() const { return version_; }
  QLabel* errorLabel() const { return errorLabel_; }
  QLabel* showAllLabel() const { return showAll_; }
  // Over the empty device table: the devices are being found, or none is connected.
  QLabel* devicePlaceholder() const { return devicePlaceholder_; }
  // The badge beside "Check for Updates"; the update and quarantine windows (null while no
  // controller is attached).
  QLabel* updateBadge() const { return updateBadge_; }
  HouseWindows* houseWindows() const { return house_.get(); }
  // The Applications tab: the button that opens the application-list sheet, the sheet (made
  // when a controller is attached) and the snapping-warning button.
  QPushButton* appListButton() const { return appListButton_; }
  AppListSheet* appListSheet() const { return appSheet_; }
  QPushButton* snappingWarningButton() const { return snappingWarning_; }
  // Why snapping cannot run on this desktop; hidden where it can.
  QLabel* snappingOffLabel() const { return snappingOffLabel_; }
  bool showsErrorView() const;
  // The diagnostic windows (made on attach, gone on detach; null while detached).
  RegistryWindow* registryWindow() const { return registryWindow_; }
  LogWindow* logWindow() const { return logWindow_; }
  DeviceWindow* deviceWindow() const { return deviceWindow_; }
  AXWarningWindow* axWarningWindow() const { return axWarningWindow_; }
  // A window of the pane without a parent (the recommended-settings window): it opens centred
  // over the main window and closes on Escape and Ctrl+W as the others do.
  void addSecondaryWindow(QWidget* w);
  // The alert sheets up now, outermost first.
  std::vector<QMessageBox*> alertSheets() const;
  // Where the texts of the alert sheets are written as well (the pane's log).
  void setMessageLog(std::function<void(const std::string&)> log) { messageLog_ = std::move(log); }

  // --- PaneWindow --------------------------------------------------------------------------
  ModifierFlags modifierFlags() const override;
  bool mouseButtonDown() const override;
  bool isMainWindowVisible() const override;
  std::vector<PaneSheet*> attachedSheets() const override;
  void closeAttachedSheets() override;
  PaneTab selectedTab() const override;
  bool cursorSpeedTableEnabled() const override;
  bool cursorSpeedTableIsFirstResponder() const override;
  bool commitEditing() override;
  void endEditing() override;
  void rememberKeyControl() override;
  void restoreKeyControl() override;
  void focusSpeedField(SpeedField field) override;
  void showSheetAlert(const SheetAlert& alert, std::function<void(int)> completion) override;
  void endSheetAlert(int returnCode) override;
  void beep() override;
  void reloadDeviceTable() override;
  void reloadCursorSpeedTable() override;
  void setShowAllLabelVisible(bool visible) override;
  void showErrorView(const std::string& message) override;
  void redrawCurve() override;
  void undoStateChanged() override;
  void removeTextUndoActions() override;
  void openURL(const std::string& url) override;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Sheet {
    QPointer<QMessageBox> box;
    std::function<void(int)> completion;
    bool ended = false;
  };
  // One row per tab, in the order the tabs show: which tab it is, the short name the host
  // selects it by, its title (a key of the strings table "vl") and what builds it. A new tab is
  // a row here (pane_view.cpp), a value of PaneTab and a builder in a file of its own.
  struct TabEntry {
    PaneTab tab;
    const char* name;
    const char* title;
    QWidget* (PaneView::*build)();
  };
  static std::span<const TabEntry> tabTable();
  // The tab at a place of the tab widget (Speed for none).
  static PaneTab tabAt(int index);

  // The text for key in the strings table "vl".
  QString vlText(const char* key) const;
  QWidget* makeSpeedTab();
  QWidget* makeOtherTab();
  QWidget* makeAppsTab();
  void connectSpeedTables(quillon_Velmora_prefpane& controller);
  void setSnappingWarningVisible(bool visible);
  // apps_tab_state.cpp: the message and the snapping controls' state for this desktop.
  QLabel* makeSnappingOffLabel(QWidget* tab);
  void showAppsTabState();
  void updateDevicePlaceholder();
  // A window of the pane other than the main window (a dialog, a sheet, an alert); null else.
  QWidget* secondaryWindowOf(QObject* object) const;
  void centreOverMainWindow(QWidget* w) const;
  // The favourite the editing controls show; null when none.
  CursorSpeedRecord* selectedCursorSpeed() const;
  // Reads the fields, sliders and check box from the selected favourite.
  void refreshEditors();
  void syncTableSelections();
  // Ends the run loop's pass once the current Qt event is handled, so the store sends one
  // change for the user's action (and the graph and the agent hear of it).
  void endPassSoon();
  bool storeTyped(SpeedField field, double value);
  void sliderMoved(SpeedField field, int position);
  void sliderReleased(SpeedField field);
  // A slider drag is one undo step: the store's history groups it from press to release.
  void sliderPressed();
  void closeDragGroup();
  // Names the store's open undo step ("Sensitivity") for the Edit menu.
  void nameUndoStep(const QString& name);
  QString fieldName(SpeedField field) const;
  void finishSheet(Sheet* sheet, int returnCode);

  Platform platform_;
  const InputState& input_;
  quillon_Velmora_prefpane* controller_ = nullptr;
  CurveView* curveView_ = nullptr;
  std::unique_ptr<CursorSpeedText> sensitivityLogic_, trackingLogic_;
  uint64_t contextToken_ = 0;
  bool passPending_ = false;
  bool syncing_ = false;
  bool dragGroupOpen_ = false;
  bool searchingDevices_ = false;
  bool searchPending_ = false;
  QLabel* devicePlaceholder_ = nullptr;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

  QStackedWidget* stack_ = nullptr;
  QTabWidget* tabs_ = nullptr;
  QTableView* deviceTable_ = nullptr;
  QTableView* favouriteTable_ = nullptr;
  DeviceTableModel* deviceModel_ = nullptr;
  FavouriteTableModel* favouriteModel_ = nullptr;
  SpeedLineEdit* sensitivityField_ = nullptr;
  SpeedLineEdit* trackingField_ = nullptr;
  QSlider* sensitivitySlider_ = nullptr;
  QSlider* trackingSlider_ = nullptr;
  QCheckBox* disableAccl_ = nullptr;
  QPushButton* recommend_ = nullptr;
  CurveGraphPanel* curvePanel_ = nullptr;
  QLabel* version_ = nullptr;
  QLabel* errorLabel_ = nullptr;
  QLabel* showAll_ = nullptr;
  QPushButton* appListButton_ = nullptr;
  QPushButton* snappingWarning_ = nullptr;
  QLabel* snappingOffLabel_ = nullptr;
  AppListSheet* appSheet_ = nullptr;
  QMenu* editMenu_ = nullptr;
  QAction* undoAction_ = nullptr;
  QAction* redoAction_ = nullptr;
  FavouriteEditActions* editActions_ = nullptr;
  std::function<void(const std::string&)> messageLog_;
  std::vector<std::unique_ptr<Sheet>> sheets_;
  QPointer<QWidget> keyControl_;
  std::vector<QPointer<QWidget>> extraWindows_;
  RegistryWindow* registryWindow_ = nullptr;
  LogWindow* logWindow_ = nullptr;
  DeviceWindow* deviceWindow_ = nullptr;
  AXWarningWindow* axWarningWindow_ = nullptr;
  // The update and quarantine sheets and the uninstall alerts, while a controller is attached.
  std::unique_ptr<HouseWindows> house_;
  QLabel* updateBadge_ = nullptr;
};

}  // namespace vl::ui
