// CurlHttpClient: the HttpClient port on libcurl — GET requests to the web service at a base
// URL, waited for or run on a worker thread with the answer handed back to the main run loop.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/api/http_client.h"
#include "platform/api/runloop.h"

namespace vl::linux_ {

// Where the programs find the web service when nothing else says.
inline constexpr const char* kDefaultServiceURL = "http://127.0.0.1:47810";
// Answers larger than this are cut off as an error (no body of the service comes near it).
inline constexpr size_t kMaxAnswerBytes = 8u << 20;

// What a base URL allows.
struct ServiceAddress {
  bool valid = false;     // an http or https URL with a host
  bool secure = false;    // https
  bool loopback = false;  // 127.0.0.0/8, ::1 or "localhost"
  std::string host;
};
ServiceAddress parseServiceAddress(const std::string& baseURL);

class CurlHttpClient : public HttpClient {
 public:
  // baseURL: "scheme://host[:port][/prefix]"; requests go to base + path + "?" + query.
  // mainLoop: where started requests' completions run (the thread that calls startGet). On an
  // SdEventRunLoop answers are handed over through an eventfd; on any other loop a short
  // timer drains them while requests are pending.
  CurlHttpClient(std::string baseURL, RunLoop* mainLoop);
  ~CurlHttpClient() override;
  CurlHttpClient(const CurlHttpClient&) = delete;
  CurlHttpClient& operator=(const CurlHttpClient&) = delete;

  HttpResult get(const std::string& path, const std::string& query, double timeoutSeconds) override;
  RequestId startGet(const std::string& path, const std::string& query, double timeoutSeconds,
                     Completion completion) override;
  void cancel(RequestId id) override;

  const std::string& baseURL() const { return base_; }
  // Started requests whose completion has not run yet (nor been cancelled).
  size_t pendingCount() const { return pending_.size(); }

 private:
  struct Job {
    RequestId id = 0;
    std::string url;
    double timeout = 0;
  };
  struct Done {
    RequestId id = 0;
    HttpResult result;
  };
  struct Transfer;

  // Refusal before anything is sent (bad or insecure base URL); nullopt when the URL may go.
  std::optional<HttpError> refusal() const;
  std::string urlFor(const std::string& path, const std::string& query) const;
  void startWorker();
  void workerMain();
  void drain();
  void deliver(RequestId id, HttpResult result);
  void armDrainTimer();

  std::string base_;
  ServiceAddress address_;
  RunLoop* loop_ = nullptr;

  // Main thread only.
  std::map<RequestId, Completion> pending_;
  RequestId nextId_ = 1;
  RunLoop::Token fdWatch_ = 0;
  RunLoop::Token drainTimer_ = 0;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

  // Shared with the worker, under mutex_.
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Job> jobs_;
  std::deque<RequestId> cancels_;
  std::deque<Done> done_;
  bool stopping_ = false;
  void* multi_ = nullptr;  // CURLM*, made by the worker's owner; woken with curl_multi_wakeup
  int eventFd_ = -1;
  std::thread worker_;
};

}  // namespace vl::linux_
