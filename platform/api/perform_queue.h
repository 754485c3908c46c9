// PerformQueue: the bookkeeping every RunLoop adapter shares — pending performs, posts and
// timers in due-time order (then order of scheduling), their cancelling by key, and the
// end-of-pass observers. The adapter owns the clock and decides when due work runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/api/runloop.h"

namespace vl {

class PerformQueue {
 public:
  using Fn = RunLoop::Fn;
  using Token = RunLoop::Token;

  struct Item {
    double due = 0;
    const void* target = nullptr;
    std::string selector;
    const void* object = nullptr;
    Fn fn;
    Token timer = 0;      // non-zero for timer firings
    double interval = 0;  // for repeating timers
    bool repeats = false;
  };

  // A token no timer, observer or other user of this queue holds.
  Token newToken() { return nextToken_++; }

  void perform(double now, const void* target, std::string_view selector, double delay, Fn fn,
               const void* object) {
    Item it;
    it.due = now + (delay > 0 ? delay : 0);
    it.target = target;
    it.selector = std::string(selector);
    it.object = object;
    it.fn = std::move(fn);
    add(std::move(it));
  }

  void cancelPerform(const void* target, std::string_view selector, const void* object) {
    eraseIf([&](const Item& it) {
      return it.timer == 0 && it.target == target && it.target && it.selector == selector && it.object == object;
    });
  }

  void cancelAllPerforms(const void* target) {
    eraseIf([&](const Item& it) { return it.timer == 0 && target && it.target == target; });
  }

  bool hasPerform(const void* target, std::string_view selector, const void* object) const {
    for (const auto& [k, it] : items_)
      if (it.timer == 0 && it.target == target && it.selector == selector && it.object == object) return true;
    return false;
  }

  void post(double now, Fn fn) {
    Item it;
    it.due = now;
    it.fn = std::move(fn);
    add(std::move(it));
  }

  Token addTimer(double now, double interval, bool repeats, Fn fn) {
    Item it;
    it.due = now + (interval > 0 ? interval : 0);
    it.fn = std::move(fn);
    it.timer = newToken();
    it.interval = interval;
    it.repeats = repeats;
    Token t = it.timer;
    add(std::move(it));
    return t;
  }

  void removeTimer(Token t) {
    eraseIf([&](const Item& it) { return it.timer == t; });
  }

  // Takes the earliest item when it is due at or before limit.
  bool takeDue(double limit, Item* out) {
    auto i = items_.begin();
    if (i == items_.end() || i->first.first > limit) return false;
    *out = std::move(i->second);
    items_.erase(i);
    return true;
  }

  // Schedules the next firing of a repeating timer just taken, due at due. Done before the
  // firing runs, so removeTimer from inside its own callback ends it.
  void repeat(const Item& fired, double due) {
    Item again;
    again.due = due;
    again.fn = fired.fn;
    again.timer = fired.timer;
    again.interval = fired.interval;
    again.repeats = true;
    add(std::move(again));
  }

  // The due time of the earliest pending item, or a negative number when none.
  double nextDue() const { return items_.empty() ? -1 : items_.begin()->first.first; }
  bool empty() const { return items_.empty(); }
  size_t size() const { return items_.size(); }

  Token addObserver(Fn fn) {
    Token t = newToken();
    observers_.emplace(t, std::move(fn));
    return t;
  }
  void removeObserver(Token t) { observers_.erase(t); }
  // Runs every end-of-pass observer; observers may be removed (or added) while they run.
  void runObservers() {
    std::vector<Token> tokens;
    for (const auto& [t, f] : observers_) tokens.push_back(t);
    for (Token t : tokens) {
      auto o = observers_.find(t);
      if (o != observers_.end()) {
        Fn f = o->second;
        f();
      }
    }
  }

 private:
  void add(Item item) {
    auto key = std::make_pair(item.due, ++seq_);
    items_.emplace(key, std::move(item));
  }
  template <class Pred>
  void eraseIf(Pred pred) {
    for (auto i = items_.begin(); i != items_.end();) {
      if (pred(i->second)) i = items_.erase(i);
      else ++i;
    }
  }

  uint64_t seq_ = 0;
  Token nextToken_ = 1;
  std::map<std::pair<double, uint64_t>, Item> items_;
  std::map<Token, Fn> observers_;
};

}  // namespace vl
