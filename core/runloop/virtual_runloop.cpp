// VirtualRunLoop: deterministic scheduling in virtual time.
#include "core/runloop/virtual_runloop.h"

#include <vector>

namespace vl {

uint64_t VirtualRunLoop::schedule(Item item) {
  item.seq = ++seq_;
  auto key = std::make_pair(item.due, item.seq);
  items_.emplace(key, std::move(item));
  return seq_;
}

void VirtualRunLoop::perform(const void* target, std::string_view selector, double delay, Fn fn,
                             const void* object) {
  Item it;
  it.due = now_ + (delay > 0 ? delay : 0);
  it.target = target;
  it.selector = std::string(selector);
  it.object = object;
  it.fn = std::move(fn);
  schedule(std::move(it));
}

void VirtualRunLoop::cancelPerform(const void* target, std::string_view selector, const void* object) {
  for (auto i = items_.begin(); i != items_.end();) {
    const Item& it = i->second;
    if (it.timer == 0 && it.target == target && it.target && it.selector == selector && it.object == object)
      i = items_.erase(i);
    else
      ++i;
  }
}

void VirtualRunLoop::cancelAllPerforms(const void* target) {
  for (auto i = items_.begin(); i != items_.end();) {
    if (i->second.timer == 0 && target && i->second.target == target)
      i = items_.erase(i);
    else
      ++i;
  }
}

bool VirtualRunLoop::hasPerform(const void* target, std::string_view selector, const void* object) const {
  for (const auto& [k, it] : items_)
    if (it.timer == 0 && it.target == target && it.selector == selector && it.object == object) return true;
  return false;
}

void VirtualRunLoop::post(Fn fn) {
  Item it;
  it.due = now_;
  it.fn = std::move(fn);
  schedule(std::move(it));
}

RunLoop::Token VirtualRunLoop::addTimer(double interval, bool repeats, Fn fn) {
  Item it;
  it.due = now_ + (interval > 0 ? interval : 0);
  it.fn = std::move(fn);
  it.timer = nextToken_++;
  it.interval = interval;
  it.repeats = repeats;
  Token t = it.timer;
  schedule(std::move(it));
  return t;
}

void VirtualRunLoop::removeTimer(Token t) {
  for (auto i = items_.begin(); i != items_.end();) {
    if (i->second.timer == t) i = items_.erase(i);
    else ++i;
  }
}

RunLoop::Token VirtualRunLoop::addEndOfPassObserver(Fn fn) {
  Token t = nextToken_++;
  observers_.emplace(t, std::move(fn));
  return t;
}

void VirtualRunLoop::removeEndOfPassObserver(Token t) { observers_.erase(t); }

size_t VirtualRunLoop::runPass() {
  // Work scheduled during this pass for "now" runs in the same pass, as zero-delay performs
  // and posts do on the next turn of a real loop; the bound stops work that reschedules
  // itself forever at zero delay from hanging a test.
  size_t ran = 0;
  for (size_t guard = 0; guard < 100000; ++guard) {
    auto i = items_.begin();
    if (i == items_.end() || i->first.first > now_) break;
    Item it = std::move(i->second);
    items_.erase(i);
    if (it.timer != 0 && it.repeats) {
      Item again;
      again.due = now_ + (it.interval > 0 ? it.interval : 1e-6);
      again.fn = it.fn;
      again.timer = it.timer;
      again.interval = it.interval;
      again.repeats = true;
      schedule(std::move(again));
    }
    ++ran;
    if (it.fn) it.fn();
  }
  // Observers may be removed while they run.
  std::vector<Token> tokens;
  for (const auto& [t, f] : observers_) tokens.push_back(t);
  for (Token t : tokens) {
    auto o = observers_.find(t);
    if (o != observers_.end()) {
      Fn f = o->second;
      f();
    }
  }
  return ran;
}

void VirtualRunLoop::advance(double seconds) {
  double end = now_ + seconds;
  // Every pass runs at its own due time, so performs see the time they were due at.
  while (true) {
    auto i = items_.begin();
    if (i == items_.end() || i->first.first > end) break;
    if (i->first.first > now_) now_ = i->first.first;
    runPass();
  }
  now_ = end;
  runPass();
}

void VirtualRunLoop::runUntilIdle() {
  while (true) {
    auto i = items_.begin();
    if (i == items_.end() || i->first.first > now_) break;
    runPass();
  }
}

double VirtualRunLoop::nextDue() const {
  if (items_.empty()) return -1;
  return items_.begin()->first.first;
}

}  // namespace vl
