// The built-in default acceleration data, kept as property-list text and parsed on first use.
#include "pane/curves/default_curves.h"

#include <optional>
#include <string_view>

#include "core/plist/codec.h"

namespace vl {

namespace {
// OpenStep data text: mid level 0.5, four carried bytes, two curves (level 0 with the point
// (1, 1); level 1 with nine points).
constexpr std::string_view kDefaultTableText =
    "<00008000 40323030 00020000 00000001 00010000 00010000 00010000 00090000 713b0000 60000004 "
    "4ec50010 8000000c 0000005f 00000016 ec4f008b 0000001d 3b140094 80000022 76270096 00000024 "
    "62760096 00000026 00000096 00000028 00000096 0000>";

// A binary property list (673 bytes): ten curve dictionaries at the indexes 0 to 3.
constexpr std::string_view kDefaultCurvesHex =
    "62706c6973743030aa0108121920272d343b42d30203040506075d484944416363656c496e6465785f10124849444163"
    "63656c4761696e4c696e6561725f101a484944416363656c54616e67656e7453706565644c696e656172100012000100"
    "001200080000d60203090a040b0c0d0e0f10115f1015484944416363656c4761696e50617261626f6c69635f10114849"
    "44416363656c4761696e43756269635f1021484944416363656c54616e67656e74537065656450617261626f6c696352"
    "6f6f7411200011eb8511666611147b12000833331200130000d60203090a040b13141516171811800011ee14118ccd11"
    "199a1200084ccd1200120000d60203090a040b1a1b1c1d1e1f11b00011f0a411b5c3111eb812000866661200110000d6"
    "0203090a040b21222324252611e00011f33311e14811266612000880001200100000d60203090a040b0628292a2b2c11"
    "f5c31200010f5c112e14120008999a12000f0000d60203090a040b2e2f30313233120001800011f85212000140001138"
    "52120008b33312000e0000d60203090a040b35363738393a120002000011fae1120001733311451f120008cccd12000d"
    "0000d60203090a040b3c3d3e3f4041120002800011fd71120001a8f611547b120008e66612000c0000d60203090a040b"
    "4306440e45411200030000120001e148120009000000080013001a0028003d005a005c006100660073008b009f00c300"
    "c600c900cc00cf00d400d900e600e900ec00ef00f200f700fc0109010c010f01120115011a011f012c012f0132013501"
    "38013d0142014f01520157015a015f0164017101760179017e01810186018b0198019d01a001a501a801ad01b201bf01"
    "c401c701cc01cf01d401d901e601eb01f000000000000002010000000000000046000000000000000000000000000001"
    "f5";

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<pl::Data> parseTable() {
  auto r = pl::readOpenStep(kDefaultTableText);
  if (!r || !r.value->isData()) return std::nullopt;
  return *r.value->asData();
}

std::optional<pl::Value> parseCurves() {
  pl::Data bytes;
  bytes.reserve(kDefaultCurvesHex.size() / 2);
  for (size_t i = 0; i + 1 < kDefaultCurvesHex.size(); i += 2)
    bytes.push_back(static_cast<uint8_t>(hexDigit(kDefaultCurvesHex[i]) * 16 + hexDigit(kDefaultCurvesHex[i + 1])));
  auto r = pl::readBinary(bytes);
  if (!r || !r.value->isArray()) return std::nullopt;
  return std::move(*r.value);
}
}  // namespace

const pl::Data* defaultAcclTable() {
  static const std::optional<pl::Data> table = parseTable();
  return table ? &*table : nullptr;
}

const pl::Value* defaultAcclCurves() {
  static const std::optional<pl::Value> curves = parseCurves();
  return curves ? &*curves : nullptr;
}

}  // namespace vl
