// Text helpers of the property-list codecs: UTF-8/UTF-16, base64, dates, numbers.
#include "core/plist/text_util.h"

#include "core/plist/ascii_text.h"
#include "core/plist/number_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace pl::detail {

void appendUtf8(std::string& out, uint32_t cp) {
  if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = 0xFFFD;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

namespace {
// Decodes one UTF-8 sequence at s[i]; returns its length, or 0 when invalid.
size_t decodeUtf8(std::string_view s, size_t i, uint32_t* cp) {
  auto b = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
  uint8_t c = b(i);
  if (c < 0x80) {
    *cp = c;
    return 1;
  }
  size_t n;
  uint32_t v, min;
  if ((c & 0xE0) == 0xC0) {
    n = 2, v = c & 0x1F, min = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    n = 3, v = c & 0x0F, min = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    n = 4, v = c & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    if ((b(i + k) & 0xC0) != 0x80) return 0;
    v = (v << 6) | (b(i + k) & 0x3F);
  }
  if (v < min || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
  *cp = v;
  return n;
}
}  // namespace

size_t invalidUtf8At(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    uint32_t cp;
    size_t n = decodeUtf8(s, i, &cp);
    if (n == 0) return i;
    i += n;
  }
  return std::string_view::npos;
}

std::u16string utf8ToUtf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    uint32_t cp;
    size_t n = decodeUtf8(s, i, &cp);
    if (n == 0) {  // not expected (readers validate); keep going with a replacement
      cp = 0xFFFD;
      n = 1;
    }
    i += n;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 | (cp >> 10));
      out += static_cast<char16_t>(0xDC00 | (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::string utf16ToUtf8(const char16_t* u, size_t n) {
  std::string out;
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    uint32_t c = u[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && u[i + 1] >= 0xDC00 && u[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (u[i + 1] - 0xDC00);
      ++i;
    }
    appendUtf8(out, c);  // a lone surrogate becomes U+FFFD there
  }
  return out;
}

namespace {
constexpr char kB64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
int b64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}
bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }
}  // namespace

std::string base64Encode(const uint8_t* p, size_t n, size_t lineLength) {
  std::string out;
  out.reserve((n + 2) / 3 * 4 + (lineLength ? n / lineLength + 1 : 0));
  size_t col = 0;
  for (size_t i = 0; i < n; i += 3) {
    uint32_t v = uint32_t(p[i]) << 16;
    if (i + 1 < n) v |= uint32_t(p[i + 1]) << 8;
    if (i + 2 < n) v |= p[i + 2];
    char q[4] = {kB64[(v >> 18) & 63], kB64[(v >> 12) & 63], i + 1 < n ? kB64[(v >> 6) & 63] : '=',
                 i + 2 < n ? kB64[v & 63] : '='};
    for (char c : q) {
      if (lineLength && col == lineLength) {
        out += '\n';
        col = 0;
      }
      out += c;
      ++col;
    }
  }
  return out;
}

std::optional<Data> base64Decode(std::string_view s) {
  Data out;
  out.reserve(s.size() / 4 * 3);
  uint32_t acc = 0;
  int bits = 0, pad = 0;
  size_t symbols = 0;
  for (char c : s) {
    if (isSpace(c)) continue;
    if (c == '=') {
      ++pad;
      ++symbols;
      continue;
    }
    int v = b64Value(c);
    if (v < 0 || pad) return std::nullopt;  // bad byte, or data after padding
    ++symbols;
    acc = (acc << 6) | static_cast<uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<uint8_t>(acc >> bits));
      acc &= (1u << bits) - 1;
    }
  }
  if (pad > 2 || (pad && symbols % 4 != 0)) return std::nullopt;
  if (!pad && symbols % 4 == 1) return std::nullopt;  // a lone sextet cannot end a quantum
  return out;
}

namespace {
constexpr int64_t kUnixOf2001 = 978307200;

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}
void civilFromDays(int64_t z, int64_t* y, unsigned* m, unsigned* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp + (mp < 10 ? 3 : -9);
  *y = static_cast<int64_t>(yoe) + era * 400 + (*m <= 2);
}

// Whole seconds since 1970 clamped to years 0001..9999, which four-digit years can show.
int64_t clampedUnixSeconds(double secondsSince2001) {
  constexpr double kMin = -62135596800.0;  // 0001-01-01
  constexpr double kMax = 253402300799.0;  // 9999-12-31 23:59:59
  if (std::isnan(secondsSince2001)) return kUnixOf2001;
  double u = std::floor(secondsSince2001) + static_cast<double>(kUnixOf2001);
  if (u < kMin) u = kMin;
  if (u > kMax) u = kMax;
  return static_cast<int64_t>(u);
}

void splitTime(int64_t unix, int64_t* y, unsigned* mo, unsigned* d, int* h, int* mi, int* s) {
  int64_t days = unix >= 0 ? unix / 86400 : -((-unix + 86399) / 86400);
  int64_t rem = unix - days * 86400;
  civilFromDays(days, y, mo, d);
  *h = static_cast<int>(rem / 3600);
  *mi = static_cast<int>(rem / 60 % 60);
  *s = static_cast<int>(rem % 60);
}

bool digits(std::string_view s, size_t at, size_t n, int* out) {
  if (at + n > s.size()) return false;
  int v = 0;
  for (size_t i = at; i < at + n; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    v = v * 10 + (s[i] - '0');
  }
  *out = v;
  return true;
}
}  // namespace

std::string isoDate(double secondsSince2001) {
  int64_t y;
  unsigned mo, d;
  int h, mi, s;
  splitTime(clampedUnixSeconds(secondsSince2001), &y, &mo, &d, &h, &mi, &s);
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04lld-%02u-%02uT%02d:%02d:%02dZ", static_cast<long long>(y), mo, d, h, mi, s);
  return buf;
}

std::string describeDate(double secondsSince2001) {
  int64_t y;
  unsigned mo, d;
  int h, mi, s;
  splitTime(clampedUnixSeconds(secondsSince2001), &y, &mo, &d, &h, &mi, &s);
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u %02d:%02d:%02d +0000", static_cast<long long>(y), mo, d, h, mi, s);
  return buf;
}

std::optional<double> parseIsoDate(std::string_view s) {
  int y, mo, d, h, mi, sec;
  if (!digits(s, 0, 4, &y) || s.size() < 20 || s[4] != '-' || !digits(s, 5, 2, &mo) || s[7] != '-' ||
      !digits(s, 8, 2, &d) || s[10] != 'T' || !digits(s, 11, 2, &h) || s[13] != ':' ||
      !digits(s, 14, 2, &mi) || s[16] != ':' || !digits(s, 17, 2, &sec))
    return std::nullopt;
  double frac = 0;
  size_t i = 19;
  if (i < s.size() && s[i] == '.') {
    double scale = 0.1;
    size_t start = ++i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
      frac += (s[i] - '0') * scale;
      scale /= 10;
      ++i;
    }
    if (i == start) return std::nullopt;
  }
  if (i + 1 != s.size() || s[i] != 'Z') return std::nullopt;
  static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (mo < 1 || mo > 12 || d < 1 || d > kDays[mo - 1] || h > 23 || mi > 59 || sec > 60) return std::nullopt;
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (mo == 2 && d == 29 && !leap) return std::nullopt;
  int64_t unix = daysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) * 86400 + h * 3600 + mi * 60 + sec;
  return static_cast<double>(unix - kUnixOf2001) + frac;
}

std::string formatReal(double d) { return formatShortest(d); }

std::optional<double> parseReal(std::string_view s) {
  if (s.empty()) return std::nullopt;
  std::string l = pl::asciiLower(s[0] == '+' || s[0] == '-' ? s.substr(1) : s);
  if (l == "nan") return std::numeric_limits<double>::quiet_NaN();
  if (l == "inf" || l == "infinity") return s[0] == '-' ? -HUGE_VAL : HUGE_VAL;
  // Out of range still yields the nearest representable (0 or infinity), as strtod does.
  auto r = parseLeadingNumber(s);
  if (!r || r->length != s.size() || s[0] == ' ' || s[0] == '\t' || s[0] == '\n' || s[0] == '\r' || s[0] == '\v' ||
      s[0] == '\f')
    return std::nullopt;
  return r->value;
}

std::optional<Integer> parseInteger(std::string_view s) {
  if (s.empty()) return std::nullopt;
  bool neg = false;
  if (s[0] == '+' || s[0] == '-') {
    neg = s[0] == '-';
    s.remove_prefix(1);
  }
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  if (s.empty()) return std::nullopt;
  uint64_t v = 0;
  auto r = std::from_chars(s.data(), s.data() + s.size(), v, base);
  if (r.ec != std::errc() || r.ptr != s.data() + s.size()) return std::nullopt;
  if (neg) {
    if (v > uint64_t(1) << 63) return std::nullopt;
    return Integer{~v + 1, false};
  }
  return Integer{v, v > static_cast<uint64_t>(INT64_MAX)};
}

std::string formatInteger(const Integer& i) {
  bool negative = !i.isUnsigned && static_cast<int64_t>(i.bits) < 0;
  uint64_t mag = negative ? ~i.bits + 1 : i.bits;
  std::string out = std::to_string(mag);
  return negative ? "-" + out : out;
}

std::string excerpt(std::string_view s, size_t max) {
  bool cut = s.size() > max;
  if (cut) {
    size_t n = max;
    while (n > 0 && (static_cast<uint8_t>(s[n]) & 0xC0) == 0x80) --n;
    s = s.substr(0, n);
  }
  std::string out(s);
  for (auto& c : out)
    if (static_cast<uint8_t>(c) < 0x20 || c == 0x7F) c = '?';
  return cut ? out + "..." : out;
}

std::string showByte(uint8_t c) {
  char buf[8];
  if (c >= 0x21 && c < 0x7F) std::snprintf(buf, sizeof buf, "'%c'", c);
  else std::snprintf(buf, sizeof buf, "0x%02X", c);
  return buf;
}

}  // namespace pl::detail
