// Two simulated Macs in one process, each with its own agent and store: nothing one agent does
// reaches the other machine, whether their run loops take turns or one runs far ahead.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "agent/app_controller.h"
#include "core/system/alerts.h"
#include "core/hid/fixed_point.h"
#include "core/store/cursor_speed_record.h"
#include "core/store/device_record.h"
#include "core/store/store.h"
#include "core/system/boa_notifications.h"
#include "support/sim_world.h"

namespace vl {
namespace {

constexpr uint32_t kVid = 0x093A, kPid = 0x2510;  // the generic USB mouse of the fixtures

// One machine: its ports, its home folder and store, and its agent.
struct Machine {
  Machine()
      : mac(&loop), paths(home.path(), test::sourceResources()) {
    platform = mac.platform();
    platform.runLoop = &loop;
    platform.paths = &paths;
    platform.alerts = &alerts;
    platform.lifecycle = &lifecycle;
    std::filesystem::create_directories(paths.temporary());
    settings.instanceLockPath = home.path() + "/agent.lock";
  }

  // Stores the mouse with its third favourite chosen and set to these values.
  void storeMouse(const char* sensitivity, const char* tracking) {
    StoreContextRef ctx;
    ErrorInfo error;
    ASSERT_EQ(QS814openMOC(platform, errors, nullptr, false, &ctx, &error), 0);
    QS802DeviceClass* rec = QS814fetchDevice(errors, kVid, kPid, 0, "USB", ctx.get());
    if (!rec) {
      rec = QS814insertDevice(errors, ctx.get());
      rec->setVid(kVid);
      rec->setPid(kPid);
      rec->setMid(0);
      rec->setTransport(std::string("USB"));
      ASSERT_TRUE(rec->insert5CursorSpeedsWithSens(-1, -1));
    }
    rec->setCursorSpeedSelectedIndex(2);
    rec->selectedCursorSpeed()->setSensitivity(std::string(sensitivity));
    rec->selectedCursorSpeed()->setTrackingSpeed(std::string(tracking));
    ASSERT_EQ(QS814saveMOC(ctx.get(), &error), 0);
  }

  void launch() {
    agent = std::make_unique<AppControllerClass>(platform, errorContext(), settings);
    agent->applicationDidFinishLaunching();
  }

  RegistryId attachMouse() {
    auto top = mac.attachProfile(sim::deviceProfileFolder(VELMORA_SOURCE_RESOURCES), "generic-usb-optical-mouse");
    EXPECT_TRUE(top) << top.status().detail();
    return top.valueOr(0);
  }

  std::optional<int32_t> written(RegistryId top, const std::string& key) {
    RegistryId id = mac.eventServicesOf(top).at(0);
    std::optional<int32_t> v;
    for (const auto& w : mac.writes())
      if (w.service == id && w.key == key) v = w.value.intValue();
    return v;
  }

  VirtualRunLoop loop;
  sim::SimMac mac;
  test::TempDir home;
  RootedPaths paths;
  test::RecordingAlerts alerts;
  test::RecordingLifecycle lifecycle;
  Platform platform;
  // Each machine's agent has its own error stack and identity, as two processes would.
  ErrorStack errors;
  ProcessIdentity identity{ProcessRole::Agent, AgentSettings{}.bundle, {}};
  ErrorContext errorContext() { return {errors, identity}; }
  AgentSettings settings;
  std::unique_ptr<AppControllerClass> agent;
};

class TwoMacs : public ::testing::Test {
 protected:
  ~TwoMacs() override {
    a.agent.reset();
    b.agent.reset();
  }
  Machine a, b;
};

TEST_F(TwoMacs, EachAgentAppliesItsOwnStoreToItsOwnMouse) {
  a.storeMouse("700", "1.5");
  b.storeMouse("1200", "3");
  RegistryId mouseA = a.attachMouse();
  RegistryId mouseB = b.attachMouse();
  a.launch();
  b.launch();
  ASSERT_TRUE(a.agent->launched());
  ASSERT_TRUE(b.agent->launched());

  // Interleaved: each run loop advances in small steps, turn about.
  for (int i = 0; i < 30; ++i) {
    a.loop.advance(0.05);
    b.loop.advance(0.05);
  }
  EXPECT_EQ(a.written(mouseA, "HIDPointerResolution"), X2Fix(700));
  EXPECT_EQ(a.written(mouseA, "HIDMouseAcceleration"), X2Fix(1.5));
  EXPECT_EQ(b.written(mouseB, "HIDPointerResolution"), X2Fix(1200));
  EXPECT_EQ(b.written(mouseB, "HIDMouseAcceleration"), X2Fix(3));

  // A command on one machine's bus changes that machine only.
  a.storeMouse("900", "0.5");
  size_t writesOfB = b.mac.writes().size();
  EXPECT_TRUE(a.mac.notifications().post(kBOANotificationName, "quillon.Velmora.prefpane",
                             pl::Dict{{key::kCommand, cmd::kCursorSpeed},
                                      {key::kVID, pl::Value::uint32(kVid)},
                                      {key::kPID, pl::Value::uint32(kPid)},
                                      {key::kMID, pl::Value::uint32(0)},
                                      {key::kTransport, "USB"}}).ok());
  a.loop.runUntilIdle();
  b.loop.runUntilIdle();
  EXPECT_EQ(a.written(mouseA, "HIDPointerResolution"), X2Fix(900));
  EXPECT_EQ(b.mac.writes().size(), writesOfB);
  EXPECT_EQ(b.written(mouseB, "HIDPointerResolution"), X2Fix(1200));
}

TEST_F(TwoMacs, OneMachineRunningAheadLeavesTheOtherUntouched) {
  a.storeMouse("500", "2");
  b.storeMouse("1500", "0.25");
  RegistryId mouseA = a.attachMouse();
  RegistryId mouseB = b.attachMouse();
  a.launch();
  b.launch();

  // a's agent is well past its standby and delay; b's has not reached them.
  a.loop.advance(5);
  EXPECT_EQ(a.written(mouseA, "HIDPointerResolution"), X2Fix(500));
  EXPECT_FALSE(b.written(mouseB, "HIDPointerResolution"));

  // b's user logs out: only b's device goes back to the system speed, and a's agent goes on.
  b.loop.advance(5);
  ASSERT_EQ(b.written(mouseB, "HIDPointerResolution"), X2Fix(1500));
  b.mac.logout();
  b.loop.runUntilIdle();
  EXPECT_EQ(b.written(mouseB, "HIDPointerResolution"), X2Fix(400));
  EXPECT_EQ(a.written(mouseA, "HIDPointerResolution"), X2Fix(500));
  EXPECT_TRUE(a.agent->isUserActive());
  EXPECT_FALSE(b.agent->isUserActive());

  // Quitting a's agent restores a's mouse and nothing of b's.
  size_t writesOfB = b.mac.writes().size();
  a.agent->applicationWillTerminate();
  EXPECT_EQ(a.written(mouseA, "HIDPointerResolution"), X2Fix(400));
  EXPECT_EQ(b.mac.writes().size(), writesOfB);
  EXPECT_TRUE(a.lifecycle.exits.empty());
  EXPECT_TRUE(b.lifecycle.exits.empty());
}

}  // namespace
}  // namespace vl
