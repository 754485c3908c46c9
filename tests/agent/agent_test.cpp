// Velmora Manager's controller on the simulated Mac in virtual time: start-up checks and their
// fatal ends, applying each device's favourite at the right moments, restoring the system
// speed, the sibling-product rules, and the pane's commands.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "agent/app_controller.h"
#include "core/system/alerts.h"
#include "core/hid/fixed_point.h"
#include "core/plist/codec.h"
#include "core/plist/number_text.h"
#include "core/store/cursor_speed_record.h"
#include "core/store/device_record.h"
#include "core/store/store.h"
#include "core/store/web_sharing.h"
#include "core/system/boa_notifications.h"
#include "support/comma_locale.h"
#include "platform/sim/sim_desktop.h"
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
    identity = {ProcessRole::Agent, {"quillon.Velmora.boa", "Velmora Manager", "2.2.3", ""}, {}};
    mac.setProcessName("Velmora Manager");
    settings.instanceLockPath = home.path() + "/agent.lock";
    std::filesystem::create_directories(paths.temporary());
  }
  ~Agent() override {
    agent.reset();
  }

  // Writes the devices into the store as the pane would: five favourites, the chosen one
  // (index 2) set to the given values.
  void writeStore(const std::vector<StoredDevice>& devices) {
    StoreContextRef ctx;
    ErrorInfo error;
    ASSERT_EQ(QS814openMOC(platform, errors, nullptr, false, &ctx, &error), 0) << error.domain << " " << error.code;
    for (const auto& d : devices) {
      QS802DeviceClass* rec = QS814fetchDevice(errors, d.vid, d.pid, d.mid, d.transport, ctx.get());
      if (!rec) {
        rec = QS814insertDevice(errors, ctx.get());
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
      ASSERT_TRUE(cs->setSensitivity(pl::formatG(d.sensitivity)));
      ASSERT_TRUE(cs->setTrackingSpeed(pl::formatG(d.tracking)));
      cs->setDisableAccl(d.disableAccl);
    }
    ASSERT_EQ(QS814saveMOC(ctx.get(), &error), 0);
  }

  void launch() {
    agent = std::make_unique<AppControllerClass>(platform, errorContext(), settings);
    agent->setActivityLog([this](const std::string& line) { logLines.push_back(line); });
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
    EXPECT_TRUE(mac.notifications().post(kBOANotificationName, "quillon.Velmora.prefpane", info).ok());
    loop.runUntilIdle();
  }
  pl::Dict deviceCommand(const char* command, const StoredDevice& d) {
    return pl::Dict{{key::kCommand, command},     {key::kVID, pl::Value::uint32(d.vid)},
                    {key::kPID, pl::Value::uint32(d.pid)}, {key::kMID, pl::Value::uint32(d.mid)},
                    {key::kTransport, d.transport}};
  }

  // Puts values into a device's chosen favourite behind the records' back, as another program
  // or a damaged file could.
  void rawFavourite(const StoredDevice& d, const char* sensitivity, const char* tracking, bool disableAccl = false) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(QS814prefsFileURL(platform, errors).value().c_str(), &db), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db,
                                 "UPDATE CursorSpeed SET sensitivity = ?1, trackingSpeed = ?2, disableAccl = ?3 "
                                 "WHERE \"index\" = 2 AND device = (SELECT _pk FROM Device WHERE vid = ?4 AND pid = ?5)",
                                 -1, &st, nullptr),
              SQLITE_OK)
        << sqlite3_errmsg(db);
    sqlite3_bind_text(st, 1, sensitivity, -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 2, tracking, -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(st, 3, disableAccl ? 1 : 0);
    sqlite3_bind_int64(st, 4, d.vid);
    sqlite3_bind_int64(st, 5, d.pid);
    EXPECT_EQ(sqlite3_step(st), SQLITE_DONE);
    EXPECT_EQ(sqlite3_changes(db), 1);
    sqlite3_finalize(st);
    sqlite3_close(db);
  }
  // Sets one column of the device's chosen favourite to an SQL literal ('text', NULL, X'..').
  void rawColumn(const StoredDevice& d, const char* column, const std::string& literal) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(QS814prefsFileURL(platform, errors).value().c_str(), &db), SQLITE_OK);
    std::string sql = std::string("UPDATE CursorSpeed SET ") + column + " = " + literal +
                      " WHERE \"index\" = 2 AND device = (SELECT _pk FROM Device WHERE vid = " + std::to_string(d.vid) +
                      " AND pid = " + std::to_string(d.pid) + ")";
    char* msg = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &msg), SQLITE_OK) << (msg ? msg : "");
    EXPECT_EQ(sqlite3_changes(db), 1);
    sqlite3_free(msg);
    sqlite3_close(db);
  }
  size_t logged(const std::string& part) const {
    return std::count_if(logLines.begin(), logLines.end(),
                         [&](const std::string& l) { return l.find(part) != std::string::npos; });
  }
  // A run that ends without its shutdown (killed): the devices keep what it wrote.
  void killAgent() {
    RunLoop* rl = &loop;
    rl->cancelAllPerforms(agent.get());
    agent.reset();
  }
  std::string restoreFile() const { return paths.applicationSupport() + "/" + kRestoreValuesFile; }

  AgentSettings settings;
  std::unique_ptr<AppControllerClass> agent;
  std::vector<std::string> logLines;
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

// The settings window sets the user's locale at start; under a decimal comma the agent must
// still read the stored texts and log the values it wrote as they are.
TEST_F(Agent, StoredTextsAndLogLinesKeepADotUnderACommaLocale) {
  VELMORA_WITH_COMMA_LOCALE(locale);
  writeStore({{0x093A, 0x2510, 0, "USB", 1200.5, 0.6875}});
  std::vector<std::string> lines;
  RegistryId mouse = attach("generic-usb-optical-mouse");
  launch();
  agent->setActivityLog([&](const std::string& l) { lines.push_back(l); });
  loop.advance(2);
  EXPECT_EQ(written(mouse, "HIDPointerResolution"), X2Fix(1200.5));
  EXPECT_EQ(written(mouse, "HIDMouseAcceleration"), X2Fix(0.6875));
  bool logged = false;
  for (const auto& l : lines) logged |= l.find("sensitivity 1200.5, tracking 0.6875") != std::string::npos;
  EXPECT_TRUE(logged) << (lines.empty() ? std::string("no line") : lines.back());
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
  ASSERT_TRUE(pl::writeFileAtomic(paths.preferencePanes()[0] + "/Drovana.prefPane/Contents/Info.plist",
                                  std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(info.data()), info.size()),
                                  &err))
      << err;
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
  AppControllerClass first(platform, errorContext(), settings);
  first.applicationDidFinishLaunching();
  ASSERT_TRUE(first.launched());
  launch();
  EXPECT_FALSE(agent->launched());
  EXPECT_EQ(lifecycle.exits.size(), 1u);
  EXPECT_NE(alerts.modal.at(0).userInfo.at(kRecoverySuggestionKey).describe().find("100.0757"), std::string::npos);
}

TEST_F(Agent, SecondCopySaysWhoHoldsTheLockAndTouchesNothing) {
  RegistryId mouse = attach("generic-usb-optical-mouse");
  // The lock file as a running copy leaves it: its pid, which the refusal names.
  AppControllerClass first(platform, errorContext(), settings);
  first.applicationDidFinishLaunching();
  ASSERT_TRUE(first.launched());
  loop.advance(2);
  size_t writesBefore = writesTo(mouse);

  std::vector<std::string> refused, activity;
  agent = std::make_unique<AppControllerClass>(platform, errorContext(), settings);
  agent->setStartRefusedSink([&](const std::string& line) { refused.push_back(line); });
  agent->setActivityLog([&](const std::string& line) { activity.push_back(line); });
  agent->applicationDidFinishLaunching();
  EXPECT_TRUE(agent->startRefused());
  EXPECT_FALSE(agent->launched());
  ASSERT_EQ(refused.size(), 1u);
  EXPECT_EQ(refused[0], "Velmora Manager is already running (pid " + std::to_string(::getpid()) +
                            "); its lock file is " + settings.instanceLockPath);
  // Whatever ends it afterwards says nothing of restoring, and writes nothing.
  agent->applicationWillTerminate();
  loop.advance(2);
  EXPECT_EQ(writesTo(mouse), writesBefore);
  for (const auto& line : activity) EXPECT_EQ(line.find("system speed"), std::string::npos) << line;
  EXPECT_TRUE(first.launched());
}

TEST_F(Agent, LogSaysWhyItAppliesAndWhatItSkips) {
  writeStore({usbMouse});
  RegistryId mouse = attach("generic-usb-optical-mouse");
  std::vector<std::string> log;
  agent = std::make_unique<AppControllerClass>(platform, errorContext(), settings);
  agent->setActivityLog([&](const std::string& line) { log.push_back(line); });
  agent->applicationWillFinishLaunching();
  agent->applicationDidFinishLaunching();
  loop.advance(2);
  auto logged = [&](const std::string& text) {
    return std::any_of(log.begin(), log.end(), [&](const std::string& l) { return l.find(text) != std::string::npos; });
  };
  const std::string applied = "applied favourite 3 to 93a-2510-0-USB ";
  EXPECT_TRUE(logged("93a-2510-0-USB attached; applying in 0.5 s"));
  EXPECT_TRUE(logged(applied + "(attached)"));
  struct Case {
    const char* name;
    std::function<void()> event;
    std::vector<std::string> lines;
  } cases[] = {
      {"unlock", [&] { mac.lockScreen(); loop.runUntilIdle(); mac.unlockScreen(); },
       {"screen locked", "screen unlocked: applying now", applied + "(unlock)"}},
      {"system speed", [&] { mac.setSystemAcceleration("HIDMouseAcceleration", 3.0); },
       {"system speed changed: applying in 0.5 s", applied + "(system speed changed)"}},
      {"display", [&] { mac.displayChange(); }, {"display changed: applying in 2 s", applied + "(display change)"}},
      {"login", [&] { mac.logout(); loop.runUntilIdle(); mac.login(); },
       {"logout: the user is not active", "restored 93a-2510-0-USB", applied + "(login)"}},
      {"command", [&] { postCommand(deviceCommand(cmd::kCursorSpeed, usbMouse)); },
       {"command from quillon.Velmora.prefpane: \"Cursor Speed Cmd\"",
        applied + "(command from quillon.Velmora.prefpane)"}},
      {"not connected", [&] { postCommand(deviceCommand(cmd::kCursorSpeed, trackpad)); },
       {"no device 5ac-273-0-USB is connected: nothing to apply"}},
      {"inactive", [&] { mac.lockScreen(); loop.runUntilIdle(); mac.displayChange(); },
       {"skipped 93a-2510-0-USB (display change): the user is not active"}},
      {"disabled", [&] {
         mac.unlockScreen();
         loop.advance(1);
         StoredDevice off = usbMouse;
         off.disabled = true;
         writeStore({off});
         postCommand(deviceCommand(cmd::kCursorSpeed, usbMouse));
       },
       {"skipped 93a-2510-0-USB (command from quillon.Velmora.prefpane): cursor speed is turned off"}},
      {"detach", [&] { mac.detach(mouse); }, {"93a-2510-0-USB detached"}},
  };
  for (const auto& c : cases) {
    log.clear();
    c.event();
    loop.advance(2.5);
    for (const auto& line : c.lines) EXPECT_TRUE(logged(line)) << c.name << ": no \"" << line << "\"";
  }
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

TEST_F(Agent, LaunchAnnouncementCarriesTheVersionOfTheRunningBundle) {
  // The agent runs from a bundle whose version differs from the program's own.
  std::string bundle = home.path() + "/Velmora Manager.app";
  std::filesystem::create_directories(bundle + "/Contents");
  std::string err;
  ASSERT_TRUE(pl::writeFileAtomic(bundle + "/Contents/Info.plist",
                                  pl::writeBinary(pl::Value(pl::Dict{{"CFBundleVersion", "2.3b4"}})), &err))
      << err;
  ASSERT_TRUE(platform.system);
  RunningApplication self;
  self.processIdentifier = platform.system->processID();
  self.bundleIdentifier = "quillon.Velmora.boa";
  self.bundleURL = bundle;
  mac.desktop().launch(self, kActivationPolicyProhibited, false);
  launch();
  ASSERT_FALSE(mac.postedNotifications().empty());
  EXPECT_EQ(mac.postedNotifications().front().userInfo.at(key::kVersion).unsignedIntValue(), 0x02306004u);
}

TEST_F(Agent, AFavouriteThatCannotBeWrittenLeavesItsDeviceAtTheSystemSpeed) {
  writeStore({usbMouse, trackpad});
  mac.setSystemAcceleration("HIDMouseAcceleration", 0.875);
  rawFavourite(usbMouse, "nan", "1.5");
  RegistryId mouse = attach("generic-usb-optical-mouse");
  RegistryId pad = attach("macbook-pro-internal-trackpad");
  launch();
  loop.advance(2);
  // At start-up: the agent runs on, the other device gets its favourite.
  ASSERT_TRUE(lifecycle.exits.empty());
  EXPECT_EQ(written(pad, "HIDPointerResolution"), X2Fix(600));
  EXPECT_EQ(written(mouse, "HIDPointerResolution"), X2Fix(400));
  EXPECT_EQ(written(mouse, "HIDMouseAcceleration"), X2Fix(0.875));
  EXPECT_EQ(logged("is not applied"), 1u);
  EXPECT_EQ(logged("\"nan\""), 1u);

  struct Case {
    const char* sensitivity;
    const char* tracking;
  } refused[] = {{"800", "nan"}, {"inf", "1.5"}, {"-nan", "1.5"}, {"1e999", "1.5"}, {"5000", "1.5"},
                 {"9.99", "1.5"}, {"800", "20.5"}, {"800", "-inf"}, {"abc", "1.5"}, {"800", "fast"}};
  for (const auto& c : refused) {
    // From its favourite, through a command, back to the system speed.
    rawFavourite(usbMouse, "800", "1.5");
    postCommand(deviceCommand(cmd::kCursorSpeed, usbMouse));
    ASSERT_EQ(written(mouse, "HIDPointerResolution"), X2Fix(800));
    logLines.clear();
    rawFavourite(usbMouse, c.sensitivity, c.tracking);
    postCommand(deviceCommand(cmd::kCursorSpeed, usbMouse));
    postCommand(deviceCommand(cmd::kCursorSpeedActivate, usbMouse));
    agent->setCursorSpeedAfterDelay(0);  // every later apply too
    loop.runUntilIdle();
    EXPECT_EQ(written(mouse, "HIDPointerResolution"), X2Fix(400)) << c.sensitivity << " " << c.tracking;
    EXPECT_EQ(written(mouse, "HIDMouseAcceleration"), X2Fix(0.875)) << c.sensitivity << " " << c.tracking;
    EXPECT_EQ(logged("is not applied"), 1u) << c.sensitivity << " " << c.tracking;  // said once
    EXPECT_TRUE(lifecycle.exits.empty()) << c.sensitivity << " " << c.tracking;
  }
  EXPECT_EQ(written(pad, "HIDPointerResolution"), X2Fix(600));

  // With acceleration off neither value is written, so neither can be wrong.
  rawFavourite(usbMouse, "nan", "nan", true);
  mac.clearWrites();
  postCommand(deviceCommand(cmd::kCursorSpeed, usbMouse));
  EXPECT_EQ(written(mouse, "HIDMouseAcceleration"), X2Fix(-1.0));
  EXPECT_FALSE(written(mouse, "HIDPointerResolution"));

  agent->applicationWillTerminate();
  EXPECT_TRUE(lifecycle.exits.empty());
  EXPECT_EQ(written(mouse, "HIDPointerResolution"), X2Fix(400));
}

// Every stored text of a favourite against what the device gets and what the log says: the
// favourite is applied whole or not at all (the system speed, whole), and "applied" is logged
// only for what was written.
TEST_F(Agent, AWriteTheDeviceRefusesIsNeverCalledAppliedOrGivenBack) {
  // A desktop whose writer refuses every value: the writes report nothing, so only reading back
  // tells the log the truth.
  writeStore({usbMouse});
  RegistryId mouse = attach("generic-usb-optical-mouse");
  mac.refuseServiceWrites("HIDPointerResolution", true);
  launch();
  loop.advance(2);
  EXPECT_EQ(logged("applied favourite"), 0u);
  EXPECT_EQ(logged("could not apply favourite 3 to 93a-2510-0-USB (attached)"), 1u);
  EXPECT_TRUE(lifecycle.exits.empty());

  // Taken again once the device takes values.
  mac.refuseServiceWrites("HIDPointerResolution", false);
  postCommand(deviceCommand(cmd::kCursorSpeed, usbMouse));
  EXPECT_EQ(written(mouse, "HIDPointerResolution"), X2Fix(800));
  EXPECT_EQ(logged("applied favourite 3 to 93a-2510-0-USB"), 1u);

  mac.refuseServiceWrites("HIDPointerResolution", true);
  agent->applicationWillTerminate();
  EXPECT_EQ(logged("restored 93a-2510-0-USB"), 0u);
  EXPECT_EQ(logged("could not give 93a-2510-0-USB"), 1u);
  EXPECT_EQ(logged("every device is back at the system speed"), 0u);
  EXPECT_EQ(logged("stopped; 1 device service(s) did not take the system speed back"), 1u);
}

TEST_F(Agent, AFavouriteIsDecidedWholeBeforeAnyValueIsWritten) {
  writeStore({usbMouse});
  mac.setSystemAcceleration("HIDMouseAcceleration", 0.875);
  RegistryId mouse = attach("generic-usb-optical-mouse");
  launch();
  loop.advance(2);
  ASSERT_EQ(written(mouse, "HIDPointerResolution"), X2Fix(800));

  constexpr double kSystem = -2;  // the device gets the system speed: its own 400, 0.875
  struct Case {
    std::string sensitivity, tracking;  // SQL literals
    double resolution, acceleration;    // what the device gets
    const char* log;                    // what the log line holds
  } cases[] = {
      {"'900'", "'-1e308'", kSystem, 0, "tracking speed \"-1e308\" is not from 0 to 20"},
      {"'900'", "'-0.5'", kSystem, 0, "tracking speed \"-0.5\" is not from 0 to 20"},
      {"'900'", "'20.0001'", kSystem, 0, "is not from 0 to 20"},
      {"'900'", "'1e999'", kSystem, 0, "tracking speed \"1e999\" is not a number"},
      {"'900'", "NULL", kSystem, 0, "tracking speed is missing"},
      {"''", "'1.5'", kSystem, 0, "sensitivity is missing"},
      {"NULL", "'1.5'", kSystem, 0, "sensitivity is missing"},
      {"X'3930300000'", "'1.5'", kSystem, 0, "sensitivity is missing"},
      {"'-800'", "'1.5'", kSystem, 0, "sensitivity \"-800\" is not from 10 to 2000"},
      {"'1e-3'", "'1.5'", kSystem, 0, "is not from 10 to 2000"},
      {"'2000.5'", "'1.5'", kSystem, 0, "is not from 10 to 2000"},
      {"'abc'", "'1.5'", kSystem, 0, "sensitivity \"abc\" is not a number"},
      // Stored texts are read by their leading number, as the platform reads them.
      {"'1200abc'", "'2.5xyz'", 1200, 2.5, "sensitivity 1200, tracking 2.5"},
      {"' 900'", "'3'", 900, 3, "sensitivity 900, tracking 3"},
      {"'1.2e3'", "'2E0'", 1200, 2, "sensitivity 1200, tracking 2"},
      {"'1e3'", "'-0'", 1000, 0, "sensitivity 1000, tracking 0"},
      {"'10'", "'20'", 10, 20, "sensitivity 10, tracking 20"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sensitivity + " / " + c.tracking);
    // From a good favourite first, so that a partial write would show.
    rawFavourite(usbMouse, "700", "1.25");
    postCommand(deviceCommand(cmd::kCursorSpeed, usbMouse));
    ASSERT_EQ(written(mouse, "HIDPointerResolution"), X2Fix(700));
    ASSERT_EQ(written(mouse, "HIDMouseAcceleration"), X2Fix(1.25));
    rawColumn(usbMouse, "sensitivity", c.sensitivity);
    rawColumn(usbMouse, "trackingSpeed", c.tracking);
    logLines.clear();
    postCommand(deviceCommand(cmd::kCursorSpeed, usbMouse));
    const bool system = c.resolution == kSystem;
    EXPECT_EQ(written(mouse, "HIDPointerResolution"), X2Fix(system ? 400 : c.resolution));
    EXPECT_EQ(written(mouse, "HIDMouseAcceleration"), X2Fix(system ? 0.875 : c.acceleration));
    EXPECT_EQ(logged(c.log), 1u);
    EXPECT_EQ(logged("applied favourite"), system ? 0u : 1u);
    EXPECT_EQ(logged("is not applied"), system ? 1u : 0u);
    EXPECT_EQ(logged("restored 93a-2510-0-USB"), system ? 1u : 0u);
    EXPECT_TRUE(lifecycle.exits.empty());
  }

  // Acceleration off: only its marker is written, the resolution stays, and the log says so.
  rawFavourite(usbMouse, "700", "1.25");
  postCommand(deviceCommand(cmd::kCursorSpeed, usbMouse));
  rawColumn(usbMouse, "sensitivity", "NULL");
  rawColumn(usbMouse, "trackingSpeed", "X'00'");
  rawColumn(usbMouse, "disableAccl", "1");
  logLines.clear();
  mac.clearWrites();
  postCommand(deviceCommand(cmd::kCursorSpeed, usbMouse));
  EXPECT_EQ(written(mouse, "HIDMouseAcceleration"), X2Fix(-1.0));
  EXPECT_FALSE(written(mouse, "HIDPointerResolution"));
  EXPECT_EQ(logged("acceleration off, resolution unchanged"), 1u);
}

// Every line that carries text from outside (a command's sender, name and transport; a
// device's transport and acceleration key; the names in the store) is bounded, whatever its
// size, and carries no line break of its own.
TEST_F(Agent, NoOutsideTextCanMakeALogLineLong) {
  const std::string huge = std::string(130000, 'U') + "\nforged";
  writeStore({usbMouse});
  attach("generic-usb-optical-mouse");
  RegistryId pad = attach("macbook-pro-internal-trackpad");
  // A device's own texts: its transport and its acceleration type.
  for (RegistryId s : mac.eventServicesOf(pad)) {
    mac.setProperty(s, "Transport", pl::Value(huge));
    mac.setProperty(s, "HIDPointerAccelerationType", pl::Value(huge));
  }
  launch();
  loop.advance(2);
  pl::Dict command = deviceCommand(cmd::kCursorSpeed, {0x93a, 0x2511, 0, huge, 0, 0});
  command[key::kCommand] = pl::Value(cmd::kCursorSpeed);
  EXPECT_TRUE(mac.notifications().post(kBOANotificationName, huge, command).ok());
  loop.runUntilIdle();
  postCommand(pl::Dict{{key::kCommand, huge}});
  rawFavourite(usbMouse, huge.c_str(), "1.5");
  postCommand(deviceCommand(cmd::kCursorSpeed, usbMouse));
  mac.logout();
  loop.runUntilIdle();
  agent->applicationWillTerminate();
  ASSERT_GE(logLines.size(), 6u);
  EXPECT_GE(logged("no device 93a-2511-0-UUU"), 1u) << "the line of the fault report";
  EXPECT_GE(logged(" to 5ac-273-0-UUU"), 1u);
  EXPECT_GE(logged("is not applied"), 1u);
  for (const auto& l : logLines) {
    EXPECT_LE(l.size(), kLogLineLimit + 40) << l.substr(0, 200);
    EXPECT_EQ(l.find('\n'), std::string::npos) << l.substr(0, 200);
  }
}

TEST_F(Agent, AKilledRunsFavouritesAreGivenBackByTheNextRun) {
  writeStore({usbMouse, trackpad});
  mac.setSystemAcceleration("HIDMouseAcceleration", 0.875);
  RegistryId mouse = attach("generic-usb-optical-mouse");
  RegistryId pad = attach("magic-trackpad-2-usb");  // two services, one entry
  const StoredDevice pad2{0x05AC, 0x0265, 0, "USB", 900, 2.5};
  writeStore({pad2});
  launch();
  loop.advance(2);
  ASSERT_EQ(written(mouse, "HIDPointerResolution"), X2Fix(800));
  ASSERT_EQ(written(pad, "HIDPointerResolution", 1), X2Fix(900));
  EXPECT_TRUE(std::filesystem::exists(restoreFile()));
  killAgent();

  // The next run: each device left with a favourite gets its own speed back as soon as it is
  // announced, then its favourite, and at the end its own speed again, not the favourite.
  mac.clearWrites();
  launch();
  loop.advance(0.81);
  EXPECT_EQ(written(mouse, "HIDPointerResolution"), X2Fix(400));
  EXPECT_EQ(written(pad, "HIDPointerResolution", 0), X2Fix(400));
  EXPECT_EQ(written(pad, "HIDPointerResolution", 1), X2Fix(400));
  loop.advance(1);
  EXPECT_EQ(written(mouse, "HIDPointerResolution"), X2Fix(800));
  killAgent();  // killed again: the file still knows

  mac.clearWrites();
  launch();
  loop.advance(2);
  agent->applicationWillTerminate();
  EXPECT_EQ(written(mouse, "HIDPointerResolution"), X2Fix(400));
  EXPECT_EQ(written(mouse, "HIDMouseAcceleration"), X2Fix(0.875));
  EXPECT_EQ(written(pad, "HIDPointerResolution", 0), X2Fix(400));
  EXPECT_EQ(written(pad, "HIDPointerResolution", 1), X2Fix(400));
  EXPECT_FALSE(std::filesystem::exists(restoreFile()));  // nothing left to give back
  EXPECT_TRUE(lifecycle.exits.empty());
}

// Told to quit before its devices were announced, the run after a crash still gives back what
// the crashed run left on the devices that are here, keeps the entries of those that are not,
// and claims success only for what it gave back.
TEST_F(Agent, AQuitBeforeTheDevicesAreAnnouncedGivesBackWhatACrashedRunLeft) {
  writeStore({usbMouse, trackpad});
  mac.setSystemAcceleration("HIDMouseAcceleration", 0.875);
  RegistryId mouse = attach("generic-usb-optical-mouse");
  RegistryId pad = attach("macbook-pro-internal-trackpad");
  launch();
  loop.advance(2);
  ASSERT_EQ(written(mouse, "HIDPointerResolution"), X2Fix(800));
  ASSERT_EQ(written(pad, "HIDPointerResolution"), X2Fix(600));
  killAgent();
  mac.detach(pad);  // gone while no agent ran: its entry must wait for a later run
  mac.clearWrites();
  logLines.clear();
  launch();
  loop.advance(0.05);  // within the standby time: nothing announced yet
  ASSERT_EQ(agent->connectedDeviceList()->size(), 0u);
  agent->applicationWillTerminate();
  EXPECT_EQ(written(mouse, "HIDPointerResolution"), X2Fix(400));
  EXPECT_EQ(written(mouse, "HIDMouseAcceleration"), X2Fix(0.875));
  EXPECT_EQ(logged("gave 93a-2510-0-USB"), 1u);
  EXPECT_EQ(logged("every device is back"), 0u) << "the trackpad was not reached";
  EXPECT_EQ(logged("1 device(s) an earlier run changed are not here now"), 1u);
  EXPECT_TRUE(lifecycle.exits.empty());
  RestoreValues left(restoreFile());
  std::string message;
  ASSERT_TRUE(left.load(&message)) << message;
  ASSERT_EQ(left.size(), 1u) << "only the absent trackpad's entry stays";
  EXPECT_EQ(left.keys().front().rfind("5ac-273-0-USB@", 0), 0u) << left.keys().front();

  // The next run meets the trackpad again and gives it back; all is then said to be back.
  pad = attach("macbook-pro-internal-trackpad");
  mac.clearWrites();
  logLines.clear();
  agent.reset();
  launch();
  loop.advance(0.05);
  agent->applicationWillTerminate();
  EXPECT_EQ(written(pad, "HIDPointerResolution"), X2Fix(400));
  EXPECT_FALSE(written(mouse, "HIDPointerResolution")) << "nothing left for the mouse";
  EXPECT_EQ(logged("every device is back at the system speed"), 1u);
  EXPECT_FALSE(std::filesystem::exists(restoreFile()));
}

TEST_F(Agent, TheSavedSpeedsFollowWhatTheDevicesCarry) {
  writeStore({usbMouse});
  mac.setSystemAcceleration("HIDMouseAcceleration", 0.875);
  RegistryId mouse = attach("generic-usb-optical-mouse");
  launch();
  ASSERT_TRUE(agent->restoreValues());
  const RestoreValues& saved = *agent->restoreValues();
  EXPECT_EQ(saved.size(), 0u);
  loop.advance(2);
  ASSERT_EQ(saved.size(), 1u);  // recorded before the first write
  std::string key = agent->connectedDeviceList()->front()->restoreKey();
  ASSERT_TRUE(saved.find(key));
  EXPECT_EQ(saved.find(key)->resolution, X2Fix(400));
  EXPECT_FALSE(saved.isLeftOver(key));

  // Back at the system speed (logout, switched off): nothing to keep; applied again: kept again.
  mac.logout();
  loop.runUntilIdle();
  EXPECT_EQ(saved.size(), 0u);
  mac.login();
  loop.advance(2);
  EXPECT_EQ(saved.size(), 1u);
  StoredDevice off = usbMouse;
  off.disabled = true;
  writeStore({off});
  postCommand(deviceCommand(cmd::kCursorSpeedActivate, usbMouse));
  EXPECT_EQ(saved.size(), 0u);
  writeStore({usbMouse});
  postCommand(deviceCommand(cmd::kCursorSpeedActivate, usbMouse));
  EXPECT_EQ(saved.size(), 1u);
  // A device that goes away takes nothing of ours with it.
  mac.detach(mouse);
  loop.runUntilIdle();
  EXPECT_EQ(saved.size(), 0u);
  EXPECT_FALSE(std::filesystem::exists(restoreFile()));
}

TEST_F(Agent, ALeftOverDeviceSwitchedOffMeanwhileKeepsItsOwnSpeed) {
  writeStore({usbMouse});
  RegistryId mouse = attach("generic-usb-optical-mouse");
  launch();
  loop.advance(2);
  ASSERT_EQ(written(mouse, "HIDPointerResolution"), X2Fix(800));
  killAgent();
  StoredDevice off = usbMouse;
  off.disabled = true;
  writeStore({off});
  launch();
  loop.advance(3);
  EXPECT_EQ(written(mouse, "HIDPointerResolution"), X2Fix(400));
  EXPECT_EQ(logged("before an earlier run ended"), 1u);
}

TEST_F(Agent, SpeedsAreAppliedEvenWhenTheirFileCannotBeWritten) {
  std::ofstream(home.path() + "/blocked") << "x";
  settings.restoreValuesPath = home.path() + "/blocked/restore.plist";
  writeStore({usbMouse});
  RegistryId mouse = attach("generic-usb-optical-mouse");
  launch();
  loop.advance(2);
  EXPECT_EQ(written(mouse, "HIDPointerResolution"), X2Fix(800));
  agent->setCursorSpeedAfterDelay(0);
  loop.runUntilIdle();
  EXPECT_EQ(logged("for after a crash"), 1u);
  agent->applicationWillTerminate();
  EXPECT_EQ(written(mouse, "HIDPointerResolution"), X2Fix(400));
  EXPECT_TRUE(lifecycle.exits.empty());
}

TEST_F(Agent, CommandNamesAreLoggedCutToAReadableLength) {
  launch();
  std::string huge(2 * 1024 * 1024, 'A');
  huge += "\nforged line";
  postCommand(pl::Dict{{key::kCommand, huge}});
  ASSERT_EQ(logged("AAAA"), 1u);
  for (const auto& l : logLines) {
    EXPECT_LT(l.size(), 300u);
    EXPECT_EQ(l.find('\n'), std::string::npos);
  }
  EXPECT_EQ(logged("(2096964 more bytes)"), 1u);  // 2 MB and 12, less the 200 shown
  EXPECT_TRUE(lifecycle.exits.empty());
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

// --- Sharing ------------------------------------------------------------------------------------

// Dates the chosen favourites and gives a device its own resolution, as the pane's saves do.
void stampDevices(const Platform& platform, const std::vector<std::pair<StoredDevice, double>>& dated,
                  const std::optional<std::pair<StoredDevice, std::string>>& resolution = std::nullopt) {
  ErrorStack errors;
  StoreContextRef ctx;
  ErrorInfo error;
  ASSERT_EQ(QS814openMOC(platform, errors, nullptr, false, &ctx, &error), 0);
  for (const auto& [d, seconds] : dated) {
    QS802DeviceClass* rec = QS814fetchDevice(errors, d.vid, d.pid, d.mid, d.transport, ctx.get());
    ASSERT_TRUE(rec);
    rec->setCursorSpeedDate(pl::Date{seconds});
  }
  if (resolution) {
    const auto& [d, text] = *resolution;
    QS802DeviceClass* rec = QS814fetchDevice(errors, d.vid, d.pid, d.mid, d.transport, ctx.get());
    ASSERT_TRUE(rec);
    rec->setPointerResolution(text);
  }
  ASSERT_EQ(QS814saveMOC(ctx.get(), &error), 0);
}

TEST_F(Agent, UploadSendsEachModelOnceWithItsNewestSettingAndSkipsTheRest) {
  // The Magic Trackpad on USB and over Bluetooth is one model; the Bluetooth one changed last.
  const StoredDevice padUsb{0x5AC, 0x265, 0, "USB", 600, 2.0};
  const StoredDevice padBt{0x4C, 0x265, 0, "Bluetooth", 700, 1.0};
  StoredDevice mouseOff = usbMouse;
  mouseOff.disabled = true;  // turned off for this device
  const StoredDevice noAccl{0x46D, 0xB023, 0, "Bluetooth Low Energy", 900, 1.0, true};
  writeStore({padUsb, padBt, mouseOff, noAccl});
  stampDevices(platform, {{padUsb, 1000}, {padBt, 2000}});
  attach("magic-trackpad-2-usb");
  attach("magic-trackpad-2-bluetooth");
  attach("generic-usb-optical-mouse");
  attach("logitech-mx-master-3-bluetooth");
  mac.setHttpAnswer(kUploadPath, {});
  launch();
  loop.advance(3);

  postCommand(pl::Dict{{key::kCommand, cmd::kUploadCursorSpeed}});
  auto log = mac.httpRequests();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].rfind(std::string(kUploadPath) + "?VID=76&PID=613&MID=0&Tra=Bluetooth&", 0), 0u) << log[0];
  EXPECT_NE(log[0].find("&Acc=1&Sen=1300"), std::string::npos) << log[0];
  EXPECT_NE(log[0].find("&App=&"), std::string::npos);

  // The USB one changed later now: it goes instead.
  stampDevices(platform, {{padUsb, 3000}});
  postCommand(pl::Dict{{key::kCommand, cmd::kUploadCursorSpeed}});
  log = mac.httpRequests();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_NE(log[1].find("VID=76&PID=613&MID=0&Tra=Bluetooth&"), std::string::npos) << log[1];
  EXPECT_NE(log[1].find("&Acc=2&Sen=1400"), std::string::npos) << log[1];
  // The same machine identifier every time.
  auto mac1 = log[0].substr(log[0].find("&Mac="), 70), mac2 = log[1].substr(log[1].find("&Mac="), 70);
  EXPECT_EQ(mac1, mac2);
}

TEST_F(Agent, UploadLeavesADeviceAtTheSystemSpeedOut) {
  const StoredDevice atDefault{0x093A, 0x2510, 0, "USB", 400, 0.6875};
  writeStore({atDefault});
  stampDevices(platform, {}, std::make_pair(atDefault, std::string("400")));
  attach("generic-usb-optical-mouse");
  mac.setHttpAnswer(kUploadPath, {});
  launch();
  loop.advance(3);
  postCommand(pl::Dict{{key::kCommand, cmd::kUploadCursorSpeed}});
  EXPECT_TRUE(mac.httpRequests().empty());
  // Another resolution than the device's own is a choice worth sharing.
  stampDevices(platform, {}, std::make_pair(atDefault, std::string("800")));
  postCommand(pl::Dict{{key::kCommand, cmd::kUploadCursorSpeed}});
  ASSERT_EQ(mac.httpRequests().size(), 1u);
  EXPECT_NE(mac.httpRequests()[0].find("VID=2362&PID=9488&MID=0&Tra=USB&"), std::string::npos);
}

}  // namespace
}  // namespace vl
