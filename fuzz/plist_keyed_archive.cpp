// Fuzz target: the keyed unarchiver on whatever the binary reader accepts; what it accepts
// must archive and unarchive to the same value.
#include "core/plist/keyed_archive.h"
#include "fuzz/plist_fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pl::ReadResult r = pl::readBinary({data, size});
  if (!r) return 0;
  std::string error;
  auto v = pl::unarchive(*r.value, &error);
  if (!v) {
    if (error.empty() || error.find('\n') != std::string::npos) plfuzz::broken("bad unarchive error text", error);
    return 0;
  }
  auto back = pl::unarchiveData(pl::archivedData(*v), &error);
  if (!back) plfuzz::broken("archive of an unarchived value unreadable", error);
  if (!plfuzz::same(*v, *back, false)) plfuzz::broken("keyed-archive round trip changed the value", v->describe().substr(0, 200));
  return 0;
}
