// The service over a real socket: the server in this process on a free loopback port, asked
// with cpp-httplib's client.
#include <httplib.h>

#include <mutex>
#include <thread>

#include "core/plist/codec.h"
#include "service/storage_suite.h"
#include "tools/service/http_server.h"

namespace svc::test {
namespace {

class ServiceOverSocket : public testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    storage_ = openSqliteStorage(folder_.path() + "/s.sqlite", &error);
    ASSERT_TRUE(storage_) << error;
    service_ = std::make_unique<Service>(*storage_, *Catalogue::parse("vl Velmora2.2.3.dmg\n", &error),
                                         [] { return int64_t{1}; });
    HttpServerOptions options;
    options.port = 0;
    options.threads = 2;
    options.log = [this](const std::string& line) {
      std::lock_guard lock(logMutex_);
      log_.push_back(line);
    };
    server_ = std::make_unique<HttpServer>(*service_, options);
    ASSERT_TRUE(server_->bind(&error)) << error;
    thread_ = std::thread([this] { server_->run(); });
    client_ = std::make_unique<httplib::Client>("127.0.0.1", server_->port());
    client_->set_read_timeout(10, 0);
  }
  void TearDown() override {
    if (server_) server_->stop();
    if (thread_.joinable()) thread_.join();
  }
  std::vector<std::string> log() {
    std::lock_guard lock(logMutex_);
    return log_;
  }

  TempFolder folder_;
  std::unique_ptr<Storage> storage_;
  std::unique_ptr<Service> service_;
  std::unique_ptr<HttpServer> server_;
  std::thread thread_;
  std::unique_ptr<httplib::Client> client_;
  std::mutex logMutex_;
  std::vector<std::string> log_;
};

TEST_F(ServiceOverSocket, UploadThenRankingAnswersThePlist) {
  const std::string secret = "c0ffee-machine-digest";
  auto up = client_->Get("/velmora/xml/setting.php?VID=1452&PID=613&MID=0&Tra=Bluetooth&Dev=Magic%20Trackpad&Mac=" +
                         secret + "&OSV=101507&App=&Acc=1.5&Sen=1200");
  ASSERT_TRUE(up) << httplib::to_string(up.error());
  EXPECT_EQ(up->status, 200);
  auto rank = client_->Get("/velmora/xml/setting_rank.php?VID=1452&PID=613&MID=0&Tra=Bluetooth&OS0=101200&OS1=0&Cnt=20");
  ASSERT_TRUE(rank);
  EXPECT_EQ(rank->status, 200);
  EXPECT_EQ(rank->get_header_value("Content-Type"), "application/xml");
  auto read = pl::read(rank->body);
  ASSERT_TRUE(read) << read.error;
  ASSERT_TRUE(read.value->isArray());
  ASSERT_EQ(read.value->asArray()->size(), 1u);
  const auto& e = (*read.value->asArray())[0];
  EXPECT_EQ(e.numberFor("Acc"), 1.5);
  EXPECT_EQ(e.numberFor("Sen"), 1200.0);
  EXPECT_EQ(e.integerFor("Qty"), 1);
  EXPECT_EQ(e.integerFor("Tot"), 1);

  auto lines = log();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find(" GET /velmora/xml/setting.php 200 "), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("127.0.0.1:"), std::string::npos) << lines[0];
  for (const auto& l : lines) EXPECT_EQ(l.find(secret), std::string::npos) << l;
}

TEST_F(ServiceOverSocket, RefusalsCarryAShortPlainReason) {
  struct Case {
    std::string target;
    int status;
    const char* body;
  } cases[] = {
      {"/velmora/xml/setting.php?VID=1", 400, "PID is missing\n"},
      {"/velmora/xml/setting_rank.php?VID=1&PID=2&MID=0&Tra=USB&OS0=0&OS1=0&Cnt=500", 400,
       "Cnt is out of range (1 to 100)\n"},
      {"/velmora/xml/file.php?app=vl&osv=abc", 400, "osv is not a decimal integer\n"},
      {"/velmora/xml/nothing.php", 404, "no such path\n"},
      {"/", 404, "no such path\n"},
  };
  for (const auto& c : cases) {
    auto r = client_->Get(c.target);
    ASSERT_TRUE(r) << c.target;
    EXPECT_EQ(r->status, c.status) << c.target;
    EXPECT_EQ(r->body, c.body) << c.target;
    EXPECT_EQ(r->get_header_value("Content-Type"), "text/plain; charset=utf-8");
  }
  auto post = client_->Post("/velmora/xml/setting.php", "x", "text/plain");
  ASSERT_TRUE(post);
  EXPECT_EQ(post->status, 405);
  EXPECT_EQ(post->get_header_value("Allow"), "GET, HEAD");
}

TEST_F(ServiceOverSocket, VersionListAndHead) {
  auto r = client_->Get("/velmora/xml/file.php?app=vl&osv=101507");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  auto read = pl::read(r->body);
  ASSERT_TRUE(read && read.value->isArray());
  EXPECT_EQ(*read.value, pl::Value(pl::Array{"Velmora2.2.3.dmg"}));
  auto head = client_->Head("/velmora/xml/file.php?app=vl&osv=101507");
  ASSERT_TRUE(head);
  EXPECT_EQ(head->status, 200);
  EXPECT_TRUE(head->body.empty());
}

TEST(ServiceServer, StopBeforeRunEndsTheRunAtOnce) {
  TempFolder folder;
  std::string error;
  auto storage = openSqliteStorage(folder.path() + "/s.sqlite", &error);
  ASSERT_TRUE(storage);
  Service service(*storage, *Catalogue::parse("", &error), [] { return int64_t{0}; });
  HttpServer server(service, {});
  ASSERT_TRUE(server.bind(&error)) << error;
  server.stop();
  EXPECT_TRUE(server.run());
}

}  // namespace
}  // namespace svc::test
