// The device, application and cursor-speed dictionary validators of the settings exchange
// files, and the order of application dictionaries.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <set>

#include "core/devices/exchange_file.h"
#include "core/plist/ascii_text.h"
#include "core/plist/number_text.h"

namespace vl {

namespace {

// Numbers of a dictionary the way the records store them: number objects, or "%g" texts for
// the values kept as decimal text. Only whole texts that read as finite numbers count.
std::optional<double> numberOrText(const pl::Value* v) {
  if (!v) return std::nullopt;
  if (v->isNumber()) {
    double d = v->doubleValue();
    return std::isfinite(d) ? std::optional<double>(d) : std::nullopt;
  }
  if (const std::string* s = v->asString()) return pl::parseDecimal(*s);
  return std::nullopt;
}

// A switch: a number, or a text read as the platform reads a boolean text ("YES", "1").
bool switchOf(const pl::Value* v) {
  if (!v) return false;
  if (const std::string* s = v->asString()) return pl::parseBoolText(*s);
  return v->isNumber() && v->boolValue();
}

// An integer the way the store takes one: an integer, a real cut toward zero, or a text of one.
std::optional<int64_t> integerOf(const pl::Value* v) {
  if (!v || v->isBool()) return std::nullopt;
  if (const std::string* s = v->asString()) return pl::parseIntegerText(*s);
  if (v->isInteger()) return v->longLongValue();
  if (v->isReal() && std::isfinite(v->doubleValue())) return v->longLongValue();
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


// Case-insensitive order of two optional texts; a missing text sorts first.
int compareText(const pl::Value* a, const pl::Value* b) {
  const std::string* x = a ? a->asString() : nullptr;
  const std::string* y = b ? b->asString() : nullptr;
  if (!x || !y) return (x ? 1 : 0) - (y ? 1 : 0);
  size_t n = std::min(x->size(), y->size());
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = static_cast<unsigned char>(pl::asciiLower((*x)[i])), d = static_cast<unsigned char>(pl::asciiLower((*y)[i]));
    if (c != d) return c < d ? -1 : 1;
  }
  return x->size() == y->size() ? 0 : (x->size() < y->size() ? -1 : 1);
}

}  // namespace

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
  const pl::Value* sensV = csDic.find("sensitivity");
  const pl::Value* trackV = csDic.find("trackingSpeed");
  auto sens = numberOrText(sensV);
  auto track = numberOrText(trackV);
  if (switchOf(csDic.find("disableAccl"))) {
    // The resolution is still written to the device with acceleration off; zero, negative
    // or unreadable values would be unsafe there. A tracking speed is kept for later, so it
    // must at least be a number the store can hold.
    if (sensV && !(sens && *sens > 0)) return fail(why, "sensitivity must be a positive number");
    if (trackV && !track) return fail(why, "trackingSpeed must be a finite number");
    return true;
  }
  // A negative tracking speed is a valid setting (no acceleration); only the top is bounded.
  if (!track || !(*track <= 20)) return fail(why, "trackingSpeed must be a number of at most 20");
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
    auto parsed = integerOf(ix);
    if (ix && !parsed) return fail(why, "favourite " + std::to_string(i) + ": index is not a whole number");
    int64_t index = parsed.value_or(0);
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
  auto b = integerOf(devDic.find("buttonCount"));
  if (!b || !(*b >= 1 && *b <= 32)) return fail(why, "buttonCount must be 1 to 32");
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
