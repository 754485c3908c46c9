// Storage semantics shared by every backend (replacement per machine, system-version range,
// grouping, order, count bound, total), instantiated here for SQLite.
#include "service/storage_suite.h"
#include "support/result_value.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <filesystem>
#include <thread>
#include <vector>

namespace svc::test {

TempFolder::TempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "velmora-service-test-XXXXXX").string();
  path_ = mkdtemp(pattern.data()) ? pattern : std::string();
}

TempFolder::~TempFolder() {
  std::error_code ec;
  if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

namespace {

const DeviceModel kMouse{0x46D, 0xC52B, 0x4041, "USB"};

UploadRow row(std::string machine, double acc, double sen, int32_t osv = 101507, DeviceModel model = kMouse) {
  UploadRow r;
  r.model = std::move(model);
  r.machine = std::move(machine);
  r.deviceName = "MX Master";
  r.osVersion = osv;
  r.accMillionths = settingToMillionths(acc);
  r.senMillionths = settingToMillionths(sen);
  r.receivedAt = 1;
  return r;
}

RankingEntry entry(double acc, double sen, int64_t qty) {
  return {settingToMillionths(acc), settingToMillionths(sen), qty};
}

RankingResult rank(Storage& s, int32_t os0 = 0, int32_t os1 = 0, int count = 20, DeviceModel model = kMouse) {
  RankingResult r;
  Status st = s.ranking({std::move(model), os0, os1, count}, &r);
  EXPECT_TRUE(st.ok()) << st.message;
  return r;
}

int64_t rows(Storage& s) {
  int64_t n = -1;
  EXPECT_TRUE(s.rowCount(&n).ok());
  return n;
}

TEST_P(StorageSuite, NewerUploadOfAMachineReplacesItsRowForThatModelOnly) {
  ASSERT_TRUE(storage().upsertUpload(row("m1", 1.0, 1000)).ok());
  ASSERT_TRUE(storage().upsertUpload(row("m1", 2.0, 1500)).ok());
  ASSERT_TRUE(storage().upsertUpload(row("m1", 1.0, 1000, 101507, {0x5AC, 0x265, 0, "Bluetooth"})).ok());
  EXPECT_EQ(rows(storage()), 2);
  auto r = rank(storage());
  EXPECT_EQ(r.entries, (std::vector<RankingEntry>{entry(2.0, 1500, 1)}));
  EXPECT_EQ(r.total, 1);
}

TEST_P(StorageSuite, GroupsEqualSettingsAndOrdersByQuantityThenSetting) {
  for (auto m : {"a", "b", "c"}) ASSERT_TRUE(storage().upsertUpload(row(m, 1.0, 1000)).ok());
  for (auto m : {"d", "e"}) ASSERT_TRUE(storage().upsertUpload(row(m, 2.0, 500)).ok());
  for (auto m : {"f", "g"}) ASSERT_TRUE(storage().upsertUpload(row(m, 0.5, 1000)).ok());
  ASSERT_TRUE(storage().upsertUpload(row("h", 0.6875, 1600)).ok());
  // The same setting written differently by a client still groups: both are 0.6875 exactly.
  ASSERT_TRUE(storage().upsertUpload(row("i", 6.875e-01, 1600.0000001)).ok());
  auto r = rank(storage());
  EXPECT_EQ(r.entries, (std::vector<RankingEntry>{entry(1.0, 1000, 3), entry(0.5, 1000, 2), entry(0.6875, 1600, 2),
                                                  entry(2.0, 500, 2)}));
  EXPECT_EQ(r.total, 9);
}

TEST_P(StorageSuite, SystemVersionRangeIsInclusiveAndZeroMeansNoUpperBound) {
  ASSERT_TRUE(storage().upsertUpload(row("old", 1, 100, 101199)).ok());
  ASSERT_TRUE(storage().upsertUpload(row("sierra", 2, 200, 101200)).ok());
  ASSERT_TRUE(storage().upsertUpload(row("catalina", 3, 300, 101507)).ok());
  ASSERT_TRUE(storage().upsertUpload(row("bigsur", 4, 400, 110200)).ok());
  struct Case {
    int32_t os0, os1;
    int64_t total;
  } cases[] = {{101200, 0, 3}, {0, 101199, 1}, {101200, 101507, 2}, {110201, 0, 0}, {0, 0, 4}};
  for (const auto& c : cases) {
    auto r = rank(storage(), c.os0, c.os1);
    EXPECT_EQ(r.total, c.total) << c.os0 << ".." << c.os1;
    EXPECT_EQ(static_cast<int64_t>(r.entries.size()), c.total) << c.os0 << ".." << c.os1;
  }
}

TEST_P(StorageSuite, AMachineMovingToANewSystemLeavesTheOldRange) {
  ASSERT_TRUE(storage().upsertUpload(row("m", 1, 1000, 101199)).ok());
  ASSERT_TRUE(storage().upsertUpload(row("m", 1, 1000, 101507)).ok());
  EXPECT_EQ(rank(storage(), 0, 101199).total, 0);
  EXPECT_EQ(rank(storage(), 101200, 0).entries, (std::vector<RankingEntry>{entry(1, 1000, 1)}));
}

TEST_P(StorageSuite, CountBoundsTheEntriesButNotTheTotal) {
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(storage().upsertUpload(row("m" + std::to_string(i), i, 1000)).ok());
  auto r = rank(storage(), 0, 0, 2);
  ASSERT_EQ(r.entries.size(), 2u);
  EXPECT_EQ(r.entries[0], entry(0, 1000, 1));
  EXPECT_EQ(r.total, 5);
  RankingResult out;
  EXPECT_EQ(storage().ranking({kMouse, 0, 0, 0}, &out).code, StatusCode::InvalidArgument);
  EXPECT_EQ(storage().ranking({kMouse, 0, 0, kRankingMaxCount + 1}, &out).code, StatusCode::InvalidArgument);
}

TEST_P(StorageSuite, ModelsAreKeptApart) {
  ASSERT_TRUE(storage().upsertUpload(row("m", 1, 1000)).ok());
  ASSERT_TRUE(storage().upsertUpload(row("m", 1, 1000, 101507, {0x46D, 0xC52B, 0x4041, "Bluetooth"})).ok());
  ASSERT_TRUE(storage().upsertUpload(row("m", 1, 1000, 101507, {0x46D, 0xC52B, 0x4069, "USB"})).ok());
  EXPECT_EQ(rank(storage()).total, 1);
  EXPECT_EQ(rank(storage(), 0, 0, 20, {0x46D, 0xC52B, 0, "USB"}).total, 0);
  // IDs beyond 2^31 are kept as unsigned values.
  DeviceModel high{0xFFFFFFFF, 0x80000000, 1, ""};
  ASSERT_TRUE(storage().upsertUpload(row("m", 1, 1000, 101507, high)).ok());
  EXPECT_EQ(rank(storage(), 0, 0, 20, high).total, 1);
}

TEST_P(StorageSuite, BulkInsertKeepsTheLastRowOfAMachineAndClearAllEmpties) {
  std::vector<UploadRow> batch;
  for (int i = 0; i < 50; ++i) batch.push_back(row("m" + std::to_string(i % 20), 1, 1000));
  batch.push_back(row("m0", 5, 1900));
  ASSERT_TRUE(storage().bulkInsert(batch).ok());
  EXPECT_EQ(rows(storage()), 20);
  EXPECT_EQ(rank(storage()).entries, (std::vector<RankingEntry>{entry(1, 1000, 19), entry(5, 1900, 1)}));
  ASSERT_TRUE(storage().clearAll().ok());
  EXPECT_EQ(rows(storage()), 0);
  EXPECT_TRUE(rank(storage()).entries.empty());
}

TEST_P(StorageSuite, RefusesRowsOutOfBoundsAndStoresNothingOfAFailedBatch) {
  std::vector<UploadRow> bad;
  bad.push_back(row("", 1, 1000));
  bad.push_back(row("m", 20.000001, 1000));
  bad.push_back(row("m", 1, 4.9));
  bad.push_back(row("m", 1, 1000, 1000000));
  bad.push_back(row(std::string(kMachineMaxBytes + 1, 'x'), 1, 1000));
  bad.push_back(row("m\xff", 1, 1000));
  bad.push_back(row("m", 1, 1000, 101507, {1, 2, 3, std::string(kTransportMaxBytes + 1, 'U')}));
  for (const auto& r : bad) {
    EXPECT_EQ(storage().upsertUpload(r).code, StatusCode::InvalidArgument) << r.machine;
  }
  std::vector<UploadRow> batch{row("ok", 1, 1000), bad.front()};
  EXPECT_EQ(storage().bulkInsert(batch).code, StatusCode::InvalidArgument);
  EXPECT_EQ(rows(storage()), 0);
}

TEST_P(StorageSuite, ConcurrentUploadsAreAllCounted) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([this, t] {
      for (int i = 0; i < 50; ++i) {
        Status st = storage().upsertUpload(row("t" + std::to_string(t) + "-" + std::to_string(i), t, 1000));
        EXPECT_TRUE(st.ok()) << st.message;
        RankingResult r;
        EXPECT_TRUE(storage().ranking({kMouse, 0, 0, 20}, &r).ok());
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(rows(storage()), 200);
  auto r = rank(storage());
  EXPECT_EQ(r.total, 200);
  EXPECT_EQ(r.entries.size(), 4u);
}

// The ranking a storage should give, counted here from the rows the test stored.
RankingResult recount(const std::map<std::string, UploadRow>& stored, int32_t os0, int32_t os1, int count) {
  std::map<std::pair<int64_t, int64_t>, int64_t> groups;
  RankingResult out;
  for (const auto& [machine, r] : stored) {
    if (r.osVersion < os0 || (os1 != 0 && r.osVersion > os1)) continue;
    ++groups[{r.accMillionths, r.senMillionths}];
    ++out.total;
  }
  for (const auto& [setting, qty] : groups) out.entries.push_back({setting.first, setting.second, qty});
  std::stable_sort(out.entries.begin(), out.entries.end(),
                   [](const RankingEntry& a, const RankingEntry& b) { return a.qty > b.qty; });
  if (out.entries.size() > static_cast<size_t>(count)) out.entries.resize(static_cast<size_t>(count));
  return out;
}

void expectCountsMatchRecount(Storage& s, const std::map<std::string, UploadRow>& stored, const std::string& step) {
  EXPECT_EQ(rows(s), static_cast<int64_t>(stored.size())) << step;
  struct Range {
    int32_t os0, os1;
  } ranges[] = {{0, 0}, {101200, 0}, {0, 101199}, {110000, 110000}};
  for (const auto& range : ranges) {
    auto want = recount(stored, range.os0, range.os1, kRankingMaxCount);
    auto got = rank(s, range.os0, range.os1, kRankingMaxCount);
    EXPECT_EQ(got.entries, want.entries) << step << " in " << range.os0 << ".." << range.os1;
    EXPECT_EQ(got.total, want.total) << step << " in " << range.os0 << ".." << range.os1;
  }
}

// Every way one machine's row can change, each followed by the counts against a recount: a
// machine moving to a setting another machine already holds is the common case of a crowd
// settling on one speed, and once lost the upload with a constraint failure.
TEST_P(StorageSuite, EveryTransitionOfAMachinesRowKeepsTheCountsEqualToARecount) {
  struct Step {
    const char* what;
    const char* machine;
    double acc, sen;
    int32_t osv;
  } steps[] = {
      {"m1 new", "m1", 1, 800, 101507},
      {"m1 same setting again", "m1", 1, 800, 101507},
      {"m1 to a setting nobody holds", "m1", 3, 900, 101507},
      {"m2 new", "m2", 2, 600, 101507},
      {"m1 to the setting m2 holds", "m1", 2, 600, 101507},
      {"m1 back to its first setting", "m1", 1, 800, 101507},
      {"m1 to m2's setting again", "m1", 2, 600, 101507},
      {"m2 away, leaving m1 alone there", "m2", 4, 1000, 101507},
      {"m1 on another system version", "m1", 2, 600, 110000},
      {"m2 to m1's setting and version", "m2", 2, 600, 110000},
      {"m2 to an old system", "m2", 2, 600, 101100},
      {"m3 new on m2's row", "m3", 2, 600, 101100},
  };
  std::map<std::string, UploadRow> stored;
  int64_t at = 1;
  for (const auto& step : steps) {
    UploadRow r = row(step.machine, step.acc, step.sen, step.osv);
    r.receivedAt = ++at;
    Status st = storage().upsertUpload(r);
    ASSERT_TRUE(st.ok()) << step.what << ": " << st.message;
    stored[step.machine] = r;
    expectCountsMatchRecount(storage(), stored, step.what);
  }
}

// Many machines moving among a few settings at once, from several threads; then the counts
// against a recount of what each machine uploaded last.
TEST_P(StorageSuite, ConcurrentMovesKeepTheCountsEqualToARecount) {
  constexpr int kThreads = 4, kMachines = 6, kRounds = 30;
  std::vector<std::map<std::string, UploadRow>> last(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t, &last] {
      for (int i = 0; i < kRounds; ++i) {
        std::string machine = "t" + std::to_string(t) + "m" + std::to_string(i % kMachines);
        // Three settings shared by every thread, and two system versions.
        UploadRow r = row(machine, (i * 7 + t) % 3, 1000, i % 4 == 0 ? 101100 : 101507);
        r.receivedAt = i + 1;
        Status st = storage().upsertUpload(r);
        EXPECT_TRUE(st.ok()) << st.message;
        if (st.ok()) last[t][machine] = r;
      }
    });
  }
  for (auto& th : threads) th.join();
  std::map<std::string, UploadRow> stored;
  for (auto& m : last) stored.insert(m.begin(), m.end());
  expectCountsMatchRecount(storage(), stored, "after the concurrent moves");
}

// Uploads from many threads while rankings keep readers in the database at every moment: the
// write-ahead log is checkpointed back to the start instead of growing with every commit.
TEST(SqliteStorage, WriteAheadLogStaysBoundedUnderConcurrentUploadsAndRankings) {
  TempFolder folder;
  std::string error, path = folder.path() + "/wal.sqlite";
  auto storage = vl::test::valueOf(openSqliteStorage(path));
  ASSERT_TRUE(storage);
  std::atomic<bool> done{false};
  std::atomic<int64_t> biggest{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 2; ++t) {
    readers.emplace_back([&] {
      while (!done) {
        RankingResult r;
        EXPECT_TRUE(storage->ranking({kMouse, 0, 0, 20}, &r).ok());
        std::error_code ec;
        auto size = static_cast<int64_t>(std::filesystem::file_size(path + "-wal", ec));
        if (!ec && size > biggest) biggest = size;
      }
    });
  }
  constexpr int kWriters = 4, kEach = 2500;
  std::vector<std::thread> writers;
  for (int t = 0; t < kWriters; ++t) {
    writers.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        UploadRow r = row("w" + std::to_string(t) + "-" + std::to_string(i), i % 20, 1000 + i % 50);
        ASSERT_TRUE(storage->upsertUpload(r).ok());
      }
    });
  }
  for (auto& w : writers) w.join();
  done = true;
  for (auto& r : readers) r.join();
  EXPECT_EQ(rows(*storage), kWriters * kEach);
  // Unbounded, these 10,000 commits leave well over 100 MB of log; the restart point is 4,000
  // pages (16 MB), so the log stays within a few times that.
  EXPECT_LT(biggest.load(), int64_t{40} << 20) << "largest write-ahead log " << biggest.load() << " bytes";
}

// SQLite: a fresh file in a temporary folder per test.
struct SqliteFresh {
  std::shared_ptr<TempFolder> folder = std::make_shared<TempFolder>();
  std::unique_ptr<Storage> operator()(std::string* skip) const {
    static std::atomic<int> serial{0};
    auto opened = openStorage("sqlite:" + folder->path() + "/db" + std::to_string(++serial) + "/service.sqlite");
    if (!opened) {
      *skip = opened.status().detail();
      return nullptr;
    }
    return std::move(opened).value();
  }
};

INSTANTIATE_TEST_SUITE_P(Sqlite, StorageSuite, testing::Values(StorageBackend{"sqlite", SqliteFresh{}}), backendName);

}  // namespace
}  // namespace svc::test
