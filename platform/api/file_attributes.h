// FileAttributes port: a file's download-quarantine attributes (the quarantine attribute that
// browsers put on what they download; on Linux the "user.xdg.origin.url" and
// "user.xdg.referrer.url" extended attributes), read and removed.
#pragma once

#include <string>

#include "platform/api/status.h"

namespace vl {

class FileAttributes {
 public:
  virtual ~FileAttributes() = default;
  // The file (or folder) at path carries quarantine attributes: its set of them is non-empty.
  // False for a path that does not exist or cannot be read.
  virtual bool hasQuarantine(const std::string& path) const = 0;
  // Removes the quarantine attributes of path and, when recursive, of everything below it,
  // never following a symbolic link. The first failure when one could not be removed; the
  // others are removed all the same.
  virtual Status removeQuarantine(const std::string& path, bool recursive) = 0;
};

}  // namespace vl
