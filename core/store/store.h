// The settings store: where its file lies, opening, saving and checking it, the fetch and insert
// helpers every part of the system uses, and the generic record helpers that copy attributes
// to and from dictionaries.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/plist/value.h"
#include "core/store/managed_object.h"
#include "core/store/record_names.h"
#include "core/store/object_context.h"
#include "platform/api/alerts.h"
#include "platform/api/hid.h"

namespace vl {

class QS802DeviceClass;
class QS805CursorSpeedClass;
class QS803AppClass;
class QS804ActionClass;
class QS809UserInfoClass;

inline constexpr const char* kJointSettingsFolder = "Drovana & Velmora";
inline constexpr const char* kOlderSettingsFolder = "Velmora";
inline constexpr const char* kDefaultStoreFileName = "Device.dvsetting";
inline constexpr const char* kJointStoreExtension = "dvsetting";
inline constexpr const char* kOlderStoreExtension = "vlsetting";

// The context of an open store; the owner (the controller) keeps it, records live in it.
using StoreContextRef = std::unique_ptr<ManagedObjectContext>;

// --- Store file and folders -------------------------------------------------------------------

// The joint settings folder (joint) or the older product-only folder; *exists tells whether it
// exists. Empty when p has no Paths port.
std::string settingsFolderPath(Paths* paths, bool joint, bool* exists = nullptr);
inline std::string QS814prefsFolderURL(const Platform& p, bool joint, bool* exists = nullptr) {
  return settingsFolderPath(p.paths, joint, exists);
}
// The store file to use (see the store's folder rules); nullopt after pushing 8140051 or 8140095.
std::optional<std::string> QS814prefsFileURL(const Platform& p, ErrorStack& errors, bool* exists = nullptr);
inline std::optional<std::string> storeFilePath(const Platform& p, ErrorStack& errors, bool* exists = nullptr) {
  return QS814prefsFileURL(p, errors, exists);
}

// Opens a store whose records use the ports of p. model plays the part of the bundle's
// compiled model (null: the current one).
// records: what the program gives the record classes (its bundle, the default graph data).
[[nodiscard]] int32_t QS814createMOC(const Platform& p, ErrorStack& errors, const std::optional<std::string>& url, const StoreModel* model, bool readOnly,
                       StoreContextRef* outContext, ErrorInfo* outError, const RecordSettings& records = {});
[[nodiscard]] inline int32_t createStoreContext(const Platform& p, ErrorStack& errors, const std::optional<std::string>& url,
                                               const StoreModel* model, bool readOnly, StoreContextRef* outContext,
                                               ErrorInfo* outError, const RecordSettings& records = {}) {
  return QS814createMOC(p, errors, url, model, readOnly, outContext, outError, records);
}
[[nodiscard]] int32_t QS814openMOC(const Platform& p, ErrorStack& errors, const StoreModel* model, bool readOnly, StoreContextRef* outContext,
                     ErrorInfo* outError, const RecordSettings& records = {});
[[nodiscard]] inline int32_t openStoreContext(const Platform& p, ErrorStack& errors, const StoreModel* model, bool readOnly,
                                             StoreContextRef* outContext, ErrorInfo* outError,
                                             const RecordSettings& records = {}) {
  return QS814openMOC(p, errors, model, readOnly, outContext, outError, records);
}
[[nodiscard]] int32_t QS814saveMOC(ManagedObjectContext* ctx, ErrorInfo* outError);
[[nodiscard]] inline int32_t saveStoreContext(ManagedObjectContext* ctx, ErrorInfo* outError) { return QS814saveMOC(ctx, outError); }
std::string QS814urlForMOC(const ManagedObjectContext* ctx);

// What the file at a path is to a model.
enum class StoreFileState {
  Missing,         // no file (or an empty one): a new store
  Current,         // written by this model version
  Older,           // written by an older version: migrated when opened read-write
  Newer,           // written by a newer model: this program cannot read it
  Unreadable,      // damaged, or not a store; opening it fails
};
StoreFileState storeFileState(const std::string& path, const StoreModel* model = nullptr);
// False only for a file written by a newer model; a missing or unreadable file passes (opening
// reports the latter).
bool QS814isPrefsFileCompatible(const std::optional<std::string>& url, const StoreModel* model);
// Null when compatible, else the message key (strings table "vl") the pane shows.
const char* VL714prefsFileCompatibleError(const std::optional<std::string>& url, const StoreModel* model);
inline constexpr const char* kSettingsFormatChangedMessage =
    "The settings file format has been changed. You need to upgrade Velmora to the latest version to read it.";

// --- Fetch and insert -------------------------------------------------------------------------

// Every device; empty for a null context.
std::vector<QS802DeviceClass*> QS814allDevices(ManagedObjectContext* ctx);
inline std::vector<DeviceRecord*> allDevices(ManagedObjectContext* ctx) { return QS814allDevices(ctx); }
QS802DeviceClass* QS814fetchDevice(ErrorStack& errors, uint32_t vid, uint32_t pid, uint32_t mid, const std::string& transport,
                                   ManagedObjectContext* ctx);
inline DeviceRecord* fetchDevice(ErrorStack& errors, uint32_t vid, uint32_t pid, uint32_t mid, const std::string& transport,
                                 ManagedObjectContext* ctx) {
  return QS814fetchDevice(errors, vid, pid, mid, transport, ctx);
}
QS802DeviceClass* QS814fetchDeviceForLocationID(ErrorStack& errors, RegistryId entry, ManagedObjectContext* ctx);
QS802DeviceClass* QS814fetchDeviceForClient(ErrorStack& errors, const HidServiceClient* client, ManagedObjectContext* ctx);
QS809UserInfoClass* QS814fetchUserInfo(ErrorStack& errors, ManagedObjectContext* ctx);
inline UserInfoRecord* fetchUserInfo(ErrorStack& errors, ManagedObjectContext* ctx) { return QS814fetchUserInfo(errors, ctx); }
// Every action; empty for a null context.
std::vector<QS804ActionClass*> QS814allActions(ManagedObjectContext* ctx);

QS802DeviceClass* QS814insertDevice(ErrorStack& errors, ManagedObjectContext* ctx);
inline DeviceRecord* insertDevice(ErrorStack& errors, ManagedObjectContext* ctx) { return QS814insertDevice(errors, ctx); }
QS802DeviceClass* QS814insertDeviceWithInfo(ErrorStack& errors, uint32_t vid, uint32_t pid, uint32_t mid, const std::string& transport,
                                            RegistryId entry, ManagedObjectContext* ctx);
QS805CursorSpeedClass* QS814insertCursorSpeed(ErrorStack& errors, ManagedObjectContext* ctx);
QS803AppClass* QS814insertApplication(ErrorStack& errors, ManagedObjectContext* ctx);
inline AppRecord* insertApplication(ErrorStack& errors, ManagedObjectContext* ctx) { return QS814insertApplication(errors, ctx); }
QS804ActionClass* QS814insertAction(ErrorStack& errors, ManagedObjectContext* ctx);
QS809UserInfoClass* QS814insertUserInfo(ErrorStack& errors, ManagedObjectContext* ctx);

// --- Generic record helpers -------------------------------------------------------------------

// Every attribute with a value (relationships are not included).
pl::Dict QS812managedObjectToDictionary(const ManagedObject* record);
// Copies every attribute from the dictionary (an absent key clears it); equal values are not
// written, so they are not marked as changed. Keys that are not attributes are ignored.
void QS812setDictionaryToManagedObject(const pl::Dict* dictionary, ManagedObject* record);
// Clears every attribute.
void QS812initAttributesOfManagedObject(ManagedObject* record);
// A copy of the dictionary with key set to value (removed for null); nullopt instead of an
// empty dictionary.
std::optional<pl::Dict> QS812changedDictionary(const pl::Dict* dictionary, const std::string& key,
                                               const pl::Value& value);
// The elements of first that second contains.
std::vector<std::string> QS812intersectObjects(const std::vector<std::string>& first,
                                               const std::vector<std::string>& second);

}  // namespace vl
