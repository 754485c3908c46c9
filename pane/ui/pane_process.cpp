// Assembling the pane's ports in the host's process.
#include "pane/ui/pane_process.h"

#include <unistd.h>

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "core/system/alerts.h"
#include "core/system/drovana.h"
#include "platform/sim/world.h"
#include "platform/linux/atspi_accessibility.h"
#include "tools/common/service_url.h"

namespace vl::ui {

std::string paneResourcesFolder(const std::string& paneBundlePath) {
  if (!paneBundlePath.empty()) {
    std::error_code ec;
    const std::string inBundle = paneBundlePath + "/Contents/Resources";
    if (std::filesystem::is_directory(inBundle + "/en.lproj", ec)) return inBundle;
  }
  return VELMORA_SOURCE_RESOURCES;
}

PaneProcess::PaneProcess(const PaneProcessOptions& options)
    : resources_(paneResourcesFolder(options.paneBundlePath)),
      bundle_{velmora::kPaneBundleID, "Velmora", VELMORA_VERSION_TEXT, resources_},
      alerts_(options.interactive, "Velmora") {}

PaneProcess::~PaneProcess() = default;

void PaneProcess::message(const std::string& text) {
  std::fprintf(stderr, "Velmora: %s\n", text.c_str());
  if (sink_)
    sink_(text);
  else
    early_.push_back(text);
}

void PaneProcess::setMessageSink(std::function<void(const std::string&)> sink) {
  sink_ = std::move(sink);
  if (!sink_) return;
  for (const std::string& m : early_) sink_(m);
  early_.clear();
}

std::unique_ptr<PaneProcess> PaneProcess::create(const PaneProcessOptions& options, std::string* error) {
  std::unique_ptr<PaneProcess> p(new PaneProcess(options));
  auto loop = linux_::SdEventRunLoop::create();
  if (!loop) {
    if (error) *error = loop.status().detail();
    return nullptr;
  }
  p->loop_ = std::move(loop).value();
  if (!(options.desktop ? p->openDesktop(error) : p->openWorld(options, error))) return nullptr;

  // The host's own identifier and the platform's name for it both end the host.
  const std::string host = options.hostBundleID;
  cli::WorldProcess* world = p->world_.get();
  Workspace* workspace = p->platform_.workspace;
  p->lifecycle_ = std::make_unique<PaneLifecycle>(velmora::kSettingsHostBundleID, [host, world, workspace](const std::string& id) {
    if (!host.empty() && id == host) {
      if (QCoreApplication::instance()) QCoreApplication::exit(0);
      return;
    }
    if (world) {
      if (Status ended = world->world().terminateApplication(id); !ended)
        std::fprintf(stderr, "Velmora: cannot end %s: %s\n", id.c_str(), ended.detail().c_str());
      return;
    }
    bool found = false;
    if (workspace)
      for (const RunningApplication& app : workspace->runningApplications())
        if (app.bundleIdentifier == id) {
          found = true;
          if (Status ended = workspace->terminateRunningApplication(app.processIdentifier); !ended)
            std::fprintf(stderr, "Velmora: cannot end %s (process %d): %s\n", id.c_str(), app.processIdentifier,
                         ended.detail().c_str());
        }
    if (!found) std::fprintf(stderr, "Velmora: cannot end %s: it is not running\n", id.c_str());
  });

  p->platform_.alerts = &p->alerts_;
  p->platform_.lifecycle = p->lifecycle_.get();
  p->platform_.pasteboard = &p->pasteboard_;
  // Last: from here on the loop's work runs on Qt's main thread.
  p->bridge_ = std::make_unique<SdEventBridge>(*p->loop_);
  return p;
}

bool PaneProcess::openWorld(const PaneProcessOptions& options, std::string* error) {
  cli::WorldProcessOptions wo;
  wo.folder = sim::worldFolderFor(options.worldFolder);
  wo.resources = resources_;
  wo.processName = "Velmora";
  // The pane runs inside the settings host: the desktop sees the host's process.
  wo.self.bundleIdentifier = options.hostBundleID.empty() ? velmora::kSettingsHostBundleID : options.hostBundleID;
  wo.self.localizedName = "Velmora Settings";
  wo.self.processIdentifier = static_cast<int32_t>(::getpid());
  // Commands go where the world's agent listens, whatever this process's environment says.
  wo.bus = cli::WorldProcessOptions::Bus::Agent;
  // The pane's entry into the host's process: where the web service is, when the user says so.
  if (const char* url = std::getenv(cli::kServiceURLEnvironment)) wo.serviceURL = url;
  auto opened = cli::WorldProcess::open(*loop_, wo);
  if (!opened) {
    if (error) *error = opened.status().detail();
    return false;
  }
  world_ = std::move(opened).value();
  if (!world_->bus())
    message("cannot reach the agent's bus (" + world_->busError() +
            "); changes are saved but the agent hears of them only when it reads the store again");
  world_->follow([this](const std::string& e) { message(e); });
  platform_ = world_->platform();
  return true;
}

bool PaneProcess::openDesktop(std::string* error) {
  auto opened = cli::WindowDesktop::open(*loop_, resources_, [this](const std::string& line) { message(line); });
  if (!opened) {
    if (error) *error = opened.status().detail();
    return false;
  }
  desktop_ = std::move(opened).value();
  platform_ = desktop_->platform();
  limits_.snappingOff = desktop_->snappingOff();
  // This desktop keeps no per-program accessibility permission, only its bus's switch.
  limits_.accessibilityHint = linux_::kAtspiEnableHint;
  return true;
}

}  // namespace vl::ui
