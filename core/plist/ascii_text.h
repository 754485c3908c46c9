// Locale-free ASCII text helpers for identifiers, keys and URLs: lower-casing, hexadecimal
// digits and percent-escaping. Bytes outside ASCII pass through lower-casing unchanged, whatever the
// process's locale (a Qt program sets the user's).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pl {

inline char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The value of a hexadecimal digit (either case); -1 for any other byte.
inline int hexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// v in lower-case hexadecimal, without leading zeros ("0" for 0).
inline std::string hexText(uint64_t v) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  do {
    out.insert(out.begin(), kDigits[v & 0xF]);
    v >>= 4;
  } while (v);
  return out;
}

inline std::string asciiLower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = asciiLower(c);
  return out;
}

// Every byte escaped as %XX (upper-case hex) except the unreserved characters (ASCII letters,
// digits, '-', '.', '_', '~') and the characters in alsoKeep (a URI path keeps '/').
inline std::string percentEscape(std::string_view text, std::string_view alsoKeep = {}) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    bool keep = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' || c == '.' ||
                c == '_' || c == '~' || (c != 0 && alsoKeep.find(static_cast<char>(c)) != std::string_view::npos);
    if (keep) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    }
  }
  return out;
}

}  // namespace pl
