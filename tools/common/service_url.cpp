// Resolving the web service's address from the environment, the user default and a world's
// address file, and making the libcurl client for it.
#include "tools/common/service_url.h"

#include <fstream>

#include "platform/linux/curl_http_client.h"

namespace vl::cli {

namespace {

std::string trimmed(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

}  // namespace

std::string resolveServiceURL(const ServiceURLSources& sources) {
  if (sources.environment) {
    std::string v = trimmed(*sources.environment);
    if (!v.empty()) return v;
  }
  if (sources.defaults) {
    if (auto v = sources.defaults->value(kServiceURLDomain, kServiceURLKey); v && v->isString()) {
      std::string t = trimmed(*v->asString());
      if (!t.empty()) return t;
    }
  }
  if (!sources.worldFolder.empty()) {
    std::ifstream in(sources.worldFolder + "/" + kWorldServiceAddressFile);
    std::string line;
    if (in && std::getline(in, line)) {
      std::string t = trimmed(line);
      if (!t.empty()) return t;
    }
  }
  return linux_::kDefaultServiceURL;
}

ResolvingServiceClient::ResolvingServiceClient(ServiceURLSources sources, Factory factory)
    : sources_(std::move(sources)), factory_(std::move(factory)) {}

HttpClient& ResolvingServiceClient::client() {
  std::string url = resolveServiceURL(sources_);
  if (!current_ || url != url_) {
    url_ = std::move(url);
    clients_.push_back(factory_(url_));
    current_ = clients_.back().get();
    // Clients nobody waits on any more go (the newest stays).
    std::erase_if(clients_, [this](const std::unique_ptr<HttpClient>& c) {
      if (c.get() == current_) return false;
      for (const auto& [id, s] : started_)
        if (s.client == c.get()) return false;
      return true;
    });
  }
  return *current_;
}

HttpResult ResolvingServiceClient::get(const std::string& path, const std::string& query, double timeoutSeconds) {
  return client().get(path, query, timeoutSeconds);
}

HttpClient::RequestId ResolvingServiceClient::startGet(const std::string& path, const std::string& query,
                                                       double timeoutSeconds, Completion completion) {
  HttpClient& c = client();
  const RequestId id = nextId_++;
  const RequestId inner = c.startGet(path, query, timeoutSeconds, [this, id, completion = std::move(completion)](HttpResult r) {
    started_.erase(id);
    if (completion) completion(std::move(r));
  });
  started_[id] = Started{&c, inner};
  return id;
}

void ResolvingServiceClient::cancel(RequestId id) {
  auto it = started_.find(id);
  if (it == started_.end()) return;
  it->second.client->cancel(it->second.inner);
  started_.erase(it);
}

std::unique_ptr<HttpClient> makeServiceClient(const ServiceURLSources& sources, RunLoop* loop) {
  return std::make_unique<ResolvingServiceClient>(
      sources, [loop](const std::string& url) { return std::make_unique<linux_::CurlHttpClient>(url, loop); });
}

}  // namespace vl::cli
