// The simulated Mac's HttpClient port: a web-service stub that answers from a table and logs requests.
#include "platform/sim/sim_mac_impl.h"

namespace vl::sim::mac_detail {

namespace {

class SimHttp : public HttpClient {
 public:
  explicit SimHttp(SimMac::Impl& m) : m_(m) {}
  std::optional<HttpResponse> get(const std::string& path, const std::string& query, double) override {
    m_.httpLog.push_back(path + "?" + query);
    auto it = m_.httpAnswers.find(path);
    if (it == m_.httpAnswers.end()) return std::nullopt;
    return HttpResponse{it->second.first, it->second.second};
  }
  std::optional<HttpResponse> post(const std::string& path, const std::string& query, const pl::Data&,
                                   const std::string&, double t) override {
    return get(path, query, t);
  }

 private:
  SimMac::Impl& m_;
};

}  // namespace

std::unique_ptr<HttpClient> makeHttp(SimMac::Impl& m) { return std::make_unique<SimHttp>(m); }

}  // namespace vl::sim::mac_detail
