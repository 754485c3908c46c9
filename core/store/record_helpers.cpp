// Fetch and insert helpers of the store, the generic record helpers, and the record factory.
#include <algorithm>

#include "core/errors/error_stack.h"
#include "core/hid/registry_search.h"
#include "core/store/record_factory.h"
#include "core/store/records.h"

namespace vl {

std::unique_ptr<ManagedObject> makeStoreRecord(EntityKind kind) {
  switch (kind) {
    case EntityKind::Device: return std::make_unique<QS802DeviceClass>();
    case EntityKind::CursorSpeed: return std::make_unique<QS805CursorSpeedClass>();
    case EntityKind::Application: return std::make_unique<QS803AppClass>();
    case EntityKind::Action: return std::make_unique<QS804ActionClass>();
    case EntityKind::UserInfo: return std::make_unique<QS809UserInfoClass>();
  }
  return nullptr;
}

// --- Fetch ---------------------------------------------------------------------------------

std::vector<QS802DeviceClass*> QS814allDevices(ManagedObjectContext* ctx) {
  if (!ctx) return {};
  return fetchAs<QS802DeviceClass>(ctx, EntityKind::Device);
}

QS802DeviceClass* QS814fetchDevice(ErrorStack& errors, uint32_t vid, uint32_t pid, uint32_t mid, const std::string& transport,
                                   ManagedObjectContext* ctx) {
  if (!ctx) {
    QS810stackError(errors, nullptr, 8140504);
    return nullptr;
  }
  // Identity values compare as the unsigned numbers they are.
  auto found = fetchAs<QS802DeviceClass>(ctx, EntityKind::Device, [&](const QS802DeviceClass& d) {
    if (d.value(attr::device::vid).isNull() || d.value(attr::device::pid).isNull() ||
        d.value(attr::device::mid).isNull())
      return false;
    auto t = d.transport();
    return d.vid() == vid && d.pid() == pid && d.mid() == mid && t && *t == transport;
  });
  return found.empty() ? nullptr : found.back();
}

QS802DeviceClass* QS814fetchDeviceForLocationID(ErrorStack& errors, RegistryId entry, ManagedObjectContext* ctx) {
  if (entry == 0 || !ctx) {
    QS810stackError(errors, nullptr, 8140562);
    return nullptr;
  }
  std::optional<pl::Value> loc = searchLocationID(ctx->recordPorts().registry, errors, entry);
  if (!loc) return nullptr;
  for (QS802DeviceClass* d : fetchAs<QS802DeviceClass>(ctx, EntityKind::Device))
    if (d->locationID() && *d->locationID() == *loc) return d;
  return nullptr;
}

QS802DeviceClass* QS814fetchDeviceForClient(ErrorStack& errors, const HidServiceClient* client, ManagedObjectContext* ctx) {
  if (!client || !ctx) {
    QS810stackError(errors, nullptr, 8140582);
    return nullptr;
  }
  for (QS802DeviceClass* d : fetchAs<QS802DeviceClass>(ctx, EntityKind::Device))
    if (d->hasClient(client)) return d;
  return nullptr;
}

QS809UserInfoClass* QS814fetchUserInfo(ErrorStack& errors, ManagedObjectContext* ctx) {
  if (!ctx) {
    QS810stackError(errors, nullptr, 8140706);
    return nullptr;
  }
  auto all = fetchAs<QS809UserInfoClass>(ctx, EntityKind::UserInfo);
  return all.empty() ? nullptr : all.back();
}

std::vector<QS804ActionClass*> QS814allActions(ManagedObjectContext* ctx) {
  if (!ctx) return {};
  return fetchAs<QS804ActionClass>(ctx, EntityKind::Action);
}

// --- Insert --------------------------------------------------------------------------------

namespace {
template <class T>
T* insertRecord(ErrorStack& errors, ManagedObjectContext* ctx, EntityKind kind, int32_t noContext, int32_t failed) {
  if (!ctx) {
    QS810stackError(errors, nullptr, noContext);
    return nullptr;
  }
  ManagedObject* o = ctx->insertNewObject(kind);
  if (!o) {
    QS810stackError(errors, nullptr, failed);
    return nullptr;
  }
  return static_cast<T*>(o);
}
}  // namespace

QS802DeviceClass* QS814insertDevice(ErrorStack& errors, ManagedObjectContext* ctx) {
  return insertRecord<QS802DeviceClass>(errors, ctx, EntityKind::Device, 8140441, 8140445);
}

QS802DeviceClass* QS814insertDeviceWithInfo(ErrorStack& errors, uint32_t vid, uint32_t pid, uint32_t mid, const std::string& transport,
                                            RegistryId entry, ManagedObjectContext* ctx) {
  QS802DeviceClass* d = QS814insertDevice(errors, ctx);
  if (!d) return nullptr;
  if (!d->initWithVID(vid, pid, mid, transport, entry)) {
    // A half-made device would be saved with no identity; it goes again at once.
    ctx->deleteObject(d);
    QS810stackError(errors, nullptr, 8140460);
    return nullptr;
  }
  return d;
}

QS805CursorSpeedClass* QS814insertCursorSpeed(ErrorStack& errors, ManagedObjectContext* ctx) {
  return insertRecord<QS805CursorSpeedClass>(errors, ctx, EntityKind::CursorSpeed, 8140680, 8140683);
}

QS803AppClass* QS814insertApplication(ErrorStack& errors, ManagedObjectContext* ctx) {
  return insertRecord<QS803AppClass>(errors, ctx, EntityKind::Application, 8140638, 8140641);
}

QS804ActionClass* QS814insertAction(ErrorStack& errors, ManagedObjectContext* ctx) {
  return insertRecord<QS804ActionClass>(errors, ctx, EntityKind::Action, 8140653, 8140656);
}

QS809UserInfoClass* QS814insertUserInfo(ErrorStack& errors, ManagedObjectContext* ctx) {
  return insertRecord<QS809UserInfoClass>(errors, ctx, EntityKind::UserInfo, 8140694, 8140698);
}

// --- Generic record helpers ------------------------------------------------------------------

pl::Dict QS812managedObjectToDictionary(const ManagedObject* record) {
  pl::Dict out;
  if (!record) return out;
  const EntityDesc& e = record->entity();
  for (size_t i = 0; i < e.attributes.size(); ++i) {
    const pl::Value& v = record->value(static_cast<int>(i));
    if (!v.isNull()) out[e.attributes[i].name] = v;
  }
  return out;
}

void QS812setDictionaryToManagedObject(const pl::Dict* dictionary, ManagedObject* record) {
  if (!record) return;
  const EntityDesc& e = record->entity();
  for (size_t i = 0; i < e.attributes.size(); ++i) {
    const pl::Value* dv = nullptr;
    if (dictionary) {
      auto it = dictionary->find(e.attributes[i].name);
      if (it != dictionary->end()) dv = &it->second;
    }
    const pl::Value& rv = record->value(static_cast<int>(i));
    bool dNull = !dv || dv->isNull();
    if (dNull && rv.isNull()) continue;
    if (!dNull && !rv.isNull() && *dv == rv) continue;
    record->setValue(static_cast<int>(i), dNull ? pl::Value() : *dv);
  }
}

void QS812initAttributesOfManagedObject(ManagedObject* record) { QS812setDictionaryToManagedObject(nullptr, record); }

std::optional<pl::Dict> QS812changedDictionary(const pl::Dict* dictionary, const std::string& key,
                                               const pl::Value& value) {
  pl::Dict out = dictionary ? *dictionary : pl::Dict{};
  if (value.isNull())
    out.erase(key);
  else
    out[key] = value;
  if (out.empty()) return std::nullopt;
  return out;
}

std::vector<std::string> QS812intersectObjects(const std::vector<std::string>& first,
                                               const std::vector<std::string>& second) {
  std::vector<std::string> out;
  for (const auto& s : first)
    if (std::find(second.begin(), second.end(), s) != second.end()) out.push_back(s);
  return out;
}

}  // namespace vl
