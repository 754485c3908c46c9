// HttpClient port: synchronous requests to the maker's web service.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/plist/value.h"

namespace vl {

struct HttpResponse {
  int status = 0;  // HTTP status; 0 when nothing came back
  pl::Data body;
};

class HttpClient {
 public:
  virtual ~HttpClient() = default;
  // GET of a path and query on the maker's web service, ignoring cached data; nullopt when
  // no answer came within the time-out.
  virtual std::optional<HttpResponse> get(const std::string& path, const std::string& query,
                                          double timeoutSeconds) = 0;
  // POST of a body (for the settings upload).
  virtual std::optional<HttpResponse> post(const std::string& path, const std::string& query,
                                           const pl::Data& body, const std::string& contentType,
                                           double timeoutSeconds) = 0;
};

}  // namespace vl
