// The one check behind every file the user names for output, and the write that follows it.
#include "core/system/file_output.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>

#include "core/plist/codec.h"
#include "core/plist/file_input.h"

namespace pl {

namespace {

const char* kindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

vl::Status refused(const std::string& path, const std::string& why) {
  return vl::Status::failure(EEXIST, path + ": not written: " + why +
                                         " (only a new file or a regular file is replaced)");
}

}  // namespace

vl::Result<std::string> checkedOutputPath(const std::string& path) {
  if (path.empty()) return vl::Status::failure(EINVAL, "no output file named");
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    int e = errno;
    // Nothing there yet: a new file (its folder is checked by the write).
    if (e == ENOENT) return path;
    return vl::Status::failure(e, path + ": not written: " + pathErrorText(e));
  }
  if (S_ISREG(st.st_mode)) return path;
  if (!S_ISLNK(st.st_mode)) return refused(path, std::string("it is ") + kindOf(st.st_mode));
  struct stat target {};
  if (::stat(path.c_str(), &target) != 0) {
    int e = errno;
    if (e == ENOENT) return refused(path, "it is a symbolic link to nothing");
    return vl::Status::failure(e, path + ": not written: " + pathErrorText(e));
  }
  if (!S_ISREG(target.st_mode)) return refused(path, std::string("it is a symbolic link to ") + kindOf(target.st_mode));
  std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
  if (!resolved) {
    int e = errno;
    return vl::Status::failure(e, path + ": not written: " + pathErrorText(e));
  }
  return std::string(resolved.get());
}

vl::Status writeUserFile(const std::string& path, std::span<const uint8_t> bytes) {
  vl::Result<std::string> target = checkedOutputPath(path);
  if (!target) return target.status();
  std::string error;
  int errorNumber = 0;
  if (!writeFileAtomic(*target, bytes, &error, &errorNumber)) return vl::Status::failure(errorNumber, error);
  return {};
}

vl::Status writeUserFile(const std::string& path, const std::string& text) {
  return writeUserFile(path, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

}  // namespace pl
