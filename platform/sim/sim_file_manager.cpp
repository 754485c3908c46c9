// SimFileManager: reveals recorded for tests.
#include "platform/sim/sim_file_manager.h"

namespace vl::sim {

bool SimFileManager::revealFile(const std::string& path) {
  requests_.push_back(path);
  if (!available_ || path.empty()) return false;
  shown_.push_back(path);
  return true;
}

}  // namespace vl::sim
