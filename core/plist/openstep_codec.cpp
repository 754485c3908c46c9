// OpenStep text property lists and .strings tables: reader and writer.
#include <cstdio>

#include "core/plist/ascii_text.h"
#include "core/plist/codec.h"
#include "core/plist/text_util.h"

namespace pl {

namespace {

bool isBareChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$' ||
         c == '+' || c == '/' || c == ':' || c == '.' || c == '-';
}

int hexValue(char c) { return hexDigitValue(c); }

class OpenStepReader : private detail::TextReaderBase {
 public:
  explicit OpenStepReader(std::string_view s) : detail::TextReaderBase(s, "OpenStep") {}

  std::optional<Value> run(std::string* error) { return finish(document(), error); }

 private:

  // Skips whitespace and comments; false (with an error) on an unterminated comment.
  bool skip() {
    while (!eof()) {
      char c = s_[pos_];
      if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v') {
        ++pos_;
      } else if (c == '/' && pos_ + 1 < s_.size() && s_[pos_ + 1] == '/') {
        size_t end = s_.find('\n', pos_);
        pos_ = end == std::string_view::npos ? s_.size() : end + 1;
      } else if (c == '/' && pos_ + 1 < s_.size() && s_[pos_ + 1] == '*') {
        size_t end = s_.find("*/", pos_ + 2);
        if (end == std::string_view::npos) return failed("unterminated comment");
        pos_ = end + 2;
      } else {
        break;
      }
    }
    return true;
  }

  std::string found() const {
    return eof() ? "the end of input" : detail::showByte(static_cast<uint8_t>(s_[pos_]));
  }

  std::optional<Value> value(int depth) {
    if (!skip()) return std::nullopt;
    if (eof()) return fail("expected a value, found the end of input");
    if (!charge(kValueCost, pos_)) return std::nullopt;
    char c = s_[pos_];
    if (c == '{' || c == '(') {
      if (depth >= kMaxDepth) return fail("nesting deeper than " + std::to_string(kMaxDepth));
      return c == '{' ? dict(depth) : array(depth);
    }
    if (c == '<') return data();
    if (c == '"' || c == '\'') return quoted();
    if (isBareChar(c)) return bare();
    return fail("expected a value, found " + found());
  }

  std::optional<Value> bare() {
    size_t start = pos_;
    while (!eof() && isBareChar(s_[pos_])) ++pos_;
    if (!charge(payloadCost(pos_ - start), start)) return std::nullopt;
    return Value(std::string(s_.substr(start, pos_ - start)));
  }

  // Reads up to `max` digits of the given base; returns the count read.
  int digitsAt(int base, int max, uint32_t* out) {
    int n = 0;
    uint32_t v = 0;
    while (n < max && !eof()) {
      int d = hexValue(s_[pos_]);
      if (d < 0 || d >= base) break;
      v = v * static_cast<uint32_t>(base) + static_cast<uint32_t>(d);
      ++pos_;
      ++n;
    }
    *out = v;
    return n;
  }

  std::optional<Value> quoted() {
    size_t start = pos_;
    char q = s_[pos_++];
    std::string out;
    uint32_t pendingHigh = 0;  // a \U high surrogate waiting for its low half
    auto flushHigh = [&] {
      if (pendingHigh) detail::appendUtf8(out, 0xFFFD);
      pendingHigh = 0;
    };
    for (;;) {
      if (eof()) return failAt(start, "unterminated string");
      char c = s_[pos_];
      if (c == q) {
        ++pos_;
        break;
      }
      if (c != '\\') {
        flushHigh();
        size_t end = pos_;
        while (end < s_.size() && s_[end] != q && s_[end] != '\\') ++end;
        out.append(s_.substr(pos_, end - pos_));
        pos_ = end;
        continue;
      }
      ++pos_;
      if (eof()) return failAt(start, "unterminated string");
      c = s_[pos_];
      if (c == 'U') {
        ++pos_;
        uint32_t cp;
        if (digitsAt(16, 4, &cp) == 0) return fail("\\U without hex digits");
        if (cp >= 0xD800 && cp <= 0xDBFF) {
          flushHigh();
          pendingHigh = cp;
          continue;
        }
        if (cp >= 0xDC00 && cp <= 0xDFFF && pendingHigh) {
          detail::appendUtf8(out, 0x10000 + ((pendingHigh - 0xD800) << 10) + (cp - 0xDC00));
          pendingHigh = 0;
          continue;
        }
        flushHigh();
        detail::appendUtf8(out, cp);
        continue;
      }
      flushHigh();
      if (c >= '0' && c <= '7') {
        uint32_t v;
        digitsAt(8, 3, &v);
        detail::appendUtf8(out, v);  // one byte value, taken as Latin-1
        continue;
      }
      ++pos_;
      switch (c) {
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        case 'a': out += '\a'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'v': out += '\v'; break;
        default: out += c; break;  // \" \\ \' and any other character stand for themselves
      }
    }
    flushHigh();
    if (size_t bad = detail::invalidUtf8At(out); bad != std::string::npos) return failAt(start, "string is not valid UTF-8");
    if (!charge(payloadCost(out.size()), start)) return std::nullopt;
    return Value(std::move(out));
  }

  std::optional<Value> data() {
    size_t start = pos_++;
    Data d;
    int high = -1;
    for (;;) {
      if (eof()) return failAt(start, "unterminated data");
      char c = s_[pos_++];
      if (c == '>') break;
      if (c == ' ' || c == '\t' || c == '\n' || c == '\r') continue;
      int v = hexValue(c);
      if (v < 0) return failAt(pos_ - 1, "unexpected " + detail::showByte(static_cast<uint8_t>(c)) + " in data");
      if (high < 0) {
        high = v;
      } else {
        d.push_back(static_cast<uint8_t>(high << 4 | v));
        high = -1;
      }
    }
    if (high >= 0) return failAt(start, "data with an odd number of hex digits");
    if (!charge(d.size(), start)) return std::nullopt;
    return Value(std::move(d));
  }

  std::optional<Value> array(int depth) {
    ++pos_;
    Array a;
    for (;;) {
      if (!skip()) return std::nullopt;
      if (!eof() && s_[pos_] == ')') {
        ++pos_;
        return Value(std::move(a));
      }
      auto v = value(depth + 1);
      if (!v) return std::nullopt;
      if (!append(a, std::move(*v))) return std::nullopt;
      if (!skip()) return std::nullopt;
      if (eof()) return fail("unterminated array");
      if (s_[pos_] == ',') {
        ++pos_;
      } else if (s_[pos_] != ')') {
        return fail("expected ',' or ')' in array, found " + found());
      }
    }
  }

  // Entries "key = value;" up to `close` (or the end of input when close is 0). The ';'
  // of the last entry may be left out.
  bool entries(Dict& d, char close, int depth, bool stringsTable) {
    for (;;) {
      if (!skip()) return false;
      if (eof()) {
        if (close) return failed("unterminated dictionary");
        return true;
      }
      if (close && s_[pos_] == close) {
        ++pos_;
        return true;
      }
      char c = s_[pos_];
      if (c != '"' && c != '\'' && !isBareChar(c)) return failed("expected a key, found " + found());
      size_t keyAt = pos_;
      auto key = c == '"' || c == '\'' ? quoted() : bare();
      if (!key) return false;
      if (!charge(entryCost(key->asString()->size()), keyAt)) return false;
      if (!skip()) return false;
      if (stringsTable && !eof() && s_[pos_] == ';') {  // "key"; stands for "key" = "key";
        ++pos_;
        d.insert_or_assign(*key->asString(), *key);
        continue;
      }
      if (eof() || s_[pos_] != '=') return failed("expected '=' after key \"" + detail::excerpt(*key->asString()) + "\", found " + found());
      ++pos_;
      auto v = value(depth + 1);
      if (!v) return false;
      d.insert_or_assign(std::move(*key->asString()), std::move(*v));
      if (!skip()) return false;
      if (!eof() && s_[pos_] == ';') {
        ++pos_;
      } else if (close && !eof() && s_[pos_] == close) {
        continue;
      } else if (!close && eof()) {
        return true;
      } else {
        return failed("expected ';' after a dictionary entry, found " + found());
      }
    }
  }

  std::optional<Value> dict(int depth) {
    ++pos_;
    Dict d;
    if (!entries(d, '}', depth, false)) return std::nullopt;
    return Value(std::move(d));
  }

  std::optional<Value> document() {
    if (s_.size() > kMaxInputBytes) return fail("larger than " + std::to_string(kMaxInputBytes) + " bytes");
    if (s_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
    if (!skip()) return std::nullopt;
    // An empty text is an empty strings table.
    if (eof()) return Value(Dict{});
    size_t start = pos_;
    char c = s_[pos_];
    if (c == '"' || c == '\'' || isBareChar(c)) {
      // A string followed by '=' or ';' starts a strings table: pairs without braces.
      auto first = c == '"' || c == '\'' ? quoted() : bare();
      if (!first || !skip()) return std::nullopt;
      if (!eof() && (s_[pos_] == '=' || s_[pos_] == ';')) {
        pos_ = start;
        Dict d;
        if (!entries(d, 0, 0, true)) return std::nullopt;
        return Value(std::move(d));
      }
      if (!eof()) return fail("content after the root value");
      return first;
    }
    auto v = value(0);
    if (!v || !skip()) return std::nullopt;
    if (!eof()) return fail("content after the root value");
    return v;
  }

};

bool bareSafe(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s)
    if (!isBareChar(c)) return false;
  // "//" and "/*" would start a comment when read back.
  return s.find("//") == std::string::npos && s.find("/*") == std::string::npos;
}

void writeString(std::string& out, const std::string& s, bool alwaysQuote = false) {
  if (!alwaysQuote && bareSafe(s)) {
    out += s;
    return;
  }
  out += '"';
  for (char ch : s) {
    auto c = static_cast<uint8_t>(ch);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\%03o", c);
          out += buf;
        } else {
          out += ch;  // UTF-8 is written as it is
        }
    }
  }
  out += '"';
}

void indent(std::string& out, int level) { out.append(static_cast<size_t>(level), '\t'); }

void writeValue(std::string& out, const Value& v, int level) {
  switch (v.type()) {
    case Type::Null: writeString(out, ""); break;
    case Type::Boolean: out += v.boolValue() ? "YES" : "NO"; break;
    case Type::Integer: writeString(out, detail::formatInteger(*v.asInteger())); break;
    case Type::Real: writeString(out, detail::formatReal(v.doubleValue())); break;
    case Type::String: writeString(out, *v.asString()); break;
    case Type::Date: writeString(out, detail::describeDate(v.asDate()->seconds)); break;
    case Type::Uid: out += "{CF$UID = " + std::to_string(v.asUid()->index) + ";}"; break;
    case Type::Data: {
      out += '<';
      const Data& d = *v.asData();
      char buf[4];
      for (size_t i = 0; i < d.size(); ++i) {
        if (i && i % 4 == 0) out += ' ';
        std::snprintf(buf, sizeof buf, "%02x", d[i]);
        out += buf;
      }
      out += '>';
      break;
    }
    case Type::Array: {
      const Array& a = *v.asArray();
      size_t n = 0;
      for (const auto& e : a) n += !e.isNull();
      if (n == 0) {
        out += "()";
        break;
      }
      out += "(\n";
      size_t written = 0;
      for (const auto& e : a) {
        if (e.isNull()) continue;
        indent(out, level + 1);
        writeValue(out, e, level + 1);
        out += ++written < n ? ",\n" : "\n";
      }
      indent(out, level);
      out += ')';
      break;
    }
    case Type::Dict: {
      const Dict& d = *v.asDict();
      out += "{\n";
      for (const auto& [k, e] : d) {
        if (e.isNull()) continue;
        indent(out, level + 1);
        writeString(out, k);
        out += " = ";
        writeValue(out, e, level + 1);
        out += ";\n";
      }
      if (out.size() >= 2 && out.compare(out.size() - 2, 2, "{\n") == 0) {
        out.back() = '}';
        break;
      }
      indent(out, level);
      out += '}';
      break;
    }
  }
}

}  // namespace

ReadResult readOpenStep(std::string_view text) {
  ReadResult r;
  r.format = Format::OpenStep;
  // Strings tables are often UTF-16 with a byte-order mark; read those as UTF-8.
  std::string converted;
  if (text.size() >= 2 && ((text[0] == '\xFF' && text[1] == '\xFE') || (text[0] == '\xFE' && text[1] == '\xFF'))) {
    if (text.size() > kMaxInputBytes) {
      r.error = "OpenStep property list: larger than " + std::to_string(kMaxInputBytes) + " bytes";
      return r;
    }
    if (text.size() % 2) {
      r.error = "OpenStep property list: UTF-16 text with an odd number of bytes";
      return r;
    }
    bool little = text[0] == '\xFF';
    std::u16string u;
    u.reserve(text.size() / 2);
    for (size_t i = 2; i < text.size(); i += 2) {
      auto a = static_cast<uint8_t>(text[i]), b = static_cast<uint8_t>(text[i + 1]);
      u += static_cast<char16_t>(little ? (b << 8 | a) : (a << 8 | b));
    }
    converted = detail::utf16ToUtf8(u.data(), u.size());
    text = converted;
  }
  r.value = OpenStepReader(text).run(&r.error);
  return r;
}

std::string writeOpenStep(const Value& v) {
  std::string out;
  // A root string is always quoted: bare, a text like "bplist00" would pass for binary.
  if (v.isString()) {
    writeString(out, *v.asString(), true);
  } else {
    writeValue(out, v, 0);
  }
  out += '\n';
  return out;
}

}  // namespace pl
