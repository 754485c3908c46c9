// The simulated Mac's HttpClient port: a web-service stub that answers from a table, logs the
// requests, and delivers started requests on the run loop after a virtual delay.
#include "platform/sim/sim_mac_impl.h"

namespace vl::sim::mac_detail {

namespace {

class SimHttp : public HttpClient {
 public:
  explicit SimHttp(SimMac::Impl& m) : m_(m) {}

  HttpResult get(const std::string& path, const std::string& query, double timeoutSeconds) override {
    m_.httpLog.push_back(path + "?" + query);
    return answer(path, timeoutSeconds);
  }

  RequestId startGet(const std::string& path, const std::string& query, double timeoutSeconds,
                     Completion completion) override {
    m_.httpLog.push_back(path + "?" + query);
    RequestId id = nextId_++;
    HttpResult result = answer(path, timeoutSeconds);
    if (!m_.runLoop) return id;
    // An unanswered path times out; an answered one comes back after the stub's delay.
    double delay = result.ok() || result.error.code != kURLErrorTimedOut ? m_.httpDelay : timeoutSeconds;
    if (delay > timeoutSeconds) {
      result = timedOut();
      delay = timeoutSeconds;
    }
    m_.runLoop->perform(this, "httpCompletion", delay,
                        [this, id, result, completion = std::move(completion)] {
                          if (completion) completion(result);
                        },
                        reinterpret_cast<const void*>(static_cast<uintptr_t>(id)));
    return id;
  }

  void cancel(RequestId id) override {
    if (id == 0 || !m_.runLoop) return;
    const void* key = reinterpret_cast<const void*>(static_cast<uintptr_t>(id));
    if (m_.runLoop->hasPerform(this, "httpCompletion", key)) m_.runLoop->cancelPerform(this, "httpCompletion", key);
  }

 private:
  static HttpResult timedOut() {
    HttpResult r;
    r.error.code = kURLErrorTimedOut;
    r.error.description = "The request timed out.";
    return r;
  }

  HttpResult answer(const std::string& path, double timeoutSeconds) const {
    if (auto e = m_.httpErrors.find(path); e != m_.httpErrors.end()) {
      HttpResult r;
      r.error = e->second;
      return r;
    }
    auto it = m_.httpAnswers.find(path);
    if (it == m_.httpAnswers.end() || m_.httpDelay > timeoutSeconds) return timedOut();
    HttpResult r;
    r.response = HttpResponse{it->second.first, it->second.second};
    return r;
  }

  SimMac::Impl& m_;
  RequestId nextId_ = 1;
};

}  // namespace

std::unique_ptr<HttpClient> makeHttp(SimMac::Impl& m) { return std::make_unique<SimHttp>(m); }

}  // namespace vl::sim::mac_detail
