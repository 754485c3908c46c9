// Fuzz target: the strict and the lenient number readers, with their round-trip invariants:
// whatever the strict reader takes is finite and reads back from its own "%.17g" text, and
// the lenient reader never reads past the text or disagrees with the strict one on a whole
// number text.
#include <cmath>
#include <cstdint>
#include <string_view>

#include "core/plist/number_text.h"

namespace {
void require(bool ok) {
  if (!ok) __builtin_trap();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto strict = pl::parseDecimal(text);
  if (strict) {
    require(std::isfinite(*strict));
    require(pl::parseDecimal(pl::formatG(*strict, 17)) == *strict);
    require(pl::parseDecimal(pl::formatShortest(*strict)) == *strict);
    require(pl::parseLeadingDecimal(text) == *strict);
  }
  if (auto lead = pl::parseLeadingNumber(text)) {
    require(lead->length > 0 && lead->length <= text.size());
    require(!std::isnan(lead->value));
  }
  if (pl::looksLikeDecimalComma(text)) require(!strict);
  (void)pl::parseIntegerText(text);
  (void)pl::parseBoolText(text);
  return 0;
}
