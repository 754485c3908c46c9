// FileManager port: the desktop's file viewer, asked to show a file selected in its folder
// (the platform's selectFile:inFileViewerRootedAtPath: with an empty root).
#pragma once

#include <string>

#include "platform/api/status.h"

namespace vl {

class FileManager {
 public:
  virtual ~FileManager() = default;
  // Shows path selected in a file-viewer window. Best effort and brief: a failure when the file
  // does not exist or no file viewer took the request in time; callers go on either way.
  virtual Status revealFile(const std::string& path) = 0;
};

}  // namespace vl
