// World's watching: inotify on the world folder (and on its parent, for a folder made anew),
// and the draining of notices before a sync.
#include "platform/sim/world.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "core/plist/codec.h"
#include "platform/sim/host_process.h"
#include "platform/sim/world_files.h"

#include "platform/sim/world_private.h"

namespace vl::sim {

using namespace world;
namespace fs = std::filesystem;

namespace {

constexpr uint32_t kWatchMask = IN_CLOSE_WRITE | IN_MOVED_TO | IN_DELETE | IN_CREATE | IN_DELETE_SELF | IN_MOVE_SELF;

}  // namespace

bool World::Private::watchFolder() {
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) return false;
  folderWatch = ::inotify_add_watch(inotifyFd, folder.c_str(), kWatchMask);
  if (folderWatch < 0) return false;
  folderDev = st.st_dev;
  folderIno = st.st_ino;
  return true;
}

// After the folder was removed and made again: watch and lock the new one.
void World::Private::followNewFolder() {
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || (st.st_dev == folderDev && st.st_ino == folderIno)) return;
  if (folderWatch >= 0) ::inotify_rm_watch(inotifyFd, folderWatch);
  if (!watchFolder()) return;
  int fd = ::open(path(kWorldLockFile).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd >= 0) {
    ::close(lockFd);
    lockFd = fd;
  }
}

int World::watchFd() const { return p_->inotifyFd; }

Status World::processChanges() {
  // Drain the notices; which file changed does not matter, the bytes tell. Notices about
  // other entries of the parent folder are no reason to read anything.
  alignas(inotify_event) char buf[4096];
  bool any = false, relevant = false;
  std::string name = fs::path(p_->folder).lexically_normal().filename().string();
  ssize_t n;
  while ((n = ::read(p_->inotifyFd, buf, sizeof buf)) > 0) {
    any = true;
    for (ssize_t off = 0; off + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
      const auto* ev = reinterpret_cast<const inotify_event*>(buf + off);
      if (ev->wd != p_->parentWatch || (ev->len > 0 && name == ev->name)) relevant = true;
      off += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
    }
  }
  if (any && !relevant) return Status::success();
  p_->followNewFolder();
  return p_->sync(false);
}

}  // namespace vl::sim
