// Builds the desktop-session ports for the running session and says why any is missing.
#include "platform/linux/desktop_session_ports.h"

#include <cstdlib>
#include <cstring>

namespace vl::linux_ {

namespace {

const char* envOf(const std::function<const char*(const char*)>& getenv, const char* name) {
  const char* v = getenv ? getenv(name) : std::getenv(name);
  return v && *v ? v : nullptr;
}

}  // namespace

DisplayServer detectDisplayServer(const std::function<const char*(const char*)>& getenv) {
  const char* type = envOf(getenv, "XDG_SESSION_TYPE");
  // An X11 program on Wayland (DISPLAY of XWayland) still cannot move the desktop's pointer.
  if ((type && std::strcmp(type, "wayland") == 0) || envOf(getenv, "WAYLAND_DISPLAY")) return DisplayServer::Wayland;
  if ((type && std::strcmp(type, "x11") == 0) || envOf(getenv, "DISPLAY")) return DisplayServer::X11;
  return DisplayServer::None;
}

std::string snappingOffReason(DisplayServer server) {
  switch (server) {
    case DisplayServer::X11: return {};
    case DisplayServer::Wayland: return kSnappingOffOnWayland;
    case DisplayServer::None: return kSnappingOffWithoutDisplay;
  }
  return {};
}

DesktopSessionPorts makeDesktopSessionPorts(const DesktopSessionOptions& o) {
  DesktopSessionPorts out;
  out.displayServer = detectDisplayServer(o.getenv);
  out.snappingOff = snappingOffReason(out.displayServer);

  auto session = LogindSession::create(LogindOptions{o.systemBusAddress, o.sessionId});
  if (session) out.session = std::move(*session);
  else out.notes.push_back("session moments: logind cannot be asked (" + session.status().detail() + ")");

  // XWayland reports the outputs' changes too, so the screens come from X wherever there is one.
  std::string display = o.display;
  if (display.empty())
    if (const char* d = envOf(o.getenv, "DISPLAY")) display = d;
  if (!display.empty()) {
    auto screens = X11Screens::create(display);
    if (screens) {
      out.screens = std::move(*screens);
      if (!out.screens->hasRandr()) out.notes.push_back("display changes: the X server has no RandR; none are reported");
    } else {
      out.notes.push_back("screens: " + screens.status().detail());
    }
  }
  if (!out.screens && out.displayServer == DisplayServer::Wayland) out.notes.push_back(kNoDisplayChangesOnWayland);

  auto ax = AtspiAccessibility::create(o.userBusAddress);
  if (ax) {
    out.accessibility = std::move(*ax);
    std::string why = out.accessibility->untrustedReason();
    if (!why.empty()) out.notes.push_back("accessibility: " + why + ". " + kAtspiEnableHint);
  } else {
    out.notes.push_back("accessibility: " + ax.status().detail());
  }

  if (out.displayServer == DisplayServer::X11) {
    auto cursor = X11Cursor::create(display);
    if (cursor) {
      out.cursor = std::move(*cursor);
    } else {
      out.snappingOff = "Cursor snapping is off: " + cursor.status().detail() + ".";
    }
  }
  if (!out.snappingOff.empty()) out.notes.push_back(out.snappingOff);

  WorkspaceOptions wo;
  wo.readEntry = o.readEntry;
  out.workspace = std::make_unique<LinuxWorkspace>(out.accessibility.get(), std::move(wo));

  LinuxDesktopOptions dopt;
  dopt.display = display;
  dopt.useX = !display.empty();
  dopt.userBusAddress = o.userBusAddress;
  // Without the AT-SPI library's connection there is no bus to hear activations on either.
  dopt.useAtspi = out.accessibility != nullptr;
  out.desktop = LinuxDesktop::create(*out.workspace, dopt);
  for (const auto& n : out.desktop->notes()) out.notes.push_back(n);
  return out;
}

Status DesktopSessionPorts::attach(SdEventRunLoop& loop) {
  if (session)
    if (Status s = session->attach(loop); !s) return std::move(s).context("session");
  if (screens)
    if (Status s = screens->attach(loop); !s) return std::move(s).context("screens");
  if (accessibility)
    if (Status s = accessibility->attach(loop); !s) return std::move(s).context("accessibility");
  if (desktop)
    if (Status s = desktop->attach(loop); !s) return std::move(s).context("desktop");
  return Status::success();
}

void DesktopSessionPorts::fill(Platform& p) const {
  if (session) p.session = session.get();
  if (screens) p.screens = screens.get();
  if (accessibility) p.accessibility = accessibility.get();
  // No pointer to move (Wayland) means no cursor port at all: snapping then moves nothing.
  p.cursor = cursor.get();
  if (workspace) p.workspace = workspace.get();
  if (desktop) p.desktop = desktop.get();
}

}  // namespace vl::linux_
