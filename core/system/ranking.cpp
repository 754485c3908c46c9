// The ranking request, the answer check and the search-mode field readings.
#include "core/system/ranking.h"

#include <cmath>
#include <limits>

#include "core/plist/ascii_text.h"
#include "core/plist/codec.h"
#include "core/plist/number_text.h"
#include "core/system/versions.h"

namespace vl {

RankingOsRange rankingOsRange(OsVersion running) {
  // Settings made before 10.12 came from a different acceleration, so the two eras are apart.
  bool sierraOrLater = running.major > 10 || (running.major == 10 && running.minor >= 12);
  return sierraOrLater ? RankingOsRange{101200, 0} : RankingOsRange{0, 101199};
}

std::string rankingQuery(const RankingIdentity& id, RankingOsRange range) {
  return "VID=" + std::to_string(id.vid) + "&PID=" + std::to_string(id.pid) + "&MID=" + std::to_string(id.mid) +
         "&Tra=" + QS812addingPercentEscapes(id.transport) + "&OS0=" + std::to_string(range.os0) +
         "&OS1=" + std::to_string(range.os1) + "&Cnt=" + std::to_string(kRankingCount);
}

int64_t rankingRating(int64_t qty, int64_t firstQty) {
  if (firstQty <= 0 || qty <= 0) return 1;
  // qty × 4 can pass 64 bits for counts near the top of the range.
  __int128 r = static_cast<__int128>(qty) * 4 / firstQty + 1;
  return static_cast<int64_t>(r);
}

namespace {

RankingAnswer wrong(std::string why) {
  RankingAnswer a;
  a.outcome = RankingOutcome::Wrong;
  a.why = std::move(why);
  return a;
}

// A number inside [lo, hi]; NaN and the infinities fail every comparison here on purpose.
bool numberWithin(const pl::Value* v, double lo, double hi) {
  if (!v || !v->isNumber()) return false;
  double d = v->doubleValue();
  return d >= lo && d <= hi;
}

std::optional<int64_t> quantity(const pl::Value* v) {
  if (!v || !v->isNumber()) return std::nullopt;
  if (v->isReal()) {
    double d = v->doubleValue();
    if (!std::isfinite(d)) return std::nullopt;
    if (d >= 9.2e18) return std::numeric_limits<int64_t>::max();
    if (d <= -9.2e18) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(d);
  }
  return v->longLongValue();
}

}  // namespace

RankingAnswer checkRankingValue(const pl::Value& root, bool searchMode) {
  const pl::Array* entries = root.asArray();
  if (!entries) return wrong("the answer is not an array");
  if (entries->size() > kMaxRankingEntries) return wrong("more than 100 entries");
  if (entries->empty()) {
    RankingAnswer a;
    a.outcome = RankingOutcome::Empty;
    return a;
  }
  RankingAnswer a;
  a.outcome = RankingOutcome::Listed;
  a.list.reserve(entries->size());
  int64_t firstQty = 0;
  for (size_t i = 0; i < entries->size(); ++i) {
    const pl::Value& e = (*entries)[i];
    std::string at = "entry " + std::to_string(i + 1) + ": ";
    if (!e.isDict()) return wrong(at + "not a dictionary");
    const pl::Value* acc = e.find("Acc");
    const pl::Value* sen = e.find("Sen");
    if (!numberWithin(acc, kMinRankingAcc, kMaxRankingAcc)) return wrong(at + "\"Acc\" missing or outside 0 to 20");
    if (!numberWithin(sen, kMinRankingSen, kMaxRankingSen)) return wrong(at + "\"Sen\" missing or outside 5 to 1990");
    std::optional<int64_t> qty = quantity(e.find("Qty"));
    if (!qty || *qty <= 0) return wrong(at + "\"Qty\" missing or not above 0");
    if (i == 0) firstQty = *qty;
    if (*qty > firstQty) return wrong(at + "\"Qty\" above the first entry's");
    RecommendedEntry r;
    r.ran = searchMode ? *qty : static_cast<int64_t>(i + 1);
    r.acc = *acc;
    r.sen = *sen;
    r.rat = rankingRating(*qty, firstQty);
    a.list.push_back(std::move(r));
  }
  if (const pl::Value* tot = entries->back().find("Tot")) a.total = *tot;
  return a;
}

RankingAnswer checkRankingAnswer(std::span<const uint8_t> bytes, bool searchMode) {
  if (bytes.size() > kMaxRankingAnswerBytes) return wrong("the answer is too large");
  pl::ReadResult r = pl::read(bytes);
  if (!r) return wrong("not a property list: " + r.error);
  return checkRankingValue(*r.value, searchMode);
}

// --- Search mode ---------------------------------------------------------------------------------

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

constexpr uint64_t kU32Max = std::numeric_limits<uint32_t>::max();

// Leading decimal digits after white space and an optional sign; saturates. Negative: 0.
uint32_t leadingDecimal(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && isSpace(s[i])) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  uint64_t v = 0;
  bool any = false;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    any = true;
    v = v * 10 + static_cast<uint64_t>(s[i] - '0');
    if (v > kU32Max) v = kU32Max + 1;  // keep saturating without overflow
  }
  if (!any || negative) return 0;
  return static_cast<uint32_t>(v > kU32Max ? kU32Max : v);
}

int hexDigit(char c) { return pl::hexDigitValue(c); }

// White space, an optional "0x", hexadecimal digits; saturates.
uint32_t leadingHex(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && isSpace(s[i])) ++i;
  if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X') && i + 2 < s.size() &&
      hexDigit(s[i + 2]) >= 0)
    i += 2;
  uint64_t v = 0;
  for (; i < s.size() && hexDigit(s[i]) >= 0; ++i) {
    v = v * 16 + static_cast<uint64_t>(hexDigit(s[i]));
    if (v > kU32Max) v = kU32Max + 1;
  }
  return static_cast<uint32_t>(v > kU32Max ? kU32Max : v);
}

}  // namespace

uint32_t searchFieldValue(std::string_view text) {
  uint32_t v = leadingDecimal(text);
  if (v != 0) return v;
  // A leading minus is no hexadecimal number either.
  size_t i = 0;
  while (i < text.size() && isSpace(text[i])) ++i;
  if (i < text.size() && text[i] == '-') return 0;
  return leadingHex(text);
}

std::string searchTransport(std::string_view text) {
  if (text.empty() || text == "u") return "USB";
  if (text == "b") return "Bluetooth";
  return std::string(text);
}

std::string rankingNumberText(const pl::Value& number) {
  if (number.isInteger()) return number.describe();
  if (number.isNumber()) return pl::formatG(number.doubleValue());
  return number.describe();
}

std::string rankingTotalText(const pl::Value& total) {
  if (total.isNull()) return "";
  if (total.isBool()) return total.boolValue() ? "1" : "0";
  return rankingNumberText(total);
}

}  // namespace vl
