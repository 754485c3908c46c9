// Bounded, escaped log text.
#include "agent/log_text.h"

#include <algorithm>
#include <charconv>

namespace vl {

namespace {

// Length of the UTF-8 sequence starting with lead, or 1 for a byte that cannot start one.
size_t sequenceLength(unsigned char lead) {
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  if (lead >= 0xE0) return lead <= 0xEF ? 3 : 1;
  if (lead >= 0xC2) return 2;
  return 1;
}

std::string escaped(unsigned char c) {
  const char* hex = "0123456789abcdef";
  return std::string("\\x") + hex[c >> 4] + hex[c & 15];
}

}  // namespace

std::string textForLog(std::string_view text, size_t limit) {
  std::string out;
  out.reserve(std::min(text.size(), limit) + 32);
  size_t i = 0;
  while (i < text.size()) {
    auto c = static_cast<unsigned char>(text[i]);
    std::string piece;
    size_t used = 1;
    if (c < 0x20 || c == 0x7F) {
      piece = escaped(c);
    } else if (c < 0x80) {
      piece.assign(1, static_cast<char>(c));
    } else {
      used = sequenceLength(c);
      bool whole = used > 1 && i + used <= text.size();
      for (size_t k = 1; whole && k < used; ++k)
        whole = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
      if (!whole) used = 1;
      // A byte that is not part of a whole sequence is shown, not passed on.
      piece = whole ? std::string(text.substr(i, used)) : escaped(c);
    }
    if (out.size() + piece.size() > limit) break;
    out += piece;
    i += used;
  }
  if (i < text.size()) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, text.size() - i);
    out += "\xE2\x80\xA6 (";
    out.append(buf, r.ptr);
    out += " more bytes)";
  }
  return out;
}

}  // namespace vl
