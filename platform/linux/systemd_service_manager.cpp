// The systemd user manager over sd-bus, the autostart stand-in, and polkit's pkexec.
#include "platform/linux/systemd_service_manager.h"

#include <linux/fs.h>
#include <linux/magic.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <systemd/sd-bus.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "platform/linux/agent_files.h"

namespace vl::linux_ {

namespace fs = std::filesystem;

namespace {

constexpr int kNoSuchProcess = 3;
constexpr int kIOError = 5;
constexpr int kNoService = 113;

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

struct MessageUnref {
  void operator()(sd_bus_message* m) const { sd_bus_message_unref(m); }
};
using Message = std::unique_ptr<sd_bus_message, MessageUnref>;

// "name: message" of a D-Bus error, else the errno text.
std::string busErrorText(const sd_bus_error& e, int r) {
  if (e.message && *e.message) return e.message;
  if (e.name) return e.name;
  return std::strerror(r < 0 ? -r : r);
}

}  // namespace

// One connection to the bus of the user manager, for one operation.
class SystemdServiceManager::Bus {
 public:
  Bus(const SystemdOptions& o) {
    sd_bus* raw = nullptr;
    int r = 0;
    if (o.busAddress.empty()) {
      r = sd_bus_open_user(&raw);
    } else {
      r = sd_bus_new(&raw);
      if (r >= 0) r = sd_bus_set_address(raw, o.busAddress.c_str());
      if (r >= 0) r = sd_bus_set_bus_client(raw, 1);
      if (r >= 0) r = sd_bus_start(raw);
    }
    bus_ = raw;
    if (r < 0) {
      error_ = std::string("cannot reach the user's bus: ") + std::strerror(-r);
      return;
    }
    sd_bus_set_method_call_timeout(bus_, static_cast<uint64_t>(o.timeoutSeconds * 1e6));
    ok_ = true;
  }
  ~Bus() {
    if (bus_) sd_bus_flush_close_unref(bus_);
  }
  bool ok() const { return ok_; }
  const std::string& error() const { return error_; }

  // A Manager method; the reply or null with error() set.
  Message call(const char* method, const std::function<int(sd_bus_message*)>& append) {
    return callOn(kSystemdPath, kSystemdManagerInterface, method, append);
  }

  Message callOn(const char* path, const char* interface, const char* method,
                 const std::function<int(sd_bus_message*)>& append) {
    if (!ok_) return nullptr;
    sd_bus_message* raw = nullptr;
    int r = sd_bus_message_new_method_call(bus_, &raw, kSystemdService, path, interface, method);
    Message m(raw);
    if (r >= 0 && append) r = append(m.get());
    if (r < 0) {
      error_ = std::string("cannot make the request: ") + std::strerror(-r);
      return nullptr;
    }
    sd_bus_error e = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    r = sd_bus_call(bus_, m.get(), 0, &e, &reply);
    if (r < 0) {
      error_ = busErrorText(e, r);
      errorName_ = e.name ? e.name : "";
      sd_bus_error_free(&e);
      return nullptr;
    }
    sd_bus_error_free(&e);
    return Message(reply);
  }

  // A property of an object of the manager, as a message positioned at the variant.
  Message property(const std::string& path, const char* interface, const char* name, const char* type) {
    Message reply = callOn(path.c_str(), "org.freedesktop.DBus.Properties", "Get", [&](sd_bus_message* m) {
      return sd_bus_message_append(m, "ss", interface, name);
    });
    if (!reply) return nullptr;
    if (sd_bus_message_enter_container(reply.get(), 'v', type) < 0) {
      error_ = std::string(name) + " has an unexpected type";
      return nullptr;
    }
    return reply;
  }
  std::optional<std::string> stringProperty(const std::string& path, const char* interface, const char* name) {
    Message m = property(path, interface, name, "s");
    const char* s = nullptr;
    if (!m || sd_bus_message_read(m.get(), "s", &s) < 0 || !s) return std::nullopt;
    return std::string(s);
  }

  // GetUnit: the unit's object path when the manager has it loaded.
  std::optional<std::string> unitPath(const std::string& unit) {
    Message reply = call("GetUnit", [&](sd_bus_message* m) { return sd_bus_message_append(m, "s", unit.c_str()); });
    const char* path = nullptr;
    if (!reply || sd_bus_message_read(reply.get(), "o", &path) < 0 || !path) return std::nullopt;
    return std::string(path);
  }

  const std::string& errorName() const { return errorName_; }

 private:
  sd_bus* bus_ = nullptr;
  bool ok_ = false;
  std::string error_, errorName_;
};

SystemdOptions SystemdOptions::fromProcess() {
  SystemdOptions o;
  o.home = env("HOME");
  o.configHome = env("XDG_CONFIG_HOME");
  if (o.configHome.empty() || o.configHome[0] != '/') o.configHome = o.home + "/.config";
  o.runtimeDir = env("XDG_RUNTIME_DIR");
  if (o.runtimeDir.empty() || o.runtimeDir[0] != '/') o.runtimeDir = "/tmp/velmora-" + std::to_string(::getuid());
  return o;
}

SystemdServiceManager::SystemdServiceManager(SystemdOptions options) : options_(std::move(options)) {}

Status SystemdServiceManager::fail(int status, std::string why) {
  lastError_ = why;
  return Status::failure(status, std::move(why));
}

std::string SystemdServiceManager::unitFolder() const { return options_.configHome + "/systemd/user"; }
std::string SystemdServiceManager::autostartFolder() const { return options_.configHome + "/autostart"; }
std::string SystemdServiceManager::logPath(const std::string& label) const {
  return options_.runtimeDir + "/velmora-agents/" + label + ".log";
}

std::optional<std::string> SystemdServiceManager::agentsFolderPath() const {
  if (options_.configHome.empty()) return std::nullopt;
  return options_.configHome + "/velmora/LaunchAgents";
}

Result<std::string> SystemdServiceManager::launchAgentsFolder() {
  auto folder = agentsFolderPath();
  if (!folder) return fileWriteFailure(ENOENT, "LaunchAgents");
  std::error_code ec;
  fs::create_directories(*folder, ec);
  if (ec) return fileWriteFailure(ec.value(), *folder);
  return *folder;
}

Status SystemdServiceManager::writeFileAtomically(const std::string& path, const std::string& bytes) {
  return linux_::writeFileAtomically(path, bytes);
}

namespace {

// A failed system call's status: 1, as the command-line tools exit, with errno's words.
Status callFailure(const char* what, const std::string& path) {
  return Status::failure(1, std::string(what) + ": " + path + ": " + std::strerror(errno));
}

}  // namespace

Status SystemdServiceManager::removeFile(const std::string& path) {
  if (::unlink(path.c_str()) != 0) return Status::failure(errno, "cannot remove " + path + ": " + std::strerror(errno));
  return Status::success();
}

Status SystemdServiceManager::clearImmutableFlag(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return callFailure("chflags", path);
  int flags = 0;
  Status status;
  // Not every file system keeps the flag; where it cannot be read there is none to clear.
  if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_IMMUTABLE_FL)) {
    flags &= ~FS_IMMUTABLE_FL;
    if (::ioctl(fd, FS_IOC_SETFLAGS, &flags) != 0) status = callFailure("chflags", path);
  }
  ::close(fd);
  return status;
}

Status SystemdServiceManager::setOwner(const std::string& path, uint32_t uid, uint32_t gid) {
  if (::lchown(path.c_str(), uid, gid) != 0) return callFailure("chown", path);
  return Status::success();
}

Status SystemdServiceManager::setMode(const std::string& path, uint32_t mode) {
  if (::chmod(path.c_str(), static_cast<mode_t>(mode)) != 0) return callFailure("chmod", path);
  return Status::success();
}

uint32_t SystemdServiceManager::userID() const { return ::getuid(); }
uint32_t SystemdServiceManager::groupID() const { return ::getgid(); }

bool SystemdServiceManager::managerAnswers() {
  Bus bus(options_);
  if (!bus.ok()) return false;
  return bus.property(kSystemdPath, kSystemdManagerInterface, "Version", "s") != nullptr;
}

// --- The autostart stand-in ---------------------------------------------------------------------

namespace {

std::string pidFile(const SystemdOptions& o, const std::string& label) {
  return o.runtimeDir + "/velmora-agents/" + label + ".pid";
}

}  // namespace

std::optional<pid_t> SystemdServiceManager::directPid(const std::string& label) const {
  std::ifstream in(pidFile(options_, label));
  long long pid = 0;
  unsigned long long ticks = 0;
  if (!(in >> pid >> ticks) || pid <= 0) return std::nullopt;
  // The number may belong to another process by now: the start time tells.
  auto now = processStartTicks(static_cast<pid_t>(pid));
  if (!now || *now != ticks) return std::nullopt;
  return static_cast<pid_t>(pid);
}

Status SystemdServiceManager::startDirectly(const std::string& label, const std::vector<std::string>& argv) {
  if (directPid(label)) return Status::success();
  std::error_code ec;
  fs::create_directories(options_.runtimeDir + "/velmora-agents", ec);
  auto pid = spawnDetached(argv, logPath(label));
  if (!pid) return fail(1, pid.status().detail());
  std::string record = std::to_string(*pid) + " " + std::to_string(processStartTicks(*pid).value_or(0)) + "\n";
  linux_::writeFileAtomically(pidFile(options_, label), record)
      .ignore("the agent runs all the same; without its record it is reported as not running and started again");
  return Status::success();
}

void SystemdServiceManager::stopDirectly(const std::string& label) {
  auto pid = directPid(label);
  if (!pid) return;
  ::kill(*pid, SIGTERM);
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (directPid(label) && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (directPid(label)) ::kill(*pid, SIGKILL);
  ::unlink(pidFile(options_, label).c_str());
}

// --- Jobs ---------------------------------------------------------------------------------------

namespace {

std::string labelOfPropertyList(const std::string& path) {
  // An unreadable list is named by its file.
  if (auto a = readAgentDefinition(path)) return a->label;
  return fs::path(path).stem().string();
}

// Waits until the unit left its transitional states (a queued job runs after the call
// returned); the last state seen.
std::string settledState(SystemdServiceManager::Bus& bus, const std::string& unit, double seconds) {
  auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  std::string state;
  for (;;) {
    auto path = bus.unitPath(unit);
    state = path ? bus.stringProperty(*path, kSystemdUnitInterface, "ActiveState").value_or("") : "inactive";
    if (state != "activating" && state != "deactivating" && state != "reloading") return state;
    if (std::chrono::steady_clock::now() >= until) return state;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

int appendUnits(sd_bus_message* m, const std::string& unit) {
  const char* names[] = {unit.c_str(), nullptr};
  return sd_bus_message_append_strv(m, const_cast<char**>(names));
}

}  // namespace

Status SystemdServiceManager::bootout(const std::string& propertyListPath) {
  std::string label = labelOfPropertyList(propertyListPath);
  std::string unit = unitNameForLabel(label);
  std::string unitFile = unitFolder() + "/" + unit;
  std::string entry = autostartFolder() + "/" + label + ".desktop";
  bool had = fs::exists(unitFile) || fs::exists(entry) || directPid(label);
  stopDirectly(label);
  ::unlink(entry.c_str());
  if (fs::exists(unitFile)) {
    Bus bus(options_);
    if (bus.ok()) {
      if (bus.call("StopUnit", [&](sd_bus_message* m) { return sd_bus_message_append(m, "ss", unit.c_str(), "replace"); }))
        settledState(bus, unit, options_.timeoutSeconds);
      bus.call("DisableUnitFiles", [&](sd_bus_message* m) {
        int r = appendUnits(m, unit);
        return r < 0 ? r : sd_bus_message_append(m, "b", 0);
      });
    }
    ::unlink(unitFile.c_str());
    if (bus.ok()) bus.call("Reload", {});
  }
  if (!had) return Status::failure(kNoSuchProcess, "Boot-out failed: 3: No such process");
  return Status::success();
}

Status SystemdServiceManager::enable(const std::string& label) {
  // The unit is enabled when bootstrap installs it; nothing is disabled beforehand.
  if (label.empty()) return Status::failure(kIOError, "no label to enable");
  return Status::success();
}

Status SystemdServiceManager::bootstrap(const std::string& propertyListPath) {
  auto agent = readAgentDefinition(propertyListPath);
  if (!agent) return fail(kIOError, agent.status().detail());
  std::string unit = unitNameForLabel(agent->label);
  Bus bus(options_);
  bool manager = bus.ok() && bus.property(kSystemdPath, kSystemdManagerInterface, "Version", "s") != nullptr;
  if (!manager) {
    // No user manager: an autostart entry starts the agent at the next login, a direct start now.
    auto text = autostartEntryText(*agent);
    if (!text) return fail(kIOError, text.status().detail());
    std::error_code ec;
    fs::create_directories(autostartFolder(), ec);
    if (Status written = linux_::writeFileAtomically(autostartFolder() + "/" + agent->label + ".desktop", *text); !written)
      return fail(kIOError, fileWriteDescription(written));
    return agent->runAtLoad ? startDirectly(agent->label, agent->programArguments) : Status::success();
  }
  auto text = unitText(*agent);
  if (!text) return fail(kIOError, text.status().detail());
  std::error_code ec;
  fs::create_directories(unitFolder(), ec);
  if (Status written = linux_::writeFileAtomically(unitFolder() + "/" + unit, *text); !written)
    return fail(kIOError, fileWriteDescription(written));
  // A former autostart stand-in gives way to the unit.
  ::unlink((autostartFolder() + "/" + agent->label + ".desktop").c_str());
  stopDirectly(agent->label);
  if (!bus.call("Reload", {})) return fail(kIOError, bus.error());
  if (!agent->runAtLoad) return Status::success();
  if (!bus.call("EnableUnitFiles", [&](sd_bus_message* m) {
        int r = appendUnits(m, unit);
        return r < 0 ? r : sd_bus_message_append(m, "bb", 0, 1);
      }))
    return fail(kIOError, bus.error());
  if (!bus.call("StartUnit", [&](sd_bus_message* m) { return sd_bus_message_append(m, "ss", unit.c_str(), "replace"); }))
    return fail(kIOError, bus.error());
  settledState(bus, unit, options_.timeoutSeconds);
  return Status::success();
}

Status SystemdServiceManager::kickstart(const std::string& label) {
  std::string unit = unitNameForLabel(label);
  if (fs::exists(unitFolder() + "/" + unit)) {
    Bus bus(options_);
    if (!bus.call("StartUnit", [&](sd_bus_message* m) { return sd_bus_message_append(m, "ss", unit.c_str(), "replace"); }))
      return fail(bus.errorName() == "org.freedesktop.systemd1.NoSuchUnit" ? kNoService : kIOError, bus.error());
    std::string state = settledState(bus, unit, options_.timeoutSeconds);
    return state == "active" ? Status::success() : fail(kIOError, unit + " is " + state);
  }
  std::string entry = autostartFolder() + "/" + label + ".desktop";
  // Without a readable list there is nothing to start: the service is unknown.
  auto agent = readAgentDefinition(agentsFolderPath().value_or("") + "/" + label + ".plist");
  if (!fs::exists(entry) || !agent) return fail(kNoService, "Could not find service \"" + label + "\"");
  return startDirectly(label, agent->programArguments);
}

Status SystemdServiceManager::stop(const std::string& label) {
  std::string unit = unitNameForLabel(label);
  if (fs::exists(unitFolder() + "/" + unit)) {
    Bus bus(options_);
    if (!bus.call("StopUnit", [&](sd_bus_message* m) { return sd_bus_message_append(m, "ss", unit.c_str(), "replace"); }))
      return fail(kIOError, bus.error());
    settledState(bus, unit, options_.timeoutSeconds);
    return Status::success();
  }
  if (!directPid(label)) return fail(kNoService, "Could not find service \"" + label + "\"");
  stopDirectly(label);
  return Status::success();
}

bool SystemdServiceManager::isLoaded(const std::string& label) {
  std::string unit = unitNameForLabel(label);
  if (fs::exists(unitFolder() + "/" + unit)) {
    Bus bus(options_);
    auto path = bus.unitPath(unit);
    if (!path) return false;
    return bus.stringProperty(*path, kSystemdUnitInterface, "LoadState") == "loaded" &&
           bus.stringProperty(*path, kSystemdUnitInterface, "ActiveState") == "active";
  }
  return fs::exists(autostartFolder() + "/" + label + ".desktop") && directPid(label).has_value();
}

std::string SystemdServiceManager::explainLoadFailure(const std::string& label) {
  std::string unit = unitNameForLabel(label);
  if (!fs::exists(unitFolder() + "/" + unit)) {
    std::string plist = agentsFolderPath().value_or("") + "/" + label + ".plist";
    if (auto agent = readAgentDefinition(plist); !agent) return agent.status().detail();
    if (!fs::exists(autostartFolder() + "/" + label + ".desktop")) return "no autostart entry for " + label;
    if (!directPid(label)) return label + " started without a service manager and is not running (see " + logPath(label) + ")";
    return {};
  }
  Bus bus(options_);
  if (!bus.ok()) return bus.error();
  auto path = bus.unitPath(unit);
  if (!path) return bus.error();
  std::string load = bus.stringProperty(*path, kSystemdUnitInterface, "LoadState").value_or("");
  if (load != "loaded") {
    Message m = bus.property(*path, kSystemdUnitInterface, "LoadError", "(ss)");
    const char *name = nullptr, *message = nullptr;
    if (m && sd_bus_message_read(m.get(), "(ss)", &name, &message) >= 0 && message && *message) return message;
    return unit + ": " + load;
  }
  std::string active = bus.stringProperty(*path, kSystemdUnitInterface, "ActiveState").value_or("");
  if (active == "active") return {};
  std::string result = bus.stringProperty(*path, kSystemdServiceInterface, "Result").value_or("");
  std::string text = unit + " is " + active;
  if (!result.empty() && result != "success") text += " (result: " + result + ")";
  Message st = bus.property(*path, kSystemdServiceInterface, "ExecMainStatus", "i");
  int32_t status = 0;
  if (st && sd_bus_message_read(st.get(), "i", &status) >= 0 && status != 0) text += ", exit status " + std::to_string(status);
  return text;
}

ServiceStatus SystemdServiceManager::status(const std::string& label) {
  ServiceStatus out;
  out.registered = fs::exists(agentsFolderPath().value_or("") + "/" + label + ".plist");
  std::string unit = unitNameForLabel(label);
  if (!fs::exists(unitFolder() + "/" + unit)) {
    out.pid = directPid(label);
    out.loaded = fs::exists(autostartFolder() + "/" + label + ".desktop") && out.pid.has_value();
    out.detail = fs::exists(autostartFolder() + "/" + label + ".desktop") ? (out.pid ? "autostart entry, running" : "autostart entry, not running")
                                                                          : "not loaded";
    return out;
  }
  Bus bus(options_);
  auto path = bus.unitPath(unit);
  if (!path) {
    out.detail = bus.error();
    return out;
  }
  std::string load = bus.stringProperty(*path, kSystemdUnitInterface, "LoadState").value_or("");
  std::string active = bus.stringProperty(*path, kSystemdUnitInterface, "ActiveState").value_or("");
  std::string sub = bus.stringProperty(*path, kSystemdUnitInterface, "SubState").value_or("");
  out.loaded = load == "loaded" && active == "active";
  Message m = bus.property(*path, kSystemdServiceInterface, "MainPID", "u");
  uint32_t pid = 0;
  if (m && sd_bus_message_read(m.get(), "u", &pid) >= 0 && pid > 0) out.pid = static_cast<int32_t>(pid);
  out.detail = unit + " " + load + ", " + active + (sub.empty() ? "" : " (" + sub + ")");
  return out;
}

std::optional<bool> SystemdServiceManager::homeVolumeOwnershipEnabled() {
  if (options_.home.empty()) return std::nullopt;
  struct statfs st {};
  if (::statfs(options_.home.c_str(), &st) != 0) return std::nullopt;
  // File systems without Unix owners: every file seems to belong to whoever mounted them.
  constexpr long kExfat = 0x2011BAB0, kNtfs = 0x5346544e, kFuseblk = 0x65735546;
  long type = static_cast<long>(st.f_type);
  return !(type == MSDOS_SUPER_MAGIC || type == kExfat || type == kNtfs || type == kFuseblk);
}

std::vector<LoginItem> SystemdServiceManager::loginItems() {
  std::vector<LoginItem> out;
  std::error_code ec;
  for (fs::directory_iterator it(autostartFolder(), ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path().extension() != ".desktop") continue;
    std::string name = desktopEntryName(it->path().string());
    out.push_back({it->path().string(), name.empty() ? it->path().stem().string() : name});
  }
  return out;
}

Status SystemdServiceManager::removeLoginItem(const LoginItem& item) {
  if (fs::path(item.id).parent_path() != fs::path(autostartFolder()))
    return Status::failure(1, item.id + " is no autostart entry");
  if (::unlink(item.id.c_str()) != 0) return callFailure("rm", item.id);
  return Status::success();
}

// --- polkit ---------------------------------------------------------------------------------------

namespace {

std::optional<std::string> findTool(const std::string& name) {
  for (const char* dir : {"/usr/bin", "/bin", "/usr/sbin", "/sbin"}) {
    std::string path = std::string(dir) + "/" + name;
    if (::access(path.c_str(), X_OK) == 0) return path;
  }
  return std::nullopt;
}

}  // namespace

PkexecAdminPrompt::PkexecAdminPrompt(Runner run, std::string pkexec, std::string helper)
    : run_(std::move(run)), pkexec_(std::move(pkexec)), helper_(std::move(helper)) {
  if (!run_) run_ = runAndWait;
}

std::vector<std::string> PkexecAdminPrompt::helperCommand(const std::string& helper, const std::string& message,
                                                          const std::vector<std::vector<std::string>>& operations) {
  std::vector<std::string> argv = {helper, "privileged", "--explain", message};
  for (const auto& op : operations) {
    argv.push_back("--step");
    argv.push_back(std::to_string(op.size()));
    argv.insert(argv.end(), op.begin(), op.end());
  }
  return argv;
}

AdminResult PkexecAdminPrompt::runPrivileged(const std::string& message, const std::vector<std::vector<std::string>>& operations) {
  auto pkexec = pkexec_.empty() ? findTool("pkexec") : std::optional<std::string>(pkexec_);
  if (!pkexec) return {AdminResult::Outcome::Failed, -1, "pkexec is not installed"};
  std::string helper = helper_;
  if (helper.empty()) {
    char buf[4096];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n > 0)
      helper = std::filesystem::path(std::string(buf, static_cast<size_t>(n))).parent_path().string() + "/velmora-ctl";
  }
  if (helper.empty() || ::access(helper.c_str(), X_OK) != 0)
    return {AdminResult::Outcome::Failed, -1, "velmora-ctl, which does the privileged steps, is not beside this program"};
  std::vector<std::string> argv = helperCommand(helper, message, operations);
  argv.insert(argv.begin(), *pkexec);
  std::string output;
  Result<int> ran = run_(argv, &output);
  int status = ran.valueOr(-1);
  // pkexec: 126 when the dialog was dismissed, 127 when authorization failed.
  if (status == 126) return {AdminResult::Outcome::Cancelled, kAdminCancelled, output};
  if (status == 127) return {AdminResult::Outcome::Denied, kAdminDenied, output};
  if (status != 0) return {AdminResult::Outcome::Failed, status, status < 0 ? ran.status().detail() : output};
  return {AdminResult::Outcome::Accepted, 0, output};
}

}  // namespace vl::linux_
