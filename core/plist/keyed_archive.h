// Keyed archives: a property-list value flattened into the platform's keyed-archiver layout
// ($objects table of shared objects referenced by UIDs) and read back from it.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "core/plist/value.h"

namespace pl {

// {"$version": 100000, "$archiver": "NSKeyedArchiver", "$top": {"root": UID 1},
// "$objects": ["$null", ...]}. Strings, numbers, booleans and data sit inline in $objects
// (equal strings once); dictionaries, arrays and dates are class-tagged objects whose class
// descriptions are written once and shared. Null is UID 0 ("$null"), wherever it stands;
// a Uid value is archived as its unsigned index.
Value archive(const Value& root);

// Reads that layout, also with the mutable class names (NSMutableDictionary, NSMutableArray,
// NSMutableString with "NS.string", NSMutableData with "NS.data"). Refuses, with a one-line
// *error: a wrong frame, UIDs out of range, objects that contain themselves, nesting deeper
// than kMaxDepth, unknown classes, wrong types, and shared objects that would expand beyond
// a fixed multiple of the archive's size.
[[nodiscard]] std::optional<Value> unarchive(const Value& archive, std::string* error);

// The archive as a binary property list, and back.
Data archivedData(const Value& root);
[[nodiscard]] std::optional<Value> unarchiveData(std::span<const uint8_t> bytes, std::string* error);

}  // namespace pl
