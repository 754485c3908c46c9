// Finding the running agent by its instance lock for the desktop's workspace.
#include "tools/common/agent_workspace.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "core/system/drovana.h"
#include "core/system/instance_lock.h"

namespace vl::cli {

namespace {
// The agent's executable: on the PATH, or inside its bundle.
bool isAgentExecutable(std::string name) {
  constexpr std::string_view kDeleted = " (deleted)";  // replaced by a newer build while running
  if (name.size() > kDeleted.size() && name.compare(name.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0)
    name.resize(name.size() - kDeleted.size());
  return name == "velmora-manager" || name == velmora::kAgentName;
}
}  // namespace

AgentWorkspace::AgentWorkspace(Workspace& inner, std::string lockPath, std::string proc)
    : inner_(inner), lockPath_(std::move(lockPath)), proc_(std::move(proc)) {}

std::optional<RunningApplication> AgentWorkspace::runningAgent() const {
  const long pid = InstanceLock::holderPid(lockPath_);
  if (pid <= 1 || pid > INT32_MAX) return std::nullopt;
  const std::string dir = proc_ + "/" + std::to_string(pid);
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0 || st.st_uid != ::getuid()) return std::nullopt;
  // A stale lock file may name a process id that now belongs to another program.
  std::error_code ec;
  const std::string exe = std::filesystem::read_symlink(dir + "/exe", ec).string();
  if (ec || !isAgentExecutable(std::filesystem::path(exe).filename().string())) return std::nullopt;
  RunningApplication app;
  app.processIdentifier = static_cast<int32_t>(pid);
  app.bundleIdentifier = velmora::kAgentBundleID;
  app.localizedName = velmora::kAgentName;
  app.executableURL = exe;
  if (auto macos = exe.rfind("/Contents/MacOS/"); macos != std::string::npos) app.bundleURL = exe.substr(0, macos);
  app.activationPolicy = 2;  // windowless, never offered in the running-applications pop-up
  return app;
}

std::vector<RunningApplication> AgentWorkspace::runningApplications() const {
  std::vector<RunningApplication> apps = inner_.runningApplications();
  if (auto agent = runningAgent()) {
    auto same = [&](const RunningApplication& a) { return a.processIdentifier == agent->processIdentifier; };
    apps.erase(std::remove_if(apps.begin(), apps.end(), same), apps.end());
    apps.push_back(std::move(*agent));
  }
  return apps;
}

std::optional<std::string> AgentWorkspace::urlForApplicationWithBundleIdentifier(const std::string& bundleID) const {
  if (bundleID == velmora::kAgentBundleID)
    if (auto agent = runningAgent(); agent && !agent->bundleURL.empty()) return agent->bundleURL;
  return inner_.urlForApplicationWithBundleIdentifier(bundleID);
}

}  // namespace vl::cli
