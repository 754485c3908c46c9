// Fuzz target: the OpenStep text reader (and .strings tables), and its writer.
#include "fuzz/plist_fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pl::ReadResult r = pl::readOpenStep({reinterpret_cast<const char*>(data), size});
  plfuzz::checkError(r);
  if (!r) return 0;
  plfuzz::checkBinaryRoundTrip(*r.value);
  std::string text = pl::writeOpenStep(*r.value);
  pl::ReadResult back = pl::readOpenStep(text);
  if (!back) plfuzz::broken("OpenStep writer output unreadable", back.error + "\n" + text.substr(0, 300));
  if (!(*back.value == *r.value)) plfuzz::broken("OpenStep round trip changed the value", text.substr(0, 300));
  // Detection by content must pick a reader that accepts what this one wrote.
  if (!pl::read(text)) plfuzz::broken("format detection misread OpenStep text", text.substr(0, 300));
  return 0;
}
