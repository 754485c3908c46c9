// The controller's snapping operations over the engine, the store and the platform's ports.
#include "agent/snapping/snapping_controller.h"

#include "agent/snapping/ax_helpers.h"
#include "core/system/alerts.h"
#include "core/store/app_record.h"
#include "core/system/drovana.h"
#include "platform/api/accessibility.h"
#include "platform/api/platform.h"
#include "platform/api/user_defaults.h"
#include "platform/api/runloop.h"

namespace vl {

namespace {
inline constexpr double kAXUpdateDelay = 0.5;
}

SnappingController::Ports SnappingController::Ports::from(const Platform& p) {
  return Ports{p.runLoop, p.desktop, p.notifications, p.accessibility, p.defaults, AlertPorts::from(p),
               AutoSnapping::Ports::from(p)};
}

SnappingController::SnappingController(const Ports& ports, ErrorContext errors,
                                       std::function<ManagedObjectContext*()> context, AutoSnapping* engine)
    : ports_(ports),
      errors_(errors),
      context_(std::move(context)),
      ownEngine_(engine ? nullptr : std::make_unique<AutoSnapping>(ports.engine, errors.stack)),
      engine_(engine ? *engine : *ownEngine_) {}

SnappingController::~SnappingController() {
  removeAppWatcher();
  removeAXNotify();
  if (RunLoop* rl = ports_.runLoop) rl->cancelAllPerforms(this);
  if (snappingStarted_) stopAutoSnapping();
  // The worker uses the platform's ports: it must be gone before they are.
  if (engine_.stopRequested()) engine_.waitForWorker();
}

void SnappingController::fetchSnappingAppList() {
  ManagedObjectContext* ctx = context_ ? context_() : nullptr;
  auto records = QS803AppClass::fetchAllSnappingApps(errors_.stack, ctx);
  snappingAppList_ = records ? snappingAppsFromRecords(*records) : std::vector<SnappingApp>{};
}

void SnappingController::startAutoSnapping() {
  if (snappingStarted_) return;
  if (!context_ || !context_()) {
    AbendApp(ports_.alerting.platform(), errors_, nullptr, nullptr, 0, 1140021);
    return;
  }
  fetchSnappingAppList();
  engine_.startAutoCursorSnapping(&snappingAppList_, nullptr);
  startAppWatcher();
  snappingStarted_ = true;
}

void SnappingController::stopAutoSnapping() {
  if (!snappingStarted_) return;
  snappingAppList_.clear();
  engine_.startAutoCursorSnapping(nullptr, nullptr);
  removeAppWatcher();
  snappingStarted_ = false;
  // Stopping comes at quit or when the sibling agent takes over: the worker (at most a pass
  // and a pause away) must not outlive the ports it uses.
  engine_.waitForWorker();
}

void SnappingController::setAutoSnappingTarget(const RunningApplication& app) {
  if (snappingStarted_) engine_.startAutoCursorSnapping(&snappingAppList_, &app);
}

void SnappingController::reloadSnappingAppList() {
  if (!snappingStarted_) return;
  fetchSnappingAppList();
  engine_.startAutoCursorSnapping(&snappingAppList_, nullptr);
}

void SnappingController::startAppWatcher() {
  Desktop* desktop = ports_.desktop;
  if (desktop && !appWatcher_) {
    watchedDesktop_ = desktop;
    appWatcher_ = desktop->observeActivation([this](const RunningApplication& app) { foremostAppActivated(&app); });
  }
  foremostAppActivated(nullptr);
}

void SnappingController::removeAppWatcher() {
  if (watchedDesktop_ && appWatcher_) watchedDesktop_->unobserveActivation(appWatcher_);
  watchedDesktop_ = nullptr;
  appWatcher_ = 0;
}

void SnappingController::foremostAppActivated(const RunningApplication* app) {
  Desktop* desktop = ports_.desktop;
  std::optional<RunningApplication> target;
  if (app) target = *app;
  else if (desktop) target = desktop->frontmostApplication();
  if (!target || !desktop) return;
  // Menu-bar helpers and background processes never change the setting.
  if (desktop->activationPolicy(target->processIdentifier) != kActivationPolicyRegular) return;
  setAutoSnappingTarget(*target);
}

void SnappingController::installAXNotify() {
  Notifications* n = ports_.notifications;
  if (!n || axObserver_) return;
  axNotifications_ = n;
  axObserver_ = n->addObserver(kAXApiChangedNotification,
                               [this](const std::string&, const std::string&, const pl::Dict&) { axNotify(); });
}

void SnappingController::removeAXNotify() {
  if (axNotifications_ && axObserver_) axNotifications_->removeObserver(axObserver_);
  axNotifications_ = nullptr;
  axObserver_ = 0;
}

void SnappingController::axNotify() {
  // The system posts the notification before the new permission reads back.
  if (RunLoop* rl = ports_.runLoop)
    rl->perform(this, "updateAXEnabled", kAXUpdateDelay, [this] { updateAXEnabled(); });
}

void SnappingController::updateAXEnabled() {
  if (int32_t err = QS842updateAXEnabled(ports_.accessibility, ports_.desktop, ports_.defaults, errors_.stack, axFlagWindow_,
                                           velmora::kAgentBundleID))
    AbendApp(ports_.alerting.platform(), errors_, nullptr, nullptr, err, 1750048);
}

void SnappingController::pause(bool paused) { engine_.pauseAutoCursorSnapping(paused); }

void SnappingController::axWarning() {
  if (Accessibility* ax = ports_.accessibility) ax->isProcessTrustedWithOptions(true);
}

}  // namespace vl
