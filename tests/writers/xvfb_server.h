// Test support: a private Xvfb server on a display number it picks itself, ended with the object.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "tests/support/child_spawn.h"

extern char** environ;

namespace vl::test {

class XvfbServer {
 public:
  XvfbServer() {
    int fds[2];
    if (pipe(fds) != 0) return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addclose(&fa, fds[0]);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    std::string fdArg = std::to_string(fds[1]);
    char* argv[] = {const_cast<char*>("Xvfb"), const_cast<char*>("-displayfd"), fdArg.data(),
                    const_cast<char*>("-nolisten"), const_cast<char*>("tcp"), const_cast<char*>("-screen"),
                    const_cast<char*>("0"), const_cast<char*>("640x480x24"), nullptr};
    if (posix_spawnp(&pid_, "Xvfb", &fa, ChildSpawnAttr().get(), argv, environ) != 0) pid_ = 0;
    posix_spawn_file_actions_destroy(&fa);
    close(fds[1]);
    std::string number;
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    pollfd p{fds[0], POLLIN, 0};
    char c;
    while (pid_ && std::chrono::steady_clock::now() < end && poll(&p, 1, 100) >= 0) {
      if (!(p.revents & (POLLIN | POLLHUP))) continue;
      if (read(fds[0], &c, 1) != 1 || c == '\n') break;
      number += c;
    }
    close(fds[0]);
    if (!number.empty()) display_ = ":" + number;
  }
  ~XvfbServer() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  // Empty when Xvfb could not start.
  const std::string& display() const { return display_; }

 private:
  pid_t pid_ = 0;
  std::string display_;
};

}  // namespace vl::test
