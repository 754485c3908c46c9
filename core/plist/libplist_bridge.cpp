// pl::Value <-> libplist node trees, working round what libplist 2.2's API cannot express.
#include "core/plist/libplist_bridge.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "core/plist/codec.h"
#include "core/plist/text_util.h"

namespace pl {

namespace {

// libplist 2.2 has no call that makes a 16-byte (unsigned) integer or a date beyond 32-bit
// seconds, but its XML reader makes both; a one-element document builds the node.
plist_t nodeFromXmlSnippet(const std::string& element) {
  std::string doc = "<plist>" + element + "</plist>";
  plist_t p = nullptr;
  plist_from_xml(doc.data(), static_cast<uint32_t>(doc.size()), &p);
  return p;
}

// The XML text libplist gives for one node, which shows what its API hides (an integer's
// signedness, a date's full range).
std::string nodeXml(plist_t node) {
  char* xml = nullptr;
  uint32_t n = 0;
  plist_to_xml(node, &xml, &n);
  std::string s = xml ? std::string(xml, n) : std::string();
  if (xml) plist_to_xml_free(xml);
  return s;
}

std::string elementText(const std::string& xml, const char* name) {
  std::string open = std::string("<") + name + ">", close = std::string("</") + name + ">";
  size_t a = xml.find(open), b = xml.find(close);
  if (a == std::string::npos || b == std::string::npos || b < a) return {};
  return xml.substr(a + open.size(), b - a - open.size());
}

plist_t build(const Value& v) {
  switch (v.type()) {
    case Type::Null: return nullptr;
    case Type::Boolean: return plist_new_bool(v.boolValue() ? 1 : 0);
    case Type::Integer: {
      const Integer& i = *v.asInteger();
      if (i.isUnsigned && i.bits > static_cast<uint64_t>(INT64_MAX))
        return nodeFromXmlSnippet("<integer>" + std::to_string(i.bits) + "</integer>");
      return plist_new_uint(i.bits);
    }
    case Type::Real: return plist_new_real(v.doubleValue());
    case Type::String: return plist_new_string(v.asString()->c_str());
    case Type::Data: {
      const Data& d = *v.asData();
      return plist_new_data(reinterpret_cast<const char*>(d.data()), d.size());
    }
    case Type::Date: {
      double s = v.asDate()->seconds;
      double whole = std::floor(s);
      if (std::isfinite(s) && whole >= INT32_MIN && whole <= INT32_MAX) {
        int32_t usec = static_cast<int32_t>(std::lround((s - whole) * 1e6));
        if (usec > 999999) usec = 999999;
        return plist_new_date(static_cast<int32_t>(whole), usec);
      }
      return nodeFromXmlSnippet("<date>" + detail::isoDate(s) + "</date>");
    }
    case Type::Uid: return plist_new_uid(v.asUid()->index);
    case Type::Array: {
      plist_t a = plist_new_array();
      for (const auto& e : *v.asArray())
        if (plist_t n = build(e)) plist_array_append_item(a, n);
      return a;
    }
    case Type::Dict: {
      plist_t d = plist_new_dict();
      for (const auto& [k, e] : *v.asDict())
        if (plist_t n = build(e)) plist_dict_set_item(d, k.c_str(), n);
      return d;
    }
  }
  return nullptr;
}

std::optional<Value> convert(plist_t node, int depth, std::string* error) {
  auto fail = [&](const std::string& m) -> std::optional<Value> {
    if (error && error->empty()) *error = m;
    return std::nullopt;
  };
  if (!node) return fail("missing node");
  switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
      uint8_t b = 0;
      plist_get_bool_val(node, &b);
      return Value(b != 0);
    }
    case PLIST_UINT: {
      uint64_t bits = 0;
      plist_get_uint_val(node, &bits);
      bool isUnsigned = false;
      if (bits >> 63) isUnsigned = elementText(nodeXml(node), "integer").find('-') == std::string::npos;
      return Value(Integer{bits, isUnsigned});
    }
    case PLIST_REAL: {
      double d = 0;
      plist_get_real_val(node, &d);
      return Value(d);
    }
    case PLIST_STRING:
    case PLIST_KEY: {
      uint64_t n = 0;
      const char* p = plist_get_string_ptr(node, &n);
      return Value(std::string(p ? p : "", p ? n : 0));
    }
    case PLIST_DATA: {
      uint64_t n = 0;
      const char* p = plist_get_data_ptr(node, &n);
      const auto* u = reinterpret_cast<const uint8_t*>(p);
      return Value(p ? Data(u, u + n) : Data());
    }
    case PLIST_DATE: {
      // The whole seconds come from the XML text (correct over the full range), the
      // fraction from the API when both agree.
      auto whole = detail::parseIsoDate(elementText(nodeXml(node), "date"));
      if (!whole) return fail("unreadable date node");
      int32_t sec = 0, usec = 0;
      plist_get_date_val(node, &sec, &usec);
      double s = *whole;
      if (std::fabs(static_cast<double>(sec) - s) < 1.5 && usec > 0 && usec < 1000000)
        s = static_cast<double>(sec) + usec / 1e6;
      return Value(Date{s});
    }
    case PLIST_UID: {
      uint64_t u = 0;
      plist_get_uid_val(node, &u);
      return Value(Uid{u});
    }
    case PLIST_ARRAY: {
      if (depth >= kMaxDepth) return fail("nesting deeper than " + std::to_string(kMaxDepth));
      Array a;
      uint32_t n = plist_array_get_size(node);
      a.reserve(n);
      for (uint32_t i = 0; i < n; ++i) {
        auto e = convert(plist_array_get_item(node, i), depth + 1, error);
        if (!e) return std::nullopt;
        a.push_back(std::move(*e));
      }
      return Value(std::move(a));
    }
    case PLIST_DICT: {
      if (depth >= kMaxDepth) return fail("nesting deeper than " + std::to_string(kMaxDepth));
      Dict d;
      plist_dict_iter it = nullptr;
      plist_dict_new_iter(node, &it);
      for (;;) {
        char* key = nullptr;
        plist_t val = nullptr;
        plist_dict_next_item(node, it, &key, &val);
        if (!val) {
          std::free(key);
          break;
        }
        std::string k = key ? key : "";
        std::free(key);
        auto e = convert(val, depth + 1, error);
        if (!e) {
          std::free(it);
          return std::nullopt;
        }
        d.insert_or_assign(std::move(k), std::move(*e));
      }
      std::free(it);
      if (d.size() == 1) {
        auto u = d.find("CF$UID");
        if (u != d.end() && u->second.isInteger() && u->second.longLongValue() >= 0)
          return Value(Uid{u->second.unsignedLongLongValue()});
      }
      return Value(std::move(d));
    }
    default:
      return fail("node of unknown type");
  }
}

}  // namespace

PlistPtr toPlist(const Value& v) {
  plist_t p = build(v);
  if (!p) p = plist_new_string("");
  return PlistPtr(p);
}

std::optional<Value> fromPlist(plist_t node, std::string* error) { return convert(node, 0, error); }

std::string writeXml(const Value& v) {
  PlistPtr p = toPlist(v);
  char* xml = nullptr;
  uint32_t n = 0;
  plist_to_xml(p.get(), &xml, &n);
  std::string s = xml ? std::string(xml, n) : std::string();
  if (xml) plist_to_xml_free(xml);
  return s;
}

}  // namespace pl
