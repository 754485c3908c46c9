// Localized patterns for the records' texts, filled safely: a translated pattern is used only
// when its conversions match the English one, so a strings file can never make the formatting
// read arguments that are not there.
#pragma once

#include <string>
#include <vector>

#include "platform/api/platform.h"

namespace vl {

inline constexpr const char* kTableVl = "vl";
inline constexpr const char* kTableDvvl = "dvvl";

// One argument of a pattern: text for %@ and %s, a number for the numeric conversions.
struct FormatArg {
  enum class Kind { Text, Integer, Real } kind;
  std::string text;
  long long integer = 0;
  double real = 0;
  FormatArg(std::string t) : kind(Kind::Text), text(std::move(t)) {}
  FormatArg(const char* t) : kind(Kind::Text), text(t) {}
  FormatArg(long long i) : kind(Kind::Integer), integer(i) {}
  FormatArg(int i) : kind(Kind::Integer), integer(i) {}
  FormatArg(unsigned u) : kind(Kind::Integer), integer(u) {}
  FormatArg(double d) : kind(Kind::Real), real(d) {}
};

// Fills a printf-style pattern (%@, %s, %d, %x, %X, %g, %f with flags, width and precision,
// and %%). Conversions without a matching argument are left out.
std::string formatPattern(const std::string& pattern, const std::vector<FormatArg>& args);
// The localized pattern of key in table, filled with args.
std::string localizedFormat(const Platform& p, const std::string& key, const char* table, const std::vector<FormatArg>& args);
// The same from the two ports it reads: the resources folder (paths) and the languages (system).
std::string localizedFormat(Paths* paths, SystemInfo* system, const std::string& key, const char* table,
                            const std::vector<FormatArg>& args);

}  // namespace vl
