// velmora-sim's live input commands: moving a simulated pointing device, so that programs
// watching its input (the settings window's speed indicator) see it move.
#pragma once

#include <vector>

#include "tools/sim/desktop_commands.h"

namespace vl::simtool {

// move.
const std::vector<DesktopCommand>& inputCommands();

}  // namespace vl::simtool
