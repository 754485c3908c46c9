// Reading HID report descriptors (short items; long items are skipped).
#include "platform/linux/hid_report_descriptor.h"

namespace vl::linux_ {

size_t HidReportDescriptor::inputReportLength(uint32_t reportID) const {
  auto it = inputBits.find(reportID);
  if (it == inputBits.end()) return 0;
  return (it->second + 7) / 8 + (usesReportIDs ? 1 : 0);
}

pl::Dict HidReportDescriptor::elementDict(const Element& e) {
  return pl::Dict{{"ElementCookie", static_cast<long long>(e.cookie)},
                  {"Type", e.type},
                  {"UsagePage", static_cast<long long>(e.usagePage)},
                  {"Usage", static_cast<long long>(e.usage)},
                  {"ReportID", static_cast<long long>(e.reportID)},
                  {"ReportSize", static_cast<long long>(e.reportSize)},
                  {"ReportCount", static_cast<long long>(e.reportCount)}};
}

HidReportDescriptor parseReportDescriptor(const std::vector<uint8_t>& bytes) {
  HidReportDescriptor d;
  struct Globals {
    uint32_t usagePage = 0, reportID = 0, reportSize = 0, reportCount = 0;
  };
  Globals g;
  std::vector<Globals> stack;
  std::vector<uint32_t> usages;  // local usages (extended to 32 bits with the page)
  uint32_t usageMin = 0;
  bool haveMin = false;
  int depth = 0;
  uint32_t cookie = 1;
  size_t i = 0;
  auto firstUsage = [&](uint32_t& page, uint32_t& usage) {
    uint32_t u = !usages.empty() ? usages.front() : (haveMin ? usageMin : 0);
    page = (u >> 16) ? (u >> 16) : g.usagePage;
    usage = u & 0xFFFF;
  };
  while (i < bytes.size()) {
    uint8_t prefix = bytes[i];
    if (prefix == 0xFE) {  // long item: size in the next byte
      if (i + 1 >= bytes.size()) break;
      i += 3 + bytes[i + 1];
      continue;
    }
    size_t size = prefix & 3;
    if (size == 3) size = 4;
    if (i + 1 + size > bytes.size()) break;
    uint32_t value = 0;
    for (size_t k = 0; k < size; ++k) value |= static_cast<uint32_t>(bytes[i + 1 + k]) << (8 * k);
    int type = (prefix >> 2) & 3;
    int tag = prefix >> 4;
    i += 1 + size;
    if (type == 0) {  // main
      if (tag == 0x8 || tag == 0x9 || tag == 0xB) {  // input, output, feature
        HidReportDescriptor::Element e;
        e.cookie = cookie++;
        bool array = (value & 0x2) == 0;
        if (tag == 0x8) e.type = (array || g.usagePage == 0x09) ? kElementInputButton : kElementInputMisc;
        else e.type = tag == 0x9 ? kElementOutput : kElementFeature;
        firstUsage(e.usagePage, e.usage);
        e.reportID = g.reportID;
        e.reportSize = g.reportSize;
        e.reportCount = g.reportCount;
        if (tag == 0x8) d.inputBits[g.reportID] += g.reportSize * g.reportCount;
        d.elements.push_back(e);
      } else if (tag == 0xA) {  // collection
        HidReportDescriptor::Element e;
        e.cookie = cookie++;
        e.type = kElementCollection;
        firstUsage(e.usagePage, e.usage);
        e.reportID = g.reportID;
        if (depth == 0 && value == 1) d.applications.push_back({e.usagePage, e.usage});
        d.elements.push_back(e);
        ++depth;
      } else if (tag == 0xC) {  // end collection
        if (depth > 0) --depth;
      }
      usages.clear();
      haveMin = false;
    } else if (type == 1) {  // global
      switch (tag) {
        case 0x0: g.usagePage = value; break;
        case 0x7: g.reportSize = value; break;
        case 0x8:
          g.reportID = value & 0xFF;
          d.usesReportIDs = true;
          break;
        case 0x9: g.reportCount = value; break;
        case 0xA: stack.push_back(g); break;
        case 0xB:
          if (!stack.empty()) {
            g = stack.back();
            stack.pop_back();
          }
          break;
        default: break;
      }
      // A report larger than any device sends is a corrupt descriptor: stop reading it.
      if (static_cast<uint64_t>(g.reportSize) * g.reportCount > (1u << 20)) break;
    } else if (type == 2) {  // local
      if (tag == 0x0) {
        if (usages.size() < 1024) usages.push_back(size == 4 ? value : (value & 0xFFFF));
      } else if (tag == 0x1) {
        usageMin = size == 4 ? value : (value & 0xFFFF);
        haveMin = true;
      }
    }
  }
  return d;
}

}  // namespace vl::linux_
