// The HttpClient port on libcurl: base URL checks (HTTPS for every remote host), curl errors
// as URL-loading codes, and a worker thread running started requests with curl's multi
// interface, whose answers reach the main run loop through an eventfd or a drain timer.
#include "platform/linux/curl_http_client.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>

#include "core/plist/ascii_text.h"
#include "platform/linux/sd_event_runloop.h"

namespace vl::linux_ {

namespace {

constexpr double kDrainInterval = 0.005;  // seconds, only while requests are pending elsewhere

std::once_flag curlInit;

bool isLoopbackHost(const std::string& hostText) {
  std::string host = pl::asciiLower(hostText);
  if (host == "localhost") return true;
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  in_addr v4{};
  if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6{};
  if (inet_pton(AF_INET6, host.c_str(), &v6) == 1) return IN6_IS_ADDR_LOOPBACK(&v6);
  return false;
}

HttpError makeError(int code, std::string description) {
  HttpError e;
  e.domain = kURLErrorDomain;
  e.code = code;
  e.description = std::move(description);
  return e;
}

int urlCodeFor(CURLcode c) {
  switch (c) {
    case CURLE_COULDNT_CONNECT: return kURLErrorCannotConnectToHost;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: return kURLErrorCannotFindHost;
    case CURLE_OPERATION_TIMEDOUT: return kURLErrorTimedOut;
    case CURLE_PEER_FAILED_VERIFICATION: return kURLErrorServerCertificateUntrusted;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_USE_SSL_FAILED: return kURLErrorSecureConnectionFailed;
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL: return kURLErrorBadURL;
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE: return kURLErrorNetworkConnectionLost;
    case CURLE_FILESIZE_EXCEEDED:
    case CURLE_WRITE_ERROR: return kURLErrorDataLengthExceedsMaximum;
    default: return kURLErrorBadServerResponse;
  }
}

size_t collect(char* data, size_t size, size_t count, void* user) {
  auto* body = static_cast<pl::Data*>(user);
  size_t n = size * count;
  if (body->size() + n > kMaxAnswerBytes) return 0;  // ends the transfer with a write error
  body->insert(body->end(), reinterpret_cast<const uint8_t*>(data), reinterpret_cast<const uint8_t*>(data) + n);
  return n;
}

long timeoutMs(double seconds) {
  if (!(seconds > 0)) return 1;  // no wait at all still must not mean "wait forever"
  double ms = std::ceil(seconds * 1000.0);
  return ms > static_cast<double>(LONG_MAX / 2) ? LONG_MAX / 2 : static_cast<long>(ms);
}

}  // namespace

ServiceAddress parseServiceAddress(const std::string& baseURL) {
  ServiceAddress a;
  CURLU* u = curl_url();
  if (!u) return a;
  char* scheme = nullptr;
  char* host = nullptr;
  if (curl_url_set(u, CURLUPART_URL, baseURL.c_str(), 0) == CURLUE_OK &&
      curl_url_get(u, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK && curl_url_get(u, CURLUPART_HOST, &host, 0) == CURLUE_OK) {
    std::string s = pl::asciiLower(scheme);
    a.host = host;
    a.secure = s == "https";
    a.valid = (s == "http" || s == "https") && !a.host.empty();
    a.loopback = isLoopbackHost(a.host);
  }
  curl_free(scheme);
  curl_free(host);
  curl_url_cleanup(u);
  return a;
}

// One easy handle with its body.
struct CurlHttpClient::Transfer {
  RequestId id = 0;
  CURL* easy = nullptr;
  pl::Data body;
  char errorText[CURL_ERROR_SIZE] = {};

  Transfer(RequestId i, const std::string& url, double timeout, bool loopback) : id(i), easy(curl_easy_init()) {
    if (!easy) return;
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    if (loopback) {
      // This machine's own service: never through a proxy from the environment, which would
      // carry a plain-HTTP request (with the machine's digest) off the machine.
      curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
      curl_easy_setopt(easy, CURLOPT_NOPROXY, "*");
    } else {
      // Any other host only over TLS, and a proxy only as a tunnel (CONNECT) that carries the
      // TLS stream end to end: it never sees the request.
      curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "https");
      curl_easy_setopt(easy, CURLOPT_HTTPPROXYTUNNEL, 1L);
    }
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, timeoutMs(timeout));
    curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxAnswerBytes));
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorText);
    // Ignoring cached data: ask every cache on the way for a fresh answer.
    headers = curl_slist_append(nullptr, "Cache-Control: no-cache");
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    // A remote service is always checked; a service on this machine may use its own certificate.
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, loopback ? 0L : 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, loopback ? 0L : 2L);
  }
  ~Transfer() {
    if (easy) curl_easy_cleanup(easy);
    curl_slist_free_all(headers);
  }
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  HttpResult result(CURLcode code) const {
    HttpResult r;
    if (!easy) {
      r.error = makeError(kURLErrorBadServerResponse, "The transfer could not be set up.");
    } else if (code == CURLE_OK) {
      long status = 0;
      curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
      r.response = HttpResponse{static_cast<int>(status), body};
    } else {
      r.error = makeError(urlCodeFor(code), errorText[0] ? errorText : curl_easy_strerror(code));
    }
    return r;
  }

  curl_slist* headers = nullptr;
};

CurlHttpClient::CurlHttpClient(std::string baseURL, RunLoop* mainLoop) : base_(std::move(baseURL)), loop_(mainLoop) {
  std::call_once(curlInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  while (!base_.empty() && base_.back() == '/') base_.pop_back();
  address_ = parseServiceAddress(base_);
}

CurlHttpClient::~CurlHttpClient() {
  *alive_ = false;
  if (worker_.joinable()) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
      if (multi_) curl_multi_wakeup(static_cast<CURLM*>(multi_));
    }
    wake_.notify_all();
    worker_.join();
  }
  if (auto* sd = dynamic_cast<SdEventRunLoop*>(loop_); sd && fdWatch_) sd->unwatchFd(fdWatch_);
  if (loop_ && drainTimer_) loop_->removeTimer(drainTimer_);
  if (multi_) curl_multi_cleanup(static_cast<CURLM*>(multi_));
  if (eventFd_ >= 0) ::close(eventFd_);
}

std::optional<HttpError> CurlHttpClient::refusal() const {
  if (!address_.valid) return makeError(kURLErrorBadURL, "The web service address \"" + base_ + "\" is not an http or https URL.");
  if (!address_.secure && !address_.loopback)
    return makeError(kURLErrorAppTransportSecurityRequiresSecureConnection,
                     "Plain HTTP to " + address_.host + " is refused: a service on another machine must use https.");
  return std::nullopt;
}

std::string CurlHttpClient::urlFor(const std::string& path, const std::string& query) const {
  std::string url = base_ + path;
  if (!query.empty()) url += "?" + query;
  return url;
}

HttpResult CurlHttpClient::get(const std::string& path, const std::string& query, double timeoutSeconds) {
  if (auto e = refusal()) {
    HttpResult r;
    r.error = *e;
    return r;
  }
  Transfer t(0, urlFor(path, query), timeoutSeconds, address_.loopback);
  return t.result(t.easy ? curl_easy_perform(t.easy) : CURLE_FAILED_INIT);
}

HttpClient::RequestId CurlHttpClient::startGet(const std::string& path, const std::string& query, double timeoutSeconds,
                                               Completion completion) {
  RequestId id = nextId_++;
  pending_[id] = std::move(completion);
  if (auto e = refusal()) {
    HttpResult r;
    r.error = *e;
    // Later, never inside this call; nothing was sent.
    std::weak_ptr<bool> alive = alive_;
    if (loop_) loop_->post([this, alive, id, r] {
      if (auto a = alive.lock(); a && *a) deliver(id, r);
    });
    return id;
  }
  startWorker();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    jobs_.push_back({id, urlFor(path, query), timeoutSeconds});
    if (multi_) curl_multi_wakeup(static_cast<CURLM*>(multi_));
  }
  wake_.notify_all();
  armDrainTimer();
  return id;
}

void CurlHttpClient::cancel(RequestId id) {
  if (pending_.erase(id) == 0) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    cancels_.push_back(id);
    if (multi_) curl_multi_wakeup(static_cast<CURLM*>(multi_));
  }
  wake_.notify_all();
}

void CurlHttpClient::startWorker() {
  if (worker_.joinable()) return;
  multi_ = curl_multi_init();
  eventFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (auto* sd = dynamic_cast<SdEventRunLoop*>(loop_); sd && eventFd_ >= 0) {
    fdWatch_ = sd->watchFd(eventFd_, [this] {
      uint64_t n = 0;
      while (::read(eventFd_, &n, sizeof n) == static_cast<ssize_t>(sizeof n)) {
      }
      drain();
    });
  }
  worker_ = std::thread([this] { workerMain(); });
}

void CurlHttpClient::armDrainTimer() {
  if (fdWatch_ || !loop_ || drainTimer_) return;
  drainTimer_ = loop_->addTimer(kDrainInterval, true, [this] { drain(); });
}

void CurlHttpClient::workerMain() {
  CURLM* multi = static_cast<CURLM*>(multi_);
  std::map<RequestId, std::unique_ptr<Transfer>> running;
  auto finish = [&](RequestId id, HttpResult r) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_.push_back({id, std::move(r)});
    }
    if (eventFd_ >= 0) {
      uint64_t one = 1;
      [[maybe_unused]] ssize_t w = ::write(eventFd_, &one, sizeof one);
    }
  };
  for (;;) {
    std::deque<Job> jobs;
    std::deque<RequestId> cancels;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      // Idle: sleep until there is something to do (no polling without transfers).
      if (running.empty()) wake_.wait(lock, [&] { return stopping_ || !jobs_.empty() || !cancels_.empty(); });
      if (stopping_) break;
      jobs.swap(jobs_);
      cancels.swap(cancels_);
    }
    for (RequestId id : cancels) {
      auto it = running.find(id);
      if (it != running.end()) {
        if (it->second->easy) curl_multi_remove_handle(multi, it->second->easy);
        running.erase(it);
      }
      jobs.erase(std::remove_if(jobs.begin(), jobs.end(), [&](const Job& j) { return j.id == id; }), jobs.end());
    }
    for (Job& j : jobs) {
      auto t = std::make_unique<Transfer>(j.id, j.url, j.timeout, address_.loopback);
      if (t->easy) curl_easy_setopt(t->easy, CURLOPT_PRIVATE, reinterpret_cast<void*>(static_cast<uintptr_t>(j.id)));
      if (!t->easy || !multi || curl_multi_add_handle(multi, t->easy) != CURLM_OK) {
        finish(j.id, t->result(CURLE_FAILED_INIT));
        continue;
      }
      running[j.id] = std::move(t);
    }
    if (running.empty()) continue;
    int still = 0;
    curl_multi_perform(multi, &still);
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
      if (msg->msg != CURLMSG_DONE) continue;
      void* priv = nullptr;
      curl_easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, &priv);
      RequestId id = static_cast<RequestId>(reinterpret_cast<uintptr_t>(priv));
      CURLcode code = msg->data.result;
      auto it = running.find(id);
      if (it == running.end()) continue;
      HttpResult r = it->second->result(code);
      curl_multi_remove_handle(multi, it->second->easy);
      running.erase(it);
      finish(id, std::move(r));
    }
    if (!running.empty()) curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
  }
  for (auto& [id, t] : running)
    if (t->easy) curl_multi_remove_handle(multi, t->easy);
}

void CurlHttpClient::drain() {
  std::deque<Done> done;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    done.swap(done_);
  }
  for (Done& d : done) deliver(d.id, std::move(d.result));
  if (pending_.empty() && drainTimer_ && loop_) {
    loop_->removeTimer(drainTimer_);
    drainTimer_ = 0;
  }
}

void CurlHttpClient::deliver(RequestId id, HttpResult result) {
  auto it = pending_.find(id);
  if (it == pending_.end()) return;  // cancelled
  Completion c = std::move(it->second);
  pending_.erase(it);
  if (c) c(std::move(result));
}

}  // namespace vl::linux_
