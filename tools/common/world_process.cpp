// Opening and following the shared simulated Mac for a program.
#include "tools/common/world_process.h"

#include "tools/common/agent_bus.h"
#include "tools/common/service_url.h"

namespace vl::cli {

Result<std::unique_ptr<WorldProcess>> WorldProcess::open(linux_::SdEventRunLoop& loop,
                                                         const WorldProcessOptions& options) {
  std::unique_ptr<WorldProcess> p(new WorldProcess());
  p->loop_ = &loop;
  sim::WorldOptions wo;
  wo.processName = options.processName;
  wo.runLoop = &loop;
  auto world = sim::World::open(options.folder, wo);
  if (!world)
    return Status::failure(1, "no simulated Mac at " + options.folder + ": " + world.status().detail() +
                                  "\nCreate one with 'velmora-sim init'.");
  p->world_ = std::move(world).value();
  // The desktop (applications, windows, cursor) is shared in the world as well; the program
  // takes part in it as an application of its own.
  auto desktop = sim::SimDesktopWorld::open(options.folder, p->world_->mac().desktop(), options.self);
  if (!desktop) return Status::failure(1, "cannot join the simulated desktop: " + desktop.status().detail());
  p->desktop_ = std::move(desktop).value();
  auto paths = linux_::XdgPaths::create(linux_::XdgEnvironment::fromProcess(), options.resources);
  if (!paths) return paths.status();
  p->paths_ = std::move(paths).value();
  // A pane installed into this simulated Mac is the one its programs find (and whose build
  // date the agent compares).
  p->worldPaths_ = std::make_unique<sim::WorldPaths>(*p->paths_, options.folder);
  p->defaults_ = std::make_unique<linux_::FileUserDefaults>(p->world_->defaultsFolder());
  p->http_ = makeServiceClient({options.serviceURL, p->defaults_.get(), options.folder}, &loop);
  auto bus = options.bus == WorldProcessOptions::Bus::Agent ? connectAgentBus(loop, options.folder)
                                                             : linux_::DbusNotifications::connect(loop);
  // An unreachable bus is no failure: bus() is null and busError() says why.
  if (bus) p->bus_ = std::move(bus).value();
  else p->busError_ = bus.status().detail();
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
    if (Status read = desktop_->processChanges(); !read && report) report("reading the simulated desktop: " + read.detail());
  });
  worldWatch_ = loop_->watchFd(world_->watchFd(), [this, report] {
    if (Status read = world_->processChanges(); !read && report) report("reading the simulated Mac: " + read.detail());
  });
}

}  // namespace vl::cli
