// DesktopProcess: the real Linux machine's Platform for the programs, built in one place — the
// udev registry, HID event system and hidraw devices, the XDG folders, file-backed user
// defaults, the session bus, systemd's user manager, the file manager, libcurl and the rest —
// with slots where the per-session speed writers and the desktop-session adapters plug in.
// Every port that has no real adapter yet is named in notes() with what stands in for it.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/api/http_client.h"
#include "platform/api/platform.h"
#include "platform/linux/console_session.h"
#include "platform/linux/dbus_file_manager.h"
#include "platform/linux/dbus_notifications.h"
#include "platform/linux/desktop_session_ports.h"
#include "platform/linux/file_user_defaults.h"
#include "platform/linux/hidraw_devices.h"
#include "platform/linux/linux_system_info.h"
#include "platform/linux/sd_event_runloop.h"
#include "platform/linux/systemd_service_manager.h"
#include "platform/linux/udev_event_system.h"
#include "platform/linux/udev_machine.h"
#include "platform/linux/writer_chooser.h"
#include "platform/linux/xattr_file_attributes.h"
#include "platform/linux/xdg_paths.h"
#include "tools/inputd/core/session_pointer_writer.h"

namespace vl::cli {

class DesktopSessionParts;

// Where the adapters of other parts of the system plug in.
struct DesktopSlots {
  // The speed writer of each device (X11, KWin, velmora-inputd); empty: none in this session,
  // and every speed write is refused, saying so.
  linux_input::WriterChooser writerChooser;
  // Fills the session's ports (session moments, screens, accessibility, cursor, workspace) into
  // the platform and adds a note for each it could not build.
  std::function<void(Platform& platform, std::vector<std::string>& notes)> sessionPorts;
  // What the two above reach; kept alive as long as the slots are.
  std::shared_ptr<DesktopSessionParts> parts;
};

// How a program wants the session's parts.
struct DesktopSlotOptions {
  // The agent: the writer keeps the devices' own settings in a restore file under
  // $XDG_RUNTIME_DIR (DesktopProcess::giveLeftoversBack gives back what a run that ended
  // abnormally left there). Off (a listing), no file is touched: a running agent's is its own.
  bool restoreFile = false;
  // Build the session adapters (logind, screens, AT-SPI, cursor, workspace) on the loop.
  bool sessionPorts = false;
  linux_::SdEventRunLoop* loop = nullptr;
  // The environment (getenv); null: the process's own.
  std::function<const char*(const char*)> getenv;
  // Addresses and display of the session's adapters; empty: the session's own.
  linux_::DesktopSessionOptions session;
  // The restore file's folder; empty: $XDG_RUNTIME_DIR.
  std::string runtimeDir;
  // Openers of the writers; null: the real ones.
  const linux_input::WriterOpeners* openers = nullptr;
  // Hears the writer's choice and what the session's adapters lack, one line each.
  std::function<void(const std::string&)> log;
};

// The session's speed writer and desktop adapters, built for the running session.
class DesktopSessionParts {
 public:
  explicit DesktopSessionParts(const DesktopSlotOptions& options);
  DesktopSessionParts(const DesktopSessionParts&) = delete;
  DesktopSessionParts& operator=(const DesktopSessionParts&) = delete;

  linux_input::PointerWriter& writer() const { return *writer_.writer; }
  void giveLeftoversBack();
  const linux_::DesktopSessionPorts* ports() const { return ports_ ? &*ports_ : nullptr; }

 private:
  inputd::SessionPointerWriter writer_;
  std::optional<linux_::DesktopSessionPorts> ports_;
  std::vector<std::string> notes_;
  std::function<void(const std::string&)> log_;
  friend DesktopSlots defaultDesktopSlots(const DesktopSlotOptions&);
};

// The slots as this build fills them: every program on the real machine takes them from here,
// so the agent, the window and velmora-ctl choose the same writer for a device.
DesktopSlots defaultDesktopSlots(const DesktopSlotOptions& options);

struct DesktopProcessOptions {
  std::string resources;
  std::optional<std::string> serviceURL;  // $VELMORA_SERVICE_URL as read by main
  bool connectBus = true;                 // the session bus for the pane's commands
  DesktopSlots slots;
  // Hears what the device adapters have to say (a refused receiver, a refused speed write).
  std::function<void(const std::string&)> report;
};

class DesktopProcess {
 public:
  // A failure when udev or the user's folders cannot be had. An unreachable bus is no failure:
  // bus() is null and busError() says why.
  static Result<std::unique_ptr<DesktopProcess>> open(linux_::SdEventRunLoop& loop, DesktopProcessOptions options);
  ~DesktopProcess();
  DesktopProcess(const DesktopProcess&) = delete;
  DesktopProcess& operator=(const DesktopProcess&) = delete;

  Platform platform();
  // One line per port that falls back, and to what.
  const std::vector<std::string>& notes() const { return notes_; }
  linux_::UdevMachine& machine() { return *machine_; }
  linux_::UdevEventSystem& eventSystem() { return *events_; }
  linux_::DbusNotifications* bus() { return bus_.get(); }
  // Gives every device present the desktop's own speed back through its writer, after the
  // agent's own restore at quit and at logout: what the agent writes as "the system speed" is
  // mapped like any other speed, while the writer holds the setting the device had. The first
  // failure is returned; the other devices are still given back.
  [[nodiscard]] Status giveSpeedsBack();
  // Gives back the device settings a run of the agent that ended without restoring (a crash, a
  // kill) left in the writer's restore file, unless another agent holds instanceLockPath: the
  // entries of a running agent are its own. Call before the agent takes that lock and announces
  // any device. False when another agent runs.
  bool giveLeftoversBack(const std::string& instanceLockPath);
  // Runs giveSpeedsBack after the agent's observers whenever the session resigns active
  // (logout, switching to another user). Call once the agent watches the session.
  void giveSpeedsBackAtSessionEnd();
  const std::string& busError() const { return busError_; }
  const linux_::XdgPaths& paths() const { return *paths_; }
  // The folder of this program's own files on the real machine ($XDG_DATA_HOME/velmora).
  std::string dataFolder() const;

 private:
  DesktopProcess() = default;
  // First, so that it goes last: the service clients and the event system use its writer.
  std::shared_ptr<DesktopSessionParts> parts_;
  linux_::SdEventRunLoop* loop_ = nullptr;
  std::unique_ptr<linux_::UdevMachine> machine_;
  std::unique_ptr<linux_::UdevEventSystem> events_;
  std::unique_ptr<linux_::HidrawDevices> hid_;
  std::optional<linux_::XdgPaths> paths_;
  std::unique_ptr<linux_::FileUserDefaults> defaults_;
  std::unique_ptr<linux_::LinuxSystemInfo> system_;
  std::unique_ptr<linux_::SystemdServiceManager> services_;
  linux_::PkexecAdminPrompt adminPrompt_;
  linux_::XattrFileAttributes fileAttributes_;
  linux_::DbusFileManager fileManager_;
  linux_::ConsoleSession consoleSession_;
  std::unique_ptr<linux_::DbusNotifications> bus_;
  std::string busError_;
  std::unique_ptr<HttpClient> http_;
  std::function<void(Platform&, std::vector<std::string>&)> sessionPorts_;
  std::vector<std::string> notes_;
  uint64_t monitorWatch_ = 0;
  std::function<void(const std::string&)> report_;
  Session* session_ = nullptr;  // the platform's, as last built
  Session::Token sessionEndToken_ = 0;
};

}  // namespace vl::cli
