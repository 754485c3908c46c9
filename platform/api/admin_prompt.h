// AdminPrompt port: privileged operations run only after the user authenticated as an
// administrator in the platform's prompt (the Authorization services behind an administrator
// script; polkit's pkexec on Linux). Operations are argument vectors, never shell text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vl {

// The platform's codes for a refused and a dismissed prompt.
inline constexpr int32_t kAdminDenied = -60005;     // errAuthorizationDenied
inline constexpr int32_t kAdminCancelled = -60006;  // errAuthorizationCanceled

// What came of a privileged request.
struct AdminResult {
  enum class Outcome {
    Accepted,   // the user agreed and every operation succeeded
    Denied,     // the user could not authenticate or is no administrator (code kAdminDenied)
    Cancelled,  // the user dismissed the prompt (code kAdminCancelled)
    Failed,     // the user agreed but an operation failed (code: its exit status) or could not run
  };
  Outcome outcome = Outcome::Cancelled;
  int32_t code = kAdminCancelled;
  std::string text;  // what the operations wrote, or why the request failed
  bool accepted() const { return outcome == Outcome::Accepted; }
};

class AdminPrompt {
 public:
  virtual ~AdminPrompt() = default;
  // Shows message with the operations as details and asks for an administrator's password;
  // when given, runs every operation in order with administrator rights (each one even when
  // an earlier one failed, as a script of separate lines does). Blocks until done.
  virtual AdminResult runPrivileged(const std::string& message,
                                    const std::vector<std::vector<std::string>>& operations) = 0;
};

}  // namespace vl
