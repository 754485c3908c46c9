// Writing a file the user named: only where nothing is, or a regular file is, replaced.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/api/status.h"

namespace pl {

// Where a user-named output may be written. Allowed: nothing at path (a new file), or a regular
// file (replaced whole). A symbolic link is followed when it ends at a regular file: the file it
// names is replaced and the link stays. Refused, with a text saying what is there: a device,
// FIFO, socket or folder; a link to one of those, to nothing, or a link loop; a path whose
// folders cannot be searched. Replacing such things (as root: /dev/zero) is never what a user
// asking to save a document meant. The value is the path to write.
vl::Result<std::string> checkedOutputPath(const std::string& path);

// checkedOutputPath, then an atomic write of bytes to the path it gives (writeFileAtomic).
// The detail of a failure names the path.
vl::Status writeUserFile(const std::string& path, std::span<const uint8_t> bytes);
vl::Status writeUserFile(const std::string& path, const std::string& text);

}  // namespace pl
