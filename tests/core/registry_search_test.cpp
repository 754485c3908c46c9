// Registry search on the device profiles: classification, location, driver and resolution
// searches with their fallbacks and error chains, HID device lists, user clients, the Unifying
// receiver's name and firmware answers, and the sibling-version messages.
#include <gtest/gtest.h>

#include "core/hid/pointer_parameters.h"
#include "core/hid/registry_search.h"
#include "support/sim_world.h"

namespace vl {
namespace {

TEST(AppleClassification, Table) {
  struct Case {
    uint32_t vid, pid;
    bool mouse, magicMouse, magicTrackpad, internal, trackpad, gesture;
  } cases[] = {
      {0x05AC, 0x0303, false, false, false, true, true, true},     // built-in trackpad
      {0x05AC, 0x0273, false, false, false, true, true, true},
      {0x05AC, 0x0304, true, false, false, false, false, false},   // a mouse
      {0x004C, 0x0269, false, true, false, false, false, true},    // Magic Mouse 2
      {0x05AC, 0x030D, false, true, false, false, false, true},    // Magic Mouse
      {0x004C, 0x0265, false, false, true, false, true, true},     // Magic Trackpad 2
      {0x05AC, 0x030E, false, false, true, false, true, true},
      {0x05AC, 0x0265, false, false, true, false, true, true},
      {0x004C, 0x0303, false, false, false, false, false, false},  // Bluetooth id is no trackpad
      {0x046D, 0xC52B, false, false, false, false, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.vid << "/" << c.pid);
    EXPECT_EQ(QS822isApplMouse(c.vid, c.pid), c.mouse);
    EXPECT_EQ(QS822isMagicMouse(c.vid, c.pid), c.magicMouse);
    EXPECT_EQ(QS822isMagicTrackpad(c.vid, c.pid), c.magicTrackpad);
    EXPECT_EQ(QS822isAppleInternalTrackpad(c.vid, c.pid), c.internal);
    EXPECT_EQ(QS822isAppleTrackpad(c.vid, c.pid), c.trackpad);
    EXPECT_EQ(QS822isAppleGestureDevice(c.vid, c.pid), c.gesture);
  }
}

TEST(DrovanaVersions, Messages) {
  EXPECT_EQ(VL712drovanaError(0), nullptr);
  EXPECT_EQ(VL712drovanaError(0x05310000), nullptr);
  EXPECT_EQ(VL712drovanaError(0x05FF8000), nullptr);
  EXPECT_STREQ(VL712drovanaError(0x0530FFFF), "Please upgrade Drovana to the latest version.");
  EXPECT_STREQ(VL712drovanaError(0x06000000),
               "This version does not have compatibility with Drovana currently you are using. Please upgrade "
               "Velmora to the latest version.");
}

class RegistrySearch : public test::SimWorld {
 protected:
  RegistryId entryOf(const ServiceRef& s) { return QS852createRegistry(platform, s.get()); }
  // An entry below top of the given class.
  RegistryId find(RegistryId top, const char* cls) {
    auto kids = mac.registry().children(top, true).entries;
    kids.insert(kids.begin(), top);
    for (RegistryId k : kids)
      if (mac.registry().className(k) == cls) return k;
    ADD_FAILURE() << "no " << cls;
    return 0;
  }
};

TEST_F(RegistrySearch, ParentRegistryLooksAtSelfThenAncestorsThenDescendants) {
  RegistryId top = attach("logitech-unifying-receiver");
  RegistryId service = entryOf(pointingService(top));
  EXPECT_EQ(QS822createParentRegistry(platform, errors, service, "IOHIDEventService"), service);
  RegistryId device = QS822createParentRegistry(platform, errors, service, "IOHIDDevice");
  EXPECT_EQ(mac.registry().className(device), "AppleUserHIDDevice");
  EXPECT_EQ(QS822createParentRegistry(platform, errors, service, "IOUSBHostDevice"), top);
  // From the top, a descendant is found (the first in child order).
  EXPECT_NE(QS822createParentRegistry(platform, errors, top, "IOHIDInterface"), 0u);
  EXPECT_EQ(QS822createParentRegistry(platform, errors, service, "NoSuchClass"), 0u);
  EXPECT_TRUE(errorStackEntries(errors).empty());
  EXPECT_EQ(QS822createParentRegistry(platform, errors, 0, "IOService"), 0u);
  EXPECT_EQ(errorStackEntries(errors), (std::vector<std::string>{"822.0026"}));
}

TEST_F(RegistrySearch, IteratorFailuresPushTheCodeThenTheSite) {
  RegistryId service = entryOf(pointingService(attach("generic-usb-optical-mouse")));
  mac.failIterators(true);
  errors.clear();
  EXPECT_EQ(QS822createParentRegistry(platform, errors, service, "IOUSBHostDevice"), 0u);
  // Found on the entry itself: no iterator is needed.
  EXPECT_TRUE(QS822searchLocationID(platform, errors, entryOf(pointingService(attach("magic-mouse-2-bluetooth")))));
  EXPECT_EQ(QS822searchDriverID(platform, errors, service), std::nullopt);
  // The platform code is an IOReturn; as a signed 32-bit number it is a negative foreign code
  // and is shown as it is.
  std::vector<std::string> expected{"822.0200", "-536870211", "822.0038", "-536870211"};
  EXPECT_EQ(errorStackEntries(errors), expected);
}

TEST_F(RegistrySearch, LocationSearch) {
  RegistryId top = attach("logitech-unifying-receiver");
  RegistryId service = entryOf(pointingService(top));
  EXPECT_EQ(QS822searchLocationID(platform, errors, service)->unsignedIntValue(), 0x14200000u);
  // A zero value is skipped and the ancestors are asked.
  mac.setProperty(service, "LocationID", 0);
  EXPECT_EQ(QS822searchLocationID(platform, errors, service)->unsignedIntValue(), 0x14200000u);
  // Only the lower-case spelling on the USB device.
  RegistryId usbDevice = top;
  EXPECT_EQ(QS822searchLocationID(platform, errors, usbDevice)->unsignedIntValue(), 0x14200000u);
  EXPECT_EQ(QS822searchLocationID(platform, errors, 0), std::nullopt);
}

TEST_F(RegistrySearch, DriverSearchPassesOverAppleAndDrovana) {
  struct Case {
    const char* profile;
    const char* driver;
  } cases[] = {
      {"microsoft-mouse-vendor-driver", "com.microsoft.driver.MicrosoftMouseUSB"},
      {"kensington-expert-mouse-drovana", "quillon.driver.Drovana"},
      {"magic-mouse-2-bluetooth", "com.apple"},
      {"generic-usb-optical-mouse", "com.apple"},
  };
  for (const auto& c : cases) {
    RegistryId service = entryOf(pointingService(attach(c.profile)));
    EXPECT_EQ(QS822searchDriverID(platform, errors, service), c.driver) << c.profile;
  }
  EXPECT_EQ(QS822searchDriverID(platform, errors, 0), std::nullopt);
}

TEST_F(RegistrySearch, DriverChainOfAppleDrovanaAndVendor) {
  RegistryId top = attach("generic-usb-optical-mouse");
  RegistryId service = entryOf(pointingService(top));
  auto parents = mac.registry().parents(service, true).entries;
  ASSERT_GE(parents.size(), 2u);
  mac.setProperty(service, "CFBundleIdentifier", "com.apple.iokit.IOHIDFamily");
  mac.setProperty(parents[0], "CFBundleIdentifier", "quillon.driver.Drovana.PT");
  mac.setProperty(parents[1], "CFBundleIdentifier", "com.example.driver");
  EXPECT_EQ(QS822searchDriverID(platform, errors, service), "com.example.driver");
  mac.removeProperty(parents[1], "CFBundleIdentifier");
  EXPECT_EQ(QS822searchDriverID(platform, errors, service), "quillon.driver.Drovana");
}

TEST_F(RegistrySearch, ResolutionFallsBackToTheEventServiceAtTheSameLocation) {
  RegistryId top = attach("logitech-unifying-receiver");
  RegistryId device = QS822createParentRegistry(platform, errors, entryOf(pointingService(top)), "IOHIDDevice");
  ASSERT_FALSE(mac.registry().property(device, "HIDPointerResolution"));
  EXPECT_EQ(QS822searchResolution(platform, device, "HIDPointerResolution"), 400.0);
  EXPECT_EQ(QS822searchResolution(platform, device, "NoSuchKey"), -1.0);
  EXPECT_EQ(QS822searchResolution(platform, 0, "HIDPointerResolution"), -1.0);
  EXPECT_EQ(QS822searchResolution(platform, top, "HIDPointerResolution"), -1.0);  // no "LocationID" there
  RegistryId mouse = entryOf(pointingService(attach("magic-mouse-2-bluetooth")));
  EXPECT_EQ(QS822searchResolution(platform, mouse, "HIDPointerResolution"), 1300.0);
}

TEST_F(RegistrySearch, EventServiceAndDrovanaDriver) {
  RegistryId top = attach("kensington-expert-mouse-drovana");
  RegistryId service = entryOf(pointingService(top));
  EXPECT_TRUE(QS822isDrovanaDriver(platform, service));
  EXPECT_EQ(QS822createEventServiceRegistry(platform, errors, service), service);
  RegistryId device = QS822createParentRegistry(platform, errors, service, "IOHIDDevice");
  EXPECT_EQ(QS822createEventServiceRegistry(platform, errors, device), service);
  EXPECT_FALSE(QS822isDrovanaDriver(platform, device));
  EXPECT_EQ(QS822createEventServiceRegistry(platform, errors, top), service);  // the HID device is found below
}

TEST_F(RegistrySearch, HidDeviceListsAndUserClients) {
  RegistryId top = attach("logitech-unifying-receiver");
  ServiceRef s = pointingService(top);
  std::optional<pl::Value> location;
  QS852getDeviceInfo(s.get(), nullptr, nullptr, nullptr, nullptr, &location, nullptr);
  EXPECT_EQ(QS822HIDDeviceList(platform, location, 0, 0).size(), 3u);  // the three interfaces
  EXPECT_EQ(QS822HIDDeviceList(platform, location, 1, 2).size(), 1u);
  EXPECT_TRUE(QS822HIDDeviceList(platform, std::nullopt, 1, 2).empty());
  pl::Value usb("USB"), bt("Bluetooth");
  EXPECT_EQ(QS822HIDDeviceList(platform, location, 1, 2, "Transport", &usb).size(), 1u);
  EXPECT_TRUE(QS822HIDDeviceList(platform, location, 1, 2, "Transport", &bt).empty());

  HidDeviceRef vendor = QS822createLogitechHID(platform, location);
  ASSERT_TRUE(vendor);
  EXPECT_EQ(mac.registry().property(vendor->service(), "PrimaryUsagePage")->intValue(), 0xFF00);
  EXPECT_EQ(QS822getUserClients(platform, vendor.get(), nullptr), "LogiMgrDaemon,Velmora Manager");
  EXPECT_EQ(QS822getUserClients(platform, vendor.get(), "Logi"), "Velmora Manager");
  mac.setProcessName("Velmora Manager");
  EXPECT_EQ(QS822getUserClients(platform, vendor.get(), nullptr), "LogiMgrDaemon");
  HidDeviceRef pointer = QS822createHIDDevice(platform, location, 1, 2);
  EXPECT_EQ(QS822getUserClients(platform, pointer.get(), nullptr), std::nullopt);
}

TEST_F(RegistrySearch, UnifyingNameAndFirmware) {
  RegistryId top = attach("logitech-unifying-receiver");
  std::optional<pl::Value> location;
  QS852getDeviceInfo(pointingService(top).get(), nullptr, nullptr, nullptr, nullptr, &location, nullptr);
  HidDeviceRef vendor = QS822createLogitechHID(platform, location);
  ASSERT_TRUE(vendor);
  EXPECT_EQ(QS822logitechUnifyingDeviceName(platform, vendor.get(), 1), "MX Master 3");
  EXPECT_EQ(QS822logitechUnifyingDeviceName(platform, vendor.get(), 2), "MX Master 2S");
  EXPECT_EQ(QS822logitechUnifyingDeviceName(platform, vendor.get(), 3), std::nullopt);  // empty slot
  uint32_t version = 1;
  EXPECT_EQ(QS822logitechFirmVersion(platform, errors, vendor.get(), 1, &version), 0);
  EXPECT_EQ(version, 335544342u);
  EXPECT_EQ(QS822logitechFirmVersion(platform, errors, vendor.get(), 4, &version), 8220653);
  EXPECT_EQ(version, 0u);
  EXPECT_EQ(QS822logitechFirmVersion(platform, errors, nullptr, 1, &version), 8220594);
  // The pointing interface has no vendor elements.
  HidDeviceRef pointer = QS822createHIDDevice(platform, location, 1, 2);
  EXPECT_EQ(QS822logitechFirmVersion(platform, errors, pointer.get(), 1, &version), 8220604);
  EXPECT_EQ(QS822logitechUnifyingDeviceName(platform, pointer.get(), 1), std::nullopt);
}

TEST_F(RegistrySearch, ListenAccessOnlyAskedFromCatalinaOn) {
  mac.setListenAccess(false);
  mac.setOsVersion({10, 14, 6});
  EXPECT_TRUE(QS822IOHIDCheckAccess(platform));
  mac.setOsVersion({10, 15, 0});
  EXPECT_FALSE(QS822IOHIDCheckAccess(platform));
  mac.setListenAccess(true);
  EXPECT_TRUE(QS822IOHIDCheckAccess(platform));
}

}  // namespace
}  // namespace vl
