// The agent as a launch agent of the user's service manager: its property list, registration,
// load test, start, removal, the repair of the agents folder's permissions, the old-style login
// item, stopping a running agent, and the executable-file test of the application list.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/errors/error_stack.h"
#include "platform/api/admin_prompt.h"
#include "platform/api/alerts.h"
#include "platform/api/platform.h"

namespace vl {

// Failure numbers of the registration and the start.
inline constexpr int32_t kLaunchAgentNoLocation = 8120109;
inline constexpr int32_t kLaunchAgentNoIdentifier = 8120118;
inline constexpr int32_t kLaunchAgentNoExecutable = 8120120;
inline constexpr int32_t kLaunchAgentNotSerialised = 8120133;
inline constexpr int32_t kLaunchAgentNotText = 8120135;
inline constexpr int32_t kLaunchAgentNotWritten = 8120139;
inline constexpr int32_t kLaunchAgentStartFailed = 8120201;

// The property-list path for the agent with this bundle identifier: the user's agents folder
// (made when missing; on failure nullopt and *error) plus "<identifier>.plist"; nullopt for an
// empty identifier.
std::optional<std::string> QS812launchAgentURL(const Platform&, const std::string& bundleIdentifier, ErrorInfo* error);
// The same for the bundle at bundlePath (its identifier from its Info.plist); nullopt for an
// empty path or a bundle without identifier.
std::optional<std::string> QS812launchAgentURLWithURL(const Platform&, const std::string& bundlePath, ErrorInfo* error);
// Unloads an older registration, writes the property list (Label, ProgramArguments,
// ProcessType, RunAtLoad), fixes its flags, owner and mode, enables and loads the label.
// 0 or a failure number; on kLaunchAgentNotWritten *error holds the platform's error
// ({"NSCocoaErrorDomain", 513} when the folder refused the write).
[[nodiscard]] int32_t QS812registerLaunchAgent(const Platform&, const std::string& agentBundlePath, ErrorInfo* error);
// Unloads the agent of the bundle and deletes its property list.
void QS812removeLaunchAgent(const Platform&, const std::string& agentBundlePath);
// Starts the loaded agent now; 0 (also for an empty label) or kLaunchAgentStartFailed after
// pushing the manager's status.
[[nodiscard]] int32_t QS812startLaunchAgentForBundleID(const Platform&, ErrorStack& errors, const std::string& label);
bool QS812isLaunchAgentLoaded(const Platform&, const std::string& label);
// Gives the user's agents folder back to the user (immutable flag cleared, owner the user,
// mode 755) with administrator rights, after telling why: "<hostName> is going to execute this
// command for <paneName> to save a login item."
AdminResult QS812fixPermissionOfLaunchAgent(const Platform&, const std::string& hostName, const std::string& paneName);
// The manager's own explanation of why the label does not load: an error with the label as
// domain, code 0 and the text as description; nullopt when it said nothing.
std::optional<ErrorInfo> QS812errorMsgLaunchAgent(const Platform&, const std::string& label);
// Whether the home folder's volume honours ownership (false when that cannot be told).
bool QS812homeVolumeOwnerShip(const Platform&);
// Removes the session's login items displayed as name, with or without extension.
void QS812removeFileFromLoginItems(const Platform&, const std::string& name);
// Asks the last running application with the identifier to quit, every 0.3 s, until a
// request is refused or none runs; at most 10 requests. The waits go through sleeper (null: the
// calling thread sleeps).
void QS812terminateApp(Workspace* workspace, Sleeper* sleeper, const std::string& bundleIdentifier);
// An executable file, or an application package ("*.app" folder that is a bundle).
bool QS812isExecutableFileAtURL(const std::string& path);

}  // namespace vl
