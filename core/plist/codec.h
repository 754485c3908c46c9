// Property-list codecs: XML, binary and OpenStep text, each read and written; malformed input
// of any size or shape yields a one-line error, never a crash. XML is written by libplist
// (libplist_bridge.h); the readers and the binary writer are our own, because libplist 2.2
// overflows its stack on deep nesting, reports no error positions and cannot express
// unsigned 64-bit integers or wide dates through its API.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/plist/value.h"

namespace pl {

enum class Format { Xml, Binary, OpenStep };

// Inputs larger than this are refused before parsing, and nesting deeper than
// kMaxDepth is refused while parsing, so no input can make memory or the stack unbounded.
inline constexpr size_t kMaxInputBytes = 64u * 1024 * 1024;
inline constexpr int kMaxDepth = 256;

struct ReadResult {
  std::optional<Value> value;  // empty on failure
  std::string error;           // one line saying what is wrong, empty on success
  Format format = Format::Xml;
  explicit operator bool() const { return value.has_value(); }
};

ReadResult readXml(std::span<const uint8_t> bytes);
ReadResult readBinary(std::span<const uint8_t> bytes);
ReadResult readOpenStep(std::string_view text);
// Picks the format by content: "bplist00" magic, an XML prolog or <plist>, else OpenStep.
ReadResult read(std::span<const uint8_t> bytes);
inline ReadResult read(std::string_view text) {
  return read(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

// Null has no property-list form: writers leave it out of dictionaries and arrays (binary
// keeps it as its null object); a null root is written as an empty string.
std::string writeXml(const Value& v);
Data writeBinary(const Value& v);
// OpenStep text has no booleans, numbers or dates of its own: they are written as strings
// (booleans "YES"/"NO"), as the platform's own OpenStep writer does with its extensions.
std::string writeOpenStep(const Value& v);
Data write(const Value& v, Format f);

// Whole files. readFile reads regular files only, without blocking, and refuses files over
// kMaxInputFileBytes (file_input.h); writeFileAtomic writes a temporary
// file beside the target and renames it over, so a crash leaves the old file or the new one.
ReadResult readFile(const std::string& path);
[[nodiscard]] bool writeFileAtomic(const std::string& path, std::span<const uint8_t> bytes, std::string* error);
// The same, also giving the failing call's errno (callers that map it to a platform error).
[[nodiscard]] bool writeFileAtomic(const std::string& path, std::span<const uint8_t> bytes, std::string* error,
                     int* errorNumber);

}  // namespace pl
