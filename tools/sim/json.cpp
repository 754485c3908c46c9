// JSON text of property-list values.
#include "tools/sim/json.h"

#include "core/plist/number_text.h"

#include <cmath>
#include <cstdlib>

namespace vl::simtool {


namespace {

std::string number(double d) {
  if (!std::isfinite(d)) return "null";
  if (d == std::floor(d) && std::fabs(d) < 1e15) return pl::formatFixed(d, 0);
  // Prefer the shortest text that reads back to the same number.
  for (int prec = 1; prec < 17; ++prec) {
    std::string s = pl::formatG(d, prec);
    if (pl::parseDecimal(s) == d) return s;
  }
  return pl::formatG(d, 17);
}

void write(const pl::Value& v, int indent, int level, std::string& out) {
  std::string pad = indent ? "\n" + std::string(static_cast<size_t>(indent * (level + 1)), ' ') : "";
  std::string end = indent ? "\n" + std::string(static_cast<size_t>(indent * level), ' ') : "";
  const char* sep = indent ? ": " : ":";
  switch (v.type()) {
    case pl::Type::Null: out += "null"; break;
    case pl::Type::Boolean: out += v.boolValue() ? "true" : "false"; break;
    case pl::Type::Integer:
      out += v.isUnsignedInteger() ? std::to_string(v.unsignedLongLongValue()) : std::to_string(v.longLongValue());
      break;
    case pl::Type::Real: out += number(v.doubleValue()); break;
    case pl::Type::String: out += jsonString(*v.asString()); break;
    case pl::Type::Data: {
      static const char* hex = "0123456789abcdef";
      std::string s;
      for (uint8_t b : *v.asData()) {
        s += hex[b >> 4];
        s += hex[b & 15];
      }
      out += jsonString(s);
      break;
    }
    case pl::Type::Date: out += number(v.asDate()->seconds); break;
    case pl::Type::Uid: out += std::to_string(v.asUid()->index); break;
    case pl::Type::Array: {
      const auto& a = *v.asArray();
      if (a.empty()) {
        out += "[]";
        break;
      }
      out += "[";
      for (size_t i = 0; i < a.size(); ++i) {
        out += (i ? "," : "") + pad;
        write(a[i], indent, level + 1, out);
      }
      out += end + "]";
      break;
    }
    case pl::Type::Dict: {
      const auto& d = *v.asDict();
      if (d.empty()) {
        out += "{}";
        break;
      }
      out += "{";
      bool first = true;
      for (const auto& [k, e] : d) {
        out += (first ? "" : ",") + pad + jsonString(k) + sep;
        first = false;
        write(e, indent, level + 1, out);
      }
      out += end + "}";
      break;
    }
  }
}

}  // namespace

std::string toJson(const pl::Value& v, int indent) {
  std::string out;
  write(v, indent, 0, out);
  return out;
}

}  // namespace vl::simtool
