// VirtualRunLoop: a deterministic run loop for tests; time moves only when told to, and due
// work runs in order of due time, then order of scheduling.
#pragma once

#include <cstddef>

#include "platform/api/perform_queue.h"
#include "platform/api/runloop.h"

namespace vl {

class VirtualRunLoop : public RunLoop {
 public:
  explicit VirtualRunLoop(double start = 1000.0) : now_(start) {}

  double now() const override { return now_; }
  void perform(const void* target, std::string_view selector, double delay, Fn fn,
               const void* object = nullptr) override;
  void cancelPerform(const void* target, std::string_view selector,
                     const void* object = nullptr) override;
  void cancelAllPerforms(const void* target) override;
  bool hasPerform(const void* target, std::string_view selector,
                  const void* object = nullptr) const override;
  void post(Fn fn) override;
  Token addTimer(double interval, bool repeats, Fn fn) override;
  void removeTimer(Token t) override;
  Token addEndOfPassObserver(Fn fn) override;
  void removeEndOfPassObserver(Token t) override;
  void stop(int status) override { stopped_ = true; status_ = status; }

  // Runs one pass: everything due at the current time (including work posted or scheduled
  // with zero delay by that work, up to a bound), then the end-of-pass observers.
  // Returns the number of items run.
  size_t runPass();
  // Moves time forward by seconds, running every pass that falls due on the way, each at
  // its own due time.
  void advance(double seconds);
  // Runs passes until nothing is due now.
  void runUntilIdle();
  // The due time of the earliest pending item, or a negative number when none.
  double nextDue() const;
  size_t pendingCount() const { return queue_.size(); }

  bool stopped() const { return stopped_; }
  int stopStatus() const { return status_; }

 private:
  double now_;
  PerformQueue queue_;
  bool stopped_ = false;
  int status_ = 0;
};

}  // namespace vl
