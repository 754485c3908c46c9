// SimWorkspace: the simulated workspace: running applications and the bundle-identifier
// registry live in memory; what it says about paths comes from the real files under them
// (tests make bundles in a temporary folder).
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/api/workspace.h"

namespace vl::sim {

class SimWorkspace : public Workspace {
 public:
  explicit SimWorkspace(std::string home) : home_(std::move(home)) {}

  // Running applications: launch adds one (it becomes frontmost when activate is true).
  RunningApplication& launch(RunningApplication app, bool activate = false);
  void terminate(int32_t processIdentifier);
  // A process that is not an application (a daemon), listed only by processNames.
  void startProcess(const std::string& name);
  void stopProcess(const std::string& name);
  void activate(int32_t processIdentifier);
  // Registers where the application with a bundle identifier lies.
  void registerApplication(const std::string& bundleID, const std::string& path);
  void unregisterApplication(const std::string& bundleID);
  // Makes an application bundle on disk: <path>/Contents/Info.plist with the identifier and
  // <path>/Contents/MacOS/<name>; registers it when register_ is true. Returns false when the
  // files cannot be written.
  bool makeBundle(const std::string& path, const std::string& bundleID, bool register_ = true);

  std::vector<RunningApplication> runningApplications() const override { return running_; }
  std::vector<std::string> processNames() const override;
  std::optional<RunningApplication> frontmostApplication() const override;
  std::optional<std::string> urlForApplicationWithBundleIdentifier(const std::string& bundleID) const override;
  bool isFilePackageAtPath(const std::string& path) const override;
  std::optional<std::string> bundleIdentifierAtPath(const std::string& path) const override;
  std::string displayNameAtPath(const std::string& path) const override;
  std::string iconForFile(const std::string& path) const override;
  std::string homeDirectory() const override { return home_; }

 private:
  std::string home_;
  std::vector<RunningApplication> running_;
  std::vector<std::string> processes_;
  std::map<std::string, std::string> registered_;
  int32_t nextPid_ = 500;
};

}  // namespace vl::sim
