// Building the real machine's platform for a program.
#include "tools/common/desktop_process.h"

#include <algorithm>
#include <cstdlib>

#include "core/system/desktop_entry.h"
#include "core/system/instance_lock.h"

#include "tools/common/service_url.h"

namespace vl::cli {

namespace {
const char* envOf(const std::function<const char*(const char*)>& getenv, const char* name) {
  const char* v = getenv ? getenv(name) : std::getenv(name);
  return v && *v ? v : nullptr;
}
}  // namespace

DesktopSessionParts::DesktopSessionParts(const DesktopSlotOptions& o) {
  auto getenv = [&o](const char* name) { return envOf(o.getenv, name); };
  const linux_input::SessionFacts facts = linux_input::SessionFacts::from(getenv);
  std::string runtime = o.runtimeDir;
  if (runtime.empty())
    if (const char* r = getenv("XDG_RUNTIME_DIR")) runtime = r;
  // A shared folder such as /tmp is no place for it: without the session's own, the devices'
  // settings are kept in memory only.
  if (o.restoreFile && runtime.empty() && o.log)
    o.log("pointer speeds: no $XDG_RUNTIME_DIR, so a killed run's device settings cannot be given back by the next");
  if (o.restoreFile && !runtime.empty()) {
    writer_ = inputd::openSessionPointerWriter(facts, runtime, o.loop, o.log, o.openers, /*leftoversNow=*/false);
    log_ = o.log;
  } else {
    const linux_input::WriterOpeners real =
        o.openers ? *o.openers : linux_input::WriterOpeners::real(facts, inputd::modelGainMapping(), nullptr, o.loop);
    writer_.writer = linux_input::choosePointerWriter(facts, real, o.log);
  }
  if (!o.sessionPorts) return;
  linux_::DesktopSessionOptions so = o.session;
  if (!so.getenv) so.getenv = o.getenv;
  if (!so.readEntry) {
    so.readEntry = [](const std::string& path) -> std::optional<linux_::ApplicationEntry> {
      auto e = readApplicationEntry(path);
      if (!e) return std::nullopt;
      return linux_::ApplicationEntry{desktopFileID(path), path, e->name, e->exec, e->icon, e->noDisplay};
    };
  }
  ports_ = linux_::makeDesktopSessionPorts(so);
  notes_ = ports_->notes;
  if (o.loop) {
    // A port whose events cannot reach the loop would announce nothing: it is left out, and
    // the composition's fallback stands in.
    if (Status st = ports_->attach(*o.loop); !st.ok()) {
      notes_.push_back("session moments and display changes: cannot watch them (" + st.detail() + ")");
      ports_->session.reset();
      ports_->screens.reset();
    }
  }
}

void DesktopSessionParts::giveLeftoversBack() {
  if (writer_.restoreFile) inputd::giveLeftoversBack(writer_, log_);
}

DesktopSlots defaultDesktopSlots(const DesktopSlotOptions& options) {
  DesktopSlots slots;
  slots.parts = std::make_shared<DesktopSessionParts>(options);
  DesktopSessionParts* parts = slots.parts.get();
  slots.writerChooser = [parts](const linux_input::InputDeviceInfo&) { return &parts->writer(); };
  if (parts->ports_) {
    slots.sessionPorts = [parts](Platform& p, std::vector<std::string>& notes) {
      parts->ports_->fill(p);
      for (const auto& n : parts->notes_)
        if (std::find(notes.begin(), notes.end(), n) == notes.end()) notes.push_back(n);
    };
  }
  return slots;
}

Result<std::unique_ptr<DesktopProcess>> DesktopProcess::open(linux_::SdEventRunLoop& loop,
                                                             DesktopProcessOptions options) {
  std::unique_ptr<DesktopProcess> p(new DesktopProcess());  // private constructor
  p->loop_ = &loop;
  auto machine = linux_::UdevMachine::open();
  if (!machine) return machine.status();
  p->machine_ = std::move(machine).value();
  p->events_ = std::make_unique<linux_::UdevEventSystem>(*p->machine_, options.slots.writerChooser, options.report);
  p->hid_ = std::make_unique<linux_::HidrawDevices>(*p->machine_, options.report);
  // Devices come and go through the monitor's descriptor: nothing wakes the loop otherwise.
  linux_::UdevMachine* watched = p->machine_.get();
  p->monitorWatch_ = loop.watchFd(watched->monitorFd(), [watched] { watched->processEvents(); });
  if (!p->monitorWatch_) return Status::failure(1, "cannot watch udev's monitor on the run loop");
  auto paths = linux_::XdgPaths::create(linux_::XdgEnvironment::fromProcess(), options.resources);
  if (!paths) return paths.status();
  p->paths_ = std::move(paths).value();
  p->defaults_ = std::make_unique<linux_::FileUserDefaults>(p->paths_->preferences());
  p->system_ = std::make_unique<linux_::LinuxSystemInfo>(linux_::SystemSources::fromProcess());
  p->services_ = std::make_unique<linux_::SystemdServiceManager>(linux_::SystemdOptions::fromProcess());
  p->http_ = makeServiceClient({options.serviceURL, p->defaults_.get(), ""}, &loop);
  if (options.connectBus) {
    // An unreachable bus is no failure: bus() is null and busError() says why.
    auto bus = linux_::DbusNotifications::connect(loop);
    if (bus) p->bus_ = std::move(bus).value();
    else p->busError_ = bus.status().detail();
  }
  p->sessionPorts_ = std::move(options.slots.sessionPorts);
  p->parts_ = std::move(options.slots.parts);
  p->report_ = options.report;
  if (!options.slots.writerChooser)
    p->notes_.push_back(std::string("speeds: ") + linux_input::kNoWriterDetail + "; every speed write is refused");
  return p;
}

DesktopProcess::~DesktopProcess() {
  if (session_ && sessionEndToken_) session_->unobserve(sessionEndToken_);
  if (loop_ && monitorWatch_) loop_->unwatchFd(monitorWatch_);
}

Status DesktopProcess::giveSpeedsBack() {
  Status first = Status::success();
  for (const auto& s : events_->services()) {
    Status st = s->writer().restore(s->info());
    if (!st.ok() && first.ok()) first = std::move(st).context(s->info().name + " (" + s->info().devNode + ")");
  }
  return first;
}

bool DesktopProcess::giveLeftoversBack(const std::string& instanceLockPath) {
  std::string error;
  bool busy = false;
  // Held while giving back, so that an agent starting meanwhile waits its turn at the lock.
  auto probe = InstanceLock::acquire(instanceLockPath, &error, &busy);
  if (!probe && busy) return false;
  if (parts_) parts_->giveLeftoversBack();
  return true;
}

void DesktopProcess::giveSpeedsBackAtSessionEnd() {
  if (!session_ || sessionEndToken_) return;
  sessionEndToken_ = session_->observe([this](SessionEvent e) {
    if (e != SessionEvent::ResignedActive) return;
    if (Status st = giveSpeedsBack(); !st.ok() && report_)
      report_("logout: a device's own speed could not be given back: " + st.detail());
  });
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
  // What the desktop-session adapters did not supply. Their own notes say why one is missing;
  // without them, say what is absent.
  const bool sessionAdapters = static_cast<bool>(sessionPorts_);
  if (!p.session) {
    p.session = &consoleSession_;
    notes_.push_back(std::string("session: ") + (sessionAdapters ? "no logind" : "no logind adapter yet") +
                     "; the user counts as active and the screen as unlocked");
  }
  if (!sessionAdapters) {
    if (!p.screens) notes_.push_back("no screens adapter yet: display changes are not seen");
    if (!p.accessibility) notes_.push_back("no accessibility adapter yet: cursor snapping finds no windows");
    if (!p.cursor) notes_.push_back("no cursor adapter yet: the pointer is never moved");
    if (!p.workspace) notes_.push_back("no workspace adapter yet: no running applications are listed");
  }
  if (!p.notifications) notes_.push_back("no session bus: the settings pane's commands do not arrive");
  session_ = p.session;
  return p;
}

}  // namespace vl::cli
