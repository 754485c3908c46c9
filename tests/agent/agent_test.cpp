// Velmora Manager's controller on the simulated Mac in virtual time: start-up checks and their
// fatal ends, applying each device's favourite at the right moments, restoring the system
// speed, the sibling-product rules, and the pane's commands.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "agent/app_controller.h"
#include "core/errors/alerts.h"
#include "core/hid/fixed_point.h"
#include "core/plist/codec.h"
#include "core/store/cursor_speed_record.h"
#include "core/store/device_record.h"
#include "core/store/store.h"
#include "core/system/boa_notifications.h"
#include "platform/sim/sim_file_manager.h"
#include "support/sim_world.h"

namespace vl {
namespace {

struct StoredDevice {
  uint32_t vid, pid, mid;
  std::string transport;
  double sensitivity;
  double tracking;
  bool disableAccl = false;
  bool disabled = false;
};

class Agent : public test::SimWorld {
 protected:
  Agent() {
    setProcessIdentity({ProcessRole::Agent, {"quillon.Velmora.boa", "Velmora Manager", "2.2.3", ""}, {}});
    mac.setProcessName("Velmora Manager");
    settings.instanceLockPath = home.path() + "/agent.lock";
    std::filesystem::create_directories(paths.temporary());
  }
  ~Agent() override {
    agent.reset();
    setProcessIdentity({});
  }

  // Writes the devices into the store as the pane would: five favourites, the chosen one
  // (index 2) set to the given values.
  void writeStore(const std::vector<StoredDevice>& devices) {
    StoreContextRef ctx;
    ErrorInfo error;
    ASSERT_EQ(QS814openMOC(nullptr, false, &ctx, &error), 0) << error.domain << " " << error.code;
    for (const auto& d : devices) {
      QS802DeviceClass* rec = QS814fetchDevice(d.vid, d.pid, d.mid, d.transport, ctx.get());
      if (!rec) {
        rec = QS814insertDevice(ctx.get());
        rec->setVid(d.vid);
        rec->setPid(d.pid);
        rec->setMid(d.mid);
        rec->setTransport(d.transport);
        ASSERT_TRUE(rec->insert5CursorSpeedsWithSens(-1, -1));
      }
      rec->setCursorSpeedSelectedIndex(2);
      rec->setCursorSpeedDisabled(d.disabled);
      QS805CursorSpeedClass* cs = rec->selectedCursorSpeed();
      ASSERT_TRUE(cs);
      char buf[32];
      std::snprintf(buf, sizeof buf, "%g", d.sensitivity);
      cs->setSensitivity(std::string(buf));
      std::snprintf(buf, sizeof buf, "%g", d.tracking);
      cs->setTrackingSpeed(std::string(buf));
      cs->setDisableAccl(d.disableAccl);
    }
    ASSERT_EQ(QS814saveMOC(ctx.get(), &error), 0);
  }

  void launch() {
    agent = std::make_unique<AppControllerClass>(settings);
    agent->applicationWillFinishLaunching();
    agent->applicationDidFinishLaunching();
  }

  // The last value written to key on the first pointing service of top.
  std::optional<int32_t> written(RegistryId top, const std::string& key, size_t service = 0) {
    RegistryId id = mac.eventServicesOf(top).at(service);
    std::optional<int32_t> v;
    for (const auto& w : mac.writes())
      if (w.service == id && w.key == key) v = w.value.intValue();
    return v;
  }
  size_t writesTo(RegistryId top) {
    auto ids = mac.eventServicesOf(top);
    size_t n = 0;
    for (const auto& w : mac.writes())
      if (std::find(ids.begin(), ids.end(), w.service) != ids.end()) ++n;
    return n;
  }
  void postCommand(pl::Dict info) {
    mac.notifications().post(kBOANotificationName, "quillon.Velmora.prefpane", info);
    loop.runUntilIdle();
  }
  pl::Dict deviceCommand(const char* command, const StoredDevice& d) {
    return pl::Dict{{key::kCommand, command},     {key::kVID, pl::Value::uint32(d.vid)},
                    {key::kPID, pl::Value::uint32(d.pid)}, {key::kMID, pl::Value::uint32(d.mid)},
                    {key::kTransport, d.transport}};
  }

  AgentSettings settings;
  std::unique_ptr<AppControllerClass> agent;
  const StoredDevice usbMouse{0x093A, 0x2510, 0, "USB", 800, 1.5};
  const StoredDevice trackpad{0x05AC, 0x0273, 0, "USB", 600, 2.0};
};

TEST_F(Agent, AppliesTheChosenFavouriteAfterStandbyAndDelay) {
  writeStore({usbMouse});
  RegistryId present = attach("generic-usb-optical-mouse");
  launch();
  ASSERT_TRUE(agent->launched());
  double t0 = loop.now();
  loop.advance(1.29);  // 0.8 standby + 0.5 apply
  EXPECT_FALSE(written(present, "HIDPointerResolution"));
  loop.advance(0.02);
  EXPECT_EQ(written(present, "HIDPointerResolution"), X2Fix(800));
  EXPECT_EQ(written(present, "HIDMouseAcceleration"), X2Fix(1.5));

  // A device that appears later: 0.8 + 1.0 standby, then 0.5.
  RegistryId later = attach("macbook-pro-internal-trackpad");
  t0 = loop.now();
  loop.advance(2.29);
  EXPECT_FALSE(written(later, "HIDPointerResolution"));
  loop.advance(0.02);
  // Not in the store: the agent's record has the default favourites, the first one chosen.
  EXPECT_EQ(written(later, "HIDPointerResolution"), X2Fix(400));
  EXPECT_EQ(written(later, "HIDTrackpadAcceleration"), X2Fix(0.6875));
  (void)t0;
}

TEST_F(Agent, TwoServicesOfOneDeviceShareOneEntry) {
  launch();
  RegistryId pad = attach("magic-trackpad-2-usb");
  loop.advance(3);
  ASSERT_EQ(agent->connectedDeviceList()->size(), 1u);
  EXPECT_EQ(agent->connectedDeviceList()->front()->clientList().size(), 2u);
  // The entry takes the acceleration key of the last service that named one, for both.
  EXPECT_EQ(agent->connectedDeviceList()->front()->pointerAcclType(), "HIDTrackpadAcceleration");
  EXPECT_TRUE(written(pad, "HIDTrackpadAcceleration", 0));
  EXPECT_TRUE(written(pad, "HIDTrackpadAcceleration", 1));
  mac.detach(pad);
  loop.runUntilIdle();
  EXPECT_TRUE(agent->connectedDeviceList()->empty());
}

TEST_F(Agent, UnsupportedServicesGetNoEntry) {
  launch();
  attach("wacom-intuos-tablet");
  attach("hid-compatibility-shim");
  loop.advance(3);
  EXPECT_TRUE(agent->connectedDeviceList()->empty());
  EXPECT_TRUE(mac.writes().empty());
}

TEST_F(Agent, LogoutRestoresAndLoginReappliesAfterOneAndAHalfSeconds) {
  writeStore({usbMouse});
  mac.setSystemAcceleration("HIDMouseAcceleration", 0.875);
  RegistryId mouse = attach("generic-usb-optical-mouse");
  launch();
  loop.advance(2);
  ASSERT_EQ(written(mouse, "HIDMouseAcceleration"), X2Fix(1.5));
  mac.logout();
  loop.runUntilIdle();
  EXPECT_EQ(written(mouse, "HIDPointerResolution"), X2Fix(400));  // what the device had
  EXPECT_EQ(written(mouse, "HIDMouseAcceleration"), X2Fix(0.875));  // the system's value
  mac.login();
  loop.runUntilIdle();
  loop.advance(1.49);
  EXPECT_EQ(written(mouse, "HIDMouseAcceleration"), X2Fix(0.875));
  loop.advance(0.02);
  EXPECT_EQ(written(mouse, "HIDMouseAcceleration"), X2Fix(1.5));
}

TEST_F(Agent, UnlockSystemSpeedAndDisplayChangesReapplyWithTheirDelays) {
  writeStore({usbMouse});
  RegistryId mouse = attach("generic-usb-optical-mouse");
  launch();
  loop.advance(2);
  struct Case {
    std::function<void()> event;
    double delay;
  } cases[] = {
      {[&] { mac.lockScreen(); loop.runUntilIdle(); mac.unlockScreen(); }, 0.0},
      {[&] { mac.setSystemAcceleration("HIDMouseAcceleration", 3.0); }, 0.5},
      {[&] { mac.displayChange(); }, 2.0},
      {[&] { mac.displayChange(); loop.advance(1.0); mac.displayChange(); }, 2.0},  // replaced
  };
  for (const auto& c : cases) {
    mac.clearWrites();
    c.event();
    loop.runPass();
    if (c.delay > 0) {
      loop.advance(c.delay - 0.01);
      EXPECT_EQ(writesTo(mouse), 0u) << c.delay;
      loop.advance(0.02);
    }
    EXPECT_EQ(writesTo(mouse), 2u) << c.delay;  // resolution and acceleration, once
  }
}

TEST_F(Agent, QuitRestoresEveryDevice) {
  writeStore({usbMouse, trackpad});
  mac.setSystemAcceleration("HIDMouseAcceleration", 0.5);
  mac.setSystemAcceleration("HIDTrackpadAcceleration", 25.0);
  RegistryId mouse = attach("generic-usb-optical-mouse");
  RegistryId pad = attach("macbook-pro-internal-trackpad");
  launch();
  loop.advance(2);
  agent->applicationWillTerminate();
  EXPECT_EQ(written(mouse, "HIDMouseAcceleration"), X2Fix(0.5));
  EXPECT_EQ(written(pad, "HIDTrackpadAcceleration"), X2Fix(20.0));  // capped
  EXPECT_EQ(written(pad, "HIDPointerResolution"), X2Fix(400));
  EXPECT_TRUE(lifecycle.exits.empty());
}

TEST_F(Agent, DrovanaInstalledLeavesOrdinaryMiceAlone) {
  std::filesystem::create_directories(paths.preferencePanes()[0] + "/Drovana.prefPane/Contents");
  auto info = pl::writeXml(pl::Value(pl::Dict{{"CFBundleVersion", "5.4"}, {"MyBuildDate", "2030-01-01"}}));
  std::string err;
  ASSERT_TRUE(pl::writeFileAtomic(paths.preferencePanes()[0] + "/Drovana.prefPane/Contents/Info.plist",
                                  std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(info.data()), info.size()),
                                  &err));
  RegistryId mouse = attach("generic-usb-optical-mouse");
  RegistryId pad = attach("magic-trackpad-2-bluetooth");
  launch();
  EXPECT_EQ(agent->dvVersion(), 0x05408000u);
  loop.advance(2);
  EXPECT_EQ(writesTo(mouse), 0u);
  EXPECT_EQ(writesTo(pad), 2u);
  agent->applicationWillTerminate();
  EXPECT_EQ(writesTo(mouse), 0u);
}

TEST_F(Agent, IncompatibleDrovanaEndsTheAgentBeforeAnyDevice) {
  std::filesystem::create_directories(paths.preferencePanes()[0] + "/Drovana.prefPane/Contents");
  auto info = pl::writeXml(pl::Value(pl::Dict{{"CFBundleVersion", "6.0"}}));
  std::string err;
  pl::writeFileAtomic(paths.preferencePanes()[0] + "/Drovana.prefPane/Contents/Info.plist",
                      std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(info.data()), info.size()), &err);
  attach("generic-usb-optical-mouse");
  launch();
  EXPECT_FALSE(agent->launched());
  ASSERT_EQ(lifecycle.exits.size(), 1u);
  EXPECT_NE(lifecycle.exits[0], 0);
  ASSERT_EQ(alerts.modal.size(), 1u);
  EXPECT_EQ(alerts.modal[0].userInfo.at(kDescriptionKey).describe(),
            "This version does not have compatibility with Drovana currently you are using. Please upgrade Velmora "
            "to the latest version.");
  loop.advance(3);
  EXPECT_TRUE(mac.writes().empty());
}

TEST_F(Agent, OldSystemAndSecondCopyEndAtOnce) {
  mac.setOsVersion({10, 11, 6});
  launch();
  EXPECT_FALSE(agent->launched());
  EXPECT_EQ(alerts.modal.at(0).userInfo.at(kDescriptionKey).describe(), "macOS Sierra 10.12 or later is required.");

  mac.setOsVersion({13, 0, 0});
  agent.reset();
  alerts.modal.clear();
  lifecycle.exits.clear();
  AppControllerClass first(settings);
  first.applicationDidFinishLaunching();
  ASSERT_TRUE(first.launched());
  launch();
  EXPECT_FALSE(agent->launched());
  EXPECT_EQ(lifecycle.exits.size(), 1u);
  EXPECT_NE(alerts.modal.at(0).userInfo.at(kRecoverySuggestionKey).describe().find("100.0757"), std::string::npos);
}

TEST_F(Agent, CursorSpeedCommandAppliesTheStoredValuesAtOnce) {
  writeStore({usbMouse});
  RegistryId mouse = attach("generic-usb-optical-mouse");
  launch();
  loop.advance(2);
  // The pane saves a new choice, then tells the agent; the payload's speed keys do not count.
  StoredDevice changed = usbMouse;
  changed.sensitivity = 1200;
  changed.tracking = 3.0;
  writeStore({changed});
  pl::Dict cmd = deviceCommand(cmd::kCursorSpeed, usbMouse);
  cmd[key::kSensitivity] = "10";
  cmd[key::kTrackingSpeed] = "0.1";
  postCommand(cmd);
  EXPECT_EQ(written(mouse, "HIDPointerResolution"), X2Fix(1200));
  EXPECT_EQ(written(mouse, "HIDMouseAcceleration"), X2Fix(3.0));
}

TEST_F(Agent, ActivateCommandRestoresOrApplies) {
  writeStore({usbMouse});
  mac.setSystemAcceleration("HIDMouseAcceleration", 0.25);
  RegistryId mouse = attach("generic-usb-optical-mouse");
  launch();
  loop.advance(2);
  StoredDevice off = usbMouse;
  off.disabled = true;
  writeStore({off});
  postCommand(deviceCommand(cmd::kCursorSpeedActivate, usbMouse));
  EXPECT_EQ(written(mouse, "HIDMouseAcceleration"), X2Fix(0.25));
  // While disabled, re-applies write nothing.
  mac.clearWrites();
  agent->setCursorSpeedAfterDelay(0);
  loop.runUntilIdle();
  EXPECT_EQ(writesTo(mouse), 0u);
  writeStore({usbMouse});
  postCommand(deviceCommand(cmd::kCursorSpeedActivate, usbMouse));
  EXPECT_EQ(written(mouse, "HIDMouseAcceleration"), X2Fix(1.5));
}

TEST_F(Agent, CommandsForOthersOrUnknownOnesChangeNothing) {
  writeStore({usbMouse});
  RegistryId mouse = attach("generic-usb-optical-mouse");
  launch();
  loop.advance(2);
  mac.clearWrites();
  pl::Dict forDrovana = deviceCommand(cmd::kCursorSpeed, usbMouse);
  forDrovana[key::kReceiver] = "quillon.boa.Drovana";
  postCommand(forDrovana);
  postCommand(deviceCommand("cursor speed cmd", usbMouse));
  postCommand(deviceCommand(cmd::kCursorSpeed, {0x1234, 1, 0, "USB", 0, 0}));  // not connected
  // Keys of the wrong type read as absent rather than failing.
  postCommand(pl::Dict{{key::kCommand, cmd::kCursorSpeed}, {key::kVID, "oops"}, {key::kTransport, 7}});
  postCommand(pl::Dict{});
  EXPECT_EQ(writesTo(mouse), 0u);
  EXPECT_TRUE(lifecycle.exits.empty());
  // An empty receiver acts.
  pl::Dict empty = deviceCommand(cmd::kCursorSpeed, usbMouse);
  empty[key::kReceiver] = "";
  postCommand(empty);
  EXPECT_EQ(writesTo(mouse), 2u);
}

TEST_F(Agent, LaunchAnnouncementAndSnappingDecision) {
  launch();
  ASSERT_FALSE(mac.postedNotifications().empty());
  const auto& announced = mac.postedNotifications().front();
  EXPECT_EQ(announced.userInfo.at(key::kReceiver).describe(), "quillon.boa.Drovana");
  EXPECT_EQ(announced.userInfo.at(key::kCommand).describe(), cmd::kApplicationLaunched);
  EXPECT_EQ(announced.userInfo.at(key::kVersion).unsignedIntValue(), 0x02238000u);
  // Without our own pane installed, our build date is empty: snapping stays off.
  EXPECT_FALSE(agent->snappingStarted());
}

TEST_F(Agent, FailedApplyIsFatalWithTheWholeChain) {
  StoredDevice tooFast = usbMouse;
  tooFast.tracking = 20.5;
  writeStore({tooFast});
  attach("generic-usb-optical-mouse");
  launch();
  loop.advance(2);
  ASSERT_EQ(lifecycle.exits.size(), 1u);
  EXPECT_EQ(alerts.modal.at(0).userInfo.at(kRecoverySuggestionKey).describe(),
            "Error (Velmora Manager 2.2.3) 522.0112, 522.0093, 522.0076, 852.0339, 852.0366, ");
}

TEST_F(Agent, CrashReportIsWrittenPerUserAndNotThroughALink) {
  launch();
  std::string path = agent->crashReportPath();
  EXPECT_EQ(path.rfind(paths.temporary(), 0), 0u);
  std::string victim = home.path() + "/victim";
  { std::ofstream(victim) << "keep"; }
  std::filesystem::create_symlink(victim, path);
  agent->exceptionHandler("");
  std::ifstream v(victim);
  std::string kept((std::istreambuf_iterator<char>(v)), {});
  EXPECT_EQ(kept, "keep");
  std::ifstream r(path);
  std::string report((std::istreambuf_iterator<char>(r)), {});
  EXPECT_NE(report.find("Velmora Manager 2.2.3, "), std::string::npos);
  EXPECT_NE(report.find("No log."), std::string::npos);
  EXPECT_EQ(lifecycle.exits.size(), 1u);
}

TEST_F(Agent, CrashReportIsShownInTheFileViewerWhenThereIsOne) {
  launch();
  for (bool viewer : {true, false}) {
    SCOPED_TRACE(viewer ? "with a file viewer" : "without one");
    mac.fileManager().setAvailable(viewer);
    size_t notices = alerts.notices.size(), exits = lifecycle.exits.size();
    agent->exceptionHandler("frame 1");
    EXPECT_EQ(mac.fileManager().requests().back(), agent->crashReportPath());
    // Without a viewer the notice (which names the path) and the end still follow.
    EXPECT_EQ(alerts.notices.size(), notices + 1);
    EXPECT_EQ(lifecycle.exits.size(), exits + 1);
  }
  EXPECT_EQ(mac.fileManager().shown(), std::vector<std::string>{agent->crashReportPath()});
}

TEST(LogViewer, FollowsTheEndOnlyWhenTheUserWasThere) {
  LogViewer log;
  log.setVisibleHeight(30);  // two lines
  for (int i = 0; i < 5; ++i) log.putLogViewer("line\n");
  double end = log.documentHeight() - 30;
  EXPECT_DOUBLE_EQ(log.scrollY(), end);
  log.scrollTo(end - 20);  // scrolled up by more than 10 points
  log.putLogViewer("more\n");
  EXPECT_DOUBLE_EQ(log.scrollY(), end - 20);
  log.scrollTo(log.documentHeight() - 30 - 5);  // within 10 points of the end
  log.putLogViewer("again\n");
  EXPECT_DOUBLE_EQ(log.scrollY(), log.documentHeight() - 30);
  log.putLogViewer("");
  EXPECT_TRUE(log.textViewDoCommandBySelector("insertNewline:"));
  EXPECT_EQ(log.text().substr(log.text().size() - 2), "\n\n");
  EXPECT_FALSE(log.textViewDoCommandBySelector("moveUp:"));
  EXPECT_TRUE(log.textViewDoCommandBySelector("deleteBackward:"));
  EXPECT_EQ(log.text(), "");
}

TEST(LogViewer, SaveAndTearDown) {
  test::TempDir dir;
  LogViewer log;
  log.putLogViewer("héllo\n");
  EXPECT_TRUE(log.saveLogViewer(dir.path() + "/" + LogViewer::kProposedFileName));
  std::ifstream f(dir.path() + "/" + LogViewer::kProposedFileName);
  std::string s((std::istreambuf_iterator<char>(f)), {});
  EXPECT_EQ(s, "héllo\n");
  EXPECT_FALSE(log.saveLogViewer(dir.path() + "/missing/folder/file.txt"));
  log.setSheetOpen(true);
  log.closeLogViewer();
  EXPECT_FALSE(log.sheetOpen());
  EXPECT_EQ(log.text(), "");
}

}  // namespace
}  // namespace vl
