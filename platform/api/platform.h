// Platform: the set of ports one process (or one simulated Mac in a test) runs on. Programs
// and tests build a set and hand it to the objects they make; the core's plain functions take
// it as their first parameter. There is no process-wide current set, so two sets can live
// side by side.
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
class Pasteboard;
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
class HidManagers;
class EventMonitors;
class ServiceManager;
class AdminPrompt;
class FileAttributes;

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
  Pasteboard* pasteboard = nullptr;  // the general pasteboard (copy and paste of a favourite)
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
  HidManagers* hidManagers = nullptr;      // raw input values for the curve graph's indicator
  EventMonitors* eventMonitors = nullptr;  // mouse-moved monitors for the same
  ServiceManager* serviceManager = nullptr;  // runs the agent as a launch agent
  AdminPrompt* adminPrompt = nullptr;        // privileged operations after the user agreed
  FileAttributes* fileAttributes = nullptr;  // download quarantine of the installed pane
};

}  // namespace vl
