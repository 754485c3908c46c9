// The load tool's data: every seeded row acceptable to the storage, no (machine, model) twice so
// a seed of N rows stores N, popularity skewed as real devices are, requests the service parses.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "tools/service/load/workload.h"
#include "tools/service/requests.h"
#include "tools/service/storage.h"

namespace {

TEST(LoadWorkload, SeededRowsAreValidDistinctAndSkewedLikeRealDevices) {
  load::Workload w(1);
  constexpr int kRows = 20000;
  std::set<std::tuple<uint32_t, uint32_t, uint32_t, std::string, std::string>> keys;
  std::map<int64_t, int> accs;
  std::map<uint32_t, int> byPid;
  for (int i = 0; i < kRows; ++i) {
    svc::UploadRow r = w.seedRow(i);
    ASSERT_EQ(svc::checkUploadRow(r), "") << "row " << i;
    ASSERT_EQ(r.accMillionths % 62500, 0) << "tracking speeds lie on the 0.0625 grid";
    keys.emplace(r.model.vid, r.model.pid, r.model.mid, r.model.transport, r.machine);
    ++accs[r.accMillionths];
    ++byPid[r.model.pid];
  }
  EXPECT_EQ(keys.size(), static_cast<size_t>(kRows));
  // Deterministic: the same row whoever asks and when.
  EXPECT_EQ(load::Workload(9).seedRow(123).machine, w.seedRow(123).machine);
  // The most popular model far ahead of the median one, and many models present.
  std::vector<int> counts;
  for (auto& [pid, n] : byPid) counts.push_back(n);
  std::sort(counts.rbegin(), counts.rend());
  EXPECT_GT(counts.size(), 200u);
  EXPECT_GT(counts.front(), 20 * counts[counts.size() / 2]);
  // Settings spread over many values, so rankings have many groups.
  EXPECT_GT(accs.size(), 20u);
}

TEST(LoadWorkload, RequestsAreOnesTheServiceAccepts) {
  load::Workload w(5);
  std::set<std::string> machines;
  for (int i = 0; i < 200; ++i) {
    std::string path = w.uploadPath(i);
    svc::QueryFields q;
    vl::Status parsed = svc::parseQuery(path.substr(path.find('?') + 1), &q);
    ASSERT_TRUE(parsed) << parsed.detail() << ": " << path;
    svc::UploadRow row;
    parsed = svc::parseUpload(q, &row);
    ASSERT_TRUE(parsed) << parsed.detail() << ": " << path;
    EXPECT_EQ(svc::checkUploadRow(row), "");
    machines.insert(row.machine);
    std::string rank = w.rankingPath();
    svc::QueryFields rq;
    parsed = svc::parseQuery(rank.substr(rank.find('?') + 1), &rq);
    ASSERT_TRUE(parsed) << parsed.detail();
    svc::RankingQuery query;
    parsed = svc::parseRanking(rq, &query);
    ASSERT_TRUE(parsed) << parsed.detail() << ": " << rank;
  }
  EXPECT_EQ(machines.size(), 200u) << "every upload comes from a new machine";
  EXPECT_EQ(machines.count(load::Workload(1).seedRow(0).machine), 0u) << "and never a seeded one";
}

}  // namespace
