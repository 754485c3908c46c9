// WorldServiceManager and WorldAdminPrompt: the simulated Mac's service manager (launchd's
// per-user domain) and administrator prompt, kept in the world folder so that every process on
// the world — the settings window, velmora-ctl — sees the same registrations, loaded and running
// agents. A start spawns the agent's real executable on the world, detached, its output in a
// log file of the world.
#pragma once

#include <sys/types.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/api/admin_prompt.h"
#include "platform/api/service_manager.h"

namespace vl::sim {

// Below the world folder.
inline constexpr const char* kWorldLaunchAgentsFolder = "Library/LaunchAgents";
inline constexpr const char* kWorldLaunchdFolder = "launchd";  // state.plist, state.lock, <label>.log

// How the simulated administrator prompt answers.
enum class AdminAnswer { Accept, Deny, Cancel };

// One prompt the simulated administrator prompt showed.
struct ShownPrompt {
  std::string message;
  std::vector<std::vector<std::string>> operations;
  AdminAnswer answer = AdminAnswer::Accept;
};

// Starts argv detached (its own session, stdin /dev/null, stdout and stderr appended to
// logPath); the process id, or why it could not start.
using AgentSpawner = std::function<Result<pid_t>(const std::vector<std::string>& argv, const std::string& logPath)>;
// The default: posix_spawn with the argument vector as given.
Result<pid_t> spawnDetached(const std::vector<std::string>& argv, const std::string& logPath);

class WorldServiceManager : public ServiceManager {
 public:
  // folder: the world folder. spawner: how agents start (the default spawns real processes).
  explicit WorldServiceManager(std::string folder, AgentSpawner spawner = spawnDetached);
  ~WorldServiceManager() override;

  Result<std::string> launchAgentsFolder() override;
  Status writeFileAtomically(const std::string& path, const std::string& bytes) override;
  Status removeFile(const std::string& path) override;
  Status clearImmutableFlag(const std::string& path) override;
  Status setOwner(const std::string& path, uint32_t uid, uint32_t gid) override;
  Status setMode(const std::string& path, uint32_t mode) override;
  uint32_t userID() const override;
  uint32_t groupID() const override;
  Status bootout(const std::string& propertyListPath) override;
  Status enable(const std::string& label) override;
  Status bootstrap(const std::string& propertyListPath) override;
  Status kickstart(const std::string& label) override;
  Status stop(const std::string& label) override;
  bool isLoaded(const std::string& label) override;
  std::string explainLoadFailure(const std::string& label) override;
  ServiceStatus status(const std::string& label) override;
  std::optional<bool> homeVolumeOwnershipEnabled() override;
  std::vector<LoginItem> loginItems() override;
  Status removeLoginItem(const LoginItem& item) override;

  // --- The simulation's knobs (tests, velmora-sim) ----------------------------------------------
  // The agents folder as another user's (refuses this user's writes) or the user's again.
  Status setAgentsFolderOwner(uint32_t uid);
  Status setAgentsFolderImmutable(bool immutable);
  Status setHomeVolumeOwnership(std::optional<bool> enabled);
  Status addLoginItem(const std::string& displayName, const std::string& path);
  Status disable(const std::string& label);
  // The log file of the label's agent.
  std::string logPath(const std::string& label) const;

  struct State;

 private:
  std::string folder_;
  AgentSpawner spawner_;
};

class WorldAdminPrompt : public AdminPrompt {
 public:
  explicit WorldAdminPrompt(std::string folder);
  // Runs "chflags nouchg", "chown uid:gid" and "chmod mode" on paths of the world as the
  // simulated administrator; any other operation fails.
  AdminResult runPrivileged(const std::string& message, const std::vector<std::vector<std::string>>& operations) override;

  // The answer of the next prompts (kept in the world, so another process's prompt answers so).
  Status setAnswer(AdminAnswer answer);
  // The prompts shown so far, oldest first.
  std::vector<ShownPrompt> shownPrompts() const;

 private:
  std::string folder_;
};

// "accept", "deny", "cancel".
std::optional<AdminAnswer> adminAnswerFromText(const std::string& text);
const char* adminAnswerText(AdminAnswer answer);

}  // namespace vl::sim
