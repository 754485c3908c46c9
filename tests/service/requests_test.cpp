// Query validation of the three requests, the ranking answer's form, the catalogue and the
// command line, without sockets.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <thread>

#include "core/plist/codec.h"
#include "service/storage_suite.h"
#include "support/comma_locale.h"
#include "tools/service/options.h"
#include "tools/service/requests.h"
#include "support/result_value.h"

namespace svc::test {
namespace {

const char* kGoodUpload =
    "VID=1133&PID=50475&MID=16449&Tra=USB&Dev=MX%20Master%203&Mac=ab12cd&OSV=101507&App=&Acc=0.6875&Sen=1600";

// The good upload with one field replaced (or removed, for a null value).
std::string uploadWith(const std::string& key, const char* value) {
  QueryFields q;
  EXPECT_TRUE(parseQuery(kGoodUpload, &q));
  std::string out;
  for (auto& [k, v] : q) {
    if (k == key && !value) continue;
    std::string text = k == key ? value : v;
    std::string escaped;
    for (unsigned char c : text) {
      if (std::isalnum(c) || c == '.' || c == '-' || c == '%') {
        escaped += static_cast<char>(c);
      } else {
        char b[4];
        std::snprintf(b, sizeof b, "%%%02X", c);
        escaped += b;
      }
    }
    out += (out.empty() ? "" : "&") + k + "=" + escaped;
  }
  return out;
}

TEST(ServiceQuery, DecodesEscapesAndRefusesMalformedQueries) {
  QueryFields q;
  ASSERT_TRUE(parseQuery("a=x%20y+z&b=&&c=%C3%A9", &q));
  EXPECT_EQ(q["a"], "x y z");
  EXPECT_EQ(q["b"], "");
  EXPECT_EQ(q["c"], "\xC3\xA9");
  for (const char* bad : {"a=%G1", "a=%4", "a=1%", "a", "a=1&a=2"}) {
    EXPECT_FALSE(parseQuery(bad, &q)) << bad;
  }
  EXPECT_FALSE(parseQuery("a=" + std::string(kQueryMaxBytes, 'x'), &q));
}

TEST(ServiceQuery, AcceptsTheClientsUpload) {
  QueryFields q;
  ASSERT_TRUE(parseQuery(kGoodUpload, &q));
  UploadRow row;
  vl::Status parsed = parseUpload(q, &row);
  ASSERT_TRUE(parsed) << parsed.detail();
  EXPECT_EQ(row.model, (DeviceModel{0x46D, 0xC52B, 0x4041, "USB"}));
  EXPECT_EQ(row.deviceName, "MX Master 3");
  EXPECT_EQ(row.machine, "ab12cd");
  EXPECT_EQ(row.osVersion, 101507);
  EXPECT_EQ(row.accMillionths, 687500);
  EXPECT_EQ(row.senMillionths, 1600000000);
}

TEST(ServiceQuery, RefusesEachUploadFieldOutOfBounds) {
  std::string dev100(100, 'd'), dev101(101, 'd'), devWide;
  for (int i = 0; i < 100; ++i) devWide += "\xC3\xA9";  // 100 characters, 200 bytes: the client's cut
  struct Case {
    const char* key;
    std::string value;
    bool ok;
    const char* reason;  // a part of the refusal
  } cases[] = {
      {"VID", "-1", true, ""},  // %d of 0xFFFFFFFF
      {"VID", "4294967296", false, "VID is out of range"},
      {"VID", "0x46d", false, "VID is not a decimal integer"},
      {"VID", " 1", false, "not a decimal"},
      {"VID", "", false, "not a decimal"},
      {"PID", "+5", false, "not a decimal"},
      {"OSV", "1000000", false, "OSV is out of range"},
      {"OSV", "-1", false, "OSV is out of range"},
      {"Tra", std::string(32, 'T'), true, ""},
      {"Tra", std::string(33, 'T'), false, "Tra is longer than 32 bytes"},
      {"Dev", dev100, true, ""},
      {"Dev", devWide, true, ""},
      {"Dev", dev101, false, "Dev is longer than 100 characters"},
      {"Dev", "a\nb", false, "Dev is not valid UTF-8"},
      {"Dev", "\xFF", false, "Dev is not valid UTF-8"},
      {"Dev", "\xC0\xAF", false, "not valid UTF-8"},  // overlong '/'
      {"Mac", std::string(128, 'm'), true, ""},
      {"Mac", std::string(129, 'm'), false, "Mac is longer than 128 bytes"},
      {"Mac", "", false, "Mac is empty"},
      {"App", std::string(20, 'a'), true, ""},
      {"App", std::string(21, 'a'), false, "App is longer than 20 characters"},
      {"Acc", "0", true, ""},
      {"Acc", "20", true, ""},
      {"Acc", "20.0001", false, "Acc is out of range"},
      {"Acc", "-0.5", false, "Acc is out of range"},
      {"Acc", "6.875e-01", true, ""},
      {"Acc", "0,6875", false, "Acc must use a dot"},
      {"Acc", "nan", false, "Acc is not a decimal number"},
      {"Acc", "inf", false, "Acc is not a decimal number"},
      {"Sen", "5", true, ""},
      {"Sen", "1990", true, ""},
      {"Sen", "4.99", false, "Sen is out of range"},
      {"Sen", "1990.5", false, "Sen is out of range"},
      {"Sen", "1e400", false, "Sen is not a decimal number"},
  };
  for (const auto& c : cases) {
    QueryFields q;
    ASSERT_TRUE(parseQuery(uploadWith(c.key, c.value.c_str()), &q)) << c.key;
    UploadRow row;
    vl::Status parsed = parseUpload(q, &row);
    bool ok = parsed.ok();
    const std::string& error = parsed.detail();
    EXPECT_EQ(ok, c.ok) << c.key << "=" << c.value << ": " << error;
    if (!c.ok) {
      EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
    if (ok) {
      EXPECT_EQ(checkUploadRow(row), "") << c.key;  // what the parser takes, the storage takes
    }
  }
  for (const char* key : {"VID", "PID", "MID", "Tra", "Dev", "Mac", "OSV", "App", "Acc", "Sen"}) {
    QueryFields q;
    ASSERT_TRUE(parseQuery(uploadWith(key, nullptr), &q));
    UploadRow row;
    vl::Status parsed = parseUpload(q, &row);
    EXPECT_FALSE(parsed) << key;
    EXPECT_EQ(parsed.detail(), std::string(key) + " is missing");
  }
}

TEST(ServiceQuery, NegativeIdsAreTheClientsUnsignedValues) {
  QueryFields q;
  ASSERT_TRUE(parseQuery(uploadWith("MID", "-2147483648"), &q));
  UploadRow row;
  ASSERT_TRUE(parseUpload(q, &row));
  EXPECT_EQ(row.model.mid, 0x80000000u);
}

TEST(ServiceQuery, ReadsNumbersTheSameUnderADecimalCommaLocale) {
  VELMORA_WITH_COMMA_LOCALE(locale);
  QueryFields q;
  ASSERT_TRUE(parseQuery(kGoodUpload, &q));
  UploadRow row;
  vl::Status parsed = parseUpload(q, &row);
  ASSERT_TRUE(parsed) << parsed.detail();
  EXPECT_EQ(row.accMillionths, 687500);
  RankingResult r{{{687500, 1600500000, 3}}, 3};
  std::string plist = rankingPlist(r);
  EXPECT_NE(plist.find("<real>0.6875</real>"), std::string::npos) << plist;
  EXPECT_NE(plist.find("<real>1600.5</real>"), std::string::npos) << plist;
}

TEST(ServiceQuery, RankingQueryBounds) {
  struct Case {
    const char* query;
    bool ok;
  } cases[] = {
      {"VID=76&PID=613&MID=0&Tra=Bluetooth&OS0=101200&OS1=0&Cnt=20", true},
      {"VID=76&PID=613&MID=0&Tra=&OS0=0&OS1=101199&Cnt=100", true},
      {"VID=76&PID=613&MID=0&Tra=USB&OS0=0&OS1=0&Cnt=101", false},
      {"VID=76&PID=613&MID=0&Tra=USB&OS0=0&OS1=0&Cnt=0", false},
      {"VID=76&PID=613&MID=0&Tra=USB&OS0=0&OS1=1000000&Cnt=20", false},
      {"VID=76&PID=613&MID=0&Tra=USB&OS0=0&Cnt=20", false},
  };
  for (const auto& c : cases) {
    QueryFields q;
    ASSERT_TRUE(parseQuery(c.query, &q));
    RankingQuery query;
    vl::Status parsed = parseRanking(q, &query);
    EXPECT_EQ(parsed.ok(), c.ok) << c.query << ": " << parsed.detail();
    if (c.ok) {
      EXPECT_EQ(checkRankingQuery(query), "");
    }
  }
}

TEST(ServiceAnswer, RankingIsAPlistArrayWithTheTotalOnTheLastEntryOnly) {
  RankingResult r{{{1000000, 1000000000, 5}, {687500, 1600000000, 2}}, 9};
  auto read = pl::read(rankingPlist(r));
  ASSERT_TRUE(read) << read.error;
  const auto* array = read.value->asArray();
  ASSERT_TRUE(array);
  ASSERT_EQ(array->size(), 2u);
  const auto* first = (*array)[0].asDict();
  const auto* last = (*array)[1].asDict();
  EXPECT_TRUE(first->at("Acc").isReal());
  EXPECT_TRUE(first->at("Sen").isReal());
  EXPECT_TRUE(first->at("Qty").isInteger());
  EXPECT_EQ(first->count("Tot"), 0u);
  EXPECT_TRUE(last->at("Tot").isInteger());
  EXPECT_EQ(last->at("Tot").longLongValue(), 9);
  EXPECT_DOUBLE_EQ(last->at("Acc").doubleValue(), 0.6875);
  EXPECT_EQ(last->at("Qty").longLongValue(), 2);

  auto empty = pl::read(rankingPlist({}));
  ASSERT_TRUE(empty);
  ASSERT_TRUE(empty.value->isArray());
  EXPECT_TRUE(empty.value->asArray()->empty());
}

TEST(ServiceCatalogue, OffersFilesPerApplicationAndSystem) {
  auto c = Catalogue::parse("# versions\n\nvl Velmora2.2.3.dmg 101200\nvl Velmora2.3b1.dmg\n"
                            "dvvl\tDrovana3.0.dmg\n");
  ASSERT_TRUE(c) << c.status().detail();
  EXPECT_EQ(c->filesFor("vl", 101507), (std::vector<std::string>{"Velmora2.2.3.dmg", "Velmora2.3b1.dmg"}));
  EXPECT_EQ(c->filesFor("vl", 101199), (std::vector<std::string>{"Velmora2.3b1.dmg"}));
  EXPECT_TRUE(c->filesFor("VL", 101507).empty());
  std::string error;
  for (const char* bad : {"vl\n", "vl a.dmg 10.12\n", "vl a.dmg 1 2\n", "vl a.dmg -5\n"}) {
    auto refused = Catalogue::parse(bad);
    EXPECT_FALSE(refused) << bad;
    error = refused.status().detail();
  }
  EXPECT_NE(error.find("line 1"), std::string::npos);
}

TEST(ServiceCatalogue, TheShippedCatalogueOffersThisVersion) {
  auto c = Catalogue::load(std::string(VELMORA_SOURCE_RESOURCES) + "/service-catalogue.txt");
  ASSERT_TRUE(c) << c.status().detail();
  EXPECT_EQ(c->filesFor("vl", 101507), (std::vector<std::string>{"Velmora" VELMORA_VERSION_TEXT ".dmg"}));
}

class ServiceHandling : public testing::Test {
 protected:
  void SetUp() override {
    storage_ = vl::test::valueOf(openSqliteStorage(folder_.path() + "/s.sqlite"));
    ASSERT_TRUE(storage_);
    auto catalogue = Catalogue::parse("vl Velmora2.2.3.dmg\n");
    service_ = std::make_unique<Service>(*storage_, *catalogue, [] { return int64_t{42}; });
  }
  TempFolder folder_;
  std::unique_ptr<Storage> storage_;
  std::unique_ptr<Service> service_;
};

TEST_F(ServiceHandling, AnswersEachPathAndRefusesTheRest) {
  struct Case {
    const char* method;
    const char* path;
    std::string query;
    int status;
  } cases[] = {
      {"GET", "/velmora/xml/setting.php", kGoodUpload, 200},
      {"HEAD", "/velmora/xml/setting_rank.php", "VID=1133&PID=50475&MID=16449&Tra=USB&OS0=0&OS1=0&Cnt=20", 200},
      {"GET", "/velmora/xml/file.php", "app=vl&osv=101507", 200},
      {"GET", "/velmora/xml/file.php", "app=&osv=101507", 400},
      {"GET", "/velmora/xml/file.php", "app=" + std::string(kCatalogueAppMaxBytes + 1, 'a') + "&osv=1", 400},
      {"GET", "/velmora/xml/file.php", "app=vl", 400},
      {"GET", "/velmora/xml/setting.php", "VID=1", 400},
      {"GET", "/velmora/xml/setting.php", "VID=%zz", 400},
      {"GET", "/velmora/xml/other.php", "", 404},
      {"GET", "/velmora/xml/setting.php/", "", 404},
      {"POST", "/velmora/xml/setting.php", kGoodUpload, 405},
  };
  for (const auto& c : cases) {
    Answer a = service_->handle(c.method, c.path, c.query);
    EXPECT_EQ(a.status, c.status) << c.method << " " << c.path << "?" << c.query << ": " << a.body;
    if (a.status != 200) {
      EXPECT_EQ(a.contentType.rfind("text/plain", 0), 0u);
    }
  }
  int64_t rows = 0;
  ASSERT_TRUE(storage_->rowCount(&rows).ok());
  EXPECT_EQ(rows, 1);
}

TEST_F(ServiceHandling, UploadThenRankingAndVersions) {
  ASSERT_EQ(service_->handle("GET", kUploadPath, kGoodUpload).status, 200);
  ASSERT_EQ(service_->handle("GET", kUploadPath, uploadWith("Mac", "other")).status, 200);
  Answer a = service_->handle("GET", kRankingPath, "VID=1133&PID=50475&MID=16449&Tra=USB&OS0=101200&OS1=0&Cnt=20");
  ASSERT_EQ(a.status, 200);
  EXPECT_EQ(a.contentType, "application/xml");
  EXPECT_EQ(a.body, rankingPlist({{{687500, 1600000000, 2}}, 2}));

  Answer v = service_->handle("GET", kVersionsPath, "app=vl&osv=101507");
  auto read = pl::read(v.body);
  ASSERT_TRUE(read && read.value->isArray());
  ASSERT_EQ(read.value->asArray()->size(), 1u);
  EXPECT_EQ(*(*read.value->asArray())[0].asString(), "Velmora2.2.3.dmg");
  Answer none = service_->handle("GET", kVersionsPath, "app=unknown&osv=101507");
  EXPECT_EQ(none.status, 200);
  EXPECT_TRUE(pl::read(none.body).value->asArray()->empty());
}

// The Qty of the first entry and the total of a ranking answer (0, 0 for an empty one).
std::pair<int64_t, int64_t> countsOf(const Answer& a) {
  auto read = pl::read(a.body);
  if (!read || !read.value->isArray() || read.value->asArray()->empty()) return {0, 0};
  const auto& entries = *read.value->asArray();
  return {entries.front().integerFor("Qty").value_or(-1), entries.back().integerFor("Tot").value_or(-1)};
}

const char* kMouseRanking = "VID=1133&PID=50475&MID=16449&Tra=USB&OS0=101200&OS1=0&Cnt=20";

// Answers are kept, but an upload through the service counts in the very next ranking; one
// stored behind its back (another service process on the same database) within the age bound.
TEST(ServiceRankingCache, AnUploadCountsInTheNextRankingAndOthersWithinTheBound) {
  TempFolder folder;
  auto storage = vl::test::valueOf(openSqliteStorage(folder.path() + "/s.sqlite"));
  ASSERT_TRUE(storage);
  int64_t now = 1000000;
  Service service(*storage, *Catalogue::parse(""), [&now] { return now; }, {16, 1000});

  ASSERT_EQ(service.handle("GET", kUploadPath, kGoodUpload).status, 200);
  EXPECT_EQ(countsOf(service.handle("GET", kRankingPath, kMouseRanking)), std::make_pair(int64_t{1}, int64_t{1}));
  ASSERT_EQ(service.handle("GET", kUploadPath, uploadWith("Mac", "second")).status, 200);
  EXPECT_EQ(countsOf(service.handle("GET", kRankingPath, kMouseRanking)), std::make_pair(int64_t{2}, int64_t{2}));

  // A row stored by someone else: the kept answer stands until it is 1000 ms old.
  UploadRow other;
  QueryFields q;
  ASSERT_TRUE(parseQuery(uploadWith("Mac", "elsewhere"), &q));
  vl::Status parsed = parseUpload(q, &other);
  ASSERT_TRUE(parsed) << parsed.detail();
  ASSERT_TRUE(storage->upsertUpload(other).ok());
  now += 999;
  EXPECT_EQ(countsOf(service.handle("HEAD", kRankingPath, kMouseRanking)).second, 2);
  now += 1;
  EXPECT_EQ(countsOf(service.handle("GET", kRankingPath, kMouseRanking)).second, 3);

  // An upload of another model leaves this model's answer alone; a refused one changes nothing.
  ASSERT_TRUE(storage->upsertUpload([&] {
                UploadRow r = other;
                r.machine = "behind";
                return r;
              }())
                  .ok());
  ASSERT_EQ(service.handle("GET", kUploadPath, uploadWith("PID", "1")).status, 200);
  ASSERT_EQ(service.handle("GET", kUploadPath, uploadWith("Acc", "99")).status, 400);
  EXPECT_EQ(countsOf(service.handle("GET", kRankingPath, kMouseRanking)).second, 3);
}

// A ranking computed while an upload of its model commits must not be kept as the answer
// after that upload: every upload, once answered, is in the next ranking whatever other
// threads ask meanwhile.
TEST(ServiceRankingCache, RankingsRacingAnUploadNeverHideIt) {
  TempFolder folder;
  auto storage = vl::test::valueOf(openSqliteStorage(folder.path() + "/s.sqlite"));
  ASSERT_TRUE(storage);
  Service service(*storage, *Catalogue::parse(""), [] { return int64_t{5}; }, {64, 0});
  std::atomic<bool> done{false};
  std::vector<std::thread> askers;
  for (int t = 0; t < 3; ++t) {
    askers.emplace_back([&] {
      while (!done) service.handle("GET", kRankingPath, kMouseRanking);
    });
  }
  for (int i = 1; i <= 60; ++i) {
    ASSERT_EQ(service.handle("GET", kUploadPath, uploadWith("Mac", ("m" + std::to_string(i)).c_str())).status, 200);
    ASSERT_EQ(countsOf(service.handle("GET", kRankingPath, kMouseRanking)).second, i) << "after upload " << i;
  }
  done = true;
  for (auto& t : askers) t.join();
}

// The cache's memory is bounded: past its size everything is dropped and filled again.
TEST(ServiceRankingCache, KeepsAtMostItsSize) {
  RankingCache cache(3, 0);
  DeviceModel m{1, 2, 3, "USB"};
  for (int i = 0; i < 10; ++i) cache.store("q" + std::to_string(i), m, cache.generation(m), "body", 0);
  EXPECT_LE(cache.size(), 3u);
  uint64_t before = cache.generation(m);
  cache.invalidate(m);
  cache.store("late", m, before, "stale", 0);
  EXPECT_EQ(cache.find("late", 0), nullptr);
  EXPECT_EQ(cache.size(), 0u);
}

TEST(ServiceLog, OneLineWithoutTheQuery) {
  std::string line = logLine(1700000000123, "127.0.0.1:5000", "GET", "/velmora/xml/setting.php", 200, 7, 2.5);
  EXPECT_EQ(line, "2023-11-14T22:13:20.123Z 127.0.0.1:5000 GET /velmora/xml/setting.php 200 7 2.5ms");
  EXPECT_EQ(logLine(5, "p", "GET", "/a b\n", 404, 0, 0), "1970-01-01T00:00:00.005Z p GET /a?b? 404 0 0.0ms");
}

TEST(ServiceOptions, ListenAddresses) {
  struct Case {
    const char* text;
    bool ok;
    const char* host;
    int port;
  } cases[] = {
      {"127.0.0.1:0", true, "127.0.0.1", 0},      {":8080", true, "127.0.0.1", 8080},
      {"[::1]:47810", true, "::1", 47810},       {"localhost:1", true, "localhost", 1},
      {"127.0.0.1", false, "", 0},               {"127.0.0.1:65536", false, "", 0},
      {"127.0.0.1:-1", false, "", 0},            {"::1:80", false, "", 0},
      {"127.0.0.1:8o", false, "", 0},
  };
  for (const auto& c : cases) {
    std::string host;
    int port = -1;
    EXPECT_EQ(parseListen(c.text, &host, &port).ok(), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(host, c.host);
      EXPECT_EQ(port, c.port);
    }
  }
}

TEST(ServiceOptions, DefaultsFollowTheWorldAndRemoteListeningNeedsPublic) {
  ServiceEnvironment env{"", "/data", "/home/u", "/res"};
  auto plain = parseServiceOptions({}, env);
  ASSERT_TRUE(plain) << plain.status().detail();
  EXPECT_EQ(plain->storage, "sqlite:/data/velmora/service.sqlite");
  EXPECT_EQ(plain->addressFile, "");
  EXPECT_EQ(plain->port, kDefaultPort);
  EXPECT_EQ(plain->catalogue, "/res/service-catalogue.txt");

  auto world = parseServiceOptions({"--world", "/w"}, env);
  ASSERT_TRUE(world);
  EXPECT_EQ(world->storage, "sqlite:/w/service/service.sqlite");
  EXPECT_EQ(world->addressFile, "/w/service/url");
  env.world = "/envworld";
  auto fromEnv = parseServiceOptions({"--address-file=/a", "--storage", "postgresql://x/db"}, env);
  ASSERT_TRUE(fromEnv);
  EXPECT_EQ(fromEnv->addressFile, "/a");
  EXPECT_EQ(fromEnv->storage, "postgresql://x/db");

  auto open = parseServiceOptions({"--listen", "0.0.0.0:80"}, env);
  EXPECT_FALSE(open);
  EXPECT_NE(open.status().detail().find("--public"), std::string::npos);
  EXPECT_TRUE(parseServiceOptions({"--listen", "0.0.0.0:80", "--public"}, env));
  auto mistyped = parseServiceOptions({"--thread", "2"}, env);
  EXPECT_FALSE(mistyped);
  EXPECT_NE(mistyped.status().detail().find("'--threads'"), std::string::npos) << mistyped.status().detail();
  EXPECT_FALSE(parseServiceOptions({"--threads", "0"}, env));
  EXPECT_FALSE(parseServiceOptions({"--storage"}, env));

  auto tls = parseServiceOptions({"--tls-cert", "/c.pem", "--tls-key", "/k.pem"}, env);
  ASSERT_TRUE(tls) << tls.status().detail();
  EXPECT_EQ(tls->tlsCert, "/c.pem");
  EXPECT_EQ(tls->tlsKey, "/k.pem");
  auto halfTls = parseServiceOptions({"--tls-cert", "/c.pem"}, env);
  EXPECT_FALSE(halfTls);
  EXPECT_NE(halfTls.status().detail().find("go together"), std::string::npos) << halfTls.status().detail();
}

TEST(ServiceStorageUrl, ChoosesTheBackendOrSaysWhyNot) {
  TempFolder folder;
  auto bare = openStorage(folder.path() + "/bare.sqlite");
  EXPECT_TRUE(bare) << bare.status().detail();
  auto url = openStorage("sqlite://" + folder.path() + "/url.sqlite");
  EXPECT_TRUE(url) << url.status().detail();
  auto mysql = openStorage("mysql://localhost/db");
  EXPECT_FALSE(mysql);
  EXPECT_NE(mysql.status().detail().find("unknown storage URL scheme 'mysql'"), std::string::npos);
  EXPECT_FALSE(openStorage("sqlite:"));
  EXPECT_FALSE(openStorage("sqlite:/proc/no/such/place.sqlite"));
}

TEST(ServiceStorageUrl, SqliteKeepsRowsAcrossOpeningsAndRefusesANewerSchema) {
  TempFolder folder;
  std::string path = folder.path() + "/s.sqlite";
  {
    auto s = vl::test::valueOf(openSqliteStorage(path));
    ASSERT_TRUE(s);
    UploadRow row;
    row.machine = "m";
    row.senMillionths = 1000 * kSettingScale;
    ASSERT_TRUE(s->upsertUpload(row).ok());
  }
  {
    auto s = vl::test::valueOf(openSqliteStorage(path));
    ASSERT_TRUE(s);
    int64_t n = 0;
    ASSERT_TRUE(s->rowCount(&n).ok());
    EXPECT_EQ(n, 1);
  }
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "PRAGMA user_version = 99", nullptr, nullptr, nullptr);
    sqlite3_close(db);
  }
  auto newer = openSqliteStorage(path);
  EXPECT_FALSE(newer);
  const std::string& error = newer.status().detail();
  EXPECT_NE(error.find("schema version 99"), std::string::npos) << error;
}

}  // namespace
}  // namespace svc::test
