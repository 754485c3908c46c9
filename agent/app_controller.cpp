// Velmora Manager's controller: start-up, shutdown, store, speed policy and commands.
#include "agent/app_controller.h"

#include <cstdio>
#include <ctime>

#include "core/errors/alerts.h"
#include "core/hid/registry_search.h"
#include "core/plist/codec.h"
#include "core/store/user_info_record.h"
#include "core/system/boa_notifications.h"
#include "core/system/drovana.h"
#include "core/system/strings.h"
#include "core/system/versions.h"
#include "platform/api/cursor.h"
#include "platform/api/file_manager.h"
#include "platform/api/paths.h"
#include "platform/api/platform.h"
#include "platform/api/runloop.h"
#include "platform/api/system_info.h"

namespace vl {

namespace {
constexpr int64_t kIncompatibleVersionHashError = 134130;
}  // namespace

AppControllerClass::AppControllerClass(AgentSettings settings)
    : settings_(std::move(settings)), snapping_(std::make_unique<SnappingHooks>()) {}

AppControllerClass::~AppControllerClass() {
  if (RunLoop* rl = currentPlatform().runLoop) rl->cancelAllPerforms(this);
  if (commandToken_) QS824removeBOANotification(commandToken_);
  if (screensToken_ && currentPlatform().screens) currentPlatform().screens->unobserve(screensToken_);
  removeDeviceNotify();
  userInfo_ = nullptr;
  managedObjectContext_.reset();
}

void AppControllerClass::fatal(const char* message, const char* table, int64_t code, int64_t site) {
  AbendApp(message, table, code, site);
}

// --- Start-up and shutdown -------------------------------------------------------------------

void AppControllerClass::applicationWillFinishLaunching() { updateAXEnabled(); }

void AppControllerClass::applicationDidFinishLaunching() {
  const Platform& p = currentPlatform();
  // The cursor moves that snapping posts must not hold back the user's own input.
  if (p.cursor) p.cursor->setLocalEventsSuppressionInterval(0.0);
  openLogViewer();

  // Single instance: an exclusive lock held for the process's life.
  std::string lockPath = settings_.instanceLockPath;
  if (lockPath.empty() && p.paths) lockPath = p.paths->temporary() + "/" + settings_.bundle.identifier + ".lock";
  std::string lockError;
  instanceLock_ = lockPath.empty() ? nullptr : InstanceLock::acquire(lockPath, &lockError);
  if (!instanceLock_) {
    logActivity("another copy is running (" + lockError + ")");
    fatal(nullptr, nullptr, 0, 1000757);
    return;
  }

  if (p.system) {
    OsVersion v = p.system->osVersion();
    if (v.major < 10 || (v.major == 10 && v.minor < 12)) {
      fatal("macOS Sierra 10.12 or later is required.", "vl", 0, 0);
      return;
    }
  }

  dvVersion_ = QS812DrovanaVersion();
  if (const char* message = VL712drovanaError(dvVersion_)) {
    fatal(message, "vl", 0, 0);
    return;
  }

  int32_t r = QS824registerBOANotification(
      [this](const std::string&, const pl::Dict& info) { boaNotification(info); }, &commandToken_);
  if (r != 0) {
    fatal(nullptr, nullptr, r, 1000775);
    return;
  }

  std::optional<std::string> url = QS814prefsFileURL();
  if (const char* message = VL714prefsFileCompatibleError(url, nullptr)) {
    fatal(message, "vl", 0, 1000795);
    return;
  }

  ErrorInfo error;
  int32_t opened = openMOC(&error);
  if (opened != 0) {
    if (error.domain == kCocoaErrorDomain && error.code == kIncompatibleVersionHashError) {
      fatal(kSettingsFormatChangedMessage, "vl", opened, 1000800);
    } else {
      AbendAppNSError(&error, opened, 1000801);
    }
    return;
  }

  launchedDrovanaVersion(dvVersion_, QS812DrovanaBuildDate());
  installAXNotify();

  QS824postAppLaunchedNotification(std::string(drovana::kAgentBundleID), settings_.bundle.identifier,
                                   QS812versionNumberFromString(settings_.bundle.version), QS812VelmoraBuildDate());

  if (int32_t e = installDeviceNotify()) {
    fatal(nullptr, nullptr, e, 1000842);
    return;
  }
  if (p.screens) screensToken_ = p.screens->observeChanges([this] { applicationDidChangeScreenParameters(); });
  launched_ = true;
  logActivity("running; watching pointing devices");
}

void AppControllerClass::applicationWillTerminate() {
  // A fatal error inside the shutdown ends the process through the same path; the second
  // entry must not run the sequence again.
  if (terminating_) return;
  terminating_ = true;
  if (commandToken_) {
    QS824removeBOANotification(commandToken_);
    commandToken_ = 0;
  }
  if (int32_t e = restoreCursorSpeed()) {
    fatal(nullptr, nullptr, e, 1000883);
    return;
  }
  removeDeviceNotify();
  userInfo_ = nullptr;
  managedObjectContext_.reset();
  stopAutoSnapping();
  closeLogViewer();
  if (screensToken_ && currentPlatform().screens) {
    currentPlatform().screens->unobserve(screensToken_);
    screensToken_ = 0;
  }
  logActivity("stopped; every device is back at the system speed");
}

void AppControllerClass::applicationDidChangeScreenParameters() { setCursorSpeedAfterDelay(2.0); }

std::string AppControllerClass::crashReportPath() const {
  const Platform& p = currentPlatform();
  // A per-user folder: a fixed name in the shared temporary folder could be a planted link.
  std::string dir = p.paths ? p.paths->temporary() : std::string("/tmp");
  return dir + "/Velmora_Debug.txt";
}

void AppControllerClass::exceptionHandler(const std::string& callStack) {
  std::string path = crashReportPath();
  std::string pattern = localized("%@ %@ has an error. A Log file has been placed in %@.", "vl");
  for (const std::string& part : {std::string(velmora::kAgentName), settings_.bundle.version, path}) {
    auto at = pattern.find("%@");
    if (at != std::string::npos) pattern.replace(at, 2, part);
  }
  char date[64];
  std::time_t now = std::time(nullptr);
  std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S %z", std::localtime(&now));
  std::string report = std::string(velmora::kAgentName) + " " + settings_.bundle.version + ", " + date + "\n\n" +
                       (callStack.empty() ? std::string("No log.") : callStack);
  std::string error;
  // Written beside its final name and renamed over it, so a link at the final name is
  // replaced, never followed.
  pl::writeFileAtomic(path, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(report.data()), report.size()),
                      &error);
  const Platform& p = currentPlatform();
  // The file viewer points the user at the report; the notice names its path when there is none.
  if (p.fileManager) (void)p.fileManager->revealFile(path);
  if (p.alerts) p.alerts->displayNotice(pattern, "", settings_.bundle.resourcesDir + "/Velmora.icns");
  if (p.lifecycle) p.lifecycle->terminate(kFatalExitStatus);
}

// --- Store -----------------------------------------------------------------------------------

int32_t AppControllerClass::openMOC(ErrorInfo* outError) {
  // Records belong to the context: entries drop theirs before it goes away.
  for (auto& e : connectedDeviceList_) e->forgetDeviceObj();
  userInfo_ = nullptr;
  managedObjectContext_.reset();
  if (outError) *outError = ErrorInfo{};
  StoreContextRef ctx;
  ErrorInfo error;
  int32_t r = QS814openMOC(nullptr, true, &ctx, &error);
  if (r != 0 || !ctx) {
    if (outError) *outError = error;
    QS810stackError(nullptr, r);
    return 1001014;
  }
  managedObjectContext_ = std::move(ctx);
  userInfo_ = QS814fetchUserInfo(managedObjectContext_.get());
  return 0;
}

// --- Sibling product -----------------------------------------------------------------------

void AppControllerClass::launchedDrovanaVersion(uint32_t version, const std::optional<std::string>& buildDate) {
  dvVersion_ = version;
  std::string mine = QS812VelmoraBuildDate();
  if (mine <= buildDate.value_or("")) stopAutoSnapping();
  else startAutoSnapping();
}

// --- Device watcher callbacks ----------------------------------------------------------------

bool AppControllerClass::respondsTo(Message m) const {
  return m != Message::ScreenLocked && m != Message::ScrollSpeedChanged;
}

ServiceClass* AppControllerClass::entryForClient(const ServiceRef& service) {
  for (auto& e : connectedDeviceList_)
    if (e->containsClient(service)) return e.get();
  return nullptr;
}

void AppControllerClass::connectedDeviceNotify(const ServiceRef& service, bool attached) {
  if (!service || !hasDeviceList_) return;
  if (!attached) {
    ServiceClass* entry = entryForClient(service);
    if (!entry) return;
    entry->removeClient(service);
    if (!entry->locationID()) {
      logActivity("device at a location is gone");
      connectedDeviceList_.erase(std::remove_if(connectedDeviceList_.begin(), connectedDeviceList_.end(),
                                                [entry](const std::unique_ptr<ServiceClass>& e) { return e.get() == entry; }),
                                 connectedDeviceList_.end());
    }
    return;
  }
  if (!VL722isSupportedServiceClient(service.get())) return;
  std::optional<pl::Value> location = service->property("LocationID");
  for (auto& e : connectedDeviceList_) {
    if (e->isEqualToLocationID(location)) {
      if (int32_t r = e->addClient(service)) {
        fatal(nullptr, nullptr, r, 1130093);
        return;
      }
      e->setCursorSpeedAfterDelay(0.5);
      return;
    }
  }
  auto entry = ServiceClass::serviceWithClient(service, this);
  if (!entry) return;
  ServiceClass* raw = entry.get();
  connectedDeviceList_.push_back(std::move(entry));
  raw->loadMOC(managedObjectContext_.get());
  char line[160];
  std::snprintf(line, sizeof line, "device %04x:%04x:%x %s arrived", raw->vid(), raw->pid(), raw->mid(),
                raw->transport().value_or("").c_str());
  logActivity(line);
  raw->setCursorSpeedAfterDelay(0.5);
}

void AppControllerClass::connectedDeviceLogin() {
  logActivity("user active again: applying in 1.5 s");
  setCursorSpeedAfterDelay(1.5);
  if (snapping_) snapping_->pause(false);
}

void AppControllerClass::connectedDeviceLogout() {
  logActivity("user inactive: restoring the system speed");
  if (int32_t e = restoreCursorSpeed()) {
    fatal(nullptr, nullptr, e, 1600044);
    return;
  }
  if (snapping_) snapping_->pause(true);
}

void AppControllerClass::connectedDeviceScreenUnlocked() { setCursorSpeedAfterDelay(0.0); }

void AppControllerClass::connectedDeviceCursorSpeedChanged(double) { setCursorSpeedAfterDelay(0.5); }

void AppControllerClass::connectedDeviceError(int32_t error) { fatal(nullptr, nullptr, error, 1000916); }

// --- Speed policy ------------------------------------------------------------------------------

int32_t AppControllerClass::installDeviceNotify() {
  if (!managedObjectContext_) return 1130026;
  hasDeviceList_ = true;
  if (!connectedDeviceNotifier_) {
    connectedDeviceNotifier_ =
        QS825ConnectedDeviceNotifier::connectedDeviceNotifierWithController(this, nullptr, settings_.bundle.identifier);
    if (!connectedDeviceNotifier_) return 1130043;
  }
  return 0;
}

void AppControllerClass::removeDeviceNotify() {
  if (connectedDeviceNotifier_) connectedDeviceNotifier_->finishAllDevices();
  connectedDeviceNotifier_.reset();
  connectedDeviceList_.clear();
  hasDeviceList_ = false;
}

int32_t AppControllerClass::setCursorSpeedForVID(uint32_t vid, uint32_t pid, uint32_t mid,
                                                 const std::optional<std::string>& transport) {
  for (auto& e : connectedDeviceList_) {
    if (!e->isEqualToVID(vid, pid, mid, transport.value_or(""))) continue;
    if (int32_t r = e->setCursorSpeed()) {
      QS810stackError(nullptr, r);
      return 1030034;
    }
  }
  return 0;
}

int32_t AppControllerClass::enableCursorSpeedForVID(uint32_t vid, uint32_t pid, uint32_t mid,
                                                    const std::optional<std::string>& transport) {
  for (auto& e : connectedDeviceList_) {
    if (!e->isEqualToVID(vid, pid, mid, transport.value_or(""))) continue;
    if (int32_t r = e->enableCurosrSpeed()) {
      QS810stackError(nullptr, r);
      return 1030021;
    }
  }
  return 0;
}

void AppControllerClass::setCursorSpeedAfterDelay(double seconds) {
  for (auto& e : connectedDeviceList_) e->setCursorSpeedAfterDelay(seconds);
}

int32_t AppControllerClass::restoreCursorSpeed() {
  for (auto& e : connectedDeviceList_) {
    if (int32_t r = e->restoreCursorSpeed()) {
      QS810stackError(nullptr, r);
      return 1030053;
    }
  }
  return 0;
}

void AppControllerClass::loadMOC() {
  for (auto& e : connectedDeviceList_) e->loadMOC(managedObjectContext_.get());
}

// --- Commands ------------------------------------------------------------------------------

void AppControllerClass::boaNotification(const pl::Dict& info) {
  std::optional<std::string> receiver = commandString(info, key::kReceiver);
  std::optional<std::string> command = commandString(info, key::kCommand);
  uint32_t vid = commandUInt32(info, key::kVID);
  uint32_t pid = commandUInt32(info, key::kPID);
  uint32_t mid = commandUInt32(info, key::kMID);
  std::optional<std::string> transport = commandString(info, key::kTransport);

  if (receiver && !receiver->empty() && *receiver != settings_.bundle.identifier) return;
  const std::string c = command.value_or("");
  logActivity("command \"" + c + "\"");
  if (c == cmd::kAccessibilityWarning) {
    if (snapping_) snapping_->axWarning();
    return;
  }
  if (c == cmd::kApplicationLaunched) {
    launchedDrovanaVersion(commandUInt32(info, key::kVersion), commandString(info, key::kBuildDate));
    return;
  }
  ErrorInfo error;
  if (int32_t r = openMOC(&error)) {
    AbendAppNSError(&error, r, 1200069);
    return;
  }
  loadMOC();
  if (c == cmd::kCursorSpeed) {
    if (int32_t r = setCursorSpeedForVID(vid, pid, mid, transport)) fatal(nullptr, nullptr, r, 1200087);
  } else if (c == cmd::kCursorSpeedActivate) {
    if (int32_t r = enableCursorSpeedForVID(vid, pid, mid, transport)) fatal(nullptr, nullptr, r, 1200096);
  } else if (c == cmd::kAutoCursorSnapping) {
    reloadSnappingAppList();
  } else if (c == cmd::kUploadCursorSpeed) {
    uploadRecommendedSettings();
  }
}

// --- Snapping --------------------------------------------------------------------------------

void AppControllerClass::startAutoSnapping() {
  if (snappingStarted_) return;
  if (snapping_) snapping_->startAutoSnapping();
  snappingStarted_ = true;
}

void AppControllerClass::stopAutoSnapping() {
  if (!snappingStarted_) return;
  if (snapping_) snapping_->stopAutoSnapping();
  snappingStarted_ = false;
}

void AppControllerClass::reloadSnappingAppList() {
  if (snappingStarted_ && snapping_) snapping_->reloadSnappingAppList();
}

void AppControllerClass::installAXNotify() {
  if (snapping_) snapping_->installAXNotify();
}

void AppControllerClass::updateAXEnabled() {
  if (snapping_) snapping_->updateAXEnabled();
}

void AppControllerClass::uploadRecommendedSettings() {
  // The recommended-settings upload belongs to the settings pane's sharing feature; the agent
  // has reloaded the store for it and has nothing more to send until that feature exists.
  logActivity("upload of recommended settings is not available in this version");
}

}  // namespace vl
