// The service over real loopback sockets: the server in this process on a free port, asked
// with cpp-httplib's client, with raw sockets for what no well-behaved client sends (slow and
// flooding clients, bodies on a GET, pipelined requests), and with libcurl over TLS.
#include <arpa/inet.h>
#include <curl/curl.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "core/plist/codec.h"
#include "service/storage_suite.h"
#include "tools/service/http_server.h"
#include "support/result_value.h"

namespace svc::test {
namespace {

// A plain TCP client on loopback that sends exactly the bytes it is given.
class RawClient {
 public:
  explicit RawClient(int port) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  ~RawClient() {
    if (fd_ >= 0) close(fd_);
  }
  bool connected() const { return connected_; }
  // Sends as much as the peer takes; false once it stops taking (closed or reset).
  bool send(std::string_view bytes) {
    while (!bytes.empty()) {
      ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n <= 0) return false;
      bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
  }
  // Everything received until the peer closes, or until nothing came for waitMillis.
  std::string receive(int waitMillis = 5000, bool* closed = nullptr) {
    std::string out;
    if (closed) *closed = false;
    for (;;) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, waitMillis) <= 0) return out;
      char buffer[65536];
      ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
      if (n <= 0) {
        if (closed) *closed = true;
        return out;
      }
      out.append(buffer, static_cast<size_t>(n));
    }
  }

 private:
  int fd_ = -1;
  bool connected_ = false;
};

// The status codes of the answers in a stream of bytes, in order.
std::vector<int> statuses(const std::string& stream) {
  std::vector<int> out;
  for (size_t at = stream.find("HTTP/1.1 "); at != std::string::npos; at = stream.find("HTTP/1.1 ", at + 1)) {
    out.push_back(std::stoi(stream.substr(at + 9, 3)));
  }
  return out;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

const char* kUpload =
    "/velmora/xml/setting.php?VID=1452&PID=613&MID=0&Tra=Bluetooth&Dev=T&Mac=smuggled&OSV=101507&App=&Acc=1&Sen=900";

class ServiceOverSocket : public testing::Test {
 protected:
  void SetUp() override { startServer([](HttpServerOptions&) {}); }
  void startServer(const std::function<void(HttpServerOptions&)>& adjust) {
    storage_ = vl::test::valueOf(openSqliteStorage(folder_.path() + "/s.sqlite"));
    ASSERT_TRUE(storage_);
    service_ = std::make_unique<Service>(*storage_, *Catalogue::parse("vl Velmora2.2.3.dmg\n"),
                                         [] { return int64_t{1}; });
    HttpServerOptions options;
    options.port = 0;
    options.threads = 2;
    options.monotonicMillis = [this] { return clock_.load(); };
    options.reapPeriodMillis = 0;
    adjust(options);
    options.log = [this](const std::string& line) {
      std::lock_guard lock(logMutex_);
      log_.push_back(line);
    };
    server_ = std::make_unique<HttpServer>(*service_, options);
    vl::Status bindResult = server_->bind();
    ASSERT_TRUE(bindResult) << bindResult.detail();
    thread_ = std::thread([this] { server_->run(); });
    client_ = std::make_unique<httplib::Client>("127.0.0.1", server_->port());
    client_->set_read_timeout(10, 0);
  }
  void TearDown() override { stopServer(); }
  void stopServer() {
    if (server_) server_->stop();
    if (thread_.joinable()) thread_.join();
    server_.reset();
  }
  int64_t storedRows() {
    int64_t n = -1;
    EXPECT_TRUE(storage_->rowCount(&n).ok());
    return n;
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
  std::atomic<int64_t> clock_{1000};
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

// More slow clients than worker threads, each holding half a request: an event-driven server
// keeps answering everyone else (a thread per connection answered no one).
TEST_F(ServiceOverSocket, SlowClientsDoNotHoldUpOthers) {
  std::vector<std::unique_ptr<RawClient>> slow;
  for (int i = 0; i < 40; ++i) {
    slow.push_back(std::make_unique<RawClient>(server_->port()));
    ASSERT_TRUE(slow.back()->connected());
    ASSERT_TRUE(slow.back()->send("GET /velmora/xml/file.php?app=vl&osv=1 HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Drip: "));
  }
  for (int i = 0; i < 5; ++i) {
    auto r = client_->Get("/velmora/xml/file.php?app=vl&osv=101507");
    ASSERT_TRUE(r) << "answer " << i << " while 40 clients dripped: " << httplib::to_string(r.error());
    EXPECT_EQ(r->status, 200);
  }
}

// A connection that has not completed a request within the deadline is closed however
// steadily it drips bytes; one that completes its requests in time stays open.
TEST_F(ServiceOverSocket, RequestDeadlineClosesAConnectionThatNeverFinishesARequest) {
  RawClient dripping(server_->port());
  RawClient prompt(server_->port());
  ASSERT_TRUE(dripping.send("GET /velmora/xml/file.php?app=vl&osv=1 HTTP/1.1\r\nHost: 127.0.0.1\r\n"));
  // Let the server see both connections before time moves on.
  for (int i = 0; i < 200 && server_->openConnections() < 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_EQ(server_->openConnections(), 2u);
  clock_ += 15000;
  ASSERT_TRUE(dripping.send("X-Drip: 1\r\n"));
  ASSERT_TRUE(prompt.send("GET /velmora/xml/file.php?app=vl&osv=1 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
  EXPECT_EQ(statuses(prompt.receive(300)), (std::vector<int>{200}));
  clock_ += 10000;  // 25 s since the dripping one began, 10 s since the prompt one's answer
  EXPECT_EQ(server_->reapOverdue(), 1);
  bool closed = false;
  std::string got = dripping.receive(5000, &closed);
  EXPECT_TRUE(closed) << got;
  EXPECT_TRUE(statuses(got).empty()) << got;
  ASSERT_TRUE(prompt.send("GET /velmora/xml/file.php?app=vl&osv=1 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
  EXPECT_EQ(statuses(prompt.receive(300)), (std::vector<int>{200}));
}

// Headers past the per-connection memory limit are refused and the connection closed, not
// read on into memory.
TEST_F(ServiceOverSocket, HeaderFloodIsRefusedAtTheMemoryLimit) {
  std::vector<std::thread> floods;
  std::atomic<int> refused{0};
  for (int i = 0; i < 4; ++i) {
    floods.emplace_back([&] {
      RawClient c(server_->port());
      c.send("GET /velmora/xml/file.php?app=vl&osv=1 HTTP/1.1\r\nHost: 127.0.0.1\r\n");
      std::string header = "X-Flood: " + std::string(8 * 1024, 'a') + "\r\n";
      // 8 MB offered; the server must stop taking long before.
      int sent = 0;
      for (; sent < 1024 && c.send(header); ++sent) {
      }
      bool closed = false;
      std::string got = c.receive(5000, &closed);
      auto s = statuses(got);
      if (closed && (s.empty() || s[0] == 431 || s[0] == 413 || s[0] == 414)) ++refused;
    });
  }
  for (auto& t : floods) t.join();
  EXPECT_EQ(refused.load(), 4);
  auto r = client_->Get("/velmora/xml/file.php?app=vl&osv=101507");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
}

// A GET that announces a body is refused and its connection closed: a body arriving later,
// shaped as a whole upload request, is never read as a request of its own.
TEST_F(ServiceOverSocket, ABodyOnAGetIsRefusedAndNeverTakenForTheNextRequest) {
  std::string smuggled = std::string("GET ") + kUpload + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  for (const char* framing : {"Content-Length: ", "Transfer-Encoding: chunked\r\nX-Length: "}) {
    RawClient c(server_->port());
    ASSERT_TRUE(c.send("GET /velmora/xml/file.php?app=vl&osv=1 HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                       std::string(framing) + std::to_string(smuggled.size()) + "\r\n\r\n"));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the body in a later segment
    c.send(smuggled);
    bool closed = false;
    std::string got = c.receive(5000, &closed);
    EXPECT_EQ(statuses(got), (std::vector<int>{400})) << framing << got;
    EXPECT_TRUE(closed) << framing;
  }
  EXPECT_EQ(storedRows(), 0);
}

// Requests written back to back in one segment are all answered, in order.
TEST_F(ServiceOverSocket, PipelinedRequestsAreAllAnsweredInOrder) {
  std::string batch;
  std::vector<int> expected;
  for (int i = 0; i < 12; ++i) {
    bool upload = i % 3 == 0;
    std::string target = upload ? std::string(kUpload).replace(std::string(kUpload).find("smuggled"), 8,
                                                               "pipe" + std::to_string(i))
                                : (i % 3 == 1 ? "/velmora/xml/file.php?app=vl&osv=101507" : "/nothing");
    batch += "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + (i == 11 ? "Connection: close\r\n" : "") + "\r\n";
    expected.push_back(i % 3 == 2 ? 404 : 200);
  }
  RawClient c(server_->port());
  ASSERT_TRUE(c.send(batch));
  bool closed = false;
  std::string got = c.receive(5000, &closed);
  EXPECT_EQ(statuses(got), expected) << got;
  EXPECT_TRUE(closed);
  EXPECT_EQ(storedRows(), 4);
}

size_t collect(char* data, size_t size, size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

// With a certificate and key the service speaks HTTPS itself; a client that trusts the
// certificate gets its answer, and plain HTTP on that port gets none.
TEST(ServiceServerTls, ServesHttpsWithTheGivenCertificate) {
  std::string data = VELMORA_TEST_DATA;
  TempFolder folder;
  auto storage = vl::test::valueOf(openSqliteStorage(folder.path() + "/s.sqlite"));
  ASSERT_TRUE(storage);
  Service service(*storage, *Catalogue::parse("vl Velmora2.2.3.dmg\n"), [] { return int64_t{1}; });
  HttpServerOptions options;
  options.tlsCertPem = readFile(data + "/service/loopback-cert.pem");
  options.tlsKeyPem = readFile(data + "/service/loopback-key.pem");
  ASSERT_FALSE(options.tlsCertPem.empty());
  HttpServer server(service, options);
  vl::Status bindResult = server.bind();
  ASSERT_TRUE(bindResult) << bindResult.detail();
  vl::Status startResult = server.start();
  ASSERT_TRUE(startResult) << startResult.detail();
  std::thread serving([&] { server.run(); });
  EXPECT_EQ(server.baseUrl().rfind("https://127.0.0.1:", 0), 0u) << server.baseUrl();

  CURL* curl = curl_easy_init();
  std::string body;
  std::string url = server.baseUrl() + "/velmora/xml/file.php?app=vl&osv=101507";
  std::string ca = data + "/service/loopback-cert.pem";
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_CAINFO, ca.c_str());
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 10L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  CURLcode rc = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_easy_cleanup(curl);
  EXPECT_EQ(rc, CURLE_OK) << curl_easy_strerror(rc);
  EXPECT_EQ(status, 200);
  EXPECT_NE(body.find("Velmora2.2.3.dmg"), std::string::npos) << body;

  RawClient plain(server.port());
  plain.send("GET /velmora/xml/file.php?app=vl&osv=101507 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
  EXPECT_TRUE(statuses(plain.receive(2000)).empty());
  server.stop();
  serving.join();
}

TEST(ServiceServerTls, AnUnusableKeyIsReportedAtStart) {
  TempFolder folder;
  auto storage = vl::test::valueOf(openSqliteStorage(folder.path() + "/s.sqlite"));
  ASSERT_TRUE(storage);
  Service service(*storage, *Catalogue::parse(""), [] { return int64_t{0}; });
  HttpServerOptions options;
  options.tlsCertPem = readFile(std::string(VELMORA_TEST_DATA) + "/service/loopback-cert.pem");
  options.tlsKeyPem = "not a key";
  HttpServer server(service, options);
  vl::Status bindResult = server.bind();
  ASSERT_TRUE(bindResult) << bindResult.detail();
  vl::Status started = server.start();
  EXPECT_FALSE(started);
  EXPECT_NE(started.detail().find("TLS"), std::string::npos) << started.detail();
}

TEST(ServiceServer, StopBeforeRunEndsTheRunAtOnce) {
  TempFolder folder;
  auto storage = vl::test::valueOf(openSqliteStorage(folder.path() + "/s.sqlite"));
  ASSERT_TRUE(storage);
  Service service(*storage, *Catalogue::parse(""), [] { return int64_t{0}; });
  HttpServer server(service, {});
  vl::Status bindResult = server.bind();
  ASSERT_TRUE(bindResult) << bindResult.detail();
  server.stop();
  EXPECT_TRUE(server.run());
}

}  // namespace
}  // namespace svc::test
