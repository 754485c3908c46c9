// Conversion between pl::Value and libplist's node trees (plist_t), both ways.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include <plist/plist.h>

#include "core/plist/value.h"

namespace pl {

struct PlistFree {
  void operator()(void* p) const {
    if (p) plist_free(p);
  }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

// Builds a node tree. Null has no property-list form: it is left out of dictionaries and
// arrays, and a null root becomes an empty string. Unsigned integers above INT64_MAX and
// dates outside libplist's 32-bit seconds are built so that libplist writes them exactly.
PlistPtr toPlist(const Value& v);

// Reads a node tree; refuses nesting deeper than kMaxDepth and unknown node types.
[[nodiscard]] std::optional<Value> fromPlist(plist_t node, std::string* error);

}  // namespace pl
