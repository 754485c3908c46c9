// Alerts and Lifecycle ports: what the error reporting needs of the desktop (beep, error
// presentation, non-modal notices) and of the process (terminate, end the host application).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "core/plist/value.h"

namespace vl {

// An error object as the platform presents it: domain, code, and the user-info texts.
struct ErrorInfo {
  std::string domain;
  int64_t code = 0;
  pl::Dict userInfo;  // "NSLocalizedDescription", "NSLocalizedRecoverySuggestion", ...
};

inline constexpr const char* kDescriptionKey = "NSLocalizedDescription";
inline constexpr const char* kRecoverySuggestionKey = "NSLocalizedRecoverySuggestion";
inline constexpr const char* kUnderlyingErrorKey = "NSUnderlyingError";

class Alerts {
 public:
  virtual ~Alerts() = default;
  virtual void beep() = 0;
  // Application-modal presentation; returns when the user dismissed it.
  virtual void presentModal(const ErrorInfo& error) = 0;
  // Sheet on the key window; onDone (may be empty) runs when the user dismissed it.
  virtual void presentSheet(const ErrorInfo& error, std::function<void()> onDone) = 0;
  // Non-modal system notice: header, message, icon resource path; returns at once.
  virtual void displayNotice(const std::string& header, const std::string& message,
                             const std::string& iconPath) = 0;
};

class Lifecycle {
 public:
  virtual ~Lifecycle() = default;
  // Asks the application to terminate and ends the process with status; a test adapter
  // records the call and returns instead (callers must not rely on it not returning).
  virtual void terminate(int status) = 0;
  // Terminates the last running application with this bundle identifier (the settings host).
  virtual void terminateApplication(const std::string& bundleIdentifier) = 0;
};

}  // namespace vl
