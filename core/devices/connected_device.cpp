// Connected-device tracking: standby times, debounce, user-activity gating, the Unifying
// receiver's pairing exchange, and session and system-speed events.
#include "core/devices/connected_device.h"

#include <algorithm>
#include <cctype>

#include "core/hid/fixed_point.h"
#include "core/hid/registry_search.h"
#include "core/plist/ascii_text.h"
#include "core/system/drovana.h"
#include "platform/api/platform.h"
#include "platform/api/runloop.h"

namespace vl {

namespace {

}  // namespace

const char* QS826ConnectedDevice::stepName(Step step) {
  switch (step) {
    case Step::AfterStandbyTime: return "afterStandbyTime";
    case Step::Detached: return "detached";
    case Step::LogitechUnifyingInfo: return "logitechUnifyingInfo";
    case Step::None: break;
  }
  return "";
}

// --- QS826ConnectedDevice ------------------------------------------------------------------------

std::shared_ptr<QS826ConnectedDevice> QS826ConnectedDevice::connectedDeviceWithClient(
    const ServiceRef& service, bool attached, double standbyTime, QS825ConnectedDeviceNotifier* notifier) {
  if (!service || !notifier) {
    QS810stackError(nullptr, 8260026);
    return nullptr;
  }
  std::shared_ptr<QS826ConnectedDevice> d(new QS826ConnectedDevice());  // private constructor
  d->serviceClient_ = service;
  d->isAttached_ = attached;
  d->standbyTime_ = standbyTime;
  d->notifier_ = notifier;
  d->ports_ = notifier->ports();
  return d;
}

QS826ConnectedDevice::~QS826ConnectedDevice() { cancelSteps(); }

void QS826ConnectedDevice::cancelSteps() {
  if (RunLoop* rl = ports_.runLoop) rl->cancelAllPerforms(this);
}

void QS826ConnectedDevice::perform(Step step) {
  switch (step) {
    case Step::AfterStandbyTime: afterStandbyTime(); break;
    case Step::Detached: detached(); break;
    case Step::LogitechUnifyingInfo: logitechUnifyingInfo(); break;
    case Step::None: break;
  }
}

bool QS826ConnectedDevice::isUserDeactiveSetContinueProcess(Step step) {
  if (notifier_ && !notifier_->isUserActive()) {
    nextProcess_ = step;
    return true;
  }
  return false;
}

void QS826ConnectedDevice::attached() {
  if (isFinished()) return;
  cancelSteps();
  RunLoop* rl = ports_.runLoop;
  if (!rl) return;
  std::weak_ptr<QS826ConnectedDevice> weak = weak_from_this();
  rl->perform(this, stepName(Step::AfterStandbyTime), standbyTime_, [weak] {
    if (auto self = weak.lock()) self->afterStandbyTime();
  });
}

void QS826ConnectedDevice::afterStandbyTime() {
  if (isFinished()) return;
  if (isUserDeactiveSetContinueProcess(Step::AfterStandbyTime)) return;
  if (!isHIDDeviceAvailable()) {
    notifyFinishedAndFinish();
    return;
  }
  uint32_t mid = 0;
  QS852getDeviceInfo(serviceClient_.get(), &vendorID_, &productID_, &mid, nullptr, nullptr, nullptr);
  if (vendorID_ == kLogitechVendorID && mid == 0) {
    startLogitechUnifyingInfo();
    return;
  }
  announce(true);
}

bool QS826ConnectedDevice::isHIDDeviceAvailable() {
  RegistryId entry = 0;
  if (QS852createRegistryAndReturnError(ports_.registry, serviceClient_.get(), &entry) != 0) return false;
  RegistryId device = QS822createParentRegistry(ports_.registry, entry, "IOHIDDevice");
  if (device == 0 || !ports_.hidDevices) return false;
  return ports_.hidDevices->createDevice(device) != nullptr;
}

void QS826ConnectedDevice::startLogitechUnifyingInfo() {
  std::optional<pl::Value> location;
  QS852getDeviceInfo(serviceClient_.get(), nullptr, nullptr, nullptr, nullptr, &location, nullptr);
  if (location) {
    cmdDevice_ = QS822createLogitechHID(ports_.registry, ports_.hidDevices, location);
    if (cmdDevice_ && cmdDevice_->open() == kIOReturnSuccess) {
      logitechUnifyingInfo();
      return;
    }
    cmdDevice_.reset();
  }
  announce(true);
}

void QS826ConnectedDevice::logitechUnifyingInfo() {
  cancelSteps();
  if (isFinished()) return;
  if (isUserDeactiveSetContinueProcess(Step::LogitechUnifyingInfo)) return;

  uint32_t mid = 0;
  uint8_t index = 0;
  QS852getDeviceInfo(serviceClient_.get(), nullptr, nullptr, &mid, nullptr, nullptr, &index);
  if (mid == 0) {
    if (!cmdDevice_) {
      announce(true);
      return;
    }
    auto elements = cmdDevice_->copyMatchingElements(pl::Dict{{"ReportID", 16}, {"Type", 2}});
    std::unique_ptr<HidQueue> queue = elements.empty() ? nullptr : cmdDevice_->createQueue(10);
    if (!queue) {
      announce(true);
      return;
    }
    queue->addElement(static_cast<uint32_t>(pl::Value(elements.front()).integerFor("ElementCookie").value_or(0)));
    if (int32_t r = cmdDevice_->setReport(kIOHIDReportTypeOutput, 0x10, pl::Data{0x10, 0xFF, 0x80, 0x00, 0x00, 0x09, 0x00})) {
      QS810stackError(nullptr, r);
      QS810stackError(nullptr, 8260366);
      announce(true);
      return;
    }
    HidDevices* devices = ports_.hidDevices;
    if (devices) devices->pause(0.2);
    queue->start();
    if (int32_t r = cmdDevice_->setReport(kIOHIDReportTypeOutput, 0x10, pl::Data{0x10, 0xFF, 0x80, 0x02, 0x02, 0x00, 0x00})) {
      QS810stackError(nullptr, r);
      QS810stackError(nullptr, 8260373);
      announce(true);
      return;
    }
    if (devices) devices->pause(0.1);
    queue->stop();
    bool answered = false;
    for (int i = 0; i < 20; ++i) {
      auto value = queue->copyNextValue();
      if (!value) break;
      if (value->size() != 6) continue;
      uint8_t first = (*value)[0];
      if (first == 7) {
        answered = true;
      } else if (first >= 1 && first <= 6) {
        mid = static_cast<uint32_t>((*value)[4]) | (static_cast<uint32_t>((*value)[5]) << 8);
        index = first;
      }
    }
    if (answered && mid == 0) {
      // The receiver is there but has not reported the paired device yet: ask again later.
      if (RunLoop* rl = ports_.runLoop) {
        std::weak_ptr<QS826ConnectedDevice> weak = weak_from_this();
        rl->perform(this, stepName(Step::LogitechUnifyingInfo), 3.0, [weak] {
          if (auto self = weak.lock()) self->logitechUnifyingInfo();
        });
      }
      return;
    }
  }
  if (int32_t e = QS852setUnifyingInfo(serviceClient_.get(), mid, index)) {
    if (notifier_) notifier_->notifyError(e);
    notifyFinishedAndFinish();
    return;
  }
  announce(true);
}

void QS826ConnectedDevice::detached() {
  if (isFinished()) return;
  cancelSteps();
  if (isUserDeactiveSetContinueProcess(Step::Detached)) return;
  if (!isAttached_) {
    announce(false);
    return;
  }
  notifyFinishedAndFinish();
}

void QS826ConnectedDevice::announce(bool attached) {
  if (notifier_) notifier_->notifyDevice(this, attached);
  notifyFinishedAndFinish();
}

void QS826ConnectedDevice::userBecomeActive() {
  if (isFinished()) return;
  Step step = nextProcess_;
  nextProcess_ = Step::None;
  perform(step);
}

void QS826ConnectedDevice::notifyFinishedAndFinish() {
  auto keep = shared_from_this();  // the notifier drops its reference below
  if (notifier_) notifier_->finishedDevice(this);
  finish();
}

void QS826ConnectedDevice::finish() {
  cancelSteps();
  serviceClient_.reset();
  if (cmdDevice_) cmdDevice_->close();
  cmdDevice_.reset();
  notifier_ = nullptr;
  nextProcess_ = Step::None;
  vendorID_ = productID_ = 0;
}

// --- QS825ConnectedDeviceNotifier ----------------------------------------------------------------

const std::vector<std::string>& QS825ConnectedDeviceNotifier::watchedKeys() {
  static const std::vector<std::string> keys = {
      kHIDMouseAccelerationKey,       kHIDTrackpadAccelerationKey,       kHIDPointerAccelerationKey,
      kHIDMouseScrollAccelerationKey, kHIDTrackpadScrollAccelerationKey, kHIDScrollAccelerationKey};
  return keys;
}

double QS825ConnectedDeviceNotifier::standbyTimeDiffForBundleID(const std::string& bundleID) {
  if (bundleID == drovana::kAgentBundleID) return drovana::kAgentStandbyOffset;
  if (bundleID == drovana::kPaneBundleID) return drovana::kPaneStandbyOffset;
  if (bundleID == velmora::kAgentBundleID) return velmora::kAgentStandbyOffset;
  if (bundleID == velmora::kPaneBundleID) return velmora::kPaneStandbyOffset;
  return 0;
}

std::unique_ptr<QS825ConnectedDeviceNotifier> QS825ConnectedDeviceNotifier::connectedDeviceNotifierWithController(
    const ConnectedDevicePorts& p, ConnectedDeviceController* controller, const BundleInfo* mainBundle, const std::string& bundleID) {
  return connectedDeviceNotifierWithController(p, controller, mainBundle, standbyTimeDiffForBundleID(bundleID));
}

std::unique_ptr<QS825ConnectedDeviceNotifier> QS825ConnectedDeviceNotifier::connectedDeviceNotifierWithController(
    const ConnectedDevicePorts& p, ConnectedDeviceController* controller, const BundleInfo* mainBundle, double standbyTimeDiff) {
  if (!controller) {
    QS810stackError(nullptr, 8250056);
    return nullptr;
  }
  std::unique_ptr<QS825ConnectedDeviceNotifier> n(new QS825ConnectedDeviceNotifier());  // private constructor
  if (mainBundle) {
    n->mainBundle_ = *mainBundle;
    n->hasBundle_ = true;
  }
  n->standbyTimeDiff_ = standbyTimeDiff;
  n->controller_ = controller;
  n->ports_ = p;
  if (p.eventSystem) n->hidService_ = p.eventSystem->createClient();
  if (!n->hidService_) {
    QS810stackError(nullptr, 8250070);
    return nullptr;
  }
  // Without a session to ask, the session counts as neither on the console nor locked.
  SessionState state{false, false};
  if (p.session) state = p.session->current();
  if (p.session) {
    QS825ConnectedDeviceNotifier* self = n.get();
    n->sessionToken_ = p.session->observe([self](SessionEvent e) {
      switch (e) {
        case SessionEvent::BecameActive: self->loginSessionHandler(true); break;
        case SessionEvent::ResignedActive: self->loginSessionHandler(false); break;
        case SessionEvent::ScreenLocked: self->screenLockedNotify(true); break;
        case SessionEvent::ScreenUnlocked: self->screenLockedNotify(false); break;
      }
    });
  }
  if (!state.onConsole) n->loginSessionHandler(false);
  if (state.screenLocked) n->screenLockedNotify(true);

  QS852installServiceNotify(n->hidService_.get(), n.get());

  if (controller->respondsTo(ConnectedDeviceController::Message::CursorSpeedChanged) ||
      controller->respondsTo(ConnectedDeviceController::Message::ScrollSpeedChanged)) {
    QS825ConnectedDeviceNotifier* self = n.get();
    for (const auto& key : watchedKeys())
      n->hidService_->registerPropertyChangedCallback(
          key, [self](const std::string& k, const pl::Value& v) { self->systemSpeedChanged(k, v); });
    n->systemSpeedNotifyInstalled_ = true;
  }
  return n;
}

QS825ConnectedDeviceNotifier::~QS825ConnectedDeviceNotifier() {
  if (hidService_) {
    if (systemSpeedNotifyInstalled_)
      for (const auto& key : watchedKeys()) hidService_->registerPropertyChangedCallback(key, nullptr);
    QS852removeServiceNotify(hidService_.get());
  }
  if (sessionToken_ && ports_.session) ports_.session->unobserve(sessionToken_);
  // Records still in flight must not call back into a notifier that is gone.
  for (auto& d : deviceList_) d->finish();
  deviceList_.clear();
  hidService_.reset();
  controller_ = nullptr;
}

std::shared_ptr<QS826ConnectedDevice> QS825ConnectedDeviceNotifier::deviceForClient(const ServiceRef& service) const {
  for (const auto& d : deviceList_)
    if (isSameService(d->serviceClient(), service)) return d;
  return nullptr;
}

void QS825ConnectedDeviceNotifier::serviceNotify(const ServiceRef& service, bool attached, bool isNew) {
  auto record = deviceForClient(service);
  if (!record) {
    record = QS826ConnectedDevice::connectedDeviceWithClient(service, attached,
                                                             standbyTimeDiff_ + (isNew ? 1.0 : 0.0), this);
    if (!record) return;
    deviceList_.push_back(record);
  }
  if (attached) record->attached();
  else record->detached();
}

void QS825ConnectedDeviceNotifier::loginSessionHandler(bool becameActive) {
  if (becameActive) removeUserStatus(kSessionInactive);
  else addUserStatus(kSessionInactive);
}

void QS825ConnectedDeviceNotifier::screenLockedNotify(bool locked) {
  if (locked) addUserStatus(kScreenLocked);
  else removeUserStatus(kScreenLocked);
}

void QS825ConnectedDeviceNotifier::addUserStatus(uint32_t type) {
  uint32_t before = userStatus_;
  userStatus_ |= type;
  if (userStatus_ == before || !controller_) return;
  using M = ConnectedDeviceController::Message;
  if (type == kSessionInactive && controller_->respondsTo(M::Logout)) controller_->connectedDeviceLogout();
  if (type == kScreenLocked && controller_->respondsTo(M::ScreenLocked)) controller_->connectedDeviceScreenLocked();
}

void QS825ConnectedDeviceNotifier::removeUserStatus(uint32_t type) {
  uint32_t before = userStatus_;
  userStatus_ &= ~type;
  if (userStatus_ == before) return;
  if (isUserActive()) {
    auto copy = deviceList_;
    for (auto& d : copy) d->userBecomeActive();
    using M = ConnectedDeviceController::Message;
    if (controller_) {
      if (type == kSessionInactive || prevRemovedUserStatus_ == static_cast<int32_t>(kSessionInactive)) {
        if (controller_->respondsTo(M::Login)) controller_->connectedDeviceLogin();
      } else if (controller_->respondsTo(M::ScreenUnlocked)) {
        controller_->connectedDeviceScreenUnlocked();
      }
    }
    prevRemovedUserStatus_ = 0;
  } else {
    prevRemovedUserStatus_ = static_cast<int32_t>(type);
  }
}

void QS825ConnectedDeviceNotifier::notifyDevice(QS826ConnectedDevice* record, bool attached) {
  if (!record || !controller_) return;
  if (controller_->respondsTo(ConnectedDeviceController::Message::Notify))
    controller_->connectedDeviceNotify(record->serviceClient(), attached);
}

void QS825ConnectedDeviceNotifier::finishedDevice(QS826ConnectedDevice* record) {
  deviceList_.erase(std::remove_if(deviceList_.begin(), deviceList_.end(),
                                   [record](const std::shared_ptr<QS826ConnectedDevice>& d) { return d.get() == record; }),
                    deviceList_.end());
}

void QS825ConnectedDeviceNotifier::notifyError(int32_t error) {
  if (controller_ && controller_->respondsTo(ConnectedDeviceController::Message::Error))
    controller_->connectedDeviceError(error);
}

void QS825ConnectedDeviceNotifier::finishAllDevices() {
  // Finished records no longer call back, so they are dropped here rather than left in the list.
  auto copy = std::move(deviceList_);
  deviceList_.clear();
  for (auto& d : copy) d->finish();
}

void QS825ConnectedDeviceNotifier::systemSpeedChanged(const std::string& key, const pl::Value& value) {
  if (!isUserActive() || !controller_) return;
  double v = Fix2X(value.intValue());
  std::string lower = pl::asciiLower(key);
  using M = ConnectedDeviceController::Message;
  if (lower.find("scroll") != std::string::npos) {
    if (controller_->respondsTo(M::ScrollSpeedChanged)) controller_->connectedDeviceScrollSpeedChanged(v);
  } else if (controller_->respondsTo(M::CursorSpeedChanged)) {
    controller_->connectedDeviceCursorSpeedChanged(v);
  }
}

}  // namespace vl
