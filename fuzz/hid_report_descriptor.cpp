// Fuzzes the HID report-descriptor reader (the bytes come from a device): no crash, and every
// element it reports lies within what the descriptor could describe.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/linux/hid_report_descriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  auto d = vl::linux_::parseReportDescriptor(bytes);
  // At most one element per item, and an item takes at least one byte.
  if (d.elements.size() > size) std::abort();
  for (const auto& e : d.elements)
    if (e.reportID > 0xFF) std::abort();
  for (const auto& [id, bits] : d.inputBits) {
    (void)bits;
    if (d.inputReportLength(id) == 0 && bits != 0) std::abort();
  }
  return 0;
}
