// Test support: a private dbus-daemon listening in a temporary folder, and a program started
// with that bus as its session bus (a stand-in service), both ended with the object.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/child_spawn.h"

extern char** environ;

namespace vl::test {

class PrivateBus {
 public:
  explicit PrivateBus(const std::string& dir) {
    std::string conf = dir + "/bus.conf";
    std::ofstream(conf) << "<busconfig><type>session</type><listen>unix:dir=" << dir
                        << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                           "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                           "<allow own=\"*\"/></policy></busconfig>";
    int fds[2];
    if (pipe(fds) != 0) return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
    posix_spawn_file_actions_addclose(&fa, fds[0]);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    std::string confArg = "--config-file=" + conf;
    char* argv[] = {const_cast<char*>("dbus-daemon"), const_cast<char*>(confArg.c_str()), const_cast<char*>("--nofork"),
                    const_cast<char*>("--print-address=1"), nullptr};
    if (posix_spawnp(&pid_, "dbus-daemon", &fa, ChildSpawnAttr().get(), argv, environ) != 0) pid_ = 0;
    posix_spawn_file_actions_destroy(&fa);
    close(fds[1]);
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    char c;
    pollfd p{fds[0], POLLIN, 0};
    while (pid_ && std::chrono::steady_clock::now() < end && poll(&p, 1, 100) >= 0) {
      if (!(p.revents & (POLLIN | POLLHUP))) continue;
      if (read(fds[0], &c, 1) != 1 || c == '\n') break;
      address_ += c;
    }
    close(fds[0]);
  }
  ~PrivateBus() { stop(); }
  void stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
      pid_ = 0;
    }
  }
  const std::string& address() const { return address_; }

 private:
  pid_t pid_ = 0;
  std::string address_;
};

// A program run with DBUS_SESSION_BUS_ADDRESS set to a bus; SIGTERM and reaped at the end.
class BusProgram {
 public:
  BusProgram(const std::vector<std::string>& argv, const std::string& address, const std::string& logPath) {
    std::vector<std::string> envText;
    for (char** e = environ; *e; ++e)
      if (std::string(*e).rfind("DBUS_SESSION_BUS_ADDRESS=", 0) != 0) envText.emplace_back(*e);
    envText.push_back("DBUS_SESSION_BUS_ADDRESS=" + address);
    std::vector<char*> env, args;
    for (auto& e : envText) env.push_back(e.data());
    env.push_back(nullptr);
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    if (posix_spawn(&pid_, argv[0].c_str(), &fa, ChildSpawnAttr().get(), args.data(), env.data()) != 0) pid_ = 0;
    posix_spawn_file_actions_destroy(&fa);
  }
  ~BusProgram() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  bool started() const { return pid_ > 0; }

 private:
  pid_t pid_ = 0;
};

}  // namespace vl::test
