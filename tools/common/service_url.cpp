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

std::unique_ptr<HttpClient> makeServiceClient(const ServiceURLSources& sources, RunLoop* loop) {
  return std::make_unique<linux_::CurlHttpClient>(resolveServiceURL(sources), loop);
}

}  // namespace vl::cli
