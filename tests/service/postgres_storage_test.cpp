// The PostgreSQL storage against a real server started for these tests: URL forms, a pool
// shared by many threads, bulk loads past one statement's rows, hostile text, lost connections.
#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "service/postgres_fixture.h"
#include "service/storage_suite.h"
#include "tools/service/http_server.h"
#include "tools/service/postgres_storage.h"
#include "tools/service/requests.h"
#include "tools/service/storage.h"
#include "support/result_value.h"

namespace {

using svc::RankingEntry;
using svc::RankingQuery;
using svc::RankingResult;
using svc::UploadRow;

UploadRow row(const std::string& machine, int64_t acc, int64_t sen, int32_t os = 101507, int64_t at = 1) {
  UploadRow r;
  r.model = {0x46D, 0xC52B, 0x4041, "USB"};
  r.machine = machine;
  r.deviceName = "MX Master";
  r.osVersion = os;
  r.accMillionths = acc;
  r.senMillionths = sen;
  r.receivedAt = at;
  return r;
}

RankingResult rank(svc::Storage& s, svc::DeviceModel model, int count = 20, int32_t os0 = 0, int32_t os1 = 0) {
  RankingQuery q;
  q.model = std::move(model);
  q.count = count;
  q.os0 = os0;
  q.os1 = os1;
  RankingResult r;
  svc::Status st = s.ranking(q, &r);
  EXPECT_TRUE(st.ok()) << st.message;
  return r;
}

class PostgresStorageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = vl::test::sharedPostgres();
    if (!server_->started()) GTEST_SKIP() << "PostgreSQL tests skipped: " << server_->whyNot();
    storage_ = vl::test::valueOf(svc::openStorage(server_->url()));
    ASSERT_TRUE(storage_);
    ASSERT_TRUE(storage_->clearAll().ok());
  }
  vl::test::PostgresServer* server_ = nullptr;
  std::unique_ptr<svc::Storage> storage_;
};

TEST_F(PostgresStorageTest, EveryUrlFormReachesTheSameDatabase) {
  ASSERT_TRUE(storage_->upsertUpload(row("m1", 687500, 800000000)).ok());
  const std::string& dbName = server_->database();
  for (const std::string& url : {"postgres://velmora@/" + dbName + "?host=" + server_->socketDir(),
                                 "postgresql:///" + dbName + "?host=" + server_->socketDir() + "&user=velmora"}) {
    SCOPED_TRACE(url);
    auto other = vl::test::valueOf(svc::openStorage(url));
    ASSERT_TRUE(other);
    EXPECT_EQ(other->describe().rfind("postgresql:" + dbName, 0), 0u) << other->describe();
    int64_t count = 0;
    ASSERT_TRUE(other->rowCount(&count).ok());
    EXPECT_EQ(count, 1);
  }
}

TEST_F(PostgresStorageTest, AServerThatIsNotThereIsAnErrorNotACrash) {
  auto none = svc::openStorage("postgresql://velmora@/nowhere?host=" + server_->socketDir() + "/missing");
  EXPECT_FALSE(none);
  EXPECT_FALSE(none.status().detail().empty());
  auto wrongDb = svc::openStorage("postgresql://velmora@/no_such_db?host=" + server_->socketDir());
  EXPECT_FALSE(wrongDb);
  const std::string& error = wrongDb.status().detail();
  EXPECT_NE(error.find("no_such_db"), std::string::npos) << error;
}

// Text that would break a statement built by pasting is stored and matched as it is.
TEST_F(PostgresStorageTest, HostileTextIsDataNeverSql) {
  const std::string nasty = "U');DROP TABLE velmora_uploads--";  // the longest transport allowed
  UploadRow r = row("m'1\"\\", 1000000, 400000000);
  r.model.transport = nasty;
  r.deviceName = "Maus \"Ü\" $1 %s \\x00";
  r.app = "Finder'";
  svc::Status st = storage_->upsertUpload(r);
  ASSERT_TRUE(st.ok()) << st.message;
  RankingResult result = rank(*storage_, r.model);
  ASSERT_EQ(result.entries.size(), 1u);
  EXPECT_EQ(result.entries[0], (RankingEntry{1000000, 400000000, 1}));
  // A transport differing only in case is another model.
  svc::DeviceModel near = r.model;
  near.transport = "u');DROP TABLE velmora_uploads--";
  EXPECT_TRUE(rank(*storage_, near).entries.empty());
  int64_t count = 0;
  ASSERT_TRUE(storage_->rowCount(&count).ok());
  EXPECT_EQ(count, 1);
}

// Several statements' worth of rows in one call, with repeats of one machine inside the batch:
// the latest of each stays, and a row already stored is replaced.
TEST_F(PostgresStorageTest, BulkInsertCrossesStatementBoundariesAndKeepsTheLatest) {
  ASSERT_TRUE(storage_->upsertUpload(row("machine-7", 500000, 400000000, 101507, 1)).ok());
  std::vector<UploadRow> rows;
  for (int i = 0; i < 2503; ++i) rows.push_back(row("machine-" + std::to_string(i), 1000000, 800000000, 101507, 10));
  rows.push_back(row("machine-3", 2000000, 1600000000, 101507, 11));   // later within the batch
  rows.push_back(row("machine-4", 3000000, 1600000000, 101507, 9));    // earlier than its twin
  ASSERT_TRUE(storage_->bulkInsert(rows).ok());
  int64_t count = 0;
  ASSERT_TRUE(storage_->rowCount(&count).ok());
  EXPECT_EQ(count, 2503);
  RankingResult result = rank(*storage_, rows[0].model);
  EXPECT_EQ(result.total, 2503);
  ASSERT_EQ(result.entries.size(), 2u);
  EXPECT_EQ(result.entries[0], (RankingEntry{1000000, 800000000, 2502}));
  EXPECT_EQ(result.entries[1], (RankingEntry{2000000, 1600000000, 1}));
}

// An upload that arrives after a newer one of the same machine does not undo it.
TEST_F(PostgresStorageTest, AnOlderUploadDoesNotReplaceANewerOne) {
  ASSERT_TRUE(storage_->upsertUpload(row("m", 1000000, 800000000, 101507, 200)).ok());
  ASSERT_TRUE(storage_->upsertUpload(row("m", 2000000, 800000000, 101507, 100)).ok());
  RankingResult result = rank(*storage_, row("m", 0, 0).model);
  ASSERT_EQ(result.entries.size(), 1u);
  EXPECT_EQ(result.entries[0].accMillionths, 1000000);
}

// More threads than connections: each connection serves one thread at a time, and no upload is
// lost or counted twice.
TEST_F(PostgresStorageTest, ThreadsShareASmallPoolWithoutLosingWrites) {
  auto pooled = vl::test::valueOf(svc::openPostgresStorage(server_->url(), svc::PostgresOptions{2}));
  ASSERT_TRUE(pooled);
  constexpr int kThreads = 8, kEach = 60;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        // Every thread also rewrites machine "shared" so that conflicting upserts meet.
        std::string machine = i % 10 == 0 ? "shared" : "t" + std::to_string(t) + "-" + std::to_string(i);
        if (!pooled->upsertUpload(row(machine, 62500 * (t + 1), 800000000, 101507, t * 1000 + i)).ok()) ++failures;
        RankingResult r;
        RankingQuery q;
        q.model = row("", 0, 0).model;
        if (!pooled->ranking(q, &r).ok()) ++failures;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  int64_t count = 0;
  ASSERT_TRUE(pooled->rowCount(&count).ok());
  EXPECT_EQ(count, kThreads * (kEach - kEach / 10) + 1);
}

// The server ends every connection (a restart, an administrator, a fail-over): the pool's idle
// connections are dead, and the next calls reconnect instead of failing for good.
TEST_F(PostgresStorageTest, ConnectionsEndedByTheServerAreReopened) {
  ASSERT_TRUE(storage_->upsertUpload(row("before", 1000000, 800000000)).ok());
  {
    std::string error;
    auto admin = vl::test::PostgresSession::open(server_->url(), &error);
    ASSERT_TRUE(admin) << error;
    ASSERT_TRUE(admin->exec("SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                            "WHERE application_name = 'velmora-service' AND pid <> pg_backend_pid()"));
  }
  EXPECT_TRUE(storage_->upsertUpload(row("after", 1000000, 800000000)).ok());
  int64_t count = 0;
  ASSERT_TRUE(storage_->rowCount(&count).ok());
  EXPECT_EQ(count, 2);
}

// Rankings come from counts kept by triggers. Uploads moving machines between two settings in
// opposite directions at once neither deadlock into failures nor leave the counts wrong.
TEST_F(PostgresStorageTest, CountsStayExactWhileUploadsMoveBetweenSettings) {
  constexpr int kThreads = 6, kMachines = 15, kRounds = 12;
  const int64_t a = 1000000, b = 2000000;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < kRounds; ++round) {
        // Even threads go a, b, a, ...; odd ones b, a, b, ...; the last round ends on b for all.
        bool onA = (round + t) % 2 == 0 && round != kRounds - 1;
        for (int m = 0; m < kMachines; ++m) {
          std::string machine = "t" + std::to_string(t) + "m" + std::to_string(m);
          svc::Status st = storage_->upsertUpload(row(machine, onA ? a : b, 800000000, 101507, round));
          if (!st.ok()) ++failures, ADD_FAILURE() << st.message;
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  RankingResult result = rank(*storage_, row("", 0, 0).model);
  EXPECT_EQ(result.total, kThreads * kMachines);
  EXPECT_EQ(result.entries, (std::vector<RankingEntry>{{b, 800000000, kThreads * kMachines}}));
}

// A database whose uploads table predates the counts gets them made from its rows on opening.
TEST_F(PostgresStorageTest, CountsAreRebuiltForRowsStoredBeforeThem) {
  for (int i = 0; i < 5; ++i)
    ASSERT_TRUE(storage_->upsertUpload(row("m" + std::to_string(i), i < 3 ? 1000000 : 1500000, 800000000)).ok());
  {
    std::string error;
    auto admin = vl::test::PostgresSession::open(server_->url(), &error);
    ASSERT_TRUE(admin) << error;
    ASSERT_TRUE(admin->exec("DROP TABLE velmora_setting_counts"));
  }
  auto reopened = vl::test::valueOf(svc::openStorage(server_->url()));
  ASSERT_TRUE(reopened);
  RankingResult result = rank(*reopened, row("", 0, 0).model);
  EXPECT_EQ(result.entries, (std::vector<RankingEntry>{{1000000, 800000000, 3}, {1500000, 800000000, 2}}));
}

// The version range bounds both ends; an upper bound of 0 means none.
TEST_F(PostgresStorageTest, VersionRangeAndLimit) {
  std::vector<UploadRow> rows;
  for (int i = 0; i < 30; ++i) rows.push_back(row("v" + std::to_string(i), 62500 * i, 800000000, 101100 + i * 10, 1));
  ASSERT_TRUE(storage_->bulkInsert(rows).ok());
  RankingResult all = rank(*storage_, rows[0].model, 100, 0, 0);
  EXPECT_EQ(all.total, 30);
  RankingResult band = rank(*storage_, rows[0].model, 5, 101200, 101290);  // i = 10 ... 19
  EXPECT_EQ(band.total, 10);
  ASSERT_EQ(band.entries.size(), 5u);
  EXPECT_EQ(band.entries[0].accMillionths, 62500 * 10);  // equal counts: ascending speed
}

}  // namespace

// The semantics every backend shares, on PostgreSQL: the shared server's database, emptied.
namespace svc::test {
namespace {

std::unique_ptr<Storage> freshPostgres(std::string* skip) {
  vl::test::PostgresServer* server = vl::test::sharedPostgres();
  if (!server->started()) {
    *skip = "PostgreSQL tests skipped: " + server->whyNot();
    return nullptr;
  }
  auto opened = openStorage(server->url());
  if (!opened) {
    ADD_FAILURE() << "a running PostgreSQL refused the storage: " << opened.status().detail();
    *skip = opened.status().detail();
    return nullptr;
  }
  std::unique_ptr<Storage> storage = std::move(opened).value();
  Status st = storage->clearAll();
  if (!st.ok()) ADD_FAILURE() << st.message;
  return storage;
}

INSTANTIATE_TEST_SUITE_P(Postgres, StorageSuite, testing::Values(StorageBackend{"postgresql", freshPostgres}),
                         backendName);

}  // namespace
}  // namespace svc::test

// The whole service over a real socket with PostgreSQL behind it: an upload is counted in the
// next ranking's answer.
namespace {

TEST_F(PostgresStorageTest, UploadThenRankingOverHttp) {
  svc::Service service(*storage_, svc::Catalogue(), [] { return int64_t{1700000000000}; });
  svc::HttpServer server(service, svc::HttpServerOptions{});
  vl::Status bindResult = server.bind();
  ASSERT_TRUE(bindResult) << bindResult.detail();
  std::thread serving([&] { server.run(); });
  httplib::Client client(server.baseUrl());
  auto up = client.Get(
      "/velmora/xml/setting.php?VID=1133&PID=50475&MID=16449&Tra=USB&Dev=MX%20Master&Mac=abc123"
      "&OSV=101507&App=&Acc=1.25&Sen=800");
  auto ranked = client.Get("/velmora/xml/setting_rank.php?VID=1133&PID=50475&MID=16449&Tra=USB&OS0=101200&OS1=0&Cnt=20");
  server.stop();
  serving.join();
  ASSERT_TRUE(up);
  EXPECT_EQ(up->status, 200) << up->body;
  ASSERT_TRUE(ranked);
  EXPECT_EQ(ranked->status, 200) << ranked->body;
  EXPECT_EQ(ranked->body, svc::rankingPlist({{{1250000, 800000000, 1}}, 1}));
  int64_t count = 0;
  ASSERT_TRUE(storage_->rowCount(&count).ok());
  EXPECT_EQ(count, 1);
}

}  // namespace
