// cpp-httplib glue of the web service: routing every request to the Service, the response
// headers and the per-request log line.
#include "tools/service/http_server.h"

#include <httplib.h>

#include <chrono>

namespace svc {
namespace {

int64_t wallMillis() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace

HttpServer::HttpServer(const Service& service, HttpServerOptions options)
    : service_(service), options_(std::move(options)), server_(std::make_unique<httplib::Server>()) {
  int threads = options_.threads < 1 ? 1 : options_.threads;
  server_->new_task_queue = [threads] { return new httplib::ThreadPool(static_cast<size_t>(threads)); };
  // Every request is a short GET: no body worth reading, and a slow client does not hold a
  // worker for long.
  server_->set_payload_max_length(kQueryMaxBytes);
  server_->set_read_timeout(5, 0);
  server_->set_write_timeout(5, 0);
  server_->set_keep_alive_timeout(5);
  server_->set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    auto started = std::chrono::steady_clock::now();
    std::string_view target = req.target;
    size_t mark = target.find('?');
    std::string_view path = target.substr(0, mark);
    std::string_view query = mark == std::string_view::npos ? std::string_view() : target.substr(mark + 1);
    Answer a = service_.handle(req.method, path, query);
    res.status = a.status;
    if (a.status == 405) res.set_header("Allow", "GET, HEAD");
    res.set_header("Cache-Control", "no-store");
    size_t bytes = a.body.size();
    res.set_content(std::move(a.body), a.contentType.c_str());
    if (options_.log) {
      double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
      std::string peer = req.remote_addr.find(':') != std::string::npos ? "[" + req.remote_addr + "]" : req.remote_addr;
      peer += ":" + std::to_string(req.remote_port);
      std::string line = logLine(wallMillis(), peer, req.method, path, a.status, bytes, ms);
      if (!a.note.empty()) line += " (" + a.note + ")";
      options_.log(line);
    }
    return httplib::Server::HandlerResponse::Handled;
  });
}

HttpServer::~HttpServer() { stop(); }

bool HttpServer::bind(std::string* error) {
  if (options_.port == 0) {
    port_ = server_->bind_to_any_port(options_.host);
  } else {
    port_ = server_->bind_to_port(options_.host, options_.port) ? options_.port : -1;
  }
  if (port_ <= 0) {
    if (error) *error = "cannot listen on " + options_.host + ":" + std::to_string(options_.port) + " (in use, or no such address)";
    return false;
  }
  return true;
}

std::string HttpServer::baseUrl() const {
  std::string host = options_.host.find(':') != std::string::npos ? "[" + options_.host + "]" : options_.host;
  return "http://" + host + ":" + std::to_string(port_);
}

bool HttpServer::run() {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return true;
    running_ = true;
  }
  bool ok = server_->listen_after_bind();
  std::lock_guard lock(mutex_);
  running_ = false;
  ended_.notify_all();
  return ok;
}

void HttpServer::stop() {
  std::unique_lock lock(mutex_);
  stopping_ = true;
  // The library ignores a stop that comes before its loop has begun, so keep asking until the
  // loop has ended.
  while (running_) {
    server_->stop();
    ended_.wait_for(lock, std::chrono::milliseconds(50));
  }
}

}  // namespace svc
