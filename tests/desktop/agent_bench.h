// Test support: Velmora Manager's controller on the simulated Mac's devices in virtual time,
// with any of its desktop ports swapped for a real adapter, a mouse whose favourite is stored,
// and what the devices were written.
#pragma once

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "agent/app_controller.h"
#include "core/system/alerts.h"
#include "core/hid/fixed_point.h"
#include "core/plist/number_text.h"
#include "core/store/cursor_speed_record.h"
#include "core/store/device_record.h"
#include "core/store/store.h"
#include "support/sim_world.h"

namespace vl::test {

class AgentOnSim : public SimWorld {
 protected:
  AgentOnSim() {
    identity = {ProcessRole::Agent, {"quillon.Velmora.boa", "Velmora Manager", "2.2.3", ""}, {}};
    mac.setProcessName("Velmora Manager");
    settings.instanceLockPath = home.path() + "/agent.lock";
    std::filesystem::create_directories(paths.temporary());
  }
  ~AgentOnSim() override {
    agent.reset();
  }

  // A plain USB mouse whose chosen favourite is 800 / 1.5, attached before the agent starts.
  RegistryId storedMouse() {
    StoreContextRef ctx;
    ErrorInfo error;
    EXPECT_EQ(QS814openMOC(platform, errors, nullptr, false, &ctx, &error), 0);
    QS802DeviceClass* rec = QS814insertDevice(errors, ctx.get());
    rec->setVid(0x093A);
    rec->setPid(0x2510);
    rec->setMid(0);
    rec->setTransport("USB");
    EXPECT_TRUE(rec->insert5CursorSpeedsWithSens(-1, -1));
    rec->setCursorSpeedSelectedIndex(2);
    QS805CursorSpeedClass* cs = rec->selectedCursorSpeed();
    EXPECT_TRUE(cs->setSensitivity(pl::formatG(800)));
    EXPECT_TRUE(cs->setTrackingSpeed(pl::formatG(1.5)));
    EXPECT_EQ(QS814saveMOC(ctx.get(), &error), 0);
    return attach("generic-usb-optical-mouse");
  }

  void launch() {
    agent = std::make_unique<AppControllerClass>(platform, errorContext(), settings);
    agent->setActivityLog([this](const std::string& line) { logLines.push_back(line); });
    agent->applicationWillFinishLaunching();
    agent->applicationDidFinishLaunching();
  }

  size_t writesTo(RegistryId top) {
    auto ids = mac.eventServicesOf(top);
    return std::count_if(mac.writes().begin(), mac.writes().end(),
                         [&](const auto& w) { return std::find(ids.begin(), ids.end(), w.service) != ids.end(); });
  }
  std::optional<int32_t> written(RegistryId top, const std::string& key) {
    RegistryId id = mac.eventServicesOf(top).at(0);
    std::optional<int32_t> v;
    for (const auto& w : mac.writes())
      if (w.service == id && w.key == key) v = w.value.intValue();
    return v;
  }
  size_t logged(const std::string& part) const {
    return std::count_if(logLines.begin(), logLines.end(),
                         [&](const std::string& l) { return l.find(part) != std::string::npos; });
  }

  AgentSettings settings;
  std::unique_ptr<AppControllerClass> agent;
  std::vector<std::string> logLines;
};

}  // namespace vl::test
