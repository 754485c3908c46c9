// Platform: the set of ports one process runs on. The core's plain functions reach the
// platform through the process's current set, as they would reach the system's own
// services; programs install the real or simulated set at start, tests a fresh one each.
#pragma once

namespace vl {

class IoRegistry;
class HidEventSystem;
class HidDevices;
class RunLoop;
class Paths;
class SystemInfo;
class UserDefaults;
class HttpClient;
class Alerts;
class Lifecycle;
class Workspace;
class Notifications;
class Session;
class Screens;
class Accessibility;
class Cursor;
class Desktop;
class Sleeper;
class FileManager;

struct Platform {
  IoRegistry* registry = nullptr;
  HidEventSystem* eventSystem = nullptr;
  HidDevices* hidDevices = nullptr;
  RunLoop* runLoop = nullptr;
  Paths* paths = nullptr;
  SystemInfo* system = nullptr;
  UserDefaults* defaults = nullptr;
  HttpClient* http = nullptr;
  Alerts* alerts = nullptr;
  Lifecycle* lifecycle = nullptr;
  Workspace* workspace = nullptr;
  Notifications* notifications = nullptr;
  Session* session = nullptr;
  Screens* screens = nullptr;
  Accessibility* accessibility = nullptr;
  Cursor* cursor = nullptr;
  Desktop* desktop = nullptr;
  Sleeper* sleeper = nullptr;  // the snapping worker's waits
  FileManager* fileManager = nullptr;  // reveals files (the crash report) in the file viewer
};

// The current set; every pointer is null until a program or test installs one.
Platform& currentPlatform();

// Installs a set for the lifetime of this object and restores the previous one after.
class ScopedPlatform {
 public:
  explicit ScopedPlatform(const Platform& p);
  ~ScopedPlatform();
  ScopedPlatform(const ScopedPlatform&) = delete;
  ScopedPlatform& operator=(const ScopedPlatform&) = delete;

 private:
  Platform previous_;
};

}  // namespace vl
