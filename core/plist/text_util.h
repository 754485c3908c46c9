// Helpers shared by the property-list codecs: UTF-8/UTF-16, base64, calendar dates and
// number texts. Internal to core/plist.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/plist/value.h"

namespace pl::detail {

// Appends the UTF-8 form of a code point; surrogates and values above U+10FFFF become U+FFFD.
void appendUtf8(std::string& out, uint32_t cp);

// Byte offset of the first invalid UTF-8 sequence (overlong forms, surrogates and values
// above U+10FFFF are invalid), or npos when the text is valid.
size_t invalidUtf8At(std::string_view s);

// UTF-8 (assumed valid) to UTF-16 code units.
std::u16string utf8ToUtf16(std::string_view s);
// UTF-16 code units to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string utf16ToUtf8(const char16_t* units, size_t n);

std::string base64Encode(const uint8_t* p, size_t n, size_t lineLength);
// Whitespace is skipped; any other non-alphabet byte, or a bad length or padding, fails.
std::optional<Data> base64Decode(std::string_view s);

// "YYYY-MM-DDTHH:MM:SSZ" <-> seconds since 2001-01-01 00:00:00 UTC (whole seconds).
std::string isoDate(double secondsSince2001);
std::optional<double> parseIsoDate(std::string_view s);
// "YYYY-MM-DD HH:MM:SS +0000": the platform's description form of a date.
std::string describeDate(double secondsSince2001);

// Shortest text that reads back as the same double ("nan", "inf", "-inf" for the specials).
std::string formatReal(double d);
// Whole-text parse of a decimal real (also nan / inf / infinity, any case, with a sign).
std::optional<double> parseReal(std::string_view s);
// Whole-text parse of a decimal or 0x-hex integer with optional sign; values above
// INT64_MAX come back unsigned, values below INT64_MIN fail.
std::optional<Integer> parseInteger(std::string_view s);
std::string formatInteger(const Integer& i);

// Input text shown inside a one-line error message: at most `max` bytes (cut on a character
// boundary, "..." added), control characters as '?'.
std::string excerpt(std::string_view s, size_t max = 40);

// A byte of input shown in an error message: printable ASCII as 'c', others as 0xNN.
std::string showByte(uint8_t c);

// What the text readers share: the input, the position, and the first error with its line.
// A recorded error wins even if a step went on, so nothing half-read is handed out.
class TextReaderBase {
 protected:
  TextReaderBase(std::string_view s, const char* kind) : s_(s), kind_(kind), budget_(expansionBudget(s.size())) {}

  // Memory the values built may take, a fixed part plus a multiple of the input: compact text
  // such as "(a,a,a,...)" or "{a=b;a1=b;...}" builds a value of sixty-odd bytes for every two
  // or three input bytes, so without a bound the cost is set by the text's shape, not its size.
  // Real documents (device records, strings tables) cost two to six times their text.
  static size_t expansionBudget(size_t inputBytes) { return 16u * 1024 * 1024 + 8 * inputBytes; }
  // Charges bytes of values built; false with an error when the budget is spent.
  bool charge(size_t bytes, size_t at) {
    if (bytes > budget_) {
      failedAt(at, "values expand beyond " + std::to_string(expansionBudget(s_.size())) + " bytes");
      return false;
    }
    budget_ -= bytes;
    return true;
  }
  // A value's own slot; a string's or data's bytes beyond it; a dictionary entry's key and the
  // tree node holding key and value.
  static constexpr size_t kValueCost = sizeof(Value);
  static size_t payloadCost(size_t bytes) { return bytes > 15 ? bytes : 0; }
  static size_t entryCost(size_t keyBytes) { return payloadCost(keyBytes) + 64; }
  // Appends to an array, charging the empty slots a growing array reserves.
  bool append(Array& a, Value&& v) {
    size_t before = a.capacity();
    a.push_back(std::move(v));
    return a.capacity() == before || charge((a.capacity() - a.size()) * sizeof(Value), pos_);
  }

  std::optional<Value> finish(std::optional<Value> v, std::string* error) {
    if (!v || !error_.empty()) {
      *error = error_.empty() ? "malformed property list" : error_;
      return std::nullopt;
    }
    return v;
  }
  std::optional<Value> fail(const std::string& msg) { return failAt(pos_, msg); }
  std::optional<Value> failAt(size_t at, const std::string& msg) {
    if (error_.empty()) {
      size_t line = 1;
      for (size_t i = 0; i < at && i < s_.size(); ++i) line += s_[i] == '\n';
      error_ = std::string(kind_) + " property list, line " + std::to_string(line) + ": " + msg;
    }
    return std::nullopt;
  }
  // For the bool-returning steps: record the error and report failure.
  bool failed(const std::string& msg) { return failedAt(pos_, msg); }
  bool failedAt(size_t at, const std::string& msg) {
    failAt(at, msg);
    return false;
  }
  bool eof() const { return pos_ >= s_.size(); }

  std::string_view s_;
  size_t pos_ = 0;
  std::string error_;

 private:
  const char* kind_;
  size_t budget_;
};

}  // namespace pl::detail
