// LinuxWorkspace: running applications from AT-SPI and /proc, matched to desktop entries.
#include "platform/linux/linux_workspace.h"

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "platform/linux/atspi_accessibility.h"

extern char** environ;

namespace vl::linux_ {

namespace fs = std::filesystem;

namespace {

std::string readSmall(const std::string& path, size_t limit = 64 * 1024) {
  std::ifstream in(path, std::ios::binary);
  std::string out;
  char buf[4096];
  while (in && out.size() < limit) {
    in.read(buf, sizeof buf);
    out.append(buf, static_cast<size_t>(in.gcount()));
  }
  return out;
}

std::string baseName(const std::string& p) {
  size_t slash = p.find_last_of('/');
  return slash == std::string::npos ? p : p.substr(slash + 1);
}

bool isNumber(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

template <class T>
bool parseNumber(std::string_view s, T* out) {
  auto r = std::from_chars(s.data(), s.data() + s.size(), *out);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

// The program of an Exec line as a name to compare with a process's executable.
std::string execProgram(const std::string& exec) {
  auto args = execArguments(exec);
  return args.empty() ? std::string() : baseName(args.front());
}

}  // namespace

std::vector<std::string> execArguments(const std::string& exec) {
  // Exec quoting: arguments split at blanks; inside double quotes a backslash escapes " ` $ \.
  std::vector<std::string> args;
  std::string cur;
  bool inQuotes = false, have = false;
  for (size_t i = 0; i < exec.size(); ++i) {
    char c = exec[i];
    if (inQuotes) {
      if (c == '\\' && i + 1 < exec.size()) cur += exec[++i];
      else if (c == '"') inQuotes = false;
      else cur += c;
    } else if (c == '"') {
      inQuotes = have = true;
    } else if (c == ' ' || c == '\t') {
      if (have) args.push_back(std::move(cur));
      cur.clear();
      have = false;
    } else {
      cur += c;
      have = true;
    }
  }
  if (have) args.push_back(std::move(cur));
  std::vector<std::string> out;
  bool program = false;
  for (auto& a : args) {
    // Field codes stand for files and URLs the launcher would pass: none here.
    if (a.size() == 2 && a[0] == '%') {
      if (a[1] == '%') out.push_back("%");
      continue;
    }
    std::string v;
    for (size_t i = 0; i < a.size(); ++i) {
      if (a[i] == '%' && i + 1 < a.size() && a[i + 1] == '%') ++i;
      v += a[i];
    }
    // "env NAME=value program": the program is what counts.
    if (!program && (v == "env" || (v.find('=') != std::string::npos && v.find('/') == std::string::npos))) continue;
    program = true;
    out.push_back(std::move(v));
  }
  return out;
}

LinuxWorkspace::LinuxWorkspace(AtspiAccessibility* ax, WorkspaceOptions options) : ax_(ax), o_(std::move(options)) {}

std::string LinuxWorkspace::homeDirectory() const {
  if (!o_.home.empty()) return o_.home;
  const char* h = std::getenv("HOME");
  return h ? h : "/";
}

std::vector<std::string> LinuxWorkspace::applicationDirs() const {
  std::vector<std::string> dirs = o_.dataDirs;
  if (dirs.empty()) {
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    dirs.push_back(dataHome && *dataHome ? dataHome : homeDirectory() + "/.local/share");
    const char* dataDirs = std::getenv("XDG_DATA_DIRS");
    std::stringstream in(dataDirs && *dataDirs ? dataDirs : "/usr/local/share:/usr/share");
    for (std::string d; std::getline(in, d, ':');)
      if (!d.empty()) dirs.push_back(d);
  }
  for (auto& d : dirs) d += "/applications";
  return dirs;
}

namespace {

// A folder's change time in nanoseconds; -1 when it is missing. A desktop file added, removed or
// replaced (as installers do, by renaming) changes its folder's time.
int64_t folderTime(const std::string& dir) {
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

}  // namespace

std::vector<ApplicationEntry> LinuxWorkspace::entries() const {
  std::lock_guard<std::mutex> l(entriesLock_);
  if (haveEntries_) {
    bool same = true;
    for (const auto& [dir, time] : entryFolderTimes_)
      if (folderTime(dir) != time) {
        same = false;
        break;
      }
    if (same) return entries_;
  }
  entryFolderTimes_.clear();
  entries_ = readEntries(&entryFolderTimes_);
  haveEntries_ = true;
  return entries_;
}

std::vector<ApplicationEntry> LinuxWorkspace::readEntries(std::map<std::string, int64_t>* folderTimes) const {
  std::vector<ApplicationEntry> out;
  if (!o_.readEntry) return out;
  std::set<std::string> seen;  // an id in an earlier folder hides the later ones
  for (const std::string& dir : applicationDirs()) {
    // Taken before the folder is read: a change while reading makes the next call read again.
    (*folderTimes)[dir] = folderTime(dir);
    std::error_code ec;
    fs::recursive_directory_iterator it(dir, fs::directory_options::skip_permission_denied, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
      if (it.depth() > 4) it.disable_recursion_pending();
      const std::string path = it->path().string();
      std::error_code typeError;
      if (it->is_directory(typeError)) {
        (*folderTimes)[path] = folderTime(path);
        continue;
      }
      if (it->path().extension() != ".desktop") continue;
      auto e = o_.readEntry(path);
      if (!e) continue;
      // The desktop file id: the path below applications/ with its folders joined by "-".
      std::string rel = it->path().lexically_relative(dir).string();
      std::replace(rel.begin(), rel.end(), '/', '-');
      e->id = rel.substr(0, rel.size() - std::string(".desktop").size());
      if (!seen.insert(e->id).second) continue;
      out.push_back(std::move(*e));
    }
  }
  return out;
}

std::optional<RunningApplication> LinuxWorkspace::fromProcess(int32_t pid, const std::vector<ApplicationEntry>& entries) const {
  const std::string dir = o_.proc + "/" + std::to_string(pid);
  std::error_code ec;
  std::string exe = fs::read_symlink(dir + "/exe", ec).string();
  std::string comm = readSmall(dir + "/comm", 256);
  if (!comm.empty() && comm.back() == '\n') comm.pop_back();
  if (exe.empty() && comm.empty()) return std::nullopt;
  // A replaced executable reads "(deleted)" after its path.
  if (const std::string tag = " (deleted)"; exe.size() > tag.size() && exe.ends_with(tag)) exe.resize(exe.size() - tag.size());
  std::string argv0 = readSmall(dir + "/cmdline", 4096);
  argv0 = baseName(argv0.substr(0, argv0.find('\0')));
  RunningApplication app;
  app.processIdentifier = pid;
  app.executableURL = exe;
  app.localizedName = comm;
  app.activationPolicy = 2;  // background until an entry or a window says otherwise
  const std::string exeName = baseName(exe);
  for (const ApplicationEntry& e : entries) {
    std::string prog = execProgram(e.exec);
    if (prog.empty()) continue;
    // The kernel keeps the first 15 bytes of a command name.
    if (prog == exeName || prog == argv0 || (comm.size() >= 15 ? prog.rfind(comm, 0) == 0 : prog == comm)) {
      app.bundleIdentifier = e.id;
      app.bundleURL = e.path;
      app.localizedName = e.name;
      app.activationPolicy = e.noDisplay ? 1 : 0;
      break;
    }
  }
  return app;
}

std::vector<RunningApplication> LinuxWorkspace::runningApplications() const {
  const auto all = entries();
  std::vector<RunningApplication> out;
  std::set<int32_t> pids;
  if (ax_) {
    for (const AtspiApplicationInfo& a : ax_->applications()) {
      auto app = fromProcess(a.pid, all);
      if (!app || !pids.insert(a.pid).second) continue;
      if (app->bundleIdentifier.empty() && !a.name.empty()) app->localizedName = a.name;
      if (a.hasWindows) app->activationPolicy = 0;
      app->active = a.active;
      out.push_back(std::move(*app));
    }
  }
  // Programs without an accessibility connection still count when a desktop entry names them.
  const uid_t me = getuid();
  std::error_code ec;
  for (fs::directory_iterator it(o_.proc, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    int32_t pid = 0;
    if (!isNumber(name) || !parseNumber(name, &pid) || pids.count(pid)) continue;
    struct stat st {};
    if (::stat(it->path().c_str(), &st) != 0 || st.st_uid != me) continue;
    auto app = fromProcess(pid, all);
    if (!app || app->bundleIdentifier.empty() || app->activationPolicy != 0) continue;
    pids.insert(pid);
    out.push_back(std::move(*app));
  }
  return out;
}

std::optional<RunningApplication> LinuxWorkspace::runningApplication(int32_t pid, bool* showsWindows) const {
  if (showsWindows) *showsWindows = false;
  if (pid <= 0) return std::nullopt;
  auto app = fromProcess(pid, entries());
  if (!app) return std::nullopt;
  if (ax_ && showsWindows) {
    for (const AtspiApplicationInfo& a : ax_->applications()) {
      if (a.pid != pid) continue;
      if (app->bundleIdentifier.empty() && !a.name.empty()) app->localizedName = a.name;
      app->active = app->active || a.active;
      *showsWindows = *showsWindows || a.hasWindows;
    }
  }
  return app;
}

std::optional<RunningApplication> LinuxWorkspace::frontmostApplication() const {
  if (!ax_) return std::nullopt;
  // Only the focused program is looked up, not every process.
  for (const AtspiApplicationInfo& a : ax_->applications()) {
    if (!a.active) continue;
    auto app = fromProcess(a.pid, entries());
    if (!app) continue;
    if (app->bundleIdentifier.empty() && !a.name.empty()) app->localizedName = a.name;
    if (a.hasWindows) app->activationPolicy = 0;
    app->active = true;
    return app;
  }
  return std::nullopt;
}

std::vector<std::string> LinuxWorkspace::processNames() const {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(o_.proc, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (!isNumber(name)) continue;
    std::string comm = readSmall(it->path().string() + "/comm", 256);
    if (!comm.empty() && comm.back() == '\n') comm.pop_back();
    if (!comm.empty()) names.push_back(std::move(comm));
  }
  return names;
}

std::optional<std::string> LinuxWorkspace::urlForApplicationWithBundleIdentifier(const std::string& bundleID) const {
  for (const auto& e : entries())
    if (e.id == bundleID) return e.path;
  return std::nullopt;
}

bool LinuxWorkspace::isFilePackageAtPath(const std::string& path) const {
  return o_.readEntry && path.ends_with(".desktop") && o_.readEntry(path).has_value();
}

std::optional<std::string> LinuxWorkspace::bundleIdentifierAtPath(const std::string& path) const {
  if (!o_.readEntry) return std::nullopt;
  for (const auto& e : entries())
    if (e.path == path) return e.id;
  auto e = o_.readEntry(path);
  if (!e) return std::nullopt;
  return e->id;
}

std::string LinuxWorkspace::displayNameAtPath(const std::string& path) const {
  if (o_.readEntry)
    if (auto e = o_.readEntry(path)) return e->name;
  return baseName(path);
}

std::string LinuxWorkspace::iconForFile(const std::string& path) const {
  if (o_.readEntry)
    if (auto e = o_.readEntry(path)) return e->icon;
  return {};
}

Status LinuxWorkspace::openApplication(const std::string& bundlePath) {
  if (!o_.readEntry) return Status::failure(1, "no application entries are read here");
  auto e = o_.readEntry(bundlePath);
  if (!e) return Status::failure(1, bundlePath + " is no application entry");
  for (const auto& r : runningApplications())
    if (r.bundleIdentifier == e->id) return Status::success();
  std::vector<std::string> args = execArguments(e->exec);
  if (args.empty()) return Status::failure(1, bundlePath + " names no program to run");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  // Its own session: the application outlives this process and its terminal.
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
  pid_t pid = 0;
  int r = posix_spawnp(&pid, argv[0], nullptr, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  if (r != 0) return Status::failure(r, "cannot start " + args[0] + ": " + std::strerror(r));
  // Reaped when it ends, so it never lingers as a zombie of this process.
  std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
  return Status::success();
}

std::optional<double> LinuxWorkspace::processStartTime(int32_t pid) const {
  std::string stat = readSmall(o_.proc + "/" + std::to_string(pid) + "/stat", 4096);
  // The command name is in parentheses and may hold blanks: fields count from its end.
  size_t close = stat.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream in(stat.substr(close + 2));
  std::string field;
  // Field 22 (starttime); after the name the state is field 3.
  for (int i = 3; i <= 22 && in >> field; ++i) {
  }
  uint64_t ticks = 0;
  if (!parseNumber(field, &ticks)) return std::nullopt;
  std::istringstream s(readSmall(o_.proc + "/stat"));
  uint64_t boot = 0;
  for (std::string line; std::getline(s, line);)
    if (line.rfind("btime ", 0) == 0) (void)parseNumber(std::string_view(line).substr(6), &boot);
  long hz = sysconf(_SC_CLK_TCK);
  if (boot == 0 || hz <= 0) return std::nullopt;
  return static_cast<double>(boot) + static_cast<double>(ticks) / static_cast<double>(hz);
}

Status LinuxWorkspace::terminateRunningApplication(int32_t pid) {
  if (pid <= 1) return Status::failure(EPERM, "process " + std::to_string(pid) + " is not asked to quit");
  struct stat st {};
  // Only the user's own programs; kill() would refuse the others anyway.
  if (::stat((o_.proc + "/" + std::to_string(pid)).c_str(), &st) != 0)
    return Status::failure(ESRCH, "no process " + std::to_string(pid));
  if (st.st_uid != getuid()) return Status::failure(EPERM, "process " + std::to_string(pid) + " is another user's");
  if (::kill(pid, SIGTERM) != 0) return Status::failure(errno, "cannot stop process " + std::to_string(pid) + ": " + std::strerror(errno));
  return Status::success();
}

}  // namespace vl::linux_
