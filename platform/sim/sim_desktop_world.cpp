// The simulated desktop in the world folder: composing the shared files into one desktop,
// writing this process's part, and following the other processes' changes.
#include "platform/sim/sim_desktop_world.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <mutex>

#include "core/plist/codec.h"

namespace vl::sim {

namespace fs = std::filesystem;

namespace {

// Application elements of programs that only exist through their process file get ids of
// their own, far above the ones the desktop hands out.
constexpr uint64_t kProcessElementBase = 1ull << 40;

bool alive(int32_t pid) { return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM); }

std::string readText(const std::string& path) {
  auto r = pl::readFile(path);
  return r ? pl::writeXml(*r.value) : std::string();
}

Status writeValue(const std::string& path, const pl::Value& v) {
  std::string xml = pl::writeXml(v);
  std::string error;
  if (pl::writeFileAtomic(path, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(xml.data()), xml.size()),
                          &error))
    return Status::success();
  return Status::failure(1, error);
}

struct ScopedLock {
  explicit ScopedLock(const std::string& path) {
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) ::flock(fd, LOCK_EX);
  }
  ~ScopedLock() {
    if (fd >= 0) ::close(fd);
  }
  int fd = -1;
};

}  // namespace

struct SimDesktopWorld::Private {
  std::string folder;
  SimDesktop* desktop = nullptr;
  std::optional<RunningApplication> self;
  int32_t pid = 0;
  int watch = -1;
  std::mutex m;  // the change observer runs on whichever thread moved the cursor
  std::string lastShared;      // desktop.plist and the other processes' files as last read
  std::string lastCursorFile;  // cursor.plist as last read or written
  Point lastCursor{-1e9, -1e9};
  std::string lastOwnFile;
  uint64_t serial = 0;

  std::string path(const std::string& name) const { return (fs::path(folder) / name).string(); }
  std::string ownFile() const { return path("process-" + std::to_string(pid) + ".plist"); }

  // The other processes' files that belong to running processes.
  std::vector<std::pair<int32_t, pl::Value>> processFiles(std::string* text) {
    std::vector<std::pair<int32_t, pl::Value>> out;
    std::error_code ec;
    std::vector<fs::path> files;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
      const fs::directory_entry& e = *it;
      std::string n = e.path().filename().string();
      if (n.rfind("process-", 0) == 0 && e.path().extension() == ".plist") files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    for (const auto& f : files) {
      auto r = pl::readFile(f.string());
      if (!r) continue;
      auto pid = r.value->integerFor("pid");
      if (!pid || *pid == pid_t(this->pid) || !alive(static_cast<int32_t>(*pid))) continue;
      if (text) *text += pl::writeXml(*r.value);
      out.emplace_back(static_cast<int32_t>(*pid), *r.value);
    }
    return out;
  }

  // desktop.plist with the programs' own windows, and the programs as applications.
  pl::Value compose(const pl::Value& shared, const std::vector<std::pair<int32_t, pl::Value>>& processes) {
    pl::Value v = shared.isDict() ? shared : pl::Value(pl::Dict{});
    pl::Dict& d = *v.asDict();
    pl::Array apps = d.count("applications") && d["applications"].isArray() ? *d["applications"].asArray() : pl::Array{};
    pl::Array windows;
    for (const auto& [pid, file] : processes) {
      bool listed = false;
      for (const auto& a : apps) listed = listed || a.integerFor("pid") == pid;
      if (!listed) {
        pl::Dict app;
        app["pid"] = pl::Value::int32(pid);
        app["bundleIdentifier"] = file.stringFor("bundleIdentifier").value_or("");
        app["name"] = file.stringFor("name").value_or("");
        app["activationPolicy"] = pl::Value::int32(static_cast<int32_t>(file.integerFor("activationPolicy").value_or(2)));
        app["element"] = pl::Value::uint64(kProcessElementBase + static_cast<uint64_t>(pid));
        apps.push_back(std::move(app));
      }
      if (const pl::Array* w = file.arrayFor("windows"))
        for (const auto& e : *w) {
          pl::Value copy = e;
          if (pl::Dict* cd = copy.asDict()) (*cd)["pid"] = pl::Value::int32(pid);
          windows.push_back(std::move(copy));
        }
    }
    d["applications"] = std::move(apps);
    d["processWindows"] = std::move(windows);
    return v;
  }

  // Reads everything; keepLocal as SimDesktop::load takes it.
  Status readAll(bool keepLocal, bool force) {
    std::string text = readText(path(kWorldDesktopFile));
    auto processes = processFiles(&text);
    if (self) {
      // This program is on the desktop too (its windows stay local).
      pl::Dict me;
      me["pid"] = pl::Value::int32(pid);
      me["bundleIdentifier"] = self->bundleIdentifier;
      me["name"] = self->localizedName;
      processes.emplace_back(pid, pl::Value(std::move(me)));
    }
    if (force || text != lastShared) {
      auto r = pl::readFile(path(kWorldDesktopFile));
      pl::Value shared = r ? *r.value : pl::Value(pl::Dict{});
      if (Status loaded = desktop->load(compose(shared, processes), keepLocal); !loaded) return loaded;
      lastShared = text;
    }
    std::string cursorText = readText(path(kWorldCursorFile));
    if (cursorText != lastCursorFile) {
      lastCursorFile = cursorText;
      auto r = pl::readFile(path(kWorldCursorFile));
      const pl::Array* at = r ? r.value->arrayFor("cursor") : nullptr;
      bool mine = r && r.value->integerFor("writer") == pid;
      if (at && at->size() == 2 && (!mine || !keepLocal)) {
        Point p{(*at)[0].doubleValue(), (*at)[1].doubleValue()};
        lastCursor = p;
        desktop->moveCursor(p, false);
      }
    }
    return Status::success();
  }

  Status writeCursor() {
    Point at = desktop->cursorPosition();
    if (at == lastCursor) return Status::success();
    pl::Dict c;
    c["cursor"] = pl::Array{at.x, at.y};
    c["writer"] = pl::Value::int32(pid);
    c["serial"] = pl::Value::uint64(++serial);
    if (Status written = writeValue(path(kWorldCursorFile), c); !written) return written;
    lastCursor = at;
    lastCursorFile = pl::writeXml(pl::Value(c));
    return Status::success();
  }

  Status writeOwn() {
    if (!self) return Status::success();
    pl::Dict f;
    f["pid"] = pl::Value::int32(pid);
    f["bundleIdentifier"] = self->bundleIdentifier;
    f["name"] = self->localizedName;
    f["activationPolicy"] = pl::Value::int32(2);
    pl::Array windows;
    for (const auto& w : desktop->desktop().windowList(false)) {
      if (w.ownerPid != pid || w.onScreen) continue;
      auto own = desktop->ownWindow(w.number);
      if (!own) continue;
      pl::Dict d;
      d["number"] = pl::Value::uint32(w.number);
      d["frame"] = pl::Array{w.bounds.x, w.bounds.y, w.bounds.width, w.bounds.height};
      windows.push_back(std::move(d));
    }
    f["windows"] = std::move(windows);
    std::string text = pl::writeXml(pl::Value(f));
    if (text == lastOwnFile) return Status::success();
    if (Status written = writeValue(ownFile(), f); !written) return written;
    lastOwnFile = text;
    return Status::success();
  }
};

SimDesktopWorld::SimDesktopWorld(std::unique_ptr<Private> p) : p_(std::move(p)) {}

SimDesktopWorld::~SimDesktopWorld() {
  if (p_->desktop) p_->desktop->setChangeObserver({});
  if (p_->watch >= 0) ::close(p_->watch);
  if (p_->self) {
    std::error_code ec;
    fs::remove(p_->ownFile(), ec);
  }
}

Result<std::unique_ptr<SimDesktopWorld>> SimDesktopWorld::open(const std::string& folder, SimDesktop& desktop,
                                                               std::optional<RunningApplication> self, int32_t pid) {
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) return Status::failure(1, "no world folder " + folder);
  auto p = std::make_unique<Private>();
  p->folder = folder;
  p->desktop = &desktop;
  p->self = std::move(self);
  p->pid = pid ? pid : static_cast<int32_t>(::getpid());
  if (p->self) p->self->processIdentifier = p->pid;
  desktop.setOwnProcess(p->pid);
  p->watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (p->watch >= 0) ::inotify_add_watch(p->watch, folder.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO | IN_DELETE);
  if (Status read = p->readAll(false, true); !read) return read;
  std::unique_ptr<SimDesktopWorld> w(new SimDesktopWorld(std::move(p)));
  if (w->p_->self) {
    if (Status written = w->p_->writeOwn(); !written) return written;
    Private* priv = w->p_.get();
    desktop.setChangeObserver([priv] {
      std::lock_guard<std::mutex> l(priv->m);
      constexpr const char* kNextChangeWrites =
          "an observer has no one to report to: a failed write leaves the world's cursor or this process's entry as "
          "they were until the next change writes them afresh, and the world stays readable either way";
      priv->writeCursor().ignore(kNextChangeWrites);
      priv->writeOwn().ignore(kNextChangeWrites);
    });
  }
  return w;
}

int SimDesktopWorld::watchFd() const { return p_->watch; }

Status SimDesktopWorld::processChanges() {
  char buf[4096];
  while (p_->watch >= 0 && ::read(p_->watch, buf, sizeof buf) > 0) {
  }
  std::lock_guard<std::mutex> l(p_->m);
  return p_->readAll(true, false);
}

Status SimDesktopWorld::edit(const std::function<Status(SimDesktop&)>& change) {
  ScopedLock lock(p_->path(kWorldDesktopLockFile));
  std::lock_guard<std::mutex> l(p_->m);
  p_->lastCursorFile.clear();
  if (Status read = p_->readAll(false, true); !read) return read;
  Point before = p_->desktop->cursorPosition();
  p_->lastCursor = before;
  if (Status changed = change(*p_->desktop); !changed) return changed;
  // What the file holds is this desktop without the programs' own parts.
  pl::Value saved = p_->desktop->save();
  pl::Dict& d = *saved.asDict();
  d.erase("cursor");
  d.erase("processWindows");
  if (pl::Array* apps = d["applications"].asArray())
    std::erase_if(*apps, [&](const pl::Value& a) {
      auto element = a.integerFor("element");
      return element && static_cast<uint64_t>(*element) >= kProcessElementBase;
    });
  if (Status written = writeValue(p_->path(kWorldDesktopFile), saved); !written) return written;
  return p_->writeCursor();
}

}  // namespace vl::sim
