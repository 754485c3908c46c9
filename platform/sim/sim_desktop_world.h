// SimDesktopWorld: the simulated desktop kept in the world folder, so that the agent, the
// settings window and velmora-sim see one desktop. desktop.plist holds the applications,
// windows, controls, focus, mouse buttons, modifier keys and trust (velmora-sim writes it);
// cursor.plist the cursor (whoever moves it); process-<pid>.plist a program's own windows.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/api/workspace.h"
#include "platform/sim/sim_desktop.h"

namespace vl::sim {

inline constexpr const char* kWorldDesktopFile = "desktop.plist";
inline constexpr const char* kWorldCursorFile = "cursor.plist";
inline constexpr const char* kWorldDesktopLockFile = "desktop.lock";

class SimDesktopWorld {
 public:
  // self: this program as an application on the desktop (its process id is this process's);
  // none for a tool that only edits the desktop. Reads the world's desktop into desktop and,
  // for a program, follows its cursor moves and window changes into the folder. pid: this
  // process's id as the files name it (0: the real one; tests run several in one process).
  static Result<std::unique_ptr<SimDesktopWorld>> open(const std::string& folder, SimDesktop& desktop,
                                                       std::optional<RunningApplication> self, int32_t pid = 0);
  ~SimDesktopWorld();  // a program's own file goes with it
  SimDesktopWorld(const SimDesktopWorld&) = delete;
  SimDesktopWorld& operator=(const SimDesktopWorld&) = delete;

  // Readable when one of the desktop's files changed; then call processChanges.
  int watchFd() const;
  // Brings in what other processes changed; a failure when a file is unreadable.
  Status processChanges();
  // For the tool: with the desktop locked and freshly read, runs change and writes the result
  // (nothing is written when change fails).
  Status edit(const std::function<Status(SimDesktop&)>& change);

  struct Private;

 private:
  explicit SimDesktopWorld(std::unique_ptr<Private> p);
  std::unique_ptr<Private> p_;
};

}  // namespace vl::sim
