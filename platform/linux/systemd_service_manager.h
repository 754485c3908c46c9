// SystemdServiceManager: the launch agent as a systemd user unit, made from the property list
// and driven through the user manager's D-Bus interface (org.freedesktop.systemd1.Manager:
// Reload, EnableUnitFiles, StartUnit, StopUnit, GetUnit and the units' properties). Where no
// user manager answers, an XDG autostart entry plus a direct start stands in. Old-style login
// items are the autostart entries.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/api/admin_prompt.h"
#include "platform/api/service_manager.h"

namespace vl::linux_ {

inline constexpr const char* kSystemdService = "org.freedesktop.systemd1";
inline constexpr const char* kSystemdPath = "/org/freedesktop/systemd1";
inline constexpr const char* kSystemdManagerInterface = "org.freedesktop.systemd1.Manager";
inline constexpr const char* kSystemdUnitInterface = "org.freedesktop.systemd1.Unit";
inline constexpr const char* kSystemdServiceInterface = "org.freedesktop.systemd1.Service";

struct SystemdOptions {
  std::string busAddress;  // the bus of the user manager; empty: the user's bus
  std::string home;        // the home folder (its volume's ownership)
  std::string configHome;  // ~/.config: systemd/user, autostart, velmora/LaunchAgents
  std::string runtimeDir;  // where directly started agents' process ids are kept
  double timeoutSeconds = 5;
  // From $HOME, $XDG_CONFIG_HOME, $XDG_RUNTIME_DIR.
  static SystemdOptions fromProcess();
};

class SystemdServiceManager : public ServiceManager {
 public:
  explicit SystemdServiceManager(SystemdOptions options);

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

  // Whether a user manager answers on the bus (else the autostart entries stand in).
  bool managerAnswers();
  std::string unitFolder() const;
  std::string autostartFolder() const;
  std::string logPath(const std::string& label) const;
  // Why the last operation failed, in the manager's words.
  const std::string& lastError() const { return lastError_; }

  class Bus;

 private:
  Status fail(int status, std::string why);
  std::optional<std::string> agentsFolderPath() const;
  // Fallback: the directly started agent of a label.
  std::optional<pid_t> directPid(const std::string& label) const;
  Status startDirectly(const std::string& label, const std::vector<std::string>& argv);
  void stopDirectly(const std::string& label);

  SystemdOptions options_;
  std::string lastError_;
};

// The administrator prompt of polkit: one request is one pkexec of the helper
// "velmora-ctl privileged", which does every operation of the request, so the user is asked
// once. The message goes first on the helper's command line, which polkit's prompt shows.
// run is how a command runs (tests replace it).
class PkexecAdminPrompt : public AdminPrompt {
 public:
  // A runner as runAndWait: the exit status, or why the command could not run.
  using Runner = std::function<Result<int>(const std::vector<std::string>& argv, std::string* output)>;
  // pkexec: its path (empty: looked up in the system's folders); helper: velmora-ctl (empty:
  // the one beside the running program).
  explicit PkexecAdminPrompt(Runner run = {}, std::string pkexec = "", std::string helper = "");
  AdminResult runPrivileged(const std::string& message, const std::vector<std::vector<std::string>>& operations) override;
  // The helper's argument vector for a request (after pkexec): every operation as
  // "--step N word...", so no word is ever read as anything but itself.
  static std::vector<std::string> helperCommand(const std::string& helper, const std::string& message,
                                                const std::vector<std::vector<std::string>>& operations);

 private:
  Runner run_;
  std::string pkexec_;
  std::string helper_;
};

}  // namespace vl::linux_
