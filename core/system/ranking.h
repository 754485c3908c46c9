// The ranking of recommended settings: the request for one device model, the check of the
// service's answer (untrusted bytes) and the list the recommended-settings window shows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/plist/value.h"
#include "platform/api/system_info.h"

namespace vl {

// The ranking download waits this long for the service.
inline constexpr double kRankingTimeoutSeconds = 5.0;
// How many entries the service is asked for, and how many an answer may hold at most.
inline constexpr int kRankingCount = 20;
inline constexpr size_t kMaxRankingEntries = 100;
// An answer is a short property list; anything larger is refused before parsing.
inline constexpr size_t kMaxRankingAnswerBytes = 1024 * 1024;

// The rules an entry must keep.
inline constexpr double kMinRankingAcc = 0, kMaxRankingAcc = 20;
inline constexpr double kMinRankingSen = 5, kMaxRankingSen = 1990;

// One model as the service counts it (already normalised, or typed in search mode).
struct RankingIdentity {
  uint32_t vid = 0, pid = 0, mid = 0;
  std::string transport;
  bool operator==(const RankingIdentity&) const = default;
};

// The system-version range asked for: 10.12 and later, or everything before it.
struct RankingOsRange {
  int os0 = 0, os1 = 0;
};
RankingOsRange rankingOsRange(OsVersion running);

// "VID=%d&PID=%d&MID=%d&Tra=%@&OS0=%d&OS1=%d&Cnt=20", the transport percent-escaped.
std::string rankingQuery(const RankingIdentity& identity, RankingOsRange range);

// One row of the recommended list.
struct RecommendedEntry {
  int64_t ran = 0;  // rank 1, 2, 3 …; in search mode the entry's "Qty"
  pl::Value acc;    // the answer's own objects, for display
  pl::Value sen;
  int64_t rat = 0;  // rating 1 … 5
  double accValue() const { return acc.doubleValue(); }
  double senValue() const { return sen.doubleValue(); }
};

// How an answer came out; each outcome has its own window message.
enum class RankingOutcome {
  Listed,  // a list to show
  Empty,   // "Settings are not yet shared among other users."
  Wrong,   // "Data from the server is wrong."
};

struct RankingAnswer {
  RankingOutcome outcome = RankingOutcome::Wrong;
  std::vector<RecommendedEntry> list;  // only when Listed
  pl::Value total;                     // the last entry's "Tot" (null when it has none)
  std::string why;                     // for Wrong: what broke a rule (logs and the command line)
};

// Parses the bytes as a property list (any of its formats, with the readers' limits) and
// applies the answer's rules: a root array of at most 100 dictionaries, each with a numeric
// "Acc" 0…20 and "Sen" 5…1990 and a "Qty" above 0 and not above the first entry's. One broken
// rule discards the whole answer.
RankingAnswer checkRankingAnswer(std::span<const uint8_t> bytes, bool searchMode);
// The same on an already parsed value.
RankingAnswer checkRankingValue(const pl::Value& root, bool searchMode);

// "Qty" × 4 ÷ first "Qty" + 1 in integer arithmetic, for 0 < qty ≤ firstQty (1 … 5), without
// overflow for any such pair.
int64_t rankingRating(int64_t qty, int64_t firstQty);

// --- Search mode: identities typed by hand ------------------------------------------------------
// An ID field: read as a decimal integer (leading digits, as a text's intValue reads); when
// that gives 0, as hexadecimal ("c52b", "0xC52B"). Values beyond 32 bits saturate; a negative
// number or nothing readable gives 0.
uint32_t searchFieldValue(std::string_view text);
// The transport field: empty or "u" is "USB", "b" is "Bluetooth", anything else as typed.
std::string searchTransport(std::string_view text);

// The total as the window shows it: numbers in decimal (locale-free), strings as they are.
std::string rankingTotalText(const pl::Value& total);
// An entry's "Acc" or "Sen" for display ("%g").
std::string rankingNumberText(const pl::Value& number);

}  // namespace vl
