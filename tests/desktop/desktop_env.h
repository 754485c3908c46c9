// Test support for the desktop adapters: programs started with extra environment and piped
// standard input and output, a virtual X server of the test's own, and an AT-SPI bus on a
// private session bus, each ended with its object.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <chrono>
#include <cstdarg>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/child_spawn.h"

extern char** environ;

namespace vl::test {

// A program with its own environment entries; stdin and stdout are pipes to the test, stderr
// goes to a log file.
class Program {
 public:
  Program(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env, const std::string& logPath) {
    std::vector<std::string> envText;
    for (char** e = environ; *e; ++e) {
      std::string entry(*e);
      if (!env.count(entry.substr(0, entry.find('=')))) envText.push_back(entry);
    }
    for (const auto& [k, v] : env) envText.push_back(k + "=" + v);
    std::vector<char*> envp, args;
    for (auto& e : envText) envp.push_back(e.data());
    envp.push_back(nullptr);
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0) return;
    if (pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in[0], 0);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_addopen(&fa, 2, logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (posix_spawn(&pid_, argv[0].c_str(), &fa, ChildSpawnAttr().get(), args.data(), envp.data()) != 0) pid_ = 0;
    posix_spawn_file_actions_destroy(&fa);
    close(in[0]);
    close(out[1]);
    in_ = in[1];
    out_ = out[0];
  }
  ~Program() {
    if (in_ >= 0) close(in_);
    if (out_ >= 0) close(out_);
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;
  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  // Waits for the program's end; its exit status, -1 when it did not exit normally.
  int wait() {
    int status = 0;
    if (pid_ <= 0 || waitpid(pid_, &status, 0) != pid_) return -1;
    pid_ = 0;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  void send(const std::string& line) {
    std::string l = line + "\n";
    if (in_ >= 0 && ::write(in_, l.data(), l.size()) < 0) {
    }
  }
  // The next line of output, waiting at most seconds; empty when none came.
  std::string readLine(double seconds) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
      if (size_t nl = buf_.find('\n'); nl != std::string::npos) {
        std::string line = buf_.substr(0, nl);
        buf_.erase(0, nl + 1);
        return line;
      }
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
      if (left <= 0 || out_ < 0) return {};
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
      char c[256];
      ssize_t n = ::read(out_, c, sizeof c);
      if (n <= 0) return {};
      buf_.append(c, static_cast<size_t>(n));
    }
  }

 private:
  pid_t pid_ = 0;
  int in_ = -1, out_ = -1;
  std::string buf_;
};

// Xvfb on a display number it picks itself.
class VirtualDisplay {
 public:
  explicit VirtualDisplay(const std::string& dir) {
    if (::access("/usr/bin/Xvfb", X_OK) != 0) {
      why_ = "Xvfb is not installed (apt-get install xvfb)";
      return;
    }
    int fds[2];
    if (pipe(fds) != 0) return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    // The read end first: it may itself be descriptor 3.
    posix_spawn_file_actions_addclose(&fa, fds[0]);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 3);
    std::string log = dir + "/xvfb.log";
    posix_spawn_file_actions_addopen(&fa, 1, log.c_str(), O_WRONLY | O_CREAT, 0644);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    const char* argv[] = {"/usr/bin/Xvfb", "-displayfd", "3", "-screen", "0", "1280x1024x24", "-nolisten", "tcp", nullptr};
    if (posix_spawn(&pid_, argv[0], &fa, ChildSpawnAttr().get(), const_cast<char**>(argv), environ) != 0) pid_ = 0;
    posix_spawn_file_actions_destroy(&fa);
    close(fds[1]);
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    char c;
    while (pid_ && std::chrono::steady_clock::now() < end && poll(&p, 1, 200) >= 0) {
      if (!(p.revents & (POLLIN | POLLHUP))) continue;
      if (::read(fds[0], &c, 1) != 1 || c == '\n') break;
      number += c;
    }
    close(fds[0]);
    if (number.empty()) {
      why_ = "Xvfb did not start (see " + log + ")";
      return;
    }
    // Clients connect through its socket: wait for it rather than race the server.
    std::string socket = "/tmp/.X11-unix/X" + number;
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (::access(socket.c_str(), F_OK) != 0 && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    name_ = ":" + number;
  }
  ~VirtualDisplay() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  const std::string& name() const { return name_; }
  const std::string& whyNot() const { return why_; }

 private:
  pid_t pid_ = 0;
  std::string name_, why_;
};

// Runs argv to its end (no shell); its exit status, -1 when it could not start.
inline int runProgram(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env = {}) {
  Program p(argv, env, "/dev/null");
  return p.started() ? p.wait() : -1;
}

// Calls a method on a bus (sd-bus, no reply value read); false with *error when it failed.
inline bool callMethod(const std::string& address, const char* service, const char* path, const char* iface,
                       const char* method, std::string* error, const char* types = nullptr, ...) {
  sd_bus* bus = nullptr;
  int r = sd_bus_new(&bus);
  if (r >= 0) r = sd_bus_set_address(bus, address.c_str());
  if (r >= 0) r = sd_bus_set_bus_client(bus, 1);
  if (r >= 0) r = sd_bus_start(bus);
  sd_bus_message* m = nullptr;
  if (r >= 0) r = sd_bus_message_new_method_call(bus, &m, service, path, iface, method);
  if (r >= 0 && types) {
    va_list ap;
    va_start(ap, types);
    r = sd_bus_message_appendv(m, types, ap);
    va_end(ap);
  }
  sd_bus_error e = SD_BUS_ERROR_NULL;
  if (r >= 0) r = sd_bus_call(bus, m, 5000000, &e, nullptr);
  if (r < 0 && error) *error = e.message ? e.message : strerror(-r);
  sd_bus_error_free(&e);
  sd_bus_message_unref(m);
  sd_bus_flush_close_unref(bus);
  return r >= 0;
}

}  // namespace vl::test
