// Single-instance lock on a file with flock.
#include "core/system/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

namespace vl {

std::unique_ptr<InstanceLock> InstanceLock::acquire(const std::string& path, std::string* error, bool* busy) {
  if (busy) *busy = false;
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
    bool held = errno == EWOULDBLOCK;
    if (busy) *busy = held;
    if (error) *error = held ? "another copy is running" : path + ": " + std::strerror(errno);
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

long InstanceLock::holderPid(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return 0;
  char buf[32] = {};
  ssize_t n = ::read(fd, buf, sizeof buf - 1);
  ::close(fd);
  long pid = 0;
  if (n > 0) {
    const char* end = buf + n;
    while (end > buf && (end[-1] == '\n' || end[-1] == ' ')) --end;
    auto [p, ec] = std::from_chars(buf, end, pid);
    if (ec != std::errc() || p != end || pid <= 0) pid = 0;
  }
  return pid;
}

InstanceLock::~InstanceLock() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace vl
