// Composing the settings window's ports on the real machine.
#include "tools/common/window_desktop.h"

#include <cstdlib>

#include "tools/common/agent_workspace.h"
#include "tools/common/desktop_process.h"
#include "tools/common/service_url.h"

namespace vl::cli {

WindowDesktop::WindowDesktop() = default;
WindowDesktop::~WindowDesktop() = default;

Result<std::unique_ptr<WindowDesktop>> WindowDesktop::open(linux_::SdEventRunLoop& loop, const std::string& resources,
                                                           std::function<void(const std::string&)> report) {
  std::unique_ptr<WindowDesktop> w(new WindowDesktop());  // private constructor
  // The writer keeps no restore file here: that file is the running agent's own.
  DesktopSlotOptions slotOptions;
  slotOptions.sessionPorts = true;
  slotOptions.loop = &loop;
  slotOptions.log = report;
  DesktopProcessOptions options;
  options.resources = resources;
  options.slots = defaultDesktopSlots(slotOptions);
  w->parts_ = options.slots.parts;
  if (const char* url = std::getenv(kServiceURLEnvironment)) options.serviceURL = url;
  options.report = report;
  auto process = DesktopProcess::open(loop, std::move(options));
  if (!process) return Status::failure(1, "cannot reach this machine's devices: " + process.status().detail());
  w->process_ = std::move(process).value();
  if (!w->process_->bus() && report)
    report("cannot reach the session bus (" + w->process_->busError() +
           "); changes are saved but the agent hears of them only when it reads the store again");
  w->platform_ = w->process_->platform();
  if (report)
    for (const std::string& note : w->process_->notes()) report(note);
  if (w->platform_.workspace) {
    w->workspace_ = std::make_unique<AgentWorkspace>(*w->platform_.workspace, w->dataFolder() + "/agent/agent.lock");
    w->platform_.workspace = w->workspace_.get();
  }
  if (const linux_::DesktopSessionPorts* ports = w->parts_ ? w->parts_->ports() : nullptr)
    w->snappingOff_ = ports->snappingOff;
  return w;
}

std::string WindowDesktop::dataFolder() const { return process_->dataFolder(); }

}  // namespace vl::cli
