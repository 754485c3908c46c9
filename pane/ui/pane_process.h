// PaneProcess: the ports the pane's plug-in runs on inside the settings host: the shared
// simulated Mac (the world the host names) or this machine's own (as the agent builds it), the
// sd-event run loop driven by Qt's loop, the bus on which commands reach the agent, message-box
// alerts, the clipboard as pasteboard, and the host's end after a fatal error.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/errors/error_stack.h"
#include "pane/ui/qt_alerts.h"
#include "pane/ui/qt_pasteboard.h"
#include "pane/ui/sd_event_bridge.h"
#include "pane/windows/desktop_limits.h"
#include "platform/api/platform.h"
#include "tools/common/window_desktop.h"
#include "tools/common/world_process.h"

namespace vl::ui {

struct PaneProcessOptions {
  std::string paneBundlePath;  // ".../Velmora.prefPane"; empty when the pane runs from the build
  std::string worldFolder;     // empty: the default world ($VELMORA_WORLD, then the data home's)
  bool desktop = false;        // this machine's own devices and session instead of a world
  std::string hostBundleID;    // the host's, terminated after a fatal error
  bool interactive = true;     // a user is there to dismiss message boxes
};

// The resources folder of a pane bundle (its Contents/Resources, when that holds the strings
// tables), else the source tree's.
std::string paneResourcesFolder(const std::string& paneBundlePath);

class PaneProcess {
 public:
  // Null with *error when the world cannot be opened or the loop cannot be made. Needs a
  // QApplication.
  static std::unique_ptr<PaneProcess> create(const PaneProcessOptions& options, std::string* error);
  ~PaneProcess();
  PaneProcess(const PaneProcess&) = delete;
  PaneProcess& operator=(const PaneProcess&) = delete;

  const Platform& platform() const { return platform_; }
  const BundleInfo& bundle() const { return bundle_; }
  const std::string& resources() const { return resources_; }
  QtAlerts& alerts() { return alerts_; }
  linux_::SdEventRunLoop& loop() { return *loop_; }
  // The simulated Mac; null on the real machine.
  cli::WorldProcess* world() { return world_.get(); }
  // The real machine's ports; null on a simulated Mac.
  cli::WindowDesktop* desktop() { return desktop_.get(); }
  // What this machine's desktop cannot do for snapping (nothing on a simulated Mac).
  const DesktopLimits& desktopLimits() const { return limits_; }
  // What the process reports (a bus it cannot reach, a world it cannot read) goes to standard
  // error and to sink; messages from before a sink was set are handed to it at once. An empty
  // sink stops the handing on.
  void setMessageSink(std::function<void(const std::string&)> sink);

 private:
  explicit PaneProcess(const PaneProcessOptions& options);
  void message(const std::string& text);
  [[nodiscard]] bool openWorld(const PaneProcessOptions& options, std::string* error);
  [[nodiscard]] bool openDesktop(std::string* error);

  std::string resources_;
  BundleInfo bundle_;
  std::unique_ptr<linux_::SdEventRunLoop> loop_;
  std::unique_ptr<cli::WorldProcess> world_;
  std::unique_ptr<cli::WindowDesktop> desktop_;
  DesktopLimits limits_;
  std::unique_ptr<SdEventBridge> bridge_;
  QtAlerts alerts_;
  std::unique_ptr<PaneLifecycle> lifecycle_;
  QtPasteboard pasteboard_;
  Platform platform_;
  std::function<void(const std::string&)> sink_;
  std::vector<std::string> early_;
};

}  // namespace vl::ui
