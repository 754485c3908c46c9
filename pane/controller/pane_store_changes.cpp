// Telling the agent of saved changes: the pane watches its store, and 0.1 s after the last
// change of a record it saves and posts the matching command. Also keeps the lists and the graph
// in step with what changed.
#include <algorithm>

#include "core/system/alerts.h"
#include "core/store/app_record.h"
#include "core/store/cursor_speed_record.h"
#include "core/store/device_record.h"
#include "core/system/boa_notifications.h"
#include "pane/controller/pane_controller.h"
#include "platform/api/runloop.h"

namespace vl {

namespace {

constexpr const char* kChangeCursorSpeed = "changeCursorSpeed:";
constexpr const char* kChangeCursorSpeedDisabled = "changeCursorSpeedDisabled:";
constexpr const char* kChangeCursorSpeedLocked = "changeCursorSpeedLocked:";
constexpr const char* kChangeSnapping = "changeSnapping";
constexpr const char* kSaveApplications = "saveApplications";
constexpr double kNotifyDelay = 0.1;

bool isSnappingChange(const QS803AppClass* app) {
  if (!app->isSnappingApp()) return false;
  std::optional<size_t> ix = app->snappingIX();
  return !ix || *ix != 0;
}

}  // namespace

std::vector<ManagedObject*> quillon_Velmora_prefpane::objectsForEntityName(const std::string& entityName,
                                                                            const std::vector<ManagedObject*>& objects) {
  std::vector<ManagedObject*> out;
  for (ManagedObject* o : objects)
    if (o && entityName == o->entityName()) out.push_back(o);
  return out;
}

ManagedObject* quillon_Velmora_prefpane::anyObjectForEntityName(const std::string& entityName,
                                                               const std::vector<ManagedObject*>& objects) {
  for (ManagedObject* o : objects)
    if (o && entityName == o->entityName()) return o;
  return nullptr;
}

void quillon_Velmora_prefpane::registerMOCNotification() {
  if (!managedObjectContext_ || mocToken_) return;
  mocToken_ = managedObjectContext_->addObjectsDidChangeObserver(
      [this](const ObjectsDidChange& change) { mocNotification(change); });
}

void quillon_Velmora_prefpane::removeMOCNotification() {
  if (RunLoop* rl = platform_.runLoop) rl->cancelAllPerforms(this);
  if (mocToken_ && managedObjectContext_) managedObjectContext_->removeObjectsDidChangeObserver(mocToken_);
  mocToken_ = 0;
}

void quillon_Velmora_prefpane::mocNotification(const ObjectsDidChange& change) {
  // Commands for the agent.
  for (ManagedObject* o : objectsForEntityName("Device", change.updated)) {
    auto* device = static_cast<QS802DeviceClass*>(o);
    if (change.changed(o, "cursorSpeedDisabled")) boaDelayedNotifySelector(kChangeCursorSpeedDisabled, device);
    if (change.changed(o, "cursorSpeedSelectedIndex"))
      if (QS805CursorSpeedClass* cs = device->selectedCursorSpeed()) boaDelayedNotifySelector(kChangeCursorSpeed, cs);
  }
  bool snapping = false;
  for (const auto* set : {&change.inserted, &change.deleted}) {
    for (ManagedObject* o : objectsForEntityName("Application", *set))
      if (isSnappingChange(static_cast<QS803AppClass*>(o))) snapping = true;
  }
  if (!snapping) {
    for (ManagedObject* o : objectsForEntityName("Application", change.updated)) {
      auto it = change.changedKeys.find(o);
      if (it == change.changedKeys.end()) continue;
      const auto& keys = it->second;
      if (keys.size() > 1 || (keys.size() == 1 && keys.front() != "name")) {
        snapping = true;
        break;
      }
    }
  }
  if (snapping) {
    boaDelayedNotifySelector(kChangeSnapping, nullptr);
  } else if (!objectsForEntityName("Application", change.inserted).empty() ||
             !objectsForEntityName("Application", change.updated).empty()) {
    // A new row (or a new name) that changes no snapping is saved all the same, as soon as it
    // is made: it must not wait for the sheet to close, nor be lost if the program ends first.
    boaDelayedNotifySelector(kSaveApplications, nullptr);
  }
  bool selectedValues = false;
  QS805CursorSpeedClass* selected = cursorSpeedList_.selectedObject();
  for (ManagedObject* o : objectsForEntityName("CursorSpeed", change.updated)) {
    auto* cs = static_cast<QS805CursorSpeedClass*>(o);
    bool values = change.changed(o, "sensitivity") || change.changed(o, "trackingSpeed") || change.changed(o, "disableAccl");
    if (values) boaDelayedNotifySelector(kChangeCursorSpeed, cs);
    if (change.changed(o, "isLocked")) boaDelayedNotifySelector(kChangeCursorSpeedLocked, cs);
    if (values && cs == selected) selectedValues = true;
  }

  // The lists and the graph.
  bool refetch = !objectsForEntityName("Device", change.inserted).empty() ||
                 !objectsForEntityName("Device", change.deleted).empty();
  QS802DeviceClass* shown = cursorSpeedList_.device();
  bool favourites = !objectsForEntityName("CursorSpeed", change.inserted).empty() ||
                    !objectsForEntityName("CursorSpeed", change.deleted).empty();
  for (ManagedObject* o : objectsForEntityName("Device", change.updated)) {
    if (change.changed(o, "name") || change.changed(o, "registryName")) refetch = true;
    if (o == shown && (change.changed(o, "cursorSpeedSelectedIndex") || change.changed(o, "cursorSpeeds"))) favourites = true;
  }
  if (refetch && managedObjectContext_) deviceList_.fetch(managedObjectContext_.get());
  if (favourites)
    cursorSpeedList_.refresh();
  else if (!objectsForEntityName("CursorSpeed", change.updated).empty())
    window_.reloadCursorSpeedTable();
  if (selectedValues) notifyCurve(kObservedSensitivity);
}

void quillon_Velmora_prefpane::boaDelayedNotifySelector(const char* selector, ManagedObject* object) {
  RunLoop* rl = platform_.runLoop;
  if (!rl) return;
  rl->cancelPerform(this, selector, object);
  std::string name = selector;
  rl->perform(this, selector, kNotifyDelay, [this, name, object] { performChange(name, object); }, object);
}

void quillon_Velmora_prefpane::performChange(const std::string& selector, ManagedObject* object) {
  if (selector == kChangeCursorSpeed)
    changeCursorSpeed(static_cast<QS805CursorSpeedClass*>(object));
  else if (selector == kChangeCursorSpeedDisabled)
    changeCursorSpeedDisabled(static_cast<QS802DeviceClass*>(object));
  else if (selector == kChangeCursorSpeedLocked)
    changeCursorSpeedLocked(static_cast<QS805CursorSpeedClass*>(object));
  else if (selector == kChangeSnapping)
    changeSnapping();
  else if (selector == kSaveApplications && managedObjectContext_)
    (void)saveMOC();
}

// --- The handlers ----------------------------------------------------------------------------------

void quillon_Velmora_prefpane::changeCursorSpeed(QS805CursorSpeedClass* cs) {
  if (!managedObjectContext_ || !cs) return;
  if (!saveMOC()) return;
  QS802DeviceClass* device = cs->device();
  // A favourite deleted with its device in the meantime has nobody to tell.
  if (!device) return;
  (void)QS824postCursorSpeedNotification(platform_.notifications, device->vid(), device->pid(), device->mid(),
                                         device->transport().value_or(""), settings_.bundle.identifier,
                                         cs->sensitivity(), cs->trackingSpeed(), cs->disableAccl());
}

void quillon_Velmora_prefpane::changeCursorSpeedDisabled(QS802DeviceClass* device) {
  if (!managedObjectContext_ || !device) return;
  updateDeviceStatusIcon();
  if (saveMOC())
    (void)QS824postCursorSpeedActivateNotification(platform_.notifications, device->vid(), device->pid(), device->mid(),
                                                   device->transport().value_or(""), settings_.bundle.identifier,
                                                   device->cursorSpeedDisabled());
  if (managedObjectContext_) removeAllUndoActions();
}

void quillon_Velmora_prefpane::changeCursorSpeedLocked(QS805CursorSpeedClass* cs) {
  if (!managedObjectContext_) return;
  if (saveMOC()) removeAllUndoActions();
}

void quillon_Velmora_prefpane::changeSnapping() {
  if (!managedObjectContext_) return;
  if (saveMOC())
    (void)QS824postAutoCursorSnappingNotification(platform_.notifications, std::nullopt, settings_.bundle.identifier, std::nullopt,
                                                  std::nullopt, std::nullopt, std::nullopt);
  if (managedObjectContext_ && window_.attachedSheets().empty()) removeAllUndoActions();
}

bool quillon_Velmora_prefpane::saveMOC() {
  if (!managedObjectContext_) return false;
  window_.rememberKeyControl();
  if (!window_.commitEditing()) return false;
  QS802DeviceClass* device = selectedDevice();
  if (device && !device->isDeleted()) device->updateCursorSpeedDate();
  ErrorInfo error;
  if (int32_t r = QS814saveMOC(managedObjectContext_.get(), &error)) {
    // The store cannot take the changes: drop it before the fatal end, so nothing else writes.
    removeMOCNotification();
    removeUndoNotification();
    removeDeviceNotify();
    closeStore();
    AbendAppNSError(platform_, errors_, &error, r, 1001064);
    return false;
  }
  window_.restoreKeyControl();
  return true;
}

void quillon_Velmora_prefpane::updateDeviceStatusIcon() {
  if (managedObjectContext_) deviceList_.fetch(managedObjectContext_.get());
  window_.reloadDeviceTable();
}

void quillon_Velmora_prefpane::restoreCursorSpeed() {
  if (QS802DeviceClass* device = selectedDevice())
    if (QS805CursorSpeedClass* cs = device->selectedCursorSpeed()) cs->restoreCursorSpeed();
}

}  // namespace vl
