// Packed versions, installed panes, OS version text, the web service's newest version,
// machine model and serial, and the small text and number helpers.
#include "core/system/versions.h"

#include <sys/stat.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "core/plist/ascii_text.h"
#include "core/plist/number_text.h"
#include "core/plist/codec.h"
#include "core/system/drovana.h"
#include "platform/api/hid.h"
#include "platform/api/http_client.h"
#include "platform/api/paths.h"
#include "platform/api/platform.h"
#include "platform/api/system_info.h"
#include "platform/api/user_defaults.h"

namespace vl {

namespace {

bool exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

std::optional<pl::Value> infoDictionary(const std::string& bundlePath) {
  if (bundlePath.empty()) return std::nullopt;
  auto r = pl::readFile(bundlePath + "/Contents/Info.plist");
  if (!r || !r.value->isDict()) return std::nullopt;
  return r.value;
}

}  // namespace

uint32_t QS812BundleVersion(const std::string& bundlePath) {
  auto info = infoDictionary(bundlePath);
  if (!info) return 0;
  auto v = info->stringFor("CFBundleVersion");
  return v ? QS812versionNumberFromString(&*v) : 0;
}

uint32_t QS812BundleVersionFromProc(const RunningApplication& application) {
  return application.bundleURL.empty() ? 0 : QS812BundleVersion(application.bundleURL);
}

std::optional<std::string> QS812applicationVersion(const std::string& bundlePath) {
  auto info = infoDictionary(bundlePath);
  if (!info) return std::nullopt;
  return info->stringFor("CFBundleShortVersionString");
}

std::optional<std::string> prefPanePath(Paths* paths, const std::string& fileName) {
  if (!paths || fileName.empty()) return std::nullopt;
  for (const auto& dir : paths->preferencePanes()) {
    std::string path = dir + "/" + fileName;
    if (exists(path)) return path;
  }
  return std::nullopt;
}

std::optional<std::string> QS812prefPaneURLForDrovana(Paths* paths) {
  return prefPanePath(paths, drovana::kPaneFileName);
}
std::optional<std::string> QS812prefPaneURLForVelmora(Paths* paths) {
  return prefPanePath(paths, velmora::kPaneFileName);
}

uint32_t QS812DrovanaVersion(Paths* paths) {
  auto pane = QS812prefPaneURLForDrovana(paths);
  return pane ? QS812BundleVersion(*pane) : 0;
}

uint32_t QS812VelmoraVersion(Paths* paths) {
  auto pane = QS812prefPaneURLForVelmora(paths);
  return pane ? QS812BundleVersion(*pane) : 0;
}

std::string QS812buildDateWithURL(const std::optional<std::string>& bundlePath) {
  if (!bundlePath) return "";
  auto info = infoDictionary(*bundlePath);
  if (!info) return "";
  return info->stringFor("MyBuildDate").value_or("");
}

std::string QS812DrovanaBuildDate(Paths* paths) { return QS812buildDateWithURL(QS812prefPaneURLForDrovana(paths)); }
std::string QS812VelmoraBuildDate(Paths* paths) { return QS812buildDateWithURL(QS812prefPaneURLForVelmora(paths)); }

uint32_t QS812versionNumberFromString(const std::string* text) {
  if (!text || text->empty() || text->size() > 10) return 0;
  const std::string& s = *text;
  size_t i = 0;
  auto digit = [&](size_t at) { return at < s.size() && std::isdigit(static_cast<unsigned char>(s[at])); };

  uint32_t tens = 0, units = 0, minor = 0, bugfix = 0, stage = 0x80, build = 0;
  // Major: one or two digits, or none when the text starts with ".".
  if (digit(i)) {
    units = static_cast<uint32_t>(s[i++] - '0');
    if (digit(i)) {
      tens = units;
      units = static_cast<uint32_t>(s[i++] - '0');
    }
  } else if (s[i] != '.') {
    return 0;
  }
  if (i < s.size() && s[i] == '.') {
    ++i;
    if (!digit(i)) return 0;
    minor = static_cast<uint32_t>(s[i++] - '0');
    if (i < s.size() && s[i] == '.') {
      ++i;
      if (!digit(i)) return 0;
      bugfix = static_cast<uint32_t>(s[i++] - '0');
    }
  }
  if (i < s.size()) {
    switch (s[i]) {
      case 'd': stage = 0x20; break;
      case 'a': stage = 0x40; break;
      case 'b': stage = 0x60; break;
      case 'f': stage = 0x80; break;
      default: return 0;
    }
    ++i;
    int digits = 0;
    while (digit(i) && digits < 3) {
      build = build * 10 + static_cast<uint32_t>(s[i++] - '0');
      ++digits;
    }
    if (build > 255) return 0;
  }
  if (i != s.size()) return 0;
  return (tens << 28) | (units << 24) | (minor << 20) | (bugfix << 16) | (stage << 8) | build;
}

std::string QS812stringFromVersionNumver(uint32_t packed) {
  unsigned tens = (packed >> 28) & 0xF, units = (packed >> 24) & 0xF, minor = (packed >> 20) & 0xF,
           bugfix = (packed >> 16) & 0xF, stage = (packed >> 8) & 0xFF, build = packed & 0xFF;
  char b[16] = "";
  if (bugfix != 0) std::snprintf(b, sizeof b, ".%u", bugfix);
  char out[64];
  if (tens == 0) std::snprintf(out, sizeof out, "%u.%u%s", units, minor, b);
  else std::snprintf(out, sizeof out, "%u%u.%u%s", tens, units, minor, b);
  std::string text = out;
  // A number without any stage is no pre-release either.
  if (stage != 0x80 && stage != 0) {
    char letter = stage == 0x20 ? 'd' : stage == 0x40 ? 'a' : 'b';
    text += letter;
    text += std::to_string(build);
  }
  return text;
}

std::string QS812SystemVersionString(SystemInfo* system) {
  OsVersion v;
  if (system) v = system->osVersion();
  char out[32];
  std::snprintf(out, sizeof out, "%02u%02u%02u", v.major, v.minor, v.patch);
  return out;
}

std::string QS812hostVersionQuery(SystemInfo* system, const std::string& applicationName) {
  return "app=" + QS812addingPercentEscapes(applicationName) + "&osv=" + QS812SystemVersionString(system);
}

uint32_t QS812hostVersionFromAnswer(const HttpResult& response, bool acceptPreReleases) {
  if (!response.ok() || response.response->status < 200 || response.response->status >= 300) return 0;
  auto r = pl::read(std::span<const uint8_t>(response.response->body));
  if (!r || !r.value->isArray()) return 0;
  uint32_t newest = 0;
  for (const auto& item : *r.value->asArray()) {
    const std::string* name = item.asString();
    if (!name) continue;
    std::string stem = *name;
    auto dot = stem.rfind('.');
    auto slash = stem.rfind('/');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) stem.erase(dot);
    size_t b = 0, e = stem.size();
    while (b < e && std::isalpha(static_cast<unsigned char>(stem[b]))) ++b;
    while (e > b && std::isalpha(static_cast<unsigned char>(stem[e - 1]))) --e;
    std::string core = stem.substr(b, e - b);
    uint32_t v = QS812versionNumberFromString(&core);
    if (v == 0) continue;
    if (!acceptPreReleases && ((v >> 8) & 0xFF) != 0x80) continue;
    if (v > newest) newest = v;
  }
  return newest;
}

uint32_t QS812getHostVersion(HttpClient* http, SystemInfo* system, const std::string& applicationName, bool acceptPreReleases) {
  if (!http) return 0;
  return QS812hostVersionFromAnswer(http->get(kHostVersionPath, QS812hostVersionQuery(system, applicationName), 1.0),
                                    acceptPreReleases);
}

std::optional<std::string> QS812urlForDirectory(Paths* paths, int domain, int directory) {
  if (!paths) return std::nullopt;
  Domain d;
  switch (domain) {
    case 1: d = Domain::User; break;
    case 2: d = Domain::Local; break;
    case 4: d = Domain::Network; break;
    case 8: d = Domain::System; break;
    default: return std::nullopt;
  }
  if (directory == kPreferencePanesDirectory) {
    std::string f = paths->preferencePanesFolder(d);
    if (f.empty()) return std::nullopt;
    return f;
  }
  if (directory == kApplicationSupportDirectory)
    return d == Domain::User ? paths->applicationSupport() : paths->applicationSupport(d);
  return std::nullopt;
}

std::optional<std::string> machineSerialNumber(IoRegistry* reg) {
  if (!reg) return std::nullopt;
  auto found = reg->matchingServices(pl::Dict{{kIOProviderClassKey, "IOPlatformExpertDevice"}});
  if (found.status != kIOReturnSuccess || found.entries.empty()) return std::nullopt;
  auto v = reg->property(found.entries.front(), "IOPlatformSerialNumber");
  if (!v || !v->isString()) return std::nullopt;
  return *v->asString();
}

std::pair<std::string, std::string> machineModelName(IoRegistry* registry, UserDefaults* defaults, SystemInfo* system) {
  std::string marketing;
  if (auto serial = machineSerialNumber(registry); serial && defaults) {
    std::string tail = serial->size() > 4 ? serial->substr(serial->size() - 4) : *serial;
    defaults->synchronize("com.apple.SystemProfiler");
    auto names = defaults->value("com.apple.SystemProfiler", "CPU Names");
    if (names && names->isDict() && !tail.empty()) {
      for (const auto& [key, value] : *names->asDict()) {
        if (key.rfind(tail, 0) == 0 && value.isString()) {
          marketing = *value.asString();
          break;
        }
      }
    }
  }
  std::string model = system ? system->hardwareModel() : std::string();
  if (model.size() > 99) model.resize(99);  // the kernel value is read into a 100-byte buffer
  if (marketing.empty() && system) marketing = system->marketingNameForModel(model);
  return {marketing + ", " + model, model};
}

std::string QS812addingPercentEscapes(const std::string& text) { return pl::percentEscape(text); }

const pl::Value* localizedValueForKey(SystemInfo* system, const pl::Value* dictionary, const std::string& key) {
  if (!dictionary || !dictionary->isDict() || key.empty()) return nullptr;
  std::string lang;
  if (system) {
    auto langs = system->preferredLanguages();
    if (!langs.empty()) lang = langs.front().substr(0, 2);
  }
  if (!lang.empty()) {
    if (const pl::Value* v = dictionary->find(key + "_" + lang)) return v;
  }
  return dictionary->find(key);
}

double QS812round1(int precision, double value) {
  if (!std::isfinite(value)) return value;
  return pl::parseDecimal(pl::formatFixed(value, precision < 0 ? 0 : (precision > 30 ? 30 : precision))).value_or(value);
}

double QS812numberCounterAtDigit(int digit, bool up, double value) {
  double c = std::pow(10.0, digit + 1);
  double d = std::fabs(value) * c + 0.9;
  double whole = std::floor(d);
  bool awayFromZero = (up && value >= 0) || (!up && value < 0);
  double magnitude;
  if (awayFromZero) {
    magnitude = std::floor(whole / 10) * 10 + 10;
  } else {
    double last = std::fmod(whole, 10);
    magnitude = whole - (last == 0 ? 10 : last);
  }
  double result = magnitude / c;
  return value < 0 ? -result : result;
}

double QS812numberCounter(bool up, int digit, double value) {
  bool beyond = up ? (value >= 0.1 || value < -0.1) : (value > 0.1 || value <= -0.1);
  return QS812numberCounterAtDigit((digit + (beyond ? 1 : 0)) ^ 3, up, value);
}

uint64_t QS812BitIndex(uint64_t value) {
  if (value == 0 || (value & (value - 1)) != 0) return kNotFound;
  uint64_t n = 0;
  while ((value >> n) != 1) ++n;
  return n;
}

namespace {
constexpr const char* kUniversalAccess = "com.apple.universalaccess";
bool zoomFlag(UserDefaults* defaults, const char* key) {
  UserDefaults* d = defaults;
  if (!d) return false;
  d->synchronize(kUniversalAccess);
  auto v = d->value(kUniversalAccess, key);
  return v && v->isNumber() && v->boolValue();
}
}  // namespace

int64_t QS812getScrollZoom(UserDefaults* defaults, bool* enabled, int64_t* modifiers) {
  bool on = zoomFlag(defaults, "closeViewScrollWheelToggle");
  int64_t mods = 0;
  if (on && defaults) {
    auto v = defaults->value(kUniversalAccess, "closeViewScrollWheelModifiersInt");
    if (v && v->isNumber()) mods = v->longLongValue();
  }
  if (enabled) *enabled = on;
  if (modifiers) *modifiers = mods;
  return mods;
}

bool QS812scrollZoomEnabled(UserDefaults* defaults) { return zoomFlag(defaults, "closeViewScrollWheelToggle"); }
bool QS812keyZoomEnabled(UserDefaults* defaults) { return zoomFlag(defaults, "closeViewHotkeysEnabled"); }

std::string QS812localizedCancelButtonTitle(Paths* paths, SystemInfo* system) {
  // Looked up in the "Common" table of the best-matching localization we ship; not kept, so
  // that it follows the platform it is asked for.
  std::string title = "Cancel";
  if (paths && system) {
    for (const auto& lang : system->preferredLanguages()) {
      for (const std::string& l : {lang, lang.substr(0, 2)}) {
        auto r = pl::readFile(paths->resources() + "/" + l + ".lproj/Common.strings");
        if (r && r.value->isDict()) {
          if (auto t = r.value->stringFor("Cancel")) {
            title = *t;
            return title;
          }
        }
      }
    }
  }
  return title;
}

}  // namespace vl
