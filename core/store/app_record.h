// QS803AppClass: an application record: the snapping records of this product (no device, a
// snapping target) and the sibling product's standard records (owned by a device, with button
// actions), with matching keys, bookmarks, snapping values, names, order and dictionary form.
// QS804ActionClass: the sibling product's action records, carried intact.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "core/errors/error_stack.h"
#include "core/plist/value.h"
#include "core/store/managed_object.h"
#include "core/store/record_names.h"
#include "platform/api/workspace.h"

namespace vl {

class QS802DeviceClass;
class QS804ActionClass;
class ManagedObjectContext;

// A file URL (a path) as opposed to other text.
struct FileURL {
  std::string path;
};

// What an application record can be made from: nothing (the default record), a file, a running
// application or an application dictionary.
struct AppObject {
  std::variant<std::monostate, FileURL, RunningApplication, pl::Dict> value;
  AppObject() = default;
  AppObject(FileURL u) : value(std::move(u)) {}
  AppObject(RunningApplication p) : value(std::move(p)) {}
  AppObject(pl::Dict d) : value(std::move(d)) {}
};

// Snapping values, stored untranslated.
inline constexpr const char* kSnappingSameAsDefault = "Same as Default";
inline constexpr const char* kSnappingNone = "None";
inline constexpr const char* kSnappingDefaultButton = "Default Button";
inline constexpr const char* kSnappingCancelButton = "Cancel Button";
inline constexpr const char* kSnappingCloseButton = "Close Button";
inline constexpr const char* kSnappingMinimizeButton = "Minimize Button";
inline constexpr const char* kSnappingFullscreenButton = "Fullscreen Button";
inline constexpr const char* kSnappingDock = "Dock";
inline constexpr const char* kMenuSeparator = "-";

class QS803AppClass : public ManagedObject {
 public:
  QS803AppClass() = default;

  static const std::vector<std::string>& QS803snappingList();
  static std::vector<std::string> keyPathsForValuesAffecting(const std::string& key);

  // Stored attributes.
  const pl::Value& bookmark() const { return value(attr::application::bookmark); }
  std::optional<std::string> matchingKey() const { return text(attr::application::matchingKey); }
  std::optional<std::string> bundleID() const { return text(attr::application::bundleID); }
  std::optional<std::string> name() const { return text(attr::application::name); }
  std::optional<std::string> snapping() const { return text(attr::application::snapping); }
  bool snappingJump() const { return value(attr::application::snappingJump).boolValue(); }
  bool snappingBounce() const { return value(attr::application::snappingBounce).boolValue(); }
  const pl::Value& snappingSpeed() const { return value(attr::application::snappingSpeed); }
  const pl::Value& setupCommand() const { return value(attr::application::setupCommand); }
  void setName(const std::optional<std::string>& v) { setText(attr::application::name, v); }
  void setMatchingKey(const std::optional<std::string>& v) { setText(attr::application::matchingKey, v); }
  void setBundleID(const std::optional<std::string>& v) { setText(attr::application::bundleID, v); }
  void setSnapping(const std::optional<std::string>& v) { setText(attr::application::snapping, v); }
  void setSnappingJump(bool v) { setValue(attr::application::snappingJump, pl::Value(v)); }
  void setSnappingBounce(bool v) { setValue(attr::application::snappingBounce, pl::Value(v)); }
  void setSnappingSpeed(const pl::Value& v) { setValue(attr::application::snappingSpeed, v); }
  QS802DeviceClass* device() const;
  void setDevice(QS802DeviceClass* d);
  std::vector<QS804ActionClass*> actions() const;
  void addActionsObject(QS804ActionClass* a);
  void removeActionsObject(QS804ActionClass* a);

  // --- Making records --------------------------------------------------------------------------
  QS803AppClass* initWithObject(const AppObject& object);
  QS803AppClass* initWithURL(const std::string& path);
  QS803AppClass* initWithProc(const RunningApplication& proc);
  QS803AppClass* initWithBookmark(const std::optional<pl::Data>& bookmark, const std::optional<std::string>& name,
                                  const std::optional<std::string>& matchingKey,
                                  const std::optional<std::string>& bundleID);
  QS803AppClass* initWithAppDic(const pl::Dict& dic);
  QS803AppClass* initSnappingAppWithObject(const AppObject& object);
  static QS803AppClass* insertSnappingAppWithObject(const AppObject& object, ManagedObjectContext* ctx);

  // --- Matching --------------------------------------------------------------------------------
  static std::string matchingKeyFromURL(const Platform& p, const std::string& path);
  static std::string matchingKeyFromProc(const Platform& p, const RunningApplication& proc);
  static std::string pathWithoutHomeDirectory(const Platform& p, const std::string& path);
  // The same through the one port they read, the workspace's home folder.
  static std::string matchingKeyFromProc(Workspace* ws, const RunningApplication& proc);
  static std::string pathWithoutHomeDirectory(Workspace* ws, const std::string& path);
  static std::string urlFromProc(const RunningApplication& proc);
  static bool compareMatchingKey(const std::optional<std::string>& stored, const std::optional<std::string>& key);
  static bool compareMatchingKeyToProc(const Platform& p, const std::optional<std::string>& stored,
                                       const RunningApplication& proc);
  static bool compareMatchingKeyToProc(Workspace* ws, const std::optional<std::string>& stored,
                                       const RunningApplication& proc);
  bool isEqualToMatchingKey(const std::optional<std::string>& key) const;
  bool isEqualToMatchingKeyInURL(const std::string& path) const;
  bool isEqualToMatchingKeyInProc(const RunningApplication& proc) const;
  bool isEqualToMatchingKeyInObject(const AppObject& object) const;
  bool isEqualToMatchingKeyInAppDic(const pl::Dict& dic) const;

  // --- Snapping --------------------------------------------------------------------------------
  bool isDefault() const { return !matchingKey().has_value(); }
  std::string initialSnapping() const;
  // Position in the snapping list; nullopt when the value is not in it.
  static std::optional<size_t> snappingIX(const std::optional<std::string>& value);
  std::optional<size_t> snappingIX() const { return snappingIX(snapping()); }
  std::string snappingForDefault() const;
  std::string actualSnapping() const;
  std::vector<std::string> snappingItems() const;
  // The items localized; separators stay "-".
  std::vector<std::string> snappingMenu() const;
  size_t snappingMenuIX() const;
  void setSnappingMenuIX(size_t position);
  bool snappingOptionEnabled() const;
  bool snappingWarningButtonHidden() const;
  std::optional<std::string> tmpSnapping() const { return snapping(); }
  bool isSnappingApp() const { return tmpSnapping().has_value(); }
  bool isStandardApp() const { return !isSnappingApp(); }
  static std::optional<std::vector<QS803AppClass*>> fetchAllSnappingApps(ManagedObjectContext* ctx);
  static QS803AppClass* fetchDefSnappingApp(ManagedObjectContext* ctx);
  static std::string localizedSnapping(const Platform& p, const std::string& value);

  // --- Names and presentation ------------------------------------------------------------------
  static std::string nameForDefault(const Platform& p);
  // The bookmark resolved; a stale one is renewed. nullopt when it cannot be resolved.
  std::optional<std::string> url();
  std::string originalName();
  std::string displayName();
  // The display name with the paragraph style of a table row of height 36, alignment 4.
  struct AlignedText {
    std::string text;
    int alignment = 0;
    int lineHeight = 0;  // minimum and maximum line height
  };
  std::optional<AlignedText> alignedDisplayName();
  void setAlignedDisplayName(const std::string& text);
  std::string icon();
  QS803AppClass* defApplication() const;
  const pl::Value* setupCommandForKey(const std::string& key) const;
  void setSetupCommand(const pl::Value& value, const std::string& key);
  std::string setupCommandDebug() const;
  void setSetupCommandDebug(const std::string& text);

  // --- Actions ---------------------------------------------------------------------------------
  QS804ActionClass* insertActionWithButton(const pl::Value& button, const pl::Value& scroll, const pl::Value& modkeys,
                                           const pl::Array* actionList = nullptr);
  QS804ActionClass* insertActionWithObject(const pl::Dict& dic);
  void removeAllActions();

  // --- Order -----------------------------------------------------------------------------------
  // Default first, then name, then matching key (case-insensitive; missing values first).
  // Dictionaries are put in the same order by sortAppDics (exchange_file.h).
  static bool sortDescriptorsLess(const QS803AppClass* a, const QS803AppClass* b);

  // --- Dictionary form -------------------------------------------------------------------------
  pl::Dict appDic() const;
  QS803AppClass* importFromAppDic(const pl::Dict& dic);
  bool isEqualToImportSettingsInAppDic(const pl::Dict* dic) const;
  bool isEqualToAppDic(const pl::Dict* dic) const;
  static const std::vector<std::string>& excludeAppKeysForImport();

 private:
  std::optional<std::string> text(int a) const;
  void setText(int a, const std::optional<std::string>& v);
};

class QS804ActionClass : public ManagedObject {
 public:
  QS804ActionClass() = default;

  const pl::Value& button() const { return value(attr::action::button); }
  const pl::Value& scroll() const { return value(attr::action::scroll); }
  const pl::Value& scrollIX() const { return value(attr::action::scrollIX); }
  const pl::Value& modkeys() const { return value(attr::action::modkeys); }
  const pl::Value& func() const { return value(attr::action::func); }
  void setFunc(const pl::Value& v) { setValue(attr::action::func, v); }
  QS803AppClass* application() const;
  void setApplication(QS803AppClass* app);

  // From an action dictionary; null when it is not one.
  QS804ActionClass* initWithObject(const pl::Dict& dic);
  // The triple, and when actionList holds a dictionary for the same triple, the rest from it.
  QS804ActionClass* initWithButton(const pl::Value& button, const pl::Value& scroll, const pl::Value& modkeys,
                                   const pl::Array* actionList);
  bool isEqualToButton(const pl::Value& button, const pl::Value& scroll, const pl::Value& modkeys) const;
  pl::Dict actDic() const;
  // Nothing is assigned: the action carries no information worth keeping.
  bool isPurgeable() const { return func().isNull(); }
  // Ascending button, then scrollIX, then modkeys.
  static bool orderLess(const QS804ActionClass* a, const QS804ActionClass* b);
};

// Accessors of application dictionaries.
namespace appdic {
std::optional<std::string> matchingKey(const pl::Dict& d);
std::optional<std::string> bundleID(const pl::Dict& d);
// Only a standard record's dictionary has actions.
const pl::Array* actions(const pl::Dict& d);
bool isDefault(const pl::Dict& d);
std::string displayName(const Platform& p, const pl::Dict& d);
bool isEqualToMatchingKey(const pl::Dict& d, const std::optional<std::string>& key);
bool isSnappingApp(const pl::Dict& d);
bool isStandardApp(const pl::Dict& d);
bool isEqualToImportSettingsInAppDic(const pl::Dict& d, const pl::Dict* other);
bool isEqualToAppDic(const pl::Dict& d, const pl::Dict* other);
void setMatchingKey(pl::Dict& d, const std::optional<std::string>& key);
void setActions(pl::Dict& d, pl::Array actions);
}  // namespace appdic

}  // namespace vl
