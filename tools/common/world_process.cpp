// Opening and following the shared simulated Mac for a program.
#include "tools/common/world_process.h"

#include "tools/common/agent_bus.h"
#include "tools/common/service_url.h"

namespace vl::cli {

std::unique_ptr<WorldProcess> WorldProcess::open(linux_::SdEventRunLoop& loop, const WorldProcessOptions& options,
                                                 std::string* error) {
  std::unique_ptr<WorldProcess> p(new WorldProcess());
  p->loop_ = &loop;
  std::string e;
  sim::WorldOptions wo;
  wo.processName = options.processName;
  wo.runLoop = &loop;
  p->world_ = sim::World::open(options.folder, wo, &e);
  if (!p->world_) {
    if (error) *error = "no simulated Mac at " + options.folder + ": " + e + "\nCreate one with 'velmora-sim init'.";
    return nullptr;
  }
  // The desktop (applications, windows, cursor) is shared in the world as well; the program
  // takes part in it as an application of its own.
  p->desktop_ = sim::SimDesktopWorld::open(options.folder, p->world_->mac().desktop(), options.self, &e);
  if (!p->desktop_) {
    if (error) *error = "cannot join the simulated desktop: " + e;
    return nullptr;
  }
  p->paths_ = linux_::XdgPaths::create(linux_::XdgEnvironment::fromProcess(), options.resources, &e);
  if (!p->paths_) {
    if (error) *error = e;
    return nullptr;
  }
  // A pane installed into this simulated Mac is the one its programs find (and whose build
  // date the agent compares).
  p->worldPaths_ = std::make_unique<sim::WorldPaths>(*p->paths_, options.folder);
  p->defaults_ = std::make_unique<linux_::FileUserDefaults>(p->world_->defaultsFolder());
  p->http_ = makeServiceClient({options.serviceURL, p->defaults_.get(), options.folder}, &loop);
  if (options.bus == WorldProcessOptions::Bus::Agent)
    p->bus_ = connectAgentBus(loop, options.folder, &p->busError_);
  else
    p->bus_ = linux_::DbusNotifications::connect(loop, &p->busError_);
  return p;
}

WorldProcess::~WorldProcess() {
  if (loop_) {
    if (worldWatch_) loop_->unwatchFd(worldWatch_);
    if (desktopWatch_) loop_->unwatchFd(desktopWatch_);
  }
}

Platform WorldProcess::platform() {
  Platform platform = world_->platform();
  platform.runLoop = loop_;
  platform.paths = worldPaths_.get();
  platform.defaults = defaults_.get();
  platform.fileManager = &fileManager_;
  if (bus_) platform.notifications = bus_.get();
  platform.http = http_.get();
  return platform;
}

void WorldProcess::follow(std::function<void(const std::string&)> report) {
  desktopWatch_ = loop_->watchFd(desktop_->watchFd(), [this, report] {
    std::string e;
    if (!desktop_->processChanges(&e) && report) report("reading the simulated desktop: " + e);
  });
  worldWatch_ = loop_->watchFd(world_->watchFd(), [this, report] {
    if (Status read = world_->processChanges(); !read && report) report("reading the simulated Mac: " + read.detail());
  });
}

}  // namespace vl::cli
