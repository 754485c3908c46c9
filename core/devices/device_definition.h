// Device definitions: property-list files that describe known products (how to recognise them,
// what to call them, their real pointer resolution), and the lookup that picks the best one
// for a device identity.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/plist/value.h"
#include "platform/api/platform.h"
#include "platform/api/system_info.h"

namespace vl {

// Limits of the definition file's values; a value outside them reads as absent.
inline constexpr size_t kMaxPersonalities = 99;      // fewer than 100
inline constexpr size_t kMaxNameLength = 100;        // UTF-16 units, as the platform counts
inline constexpr size_t kMaxPartNames = 49;          // fewer than 50
inline constexpr double kMinDefinedResolution = 10;
inline constexpr double kMaxDefinedResolution = 2000;
inline constexpr int64_t kMaxButtonCount = 32;
inline constexpr size_t kMaxDeviceOps = 19;          // fewer than 20
inline constexpr size_t kMaxActDics = 49;
inline constexpr size_t kMaxKeyboardInputs = 99;
// A definition is a few kilobytes; anything far larger is not one and is not read.
inline constexpr size_t kMaxDefinitionFileBytes = 1024 * 1024;

inline constexpr const char* kDeviceDefinitionsFolder = "Device Definitions";
inline constexpr const char* kDefinitionExtension = "xml";

// Personality scores: a matching vendor gives the base, a product id lifts it, model id and
// transport add to it, so a more specific personality always wins.
inline constexpr int kScoreVendor = 1000;
inline constexpr int kScoreProduct = 1100;
inline constexpr int kScoreModel = 10;
inline constexpr int kScoreTransport = 1;

class QS834DeviceDefinition;
using DeviceDefinitionRef = std::shared_ptr<const QS834DeviceDefinition>;
// Definitions in the order they were found; no two have equal content.
using DeviceDefinitionSet = std::vector<DeviceDefinitionRef>;

// One definition file, immutable after loading.
class QS834DeviceDefinition {
 public:
  // Reads the property list at path; null when it is unreadable, too large, not a dictionary
  // or an empty one.
  static DeviceDefinitionRef deviceDefinitionWithURL(const std::string& path, bool inUserFolder = false);
  // The same from bytes already in memory (path is only recorded).
  static DeviceDefinitionRef deviceDefinitionWithData(std::span<const uint8_t> bytes, const std::string& path,
                                                      bool inUserFolder = false);

  QS834DeviceDefinition(pl::Value content, std::string filePath, bool inUserFolder);

  const pl::Value& content() const { return content_; }
  const std::string& filePath() const { return filePath_; }
  bool inUserFolder() const { return inUserFolder_; }

  // Equal contents make equal definitions, wherever the files lie.
  bool operator==(const QS834DeviceDefinition& o) const { return content_ == o.content_; }
  std::string description() const { return content_.describe(); }
  // Any key of the file, unchecked (the lookup of keys this class does not define).
  const pl::Value* objectForKey(const std::string& key) const { return content_.find(key); }

  // Typed accessors; each applies the limits above and answers nullopt/null (or false) when
  // the value is missing, of the wrong type or out of its limits.
  pl::Date createDate() const;         // default: the reference date
  std::string osVersion() const;       // default: "10.0"
  std::optional<double> pointerResolution() const;
  std::optional<int64_t> buttonCount() const;
  std::optional<std::string> hScrollOp() const;
  const pl::Dict* partName() const;
  const pl::Array* deviceOps() const;
  const pl::Array* localizedDeviceOps(const Platform& p) const;
  std::optional<pl::Array> actDicList() const;  // distinct elements, first occurrence kept
  const pl::Dict* keyboardInputList() const;
  std::optional<pl::Dict> keyboardInputListDecimalKey() const;
  bool needsButtonFixer() const;
  bool setupImmediately() const;
  const pl::Array* personalities() const;

  // On p's system; available when p has no system to ask.
  bool isAvailableForCurrentOS(const Platform& p) const;
  bool isAvailableFor(const OsVersion& system) const;

  // Names are looked up in the user's first language (English without a system to ask).
  static std::optional<std::string> nameOfPersonality(SystemInfo* system, const pl::Value& personality);
  static std::optional<std::string> nameOfPersonality(const Platform& p, const pl::Value& personality) {
    return nameOfPersonality(p.system, personality);
  }
  static int scoreForPersonality(const pl::Value& personality, uint32_t vid, uint32_t pid, uint32_t mid,
                                 const std::string& transport);
  // The best personality (earlier wins on equal scores) and its score; null and 0 when none.
  const pl::Value* personalityForVID(uint32_t vid, uint32_t pid, uint32_t mid, const std::string& transport,
                                     int* score) const;
  int personalityScoreForVID(uint32_t vid, uint32_t pid, uint32_t mid, const std::string& transport) const;
  std::optional<std::string> nameForVID(SystemInfo* system, uint32_t vid, uint32_t pid, uint32_t mid,
                                        const std::string& transport) const;
  std::optional<std::string> nameForVID(const Platform& p, uint32_t vid, uint32_t pid, uint32_t mid,
                                        const std::string& transport) const {
    return nameForVID(p.system, vid, pid, mid, transport);
  }

 private:
  pl::Value content_;
  std::string filePath_;
  bool inUserFolder_ = false;
};

// Compares dotted version texts numerically ("10.9" < "10.15"); a missing part counts as 0.
// Answers <0, 0 or >0.
int compareVersionTexts(const std::string& a, const std::string& b);
// A version text of two or three dot-separated decimal numbers.
bool isVersionText(const std::string& text);

// Where definitions come from. The user's folder comes first so that its copies take the
// place of shipped definitions with the same content.
struct DefinitionFolders {
  std::optional<std::string> userFolder;   // created when missing
  std::vector<std::string> shippedFolders;  // read in this order
};

// Reads the folders into one set without duplicates; when os is given, definitions not
// available on that system are removed.
DeviceDefinitionSet loadDeviceDefinitions(const DefinitionFolders& folders, const std::optional<OsVersion>& os);

// Every "xml" file directly in folder that loads as a non-empty dictionary; hidden files,
// folders and links are left out; entries are read in name order.
DeviceDefinitionSet QS834deviceDefsInDirectory(const std::string& folder, bool inUserFolder = false);

// The definition whose best personality scores highest; null when none matches.
DeviceDefinitionRef QS834deviceDefFromList(const DeviceDefinitionSet& set, uint32_t vid, uint32_t pid,
                                           uint32_t mid, const std::string& transport);

}  // namespace vl
