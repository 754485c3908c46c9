// The socket side of the web service: a libmicrohttpd daemon (a thread pool over epoll, with
// memory, time and connection limits, optionally TLS) that hands every request to the Service
// and logs one line per request.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "tools/service/requests.h"

struct MHD_Daemon;
struct MHD_Connection;

namespace svc {

struct HttpServerOptions {
  std::string host = "127.0.0.1";
  int port = 0;  // 0: any free port
  int threads = 4;
  std::function<void(const std::string&)> log;  // one line per request, no newline; may be empty

  // TLS: both PEM texts given -> HTTPS; both empty -> plain HTTP.
  std::string tlsCertPem;
  std::string tlsKeyPem;

  // Every request is a short GET: a request line and headers beyond this many bytes are
  // refused (431/414) and the connection closed, so a header flood costs this much at most.
  size_t connectionMemoryLimit = 32 * 1024;
  int connectionLimit = 1024;    // open connections at once; more wait in the listen queue
  int perAddressLimit = 256;     // open connections from one client address
  int listenBacklog = 1024;
  int idleTimeoutSeconds = 15;   // a connection that sends nothing for this long is closed
  // A connection must complete a request within this long of its start or of its previous
  // answer, however slowly it keeps sending: a client dripping bytes cannot hold it open.
  int requestDeadlineMillis = 20000;
  // How often the deadline is checked; 0: never by itself (tests call reapOverdue()).
  int reapPeriodMillis = 1000;
  // Monotonic milliseconds for the deadline; a test's virtual clock may stand in.
  std::function<int64_t()> monotonicMillis;
};

class HttpServer {
 public:
  HttpServer(const Service& service, HttpServerOptions options);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Binds and listens; a failure when the address cannot be had.
  vl::Status bind();
  int port() const { return port_; }
  // "http://HOST:PORT" (or https) of the bound socket (an IPv6 host in brackets).
  std::string baseUrl() const;

  // Starts answering on the bound socket (the daemon's own threads); a failure when it cannot
  // (an unusable TLS key or certificate). run() starts it when this was not called.
  vl::Status start();
  // Serves until stop(); false with the reason logged when serving could not start. Clients
  // may connect as soon as bind() succeeded: the socket queues them until run() takes them.
  bool run();
  // From any thread (not a signal handler); returns once run() has returned, or at once when
  // it is not running. A run() begun after stop() returns at once.
  void stop();

  // Closes every connection that has gone past the request deadline; the number closed.
  int reapOverdue();
  // Open connections now (for tests and the log).
  size_t openConnections();

  struct ConnectionState;

 private:
  friend struct HttpServerCallbacks;
  bool answer(MHD_Connection* connection, ConnectionState* state, const char* method, bool hasBody);
  int64_t now() const;

  const Service& service_;
  HttpServerOptions options_;
  int listenFd_ = -1;
  int port_ = -1;
  MHD_Daemon* daemon_ = nullptr;

  std::mutex connectionsMutex_;
  std::map<MHD_Connection*, std::unique_ptr<ConnectionState>> connections_;

  std::mutex mutex_;
  std::condition_variable changed_;
  bool running_ = false;
  bool stopping_ = false;
};

}  // namespace svc
