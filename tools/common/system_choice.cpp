// Choosing the simulated Mac or the real machine.
#include "tools/common/system_choice.h"

#include "tools/common/suggest.h"

namespace vl::cli {

Result<SystemChoice> chooseSystem(const std::string& systemOption, bool worldGiven, const char* worldEnvironment) {
  bool envWorld = worldEnvironment && *worldEnvironment;
  if (!systemOption.empty()) {
    if (systemOption != "desktop" && systemOption != "world")
      return Status::failure(2, "--system takes 'desktop' or 'world', not '" + systemOption + "'" +
                                    didYouMean(systemOption, {"desktop", "world"}));
    if (systemOption == "desktop" && worldGiven)
      return Status::failure(2, "--world names a simulated Mac; it does not go with --system desktop");
    return SystemChoice{systemOption == "desktop" ? System::Desktop : System::World, "--system " + systemOption};
  }
  if (worldGiven) return SystemChoice{System::World, "--world"};
  if (envWorld) return SystemChoice{System::World, "VELMORA_WORLD"};
  return SystemChoice{System::Desktop, "no --world or VELMORA_WORLD"};
}

const char* systemName(System s) { return s == System::Desktop ? "desktop" : "world"; }

std::string systemLine(const SystemChoice& c) {
  return std::string("system: ") + systemName(c.system) + " (" + c.why + ")";
}

}  // namespace vl::cli
