// Moving the cursor: glide step counts and timing in virtual time, the user taking the mouse
// during a glide, jumps, the posted mouse-moved event, and the failures of the final move.
#include <gtest/gtest.h>

#include <cmath>

#include "agent/snapping/cursor_motion.h"
#include "platform/sim/sim_desktop.h"
#include "support/sim_world.h"

namespace vl {
namespace {

class Glide : public test::SimWorld {
 protected:
  Glide() : desk(mac.desktop()) {
    desk.setSleepHook([this](double s) { loop.advance(s); });
    platform.sleeper = &desk.sleeper();
  }
  std::vector<sim::CursorEvent> events(sim::CursorEvent::Kind kind) {
    std::vector<sim::CursorEvent> out;
    for (const auto& e : desk.cursorLog())
      if (e.kind == kind) out.push_back(e);
    return out;
  }
  sim::SimDesktop& desk;
};

TEST_F(Glide, StepCountsAndDurationForDistances) {
  struct Case {
    Point from, to;
    int steps;  // warps before the final one
  } cases[] = {
      {{100, 100}, {105, 100}, 0},   // too short to step: straight to the end
      {{100, 100}, {200, 100}, 11},  // 100 points: 100/70 + 10
      {{100, 100}, {800, 100}, 20},  // 700 points: at most 20 steps, a quarter of a second
      {{900, 50}, {100, 650}, 24},   // 1000 points diagonally, backwards
      {{10.7, 10.2}, {310.9, 410.4}, 17},
  };
  for (const auto& c : cases) {
    desk.moveCursor(c.from);
    desk.clearCursorLog();
    double start = loop.now();
    ASSERT_EQ(QS846moveCursor(platform.cursor, platform.sleeper, errors, false, c.from, c.to), 0);
    auto warps = events(sim::CursorEvent::Warp);
    ASSERT_EQ(static_cast<int>(warps.size()), c.steps + 1) << c.to.x;
    EXPECT_LE(c.steps, glideStepLimit(c.from, c.to));
    EXPECT_NEAR(loop.now() - start, 0.013 * c.steps, 1e-9);
    // Each step gets closer; the last move lands exactly on the target.
    double last = std::hypot(c.to.x - c.from.x, c.to.y - c.from.y);
    for (size_t i = 0; i + 1 < warps.size(); ++i) {
      double d = std::hypot(c.to.x - warps[i].to.x, c.to.y - warps[i].to.y);
      EXPECT_LT(d, last);
      last = d;
    }
    EXPECT_EQ(warps.back().to, c.to);
    EXPECT_EQ(desk.cursorPosition(), c.to);
    ASSERT_EQ(events(sim::CursorEvent::Posted).size(), 1u);
  }
}

TEST_F(Glide, TheUserMovingTheMouseStopsItAtTheFifthMismatch) {
  desk.moveCursor({100, 100});
  desk.clearCursorLog();
  int sleeps = 0;
  // The user drags the mouse away while the glide runs: after each step the cursor is
  // elsewhere, but only from the third step on.
  desk.setSleepHook([&](double s) {
    loop.advance(s);
    if (++sleeps >= 3) desk.moveCursor({50, 50.0 + sleeps});
  });
  ASSERT_EQ(QS846moveCursor(platform.cursor, platform.sleeper, errors, false, {100, 100}, {800, 500}), 0);
  EXPECT_EQ(events(sim::CursorEvent::Warp).size(), 7u);
  EXPECT_TRUE(events(sim::CursorEvent::Posted).empty()) << "no final move";
  EXPECT_EQ(desk.cursorPosition(), (Point{50, 57}));
}

TEST_F(Glide, AButtonPressedDuringTheGlideEndsItAtOnce) {
  desk.moveCursor({100, 100});
  desk.clearCursorLog();
  int sleeps = 0;
  desk.setSleepHook([&](double s) {
    loop.advance(s);
    if (++sleeps == 4) desk.setButtons(1);
  });
  ASSERT_EQ(QS846moveCursor(platform.cursor, platform.sleeper, errors, false, {100, 100}, {800, 500}), 0);
  EXPECT_EQ(events(sim::CursorEvent::Warp).size(), 4u);
  EXPECT_TRUE(events(sim::CursorEvent::Posted).empty());
}

TEST_F(Glide, AJumpMovesAndPostsOneEventWithTheModifierFlags) {
  desk.moveCursor({100, 100});
  desk.setModifierFlags(kCGEventFlagMaskShift);
  desk.clearCursorLog();
  double start = loop.now();
  ASSERT_EQ(QS846moveCursor(platform.cursor, platform.sleeper, errors, true, {100, 100}, {640.5, 380.25}), 0);
  EXPECT_EQ(loop.now(), start);
  ASSERT_EQ(events(sim::CursorEvent::Warp).size(), 1u);
  auto posted = desk.postedEvents();
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_EQ(posted[0].type, kCGEventMouseMoved);
  EXPECT_EQ(posted[0].button, kCGMouseButtonLeft);
  EXPECT_EQ(posted[0].flags, kCGEventFlagMaskShift);
  EXPECT_EQ(posted[0].location, (Point{640.5, 380.25}));
  EXPECT_EQ(posted[0].timestamp, UINT64_MAX);
  // Each posted event carries the flags of the moment.
  desk.setModifierFlags(0);
  ASSERT_EQ(QS846postMouseMovedEvent(platform.cursor, {10, 10}), 0);
  EXPECT_EQ(desk.postedEvents().back().flags, 0u);
}

TEST_F(Glide, FailuresOfTheFinalMove) {
  desk.failWarp(true);
  errors.clear();
  EXPECT_EQ(QS846moveCursor(platform.cursor, platform.sleeper, errors, true, {0, 0}, {10, 10}), 8460073);
  EXPECT_EQ(errorStackEntries(errors), std::vector<std::string>{"1000"});
  desk.failWarp(false);
  // A fresh machine whose event cannot be made.
  sim::SimMac other(&loop);
  Platform p = other.platform();
  other.desktop().failEventCreation(true);
  errors.clear();
  EXPECT_EQ(QS846moveCursor(p.cursor, p.sleeper, errors, true, {0, 0}, {10, 10}), 8460076);
  EXPECT_EQ(errorStackEntries(errors), std::vector<std::string>{"846.0096"});
}

}  // namespace
}  // namespace vl
