// Sleeper port: how a background thread waits, so that tests can run its loop in virtual time.
#pragma once

#include <chrono>
#include <thread>

namespace vl {

class Sleeper {
 public:
  virtual ~Sleeper() = default;
  // Blocks the calling thread for about this many seconds.
  virtual void sleep(double seconds) = 0;
};

// The real thing: the calling thread sleeps.
class ThreadSleeper : public Sleeper {
 public:
  void sleep(double seconds) override {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  }
};

}  // namespace vl
