// The uninstall: the plan (what is there, and whether each folder lies where it must), the
// removal in its fixed order, and a tree deletion that never follows a link.
#include "pane/windows/uninstall.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "core/errors/error_stack.h"
#include "core/store/store.h"
#include "core/system/drovana.h"
#include "core/system/launch_agent.h"
#include "core/system/versions.h"
#include "platform/api/file_error.h"
#include "platform/api/paths.h"
#include "platform/api/service_manager.h"
#include "platform/api/user_defaults.h"
#include "platform/api/workspace.h"

namespace vl {

namespace fs = std::filesystem;

const std::vector<std::string> kPaneKeysRemovedOnUninstall = {
    "quillonVelmoraPrefpane_deviceNameWindow", "quillonVelmoraPrefpane_speedHelpWindow",
    "quillonVelmoraPrefpane_logWindow",        "quillonVelmoraPrefpane_appWindow",
    "quillonVelmoraPrefpane_update_version",   "quillonVelmoraPrefpane_update_date",
};

namespace {

constexpr const char* kPaneDomain = "quillon.Velmora.prefpane";
constexpr const char* kAgentRelative = "Contents/Library/LoginItems/Velmora Manager.app";

bool present(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

std::string resolved(const std::string& path) {
  std::error_code ec;
  fs::path p = fs::weakly_canonical(path, ec);
  return (ec ? fs::path(path).lexically_normal() : p).string();
}

// Strictly below folder (the folder itself does not count).
bool below(const std::string& path, const std::string& folder) {
  std::string f = folder.empty() || folder.back() == '/' ? folder : folder + "/";
  return !folder.empty() && path.size() > f.size() && path.compare(0, f.size(), f) == 0;
}

// Why path may not be removed as something that lies in base; empty when it may.
std::string outside(const std::string& what, const std::string& path, const std::string& base) {
  std::string r = resolved(path), b = resolved(base);
  if (below(r, b)) return {};
  return "the " + what + " " + path + " resolves to " + r + ", outside " + b;
}

ErrorInfo fileError(int err, const std::string& path, const std::string& what) { return posixFileError(err, path, what); }

// Empties the folder open as dirFd (taken over and closed) and every folder below it.
bool emptyFolder(int dirFd, const std::string& path, ErrorInfo* error) {
  DIR* dir = ::fdopendir(dirFd);
  if (!dir) {
    int err = errno;
    ::close(dirFd);
    if (error) *error = fileError(err, path, "cannot read");
    return false;
  }
  std::vector<std::string> names;
  while (dirent* e = ::readdir(dir)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    names.emplace_back(e->d_name);
  }
  int fd = ::dirfd(dir);
  bool ok = true;
  for (const auto& name : names) {
    std::string child = path + "/" + name;
    struct stat st {};
    if (::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;  // gone meanwhile
    if (S_ISDIR(st.st_mode)) {
      // O_NOFOLLOW: a folder swapped for a link since fstatat is not entered.
      int sub = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (sub >= 0) {
        if (!emptyFolder(sub, child, error)) ok = false;
        if (::unlinkat(fd, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) {
          if (ok && error) *error = fileError(errno, child, "cannot remove");
          ok = false;
        }
        continue;
      }
      if (errno != ELOOP && errno != ENOTDIR) {
        if (ok && error) *error = fileError(errno, child, "cannot open");
        ok = false;
        continue;
      }
    }
    // Files and links: the entry goes, whatever a link points to stays.
    if (::unlinkat(fd, name.c_str(), 0) != 0 && errno != ENOENT) {
      if (ok && error) *error = fileError(errno, child, "cannot remove");
      ok = false;
    }
  }
  ::closedir(dir);
  return ok;
}

bool removeTree(const std::string& path, ErrorInfo* error) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return true;
    if (error) *error = fileError(errno, path, "cannot read");
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
      if (error) *error = fileError(errno, path, "cannot remove");
      return false;
    }
    return true;
  }
  int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = fileError(errno, path, "cannot open");
    return false;
  }
  bool ok = emptyFolder(fd, path, error);
  if (::rmdir(path.c_str()) != 0 && errno != ENOENT) {
    if (ok && error) *error = fileError(errno, path, "cannot remove");
    return false;
  }
  return ok;
}

}  // namespace

Status removeTreeNoFollow(const std::string& path) {
  ErrorInfo error;
  if (removeTree(path, &error)) return Status::success();
  const std::string* text = error.userInfo[kDescriptionKey].asString();
  return Status::failure(error.code, text ? *text : path + ": cannot remove");
}

std::vector<UninstallItem> UninstallPlan::items() const {
  std::vector<UninstallItem> out;
  if (allUsersPane) out.push_back({"all-users pane", *allUsersPane, true});
  out.push_back({"agent", velmora::kAgentBundleID, false});
  if (drovanaInstalled) out.push_back({"store field", "vlDeviceSelectedIndex in " + storeFile.value_or("the store"), false});
  if (settingsFolder) out.push_back({"settings folder", *settingsFolder, false});
  if (launchAgentPropertyList) out.push_back({"launch agent", *launchAgentPropertyList, false});
  out.push_back({"login item", velmora::kAgentName, false});
  if (olderFolder) out.push_back({"older settings folder", *olderFolder, false});
  for (const auto& k : paneKeys) out.push_back({"defaults key", k, false});
  if (agentDefaults) out.push_back({"defaults domain", velmora::kAgentBundleID, false});
  if (userPane) out.push_back({"pane", *userPane, false});
  return out;
}

UninstallPlan planUninstall(const Platform& p) {
  UninstallPlan plan;
  plan.drovanaInstalled = QS812DrovanaVersion(p.paths) != 0;
  std::vector<std::string> refusals;

  auto userPanes = QS812urlForDirectory(p.paths, kUserDomainMask, kPreferencePanesDirectory);
  auto localPanes = QS812urlForDirectory(p.paths, kLocalDomainMask, kPreferencePanesDirectory);
  if (userPanes && present(*userPanes + "/" + velmora::kPaneFileName)) {
    plan.userPane = *userPanes + "/" + velmora::kPaneFileName;
    if (auto why = outside("pane", *plan.userPane, *userPanes); !why.empty()) refusals.push_back(why);
  }
  if (localPanes && present(*localPanes + "/" + velmora::kPaneFileName)) {
    plan.allUsersPane = *localPanes + "/" + velmora::kPaneFileName;
    if (auto why = outside("pane", *plan.allUsersPane, *localPanes); !why.empty()) refusals.push_back(why);
  }
  if (auto pane = QS812prefPaneURLForVelmora(p.paths); pane && present(*pane + "/" + kAgentRelative))
    plan.agentBundle = *pane + "/" + kAgentRelative;

  if (p.serviceManager && p.serviceManager->status(velmora::kAgentBundleID).registered) {
    // The folder exists when a registration lies in it, so asking for it makes nothing.
    ErrorInfo ignored;
    plan.launchAgentPropertyList = QS812launchAgentURL(p, velmora::kAgentBundleID, &ignored);
  }

  const std::string dataHome = p.paths ? p.paths->applicationSupport() : std::string();
  bool exists = false;
  std::string joint = QS814prefsFolderURL(p, true, &exists);
  if (!joint.empty()) plan.storeFile = joint + "/" + kDefaultStoreFileName;
  if (!plan.drovanaInstalled && exists && present(joint)) {
    plan.settingsFolder = joint;
    if (auto why = outside("settings folder", joint, dataHome); !why.empty()) refusals.push_back(why);
  }
  std::string older = QS814prefsFolderURL(p, false, &exists);
  if (!older.empty() && present(older)) {
    plan.olderFolder = older;
    if (auto why = outside("settings folder", older, dataHome); !why.empty()) refusals.push_back(why);
  }

  if (UserDefaults* d = p.defaults) {
    std::vector<std::string> keys = kPaneKeysRemovedOnUninstall;
    if (!plan.drovanaInstalled) keys.push_back(kShareSettingsKey);
    for (const auto& k : keys)
      if (d->value(kPaneDomain, k)) plan.paneKeys.push_back(k);
    plan.agentDefaults = true;
  }
  for (size_t i = 0; i < refusals.size(); ++i) plan.refused += (i ? "; " : "") + refusals[i];
  return plan;
}

int32_t runUninstall(const Platform& p, ErrorStack& errors, const UninstallPlan& plan, const std::string& adminMessage,
                     UninstallHooks& hooks, std::vector<UninstallFailure>* failuresOut) {
  if (!plan.refused.empty()) return kUninstallRefused;
  std::vector<UninstallFailure> failures;
  auto failed = [&](UninstallItem item, int32_t code, int64_t site, std::string reason) {
    failures.push_back({std::move(item), code, site, std::move(reason)});
  };
  auto reasonOf = [](const ErrorInfo& e) {
    auto it = e.userInfo.find(kDescriptionKey);
    const std::string* text = it == e.userInfo.end() ? nullptr : it->second.asString();
    return text ? *text : e.domain + " " + std::to_string(e.code);
  };

  // The one administrator prompt, before anything else changes: every privileged step runs
  // under it, and a cancelled or denied prompt leaves everything as it was.
  if (plan.allUsersPane) {
    const UninstallItem item{"all-users pane", *plan.allUsersPane, true};
    if (!p.adminPrompt) {
      QS810stackError(errors, nullptr, kAuthorizationInternal);
      hooks.fatal(kAuthorizationNotCreated, kUninstallAuthorizationSite, nullptr);
      return kAuthorizationNotCreated;
    }
    AdminResult r = p.adminPrompt->runPrivileged(adminMessage, {{"rm", "-rf", *plan.allUsersPane}});
    if (r.outcome == AdminResult::Outcome::Cancelled || r.outcome == AdminResult::Outcome::Denied) {
      QS810stackError(errors, nullptr, kAuthorizationRefused);
      return r.code;
    }
    if (!r.accepted()) {
      QS810stackError(errors, nullptr, r.code != 0 ? r.code : kAuthorizationInternal);
      failed(item, kPrivilegeRunFailed, kUninstallAllUsersPaneSite, r.text.empty() ? "the removal failed" : r.text);
    } else if (present(*plan.allUsersPane)) {
      failed(item, kPrivilegeRunFailed, kUninstallAllUsersPaneSite, "still there after the removal");
    }
  }

  hooks.beginUninstall();
  hooks.terminateAgent();

  if (plan.drovanaInstalled) {
    ErrorInfo error;
    if (int32_t r = hooks.clearSharedSelection(&error))
      failed({"store field", "vlDeviceSelectedIndex in " + plan.storeFile.value_or("the store"), false}, r,
             kUninstallStoreSaveSite, reasonOf(error));
  }
  hooks.willUnselect();

  auto removeFolder = [&](const std::optional<std::string>& folder, const char* kind, int64_t site) {
    if (!folder) return;
    if (Status removed = removeTreeNoFollow(*folder); !removed)
      failed({kind, *folder, false}, static_cast<int32_t>(site), site, removed.detail());
  };
  if (!plan.drovanaInstalled) removeFolder(plan.settingsFolder, "settings folder", kUninstallSettingsFolderSite);

  if (plan.agentBundle) {
    QS812removeLaunchAgent(p, *plan.agentBundle);
  } else if (p.serviceManager && plan.launchAgentPropertyList) {
    // No agent bundle left to name the registration: remove it by its label's file.
    p.serviceManager->bootout(*plan.launchAgentPropertyList).ignore("the unload fails when no agent is loaded");
    p.serviceManager->removeFile(*plan.launchAgentPropertyList)
        .ignore("a file left behind is checked for just below and reported");
  }
  if (plan.launchAgentPropertyList && present(*plan.launchAgentPropertyList))
    failed({"launch agent", *plan.launchAgentPropertyList, false}, static_cast<int32_t>(kUninstallUserPaneSite),
           kUninstallUserPaneSite, "its file could not be removed");
  QS812removeFileFromLoginItems(p, velmora::kAgentName);

  removeFolder(plan.olderFolder, "older settings folder", kUninstallOlderFolderSite);

  if (UserDefaults* d = p.defaults) {
    // Only keys that are there: removing an absent one would still write the domain's store.
    auto remove = [&](const std::string& k) {
      if (d->value(kPaneDomain, k) && !d->removeValue(kPaneDomain, k))
        failed({"defaults key", k, false}, static_cast<int32_t>(kUninstallUserPaneSite), kUninstallUserPaneSite,
               "the pane's defaults could not be written");
    };
    for (const auto& k : kPaneKeysRemovedOnUninstall) remove(k);
    if (!plan.drovanaInstalled) remove(kShareSettingsKey);
    // The agent's whole domain, through the defaults store itself rather than a command line.
    d->removeDomain(velmora::kAgentBundleID)
        .ignore("the agent's domain holds only the flags it republishes at start; left over, it changes nothing");
  }

  removeFolder(plan.userPane, "pane", kUninstallUserPaneSite);

  if (failuresOut) *failuresOut = failures;
  if (failures.empty()) return 0;
  // One report of everything that is left, with the first failure's number and site.
  ErrorInfo report;
  report.domain = "NSPOSIXErrorDomain";
  report.code = failures.front().code;
  std::string text;
  for (const auto& f : failures)
    text += (text.empty() ? "" : "\n") + std::string("could not remove the ") + f.item.kind + " " + f.item.target + ": " +
            f.reason;
  report.userInfo[kDescriptionKey] = pl::Value(text);
  hooks.fatal(failures.front().code, failures.front().site, &report);
  return failures.front().code;
}

}  // namespace vl
