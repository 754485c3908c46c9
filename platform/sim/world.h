// World: the simulated Mac kept in a folder of property-list files, so that several processes
// (the agent, velmora-sim, the settings window) share one virtual machine and see each other's
// changes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/plist/value.h"
#include "platform/api/platform.h"
#include "platform/api/runloop.h"
#include "platform/api/screens.h"
#include "platform/api/session.h"
#include "platform/api/status.h"
#include "platform/api/workspace.h"
#include "platform/sim/sim_mac.h"
#include "platform/sim/sim_workspace.h"
#include "platform/sim/world_file_attributes.h"
#include "platform/sim/world_service_manager.h"

namespace vl::sim {

// Registry ids: every attachment gets its own block, numbered once for the life of the world,
// so every process names every entry alike and an id is never reused.
inline constexpr RegistryId kWorldFirstBlock = 0x100001000;
inline constexpr RegistryId kWorldBlockSize = 0x1000;

// The files of a world folder (XML property lists).
inline constexpr const char* kWorldDevicesFile = "devices.plist";        // attachments and their fixtures
inline constexpr const char* kWorldPropertiesFile = "properties.plist";  // service properties written since
inline constexpr const char* kWorldSystemFile = "system.plist";          // acceleration, session, screens
inline constexpr const char* kWorldApplicationsFile = "applications.plist";
inline constexpr const char* kWorldInputFile = "input.plist";            // recent live input, bounded
inline constexpr const char* kWorldLockFile = "world.lock";
inline constexpr const char* kWorldHistoryFolder = "history";    // writes-<n>.plist, oldest first
inline constexpr const char* kWorldDefaultsFolder = "defaults";  // <domain>.plist per user-defaults domain
inline constexpr const char* kWorldAgentLockFile = "agent.lock";  // the agent's single-instance lock
inline constexpr const char* kWorldAgentFile = "agent.plist";     // {pid, busAddress} of the running agent

struct WorldOptions {
  // Recorded as the writer of this process's property writes.
  std::string processName = "velmora";
  // Where the simulated Mac delivers its callbacks; null delivers them synchronously.
  RunLoop* runLoop = nullptr;
  // Seconds since the epoch; the history's times. Empty: the system's wall clock.
  std::function<double()> wallClock;
  // The workspace's home folder. Empty: $HOME.
  std::string home;
  // How many property writes the history keeps.
  size_t historyLimit = 5000;
  // Told of failures that have no caller to return to (persisting a service write made
  // through the event system). Empty: the message goes to stderr.
  std::function<void(const std::string&)> onError;
};

// One attached device as the world records it.
struct WorldDevice {
  RegistryId id = 0;  // the top entry, also the first id of its block
  std::string profile;
  std::string name;  // the fixture's description
  double attached = 0;  // seconds since the epoch
};

// A World is used from one thread, its run loop's.
class World {
  struct Key {
    explicit Key() = default;
  };

 public:
  struct Private;
  explicit World(Key);  // use open or create
  ~World();
  World(const World&) = delete;
  World& operator=(const World&) = delete;

  // Opens the world in folder; a failure when there is none or a file is unreadable.
  static Result<std::unique_ptr<World>> open(const std::string& folder, const WorldOptions& options);
  // Makes a new, empty world in folder (created when missing) and opens it. An existing world
  // is an error unless replace is set; replacing keeps numbering ids after the old ones, so
  // a process still watching sees every old device leave and the new ones arrive.
  static Result<std::unique_ptr<World>> create(const std::string& folder, const WorldOptions& options, bool replace);
  // Whether folder holds a world.
  static bool exists(const std::string& folder);

  // --- The agent of the world -----------------------------------------------------------------
  // One agent runs per world: its single-instance lock lies in the world folder, so agents on
  // other worlds of the same user do not stop it.
  static std::string agentLockPath(const std::string& folder);
  // Records the bus address the agent listens on, for the programs that talk to it.
  static Status recordAgentBus(const std::string& folder, const std::string& address);
  // The bus address of the world's running agent; nullopt when no agent holds the world's
  // lock or none was recorded.
  static std::optional<std::string> runningAgentBus(const std::string& folder);

  const std::string& folder() const;
  std::string defaultsFolder() const;  // for a file-backed UserDefaults of the world

  // The simulated Mac. Change shared state through the World's operations below; the
  // SimMac's own setters change this process only. Service property writes made through the
  // event system's service clients are shared at once.
  SimMac& mac();
  SimWorkspace& workspace();
  // The launch agents of the world and its administrator prompt (kept in the folder).
  WorldServiceManager& serviceManager();
  WorldAdminPrompt& adminPrompt();
  // The quarantine attributes of the world's files (kept in the folder).
  WorldFileAttributes& fileAttributes();
  // The ports of the world (runLoop as given; paths, alerts, lifecycle and notifications are
  // left for the program).
  Platform platform();

  // --- Shared changes; each is written to the folder before it returns -------------------------
  // Attaches a fixture ({name, profile, notes, tree, receiver?}) in a new block; returns its
  // top entry.
  Result<RegistryId> attach(const pl::Value& fixture);
  // Loads "<dir>/<profile>.plist", or the file itself when profile is a path to a .plist.
  Result<RegistryId> attachProfile(const std::string& dir, const std::string& profile);
  Status detach(RegistryId top);
  std::vector<WorldDevice> devices() const;
  // A registry property changed from outside the event system (not recorded in the history).
  Status setProperty(RegistryId entry, const std::string& key, const pl::Value& value);
  Status setSystemAcceleration(const std::string& key, double value);
  Status setSessionState(SessionState state);
  Status setScreenFrames(std::vector<Rect> frames);
  // The layout type (KBGetLayoutType) of the keyboard with this handler id.
  Status setKeyboardLayout(int16_t handlerID, uint32_t layoutType);
  // Tells every process's screen observers that the display arrangement changed.
  Status displayChange();
  uint64_t displayChangeCount() const;
  // Running applications: launch gives a process identifier unique in the world when the
  // application has none; terminate removes the newest one with this bundle identifier.
  Result<int32_t> launchApplication(RunningApplication app, bool activate);
  Status terminateApplication(const std::string& bundleIdentifier);
  Status terminateProcess(int32_t processIdentifier);
  // A real process of this machine (this one when app has no process identifier: the agent)
  // as a running application of the world, so that the workspace finds it: its start time
  // comes from the kernel and a termination request is a SIGTERM. Earlier records of the same
  // bundle identifier whose processes ended are dropped. Returns the process identifier.
  Result<int32_t> recordHostProcess(RunningApplication app);

  // Live input (the mouse being moved). Unlike the state above it is not replayed: a process
  // gets the events posted while it has the world open, each once, on its run loop.
  // An input report of a HID device entry (an IOHIDDevice); the values of one report share
  // their timestamp.
  Status postInputReport(RegistryId hidDevice, const std::vector<HidInputValue>& values);
  // A mouse movement with cursor deltas (what mouse-moved event monitors see).
  Status postMouseMoved(double deltaX, double deltaY);

  // The property writes of every process, oldest first; those at or after since.
  Result<std::vector<PropertyWrite>> history(double since) const;

  // --- Following other processes ------------------------------------------------------------
  // An inotify descriptor that becomes readable when the folder changes; poll it on the run
  // loop and call processChanges.
  int watchFd() const;
  // Reloads what changed and brings the simulated Mac in step: arrivals, removals, property
  // values, system acceleration, session and display events. This process's own changes are
  // recognised and cause nothing. A failure when a file could not be read (the state of the
  // last good read stays).
  Status processChanges();

 private:
  std::unique_ptr<Private> p_;
};

// The world folder a program uses: the --world option when given, else $VELMORA_WORLD, else
// $XDG_DATA_HOME/velmora/world, else ~/.local/share/velmora/world.
std::string worldFolderFor(const std::string& option);

}  // namespace vl::sim
