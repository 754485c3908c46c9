// The desktop-session ports of a real Linux machine in one place: logind's session moments,
// the screens, AT-SPI accessibility, the pointer, the workspace and the desktop (activations,
// windows), each built for the running session, with the reason for every port that cannot be had.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/api/platform.h"
#include "platform/api/status.h"
#include "platform/linux/atspi_accessibility.h"
#include "platform/linux/linux_desktop.h"
#include "platform/linux/linux_workspace.h"
#include "platform/linux/logind_session.h"
#include "platform/linux/x11_desktop.h"

namespace vl::linux_ {

class SdEventRunLoop;

enum class DisplayServer { X11, Wayland, None };

// What the session runs on, from its environment (XDG_SESSION_TYPE, WAYLAND_DISPLAY, DISPLAY).
// getenv null: the process's own environment.
DisplayServer detectDisplayServer(const std::function<const char*(const char*)>& getenv = nullptr);

// Shown in the window's Applications tab (and logged once) where the pointer cannot be moved.
inline constexpr const char* kSnappingOffOnWayland =
    "Cursor snapping is off: on Wayland no program may move the pointer. "
    "Log in to an X11 session to have the cursor moved onto dialog buttons.";
inline constexpr const char* kSnappingOffWithoutDisplay =
    "Cursor snapping is off: no display server was found in this session.";
// Logged once where the session announces no display changes.
inline constexpr const char* kNoDisplayChangesOnWayland =
    "display changes: this Wayland session announces none to Velmora; speeds are re-applied at "
    "login, unlock and wake, not after a display change";

// The text for the Applications tab; empty when snapping can move the pointer.
std::string snappingOffReason(DisplayServer server);

struct DesktopSessionOptions {
  std::string systemBusAddress;  // logind; empty: the system bus
  std::string sessionId;         // empty: XDG_SESSION_ID, else logind's "auto"
  std::string display;           // X display; empty: DISPLAY
  std::string userBusAddress;    // announces the AT-SPI bus; empty: the user's bus
  // The program's strict desktop-entry reader (names, icons, ids of applications).
  ApplicationEntryReader readEntry;
  std::function<const char*(const char*)> getenv;  // null: the process's environment
};

struct DesktopSessionPorts {
  DisplayServer displayServer = DisplayServer::None;
  std::unique_ptr<LogindSession> session;
  std::unique_ptr<X11Screens> screens;
  std::unique_ptr<AtspiAccessibility> accessibility;
  std::unique_ptr<X11Cursor> cursor;
  std::unique_ptr<LinuxWorkspace> workspace;
  std::unique_ptr<LinuxDesktop> desktop;  // uses workspace: declared after it, so it goes first
  // One line per port that could not be built or that works only in part, saying why.
  std::vector<std::string> notes;
  // Non-empty when the cursor cannot be moved: the Applications tab's message.
  std::string snappingOff;

  // Runs the session's, the screens', the accessibility bus's and the desktop's event sources on loop, which
  // must outlive these ports.
  [[nodiscard]] Status attach(SdEventRunLoop& loop);
  // Sets the ports this set has into p (the others stay as they are; the cursor is always set,
  // to none where the pointer cannot be moved).
  void fill(Platform& p) const;
};

DesktopSessionPorts makeDesktopSessionPorts(const DesktopSessionOptions& options);

}  // namespace vl::linux_
