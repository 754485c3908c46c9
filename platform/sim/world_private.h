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

inline bool fail(std::string* error, const std::string& msg) {
  if (error) *error = msg;
  return false;
}

// The Status of an operation written as "false with *error".
template <class Operation>
Status asStatus(Operation operation) {
  std::string error;
  if (operation(&error)) return Status::success();
  return Status::failure(1, error.empty() ? std::string("the world could not be changed") : error);
}

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
  bool load(const char* file, Model* model, bool* foreign, std::string* error) {
    auto bytes = readBytes(path(file), error);
    if (!bytes) return false;
    if (foreign) *foreign = *bytes != known[file];
    return parseBytes(path(file), *bytes, model, error);
  }

  // Writes a shared file under the lock already held. When the file held another process's
  // change, the bytes are not remembered, so processChanges applies that change later (and
  // finds this process's own part already in place).
  template <class Model>
  bool store(const char* file, const Model& model, bool foreign, std::string* error) {
    auto bytes = writeModel(path(file), toValue(model), error);
    if (!bytes) return false;
    if (!foreign) known[file] = std::move(*bytes);
    return true;
  }

  // Read-modify-write of one shared file under the exclusive lock.
  template <class Model, class Change>
  bool update(const char* file, Change change, std::string* error) {
    FileLock lock(lockFd, true);
    if (!lock.held()) return fail(error, folder + ": cannot lock the world: " + errnoText(errno));
    Model model;
    bool foreign = false;
    if (!load(file, &model, &foreign, error)) return false;
    if (!change(model)) return false;
    return store(file, model, foreign, error);
  }
  // A change of the machine's system file that cannot be refused.
  template <class Change>
  bool updateSystem(Change change, std::string* error) {
    return update<SystemFile>(
        kWorldSystemFile,
        [&](SystemFile& f) {
          change(f);
          return true;
        },
        error);
  }

  // Histories of service writes (world_history.cpp).
  bool appendHistory(const PropertyWrite& w, std::string* error);
  // A service write of this process, made through the event system: share it at once.
  void persistWrite(const PropertyWrite& write);

  // Bringing the simulated Mac in step with the files (world_sync.cpp).
  bool applyDevices(const DevicesFile& f, std::string* error);
  void applyProperties(const PropertiesFile& f);
  void applySystem(const SystemFile& f, bool initial);
  void applyApplications(const ApplicationsFile& given);
  // Reads every shared file under a shared lock, then applies those that changed, outside the
  // lock (callbacks may write and take it again).
  bool sync(bool initial, std::string* error);
  // Hands on the events numbered after the last seen, except this object's own. When the
  // world is opened, what is there is history and nothing is handed on.
  void applyInput(const InputFile& f, bool initial);

  // Live input written by this process (world_mutations.cpp).
  bool postInput(InputEvent ev, std::string* error);

  // Watching the folder (world_watching.cpp).
  bool watchFolder();
  // After the folder was removed and made again: watch and lock the new one.
  void followNewFolder();
};

}  // namespace vl::sim
