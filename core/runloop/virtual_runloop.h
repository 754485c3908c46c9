// VirtualRunLoop: a deterministic run loop for tests; time moves only when told to, and due
// work runs in order of due time, then order of scheduling.
#pragma once

#include <map>
#include <memory>
#include <vector>

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
  size_t pendingCount() const { return items_.size(); }

  bool stopped() const { return stopped_; }
  int stopStatus() const { return status_; }

 private:
  struct Item {
    double due = 0;
    uint64_t seq = 0;  // given by schedule(); an item copied before then must not carry garbage
    const void* target = nullptr;
    std::string selector;
    const void* object = nullptr;
    Fn fn;
    Token timer = 0;      // non-zero for timer firings
    double interval = 0;  // for repeating timers
    bool repeats = false;
  };
  uint64_t schedule(Item item);

  double now_;
  uint64_t seq_ = 0;
  Token nextToken_ = 1;
  std::map<std::pair<double, uint64_t>, Item> items_;
  std::map<Token, Fn> observers_;
  bool stopped_ = false;
  int status_ = 0;
};

}  // namespace vl
