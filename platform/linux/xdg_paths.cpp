// XdgPaths: folders from the XDG environment and the checked private temporary folder.
#include "platform/linux/xdg_paths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vl::linux_ {

namespace {

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

// XDG says relative paths in these variables are invalid and must be ignored.
bool absolute(const std::string& p) { return !p.empty() && p[0] == '/'; }

}  // namespace

XdgEnvironment XdgEnvironment::fromProcess() {
  XdgEnvironment e;
  e.uid = ::getuid();
  e.home = env("HOME");
  if (e.home.empty()) {
    if (const struct passwd* pw = ::getpwuid(e.uid)) e.home = pw->pw_dir ? pw->pw_dir : "";
  }
  e.dataHome = env("XDG_DATA_HOME");
  e.configHome = env("XDG_CONFIG_HOME");
  e.runtimeDir = env("XDG_RUNTIME_DIR");
  std::string dirs = env("XDG_DATA_DIRS");
  size_t start = 0;
  while (start <= dirs.size() && !dirs.empty()) {
    size_t colon = dirs.find(':', start);
    std::string d = dirs.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
    if (!d.empty()) e.dataDirs.push_back(d);
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  return e;
}

Status ensurePrivateFolder(const std::string& path, unsigned uid) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
    return Status::failure(errno, path + ": cannot create: " + std::strerror(errno));
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return Status::failure(errno, path + ": " + std::strerror(errno));
  // Another user could have made it first, to read or swap our files.
  if (!S_ISDIR(st.st_mode)) return Status::failure(ENOTDIR, path + ": is not a folder");
  if (st.st_uid != uid) return Status::failure(EPERM, path + ": belongs to another user");
  if ((st.st_mode & 077) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%03o", static_cast<unsigned>(st.st_mode & 0777));
    return Status::failure(EPERM, path + ": others may enter it (mode " + mode + ")");
  }
  return Status::success();
}

Result<XdgPaths> XdgPaths::create(const XdgEnvironment& e, std::string resources) {
  if (!absolute(e.home) && (!absolute(e.dataHome) || !absolute(e.configHome)))
    return Status::failure(1, "no home folder (HOME is not set)");
  XdgPaths p;
  p.dataHome_ = absolute(e.dataHome) ? e.dataHome : e.home + "/.local/share";
  p.configHome_ = absolute(e.configHome) ? e.configHome : e.home + "/.config";
  std::vector<std::string> dirs;
  for (const auto& d : e.dataDirs)
    if (absolute(d)) dirs.push_back(d);
  if (dirs.empty()) dirs = {"/usr/local/share", "/usr/share"};
  p.local_ = dirs.front();
  p.system_ = dirs.back();
  p.temporary_ = absolute(e.runtimeDir) ? e.runtimeDir + "/velmora" : "/tmp/velmora-" + std::to_string(e.uid);
  p.resources_ = std::move(resources);
  if (Status made = ensurePrivateFolder(p.temporary_, e.uid); !made) return made;
  return p;
}

std::string XdgPaths::applicationSupport(Domain d) const {
  switch (d) {
    case Domain::User: return dataHome_;
    case Domain::Local: return local_;
    case Domain::Network: return "/net/velmora/share";
    case Domain::System: return system_;
  }
  return dataHome_;
}

std::vector<std::string> XdgPaths::preferencePanes() const {
  return {dataHome_ + "/velmora/PreferencePanes", local_ + "/velmora/PreferencePanes",
          applicationSupport(Domain::Network) + "/velmora/PreferencePanes", system_ + "/velmora/PreferencePanes"};
}

}  // namespace vl::linux_
