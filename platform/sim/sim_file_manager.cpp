// SimFileManager: reveals recorded for tests.
#include "platform/sim/sim_file_manager.h"

namespace vl::sim {

Status SimFileManager::revealFile(const std::string& path) {
  requests_.push_back(path);
  if (!available_) return Status::failure(1, "no file viewer answers");
  if (path.empty()) return Status::failure(1, "no file to show");
  shown_.push_back(path);
  return Status::success();
}

}  // namespace vl::sim
