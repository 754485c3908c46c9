// quillon_Velmora_prefpane: the settings pane's controller. It chooses between the main view and
// the error view, opens the store while the pane is selected, keeps the device list in step with
// the connected devices, tells the agent of every saved change, bridges the store's undo history
// to the window's Edit menu, starts the agent and detects drivers that can defeat it. No toolkit:
// the window is reached through PaneWindow, the system through the Platform's ports.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/devices/connected_device.h"
#include "core/errors/error_context.h"
#include "core/store/defined_device.h"
#include "core/store/store.h"
#include "core/store/undo_manager.h"
#include "core/system/drovana.h"
#include "pane/graph/curve_view_host.h"
#include "pane/windows/app_list.h"
#include "pane/windows/arranged_list.h"
#include "pane/windows/pane_window.h"
#include "pane/windows/recommended_window.h"
#include "pane/windows/sheet_host.h"
#include "platform/api/alerts.h"
#include "platform/api/platform.h"

namespace vl {

class QS802DeviceClass;
class QS805CursorSpeedClass;
class QS809UserInfoClass;
class VL216AXWarnWinDelegate;
class UninstallView;
class VL225UpdateWinDelegate;
class VL215GatekeeperWinDelegate;

// The pane's own bundle and what tests change about it.
struct PaneSettings {
  // The pane bundle folder ("…/Velmora.prefPane"); the agent lies inside it.
  std::string bundlePath;
  BundleInfo bundle{velmora::kPaneBundleID, "Velmora", VELMORA_VERSION_TEXT, ""};
  // The store file; nullopt: where the store's folder rules put it.
  std::optional<std::string> storePath;
  // The store's model (null: the current one), as the bundle's compiled model.
  const StoreModel* model = nullptr;
  // What the pane's records take from it; the bundle is set from `bundle` when it has no
  // identifier, and the system's default acceleration table and curves where none are given.
  RecordSettings records;
  // This product's build date (compared with the sibling product's); empty: the bundle's
  // "MyBuildDate".
  std::string buildDate;
  // What the desktop the pane runs on cannot do for snapping (nothing on the simulated Mac).
  DesktopLimits desktop;
};

inline constexpr const char* kErrorNibName = "ErrorWin";
inline constexpr const char* kMainNibName = "Velmora";
inline constexpr const char* kAgentRelativePath = "Contents/Library/LoginItems/Velmora Manager.app";
inline constexpr const char* kShowAllText = "Please show all preferences.";
inline constexpr const char* kPaneVersionText = "Ver " VELMORA_VERSION_TEXT;

class quillon_Velmora_prefpane : public ConnectedDeviceController,
                                 public CurveViewHost,
                                 public RecommendedWindowHost,
                                 public SheetHost {
 public:
  // errors: the settings host's error stack and identity, which outlive the pane.
  quillon_Velmora_prefpane(const Platform& platform, ErrorContext errors, PaneWindow& window, PaneSettings settings);
  ~quillon_Velmora_prefpane() override;
  quillon_Velmora_prefpane(const quillon_Velmora_prefpane&) = delete;
  quillon_Velmora_prefpane& operator=(const quillon_Velmora_prefpane&) = delete;

  // --- Life cycle (called by the settings host) ------------------------------------------------
  // Runs the driver detection, then names the view: kErrorNibName or kMainNibName.
  std::string mainNibName();
  // Why the pane cannot be used (the error view's text), or nullopt.
  std::optional<std::string> errorWindowMessage() const;
  void mainViewDidLoad();
  void willSelect();
  void didSelect();
  bool shouldUnselect();
  void willUnselect();

  // --- Agent -----------------------------------------------------------------------------------
  // Starts the agent unless one from a bundle at least as new runs. 0, or an error number with
  // *outError set when the service manager explained the failure. When the launch-agent folder
  // needed a permission repair, the second registration runs 1 s later on the run loop and
  // reports its own failure as willSelect does.
  [[nodiscard]] int32_t launchBOAAndReturnError(std::optional<ErrorInfo>* outError);
  // The agent bundle inside the pane; nullopt when the pane has no bundle path.
  std::optional<std::string> boaURL() const override;
  void startBOA();
  void quitBOA() override;
  void restartBOA();
  void setBOAAXEnabled();
  bool boaAXEnabled() const override { return boaAXEnabled_; }
  bool axPreferred() const override { return axPreferred_; }

  // --- Store and changes ------------------------------------------------------------------------
  ManagedObjectContext* managedObjectContext() const override { return managedObjectContext_.get(); }
  QS809UserInfoClass* userInfo() const { return userInfo_; }
  // Commits pending edits, stamps the selected device, saves; false when editing was refused.
  bool saveMOC() override;
  void registerMOCNotification();
  void removeMOCNotification();
  void mocNotification(const ObjectsDidChange& change);
  // Cancels a pending perform of selector with object, then performs it 0.1 s later.
  void boaDelayedNotifySelector(const char* selector, ManagedObject* object);
  void changeCursorSpeed(QS805CursorSpeedClass* cursorSpeed);
  void changeCursorSpeedDisabled(QS802DeviceClass* device);
  void changeCursorSpeedLocked(QS805CursorSpeedClass* cursorSpeed);
  void changeSnapping();
  void updateDeviceStatusIcon();
  void restoreCursorSpeed();
  // The members of objects whose entity is entityName.
  static std::vector<ManagedObject*> objectsForEntityName(const std::string& entityName,
                                                          const std::vector<ManagedObject*>& objects);
  static ManagedObject* anyObjectForEntityName(const std::string& entityName, const std::vector<ManagedObject*>& objects);

  // --- Device list ------------------------------------------------------------------------------
  DeviceList& deviceList() override { return deviceList_; }
  CursorSpeedList& cursorSpeedList() { return cursorSpeedList_; }
  QS802DeviceClass* selectedDevice() const override { return deviceList_.selectedObject(); }
  void loadDeviceList();
  void restoreDeviceListSelection();
  void saveDeviceListSelection();
  // A device appeared or went: with nothing selected the last chosen device (else the first)
  // is selected; a selection the pane made itself gives way to the last chosen device when it
  // appears later.
  void followLastSelectedDevice();
  QS802DeviceClass* deviceWithClient(const ServiceRef& service);
  [[nodiscard]] int32_t addClientToDevice(const ServiceRef& service);
  void removeClientFromDevice(const ServiceRef& service);
  [[nodiscard]] int32_t updateDeviceListWithClient(const ServiceRef& service, bool attached);
  [[nodiscard]] int32_t installDeviceNotify();
  void removeDeviceNotify();
  QS825ConnectedDeviceNotifier* connectedDeviceNotifier() const { return connectedDeviceNotifier_.get(); }
  // The watcher's callback.
  bool respondsTo(Message m) const override;
  void connectedDeviceNotify(const ServiceRef& service, bool attached) override;

  // --- Undo and the Edit menu -------------------------------------------------------------------
  [[nodiscard]] int32_t registerUndoNotification();
  void removeUndoNotification();
  void undoNotification(UndoManager::Event event);
  void removeAllUndoActions() override;
  // Marks the sheet now attached to the main window as taking store undo (its Edit menu steps
  // the store), or clears the mark.
  void mocUndoRegisterWindow(bool sheetTakesStoreUndo) override;
  bool isMOCUndoRegisteredWindow() const { return sheetTakesStoreUndo_; }
  // The window's Edit menu: the history of the frontmost window that takes store undo.
  bool canUndo() const;
  bool canRedo() const;
  // The names of the steps Undo and Redo would take ("Sensitivity"); empty when unnamed.
  std::string undoActionName() const;
  std::string redoActionName() const;
  void undo();
  void redo();
  // The tab view's delegate: undo never crosses tabs.
  void tabViewDidSelectTabViewItem(PaneTab tab);

  // --- Windows and sheets -----------------------------------------------------------------------
  void showAll() override;
  // The main window's deepest attached sheet, or null when none (the main window is frontmost).
  PaneSheet* frontmostWindow() const;
  void cancelAttachedSheet();
  // The slider was released: focus the matching field (the graph redraws).
  void changeSlider(SpeedField slider);
  // Values from outside (recommended settings, the help window).
  void applyRecommendedSens(double sensitivityDisplay, double trackingSpeed, QS802DeviceClass* device) override;
  // Opens the web page whose address the "vl" strings table gives for key.
  void showWebSite(const std::string& key);
  void jumpToHP();
  void jumpToDLPage();
  // upgrageCheck: the download page, where a newer version is fetched.
  void upgrageCheck();
  // A record could not reach its service: the fatal end with that number.
  void ioResourceClassRetryError(int32_t error);
  // Reveals the store file in the file viewer.
  void showMOC();
  // The "Recommend" button: opens the recommended-settings window for the selected device.
  void showRecommendedWindow();
  // The pane's recommended-settings window (one per controller; its view is made on first use).
  QS838RecdWinClass& recommendedWindow();
  ModifierFlags recommendedModifierFlags() const override;
  // Opens the uninstall window (the accessibility warning's "Uninstall" leads here).
  void showUninstallWindow() override;
  // The support report of the selected device, shown in an alert that mails it or copies it.
  void contactSupport();
  // The report alert ended: 1000 mails the report, 1002 copies it, anything else does nothing.
  void contactSupportDidEnd(int returnCode, const std::string& report);
  // The accessibility warning that didSelect shows when a permission is missing (the front end
  // owns it; null: none).
  void setAXWarnWindow(VL216AXWarnWinDelegate* warning) { axWarnWindow_ = warning; }
  // Asks once more, then removes the product (see pane/windows/uninstall.h) and ends the host.
  void performUninstall();
  // The uninstall's alerts and the tab view; null: the uninstall cannot ask and does nothing.
  void setUninstallView(UninstallView* view) { uninstallView_ = view; }
  // The delegates of the update and quarantine sheets (owned by the view that shows them):
  // didSelect runs their checks, willUnselect drops a pending one.
  void setUpdateWinDelegate(VL225UpdateWinDelegate* d) { updateWinDelegate_ = d; }
  void setGatekeeperWinDelegate(VL215GatekeeperWinDelegate* d) { gatekeeperWinDelegate_ = d; }
  VL225UpdateWinDelegate* updateWinDelegate() const { return updateWinDelegate_; }
  VL215GatekeeperWinDelegate* gatekeeperWinDelegate() const { return gatekeeperWinDelegate_; }

  // --- Detected drivers and the sibling product -------------------------------------------------
  const DetectedDrivers& detectedDrivers() const override { return drivers_; }
  uint32_t dvVersion() const { return dvVersion_; }
  bool showAllLabelVisible() const { return showAllVisible_; }

  // --- The curve graph --------------------------------------------------------------------------
  // The graph of the speed tab (made with the controller, as the main view's nib makes it).
  VL260CurveView& curveView() override { return *curveView_; }
  // What the graph asks of its controller.
  void addCurveViewObserver(VL260CurveView* view) override;
  void removeCurveViewObserver(VL260CurveView* view) override;
  std::vector<QS805CursorSpeedClass*> cursorSpeedRows() const override;
  size_t cursorSpeedSelectionIndex() const override;
  void selectCursorSpeedRow(size_t row) override;
  bool cursorSpeedTableEnabled() const override;
  bool cursorSpeedTableIsFirstResponder() const override;
  bool isDeleted(const QS802DeviceClass* device) const override;
  bool mouseButtonDown() const override;
  std::optional<std::string> kernelExtensionPath(const std::string& bundleIdentifier) const override;
  std::optional<std::string> microsoftDriverPath() const override;
  bool karabinerElementsRunning() const override;
  void setNeedsDisplay() override;
  void showSheetAlert(const std::string& message, const std::string& informativeText) override;

  // --- Application list (snapping per application) ---------------------------------------------
  AppList& appList() override { return appList_; }
  // Sorts and filters the list as the records say and fills it from the store; 0.
  [[nodiscard]] int32_t setupAppList();
  // The snapping agent lacks the accessibility permission: asks the user to grant it again.
  void clickSnappingWarning();
  // The user agreed: the agent asks the system for the permission, the pane leaves the way.
  void snappingWarningDidEnd();

  const Platform& platform() const override { return platform_; }
  ErrorContext errors() const override { return errors_; }
  PaneWindow& window() override { return window_; }
  const PaneSettings& settings() const { return settings_; }
  DesktopLimits desktopLimits() const override { return settings_.desktop; }
  const std::string& paneBundlePath() const override { return settings_.bundlePath; }
  const std::string& paneBundleIdentifier() const override { return settings_.bundle.identifier; }
  DeviceDefinitionCache& deviceDefinitions() { return definitions_; }
  // Whether the pane is between willSelect and willUnselect with its store open.
  bool isSelected() const { return managedObjectContext_ != nullptr; }

 private:
  void detectDrivers();
  void fatal(const char* message, const char* table, int64_t code, int64_t site);
  void fatalWithError(const ErrorInfo& error, int64_t code, int64_t site);
  void reportLaunchFailure(int32_t step, int32_t failure, const std::optional<ErrorInfo>& error);
  int32_t registerAgent(const std::string& url, bool afterRepair, std::optional<ErrorInfo>* outError);
  int32_t finishLaunch(std::optional<ErrorInfo>* outError);
  void performChange(const std::string& selector, ManagedObject* object);
  // Tells the graph that the value at keyPath of a list's selection changed.
  void notifyCurve(std::string_view keyPath);
  [[nodiscard]] int32_t prepareCurveView();
  void disposeCurveView();
  // Forgets the store and everything that points into it.
  void closeStore();
  std::string localizedVL(const std::string& key) const;

  Platform platform_;
  ErrorContext errors_;
  PaneWindow& window_;
  PaneSettings settings_;
  DeviceDefinitionCache definitions_;
  StoreContextRef managedObjectContext_;
  QS809UserInfoClass* userInfo_ = nullptr;
  DeviceList deviceList_;
  CursorSpeedList cursorSpeedList_;
  AppList appList_;
  std::unique_ptr<QS825ConnectedDeviceNotifier> connectedDeviceNotifier_;
  DetectedDrivers drivers_;
  bool detected_ = false;
  uint32_t dvVersion_ = 0;
  bool axPreferred_ = true;
  bool boaAXEnabled_ = false;
  bool showAllVisible_ = false;
  bool showAllMade_ = false;
  bool sheetTakesStoreUndo_ = false;
  // The Edit menu's histories: the main window's and that of a sheet marked as taking store
  // undo. Each holds steps that undo or redo the store.
  UndoManager mainWindowUndo_;
  UndoManager sheetUndo_;
  UndoManager::Token undoToken_ = 0;
  bool undoRegistered_ = false;
  // The device the pane selected on its own while the user's last choice had not appeared;
  // compared only, never used.
  const QS802DeviceClass* autoSelectedDevice_ = nullptr;
  ManagedObjectContext::Token mocToken_ = 0;
  std::unique_ptr<VL260CurveView> curveView_;
  std::vector<VL260CurveView*> curveObservers_;
  // Delayed performs of the change handlers, by selector and object.
  std::map<std::pair<std::string, const ManagedObject*>, int> pending_;
  std::unique_ptr<QS838RecdWinClass> recdWin_;
  // Target of the agent's delayed second registration (not cancelled with the store's performs).
  int launchTarget_ = 0;
  VL216AXWarnWinDelegate* axWarnWindow_ = nullptr;
  UninstallView* uninstallView_ = nullptr;
  VL225UpdateWinDelegate* updateWinDelegate_ = nullptr;
  VL215GatekeeperWinDelegate* gatekeeperWinDelegate_ = nullptr;
};

}  // namespace vl
