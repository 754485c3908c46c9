// Session port: whether the user's session is on the console and whether the screen is
// locked, and the events when either changes (session became / resigned active, screen
// locked / unlocked).
#pragma once

#include <cstdint>
#include <functional>

namespace vl {

struct SessionState {
  bool onConsole = true;
  bool screenLocked = false;
};

enum class SessionEvent { BecameActive, ResignedActive, ScreenLocked, ScreenUnlocked };

class Session {
 public:
  using Token = uint64_t;
  virtual ~Session() = default;
  // The current session dictionary's two flags.
  virtual SessionState current() const = 0;
  // Events are delivered on the run loop of the observing thread.
  virtual Token observe(std::function<void(SessionEvent)> fn) = 0;
  virtual void unobserve(Token t) = 0;
};

}  // namespace vl
