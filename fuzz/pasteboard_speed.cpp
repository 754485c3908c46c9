// Fuzz target: reading a favourite's speed from pasteboard text another program put there, and
// the copied text's round trip whatever the device's name.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/plist/number_text.h"
#include "pane/editing/favorite_table.h"

namespace {

[[noreturn]] void broken(const char* what, std::string_view detail) {
  std::fprintf(stderr, "pasteboard_speed: %s: %.*s\n", what, static_cast<int>(detail.size() > 300 ? 300 : detail.size()),
               detail.data());
  std::abort();
}

// A value taken from the pasteboard is a number the store can read back, within its range.
void checkTaken(const std::optional<std::string>& text, double lo, double hi) {
  if (!text) return;
  std::optional<double> v = pl::parseDecimal(*text);
  if (!v || !(*v >= lo && *v <= hi)) broken("taken value out of range or unreadable", *text);
  if (pl::formatG(*v) != *text) broken("taken value not in stored form", *text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  vl::PastedSpeed p = vl::readSpeedFromPasteboardText(input);
  checkTaken(p.sensitivity, vl::kPasteSensitivityMin, vl::kPasteSensitivityMax);
  checkTaken(p.tracking, vl::kPasteTrackingMin, vl::kPasteTrackingMax);

  // The input's first bytes as a device name: what is copied must read back unchanged.
  std::string name(input.substr(0, 80));
  std::string copied = vl::speedPasteboardText(name, p.sensitivity.value_or("1600"), p.tracking.value_or("0.6875"));
  vl::PastedSpeed back = vl::readSpeedFromPasteboardText(copied);
  if (back.sensitivity != p.sensitivity.value_or("1600") || back.tracking != p.tracking.value_or("0.6875"))
    broken("copied text does not read back", copied);
  return 0;
}
