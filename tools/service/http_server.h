// The socket side of the web service: a cpp-httplib server with a thread pool that hands every
// request to the Service and logs one line per request.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "tools/service/requests.h"

namespace httplib {
class Server;
}

namespace svc {

struct HttpServerOptions {
  std::string host = "127.0.0.1";
  int port = 0;  // 0: any free port
  int threads = 4;
  std::function<void(const std::string&)> log;  // one line per request, no newline; may be empty
};

class HttpServer {
 public:
  HttpServer(const Service& service, HttpServerOptions options);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Binds the listening socket; false with *error when the address cannot be had.
  bool bind(std::string* error);
  int port() const { return port_; }
  // "http://HOST:PORT" of the bound socket (an IPv6 host in brackets).
  std::string baseUrl() const;

  // Serves until stop(); false when serving could not start. Clients may connect as soon as
  // bind() succeeded: the socket queues them until run() takes them.
  bool run();
  // From any thread (not a signal handler); returns once run() has returned, or at once when
  // it is not running. A run() begun after stop() returns at once.
  void stop();

 private:
  const Service& service_;
  HttpServerOptions options_;
  std::unique_ptr<httplib::Server> server_;
  int port_ = -1;
  std::mutex mutex_;
  std::condition_variable ended_;
  bool running_ = false;
  bool stopping_ = false;
};

}  // namespace svc
