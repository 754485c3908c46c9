// SdEventRunLoop: one sd-event time source stands for the whole queue of performs, posts and
// timers (kept in due-time order as VirtualRunLoop keeps them); a post source runs the
// end-of-pass observers after every dispatch.
#include "platform/linux/sd_event_runloop.h"

#include <signal.h>
#include <sys/epoll.h>
#include <systemd/sd-event.h>
#include <time.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <vector>

namespace vl::linux_ {

namespace {

// Work a single dispatch runs at most before other sources get their turn, so work that keeps
// rescheduling itself at zero delay cannot starve the descriptors and signals.
constexpr size_t kPassBudget = 10000;
// How far a repeating timer may fall behind and still catch up, in seconds.
constexpr double kCatchUpLimit = 1.0;

std::string errorText(int negErrno) { return std::strerror(negErrno < 0 ? -negErrno : negErrno); }

uint64_t toUsec(double seconds) {
  if (seconds <= 0) return 0;
  return static_cast<uint64_t>(std::ceil(seconds * 1e6));
}

}  // namespace

Result<std::unique_ptr<SdEventRunLoop>> SdEventRunLoop::create() {
  auto loop = std::make_unique<SdEventRunLoop>(Key{});
  int r = sd_event_new(&loop->event_);
  if (r < 0) return Status::failure(-r, "cannot create an event loop: " + errorText(r));
  r = sd_event_add_time(loop->event_, &loop->timer_, CLOCK_MONOTONIC, 0, 1, &SdEventRunLoop::onTime, loop.get());
  if (r >= 0) r = sd_event_source_set_enabled(loop->timer_, SD_EVENT_OFF);
  if (r >= 0) r = sd_event_add_post(loop->event_, &loop->post_, &SdEventRunLoop::onPost, loop.get());
  if (r < 0) return Status::failure(-r, "cannot set up the event loop's sources: " + errorText(r));
  return loop;
}

SdEventRunLoop::SdEventRunLoop(Key) {}

SdEventRunLoop::~SdEventRunLoop() {
  for (auto& [t, w] : watches_) sd_event_source_disable_unref(w->source);
  for (sd_event_source* s : signalSources_)
    if (s) sd_event_source_disable_unref(s);
  if (timer_) sd_event_source_disable_unref(timer_);
  if (post_) sd_event_source_disable_unref(post_);
  if (event_) sd_event_unref(event_);
}

double SdEventRunLoop::clock() {
  struct timespec ts {};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double SdEventRunLoop::now() const {
  // Inside a callout: the time this pass of the loop began, so that everything one callout
  // schedules keeps its order by delay however long the callout takes.
  uint64_t usec = 0;
  if (sd_event_get_state(event_) == SD_EVENT_RUNNING && sd_event_now(event_, CLOCK_MONOTONIC, &usec) >= 0)
    return static_cast<double>(usec) / 1e6;
  return clock();
}

void SdEventRunLoop::arm() {
  if (!timer_) return;
  if (queue_.empty()) {
    sd_event_source_set_enabled(timer_, SD_EVENT_OFF);
    return;
  }
  sd_event_source_set_time(timer_, toUsec(queue_.nextDue()));
  sd_event_source_set_enabled(timer_, SD_EVENT_ONESHOT);
}

void SdEventRunLoop::perform(const void* target, std::string_view selector, double delay, Fn fn, const void* object) {
  queue_.perform(now(), target, selector, delay, std::move(fn), object);
  arm();
}

void SdEventRunLoop::cancelPerform(const void* target, std::string_view selector, const void* object) {
  queue_.cancelPerform(target, selector, object);
  arm();
}

void SdEventRunLoop::cancelAllPerforms(const void* target) {
  queue_.cancelAllPerforms(target);
  arm();
}

bool SdEventRunLoop::hasPerform(const void* target, std::string_view selector, const void* object) const {
  return queue_.hasPerform(target, selector, object);
}

void SdEventRunLoop::post(Fn fn) {
  queue_.post(now(), std::move(fn));
  arm();
}

RunLoop::Token SdEventRunLoop::addTimer(double interval, bool repeats, Fn fn) {
  Token t = queue_.addTimer(now(), interval, repeats, std::move(fn));
  arm();
  return t;
}

void SdEventRunLoop::removeTimer(Token t) {
  queue_.removeTimer(t);
  arm();
}

RunLoop::Token SdEventRunLoop::addEndOfPassObserver(Fn fn) { return queue_.addObserver(std::move(fn)); }

void SdEventRunLoop::removeEndOfPassObserver(Token t) { queue_.removeObserver(t); }

void SdEventRunLoop::stop(int status) {
  stopped_ = true;
  sd_event_exit(event_, status);
}

void SdEventRunLoop::runDue() {
  PerformQueue::Item it;
  for (size_t n = 0; n < kPassBudget && queue_.takeDue(clock(), &it); ++n) {
    // A repeating timer is due again before it runs, so removeTimer from inside its own
    // callback ends it. It keeps to its own schedule when the loop runs late, as the virtual
    // loop's timers do; after a long stall (a suspended machine) it starts afresh instead of
    // replaying every missed firing.
    if (it.timer != 0 && it.repeats) {
      double interval = it.interval > 0 ? it.interval : 1e-6;
      double due = it.due + interval;
      if (due < now() - kCatchUpLimit) due = now() + interval;
      queue_.repeat(it, due);
    }
    if (it.fn) it.fn();
  }
  arm();
}

int SdEventRunLoop::onTime(sd_event_source*, uint64_t, void* self) {
  static_cast<SdEventRunLoop*>(self)->runDue();
  return 0;
}

int SdEventRunLoop::onPost(sd_event_source*, void* self) {
  // Observers may be removed while they run.
  static_cast<SdEventRunLoop*>(self)->queue_.runObservers();
  return 0;
}

int SdEventRunLoop::run() {
  stopped_ = false;
  return sd_event_loop(event_);
}

bool SdEventRunLoop::runOnce(double timeout) {
  if (sd_event_get_state(event_) == SD_EVENT_FINISHED) return false;
  return sd_event_run(event_, toUsec(timeout)) >= 0 && sd_event_get_state(event_) != SD_EVENT_FINISHED;
}

RunLoop::Token SdEventRunLoop::watchFd(int fd, std::function<void()> fn) {
  auto watch = std::make_unique<Watch>();
  watch->fn = std::move(fn);
  sd_event_source* src = nullptr;
  auto cb = [](sd_event_source*, int, uint32_t, void* data) -> int {
    // A copy: the callback may unwatch its own descriptor.
    std::function<void()> f = static_cast<Watch*>(data)->fn;
    if (f) f();
    return 0;
  };
  if (sd_event_add_io(event_, &src, fd, EPOLLIN, cb, watch.get()) < 0) return 0;
  watch->source = src;
  Token t = queue_.newToken();
  watches_[t] = std::move(watch);
  return t;
}

void SdEventRunLoop::unwatchFd(Token t) {
  auto it = watches_.find(t);
  if (it == watches_.end()) return;
  sd_event_source_disable_unref(it->second->source);
  // A callback running right now runs on its own copy of fn.
  watches_.erase(it);
}

Status SdEventRunLoop::handleTerminationSignals(std::function<void(int)> handler) {
  signalHandler_ = std::move(handler);
  if (signalSources_[0]) return Status::success();
  sigset_t set;
  sigemptyset(&set);
  // SIGHUP is how a closing session or terminal ends a program: it must run the same shutdown.
  for (int sig : kTerminationSignals) sigaddset(&set, sig);
  if (int r = pthread_sigmask(SIG_BLOCK, &set, nullptr); r != 0)
    return Status::failure(r, "cannot block the termination signals: " + errorText(r));
  auto cb = [](sd_event_source*, const struct signalfd_siginfo* si, void* self) -> int {
    auto* loop = static_cast<SdEventRunLoop*>(self);
    if (loop->signalHandler_) loop->signalHandler_(static_cast<int>(si->ssi_signo));
    else loop->stop(128 + static_cast<int>(si->ssi_signo));
    return 0;
  };
  for (size_t i = 0; i < std::size(kTerminationSignals); ++i) {
    int r = sd_event_add_signal(event_, &signalSources_[i], kTerminationSignals[i], cb, this);
    if (r < 0) return Status::failure(-r, "cannot watch for termination signals: " + errorText(r));
  }
  return Status::success();
}

}  // namespace vl::linux_
