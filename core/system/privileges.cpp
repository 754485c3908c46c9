// Privileged commands through the administrator prompt: the authorization is the user's yes,
// a command is one argument vector.
#include "core/system/privileges.h"

#include "core/errors/error_stack.h"

namespace vl {

namespace {

// The platform's tool of that name: the prompt looks tools up in the system's own folders, so
// only the name travels ("/bin/rm" is the system's rm).
std::string toolName(const std::string& tool) {
  auto slash = tool.rfind('/');
  return slash == std::string::npos ? tool : tool.substr(slash + 1);
}

}  // namespace

int32_t QS818createAuthorization(const Platform& p, ErrorStack& errors, AuthorizationRef* out, const std::string& message) {
  if (!out) return kAuthorizationNoOut;
  out->reset();
  if (!p.adminPrompt) {
    QS810stackError(errors, nullptr, kAuthorizationInternal);
    return kAuthorizationNotCreated;
  }
  // Asking with nothing to run is the pre-authorization: the user says yes or no now, before
  // anything has been changed.
  AdminResult r = p.adminPrompt->runPrivileged(message, {});
  if (!r.accepted()) {
    QS810stackError(errors, nullptr, kAuthorizationRefused);
    int32_t status = r.code != 0 ? r.code : kAuthorizationInternal;
    return status;
  }
  auto a = std::make_unique<Authorization>();
  a->prompt = p.adminPrompt;
  a->message = message;
  *out = std::move(a);
  return 0;
}

int32_t QS818plivilegeCommand(ErrorStack& errors, const Authorization* authorization, const char* tool, const std::vector<const char*>& arguments) {
  if (!authorization || !authorization->prompt || !tool || !*tool) return kPrivilegeNoAuthorization;
  std::vector<std::string> op{toolName(tool)};
  for (size_t i = 0; i < arguments.size() && i < 4; ++i) {
    if (!arguments[i]) break;
    op.emplace_back(arguments[i]);
  }
  AdminResult r = authorization->prompt->runPrivileged(authorization->message, {op});
  if (!r.accepted()) {
    QS810stackError(errors, nullptr, r.code != 0 ? r.code : kAuthorizationInternal);
    return kPrivilegeRunFailed;
  }
  return 0;
}

}  // namespace vl
