// The pane's device list: loading it, keeping the user's selection across visits, and following
// the devices the watcher announces (a new device gets its record with five favourites).
#include "core/system/alerts.h"
#include "core/hid/pointer_parameters.h"
#include "core/hid/registry_search.h"
#include "core/store/device_record.h"
#include "core/store/user_info_record.h"
#include "pane/controller/pane_controller.h"

namespace vl {

void quillon_Velmora_prefpane::loadDeviceList() {
  if (!managedObjectContext_) return;
  // Shift alone at load time lists every stored device, also those no driver drives now.
  deviceList_.setFiltersByDriver(!window_.modifierFlags().shiftAlone());
  deviceList_.fetch(managedObjectContext_.get());
}

void quillon_Velmora_prefpane::restoreDeviceListSelection() {
  std::optional<std::string> wanted = userInfo_ ? userInfo_->vlDeviceSelectedIndex() : std::nullopt;
  if (wanted) {
    for (size_t i = 0; i < deviceList_.count(); ++i)
      if (deviceList_.row(i)->isEqualToIndex(*wanted)) {
        (void)deviceList_.setSelectionIndex(i);
        autoSelectedDevice_ = nullptr;
        return;
      }
  }
  (void)deviceList_.setSelectionIndex(deviceList_.count() ? std::optional<size_t>(0) : std::nullopt);
  autoSelectedDevice_ = selectedDevice();
}

void quillon_Velmora_prefpane::followLastSelectedDevice() {
  if (!deviceList_.count()) return;
  QS802DeviceClass* selected = selectedDevice();
  if (!selected) {
    // The first device to appear is shown until the one the user chose last comes, if it does.
    restoreDeviceListSelection();
    return;
  }
  // The user has chosen since: their choice stays.
  if (selected != autoSelectedDevice_) return;
  std::optional<std::string> wanted = userInfo_ ? userInfo_->vlDeviceSelectedIndex() : std::nullopt;
  if (!wanted || selected->isEqualToIndex(*wanted)) return;
  for (size_t i = 0; i < deviceList_.count(); ++i)
    if (deviceList_.row(i)->isEqualToIndex(*wanted)) {
      (void)deviceList_.setSelectionIndex(i);
      autoSelectedDevice_ = nullptr;
      return;
    }
}

void quillon_Velmora_prefpane::saveDeviceListSelection() {
  QS802DeviceClass* device = selectedDevice();
  // A device the pane picked while the user's own choice was away is not the user's choice.
  if (device && device == autoSelectedDevice_) return;
  if (userInfo_ && device) userInfo_->setVlDeviceSelectedIndex(device->index());
}

int32_t quillon_Velmora_prefpane::installDeviceNotify() {
  if (!connectedDeviceNotifier_) {
    connectedDeviceNotifier_ = QS825ConnectedDeviceNotifier::connectedDeviceNotifierWithController(
        ConnectedDevicePorts::from(platform_), this, &settings_.bundle, std::string(velmora::kPaneBundleID));
    if (!connectedDeviceNotifier_) return 1130025;
  }
  return 0;
}

void quillon_Velmora_prefpane::removeDeviceNotify() {
  if (connectedDeviceNotifier_) connectedDeviceNotifier_->finishAllDevices();
  connectedDeviceNotifier_.reset();
}

bool quillon_Velmora_prefpane::respondsTo(Message m) const { return m == Message::Notify; }

void quillon_Velmora_prefpane::connectedDeviceNotify(const ServiceRef& service, bool attached) {
  if (attached && !VL722isSupportedServiceClient(platform_, service.get())) return;
  if (int32_t r = updateDeviceListWithClient(service, attached)) fatal(nullptr, nullptr, r, 1130054);
}

int32_t quillon_Velmora_prefpane::updateDeviceListWithClient(const ServiceRef& service, bool attached) {
  if (!managedObjectContext_) return 0;
  if (attached) {
    if (int32_t r = addClientToDevice(service)) {
      QS810stackError(nullptr, r);
      return 1240175;
    }
  } else {
    removeClientFromDevice(service);
  }
  if (!managedObjectContext_) return 0;
  updateDeviceStatusIcon();
  followLastSelectedDevice();
  // The selected device's status may have changed without a store change.
  notifyCurve(kObservedStatus);
  removeAllUndoActions();
  return 0;
}

QS802DeviceClass* quillon_Velmora_prefpane::deviceWithClient(const ServiceRef& service) {
  if (!managedObjectContext_ || !service) return nullptr;
  RegistryId entry = 0;
  if (int32_t r = QS852createRegistryAndReturnError(platform_, service.get(), &entry)) {
    fatal(nullptr, nullptr, r, 1240102);
    return nullptr;
  }
  ManagedObjectContext* ctx = managedObjectContext_.get();
  QS802DeviceClass* device = QS814fetchDeviceForLocationID(entry, ctx);
  if (!device) {
    uint32_t vid = 0, pid = 0, mid = 0;
    std::optional<std::string> transport;
    QS852getDeviceInfo(service.get(), &vid, &pid, &mid, &transport, nullptr, nullptr);
    device = QS814fetchDevice(vid, pid, mid, transport.value_or(""), ctx);
    if (!device) {
      device = VL714insertDefinedDevice(definitions_, vid, pid, mid, transport.value_or(""), entry, ctx, -1, -1);
      if (!device) {
        fatal(nullptr, nullptr, 0, 1240123);
        return nullptr;
      }
      deviceList_.fetch(ctx);
    }
  }
  return device;
}

int32_t quillon_Velmora_prefpane::addClientToDevice(const ServiceRef& service) {
  QS802DeviceClass* device = deviceWithClient(service);
  if (!device) return 1240147;
  if (int32_t r = device->VL702addClient(service)) {
    QS810stackError(nullptr, r);
    return 1240150;
  }
  return 0;
}

void quillon_Velmora_prefpane::removeClientFromDevice(const ServiceRef& service) {
  if (QS802DeviceClass* device = QS814fetchDeviceForClient(service.get(), managedObjectContext_.get()))
    device->VL702removeClient(service);
}

}  // namespace vl
