// SimFileManager: a file viewer that remembers every file it was asked to show, or that is
// missing from the desktop and shows nothing.
#pragma once

#include <string>
#include <vector>

#include "platform/api/file_manager.h"

namespace vl::sim {

class SimFileManager : public FileManager {
 public:
  Status revealFile(const std::string& path) override;

  // False: no file viewer answers (requests are still recorded, as a bus would see them).
  void setAvailable(bool available) { available_ = available; }
  // Every request, in order; only those made while available were shown.
  const std::vector<std::string>& requests() const { return requests_; }
  const std::vector<std::string>& shown() const { return shown_; }

 private:
  bool available_ = true;
  std::vector<std::string> requests_, shown_;
};

}  // namespace vl::sim
