// The sd-event run loop against the same table as the virtual one, and what only a real loop
// has: end-of-pass observers after real dispatches, descriptor watches, stop and signals.
// Real waiting stays at a few milliseconds per test.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include "core/runloop/virtual_runloop.h"
#include "platform/linux/sd_event_runloop.h"
#include "runloop_cases.h"
#include "support/result_value.h"

namespace vl {
namespace {

using linux_::SdEventRunLoop;
using test::RunLoopCase;

// Half a millisecond: every case is over in 2 ms of real time.
constexpr double kUnit = 0.0005;

std::unique_ptr<SdEventRunLoop> makeLoop() { return test::valueOf(SdEventRunLoop::create()); }

class RunLoopTable : public ::testing::TestWithParam<RunLoopCase> {};

TEST_P(RunLoopTable, VirtualLoop) {
  const RunLoopCase& c = GetParam();
  VirtualRunLoop loop;
  std::vector<std::string> log;
  loop.post([&] { c.setup(loop, kUnit, log); });
  loop.advance(8 * kUnit);
  EXPECT_EQ(log, c.expected);
  EXPECT_EQ(loop.pendingCount(), 0u);
}

TEST_P(RunLoopTable, SdEventLoop) {
  const RunLoopCase& c = GetParam();
  auto loop = makeLoop();
  ASSERT_TRUE(loop);
  std::vector<std::string> log;
  loop->post([&] {
    c.setup(*loop, kUnit, log);
    // A marker after everything, timed from the same pass as the case's own work so that a
    // late start on a busy machine cannot put it ahead: nothing may run after it.
    loop->perform(nullptr, "end", 4 * kUnit, [&] { loop->stop(0); });
  });
  EXPECT_EQ(loop->run(), 0);
  EXPECT_EQ(log, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, RunLoopTable, ::testing::ValuesIn(test::runLoopCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SdEventRunLoop, EndOfPassObserversRunAfterEachDispatchAndCanLeave) {
  auto loop = makeLoop();
  ASSERT_TRUE(loop);
  std::vector<std::string> log;
  RunLoop::Token t = loop->addEndOfPassObserver([&] { log.push_back("|"); });
  RunLoop::Token once = 0;
  // C is posted at the end of the first pass, so it runs in a pass of its own however late
  // the loop is.
  once = loop->addEndOfPassObserver([&] {
    log.push_back("once");
    loop->removeEndOfPassObserver(once);
    loop->post([&] {
      log.push_back("C");
      loop->removeEndOfPassObserver(t);
      loop->stop(0);
    });
  });
  loop->post([&] { log.push_back("A"); });
  loop->post([&] { log.push_back("B"); });
  loop->run();
  EXPECT_EQ(log, (std::vector<std::string>{"A", "B", "|", "once", "C"}));
}

TEST(SdEventRunLoop, DescriptorWatchFiresWhenReadableAndStopsWhenUnwatched) {
  auto loop = makeLoop();
  ASSERT_TRUE(loop);
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  int reads = 0;
  RunLoop::Token w = loop->watchFd(fds[0], [&] {
    char c;
    if (::read(fds[0], &c, 1) == 1) ++reads;
  });
  ASSERT_NE(w, 0u);
  ASSERT_EQ(::write(fds[1], "x", 1), 1);
  for (int i = 0; i < 5 && reads == 0; ++i) loop->runOnce(0.01);
  EXPECT_EQ(reads, 1);
  loop->unwatchFd(w);
  ASSERT_EQ(::write(fds[1], "y", 1), 1);
  loop->runOnce(0);
  EXPECT_EQ(reads, 1);
  // A callback may end its own watch.
  RunLoop::Token self = 0;
  self = loop->watchFd(fds[0], [&] {
    ++reads;
    loop->unwatchFd(self);
  });
  loop->runOnce(0.01);
  loop->runOnce(0);
  EXPECT_EQ(reads, 2);
  EXPECT_EQ(loop->watchFd(-1, [] {}), 0u);
  ::close(fds[0]);
  ::close(fds[1]);
}

TEST(SdEventRunLoop, StopEndsRunWithItsStatusAndTimeMovesForward) {
  auto loop = makeLoop();
  ASSERT_TRUE(loop);
  double before = loop->now();
  double inside = 0;
  loop->perform(nullptr, "stop", kUnit, [&] {
    inside = loop->now();
    loop->stop(7);
  });
  EXPECT_EQ(loop->run(), 7);
  EXPECT_GE(inside, before + kUnit);
  EXPECT_GE(loop->now(), inside);
}

TEST(SdEventRunLoop, TerminationSignalsCallTheProgramsHandlerOnTheLoop) {
  // A hang-up (the session or terminal closing) ends the program through the same shutdown
  // as a quit request, never by the default action that skips it.
  for (int sent : {SIGTERM, SIGINT, SIGHUP}) {
    auto loop = makeLoop();
    ASSERT_TRUE(loop);
    int got = 0;
    Status routed = loop->handleTerminationSignals([&](int sig) {
      got = sig;
      loop->stop(3);
    });
    ASSERT_TRUE(routed) << routed.detail();
    loop->post([sent] { ::raise(sent); });
    EXPECT_EQ(loop->run(), 3) << sent;
    EXPECT_EQ(got, sent);
  }
}

}  // namespace
}  // namespace vl
