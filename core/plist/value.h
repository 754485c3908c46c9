// pl::Value: the property-list value used everywhere (registry properties, user defaults,
// commands, store attributes), with number semantics close to the platform's number objects.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace pl {

class Value;
using Array = std::vector<Value>;
using Dict = std::map<std::string, Value, std::less<>>;
using Data = std::vector<uint8_t>;

// Seconds since 2001-01-01 00:00:00 UTC, as the platform's dates count.
struct Date {
  double seconds = 0;
  bool operator==(const Date&) const = default;
};

// A keyed-archive object reference ($objects index).
struct Uid {
  uint64_t index = 0;
  bool operator==(const Uid&) const = default;
};

// An integer keeps its width-independent bits plus whether it was made unsigned, so a
// 32-bit unsigned registry number reads back as unsigned and a value above INT64_MAX survives.
struct Integer {
  uint64_t bits = 0;
  bool isUnsigned = false;
  bool operator==(const Integer& o) const { return bits == o.bits; }
};

enum class Type { Null, Boolean, Integer, Real, String, Data, Date, Array, Dict, Uid };

const char* typeName(Type t);

class Value {
 public:
  Value() = default;
  Value(std::nullptr_t) {}
  Value(bool b) : v_(b) {}
  Value(int v) : v_(Integer{static_cast<uint64_t>(static_cast<int64_t>(v)), false}) {}
  Value(long v) : v_(Integer{static_cast<uint64_t>(static_cast<int64_t>(v)), false}) {}
  Value(long long v) : v_(Integer{static_cast<uint64_t>(v), false}) {}
  Value(unsigned v) : v_(Integer{v, true}) {}
  Value(unsigned long v) : v_(Integer{v, true}) {}
  Value(unsigned long long v) : v_(Integer{v, true}) {}
  Value(double d) : v_(d) {}
  Value(const char* s) : v_(std::string(s)) {}
  Value(std::string s) : v_(std::move(s)) {}
  Value(std::string_view s) : v_(std::string(s)) {}
  Value(Data d) : v_(std::move(d)) {}
  Value(Date d) : v_(d) {}
  Value(Array a) : v_(std::move(a)) {}
  Value(Dict d) : v_(std::move(d)) {}
  Value(Uid u) : v_(u) {}
  Value(Integer i) : v_(i) {}

  // Named constructors where an overload would be ambiguous.
  static Value int32(int32_t v) { return Value(static_cast<long long>(v)); }
  static Value uint32(uint32_t v) { return Value(static_cast<unsigned long long>(v)); }
  static Value uint8(uint8_t v) { return Value(static_cast<unsigned long long>(v)); }
  static Value int64(int64_t v) { return Value(static_cast<long long>(v)); }
  static Value uint64(uint64_t v) { return Value(static_cast<unsigned long long>(v)); }

  Type type() const { return static_cast<Type>(v_.index()); }
  bool isNull() const { return type() == Type::Null; }
  bool isBool() const { return type() == Type::Boolean; }
  bool isInteger() const { return type() == Type::Integer; }
  bool isReal() const { return type() == Type::Real; }
  // A number object: integer, real or boolean (the platform's booleans are numbers too).
  bool isNumber() const { return isInteger() || isReal() || isBool(); }
  bool isString() const { return type() == Type::String; }
  bool isData() const { return type() == Type::Data; }
  bool isDate() const { return type() == Type::Date; }
  bool isArray() const { return type() == Type::Array; }
  bool isDict() const { return type() == Type::Dict; }
  bool isUid() const { return type() == Type::Uid; }

  // Number queries behave as the platform's number object does: a conversion of the stored
  // value to the asked width (two's-complement truncation for integers, C conversion
  // saturating for reals). Non-numbers read as 0.
  bool boolValue() const;
  int32_t intValue() const;
  uint32_t unsignedIntValue() const;
  int64_t longLongValue() const;
  uint64_t unsignedLongLongValue() const;
  uint64_t unsignedLongValue() const { return unsignedLongLongValue(); }
  int64_t longValue() const { return longLongValue(); }
  double doubleValue() const;
  bool isUnsignedInteger() const;

  // Typed access; null when the value is of another type ("wrong type counts as absent").
  const std::string* asString() const { return std::get_if<std::string>(&v_); }
  const Data* asData() const { return std::get_if<Data>(&v_); }
  const Array* asArray() const { return std::get_if<Array>(&v_); }
  const Dict* asDict() const { return std::get_if<Dict>(&v_); }
  const Date* asDate() const { return std::get_if<Date>(&v_); }
  const Uid* asUid() const { return std::get_if<Uid>(&v_); }
  const Integer* asInteger() const { return std::get_if<Integer>(&v_); }
  std::string* asString() { return std::get_if<std::string>(&v_); }
  Data* asData() { return std::get_if<Data>(&v_); }
  Array* asArray() { return std::get_if<Array>(&v_); }
  Dict* asDict() { return std::get_if<Dict>(&v_); }

  // Dictionary lookup; null when this is not a dictionary or the key is absent.
  const Value* find(std::string_view key) const;
  // Typed dictionary lookups, absent on a wrong type.
  std::optional<std::string> stringFor(std::string_view key) const;
  std::optional<int64_t> integerFor(std::string_view key) const;  // integer or boolean
  std::optional<double> numberFor(std::string_view key) const;    // any number
  std::optional<bool> boolFor(std::string_view key) const;        // boolean or number
  const Dict* dictFor(std::string_view key) const;
  const Array* arrayFor(std::string_view key) const;
  const Data* dataFor(std::string_view key) const;

  // Structural equality; numbers compare by value across integer/real as the platform's
  // isEqual: does (1 == 1.0), booleans equal 0/1.
  bool operator==(const Value& o) const;
  bool operator!=(const Value& o) const { return !(*this == o); }

  // A short human-readable text (for logs and the command line): strings as they are,
  // numbers in decimal, containers in OpenStep style.
  std::string describe() const;

 private:
  std::variant<std::monostate, bool, Integer, double, std::string, Data, Date, Array, Dict, Uid>
      v_;
};

}  // namespace pl
