// Starting the agent from the pane: as a launch agent of the user's service manager, restarted
// when its bundle on disk is newer than the running process, with one permission repair of the
// agents folder (the second try runs a second later on the run loop, not blocking the window).
#include <chrono>
#include <filesystem>

#include "core/system/ax_flag.h"
#include "core/system/alerts.h"
#include "core/store/object_context.h"
#include "core/system/launch_agent.h"
#include "core/system/strings.h"
#include "pane/controller/pane_controller.h"
#include "platform/api/runloop.h"
#include "platform/api/system_info.h"
#include "platform/api/workspace.h"

namespace vl {

namespace {

constexpr const char* kOwnershipMessage =
    "You need to uncheck 'Ignore ownership on this volume' option of your hard disk. In Finder, please select the "
    "hard disk icon where your home folder exists and press ⌘cmd + I to show the info window. You will see this "
    "option in the Sharing & Permissions section. Please note that you need to relogin your account to apply this "
    "change.";
constexpr double kRepairWait = 1.0;

// The bundle's modification date in seconds since the epoch.
std::optional<double> modificationTime(const std::string& path) {
  std::error_code ec;
  auto t = std::filesystem::last_write_time(path, ec);
  if (ec) return std::nullopt;
  auto sys = std::chrono::file_clock::to_sys(t);
  return std::chrono::duration<double>(sys.time_since_epoch()).count();
}

}  // namespace

std::optional<std::string> quillon_Velmora_prefpane::boaURL() const {
  if (settings_.bundlePath.empty()) return std::nullopt;
  return (std::filesystem::path(settings_.bundlePath) / kAgentRelativePath).string();
}

int32_t quillon_Velmora_prefpane::launchBOAAndReturnError(std::optional<ErrorInfo>* outError) {
  if (outError) outError->reset();
  std::optional<RunningApplication> running;
  if (platform_.workspace)
    for (const RunningApplication& app : platform_.workspace->runningApplications())
      if (app.bundleIdentifier == velmora::kAgentBundleID) running = app;
  std::optional<double> started;
  if (running && platform_.workspace) started = platform_.workspace->processStartTime(running->processIdentifier);

  std::optional<std::string> url = boaURL();
  if (!url) return 1001221;
  std::optional<double> modified = modificationTime(*url);
  if (running) {
    // Only a bundle known to be newer than the running process replaces it.
    if (!modified || !started || *modified <= *started) return 0;
    quitBOA();
  }
  QS812removeFileFromLoginItems(platform_, velmora::kAgentName);
  ErrorInfo error;
  int32_t r = QS812registerLaunchAgent(platform_, *url, &error);
  if (r == 0) return finishLaunch(outError);
  if (error.domain != kCocoaErrorDomain || error.code != kFileWriteNoPermissionError) {
    QS810stackNSError(errors_.stack, &error);
    QS810stackError(errors_.stack, nullptr, r);
    return 1001251;
  }
  std::string host = platform_.system ? platform_.system->processName() : std::string();
  (void)QS812fixPermissionOfLaunchAgent(platform_, host, settings_.bundle.executable);
  RunLoop* rl = platform_.runLoop;
  if (!rl) return registerAgent(*url, true, outError);
  // The second registration a second later; its failure ends the pane as a failed launch does.
  rl->cancelPerform(&launchTarget_, "registerAgentAfterRepair");
  std::string path = *url;
  rl->perform(&launchTarget_, "registerAgentAfterRepair", kRepairWait, [this, path] {
    std::optional<ErrorInfo> explained;
    if (int32_t e = registerAgent(path, true, &explained)) reportLaunchFailure(1000851, e, explained);
  });
  return 0;
}

int32_t quillon_Velmora_prefpane::registerAgent(const std::string& url, bool afterRepair,
                                                std::optional<ErrorInfo>* outError) {
  ErrorInfo error;
  if (int32_t r = QS812registerLaunchAgent(platform_, url, &error)) {
    QS810stackNSError(errors_.stack, &error);
    QS810stackError(errors_.stack, nullptr, r);
    return afterRepair ? 1001249 : 1001251;
  }
  return finishLaunch(outError);
}

int32_t quillon_Velmora_prefpane::finishLaunch(std::optional<ErrorInfo>* outError) {
  if (QS812isLaunchAgentLoaded(platform_, velmora::kAgentBundleID)) {
    startBOA();
    return 0;
  }
  if (!QS812homeVolumeOwnerShip(platform_)) {
    fatal(kOwnershipMessage, "vl", 1001258, 1001258);
    // The fatal end is under way; nothing further to report.
    return 0;
  }
  std::optional<ErrorInfo> explained = QS812errorMsgLaunchAgent(platform_, velmora::kAgentBundleID);
  if (outError) *outError = std::move(explained);
  return 1001262;
}

void quillon_Velmora_prefpane::startBOA() {
  if (QS812startLaunchAgentForBundleID(platform_, errors_.stack, velmora::kAgentBundleID) == 0) return;
  if (std::optional<std::string> url = boaURL(); url && platform_.workspace)
    platform_.workspace->openApplication(*url).ignore("the pane watches for the agent's announcement and warns when none comes");
}

void quillon_Velmora_prefpane::quitBOA() { QS812terminateApp(platform_.workspace, platform_.sleeper, velmora::kAgentBundleID); }

void quillon_Velmora_prefpane::restartBOA() {
  quitBOA();
  startBOA();
}

void quillon_Velmora_prefpane::setBOAAXEnabled() {
  boaAXEnabled_ = QS842getAXEnabled(platform_.desktop, platform_.defaults, axPreferred_ ? velmora::kAgentBundleID : drovana::kAgentBundleID);
}

}  // namespace vl
