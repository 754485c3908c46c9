// The simulated service manager and administrator prompt, kept in <world>/launchd/state.plist
// under a lock, with the agents' property lists in <world>/Library/LaunchAgents.
#include "platform/sim/world_service_manager.h"

#include "platform/sim/world_file_attributes.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <span>
#include <thread>

#include "core/plist/codec.h"
#include "platform/api/file_error.h"
#include "platform/sim/host_process.h"

extern char** environ;

namespace vl::sim {

namespace fs = std::filesystem;

namespace {

// launchctl's statuses.
constexpr int kNoSuchProcess = 3;      // ESRCH: bootout of what is not loaded
constexpr int kIOError = 5;            // a property list launchd refuses
constexpr int kInProgress = 37;        // EALREADY: bootstrap of a loaded service
constexpr int kNoService = 113;        // "Could not find service"
constexpr int kServiceDisabled = 119;  // bootstrap of a disabled label

struct Job {
  std::string path;
  std::vector<std::string> program;
  bool runAtLoad = false;
  pid_t pid = 0;
  uint64_t startTicks = 0;
  std::string lastError;
};

struct LoginEntry {
  std::string name, path;
};

}  // namespace

struct WorldServiceManager::State {
  std::optional<uint32_t> folderOwner;
  bool folderImmutable = false;
  std::optional<bool> volumeOwnership = true;  // nullopt: the home volume has no name
  AdminAnswer answer = AdminAnswer::Accept;
  std::set<std::string> disabled;
  std::map<std::string, Job> jobs;
  std::vector<LoginEntry> loginItems;
  std::vector<ShownPrompt> prompts;
};

namespace {

using State = WorldServiceManager::State;

std::string launchdFolder(const std::string& world) { return world + "/" + kWorldLaunchdFolder; }
std::string agentsFolder(const std::string& world) { return world + "/" + kWorldLaunchAgentsFolder; }

pl::Array stringArray(const std::vector<std::string>& v) {
  pl::Array a;
  for (const auto& s : v) a.emplace_back(s);
  return a;
}

std::vector<std::string> strings(const pl::Array* a) {
  std::vector<std::string> out;
  if (a)
    for (const auto& v : *a)
      if (const std::string* s = v.asString()) out.push_back(*s);
  return out;
}

State parseState(const pl::Value& root) {
  State s;
  if (auto o = root.integerFor("FolderOwner"); o && *o >= 0) s.folderOwner = static_cast<uint32_t>(*o);
  s.folderImmutable = root.boolFor("FolderImmutable").value_or(false);
  std::string volume = root.stringFor("VolumeOwnership").value_or("enabled");
  s.volumeOwnership = volume == "enabled" ? std::optional<bool>(true) : volume == "disabled" ? std::optional<bool>(false) : std::nullopt;
  s.answer = adminAnswerFromText(root.stringFor("AdminAnswer").value_or("accept")).value_or(AdminAnswer::Accept);
  for (const auto& d : strings(root.arrayFor("Disabled"))) s.disabled.insert(d);
  if (const pl::Value* jobs = root.find("Jobs"); jobs && jobs->asDict()) {
    for (const auto& [label, v] : *jobs->asDict()) {
      Job j;
      j.path = v.stringFor("Path").value_or("");
      j.program = strings(v.arrayFor("Program"));
      j.runAtLoad = v.boolFor("RunAtLoad").value_or(false);
      j.pid = static_cast<pid_t>(v.integerFor("Pid").value_or(0));
      j.startTicks = static_cast<uint64_t>(v.integerFor("StartTicks").value_or(0));
      j.lastError = v.stringFor("LastError").value_or("");
      s.jobs[label] = std::move(j);
    }
  }
  if (const pl::Array* items = root.arrayFor("LoginItems"))
    for (const auto& v : *items) s.loginItems.push_back({v.stringFor("Name").value_or(""), v.stringFor("Path").value_or("")});
  if (const pl::Array* prompts = root.arrayFor("Prompts")) {
    for (const auto& v : *prompts) {
      ShownPrompt p;
      p.message = v.stringFor("Message").value_or("");
      if (const pl::Array* ops = v.arrayFor("Operations"))
        for (const auto& op : *ops) p.operations.push_back(strings(op.asArray()));
      p.answer = adminAnswerFromText(v.stringFor("Answer").value_or("")).value_or(AdminAnswer::Cancel);
      s.prompts.push_back(std::move(p));
    }
  }
  return s;
}

pl::Value toValue(const State& s) {
  pl::Dict d;
  if (s.folderOwner) d["FolderOwner"] = pl::Value::uint32(*s.folderOwner);
  d["FolderImmutable"] = pl::Value(s.folderImmutable);
  d["VolumeOwnership"] = pl::Value(!s.volumeOwnership ? "unknown" : *s.volumeOwnership ? "enabled" : "disabled");
  d["AdminAnswer"] = pl::Value(adminAnswerText(s.answer));
  d["Disabled"] = pl::Value(stringArray({s.disabled.begin(), s.disabled.end()}));
  pl::Dict jobs;
  for (const auto& [label, j] : s.jobs) {
    pl::Dict v;
    v["Path"] = pl::Value(j.path);
    v["Program"] = pl::Value(stringArray(j.program));
    v["RunAtLoad"] = pl::Value(j.runAtLoad);
    v["Pid"] = pl::Value::int64(j.pid);
    v["StartTicks"] = pl::Value::uint64(j.startTicks);
    v["LastError"] = pl::Value(j.lastError);
    jobs[label] = pl::Value(std::move(v));
  }
  d["Jobs"] = pl::Value(std::move(jobs));
  pl::Array items;
  for (const auto& i : s.loginItems) {
    pl::Dict v;
    v["Name"] = pl::Value(i.name);
    v["Path"] = pl::Value(i.path);
    items.emplace_back(std::move(v));
  }
  d["LoginItems"] = pl::Value(std::move(items));
  pl::Array prompts;
  for (const auto& p : s.prompts) {
    pl::Dict v;
    v["Message"] = pl::Value(p.message);
    pl::Array ops;
    for (const auto& op : p.operations) ops.emplace_back(stringArray(op));
    v["Operations"] = pl::Value(std::move(ops));
    v["Answer"] = pl::Value(adminAnswerText(p.answer));
    prompts.emplace_back(std::move(v));
  }
  d["Prompts"] = pl::Value(std::move(prompts));
  return pl::Value(std::move(d));
}

// Runs change on the state under the world's launchd lock and writes it back when change
// returns true. Processes sharing the world serialise here.
template <class Change>
bool withState(const std::string& world, Change change, std::string* error = nullptr) {
  std::string dir = launchdFolder(world);
  std::error_code ec;
  fs::create_directories(dir, ec);
  int fd = ::open((dir + "/state.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (error) *error = dir + "/state.lock: " + std::strerror(errno);
    return false;
  }
  while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
  }
  State s;
  std::string path = dir + "/state.plist";
  if (auto r = pl::readFile(path); r && r.value->isDict()) s = parseState(*r.value);
  bool ok = true;
  if (change(s)) {
    std::string text = pl::writeXml(toValue(s));
    ok = pl::writeFileAtomic(path, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()), error);
  }
  ::close(fd);
  return ok;
}

// withState as a Status: the lock or the write's failure.
template <class Change>
Status changeState(const std::string& world, Change change) {
  std::string error;
  if (!withState(world, change, &error)) return Status::failure(1, error);
  return Status::success();
}

State readState(const std::string& world) {
  State out;
  withState(world, [&](State& s) {
    out = s;
    return false;
  });
  return out;
}

bool jobRunning(const Job& j) { return j.pid > 0 && hostProcessAlive(j.pid, j.startTicks ? std::optional(j.startTicks) : std::nullopt); }

// Whether the simulated agents folder refuses this user's changes.
bool folderRefuses(const State& s, uint32_t uid) { return s.folderImmutable || (s.folderOwner && *s.folderOwner != uid); }

bool inFolder(const std::string& path, const std::string& folder) {
  return fs::path(path).lexically_normal().parent_path() == fs::path(folder).lexically_normal();
}

// What launchd would say about a property list it is asked to load; empty when it loads.
std::string loadProblem(const std::string& path, Job* job, std::string* label) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return "Bootstrap failed: 2: No such file or directory";
  // launchd refuses property lists others could change.
  if ((st.st_mode & 022) != 0 || st.st_uid != ::getuid())
    return "Bootstrap failed: 5: Input/output error (" + path + ": Path had bad ownership/permissions)";
  auto r = pl::readFile(path);
  if (!r || !r.value->isDict()) return "Bootstrap failed: 5: Input/output error (" + path + ": " + (r ? "not a dictionary" : r.error) + ")";
  *label = r.value->stringFor("Label").value_or("");
  job->program = strings(r.value->arrayFor("ProgramArguments"));
  job->runAtLoad = r.value->boolFor("RunAtLoad").value_or(false);
  if (label->empty() || job->program.empty() || job->program[0].empty())
    return "Bootstrap failed: 5: Input/output error (" + path + ": needs Label and ProgramArguments)";
  job->path = path;
  return {};
}

}  // namespace

std::optional<AdminAnswer> adminAnswerFromText(const std::string& text) {
  if (text == "accept") return AdminAnswer::Accept;
  if (text == "deny") return AdminAnswer::Deny;
  if (text == "cancel") return AdminAnswer::Cancel;
  return std::nullopt;
}

const char* adminAnswerText(AdminAnswer answer) {
  switch (answer) {
    case AdminAnswer::Accept: return "accept";
    case AdminAnswer::Deny: return "deny";
    case AdminAnswer::Cancel: return "cancel";
  }
  return "cancel";
}

Result<pid_t> spawnDetached(const std::vector<std::string>& argv, const std::string& logPath) {
  if (argv.empty() || argv[0].empty()) return Status::failure(EINVAL, "no program to start");
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attr);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  // Its own session: the agent outlives the program that started it and its terminal.
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  int rc = ::posix_spawn(&pid, argv[0].c_str(), &actions, &attr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) return Status::failure(rc, argv[0] + ": " + std::strerror(rc));
  return pid;
}

WorldServiceManager::WorldServiceManager(std::string folder, AgentSpawner spawner)
    : folder_(std::move(folder)), spawner_(std::move(spawner)) {}
WorldServiceManager::~WorldServiceManager() = default;

std::string WorldServiceManager::logPath(const std::string& label) const {
  return launchdFolder(folder_) + "/" + label + ".log";
}

Result<std::string> WorldServiceManager::launchAgentsFolder() {
  std::string folder = agentsFolder(folder_);
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) return fileWriteFailure(ec.value(), folder);
  return folder;
}

Status WorldServiceManager::writeFileAtomically(const std::string& path, const std::string& bytes) {
  if (inFolder(path, agentsFolder(folder_)) && folderRefuses(readState(folder_), userID()))
    return fileWriteFailure(EACCES, path);
  return writeFileAtomicallyOrError(path, bytes);
}

Status WorldServiceManager::removeFile(const std::string& path) {
  if (inFolder(path, agentsFolder(folder_)) && folderRefuses(readState(folder_), userID()))
    return Status::failure(EACCES, "cannot remove " + path + ": the agents folder is not this user's");
  if (::unlink(path.c_str()) != 0) return Status::failure(errno, "cannot remove " + path + ": " + std::strerror(errno));
  return Status::success();
}

Status WorldServiceManager::clearImmutableFlag(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return Status::failure(1, "chflags: " + path + ": no such file");
  return Status::success();
}

Status WorldServiceManager::setOwner(const std::string& path, uint32_t uid, uint32_t gid) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return Status::failure(1, "chown: " + path + ": no such file");
  // A user may only give a file to himself; the file is this user's already.
  if (uid != userID() || gid != groupID()) return Status::failure(1, "chown: " + path + ": Operation not permitted");
  return Status::success();
}

Status WorldServiceManager::setMode(const std::string& path, uint32_t mode) {
  if (::chmod(path.c_str(), static_cast<mode_t>(mode)) != 0)
    return Status::failure(1, "chmod: " + path + ": " + std::strerror(errno));
  return Status::success();
}

uint32_t WorldServiceManager::userID() const { return ::getuid(); }
uint32_t WorldServiceManager::groupID() const { return ::getgid(); }

namespace {

// Stops a running job: SIGTERM, then SIGKILL when it has not ended within five seconds (the
// agent gives the devices their speed back first).
void stopProcess(const Job& j) {
  if (!jobRunning(j)) return;
  ::kill(j.pid, SIGTERM);
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (jobRunning(j) && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (jobRunning(j)) ::kill(j.pid, SIGKILL);
}

}  // namespace

Status WorldServiceManager::bootout(const std::string& propertyListPath) {
  int status = kNoSuchProcess;
  withState(folder_, [&](State& s) {
    for (auto it = s.jobs.begin(); it != s.jobs.end(); ++it) {
      if (fs::path(it->second.path).lexically_normal() != fs::path(propertyListPath).lexically_normal()) continue;
      stopProcess(it->second);
      s.jobs.erase(it);
      status = 0;
      return true;
    }
    return false;
  });
  if (status != 0) return Status::failure(status, "Boot-out failed: 3: No such process");
  return Status::success();
}

Status WorldServiceManager::enable(const std::string& label) {
  std::string error;
  withState(folder_, [&](State& s) { return s.disabled.erase(label) > 0; }, &error);
  if (!error.empty()) return Status::failure(kIOError, error);
  return Status::success();
}

Status WorldServiceManager::disable(const std::string& label) {
  return changeState(folder_, [&](State& s) { return s.disabled.insert(label).second; });
}

namespace {

// Starts a loaded job; its status, with the reason kept on the job.
int startJob(const std::string& world, const std::string& label, Job& j, const AgentSpawner& spawner, const std::string& log) {
  std::vector<std::string> argv = j.program;
  argv.push_back("--world");
  argv.push_back(world);
  auto pid = spawner(argv, log);
  if (!pid) {
    j.lastError = pid.status().detail();
    j.pid = 0;
    return 1;
  }
  j.pid = *pid;
  j.startTicks = hostProcessStartTicks(*pid).value_or(0);
  j.lastError.clear();
  (void)label;
  return 0;
}

}  // namespace

Status WorldServiceManager::bootstrap(const std::string& propertyListPath) {
  int status = 0;
  std::string why;
  withState(folder_, [&](State& s) {
    Job job;
    std::string label;
    if (std::string problem = loadProblem(propertyListPath, &job, &label); !problem.empty()) {
      status = kIOError;
      why = problem;
      return false;
    }
    if (s.disabled.count(label)) {
      status = kServiceDisabled;
      why = "Bootstrap failed: 119: Service is disabled";
      return false;
    }
    if (s.jobs.count(label)) {
      status = kInProgress;
      why = "Bootstrap failed: 37: Operation already in progress";
      return false;
    }
    if (job.runAtLoad) startJob(folder_, label, job, spawner_, logPath(label));
    s.jobs[label] = std::move(job);
    return true;
  });
  if (status != 0) return Status::failure(status, why);
  return Status::success();
}

Status WorldServiceManager::kickstart(const std::string& label) {
  int status = 0;
  std::string why;
  withState(folder_, [&](State& s) {
    auto it = s.jobs.find(label);
    if (it == s.jobs.end()) {
      status = kNoService;
      why = "Could not find service \"" + label + "\"";
      return false;
    }
    if (jobRunning(it->second)) return false;
    status = startJob(folder_, label, it->second, spawner_, logPath(label));
    why = it->second.lastError;
    return true;
  });
  if (status != 0) return Status::failure(status, why);
  return Status::success();
}

Status WorldServiceManager::stop(const std::string& label) {
  int status = 0;
  withState(folder_, [&](State& s) {
    auto it = s.jobs.find(label);
    if (it == s.jobs.end()) {
      status = kNoService;
      return false;
    }
    stopProcess(it->second);
    it->second.pid = 0;
    it->second.startTicks = 0;
    return true;
  });
  if (status != 0) return Status::failure(status, "Could not find service \"" + label + "\"");
  return Status::success();
}

bool WorldServiceManager::isLoaded(const std::string& label) {
  State s = readState(folder_);
  auto it = s.jobs.find(label);
  if (it == s.jobs.end()) return false;
  struct stat st {};
  // Loaded while registered: a property list removed behind the manager's back unloads nothing
  // in launchd either, but the job is no longer what the folder says.
  return ::stat(it->second.path.c_str(), &st) == 0;
}

std::string WorldServiceManager::explainLoadFailure(const std::string& label) {
  std::string text;
  std::string path = agentsFolder(folder_) + "/" + label + ".plist";
  withState(folder_, [&](State& s) {
    Job job;
    std::string plistLabel;
    text = loadProblem(path, &job, &plistLabel);
    if (!text.empty()) return false;
    if (s.disabled.count(plistLabel)) {
      text = "Bootstrap failed: 119: Service is disabled";
      return false;
    }
    if (s.jobs.count(plistLabel)) {
      text = "Bootstrap failed: 37: Operation already in progress";
      return false;
    }
    // It loads now, as the manager's own bootstrap would.
    if (job.runAtLoad) startJob(folder_, plistLabel, job, spawner_, logPath(plistLabel));
    s.jobs[plistLabel] = std::move(job);
    return true;
  });
  return text;
}

ServiceStatus WorldServiceManager::status(const std::string& label) {
  ServiceStatus out;
  struct stat st {};
  out.registered = ::stat((agentsFolder(folder_) + "/" + label + ".plist").c_str(), &st) == 0;
  out.loaded = isLoaded(label);
  State s = readState(folder_);
  auto it = s.jobs.find(label);
  if (it == s.jobs.end()) {
    out.detail = s.disabled.count(label) ? "disabled" : "not loaded";
    return out;
  }
  if (jobRunning(it->second)) {
    out.pid = it->second.pid;
    out.detail = "running";
  } else {
    out.detail = it->second.lastError.empty() ? "not running" : "not running: " + it->second.lastError;
  }
  return out;
}

std::optional<bool> WorldServiceManager::homeVolumeOwnershipEnabled() { return readState(folder_).volumeOwnership; }

std::vector<LoginItem> WorldServiceManager::loginItems() {
  std::vector<LoginItem> out;
  for (const auto& i : readState(folder_).loginItems) out.push_back({i.path.empty() ? i.name : i.path, i.name});
  return out;
}

Status WorldServiceManager::removeLoginItem(const LoginItem& item) {
  bool removed = false;
  withState(folder_, [&](State& s) {
    auto it = std::find_if(s.loginItems.begin(), s.loginItems.end(), [&](const LoginEntry& e) {
      return (e.path.empty() ? e.name : e.path) == item.id;
    });
    if (it == s.loginItems.end()) return false;
    s.loginItems.erase(it);
    removed = true;
    return true;
  });
  if (!removed) return Status::failure(1, "no login item " + item.id);
  return Status::success();
}

Status WorldServiceManager::setAgentsFolderOwner(uint32_t uid) {
  return changeState(folder_, [&](State& s) {
    s.folderOwner = uid == userID() ? std::nullopt : std::optional(uid);
    return true;
  });
}

Status WorldServiceManager::setAgentsFolderImmutable(bool immutable) {
  return changeState(folder_, [&](State& s) {
    s.folderImmutable = immutable;
    return true;
  });
}

Status WorldServiceManager::setHomeVolumeOwnership(std::optional<bool> enabled) {
  return changeState(folder_, [&](State& s) {
    s.volumeOwnership = enabled;
    return true;
  });
}

Status WorldServiceManager::addLoginItem(const std::string& displayName, const std::string& path) {
  return changeState(folder_, [&](State& s) {
    s.loginItems.push_back({displayName, path});
    return true;
  });
}

// --- The administrator prompt ---------------------------------------------------------------------

WorldAdminPrompt::WorldAdminPrompt(std::string folder) : folder_(std::move(folder)) {}

Status WorldAdminPrompt::setAnswer(AdminAnswer answer) {
  return changeState(folder_, [&](State& s) {
    s.answer = answer;
    return true;
  });
}

std::vector<ShownPrompt> WorldAdminPrompt::shownPrompts() const { return readState(folder_).prompts; }

namespace {

// One privileged operation on the simulated Mac; empty when it succeeded, else why not.
std::string runAsAdministrator(State& s, const std::string& world, const std::vector<std::string>& op) {
  if (op.size() != 3) return "unsupported operation";
  const std::string &tool = op[0], &arg = op[1], &path = op[2];
  std::string agents = agentsFolder(world);
  bool isAgents = fs::path(path).lexically_normal() == fs::path(agents).lexically_normal();
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return path + ": No such file or directory";
  if (tool == "chflags" && arg == "nouchg") {
    if (isAgents) s.folderImmutable = false;
    return {};
  }
  if (tool == "chown") {
    auto colon = arg.find(':');
    std::string user = arg.substr(0, colon);
    if (user.empty() || user.find_first_not_of("0123456789") != std::string::npos || user.size() > 9) return arg + ": illegal user name";
    uint32_t uid = static_cast<uint32_t>(std::stoul(user));
    if (isAgents) s.folderOwner = uid == ::getuid() ? std::nullopt : std::optional(uid);
    return {};
  }
  if (tool == "chmod") {
    if (arg.empty() || arg.size() > 4 || arg.find_first_not_of("01234567") != std::string::npos) return arg + ": invalid file mode";
    if (::chmod(path.c_str(), static_cast<mode_t>(std::stoul(arg, nullptr, 8))) != 0) return path + ": " + std::strerror(errno);
    return {};
  }
  // The simulated administrator reaches only the simulated Mac: nothing outside the world.
  std::string inWorld = fs::path(world).lexically_normal().string();
  std::string target = fs::path(path).lexically_normal().string();
  bool worldPath = target.size() > inWorld.size() + 1 && target.compare(0, inWorld.size() + 1, inWorld + "/") == 0;
  if (tool == "rm" && arg == "-rf") {
    if (!worldPath) return path + ": outside the simulated Mac";
    std::error_code ec;
    fs::remove_all(target, ec);  // removes links, never what they point to
    if (ec) return path + ": " + ec.message();
    return {};
  }
  if (tool == "xattr" && arg == "-rc") {
    if (Status s = WorldFileAttributes(world).removeQuarantine(target, true); !s) return s.detail();
    return {};
  }
  return tool + ": not available to the simulated administrator";
}

}  // namespace

AdminResult WorldAdminPrompt::runPrivileged(const std::string& message, const std::vector<std::vector<std::string>>& operations) {
  AdminResult result;
  std::string error;
  bool ok = withState(folder_, [&](State& s) {
    s.prompts.push_back({message, operations, s.answer});
    switch (s.answer) {
      case AdminAnswer::Cancel:
        result = {AdminResult::Outcome::Cancelled, kAdminCancelled, "User canceled."};
        return true;
      case AdminAnswer::Deny:
        result = {AdminResult::Outcome::Denied, kAdminDenied, "The administrator user name or password was incorrect."};
        return true;
      case AdminAnswer::Accept: break;
    }
    result = {AdminResult::Outcome::Accepted, 0, ""};
    for (const auto& op : operations) {
      std::string why = runAsAdministrator(s, folder_, op);
      if (why.empty()) continue;
      if (result.accepted()) result = {AdminResult::Outcome::Failed, 1, why};
    }
    return true;
  }, &error);
  if (!ok) return {AdminResult::Outcome::Failed, -1, error};
  return result;
}

}  // namespace vl::sim
