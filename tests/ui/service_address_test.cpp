// The web client finds a service that started after the program: the address is resolved
// again for every request, and answers of requests to an earlier address still arrive.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "support/sim_world.h"
#include "tools/common/service_url.h"

namespace vl {
namespace {

// A client for one address that keeps its requests for the test to answer.
class RecordingClient : public HttpClient {
 public:
  RecordingClient(std::string url, std::vector<std::string>& log) : url_(std::move(url)), log_(log) {}
  HttpResult get(const std::string& path, const std::string&, double) override {
    log_.push_back(url_ + path);
    return {};
  }
  RequestId startGet(const std::string& path, const std::string&, double, Completion completion) override {
    log_.push_back(url_ + path);
    pending_[next_] = std::move(completion);
    return next_++;
  }
  void cancel(RequestId id) override { pending_.erase(id); }
  void answerAll() {
    auto pending = std::move(pending_);
    for (auto& [id, done] : pending) {
      HttpResult r;
      r.response = HttpResponse{};
      if (done) done(r);
    }
  }

 private:
  std::string url_;
  std::vector<std::string>& log_;
  std::map<RequestId, Completion> pending_;
  RequestId next_ = 1;
};

TEST(ServiceAddress, ARetryReachesAServiceThatStartedMeanwhile) {
  test::TempDir world;
  std::vector<std::string> log;
  std::vector<RecordingClient*> made;
  cli::ResolvingServiceClient client({std::nullopt, nullptr, world.path()}, [&](const std::string& url) {
    auto c = std::make_unique<RecordingClient>(url, log);
    made.push_back(c.get());
    return c;
  });

  int answered = 0;
  client.startGet("/rank", "", 1, [&](HttpResult) { ++answered; });
  const std::string fallback = client.currentURL();
  // The service comes up on a port of its own and writes its address file.
  std::filesystem::create_directories(world.path() + "/service");
  std::ofstream(world.path() + "/" + cli::kWorldServiceAddressFile) << "http://127.0.0.1:50123\n";
  const auto cancelled = client.startGet("/rank", "", 1, [&](HttpResult) { ADD_FAILURE() << "a cancelled request answered"; });
  client.cancel(cancelled);
  client.startGet("/rank", "", 1, [&](HttpResult) { ++answered; });
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0], fallback + "/rank");
  EXPECT_EQ(log[2], "http://127.0.0.1:50123/rank");
  EXPECT_EQ(made.size(), 2u) << "one client per address, not per request";
  // The request to the old address still gets its answer.
  for (RecordingClient* c : made) c->answerAll();
  EXPECT_EQ(answered, 2);
}

}  // namespace
}  // namespace vl
