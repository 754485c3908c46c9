// The libcurl web client against an in-process HTTP server on a loopback port: answers of any
// status, transport errors with their codes, no redirects, time-outs, started requests handed
// back on the main loop, cancelling, and refusing plain HTTP to another machine.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "core/runloop/virtual_runloop.h"
#include "platform/linux/curl_http_client.h"
#include "platform/linux/sd_event_runloop.h"
#include "support/result_value.h"

namespace vl {
namespace {

using linux_::CurlHttpClient;
using linux_::SdEventRunLoop;

std::string text(const pl::Data& d) { return std::string(d.begin(), d.end()); }

// A server on 127.0.0.1 with a few paths; /hold waits until release() (or the end of the test).
class TestServer {
 public:
  TestServer() {
    server_.Get("/ok", [this](const httplib::Request& req, httplib::Response& res) {
      ++okHits;
      lastQuery = req.has_param("VID") ? req.get_param_value("VID") : std::string();
      res.set_content("hello", "text/plain");
    });
    server_.Get("/missing", [](const httplib::Request&, httplib::Response& res) {
      res.status = 404;
      res.set_content("no such page", "text/plain");
    });
    server_.Get("/moved", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/ok"); });
    server_.Get("/hold", [this](const httplib::Request&, httplib::Response& res) {
      std::unique_lock<std::mutex> lock(m_);
      ++held_;
      cv_.notify_all();
      cv_.wait(lock, [&] { return released_; });
      res.set_content("late", "text/plain");
    });
    port = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
  }
  ~TestServer() {
    release();
    server_.stop();
    thread_.join();
  }
  void release() {
    std::lock_guard<std::mutex> lock(m_);
    released_ = true;
    cv_.notify_all();
  }
  void waitHeld(int n) {
    std::unique_lock<std::mutex> lock(m_);
    cv_.wait(lock, [&] { return held_ >= n; });
  }
  std::string base() const { return "http://127.0.0.1:" + std::to_string(port); }

  int port = 0;
  std::atomic<int> okHits{0};
  std::string lastQuery;

 private:
  httplib::Server server_;
  std::thread thread_;
  std::mutex m_;
  std::condition_variable cv_;
  int held_ = 0;
  bool released_ = false;
};

// A loopback port nobody listens on.
int closedPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

std::unique_ptr<SdEventRunLoop> makeLoop() { return test::valueOf(SdEventRunLoop::create()); }

// Runs the real loop until done() or a generous bound of passes (a failing test ends, a
// passing one returns as soon as the answer is in).
template <class F>
void runUntil(SdEventRunLoop& loop, F done) {
  for (int i = 0; i < 2000 && !done(); ++i) loop.runOnce(0.01);
}

TEST(ServiceAddress, LoopbackAndSchemes) {
  struct Row {
    const char* url;
    bool valid, secure, loopback;
  } rows[] = {
      {"http://127.0.0.1:47810", true, false, true},
      {"http://127.200.3.4", true, false, true},
      {"http://[::1]:8080/prefix", true, false, true},
      {"http://LocalHost:1", true, false, true},
      {"https://service.example.com", true, true, false},
      {"http://127.0.0.1.example.com", true, false, false},
      {"http://128.0.0.1", true, false, false},
      {"http://[::2]", true, false, false},
      {"ftp://127.0.0.1", false, false, true},
      {"not a url", false, false, false},
  };
  for (const Row& r : rows) {
    auto a = linux_::parseServiceAddress(r.url);
    EXPECT_EQ(a.valid, r.valid) << r.url;
    if (!r.valid) continue;
    EXPECT_EQ(a.secure, r.secure) << r.url;
    EXPECT_EQ(a.loopback, r.loopback) << r.url;
  }
}

TEST(CurlHttpClient, AnswersOfAnyStatusAndNoRedirects) {
  TestServer server;
  CurlHttpClient client(server.base() + "/", nullptr);

  HttpResult ok = client.get("/ok", "VID=1133&PID=50475", 5.0);
  ASSERT_TRUE(ok.ok()) << ok.error.description;
  EXPECT_EQ(ok.response->status, 200);
  EXPECT_EQ(text(ok.response->body), "hello");
  EXPECT_EQ(server.lastQuery, "1133");

  // A 404 is still an answer: the caller judges the body.
  HttpResult missing = client.get("/missing", "", 5.0);
  ASSERT_TRUE(missing.ok());
  EXPECT_EQ(missing.response->status, 404);
  EXPECT_EQ(text(missing.response->body), "no such page");

  // The redirect comes back as it is; its target is never asked.
  int before = server.okHits;
  HttpResult moved = client.get("/moved", "", 5.0);
  ASSERT_TRUE(moved.ok());
  EXPECT_EQ(moved.response->status, 302);
  EXPECT_EQ(server.okHits, before);
}

TEST(CurlHttpClient, TransportErrorsAndRefusals) {
  struct Row {
    std::string base;
    int code;
  } rows[] = {
      {"http://127.0.0.1:" + std::to_string(closedPort()), kURLErrorCannotConnectToHost},
      // Refused before any connection: an address that would otherwise time out or fail.
      {"http://192.0.2.1:80", kURLErrorAppTransportSecurityRequiresSecureConnection},
      {"http://service.example.com", kURLErrorAppTransportSecurityRequiresSecureConnection},
      {"gopher://127.0.0.1", kURLErrorBadURL},
  };
  for (const Row& r : rows) {
    CurlHttpClient client(r.base, nullptr);
    HttpResult result = client.get("/velmora/xml/setting.php", "VID=1", 5.0);
    EXPECT_FALSE(result.ok()) << r.base;
    EXPECT_EQ(result.error.domain, kURLErrorDomain) << r.base;
    EXPECT_EQ(result.error.code, r.code) << r.base << ": " << result.error.description;
    EXPECT_FALSE(result.error.description.empty());
  }
}

// A stand-in proxy on loopback that records the first line of whatever connects to it.
class FakeProxy {
 public:
  FakeProxy() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t n = sizeof a;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &n);
    port = ntohs(a.sin_port);
    listen(fd_, 8);
    thread_ = std::thread([this] {
      int c = accept(fd_, nullptr, nullptr);
      if (c < 0) return;
      char buffer[512] = {};
      ssize_t got = recv(c, buffer, sizeof buffer - 1, 0);
      std::lock_guard lock(m_);
      if (got > 0) firstLine_ = std::string(buffer, static_cast<size_t>(got)).substr(0, std::string(buffer).find('\r'));
      connected_ = true;
      close(c);
    });
  }
  ~FakeProxy() {
    shutdown(fd_, SHUT_RDWR);
    thread_.join();
    close(fd_);
  }
  bool connected() {
    std::lock_guard lock(m_);
    return connected_;
  }
  std::string firstLine() {
    std::lock_guard lock(m_);
    return firstLine_;
  }
  int port = 0;

 private:
  int fd_ = -1;
  std::thread thread_;
  std::mutex m_;
  bool connected_ = false;
  std::string firstLine_;
};

// Sets the proxy variables curl reads for the life of the object.
class ProxyEnvironment {
 public:
  explicit ProxyEnvironment(const std::string& url) {
    for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) setenv(name, url.c_str(), 1);
    for (const char* name : {"no_proxy", "NO_PROXY"}) unsetenv(name);
  }
  ~ProxyEnvironment() {
    for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) unsetenv(name);
  }
};

// A proxy in the environment must not carry a plain-HTTP request (with the machine's digest)
// off the machine: requests to this machine's service go straight to it, and a remote service
// is reached through a proxy only as a CONNECT tunnel that carries TLS end to end.
TEST(CurlHttpClient, ProxiesCarryOnlyTunnelledTlsAndNeverTheLoopbackService) {
  TestServer server;
  {
    FakeProxy proxy;
    ProxyEnvironment env("http://127.0.0.1:" + std::to_string(proxy.port));
    CurlHttpClient client(server.base() + "/", nullptr);
    HttpResult ok = client.get("/ok", "VID=7", 5.0);
    ASSERT_TRUE(ok.ok()) << ok.error.description;
    EXPECT_EQ(ok.response->status, 200);
    EXPECT_FALSE(proxy.connected());
  }
  {
    FakeProxy proxy;
    ProxyEnvironment env("http://127.0.0.1:" + std::to_string(proxy.port));
    CurlHttpClient client("https://service.example.com", nullptr);
    HttpResult result = client.get("/velmora/xml/setting.php", "VID=1&Mac=secret", 5.0);
    EXPECT_FALSE(result.ok());
    EXPECT_TRUE(proxy.connected());
    EXPECT_EQ(proxy.firstLine().rfind("CONNECT service.example.com:443 ", 0), 0u) << proxy.firstLine();
    EXPECT_EQ(proxy.firstLine().find("secret"), std::string::npos);
  }
}

TEST(CurlHttpClient, ShortTimeOut) {
  TestServer server;
  CurlHttpClient client(server.base(), nullptr);
  HttpResult r = client.get("/hold", "", 0.2);
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(r.error.code, kURLErrorTimedOut);
}

TEST(CurlHttpClient, StartedRequestCompletesOnTheMainLoop) {
  TestServer server;
  auto loop = makeLoop();
  CurlHttpClient client(server.base(), loop.get());
  const auto mainThread = std::this_thread::get_id();

  std::vector<HttpResult> results;
  std::thread::id ranOn;
  client.startGet("/ok", "", 5.0, [&](HttpResult r) {
    ranOn = std::this_thread::get_id();
    results.push_back(std::move(r));
  });
  // A refused request also completes later, never inside the call.
  CurlHttpClient remote("http://192.0.2.1", loop.get());
  std::optional<HttpResult> refused;
  remote.startGet("/ok", "", 5.0, [&](HttpResult r) { refused = std::move(r); });
  EXPECT_TRUE(results.empty());
  EXPECT_FALSE(refused);

  runUntil(*loop, [&] { return !results.empty() && refused; });
  ASSERT_EQ(results.size(), 1u);
  ASSERT_TRUE(results[0].ok());
  EXPECT_EQ(text(results[0].response->body), "hello");
  EXPECT_EQ(ranOn, mainThread);
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->error.code, kURLErrorAppTransportSecurityRequiresSecureConnection);
  EXPECT_EQ(client.pendingCount(), 0u);
}

TEST(CurlHttpClient, CancelledCompletionNeverRuns) {
  TestServer server;
  auto loop = makeLoop();
  CurlHttpClient client(server.base(), loop.get());
  bool cancelledRan = false;
  bool otherDone = false;
  auto id = client.startGet("/hold", "", 5.0, [&](HttpResult) { cancelledRan = true; });
  server.waitHeld(1);
  client.cancel(id);
  client.cancel(id);  // twice, and unknown ids, are ignored
  client.cancel(9999);
  server.release();
  // A later request on the same worker finishes; the cancelled one stays silent.
  client.startGet("/ok", "", 5.0, [&](HttpResult) { otherDone = true; });
  runUntil(*loop, [&] { return otherDone; });
  EXPECT_TRUE(otherDone);
  EXPECT_FALSE(cancelledRan);
}

TEST(CurlHttpClient, DestructionAbandonsPendingRequests) {
  TestServer server;
  auto loop = makeLoop();
  bool ran = false;
  {
    CurlHttpClient client(server.base(), loop.get());
    client.startGet("/hold", "", 5.0, [&](HttpResult) { ran = true; });
    server.waitHeld(1);
  }  // joins the worker without waiting for the server
  server.release();
  for (int i = 0; i < 5; ++i) loop->runOnce(0.001);
  EXPECT_FALSE(ran);
}

TEST(CurlHttpClient, OtherLoopsDrainWhilePending) {
  TestServer server;
  VirtualRunLoop loop;
  CurlHttpClient client(server.base(), &loop);
  std::optional<HttpResult> result;
  client.startGet("/missing", "", 5.0, [&](HttpResult r) { result = std::move(r); });
  for (int i = 0; i < 5000 && !result; ++i) {
    loop.advance(0.005);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));  // the worker runs in real time
  }
  ASSERT_TRUE(result && result->ok());
  EXPECT_EQ(result->response->status, 404);
  // Nothing pending: no timer keeps the loop busy.
  loop.advance(1.0);
  EXPECT_EQ(loop.pendingCount(), 0u);
}

}  // namespace
}  // namespace vl
