// SdEventRunLoop: the programs' main run loop on systemd's sd-event — delayed performs, posts,
// timers and end-of-pass observers with exactly the semantics of VirtualRunLoop, plus the
// descriptor watches, termination signals and D-Bus connections a real process needs.
#pragma once

#include <csignal>
#include <cstdint>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <string>

#include "platform/api/perform_queue.h"
#include "platform/api/runloop.h"
#include "platform/api/status.h"

struct sd_event;
struct sd_event_source;

namespace vl::linux_ {

class SdEventRunLoop : public RunLoop {
 public:
  // A failure when sd-event cannot make a loop.
  static Result<std::unique_ptr<SdEventRunLoop>> create();
  struct Key {
    explicit Key() = default;
  };
  explicit SdEventRunLoop(Key);  // use create
  ~SdEventRunLoop() override;
  SdEventRunLoop(const SdEventRunLoop&) = delete;
  SdEventRunLoop& operator=(const SdEventRunLoop&) = delete;

  // CLOCK_MONOTONIC, in seconds. Inside a callout it is the time the current pass began (as
  // VirtualRunLoop's time stands still during a pass), so the performs one callout schedules
  // keep their order by delay however long the callout runs.
  double now() const override;
  void perform(const void* target, std::string_view selector, double delay, Fn fn,
               const void* object = nullptr) override;
  void cancelPerform(const void* target, std::string_view selector, const void* object = nullptr) override;
  void cancelAllPerforms(const void* target) override;
  bool hasPerform(const void* target, std::string_view selector, const void* object = nullptr) const override;
  void post(Fn fn) override;
  Token addTimer(double interval, bool repeats, Fn fn) override;
  void removeTimer(Token t) override;
  Token addEndOfPassObserver(Fn fn) override;
  void removeEndOfPassObserver(Token t) override;
  // Ends run(), which returns status.
  void stop(int status) override;

  // Runs until stop; returns its status, or a negative errno when the loop failed.
  int run();
  // One iteration: waits at most timeout seconds for something to do, dispatches it. Returns
  // false once stopped or on failure.
  bool runOnce(double timeout);

  // Calls fn whenever fd is readable (or hung up). 0 when the descriptor cannot be watched.
  Token watchFd(int fd, std::function<void()> fn);
  void unwatchFd(Token t);

  // SIGTERM, SIGINT and SIGHUP call handler (with the signal number) on the loop instead of killing
  // the process; the program runs its shutdown there and calls stop. The signals are blocked
  // for the calling thread, so call this before starting other threads. A failure when the
  // signals cannot be routed.
  Status handleTerminationSignals(std::function<void(int signal)> handler);

  // The underlying loop, for attaching a bus connection.
  sd_event* event() const { return event_; }

 private:
  static double clock();
  static int onTime(sd_event_source* s, uint64_t usec, void* self);
  static int onPost(sd_event_source* s, void* self);
  void arm();
  void runDue();

  sd_event* event_ = nullptr;
  sd_event_source* timer_ = nullptr;
  sd_event_source* post_ = nullptr;
  PerformQueue queue_;
  struct Watch {
    std::function<void()> fn;
    sd_event_source* source = nullptr;
  };
  std::map<Token, std::unique_ptr<Watch>> watches_;
  std::function<void(int)> signalHandler_;
  static constexpr int kTerminationSignals[3] = {SIGTERM, SIGINT, SIGHUP};
  sd_event_source* signalSources_[std::size(kTerminationSignals)] = {};
  bool stopped_ = false;
};

}  // namespace vl::linux_
