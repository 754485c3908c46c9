// Fuzz target: the ranking answer from the web service. Besides not crashing, an accepted
// answer must obey every rule the window relies on, and the check must agree with itself.
#include <string>

#include "core/system/ranking.h"
#include "fuzz/plist_fuzz_check.h"

namespace {

void checkAccepted(const vl::RankingAnswer& a, bool searchMode) {
  using vl::RankingOutcome;
  if (a.outcome != RankingOutcome::Listed) {
    if (!a.list.empty()) plfuzz::broken("a list with a refused answer", a.why);
    if (a.outcome == RankingOutcome::Wrong && a.why.empty()) plfuzz::broken("refused without a reason", "");
    return;
  }
  if (a.list.empty() || a.list.size() > vl::kMaxRankingEntries) plfuzz::broken("list size", std::to_string(a.list.size()));
  for (size_t i = 0; i < a.list.size(); ++i) {
    const vl::RecommendedEntry& e = a.list[i];
    double acc = e.accValue(), sen = e.senValue();
    if (!(acc >= 0 && acc <= 20)) plfuzz::broken("Acc outside 0..20", e.acc.describe());
    if (!(sen >= 5 && sen <= 1990)) plfuzz::broken("Sen outside 5..1990", e.sen.describe());
    if (e.rat < 1 || e.rat > 5) plfuzz::broken("Rat outside 1..5", std::to_string(e.rat));
    if (i == 0 && e.rat != 5) plfuzz::broken("the first entry is not rated 5", std::to_string(e.rat));
    if (!searchMode && e.ran != static_cast<int64_t>(i + 1)) plfuzz::broken("rank out of order", std::to_string(e.ran));
    if (searchMode && (e.ran <= 0 || e.ran > a.list[0].ran)) plfuzz::broken("search rank is no valid Qty", std::to_string(e.ran));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vl::RankingAnswer normal = vl::checkRankingAnswer({data, size}, false);
  vl::RankingAnswer search = vl::checkRankingAnswer({data, size}, true);
  checkAccepted(normal, false);
  checkAccepted(search, true);
  // Search mode changes the ranks only, never what is accepted.
  if (normal.outcome != search.outcome || normal.list.size() != search.list.size())
    plfuzz::broken("search mode changed the verdict", normal.why + " / " + search.why);
  for (size_t i = 0; i < normal.list.size(); ++i)
    if (normal.list[i].rat != search.list[i].rat) plfuzz::broken("search mode changed a rating", std::to_string(i));
  // An accepted answer written out again is accepted again, with the same list.
  if (normal.outcome == vl::RankingOutcome::Listed) {
    pl::ReadResult r = pl::read(std::span<const uint8_t>(data, size));
    if (!r) plfuzz::broken("accepted bytes do not parse", r.error);
    pl::Data again = pl::writeBinary(*r.value);
    vl::RankingAnswer back = vl::checkRankingAnswer(again, false);
    if (back.outcome != normal.outcome || back.list.size() != normal.list.size())
      plfuzz::broken("binary form of an accepted answer refused", back.why);
    for (size_t i = 0; i < back.list.size(); ++i)
      if (back.list[i].rat != normal.list[i].rat || !plfuzz::same(back.list[i].acc, normal.list[i].acc, false) ||
          !plfuzz::same(back.list[i].sen, normal.list[i].sen, false))
        plfuzz::broken("binary form of an accepted answer changed an entry", std::to_string(i));
  }
  return 0;
}
