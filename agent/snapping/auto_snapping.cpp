// The snapping engine: choosing the setting, the worker's life, and one pass of it.
#include "agent/snapping/auto_snapping.h"

#include <climits>

#include "agent/snapping/ax_helpers.h"
#include "agent/snapping/button_search.h"
#include "agent/snapping/cursor_motion.h"
#include "core/store/app_record.h"
#include "core/system/versions.h"
#include "platform/api/cursor.h"
#include "platform/api/desktop.h"
#include "platform/api/platform.h"
#include "platform/api/sleeper.h"

namespace vl {

namespace {

inline constexpr const char* kControlCenterBundleID = "com.apple.controlcenter";

}  // namespace

std::vector<SnappingApp> snappingAppsFromRecords(const std::vector<QS803AppClass*>& records) {
  std::vector<SnappingApp> out;
  out.reserve(records.size());
  for (const QS803AppClass* r : records) {
    if (!r) continue;
    SnappingApp a;
    a.isDefault = r->isDefault();
    a.matchingKey = r->matchingKey();
    auto ix = r->snappingIX();
    a.snappingIX = ix && *ix < kSnapNotFound ? static_cast<unsigned>(*ix) : kSnapNotFound;
    a.jump = r->snappingJump();
    a.bounce = r->snappingBounce();
    out.push_back(std::move(a));
  }
  return out;
}

AutoSnapping::Ports AutoSnapping::Ports::from(const Platform& p) {
  return Ports{p.accessibility, p.desktop, p.workspace, p.cursor, p.screens, p.sleeper, p.paths, p.system};
}

AutoSnapping::AutoSnapping(const Ports& ports, ErrorStack& errors) : ports_(ports), errors_(errors) {}

AutoSnapping::~AutoSnapping() {
  int p = kPolling;
  phase_.compare_exchange_strong(p, kStopping);
  if (thread_.joinable()) thread_.join();
}

void AutoSnapping::startAutoCursorSnapping(const std::vector<SnappingApp>* list, const RunningApplication* app) {
  const SnappingApp* chosen = nullptr;
  if (list && !list->empty()) {
    std::optional<RunningApplication> target;
    if (app) target = *app;
    else if (Desktop* d = ports_.desktop) target = d->frontmostApplication();
    const SnappingApp* byDefault = nullptr;
    const SnappingApp* byApp = nullptr;
    for (const SnappingApp& r : *list) {
      if (r.isDefault) byDefault = &r;
      else if (target && QS803AppClass::compareMatchingKeyToProc(ports_.workspace, r.matchingKey, *target)) byApp = &r;
      if (byDefault && byApp) break;
    }
    chosen = byApp && byApp->snappingIX != kSnapSameAsDefault ? byApp : byDefault;
  }
  startAutoCursorSnappingToItem(chosen ? chosen->snappingIX : 0, chosen && chosen->jump, chosen && chosen->bounce);
}

void AutoSnapping::startAutoCursorSnappingToItem(unsigned index, bool jump, bool bounce) {
  target_.store(index);
  jump_.store(jump);
  bounce_.store(bounce);
  Accessibility* ax = ports_.accessibility;
  if (index > kSnapNone && ax && ax->isProcessTrusted()) {
    // A worker that was asked to stop but has not left yet simply goes on with the new values;
    // starting a second one beside it, or leaving the stop in place, would both be wrong.
    int p = kStopping;
    if (phase_.compare_exchange_strong(p, kPolling) || p == kPolling) return;
    // No worker, or one that is only releasing its elements on the way out.
    if (thread_.joinable()) thread_.join();
    if (phase_.load() != kIdle) return;  // a kept loop (tests) has not finished yet
    phase_.store(kPolling);
    paused_.store(false);
    if (!fixedCancelTitle_) cancelTitle_ = QS812localizedCancelButtonTitle(ports_.paths, ports_.system);
    if (spawner_) spawner_([this] { workerLoop(); });
    else thread_ = std::thread([this] { workerLoop(); });
  } else {
    int p = kPolling;
    phase_.compare_exchange_strong(p, kStopping);
  }
}

void AutoSnapping::pauseAutoCursorSnapping(bool paused) { paused_.store(paused); }

void AutoSnapping::waitForWorker() {
  if (thread_.joinable()) thread_.join();
}

bool AutoSnapping::leaveIfAsked() {
  int p = kStopping;
  return phase_.compare_exchange_strong(p, kLeaving);
}

void AutoSnapping::workerLoop() {
  ThreadSleeper fallback;
  Sleeper& sleeper = ports_.sleeper ? *ports_.sleeper : fallback;
  if (!leaveIfAsked()) {
    for (;;) {
      // A pass that finds no target or cannot move simply waits for the next one.
      if (!paused_.load()) (void)moveCursorToItem(target_.load(), jump_.load(), bounce_.load());
      sleeper.sleep(kSnappingPassInterval);
      if (leaveIfAsked()) break;
    }
  }
  focusedApp_.reset();
  focusedWindow_.reset();
  targetWindow_.reset();
  phase_.store(kIdle);
}

const std::string& AutoSnapping::cancelTitle() {
  if (cancelTitle_.empty()) cancelTitle_ = QS812localizedCancelButtonTitle(ports_.paths, ports_.system);
  return cancelTitle_;
}

int32_t AutoSnapping::updateFocusedElement() {
  const Ports& p = ports_;
  AXElementRef app, window;
  // A failed read leaves both empty, which counts as no focused window.
  (void)QS842copyFocusedElement(p.accessibility, p.desktop, &app, &window);
  bool controlCenter = false;
  int32_t pid = 0;
  if (app && p.accessibility && p.desktop && p.accessibility->getPid(app, &pid) == kAXErrorSuccess) {
    auto running = p.desktop->runningApplication(pid);
    controlCenter = running && running->bundleIdentifier == kControlCenterBundleID;
  }
  if (controlCenter || axEqual(window, focusedWindow_)) {
    if (focusedWindowCount_ < INT32_MAX) ++focusedWindowCount_;
  } else {
    focusedApp_ = std::move(app);
    focusedWindow_ = window;
    focusedWindowCount_ = 0;
    if (window && p.cursor) cursorPosition_ = p.cursor->location();
  }
  return focusedWindowCount_;
}

int32_t AutoSnapping::moveCursorToItem(unsigned index, bool jump, bool bounce) {
  const Ports& p = ports_;
  Accessibility* ax = p.accessibility;
  Cursor* cursor = p.cursor;
  if (!cursor) return 0;

  // Move back when the window snapped into has gone, unless Shift is held.
  if (targetWindow_ && bounce && (cursor->hidModifierFlags() & kCGEventFlagMaskShift) == 0) {
    bool minimized = false;
    int32_t err = axBool(ax, targetWindow_, kAXMinimizedAttribute, &minimized);
    bool gone = err == kAXErrorInvalidUIElement || err == kAXErrorCannotComplete || (err == kAXErrorSuccess && minimized);
    if (!gone) {
      bool hidden = false;
      gone = axBool(ax, focusedApp_, kAXHiddenAttribute, &hidden) == kAXErrorSuccess && hidden;
    }
    if (gone) {
      Point at = cursor->location();
      // Only when the user left the cursor where it was put.
      // A failed move back leaves the cursor with the user; there is nothing to undo.
      if (rectContainsPoint(snappingRect_, at)) (void)QS846moveCursor(cursor, p.sleeper, errors_, jump, at, snappingFromPosition_);
      targetWindow_.reset();
    }
  }

  // Snap once, on the first pass after a new window got the focus.
  if (updateFocusedElement() != 1) return 0;
  targetWindow_.reset();
  if (cursor->currentButtonState() != 0) return 0;
  Point from = cursor->location();
  if (!rectContainsPoint(squareAround(from, kFocusSquareRadius), cursorPosition_)) return 0;
  if (index < kSnapDefaultButton || index > kSnapFullscreenButton) return 0;

  Point target;
  int32_t err = 0;
  switch (index) {
    case kSnapDefaultButton:
      if (QS842elementAttrPosition(ax, p.screens, errors_, focusedWindow_, kAXDefaultButtonAttribute, &target) != 0)
        err = QS844buttonPosition(ax, p.screens, focusedWindow_, kButtonKindDefault, &target, cancelTitle());
      break;
    case kSnapCancelButton:
      if (QS842elementAttrPosition(ax, p.screens, errors_, focusedWindow_, kAXCancelButtonAttribute, &target) != 0)
        err = QS844buttonPosition(ax, p.screens, focusedWindow_, kButtonKindCancel, &target, cancelTitle());
      break;
    case kSnapCloseButton:
      err = QS842elementAttrPosition(ax, p.screens, errors_, focusedWindow_, kAXCloseButtonAttribute, &target);
      break;
    case kSnapMinimizeButton:
      err = QS842elementAttrPosition(ax, p.screens, errors_, focusedWindow_, kAXMinimizeButtonAttribute, &target);
      break;
    default:
      err = QS842elementAttrPosition(ax, p.screens, errors_, focusedWindow_, kAXZoomButtonAttribute, &target);
      break;
  }
  if (err) return err;

  // A failed move still marks the window as snapped: it is not tried again on every pass.
  (void)QS846moveCursor(cursor, p.sleeper, errors_, jump, from, target);
  targetWindow_ = focusedWindow_;
  snappingRect_ = squareAround(target, kSnappingSquareRadius);
  snappingFromPosition_ = from;
  return 0;
}

void QS841startAutoCursorSnapping(AutoSnapping& engine, const std::vector<QS803AppClass*>* list,
                                  const RunningApplication* app) {
  if (!list) {
    engine.startAutoCursorSnapping(nullptr, app);
    return;
  }
  std::vector<SnappingApp> apps = snappingAppsFromRecords(*list);
  engine.startAutoCursorSnapping(&apps, app);
}

void QS841startAutoCursorSnappingToItem(AutoSnapping& engine, unsigned index, bool jump, bool bounce) {
  engine.startAutoCursorSnappingToItem(index, jump, bounce);
}

void QS841pauseAutoCursorSnapping(AutoSnapping& engine, bool paused) { engine.pauseAutoCursorSnapping(paused); }

int32_t QS841moveCursorToItem(AutoSnapping& engine, unsigned index, bool jump, bool bounce) {
  return engine.moveCursorToItem(index, jump, bounce);
}

int32_t QS841updateFocusedElement(AutoSnapping& engine) { return engine.updateFocusedElement(); }

}  // namespace vl
