// Sharing settings with the web service: the normalised device identity both the upload and
// the ranking use, the machine identifier (a salted digest), and building and sending an upload.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/errors/error_stack.h"
#include "core/system/upload_schema.h"
#include "platform/api/http_client.h"
#include "platform/api/platform.h"

namespace vl {

class QS802DeviceClass;

// Vendor IDs the normalisation tells apart.
inline constexpr uint32_t kVendorApple = 0x5AC;
inline constexpr uint32_t kVendorAppleBluetooth = 0x4C;
inline constexpr uint32_t kVendorLogitech = 0x46D;
inline constexpr uint32_t kVendorKensington = 0x47D;
inline constexpr uint32_t kVendorElecom = 0x56E;
inline constexpr uint32_t kVendorRazer = 0x1532;

// Paths of the web service, and the upload's cuts (the service refuses longer fields).
inline constexpr const char* kUploadPath = upload::kUploadPath.data();
inline constexpr const char* kRankingPath = upload::kRankingPath.data();
inline constexpr double kUploadTimeoutSeconds = 3.0;
inline constexpr size_t kUploadDeviceNameLimit = upload::kDeviceNameMaxChars;  // characters of Dev
inline constexpr size_t kUploadAppNameLimit = upload::kAppMaxChars;            // characters of App
// The system's default tracking speed: a favourite at it with the device's own resolution
// is the system's setting and is not shared.
inline constexpr double kSystemDefaultTrackingSpeed = 0.6875;

// A device's identity as the web service counts it.
struct WebDeviceID {
  uint32_t vid = 0, pid = 0, mid = 0;
  std::string transport;
  bool operator==(const WebDeviceID&) const = default;
};

// The table of normalisations, without the built-in trackpad row (which needs the registry):
// Apple's product 0x265 becomes vendor 0x4C over "Bluetooth"; Logitech's "Unifying" becomes
// 0xC52B/0xC52B/"USB" first, then the Logitech, Kensington, Elecom and Razer rows apply.
// Every case not listed keeps its values.
WebDeviceID QS836normaliseIdentity(const WebDeviceID& raw);

// The built-in trackpad's product ID for the web: the record's product ID P, less 1 for an ISO
// keyboard and 2 for a JIS keyboard, judged by the "AppleEmbeddedKeyboard" registry services
// whose "ProductID" is P (the last one decides); P when they cannot be listed.
uint32_t QS836pidForAppleInternalTrackpad(const Platform& p, const QS802DeviceClass* device);

// The device record's normalised identity; any out argument may be null. A null device gives
// zeros and an empty transport.
void QS836deviceIDForWebTotaling(const Platform& p, const QS802DeviceClass* device, uint32_t* vid, uint32_t* pid,
                                 uint32_t* mid, std::string* transport);
WebDeviceID QS836deviceIDForWebTotaling(const Platform& p, const QS802DeviceClass* device);
// The same from the two ports they read: the registry (the built-in keyboard) and the system
// (its layout).
uint32_t QS836pidForAppleInternalTrackpad(IoRegistry* registry, SystemInfo* system, const QS802DeviceClass* device);
WebDeviceID QS836deviceIDForWebTotaling(IoRegistry* registry, SystemInfo* system, const QS802DeviceClass* device);

// Cuts text to at most maxCharacters characters (UTF-8 code points), never inside one.
std::string QS836prefixCharacters(const std::string& text, size_t maxCharacters);

// The machine identifier the uploads carry: a hex SHA-256 digest of
// "<serial or _noMachineID:login>:<gid %04hX>:<uid %04hX>" keyed with a per-user random salt
// kept in the user's settings folder (made on first use, mode 0600), so the value is stable
// for one machine and user and the serial number never leaves the machine. The owner makes one
// per process and keeps it; value() computes on first use.
class QS836MachineIdentifier {
 public:
  // saltPath: where the salt lives; empty means saltPath(p), beside the settings store. A
  // program on a simulated Mac keeps it in the world instead.
  QS836MachineIdentifier(const Platform& p, ErrorStack& errors, std::string saltPath = {})
      : p_(p), errors_(errors), saltPath_(std::move(saltPath)) {}
  // The percent-escaped identifier; empty only when no salt could be read or made (nothing
  // identifying is sent then).
  const std::string& value();
  // The unhashed identifier text (serial or "_noMachineID:<login>", gid, uid); stays local.
  static std::string plainIdentifier(const Platform& p);
  // The salt's usual place (the user's settings folder); empty without a Paths port.
  static std::string saltPath(const Platform& p);

 private:
  const Platform& p_;
  ErrorStack& errors_;
  std::string saltPath_;
  std::optional<std::string> value_;
};

// Digest of identifier keyed by salt, as 64 lower-case hex digits (pure; for tests and tools).
std::string QS836digestIdentifier(const std::string& identifier, const std::string& salt);

// What one upload says.
struct UploadFields {
  WebDeviceID id;               // normalised
  std::string deviceName;       // display name (cut to 100 characters by the builder)
  std::string machine;          // machine identifier, already escaped
  int32_t osVersion = 0;        // 101507 for 10.15.7
  std::string appName;          // cut to 20 characters by the builder, not escaped
  double trackingSpeed = 0;     // Acc
  double sensitivityShown = 0;  // Sen: the displayed sensitivity
};

// "VID=%d&PID=%d&MID=%d&Tra=%@&Dev=%@&Mac=%@&OSV=%d&App=%@&Acc=%g&Sen=%g", numbers without the
// locale's help.
std::string QS836uploadQuery(const UploadFields& fields);

// The fields of an upload of device's selected favourite; nullopt when it has none.
std::optional<UploadFields> QS836uploadFields(const Platform& p, QS836MachineIdentifier& machine,
                                              const QS802DeviceClass* device, const std::optional<std::string>& appName);

// Builds the upload and starts it without waiting (time-out 3 s, nobody reads the answer).
// Returns the request's id, or 0 when nothing was sent (no device, favourite or web port).
HttpClient::RequestId QS836uploadCursorSpeedFromApp(const Platform& p, QS836MachineIdentifier& machine,
                                                     const QS802DeviceClass* device,
                                                     const std::optional<std::string>& appName);

}  // namespace vl
