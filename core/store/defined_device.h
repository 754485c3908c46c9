// Device records and device definitions: the definitions a program reads, creating a record
// for a newly seen device with the best definition applied, and applying definitions to
// existing records.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/devices/device_definition.h"
#include "core/errors/error_stack.h"
#include "platform/api/hid.h"
#include "platform/api/platform.h"

namespace vl {

class QS802DeviceClass;
class ManagedObjectContext;

// The folders of a program: the user's folder in the joint settings folder, the sibling
// pane's resources, this product's pane's resources and the program's own resources.
DefinitionFolders defaultDefinitionFolders(Paths* paths);
inline DefinitionFolders defaultDefinitionFolders(const Platform& p) { return defaultDefinitionFolders(p.paths); }

// The definitions of one program: read on first use from the default folders, without those
// not available on the system, and kept by the owner (the controller or a command) for its life.
class DeviceDefinitionCache {
 public:
  // paths finds the folders; system tells the OS version and the language of the names.
  DeviceDefinitionCache(Paths* paths, SystemInfo* system) : paths_(paths), system_(system) {}
  explicit DeviceDefinitionCache(const Platform& p) : DeviceDefinitionCache(p.paths, p.system) {}
  const DeviceDefinitionSet& list();
  // Drops the kept set so that the next use reads the folders again.
  void forget() { list_.reset(); }
  SystemInfo* systemInfo() const { return system_; }

 private:
  Paths* paths_ = nullptr;
  SystemInfo* system_ = nullptr;
  std::optional<DeviceDefinitionSet> list_;
};

const DeviceDefinitionSet& QS834deviceDefList(DeviceDefinitionCache& definitions);
DeviceDefinitionRef QS834deviceDef(DeviceDefinitionCache& definitions, uint32_t vid, uint32_t pid, uint32_t mid,
                                   const std::string& transport);

// Inserts a Device record for a service identity with its five favourites (sensitivity and
// acceleration -1: the defaults), then names it after the matching definition and applies
// that. Null after pushing 7140038 when the record cannot be inserted, or 7140041 when its
// favourites cannot be made (the half-made record is then deleted again).
QS802DeviceClass* VL714insertDefinedDevice(ErrorStack& errors, DeviceDefinitionCache& definitions, uint32_t vid, uint32_t pid, uint32_t mid, const std::string& transport,
                                           RegistryId registry, ManagedObjectContext* moc, double sensitivity,
                                           double acceleration);

// The definition's pointer resolution replaces the device's when their values differ; the
// device then links to the definition. Nothing happens when either is missing.
void VL714applyDeviceDefinition(QS802DeviceClass* device, const DeviceDefinitionRef& definition);

// Applies the best definition for the device's identity; without a match nothing changes.
void VL714searchAndApplyDeviceDefinition(DeviceDefinitionCache& definitions, QS802DeviceClass* device);

}  // namespace vl
