// Where the programs find the web service: $VELMORA_SERVICE_URL, else the user default
// "quillonVelmora_service_url", else the address file a service on the world writes, else the
// local default. Resolved again for every request, so a service started after the program
// (on a port of its choosing) is found on the next try.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/api/http_client.h"
#include "platform/api/runloop.h"
#include "platform/api/user_defaults.h"

namespace vl::cli {

// The user-defaults domain and key of the setting: the settings pane's domain, which the
// agent reads as well (one place for the user to set it, with `velmora-ctl` or by hand).
inline constexpr const char* kServiceURLDomain = "quillon.Velmora.prefpane";
inline constexpr const char* kServiceURLKey = "quillonVelmora_service_url";
inline constexpr const char* kServiceURLEnvironment = "VELMORA_SERVICE_URL";
// The address file of a service serving a world, relative to the world folder.
inline constexpr const char* kWorldServiceAddressFile = "service/url";

struct ServiceURLSources {
  std::optional<std::string> environment;  // $VELMORA_SERVICE_URL as read by main
  const UserDefaults* defaults = nullptr;  // the program's user defaults
  std::string worldFolder;                 // empty when the program runs on no world
};

// The first non-empty source, trimmed of white space; the default when none says anything.
std::string resolveServiceURL(const ServiceURLSources& sources);

// A web client that resolves the address before each request and speaks to it through the
// client factory makes for it (a new one only when the address changed).
class ResolvingServiceClient : public HttpClient {
 public:
  using Factory = std::function<std::unique_ptr<HttpClient>(const std::string& baseURL)>;
  ResolvingServiceClient(ServiceURLSources sources, Factory factory);

  HttpResult get(const std::string& path, const std::string& query, double timeoutSeconds) override;
  RequestId startGet(const std::string& path, const std::string& query, double timeoutSeconds,
                     Completion completion) override;
  void cancel(RequestId id) override;
  // The address the last request went to.
  const std::string& currentURL() const { return url_; }

 private:
  HttpClient& client();

  ServiceURLSources sources_;
  Factory factory_;
  std::string url_;
  HttpClient* current_ = nullptr;
  // Clients of earlier addresses stay while their requests may still answer.
  std::vector<std::unique_ptr<HttpClient>> clients_;
  struct Started {
    HttpClient* client;
    RequestId inner;
  };
  std::map<RequestId, Started> started_;
  RequestId nextId_ = 1;
};

// The web client for the resolved address, its completions on loop.
std::unique_ptr<HttpClient> makeServiceClient(const ServiceURLSources& sources, RunLoop* loop);

}  // namespace vl::cli
