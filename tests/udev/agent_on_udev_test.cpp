// Velmora Manager's own controller over the Linux adapters on a umockdev machine: the moments
// a device is attached and detached, its identity as the store names it (a paired mouse with
// the model id its receiver gave), and the speed handed to the device's writer.
#include <gtest/gtest.h>

#include <filesystem>

#include "agent/app_controller.h"
#include "core/system/alerts.h"
#include "udev/udev_fixture.h"

namespace vl {
namespace {

class AgentOnUdev : public test::UdevBench {
 protected:
  void SetUp() override {
    test::UdevBench::SetUp();
    if (IsSkipped()) return;
    identity = {ProcessRole::Agent, {"quillon.Velmora.boa", "Velmora Manager", "2.2.3", ""}, {}};
    settings.instanceLockPath = home.path() + "/agent.lock";
    std::filesystem::create_directories(paths.temporary());
  }
  void TearDown() override {
    agent.reset();
  }
  void launch() {
    agent = std::make_unique<AppControllerClass>(platform, errorContext(), settings);
    agent->setActivityLog([this](const std::string& line) { log.push_back({loop.now() - t0, line}); });
    agent->applicationWillFinishLaunching();
    agent->applicationDidFinishLaunching();
  }
  std::optional<double> when(const std::string& part) const {
    for (const auto& [t, l] : log)
      if (l.find(part) != std::string::npos) return t;
    return std::nullopt;
  }
  AgentSettings settings;
  std::unique_ptr<AppControllerClass> agent;
  std::vector<std::pair<double, std::string>> log;
  double t0 = 0;
};

TEST_F(AgentOnUdev, AMousePluggedInIsAppliedAndItsLeavingIsLogged) {
  start();
  t0 = loop.now();
  launch();
  std::string ev = mock.addUsbMouse(1, "2", 0x093A, 0x2510, "USB Optical Mouse", true);
  loop.advance(3.0);
  // Announced 1.8 s after it appeared (agent's standby 0.8 + 1.0 for a new device), applied 0.5 s later.
  ASSERT_TRUE(when("93a-2510-0-USB attached"));
  EXPECT_NEAR(*when("93a-2510-0-USB attached"), 1.8, 1e-6);
  ASSERT_TRUE(when("applied favourite"));
  EXPECT_NEAR(*when("applied favourite"), 2.3, 1e-6);
  ASSERT_GE(writer.writes.size(), 2u);
  EXPECT_EQ(writer.writes[0].key, "HIDPointerResolution");
  EXPECT_EQ(writer.writes[1].key, "HIDMouseAcceleration");
  EXPECT_EQ(writer.writes[0].node, machine->devices().at(ev).info.devNode);

  mock.remove(ev);
  loop.runUntilIdle();
  EXPECT_TRUE(when("93a-2510-0-USB detached"));
}

TEST_F(AgentOnUdev, PairedMiceAreNamedWithTheirModelIds) {
  mock.addReceiver(1, "4", 0xC52B, {{1, 0x4082}, {2, 0x4069}});
  start();
  t0 = loop.now();
  launch();
  loop.advance(2.0);
  EXPECT_NEAR(when("46d-c52b-4082-USB attached").value_or(-1), 0.8, 1e-6);
  EXPECT_NEAR(when("46d-c52b-4069-USB attached").value_or(-1), 0.8, 1e-6);
  EXPECT_FALSE(when("46d-c52b-0-USB"));
}

}  // namespace
}  // namespace vl
