// Building the real machine's platform for a program.
#include "tools/common/desktop_process.h"

#include <algorithm>

#include "tools/common/service_url.h"

namespace vl::cli {

DesktopSlots defaultDesktopSlots() {
  // No speed writer and no session adapters are built in yet: the refusing writer and the
  // fallbacks named in notes() stand in.
  return DesktopSlots{};
}

std::unique_ptr<DesktopProcess> DesktopProcess::open(linux_::SdEventRunLoop& loop, DesktopProcessOptions options,
                                                     std::string* error) {
  std::unique_ptr<DesktopProcess> p(new DesktopProcess());  // private constructor
  p->loop_ = &loop;
  std::string e;
  p->machine_ = linux_::UdevMachine::open(&e);
  if (!p->machine_) {
    if (error) *error = e;
    return nullptr;
  }
  p->events_ = std::make_unique<linux_::UdevEventSystem>(*p->machine_, options.slots.writerChooser, options.report);
  p->hid_ = std::make_unique<linux_::HidrawDevices>(*p->machine_, options.report);
  // Devices come and go through the monitor's descriptor: nothing wakes the loop otherwise.
  linux_::UdevMachine* machine = p->machine_.get();
  p->monitorWatch_ = loop.watchFd(machine->monitorFd(), [machine] { machine->processEvents(); });
  if (!p->monitorWatch_) {
    if (error) *error = "cannot watch udev's monitor on the run loop";
    return nullptr;
  }
  p->paths_ = linux_::XdgPaths::create(linux_::XdgEnvironment::fromProcess(), options.resources, &e);
  if (!p->paths_) {
    if (error) *error = e;
    return nullptr;
  }
  p->defaults_ = std::make_unique<linux_::FileUserDefaults>(p->paths_->preferences());
  p->system_ = std::make_unique<linux_::LinuxSystemInfo>(linux_::SystemSources::fromProcess());
  p->services_ = std::make_unique<linux_::SystemdServiceManager>(linux_::SystemdOptions::fromProcess());
  p->http_ = makeServiceClient({options.serviceURL, p->defaults_.get(), ""}, &loop);
  if (options.connectBus) p->bus_ = linux_::DbusNotifications::connect(loop, &p->busError_);
  p->sessionPorts_ = std::move(options.slots.sessionPorts);
  if (!options.slots.writerChooser)
    p->notes_.push_back(std::string("speeds: ") + linux_input::kNoWriterDetail + "; every speed write is refused");
  return p;
}

DesktopProcess::~DesktopProcess() {
  if (loop_ && monitorWatch_) loop_->unwatchFd(monitorWatch_);
}

std::string DesktopProcess::dataFolder() const { return paths_->applicationSupport() + "/velmora"; }

Platform DesktopProcess::platform() {
  Platform p;
  p.registry = &machine_->registry();
  p.eventSystem = events_.get();
  p.hidDevices = hid_.get();
  p.runLoop = loop_;
  p.paths = &*paths_;
  p.system = system_.get();
  p.defaults = defaults_.get();
  p.http = http_.get();
  p.fileManager = &fileManager_;
  p.serviceManager = services_.get();
  p.adminPrompt = &adminPrompt_;
  p.fileAttributes = &fileAttributes_;
  if (bus_) p.notifications = bus_.get();
  notes_.erase(std::remove_if(notes_.begin(), notes_.end(),
                              [](const std::string& n) { return n.rfind("session:", 0) == 0 || n.rfind("no ", 0) == 0; }),
               notes_.end());
  if (sessionPorts_) sessionPorts_(p, notes_);
  // What the desktop-session adapters did not supply.
  if (!p.session) {
    p.session = &consoleSession_;
    notes_.push_back("session: no logind adapter yet; the user counts as active and the screen as unlocked");
  }
  if (!p.screens) notes_.push_back("no screens adapter yet: display changes are not seen");
  if (!p.accessibility) notes_.push_back("no accessibility adapter yet: cursor snapping finds no windows");
  if (!p.cursor) notes_.push_back("no cursor adapter yet: the pointer is never moved");
  if (!p.workspace) notes_.push_back("no workspace adapter yet: no running applications are listed");
  if (!p.desktop) notes_.push_back("no desktop adapter yet: no windows are watched");
  if (!p.notifications) notes_.push_back("no session bus: the settings pane's commands do not arrive");
  return p;
}

}  // namespace vl::cli
