// Pointer parameters on simulated services: support decisions over every device profile,
// identity reads, cursor and scroll writes with their range checks and error chains, the
// service watcher and the system acceleration read.
#include <gtest/gtest.h>

#include "core/hid/fixed_point.h"
#include "core/hid/pointer_parameters.h"
#include "core/hid/registry_search.h"
#include "support/sim_world.h"

namespace vl {
namespace {

class PointerParameters : public test::SimWorld {
 protected:
  // The last value written to key on the service, as a raw 16.16 integer.
  std::optional<int32_t> written(const ServiceRef& s, const std::string& key) {
    std::optional<int32_t> v;
    for (const auto& w : mac.writes())
      if (w.service == s->registryID() && w.key == key) v = w.value.intValue();
    return v;
  }
  size_t writeCount() const { return mac.writes().size(); }
  const std::string mouseKey = kHIDMouseAccelerationKey;
};

TEST_F(PointerParameters, SupportDecisionForEveryProfile) {
  struct Case {
    const char* profile;
    bool shared;   // the shared test
    bool product;  // this product's refinement
  } cases[] = {
      {"generic-usb-optical-mouse", true, true},
      {"hid-compatibility-shim", false, false},       // compatibility interface
      {"hid-system-nx-event-service", false, false},  // 0xFF00/0x17 and no location
      {"kensington-expert-mouse-drovana", true, true},
      {"logitech-mx-master-3-bluetooth", true, true},
      {"logitech-unifying-receiver", true, true},
      {"macbook-pro-internal-trackpad", true, true},
      {"magic-mouse-2-bluetooth", true, true},
      {"magic-trackpad-2-bluetooth", true, true},
      {"magic-trackpad-2-usb", true, true},
      {"microsoft-mouse-vendor-driver", true, true},
      {"wacom-intuos-tablet", true, false},  // the tablet vendor is never ours
  };
  for (const auto& c : cases) {
    RegistryId top = attach(c.profile);
    for (RegistryId id : mac.eventServicesOf(top)) {
      ServiceRef s = mac.serviceFor(id);
      EXPECT_EQ(QS852isSupportedServiceClient(platform, s.get()), c.shared) << c.profile;
      EXPECT_EQ(VL722isSupportedServiceClient(platform, s.get()), c.product) << c.profile;
    }
  }
}

TEST_F(PointerParameters, SupportNeedsVendorLocationAndARegistryEntry) {
  ServiceRef s = pointingService(attach("generic-usb-optical-mouse"));
  RegistryId id = s->registryID();
  mac.setProperty(id, "PrimaryUsagePage", 0xFF00);
  mac.setProperty(id, "PrimaryUsage", 0x18);
  EXPECT_TRUE(QS852isSupportedServiceClient(platform, s.get()));  // only 0xFF00/0x17 is refused
  mac.setProperty(id, "LocationID", 0);
  EXPECT_FALSE(QS852isSupportedServiceClient(platform, s.get()));
  mac.setProperty(id, "LocationID", 5);
  mac.setProperty(id, "VendorID", "1133");  // a vendor of the wrong type counts as absent
  EXPECT_FALSE(QS852isSupportedServiceClient(platform, s.get()));
  EXPECT_FALSE(QS852isSupportedServiceClient(platform, nullptr));
}

TEST_F(PointerParameters, RegistryResolution) {
  RegistryId top = attach("magic-mouse-2-bluetooth");
  ServiceRef s = pointingService(top);
  RegistryId entry = 0;
  EXPECT_EQ(QS852createRegistryAndReturnError(platform, s.get(), &entry), 0);
  EXPECT_EQ(entry, s->registryID());
  EXPECT_EQ(QS852getClass(platform, s.get()), "AppleMultitouchMouseHIDEventDriver");
  EXPECT_EQ(QS852createRegistryAndReturnError(platform, nullptr, nullptr), 8520179);
  mac.detach(top);
  EXPECT_EQ(QS852createRegistryAndReturnError(platform, s.get(), nullptr), 8520190);
  EXPECT_EQ(QS852createRegistry(platform, s.get()), 0u);
  EXPECT_FALSE(QS852getClass(platform, s.get()));
}

TEST_F(PointerParameters, IdentityReads) {
  ServiceRef s = pointingService(attach("magic-mouse-2-bluetooth"));
  uint32_t vid = 1, pid = 1, mid = 1;
  std::optional<std::string> transport;
  std::optional<pl::Value> location;
  uint8_t ix = 9;
  QS852getDeviceInfo(s.get(), &vid, &pid, &mid, &transport, &location, &ix);
  EXPECT_EQ(vid, 0x004Cu);
  EXPECT_EQ(pid, 0x0269u);
  EXPECT_EQ(mid, 0u);
  EXPECT_EQ(transport, "Bluetooth");
  ASSERT_TRUE(location);
  // Stored negative, reported as the unsigned registry value.
  EXPECT_EQ(location->unsignedLongLongValue(), 0xEDC37A19u);
  EXPECT_TRUE(location->isUnsignedInteger());
  EXPECT_EQ(ix, 0);

  EXPECT_EQ(QS852setUnifyingInfo(s.get(), 0xFFFFFFF0u, 0x102 & 0xFF), 0);
  QS852getDeviceInfo(s.get(), nullptr, nullptr, &mid, nullptr, nullptr, &ix);
  EXPECT_EQ(mid, 0xFFFFFFF0u);
  EXPECT_EQ(ix, 2);
  EXPECT_EQ(s->property(kQuillonMIDKey)->unsignedLongLongValue(), 0xFFFFFFF0u);
}

TEST_F(PointerParameters, UnifyingInfoReportsRefusedWrites) {
  ServiceRef s = pointingService(attach("logitech-unifying-receiver"));
  EXPECT_EQ(QS852setUnifyingInfo(nullptr, 1, 1), 8520310);
  mac.refuseServiceWrites(kQuillonUnifyingIXKey, true);
  EXPECT_EQ(QS852setUnifyingInfo(s.get(), 0x4082, 1), 8520312);
  mac.refuseServiceWrites(kQuillonMIDKey, true);
  EXPECT_EQ(QS852setUnifyingInfo(s.get(), 0x4082, 1), 8520311);
}

TEST_F(PointerParameters, CursorSpeedWritesResolutionThenAcceleration) {
  ServiceRef s = pointingService(attach("generic-usb-optical-mouse"));
  mac.clearWrites();
  EXPECT_EQ(QS852setCursorSpeed(errors, s.get(), &mouseKey, 600.0, 1.5, false), 0);
  ASSERT_EQ(writeCount(), 2u);
  EXPECT_EQ(mac.writes()[0].key, kHIDPointerResolutionKey);
  EXPECT_EQ(mac.writes()[0].value.intValue(), 600 * 65536);
  EXPECT_EQ(mac.writes()[1].key, mouseKey);
  EXPECT_EQ(mac.writes()[1].value.intValue(), 98304);
  EXPECT_DOUBLE_EQ(QS852getCursorSens(s.get()), 600.0);
}

TEST_F(PointerParameters, CursorSpeedChoices) {
  ServiceRef s = pointingService(attach("generic-usb-optical-mouse"));
  struct Case {
    std::optional<double> sens, track;
    std::optional<bool> disabled;
    int32_t result;
    std::optional<int32_t> resolution, accel;
    std::vector<std::string> stack;
  } cases[] = {
      {10.0, std::nullopt, std::nullopt, 0, 655360, 45056, {}},  // no tracking: 0.6875
      {2000.0, 20.0, false, 0, 131072000, 1310720, {}},
      {9.99, 1.0, false, 8520331, std::nullopt, std::nullopt, {"852.0352"}},
      {2000.01, 1.0, false, 8520331, std::nullopt, std::nullopt, {"852.0352"}},
      {5000.0, 1.0, true, 0, std::nullopt, -65536, {}},  // disabled: resolution untouched
      {400.0, 20.5, false, 8520339, 26214400, std::nullopt, {"852.0366"}},
      {400.0, -3.0, false, 0, 26214400, -196608, {}},  // no lower limit
      {std::nullopt, std::nullopt, std::nullopt, 0, std::nullopt, 45056, {}},
  };
  for (const auto& c : cases) {
    errors.clear();
    mac.clearWrites();
    EXPECT_EQ(QS852setCursorSpeed(errors, s.get(), &mouseKey, c.sens, c.track, c.disabled), c.result);
    EXPECT_EQ(written(s, kHIDPointerResolutionKey), c.resolution);
    EXPECT_EQ(written(s, mouseKey), c.accel);
    EXPECT_EQ(errorStackEntries(errors), c.stack);
  }
  EXPECT_EQ(QS852setCursorAccl(s.get(), nullptr, 1.0), 8520365);
}

TEST_F(PointerParameters, NonNumbersAreRefusedNotWritten) {
  ServiceRef s = pointingService(attach("generic-usb-optical-mouse"));
  mac.clearWrites();
  EXPECT_EQ(QS852setCursorSens(s.get(), std::nan("")), 8520352);
  EXPECT_EQ(QS852setCursorAccl(s.get(), &mouseKey, std::nan("")), 8520366);
  EXPECT_EQ(QS852setScrollSens(s.get(), std::nan("")), 8520437);
  EXPECT_EQ(writeCount(), 0u);
}

TEST_F(PointerParameters, ScrollSpeed) {
  ServiceRef s = pointingService(attach("generic-usb-optical-mouse"));
  const std::string key = kHIDMouseScrollAccelerationKey, empty;
  EXPECT_EQ(QS852setScrollSpeed(errors, s.get(), std::nullopt, std::nullopt, &key), 0);
  EXPECT_EQ(written(s, kHIDScrollResolutionKey), 589824);  // 9.0
  EXPECT_EQ(written(s, key), 20480);                        // 0.3125
  EXPECT_EQ(QS852setScrollSpeed(errors, nullptr, 1.0, 1.0, &key), 8520385);
  EXPECT_EQ(QS852setScrollSpeed(errors, s.get(), 1000.5, 1.0, &key), 8520389);
  EXPECT_EQ(QS852setScrollSpeed(errors, s.get(), 10.0, 1.0, &empty), 8520395);
  EXPECT_EQ(QS852setScrollAccl(s.get(), &empty, 1.0), 8520487);
  EXPECT_EQ(QS852setScrollAccl(s.get(), &key, 21.0), 8520488);
  EXPECT_DOUBLE_EQ(QS852getScrollSens(s.get()), 10.0);

  // Sensitivity is clamped from below at -100 and to 0.999 from 1 on.
  EXPECT_EQ(QS852setScrollSensFactor(errors, s.get(), -500, 5), 0);
  EXPECT_EQ(written(s, kHIDScrollResolutionKey), X2Fix(505));
  EXPECT_EQ(QS852setScrollSensFactor(errors, s.get(), 2, 1000), 0);
  EXPECT_EQ(written(s, kHIDScrollResolutionKey), X2Fix((1 - 0.999) * 1000));
  EXPECT_EQ(QS852setScrollSensFactor(errors, s.get(), 0.5, 0), 8520451);
  EXPECT_EQ(QS852setScrollSpeedWithFactor(errors, s.get(), 0.5, std::nullopt, &key, 0), 8520417);
  EXPECT_EQ(QS852setScrollSpeedWithFactor(errors, s.get(), 0.5, 30.0, &key, 4), 8520423);
  EXPECT_EQ(QS852setScrollSpeedWithFactor(errors, nullptr, 0.5, 1.0, &key, 4), 8520411);
}

TEST_F(PointerParameters, SystemAccelerationIsTruncatedAndCapped) {
  const std::string key = kHIDMouseAccelerationKey;
  EXPECT_EQ(QS812systemAcclForType(platform, nullptr, 20.0), 0.0);
  mac.setSystemAcceleration(key, 25);
  EXPECT_EQ(QS812systemAcclForType(platform, &key, 20.0), 20.0);
  mac.setSystemAcceleration(key, -2);
  EXPECT_EQ(QS812systemAcclForType(platform, &key, 20.0), 0.0);
  mac.setSystemAcceleration(key, 0.6875 + 0.9 / 65536);
  EXPECT_EQ(QS812systemAcclForType(platform, &key, 20.0), 0.6875);
  mac.failAccelerationReads(true);
  EXPECT_EQ(QS812systemAcclForType(platform, &key, 20.0), 0.0);
}

class Watcher : public test::SimWorld, public ServiceNotifyTarget {
 protected:
  void serviceNotify(const ServiceRef& s, bool attached, bool isNew) override {
    events.push_back({s->registryID(), attached, isNew});
  }
  struct Event {
    RegistryId id;
    bool attached, isNew;
    bool operator==(const Event&) const = default;
  };
  std::vector<Event> events;
};

TEST_F(Watcher, ExistingServicesFirstThenArrivalsAndRemovals) {
  RegistryId trackpad = attach("macbook-pro-internal-trackpad");
  attach("hid-compatibility-shim");
  auto client = mac.eventSystem().createClient();
  QS852installServiceNotify(client.get(), this);
  // Present services arrive at once, with isNew false, every pointing service included.
  ASSERT_EQ(events.size(), 2u);
  EXPECT_FALSE(events[0].isNew);
  EXPECT_EQ(events[0].id, mac.eventServicesOf(trackpad)[0]);

  RegistryId usb = attach("magic-trackpad-2-usb");
  EXPECT_EQ(events.size(), 2u);  // arrivals come through the run loop
  loop.runUntilIdle();
  auto ids = mac.eventServicesOf(usb);
  ASSERT_EQ(ids.size(), 2u);  // two pointing services at one location
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[2], (Event{ids[0], true, true}));
  EXPECT_EQ(events[3], (Event{ids[1], true, true}));

  mac.detach(usb);
  loop.runUntilIdle();
  ASSERT_EQ(events.size(), 6u);
  EXPECT_EQ(events[4], (Event{ids[0], false, true}));

  QS852removeServiceNotify(client.get());
  attach("generic-usb-optical-mouse");
  loop.runUntilIdle();
  EXPECT_EQ(events.size(), 6u);
}

TEST_F(Watcher, ArrivalPendingWhenTheClientGoesAwayIsDropped) {
  auto client = mac.eventSystem().createClient();
  QS852installServiceNotify(client.get(), this);
  attach("generic-usb-optical-mouse");
  client.reset();
  loop.runUntilIdle();
  EXPECT_TRUE(events.empty());
}

}  // namespace
}  // namespace vl
