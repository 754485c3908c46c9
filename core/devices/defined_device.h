// Device records and device definitions: creating a record for a newly seen device with the
// best definition applied, and applying definitions to existing records.
#pragma once

#include <cstdint>
#include <string>

#include "core/devices/device_definition.h"
#include "platform/api/hid.h"

namespace vl {

class QS802DeviceClass;
class ManagedObjectContext;

// Inserts a Device record for a service identity with its five favourites (sensitivity and
// acceleration -1: the defaults), then names it after the matching definition and applies
// that. Null after pushing 7140038 when the record cannot be inserted, or 7140041 when its
// favourites cannot be made (the half-made record is then deleted again).
QS802DeviceClass* VL714insertDefinedDevice(uint32_t vid, uint32_t pid, uint32_t mid, const std::string& transport,
                                           RegistryId registry, ManagedObjectContext* moc, double sensitivity,
                                           double acceleration);

// The definition's pointer resolution replaces the device's when their values differ; the
// device then links to the definition. Nothing happens when either is missing.
void VL714applyDeviceDefinition(QS802DeviceClass* device, const DeviceDefinitionRef& definition);

// Applies the best definition for the device's identity; without a match nothing changes.
void VL714searchAndApplyDeviceDefinition(QS802DeviceClass* device);

}  // namespace vl
