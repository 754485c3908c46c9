// The agent as a launch agent: registration, load test, start, removal, permission repair,
// old-style login items and termination, all through the service-manager, administrator-prompt
// and workspace ports. Nothing here builds a command line: paths travel as single arguments.
#include "core/system/launch_agent.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "core/errors/error_stack.h"
#include "core/plist/codec.h"
#include "core/plist/text_util.h"
#include "core/system/strings.h"
#include "platform/api/file_error.h"
#include "platform/api/service_manager.h"
#include "platform/api/sleeper.h"
#include "platform/api/workspace.h"

namespace vl {

namespace {

std::optional<pl::Value> infoDictionary(const std::string& bundlePath) {
  if (bundlePath.empty()) return std::nullopt;
  auto r = pl::readFile(bundlePath + "/Contents/Info.plist");
  if (!r || !r.value->isDict()) return std::nullopt;
  return r.value;
}

std::string bundleIdentifier(const std::string& bundlePath) {
  auto info = infoDictionary(bundlePath);
  return info ? info->stringFor("CFBundleIdentifier").value_or("") : "";
}

// The bundle's executable: Contents/MacOS/<CFBundleExecutable>; empty when it names none.
std::string executablePath(const std::string& bundlePath) {
  auto info = infoDictionary(bundlePath);
  if (!info) return {};
  std::string name = info->stringFor("CFBundleExecutable").value_or("");
  // A name is one path component: anything else would point outside the bundle.
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) return {};
  std::string base = bundlePath;
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  return base + "/Contents/MacOS/" + name;
}

std::string withoutExtension(const std::string& name) {
  auto dot = name.rfind('.');
  auto slash = name.rfind('/');
  if (dot == std::string::npos || dot == 0 || (slash != std::string::npos && dot < slash)) return name;
  return name.substr(0, dot);
}

std::string fillObjects(std::string pattern, std::initializer_list<std::string> values) {
  std::string out;
  size_t from = 0;
  auto it = values.begin();
  for (size_t at; (at = pattern.find("%@", from)) != std::string::npos && it != values.end(); ++it) {
    out += pattern.substr(from, at - from);
    out += *it;
    from = at + 2;
  }
  out += pattern.substr(from);
  return out;
}

}  // namespace

std::optional<std::string> QS812launchAgentURL(const Platform& p, const std::string& bundleIdentifier, ErrorInfo* error) {
  if (bundleIdentifier.empty() || !p.serviceManager) return std::nullopt;
  // An identifier is one file name; one with a slash would place the file elsewhere.
  if (bundleIdentifier.find('/') != std::string::npos || bundleIdentifier == "." || bundleIdentifier == "..")
    return std::nullopt;
  auto folder = p.serviceManager->launchAgentsFolder();
  if (!folder) {
    if (error) *error = fileWriteError(folder.status());
    return std::nullopt;
  }
  return *folder + "/" + bundleIdentifier + ".plist";
}

std::optional<std::string> QS812launchAgentURLWithURL(const Platform& p, const std::string& bundlePath, ErrorInfo* error) {
  if (bundlePath.empty()) return std::nullopt;
  return QS812launchAgentURL(p, bundleIdentifier(bundlePath), error);
}

int32_t QS812registerLaunchAgent(const Platform& p, const std::string& agentBundlePath, ErrorInfo* error) {
  auto url = QS812launchAgentURLWithURL(p, agentBundlePath, error);
  if (!url) return kLaunchAgentNoLocation;
  ServiceManager& sm = *p.serviceManager;
  // An older registration is dropped first, so registering twice leaves one loaded agent.
  sm.bootout(*url).ignore("when none was loaded the unload fails, and that is the usual case");

  std::string identifier = bundleIdentifier(agentBundlePath);
  if (identifier.empty()) return kLaunchAgentNoIdentifier;
  std::string executable = executablePath(agentBundlePath);
  if (executable.empty()) return kLaunchAgentNoExecutable;

  pl::Dict plist;
  plist["Label"] = pl::Value(identifier);
  plist["ProgramArguments"] = pl::Value(pl::Array{pl::Value(executable)});
  plist["ProcessType"] = pl::Value("Interactive");
  plist["RunAtLoad"] = pl::Value(true);
  std::string text = pl::writeXml(pl::Value(std::move(plist)));
  if (text.empty()) return kLaunchAgentNotSerialised;
  if (pl::detail::invalidUtf8At(text) != std::string_view::npos) return kLaunchAgentNotText;
  if (Status written = sm.writeFileAtomically(*url, text); !written) {
    if (error) *error = fileWriteError(written);
    return kLaunchAgentNotWritten;
  }

  // As the service manager wants its property lists: mutable, the user's, not group-writable.
  // Whether the agent loaded is what counts: the caller asks the service manager that next and
  // explains a failure from its answer, so these steps' own failures go no further.
  constexpr const char* kLoadDecides = "the caller checks whether the agent loaded and explains why not";
  sm.clearImmutableFlag(*url).ignore(kLoadDecides);
  sm.setOwner(*url, sm.userID(), sm.groupID()).ignore(kLoadDecides);
  sm.setMode(*url, 0755).ignore(kLoadDecides);
  sm.enable(identifier).ignore(kLoadDecides);
  sm.bootstrap(*url).ignore(kLoadDecides);
  return 0;
}

void QS812removeLaunchAgent(const Platform& p, const std::string& agentBundlePath) {
  if (agentBundlePath.empty()) return;
  ErrorInfo ignored;
  auto url = QS812launchAgentURLWithURL(p, agentBundlePath, &ignored);
  if (!url) return;
  // Best effort, with nothing to report to.
  p.serviceManager->bootout(*url).ignore("the unload fails when no agent is loaded");
  p.serviceManager->removeFile(*url).ignore("a file that cannot be removed is found again by the next removal");
}

int32_t QS812startLaunchAgentForBundleID(const Platform& p, ErrorStack& errors, const std::string& label) {
  if (label.empty()) return 0;
  Status started = p.serviceManager ? p.serviceManager->kickstart(label) : Status::failure(-1, "no service manager");
  if (started) return 0;
  QS810stackError(errors, nullptr, static_cast<int32_t>(started.code()));
  return kLaunchAgentStartFailed;
}

bool QS812isLaunchAgentLoaded(const Platform& p, const std::string& label) {
  return p.serviceManager && !label.empty() && p.serviceManager->isLoaded(label);
}

AdminResult QS812fixPermissionOfLaunchAgent(const Platform& p, const std::string& hostName, const std::string& paneName) {
  AdminResult none;
  none.outcome = AdminResult::Outcome::Failed;
  none.code = -1;
  if (!p.serviceManager || !p.adminPrompt) {
    none.text = "no administrator prompt";
    return none;
  }
  auto folder = p.serviceManager->launchAgentsFolder();
  if (!folder) {
    none.text = "no LaunchAgents folder";
    return none;
  }
  std::string message =
      fillObjects(localized(p, "%@ is going to execute this command for %@ to save a login item.", "dvvl"), {hostName, paneName});
  std::string owner = std::to_string(p.serviceManager->userID()) + ":" + std::to_string(p.serviceManager->groupID());
  // Each path is one argument of its own: no quoting, so no name can run anything.
  std::vector<std::vector<std::string>> operations = {
      {"chflags", "nouchg", *folder},
      {"chown", owner, *folder},
      {"chmod", "755", *folder},
  };
  return p.adminPrompt->runPrivileged(message, operations);
}

std::optional<ErrorInfo> QS812errorMsgLaunchAgent(const Platform& p, const std::string& label) {
  if (!p.serviceManager || label.empty()) return std::nullopt;
  std::string text = p.serviceManager->explainLoadFailure(label);
  if (text.empty()) return std::nullopt;
  ErrorInfo e;
  e.domain = label;
  e.code = 0;
  e.userInfo[kDescriptionKey] = pl::Value(text);
  return e;
}

bool QS812homeVolumeOwnerShip(const Platform& p) {
  if (!p.serviceManager) return false;
  return p.serviceManager->homeVolumeOwnershipEnabled().value_or(false);
}

void QS812removeFileFromLoginItems(const Platform& p, const std::string& name) {
  if (!p.serviceManager || name.empty()) return;
  std::string wanted = withoutExtension(name);
  for (int pass = 0; pass < 5; ++pass) {
    auto items = p.serviceManager->loginItems();
    if (items.empty()) return;
    bool removed = false;
    for (const auto& item : items)
      if (withoutExtension(item.displayName) == wanted && p.serviceManager->removeLoginItem(item).ok()) removed = true;
    if (!removed) return;
  }
}

void QS812terminateApp(Workspace* workspace, Sleeper* sleeperPort, const std::string& bundleIdentifier) {
  if (!workspace || bundleIdentifier.empty()) return;
  ThreadSleeper realSleep;
  Sleeper& sleeper = sleeperPort ? *sleeperPort : static_cast<Sleeper&>(realSleep);
  for (int request = 0; request < 10; ++request) {
    auto running = workspace->runningApplications();
    auto last = std::find_if(running.rbegin(), running.rend(),
                             [&](const RunningApplication& a) { return a.bundleIdentifier == bundleIdentifier; });
    if (last == running.rend()) return;
    // A refused request ends the asking: the application will not quit for this caller.
    if (!workspace->terminateRunningApplication(last->processIdentifier)) return;
    sleeper.sleep(0.3);
  }
}

bool QS812isExecutableFileAtURL(const std::string& path) {
  if (path.empty()) return false;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  if (!S_ISDIR(st.st_mode)) return S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  if (trimmed.size() < 5 || trimmed.compare(trimmed.size() - 4, 4, ".app") != 0) return false;
  // A package is a bundle: the folder holds its Contents/Info.plist.
  struct stat info {};
  return ::stat((trimmed + "/Contents/Info.plist").c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace vl
