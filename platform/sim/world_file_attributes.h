// WorldFileAttributes: the simulated Mac's quarantine attributes, kept in the world folder (a
// set of quarantined paths) so that velmora-sim, the settings window and velmora-ctl see the
// same ones.
#pragma once

#include <string>
#include <vector>

#include "platform/api/file_attributes.h"

namespace vl::sim {

inline constexpr const char* kWorldQuarantineFile = "quarantine.plist";  // array of paths

class WorldFileAttributes : public FileAttributes {
 public:
  explicit WorldFileAttributes(std::string folder);
  bool hasQuarantine(const std::string& path) const override;
  Status removeQuarantine(const std::string& path, bool recursive) override;

  // Quarantines path as a download would (velmora-sim quarantine). A failure when the path
  // does not exist or the world cannot be written.
  Status setQuarantine(const std::string& path);
  // The quarantined paths, sorted.
  std::vector<std::string> quarantined() const;

 private:
  std::string folder_;
};

}  // namespace vl::sim
