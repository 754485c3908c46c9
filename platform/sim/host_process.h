// Real processes of this machine that the simulated Mac shows (the agent runs as one): whether
// one still runs, and when it started, from the kernel's process table (/proc).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vl::sim {

// The process's start in clock ticks since boot; nullopt when no such process runs (a zombie
// does not run).
std::optional<uint64_t> hostProcessStartTicks(pid_t pid);
// The same in seconds since the epoch.
std::optional<double> hostProcessStartTime(pid_t pid);
// Whether pid runs and, when startTicks is given, is still the process that started then (not
// another one that got the number later). Reaps pid first when it is a finished child.
bool hostProcessAlive(pid_t pid, std::optional<uint64_t> startTicks = std::nullopt);

}  // namespace vl::sim
