// velmora-sim quarantine: marks a file of the simulated Mac as a download (its quarantine
// attribute set), lists marked files, or clears a mark, for the pane's quarantine sheet.
#pragma once

#include <string>
#include <vector>

namespace vl::simtool {

extern const char* kQuarantineHelp;
// args: what follows the command's name; folder: the world folder.
int runQuarantine(std::vector<std::string>& args, const std::string& folder);

}  // namespace vl::simtool
