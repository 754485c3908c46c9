// The desktop shared through the world folder: a dialog opened by the tool reaches the agent
// with its activation, the agent's cursor moves and published flag reach the others, trust
// changes travel, and a program's own file goes with it.
#include <gtest/gtest.h>

#include <filesystem>

#include "agent/snapping/ax_helpers.h"
#include "platform/sim/sim_desktop.h"
#include "platform/sim/sim_desktop_world.h"
#include "support/result_value.h"
#include "support/sim_world.h"

namespace vl {
namespace {

TEST(SnappingWorld, ProcessesShareOneDesktop) {
  ErrorStack errors;
  test::TempDir folder;
  VirtualRunLoop loop;
  sim::SimMac agentMac(&loop), toolMac, paneMac;
  RunningApplication agentApp;
  agentApp.bundleIdentifier = "quillon.Velmora.boa";
  agentApp.localizedName = "Velmora Manager";
  auto agent = test::valueOf(sim::SimDesktopWorld::open(folder.path(), agentMac.desktop(), agentApp));
  ASSERT_TRUE(agent);
  auto tool = test::valueOf(sim::SimDesktopWorld::open(folder.path(), toolMac.desktop(), std::nullopt, 999999));
  ASSERT_TRUE(tool);

  std::vector<std::string> activated;
  agentMac.desktop().desktop().observeActivation(
      [&](const RunningApplication& a) { activated.push_back(a.localizedName); });

  // The tool opens a dialog in TextEdit; the agent sees the window focused and the activation.
  uint64_t dialog = 0;
  Status edited = tool->edit([&](sim::SimDesktop& d) {
    int32_t pid = d.ensureApplication("TextEdit");
    d.activate(pid);
    dialog = d.openDialog(pid, {{"Cancel", "Save"}, std::string("Save"), {}, false, ""});
    return dialog != 0 ? Status::success() : Status::failure(1, "no dialog opened");
  });
  ASSERT_TRUE(edited) << edited.detail();
  Status read = agent->processChanges();
  ASSERT_TRUE(read) << read.detail();
  loop.runUntilIdle();
  EXPECT_EQ(activated, std::vector<std::string>{"TextEdit"});
  EXPECT_EQ(agentMac.desktop().focusedWindow(), dialog);
  {
    Platform p = agentMac.platform();
    AXFlagWindow flagWindow;
    Point at;
    AXElementRef app, win;
    ASSERT_EQ(QS842copyFocusedElement(p.accessibility, p.desktop, &app, &win), 0);
    ASSERT_EQ(QS842elementAttrPosition(p.accessibility, p.screens, errors, win, kAXDefaultButtonAttribute, &at), 0);
    // The agent moves the cursor and publishes its flag.
    ASSERT_EQ(agentMac.desktop().cursor().warpMouseCursorPosition(at), 0);
    ASSERT_EQ(QS842updateAXEnabled(p.accessibility, p.desktop, p.defaults, errors, flagWindow, "quillon.Velmora.boa"), 0);
  }

  // Another process (the settings window) reads the flag from the agent's window.
  auto pane = test::valueOf(sim::SimDesktopWorld::open(folder.path(), paneMac.desktop(), std::nullopt, 999998));
  ASSERT_TRUE(pane);
  {
    Platform p = paneMac.platform();
    EXPECT_EQ(QS842getAXEnabledFromWindow(p.desktop, "quillon.Velmora.boa"), std::optional<bool>(true));
  }
  EXPECT_EQ(paneMac.desktop().cursorPosition(), *paneMac.desktop().centreOf(paneMac.desktop().elementNamed("Save")));

  // The tool's own cursor move reaches the agent; the agent's own write never comes back.
  ASSERT_TRUE(tool->edit([](sim::SimDesktop& d) {
    d.moveCursor({10, 20});
    return Status::success();
  }));
  ASSERT_TRUE(agent->processChanges());
  EXPECT_EQ(agentMac.desktop().cursorPosition(), (Point{10, 20}));

  // Taking the permission back reaches the agent.
  ASSERT_TRUE(tool->edit([](sim::SimDesktop& d) {
    d.setTrusted(false);
    return Status::success();
  }));
  ASSERT_TRUE(agent->processChanges());
  EXPECT_FALSE(agentMac.desktop().trusted());
  EXPECT_EQ(agentMac.desktop().focusedWindow(), dialog) << "the agent's elements keep their ids";

  // The tool's edits keep the agent out of desktop.plist; the agent's file goes with it.
  std::string ownFile = folder.path() + "/process-" + std::to_string(::getpid()) + ".plist";
  EXPECT_TRUE(std::filesystem::exists(ownFile));
  agent.reset();
  EXPECT_FALSE(std::filesystem::exists(ownFile));
  ASSERT_TRUE(pane->processChanges());
  for (const auto& a : paneMac.desktop().applications()) EXPECT_NE(a.bundleIdentifier, "quillon.Velmora.boa");
}

}  // namespace
}  // namespace vl
