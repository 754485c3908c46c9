// ConsoleSession: the session port where the desktop's own session adapter is not there yet:
// the user counts as on the console and the screen as unlocked, and no moment is ever
// announced, so devices are announced and speeds applied at once rather than held forever.
#pragma once

#include "platform/api/session.h"

namespace vl::linux_ {

class ConsoleSession : public Session {
 public:
  SessionState current() const override { return SessionState{true, false}; }
  Token observe(std::function<void(SessionEvent)>) override { return ++last_; }
  void unobserve(Token) override {}

 private:
  Token last_ = 0;
};

}  // namespace vl::linux_
