// A HID report descriptor read into what the registry and the hidraw adapter need: the
// top-level usage pairs, one element per main item (with the element types the HID family
// uses) and the size of each input report, so a stream of reports can be cut apart.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "core/plist/value.h"

namespace vl::linux_ {

// Element types as the HID family numbers them.
inline constexpr int kElementInputMisc = 1;
inline constexpr int kElementInputButton = 2;
inline constexpr int kElementOutput = 129;
inline constexpr int kElementFeature = 257;
inline constexpr int kElementCollection = 513;

struct HidReportDescriptor {
  struct UsagePair {
    uint32_t page = 0, usage = 0;
  };
  struct Element {
    uint32_t cookie = 0;
    int type = 0;
    uint32_t usagePage = 0, usage = 0;
    uint32_t reportID = 0;
    uint32_t reportSize = 0, reportCount = 0;
  };
  std::vector<UsagePair> applications;   // top-level application collections, in order
  std::vector<Element> elements;          // collections and main items, in order
  std::map<uint32_t, uint32_t> inputBits;  // report id -> bits of its input report (without the id)
  bool usesReportIDs = false;

  // Bytes of an input report with this id, the id byte included; 0 when unknown.
  size_t inputReportLength(uint32_t reportID) const;
  // The element dictionary as the HID family shows it ("ElementCookie", "Type", ...).
  static pl::Dict elementDict(const Element& e);
};

// Reads a descriptor; malformed or truncated items end the parse with what was read so far
// (the bytes come from a device, so nothing in them is trusted).
HidReportDescriptor parseReportDescriptor(const std::vector<uint8_t>& bytes);

}  // namespace vl::linux_
