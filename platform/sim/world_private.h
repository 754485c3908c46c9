// World::Private: the state World's files share — the folder, the simulated Mac and its ports,
// the lock and the watches, the bytes last seen of each shared file — and the helpers they
// use. Internal to platform/sim's world files.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/sim/world.h"
#include "platform/sim/world_files.h"

namespace vl::sim {

namespace world {

inline Status fail(const std::string& msg) { return Status::failure(1, msg); }

inline double systemWallClock() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace world

using namespace world;

struct World::Private {
  std::string folder;
  WorldOptions options;
  std::unique_ptr<SimMac> mac;
  std::unique_ptr<SimWorkspace> workspace;
  std::unique_ptr<WorldServiceManager> serviceManager;
  std::unique_ptr<WorldAdminPrompt> adminPrompt;
  std::unique_ptr<WorldFileAttributes> fileAttributes;
  int lockFd = -1;
  int inotifyFd = -1;
  int folderWatch = -1, parentWatch = -1;
  // The folder as watched: a folder removed and made again is another inode.
  dev_t folderDev = 0;
  ino_t folderIno = 0;
  // The bytes of each shared file as this process last applied or wrote them: a change
  // notice for bytes equal to these is this process's own echo.
  std::map<std::string, std::string> known;
  // Live input: this object's name as a writer, and the last event number handed on.
  std::string inputWriter;
  uint64_t inputSeen = 0;
  std::vector<Device> devices;  // attached in mac, in attach order
  std::map<RegistryId, pl::Dict> properties;
  uint64_t displayChanges = 0;
  std::set<int32_t> hostProcesses;  // as the applications file last said

  ~Private() {
    if (mac) mac->setWriteObserver(nullptr);
    if (lockFd >= 0) ::close(lockFd);
    if (inotifyFd >= 0) ::close(inotifyFd);
  }

  std::string path(const char* file) const { return folder + "/" + file; }
  std::string historyDir() const { return folder + "/" + kWorldHistoryFolder; }
  double now() const { return options.wallClock ? options.wallClock() : systemWallClock(); }

  void report(const std::string& msg) {
    if (options.onError) options.onError(msg);
    else std::cerr << "velmora world: " << msg << "\n";
  }

  // Reads a shared file under the lock already held. *foreign tells whether it changed since
  // this process last saw it.
  template <class Model>
  Status load(const char* file, Model* model, bool* foreign) {
    auto bytes = readBytes(path(file));
    if (!bytes) return bytes.status();
    if (foreign) *foreign = *bytes != known[file];
    return parseBytes(path(file), *bytes, model);
  }

  // Writes a shared file under the lock already held. When the file held another process's
  // change, the bytes are not remembered, so processChanges applies that change later (and
  // finds this process's own part already in place).
  template <class Model>
  Status store(const char* file, const Model& model, bool foreign) {
    auto bytes = writeModel(path(file), toValue(model));
    if (!bytes) return bytes.status();
    if (!foreign) known[file] = std::move(*bytes);
    return Status::success();
  }

  // Read-modify-write of one shared file under the exclusive lock; change returns a Status
  // (a refusal writes nothing).
  template <class Model, class Change>
  Status update(const char* file, Change change) {
    FileLock lock(lockFd, true);
    if (!lock.held()) return fail(folder + ": cannot lock the world: " + errnoText(errno));
    Model model;
    bool foreign = false;
    if (Status s = load(file, &model, &foreign); !s) return s;
    if (Status s = change(model); !s) return s;
    return store(file, model, foreign);
  }
  // A change of the machine's system file that cannot be refused.
  template <class Change>
  Status updateSystem(Change change) {
    return update<SystemFile>(kWorldSystemFile, [&](SystemFile& f) {
      change(f);
      return Status::success();
    });
  }

  // Histories of service writes (world_history.cpp).
  Status appendHistory(const PropertyWrite& w);
  // A service write of this process, made through the event system: share it at once.
  void persistWrite(const PropertyWrite& write);

  // Bringing the simulated Mac in step with the files (world_sync.cpp).
  Status applyDevices(const DevicesFile& f);
  void applyProperties(const PropertiesFile& f);
  void applySystem(const SystemFile& f, bool initial);
  void applyApplications(const ApplicationsFile& given);
  // Reads every shared file under a shared lock, then applies those that changed, outside the
  // lock (callbacks may write and take it again).
  Status sync(bool initial);
  // Hands on the events numbered after the last seen, except this object's own. When the
  // world is opened, what is there is history and nothing is handed on.
  void applyInput(const InputFile& f, bool initial);

  // Live input written by this process (world_mutations.cpp).
  Status postInput(InputEvent ev);

  // Watching the folder (world_watching.cpp).
  bool watchFolder();
  // After the folder was removed and made again: watch and lock the new one.
  void followNewFolder();
};

}  // namespace vl::sim
