// libmicrohttpd glue of the web service: the listening socket, the daemon's limits, routing
// every request to the Service, refusing request bodies, the request deadline and the log line.
#include "tools/service/http_server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdarg>
#include <cstring>
#include <vector>

namespace svc {

// What the server keeps per open connection. The raw request target of the request being read
// (the daemon's own parse decodes the query, which the Service reads itself) and when the
// connection last started waiting for a request, for the deadline.
struct HttpServer::ConnectionState {
  int fd = -1;
  std::string peer;
  std::string target;
  std::atomic<int64_t> waitingSince{0};
  enum class Phase { New, Read, Answered } phase = Phase::New;  // of the current request
};

namespace {

int64_t wallMillis() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string peerText(const sockaddr* address) {
  char host[INET6_ADDRSTRLEN] = "?";
  int port = 0;
  if (address && address->sa_family == AF_INET) {
    auto* in = reinterpret_cast<const sockaddr_in*>(address);
    inet_ntop(AF_INET, &in->sin_addr, host, sizeof host);
    port = ntohs(in->sin_port);
    return std::string(host) + ":" + std::to_string(port);
  }
  if (address && address->sa_family == AF_INET6) {
    auto* in6 = reinterpret_cast<const sockaddr_in6*>(address);
    inet_ntop(AF_INET6, &in6->sin6_addr, host, sizeof host);
    port = ntohs(in6->sin6_port);
    return "[" + std::string(host) + "]:" + std::to_string(port);
  }
  return "?";
}

// Paths and queries stay as the client sent them: the Service decodes the query itself.
size_t keepEscapes(void*, MHD_Connection*, char* s) { return std::strlen(s); }

void daemonLog(void* cls, const char* format, va_list args) {
  auto* server = static_cast<HttpServerOptions*>(cls);
  if (!server->log) return;
  char text[512];
  std::vsnprintf(text, sizeof text, format, args);
  std::string line = std::string("http: ") + text;
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  server->log(line);
}

}  // namespace

struct HttpServerCallbacks {
  static void* onUri(void* cls, const char* uri, MHD_Connection* connection) {
    auto* server = static_cast<HttpServer*>(cls);
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    auto* state = info ? static_cast<HttpServer::ConnectionState*>(info->socket_context) : nullptr;
    if (!state) return nullptr;
    state->target = uri ? uri : "";
    state->phase = HttpServer::ConnectionState::Phase::New;
    (void)server;
    return state;
  }

  static void onConnection(void* cls, MHD_Connection* connection, void** socketContext,
                           MHD_ConnectionNotificationCode code) {
    auto* server = static_cast<HttpServer*>(cls);
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
      auto state = std::make_unique<HttpServer::ConnectionState>();
      if (const MHD_ConnectionInfo* fd = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD)) {
        state->fd = fd->connect_fd;
        // Answers go out as headers and body: without this the body waits for the client's
        // delayed acknowledgement, about 40 ms a request on a kept-alive connection.
        int one = 1;
        setsockopt(state->fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      }
      if (const MHD_ConnectionInfo* a = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS)) {
        state->peer = peerText(a->client_addr);
      }
      state->waitingSince = server->now();
      *socketContext = state.get();
      std::lock_guard lock(server->connectionsMutex_);
      server->connections_[connection] = std::move(state);
    } else {
      // The daemon closes the socket only after this returns, so the reaper, which shuts
      // sockets down under the same lock, never touches a number already given to another.
      std::lock_guard lock(server->connectionsMutex_);
      server->connections_.erase(connection);
      *socketContext = nullptr;
    }
  }

  static void onCompleted(void* cls, MHD_Connection*, void** requestContext, MHD_RequestTerminationCode) {
    auto* server = static_cast<HttpServer*>(cls);
    if (auto* state = static_cast<HttpServer::ConnectionState*>(*requestContext)) state->waitingSince = server->now();
    *requestContext = nullptr;
  }

  static MHD_Result onRequest(void* cls, MHD_Connection* connection, const char*, const char* method, const char*,
                              const char*, size_t* uploadDataSize, void** requestContext) {
    auto* server = static_cast<HttpServer*>(cls);
    auto* state = static_cast<HttpServer::ConnectionState*>(*requestContext);
    if (!state) return MHD_NO;
    switch (state->phase) {
      case HttpServer::ConnectionState::Phase::New: {
        // Headers are in. Every request is a GET without a body: one that announces a body is
        // answered now, and the daemon closes the connection after the answer with the body
        // unread, so nothing smuggled in a body is ever taken for a request of its own.
        const char* length = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
        const char* coding =
            MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_TRANSFER_ENCODING);
        bool hasBody = coding != nullptr || (length != nullptr && std::string_view(length) != "0");
        if (hasBody) {
          state->phase = HttpServer::ConnectionState::Phase::Answered;
          return server->answer(connection, state, method, true) ? MHD_YES : MHD_NO;
        }
        // Answered on the next call, once the daemon has the whole request (an answer queued
        // before that ends the connection, and pipelined requests behind it with it).
        state->phase = HttpServer::ConnectionState::Phase::Read;
        return MHD_YES;
      }
      case HttpServer::ConnectionState::Phase::Read:
        if (*uploadDataSize != 0) {
          *uploadDataSize = 0;
          return MHD_YES;
        }
        state->phase = HttpServer::ConnectionState::Phase::Answered;
        return server->answer(connection, state, method, false) ? MHD_YES : MHD_NO;
      case HttpServer::ConnectionState::Phase::Answered:
        // The rest of a refused body: dropped unread.
        *uploadDataSize = 0;
        return MHD_YES;
    }
    return MHD_NO;
  }
};

HttpServer::HttpServer(const Service& service, HttpServerOptions options)
    : service_(service), options_(std::move(options)) {
  if (options_.threads < 1) options_.threads = 1;
  if (!options_.monotonicMillis) {
    options_.monotonicMillis = [] {
      return std::chrono::duration_cast<std::chrono::milliseconds>(
                 std::chrono::steady_clock::now().time_since_epoch())
          .count();
    };
  }
}

HttpServer::~HttpServer() {
  stop();
  if (daemon_) MHD_stop_daemon(daemon_);
  if (listenFd_ >= 0) close(listenFd_);
}

int64_t HttpServer::now() const { return options_.monotonicMillis(); }

vl::Status HttpServer::bind() {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  std::string service = std::to_string(options_.port);
  int rc = getaddrinfo(options_.host.c_str(), service.c_str(), &hints, &found);
  if (rc != 0) return vl::Status::failure(1, "cannot listen on " + options_.host + ": " + gai_strerror(rc));
  std::string why = "no address";
  for (addrinfo* a = found; a && listenFd_ < 0; a = a->ai_next) {
    int fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(fd, a->ai_addr, a->ai_addrlen) == 0 && listen(fd, options_.listenBacklog) == 0) {
      sockaddr_storage bound{};
      socklen_t length = sizeof bound;
      getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
      port_ = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                                : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
      listenFd_ = fd;
    } else {
      why = std::strerror(errno);
      close(fd);
    }
  }
  freeaddrinfo(found);
  if (listenFd_ < 0)
    return vl::Status::failure(1, "cannot listen on " + options_.host + ":" + std::to_string(options_.port) + " (" + why + ")");
  return vl::Status::success();
}

std::string HttpServer::baseUrl() const {
  std::string host = options_.host.find(':') != std::string::npos ? "[" + options_.host + "]" : options_.host;
  std::string scheme = options_.tlsCertPem.empty() ? "http://" : "https://";
  return scheme + host + ":" + std::to_string(port_);
}

vl::Status HttpServer::start() {
  std::lock_guard lock(mutex_);
  if (daemon_) return vl::Status::success();
  if (listenFd_ < 0) return vl::Status::failure(1, "not bound to an address");
  unsigned flags = MHD_USE_EPOLL_INTERNAL_THREAD | MHD_USE_ERROR_LOG;
  bool tls = !options_.tlsCertPem.empty() && !options_.tlsKeyPem.empty();
  if (tls) flags |= MHD_USE_TLS;
  std::vector<MHD_OptionItem> items = {
      {MHD_OPTION_EXTERNAL_LOGGER, reinterpret_cast<intptr_t>(&daemonLog), &options_},
      {MHD_OPTION_LISTEN_SOCKET, listenFd_, nullptr},
      {MHD_OPTION_THREAD_POOL_SIZE, options_.threads, nullptr},
      {MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<intptr_t>(options_.connectionMemoryLimit), nullptr},
      {MHD_OPTION_CONNECTION_LIMIT, options_.connectionLimit, nullptr},
      {MHD_OPTION_PER_IP_CONNECTION_LIMIT, options_.perAddressLimit, nullptr},
      {MHD_OPTION_CONNECTION_TIMEOUT, options_.idleTimeoutSeconds, nullptr},
      {MHD_OPTION_LISTEN_BACKLOG_SIZE, options_.listenBacklog, nullptr},
      {MHD_OPTION_URI_LOG_CALLBACK, reinterpret_cast<intptr_t>(&HttpServerCallbacks::onUri), this},
      {MHD_OPTION_NOTIFY_CONNECTION, reinterpret_cast<intptr_t>(&HttpServerCallbacks::onConnection), this},
      {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&HttpServerCallbacks::onCompleted), this},
      {MHD_OPTION_UNESCAPE_CALLBACK, reinterpret_cast<intptr_t>(&keepEscapes), nullptr},
  };
  if (tls) {
    items.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char*>(options_.tlsCertPem.c_str())});
    items.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(options_.tlsKeyPem.c_str())});
  }
  items.push_back({MHD_OPTION_END, 0, nullptr});
  daemon_ = MHD_start_daemon(flags, 0, nullptr, nullptr, &HttpServerCallbacks::onRequest, this, MHD_OPTION_ARRAY,
                             items.data(), MHD_OPTION_END);
  if (!daemon_)
    return vl::Status::failure(1, tls ? "the HTTP server could not start (is the TLS certificate or key unusable?)"
                                      : "the HTTP server could not start");
  listenFd_ = -1;  // the daemon owns and closes it now
  return vl::Status::success();
}

bool HttpServer::run() {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return true;
  }
  if (vl::Status started = start(); !started) {
    if (options_.log) options_.log("http: " + started.detail());
    return false;
  }
  std::thread reaper;
  {
    std::unique_lock lock(mutex_);
    if (stopping_) {
      // stop() came while the daemon started: fall through to stopping it.
    } else {
      running_ = true;
      if (options_.reapPeriodMillis > 0) {
        reaper = std::thread([this] {
          std::unique_lock l(mutex_);
          while (!stopping_) {
            changed_.wait_for(l, std::chrono::milliseconds(options_.reapPeriodMillis));
            if (stopping_) break;
            l.unlock();
            reapOverdue();
            l.lock();
          }
        });
      }
      changed_.wait(lock, [this] { return stopping_; });
    }
  }
  if (reaper.joinable()) reaper.join();
  std::lock_guard lock(mutex_);
  if (daemon_) MHD_stop_daemon(daemon_);
  daemon_ = nullptr;
  running_ = false;
  changed_.notify_all();
  return true;
}

void HttpServer::stop() {
  std::unique_lock lock(mutex_);
  stopping_ = true;
  changed_.notify_all();
  changed_.wait(lock, [this] { return !running_; });
}

int HttpServer::reapOverdue() {
  int64_t limit = now() - options_.requestDeadlineMillis;
  int closed = 0;
  std::lock_guard lock(connectionsMutex_);
  for (auto& [connection, state] : connections_) {
    if (state->fd >= 0 && state->waitingSince.load() < limit) {
      // The daemon sees the end of the stream and closes the connection itself.
      shutdown(state->fd, SHUT_RDWR);
      state->waitingSince = INT64_MAX;
      ++closed;
    }
  }
  return closed;
}

size_t HttpServer::openConnections() {
  std::lock_guard lock(connectionsMutex_);
  return connections_.size();
}

bool HttpServer::answer(MHD_Connection* connection, ConnectionState* state, const char* method, bool hasBody) {
  auto started = std::chrono::steady_clock::now();
  std::string_view target = state->target;
  size_t mark = target.find('?');
  std::string_view path = target.substr(0, mark);
  std::string_view query = mark == std::string_view::npos ? std::string_view() : target.substr(mark + 1);
  std::string_view verb = method ? method : "";
  Answer a;
  if (hasBody && (verb == "GET" || verb == "HEAD")) {
    a.status = 400;
    a.body = "a GET request has no body\n";
  } else {
    a = service_.handle(verb, path, query);
  }

  MHD_Response* response =
      MHD_create_response_from_buffer(a.body.size(), a.body.data(), MHD_RESPMEM_MUST_COPY);
  if (!response) return false;
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, a.contentType.c_str());
  MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
  if (a.status == 405) MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
  if (hasBody) MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
  MHD_Result queued = MHD_queue_response(connection, static_cast<unsigned>(a.status), response);
  MHD_destroy_response(response);

  if (options_.log) {
    double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
    std::string line = logLine(wallMillis(), state->peer, verb, path, a.status, a.body.size(), ms);
    if (!a.note.empty()) line += " (" + a.note + ")";
    options_.log(line);
  }
  return queued == MHD_YES;
}

}  // namespace svc
