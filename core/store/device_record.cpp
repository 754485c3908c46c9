// QS802DeviceClass: identity, naming, creation, drivers, favourites, dictionary form and the
// pane's status extensions.
#include "core/store/device_record.h"

#include <algorithm>
#include <cstdio>

#include "core/devices/exchange_file.h"
#include "core/hid/pointer_parameters.h"
#include "core/hid/registry_search.h"
#include "core/plist/codec.h"
#include "core/store/record_values.h"
#include "core/store/records.h"
#include "core/store/store_text.h"
#include "core/system/drovana.h"
#include "core/system/versions.h"
#include "platform/api/platform.h"

namespace vl {

namespace {

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// A text property found on the entry or, failing that, on its ancestors in the service plane.
std::optional<std::string> searchRegistryText(const Platform& p, RegistryId entry, const char* key) {
  IoRegistry* reg = p.registry;
  if (!reg || entry == 0) return std::nullopt;
  auto textOf = [&](RegistryId id) -> std::optional<std::string> {
    auto v = reg->property(id, key);
    if (v && v->isString()) return *v->asString();
    return std::nullopt;
  };
  if (auto t = textOf(entry)) return t;
  for (RegistryId p : reg->parents(entry, true).entries)
    if (auto t = textOf(p)) return t;
  return std::nullopt;
}

const std::vector<std::string> kSpeedKeysOfDevice = {"cursorSpeedDisabled", "cursorSpeedSelectedIndex"};
const std::vector<std::string> kSpeedKeysOfFavourite = {"sensitivity", "trackingSpeed", "disableAccl"};

}  // namespace

// --- Class operations ------------------------------------------------------------------------

std::string QS802DeviceClass::indexWithVID(uint32_t vid, uint32_t pid, uint32_t mid, const std::string& transport) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%x-%x-%x-", vid, pid, mid);
  return buf + transport;
}

bool QS802DeviceClass::compareIndex(const std::string& a, const std::string& b) { return a == b; }

const std::vector<std::string>& QS802DeviceClass::excludeDeviceKeysForImport() {
  static const std::vector<std::string> keys = {"vid",  "pid",  "mid",  "transport", "registryName", "pointerResolution",
                                                "name", "cursorSpeedDate"};
  return keys;
}

std::vector<std::string> QS802DeviceClass::keyPathsForValuesAffecting(const std::string& key) {
  if (key == "displayName") return {"name"};
  if (key == "VL702status") return {"cursorSpeedDisabled", "VL702readyForGraph"};
  if (key == "VL702statusIcon" || key == "VL702isEnabled" || key == "VL702isConnected" || key == "VL702hasError")
    return {"VL702status"};
  if (key == "VL702cursorSpeedSelectedIndexes") return {"cursorSpeedSelectedIndex"};
  return {};
}

// --- Attributes and relationships ------------------------------------------------------------

std::optional<std::string> QS802DeviceClass::text(int a) const {
  const pl::Value& v = value(a);
  if (const std::string* s = v.asString()) return *s;
  return std::nullopt;
}

void QS802DeviceClass::setText(int a, const std::optional<std::string>& v) {
  setValue(a, v ? pl::Value(*v) : pl::Value());
}

std::optional<pl::Date> QS802DeviceClass::cursorSpeedDate() const {
  if (const pl::Date* d = value(attr::device::cursorSpeedDate).asDate()) return *d;
  return std::nullopt;
}

void QS802DeviceClass::setCursorSpeedSelectedIndex(std::optional<int64_t> v) {
  setValue(attr::device::cursorSpeedSelectedIndex, v ? pl::Value::int64(*v) : pl::Value());
}

void QS802DeviceClass::setCursorSpeedDate(std::optional<pl::Date> v) {
  setValue(attr::device::cursorSpeedDate, v ? pl::Value(*v) : pl::Value());
}

std::vector<QS805CursorSpeedClass*> QS802DeviceClass::cursorSpeeds() const {
  std::vector<QS805CursorSpeedClass*> out;
  for (ManagedObject* o : toMany(attr::device::cursorSpeeds)) out.push_back(static_cast<QS805CursorSpeedClass*>(o));
  return out;
}

void QS802DeviceClass::addCursorSpeedsObject(QS805CursorSpeedClass* cs) { addToMany(attr::device::cursorSpeeds, cs); }
void QS802DeviceClass::removeCursorSpeedsObject(QS805CursorSpeedClass* cs) {
  removeFromMany(attr::device::cursorSpeeds, cs);
}

std::vector<QS803AppClass*> QS802DeviceClass::applications() const {
  std::vector<QS803AppClass*> out;
  for (ManagedObject* o : toMany(attr::device::applications)) out.push_back(static_cast<QS803AppClass*>(o));
  return out;
}

void QS802DeviceClass::addApplicationsObject(QS803AppClass* app) { addToMany(attr::device::applications, app); }
void QS802DeviceClass::removeApplicationsObject(QS803AppClass* app) {
  removeFromMany(attr::device::applications, app);
}

// --- Identity and names ----------------------------------------------------------------------

QS802DeviceClass* QS802DeviceClass::initWithVID(uint32_t vid, uint32_t pid, uint32_t mid, const std::string& transport,
                                                RegistryId registry) {
  if (vid == 0 || transport.empty() || registry == 0) {
    QS810stackError(nullptr, 8020136);
    return nullptr;
  }
  QS812initAttributesOfManagedObject(this);
  setVid(vid);
  setPid(pid);
  setMid(mid);
  setTransport(transport);

  std::optional<std::string> productName;
  if (QS822isAppleInternalTrackpad(vid, pid)) {
    productName = localizedFormat(platform(), "Trackpad: %@", kTableDvvl, {QS812GetModelName(platform().registry, platform().defaults, platform().system).first});
  } else {
    if (transport == "USB") productName = searchRegistryText(platform(), registry, "USB Product Name");
    if (!productName) productName = searchRegistryText(platform(), registry, "Product");
  }
  if (productName && *productName == "USB Receiver")
    productName = formatPattern("USB Receiver (PID:%04X MID:%04X)", {pid, mid});
  if (productName && !productName->empty() && lowercased(*productName) != "unknown") setRegistryName(productName);

  setPointerResolution(gText(searchPointerResolution(registry)));
  setViewScaleX(std::string("3.0"));
  removeAllApplications();
  removeAllCursorSpeeds();
  return this;
}

std::string QS802DeviceClass::index() const { return indexWithVID(vid(), pid(), mid(), transport().value_or("")); }

std::optional<std::string> QS802DeviceClass::ddefName() const {
  if (!definition_) return std::nullopt;
  return definition_->nameForVID(platform(), vid(), pid(), mid(), transport().value_or(""));
}

std::string QS802DeviceClass::displayName() const {
  std::optional<std::string> nm = name();
  std::optional<std::string> def = ddefName();
  std::optional<std::string> reg = registryName();
  // A name that merely repeats the registry's gives way to the definition's better one.
  if (def && !def->empty() && nm == reg) nm.reset();
  for (const auto* c : {&nm, &def, &reg})
    if (*c && !(*c)->empty()) return **c;
  return kDefaultDeviceName;
}

void QS802DeviceClass::setDisplayName(const std::string& text) {
  if (text.empty()) {
    std::optional<std::string> def = ddefName();
    setName(def && !def->empty() ? def : registryName());
  } else if (text[0] == '-') {
    // A leading "-" would read as a menu separator.
    setName(" " + text);
  } else {
    setName(text);
  }
}

bool QS802DeviceClass::isAppleInternalTrackpad() const { return QS822isAppleInternalTrackpad(vid(), pid()); }
bool QS802DeviceClass::isAppleTrackpad() const { return QS822isAppleTrackpad(vid(), pid()); }
bool QS802DeviceClass::isAppleGestureDevice() const { return QS822isAppleGestureDevice(vid(), pid()); }

// --- Drivers and attached services -------------------------------------------------------------

bool QS802DeviceClass::isAppleDriver() const { return driver_ && startsWith(*driver_, "com.apple"); }
bool QS802DeviceClass::isDrovanaDriver() const { return driver_ && startsWith(*driver_, drovana::kDriverBundlePrefix); }
bool QS802DeviceClass::isOtherDriver() const { return !isAppleDriver() && !isDrovanaDriver(); }

bool QS802DeviceClass::hasClient(const HidServiceClient* client) const {
  return std::any_of(clients_.begin(), clients_.end(), [&](const ServiceRef& c) { return isSameService(c.get(), client); });
}

int32_t QS802DeviceClass::addClient(const ServiceRef& client) {
  if (!client) return 8020441;
  if (hasClient(client.get())) return 0;
  clients_.push_back(client);
  RegistryId entry = 0;
  int32_t err = QS852createRegistryAndReturnError(platform(), client.get(), &entry);
  if (err != 0) {
    QS810stackError(nullptr, err);
    return 8020454;
  }
  err = updateDriverInfoWithRegistry(entry);
  if (err != 0) {
    QS810stackError(nullptr, err);
    return 8020457;
  }
  return 0;
}

void QS802DeviceClass::removeClient(const HidServiceClient* client) {
  auto it = std::find_if(clients_.begin(), clients_.end(), [&](const ServiceRef& c) { return isSameService(c.get(), client); });
  if (it == clients_.end()) return;
  clients_.erase(it);
  if (clients_.empty()) clearDriverInfo();
}

void QS802DeviceClass::removeClient(const ServiceRef& client) { removeClient(client.get()); }

void QS802DeviceClass::removeAllClients() {
  while (!clients_.empty()) removeClient(clients_.front().get());
}

void QS802DeviceClass::clearDriverInfo() {
  clients_.clear();
  locationID_.reset();
  driver_.reset();
}

int32_t QS802DeviceClass::updateDriverInfoWithRegistry(RegistryId entry) {
  if (entry == 0) return 8020379;
  if (!locationID_) locationID_ = QS822searchLocationID(platform(), entry);
  if (std::optional<std::string> d = QS822searchDriverID(platform(), entry)) {
    // Across a device's services another vendor's driver wins over the sibling product's,
    // which wins over Apple's.
    bool store;
    if (startsWith(*d, "com.apple"))
      store = !driver_;
    else if (startsWith(*d, drovana::kDriverBundlePrefix))
      store = !driver_ || isAppleDriver();
    else
      store = true;
    if (store) driver_ = *d;
  }
  if (isOtherDriver()) return 0;
  IoRegistry* reg = platform().registry;
  std::string cls = reg ? reg->className(entry) : std::string();
  if (cls != drovana::kDriverClassPT) setPointerResolution(gText(searchPointerResolution(entry)));
  return 0;
}

double QS802DeviceClass::searchPointerResolution(RegistryId entry) const {
  double r = QS822searchResolution(platform(), entry, kHIDPointerResolutionKey);
  return r < 0 ? kDefaultPointerResolution : r;
}

const pl::Value* QS802DeviceClass::deviceDefinitionValueForKey(const std::string& key) const {
  return definition_ ? definition_->objectForKey(key) : nullptr;
}

// --- Free-form dictionaries ------------------------------------------------------------------

const pl::Value* QS802DeviceClass::expansionDataForKey(const std::string& key) const {
  return expansionData().find(key);
}

void QS802DeviceClass::setExpansionData(const pl::Value& v, const std::string& key) {
  auto changed = QS812changedDictionary(expansionData().asDict(), key, v);
  setValue(attr::device::expansionData, changed ? pl::Value(std::move(*changed)) : pl::Value());
}

namespace {
// The printed form flattened to one line: each line trimmed, joined without separator.
std::string flattened(const pl::Value& v) {
  std::string text = debugText(v), out, line;
  auto flush = [&] {
    size_t b = line.find_first_not_of(" \t\r");
    size_t e = line.find_last_not_of(" \t\r");
    if (b != std::string::npos) out += line.substr(b, e - b + 1);
    line.clear();
  };
  for (char c : text) {
    if (c == '\n') flush();
    else line += c;
  }
  flush();
  return out;
}

// The dictionary a debugging field's text stands for; nullopt when the text is not one
// (a typo then leaves the stored value alone instead of clearing it).
std::optional<pl::Value> parsedDictionary(const std::string& text) {
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) return pl::Value();
  pl::ReadResult r = pl::read(std::string_view(text));
  if (!r || !r.value->isDict()) return std::nullopt;
  return *r.value;
}
}  // namespace

std::string QS802DeviceClass::expantionDataDebug() const { return flattened(expansionData()); }

void QS802DeviceClass::setExpantionDataDebug(const std::string& text) {
  if (auto v = parsedDictionary(text)) setValue(attr::device::expansionData, *v);
}

std::string QS802DeviceClass::partNameDebug() const { return flattened(partName()); }

void QS802DeviceClass::setPartNameDebug(const std::string& text) {
  if (auto v = parsedDictionary(text)) setValue(attr::device::partName, *v);
}

// --- Favourites and applications -------------------------------------------------------------

QS802DeviceClass* QS802DeviceClass::insert5CursorSpeedsWithSens(double sensitivity, double acceleration) {
  if (!cursorSpeeds().empty()) return this;
  for (int i = 0; i < kFavouriteCount; ++i) {
    QS805CursorSpeedClass* cs = QS814insertCursorSpeed(managedObjectContext());
    if (!cs || !cs->initWithIndex(i, sensitivity, acceleration)) {
      QS810stackError(nullptr, 8020703);
      return nullptr;
    }
    addCursorSpeedsObject(cs);
  }
  setCursorSpeedSelectedIndex(std::nullopt);
  setCursorSpeedDate(storeNow());
  return this;
}

QS802DeviceClass* QS802DeviceClass::insertCursorSpeedWithCSDic(const pl::Dict& dic) {
  QS805CursorSpeedClass* cs = QS814insertCursorSpeed(managedObjectContext());
  if (!cs || !cs->initWithCSDic(dic)) {
    QS810stackError(nullptr, 8020720);
    return nullptr;
  }
  addCursorSpeedsObject(cs);
  return this;
}

QS805CursorSpeedClass* QS802DeviceClass::selectedCursorSpeed() const {
  std::vector<QS805CursorSpeedClass*> all = cursorSpeeds();
  if (all.empty()) return nullptr;
  int64_t want = cursorSpeedSelectedIndex();
  for (QS805CursorSpeedClass* cs : all)
    if (cs->index() == want) return cs;
  // No favourite carries the index: the lowest-indexed one stands in.
  return *std::min_element(all.begin(), all.end(),
                           [](QS805CursorSpeedClass* a, QS805CursorSpeedClass* b) { return a->index() < b->index(); });
}

QS803AppClass* QS802DeviceClass::insertApplicationWithObject(const AppObject& object) {
  ManagedObjectContext* ctx = managedObjectContext();
  QS803AppClass* app = QS814insertApplication(ctx);
  if (!app) return nullptr;
  if (!app->initWithObject(object)) {
    // The caller never sees the record, so it cannot delete it; an empty application must
    // not reach the store.
    ctx->deleteObject(app);
    return nullptr;
  }
  addApplicationsObject(app);
  return app;
}

QS803AppClass* QS802DeviceClass::defApplication() const {
  for (QS803AppClass* a : applications())
    if (a->isDefault()) return a;
  return nullptr;
}

QS803AppClass* QS802DeviceClass::insertDefApplication() {
  if (QS803AppClass* a = defApplication()) return a;
  return insertApplicationWithObject(AppObject());
}

void QS802DeviceClass::removeAllApplications() {
  ManagedObjectContext* ctx = managedObjectContext();
  for (QS803AppClass* a : applications()) {
    removeApplicationsObject(a);
    if (ctx) ctx->deleteObject(a);
  }
}

void QS802DeviceClass::removeAllCursorSpeeds() {
  ManagedObjectContext* ctx = managedObjectContext();
  for (QS805CursorSpeedClass* cs : cursorSpeeds()) {
    removeCursorSpeedsObject(cs);
    if (ctx) ctx->deleteObject(cs);
  }
}

void QS802DeviceClass::updateCursorSpeedDate() {
  bool changed = !QS812intersectObjects(changedKeys(), kSpeedKeysOfDevice).empty();
  for (QS805CursorSpeedClass* cs : changed ? std::vector<QS805CursorSpeedClass*>{} : cursorSpeeds())
    if (!QS812intersectObjects(cs->changedKeys(), kSpeedKeysOfFavourite).empty()) {
      changed = true;
      break;
    }
  if (changed) setPrimitiveValue(attr::device::cursorSpeedDate, pl::Value(storeNow()));
}

// --- Dictionary form -------------------------------------------------------------------------

pl::Dict QS802DeviceClass::devDic() const {
  pl::Dict d = QS812managedObjectToDictionary(this);
  pl::Array apps;
  for (QS803AppClass* a : applications()) {
    pl::Dict ad = a->appDic();
    if (!ad.empty()) apps.emplace_back(std::move(ad));
  }
  sortAppDics(apps);
  devdic::setApplications(d, std::move(apps));
  std::vector<QS805CursorSpeedClass*> css = cursorSpeeds();
  std::stable_sort(css.begin(), css.end(),
                   [](QS805CursorSpeedClass* a, QS805CursorSpeedClass* b) { return a->index() < b->index(); });
  pl::Array csa;
  for (QS805CursorSpeedClass* cs : css) {
    pl::Dict cd = cs->csDic();
    if (!cd.empty()) csa.emplace_back(std::move(cd));
  }
  devdic::setCursorSpeeds(d, std::move(csa));
  return d;
}

QS802DeviceClass* QS802DeviceClass::initWithDevDic(const pl::Dict& dic) {
  QS812setDictionaryToManagedObject(&dic, this);
  return initRelationshipsWithDevDic(dic);
}

QS802DeviceClass* QS802DeviceClass::importFromDevDic(const pl::Dict& dic) {
  const auto& excluded = excludeDeviceKeysForImport();
  const EntityDesc& e = entity();
  for (size_t i = 0; i < e.attributes.size(); ++i) {
    if (std::find(excluded.begin(), excluded.end(), e.attributes[i].name) != excluded.end()) continue;
    auto it = dic.find(e.attributes[i].name);
    setValue(static_cast<int>(i), it == dic.end() ? pl::Value() : it->second);
  }
  return initRelationshipsWithDevDic(dic);
}

QS802DeviceClass* QS802DeviceClass::initRelationshipsWithDevDic(const pl::Dict& dic) {
  bool ok = true;
  removeAllApplications();
  if (const pl::Value* apps = devdic::applications(dic); apps && apps->isArray())
    for (const pl::Value& a : *apps->asArray())
      if (a.isDict() && !insertApplicationWithObject(AppObject(*a.asDict()))) ok = false;
  removeAllCursorSpeeds();
  if (const pl::Value* css = devdic::cursorSpeeds(dic); css && css->isArray())
    for (const pl::Value& c : *css->asArray())
      if (c.isDict() && !insertCursorSpeedWithCSDic(*c.asDict())) ok = false;
  setCursorSpeedDate(storeNow());
  return ok ? this : nullptr;
}

// --- Status for the pane -----------------------------------------------------------------------

int32_t QS802DeviceClass::VL702addClient(const ServiceRef& client) {
  int32_t err = addClient(client);
  if (err != 0) {
    QS810stackError(nullptr, err);
    return 7020106;
  }
  if (!acclTable_) {
    auto t = client->property("HIDPointerAccelerationTable");
    if (t && t->isData())
      acclTable_ = std::move(t);
    else
      acclTable_ = recordSettings().defaultAcclTable;
  }
  if (!acclCurves_) {
    auto c = client->property("HIDTrackingAccelCurves");
    if (!c || !c->isArray()) c = client->property("HIDAccelCurves");
    if (c && c->isArray())
      acclCurves_ = std::move(c);
    else
      acclCurves_ = recordSettings().defaultAcclCurves;
  }
  readyForGraph_ = acclTable_.has_value() && acclCurves_.has_value();
  return 0;
}

void QS802DeviceClass::VL702removeClient(const ServiceRef& client) {
  removeClient(client);
  if (clients_.empty()) VL702clearDriverInfo();
}

void QS802DeviceClass::VL702clearDriverInfo() {
  acclTable_.reset();
  acclCurves_.reset();
  readyForGraph_ = false;
}

int QS802DeviceClass::VL702status() const {
  if (!readyForGraph_) return kVL702NotConnected;
  if (cursorSpeedDisabled()) return kVL702Disabled;
  if (isOtherDriver()) return kVL702OtherDriver;
  return kVL702Controlled;
}

const char* QS802DeviceClass::VL702statusIcon() const {
  switch (VL702status()) {
    case kVL702NotConnected: return "NSImageNameStatusNone";
    case kVL702Disabled: return "NSImageNameStatusUnavailable";
    case kVL702OtherDriver: return "NSImageNameStatusPartiallyAvailable";
    case kVL702Controlled: return "NSImageNameStatusAvailable";
  }
  return "NSImageNameCaution";
}

std::set<uint64_t> QS802DeviceClass::VL702cursorSpeedSelectedIndexes() const {
  int64_t i = cursorSpeedSelectedIndex();
  if (i < 0) return {};
  return {static_cast<uint64_t>(i)};
}

void QS802DeviceClass::setVL702cursorSpeedSelectedIndexes(const std::set<uint64_t>& indexes) {
  if (indexes.empty()) return;
  uint64_t last = *indexes.rbegin();
  if (last > static_cast<uint64_t>(kFavouriteCount - 1)) return;
  if (static_cast<int64_t>(last) != cursorSpeedSelectedIndex()) setCursorSpeedSelectedIndex(static_cast<int64_t>(last));
}

void QS802DeviceClass::awake() { clients_.reserve(2); }

void QS802DeviceClass::willTurnIntoFault() {
  removeAllClients();
  clearDriverInfo();
  VL702clearDriverInfo();
}

// --- Device dictionaries ---------------------------------------------------------------------

namespace devdic {
namespace {
const pl::Value* get(const pl::Dict& d, const char* k) {
  auto it = d.find(k);
  return it == d.end() ? nullptr : &it->second;
}
uint32_t u32(const pl::Dict& d, const char* k) {
  const pl::Value* v = get(d, k);
  if (!v) return 0;
  if (v->isNumber()) return v->unsignedIntValue();
  return static_cast<uint32_t>(static_cast<int64_t>(doubleOf(v)));
}
std::string nonEmptyText(const pl::Dict& d, const char* k) {
  const pl::Value* v = get(d, k);
  if (v && v->isString()) return *v->asString();
  return {};
}
}  // namespace

uint32_t vid(const pl::Dict& d) { return u32(d, "vid"); }
uint32_t pid(const pl::Dict& d) { return u32(d, "pid"); }
uint32_t mid(const pl::Dict& d) { return u32(d, "mid"); }
const pl::Value* transport(const pl::Dict& d) { return get(d, "transport"); }
const pl::Value* applications(const pl::Dict& d) { return get(d, "applications"); }
const pl::Value* cursorSpeeds(const pl::Dict& d) { return get(d, "cursorSpeeds"); }

std::string deviceName(const pl::Dict& d) {
  std::string n = nonEmptyText(d, "name");
  if (!n.empty()) return n;
  n = nonEmptyText(d, "registryName");
  if (!n.empty()) return n;
  return kDefaultDeviceName;
}

double pointerResolution(const pl::Dict& d) { return doubleOf(get(d, "pointerResolution")); }
double viewScaleX(const pl::Dict& d) { return doubleOf(get(d, "viewScaleX")); }
double viewScaleY(const pl::Dict& d) { return doubleOf(get(d, "viewScaleY")); }
int32_t buttonCount(const pl::Dict& d) { return intOf(get(d, "buttonCount")); }

std::string deviceIndex(const pl::Dict& d) {
  const pl::Value* t = transport(d);
  std::string text = !t ? "(null)" : t->isString() ? *t->asString() : t->describe();
  return QS802DeviceClass::indexWithVID(vid(d), pid(d), mid(d), text);
}

void setApplications(pl::Dict& d, pl::Array a) {
  if (a.empty())
    d.erase("applications");
  else
    d["applications"] = pl::Value(std::move(a));
}

void setCursorSpeeds(pl::Dict& d, pl::Array a) {
  if (a.empty())
    d.erase("cursorSpeeds");
  else
    d["cursorSpeeds"] = pl::Value(std::move(a));
}
}  // namespace devdic

}  // namespace vl
