// VL222AppWinDelegate: the logic of the application-list sheet, where the user chooses which
// applications get their own snapping target: showing and closing the sheet, the Delete
// button, adding from a file chooser (with a pop-up of the running applications), from a
// dropped file and removing. The sheet's controls are reached through AppListView.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "core/store/app_record.h"
#include "pane/windows/pane_window.h"
#include "core/system/alert_ports.h"
#include "platform/api/platform.h"
#include "platform/api/workspace.h"

namespace vl {

class SheetHost;
class AppList;

// The bundle identifiers of the settings host, which is never added to the list: the system's,
// and this system's own host program (velmora-settings), which stands in its place.
inline constexpr const char* kHostBundleID = "com.apple.systempreferences";
inline constexpr const char* kSettingsHostBundleID = "quillon.Velmora.settings";
inline constexpr const char* kHostRefusedText = "“System Preferences” is not added.";
inline constexpr const char* kNotAnApplicationText = "The file is not added because it is not an application.";
inline constexpr const char* kSelectApplicationText = "Please select an application.";
// Side of the running applications' icons in the pop-up, in points.
inline constexpr int kPopupIconSize = 18;
// The file chooser's answer for OK (NSModalResponseOK) and for Cancel.
inline constexpr int kPanelOK = 1;
inline constexpr int kPanelCancel = 0;

// One item of the running-applications pop-up.
struct RunningAppItem {
  std::string title;     // localized name
  std::string icon;      // an icon file or icon name (Workspace::iconForFile); empty: none
  int iconSize = kPopupIconSize;
  int32_t tag = 0;       // process identifier
};

// What addApp: takes: a file or a running application.
using AddableApp = std::variant<std::monostate, FileURL, RunningApplication>;

// The sheet's controls, implemented by the toolkit (Qt) and by a recording fake in tests.
class AppListView {
 public:
  virtual ~AppListView() = default;

  // --- The table -----------------------------------------------------------------------------
  // The list's rows changed: read them again.
  virtual void reloadTable() = 0;
  // The table's selected rows, ascending.
  virtual std::vector<size_t> selectedRows() const = 0;
  // Selects rows; extend keeps the rows already selected. Tells no selection change back.
  virtual void selectRows(const std::vector<size_t>& rows, bool extend) = 0;
  virtual void deselectAll() = 0;
  virtual void scrollRowToVisible(size_t row) = 0;
  virtual void setDeleteButtonEnabled(bool enabled) = 0;

  // --- The sheet -----------------------------------------------------------------------------
  // Ends editing in the sheet; false when a field refuses its text.
  virtual bool commitEditing() = 0;
  // Shows the sheet on the pane's window / ends it and orders it out.
  virtual void showSheet() = 0;
  virtual void closeSheet() = 0;
  // Closes the sheets attached to the sheet (an alert, the file chooser), innermost first; a
  // file chooser is cancelled.
  virtual void closeAttachedSheets() = 0;
  // A sheet (an alert or the file chooser) is attached to the table's window.
  virtual bool hasAttachedSheet() const = 0;
  // The run loop runs in its default mode (no modal session or tracking loop is running).
  virtual bool runLoopInDefaultMode() const = 0;
  // Shows an alert with one button as a sheet on the sheet (closing its sheets first).
  virtual void showSheetAlert(const SheetAlert& alert) = 0;

  // --- The file chooser ----------------------------------------------------------------------
  // Fills the accessory's pop-up (nothing selected).
  virtual void setRunningApplications(const std::vector<RunningAppItem>& items) = 0;
  // The pop-up's selected item, when there is one.
  virtual std::optional<RunningAppItem> selectedRunningApplication() const = 0;
  virtual void setAppPanelButtonEnabled(bool enabled) = 0;
  // Runs the file chooser as a sheet with the message and the accessory shown; completion
  // runs once with kPanelOK and the chosen file, or kPanelCancel.
  virtual void runFilePanel(const std::string& message,
                            std::function<void(int result, std::optional<std::string> path)> completion) = 0;
  // Cancels the file chooser when it is up (its completion runs with kPanelCancel).
  virtual void cancelFilePanel() = 0;
};

class VL222AppWinDelegate : public PaneSheet {
 public:
  // What the sheet reads and schedules itself.
  struct Ports {
    Workspace* workspace = nullptr;              // running applications, icons, bundle identifiers
    RunLoop* runLoop = nullptr;                  // the steps after a panel or a drop
    Paths* paths = nullptr;                      // with system: texts
    SystemInfo* system = nullptr;
    AlertPorts alerting;                         // the fatal end
    static Ports from(const Platform& p) { return Ports{p.workspace, p.runLoop, p.paths, p.system, AlertPorts::from(p)}; }
  };

  VL222AppWinDelegate(const Ports& ports, SheetHost& prefPane, AppListView& view);
  ~VL222AppWinDelegate() override;
  VL222AppWinDelegate(const VL222AppWinDelegate&) = delete;
  VL222AppWinDelegate& operator=(const VL222AppWinDelegate&) = delete;

  // Takes the controller's list (once its store is open) and follows it.
  void awakeFromNib();
  AppList* appList() const { return appList_; }
  bool isShown() const { return shown_; }

  void showAppWindow();
  void closeAppWindow();
  bool cancelByPrefPane() override;

  // The table's selection changed (by the user): the Delete button follows.
  void tableViewSelectionDidChange();
  void removeApp();

  // The file chooser and its accessory.
  void openAppPanel();
  void appPanelSelectFile(std::optional<std::string> path);
  void appPanelSelectProc();
  void enableAppPanelButton();
  // The running applications the pop-up offers: regular ones only, by localized name.
  std::vector<RunningAppItem> runningApplicationItems() const;

  // True when an alert was shown.
  bool addApp(const AddableApp& object);
  bool addAppWithURL(const std::string& path);

  // Drag and drop of files onto the table: the file paths of the dragging pasteboard.
  // validateDrop: true to accept (a copy onto the whole table).
  bool validateDrop(const std::vector<std::string>& filePaths) const;
  // Always true; the files are added 0.1 s later.
  bool acceptDrop(const std::vector<std::string>& filePaths);
  void acceptDropNow(const std::vector<std::string>& filePaths);

 private:
  void updateDeleteButton();
  std::optional<std::string> bundleIdentifierOf(const AddableApp& object) const;

  Ports ports_;
  SheetHost& prefPane_;
  AppListView& view_;
  AppList* appList_ = nullptr;
  uint64_t listToken_ = 0;
  bool shown_ = false;
};
using AppListDelegate = VL222AppWinDelegate;  // the readable name

}  // namespace vl
