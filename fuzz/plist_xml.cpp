// Fuzz target: the XML property-list reader, and the writers on whatever it accepts.
#include "fuzz/plist_fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pl::ReadResult r = pl::readXml({data, size});
  plfuzz::checkError(r);
  if (!r) return 0;
  plfuzz::checkBinaryRoundTrip(*r.value);
  std::string xml = pl::writeXml(*r.value);
  pl::ReadResult back = pl::readXml({reinterpret_cast<const uint8_t*>(xml.data()), xml.size()});
  if (!back) plfuzz::broken("XML writer output unreadable", back.error);
  if (!plfuzz::same(*r.value, *back.value, true)) plfuzz::broken("XML round trip changed the value", r.value->describe().substr(0, 200));
  return 0;
}
