// LogindSession: the Session port on systemd-logind (org.freedesktop.login1 on the system bus):
// this session's Active property (user switch, login) and its lock state (the Lock and Unlock
// signals, the LockedHint property), with the machine's sleep counted as a held lock that wake
// releases.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "platform/api/session.h"
#include "platform/api/status.h"

#include <systemd/sd-bus.h>

namespace vl::linux_ {

class SdEventRunLoop;

struct LogindOptions {
  // Empty: the system bus (DBUS_SYSTEM_BUS_ADDRESS when set, as sd-bus reads it).
  std::string busAddress;
  // Empty: XDG_SESSION_ID, else logind's "auto" (the caller's own session).
  std::string sessionId;
};

class LogindSession : public Session {
 public:
  // Connects and reads the session's current state. Fails when no logind answers or the
  // session cannot be found; the error says which.
  static Result<std::unique_ptr<LogindSession>> create(const LogindOptions& options);
  struct Key {
    explicit Key() = default;
  };
  explicit LogindSession(Key);
  ~LogindSession() override;
  LogindSession(const LogindSession&) = delete;
  LogindSession& operator=(const LogindSession&) = delete;

  SessionState current() const override;
  Token observe(std::function<void(SessionEvent)> fn) override;
  void unobserve(Token t) override;

  // Handles the bus on this loop: events reach observers on the loop's thread.
  [[nodiscard]] Status attach(SdEventRunLoop& loop);
  // Without a loop (tests, benchmarks): waits at most timeout seconds for traffic and handles
  // everything that has arrived. False when the connection is gone.
  bool processPending(double timeout);
  // The session's object path.
  const std::string& sessionPath() const { return path_; }

 private:
  static int onLock(sd_bus_message* m, void* self, sd_bus_error* error);
  static int onUnlock(sd_bus_message* m, void* self, sd_bus_error* error);
  static int onPrepareForSleep(sd_bus_message* m, void* self, sd_bus_error* error);
  static int onProperties(sd_bus_message* m, void* self, sd_bus_error* error);
  bool screenLocked() const { return locked_ || sleeping_; }
  // Applies a change of the raw flags and reports the moments that change made.
  void update(bool active, bool locked, bool sleeping);
  void emit(SessionEvent e);

  sd_bus* bus_ = nullptr;
  sd_bus_slot* slots_[4] = {};
  std::string path_;
  bool active_ = true;
  bool locked_ = false;
  bool sleeping_ = false;
  std::map<Token, std::function<void(SessionEvent)>> observers_;
  Token next_ = 1;
};

}  // namespace vl::linux_
