// velmora-ctl agent install|start|stop|status|uninstall: the agent as a launch agent.
#pragma once

#include <string>

#include "tools/ctl/command.h"

namespace vl::ctl {

extern const char* kAgentServiceHelp;
// Whether sub is one of the launch-agent subcommands.
bool isAgentServiceCommand(const std::string& sub);
int runAgentService(const std::string& sub, Args args);

}  // namespace vl::ctl
