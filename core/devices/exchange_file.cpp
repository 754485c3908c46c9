// Settings exchange files: AES-256-ECB over a keyed archive of the header dictionary, and the
// header and content checks. The dictionary validators are in exchange_validation.cpp, so
// that programs which only validate do not load the cipher library.
#include "core/devices/exchange_file.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>

#include "core/plist/number_text.h"
#include "core/plist/codec.h"
#include "core/plist/file_input.h"
#include "core/plist/keyed_archive.h"

namespace vl {

namespace {

constexpr size_t kKeyBytes = 32;
constexpr size_t kBlockBytes = 16;
// Seconds from 1970-01-01 to 2001-01-01, the platform's reference date.
constexpr double kReferenceDateUnix = 978307200.0;

struct CipherCtxFree {
  void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};

std::optional<pl::Data> aes256Ecb(bool encrypt, std::span<const uint8_t> data, const std::string& keyText) {
  if (keyText.size() > kKeyBytes) return std::nullopt;
  if (data.size() > static_cast<size_t>(INT_MAX) - 2 * kBlockBytes) return std::nullopt;
  if (!encrypt && (data.empty() || data.size() % kBlockBytes != 0)) return std::nullopt;

  std::array<uint8_t, kKeyBytes> key{};
  std::memcpy(key.data(), keyText.data(), keyText.size());
  std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree> ctx(EVP_CIPHER_CTX_new());
  std::optional<pl::Data> result;
  if (ctx && EVP_CipherInit_ex(ctx.get(), EVP_aes_256_ecb(), nullptr, key.data(), nullptr, encrypt ? 1 : 0) == 1 &&
      EVP_CIPHER_CTX_set_padding(ctx.get(), 1) == 1) {
    pl::Data out(data.size() + kBlockBytes);
    int n1 = 0, n2 = 0;
    // OpenSSL rejects a null input pointer even for zero bytes.
    static const uint8_t kNothing = 0;
    const uint8_t* in = data.empty() ? &kNothing : data.data();
    if (EVP_CipherUpdate(ctx.get(), out.data(), &n1, in, static_cast<int>(data.size())) == 1 &&
        EVP_CipherFinal_ex(ctx.get(), out.data() + n1, &n2) == 1) {
      out.resize(static_cast<size_t>(n1) + static_cast<size_t>(n2));
      result = std::move(out);
    } else {
      OPENSSL_cleanse(out.data(), out.size());
    }
  }
  OPENSSL_cleanse(key.data(), key.size());
  return result;
}


std::optional<pl::Data> readBounded(const std::string& path, std::string* why = nullptr) {
  pl::Data bytes;
  pl::FileReadResult r = pl::readRegularFile(path, kMaxExchangeFileBytes, &bytes);
  if (!r || bytes.empty()) {
    if (why) *why = r ? path + ": empty" : r.error;
    return std::nullopt;
  }
  return bytes;
}

bool hasExtension(const std::string& path, const char* ext) {
  return std::filesystem::path(path).extension() == std::string(".") + ext;
}

ExchangeReadResult rejected(ExchangeRule rule, std::string detail) {
  ExchangeReadResult r;
  r.failed = rule;
  r.detail = std::move(detail);
  return r;
}

std::string formatNumber(double d) {
  return pl::formatG(d);
}

}  // namespace

std::optional<pl::Data> buttonWithKey(std::span<const uint8_t> data, const std::string& key) {
  return aes256Ecb(true, data, key);
}

std::optional<pl::Data> cellWithKey(std::span<const uint8_t> data, const std::string& key) {
  return aes256Ecb(false, data, key);
}

pl::Date exchangeNow() {
  using namespace std::chrono;
  double unix = duration<double>(system_clock::now().time_since_epoch()).count();
  return pl::Date{unix - kReferenceDateUnix};
}

// --- Writing -------------------------------------------------------------------------------------

pl::Value exchangeHeader(const std::string& creator, const pl::Value& creatorVersion, const std::string& type,
                         const pl::Array& content, pl::Date created) {
  pl::Dict h;
  h.emplace("Version", pl::Value(kExchangeVersion));
  h.emplace("Type", pl::Value(type));
  h.emplace("Content", pl::Value(content));
  h.emplace("Creator", pl::Value(creator));
  // A dictionary cannot hold a null; an absent version is simply not written.
  if (!creatorVersion.isNull()) h.emplace("CreatorVer", creatorVersion);
  h.emplace("Creation Date", pl::Value(created));
  return pl::Value(std::move(h));
}

std::optional<pl::Data> sealExchangeHeader(const pl::Value& header) {
  pl::Data archive = pl::archivedData(header);
  if (archive.empty()) return std::nullopt;
  return buttonWithKey(archive, kExchangeKeyText);
}

std::optional<pl::Data> QS813settingData(const std::string& creator, const pl::Value& creatorVersion,
                                         const std::string& type, const pl::Array& content) {
  if (content.empty() || content.size() > kMaxExchangeContent) return std::nullopt;
  auto bytes = sealExchangeHeader(exchangeHeader(creator, creatorVersion, type, content, exchangeNow()));
  if (!bytes || bytes->size() > kMaxExchangeFileBytes) return std::nullopt;  // readers would refuse it
  return bytes;
}

std::optional<pl::Data> QS813devSettingDataWithDevDics(const std::string& creator, const pl::Value& version,
                                                       const pl::Array& devDics) {
  return QS813settingData(creator, version, kExchangeTypeDevice, devDics);
}

std::optional<pl::Data> QS813appSettingDataWithAppDics(const std::string& creator, const pl::Value& version,
                                                       pl::Array appDics) {
  sortAppDics(appDics);
  return QS813settingData(creator, version, kExchangeTypeApplication, appDics);
}

// --- Reading -------------------------------------------------------------------------------------

const char* exchangeRuleName(ExchangeRule r) {
  switch (r) {
    case ExchangeRule::Passed: return "passed";
    case ExchangeRule::FileSize: return "file size";
    case ExchangeRule::Decryption: return "decryption";
    case ExchangeRule::EmptyArchive: return "empty archive";
    case ExchangeRule::Archive: return "archive";
    case ExchangeRule::Header: return "header";
    case ExchangeRule::Version: return "version";
    case ExchangeRule::Type: return "type";
    case ExchangeRule::CreationDate: return "creation date";
    case ExchangeRule::Content: return "content";
    case ExchangeRule::Dictionaries: return "dictionaries";
  }
  return "unknown";
}

ExchangeReadResult readExchangeHeader(std::span<const uint8_t> bytes, const std::string& type, pl::Date now) {
  if (bytes.empty() || bytes.size() > kMaxExchangeFileBytes)
    return rejected(ExchangeRule::FileSize, "file size: " + std::to_string(bytes.size()) + " bytes, expected 1 to " +
                                                std::to_string(kMaxExchangeFileBytes));
  auto plain = cellWithKey(bytes, kExchangeKeyText);
  if (!plain)
    return rejected(ExchangeRule::Decryption, "decryption: not whole cipher blocks, wrong key or damaged padding");
  if (plain->empty()) return rejected(ExchangeRule::EmptyArchive, "empty archive: the file decrypts to nothing");

  pl::ReadResult parsed = pl::readBinary(*plain);
  if (!parsed.value) return rejected(ExchangeRule::Archive, "archive: not a binary property list: " + parsed.error);
  pl::Value root;
  if (parsed.value->find("$archiver")) {
    std::string error;
    auto un = pl::unarchive(*parsed.value, &error);
    if (!un) return rejected(ExchangeRule::Archive, "archive: " + error);
    root = std::move(*un);
  } else {
    // A plain binary property list of the header is accepted as well.
    root = std::move(*parsed.value);
  }
  if (!root.isDict()) return rejected(ExchangeRule::Header, "header: the archived root is not a dictionary");

  const pl::Value* version = root.find("Version");
  // Read as a double, as the format has it: a number, or a text that reads as one.
  double v = 0;
  if (version && version->isNumber() && !version->isBool()) v = version->doubleValue();
  else if (const std::string* s = version ? version->asString() : nullptr) v = pl::parseDecimal(*s).value_or(0);
  // A version must be positive: 0 and negative numbers are no file format this reader knows.
  if (!(v > 0 && v <= kExchangeVersion))
    return rejected(ExchangeRule::Version, "version: " + formatNumber(v) + " is not above 0 and at most 1.1");

  auto fileType = root.stringFor("Type");
  if (!fileType || *fileType != type)
    return rejected(ExchangeRule::Type, "type: \"" + fileType.value_or("") + "\", expected \"" + type + "\"");

  pl::Date created{0};
  if (const pl::Value* d = root.find("Creation Date")) {
    if (!d->isDate()) return rejected(ExchangeRule::CreationDate, "creation date: not a date");
    created = *d->asDate();
  }
  if (!(created.seconds <= now.seconds))
    return rejected(ExchangeRule::CreationDate, "creation date: lies in the future");

  const pl::Array* content = root.arrayFor("Content");
  if (!content || content->empty() || content->size() > kMaxExchangeContent)
    return rejected(ExchangeRule::Content, "content: must hold 1 to 100 elements, holds " +
                                               std::to_string(content ? content->size() : 0));
  ExchangeReadResult r;
  r.created = created;
  r.version = v;
  r.creator = root.stringFor("Creator").value_or("");
  if (const pl::Value* cv = root.find("CreatorVer")) r.creatorVersion = *cv;
  r.content = std::move(*root.asDict()->find("Content")->second.asArray());
  return r;
}

ExchangeReadResult readExchangeData(std::span<const uint8_t> bytes, const std::string& type, pl::Date now) {
  ExchangeReadResult r = readExchangeHeader(bytes, type, now);
  if (!r.content) return r;
  std::string why;
  bool ok;
  if (type == kExchangeTypeDevice) {
    ok = QS813validateDevDics(*r.content, &why);
  } else if (type == kExchangeTypeApplication) {
    ok = QS813validateAppDics(*r.content, false, &why);
    if (ok) sortAppDics(*r.content);
  } else {
    ok = false;
    why = "no validation for type \"" + type + "\"";
  }
  if (!ok) return rejected(ExchangeRule::Dictionaries, "dictionaries: " + why);
  return r;
}

ExchangeReadResult readExchangeFile(const std::string& path, const std::string& type, pl::Date now) {
  std::string why;
  auto bytes = readBounded(path, &why);
  if (!bytes)
    return rejected(ExchangeRule::FileSize, "file size: missing, unreadable, empty or over " +
                                                std::to_string(kMaxExchangeFileBytes) + " bytes (" + why + ")");
  return readExchangeData(*bytes, type, now);
}

std::optional<pl::Array> QS813contentFromSettingData(std::span<const uint8_t> bytes, const std::string& type,
                                                     pl::Date* created) {
  ExchangeReadResult r = readExchangeHeader(bytes, type, exchangeNow());
  if (r.content && created) *created = r.created;
  return std::move(r.content);
}

namespace {
std::optional<pl::Array> checked(ExchangeReadResult r, pl::Date* created) {
  if (r.content && created) *created = r.created;
  return std::move(r.content);
}
}  // namespace

std::optional<pl::Array> QS813devDicsFromSettingData(std::span<const uint8_t> bytes, pl::Date* created) {
  return checked(readExchangeData(bytes, kExchangeTypeDevice, exchangeNow()), created);
}

std::optional<pl::Array> QS813devDicsFromFile(const std::string& path, pl::Date* created) {
  return checked(readExchangeFile(path, kExchangeTypeDevice, exchangeNow()), created);
}

std::optional<pl::Array> QS813appDicsFromSettingData(std::span<const uint8_t> bytes, pl::Date* created) {
  return checked(readExchangeData(bytes, kExchangeTypeApplication, exchangeNow()), created);
}

std::optional<pl::Array> QS813appDicsFromFile(const std::string& path, pl::Date* created) {
  return checked(readExchangeFile(path, kExchangeTypeApplication, exchangeNow()), created);
}

bool QS813isDevSettingDataFile(const std::string& path) { return hasExtension(path, kDeviceSettingExtension); }
bool QS813isAppSettingDataFile(const std::string& path) { return hasExtension(path, kAppSettingExtension); }

}  // namespace vl
