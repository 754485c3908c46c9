// HttpClient port: GET requests to the web service (NSURLConnection / NSURLSession), both
// synchronous and started without waiting, with the platform's error domain and code when no
// answer came.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/plist/value.h"

namespace vl {

// The URL-loading system's error domain and the codes the programs tell apart.
inline constexpr const char* kURLErrorDomain = "NSURLErrorDomain";
inline constexpr int kURLErrorCancelled = -999;
inline constexpr int kURLErrorBadURL = -1000;
inline constexpr int kURLErrorTimedOut = -1001;
inline constexpr int kURLErrorCannotFindHost = -1003;
inline constexpr int kURLErrorCannotConnectToHost = -1004;
inline constexpr int kURLErrorNetworkConnectionLost = -1005;
inline constexpr int kURLErrorBadServerResponse = -1011;
inline constexpr int kURLErrorDataLengthExceedsMaximum = -1103;  // an answer too large to take
inline constexpr int kURLErrorSecureConnectionFailed = -1200;
inline constexpr int kURLErrorServerCertificateUntrusted = -1202;
// A plain-text request to a remote host (transport security refuses it).
inline constexpr int kURLErrorAppTransportSecurityRequiresSecureConnection = -1022;

struct HttpResponse {
  int status = 0;  // HTTP status
  pl::Data body;
};

// Why no answer came.
struct HttpError {
  std::string domain = kURLErrorDomain;
  int code = 0;
  std::string description;  // for logs; the windows show domain and code
};

// An answer, or the error that stood in its way. An answer with any status counts as an
// answer (the callers judge the body).
struct HttpResult {
  std::optional<HttpResponse> response;
  HttpError error;
  bool ok() const { return response.has_value(); }
};

class HttpClient {
 public:
  using RequestId = uint64_t;  // 0 is never a valid id
  using Completion = std::function<void(HttpResult)>;

  virtual ~HttpClient() = default;

  // sendSynchronousRequest: GET of path ("/velmora/xml/…") and query (already escaped) on the
  // web service, ignoring cached data, waiting at most timeoutSeconds. Blocks the caller.
  virtual HttpResult get(const std::string& path, const std::string& query, double timeoutSeconds) = 0;

  // Starts the same GET and returns at once. completion (may be empty: nobody looks at the
  // answer) runs once, later, on the main thread's run loop — never inside this call.
  virtual RequestId startGet(const std::string& path, const std::string& query, double timeoutSeconds,
                             Completion completion) = 0;
  // Abandons a started request: its completion never runs. Unknown or finished ids are ignored.
  virtual void cancel(RequestId id) = 0;
};

}  // namespace vl
