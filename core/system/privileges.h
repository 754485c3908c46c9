// Privileged commands: an authorization for administrator rights, obtained once from the user
// through the administrator prompt, and tools run with it as argument vectors.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/errors/error_stack.h"
#include "platform/api/admin_prompt.h"
#include "platform/api/platform.h"

namespace vl {

inline constexpr int32_t kAuthorizationNoOut = 8180020;
inline constexpr int32_t kAuthorizationNotCreated = 8180026;
inline constexpr int32_t kAuthorizationRefused = 8180042;  // pushed; the platform status is returned
inline constexpr int32_t kPrivilegeNoAuthorization = 8180055;
inline constexpr int32_t kPrivilegeRunFailed = 8180067;
// The status pushed when there is no administrator prompt to ask (errAuthorizationInternal).
inline constexpr int32_t kAuthorizationInternal = -60008;

// An authorization the user gave (AuthorizationRef): the prompt that asked, and the message
// later commands show when the platform asks again.
struct Authorization {
  AdminPrompt* prompt = nullptr;
  std::string message;
};
using AuthorizationRef = std::unique_ptr<Authorization>;

// Asks the user for administrator rights (message says why). 0 with *out set; 8180020 for no
// out; 8180026 (status pushed) when there is no prompt; when the user cancels (-60006), is
// denied (-60005) or the request fails, 8180042 is pushed and that status itself returned, so
// the caller can tell cancel and deny apart. *out stays empty then.
[[nodiscard]] int32_t QS818createAuthorization(const Platform& p, ErrorStack& errors, AuthorizationRef* out, const std::string& message = "");

// Runs tool with up to four arguments (stopping at the first null) as administrator. The tool is
// named by its path on the platform ("/bin/rm"); the prompt runs the system's tool of that name.
// 8180055 for no authorization or no tool; 8180067 (status pushed) when it could not run or
// failed; else 0. The arguments reach the tool one by one: nothing is read by a shell.
[[nodiscard]] int32_t QS818plivilegeCommand(ErrorStack& errors, const Authorization* authorization, const char* tool,
                                            const std::vector<const char*>& arguments);

}  // namespace vl
