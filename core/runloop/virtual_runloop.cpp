// VirtualRunLoop: deterministic scheduling in virtual time.
#include "core/runloop/virtual_runloop.h"

namespace vl {

void VirtualRunLoop::perform(const void* target, std::string_view selector, double delay, Fn fn,
                             const void* object) {
  queue_.perform(now_, target, selector, delay, std::move(fn), object);
}

void VirtualRunLoop::cancelPerform(const void* target, std::string_view selector, const void* object) {
  queue_.cancelPerform(target, selector, object);
}

void VirtualRunLoop::cancelAllPerforms(const void* target) { queue_.cancelAllPerforms(target); }

bool VirtualRunLoop::hasPerform(const void* target, std::string_view selector, const void* object) const {
  return queue_.hasPerform(target, selector, object);
}

void VirtualRunLoop::post(Fn fn) { queue_.post(now_, std::move(fn)); }

RunLoop::Token VirtualRunLoop::addTimer(double interval, bool repeats, Fn fn) {
  return queue_.addTimer(now_, interval, repeats, std::move(fn));
}

void VirtualRunLoop::removeTimer(Token t) { queue_.removeTimer(t); }

RunLoop::Token VirtualRunLoop::addEndOfPassObserver(Fn fn) { return queue_.addObserver(std::move(fn)); }

void VirtualRunLoop::removeEndOfPassObserver(Token t) { queue_.removeObserver(t); }

size_t VirtualRunLoop::runPass() {
  // Work scheduled during this pass for "now" runs in the same pass, as zero-delay performs
  // and posts do on the next turn of a real loop; the bound stops work that reschedules
  // itself forever at zero delay from hanging a test.
  size_t ran = 0;
  PerformQueue::Item it;
  for (size_t guard = 0; guard < 100000 && queue_.takeDue(now_, &it); ++guard) {
    if (it.timer != 0 && it.repeats) queue_.repeat(it, now_ + (it.interval > 0 ? it.interval : 1e-6));
    ++ran;
    if (it.fn) it.fn();
  }
  // Observers may be removed while they run.
  queue_.runObservers();
  return ran;
}

void VirtualRunLoop::advance(double seconds) {
  double end = now_ + seconds;
  // Every pass runs at its own due time, so performs see the time they were due at.
  while (!queue_.empty() && queue_.nextDue() <= end) {
    if (queue_.nextDue() > now_) now_ = queue_.nextDue();
    runPass();
  }
  now_ = end;
  runPass();
}

void VirtualRunLoop::runUntilIdle() {
  while (!queue_.empty() && queue_.nextDue() <= now_) runPass();
}

double VirtualRunLoop::nextDue() const { return queue_.nextDue(); }

}  // namespace vl
