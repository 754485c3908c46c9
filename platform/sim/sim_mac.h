// SimMac: a complete simulated Mac in memory — I/O registry, HID event system, HID devices
// (with a Logitech Unifying receiver that answers its report exchanges), system-wide
// acceleration, user defaults, system facts and a web-service stub. Deterministic; every test
// runs on it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/plist/value.h"
#include "platform/api/hid.h"
#include "platform/api/status.h"
#include "platform/api/http_client.h"
#include "platform/api/input_sources.h"
#include "platform/api/notifications.h"
#include "platform/api/paths.h"
#include "platform/api/platform.h"
#include "platform/api/runloop.h"
#include "platform/api/screens.h"
#include "platform/api/session.h"
#include "platform/api/system_info.h"
#include "platform/api/user_defaults.h"

namespace vl::sim {

class SimDesktop;
class SimFileManager;

// One property write on a service, as the history keeps it.
struct PropertyWrite {
  double time = 0;
  RegistryId service = 0;
  std::string key;
  pl::Value value;
  std::string writer;  // the process name that wrote it
  bool accepted = true;
};

// A paired slot of a simulated Unifying receiver.
struct ReceiverSlot {
  int slot = 0;
  uint32_t mid = 0;
  std::string name;
  uint32_t firmware = 0;
};

// How a simulated receiver behaves, for tests of the exchange.
struct ReceiverBehaviour {
  bool answersPairing = true;   // false: answers only with the 7-marker, no slots
  bool refuseFirstReport = false;
  bool refuseSecondReport = false;
};

class SimMac {
 public:
  // runLoop may be null: callbacks are then delivered synchronously.
  explicit SimMac(RunLoop* runLoop = nullptr);
  ~SimMac();
  SimMac(const SimMac&) = delete;
  SimMac& operator=(const SimMac&) = delete;

  // The ports, and a Platform set with them (runLoop, paths, alerts, lifecycle, workspace and
  // notifications are left for the caller to fill).
  IoRegistry& registry();
  HidEventSystem& eventSystem();
  HidDevices& hidDevices();
  SystemInfo& systemInfo();
  UserDefaults& defaults();
  HttpClient& http();
  Session& session();
  Notifications& notifications();
  Screens& screens();
  // The desktop: applications, windows, accessibility, cursor (its ports are in platform();
  // its virtual sleeper is not, so that a program's waits stay real).
  SimDesktop& desktop();
  // The file viewer (in platform()): records what it was asked to show.
  SimFileManager& fileManager();
  Platform platform();

  // --- Devices -----------------------------------------------------------------------------
  // Attaches a device described by a fixture root dictionary ({name, profile, notes, tree,
  // receiver?}); returns the registry id of its top entry, or why the fixture is malformed.
  // Event services are announced to matching clients. A baseId counts the registry ids from
  // there, so that several processes sharing one simulated machine agree on every id; 0
  // takes the next free ids.
  Result<RegistryId> attach(const pl::Value& fixture, RegistryId baseId = 0);
  // Loads "<dir>/<profile>.plist" and attaches it.
  Result<RegistryId> attachProfile(const std::string& dir, const std::string& profile);
  // Detaches the subtree of a top entry; removal callbacks run for its services.
  bool detach(RegistryId top);
  // The top entries of attached devices, in attach order.
  std::vector<RegistryId> attachedDevices() const;
  // The event services (pointing services handed to clients) below a top entry.
  std::vector<RegistryId> eventServicesOf(RegistryId top) const;
  // The service client of an event-service entry (the same object every time).
  ServiceRef serviceFor(RegistryId entry);
  // The profile name a top entry was loaded from.
  std::string profileOf(RegistryId top) const;

  // Direct property edits (another process or the system changing a value).
  void setProperty(RegistryId entry, const std::string& key, const pl::Value& value);
  void removeProperty(RegistryId entry, const std::string& key);

  // --- Live input ----------------------------------------------------------------------------
  HidManagers& hidManagers();
  EventMonitors& eventMonitors();
  // One input report of the HID device entry (an IOHIDDevice): its values go, in order and on
  // the run loop, to every opened, scheduled device handed out for that entry whose input
  // matching lets them through. Returns how many devices listen.
  size_t postInputReport(RegistryId hidDevice, const std::vector<HidInputValue>& values);
  // A mouse movement with cursor deltas: to the local monitors when this process receives
  // the mouse events, else to the global ones (on the run loop).
  void postMouseMoved(double deltaX, double deltaY);
  void setReceivesMouseEvents(bool receives);
  // The HID device entries (IOHIDDevice) at a location that offer a pointer or mouse usage,
  // as the HID manager matches them for the speed indicator.
  std::vector<RegistryId> pointerDevicesAt(uint32_t locationID) const;

  // --- Fault injection ---------------------------------------------------------------------
  void refuseServiceWrites(const std::string& key, bool refuse);
  void failIterators(bool fail);                    // parents/children iterations fail
  void failClientCreation(bool fail);               // createClient returns null
  ReceiverBehaviour& receiverBehaviour(RegistryId top);
  void setListenAccess(bool granted);
  void failHidManagerCreation(bool fail);
  void failHidManagerOpen(bool fail);

  // --- System-wide state -------------------------------------------------------------------
  // Sets a system-wide acceleration value (what IOHIDGetAccelerationWithKey answers) and
  // tells clients that registered for the key, as the system does when the user moves the
  // slider in the system's settings. value is a double; clients get it as 16.16.
  void setSystemAcceleration(const std::string& key, double value);
  std::optional<double> systemAcceleration(const std::string& key) const;
  void failAccelerationReads(bool fail);

  // --- Process identity, facts and web stub --------------------------------------------------
  void setProcessName(const std::string& name);  // recorded as the writer of property writes
  void setOsVersion(OsVersion v);
  void setPreferredLanguages(std::vector<std::string> langs);
  void setHardwareModel(const std::string& model, const std::string& marketingName);
  // Installs (path non-empty) or removes a kernel extension with this bundle identifier.
  void setKernelExtension(const std::string& bundleID, const std::string& path);
  // The keyboard layout type of a handler id (KBGetLayoutType); unlisted ids are ANSI.
  void setKeyboardLayout(int16_t handlerID, uint32_t layoutType);
  // "hw.machine" ("x86_64", "arm64").
  void setMachine(const std::string& machine);
  // Signs (signer non-empty) the bundle at path, or removes its signature.
  void setCodeSigner(const std::string& bundlePath, const std::string& signer);
  // Answers GET requests to path with body (status 200); unanswered paths time out.
  void setHttpAnswer(const std::string& path, pl::Data body, int status = 200);
  // Answers requests to path with a transport error instead (the connection was refused…).
  void setHttpError(const std::string& path, int code, const std::string& domain = kURLErrorDomain);
  // How long started requests wait for their answer, in run-loop seconds (a slow server); a
  // delay beyond a request's time-out times it out.
  void setHttpDelay(double seconds);
  std::vector<std::string> httpRequests() const;  // "path?query", in order

  const std::vector<PropertyWrite>& writes() const;
  void clearWrites();
  // Called for every service property write of this process (the shared world keeps them).
  void setWriteObserver(std::function<void(const PropertyWrite&)> fn);

  // --- Session, screens, notifications -------------------------------------------------------
  // Changes the session state; observers get the matching events in the platform's order.
  void setSessionState(SessionState s);
  void lockScreen();
  void unlockScreen();
  void logout();  // the session resigns active (fast user switching or logging out)
  void login();
  void setScreenFrames(std::vector<Rect> frames);
  void displayChange();  // tells observers the display arrangement changed
  struct Posted {
    std::string name, object;
    pl::Dict userInfo;
  };
  const std::vector<Posted>& postedNotifications() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// The folder of device profiles below a resources folder: "<resources>/devices".
inline std::string deviceProfileFolder(const std::string& resources) { return resources + "/devices"; }

}  // namespace vl::sim
