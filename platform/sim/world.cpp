// World: the shared simulated Mac — loading the folder, writing shared changes under the
// folder's lock, and following other processes' changes through inotify.
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

namespace vl::sim {

using namespace world;
namespace fs = std::filesystem;

namespace {

// History chunks: a write rewrites only the newest chunk, so its cost stays flat however
// long the history is.
constexpr size_t kHistoryChunk = 250;

constexpr uint32_t kWatchMask = IN_CLOSE_WRITE | IN_MOVED_TO | IN_DELETE | IN_CREATE | IN_DELETE_SELF | IN_MOVE_SELF;

const char* const kSharedFiles[] = {kWorldDevicesFile, kWorldPropertiesFile, kWorldSystemFile, kWorldApplicationsFile};

bool fail(std::string* error, const std::string& msg) {
  if (error) *error = msg;
  return false;
}

double systemWallClock() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// The history chunk files, by number, oldest first.
std::vector<std::pair<uint64_t, std::string>> historyChunks(const std::string& dir) {
  std::vector<std::pair<uint64_t, std::string>> out;
  std::error_code ec;
  // increment(ec): the range-for form throws when reading the folder fails midway.
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::directory_entry& e = *it;
    std::string name = e.path().filename().string();
    if (name.size() < 14 || name.rfind("writes-", 0) != 0 || name.substr(name.size() - 6) != ".plist") continue;
    std::string digits = name.substr(7, name.size() - 13);
    if (digits.empty() || digits.size() > 12 || !std::all_of(digits.begin(), digits.end(), ::isdigit)) continue;
    out.emplace_back(std::stoull(digits), e.path().string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::string chunkPath(const std::string& dir, uint64_t n) {
  char b[40];
  std::snprintf(b, sizeof b, "/writes-%06llu.plist", static_cast<unsigned long long>(n));
  return dir + b;
}

}  // namespace

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

  bool appendHistory(const PropertyWrite& w, std::string* error) {
    std::error_code ec;
    fs::create_directories(historyDir(), ec);
    if (ec) return fail(error, historyDir() + ": cannot create: " + ec.message());
    size_t chunkSize = std::max<size_t>(1, std::min(kHistoryChunk, options.historyLimit));
    auto chunks = historyChunks(historyDir());
    uint64_t n = chunks.empty() ? 1 : chunks.back().first;
    HistoryChunk chunk;
    if (!chunks.empty()) {
      auto bytes = readBytes(chunks.back().second, error);
      if (!bytes || !parseBytes(chunks.back().second, *bytes, &chunk, error)) return false;
      if (chunk.writes.size() >= chunkSize) {
        chunk.writes.clear();
        ++n;
      }
    }
    chunk.writes.push_back(w);
    if (!writeModel(chunkPath(historyDir(), n), toValue(chunk), error)) return false;
    // Keep enough whole chunks to cover the limit; history() trims the rest.
    uint64_t keep = (options.historyLimit + chunkSize - 1) / chunkSize + 1;
    for (const auto& [k, p] : chunks)
      if (k + keep <= n) fs::remove(p, ec);
    return true;
  }

  // A service write of this process, made through the event system: share it at once.
  void persistWrite(const PropertyWrite& write) {
    PropertyWrite w = write;
    w.time = now();
    std::string error;
    FileLock lock(lockFd, true);
    if (!lock.held()) {
      report(folder + ": cannot lock the world: " + errnoText(errno));
      return;
    }
    if (w.accepted) {
      PropertiesFile props;
      bool foreign = false;
      if (!load(kWorldPropertiesFile, &props, &foreign, &error)) {
        report(error);
        return;
      }
      props.services[w.service][w.key] = w.value;
      if (!store(kWorldPropertiesFile, props, foreign, &error)) {
        report(error);
        return;
      }
      properties[w.service][w.key] = w.value;
    }
    if (!appendHistory(w, &error)) report(error);
  }

  // --- Bringing the simulated Mac in step with the files -------------------------------------

  bool applyDevices(const DevicesFile& f, std::string* error) {
    std::string firstError;
    // Gone (or replaced under the same id by a world made anew): removal callbacks.
    for (auto it = devices.begin(); it != devices.end();) {
      auto match = std::find_if(f.devices.begin(), f.devices.end(),
                                [&](const Device& d) { return d.id == it->id && d.profile == it->profile; });
      if (match == f.devices.end()) {
        mac->detach(it->id);
        it = devices.erase(it);
      } else {
        ++it;
      }
    }
    for (const auto& d : f.devices) {
      bool have = std::any_of(devices.begin(), devices.end(), [&](const Device& x) { return x.id == d.id; });
      if (have) continue;
      // Values written since the device came are in place before its services arrive.
      std::string why;
      if (mac->attach(withOverrides(d.fixture, d.id, properties), &why, d.id) == 0) {
        if (firstError.empty()) firstError = path(kWorldDevicesFile) + ": device " + hexId(d.id) + " (" + d.profile + "): " + why;
        continue;
      }
      devices.push_back(d);
    }
    if (!firstError.empty()) return fail(error, firstError);
    return true;
  }

  void applyProperties(const PropertiesFile& f) {
    properties = f.services;
    for (const auto& [id, props] : f.services) {
      if (!mac->registry().exists(id)) continue;
      for (const auto& [key, value] : props) {
        auto cur = mac->registry().property(id, key);
        if (!cur || *cur != value) mac->setProperty(id, key, value);
      }
    }
  }

  void applySystem(const SystemFile& f, bool initial) {
    for (const auto& [key, value] : f.acceleration) {
      auto cur = mac->systemAcceleration(key);
      if (!cur || *cur != value) mac->setSystemAcceleration(key, value);
    }
    SessionState s = mac->session().current();
    if (s.onConsole != f.session.onConsole || s.screenLocked != f.session.screenLocked) mac->setSessionState(f.session);
    if (mac->screens().frames() != f.screens) mac->setScreenFrames(f.screens);
    for (const auto& [handler, type] : f.keyboardLayouts) mac->setKeyboardLayout(handler, type);
    if (f.displayChanges != displayChanges) {
      displayChanges = f.displayChanges;
      if (!initial) mac->displayChange();
    }
  }

  void applyApplications(const ApplicationsFile& given) {
    ApplicationsFile f = given;
    hostProcesses = f.hostProcesses;
    for (const auto& [pid, t] : f.startTimes) workspace->setProcessStartTime(pid, t);
    // A real process that ended without a word (a crashed agent) runs no more.
    f.running.erase(std::remove_if(f.running.begin(), f.running.end(),
                                   [&](const RunningApplication& a) {
                                     return f.hostProcesses.count(a.processIdentifier) && !hostProcessAlive(a.processIdentifier);
                                   }),
                    f.running.end());
    auto current = workspace->runningApplications();
    bool same = current.size() == f.running.size();
    for (size_t i = 0; same && i < current.size(); ++i) {
      const auto &a = current[i], &b = f.running[i];
      same = a.processIdentifier == b.processIdentifier && a.bundleIdentifier == b.bundleIdentifier &&
             a.bundleURL == b.bundleURL && a.executableURL == b.executableURL && a.localizedName == b.localizedName &&
             a.active == b.active && a.activationPolicy == b.activationPolicy;
    }
    if (same) return;
    for (const auto& a : current) workspace->terminate(a.processIdentifier);
    for (const auto& a : f.running) workspace->launch(a, a.active);
  }

  // Reads every shared file under a shared lock, then applies those that changed, outside the
  // lock (callbacks may write and take it again).
  bool sync(bool initial, std::string* error) {
    std::map<std::string, std::string> bytes;
    {
      FileLock lock(lockFd, false);
      if (!lock.held()) return fail(error, folder + ": cannot lock the world: " + errnoText(errno));
      for (const char* file : kSharedFiles) {
        auto b = readBytes(path(file), error);
        if (!b) return false;
        bytes[file] = std::move(*b);
      }
      auto b = readBytes(path(kWorldInputFile), error);
      if (!b) return false;
      bytes[kWorldInputFile] = std::move(*b);
    }
    std::string firstError;
    auto note = [&](const std::string& e) {
      if (firstError.empty()) firstError = e;
    };
    auto changed = [&](const char* file) { return initial || bytes[file] != known[file]; };
    // Devices before properties (values of a new device go in with it), properties before
    // system state (a device is complete before the events that may make clients look at it).
    std::string e;
    if (changed(kWorldDevicesFile) || changed(kWorldPropertiesFile)) {
      PropertiesFile props;
      if (parseBytes(path(kWorldPropertiesFile), bytes[kWorldPropertiesFile], &props, &e)) {
        properties = props.services;
      } else {
        note(e);
      }
    }
    if (changed(kWorldDevicesFile)) {
      DevicesFile f;
      if (parseBytes(path(kWorldDevicesFile), bytes[kWorldDevicesFile], &f, &e)) {
        if (!applyDevices(f, &e)) note(e);
      } else {
        note(e);
      }
      known[kWorldDevicesFile] = bytes[kWorldDevicesFile];
    }
    if (changed(kWorldPropertiesFile)) {
      PropertiesFile f;
      if (parseBytes(path(kWorldPropertiesFile), bytes[kWorldPropertiesFile], &f, &e)) applyProperties(f);
      known[kWorldPropertiesFile] = bytes[kWorldPropertiesFile];
    }
    if (changed(kWorldSystemFile)) {
      SystemFile f;
      if (parseBytes(path(kWorldSystemFile), bytes[kWorldSystemFile], &f, &e)) applySystem(f, initial);
      else note(e);
      known[kWorldSystemFile] = bytes[kWorldSystemFile];
    }
    if (changed(kWorldApplicationsFile)) {
      ApplicationsFile f;
      if (parseBytes(path(kWorldApplicationsFile), bytes[kWorldApplicationsFile], &f, &e)) applyApplications(f);
      else note(e);
      known[kWorldApplicationsFile] = bytes[kWorldApplicationsFile];
    }
    // Input last: it may move devices that arrived in the same pass.
    if (changed(kWorldInputFile)) {
      InputFile f;
      if (parseBytes(path(kWorldInputFile), bytes[kWorldInputFile], &f, &e)) applyInput(f, initial);
      else note(e);
      known[kWorldInputFile] = bytes[kWorldInputFile];
    }
    if (!firstError.empty()) return fail(error, firstError);
    return true;
  }

  // Hands on the events numbered after the last seen, except this object's own. When the
  // world is opened, what is there is history and nothing is handed on.
  void applyInput(const InputFile& f, bool initial) {
    if (!initial) {
      for (const auto& ev : f.events) {
        if (ev.seq <= inputSeen || ev.writer == inputWriter) continue;
        if (ev.device != 0) mac->postInputReport(ev.device, ev.values);
        else mac->postMouseMoved(ev.deltaX, ev.deltaY);
      }
    }
    inputSeen = std::max(inputSeen, f.nextSeq - 1);
  }

  bool postInput(InputEvent ev, std::string* error) {
    ev.writer = inputWriter;
    if (!update<InputFile>(
            kWorldInputFile,
            [&](InputFile& f) {
              ev.seq = f.nextSeq++;
              f.events.push_back(ev);
              if (f.events.size() > kInputEventLimit)
                f.events.erase(f.events.begin(), f.events.end() - static_cast<std::ptrdiff_t>(kInputEventLimit));
              return true;
            },
            error))
      return false;
    if (ev.device != 0) mac->postInputReport(ev.device, ev.values);
    else mac->postMouseMoved(ev.deltaX, ev.deltaY);
    return true;
  }

  bool watchFolder() {
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) return false;
    folderWatch = ::inotify_add_watch(inotifyFd, folder.c_str(), kWatchMask);
    if (folderWatch < 0) return false;
    folderDev = st.st_dev;
    folderIno = st.st_ino;
    return true;
  }

  // After the folder was removed and made again: watch and lock the new one.
  void followNewFolder() {
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
};

World::World(Key) : p_(std::make_unique<Private>()) {}
World::~World() = default;

bool World::exists(const std::string& folder) {
  struct stat st {};
  return ::stat((folder + "/" + kWorldDevicesFile).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::unique_ptr<World> World::open(const std::string& folder, const WorldOptions& options, std::string* error) {
  if (!exists(folder)) {
    fail(error, "no world in " + folder + " (make one with 'velmora-sim init')");
    return nullptr;
  }
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
  if (p.lockFd < 0) {
    fail(error, p.path(kWorldLockFile) + ": cannot open: " + errnoText(errno));
    return nullptr;
  }
  // Watch before the first read, so no change between the two is missed. The parent is
  // watched for the folder being made again after someone removed it.
  p.inotifyFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (p.inotifyFd < 0 || !p.watchFolder()) {
    fail(error, folder + ": cannot watch for changes: " + errnoText(errno));
    return nullptr;
  }
  std::string parent = fs::path(folder).lexically_normal().parent_path().string();
  if (!parent.empty()) p.parentWatch = ::inotify_add_watch(p.inotifyFd, parent.c_str(), IN_CREATE | IN_MOVED_TO | IN_ONLYDIR);
  if (!p.sync(true, error)) return nullptr;
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
    std::string ignored;
    return self->terminateProcess(app.processIdentifier, &ignored);
  });
  return w;
}

std::unique_ptr<World> World::create(const std::string& folder, const WorldOptions& options, bool replace,
                                     std::string* error) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) {
    fail(error, folder + ": cannot create: " + ec.message());
    return nullptr;
  }
  if (exists(folder) && !replace) {
    fail(error, "a world already exists in " + folder);
    return nullptr;
  }
  {
    int fd = ::open((folder + "/" + kWorldLockFile).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
      fail(error, folder + "/" + kWorldLockFile + ": cannot open: " + errnoText(errno));
      return nullptr;
    }
    bool ok = false;
    {
      FileLock lock(fd, true);
      // Ids and process identifiers go on from the old world, so nothing is named twice.
      DevicesFile devices;
      ApplicationsFile apps;
      SystemFile system;
      std::string ignored;
      if (auto b = readBytes(folder + "/" + kWorldDevicesFile, &ignored)) {
        DevicesFile old;
        if (parseBytes(folder, *b, &old, &ignored)) devices.nextBlock = old.nextBlock;
      }
      if (auto b = readBytes(folder + "/" + kWorldApplicationsFile, &ignored)) {
        ApplicationsFile old;
        if (parseBytes(folder, *b, &old, &ignored)) apps.nextPid = old.nextPid;
      }
      if (auto b = readBytes(folder + "/" + kWorldSystemFile, &ignored)) {
        SystemFile old;
        if (parseBytes(folder, *b, &old, &ignored)) system.displayChanges = old.displayChanges;
      }
      fs::remove_all(folder + "/" + kWorldHistoryFolder, ec);
      fs::remove_all(folder + "/" + kWorldDefaultsFolder, ec);
      // The devices file marks a world, so it is written last.
      ok = writeModel(folder + "/" + kWorldPropertiesFile, toValue(PropertiesFile{}), error) &&
           writeModel(folder + "/" + kWorldSystemFile, toValue(system), error) &&
           writeModel(folder + "/" + kWorldApplicationsFile, toValue(apps), error) &&
           writeModel(folder + "/" + kWorldDevicesFile, toValue(devices), error);
    }
    ::close(fd);
    if (!ok) return nullptr;
  }
  return open(folder, options, error);
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

RegistryId World::attach(const pl::Value& fixture, std::string* error) {
  Private& p = *p_;
  const pl::Value* tree = fixture.find("tree");
  if (!tree || !tree->isDict()) {
    fail(error, "fixture has no tree dictionary");
    return 0;
  }
  if (entryCount(*tree) >= kWorldBlockSize) {
    fail(error, "fixture has more than " + std::to_string(kWorldBlockSize - 1) + " registry entries");
    return 0;
  }
  {
    // Refuse a malformed fixture before it reaches the folder, where it would break every reader.
    SimMac scratch;
    std::string why;
    if (scratch.attach(fixture, &why) == 0) {
      fail(error, why);
      return 0;
    }
  }
  Device dev;
  dev.profile = fixture.stringFor("profile").value_or("");
  dev.name = fixture.stringFor("name").value_or("");
  dev.attached = p.now();
  dev.fixture = fixture;
  bool ok = p.update<DevicesFile>(
      kWorldDevicesFile,
      [&](DevicesFile& f) {
        dev.id = blockId(f.nextBlock++);
        f.devices.push_back(dev);
        return true;
      },
      error);
  if (!ok) return 0;
  std::string why;
  RegistryId top = p.mac->attach(fixture, &why, dev.id);
  if (top == 0) {
    fail(error, "cannot attach as " + hexId(dev.id) + ": " + why);
    return 0;
  }
  p.devices.push_back(std::move(dev));
  return top;
}

RegistryId World::attachProfile(const std::string& dir, const std::string& profile, std::string* error) {
  bool isPath = profile.find('/') != std::string::npos ||
                (profile.size() > 6 && profile.compare(profile.size() - 6, 6, ".plist") == 0);
  std::string path = isPath ? profile : dir + "/" + profile + ".plist";
  if (!isPath && (profile.empty() || profile[0] == '.')) {
    fail(error, "'" + profile + "' is no profile name");
    return 0;
  }
  auto r = pl::readFile(path);
  if (!r) {
    fail(error, r.error);
    return 0;
  }
  return attach(*r.value, error);
}

bool World::detach(RegistryId top, std::string* error) {
  Private& p = *p_;
  {
    FileLock lock(p.lockFd, true);
    if (!lock.held()) return fail(error, p.folder + ": cannot lock the world: " + errnoText(errno));
    DevicesFile devices;
    PropertiesFile props;
    bool foreignDevices = false, foreignProps = false;
    if (!p.load(kWorldDevicesFile, &devices, &foreignDevices, error) ||
        !p.load(kWorldPropertiesFile, &props, &foreignProps, error))
      return false;
    auto it = std::find_if(devices.devices.begin(), devices.devices.end(), [&](const Device& d) { return d.id == top; });
    if (it == devices.devices.end()) return fail(error, "no attached device has the id " + hexId(top));
    devices.devices.erase(it);
    // Values written to the device's services go with it.
    auto& s = props.services;
    s.erase(s.lower_bound(top), s.lower_bound(top + kWorldBlockSize));
    if (!p.store(kWorldPropertiesFile, props, foreignProps, error) || !p.store(kWorldDevicesFile, devices, foreignDevices, error))
      return false;
  }
  p.properties.erase(p.properties.lower_bound(top), p.properties.lower_bound(top + kWorldBlockSize));
  auto it = std::find_if(p.devices.begin(), p.devices.end(), [&](const Device& d) { return d.id == top; });
  if (it != p.devices.end()) {
    p.devices.erase(it);
    p.mac->detach(top);
  }
  return true;
}

std::vector<WorldDevice> World::devices() const {
  std::vector<WorldDevice> out;
  for (const auto& d : p_->devices) out.push_back({d.id, d.profile, d.name, d.attached});
  return out;
}

bool World::setProperty(RegistryId entry, const std::string& key, const pl::Value& value, std::string* error) {
  Private& p = *p_;
  if (!p.mac->registry().exists(entry)) return fail(error, "no registry entry has the id " + hexId(entry));
  bool ok = p.update<PropertiesFile>(
      kWorldPropertiesFile,
      [&](PropertiesFile& f) {
        f.services[entry][key] = value;
        return true;
      },
      error);
  if (!ok) return false;
  p.properties[entry][key] = value;
  p.mac->setProperty(entry, key, value);
  return true;
}

bool World::setSystemAcceleration(const std::string& key, double value, std::string* error) {
  if (key.empty()) return fail(error, "empty acceleration key");
  bool ok = p_->update<SystemFile>(
      kWorldSystemFile,
      [&](SystemFile& f) {
        f.acceleration[key] = value;
        return true;
      },
      error);
  if (ok) p_->mac->setSystemAcceleration(key, value);
  return ok;
}

bool World::setSessionState(SessionState state, std::string* error) {
  bool ok = p_->update<SystemFile>(
      kWorldSystemFile,
      [&](SystemFile& f) {
        f.session = state;
        return true;
      },
      error);
  if (ok) p_->mac->setSessionState(state);
  return ok;
}

bool World::setKeyboardLayout(int16_t handlerID, uint32_t layoutType, std::string* error) {
  bool ok = p_->update<SystemFile>(
      kWorldSystemFile,
      [&](SystemFile& f) {
        f.keyboardLayouts[handlerID] = layoutType;
        return true;
      },
      error);
  if (ok) p_->mac->setKeyboardLayout(handlerID, layoutType);
  return ok;
}

bool World::setScreenFrames(std::vector<Rect> frames, std::string* error) {
  if (frames.empty()) return fail(error, "a machine has at least one screen");
  bool ok = p_->update<SystemFile>(
      kWorldSystemFile,
      [&](SystemFile& f) {
        f.screens = frames;
        return true;
      },
      error);
  if (ok) p_->mac->setScreenFrames(std::move(frames));
  return ok;
}

bool World::displayChange(std::string* error) {
  uint64_t count = 0;
  bool ok = p_->update<SystemFile>(
      kWorldSystemFile,
      [&](SystemFile& f) {
        count = ++f.displayChanges;
        return true;
      },
      error);
  if (!ok) return false;
  // Changes of others counted in between are told as this one event.
  p_->displayChanges = count;
  p_->mac->displayChange();
  return true;
}

uint64_t World::displayChangeCount() const { return p_->displayChanges; }

std::optional<int32_t> World::launchApplication(RunningApplication app, bool activate, std::string* error) {
  ApplicationsFile result;
  double now = p_->now();
  bool ok = p_->update<ApplicationsFile>(
      kWorldApplicationsFile,
      [&](ApplicationsFile& f) {
        if (app.processIdentifier <= 0) app.processIdentifier = f.nextPid++;
        f.startTimes[app.processIdentifier] = now;
        for (const auto& a : f.running)
          if (a.processIdentifier == app.processIdentifier)
            return fail(error, "process " + std::to_string(app.processIdentifier) + " is already running");
        if (activate)
          for (auto& a : f.running) a.active = false;
        app.active = activate;
        f.running.push_back(app);
        result = f;
        return true;
      },
      error);
  if (!ok) return std::nullopt;
  p_->applyApplications(result);
  return app.processIdentifier;
}

std::optional<int32_t> World::recordHostProcess(RunningApplication app, std::string* error) {
  if (app.processIdentifier <= 0) app.processIdentifier = static_cast<int32_t>(::getpid());
  app.active = false;
  ApplicationsFile result;
  bool ok = p_->update<ApplicationsFile>(
      kWorldApplicationsFile,
      [&](ApplicationsFile& f) {
        auto gone = [&](const RunningApplication& a) {
          bool stale = f.hostProcesses.count(a.processIdentifier) && a.bundleIdentifier == app.bundleIdentifier &&
                       !hostProcessAlive(a.processIdentifier);
          return stale || a.processIdentifier == app.processIdentifier;
        };
        for (const auto& a : f.running)
          if (gone(a)) {
            f.hostProcesses.erase(a.processIdentifier);
            f.startTimes.erase(a.processIdentifier);
          }
        f.running.erase(std::remove_if(f.running.begin(), f.running.end(), gone), f.running.end());
        f.running.push_back(app);
        f.hostProcesses.insert(app.processIdentifier);
        result = f;
        return true;
      },
      error);
  if (!ok) return std::nullopt;
  p_->applyApplications(result);
  return app.processIdentifier;
}

bool World::terminateApplication(const std::string& bundleIdentifier, std::string* error) {
  ApplicationsFile result;
  bool ok = p_->update<ApplicationsFile>(
      kWorldApplicationsFile,
      [&](ApplicationsFile& f) {
        for (auto it = f.running.rbegin(); it != f.running.rend(); ++it) {
          if (it->bundleIdentifier == bundleIdentifier) {
            f.hostProcesses.erase(it->processIdentifier);
            f.startTimes.erase(it->processIdentifier);
            f.running.erase(std::next(it).base());
            result = f;
            return true;
          }
        }
        return fail(error, "no running application has the identifier " + bundleIdentifier);
      },
      error);
  if (ok) p_->applyApplications(result);
  return ok;
}

bool World::terminateProcess(int32_t pid, std::string* error) {
  ApplicationsFile result;
  bool ok = p_->update<ApplicationsFile>(
      kWorldApplicationsFile,
      [&](ApplicationsFile& f) {
        auto it = std::find_if(f.running.begin(), f.running.end(),
                               [&](const RunningApplication& a) { return a.processIdentifier == pid; });
        if (it == f.running.end()) return fail(error, "no running application has the process id " + std::to_string(pid));
        f.running.erase(it);
        f.hostProcesses.erase(pid);
        f.startTimes.erase(pid);
        result = f;
        return true;
      },
      error);
  if (ok) p_->applyApplications(result);
  return ok;
}

bool World::postInputReport(RegistryId hidDevice, const std::vector<HidInputValue>& values, std::string* error) {
  if (hidDevice == 0 || !p_->mac->registry().conformsTo(hidDevice, "IOHIDDevice"))
    return fail(error, "no HID device has the id " + hexId(hidDevice));
  if (values.empty()) return fail(error, "an input report needs values");
  InputEvent ev;
  ev.device = hidDevice;
  ev.values = values;
  return p_->postInput(std::move(ev), error);
}

bool World::postMouseMoved(double deltaX, double deltaY, std::string* error) {
  if (!std::isfinite(deltaX) || !std::isfinite(deltaY)) return fail(error, "a movement needs finite deltas");
  InputEvent ev;
  ev.deltaX = deltaX;
  ev.deltaY = deltaY;
  return p_->postInput(std::move(ev), error);
}

std::vector<PropertyWrite> World::history(double since, std::string* error) const {
  Private& p = *p_;
  std::vector<PropertyWrite> out;
  FileLock lock(p.lockFd, false);
  if (!lock.held()) {
    fail(error, p.folder + ": cannot lock the world: " + errnoText(errno));
    return out;
  }
  for (const auto& [n, path] : historyChunks(p.historyDir())) {
    HistoryChunk chunk;
    auto bytes = readBytes(path, error);
    if (!bytes || !parseBytes(path, *bytes, &chunk, error)) return {};
    out.insert(out.end(), std::make_move_iterator(chunk.writes.begin()), std::make_move_iterator(chunk.writes.end()));
  }
  if (out.size() > p.options.historyLimit)
    out.erase(out.begin(), out.end() - static_cast<std::ptrdiff_t>(p.options.historyLimit));
  out.erase(std::remove_if(out.begin(), out.end(), [&](const PropertyWrite& w) { return w.time < since; }), out.end());
  return out;
}

int World::watchFd() const { return p_->inotifyFd; }

bool World::processChanges(std::string* error) {
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
  if (any && !relevant) return true;
  p_->followNewFolder();
  return p_->sync(false, error);
}

std::string worldFolderFor(const std::string& option) {
  if (!option.empty()) return option;
  if (const char* env = std::getenv("VELMORA_WORLD"); env && *env) return env;
  if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data == '/') return std::string(data) + "/velmora/world";
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : "/tmp") + "/.local/share/velmora/world";
}

}  // namespace vl::sim
