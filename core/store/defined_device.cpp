// Device records and device definitions: insertion of a defined device and applying the
// best-matching definition to a record.
#include "core/store/defined_device.h"

#include <cmath>

#include "core/plist/number_text.h"
#include "core/errors/error_stack.h"
#include "core/store/device_record.h"
#include "core/store/object_context.h"
#include "core/store/store.h"
#include "core/system/drovana.h"
#include "core/system/versions.h"
#include "platform/api/paths.h"

namespace vl {

namespace {

std::optional<double> numberOfText(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  return pl::parseDecimal(*text);
}

}  // namespace

DefinitionFolders defaultDefinitionFolders(Paths* paths) {
  DefinitionFolders f;
  std::string settings = settingsFolderPath(paths, true);
  if (!settings.empty()) f.userFolder = settings + "/" + kDeviceDefinitionsFolder;
  auto inBundle = [](const std::string& bundle) {
    return bundle + "/Contents/Resources/" + kDeviceDefinitionsFolder;
  };
  if (auto drovanaPane = prefPanePath(paths, drovana::kPaneFileName)) f.shippedFolders.push_back(inBundle(*drovanaPane));
  if (auto ownPane = prefPanePath(paths, velmora::kPaneFileName)) f.shippedFolders.push_back(inBundle(*ownPane));
  if (paths && !paths->resources().empty())
    f.shippedFolders.push_back(paths->resources() + "/" + kDeviceDefinitionsFolder);
  return f;
}

const DeviceDefinitionSet& DeviceDefinitionCache::list() {
  if (!list_) {
    std::optional<OsVersion> os;
    if (const SystemInfo* info = system_) os = info->osVersion();
    list_ = loadDeviceDefinitions(defaultDefinitionFolders(paths_), os);
  }
  return *list_;
}

const DeviceDefinitionSet& QS834deviceDefList(DeviceDefinitionCache& definitions) { return definitions.list(); }

DeviceDefinitionRef QS834deviceDef(DeviceDefinitionCache& definitions, uint32_t vid, uint32_t pid, uint32_t mid,
                                   const std::string& transport) {
  return QS834deviceDefFromList(definitions.list(), vid, pid, mid, transport);
}

QS802DeviceClass* VL714insertDefinedDevice(ErrorStack& errors, DeviceDefinitionCache& definitions, uint32_t vid, uint32_t pid, uint32_t mid, const std::string& transport,
                                           RegistryId registry, ManagedObjectContext* moc, double sensitivity,
                                           double acceleration) {
  QS802DeviceClass* device = QS814insertDeviceWithInfo(errors, vid, pid, mid, transport, registry, moc);
  if (!device) {
    QS810stackError(errors, nullptr, 7140038);
    return nullptr;
  }
  if (!device->insert5CursorSpeedsWithSens(sensitivity, acceleration)) {
    // A record without its favourites must not stay behind to be saved.
    moc->deleteObject(device);
    QS810stackError(errors, nullptr, 7140041);
    return nullptr;
  }
  if (DeviceDefinitionRef definition = QS834deviceDef(definitions, vid, pid, mid, transport)) {
    auto name = definition->nameForVID(definitions.systemInfo(), vid, pid, mid, transport);
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

void VL714searchAndApplyDeviceDefinition(DeviceDefinitionCache& definitions, QS802DeviceClass* device) {
  if (!device) return;
  DeviceDefinitionRef definition =
      QS834deviceDef(definitions, device->vid(), device->pid(), device->mid(), device->transport().value_or(""));
  VL714applyDeviceDefinition(device, definition);
}

}  // namespace vl
