// Workspace port: running applications, the application registered for a bundle identifier,
// and what the file manager says about a path (package or not, display name, bundle
// identifier, icon, the user's home folder).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/api/status.h"

namespace vl {

// One running application as the workspace reports it. Paths stand for the platform's file URLs.
struct RunningApplication {
  int32_t processIdentifier = 0;
  std::string bundleIdentifier;  // empty when the process has none
  std::string bundleURL;         // path of its bundle; empty for a plain executable
  std::string executableURL;     // path of its executable
  std::string localizedName;
  bool active = false;  // frontmost
  // NSApplicationActivationPolicy: 0 regular (in the Dock), 1 accessory, 2 background only.
  int32_t activationPolicy = 0;
};

class Workspace {
 public:
  virtual ~Workspace() = default;
  virtual std::vector<RunningApplication> runningApplications() const = 0;
  // The command names of every process on the system, applications and daemons alike (the
  // kernel's process table, sysctl KERN_PROC_ALL, as "ps -Ac" lists them).
  virtual std::vector<std::string> processNames() const = 0;
  // launchApplicationAtURL: starts the application bundle at path (nothing when it already
  // runs). A failure when path is no application bundle or it could not be started.
  virtual Status openApplication(const std::string& bundlePath) = 0;
  virtual std::optional<RunningApplication> frontmostApplication() const = 0;
  // URLForApplicationWithBundleIdentifier: where the application with this identifier is.
  virtual std::optional<std::string> urlForApplicationWithBundleIdentifier(const std::string& bundleID) const = 0;
  // isFilePackageAtPath: a folder the file manager shows as one file (an application bundle).
  virtual bool isFilePackageAtPath(const std::string& path) const = 0;
  // The bundle identifier of the bundle at path, if path is a bundle that has one.
  virtual std::optional<std::string> bundleIdentifierAtPath(const std::string& path) const = 0;
  // displayNameAtPath: the name the file manager shows for path.
  virtual std::string displayNameAtPath(const std::string& path) const = 0;
  // iconForFile: an icon file path or icon name for path; empty when there is none.
  virtual std::string iconForFile(const std::string& path) const = 0;
  // NSHomeDirectory.
  virtual std::string homeDirectory() const = 0;
  // When the process started, in seconds since the epoch (the kernel's process table entry:
  // sysctl CTL_KERN, KERN_PROC, KERN_PROC_PID); nullopt when no such process runs.
  virtual std::optional<double> processStartTime(int32_t processIdentifier) const = 0;
  // NSRunningApplication terminate: asks the application to quit. A failure when the request
  // was refused (or no such application runs); success says only that it was delivered.
  virtual Status terminateRunningApplication(int32_t processIdentifier) = 0;
};

}  // namespace vl
