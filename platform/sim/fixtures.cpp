// Where the simulated Mac finds its device profiles.
#include "platform/sim/sim_mac.h"

namespace vl::sim {

std::string fixtureDir() { return VELMORA_FIXTURE_DIR; }

}  // namespace vl::sim
