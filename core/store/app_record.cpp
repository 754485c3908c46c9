// QS803AppClass and QS804ActionClass: making records, matching keys, snapping, names, order and
// the dictionary form.
#include "core/store/app_record.h"

#include <algorithm>
#include <filesystem>

#include "core/plist/codec.h"
#include "core/store/bookmark.h"
#include "core/store/device_record.h"
#include "core/store/object_context.h"
#include "core/store/record_exchange.h"
#include "core/store/record_values.h"
#include "core/store/store.h"
#include "core/store/store_text.h"
#include "core/system/strings.h"
#include "platform/api/platform.h"

namespace vl {

namespace {


// The system font's size in points; a row's text is centred with it.
constexpr int kSystemFontSize = 13;
constexpr int kAppRowHeight = 36;
constexpr int kAppRowAlignment = 4;

std::string lastPathComponent(const std::string& path) {
  std::filesystem::path p(path);
  while (!p.empty() && p.filename().empty() && p != p.root_path()) p = p.parent_path();
  return p.filename().string();
}

bool endsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::optional<std::string> textOf(const pl::Dict& d, const char* k) {
  auto it = d.find(k);
  if (it == d.end() || !it->second.isString()) return std::nullopt;
  return *it->second.asString();
}

pl::Dict withoutKeys(pl::Dict d, const std::vector<std::string>& keys) {
  for (const auto& k : keys) d.erase(k);
  return d;
}

// Nulls first, then case-insensitive.
int compareOptionalText(const std::optional<std::string>& a, const std::optional<std::string>& b) {
  if (!a || !b) return a ? 1 : (b ? -1 : 0);
  return compareIgnoringCase(*a, *b);
}

// The dictionary a debugging field's text stands for; nullopt leaves the stored value alone.
std::optional<pl::Value> parsedDictionary(const std::string& text) {
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) return pl::Value();
  pl::ReadResult r = pl::read(std::string_view(text));
  if (!r || !r.value->isDict()) return std::nullopt;
  return *r.value;
}

}  // namespace

// --- Class values ------------------------------------------------------------------------------


const std::vector<std::string>& QS803AppClass::QS803snappingList() {
  static const std::vector<std::string> list = {kSnappingSameAsDefault,  kSnappingNone,          kSnappingDefaultButton,
                                                kSnappingCancelButton,   kSnappingCloseButton,   kSnappingMinimizeButton,
                                                kSnappingFullscreenButton, kSnappingDock};
  return list;
}

std::vector<std::string> QS803AppClass::keyPathsForValuesAffecting(const std::string& key) {
  if (key == "snappingIX" || key == "snappingForDefault" || key == "snappingMenuIX") return {"snapping"};
  if (key == "actualSnapping") return {"snappingForDefault"};
  if (key == "snappingOptionEnabled") return {"snappingMenuIX"};
  if (key == "snappingWarningButtonHidden") return {"actualSnapping"};
  return {};
}

// --- Attributes and relationships ------------------------------------------------------------

std::optional<std::string> QS803AppClass::text(int a) const {
  if (const std::string* s = value(a).asString()) return *s;
  return std::nullopt;
}

void QS803AppClass::setText(int a, const std::optional<std::string>& v) { setValue(a, v ? pl::Value(*v) : pl::Value()); }

QS802DeviceClass* QS803AppClass::device() const {
  return static_cast<QS802DeviceClass*>(toOne(attr::application::device));
}

void QS803AppClass::setDevice(QS802DeviceClass* d) { setToOne(attr::application::device, d); }

std::vector<QS804ActionClass*> QS803AppClass::actions() const {
  std::vector<QS804ActionClass*> out;
  for (ManagedObject* o : toMany(attr::application::actions)) out.push_back(static_cast<QS804ActionClass*>(o));
  return out;
}

void QS803AppClass::addActionsObject(QS804ActionClass* a) { addToMany(attr::application::actions, a); }
void QS803AppClass::removeActionsObject(QS804ActionClass* a) { removeFromMany(attr::application::actions, a); }

// --- Making records ----------------------------------------------------------------------------

QS803AppClass* QS803AppClass::initWithObject(const AppObject& object) {
  if (auto* u = std::get_if<FileURL>(&object.value)) return initWithURL(u->path);
  if (auto* p = std::get_if<RunningApplication>(&object.value)) return initWithProc(*p);
  if (auto* d = std::get_if<pl::Dict>(&object.value)) return initWithAppDic(*d);
  // Nothing: the record stays as inserted, which makes the default record.
  return this;
}

QS803AppClass* QS803AppClass::initWithURL(const std::string& path) {
  ErrorInfo err;
  std::optional<pl::Data> bm = createMinimalBookmark(path, &err);
  if (!bm) {
    QS810stackNSError(&err);
    QS810stackError(nullptr, 8030171);
    return nullptr;
  }
  Workspace* ws = platform().workspace;
  std::string name = ws ? ws->displayNameAtPath(path) : lastPathComponent(path);
  std::optional<std::string> bundle;
  if (ws && ws->isFilePackageAtPath(path)) bundle = ws->bundleIdentifierAtPath(path);
  return initWithBookmark(bm, name, matchingKeyFromURL(platform(), path), bundle);
}

QS803AppClass* QS803AppClass::initWithProc(const RunningApplication& proc) {
  std::string path = urlFromProc(proc);
  ErrorInfo err;
  std::optional<pl::Data> bm = createMinimalBookmark(path, &err);
  if (!bm) {
    QS810stackNSError(&err);
    QS810stackError(nullptr, 8030195);
    return nullptr;
  }
  Workspace* ws = platform().workspace;
  std::string name = ws ? ws->displayNameAtPath(path) : lastPathComponent(path);
  std::optional<std::string> bundle;
  if (!proc.bundleIdentifier.empty()) bundle = proc.bundleIdentifier;
  return initWithBookmark(bm, name, matchingKeyFromProc(platform(), proc), bundle);
}

QS803AppClass* QS803AppClass::initWithBookmark(const std::optional<pl::Data>& bookmark,
                                               const std::optional<std::string>& name,
                                               const std::optional<std::string>& matchingKey,
                                               const std::optional<std::string>& bundleID) {
  QS812initAttributesOfManagedObject(this);
  setValue(attr::application::bookmark, bookmark ? pl::Value(*bookmark) : pl::Value());
  setName(name);
  setMatchingKey(matchingKey);
  setBundleID(bundleID);
  removeAllActions();
  return this;
}

QS803AppClass* QS803AppClass::initWithAppDic(const pl::Dict& dic) {
  QS812setDictionaryToManagedObject(&dic, this);
  if (auto id = bundleID(); id && !id->empty()) {
    // Where the application lies on this machine, not where it lay on the one that wrote it.
    if (Workspace* ws = platform().workspace)
      if (auto where = ws->urlForApplicationWithBundleIdentifier(*id))
        if (auto bm = createMinimalBookmark(*where, nullptr)) setValue(attr::application::bookmark, pl::Value(*bm));
  }
  removeAllActions();
  bool ok = true;
  if (const pl::Array* acts = appdic::actions(dic))
    for (const pl::Value& a : *acts)
      if (a.isDict() && !insertActionWithObject(*a.asDict())) ok = false;
  return ok ? this : nullptr;
}

QS803AppClass* QS803AppClass::initSnappingAppWithObject(const AppObject& object) {
  if (!initWithObject(object)) return nullptr;
  if (!snapping()) setSnapping(initialSnapping());
  return this;
}

QS803AppClass* QS803AppClass::insertSnappingAppWithObject(const AppObject& object, ManagedObjectContext* ctx) {
  QS803AppClass* app = QS814insertApplication(ctx);
  if (!app) return nullptr;
  if (!app->initSnappingAppWithObject(object)) {
    // The caller gets no record to delete; an empty one must not reach the store.
    ctx->deleteObject(app);
    return nullptr;
  }
  return app;
}

// --- Matching --------------------------------------------------------------------------------

std::string QS803AppClass::matchingKeyFromURL(const Platform& p, const std::string& path) {
  Workspace* ws = p.workspace;
  if (ws && ws->isFilePackageAtPath(path)) return lastPathComponent(path);
  return pathWithoutHomeDirectory(p, path);
}

std::string QS803AppClass::matchingKeyFromProc(const Platform& p, const RunningApplication& proc) {
  return matchingKeyFromProc(p.workspace, proc);
}

std::string QS803AppClass::matchingKeyFromProc(Workspace* ws, const RunningApplication& proc) {
  if (!proc.bundleURL.empty()) return lastPathComponent(proc.bundleURL);
  return pathWithoutHomeDirectory(ws, proc.executableURL);
}

std::string QS803AppClass::pathWithoutHomeDirectory(const Platform& p, const std::string& path) {
  return pathWithoutHomeDirectory(p.workspace, path);
}

std::string QS803AppClass::pathWithoutHomeDirectory(Workspace* ws, const std::string& path) {
  std::string home = ws ? ws->homeDirectory() : std::string();
  while (home.size() > 1 && home.back() == '/') home.pop_back();
  if (home.empty() || home == "/") return path;
  // Only the home folder at the start is shortened away; a "~/" elsewhere in a path is part
  // of a folder's name and stays.
  if (path == home) return "~";
  if (path.size() > home.size() && path.compare(0, home.size(), home) == 0 && path[home.size()] == '/')
    return path.substr(home.size() + 1);
  if (path.rfind("~/", 0) == 0) return path.substr(2);
  return path;
}

std::string QS803AppClass::urlFromProc(const RunningApplication& proc) {
  return proc.bundleURL.empty() ? proc.executableURL : proc.bundleURL;
}

bool QS803AppClass::compareMatchingKey(const std::optional<std::string>& stored, const std::optional<std::string>& key) {
  std::string s = stored.value_or(""), k = key.value_or("");
  if (s.empty() || k.empty()) return s.empty() && k.empty();
  // A stored key matches an equal key and any key equal to its trailing path components.
  return endsWith(lowercased("/" + s), lowercased("/" + k));
}

bool QS803AppClass::compareMatchingKeyToProc(const Platform& p, const std::optional<std::string>& stored,
                                             const RunningApplication& proc) {
  return compareMatchingKeyToProc(p.workspace, stored, proc);
}

bool QS803AppClass::compareMatchingKeyToProc(Workspace* ws, const std::optional<std::string>& stored,
                                             const RunningApplication& proc) {
  return compareMatchingKey(stored, matchingKeyFromProc(ws, proc));
}

bool QS803AppClass::isEqualToMatchingKey(const std::optional<std::string>& key) const {
  return compareMatchingKey(matchingKey(), key);
}

bool QS803AppClass::isEqualToMatchingKeyInURL(const std::string& path) const {
  return compareMatchingKey(matchingKey(), matchingKeyFromURL(platform(), path));
}

bool QS803AppClass::isEqualToMatchingKeyInProc(const RunningApplication& proc) const {
  return compareMatchingKeyToProc(platform(), matchingKey(), proc);
}

bool QS803AppClass::isEqualToMatchingKeyInObject(const AppObject& object) const {
  if (auto* u = std::get_if<FileURL>(&object.value)) return isEqualToMatchingKeyInURL(u->path);
  if (auto* p = std::get_if<RunningApplication>(&object.value)) return isEqualToMatchingKeyInProc(*p);
  if (auto* d = std::get_if<pl::Dict>(&object.value)) return isEqualToMatchingKeyInAppDic(*d);
  return isEqualToMatchingKey(std::nullopt);
}

bool QS803AppClass::isEqualToMatchingKeyInAppDic(const pl::Dict& dic) const {
  if (isSnappingApp() != appdic::isSnappingApp(dic)) return false;
  return compareMatchingKey(matchingKey(), appdic::matchingKey(dic));
}

// --- Snapping --------------------------------------------------------------------------------

std::string QS803AppClass::initialSnapping() const { return isDefault() ? kSnappingNone : kSnappingSameAsDefault; }

std::optional<size_t> QS803AppClass::snappingIX(const std::optional<std::string>& v) {
  if (!v) return std::nullopt;
  const auto& list = QS803snappingList();
  auto it = std::find(list.begin(), list.end(), *v);
  if (it == list.end()) return std::nullopt;
  return static_cast<size_t>(it - list.begin());
}

std::string QS803AppClass::snappingForDefault() const {
  if (isDefault()) return snapping().value_or(kSnappingNone);
  ManagedObjectContext* ctx = managedObjectContext();
  QS803AppClass* def = ctx ? fetchDefSnappingApp(ctx) : nullptr;
  return def ? def->snapping().value_or(kSnappingNone) : kSnappingNone;
}

std::string QS803AppClass::actualSnapping() const {
  if (isDefault()) return snapping().value_or(kSnappingNone);
  std::optional<std::string> s = snapping();
  if (s == std::optional<std::string>(kSnappingSameAsDefault)) return snappingForDefault();
  return s.value_or(kSnappingNone);
}

std::vector<std::string> QS803AppClass::snappingItems() const {
  std::vector<std::string> items = {kSnappingSameAsDefault, kMenuSeparator,          kSnappingDefaultButton,
                                    kSnappingCancelButton,  kMenuSeparator,          kSnappingCloseButton,
                                    kSnappingMinimizeButton, kSnappingFullscreenButton, kMenuSeparator,
                                    kSnappingNone};
  if (isDefault()) items.erase(items.begin(), items.begin() + 2);
  return items;
}

std::vector<std::string> QS803AppClass::snappingMenu() const {
  std::vector<std::string> out;
  for (const auto& i : snappingItems()) out.push_back(i == kMenuSeparator ? i : localizedSnapping(platform(), i));
  return out;
}

size_t QS803AppClass::snappingMenuIX() const {
  std::vector<std::string> items = snappingItems();
  std::optional<std::string> s = snapping();
  auto it = s ? std::find(items.begin(), items.end(), *s) : items.end();
  if (it == items.end() || *it == kMenuSeparator) it = std::find(items.begin(), items.end(), initialSnapping());
  return static_cast<size_t>(it - items.begin());
}

void QS803AppClass::setSnappingMenuIX(size_t position) {
  std::vector<std::string> items = snappingItems();
  // A separator is not a value.
  if (position >= items.size() || items[position] == kMenuSeparator) return;
  setSnapping(items[position]);
}

bool QS803AppClass::snappingOptionEnabled() const {
  auto ix = snappingIX();
  return ix && *ix > 1;
}

bool QS803AppClass::snappingWarningButtonHidden() const { return actualSnapping() == kSnappingNone; }

std::optional<std::vector<QS803AppClass*>> QS803AppClass::fetchAllSnappingApps(ManagedObjectContext* ctx) {
  if (!ctx) {
    QS810stackError(nullptr, 8030425);
    return std::nullopt;
  }
  return fetchAs<QS803AppClass>(ctx, EntityKind::Application, [](const QS803AppClass& a) { return a.isSnappingApp(); });
}

QS803AppClass* QS803AppClass::fetchDefSnappingApp(ManagedObjectContext* ctx) {
  auto all = fetchAllSnappingApps(ctx);
  if (!all) return nullptr;
  for (QS803AppClass* a : *all)
    if (a->isDefault()) return a;
  return nullptr;
}

std::string QS803AppClass::localizedSnapping(const Platform& p, const std::string& v) {
  return localized(p, v, kTableDvvl);
}

// --- Names and presentation ------------------------------------------------------------------

std::string QS803AppClass::nameForDefault(const Platform& p) { return localized(p, "Default", kTableDvvl); }

std::optional<std::string> QS803AppClass::url() {
  const pl::Data* bm = bookmark().asData();
  if (!bm) return std::nullopt;
  bool stale = false;
  std::optional<std::string> path = resolveBookmark(*bm, &stale);
  if (path && stale)
    if (auto fresh = createMinimalBookmark(*path, nullptr)) setValue(attr::application::bookmark, pl::Value(*fresh));
  return path;
}

std::string QS803AppClass::originalName() {
  std::optional<std::string> u = url();
  if (!u) return {};
  Workspace* ws = platform().workspace;
  return ws ? ws->displayNameAtPath(*u) : lastPathComponent(*u);
}

std::string QS803AppClass::displayName() {
  if (isDefault()) return nameForDefault(platform());
  if (auto n = name(); n && !n->empty()) return *n;
  std::string o = originalName();
  if (!o.empty()) return o;
  return matchingKey().value_or("");
}

std::optional<QS803AppClass::AlignedText> QS803AppClass::alignedDisplayName() {
  std::string t = displayName();
  if (t.empty()) return std::nullopt;
  return AlignedText{t, kAppRowAlignment, (kAppRowHeight + kSystemFontSize) / 2};
}

void QS803AppClass::setAlignedDisplayName(const std::string& text) {
  if (isDefault()) return;
  if (text.empty()) {
    std::string o = originalName();
    setName(o.empty() ? std::nullopt : std::optional<std::string>(o));
  } else if (text[0] == '-') {
    setName(" " + text);
  } else {
    setName(text);
  }
}

std::string QS803AppClass::icon() {
  std::optional<std::string> u = url();
  Workspace* ws = platform().workspace;
  return u && ws ? ws->iconForFile(*u) : std::string();
}

QS803AppClass* QS803AppClass::defApplication() const {
  if (isDefault()) return const_cast<QS803AppClass*>(this);
  QS802DeviceClass* d = device();
  return d ? d->defApplication() : nullptr;
}

const pl::Value* QS803AppClass::setupCommandForKey(const std::string& key) const { return setupCommand().find(key); }

void QS803AppClass::setSetupCommand(const pl::Value& v, const std::string& key) {
  auto changed = QS812changedDictionary(setupCommand().asDict(), key, v);
  setValue(attr::application::setupCommand, changed ? pl::Value(std::move(*changed)) : pl::Value());
}

std::string QS803AppClass::setupCommandDebug() const {
  std::string t = debugText(setupCommand());
  t.erase(std::remove_if(t.begin(), t.end(), [](char c) { return c == '\n' || c == '\r'; }), t.end());
  return t;
}

void QS803AppClass::setSetupCommandDebug(const std::string& text) {
  if (auto v = parsedDictionary(text)) setValue(attr::application::setupCommand, *v);
}

// --- Actions ---------------------------------------------------------------------------------

QS804ActionClass* QS803AppClass::insertActionWithButton(const pl::Value& button, const pl::Value& scroll,
                                                        const pl::Value& modkeys, const pl::Array* actionList) {
  ManagedObjectContext* ctx = managedObjectContext();
  QS804ActionClass* a = QS814insertAction(ctx);
  if (!a) return nullptr;
  if (!a->initWithButton(button, scroll, modkeys, actionList)) {
    QS810stackError(nullptr, 8030539);
    ctx->deleteObject(a);
    return nullptr;
  }
  if (!a->application()) addActionsObject(a);
  return a;
}

QS804ActionClass* QS803AppClass::insertActionWithObject(const pl::Dict& dic) {
  ManagedObjectContext* ctx = managedObjectContext();
  QS804ActionClass* a = QS814insertAction(ctx);
  if (!a) return nullptr;
  if (!a->initWithObject(dic)) {
    QS810stackError(nullptr, 8030565);
    ctx->deleteObject(a);
    return nullptr;
  }
  addActionsObject(a);
  return a;
}

void QS803AppClass::removeAllActions() {
  ManagedObjectContext* ctx = managedObjectContext();
  for (QS804ActionClass* a : actions()) {
    removeActionsObject(a);
    if (ctx) ctx->deleteObject(a);
  }
}

// --- Order and dictionary form ---------------------------------------------------------------

bool QS803AppClass::sortDescriptorsLess(const QS803AppClass* a, const QS803AppClass* b) {
  if (a->isDefault() != b->isDefault()) return a->isDefault();
  if (int c = compareOptionalText(a->name(), b->name())) return c < 0;
  return compareOptionalText(a->matchingKey(), b->matchingKey()) < 0;
}

const std::vector<std::string>& QS803AppClass::excludeAppKeysForImport() {
  static const std::vector<std::string> keys = {"bookmark", "matchingKey", "bundleID", "index", "name"};
  return keys;
}

pl::Dict QS803AppClass::appDic() const {
  pl::Dict d = QS812managedObjectToDictionary(this);
  if (auto mk = matchingKey())
    appdic::setMatchingKey(d, pathWithoutHomeDirectory(platform(), *mk));
  else
    d.erase("matchingKey");
  if (isStandardApp()) appdic::setActions(d, QS813actDicsFromActions(actions()));
  return d;
}

QS803AppClass* QS803AppClass::importFromAppDic(const pl::Dict& dic) {
  const auto& excluded = excludeAppKeysForImport();
  const EntityDesc& e = entity();
  for (size_t i = 0; i < e.attributes.size(); ++i) {
    if (std::find(excluded.begin(), excluded.end(), e.attributes[i].name) != excluded.end()) continue;
    auto it = dic.find(e.attributes[i].name);
    setValue(static_cast<int>(i), it == dic.end() ? pl::Value() : it->second);
  }
  std::vector<QS804ActionClass*> existing = actions();
  for (QS804ActionClass* a : existing)
    if (!a->func().isNull()) a->setFunc(pl::Value());
  if (const pl::Array* acts = appdic::actions(dic)) {
    for (const pl::Value& v : *acts) {
      const pl::Dict* ad = v.asDict();
      if (!ad) continue;
      auto field = [&](const char* k) {
        auto it = ad->find(k);
        return it == ad->end() ? pl::Value() : it->second;
      };
      auto match = std::find_if(existing.begin(), existing.end(), [&](QS804ActionClass* a) {
        return a->isEqualToButton(field("button"), field("scroll"), field("modkeys"));
      });
      if (match != existing.end())
        (*match)->initWithObject(*ad);
      else
        insertActionWithObject(*ad);
    }
  }
  return this;
}

bool QS803AppClass::isEqualToImportSettingsInAppDic(const pl::Dict* dic) const {
  return appdic::isEqualToImportSettingsInAppDic(appDic(), dic);
}

bool QS803AppClass::isEqualToAppDic(const pl::Dict* dic) const {
  return dic && compareMatchingKey(matchingKey(), appdic::matchingKey(*dic)) && isEqualToImportSettingsInAppDic(dic);
}

// --- Actions of the sibling product ------------------------------------------------------------

QS803AppClass* QS804ActionClass::application() const {
  return static_cast<QS803AppClass*>(toOne(attr::action::application));
}

void QS804ActionClass::setApplication(QS803AppClass* app) { setToOne(attr::action::application, app); }

QS804ActionClass* QS804ActionClass::initWithObject(const pl::Dict& dic) {
  QS812setDictionaryToManagedObject(&dic, this);
  return this;
}

QS804ActionClass* QS804ActionClass::initWithButton(const pl::Value& button, const pl::Value& scroll,
                                                   const pl::Value& modkeys, const pl::Array* actionList) {
  QS812initAttributesOfManagedObject(this);
  if (actionList) {
    for (const pl::Value& v : *actionList) {
      const pl::Dict* d = v.asDict();
      if (!d) continue;
      auto field = [&](const char* k) {
        auto it = d->find(k);
        return it == d->end() ? pl::Value() : it->second;
      };
      if (field("button") == button && field("scroll") == scroll && field("modkeys") == modkeys) {
        QS812setDictionaryToManagedObject(d, this);
        break;
      }
    }
  }
  setValue(attr::action::button, button);
  setValue(attr::action::scroll, scroll);
  setValue(attr::action::modkeys, modkeys);
  return this;
}

bool QS804ActionClass::isEqualToButton(const pl::Value& b, const pl::Value& s, const pl::Value& m) const {
  return button() == b && scroll() == s && modkeys() == m;
}

pl::Dict QS804ActionClass::actDic() const { return QS812managedObjectToDictionary(this); }

bool QS804ActionClass::orderLess(const QS804ActionClass* a, const QS804ActionClass* b) {
  for (int k : {attr::action::button, attr::action::scrollIX, attr::action::modkeys}) {
    double x = a->value(k).doubleValue(), y = b->value(k).doubleValue();
    if (x != y) return x < y;
  }
  return false;
}

// --- Application dictionaries -----------------------------------------------------------------

namespace appdic {

std::optional<std::string> matchingKey(const pl::Dict& d) { return textOf(d, "matchingKey"); }
std::optional<std::string> bundleID(const pl::Dict& d) { return textOf(d, "bundleID"); }

const pl::Array* actions(const pl::Dict& d) {
  if (!isStandardApp(d)) return nullptr;
  auto it = d.find("actions");
  return it == d.end() ? nullptr : it->second.asArray();
}

bool isDefault(const pl::Dict& d) { return d.find("matchingKey") == d.end(); }

std::string displayName(const Platform& p, const pl::Dict& d) {
  if (isDefault(d)) return QS803AppClass::nameForDefault(p);
  return textOf(d, "name").value_or("");
}

bool isEqualToMatchingKey(const pl::Dict& d, const std::optional<std::string>& key) {
  return QS803AppClass::compareMatchingKey(matchingKey(d), key);
}

bool isSnappingApp(const pl::Dict& d) { return d.find("snapping") != d.end(); }
bool isStandardApp(const pl::Dict& d) { return !isSnappingApp(d); }

bool isEqualToImportSettingsInAppDic(const pl::Dict& d, const pl::Dict* other) {
  if (!other) return false;
  const auto& keys = QS803AppClass::excludeAppKeysForImport();
  return pl::Value(withoutKeys(d, keys)) == pl::Value(withoutKeys(*other, keys));
}

bool isEqualToAppDic(const pl::Dict& d, const pl::Dict* other) {
  return other && QS803AppClass::compareMatchingKey(matchingKey(d), matchingKey(*other)) &&
         isEqualToImportSettingsInAppDic(d, other);
}

void setMatchingKey(pl::Dict& d, const std::optional<std::string>& key) {
  if (key && !key->empty())
    d["matchingKey"] = pl::Value(*key);
  else
    d.erase("matchingKey");
}

void setActions(pl::Dict& d, pl::Array acts) {
  if (!isStandardApp(d)) return;
  if (acts.empty())
    d.erase("actions");
  else
    d["actions"] = pl::Value(std::move(acts));
}

}  // namespace appdic

}  // namespace vl
