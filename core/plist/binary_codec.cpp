// Binary property lists ("bplist00"): a bounds-checked reader and a writer of our own.
// libplist 2.2 can neither write an unsigned integer above INT64_MAX nor tell a reader an
// integer's width, keeps dates as 32-bit seconds, and trusts the file's trailer; so this
// format is handled here, and libplist serves as a cross-check in the tests.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <unordered_map>

#include "core/plist/codec.h"
#include "core/plist/text_util.h"

namespace pl {

namespace {

constexpr size_t kTrailerBytes = 32;
constexpr size_t kHeaderBytes = 8;

enum Marker : uint8_t {
  kNull = 0x00,
  kFalse = 0x08,
  kTrue = 0x09,
  kInt = 0x10,
  kReal = 0x20,
  kDate = 0x33,
  kData = 0x40,
  kAscii = 0x50,
  kUtf16 = 0x60,
  kUid = 0x80,
  kArray = 0xA0,
  kDict = 0xD0,
};

uint64_t readBe(const uint8_t* p, size_t n) {
  uint64_t v = 0;
  for (size_t i = 0; i < n; ++i) v = (v << 8) | p[i];
  return v;
}

// Expanded size allowed for a reader's result, in bytes of memory. Shared objects are copied
// into each place that refers to them, so a small file of references to references could
// otherwise unfold into an enormous tree.
size_t expansionBudget(size_t inputBytes) { return 32u * 1024 * 1024 + 16 * inputBytes; }

class BinaryReader {
 public:
  explicit BinaryReader(std::span<const uint8_t> b) : b_(b), budget_(expansionBudget(b.size())) {}

  std::optional<Value> run(std::string* error) {
    auto v = parseAll();
    // A recorded error wins even if a caller went on: nothing half-read is handed out.
    if (!v || !error_.empty()) {
      *error = error_.empty() ? "malformed property list" : error_;
      return std::nullopt;
    }
    return v;
  }

 private:
  std::optional<Value> fail(std::string msg) {
    if (error_.empty()) error_ = std::move(msg);
    return std::nullopt;
  }
  std::optional<Value> failAt(uint64_t off, const std::string& msg) {
    return fail("binary property list: " + msg + " at byte " + std::to_string(off));
  }

  std::optional<Value> parseAll() {
    if (b_.size() > kMaxInputBytes) return fail("binary property list: larger than " + std::to_string(kMaxInputBytes) + " bytes");
    if (b_.size() < kHeaderBytes + kTrailerBytes + 1)
      return fail("binary property list: too short (" + std::to_string(b_.size()) + " bytes)");
    if (std::memcmp(b_.data(), "bplist00", 8) != 0) return failAt(0, "missing \"bplist00\" header");
    const uint8_t* t = b_.data() + b_.size() - kTrailerBytes;
    size_t trailerAt = b_.size() - kTrailerBytes;
    offsetSize_ = t[6];
    refSize_ = t[7];
    uint64_t count = readBe(t + 8, 8);
    uint64_t top = readBe(t + 16, 8);
    uint64_t tableAt = readBe(t + 24, 8);
    if (offsetSize_ < 1 || offsetSize_ > 8) return failAt(trailerAt + 6, "offset size " + std::to_string(offsetSize_) + " is not 1 to 8");
    if (refSize_ < 1 || refSize_ > 8) return failAt(trailerAt + 7, "reference size " + std::to_string(refSize_) + " is not 1 to 8");
    if (count == 0) return failAt(trailerAt + 8, "no objects");
    if (tableAt < kHeaderBytes + 1 || tableAt > trailerAt) return failAt(trailerAt + 24, "offset table position " + std::to_string(tableAt) + " outside the file");
    if (count > (trailerAt - tableAt) / offsetSize_)
      return failAt(trailerAt + 8, "object count " + std::to_string(count) + " does not fit the offset table");
    if (top >= count) return failAt(trailerAt + 16, "top object " + std::to_string(top) + " out of range");
    count_ = count;
    tableAt_ = tableAt;
    state_.assign(count, 0);
    return object(top, 0);
  }

  // Offset of object n, checked to lie between the header and the offset table.
  std::optional<uint64_t> offsetOf(uint64_t n) {
    uint64_t at = tableAt_ + n * offsetSize_;
    uint64_t off = readBe(b_.data() + at, offsetSize_);
    if (off < kHeaderBytes || off >= tableAt_) {
      failAt(at, "offset " + std::to_string(off) + " of object " + std::to_string(n) + " outside the object area");
      return std::nullopt;
    }
    return off;
  }

  bool need(uint64_t off, uint64_t bytes, const char* what) {
    if (bytes > tableAt_ || off > tableAt_ - bytes) {
      failAt(off, std::string(what) + " runs past the object area");
      return false;
    }
    return true;
  }

  bool charge(uint64_t bytes, uint64_t off) {
    if (bytes > budget_) {
      failAt(off, "objects expand beyond " + std::to_string(expansionBudget(b_.size())) + " bytes");
      return false;
    }
    budget_ -= bytes;
    return true;
  }

  // The element count of a container or string: the low nibble, or an integer object after
  // the marker when the nibble is 0xF. *body receives the offset of the content.
  std::optional<uint64_t> length(uint64_t off, uint64_t* body) {
    uint8_t low = b_[off] & 0x0F;
    if (low != 0x0F) {
      *body = off + 1;
      return low;
    }
    if (!need(off + 1, 1, "length")) return std::nullopt;
    uint8_t m = b_[off + 1];
    if ((m & 0xF0) != kInt || (m & 0x0F) > 3) {
      failAt(off + 1, "length is not an integer of 1 to 8 bytes");
      return std::nullopt;
    }
    size_t n = size_t(1) << (m & 0x0F);
    if (!need(off + 2, n, "length")) return std::nullopt;
    *body = off + 2 + n;
    return readBe(b_.data() + off + 2, n);
  }

  std::optional<uint64_t> ref(uint64_t at) {
    uint64_t r = readBe(b_.data() + at, refSize_);
    if (r >= count_) {
      failAt(at, "reference " + std::to_string(r) + " out of range");
      return std::nullopt;
    }
    return r;
  }

  std::optional<Value> object(uint64_t n, int depth) {
    auto offOpt = offsetOf(n);
    if (!offOpt) return std::nullopt;
    uint64_t off = *offOpt;
    if (!charge(sizeof(Value), off)) return std::nullopt;
    uint8_t m = b_[off];
    uint8_t low = m & 0x0F;
    switch (m & 0xF0) {
      case 0x00:
        if (m == kNull) return Value();
        if (m == kFalse) return Value(false);
        if (m == kTrue) return Value(true);
        return failAt(off, "unknown marker " + detail::showByte(m));
      case kInt: {
        if (low > 4) return failAt(off, "integer of 2^" + std::to_string(low) + " bytes");
        size_t w = size_t(1) << low;
        if (!need(off + 1, w, "integer")) return std::nullopt;
        const uint8_t* p = b_.data() + off + 1;
        if (w == 16) {
          uint64_t hi = readBe(p, 8), lo = readBe(p + 8, 8);
          if (hi == 0) return Value(Integer{lo, lo > static_cast<uint64_t>(INT64_MAX)});
          if (hi == ~uint64_t(0) && (lo >> 63)) return Value(Integer{lo, false});
          return failAt(off, "128-bit integer out of range");
        }
        // One to four bytes are unsigned; eight bytes are two's complement.
        return Value(Integer{readBe(p, w), false});
      }
      case kReal: {
        if (low != 2 && low != 3) return failAt(off, "real of 2^" + std::to_string(low) + " bytes");
        size_t w = size_t(1) << low;
        if (!need(off + 1, w, "real")) return std::nullopt;
        uint64_t bits = readBe(b_.data() + off + 1, w);
        if (w == 4) {
          uint32_t b32 = static_cast<uint32_t>(bits);
          float f;
          std::memcpy(&f, &b32, 4);
          return Value(static_cast<double>(f));
        }
        double d;
        std::memcpy(&d, &bits, 8);
        return Value(d);
      }
      case 0x30: {
        if (m != kDate) return failAt(off, "unknown marker " + detail::showByte(m));
        if (!need(off + 1, 8, "date")) return std::nullopt;
        uint64_t bits = readBe(b_.data() + off + 1, 8);
        double d;
        std::memcpy(&d, &bits, 8);
        return Value(Date{d});
      }
      case kData: {
        uint64_t body;
        auto len = length(off, &body);
        if (!len || !need(body, *len, "data") || !charge(*len, off)) return std::nullopt;
        return Value(Data(b_.begin() + static_cast<ptrdiff_t>(body), b_.begin() + static_cast<ptrdiff_t>(body + *len)));
      }
      case kAscii: {
        uint64_t body;
        auto len = length(off, &body);
        if (!len || !need(body, *len, "string") || !charge(*len * 2, off)) return std::nullopt;
        // Bytes above 0x7F are not ASCII; read them as Latin-1 so every string is valid UTF-8.
        std::string s;
        s.reserve(*len);
        for (uint64_t i = 0; i < *len; ++i) detail::appendUtf8(s, b_[body + i]);
        return Value(std::move(s));
      }
      case kUtf16: {
        uint64_t body;
        auto len = length(off, &body);
        if (!len) return std::nullopt;
        if (*len > tableAt_ / 2) return failAt(off, "string runs past the object area");
        if (!need(body, *len * 2, "string") || !charge(*len * 3, off)) return std::nullopt;
        std::u16string u(*len, u'\0');
        for (uint64_t i = 0; i < *len; ++i) u[i] = static_cast<char16_t>(readBe(b_.data() + body + 2 * i, 2));
        return Value(detail::utf16ToUtf8(u.data(), u.size()));
      }
      case kUid: {
        size_t w = size_t(low) + 1;
        if (w > 8) return failAt(off, "UID of " + std::to_string(w) + " bytes");
        if (!need(off + 1, w, "UID")) return std::nullopt;
        return Value(Uid{readBe(b_.data() + off + 1, w)});
      }
      case kArray:
      case kDict:
        return container(n, off, m, depth);
      default:
        return failAt(off, "unknown marker " + detail::showByte(m));
    }
  }

  std::optional<Value> container(uint64_t n, uint64_t off, uint8_t m, int depth) {
    bool dict = (m & 0xF0) == kDict;
    if (depth >= kMaxDepth) return failAt(off, "nesting deeper than " + std::to_string(kMaxDepth));
    uint64_t body;
    auto len = length(off, &body);
    if (!len) return std::nullopt;
    uint64_t refs = dict ? 2 : 1;
    if (*len > tableAt_ / refSize_ / refs) return failAt(off, dict ? "dictionary runs past the object area" : "array runs past the object area");
    if (!need(body, *len * refs * refSize_, dict ? "dictionary" : "array")) return std::nullopt;
    if (!charge(*len * refs * sizeof(Value), off)) return std::nullopt;
    // An object that contains itself, directly or not, is refused: it has no tree form.
    if (state_[n]) return failAt(off, "object " + std::to_string(n) + " contains itself");
    state_[n] = 1;
    std::optional<Value> result;
    if (dict) {
      Dict d;
      for (uint64_t i = 0; i < *len; ++i) {
        auto k = ref(body + i * refSize_);
        auto v = k ? ref(body + (*len + i) * refSize_) : std::nullopt;
        if (!v) return std::nullopt;
        auto key = object(*k, depth + 1);
        if (!key) return std::nullopt;
        if (!key->isString()) return failAt(off, "dictionary key of type " + std::string(typeName(key->type())));
        auto val = object(*v, depth + 1);
        if (!val) return std::nullopt;
        d.insert_or_assign(std::move(*key->asString()), std::move(*val));
      }
      result = Value(std::move(d));
    } else {
      Array a;
      a.reserve(*len);
      for (uint64_t i = 0; i < *len; ++i) {
        auto r = ref(body + i * refSize_);
        if (!r) return std::nullopt;
        auto v = object(*r, depth + 1);
        if (!v) return std::nullopt;
        a.push_back(std::move(*v));
      }
      result = Value(std::move(a));
    }
    state_[n] = 0;
    return result;
  }

  std::span<const uint8_t> b_;
  size_t budget_;
  size_t offsetSize_ = 0, refSize_ = 0;
  uint64_t count_ = 0, tableAt_ = 0;
  std::vector<uint8_t> state_;  // 1 while the object is being read (on the current path)
  std::string error_;
};

class BinaryWriter {
 public:
  Data run(const Value& root) {
    add(root);
    refSize_ = bytesFor(objects_.size());
    out_.assign({'b', 'p', 'l', 'i', 's', 't', '0', '0'});
    std::vector<uint64_t> offsets;
    offsets.reserve(objects_.size());
    for (const auto& o : objects_) {
      offsets.push_back(out_.size());
      emit(o);
    }
    uint64_t tableAt = out_.size();
    size_t offSize = bytesFor(tableAt);
    for (uint64_t off : offsets) putBe(off, offSize);
    uint8_t trailer[kTrailerBytes] = {};
    trailer[6] = static_cast<uint8_t>(offSize);
    trailer[7] = static_cast<uint8_t>(refSize_);
    for (int i = 0; i < 8; ++i) {
      trailer[8 + i] = static_cast<uint8_t>(uint64_t(objects_.size()) >> (56 - 8 * i));
      trailer[24 + i] = static_cast<uint8_t>(tableAt >> (56 - 8 * i));
    }
    out_.insert(out_.end(), trailer, trailer + kTrailerBytes);
    return std::move(out_);
  }

 private:
  struct Object {
    const Value* value;
    std::vector<uint64_t> refs;  // container members (dictionary: keys then values)
    const std::string* key = nullptr;  // set for dictionary keys, which have no Value
  };

  static size_t bytesFor(uint64_t n) {
    if (n <= 0xFF) return 1;
    if (n <= 0xFFFF) return 2;
    if (n <= 0xFFFFFFFFu) return 4;
    return 8;
  }

  uint64_t addString(const std::string& s, const Value* v) {
    auto it = strings_.find(s);
    if (it != strings_.end()) return it->second;
    uint64_t n = objects_.size();
    objects_.push_back({v, {}, v ? nullptr : &s});
    strings_.emplace(s, n);
    return n;
  }

  // Objects are numbered depth-first; equal strings (keys above all) are written once.
  uint64_t add(const Value& v) {
    if (v.isString()) return addString(*v.asString(), &v);
    uint64_t n = objects_.size();
    objects_.push_back({&v, {}});
    if (auto a = v.asArray()) {
      std::vector<uint64_t> refs;
      for (const auto& e : *a) refs.push_back(add(e));
      objects_[n].refs = std::move(refs);
    } else if (auto d = v.asDict()) {
      std::vector<uint64_t> keys, vals;
      for (const auto& [k, e] : *d) {
        keys.push_back(addString(k, nullptr));
        vals.push_back(add(e));
      }
      keys.insert(keys.end(), vals.begin(), vals.end());
      objects_[n].refs = std::move(keys);
    }
    return n;
  }

  void putBe(uint64_t v, size_t n) {
    for (size_t i = 0; i < n; ++i) out_.push_back(static_cast<uint8_t>(v >> (8 * (n - 1 - i))));
  }
  void marker(uint8_t base, uint64_t count) {
    if (count < 15) {
      out_.push_back(static_cast<uint8_t>(base | count));
      return;
    }
    out_.push_back(static_cast<uint8_t>(base | 0x0F));
    size_t w = bytesFor(count);
    out_.push_back(static_cast<uint8_t>(kInt | (w == 1 ? 0 : w == 2 ? 1 : w == 4 ? 2 : 3)));
    putBe(count, w);
  }
  void putDouble(uint8_t m, double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, 8);
    out_.push_back(m);
    putBe(bits, 8);
  }
  void putString(const std::string& s) {
    bool ascii = std::all_of(s.begin(), s.end(), [](char c) { return static_cast<uint8_t>(c) < 0x80; });
    if (ascii) {
      marker(kAscii, s.size());
      out_.insert(out_.end(), s.begin(), s.end());
      return;
    }
    std::u16string u = detail::utf8ToUtf16(s);
    marker(kUtf16, u.size());
    for (char16_t c : u) putBe(c, 2);
  }

  void emit(const Object& o) {
    if (o.key) return putString(*o.key);
    const Value& v = *o.value;
    switch (v.type()) {
      case Type::Null: out_.push_back(kNull); break;
      case Type::Boolean: out_.push_back(v.boolValue() ? kTrue : kFalse); break;
      case Type::Integer: {
        const Integer& i = *v.asInteger();
        bool negative = !i.isUnsigned && static_cast<int64_t>(i.bits) < 0;
        if (negative) {
          out_.push_back(kInt | 3);
          putBe(i.bits, 8);
        } else if (i.bits > static_cast<uint64_t>(INT64_MAX)) {
          // Eight-byte integers are signed; larger unsigned values take sixteen bytes.
          out_.push_back(kInt | 4);
          putBe(0, 8);
          putBe(i.bits, 8);
        } else {
          size_t w = i.bits <= 0xFF ? 1 : i.bits <= 0xFFFF ? 2 : i.bits <= 0xFFFFFFFFu ? 4 : 8;
          out_.push_back(static_cast<uint8_t>(kInt | (w == 1 ? 0 : w == 2 ? 1 : w == 4 ? 2 : 3)));
          putBe(i.bits, w);
        }
        break;
      }
      case Type::Real: putDouble(kReal | 3, v.doubleValue()); break;
      case Type::Date: putDouble(kDate, v.asDate()->seconds); break;
      case Type::String: putString(*v.asString()); break;
      case Type::Data: {
        const Data& d = *v.asData();
        marker(kData, d.size());
        out_.insert(out_.end(), d.begin(), d.end());
        break;
      }
      case Type::Uid: {
        uint64_t u = v.asUid()->index;
        size_t w = bytesFor(u);
        out_.push_back(static_cast<uint8_t>(kUid | (w - 1)));
        putBe(u, w);
        break;
      }
      case Type::Array:
      case Type::Dict: {
        bool dict = v.isDict();
        marker(dict ? kDict : kArray, dict ? o.refs.size() / 2 : o.refs.size());
        for (uint64_t r : o.refs) putBe(r, refSize_);
        break;
      }
    }
  }

  std::vector<Object> objects_;
  std::unordered_map<std::string, uint64_t> strings_;
  size_t refSize_ = 1;
  Data out_;
};

}  // namespace

ReadResult readBinary(std::span<const uint8_t> bytes) {
  ReadResult r;
  r.format = Format::Binary;
  r.value = BinaryReader(bytes).run(&r.error);
  return r;
}

Data writeBinary(const Value& v) { return BinaryWriter().run(v); }

}  // namespace pl
