// Live input through the shared world: what one process (or velmora-sim) posts reaches the
// other's HID-manager devices and mouse monitors, once, in order, and is never replayed.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "core/plist/codec.h"
#include "core/runloop/virtual_runloop.h"
#include "platform/sim/world.h"
#include "support/result_value.h"
#include "support/sim_world.h"

extern char** environ;

namespace vl {
namespace {

using sim::World;
using test::TempDir;
using test::valueOf;

constexpr const char* kMouse = "generic-usb-optical-mouse";
constexpr const char* kMagicMouse = "magic-mouse-2-bluetooth";

// The speed indicator's view of one process: the mouse's HID device through a HID manager
// and both mouse-moved monitors.
struct InputWatcher {
  InputWatcher(sim::SimMac& mac, uint32_t location) {
    manager = mac.hidManagers().createManager();
    EXPECT_EQ(manager->open(), kIOReturnSuccess);
    pl::Dict matching;
    matching[kIOHIDLocationIDKey] = pl::Value::uint32(location);
    manager->setDeviceMatching(matching);
    devices = manager->copyDevices();
    for (auto& d : devices) {
      d->scheduleWithRunLoop();
      d->registerInputValueCallback([this](int32_t r, const HidInputValue& v) {
        EXPECT_EQ(r, kIOReturnSuccess);
        values.push_back(v);
      });
    }
    monitors = &mac.eventMonitors();
    global = monitors->addGlobalMouseMovedMonitor([this](const MouseMovedEvent& e) { moves.push_back(e.deltaX); });
  }
  ~InputWatcher() { monitors->removeMonitor(global); }
  std::unique_ptr<HidManager> manager;
  std::vector<HidInputDeviceRef> devices;
  std::vector<HidInputValue> values;
  std::vector<double> moves;
  EventMonitors* monitors = nullptr;
  EventMonitors::Token global = 0;
};

class WorldInputTest : public ::testing::Test {
 protected:
  WorldInputTest() {
    a = valueOf(World::create(dir.path(), options("velmora-sim", &loopA), false));
    mouse = valueOf(a->attachProfile(sim::deviceProfileFolder(VELMORA_SOURCE_RESOURCES), kMouse));
    EXPECT_NE(valueOf(a->attachProfile(sim::deviceProfileFolder(VELMORA_SOURCE_RESOURCES), kMagicMouse)), 0u);
    b = valueOf(World::open(dir.path(), options("settings", &loopB)));
    location = a->mac().registry().property(a->mac().eventServicesOf(mouse).front(), "LocationID")->unsignedIntValue();
    hid = a->mac().pointerDevicesAt(location).front();
  }
  static sim::WorldOptions options(const char* name, RunLoop* loop) {
    sim::WorldOptions o;
    o.processName = name;
    o.runLoop = loop;
    o.onError = [](const std::string& e) { ADD_FAILURE() << e; };
    return o;
  }
  void syncB() {
    EXPECT_TRUE(b->processChanges());
    loopB.runUntilIdle();
  }
  static HidInputValue axis(uint32_t usage, int64_t v, uint64_t t) { return {kHIDPage_GenericDesktop, usage, v, t}; }

  TempDir dir;
  VirtualRunLoop loopA, loopB;
  std::unique_ptr<World> a, b;
  RegistryId mouse = 0, hid = 0;
  uint32_t location = 0;
};

TEST_F(WorldInputTest, ReportsAndMovementsReachTheOtherProcessOnceInOrder) {
  InputWatcher inA(a->mac(), location), inB(b->mac(), location);
  ASSERT_EQ(inB.devices.size(), 1u);
  ASSERT_TRUE(a->postInputReport(hid, {axis(kHIDUsage_GD_X, 5, 77), axis(kHIDUsage_GD_Y, -3, 77)}));
  ASSERT_TRUE(a->postMouseMoved(2.5, -1));
  ASSERT_TRUE(a->postInputReport(hid, {axis(kHIDUsage_GD_X, 9, 78), axis(kHIDUsage_GD_Y, 0, 78)}));
  loopA.runUntilIdle();
  syncB();
  const std::vector<HidInputValue> want = {axis(kHIDUsage_GD_X, 5, 77), axis(kHIDUsage_GD_Y, -3, 77),
                                           axis(kHIDUsage_GD_X, 9, 78), axis(kHIDUsage_GD_Y, 0, 78)};
  EXPECT_EQ(inB.values, want);
  EXPECT_EQ(inB.moves, std::vector<double>{2.5});
  EXPECT_EQ(inA.values, want) << "the poster's own process sees its input once too";
  EXPECT_EQ(inA.moves, std::vector<double>{2.5});

  // Consumed: nothing again on the next pass, and a process opened later replays nothing.
  ASSERT_TRUE(a->postMouseMoved(7, 0));
  syncB();
  syncB();
  EXPECT_EQ(inB.moves, (std::vector<double>{2.5, 7}));
  VirtualRunLoop loopC;
  auto c = valueOf(World::open(dir.path(), options("later", &loopC)));
  ASSERT_TRUE(c);
  InputWatcher inC(c->mac(), location);
  ASSERT_TRUE(c->processChanges());
  loopC.runUntilIdle();
  EXPECT_TRUE(inC.values.empty());
  EXPECT_TRUE(inC.moves.empty());

  // A device that is no HID device is refused before anything is written.
  EXPECT_FALSE(a->postInputReport(mouse, {axis(kHIDUsage_GD_X, 1, 1)}));
}

TEST_F(WorldInputTest, TheEventFileStaysBounded) {
  for (int i = 0; i < 40; ++i) ASSERT_TRUE(a->postMouseMoved(i, 0));
  auto f = pl::readFile(dir.path() + "/" + sim::kWorldInputFile);
  ASSERT_TRUE(f) << f.error;
  EXPECT_EQ(f.value->arrayFor("Events")->size(), 32u);
  // A reader that fell behind gets the newest events the file still holds.
  InputWatcher inB(b->mac(), location);
  syncB();
  ASSERT_EQ(inB.moves.size(), 32u);
  EXPECT_EQ(inB.moves.front(), 8);
  EXPECT_EQ(inB.moves.back(), 39);
}

TEST_F(WorldInputTest, VelmoraSimMoveReachesARunningProcess) {
  const std::string tool = std::string(VELMORA_BIN_DIR) + "/velmora-sim";
  if (access(tool.c_str(), X_OK) != 0) GTEST_SKIP() << "velmora-sim is not built";
  InputWatcher inB(b->mac(), location);
  std::vector<std::string> args = {tool, "--world", dir.path(), "move", "93a-2510-0-USB", "4", "-6", "--count", "2",
                                   "--interval", "0"};
  std::vector<char*> argv;
  for (auto& s : args) argv.push_back(s.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, tool.c_str(), &fa, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&fa);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  syncB();
  ASSERT_EQ(inB.values.size(), 4u);
  EXPECT_EQ(inB.values[0].integerValue, 4);
  EXPECT_EQ(inB.values[1].integerValue, -6);
  EXPECT_EQ(inB.values[0].timestamp, inB.values[1].timestamp) << "X and Y of one report";
  EXPECT_NE(inB.values[1].timestamp, inB.values[2].timestamp) << "two reports";
}

}  // namespace
}  // namespace vl
