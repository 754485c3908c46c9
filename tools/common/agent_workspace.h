// AgentWorkspace: the desktop's workspace with Velmora Manager among its running applications.
// On a Linux desktop the agent has no desktop entry to be known by; the process that holds its
// instance lock is the agent, so the settings window sees it running and does not start a
// second one (or restart it each time the window opens).
#pragma once

#include <string>

#include "platform/api/workspace.h"

namespace vl::cli {

class AgentWorkspace : public Workspace {
 public:
  // inner must outlive this object. lockPath: the agent's instance lock; proc: the process table.
  AgentWorkspace(Workspace& inner, std::string lockPath, std::string proc = "/proc");

  // The running agent, when the lock's holder is alive, the user's own and a Velmora Manager.
  std::optional<RunningApplication> runningAgent() const;

  std::vector<RunningApplication> runningApplications() const override;
  std::vector<std::string> processNames() const override { return inner_.processNames(); }
  Status openApplication(const std::string& bundlePath) override { return inner_.openApplication(bundlePath); }
  std::optional<RunningApplication> frontmostApplication() const override { return inner_.frontmostApplication(); }
  std::optional<std::string> urlForApplicationWithBundleIdentifier(const std::string& bundleID) const override;
  bool isFilePackageAtPath(const std::string& path) const override { return inner_.isFilePackageAtPath(path); }
  std::optional<std::string> bundleIdentifierAtPath(const std::string& path) const override {
    return inner_.bundleIdentifierAtPath(path);
  }
  std::string displayNameAtPath(const std::string& path) const override { return inner_.displayNameAtPath(path); }
  std::string iconForFile(const std::string& path) const override { return inner_.iconForFile(path); }
  std::string homeDirectory() const override { return inner_.homeDirectory(); }
  std::optional<double> processStartTime(int32_t pid) const override { return inner_.processStartTime(pid); }
  Status terminateRunningApplication(int32_t pid) override { return inner_.terminateRunningApplication(pid); }

 private:
  Workspace& inner_;
  std::string lockPath_, proc_;
};

}  // namespace vl::cli
