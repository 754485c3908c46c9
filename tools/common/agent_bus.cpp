#include "tools/common/agent_bus.h"

#include "platform/sim/world.h"

namespace vl::cli {

Result<std::unique_ptr<linux_::DbusNotifications>> connectAgentBus(linux_::SdEventRunLoop& loop,
                                                                    const std::string& worldFolder) {
  std::string recordedError;
  if (auto recorded = sim::World::runningAgentBus(worldFolder)) {
    auto bus = linux_::DbusNotifications::connect(loop, *recorded);
    if (bus) return bus;
    recordedError = bus.status().detail();
  }
  auto bus = linux_::DbusNotifications::connect(loop);
  if (bus) return bus;
  const std::string& sessionError = bus.status().detail();
  return Status::failure(1, recordedError.empty()
                                ? sessionError + " (and no agent is running on the simulated Mac in " + worldFolder + ")"
                                : "the agent's bus: " + recordedError + "; the session bus: " + sessionError);
}

Result<AgentConnection> connectToAgent(const std::string& worldFolder) {
  auto loop = linux_::SdEventRunLoop::create();
  if (!loop) return loop.status();
  auto bus = connectAgentBus(**loop, worldFolder);
  if (!bus) return bus.status();
  return AgentConnection{std::move(loop).value(), std::move(bus).value()};
}

}  // namespace vl::cli
