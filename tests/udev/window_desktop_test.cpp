// The settings window's ports on the real machine: the agent's composition on a umockdev
// machine (its devices, the folder of its files) with the session's reason for no snapping, and
// the workspace that knows the running agent by its instance lock.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

#include "core/system/drovana.h"
#include "core/system/instance_lock.h"
#include "platform/linux/udev_event_system.h"
#include "platform/linux/desktop_session_ports.h"
#include "platform/linux/sd_event_runloop.h"
#include "platform/sim/sim_workspace.h"
#include "support/result_value.h"
#include "support/sim_world.h"
#include "tools/common/agent_workspace.h"
#include "tools/common/window_desktop.h"
#include "udev/mock_machine.h"

namespace vl {
namespace {

namespace fs = std::filesystem;

class Env {
 public:
  void set(const char* name, const char* value) {
    const char* old = ::getenv(name);
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    if (value) ::setenv(name, value, 1);
    else ::unsetenv(name);
  }
  ~Env() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second) ::setenv(it->first.c_str(), it->second->c_str(), 1);
      else ::unsetenv(it->first.c_str());
    }
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

class AgentWorkspaceTest : public test::SimWorld {
 protected:
  // A process of this user in the fake process table whose executable is exe.
  void process(int pid, const std::string& exe) {
    fs::create_directories(proc() + "/" + std::to_string(pid));
    fs::create_symlink(exe, proc() + "/" + std::to_string(pid) + "/exe");
  }
  void lockedBy(int pid) {
    fs::create_directories(fs::path(lock()).parent_path());
    std::ofstream(lock()) << pid << "\n";
  }
  std::string proc() const { return home.path() + "/proc"; }
  std::string lock() const { return home.path() + "/data/velmora/agent/agent.lock"; }
};

TEST_F(AgentWorkspaceTest, TheLocksHolderIsTheAgentOnlyWhenItIsAVelmoraManager) {
  sim::SimWorkspace inner(home.path());
  RunningApplication editor;
  editor.processIdentifier = 500;
  editor.bundleIdentifier = "org.example.Editor";
  inner.launch(editor);
  cli::AgentWorkspace ws(inner, lock(), proc());

  EXPECT_FALSE(ws.runningAgent()) << "no lock file";
  lockedBy(4242);
  EXPECT_FALSE(ws.runningAgent()) << "the holder is gone";
  process(4242, "/usr/bin/bash");
  EXPECT_FALSE(ws.runningAgent()) << "a stale lock names a process id another program now has";

  const std::string bundled = "/opt/v/Velmora Manager.app/Contents/MacOS/Velmora Manager";
  process(4343, bundled);
  lockedBy(4343);
  auto apps = ws.runningApplications();
  ASSERT_EQ(apps.size(), 2u);
  EXPECT_EQ(apps[0].bundleIdentifier, "org.example.Editor");
  EXPECT_EQ(apps[1].bundleIdentifier, velmora::kAgentBundleID);
  EXPECT_EQ(apps[1].processIdentifier, 4343);
  EXPECT_EQ(apps[1].bundleURL, "/opt/v/Velmora Manager.app");
  EXPECT_EQ(apps[1].activationPolicy, 2) << "never offered among the applications to add";
  EXPECT_EQ(ws.urlForApplicationWithBundleIdentifier(velmora::kAgentBundleID), "/opt/v/Velmora Manager.app");

  // Started from the PATH, and replaced on disk by a newer build while running.
  process(4444, "/usr/local/bin/velmora-manager (deleted)");
  lockedBy(4444);
  ASSERT_TRUE(ws.runningAgent());
  EXPECT_TRUE(ws.runningAgent()->bundleURL.empty());
}

TEST_F(AgentWorkspaceTest, TheWindowOnTheDesktopSeesTheDevicesAndSaysWhySnappingIsOff) {
  if (!testing::MockMachine::available()) GTEST_SKIP() << testing::MockMachine::whyUnavailable();
  testing::MockMachine machine;
  machine.addUsbMouse(1, "1", 0x93a, 0x2510, "USB OPTICAL MOUSE");
  Env env;
  env.set("HOME", home.path().c_str());
  env.set("XDG_DATA_HOME", (home.path() + "/data").c_str());
  env.set("XDG_CONFIG_HOME", (home.path() + "/config").c_str());
  env.set("XDG_RUNTIME_DIR", nullptr);  // no restore file could be kept: none is wanted
  struct Case {
    const char *wayland, *display;
    std::string reason;
  } cases[] = {{"wayland-0", nullptr, linux_::kSnappingOffOnWayland},
               {nullptr, nullptr, linux_::kSnappingOffWithoutDisplay}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reason);
    env.set("XDG_SESSION_TYPE", nullptr);
    env.set("WAYLAND_DISPLAY", c.wayland);
    env.set("DISPLAY", c.display);
    auto loop = test::valueOf(linux_::SdEventRunLoop::create());
    ASSERT_TRUE(loop);
    std::vector<std::string> said;
    auto window = test::valueOf(
        cli::WindowDesktop::open(*loop, test::sourceResources(), [&](const std::string& l) { said.push_back(l); }));
    ASSERT_TRUE(window);
    EXPECT_EQ(window->snappingOff(), c.reason);
    EXPECT_EQ(window->dataFolder(), home.path() + "/data/velmora");
    const Platform& p = window->platform();
    ASSERT_TRUE(p.registry && p.eventSystem && p.workspace && p.serviceManager);
    auto* events = dynamic_cast<linux_::UdevEventSystem*>(p.eventSystem);
    ASSERT_NE(events, nullptr);
    EXPECT_EQ(events->services().size(), 1u);
    // The window's workspace is the one that knows the agent.
    EXPECT_NE(dynamic_cast<cli::AgentWorkspace*>(p.workspace), nullptr);
    EXPECT_NE(std::find(said.begin(), said.end(), c.reason), said.end()) << "the reason is logged too";
  }
  EXPECT_FALSE(fs::exists(home.path() + "/run")) << "the window keeps no restore file";
}

}  // namespace
}  // namespace vl
