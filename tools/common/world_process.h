// WorldProcess: what every program on the shared simulated Mac sets up alike: the world and its
// desktop opened on a real run loop and followed on it, the user's folders, the world's user
// defaults, the file manager and the bus on which commands reach the agent.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/api/http_client.h"
#include "platform/api/platform.h"
#include "platform/api/workspace.h"
#include "platform/linux/dbus_file_manager.h"
#include "platform/linux/dbus_notifications.h"
#include "platform/linux/file_user_defaults.h"
#include "platform/linux/sd_event_runloop.h"
#include "platform/linux/xdg_paths.h"
#include "platform/sim/sim_desktop_world.h"
#include "platform/sim/world.h"
#include "platform/sim/world_paths.h"

namespace vl::cli {

struct WorldProcessOptions {
  std::string folder;       // the world folder (sim::worldFolderFor has resolved it)
  std::string resources;    // strings tables, definitions, help texts
  std::string processName;  // the writer of this process's property writes
  RunningApplication self;  // this program as an application of the simulated desktop
  // Which bus carries the commands: the agent listens on the session bus and records it in
  // the world; the programs that talk to it use the recorded one and fall back to the session's.
  enum class Bus { Session, Agent } bus = Bus::Session;
  // $VELMORA_SERVICE_URL as the program's entry read it (nullopt: not set); see service_url.h.
  std::optional<std::string> serviceURL;
};

class WorldProcess {
 public:
  // A failure (a sentence without the program's name) when the world, its desktop or the
  // user's folders cannot be opened. An unreachable bus is no failure: bus() is null then and
  // busError() says why.
  static Result<std::unique_ptr<WorldProcess>> open(linux_::SdEventRunLoop& loop, const WorldProcessOptions& options);
  ~WorldProcess();
  WorldProcess(const WorldProcess&) = delete;
  WorldProcess& operator=(const WorldProcess&) = delete;

  sim::World& world() { return *world_; }
  const std::string& folder() const { return world_->folder(); }
  linux_::DbusNotifications* bus() { return bus_.get(); }
  // The web client (libcurl) for the service this process uses.
  HttpClient& http() { return *http_; }
  const std::string& busError() const { return busError_; }

  // The world's ports with the run loop, the folders, the world's user defaults (so the
  // agent's published accessibility flag reaches the pane), the file manager, the bus and the
  // real web client (the world's service, or where the settings say).
  // Alerts and the lifecycle are each program's own.
  Platform platform();

  // Brings other processes' changes of the world and its desktop in on the loop; a file that
  // cannot be read is told to report ("reading the simulated Mac: ...").
  void follow(std::function<void(const std::string&)> report);

 private:
  WorldProcess() = default;
  linux_::SdEventRunLoop* loop_ = nullptr;
  std::unique_ptr<sim::World> world_;
  std::unique_ptr<sim::SimDesktopWorld> desktop_;
  std::optional<linux_::XdgPaths> paths_;
  // The user's folders, with the world's own PreferencePanes searched first.
  std::unique_ptr<sim::WorldPaths> worldPaths_;
  std::unique_ptr<linux_::FileUserDefaults> defaults_;
  linux_::DbusFileManager fileManager_;
  std::unique_ptr<linux_::DbusNotifications> bus_;
  std::string busError_;
  std::unique_ptr<HttpClient> http_;
  RunLoop::Token worldWatch_ = 0, desktopWatch_ = 0;
};

}  // namespace vl::cli
