// SimWorkspace: the simulated workspace: running applications and the bundle-identifier
// registry live in memory; what it says about paths comes from the real files under them
// (tests make bundles in a temporary folder).
#pragma once

#include <functional>
#include <map>
#include <set>
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
  [[nodiscard]] bool makeBundle(const std::string& path, const std::string& bundleID, bool register_ = true);

  std::vector<RunningApplication> runningApplications() const override;
  std::vector<std::string> processNames() const override;
  // Lists the bundle's application as running (its identifier, executable and name from its
  // Info.plist); the simulated Mac runs no real process for it.
  Status openApplication(const std::string& bundlePath) override;
  std::optional<RunningApplication> frontmostApplication() const override;
  std::optional<std::string> urlForApplicationWithBundleIdentifier(const std::string& bundleID) const override;
  bool isFilePackageAtPath(const std::string& path) const override;
  std::optional<std::string> bundleIdentifierAtPath(const std::string& path) const override;
  std::string displayNameAtPath(const std::string& path) const override;
  std::string iconForFile(const std::string& path) const override;
  std::string homeDirectory() const override { return home_; }
  std::optional<double> processStartTime(int32_t processIdentifier) const override;
  Status terminateRunningApplication(int32_t processIdentifier) override;

  // Process start times: recorded per process; a source (the world's, for real processes) is
  // asked first when set.
  void setProcessStartTime(int32_t processIdentifier, double secondsSinceEpoch);
  void setProcessStartTimeSource(std::function<std::optional<double>(int32_t)> source);
  // Termination requests: by default an application quits at once; refused ones stay. A
  // handler (the world's) decides instead when set.
  void refuseTermination(int32_t processIdentifier, bool refuse = true);
  void setTerminationHandler(std::function<bool(const RunningApplication&)> handler);
  // Applications that run no more without having said so (a real process that crashed) are
  // left out of every answer when a check is set (the world's).
  void setLivenessCheck(std::function<bool(const RunningApplication&)> alive);
  // The process identifiers asked to terminate, in order.
  const std::vector<int32_t>& terminationRequests() const { return terminationRequests_; }

 private:
  std::string home_;
  std::vector<RunningApplication> running_;
  std::vector<std::string> processes_;
  std::map<std::string, std::string> registered_;
  int32_t nextPid_ = 500;
  std::map<int32_t, double> startTimes_;
  std::function<std::optional<double>(int32_t)> startTimeSource_;
  std::set<int32_t> refusing_;
  std::function<bool(const RunningApplication&)> terminationHandler_;
  std::vector<int32_t> terminationRequests_;
  std::function<bool(const RunningApplication&)> alive_;
};

}  // namespace vl::sim
