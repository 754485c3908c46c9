// XML property-list reader. libplist 2.2's XML parser reports no error position and
// takes "<integer>abc</integer>" for 0, so reading is done here, strictly: every malformed
// input gets a message with its line, and no document type declaration can define entities.
#include <cstring>

#include "core/plist/ascii_text.h"
#include "core/plist/codec.h"
#include "core/plist/text_util.h"

namespace pl {

namespace {

class XmlReader : private detail::TextReaderBase {
 public:
  explicit XmlReader(std::span<const uint8_t> b)
      : detail::TextReaderBase(std::string_view(reinterpret_cast<const char*>(b.data()), b.size()), "XML") {}

  std::optional<Value> run(std::string* error) { return finish(document(), error); }

 private:
  bool startsWith(std::string_view t) const { return s_.substr(pos_, t.size()) == t; }
  static bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
  static bool isNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-' || c == '.' || c == ':';
  }
  void skipSpace() {
    while (!eof() && isSpace(s_[pos_])) ++pos_;
  }

  // Skips to just after `end`; false when the input ends first.
  bool skipPast(std::string_view end) {
    size_t at = s_.find(end, pos_);
    if (at == std::string_view::npos) return false;
    pos_ = at + end.size();
    return true;
  }

  // Whitespace, comments and processing instructions between elements.
  bool skipMisc() {
    for (;;) {
      skipSpace();
      if (startsWith("<!--")) {
        size_t at = pos_;
        pos_ += 4;
        if (!skipPast("-->")) return failedAt(at, "unterminated comment");
      } else if (startsWith("<?")) {
        size_t at = pos_;
        if (!skipPast("?>")) return failedAt(at, "unterminated processing instruction");
      } else {
        return true;
      }
    }
  }

  // <!DOCTYPE ...> with an optional internal subset. Its declarations are not used: only the
  // five predefined entities and character references are ever expanded.
  bool skipDoctype() {
    size_t at = pos_;
    pos_ += 9;
    char quote = 0;
    int bracket = 0;
    for (; !eof(); ++pos_) {
      char c = s_[pos_];
      if (quote) {
        if (c == quote) quote = 0;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (c == '[') {
        ++bracket;
      } else if (c == ']') {
        --bracket;
      } else if (c == '>' && bracket <= 0) {
        ++pos_;
        return true;
      }
    }
    return failedAt(at, "unterminated document type declaration");
  }

  struct Tag {
    std::string_view name;
    bool closing = false;
    bool empty = false;  // <name/>
    size_t at = 0;
  };

  bool tag(Tag* t) {
    t->at = pos_;
    if (eof() || s_[pos_] != '<') return failed(eof() ? "unexpected end of input" : "expected an element, found " + detail::showByte(static_cast<uint8_t>(s_[pos_])));
    ++pos_;
    if (!eof() && s_[pos_] == '/') {
      t->closing = true;
      ++pos_;
    }
    size_t start = pos_;
    while (!eof() && isNameChar(s_[pos_])) ++pos_;
    if (pos_ == start) return failedAt(t->at, "malformed tag");
    t->name = s_.substr(start, pos_ - start);
    // Attributes are skipped (only <plist version="..."> has any).
    for (;;) {
      skipSpace();
      if (eof()) return failedAt(t->at, "unterminated tag <" + std::string(t->name) + ">");
      char c = s_[pos_];
      if (c == '>') {
        ++pos_;
        return true;
      }
      if (c == '/' && !t->closing) {
        if (pos_ + 1 < s_.size() && s_[pos_ + 1] == '>') {
          pos_ += 2;
          t->empty = true;
          return true;
        }
        return failed("malformed tag <" + std::string(t->name) + ">");
      }
      if (t->closing) return failed("malformed closing tag </" + std::string(t->name) + ">");
      size_t nameStart = pos_;
      while (!eof() && isNameChar(s_[pos_])) ++pos_;
      if (pos_ == nameStart) return failed("malformed attribute in <" + std::string(t->name) + ">");
      skipSpace();
      if (eof() || s_[pos_] != '=') return failed("attribute without a value in <" + std::string(t->name) + ">");
      ++pos_;
      skipSpace();
      if (eof() || (s_[pos_] != '"' && s_[pos_] != '\'')) return failed("unquoted attribute value in <" + std::string(t->name) + ">");
      char q = s_[pos_++];
      size_t end = s_.find(q, pos_);
      if (end == std::string_view::npos) return failedAt(t->at, "unterminated attribute value");
      pos_ = end + 1;
    }
  }

  // Character data up to the next tag, with entities and CDATA sections resolved and
  // comments dropped. Stops before "</".
  bool text(std::string* out) {
    while (!eof()) {
      char c = s_[pos_];
      if (c == '<') {
        if (startsWith("<![CDATA[")) {
          size_t at = pos_;
          pos_ += 9;
          size_t end = s_.find("]]>", pos_);
          if (end == std::string_view::npos) return failedAt(at, "unterminated CDATA section");
          out->append(s_.substr(pos_, end - pos_));
          pos_ = end + 3;
          continue;
        }
        if (startsWith("<!--")) {
          size_t at = pos_;
          pos_ += 4;
          if (!skipPast("-->")) return failedAt(at, "unterminated comment");
          continue;
        }
        return true;
      }
      if (c == '&') {
        if (!entity(out)) return false;
        continue;
      }
      size_t end = s_.find_first_of(std::string_view("<&\0", 3), pos_);
      if (end == std::string_view::npos) end = s_.size();
      if (end < s_.size() && s_[end] == '\0') {
        pos_ = end;
        return failed("NUL character in text");
      }
      out->append(s_.substr(pos_, end - pos_));
      pos_ = end;
    }
    return true;
  }

  bool entity(std::string* out) {
    size_t at = pos_;
    size_t semi = s_.find(';', pos_);
    if (semi == std::string_view::npos || semi - pos_ > 12) return failed("malformed entity reference");
    std::string_view name = s_.substr(pos_ + 1, semi - pos_ - 1);
    pos_ = semi + 1;
    static constexpr std::pair<std::string_view, char> kNamed[] = {
        {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}};
    for (auto [n, c] : kNamed) {
      if (name == n) {
        *out += c;
        return true;
      }
    }
    if (name.size() >= 2 && name[0] == '#') {
      bool hex = name[1] == 'x';
      std::string_view digits = name.substr(hex ? 2 : 1);
      uint32_t cp = 0;
      if (digits.empty()) return failedAt(at, "malformed character reference");
      for (char c : digits) {
        int d = hex ? hexDigitValue(c) : (c >= '0' && c <= '9') ? c - '0' : -1;
        if (d < 0) return failedAt(at, "malformed character reference");
        cp = cp * (hex ? 16 : 10) + static_cast<uint32_t>(d);
        if (cp > 0x10FFFF) return failedAt(at, "character reference out of range");
      }
      if (cp == 0 || (cp >= 0xD800 && cp <= 0xDFFF)) return failedAt(at, "character reference to an invalid character");
      detail::appendUtf8(*out, cp);
      return true;
    }
    return failedAt(at, "unknown entity &" + detail::excerpt(name) + ";");
  }

  // Reads the text content of a scalar element and its closing tag.
  bool scalarBody(const Tag& open, std::string* out) {
    if (open.empty) return true;
    if (!text(out)) return false;
    Tag close;
    if (!tag(&close)) return false;
    if (!close.closing || close.name != open.name)
      return failedAt(close.at, "expected </" + std::string(open.name) + ">, found <" + (close.closing ? "/" : "") + std::string(close.name) + ">");
    return true;
  }

  static std::string_view trim(std::string_view t) {
    while (!t.empty() && isSpace(t.front())) t.remove_prefix(1);
    while (!t.empty() && isSpace(t.back())) t.remove_suffix(1);
    return t;
  }

  // One value element; *closed receives a closing tag met instead (for the containers).
  std::optional<Value> value(int depth, Tag* closed = nullptr) {
    if (!skipMisc()) return std::nullopt;
    Tag t;
    if (!tag(&t)) return std::nullopt;
    if (t.closing) {
      if (closed) {
        *closed = t;
        return Value();
      }
      return failAt(t.at, "unexpected </" + std::string(t.name) + ">");
    }
    if (!charge(kValueCost, t.at)) return std::nullopt;
    const std::string_view n = t.name;
    if (n == "dict" || n == "array") {
      if (depth >= kMaxDepth) return failAt(t.at, "nesting deeper than " + std::to_string(kMaxDepth));
      return n == "dict" ? dict(t, depth) : array(t, depth);
    }
    if (n == "true" || n == "false") {
      if (!t.empty) {
        if (!skipMisc()) return std::nullopt;
        Tag close;
        if (!tag(&close)) return std::nullopt;
        if (!close.closing || close.name != n) return failAt(close.at, "expected </" + std::string(n) + ">");
      }
      return Value(n == "true");
    }
    std::string body;
    if (n == "string") {
      if (!scalarBody(t, &body)) return std::nullopt;
      if (size_t bad = detail::invalidUtf8At(body); bad != std::string::npos) return failAt(t.at, "string is not valid UTF-8");
      if (!charge(payloadCost(body.size()), t.at)) return std::nullopt;
      return Value(std::move(body));
    }
    if (n == "integer" || n == "real" || n == "date" || n == "data") {
      if (!scalarBody(t, &body)) return std::nullopt;
      std::string_view b = trim(body);
      auto what = [&](const char* kind) {
        return std::string("malformed ") + kind + " \"" + detail::excerpt(b) + "\"";
      };
      if (n == "integer") {
        auto i = detail::parseInteger(b);
        if (!i) return failAt(t.at, what("integer"));
        return Value(*i);
      }
      if (n == "real") {
        auto d = detail::parseReal(b);
        if (!d) return failAt(t.at, what("real"));
        return Value(*d);
      }
      if (n == "date") {
        auto d = detail::parseIsoDate(b);
        if (!d) return failAt(t.at, what("date"));
        return Value(Date{*d});
      }
      auto d = detail::base64Decode(b);
      if (!d) return failAt(t.at, "malformed base64 data");
      if (!charge(d->size(), t.at)) return std::nullopt;
      return Value(std::move(*d));
    }
    if (n == "key") return failAt(t.at, "<key> outside a dictionary");
    return failAt(t.at, "unknown element <" + std::string(n) + ">");
  }

  std::optional<Value> array(const Tag& open, int depth) {
    Array a;
    if (open.empty) return Value(std::move(a));
    for (;;) {
      Tag closed;
      auto v = value(depth + 1, &closed);
      if (!v) return std::nullopt;
      if (closed.closing) {
        if (closed.name != "array") return failAt(closed.at, "expected </array>, found </" + std::string(closed.name) + ">");
        return Value(std::move(a));
      }
      if (!append(a, std::move(*v))) return std::nullopt;
    }
  }

  std::optional<Value> dict(const Tag& open, int depth) {
    Dict d;
    if (open.empty) return Value(std::move(d));
    for (;;) {
      if (!skipMisc()) return std::nullopt;
      Tag k;
      if (!tag(&k)) return std::nullopt;
      if (k.closing) {
        if (k.name != "dict") return failAt(k.at, "expected </dict>, found </" + std::string(k.name) + ">");
        break;
      }
      if (k.name != "key") return failAt(k.at, "expected <key> in dictionary, found <" + std::string(k.name) + ">");
      std::string key;
      if (!scalarBody(k, &key)) return std::nullopt;
      if (detail::invalidUtf8At(key) != std::string::npos) return failAt(k.at, "key is not valid UTF-8");
      if (!charge(entryCost(key.size()), k.at)) return std::nullopt;
      Tag closed;
      auto v = value(depth + 1, &closed);
      if (!v) return std::nullopt;
      if (closed.closing) return failAt(closed.at, "key \"" + detail::excerpt(key) + "\" has no value");
      d.insert_or_assign(std::move(key), std::move(*v));
    }
    // The XML form of a keyed-archive reference is a dictionary holding only "CF$UID".
    if (d.size() == 1) {
      auto it = d.find("CF$UID");
      if (it != d.end() && it->second.isInteger() && !(it->second.longLongValue() < 0 && !it->second.isUnsignedInteger()))
        return Value(Uid{it->second.unsignedLongLongValue()});
    }
    return Value(std::move(d));
  }

  std::optional<Value> document() {
    if (s_.size() > kMaxInputBytes) return fail("larger than " + std::to_string(kMaxInputBytes) + " bytes");
    if (startsWith("\xEF\xBB\xBF")) pos_ = 3;
    if (s_.size() >= 2 && ((s_[0] == '\xFF' && s_[1] == '\xFE') || (s_[0] == '\xFE' && s_[1] == '\xFF')))
      return fail("UTF-16 XML is not supported");
    for (;;) {
      if (!skipMisc()) return std::nullopt;
      if (startsWith("<!DOCTYPE")) {
        if (!skipDoctype()) return std::nullopt;
        continue;
      }
      break;
    }
    if (eof()) return fail("no property list element");
    std::optional<Value> v;
    if (startsWith("<plist") && (pos_ + 6 >= s_.size() || !isNameChar(s_[pos_ + 6]))) {
      Tag open;
      if (!tag(&open)) return std::nullopt;
      if (open.empty) return failAt(open.at, "empty <plist>");
      v = value(0);
      if (!v) return std::nullopt;
      if (!skipMisc()) return std::nullopt;
      Tag close;
      if (!tag(&close)) return std::nullopt;
      if (!close.closing || close.name != "plist") return failAt(close.at, "expected </plist> after the root value");
    } else {
      v = value(0);
      if (!v) return std::nullopt;
    }
    if (!skipMisc()) return std::nullopt;
    if (!eof()) return fail("content after the root element");
    return v;
  }

};

}  // namespace

ReadResult readXml(std::span<const uint8_t> bytes) {
  ReadResult r;
  r.format = Format::Xml;
  r.value = XmlReader(bytes).run(&r.error);
  return r;
}

}  // namespace pl
