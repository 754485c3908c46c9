// The backend-independent part of the storage: setting scale, row checks and the choice of
// backend by URL.
#include "tools/service/storage.h"

#include <cmath>

namespace svc {

int64_t settingToMillionths(double value) { return static_cast<int64_t>(std::llround(value * kSettingScale)); }

double settingFromMillionths(int64_t millionths) {
  return static_cast<double>(millionths) / static_cast<double>(kSettingScale);
}

std::optional<size_t> cleanTextLength(std::string_view s) {
  size_t count = 0;
  for (size_t i = 0; i < s.size();) {
    auto c = static_cast<unsigned char>(s[i]);
    uint32_t cp;
    size_t n;
    if (c < 0x80) {
      cp = c;
      n = 1;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      n = 2;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      n = 3;
    } else if ((c & 0xF8) == 0xF0) {
      cp = c & 0x07;
      n = 4;
    } else {
      return std::nullopt;
    }
    if (i + n > s.size()) return std::nullopt;
    for (size_t k = 1; k < n; ++k) {
      auto cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) return std::nullopt;
      cp = (cp << 6) | (cc & 0x3F);
    }
    static const uint32_t minimum[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < minimum[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
    if (cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp < 0xA0)) return std::nullopt;
    i += n;
    ++count;
  }
  return count;
}

namespace {

std::string checkText(const char* name, const std::string& text, size_t maximum, bool bytes, bool required) {
  auto length = cleanTextLength(text);
  if (!length) return std::string(name) + " is not clean UTF-8 text";
  if (required && text.empty()) return std::string(name) + " is empty";
  if ((bytes ? text.size() : *length) > maximum) {
    return std::string(name) + " is longer than " + std::to_string(maximum) + (bytes ? " bytes" : " characters");
  }
  return {};
}

}  // namespace

std::string checkUploadRow(const UploadRow& row) {
  std::string why;
  if (!(why = checkText("transport", row.model.transport, kTransportMaxBytes, true, false)).empty()) return why;
  if (!(why = checkText("device name", row.deviceName, kDeviceNameMaxChars, false, false)).empty()) return why;
  if (!(why = checkText("machine", row.machine, kMachineMaxBytes, true, true)).empty()) return why;
  if (!(why = checkText("application", row.app, kAppMaxChars, false, false)).empty()) return why;
  if (row.osVersion < 0 || row.osVersion > kOsVersionMax) return "system version out of range";
  if (row.accMillionths < 0 || row.accMillionths > kAccMaxMillionths) return "tracking speed out of range";
  if (row.senMillionths < kSenMinMillionths || row.senMillionths > kSenMaxMillionths) {
    return "sensitivity out of range";
  }
  return {};
}

std::string checkRankingQuery(const RankingQuery& q) {
  std::string why = checkText("transport", q.model.transport, kTransportMaxBytes, true, false);
  if (!why.empty()) return why;
  if (q.os0 < 0 || q.os0 > kOsVersionMax || q.os1 < 0 || q.os1 > kOsVersionMax) return "system version out of range";
  if (q.count < 1 || q.count > kRankingMaxCount) return "count out of range";
  return {};
}

vl::Result<std::unique_ptr<Storage>> openStorage(const std::string& url) {
  auto startsWith = [&](std::string_view prefix) { return url.rfind(prefix, 0) == 0; };
  if (startsWith("postgresql://") || startsWith("postgres://")) {
#ifdef VELMORA_SERVICE_POSTGRES
    return openPostgresStorage(url);
#else
    return vl::Status::failure(1, "this velmora-service is built without PostgreSQL support (libpq)");
#endif
  }
  std::string path = url;
  if (startsWith("sqlite:")) {
    path = url.substr(7);
    // "sqlite:///abs/path" is the URL form of an absolute path.
    if (path.rfind("//", 0) == 0) path = path.substr(2);
  } else if (auto colon = url.find("://"); colon != std::string::npos) {
    return vl::Status::failure(1, "unknown storage URL scheme '" + url.substr(0, colon) +
                                      "' (use sqlite:PATH or postgresql://...)");
  }
  if (path.empty()) return vl::Status::failure(1, "the storage URL names no file");
  return openSqliteStorage(path);
}

}  // namespace svc
