// LogindSession: logind's session and sleep signals turned into the Session port's moments.
#include "platform/linux/logind_session.h"

#include <poll.h>
#include <systemd/sd-bus.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/linux/sd_event_runloop.h"

namespace vl::linux_ {

namespace {

constexpr const char* kService = "org.freedesktop.login1";
constexpr const char* kManagerPath = "/org/freedesktop/login1";
constexpr const char* kManager = "org.freedesktop.login1.Manager";
constexpr const char* kSessionIface = "org.freedesktop.login1.Session";

std::string errnoText(int r) { return std::strerror(r < 0 ? -r : r); }

Result<bool> readBool(sd_bus* bus, const std::string& path, const char* property) {
  sd_bus_error e = SD_BUS_ERROR_NULL;
  int value = 0;
  int r = sd_bus_get_property_trivial(bus, kService, path.c_str(), kSessionIface, property, &e, 'b', &value);
  if (r < 0) {
    Status s = Status::failure(-r, std::string("reading ") + property + ": " +
                                       (e.message ? e.message : errnoText(r)));
    sd_bus_error_free(&e);
    return s;
  }
  return value != 0;
}

}  // namespace

LogindSession::LogindSession(Key) {}

LogindSession::~LogindSession() {
  for (sd_bus_slot*& s : slots_) s = sd_bus_slot_unref(s);
  if (bus_) {
    sd_bus_detach_event(bus_);
    sd_bus_flush_close_unref(bus_);
  }
}

Result<std::unique_ptr<LogindSession>> LogindSession::create(const LogindOptions& options) {
  auto s = std::make_unique<LogindSession>(Key{});
  int r;
  if (options.busAddress.empty()) {
    r = sd_bus_open_system(&s->bus_);
  } else {
    r = sd_bus_new(&s->bus_);
    if (r >= 0) r = sd_bus_set_address(s->bus_, options.busAddress.c_str());
    if (r >= 0) r = sd_bus_set_bus_client(s->bus_, 1);
    if (r >= 0) r = sd_bus_start(s->bus_);
  }
  if (r < 0) return Status::failure(-r, "connecting to the system bus: " + errnoText(r));

  std::string id = options.sessionId;
  if (id.empty()) {
    const char* env = std::getenv("XDG_SESSION_ID");
    id = env && *env ? env : "auto";
  }
  sd_bus_error e = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  r = sd_bus_call_method(s->bus_, kService, kManagerPath, kManager, "GetSession", &e, &reply, "s", id.c_str());
  const char* path = nullptr;
  if (r >= 0) r = sd_bus_message_read(reply, "o", &path);
  if (r < 0) {
    Status st = Status::failure(-r, "asking logind for session \"" + id + "\": " + (e.message ? e.message : errnoText(r)));
    sd_bus_error_free(&e);
    sd_bus_message_unref(reply);
    return st;
  }
  s->path_ = path;
  sd_bus_message_unref(reply);

  // Subscribed before the first read, so a change between the two is not lost.
  struct Match {
    const char* path;
    const char* iface;
    const char* member;
    sd_bus_message_handler_t fn;
  } matches[] = {
      {s->path_.c_str(), kSessionIface, "Lock", &LogindSession::onLock},
      {s->path_.c_str(), kSessionIface, "Unlock", &LogindSession::onUnlock},
      {kManagerPath, kManager, "PrepareForSleep", &LogindSession::onPrepareForSleep},
      {s->path_.c_str(), "org.freedesktop.DBus.Properties", "PropertiesChanged", &LogindSession::onProperties},
  };
  for (size_t i = 0; i < std::size(matches); ++i) {
    const Match& m = matches[i];
    r = sd_bus_match_signal(s->bus_, &s->slots_[i], kService, m.path, m.iface, m.member, m.fn, s.get());
    if (r < 0) return Status::failure(-r, std::string("watching logind's ") + m.member + ": " + errnoText(r));
  }
  auto active = readBool(s->bus_, s->path_, "Active");
  if (!active) return active.status();
  s->active_ = *active;
  // Older logind versions have no LockedHint: the session then counts as unlocked until a Lock.
  s->locked_ = readBool(s->bus_, s->path_, "LockedHint").valueOr(false);
  return s;
}

SessionState LogindSession::current() const { return SessionState{active_, screenLocked()}; }

Session::Token LogindSession::observe(std::function<void(SessionEvent)> fn) {
  Token t = next_++;
  observers_[t] = std::move(fn);
  return t;
}

void LogindSession::unobserve(Token t) { observers_.erase(t); }

Status LogindSession::attach(SdEventRunLoop& loop) {
  int r = sd_bus_attach_event(bus_, loop.event(), 0);
  if (r < 0) return Status::failure(-r, "attaching logind's connection to the run loop: " + errnoText(r));
  return Status::success();
}

bool LogindSession::processPending(double timeout) {
  if (!bus_) return false;
  int r = sd_bus_wait(bus_, static_cast<uint64_t>(timeout * 1e6));
  if (r < 0 && r != -EINTR) return false;
  while ((r = sd_bus_process(bus_, nullptr)) > 0) {
  }
  return r >= 0;
}

void LogindSession::emit(SessionEvent e) {
  // An observer may remove itself (or another) while being called.
  std::vector<Token> tokens;
  for (const auto& [t, fn] : observers_) tokens.push_back(t);
  for (Token t : tokens) {
    auto it = observers_.find(t);
    if (it != observers_.end()) it->second(e);
  }
}

void LogindSession::update(bool active, bool locked, bool sleeping) {
  bool wasLocked = screenLocked();
  bool wasActive = active_;
  active_ = active;
  locked_ = locked;
  sleeping_ = sleeping;
  // Going away: the lock first, then the session; coming back in the reverse order, so the
  // unlock or the return is the last word and carries its own delay.
  if (wasActive && !active_) emit(SessionEvent::ResignedActive);
  if (!wasLocked && screenLocked()) emit(SessionEvent::ScreenLocked);
  if (wasLocked && !screenLocked()) emit(SessionEvent::ScreenUnlocked);
  if (!wasActive && active_) emit(SessionEvent::BecameActive);
}

int LogindSession::onLock(sd_bus_message*, void* self, sd_bus_error*) {
  auto* s = static_cast<LogindSession*>(self);
  s->update(s->active_, true, s->sleeping_);
  return 0;
}

int LogindSession::onUnlock(sd_bus_message*, void* self, sd_bus_error*) {
  auto* s = static_cast<LogindSession*>(self);
  s->update(s->active_, false, s->sleeping_);
  return 0;
}

int LogindSession::onPrepareForSleep(sd_bus_message* m, void* self, sd_bus_error*) {
  auto* s = static_cast<LogindSession*>(self);
  int start = 0;
  if (sd_bus_message_read(m, "b", &start) < 0) return 0;
  s->update(s->active_, s->locked_, start != 0);
  return 0;
}

int LogindSession::onProperties(sd_bus_message* m, void* self, sd_bus_error*) {
  auto* s = static_cast<LogindSession*>(self);
  const char* iface = nullptr;
  if (sd_bus_message_read(m, "s", &iface) < 0 || std::strcmp(iface, kSessionIface) != 0) return 0;
  bool active = s->active_, locked = s->locked_;
  bool reread = false;
  if (sd_bus_message_enter_container(m, 'a', "{sv}") < 0) return 0;
  while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
    const char* name = nullptr;
    if (sd_bus_message_read(m, "s", &name) < 0) return 0;
    bool isActive = std::strcmp(name, "Active") == 0, isLocked = std::strcmp(name, "LockedHint") == 0;
    if (isActive || isLocked) {
      int v = 0;
      if (sd_bus_message_enter_container(m, 'v', "b") < 0 || sd_bus_message_read(m, "b", &v) < 0 ||
          sd_bus_message_exit_container(m) < 0)
        return 0;
      (isActive ? active : locked) = v != 0;
    } else if (sd_bus_message_skip(m, "v") < 0) {
      return 0;
    }
    if (sd_bus_message_exit_container(m) < 0) return 0;
  }
  if (sd_bus_message_exit_container(m) < 0) return 0;
  // Properties announced without their values are read afresh.
  if (sd_bus_message_enter_container(m, 'a', "s") >= 0) {
    const char* name = nullptr;
    while (sd_bus_message_read(m, "s", &name) > 0)
      if (std::strcmp(name, "Active") == 0 || std::strcmp(name, "LockedHint") == 0) reread = true;
    (void)sd_bus_message_exit_container(m);
  }
  if (reread) {
    active = readBool(s->bus_, s->path_, "Active").valueOr(active);
    locked = readBool(s->bus_, s->path_, "LockedHint").valueOr(locked);
  }
  s->update(active, locked, s->sleeping_);
  return 0;
}

}  // namespace vl::linux_
