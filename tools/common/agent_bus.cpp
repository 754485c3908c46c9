#include "tools/common/agent_bus.h"

#include "platform/sim/world.h"

namespace vl::cli {

std::unique_ptr<linux_::DbusNotifications> connectAgentBus(linux_::SdEventRunLoop& loop,
                                                            const std::string& worldFolder, std::string* error) {
  std::string recordedError;
  if (auto recorded = sim::World::runningAgentBus(worldFolder)) {
    if (auto bus = linux_::DbusNotifications::connect(loop, &recordedError, *recorded)) return bus;
  }
  std::string sessionError;
  if (auto bus = linux_::DbusNotifications::connect(loop, &sessionError)) return bus;
  if (error) {
    *error = recordedError.empty()
                 ? sessionError + " (and no agent is running on the simulated Mac in " + worldFolder + ")"
                 : "the agent's bus: " + recordedError + "; the session bus: " + sessionError;
  }
  return nullptr;
}

}  // namespace vl::cli
