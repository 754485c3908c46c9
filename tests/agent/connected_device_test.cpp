// Connected-device tracking in virtual time: standby times per program, debounce, user
// activity gating with the login/unlock rules, the receiver exchange with its retries, and
// system-speed reports.
#include <gtest/gtest.h>

#include "core/devices/connected_device.h"
#include "core/hid/pointer_parameters.h"
#include "support/sim_world.h"

namespace vl {
namespace {

class Recorder : public ConnectedDeviceController {
 public:
  explicit Recorder(VirtualRunLoop& loop) : loop_(loop) {}
  bool respondsTo(Message m) const override { return m != Message::ScreenLocked || wantsLock; }
  void connectedDeviceNotify(const ServiceRef& s, bool attached) override {
    add(std::string(attached ? "attached " : "detached ") + std::to_string(s->registryID()));
  }
  void connectedDeviceLogout() override { add("logout"); }
  void connectedDeviceScreenLocked() override { add("locked"); }
  void connectedDeviceLogin() override { add("login"); }
  void connectedDeviceScreenUnlocked() override { add("unlocked"); }
  void connectedDeviceCursorSpeedChanged(double v) override { add("cursor " + std::to_string(v)); }
  void connectedDeviceScrollSpeedChanged(double v) override { add("scroll " + std::to_string(v)); }
  void connectedDeviceError(int32_t e) override { add("error " + std::to_string(e)); }

  struct Event {
    double at;
    std::string what;
  };
  std::vector<Event> events;
  std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (const auto& e : events) out.push_back(e.what);
    return out;
  }
  bool wantsLock = false;

 private:
  void add(std::string w) { events.push_back({loop_.now(), std::move(w)}); }
  VirtualRunLoop& loop_;
};

class Tracking : public test::SimWorld {
 protected:
  Tracking() : controller(loop) {}
  std::unique_ptr<QS825ConnectedDeviceNotifier> start(const std::string& bundleID = "quillon.Velmora.boa") {
    t0 = loop.now();
    auto n = QS825ConnectedDeviceNotifier::connectedDeviceNotifierWithController(ConnectedDevicePorts::from(platform), &controller, nullptr, bundleID);
    EXPECT_TRUE(n);
    return n;
  }
  std::string attachedName(RegistryId top) { return "attached " + std::to_string(mac.eventServicesOf(top).at(0)); }
  Recorder controller;
  double t0 = 0;
};

TEST_F(Tracking, StandbyTimesPerProgram) {
  struct Case {
    const char* bundle;
    double present, arriving;
  } cases[] = {{"quillon.Velmora.boa", 0.8, 1.8}, {"quillon.Velmora.prefpane", 1.2, 2.2},
               {"quillon.boa.Drovana", 0.0, 1.0}, {"quillon.prefpane.Drovana", 0.4, 1.4}, {"other", 0.0, 1.0}};
  for (const auto& c : cases) {
    controller.events.clear();
    RegistryId present = attach("generic-usb-optical-mouse");
    auto n = start(c.bundle);
    RegistryId later = attach("magic-mouse-2-bluetooth");
    loop.advance(3);
    ASSERT_EQ(controller.events.size(), 2u) << c.bundle;
    EXPECT_NEAR(controller.events[0].at - t0, c.present, 1e-9) << c.bundle;
    EXPECT_EQ(controller.events[0].what, attachedName(present));
    EXPECT_NEAR(controller.events[1].at - t0, c.arriving, 1e-9) << c.bundle;
    EXPECT_EQ(controller.events[1].what, attachedName(later));
    EXPECT_TRUE(n->deviceList().empty());
    n.reset();
    mac.detach(present);
    mac.detach(later);
    loop.runUntilIdle();
  }
}

TEST_F(Tracking, ComeAndGoWithinStandbyIsSilentAndRemovalOfAnAnnouncedDeviceIsImmediate) {
  auto n = start();
  RegistryId blip = attach("generic-usb-optical-mouse");
  loop.advance(1.0);
  mac.detach(blip);
  loop.advance(5);
  EXPECT_TRUE(controller.events.empty());
  EXPECT_TRUE(n->deviceList().empty());

  RegistryId mouse = attach("magic-mouse-2-bluetooth");
  RegistryId id = mac.eventServicesOf(mouse)[0];
  loop.advance(2);
  double before = loop.now();
  mac.detach(mouse);
  loop.runUntilIdle();
  ASSERT_EQ(controller.names().back(), "detached " + std::to_string(id));
  EXPECT_EQ(controller.events.back().at, before);
}

TEST_F(Tracking, FinishingAllDevicesLeavesNoRecordBehind) {
  auto n = start();
  attach("generic-usb-optical-mouse");
  attach("magic-mouse-2-bluetooth");
  loop.advance(0.5);  // both still waiting out their standby time
  ASSERT_EQ(n->deviceList().size(), 2u);
  n->finishAllDevices();
  EXPECT_TRUE(n->deviceList().empty()) << "finished records are gone, not kept as dead entries";
  loop.advance(5);
  EXPECT_TRUE(controller.events.empty()) << "nothing finished is announced";

  // The same services arriving again are tracked afresh.
  RegistryId again = attach("generic-usb-optical-mouse");
  loop.advance(3);
  ASSERT_EQ(controller.events.size(), 1u);
  EXPECT_EQ(controller.events[0].what, attachedName(again));
}

TEST_F(Tracking, ServicesWithoutAHidDeviceAreNeverAnnounced) {
  auto n = start();
  attach("hid-system-nx-event-service");
  loop.advance(3);
  EXPECT_TRUE(controller.events.empty());
  EXPECT_TRUE(n->deviceList().empty());
}

TEST_F(Tracking, LockedArrivalIsAnnouncedAtUnlockBeforeTheUnlockMessage) {
  auto n = start();
  mac.lockScreen();
  RegistryId mouse = attach("generic-usb-optical-mouse");
  loop.advance(10);
  EXPECT_TRUE(controller.events.empty());  // the controller does not take the locked message
  mac.unlockScreen();
  loop.runUntilIdle();
  EXPECT_EQ(controller.names(), (std::vector<std::string>{attachedName(mouse), "unlocked"}));
}

TEST_F(Tracking, LoginAndUnlockOrders) {
  controller.wantsLock = true;
  auto n = start();
  // Logout, lock, unlock, login: only login at the end.
  mac.logout();
  mac.lockScreen();
  mac.unlockScreen();
  loop.runUntilIdle();
  EXPECT_EQ(n->prevRemovedUserStatus(), 2);
  mac.login();
  loop.runUntilIdle();
  EXPECT_EQ(controller.names(), (std::vector<std::string>{"logout", "locked", "login"}));
  // Logout, lock, login first, then unlock: still a login.
  controller.events.clear();
  mac.logout();
  mac.lockScreen();
  mac.login();
  mac.unlockScreen();
  loop.runUntilIdle();
  EXPECT_EQ(controller.names(), (std::vector<std::string>{"logout", "locked", "login"}));
  // A second resign-active sends no second logout.
  controller.events.clear();
  n->loginSessionHandler(false);
  n->loginSessionHandler(false);
  EXPECT_EQ(controller.names(), (std::vector<std::string>{"logout"}));
}

TEST_F(Tracking, StartingInALockedOrSwitchedAwaySessionHoldsEverything) {
  mac.setSessionState({false, true});
  attach("generic-usb-optical-mouse");
  auto n = start();
  EXPECT_EQ(controller.names(), (std::vector<std::string>{"logout"}));
  EXPECT_FALSE(n->isUserActive());
  loop.advance(5);
  EXPECT_EQ(controller.events.size(), 1u);
}

TEST_F(Tracking, ReceiverExchangeLearnsTheModelId) {
  RegistryId rx = attach("logitech-unifying-receiver");
  auto n = start();
  loop.advance(0.8);
  ServiceRef s = pointingService(rx);
  ASSERT_EQ(controller.names(), (std::vector<std::string>{attachedName(rx)}));
  uint32_t mid = 0;
  uint8_t ix = 0;
  QS852getDeviceInfo(s.get(), nullptr, nullptr, &mid, nullptr, nullptr, &ix);
  // Both slots answer; the later one counts.
  EXPECT_EQ(mid, 16489u);
  EXPECT_EQ(ix, 2);
}

TEST_F(Tracking, KnownModelIdSkipsTheExchange) {
  RegistryId rx = attach("logitech-unifying-receiver");
  ServiceRef s = pointingService(rx);
  ASSERT_EQ(QS852setUnifyingInfo(s.get(), 0x4082, 1), 0);
  mac.clearWrites();
  auto n = start();
  loop.advance(0.8);
  EXPECT_EQ(controller.names(), (std::vector<std::string>{attachedName(rx)}));
  uint32_t mid = 0;
  QS852getDeviceInfo(s.get(), nullptr, nullptr, &mid, nullptr, nullptr, nullptr);
  EXPECT_EQ(mid, 0x4082u);
}

TEST_F(Tracking, SilentReceiverIsAskedAgainEveryThreeSeconds) {
  RegistryId rx = attach("logitech-unifying-receiver");
  mac.receiverBehaviour(rx).answersPairing = false;
  auto n = start();
  loop.advance(0.8 + 3 + 3 + 1);
  EXPECT_TRUE(controller.events.empty());
  mac.receiverBehaviour(rx).answersPairing = true;
  loop.advance(2);  // the retry at 0.8 + 9 s
  ASSERT_EQ(controller.events.size(), 1u);
  EXPECT_NEAR(controller.events[0].at - t0, 9.8, 1e-9);
  // A receiver unplugged while it is asked again ends the record silently.
  controller.events.clear();
  mac.detach(rx);
  loop.runUntilIdle();
  EXPECT_EQ(controller.names().size(), 1u);  // the detach of the announced device
}

TEST_F(Tracking, RefusedIdentityWriteIsReportedNotAnnounced) {
  RegistryId rx = attach("logitech-unifying-receiver");
  mac.refuseServiceWrites(kQuillonMIDKey, true);
  auto n = start();
  loop.advance(1);
  EXPECT_EQ(controller.names(), (std::vector<std::string>{"error 8520311"}));
  (void)rx;
}

TEST_F(Tracking, SystemSpeedChangesOnlyWhileActive) {
  auto n = start();
  mac.setSystemAcceleration("HIDTrackpadScrollAcceleration", 0.5);
  mac.setSystemAcceleration("HIDMouseAcceleration", 1.5);
  loop.runUntilIdle();
  EXPECT_EQ(controller.names(), (std::vector<std::string>{"scroll 0.500000", "cursor 1.500000"}));
  controller.events.clear();
  mac.lockScreen();
  loop.runUntilIdle();
  mac.setSystemAcceleration("HIDMouseAcceleration", 2.0);
  loop.runUntilIdle();
  EXPECT_TRUE(controller.events.empty());
}

TEST_F(Tracking, CreationFailures) {
  QS810errorBuf(true);
  EXPECT_EQ(QS825ConnectedDeviceNotifier::connectedDeviceNotifierWithController(ConnectedDevicePorts::from(platform), nullptr, nullptr, 0.8), nullptr);
  mac.failClientCreation(true);
  EXPECT_EQ(QS825ConnectedDeviceNotifier::connectedDeviceNotifierWithController(ConnectedDevicePorts::from(platform), &controller, nullptr, 0.8), nullptr);
  EXPECT_EQ(errorStackEntries(), (std::vector<std::string>{"825.0070", "825.0056"}));
}

}  // namespace
}  // namespace vl
