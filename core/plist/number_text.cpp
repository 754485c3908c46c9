// Locale-independent number texts on std::to_chars / std::from_chars.
#include "core/plist/number_text.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace pl {

namespace {

std::string toChars(double v, std::chars_format fmt, int precision) {
  // Fixed form of the largest double needs 309 digits before the point.
  std::string buf(static_cast<size_t>(330 + precision), '\0');
  auto r = std::to_chars(buf.data(), buf.data() + buf.size(), v, fmt, precision);
  buf.resize(r.ec == std::errc() ? static_cast<size_t>(r.ptr - buf.data()) : 0);
  return buf;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Length of the decimal number at the start of s (sign, digits, fraction, exponent), 0 when
// none: the grammar of the strict reader and the extent of the lenient one.
size_t decimalLength(std::string_view s) {
  size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  size_t digits = 0;
  while (i < s.size() && isDigit(s[i])) ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && isDigit(s[i])) ++i, ++digits;
  }
  if (digits == 0) return 0;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    size_t j = i + 1;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
    if (j < s.size() && isDigit(s[j])) {
      while (j < s.size() && isDigit(s[j])) ++j;
      i = j;
    }
  }
  return i;
}

// Converts a text already known to match the decimal grammar. Out-of-range results come back
// as 0 (too small) or an infinity (too large), as strtod gives them.
double convert(std::string_view s) {
  bool neg = s[0] == '-';
  if (s[0] == '+' || s[0] == '-') s.remove_prefix(1);
  double v = 0;
  auto r = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::general);
  if (r.ec == std::errc::result_out_of_range) {
    // from_chars leaves v alone on a range error: decide by the exponent's sign.
    size_t e = s.find_first_of("eE");
    bool tiny = e != std::string_view::npos && e + 1 < s.size() && s[e + 1] == '-';
    v = tiny ? 0.0 : std::numeric_limits<double>::infinity();
  }
  return neg ? -v : v;
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

}  // namespace

std::string formatG(double v, int precision) {
  return toChars(v, std::chars_format::general, precision < 1 ? 1 : precision);
}

std::string formatFixed(double v, int precision) {
  return toChars(v, std::chars_format::fixed, precision < 0 ? 0 : precision);
}

std::string formatShortest(double v) {
  if (std::isnan(v)) return "nan";
  if (std::isinf(v)) return v < 0 ? "-inf" : "inf";
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

bool formatPrintfReal(std::string_view c, double v, std::string* out) {
  if (c.size() < 2 || c[0] != '%') return false;
  size_t i = 1;
  bool left = false, plus = false, space = false, zero = false;
  for (; i < c.size(); ++i) {
    if (c[i] == '-') left = true;
    else if (c[i] == '+') plus = true;
    else if (c[i] == ' ') space = true;
    else if (c[i] == '0') zero = true;
    else if (c[i] != '#') break;
  }
  size_t width = 0;
  while (i < c.size() && isDigit(c[i]) && width < 1000) width = width * 10 + static_cast<size_t>(c[i++] - '0');
  int precision = 6;
  if (i < c.size() && c[i] == '.') {
    precision = 0;
    ++i;
    while (i < c.size() && isDigit(c[i]) && precision < 1000) precision = precision * 10 + (c[i++] - '0');
  }
  if (i + 1 != c.size()) return false;
  const char conv = c[i];
  std::string body;
  const bool finite = std::isfinite(v);
  switch (conv) {
    case 'g': case 'G': body = formatG(v, precision); break;
    case 'f': case 'F': body = formatFixed(v, precision); break;
    case 'e': case 'E': body = toChars(v, std::chars_format::scientific, precision); break;
    default: return false;
  }
  if (conv == 'G' || conv == 'F' || conv == 'E')
    for (char& ch : body) ch = static_cast<char>(ch >= 'a' && ch <= 'z' ? ch - 32 : ch);
  if (!body.empty() && body[0] != '-' && (plus || space)) body.insert(body.begin(), plus ? '+' : ' ');
  if (body.size() < width) {
    size_t pad = width - body.size();
    if (left) body.append(pad, ' ');
    else if (zero && finite) body.insert(body[0] == '-' || body[0] == '+' || body[0] == ' ' ? 1 : 0, pad, '0');
    else body.insert(0, pad, ' ');
  }
  *out = std::move(body);
  return true;
}

std::optional<double> parseDecimal(std::string_view s) {
  size_t n = decimalLength(s);
  if (n == 0 || n != s.size()) return std::nullopt;
  double v = convert(s);
  if (std::isinf(v)) return std::nullopt;
  return v;
}

std::optional<LeadingNumber> parseLeadingNumber(std::string_view s) {
  size_t skip = 0;
  while (skip < s.size() && isSpace(s[skip])) ++skip;
  size_t n = decimalLength(s.substr(skip));
  if (n == 0) return std::nullopt;
  return LeadingNumber{convert(s.substr(skip, n)), skip + n};
}

double parseLeadingDecimal(std::string_view s, double fallback) {
  auto r = parseLeadingNumber(s);
  return r && std::isfinite(r->value) ? r->value : fallback;
}

std::optional<int64_t> parseIntegerText(std::string_view s) {
  auto v = parseDecimal(s);
  // 2^63 is the first double above the int64_t range.
  if (!v || !(*v > -9223372036854775809.0 && *v < 9223372036854775808.0)) return std::nullopt;
  return static_cast<int64_t>(std::trunc(*v));
}

bool parseBoolText(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && isSpace(s[i])) ++i;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  while (i < s.size() && s[i] == '0') ++i;
  if (i >= s.size()) return false;
  char c = s[i];
  return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

bool looksLikeDecimalComma(std::string_view s) {
  size_t comma = s.find(',');
  if (comma == std::string_view::npos || s.find(',', comma + 1) != std::string_view::npos) return false;
  std::string dotted(s);
  dotted[comma] = '.';
  return comma > 0 && comma + 1 < s.size() && isDigit(s[comma + 1]) && parseDecimal(dotted).has_value();
}

}  // namespace pl
