// pl::Value number semantics, lookups, equality and the short text form.
#include "core/plist/value.h"

#include "core/plist/number_text.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace pl {

const char* typeName(Type t) {
  switch (t) {
    case Type::Null: return "null";
    case Type::Boolean: return "boolean";
    case Type::Integer: return "integer";
    case Type::Real: return "real";
    case Type::String: return "string";
    case Type::Data: return "data";
    case Type::Date: return "date";
    case Type::Array: return "array";
    case Type::Dict: return "dictionary";
    case Type::Uid: return "uid";
  }
  return "?";
}

namespace {
// C conversion of a double to an integer type, made defined: NaN -> 0, out of range saturates.
template <class T>
T saturatingCast(double d) {
  if (std::isnan(d)) return 0;
  if (d >= static_cast<double>(std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
  if (d <= static_cast<double>(std::numeric_limits<T>::min())) return std::numeric_limits<T>::min();
  return static_cast<T>(d);
}
}  // namespace

bool Value::boolValue() const {
  if (auto b = std::get_if<bool>(&v_)) return *b;
  if (auto i = std::get_if<Integer>(&v_)) return i->bits != 0;
  if (auto d = std::get_if<double>(&v_)) return *d != 0.0;
  return false;
}

int64_t Value::longLongValue() const {
  if (auto b = std::get_if<bool>(&v_)) return *b ? 1 : 0;
  if (auto i = std::get_if<Integer>(&v_)) return static_cast<int64_t>(i->bits);
  if (auto d = std::get_if<double>(&v_)) return saturatingCast<int64_t>(*d);
  return 0;
}

uint64_t Value::unsignedLongLongValue() const {
  if (auto i = std::get_if<Integer>(&v_)) return i->bits;
  if (auto d = std::get_if<double>(&v_)) {
    // Negative reals convert through the signed type, as the platform's number objects do.
    if (*d < 0) return static_cast<uint64_t>(saturatingCast<int64_t>(*d));
    return saturatingCast<uint64_t>(*d);
  }
  return static_cast<uint64_t>(longLongValue());
}

int32_t Value::intValue() const { return static_cast<int32_t>(static_cast<uint32_t>(unsignedLongLongValue())); }
uint32_t Value::unsignedIntValue() const { return static_cast<uint32_t>(unsignedLongLongValue()); }

double Value::doubleValue() const {
  if (auto b = std::get_if<bool>(&v_)) return *b ? 1.0 : 0.0;
  if (auto i = std::get_if<Integer>(&v_))
    return i->isUnsigned ? static_cast<double>(i->bits) : static_cast<double>(static_cast<int64_t>(i->bits));
  if (auto d = std::get_if<double>(&v_)) return *d;
  return 0.0;
}

bool Value::isUnsignedInteger() const {
  auto i = std::get_if<Integer>(&v_);
  return i && i->isUnsigned;
}

const Value* Value::find(std::string_view key) const {
  auto d = asDict();
  if (!d) return nullptr;
  auto it = d->find(key);
  return it == d->end() ? nullptr : &it->second;
}

std::optional<std::string> Value::stringFor(std::string_view key) const {
  auto v = find(key);
  if (!v || !v->isString()) return std::nullopt;
  return *v->asString();
}

std::optional<int64_t> Value::integerFor(std::string_view key) const {
  auto v = find(key);
  if (!v || !(v->isInteger() || v->isBool())) return std::nullopt;
  return v->longLongValue();
}

std::optional<double> Value::numberFor(std::string_view key) const {
  auto v = find(key);
  if (!v || !v->isNumber()) return std::nullopt;
  return v->doubleValue();
}

std::optional<bool> Value::boolFor(std::string_view key) const {
  auto v = find(key);
  if (!v || !v->isNumber()) return std::nullopt;
  return v->boolValue();
}

const Dict* Value::dictFor(std::string_view key) const {
  auto v = find(key);
  return v ? v->asDict() : nullptr;
}
const Array* Value::arrayFor(std::string_view key) const {
  auto v = find(key);
  return v ? v->asArray() : nullptr;
}
const Data* Value::dataFor(std::string_view key) const {
  auto v = find(key);
  return v ? v->asData() : nullptr;
}

bool Value::operator==(const Value& o) const {
  if (isNumber() && o.isNumber()) {
    if ((isInteger() || isBool()) && (o.isInteger() || o.isBool())) {
      // Compare as mathematical integers: an unsigned value above INT64_MAX is not negative.
      bool neg1 = !isUnsignedInteger() && longLongValue() < 0;
      bool neg2 = !o.isUnsignedInteger() && o.longLongValue() < 0;
      return neg1 == neg2 && unsignedLongLongValue() == o.unsignedLongLongValue();
    }
    return doubleValue() == o.doubleValue();
  }
  if (type() != o.type()) return false;
  return v_ == o.v_;
}

namespace {
void describeInto(const Value& v, std::string& out) {
  char buf[64];
  switch (v.type()) {
    case Type::Null: out += "(null)"; break;
    case Type::Boolean: out += v.boolValue() ? "1" : "0"; break;
    case Type::Integer:
      if (v.isUnsignedInteger()) std::snprintf(buf, sizeof buf, "%llu", static_cast<unsigned long long>(v.unsignedLongLongValue()));
      else std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(v.longLongValue()));
      out += buf;
      break;
    case Type::Real: out += formatG(v.doubleValue(), 17); break;
    case Type::String: out += *v.asString(); break;
    case Type::Data: {
      out += '<';
      const auto& d = *v.asData();
      for (size_t i = 0; i < d.size(); ++i) {
        if (i && i % 4 == 0) out += ' ';
        std::snprintf(buf, sizeof buf, "%02x", d[i]);
        out += buf;
      }
      out += '>';
      break;
    }
    case Type::Date: out += "@" + formatFixed(v.asDate()->seconds, 3); break;
    case Type::Array: {
      out += '(';
      bool first = true;
      for (const auto& e : *v.asArray()) {
        if (!first) out += ", ";
        first = false;
        describeInto(e, out);
      }
      out += ')';
      break;
    }
    case Type::Dict: {
      out += '{';
      for (const auto& [k, e] : *v.asDict()) {
        out += k;
        out += " = ";
        describeInto(e, out);
        out += "; ";
      }
      out += '}';
      break;
    }
    case Type::Uid: std::snprintf(buf, sizeof buf, "<UID %llu>", static_cast<unsigned long long>(v.asUid()->index)); out += buf; break;
  }
}
}  // namespace

std::string Value::describe() const {
  std::string s;
  describeInto(*this, s);
  return s;
}

}  // namespace pl
