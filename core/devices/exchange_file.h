// Settings exchange files: the encrypted keyed archive that carries device or application
// settings from one machine to another, the checks a file must pass before any of its content
// is used, and the dictionary validators those checks rely on.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "core/plist/value.h"

namespace vl {

inline constexpr double kExchangeVersion = 1.1;
inline constexpr size_t kMaxExchangeContent = 100;
// A file of a hundred devices with their applications stays far below this; anything larger
// is refused before it is decrypted, so no file can make the reader's memory unbounded.
inline constexpr size_t kMaxExchangeFileBytes = 16u * 1024 * 1024;
inline constexpr const char* kExchangeTypeDevice = "Device";
inline constexpr const char* kExchangeTypeApplication = "Application";
inline constexpr const char* kDeviceSettingExtension = "dvsetting_dev";
inline constexpr const char* kAppSettingExtension = "dvsetting_app";
// The fixed key text; the key is its UTF-8 bytes padded with zeros to 32 bytes.
inline constexpr const char* kExchangeKeyText = "Kestrel Quay & Lumenfold";

// AES-256-ECB with PKCS#7 padding, the key made from key text (at most 32 UTF-8 bytes).
// Null when the key does not fit or the cipher fails; decryption also fails on a length that
// is not a whole number of blocks and on damaged padding.
std::optional<pl::Data> buttonWithKey(std::span<const uint8_t> data, const std::string& key);
std::optional<pl::Data> cellWithKey(std::span<const uint8_t> data, const std::string& key);

// The platform's date now, in seconds since the reference date.
pl::Date exchangeNow();

// --- Writing -------------------------------------------------------------------------------------

// The header dictionary as written: Version, Type, Content, Creator, CreatorVer (left out when
// null) and Creation Date.
pl::Value exchangeHeader(const std::string& creator, const pl::Value& creatorVersion, const std::string& type,
                         const pl::Array& content, pl::Date created);
// Archives a header and encrypts the archive: the bytes of a file.
std::optional<pl::Data> sealExchangeHeader(const pl::Value& header);

// Null when content is empty or holds more than kMaxExchangeContent elements, or encryption
// fails.
std::optional<pl::Data> QS813settingData(const std::string& creator, const pl::Value& creatorVersion,
                                         const std::string& type, const pl::Array& content);
std::optional<pl::Data> QS813devSettingDataWithDevDics(const std::string& creator, const pl::Value& version,
                                                       const pl::Array& devDics);
// Sorts the dictionaries (default first, then by name and matching key) before writing.
std::optional<pl::Data> QS813appSettingDataWithAppDics(const std::string& creator, const pl::Value& version,
                                                       pl::Array appDics);

// --- Reading -------------------------------------------------------------------------------------

// The rules a file is checked against, in the order they are applied.
enum class ExchangeRule {
  Passed = 0,
  FileSize,        // empty, unreadable or larger than kMaxExchangeFileBytes
  Decryption,      // not whole blocks, wrong key or damaged padding
  EmptyArchive,    // decrypted to nothing
  Archive,         // neither a keyed archive nor a binary property list
  Header,          // the root is not a dictionary
  Version,         // "Version" not above 0 and at most 1.1
  Type,            // "Type" is not the expected one
  CreationDate,    // "Creation Date" not a date, or in the future
  Content,         // "Content" not an array of 1 to 100 elements
  Dictionaries,    // the content fails the device or application validation
};

const char* exchangeRuleName(ExchangeRule r);

struct ExchangeReadResult {
  std::optional<pl::Array> content;  // set only when every rule passed
  pl::Date created;                  // the file's creation date (reference date when absent)
  double version = 0;                // the header's facts, for display
  std::string creator;
  pl::Value creatorVersion;
  ExchangeRule failed = ExchangeRule::Passed;
  std::string detail;                // one line naming what failed, empty when passed
  explicit operator bool() const { return content.has_value(); }
};

// The checks with the reason of a rejection (the public functions below stay silent).
// type is kExchangeTypeDevice or kExchangeTypeApplication; the content of an application file
// comes back sorted. now is the time the creation date must not lie after.
ExchangeReadResult readExchangeData(std::span<const uint8_t> bytes, const std::string& type, pl::Date now);
ExchangeReadResult readExchangeFile(const std::string& path, const std::string& type, pl::Date now);
// Only the header checks (steps up to the content count), no dictionary validation.
ExchangeReadResult readExchangeHeader(std::span<const uint8_t> bytes, const std::string& type, pl::Date now);

std::optional<pl::Array> QS813contentFromSettingData(std::span<const uint8_t> bytes, const std::string& type,
                                                     pl::Date* created);
std::optional<pl::Array> QS813devDicsFromSettingData(std::span<const uint8_t> bytes, pl::Date* created);
std::optional<pl::Array> QS813devDicsFromFile(const std::string& path, pl::Date* created);
std::optional<pl::Array> QS813appDicsFromSettingData(std::span<const uint8_t> bytes, pl::Date* created);
std::optional<pl::Array> QS813appDicsFromFile(const std::string& path, pl::Date* created);
bool QS813isDevSettingDataFile(const std::string& path);
bool QS813isAppSettingDataFile(const std::string& path);

// --- Dictionaries --------------------------------------------------------------------------------

// Each validator answers whether the value passes; when why is given, a failure also says,
// in one line, which rule failed.
[[nodiscard]] bool QS813validateDevDics(const pl::Array& devDics, std::string* why = nullptr);
[[nodiscard]] bool QS813validateAppDics(const pl::Array& appDics, bool defaultRequired, std::string* why = nullptr);
[[nodiscard]] bool QS813validateCSDics(const pl::Array& csDics, std::string* why = nullptr);
[[nodiscard]] bool deviceValidate(const pl::Value& devDic, std::string* why = nullptr);
[[nodiscard]] bool csValidate(const pl::Value& csDic, std::string* why = nullptr);

// "%x-%x-%x-%@" of a device dictionary's vid, pid, mid and transport; nullopt when an
// identity value is not an unsigned 32-bit number or the transport is not a string.
std::optional<std::string> deviceIndexOfDic(const pl::Value& devDic);

// Default record first, then name and matching key ascending, ignoring case; missing values
// sort first. Stable.
void sortAppDics(pl::Array& appDics);

}  // namespace vl
