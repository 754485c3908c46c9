// Keyed archiver and unarchiver for property-list values.
#include "core/plist/keyed_archive.h"

#include <unordered_map>

#include "core/plist/codec.h"
#include "core/plist/text_util.h"

namespace pl {

namespace {

constexpr int64_t kArchiveVersion = 100000;

class Archiver {
 public:
  Value run(const Value& root) {
    objects_.push_back(Value("$null"));
    Uid top = encode(root);
    Dict a;
    a["$version"] = Value::int64(kArchiveVersion);
    a["$archiver"] = Value("NSKeyedArchiver");
    a["$top"] = Value(Dict{{"root", Value(top)}});
    a["$objects"] = Value(std::move(objects_));
    return Value(std::move(a));
  }

 private:
  Uid reserve() {
    objects_.emplace_back();
    return Uid{objects_.size() - 1};
  }

  Uid classUid(const std::string& name) {
    auto it = classes_.find(name);
    if (it != classes_.end()) return it->second;
    Uid u = reserve();
    objects_[u.index] = Value(Dict{{"$classname", Value(name)}, {"$classes", Value(Array{Value(name), Value("NSObject")})}});
    classes_.emplace(name, u);
    return u;
  }

  Uid encodeString(const std::string& s) {
    auto it = strings_.find(s);
    if (it != strings_.end()) return it->second;
    Uid u = reserve();
    objects_[u.index] = Value(s);
    strings_.emplace(s, u);
    return u;
  }

  // The object gets its UID before its members, as the platform's archiver numbers them.
  Uid encode(const Value& v) {
    switch (v.type()) {
      case Type::Null: return Uid{0};
      case Type::String: return encodeString(*v.asString());
      case Type::Array: {
        Uid u = reserve();
        Array refs;
        for (const auto& e : *v.asArray()) refs.push_back(Value(encode(e)));
        Dict o{{"NS.objects", Value(std::move(refs))}, {"$class", Value(classUid("NSArray"))}};
        objects_[u.index] = Value(std::move(o));
        return u;
      }
      case Type::Dict: {
        Uid u = reserve();
        Array keys, vals;
        for (const auto& [k, e] : *v.asDict()) {
          keys.push_back(Value(encodeString(k)));
          vals.push_back(Value(encode(e)));
        }
        Dict o{{"NS.keys", Value(std::move(keys))}, {"NS.objects", Value(std::move(vals))},
               {"$class", Value(classUid("NSDictionary"))}};
        objects_[u.index] = Value(std::move(o));
        return u;
      }
      case Type::Date: {
        Uid u = reserve();
        Dict o{{"NS.time", Value(v.asDate()->seconds)}, {"$class", Value(classUid("NSDate"))}};
        objects_[u.index] = Value(std::move(o));
        return u;
      }
      case Type::Uid: {
        Uid u = reserve();
        objects_[u.index] = Value::uint64(v.asUid()->index);
        return u;
      }
      default: {  // numbers, booleans, data: inline
        Uid u = reserve();
        objects_[u.index] = v;
        return u;
      }
    }
  }

  Array objects_;
  std::unordered_map<std::string, Uid> classes_;
  std::unordered_map<std::string, Uid> strings_;
};

// Memory a value takes, roughly; used to bound how far shared objects may expand.
size_t footprint(const Value& v) {
  size_t n = sizeof(Value);
  if (auto s = v.asString()) n += s->size();
  else if (auto d = v.asData()) n += d->size();
  else if (auto a = v.asArray()) for (const auto& e : *a) n += footprint(e);
  else if (auto m = v.asDict()) for (const auto& [k, e] : *m) n += k.size() + footprint(e);
  return n;
}

class Unarchiver {
 public:
  Unarchiver(const Array& objects, size_t budget) : objects_(objects), budget_(budget), onPath_(objects.size(), 0) {}

  std::optional<Value> decode(const Value& ref, int depth) {
    const Uid* u = ref.asUid();
    if (!u) return fail("expected a UID, found " + std::string(typeName(ref.type())));
    if (u->index >= objects_.size())
      return fail("UID " + std::to_string(u->index) + " out of range (" + std::to_string(objects_.size()) + " objects)");
    if (u->index == 0) return Value();
    size_t n = u->index;
    const Value& o = objects_[n];
    if (!charge(sizeof(Value))) return std::nullopt;
    switch (o.type()) {
      case Type::String:
        if (!charge(o.asString()->size())) return std::nullopt;
        return o;
      case Type::Data:
        if (!charge(o.asData()->size())) return std::nullopt;
        return o;
      case Type::Integer:
      case Type::Real:
      case Type::Boolean:
        return o;
      case Type::Dict:
        break;
      default:
        return fail("object " + std::to_string(n) + " is a bare " + typeName(o.type()));
    }
    if (depth >= kMaxDepth) return fail("nesting deeper than " + std::to_string(kMaxDepth));
    if (onPath_[n]) return fail("object " + std::to_string(n) + " contains itself");
    onPath_[n] = 1;
    auto v = decodeObject(n, o, depth);
    onPath_[n] = 0;
    return v;
  }

  std::string error;

 private:
  std::optional<Value> fail(const std::string& m) {
    if (error.empty()) error = "keyed archive: " + m;
    return std::nullopt;
  }
  bool failed(const std::string& m) {
    fail(m);
    return false;
  }
  bool charge(size_t bytes) {
    if (bytes > budget_) return failed("objects expand beyond the size limit");
    budget_ -= bytes;
    return true;
  }

  std::optional<std::string> className(size_t n, const Dict& o) {
    auto c = o.find("$class");
    if (c == o.end()) {
      fail("object " + std::to_string(n) + " has no $class");
      return std::nullopt;
    }
    const Uid* u = c->second.asUid();
    if (!u || u->index == 0 || u->index >= objects_.size()) {
      fail("object " + std::to_string(n) + " has an invalid $class reference");
      return std::nullopt;
    }
    auto name = objects_[u->index].stringFor("$classname");
    if (!name) {
      fail("class object " + std::to_string(u->index) + " has no $classname");
      return std::nullopt;
    }
    return name;
  }

  const Array* refs(size_t n, const Dict& o, const char* key) {
    auto it = o.find(key);
    if (it == o.end() || !it->second.isArray()) {
      fail("object " + std::to_string(n) + " lacks the array " + key);
      return nullptr;
    }
    return it->second.asArray();
  }

  std::optional<Value> decodeObject(size_t n, const Value& obj, int depth) {
    const Dict& o = *obj.asDict();
    auto cls = className(n, o);
    if (!cls) return std::nullopt;
    const std::string where = "object " + std::to_string(n) + " (" + detail::excerpt(*cls) + ")";
    if (*cls == "NSDictionary" || *cls == "NSMutableDictionary") {
      const Array* keys = refs(n, o, "NS.keys");
      const Array* vals = keys ? refs(n, o, "NS.objects") : nullptr;
      if (!vals) return std::nullopt;
      if (keys->size() != vals->size()) return fail(where + " has " + std::to_string(keys->size()) + " keys but " + std::to_string(vals->size()) + " objects");
      if (!charge(keys->size() * sizeof(Value))) return std::nullopt;
      Dict d;
      for (size_t i = 0; i < keys->size(); ++i) {
        auto k = decode((*keys)[i], depth + 1);
        if (!k) return std::nullopt;
        if (!k->isString()) return fail(where + " has a key of type " + typeName(k->type()));
        auto v = decode((*vals)[i], depth + 1);
        if (!v) return std::nullopt;
        d.insert_or_assign(std::move(*k->asString()), std::move(*v));
      }
      return Value(std::move(d));
    }
    if (*cls == "NSArray" || *cls == "NSMutableArray") {
      const Array* vals = refs(n, o, "NS.objects");
      if (!vals) return std::nullopt;
      if (!charge(vals->size() * sizeof(Value))) return std::nullopt;
      Array a;
      a.reserve(vals->size());
      for (const auto& r : *vals) {
        auto v = decode(r, depth + 1);
        if (!v) return std::nullopt;
        a.push_back(std::move(*v));
      }
      return Value(std::move(a));
    }
    if (*cls == "NSString" || *cls == "NSMutableString") {
      auto s = o.find("NS.string");
      if (s == o.end() || !s->second.isString()) return fail(where + " has no string NS.string");
      if (!charge(s->second.asString()->size())) return std::nullopt;
      return s->second;
    }
    if (*cls == "NSData" || *cls == "NSMutableData") {
      auto d = o.find("NS.data");
      if (d == o.end() || !d->second.isData()) return fail(where + " has no data NS.data");
      if (!charge(d->second.asData()->size())) return std::nullopt;
      return d->second;
    }
    if (*cls == "NSDate") {
      auto t = o.find("NS.time");
      if (t == o.end() || !(t->second.isReal() || t->second.isInteger())) return fail(where + " has no number NS.time");
      return Value(Date{t->second.doubleValue()});
    }
    return fail(where + ": unknown class");
  }

  const Array& objects_;
  size_t budget_;
  std::vector<uint8_t> onPath_;
};

}  // namespace

Value archive(const Value& root) { return Archiver().run(root); }

std::optional<Value> unarchive(const Value& archive, std::string* error) {
  auto fail = [&](const std::string& m) -> std::optional<Value> {
    if (error) *error = "keyed archive: " + m;
    return std::nullopt;
  };
  if (!archive.isDict()) return fail("not a dictionary");
  auto archiver = archive.stringFor("$archiver");
  if (!archiver || *archiver != "NSKeyedArchiver") return fail("$archiver is not \"NSKeyedArchiver\"");
  const Value* version = archive.find("$version");
  if (!version || !version->isInteger() || version->longLongValue() != kArchiveVersion) return fail("$version is not 100000");
  const Array* objects = archive.arrayFor("$objects");
  if (!objects || objects->empty()) return fail("no $objects");
  if (!(*objects)[0].isString() || *(*objects)[0].asString() != "$null") return fail("$objects does not begin with \"$null\"");
  const Dict* top = archive.dictFor("$top");
  if (!top) return fail("no $top dictionary");
  auto root = top->find("root");
  if (root == top->end()) return fail("$top has no root");
  Unarchiver u(*objects, 32u * 1024 * 1024 + 16 * footprint(archive));
  auto v = u.decode(root->second, 0);
  if (!v || !u.error.empty()) {
    if (error) *error = u.error.empty() ? "keyed archive: unreadable" : u.error;
    return std::nullopt;
  }
  return v;
}

Data archivedData(const Value& root) { return writeBinary(archive(root)); }

std::optional<Value> unarchiveData(std::span<const uint8_t> bytes, std::string* error) {
  ReadResult r = readBinary(bytes);
  if (!r) {
    if (error) *error = r.error;
    return std::nullopt;
  }
  return unarchive(*r.value, error);
}

}  // namespace pl
