// Detecting the drivers and tools that can defeat the pane (Logitech Options and G HUB,
// Karabiner-Elements, Microsoft's mouse driver, Elecom MouseEventChange), for the messages that
// name them. Process probes ask the workspace for process names; nothing runs a shell.
#include <filesystem>

#include "pane/controller/pane_controller.h"
#include "platform/api/system_info.h"
#include "platform/api/workspace.h"

namespace vl {

namespace {

constexpr const char* kLogitechOptionsKext = "com.logitech.manager.kernel.driver";
constexpr const char* kLogitechOptionsApps[] = {"com.logi.cp-dev-mgr", "com.logitech.manager.daemon",
                                                "com.Logitech.Control Center.Daemon"};
constexpr const char* kLogitechGHubPath = "/Applications/lghub.app";
constexpr const char* kMicrosoftMouseKext = "com.microsoft.driver.MicrosoftMouseUSB";
constexpr const char* kKarabinerProcessPart = "karabiner_";
constexpr const char* kElecomProcessPart = "MouseEventChange";

// The path as the file manager shows it: each component's display name, joined by "/".
// nullopt when the path does not exist.
std::optional<std::string> displayPath(const Platform& p, const std::string& path) {
  std::error_code ec;
  if (path.empty() || !std::filesystem::exists(path, ec)) return std::nullopt;
  if (!p.workspace) return path;
  std::filesystem::path full(path);
  std::filesystem::path prefix;
  std::string out;
  for (const auto& part : full) {
    prefix /= part;
    if (part == "/") continue;
    std::string shown = p.workspace->displayNameAtPath(prefix.string());
    out += "/" + (shown.empty() ? part.string() : shown);
  }
  return out.empty() ? std::optional<std::string>(path) : out;
}

bool processRuns(const Platform& p, const std::string& namePart) {
  if (!p.workspace) return false;
  for (const std::string& name : p.workspace->processNames())
    if (name.find(namePart) != std::string::npos) return true;
  return false;
}

}  // namespace

void quillon_Velmora_prefpane::detectDrivers() {
  drivers_ = {};
  std::optional<std::string> options;
  if (platform_.system) options = platform_.system->kernelExtensionPath(kLogitechOptionsKext);
  if (!options && platform_.workspace) {
    auto running = platform_.workspace->runningApplications();
    for (const char* id : kLogitechOptionsApps) {
      for (auto it = running.rbegin(); it != running.rend() && !options; ++it)
        if (it->bundleIdentifier == id && !it->bundleURL.empty()) options = it->bundleURL;
      if (options) break;
    }
  }
  if (options) drivers_.logitechOptions = displayPath(platform_, *options).value_or(*options);
  drivers_.logitechGHub = displayPath(platform_, kLogitechGHubPath);
  drivers_.karabinerElements = processRuns(platform_, kKarabinerProcessPart);
  if (platform_.system) drivers_.microsoftDriver = platform_.system->kernelExtensionPath(kMicrosoftMouseKext);
  drivers_.elecomMouseEventChange = processRuns(platform_, kElecomProcessPart);
  detected_ = true;
}

}  // namespace vl
