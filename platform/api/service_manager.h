// ServiceManager port: the per-user service manager that runs the agent as a launch agent
// (launchd's gui/<uid> domain and launchctl; a systemd user manager or XDG autostart on Linux),
// the folder of the agents' property lists, and the session's old-style login items.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/api/alerts.h"
#include "platform/api/status.h"

namespace vl {

// One item of the session's login-items list (LSSharedFileListItemRef).
struct LoginItem {
  std::string id;           // what removeLoginItem takes
  std::string displayName;  // LSSharedFileListItemCopyDisplayName
};

// What the manager knows of one job, for status listings.
struct ServiceStatus {
  bool registered = false;  // a property list of the label lies in the agents folder
  bool loaded = false;      // what isLoaded answers
  std::optional<int32_t> pid;  // of the running job
  std::string detail;       // the manager's own words on the job's state ("active (running)", ...)
};

class ServiceManager {
 public:
  virtual ~ServiceManager() = default;

  // --- The agents folder (~/Library/LaunchAgents) ---------------------------------------------
  // The folder, made with intermediate folders when missing (NSFileManager
  // URLForDirectory:...create:YES plus "LaunchAgents"). When it cannot be, a file-write failure
  // (fileWriteFailure: the errno as code, the path as detail; fileWriteError makes the
  // platform's error object of it).
  virtual Result<std::string> launchAgentsFolder() = 0;
  // Writes bytes to path atomically (NSData writeToURL:options:NSDataWritingAtomic). A failure
  // is a file-write failure as above: fileWriteError turns EACCES into {"NSCocoaErrorDomain",
  // 513} (NSFileWriteNoPermissionError).
  virtual Status writeFileAtomically(const std::string& path, const std::string& bytes) = 0;
  // Deletes the file at path (NSFileManager removeItemAtURL:); the errno when it cannot.
  virtual Status removeFile(const std::string& path) = 0;
  // "chflags nouchg", "chown uid:gid" and "chmod mode" on path; the failure's status as code.
  virtual Status clearImmutableFlag(const std::string& path) = 0;
  virtual Status setOwner(const std::string& path, uint32_t uid, uint32_t gid) = 0;
  virtual Status setMode(const std::string& path, uint32_t mode) = 0;
  // getuid() and getgid(): the user the agents run for.
  virtual uint32_t userID() const = 0;
  virtual uint32_t groupID() const = 0;

  // --- Jobs -------------------------------------------------------------------------------------
  // "launchctl bootout gui/<uid> <plist>": unloads (and stops) the job the property list
  // registered. A failure's code is launchctl's status (3 when nothing was loaded).
  virtual Status bootout(const std::string& propertyListPath) = 0;
  // "launchctl enable gui/<uid>/<label>": the label may be loaded.
  virtual Status enable(const std::string& label) = 0;
  // "launchctl bootstrap gui/<uid> <plist>": loads the job of the property list (RunAtLoad
  // starts it). A failure's code is launchctl's status.
  virtual Status bootstrap(const std::string& propertyListPath) = 0;
  // "launchctl kickstart gui/<uid>/<label>": starts the loaded job now (nothing when it runs).
  // A failure's code is launchctl's status.
  virtual Status kickstart(const std::string& label) = 0;
  // "launchctl kill TERM gui/<uid>/<label>": stops the running job, leaving it loaded.
  virtual Status stop(const std::string& label) = 0;
  // "launchctl print gui/<uid>/<label>" exits with 0.
  virtual bool isLoaded(const std::string& label) = 0;
  // "launchctl bootstrap" of the label's property list with its standard error captured: the
  // manager's own words on why the job does not load; empty when it said nothing.
  virtual std::string explainLoadFailure(const std::string& label) = 0;
  // What the manager says about the label's job.
  virtual ServiceStatus status(const std::string& label) = 0;

  // --- Volume and login items -------------------------------------------------------------------
  // "diskutil info <home volume> | grep Owners:" says "Enabled": the home folder's volume honours
  // file ownership. nullopt when the home folder's volume has no displayable name.
  virtual std::optional<bool> homeVolumeOwnershipEnabled() = 0;
  // A snapshot of the session's login items (LSSharedFileListCopySnapshot).
  virtual std::vector<LoginItem> loginItems() = 0;
  // LSSharedFileListItemRemove; a failure when the item could not be removed.
  virtual Status removeLoginItem(const LoginItem& item) = 0;
};

}  // namespace vl
