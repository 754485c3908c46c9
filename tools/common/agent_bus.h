// The bus on which the world's agent listens, for the programs that post commands to it.
#pragma once

#include <memory>
#include <string>

#include "platform/linux/dbus_notifications.h"
#include "platform/linux/sd_event_runloop.h"

namespace vl::cli {

// Connects to the bus the running agent of the world recorded (so a terminal without the
// agent's bus in its environment still reaches it); with no running agent recorded, to the
// session bus of the environment. A failure when neither can be reached.
Result<std::unique_ptr<linux_::DbusNotifications>> connectAgentBus(linux_::SdEventRunLoop& loop,
                                                                    const std::string& worldFolder);

// A run loop of its own and the agent's bus on it, for a command that posts once and ends.
struct AgentConnection {
  std::unique_ptr<linux_::SdEventRunLoop> loop;
  std::unique_ptr<linux_::DbusNotifications> bus;
};
// Why the loop or the bus could not be had, as their own failures say.
Result<AgentConnection> connectToAgent(const std::string& worldFolder);

}  // namespace vl::cli
