// Velmora Manager's controller: start-up, shutdown, store, speed policy and commands.
#include "agent/app_controller.h"

#include <algorithm>
#include <set>
#include <cstdio>
#include <ctime>

#include "agent/log_text.h"
#include "core/system/alerts.h"
#include "core/hid/fixed_point.h"
#include "core/hid/pointer_parameters.h"
#include "core/hid/registry_search.h"
#include "core/plist/codec.h"
#include "core/plist/number_text.h"
#include "core/store/cursor_speed_record.h"
#include "core/store/device_record.h"
#include "core/store/user_info_record.h"
#include "core/system/boa_notifications.h"
#include "core/system/drovana.h"
#include "core/system/strings.h"
#include "core/system/versions.h"
#include "platform/api/cursor.h"
#include "platform/api/desktop.h"
#include "platform/api/file_manager.h"
#include "platform/api/paths.h"
#include "platform/api/platform.h"
#include "platform/api/runloop.h"
#include "platform/api/system_info.h"

namespace vl {

namespace {
constexpr int64_t kIncompatibleVersionHashError = 134130;
}  // namespace

AppControllerClass::AppControllerClass(const Platform& platform, ErrorContext errors, AgentSettings settings)
    : platform_(platform),
      errors_(errors),
      settings_(std::move(settings)),
      definitions_(platform),
      snapping_(std::make_unique<SnappingHooks>()) {}

AppControllerClass::~AppControllerClass() {
  if (RunLoop* rl = platform_.runLoop) rl->cancelAllPerforms(this);
  if (commandToken_) QS824removeBOANotification(platform_.notifications, commandToken_);
  if (screensToken_ && platform_.screens) platform_.screens->unobserve(screensToken_);
  removeDeviceNotify();
  userInfo_ = nullptr;
  managedObjectContext_.reset();
}

void AppControllerClass::fatal(const char* message, const char* table, int64_t code, int64_t site) {
  AbendApp(platform_, errors_, message, table, code, site);
}

// --- Start-up and shutdown -------------------------------------------------------------------

void AppControllerClass::applicationWillFinishLaunching() { updateAXEnabled(); }

void AppControllerClass::applicationDidFinishLaunching() {
  const Platform& p = platform_;
  // The cursor moves that snapping posts must not hold back the user's own input.
  if (p.cursor) p.cursor->setLocalEventsSuppressionInterval(0.0);
  openLogViewer();

  // Single instance: an exclusive lock held for the process's life.
  std::string lockPath = settings_.instanceLockPath;
  if (lockPath.empty() && p.paths) lockPath = p.paths->temporary() + "/" + settings_.bundle.identifier + ".lock";
  std::string lockError;
  bool busy = false;
  instanceLock_ = lockPath.empty() ? nullptr : InstanceLock::acquire(lockPath, &lockError, &busy);
  if (!instanceLock_) {
    // Said plainly before the alert: nothing has been touched, so nothing is restored.
    std::string line;
    if (busy) {
      long holder = InstanceLock::holderPid(lockPath);
      line = std::string(velmora::kAgentName) + " is already running" +
             (holder > 0 ? " (pid " + std::to_string(holder) + ")" : std::string()) + "; its lock file is " + lockPath;
    } else {
      line = std::string(velmora::kAgentName) + " cannot take its single-instance lock: " +
             (lockPath.empty() ? std::string("no lock file location") : lockError);
    }
    startRefused_ = true;
    if (startRefusedSink_) startRefusedSink_(line);
    else logActivity(line);
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

  dvVersion_ = QS812DrovanaVersion(p.paths);
  if (const char* message = VL712drovanaError(dvVersion_)) {
    fatal(message, "vl", 0, 0);
    return;
  }

  int32_t r = QS824registerBOANotification(
      p.notifications, [this](const std::string& sender, const pl::Dict& info) { boaNotification(info, sender); }, &commandToken_);
  if (r != 0) {
    fatal(nullptr, nullptr, r, 1000775);
    return;
  }

  std::optional<std::string> url = QS814prefsFileURL(p, errors_.stack);
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
      AbendAppNSError(p, errors_, &error, opened, 1000801);
    }
    return;
  }

  launchedDrovanaVersion(dvVersion_, QS812DrovanaBuildDate(p.paths));
  installAXNotify();

  QS824postAppLaunchedNotification(p.notifications, std::string(drovana::kAgentBundleID), settings_.bundle.identifier,
                                   currentApplicationVersion(), QS812VelmoraBuildDate(p.paths));

  // Read before the first device is announced: devices a killed run left with their favourite
  // get their own speed back as they are announced.
  std::string restorePath = settings_.restoreValuesPath;
  if (restorePath.empty() && p.paths) restorePath = p.paths->applicationSupport() + "/" + kRestoreValuesFile;
  if (!restorePath.empty()) {
    restoreValues_ = std::make_unique<RestoreValues>(restorePath);
    std::string message;
    if (!restoreValues_->load(&message)) logActivity(textForLog(message));
    if (restoreValues_->size() > 0)
      logActivity(std::to_string(restoreValues_->size()) + " device(s) left with a favourite by an earlier run");
  }

  if (int32_t e = installDeviceNotify()) {
    fatal(nullptr, nullptr, e, 1000842);
    return;
  }
  if (p.screens) screensToken_ = p.screens->observeChanges([this] { applicationDidChangeScreenParameters(); });
  launched_ = true;
  logActivity("running; watching pointing devices");
}

uint32_t AppControllerClass::currentApplicationVersion() const {
  std::optional<RunningApplication> current;
  if (platform_.desktop && platform_.system) current = platform_.desktop->runningApplication(platform_.system->processID());
  uint32_t version = current ? QS812BundleVersionFromProc(*current) : 0;
  // Run from a build tree the agent has no bundle of its own: its program version stands in.
  return version != 0 ? version : QS812versionNumberFromString(settings_.bundle.version);
}

void AppControllerClass::applicationWillTerminate() {
  // A fatal error inside the shutdown ends the process through the same path; the second
  // entry must not run the sequence again.
  if (terminating_) return;
  terminating_ = true;
  // A start refused before the device list existed touched no device.
  const bool watchedDevices = hasDeviceList_;
  if (commandToken_) {
    QS824removeBOANotification(platform_.notifications, commandToken_);
    commandToken_ = 0;
  }
  if (int32_t e = restoreCursorSpeed()) {
    fatal(nullptr, nullptr, e, 1000883);
    return;
  }
  int notTaken = 0;
  for (auto& e : connectedDeviceList_) notTaken += e->restoresNotTaken();
  const LeftOverOutcome leftOver = restoreLeftOverAtQuit();
  removeDeviceNotify();
  userInfo_ = nullptr;
  managedObjectContext_.reset();
  stopAutoSnapping();
  closeLogViewer();
  if (screensToken_ && platform_.screens) {
    platform_.screens->unobserve(screensToken_);
    screensToken_ = 0;
  }
  // Success is said only for what was given back; a device a crashed run changed and this run
  // could not reach keeps its entry, and the line says so.
  if (!watchedDevices) {
    logActivity("stopped; no device was changed");
  } else if (leftOver.failed == 0 && leftOver.absent == 0 && notTaken == 0) {
    logActivity("stopped; every device is back at the system speed");
  } else {
    std::string line = notTaken == 0 ? "stopped; the devices this run changed are back at the system speed"
                                     : "stopped; " + std::to_string(notTaken) +
                                           " device service(s) did not take the system speed back";
    if (leftOver.failed > 0)
      line += "; " + std::to_string(leftOver.failed) + " device(s) may still carry a speed of an earlier run";
    if (leftOver.absent > 0)
      line += "; " + std::to_string(leftOver.absent) +
              " device(s) an earlier run changed are not here now and keep their entry for a later run";
    logActivity(line);
  }
}

AppControllerClass::LeftOverOutcome AppControllerClass::restoreLeftOverAtQuit() {
  LeftOverOutcome outcome;
  if (!restoreValues_) return outcome;
  // Devices present but not yet announced (still in their standby time) are reached through
  // the services that match now; the announced ones were given theirs back when announced.
  std::vector<ServiceRef> present;
  if (connectedDeviceNotifier_ && connectedDeviceNotifier_->hidService())
    present = connectedDeviceNotifier_->hidService()->copyServices();
  std::set<std::string> reached;
  for (const ServiceRef& service : present) {
    if (!service || entryForClient(service) || !VL722isSupportedServiceClient(platform_, service.get())) continue;
    uint32_t vid = 0, pid = 0, mid = 0;
    std::optional<std::string> transport;
    std::optional<pl::Value> location;
    QS852getDeviceInfo(service.get(), &vid, &pid, &mid, &transport, &location, nullptr);
    const std::string key = RestoreValues::keyFor(vid, pid, mid, transport.value_or(""), location);
    const SavedSpeed* saved = restoreValues_->find(key);
    if (!saved || !restoreValues_->isLeftOver(key)) continue;
    // With Drovana installed a device other than Apple's is Drovana's to set.
    if (dvVersion_ != 0 && !QS822isAppleGestureDevice(vid, pid)) continue;
    reached.insert(key);
    const SavedSpeed speed = *saved;
    if (int32_t e = QS852setCursorSpeed(errors_.stack, service.get(), &speed.accelerationKey, Fix2X(speed.resolution),
                                        Fix2X(speed.acceleration), std::nullopt)) {
      QS810stackError(errors_.stack, nullptr, e);
      outcome.failedKeys.insert(key);
      logActivity("could not give " + textForLog(key) + " back the speed it had before an earlier run ended");
    }
  }
  for (const std::string& key : reached) {
    if (outcome.failedKeys.count(key)) continue;
    if (Status removed = restoreValues_->remove(key); !removed) logActivity(textForLog(removed.detail()));
    logActivity("gave " + textForLog(key) + " back the speed it had before an earlier run ended abnormally");
  }
  outcome.failed = outcome.failedKeys.size();
  for (const auto& key : restoreValues_->keys())
    if (restoreValues_->isLeftOver(key) && !reached.count(key)) ++outcome.absent;
  return outcome;
}

void AppControllerClass::applicationDidChangeScreenParameters() {
  logActivity("display changed: applying in 2 s");
  setCursorSpeedAfterDelay(2.0, "display change");
}

std::string AppControllerClass::crashReportPath() const {
  const Platform& p = platform_;
  // A per-user folder: a fixed name in the shared temporary folder could be a planted link.
  std::string dir = p.paths ? p.paths->temporary() : std::string("/tmp");
  return dir + "/Velmora_Debug.txt";
}

void AppControllerClass::exceptionHandler(const std::string& callStack) {
  std::string path = crashReportPath();
  std::string pattern = localized(platform_, "%@ %@ has an error. A Log file has been placed in %@.", "vl");
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
  if (!pl::writeFileAtomic(path, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(report.data()), report.size()),
                           &error))
    std::fprintf(stderr, "%s: cannot write the crash report %s: %s\n", velmora::kAgentName, path.c_str(), error.c_str());
  const Platform& p = platform_;
  // The file viewer points the user at the report; the notice names its path when there is none.
  if (p.fileManager) p.fileManager->revealFile(path).ignore("the notice below names the report either way");
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
  RecordSettings records{settings_.bundle, settings_.defaultAcclTable, settings_.defaultAcclCurves};
  int32_t r = QS814openMOC(platform_, errors_.stack, nullptr, true, &ctx, &error, records);
  if (r != 0 || !ctx) {
    if (outError) *outError = error;
    QS810stackError(errors_.stack, nullptr, r);
    return 1001014;
  }
  managedObjectContext_ = std::move(ctx);
  userInfo_ = QS814fetchUserInfo(errors_.stack, managedObjectContext_.get());
  return 0;
}

// --- Sibling product -----------------------------------------------------------------------

void AppControllerClass::launchedDrovanaVersion(uint32_t version, const std::optional<std::string>& buildDate) {
  dvVersion_ = version;
  std::string mine = QS812VelmoraBuildDate(platform_.paths);
  if (mine <= buildDate.value_or("")) stopAutoSnapping();
  else startAutoSnapping();
}

// --- Device watcher callbacks ----------------------------------------------------------------

bool AppControllerClass::respondsTo(Message m) const {
  // The screen lock is only logged; the speeds stay until the unlock re-applies them.
  return m != Message::ScrollSpeedChanged;
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
    std::string restoreKey = entry->restoreKey();
    const std::string name = entry->name();
    entry->removeClient(service);
    if (!entry->locationID()) {
      // A device that goes away takes no speed of ours with it: it starts afresh when it returns.
      if (restoreValues_) {
        if (Status removed = restoreValues_->remove(restoreKey); !removed) logActivity(textForLog(removed.detail()));
      }
      logActivity(name + " detached");
      connectedDeviceList_.erase(std::remove_if(connectedDeviceList_.begin(), connectedDeviceList_.end(),
                                                [entry](const std::unique_ptr<ServiceClass>& e) { return e.get() == entry; }),
                                 connectedDeviceList_.end());
      return;
    }
    logActivity("a service of " + name + " detached; the device stays");
    return;
  }
  if (!VL722isSupportedServiceClient(platform_, service.get())) return;
  std::optional<pl::Value> location = service->property("LocationID");
  for (auto& e : connectedDeviceList_) {
    if (e->isEqualToLocationID(location)) {
      if (int32_t r = e->addClient(service)) {
        fatal(nullptr, nullptr, r, 1130093);
        return;
      }
      e->adoptSavedValues();
      if (e->restoreLeftOver(service) != 0)
        logActivity("could not give " + textForLog(e->restoreKey()) + " back the speed an earlier run left");
      logActivity("another service of " + e->name() + " attached; applying in 0.5 s");
      e->setCursorSpeedAfterDelay(0.5, "attached");
      return;
    }
  }
  auto entry = ServiceClass::serviceWithClient(ServicePorts::from(platform_), errors_, service, this);
  if (!entry) return;
  ServiceClass* raw = entry.get();
  connectedDeviceList_.push_back(std::move(entry));
  raw->loadMOC(managedObjectContext_.get());
  raw->adoptSavedValues();
  if (raw->restoreLeftOver() != 0) {
    logActivity("could not give " + textForLog(raw->restoreKey()) + " back the speed an earlier run left");
  }
  logActivity(raw->name() + " attached; applying in 0.5 s");
  raw->setCursorSpeedAfterDelay(0.5, "attached");
}

void AppControllerClass::connectedDeviceLogin() {
  logActivity("login: the user is active again; applying in 1.5 s");
  setCursorSpeedAfterDelay(1.5, "login");
  if (snapping_) snapping_->pause(false);
}

void AppControllerClass::connectedDeviceLogout() {
  logActivity("logout: the user is not active; restoring the system speed");
  if (int32_t e = restoreCursorSpeed()) {
    fatal(nullptr, nullptr, e, 1600044);
    return;
  }
  if (snapping_) snapping_->pause(true);
}

void AppControllerClass::connectedDeviceScreenLocked() {
  // Nothing changes at the devices: pending applies wait for the unlock.
  logActivity("screen locked: speeds are applied again at unlock");
}

void AppControllerClass::connectedDeviceScreenUnlocked() {
  logActivity("screen unlocked: applying now");
  setCursorSpeedAfterDelay(0.0, "unlock");
}

void AppControllerClass::connectedDeviceCursorSpeedChanged(double) {
  logActivity("system speed changed: applying in 0.5 s");
  setCursorSpeedAfterDelay(0.5, "system speed changed");
}

void AppControllerClass::connectedDeviceError(int32_t error) { fatal(nullptr, nullptr, error, 1000916); }

// --- Speed policy ------------------------------------------------------------------------------

int32_t AppControllerClass::installDeviceNotify() {
  if (!managedObjectContext_) return 1130026;
  hasDeviceList_ = true;
  if (!connectedDeviceNotifier_) {
    connectedDeviceNotifier_ =
        QS825ConnectedDeviceNotifier::connectedDeviceNotifierWithController(platform_, errors_.stack, this, nullptr,
                                                                           settings_.bundle.identifier);
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
  bool found = false;
  for (auto& e : connectedDeviceList_) {
    if (!e->isEqualToVID(vid, pid, mid, transport.value_or(""))) continue;
    found = true;
    e->setApplyReason(commandSource_.empty() ? "command" : commandSource_);
    if (int32_t r = e->setCursorSpeed()) {
      QS810stackError(errors_.stack, nullptr, r);
      return 1030034;
    }
  }
  if (!found)
    logActivity("no device " +
                QS802DeviceClass::indexWithVID(vid, pid, mid, textForLog(transport.value_or(""), kLogTransportLimit)) +
                " is connected: nothing to apply");
  return 0;
}

int32_t AppControllerClass::enableCursorSpeedForVID(uint32_t vid, uint32_t pid, uint32_t mid,
                                                    const std::optional<std::string>& transport) {
  for (auto& e : connectedDeviceList_) {
    if (!e->isEqualToVID(vid, pid, mid, transport.value_or(""))) continue;
    e->setApplyReason(commandSource_.empty() ? "command" : commandSource_);
    if (int32_t r = e->enableCurosrSpeed()) {
      QS810stackError(errors_.stack, nullptr, r);
      return 1030021;
    }
  }
  return 0;
}

void AppControllerClass::setCursorSpeedAfterDelay(double seconds, const std::string& reason) {
  for (auto& e : connectedDeviceList_) e->setCursorSpeedAfterDelay(seconds, reason);
}

int32_t AppControllerClass::restoreCursorSpeed() {
  for (auto& e : connectedDeviceList_) {
    if (int32_t r = e->restoreCursorSpeed()) {
      QS810stackError(errors_.stack, nullptr, r);
      return 1030053;
    }
  }
  return 0;
}

void AppControllerClass::loadMOC() {
  for (auto& e : connectedDeviceList_) e->loadMOC(managedObjectContext_.get());
}

// --- Commands ------------------------------------------------------------------------------

void AppControllerClass::boaNotification(const pl::Dict& info, const std::string& sender) {
  std::optional<std::string> receiver = commandString(info, key::kReceiver);
  std::optional<std::string> command = commandString(info, key::kCommand);
  uint32_t vid = commandUInt32(info, key::kVID);
  uint32_t pid = commandUInt32(info, key::kPID);
  uint32_t mid = commandUInt32(info, key::kMID);
  std::optional<std::string> transport = commandString(info, key::kTransport);

  if (receiver && !receiver->empty() && *receiver != settings_.bundle.identifier) return;
  const std::string c = command.value_or("");
  commandSource_ = "command from " + (sender.empty() ? std::string("an unnamed sender") : textForLog(sender, 80));
  logActivity(commandSource_ + ": \"" + textForLog(c) + "\"");
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
    AbendAppNSError(platform_, errors_, &error, r, 1200069);
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
  if (!hasDeviceList_) return;
  // One element per normalised model: its index and the record whose setting goes up.
  std::vector<std::pair<std::string, QS802DeviceClass*>> list;
  list.reserve(connectedDeviceList_.size());
  for (const auto& entry : connectedDeviceList_) {
    QS802DeviceClass* device = entry ? entry->deviceObj() : nullptr;
    if (!device || device->cursorSpeedDisabled()) continue;
    const QS805CursorSpeedClass* cs = device->selectedCursorSpeed();
    if (!cs || cs->disableAccl()) continue;
    // The system's own speed for this device says nothing worth sharing.
    auto sensitivity = pl::parseDecimal(cs->sensitivity().value_or(""));
    auto resolution = pl::parseDecimal(device->pointerResolution().value_or(""));
    auto tracking = pl::parseDecimal(cs->trackingSpeed().value_or(""));
    if (sensitivity && resolution && tracking && *sensitivity == *resolution && *tracking == kSystemDefaultTrackingSpeed) continue;

    WebDeviceID id = QS836deviceIDForWebTotaling(platform_, device);
    std::string index = QS802DeviceClass::indexWithVID(id.vid, id.pid, id.mid, id.transport);
    auto listed = std::find_if(list.begin(), list.end(),
                               [&](const auto& element) { return QS802DeviceClass::compareIndex(element.first, index); });
    if (listed == list.end()) {
      list.emplace_back(std::move(index), device);
    } else {
      auto mine = device->cursorSpeedDate();
      auto theirs = listed->second->cursorSpeedDate();
      if (mine && (!theirs || mine->seconds > theirs->seconds)) listed->second = device;
    }
  }
  if (list.empty()) return;
  if (!machineIdentifier_) machineIdentifier_ = std::make_unique<QS836MachineIdentifier>(platform_, errors_.stack, settings_.sharingSaltPath);
  for (const auto& [index, device] : list) {
    if (QS836uploadCursorSpeedFromApp(platform_, *machineIdentifier_, device, std::nullopt))
      logActivity("shared the speed of " + textForLog(device->displayName()));
  }
}

}  // namespace vl
