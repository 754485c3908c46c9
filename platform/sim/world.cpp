// World: the shared simulated Mac — opening and making the world folder, the platform it
// offers, and where a program finds it. The rest of World is in world_mutations.cpp (changes
// written to the folder), world_sync.cpp (other processes' changes applied), world_watching.cpp
// (inotify on the folder) and world_history.cpp (the history of service writes).
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

World::World(Key) : p_(std::make_unique<Private>()) {}

World::~World() = default;

bool World::exists(const std::string& folder) {
  struct stat st {};
  return ::stat((folder + "/" + kWorldDevicesFile).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

Result<std::unique_ptr<World>> World::open(const std::string& folder, const WorldOptions& options) {
  if (!exists(folder)) return fail("no world in " + folder + " (make one with 'velmora-sim init')");
  auto w = std::make_unique<World>(Key{});
  Private& p = *w->p_;
  p.folder = folder;
  p.options = options;
  {
    // Unique among every World of every process on the machine while it is open.
    static std::atomic<uint64_t> opened{0};
    p.inputWriter = std::to_string(::getpid()) + "." + std::to_string(++opened);
  }
  p.mac = std::make_unique<SimMac>(options.runLoop);
  p.mac->setProcessName(options.processName);
  const char* home = std::getenv("HOME");
  p.workspace = std::make_unique<SimWorkspace>(!options.home.empty() ? options.home : home ? home : "/");
  p.serviceManager = std::make_unique<WorldServiceManager>(folder);
  p.adminPrompt = std::make_unique<WorldAdminPrompt>(folder);
  p.fileAttributes = std::make_unique<WorldFileAttributes>(folder);
  p.lockFd = ::open(p.path(kWorldLockFile).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (p.lockFd < 0) return fail(p.path(kWorldLockFile) + ": cannot open: " + errnoText(errno));
  // Watch before the first read, so no change between the two is missed. The parent is
  // watched for the folder being made again after someone removed it.
  p.inotifyFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (p.inotifyFd < 0 || !p.watchFolder()) return fail(folder + ": cannot watch for changes: " + errnoText(errno));
  std::string parent = fs::path(folder).lexically_normal().parent_path().string();
  if (!parent.empty()) p.parentWatch = ::inotify_add_watch(p.inotifyFd, parent.c_str(), IN_CREATE | IN_MOVED_TO | IN_ONLYDIR);
  if (Status s = p.sync(true); !s) return s;
  p.mac->setWriteObserver([pp = w->p_.get()](const PropertyWrite& write) { pp->persistWrite(write); });
  World* self = w.get();
  p.workspace->setProcessStartTimeSource([self](int32_t pid) -> std::optional<double> {
    if (!self->p_->hostProcesses.count(pid)) return std::nullopt;
    return hostProcessStartTime(pid);
  });
  p.workspace->setLivenessCheck([self](const RunningApplication& app) {
    return !self->p_->hostProcesses.count(app.processIdentifier) || hostProcessAlive(app.processIdentifier);
  });
  // A real process is asked with SIGTERM (it records its own end); a simulated one just ends.
  p.workspace->setTerminationHandler([self](const RunningApplication& app) {
    if (self->p_->hostProcesses.count(app.processIdentifier)) return ::kill(app.processIdentifier, SIGTERM) == 0;
    return self->terminateProcess(app.processIdentifier).ok();
  });
  return w;
}

Result<std::unique_ptr<World>> World::create(const std::string& folder, const WorldOptions& options, bool replace) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) return fail(folder + ": cannot create: " + ec.message());
  if (exists(folder) && !replace) return fail("a world already exists in " + folder);
  {
    int fd = ::open((folder + "/" + kWorldLockFile).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return fail(folder + "/" + kWorldLockFile + ": cannot open: " + errnoText(errno));
    Status written;
    {
      FileLock lock(fd, true);
      // Ids and process identifiers go on from the old world, so nothing is named twice.
      DevicesFile devices;
      ApplicationsFile apps;
      SystemFile system;
      // An unreadable old file numbers from the start: the world is being replaced anyway.
      if (auto b = readBytes(folder + "/" + kWorldDevicesFile)) {
        DevicesFile old;
        if (parseBytes(folder, *b, &old)) devices.nextBlock = old.nextBlock;
      }
      if (auto b = readBytes(folder + "/" + kWorldApplicationsFile)) {
        ApplicationsFile old;
        if (parseBytes(folder, *b, &old)) apps.nextPid = old.nextPid;
      }
      if (auto b = readBytes(folder + "/" + kWorldSystemFile)) {
        SystemFile old;
        if (parseBytes(folder, *b, &old)) system.displayChanges = old.displayChanges;
      }
      fs::remove_all(folder + "/" + kWorldHistoryFolder, ec);
      fs::remove_all(folder + "/" + kWorldDefaultsFolder, ec);
      // The devices file marks a world, so it is written last.
      const std::pair<const char*, pl::Value> files[] = {{kWorldPropertiesFile, toValue(PropertiesFile{})},
                                                         {kWorldSystemFile, toValue(system)},
                                                         {kWorldApplicationsFile, toValue(apps)},
                                                         {kWorldDevicesFile, toValue(devices)}};
      for (const auto& [file, value] : files) {
        if (auto bytes = writeModel(folder + "/" + file, value); !bytes) {
          written = bytes.status();
          break;
        }
      }
    }
    ::close(fd);
    if (!written) return written;
  }
  return open(folder, options);
}

const std::string& World::folder() const { return p_->folder; }

std::string World::defaultsFolder() const { return p_->folder + "/" + kWorldDefaultsFolder; }

SimMac& World::mac() { return *p_->mac; }

SimWorkspace& World::workspace() { return *p_->workspace; }

WorldServiceManager& World::serviceManager() { return *p_->serviceManager; }

WorldAdminPrompt& World::adminPrompt() { return *p_->adminPrompt; }

WorldFileAttributes& World::fileAttributes() { return *p_->fileAttributes; }

Platform World::platform() {
  Platform pf = p_->mac->platform();
  pf.workspace = p_->workspace.get();
  pf.serviceManager = p_->serviceManager.get();
  pf.adminPrompt = p_->adminPrompt.get();
  pf.fileAttributes = p_->fileAttributes.get();
  return pf;
}

std::vector<WorldDevice> World::devices() const {
  std::vector<WorldDevice> out;
  for (const auto& d : p_->devices) out.push_back({d.id, d.profile, d.name, d.attached});
  return out;
}

uint64_t World::displayChangeCount() const { return p_->displayChanges; }

std::string worldFolderFor(const std::string& option) {
  if (!option.empty()) return option;
  if (const char* env = std::getenv("VELMORA_WORLD"); env && *env) return env;
  if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data == '/') return std::string(data) + "/velmora/world";
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : "/tmp") + "/.local/share/velmora/world";
}

}  // namespace vl::sim
