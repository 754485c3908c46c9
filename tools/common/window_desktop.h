// WindowDesktop: the settings window's ports on the real machine, composed as the agent's are
// (the same store, session bus and speed writer choice) but without the agent's restore file,
// with a workspace that sees the running agent, and with what the session cannot do for
// cursor snapping. Kept free of Qt: the window's code includes it beside Qt's headers.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/api/platform.h"
#include "platform/api/status.h"

namespace vl::linux_ {
class SdEventRunLoop;
}

namespace vl::cli {

class AgentWorkspace;
class DesktopProcess;
class DesktopSessionParts;

class WindowDesktop {
 public:
  // A failure (a sentence) when this machine's devices or folders cannot be had. report hears
  // the notes on ports that fall back and the device adapters' messages.
  static Result<std::unique_ptr<WindowDesktop>> open(linux_::SdEventRunLoop& loop, const std::string& resources,
                                                     std::function<void(const std::string&)> report);
  ~WindowDesktop();
  WindowDesktop(const WindowDesktop&) = delete;
  WindowDesktop& operator=(const WindowDesktop&) = delete;

  // Alerts, the lifecycle and the pasteboard are the window's own.
  const Platform& platform() const { return platform_; }
  // Non-empty where the pointer cannot be moved (Wayland, no display): the Applications tab's text.
  const std::string& snappingOff() const { return snappingOff_; }
  // The folder of Velmora's own files here; the agent's lock is in its agent/ folder.
  std::string dataFolder() const;

 private:
  WindowDesktop();
  std::shared_ptr<DesktopSessionParts> parts_;
  std::unique_ptr<DesktopProcess> process_;
  std::unique_ptr<AgentWorkspace> workspace_;
  Platform platform_;
  std::string snappingOff_;
};

}  // namespace vl::cli
