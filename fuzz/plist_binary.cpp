// Fuzz target: the binary property-list reader, and the writer on whatever it accepts.
#include "fuzz/plist_fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pl::ReadResult r = pl::readBinary({data, size});
  plfuzz::checkError(r);
  if (!r) return 0;
  plfuzz::checkBinaryRoundTrip(*r.value);
  return 0;
}
