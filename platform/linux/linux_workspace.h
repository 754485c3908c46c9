// LinuxWorkspace: the Workspace port on a Linux desktop: running applications from the AT-SPI
// bus and /proc, named and identified by their desktop entries (identity = desktop file id),
// the process table, and launching or ending an application.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/api/workspace.h"

namespace vl::linux_ {

class AtspiAccessibility;

// One application's desktop entry, as the program's strict reader gives it.
struct ApplicationEntry {
  std::string id;    // desktop file id ("org.example.App")
  std::string path;  // the .desktop file
  std::string name;
  std::string exec;  // the Exec line, unexpanded
  std::string icon;
  bool noDisplay = false;
};
// Reads a .desktop file; nullopt for anything that is not a well-formed application entry.
using ApplicationEntryReader = std::function<std::optional<ApplicationEntry>(const std::string& path)>;

struct WorkspaceOptions {
  ApplicationEntryReader readEntry;
  // Where applications/ folders are looked for, most important first; empty: XDG_DATA_HOME
  // then XDG_DATA_DIRS with their defaults.
  std::vector<std::string> dataDirs;
  std::string home;            // empty: HOME
  std::string proc = "/proc";  // the process table
};

// The program an Exec line starts, without field codes or environment assignments.
std::vector<std::string> execArguments(const std::string& exec);

class LinuxWorkspace : public Workspace {
 public:
  // ax may be null: then only /proc and the desktop entries are asked.
  LinuxWorkspace(AtspiAccessibility* ax, WorkspaceOptions options);

  std::vector<RunningApplication> runningApplications() const override;
  std::vector<std::string> processNames() const override;
  Status openApplication(const std::string& bundlePath) override;
  std::optional<RunningApplication> frontmostApplication() const override;
  std::optional<std::string> urlForApplicationWithBundleIdentifier(const std::string& bundleID) const override;
  // An application's desktop entry stands for it as a bundle does: one file that names the
  // application, so that a rule made from the file and one made from the running process agree.
  bool isFilePackageAtPath(const std::string& path) const override;
  std::optional<std::string> bundleIdentifierAtPath(const std::string& path) const override;
  std::string displayNameAtPath(const std::string& path) const override;
  std::string iconForFile(const std::string& path) const override;
  std::string homeDirectory() const override;
  std::optional<double> processStartTime(int32_t processIdentifier) const override;
  Status terminateRunningApplication(int32_t processIdentifier) override;

  // The applications folders searched, most important first.
  std::vector<std::string> applicationDirs() const;

  // One process as an application, without listing the others: named by its desktop entry,
  // with its activationPolicy as that entry says (0 shown, 1 NoDisplay, 2 no entry). With
  // showsWindows given, AT-SPI is asked too: active when one of its windows has the focus, and
  // *showsWindows whether one shows; without, only /proc and the entries are read. nullopt when
  // no such process runs.
  std::optional<RunningApplication> runningApplication(int32_t pid, bool* showsWindows = nullptr) const;

 private:
  // The entries of every applications folder; read again only when one of the folders changed
  // (a snapping pass asks several times a second).
  std::vector<ApplicationEntry> entries() const;
  std::vector<ApplicationEntry> readEntries(std::map<std::string, int64_t>* folderTimes) const;
  std::optional<RunningApplication> fromProcess(int32_t pid, const std::vector<ApplicationEntry>& entries) const;

  AtspiAccessibility* ax_;
  WorkspaceOptions o_;
  mutable std::mutex entriesLock_;  // the snapping worker asks too
  mutable std::map<std::string, int64_t> entryFolderTimes_;
  mutable std::vector<ApplicationEntry> entries_;
  mutable bool haveEntries_ = false;
};

}  // namespace vl::linux_
