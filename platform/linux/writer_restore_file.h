// WriterRestoreFile: the desktop's own pointer settings the writers replaced, kept in a small
// property-list file under the user's runtime folder, so that a run that ended without
// restoring (a crash, a kill) is followed by one that gives them back.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "core/plist/value.h"
#include "platform/api/status.h"

namespace vl::linux_input {

class WriterRestoreFile {
 public:
  // path: the file; it is read now (a missing file is an empty one, an unreadable one is
  // reported by load()).
  explicit WriterRestoreFile(std::string path);

  // The default place: $XDG_RUNTIME_DIR/velmora/pointer-restore.plist (runtime, because the
  // desktop's settings the writers change live no longer than the session).
  static std::string defaultPath(const std::string& runtimeDir);

  Status load();
  // Records a device's original setting unless one is already held (the first one is the
  // desktop's own; later ones would be our own values).
  Status remember(const std::string& writer, const std::string& device, const pl::Dict& original);
  Status forget(const std::string& writer, const std::string& device);
  // writer's entries: device key → original.
  std::map<std::string, pl::Dict> entries(const std::string& writer) const;
  std::optional<pl::Dict> entry(const std::string& writer, const std::string& device) const;

 private:
  Status save();
  std::string path_;
  pl::Dict root_;  // writer → (device → original)
};

}  // namespace vl::linux_input
