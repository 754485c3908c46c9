// Posting the pane-agent commands and registering their observer.
#include "core/system/boa_notifications.h"


namespace vl {

int32_t QS824registerBOANotification(Notifications* n, BOAObserver observer, Notifications::Token* outToken) {
  if (!observer) return 8240016;
  if (!n) return 8240016;
  Notifications::Token t = n->addObserver(
      kBOANotificationName,
      [observer](const std::string&, const std::string& object, const pl::Dict& info) { observer(object, info); });
  if (outToken) *outToken = t;
  return 0;
}

void QS824removeBOANotification(Notifications* n, Notifications::Token token) {
  if (n && token) n->removeObserver(token);
}

bool QS824postBOANotification(Notifications* n, const std::optional<std::string>& receiver, const std::optional<std::string>& command,
                              std::optional<uint32_t> vid, std::optional<uint32_t> pid, std::optional<uint32_t> mid,
                              const std::optional<std::string>& transport, const std::string& object,
                              const pl::Dict* dictionary) {
  pl::Dict info = dictionary ? *dictionary : pl::Dict{};
  if (receiver) info[key::kReceiver] = *receiver;
  if (command) info[key::kCommand] = *command;
  if (vid) info[key::kVID] = pl::Value::uint32(*vid);
  if (pid) info[key::kPID] = pl::Value::uint32(*pid);
  if (mid) info[key::kMID] = pl::Value::uint32(*mid);
  if (transport) info[key::kTransport] = *transport;
  return n && n->post(kBOANotificationName, object, info).ok();
}

bool QS824postCursorSpeedNotification(Notifications* n, uint32_t vid, uint32_t pid, uint32_t mid, const std::string& transport,
                                      const std::string& object, const std::optional<std::string>& sensitivity,
                                      const std::optional<std::string>& trackingSpeed, std::optional<bool> disableAccl) {
  pl::Dict d;
  if (sensitivity) d[key::kSensitivity] = *sensitivity;
  if (trackingSpeed) d[key::kTrackingSpeed] = *trackingSpeed;
  if (disableAccl) d[key::kDisableAccl] = *disableAccl;
  return QS824postBOANotification(n, std::nullopt, std::string(cmd::kCursorSpeed), vid, pid, mid, transport, object, &d);
}

bool QS824postCursorSpeedActivateNotification(Notifications* n, uint32_t vid, uint32_t pid, uint32_t mid, const std::string& transport,
                                              const std::string& object, std::optional<bool> disabled) {
  pl::Dict d;
  if (disabled) d[key::kDisabled] = *disabled;
  return QS824postBOANotification(n, std::nullopt, std::string(cmd::kCursorSpeedActivate), vid, pid, mid, transport,
                                  object, &d);
}

bool QS824postAutoCursorSnappingNotification(Notifications* n, const std::optional<std::string>& receiver, const std::string& object,
                                             const std::optional<std::string>& application,
                                             const std::optional<std::string>& snapping, std::optional<bool> jump,
                                             std::optional<bool> bounce) {
  pl::Dict d;
  if (application) d[key::kApplication] = *application;
  if (snapping) d[key::kSnapping] = *snapping;
  if (jump) d[key::kJump] = *jump;
  if (bounce) d[key::kBounce] = *bounce;
  return QS824postBOANotification(n, receiver, std::string(cmd::kAutoCursorSnapping), std::nullopt, std::nullopt,
                                  std::nullopt, std::nullopt, object, &d);
}

bool QS824postAXWarningNotification(Notifications* n, const std::optional<std::string>& receiver, const std::string& object) {
  return QS824postBOANotification(n, receiver, std::string(cmd::kAccessibilityWarning), std::nullopt, std::nullopt,
                                  std::nullopt, std::nullopt, object, nullptr);
}

bool QS824postUploadCursorSpeedNotification(Notifications* n, const std::optional<std::string>& receiver, const std::string& object) {
  return QS824postBOANotification(n, receiver, std::string(cmd::kUploadCursorSpeed), std::nullopt, std::nullopt,
                                  std::nullopt, std::nullopt, object, nullptr);
}

bool QS824postAppLaunchedNotification(Notifications* n, const std::optional<std::string>& receiver, const std::string& object,
                                      uint32_t version, const std::string& buildDate) {
  pl::Dict d;
  if (version != 0) d[key::kVersion] = pl::Value::uint32(version);
  if (!buildDate.empty()) d[key::kBuildDate] = buildDate;
  return QS824postBOANotification(n, receiver, std::string(cmd::kApplicationLaunched), std::nullopt, std::nullopt,
                                  std::nullopt, std::nullopt, object, &d);
}

uint32_t commandUInt32(const pl::Dict& info, const char* k) {
  auto it = info.find(k);
  if (it == info.end() || !(it->second.isInteger() || it->second.isReal())) return 0;
  return it->second.unsignedIntValue();
}

std::optional<std::string> commandString(const pl::Dict& info, const char* k) {
  auto it = info.find(k);
  if (it == info.end() || !it->second.isString()) return std::nullopt;
  return *it->second.asString();
}

}  // namespace vl
