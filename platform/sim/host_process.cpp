// Real processes through /proc: start ticks, start time, liveness.
#include "platform/sim/host_process.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>

namespace vl::sim {

namespace {

// The fields after the command name of /proc/<pid>/stat (the name may hold spaces and
// parentheses, so the last ')' ends it).
std::optional<std::vector<std::string>> statFields(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto close = text.rfind(')');
  if (!in.eof() && !in) return std::nullopt;
  if (close == std::string::npos) return std::nullopt;
  std::istringstream rest(text.substr(close + 1));
  std::vector<std::string> fields;
  for (std::string f; rest >> f;) fields.push_back(f);
  // fields[0] is the state (field 3), fields[19] the start time (field 22).
  if (fields.size() < 20) return std::nullopt;
  return fields;
}

std::optional<uint64_t> parseTicks(const std::string& s) {
  if (s.empty() || s.size() > 20) return std::nullopt;
  uint64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  return v;
}

std::optional<double> bootTime() {
  std::ifstream in("/proc/stat");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("btime ", 0) == 0)
      if (auto t = parseTicks(line.substr(6))) return static_cast<double>(*t);
  return std::nullopt;
}

}  // namespace

std::optional<uint64_t> hostProcessStartTicks(pid_t pid) {
  if (pid <= 0) return std::nullopt;
  auto fields = statFields(pid);
  if (!fields || (*fields)[0] == "Z" || (*fields)[0] == "X") return std::nullopt;
  return parseTicks((*fields)[19]);
}

std::optional<double> hostProcessStartTime(pid_t pid) {
  auto ticks = hostProcessStartTicks(pid);
  auto boot = bootTime();
  long hz = ::sysconf(_SC_CLK_TCK);
  if (!ticks || !boot || hz <= 0) return std::nullopt;
  return *boot + static_cast<double>(*ticks) / static_cast<double>(hz);
}

bool hostProcessAlive(pid_t pid, std::optional<uint64_t> startTicks) {
  if (pid <= 0) return false;
  int status = 0;
  // A child of this process that ended stays a zombie until reaped.
  (void)::waitpid(pid, &status, WNOHANG);
  if (::kill(pid, 0) != 0 && errno != EPERM) return false;
  auto ticks = hostProcessStartTicks(pid);
  if (!ticks) return false;
  return !startTicks || *ticks == *startTicks;
}

}  // namespace vl::sim
