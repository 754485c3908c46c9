// Test bench for the settings pane's controller: a simulated Mac in virtual time with a
// workspace, a service manager and administrator prompt kept in a temporary world folder, the
// pane's bundle with the agent inside, a recording window, and helpers to read what the pane
// told the agent.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/system/alerts.h"
#include "core/store/cursor_speed_record.h"
#include "core/store/device_record.h"
#include "core/store/store.h"
#include "core/store/user_info_record.h"
#include "core/system/boa_notifications.h"
#include "pane/controller/pane_controller.h"
#include "platform/api/sleeper.h"
#include "platform/sim/sim_workspace.h"
#include "platform/sim/world_service_manager.h"
#include "support/sim_world.h"
#include "tests/pane/fake_pane_window.h"

namespace vl::test {

// Waits of the launch-agent functions pass in virtual time.
class VirtualTimeSleeper : public Sleeper {
 public:
  void sleep(double seconds) override { slept += seconds; }
  double slept = 0;
};

// The world's service manager, which a test can make refuse to load the agent.
class TestServiceManager : public sim::WorldServiceManager {
 public:
  using WorldServiceManager::WorldServiceManager;
  bool isLoaded(const std::string& label) override { return !refuseLoad && WorldServiceManager::isLoaded(label); }
  std::string explainLoadFailure(const std::string& label) override {
    return refuseLoad ? explanation : WorldServiceManager::explainLoadFailure(label);
  }
  bool refuseLoad = false;
  std::string explanation;
};

class PaneBench : public SimWorld {
 protected:
  PaneBench()
      : workspace(home.path()),
        services(home.path() + "/world",
                 [this](const std::vector<std::string>& argv, const std::string&) -> Result<pid_t> {
                   spawned.push_back(argv);
                   return static_cast<pid_t>(7000 + spawned.size());
                 }),
        admin(home.path() + "/world") {
    identity = {ProcessRole::Pane, {}, {"quillon.Velmora.prefpane", "Velmora", "2.2.3", ""}};
    std::filesystem::create_directories(home.path() + "/world");
    platform.workspace = &workspace;
    platform.serviceManager = &services;
    platform.adminPrompt = &admin;
    platform.sleeper = &sleeper;
    bundlePath = home.path() + "/Library/PreferencePanes/Velmora.prefPane";
    agentPath = bundlePath + "/" + kAgentRelativePath;
    EXPECT_TRUE(workspace.makeBundle(agentPath, "quillon.Velmora.boa", false));
    settings.bundlePath = bundlePath;
    std::string folder = home.path() + "/Library/Application Support/Drovana & Velmora";
    std::filesystem::create_directories(folder);
    settings.storePath = folder + "/Device.dvsetting";
  }
  ~PaneBench() override {
    pane.reset();
  }

  void make() { pane = std::make_unique<quillon_Velmora_prefpane>(platform, errorContext(), window, settings); }
  // Loads and shows the pane as the settings host does.
  void open() {
    if (!pane) make();
    nib = pane->mainNibName();
    pane->mainViewDidLoad();
    pane->willSelect();
    pane->didSelect();
    loop.runUntilIdle();
  }
  void leave() {
    ASSERT_TRUE(pane->shouldUnselect());
    pane->willUnselect();
    loop.runUntilIdle();
  }

  // A store the way an earlier visit left it.
  struct Stored {
    uint32_t vid, pid, mid;
    std::string transport;
    std::string name;
  };
  void writeStore(const std::vector<Stored>& devices, const std::optional<std::string>& selectedIndex = {}) {
    StoreContextRef ctx;
    ErrorInfo error;
    ASSERT_EQ(QS814createMOC(platform, errors, settings.storePath, nullptr, false, &ctx, &error), 0) << error.code;
    for (const auto& d : devices) {
      QS802DeviceClass* rec = QS814insertDevice(errors, ctx.get());
      rec->setVid(d.vid);
      rec->setPid(d.pid);
      rec->setMid(d.mid);
      rec->setTransport(d.transport);
      rec->setName(d.name);
      ASSERT_TRUE(rec->insert5CursorSpeedsWithSens(-1, -1));
    }
    if (selectedIndex) {
      QS809UserInfoClass* info = QS814insertUserInfo(errors, ctx.get());
      info->setVlDeviceSelectedIndex(selectedIndex);
    }
    ASSERT_EQ(QS814saveMOC(ctx.get(), &error), 0);
  }

  // The commands posted to the agent so far.
  std::vector<pl::Dict> commands(const std::string& command = {}) const {
    std::vector<pl::Dict> out;
    for (const auto& n : mac.postedNotifications()) {
      if (n.name != kBOANotificationName) continue;
      auto c = commandString(n.userInfo, key::kCommand);
      if (command.empty() || c == command) out.push_back(n.userInfo);
    }
    return out;
  }
  std::vector<std::string> deviceNames() const {
    std::vector<std::string> names;
    for (QS802DeviceClass* d : pane->deviceList().arrangedObjects()) names.push_back(d->displayName());
    return names;
  }
  bool ended() const { return !lifecycle.exits.empty(); }

  sim::SimWorkspace workspace;
  TestServiceManager services;
  sim::WorldAdminPrompt admin;
  VirtualTimeSleeper sleeper;
  std::vector<std::vector<std::string>> spawned;
  std::string bundlePath, agentPath;
  PaneSettings settings;
  FakePaneWindow window;
  std::unique_ptr<quillon_Velmora_prefpane> pane;
  std::string nib;
};

}  // namespace vl::test
