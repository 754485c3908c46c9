// The logind session adapter against python-dbusmock's logind on a private bus standing in for
// the system bus: lock, unlock, the lock hint, sleep and wake, and switching users away and
// back, first as the moments it reports, then as the agent applies them to a device.
#include <gtest/gtest.h>

#include <chrono>

#include "core/system/alerts.h"
#include "platform/linux/logind_session.h"
#include "tests/desktop/agent_bench.h"
#include "tests/desktop/desktop_env.h"
#include "tests/support/private_bus.h"

namespace vl {
namespace {

using linux_::LogindOptions;
using linux_::LogindSession;

constexpr const char* kLogind = "org.freedesktop.login1";
constexpr const char* kManagerPath = "/org/freedesktop/login1";
constexpr const char* kMock = "org.freedesktop.DBus.Mock";
constexpr const char* kSessionPath = "/org/freedesktop/login1/session/c1";

// logind's stand-in with one active session "c1", and the adapter on it.
class LogindStandIn {
 public:
  explicit LogindStandIn(const std::string& dir) : bus_(dir) {
    if (bus_.address().empty()) {
      why_ = "dbus-daemon could not be started";
      return;
    }
    if (test::runProgram({"/usr/bin/python3", "-c", "import dbusmock"}) != 0) {
      why_ = "python3-dbusmock is not installed";
      return;
    }
    mock_ = std::make_unique<test::Program>(
        std::vector<std::string>{"/usr/bin/python3", "-m", "dbusmock", "--template", "logind"},
        std::map<std::string, std::string>{{"DBUS_SYSTEM_BUS_ADDRESS", bus_.address()}}, dir + "/logind.log");
    std::string error;
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    bool added = false;
    while (!added && std::chrono::steady_clock::now() < end) {
      added = test::callMethod(bus_.address(), kLogind, kManagerPath, kMock, "AddSession", &error, "ssusb", "c1", "seat0",
                               1000u, "someone", 1);
      if (!added) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (!added) {
      why_ = "the logind stand-in did not start: " + error;
      return;
    }
    auto s = LogindSession::create(LogindOptions{bus_.address(), "c1"});
    if (!s) {
      why_ = "the adapter could not reach the stand-in: " + s.status().detail();
      return;
    }
    session_ = std::move(*s);
  }
  const std::string& whyNot() const { return why_; }
  LogindSession& session() { return *session_; }

  void lock() { call(kSessionPath, "org.freedesktop.login1.Session", "Lock"); }
  void unlock() { call(kSessionPath, "org.freedesktop.login1.Session", "Unlock"); }
  void lockedHint(bool on) {
    ASSERT_TRUE(test::callMethod(bus_.address(), kLogind, kSessionPath, "org.freedesktop.login1.Session", "SetLockedHint",
                                 nullptr, "b", on ? 1 : 0));
  }
  void sleep(bool start) {
    ASSERT_TRUE(test::callMethod(bus_.address(), kLogind, kManagerPath, kMock, "EmitSignal", nullptr, "sssav",
                                 "org.freedesktop.login1.Manager", "PrepareForSleep", "b", 1, "b", start ? 1 : 0));
  }
  // Another user's session takes the seat (false) or this one gets it back (true).
  void active(bool on) {
    ASSERT_TRUE(test::callMethod(bus_.address(), kLogind, kSessionPath, kMock, "UpdateProperties", nullptr, "sa{sv}",
                                 "org.freedesktop.login1.Session", 1, "Active", "b", on ? 1 : 0));
  }
  // Handles the adapter's bus until pred holds (a real wait for the stand-in's signals).
  template <class Pred>
  bool pumpUntil(Pred pred, double seconds = 10) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!pred()) {
      if (std::chrono::steady_clock::now() > end) return false;
      session_->processPending(0.1);
    }
    return true;
  }

 private:
  void call(const char* path, const char* iface, const char* method) {
    ASSERT_TRUE(test::callMethod(bus_.address(), kLogind, path, iface, method, nullptr));
  }
  test::PrivateBus bus_;
  std::unique_ptr<test::Program> mock_;
  std::unique_ptr<LogindSession> session_;
  std::string why_;
};

TEST(LogindSession, ReportsEachMomentOnceAndHoldsTheLockThroughSleep) {
  test::TempDir dir;
  LogindStandIn logind(dir.path());
  if (!logind.whyNot().empty()) GTEST_SKIP() << logind.whyNot();
  LogindSession& s = logind.session();
  EXPECT_EQ(s.sessionPath(), kSessionPath);
  EXPECT_TRUE(s.current().onConsole);
  EXPECT_FALSE(s.current().screenLocked);

  std::vector<SessionEvent> seen;
  Session::Token t = s.observe([&](SessionEvent e) { seen.push_back(e); });
  auto expect = [&](std::vector<SessionEvent> want, const char* step) {
    EXPECT_TRUE(logind.pumpUntil([&] { return seen.size() >= want.size(); })) << step;
    // A little longer, so that a doubled report would show.
    logind.pumpUntil([] { return false; }, 0.2);
    EXPECT_EQ(seen, want) << step;
    seen.clear();
  };
  using E = SessionEvent;

  logind.lock();
  logind.lockedHint(true);  // the locker confirms: the same lock, not a second one
  expect({E::ScreenLocked}, "lock");
  EXPECT_TRUE(s.current().screenLocked);
  logind.unlock();
  logind.lockedHint(false);
  expect({E::ScreenUnlocked}, "unlock");

  // Sleep counts as a lock; waking up unlocked is an unlock.
  logind.sleep(true);
  expect({E::ScreenLocked}, "sleep");
  logind.sleep(false);
  expect({E::ScreenUnlocked}, "wake");

  // Waking to a locked screen is no unlock yet: that comes with the unlock itself.
  logind.lockedHint(true);
  logind.sleep(true);
  logind.sleep(false);
  logind.lockedHint(false);
  expect({E::ScreenLocked, E::ScreenUnlocked}, "wake to a locked screen");

  logind.active(false);
  expect({E::ResignedActive}, "switched away");
  EXPECT_FALSE(s.current().onConsole);
  logind.active(true);
  expect({E::BecameActive}, "switched back");

  s.unobserve(t);
  logind.lock();
  logind.pumpUntil([&] { return s.current().screenLocked; });
  EXPECT_TRUE(seen.empty());
}

TEST(LogindSession, NoLogindIsAFailureThatSaysSo) {
  test::TempDir dir;
  test::PrivateBus bus(dir.path());
  if (bus.address().empty()) GTEST_SKIP() << "dbus-daemon could not be started";
  auto s = LogindSession::create(LogindOptions{bus.address(), "c1"});
  ASSERT_FALSE(s);
  EXPECT_NE(s.status().detail().find("asking logind for session \"c1\""), std::string::npos) << s.status().detail();
}

// The agent's own classes on logind's moments: the applies happen at their delays.
class AgentOnLogind : public test::AgentOnSim {
 protected:
  // The agent unobserves the session as it goes: it goes first.
  ~AgentOnLogind() override { agent.reset(); }
  void SetUp() override {
    if (!logind.whyNot().empty()) GTEST_SKIP() << logind.whyNot();
    platform.session = &logind.session();
    mouse = storedMouse();
    launch();
    loop.advance(2);
    ASSERT_EQ(written(mouse, "HIDMouseAcceleration"), X2Fix(1.5));
  }
  // Waits for the moment's log line, then lets the run loop take its turn.
  void arrive(const std::string& line) {
    size_t before = logged(line);
    EXPECT_TRUE(logind.pumpUntil([&] { return logged(line) > before; })) << line;
    loop.runPass();
  }
  test::TempDir busDir;
  LogindStandIn logind{busDir.path()};
  RegistryId mouse = 0;
};

TEST_F(AgentOnLogind, UnlockAndWakeApplyOnTheNextPass) {
  for (bool wake : {false, true}) {
    mac.clearWrites();
    if (wake) logind.sleep(true);
    else logind.lock();
    arrive("screen locked");
    loop.advance(5);
    EXPECT_EQ(writesTo(mouse), 0u) << "nothing is applied while locked";
    if (wake) logind.sleep(false);
    else logind.unlock();
    arrive("screen unlocked: applying now");
    loop.runUntilIdle();
    EXPECT_EQ(writesTo(mouse), 2u) << (wake ? "wake" : "unlock");  // resolution and acceleration, once
  }
}

TEST_F(AgentOnLogind, SwitchingUsersRestoresAndComingBackReappliesAfterOneAndAHalfSeconds) {
  mac.setSystemAcceleration("HIDMouseAcceleration", 0.875);
  loop.runUntilIdle();
  loop.advance(1);
  mac.clearWrites();
  logind.active(false);
  arrive("logout: the user is not active");
  EXPECT_EQ(written(mouse, "HIDMouseAcceleration"), X2Fix(0.875)) << "the system's own speed";
  mac.clearWrites();
  logind.active(true);
  arrive("login: the user is active again");
  loop.advance(1.49);
  EXPECT_EQ(writesTo(mouse), 0u);
  loop.advance(0.02);
  EXPECT_EQ(written(mouse, "HIDMouseAcceleration"), X2Fix(1.5));
}

}  // namespace
}  // namespace vl
