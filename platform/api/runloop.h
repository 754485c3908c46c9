// RunLoop port: the main thread's run loop as the programs use it: delayed performs keyed by
// (target, selector, object) that can be cancelled, work posted to the next pass, repeating
// timers, the current time, and observers that run at the end of every pass.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace vl {

class RunLoop {
 public:
  using Fn = std::function<void()>;
  using Token = uint64_t;  // 0 is never a valid token

  virtual ~RunLoop() = default;

  // Seconds on a monotonic clock.
  virtual double now() const = 0;

  // performSelector:withObject:afterDelay: — runs fn once, delay seconds from now, unless
  // cancelled. Several performs with the same key may be pending at once, as on the platform.
  virtual void perform(const void* target, std::string_view selector, double delay, Fn fn,
                       const void* object = nullptr) = 0;
  // cancelPreviousPerformRequestsWithTarget:selector:object: — cancels the pending performs
  // with exactly this key.
  virtual void cancelPerform(const void* target, std::string_view selector,
                             const void* object = nullptr) = 0;
  // cancelPreviousPerformRequestsWithTarget: — cancels every pending perform of the target.
  virtual void cancelAllPerforms(const void* target) = 0;
  // Whether a perform with this key is pending (for tests and diagnostics).
  virtual bool hasPerform(const void* target, std::string_view selector,
                          const void* object = nullptr) const = 0;

  // Runs fn on the next pass of the loop (after the current callout returns).
  virtual void post(Fn fn) = 0;

  // A repeating (or one-shot) timer; returns a token for removeTimer.
  virtual Token addTimer(double interval, bool repeats, Fn fn) = 0;
  virtual void removeTimer(Token t) = 0;

  // Observers called at the end of every pass, after all due work of that pass ran.
  virtual Token addEndOfPassObserver(Fn fn) = 0;
  virtual void removeEndOfPassObserver(Token t) = 0;

  // Ends run() of a real loop; a virtual loop ignores it.
  virtual void stop(int status) = 0;
};

}  // namespace vl
