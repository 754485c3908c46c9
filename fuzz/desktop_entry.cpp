// Fuzz target: the desktop-entry reader. Whatever it accepts has a type and a name, is an
// application only with something to run, and reads the same a second time.
#include <cstdint>
#include <string_view>

#include "core/system/desktop_entry.h"

namespace {
void require(bool ok) {
  if (!ok) __builtin_trap();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::string error;
  auto e = vl::parseDesktopEntry(bytes, &error);
  if (!e) {
    require(!error.empty());
    return 0;
  }
  require(size <= vl::kMaxDesktopEntryBytes);
  require(!e->type.empty() && !e->name.empty());
  auto again = vl::parseDesktopEntry(bytes);
  require(again && again->name == e->name && again->exec == e->exec && again->icon == e->icon);
  return 0;
}
