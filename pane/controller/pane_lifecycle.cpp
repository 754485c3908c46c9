// The pane controller's life cycle: the choice of view, opening everything when the pane is
// about to appear, the checks once it shows, saving when it is left and tearing down after.
#include <algorithm>

#include "core/system/alerts.h"
#include "core/hid/registry_search.h"
#include "core/store/app_record.h"
#include "core/store/device_record.h"
#include "core/store/user_info_record.h"
#include "core/system/boa_notifications.h"
#include "core/system/strings.h"
#include "core/system/versions.h"
#include "pane/controller/pane_controller.h"
#include "pane/windows/ax_warning.h"
#include "pane/windows/gatekeeper_sheet.h"
#include "pane/windows/update_sheet.h"
#include "pane/curves/default_curves.h"
#include "pane/graph/curve_view.h"
#include "platform/api/accessibility.h"
#include "platform/api/runloop.h"
#include "platform/api/system_info.h"

namespace vl {

namespace {

bool isCatalinaOrLater(const Platform& p) {
  if (!p.system) return true;
  OsVersion v = p.system->osVersion();
  return v.major > 10 || (v.major == 10 && v.minor >= 15);
}

}  // namespace

quillon_Velmora_prefpane::quillon_Velmora_prefpane(const Platform& platform, ErrorContext errors, PaneWindow& window,
                                                   PaneSettings settings)
    : platform_(platform), errors_(errors), window_(window), settings_(std::move(settings)), definitions_(platform) {
  if (settings_.records.bundle.identifier.empty()) settings_.records.bundle = settings_.bundle;
  // A service without acceleration data is drawn with the system's defaults, not taken for a
  // device that is not connected.
  if (!settings_.records.defaultAcclTable)
    if (const pl::Data* table = defaultAcclTable()) settings_.records.defaultAcclTable = pl::Value(*table);
  if (!settings_.records.defaultAcclCurves)
    if (const pl::Value* curves = defaultAcclCurves()) settings_.records.defaultAcclCurves = *curves;
  // The favourites follow the selected device; both tables and the graph follow the lists.
  deviceList_.addObserver([this](DeviceList::Change) {
    if (cursorSpeedList_.device() != deviceList_.selectedObject()) cursorSpeedList_.setDevice(deviceList_.selectedObject());
    window_.reloadDeviceTable();
    notifyCurve(kObservedStatus);
  });
  cursorSpeedList_.addObserver([this](CursorSpeedList::Change) {
    window_.reloadCursorSpeedTable();
    notifyCurve(kObservedSensitivity);
  });
  curveView_ = std::make_unique<VL260CurveView>(platform_, errors_, *this);
}

quillon_Velmora_prefpane::~quillon_Velmora_prefpane() {
  disposeCurveView();
  curveView_.reset();
  if (RunLoop* rl = platform_.runLoop) {
    rl->cancelAllPerforms(this);
    rl->cancelAllPerforms(&launchTarget_);
  }
  removeUndoNotification();
  if (mocToken_ && managedObjectContext_) managedObjectContext_->removeObjectsDidChangeObserver(mocToken_);
  removeDeviceNotify();
  cursorSpeedList_.setDevice(nullptr);
  deviceList_.clear();
  appList_.clear();
  userInfo_ = nullptr;
  managedObjectContext_.reset();
}

std::string quillon_Velmora_prefpane::localizedVL(const std::string& key) const { return localized(platform_, key, "vl"); }

void quillon_Velmora_prefpane::fatal(const char* message, const char* table, int64_t code, int64_t site) {
  AbendApp(platform_, errors_, message, table, code, site);
}

void quillon_Velmora_prefpane::fatalWithError(const ErrorInfo& error, int64_t code, int64_t site) {
  AbendAppNSError(platform_, errors_, &error, code, site);
}

// --- Choosing the view -------------------------------------------------------------------------------

std::string quillon_Velmora_prefpane::mainNibName() {
  detectDrivers();
  std::optional<std::string> message = errorWindowMessage();
  window_.showErrorView(message.value_or(""));
  return message ? kErrorNibName : kMainNibName;
}

std::optional<std::string> quillon_Velmora_prefpane::errorWindowMessage() const {
  if (platform_.system) {
    OsVersion v = platform_.system->osVersion();
    if (v.major == 10 && v.minor < 12) return localizedVL("macOS Sierra 10.12 or later is required.");
  }
  if (const char* key = VL712drovanaError(QS812DrovanaVersion(platform_.paths))) return localizedVL(key);
  std::optional<std::string> url = settings_.storePath;
  if (!url) url = QS814prefsFileURL(platform_, errors_.stack);
  if (const char* key = VL714prefsFileCompatibleError(url, settings_.model)) return localizedVL(key);
  return std::nullopt;
}

void quillon_Velmora_prefpane::mainViewDidLoad() {
  // The tab view reports to tabViewDidSelectTabViewItem; nothing else to connect here.
}

// --- Appearing ---------------------------------------------------------------------------------------

void quillon_Velmora_prefpane::willSelect() {
  if (errorWindowMessage()) {
    quitBOA();
    return;
  }
  if (!showAllMade_) {
    showAllMade_ = true;
    showAllVisible_ = false;
    window_.setShowAllLabelVisible(false);
  }
  QS810errorBuf(errors_.stack, true);
  dvVersion_ = QS812DrovanaVersion(platform_.paths);
  std::string ownBuildDate =
      settings_.buildDate.empty() ? QS812buildDateWithURL(settings_.bundlePath) : settings_.buildDate;
  std::string drovanaBuildDate = QS812DrovanaBuildDate(platform_.paths);
  axPreferred_ = ownBuildDate > drovanaBuildDate;
  (void)QS824postAppLaunchedNotification(platform_.notifications, std::string(velmora::kAgentBundleID), settings_.bundle.identifier,
                                         dvVersion_, drovanaBuildDate);

  if (!managedObjectContext_) {
    ErrorInfo error;
    StoreContextRef ctx;
    int32_t r = settings_.storePath
                    ? QS814createMOC(platform_, errors_.stack, settings_.storePath, settings_.model, false, &ctx, &error, settings_.records)
                    : QS814openMOC(platform_, errors_.stack, settings_.model, false, &ctx, &error, settings_.records);
    if (r != 0 || !ctx) {
      fatalWithError(error, r, 1000778);
      return;
    }
    managedObjectContext_ = std::move(ctx);
    userInfo_ = QS814fetchUserInfo(errors_.stack, managedObjectContext_.get());
    if (!userInfo_) userInfo_ = QS814insertUserInfo(errors_.stack, managedObjectContext_.get());
    if (!userInfo_) {
      fatal(nullptr, nullptr, 0, 1000787);
      return;
    }
    if (!QS803AppClass::fetchDefSnappingApp(errors_.stack, managedObjectContext_.get()) &&
        !QS803AppClass::insertSnappingAppWithObject(errors_.stack, AppObject{}, managedObjectContext_.get())) {
      fatal(nullptr, nullptr, 0, 1000800);
      return;
    }
    for (QS802DeviceClass* d : QS814allDevices(managedObjectContext_.get()))
      VL714searchAndApplyDeviceDefinition(definitions_, d);
    loadDeviceList();
    if (int32_t r = setupAppList()) {
      fatal(nullptr, nullptr, r, 1000816);
      return;
    }
  }
  registerMOCNotification();
  if (int32_t r = installDeviceNotify()) {
    fatal(nullptr, nullptr, r, 1000827);
    return;
  }
  removeAllUndoActions();
  if (int32_t r = registerUndoNotification()) {
    reportLaunchFailure(1000838, r, std::nullopt);
    return;
  }
  if (int32_t r = prepareCurveView()) {
    reportLaunchFailure(1000845, r, std::nullopt);
    return;
  }
  std::optional<ErrorInfo> launchError;
  if (int32_t r = launchBOAAndReturnError(&launchError)) reportLaunchFailure(1000851, r, launchError);
}

void quillon_Velmora_prefpane::reportLaunchFailure(int32_t step, int32_t failure, const std::optional<ErrorInfo>& error) {
  QS810stackError(errors_.stack, nullptr, failure);
  if (error)
    fatalWithError(*error, step, 1000863);
  else
    fatal(nullptr, nullptr, step, 1000864);
}

void quillon_Velmora_prefpane::didSelect() {
  if (!managedObjectContext_) {
    if (showAllMade_) {
      showAllVisible_ = true;
      window_.setShowAllLabelVisible(true);
    }
    return;
  }
  restoreDeviceListSelection();
  if (isCatalinaOrLater(platform_) && platform_.accessibility && platform_.accessibility->isProcessTrusted() &&
      !QS822IOHIDCheckAccess(platform_)) {
    SheetAlert alert;
    alert.messageText = localizedVL("You need to restart “System Preferences”. Please quit and open it again.");
    alert.informativeText = localizedVL(
        "If this message is displayed even though you have already done it, please open System Preferences > "
        "Security & Privacy > Privacy and remove “System Preferences” from  Accessiblity and Input Monitoring.");
    window_.showSheetAlert(alert, [this](int) {
      if (RunLoop* rl = platform_.runLoop) rl->perform(this, "showAll", 0, [this] { showAll(); });
    });
    return;
  }
  // The quarantine, update and accessibility-warning windows belong to their own controllers;
  // the agent's accessibility flag is read once the pane shows.
  if (gatekeeperWinDelegate_) gatekeeperWinDelegate_->showGatekeeperWindow();
  if (updateWinDelegate_) updateWinDelegate_->scheduleUpdateWindow();
  if (RunLoop* rl = platform_.runLoop) {
    // Before 10.15 a missing permission shows no warning of its own.
    if (axWarnWindow_ && isCatalinaOrLater(platform_))
      rl->perform(this, "showAXWarnWindow", 0, [this] {
        if (axWarnWindow_) axWarnWindow_->showAXWarnWindow();
      });
    rl->perform(this, "setBOAAXEnabled", 0, [this] { setBOAAXEnabled(); });
  }
}

// --- Leaving -----------------------------------------------------------------------------------------

bool quillon_Velmora_prefpane::shouldUnselect() {
  if (!managedObjectContext_) return true;
  if (!window_.commitEditing()) return false;
  saveDeviceListSelection();
  (void)deviceList_.setSelectionIndex(std::nullopt);
  autoSelectedDevice_ = nullptr;
  ErrorInfo error;
  if (int32_t r = QS814saveMOC(managedObjectContext_.get(), &error)) fatalWithError(error, r, 1000983);
  return true;
}

void quillon_Velmora_prefpane::willUnselect() {
  if (errorWindowMessage()) return;
  if (updateWinDelegate_) updateWinDelegate_->cancelScheduled();
  removeMOCNotification();
  // With sharing on this asks the agent to upload, whether or not the window was opened.
  recommendedWindow().close();
  disposeCurveView();
  removeUndoNotification();
  removeAllUndoActions();
  removeDeviceNotify();
  closeStore();
}

void quillon_Velmora_prefpane::closeStore() {
  cursorSpeedList_.setDevice(nullptr);
  deviceList_.clear();
  appList_.clear();
  userInfo_ = nullptr;
  managedObjectContext_.reset();
}

}  // namespace vl
