// Device records and device definitions: insertion of a defined device and applying the
// best-matching definition to a record.
#include "core/devices/defined_device.h"

#include <cmath>

#include "core/plist/number_text.h"
#include "core/errors/error_stack.h"
#include "core/store/device_record.h"
#include "core/store/object_context.h"
#include "core/store/store.h"

namespace vl {

namespace {

std::optional<double> numberOfText(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  return pl::parseDecimal(*text);
}

}  // namespace

QS802DeviceClass* VL714insertDefinedDevice(uint32_t vid, uint32_t pid, uint32_t mid, const std::string& transport,
                                           RegistryId registry, ManagedObjectContext* moc, double sensitivity,
                                           double acceleration) {
  QS802DeviceClass* device = QS814insertDeviceWithInfo(vid, pid, mid, transport, registry, moc);
  if (!device) {
    QS810stackError(nullptr, 7140038);
    return nullptr;
  }
  if (!device->insert5CursorSpeedsWithSens(sensitivity, acceleration)) {
    // A record without its favourites must not stay behind to be saved.
    moc->deleteObject(device);
    QS810stackError(nullptr, 7140041);
    return nullptr;
  }
  if (DeviceDefinitionRef definition = QS834deviceDef(vid, pid, mid, transport)) {
    auto name = definition->nameForVID(vid, pid, mid, transport);
    if (name && !name->empty()) device->setRegistryName(*name);
    VL714applyDeviceDefinition(device, definition);
  }
  return device;
}

void VL714applyDeviceDefinition(QS802DeviceClass* device, const DeviceDefinitionRef& definition) {
  if (!device || !definition) return;
  if (auto resolution = definition->pointerResolution()) {
    // Compared as numbers, so "400" and "400.0" do not mark the record as changed.
    if (numberOfText(device->pointerResolution()) != resolution) {
      device->setPointerResolution(pl::formatG(*resolution));
    }
  }
  device->setDeviceDefinition(definition);
}

void VL714searchAndApplyDeviceDefinition(QS802DeviceClass* device) {
  if (!device) return;
  DeviceDefinitionRef definition =
      QS834deviceDef(device->vid(), device->pid(), device->mid(), device->transport().value_or(""));
  VL714applyDeviceDefinition(device, definition);
}

}  // namespace vl
