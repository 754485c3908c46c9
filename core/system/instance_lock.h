// An exclusive lock held for a process's life, so that only one copy of a program runs per
// user: unlike counting running copies, two copies started together cannot both lose.
#pragma once

#include <memory>
#include <string>

namespace vl {

class InstanceLock {
 public:
  // Takes the lock on path (created 0600 when missing, never through a symbolic link);
  // null when another process holds it or the file cannot be used (*error says which;
  // *busy, when given, tells the first case from the second).
  static std::unique_ptr<InstanceLock> acquire(const std::string& path, std::string* error, bool* busy = nullptr);
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;
  const std::string& path() const { return path_; }
  // The process id the holder left in the lock file; 0 when it cannot be read.
  static long holderPid(const std::string& path);

 private:
  InstanceLock(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  int fd_;
  std::string path_;
};

}  // namespace vl
