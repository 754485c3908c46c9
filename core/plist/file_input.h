// Reading whole input files safely: only regular files, never blocking in open() (a FIFO or a
// device put in place of a file), and never more than a caller's size limit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pl {

// Property lists, strings tables and other settings-sized inputs are far smaller than this;
// anything larger is refused before it is read, so a stray file cannot make memory balloon.
inline constexpr size_t kMaxInputFileBytes = 16u * 1024 * 1024;

enum class FileReadStatus {
  Ok,
  Missing,           // no such file (or a component of the path is missing)
  NotRegular,        // a folder, FIFO, socket or device
  TooLarge,          // larger than the limit
  PermissionDenied,  // the file or a folder on its path may not be read
  Failed,            // anything else (link loop, name too long, I/O error): see the text
};

struct FileReadResult {
  FileReadStatus status = FileReadStatus::Failed;
  int errorNumber = 0;  // errno of the failure, 0 when none applies
  std::string error;    // "PATH: why", empty on success
  explicit operator bool() const { return status == FileReadStatus::Ok; }
};

// Reads the regular file at path into *out (replacing its contents). The file is opened with
// O_NONBLOCK and checked with fstat before a byte is read, so a FIFO returns NotRegular at once.
// A file that grows while it is read is refused once it passes the limit.
FileReadResult readRegularFile(const std::string& path, size_t maxBytes, std::string* out);
FileReadResult readRegularFile(const std::string& path, size_t maxBytes, std::vector<uint8_t>* out);

// 0 when stat() finds something at path, else its errno (ENOENT, EACCES, ELOOP, ENAMETOOLONG...).
int pathStatError(const std::string& path);
// A short text for an errno met on a path: "no such file or folder", "permission denied",
// "too many levels of symbolic links", "name too long", else the system's text.
std::string pathErrorText(int err);

}  // namespace pl
