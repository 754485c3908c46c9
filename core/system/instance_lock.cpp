// Single-instance lock on a file with flock.
#include "core/system/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vl {

std::unique_ptr<InstanceLock> InstanceLock::acquire(const std::string& path, std::string* error) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (error) *error = "cannot open " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid()) {
    if (error) *error = path + " is not a regular file of this user";
    ::close(fd);
    return nullptr;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (error) *error = errno == EWOULDBLOCK ? "another copy is running" : std::string(std::strerror(errno));
    ::close(fd);
    return nullptr;
  }
  // Leave the holder's pid in the file for people looking at it; the lock is what counts.
  if (::ftruncate(fd, 0) == 0) {
    std::string pid = std::to_string(::getpid()) + "\n";
    ssize_t ignored = ::write(fd, pid.data(), pid.size());
    (void)ignored;
  }
  return std::unique_ptr<InstanceLock>(new InstanceLock(fd, path));
}

InstanceLock::~InstanceLock() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace vl
