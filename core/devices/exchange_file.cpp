// Settings exchange files: AES-256-ECB over a keyed archive of the header dictionary, the
// header and content checks, and the device, application and cursor-speed validators.
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
#include <fstream>
#include <memory>
#include <set>

#include "core/plist/codec.h"
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

// Numbers of a dictionary the way the records store them: number objects, or "%g" texts for
// the values kept as decimal text. Only whole texts that read as finite numbers count.
std::optional<double> numberOrText(const pl::Value* v) {
  if (!v) return std::nullopt;
  if (v->isNumber()) {
    double d = v->doubleValue();
    return std::isfinite(d) ? std::optional<double>(d) : std::nullopt;
  }
  if (const std::string* s = v->asString()) {
    if (s->empty() || std::isspace(static_cast<unsigned char>((*s)[0]))) return std::nullopt;
    char* end = nullptr;
    errno = 0;
    double d = std::strtod(s->c_str(), &end);
    if (end != s->c_str() + s->size() || errno == ERANGE || !std::isfinite(d)) return std::nullopt;
    return d;
  }
  return std::nullopt;
}

// An identity value: absent reads as 0; present it must be an integer within 32 bits
// unsigned, so that truncation can never make one device pass for another.
bool identityOf(const pl::Value& dic, std::string_view key, uint32_t* out) {
  *out = 0;
  const pl::Value* v = dic.find(key);
  if (!v) return true;
  const pl::Integer* i = v->asInteger();
  if (!i) return false;
  if (!i->isUnsigned && static_cast<int64_t>(i->bits) < 0) return false;
  if (i->bits > UINT32_MAX) return false;
  *out = static_cast<uint32_t>(i->bits);
  return true;
}

bool fail(std::string* why, std::string text) {
  if (why) *why = std::move(text);
  return false;
}

std::string hex(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%x", v);
  return buf;
}

std::string formatNumber(double d) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%g", d);
  return buf;
}

// Case-insensitive order of two optional texts; a missing text sorts first.
int compareText(const pl::Value* a, const pl::Value* b) {
  const std::string* x = a ? a->asString() : nullptr;
  const std::string* y = b ? b->asString() : nullptr;
  if (!x || !y) return (x ? 1 : 0) - (y ? 1 : 0);
  size_t n = std::min(x->size(), y->size());
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = static_cast<unsigned char>((*x)[i]), d = static_cast<unsigned char>((*y)[i]);
    if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
    if (d >= 'A' && d <= 'Z') d = static_cast<unsigned char>(d - 'A' + 'a');
    if (c != d) return c < d ? -1 : 1;
  }
  return x->size() == y->size() ? 0 : (x->size() < y->size() ? -1 : 1);
}

std::optional<pl::Data> readBounded(const std::string& path) {
  std::error_code ec;
  auto size = std::filesystem::file_size(path, ec);
  if (ec || size == 0 || size > kMaxExchangeFileBytes) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  pl::Data bytes(static_cast<size_t>(size));
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (in.gcount() != static_cast<std::streamsize>(bytes.size())) return std::nullopt;
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
  double v = version && version->isNumber() && !version->isBool() ? version->doubleValue() : 0;
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
  auto bytes = readBounded(path);
  if (!bytes)
    return rejected(ExchangeRule::FileSize, "file size: missing, unreadable, empty or over " +
                                                std::to_string(kMaxExchangeFileBytes) + " bytes");
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

// --- Dictionaries --------------------------------------------------------------------------------

std::optional<std::string> deviceIndexOfDic(const pl::Value& devDic) {
  uint32_t vid, pid, mid;
  if (!identityOf(devDic, "vid", &vid) || !identityOf(devDic, "pid", &pid) || !identityOf(devDic, "mid", &mid))
    return std::nullopt;
  const pl::Value* t = devDic.find("transport");
  if (t && !t->isString()) return std::nullopt;
  return hex(vid) + "-" + hex(pid) + "-" + hex(mid) + "-" + (t ? *t->asString() : std::string());
}

bool csValidate(const pl::Value& csDic, std::string* why) {
  if (!csDic.isDict()) return fail(why, "not a dictionary");
  const pl::Value* disable = csDic.find("disableAccl");
  const pl::Value* sensV = csDic.find("sensitivity");
  auto sens = numberOrText(sensV);
  if (disable && disable->isNumber() && disable->boolValue()) {
    // The resolution is still written to the device with acceleration off; zero, negative
    // or unreadable values would be unsafe there.
    if (sensV && !(sens && *sens > 0)) return fail(why, "sensitivity must be a positive number");
    return true;
  }
  auto track = numberOrText(csDic.find("trackingSpeed"));
  if (!track || !(*track >= 0 && *track <= 20)) return fail(why, "trackingSpeed must be 0 to 20");
  if (!sens || !(*sens >= 10 && *sens <= 2000)) return fail(why, "sensitivity must be 10 to 2000");
  return true;
}

bool QS813validateCSDics(const pl::Array& csDics, std::string* why) {
  if (csDics.size() != 5)
    return fail(why, "must hold 5 favourites, holds " + std::to_string(csDics.size()));
  std::set<int64_t> indexes;
  for (size_t i = 0; i < csDics.size(); ++i) {
    std::string inner;
    if (!csValidate(csDics[i], &inner)) return fail(why, "favourite " + std::to_string(i) + ": " + inner);
    const pl::Value* ix = csDics[i].find("index");
    if (ix && (!ix->isNumber() || ix->isBool()))
      return fail(why, "favourite " + std::to_string(i) + ": index is not a number");
    int64_t index = ix ? ix->longLongValue() : 0;
    if (!indexes.insert(index).second)
      return fail(why, "favourite " + std::to_string(i) + ": index " + std::to_string(index) + " repeats");
  }
  return true;
}

bool QS813validateAppDics(const pl::Array& appDics, bool defaultRequired, std::string* why) {
  if (appDics.empty()) return fail(why, "no applications");
  std::set<std::string> keys;
  bool hasDefault = false;
  for (size_t i = 0; i < appDics.size(); ++i) {
    const pl::Value& a = appDics[i];
    if (!a.isDict()) return fail(why, "application " + std::to_string(i) + ": not a dictionary");
    const pl::Value* key = a.find("matchingKey");
    if (key && !key->isString()) return fail(why, "application " + std::to_string(i) + ": matchingKey is not text");
    if (!key) {
      if (hasDefault) return fail(why, "application " + std::to_string(i) + ": a second default application");
      hasDefault = true;
    } else if (!keys.insert(*key->asString()).second) {
      return fail(why, "application " + std::to_string(i) + ": matchingKey \"" + *key->asString() + "\" repeats");
    }
  }
  if (defaultRequired && !hasDefault) return fail(why, "no default application");
  return true;
}

bool deviceValidate(const pl::Value& devDic, std::string* why) {
  if (!devDic.isDict()) return fail(why, "not a dictionary");
  uint32_t vid, pid, mid;
  if (!identityOf(devDic, "vid", &vid) || vid == 0) return fail(why, "vid must be a non-zero 32-bit number");
  if (!identityOf(devDic, "pid", &pid)) return fail(why, "pid must be a 32-bit number");
  if (!identityOf(devDic, "mid", &mid)) return fail(why, "mid must be a 32-bit number");
  auto transport = devDic.stringFor("transport");
  if (!transport || transport->empty()) return fail(why, "transport must be non-empty text");
  auto res = numberOrText(devDic.find("pointerResolution"));
  if (!res || !(*res > 0)) return fail(why, "pointerResolution must be above 0");
  const pl::Value* buttons = devDic.find("buttonCount");
  double b = buttons && buttons->isNumber() && !buttons->isBool() ? buttons->doubleValue() : 0;
  if (!(b >= 1 && b <= 32)) return fail(why, "buttonCount must be 1 to 32");
  auto sx = numberOrText(devDic.find("viewScaleX"));
  if (!sx || !(*sx > 0)) return fail(why, "viewScaleX must be above 0");
  auto sy = numberOrText(devDic.find("viewScaleY"));
  if (!sy || !(*sy > 0)) return fail(why, "viewScaleY must be above 0");
  std::string inner;
  const pl::Array* apps = devDic.arrayFor("applications");
  if (!apps) return fail(why, "applications: missing");
  if (!QS813validateAppDics(*apps, true, &inner)) return fail(why, "applications: " + inner);
  const pl::Array* speeds = devDic.arrayFor("cursorSpeeds");
  if (!speeds) return fail(why, "cursorSpeeds: missing");
  if (!QS813validateCSDics(*speeds, &inner)) return fail(why, "cursorSpeeds: " + inner);
  return true;
}

bool QS813validateDevDics(const pl::Array& devDics, std::string* why) {
  if (devDics.empty()) return fail(why, "no devices");
  std::set<std::string> indexes;
  for (size_t i = 0; i < devDics.size(); ++i) {
    std::string inner;
    if (!deviceValidate(devDics[i], &inner)) return fail(why, "device " + std::to_string(i) + ": " + inner);
    // The index texts themselves are compared: equal hashes must not make two devices one.
    std::string index = *deviceIndexOfDic(devDics[i]);
    if (!indexes.insert(index).second)
      return fail(why, "device " + std::to_string(i) + ": device " + index + " appears twice");
  }
  return true;
}

void sortAppDics(pl::Array& appDics) {
  std::stable_sort(appDics.begin(), appDics.end(), [](const pl::Value& a, const pl::Value& b) {
    bool da = a.isDict() && !a.find("matchingKey"), db = b.isDict() && !b.find("matchingKey");
    if (da != db) return da;  // the default first
    if (int c = compareText(a.find("name"), b.find("name"))) return c < 0;
    return compareText(a.find("matchingKey"), b.find("matchingKey")) < 0;
  });
}

}  // namespace vl
