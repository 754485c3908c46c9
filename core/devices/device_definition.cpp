// Device definitions: loading and checking definition files, personality scores, and the
// choice of the best definition among the folders' files.
#include "core/devices/device_definition.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <set>
#include <system_error>

#include "core/plist/ascii_text.h"
#include "core/plist/number_text.h"
#include "core/plist/codec.h"
#include "core/plist/file_input.h"
#include "core/system/versions.h"
#include "platform/api/platform.h"

namespace vl {

namespace fs = std::filesystem;

namespace {

// Text length as the platform counts it (UTF-16 units), so that the 100-character limit
// means the same for names outside the basic plane.
size_t utf16Length(const std::string& s) {
  size_t n = 0;
  for (unsigned char c : s) {
    if ((c & 0xC0) == 0x80) continue;  // continuation byte
    n += (c >= 0xF0) ? 2 : 1;
  }
  return n;
}

bool isValidName(const pl::Value* v) {
  if (!v || !v->isString()) return false;
  size_t n = utf16Length(*v->asString());
  return n >= 1 && n <= kMaxNameLength;
}

// An identity number of a personality: absent, a valid unsigned 32-bit value, or anything
// else. A malformed value must not widen the match to "any product", so callers treat it
// as a mismatch rather than as absent.
enum class IdState { Absent, Valid, Malformed };

IdState readIdentity(const pl::Value& personality, std::string_view key, uint32_t* out) {
  const pl::Value* v = personality.find(key);
  *out = 0;
  if (!v) return IdState::Absent;
  const pl::Integer* i = v->asInteger();
  if (!i) return IdState::Malformed;
  // Signed integers must not be negative; every value must fit 32 bits unsigned.
  if (!i->isUnsigned && static_cast<int64_t>(i->bits) < 0) return IdState::Malformed;
  if (i->bits > UINT32_MAX) return IdState::Malformed;
  *out = static_cast<uint32_t>(i->bits);
  return IdState::Valid;
}

// Whole-text decimal number; partial numbers ("1600abc"), NaN and infinities are not numbers.
std::optional<double> parseNumberText(const std::string& s) {
  return pl::parseDecimal(s);
}

// "0x" or "0X" followed by hexadecimal digits only, non-zero and within 32 bits.
std::optional<uint32_t> parseHexKey(const std::string& key) {
  if (key.size() < 3 || key[0] != '0' || (key[1] != 'x' && key[1] != 'X')) return std::nullopt;
  uint64_t v = 0;
  for (size_t i = 2; i < key.size(); ++i) {
    char c = key[i];
    int d = pl::hexDigitValue(c);
    if (d < 0) return std::nullopt;
    v = v * 16 + static_cast<uint64_t>(d);
    if (v > UINT32_MAX) return std::nullopt;
  }
  if (v == 0) return std::nullopt;
  return static_cast<uint32_t>(v);
}

std::vector<uint64_t> versionParts(const std::string& text) {
  std::vector<uint64_t> parts;
  uint64_t cur = 0;
  bool any = false;
  for (char c : text) {
    if (c == '.') {
      parts.push_back(cur);
      cur = 0;
      any = false;
    } else if (c >= '0' && c <= '9') {
      // Saturate rather than wrap: a silly long number still compares as large.
      cur = cur > (UINT64_MAX - 9) / 10 ? UINT64_MAX : cur * 10 + static_cast<uint64_t>(c - '0');
      any = true;
    } else {
      break;
    }
  }
  if (any || !parts.empty()) parts.push_back(cur);
  return parts;
}

std::string versionText(const OsVersion& v) {
  return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.patch);
}

std::optional<std::vector<uint8_t>> readSmallFile(const std::string& path) {
  std::vector<uint8_t> bytes;
  if (!pl::readRegularFile(path, kMaxDefinitionFileBytes, &bytes)) return std::nullopt;
  return bytes;
}

bool containsEqual(const DeviceDefinitionSet& set, const QS834DeviceDefinition& d) {
  return std::any_of(set.begin(), set.end(), [&](const DeviceDefinitionRef& e) { return *e == d; });
}

}  // namespace

// --- Versions ------------------------------------------------------------------------------------

bool isVersionText(const std::string& text) {
  int parts = 1;
  size_t digits = 0;
  for (char c : text) {
    if (c == '.') {
      if (digits == 0) return false;
      ++parts;
      digits = 0;
    } else if (c >= '0' && c <= '9') {
      if (++digits > 9) return false;
    } else {
      return false;
    }
  }
  return digits > 0 && (parts == 2 || parts == 3);
}

int compareVersionTexts(const std::string& a, const std::string& b) {
  auto pa = versionParts(a), pb = versionParts(b);
  size_t n = std::max(pa.size(), pb.size());
  for (size_t i = 0; i < n; ++i) {
    uint64_t x = i < pa.size() ? pa[i] : 0, y = i < pb.size() ? pb[i] : 0;
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

// --- One definition ------------------------------------------------------------------------------

QS834DeviceDefinition::QS834DeviceDefinition(pl::Value content, std::string filePath, bool inUserFolder)
    : content_(std::move(content)), filePath_(std::move(filePath)), inUserFolder_(inUserFolder) {}

DeviceDefinitionRef QS834DeviceDefinition::deviceDefinitionWithData(std::span<const uint8_t> bytes,
                                                                   const std::string& path, bool inUserFolder) {
  if (bytes.empty() || bytes.size() > kMaxDefinitionFileBytes) return nullptr;
  pl::ReadResult r = pl::read(bytes);
  if (!r.value || !r.value->isDict() || r.value->asDict()->empty()) return nullptr;
  return std::make_shared<const QS834DeviceDefinition>(std::move(*r.value), path, inUserFolder);
}

DeviceDefinitionRef QS834DeviceDefinition::deviceDefinitionWithURL(const std::string& path, bool inUserFolder) {
  auto bytes = readSmallFile(path);
  if (!bytes) return nullptr;
  return deviceDefinitionWithData(*bytes, path, inUserFolder);
}

pl::Date QS834DeviceDefinition::createDate() const {
  const pl::Value* v = content_.find("createDate");
  if (v && v->isDate()) return *v->asDate();
  return pl::Date{0};
}

std::string QS834DeviceDefinition::osVersion() const {
  auto s = content_.stringFor("osVersion");
  if (s && isVersionText(*s)) return *s;
  return "10.0";
}

std::optional<double> QS834DeviceDefinition::pointerResolution() const {
  auto s = content_.stringFor("pointerResolution");
  if (!s) return std::nullopt;
  auto d = parseNumberText(*s);
  if (!d || *d < kMinDefinedResolution || *d > kMaxDefinedResolution) return std::nullopt;
  return d;
}

std::optional<int64_t> QS834DeviceDefinition::buttonCount() const {
  const pl::Value* v = content_.find("buttonCount");
  if (!v || !v->isNumber() || v->isBool()) return std::nullopt;
  double d = v->doubleValue();
  if (!(d >= 1 && d <= kMaxButtonCount) || d != std::floor(d)) return std::nullopt;
  return static_cast<int64_t>(d);
}

std::optional<std::string> QS834DeviceDefinition::hScrollOp() const {
  auto s = content_.stringFor("hScrollOp");
  if (!s || s->empty()) return std::nullopt;
  return s;
}

const pl::Dict* QS834DeviceDefinition::partName() const {
  const pl::Dict* d = content_.dictFor("partName");
  return d && d->size() <= kMaxPartNames ? d : nullptr;
}

const pl::Array* QS834DeviceDefinition::deviceOps() const {
  const pl::Array* a = content_.arrayFor("deviceOps");
  return a && a->size() <= kMaxDeviceOps ? a : nullptr;
}

const pl::Array* QS834DeviceDefinition::localizedDeviceOps(const Platform& p) const {
  const pl::Value* v = localizedValueForKey(p.system, &content_, "deviceOps");
  const pl::Array* a = v ? v->asArray() : nullptr;
  if (a && !a->empty() && a->size() <= kMaxDeviceOps) return a;
  return deviceOps();
}

std::optional<pl::Array> QS834DeviceDefinition::actDicList() const {
  const pl::Array* a = content_.arrayFor("actDicList");
  if (!a || a->size() > kMaxActDics) return std::nullopt;
  pl::Array distinct;
  for (const auto& e : *a)
    if (std::find(distinct.begin(), distinct.end(), e) == distinct.end()) distinct.push_back(e);
  return distinct;
}

const pl::Dict* QS834DeviceDefinition::keyboardInputList() const {
  const pl::Dict* d = content_.dictFor("keyboardInputList");
  if (!d || d->size() > kMaxKeyboardInputs) return nullptr;
  for (const auto& [k, v] : *d)
    if (!v.isNumber()) return nullptr;
  return d;
}

std::optional<pl::Dict> QS834DeviceDefinition::keyboardInputListDecimalKey() const {
  const pl::Dict* list = keyboardInputList();
  if (!list || list->empty()) return std::nullopt;
  pl::Dict out;
  // Plain keys first, so that a decimal key given in the file beats its hexadecimal twin.
  for (const auto& [k, v] : *list)
    if (!parseHexKey(k)) out.emplace(k, v);
  for (const auto& [k, v] : *list) {
    auto hex = parseHexKey(k);
    if (!hex) continue;
    // Usages are unsigned; a signed rendering would turn large ones negative.
    out.emplace(std::to_string(*hex), v);  // keeps an entry already present
  }
  return out;
}

bool QS834DeviceDefinition::needsButtonFixer() const { return content_.boolFor("needsButtonFixer").value_or(false); }
bool QS834DeviceDefinition::setupImmediately() const { return content_.boolFor("setupImmediately").value_or(false); }

const pl::Array* QS834DeviceDefinition::personalities() const {
  const pl::Array* a = content_.arrayFor("personalities");
  return a && a->size() <= kMaxPersonalities ? a : nullptr;
}

bool QS834DeviceDefinition::isAvailableFor(const OsVersion& system) const {
  return compareVersionTexts(versionText(system), osVersion()) >= 0;
}

bool QS834DeviceDefinition::isAvailableForCurrentOS(const Platform& p) const {
  const SystemInfo* info = p.system;
  // Without a system to ask there is nothing to rule a definition out.
  return !info || isAvailableFor(info->osVersion());
}

std::optional<std::string> QS834DeviceDefinition::nameOfPersonality(SystemInfo* system, const pl::Value& personality) {
  const pl::Value* v = localizedValueForKey(system, &personality, "name");
  if (!isValidName(v)) return std::nullopt;
  return *v->asString();
}

int QS834DeviceDefinition::scoreForPersonality(const pl::Value& personality, uint32_t vid, uint32_t pid,
                                               uint32_t mid, const std::string& transport) {
  if (!personality.isDict()) return 0;
  uint32_t pvid, ppid, pmid;
  if (readIdentity(personality, "vid", &pvid) != IdState::Valid || pvid == 0 || pvid != vid) return 0;
  int score = kScoreVendor;

  IdState ps = readIdentity(personality, "pid", &ppid);
  if (ps == IdState::Malformed) return 0;
  if (ppid != 0) {
    if (ppid != pid) return 0;
    score = kScoreProduct;
  }
  IdState ms = readIdentity(personality, "mid", &pmid);
  if (ms == IdState::Malformed) return 0;
  if (pmid != 0) {
    if (pmid != mid) return 0;
    score += kScoreModel;
  }
  const pl::Value* t = personality.find("transport");
  if (t) {
    if (!t->isString()) return 0;
    const std::string& pt = *t->asString();
    if (!pt.empty()) {
      // The strings themselves, not their hashes: two transports must never pass as one.
      if (pt != transport) return 0;
      score += kScoreTransport;
    }
  }
  return score;
}

const pl::Value* QS834DeviceDefinition::personalityForVID(uint32_t vid, uint32_t pid, uint32_t mid,
                                                          const std::string& transport, int* score) const {
  const pl::Value* best = nullptr;
  int bestScore = 0;
  if (const pl::Array* list = personalities()) {
    for (const auto& p : *list) {
      if (!p.isDict()) continue;
      int s = scoreForPersonality(p, vid, pid, mid, transport);
      if (s > bestScore) {
        best = &p;
        bestScore = s;
      }
    }
  }
  if (score) *score = bestScore;
  return best;
}

int QS834DeviceDefinition::personalityScoreForVID(uint32_t vid, uint32_t pid, uint32_t mid,
                                                  const std::string& transport) const {
  int s = 0;
  personalityForVID(vid, pid, mid, transport, &s);
  return s;
}

std::optional<std::string> QS834DeviceDefinition::nameForVID(SystemInfo* system, uint32_t vid, uint32_t pid, uint32_t mid,
                                                             const std::string& transport) const {
  const pl::Value* p = personalityForVID(vid, pid, mid, transport, nullptr);
  if (p) {
    if (auto name = nameOfPersonality(system, *p)) return name;
  }
  // A personality without a usable name falls back to the product's own name.
  const pl::Value* v = localizedValueForKey(system, &content_, "name");
  if (!isValidName(v)) return std::nullopt;
  return *v->asString();
}

// --- Folders and the set -------------------------------------------------------------------------

DeviceDefinitionSet QS834deviceDefsInDirectory(const std::string& folder, bool inUserFolder) {
  DeviceDefinitionSet out;
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  if (ec) return out;
  std::vector<fs::path> files;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    const fs::path& p = it->path();
    std::string name = p.filename().string();
    if (name.empty() || name[0] == '.') continue;
    std::error_code e2;
    // Links count as alias files and are left out, as are folders.
    if (it->is_symlink(e2) || !it->is_regular_file(e2)) continue;
    if (p.extension() != std::string(".") + kDefinitionExtension) continue;
    files.push_back(p);
  }
  std::sort(files.begin(), files.end());
  for (const auto& p : files) {
    auto d = QS834DeviceDefinition::deviceDefinitionWithURL(p.string(), inUserFolder);
    if (d && !containsEqual(out, *d)) out.push_back(std::move(d));
  }
  return out;
}

DeviceDefinitionSet loadDeviceDefinitions(const DefinitionFolders& folders, const std::optional<OsVersion>& os) {
  DeviceDefinitionSet set;
  std::set<std::string> seenFolders;
  auto add = [&](const std::string& folder, bool inUser) {
    std::error_code ec;
    fs::path canon = fs::weakly_canonical(folder, ec);
    if (!seenFolders.insert(ec ? folder : canon.string()).second) return;
    for (auto& d : QS834deviceDefsInDirectory(folder, inUser))
      if (!containsEqual(set, *d)) set.push_back(std::move(d));
  };
  if (folders.userFolder) {
    std::error_code ec;
    fs::create_directories(*folders.userFolder, ec);  // a failure just yields no definitions
    add(*folders.userFolder, true);
  }
  for (const auto& f : folders.shippedFolders) add(f, false);
  if (os) {
    std::erase_if(set, [&](const DeviceDefinitionRef& d) { return !d->isAvailableFor(*os); });
  }
  return set;
}

DeviceDefinitionRef QS834deviceDefFromList(const DeviceDefinitionSet& set, uint32_t vid, uint32_t pid, uint32_t mid,
                                           const std::string& transport) {
  DeviceDefinitionRef best;
  int bestScore = 0;
  for (const auto& d : set) {
    int s = d->personalityScoreForVID(vid, pid, mid, transport);
    if (s <= 0 || s < bestScore) continue;
    if (s > bestScore) {
      best = d;
      bestScore = s;
      continue;
    }
    // Equal scores: the user's own definition wins over a shipped one.
    if (best->inUserFolder() != d->inUserFolder()) {
      if (d->inUserFolder()) best = d;
      continue;
    }
    // Same folder status: the newer definition, then the one for the newer system, so the
    // result does not depend on the order the folders were read in.
    double cd = d->createDate().seconds, bd = best->createDate().seconds;
    if (cd != bd) {
      if (cd > bd) best = d;
      continue;
    }
    if (compareVersionTexts(d->osVersion(), best->osVersion()) > 0) best = d;
  }
  return best;
}

}  // namespace vl
