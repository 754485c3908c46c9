// The pane-agent commands: posting them under "quillon.dvvl" and registering an observer.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/plist/value.h"
#include "platform/api/notifications.h"

namespace vl {

inline constexpr const char* kBOANotificationName = "quillon.dvvl";

namespace cmd {
inline constexpr const char* kCursorSpeed = "Cursor Speed Cmd";
inline constexpr const char* kCursorSpeedActivate = "Cursor Speed Activate Cmd";
inline constexpr const char* kAutoCursorSnapping = "Auto Cursor Snapping Cmd";
inline constexpr const char* kAccessibilityWarning = "Accessibility Warning Cmd";
inline constexpr const char* kUploadCursorSpeed = "Upload Cursor Speed Cmd";
inline constexpr const char* kApplicationLaunched = "Application Launced Cmd";
}  // namespace cmd

namespace key {
inline constexpr const char* kReceiver = "Receiver";
inline constexpr const char* kCommand = "Command";
inline constexpr const char* kVID = "VID";
inline constexpr const char* kPID = "PID";
inline constexpr const char* kMID = "MID";
inline constexpr const char* kTransport = "Transport";
inline constexpr const char* kSensitivity = "Sensitivity";
inline constexpr const char* kTrackingSpeed = "TrackingSpeed";
inline constexpr const char* kDisableAccl = "DisableAccl";
inline constexpr const char* kDisabled = "Disabled";
inline constexpr const char* kApplication = "Application";
inline constexpr const char* kSnapping = "Snapping";
inline constexpr const char* kJump = "Jump";
inline constexpr const char* kBounce = "Bounce";
inline constexpr const char* kVersion = "Version";
inline constexpr const char* kBuildDate = "Build Date";
}  // namespace key

// An observer of the commands; receives the user-information dictionary.
using BOAObserver = std::function<void(const std::string& object, const pl::Dict& userInfo)>;

// 8240016 without an observer; else registers it and returns 0. *outToken identifies the
// registration for removal.
[[nodiscard]] int32_t QS824registerBOANotification(Notifications* n, BOAObserver observer, Notifications::Token* outToken);
void QS824removeBOANotification(Notifications* n, Notifications::Token token);

// Each optional argument is stored only when present.
bool QS824postBOANotification(Notifications* n, const std::optional<std::string>& receiver, const std::optional<std::string>& command,
                              std::optional<uint32_t> vid, std::optional<uint32_t> pid, std::optional<uint32_t> mid,
                              const std::optional<std::string>& transport, const std::string& object,
                              const pl::Dict* dictionary);
bool QS824postCursorSpeedNotification(Notifications* n, uint32_t vid, uint32_t pid, uint32_t mid, const std::string& transport,
                                      const std::string& object, const std::optional<std::string>& sensitivity,
                                      const std::optional<std::string>& trackingSpeed, std::optional<bool> disableAccl);
bool QS824postCursorSpeedActivateNotification(Notifications* n, uint32_t vid, uint32_t pid, uint32_t mid, const std::string& transport,
                                              const std::string& object, std::optional<bool> disabled);
bool QS824postAutoCursorSnappingNotification(Notifications* n, const std::optional<std::string>& receiver, const std::string& object,
                                             const std::optional<std::string>& application,
                                             const std::optional<std::string>& snapping, std::optional<bool> jump,
                                             std::optional<bool> bounce);
bool QS824postAXWarningNotification(Notifications* n, const std::optional<std::string>& receiver, const std::string& object);
bool QS824postUploadCursorSpeedNotification(Notifications* n, const std::optional<std::string>& receiver, const std::string& object);
bool QS824postAppLaunchedNotification(Notifications* n, const std::optional<std::string>& receiver, const std::string& object,
                                      uint32_t version, const std::string& buildDate);

// Payload reads as the agent does them: a key of the wrong type reads as absent.
uint32_t commandUInt32(const pl::Dict& info, const char* key);
std::optional<std::string> commandString(const pl::Dict& info, const char* key);

}  // namespace vl
