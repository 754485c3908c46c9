// Where the programs find the web service: $VELMORA_SERVICE_URL, else the user default
// "quillonVelmora_service_url", else the address file a service on the world writes, else the
// local default. Resolved once at a program's entry and handed to the web client.
#pragma once

#include <memory>
#include <optional>
#include <string>

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

// The web client for the resolved address, its completions on loop.
std::unique_ptr<HttpClient> makeServiceClient(const ServiceURLSources& sources, RunLoop* loop);

}  // namespace vl::cli
