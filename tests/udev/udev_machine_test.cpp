// The udev machine on umockdev device trees: which devices are pointing devices, the identity
// and registry shape each gets, and hot-plug through uevents (attach, detach, re-attach, storms).
#include <gtest/gtest.h>

#include "core/hid/pointer_parameters.h"
#include "core/hid/registry_search.h"
#include "udev/udev_fixture.h"

namespace vl {
namespace {

using test::UdevBench;

class UdevMachineTest : public UdevBench {};

TEST_F(UdevMachineTest, EachKindOfPointingDeviceGetsItsIdentityAndOthersAreIgnored) {
  std::string usb = mock.addUsbMouse(1, "2", 0x093A, 0x2510, "USB Optical Mouse");
  std::string bt = mock.addBluetoothMouse("aa:bb:cc:dd:ee:01", 0x004C, 0x0269, "Magic Mouse 2", false);
  std::string ble = mock.addBluetoothMouse("aa:bb:cc:dd:ee:02", 0x046D, 0xB023, "MX Master 3", true);
  std::string i2c = mock.addI2cTouchpad("i2c-ELAN0001:00", 0x04F3, 0x3140, "ELAN0001:00 04F3:3140");
  mock.addKeyboard();
  mock.addJoystick();
  mock.addTablet();
  start();

  struct Case {
    std::string path;
    uint32_t vid, pid;
    const char* transport;
    const char* kind;
    const char* accelKey;
  } cases[] = {{usb, 0x093A, 0x2510, "USB", "mouse", "HIDMouseAcceleration"},
               {bt, 0x004C, 0x0269, "Bluetooth", "mouse", "HIDMouseAcceleration"},
               {ble, 0x046D, 0xB023, "Bluetooth Low Energy", "mouse", "HIDMouseAcceleration"},
               {i2c, 0x04F3, 0x3140, "I2C", "touchpad", "HIDTrackpadAcceleration"}};
  ASSERT_EQ(machine->devices().size(), std::size(cases)) << "keyboard, joystick, tablet and the touchscreen half are no pointing devices";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    auto s = serviceAt(c.path);
    ASSERT_TRUE(s);
    uint32_t vid = 0, pid = 0, mid = 1;
    std::optional<std::string> transport;
    std::optional<pl::Value> location;
    QS852getDeviceInfo(s.get(), &vid, &pid, &mid, &transport, &location, nullptr);
    EXPECT_EQ(vid, c.vid);
    EXPECT_EQ(pid, c.pid);
    EXPECT_EQ(mid, 0u);
    EXPECT_EQ(transport.value_or(""), c.transport);
    ASSERT_TRUE(location);
    EXPECT_GT(location->intValue(), 0) << "a location the core takes as valid";
    EXPECT_EQ(machine->devices().at(c.path).kind, c.kind);
    EXPECT_EQ(serviceString(s.get(), "HIDPointerAccelerationType").value_or(""), c.accelKey);
    EXPECT_TRUE(VL722isSupportedServiceClient(platform, s.get()));
    EXPECT_EQ(QS852getClass(platform, s.get()).value_or(""), "IOHIDEventDriver");
    // The core finds the HID device above, the event service from it, and no foreign driver.
    RegistryId entry = QS852createRegistry(platform, s.get());
    RegistryId hidDevice = QS822createParentRegistry(platform, errors, entry, "IOHIDDevice");
    ASSERT_NE(hidDevice, 0u);
    EXPECT_EQ(QS822createEventServiceRegistry(platform, errors, hidDevice), entry);
    EXPECT_EQ(QS822searchLocationID(platform, errors, entry)->longLongValue(), location->longLongValue());
    EXPECT_EQ(QS822searchDriverID(platform, errors, entry).value_or(""), "com.apple");
    EXPECT_TRUE(hid->createDevice(hidDevice));
  }
  // USB carries the port chain as the platform writes it, and the maker's names.
  auto s = serviceAt(usb);
  EXPECT_EQ(serviceUInt32(s.get(), "LocationID").value_or(0), 0x01200000u);
  EXPECT_EQ(serviceString(s.get(), "Product").value_or(""), "USB Optical Mouse");
  EXPECT_EQ(serviceString(s.get(), "Manufacturer").value_or(""), "Maker");
  EXPECT_EQ(serviceString(s.get(), "SerialNumber").value_or(""), "SN1-2");
  EXPECT_NE(QS822createParentRegistry(platform, errors, QS852createRegistry(platform, s.get()), "IOUSBHostDevice"), 0u);
  EXPECT_EQ(serviceString(serviceAt(bt).get(), "SerialNumber").value_or(""), "aa:bb:cc:dd:ee:01");
  // What a writer is told of the device.
  const auto& info = serviceAt(i2c)->info();
  EXPECT_TRUE(info.touchpad);
  EXPECT_EQ(info.name, "ELAN0001:00 04F3:3140 Touchpad");
  EXPECT_EQ(info.devNode.rfind("/dev/input/event", 0), 0u);
  EXPECT_EQ(info.vendorId, 0x04F3u);
}

TEST_F(UdevMachineTest, HotPlugArrivesAndLeavesThroughTheMonitor) {
  start();
  auto client = events->createClient();
  std::vector<std::string> seen;
  client->setMatchingMultiple(pl::Array{pl::Dict{{"DeviceUsagePage", 1}, {"DeviceUsage", 2}}});
  client->scheduleWithRunLoop();
  client->registerDeviceMatchingCallback([&](const ServiceRef& s) {
    seen.push_back("add " + serviceString(s.get(), "Product").value_or("?"));
    client->registerRemovalCallback(s, [&](const ServiceRef& r) {
      seen.push_back("remove " + serviceString(r.get(), "Product").value_or("?"));
    });
  });
  size_t emptySize = machine->registry().size();

  std::string ev = mock.addUsbMouse(1, "3", 0x093A, 0x2510, "USB Optical Mouse", /*emit=*/true);
  mock.addKeyboard(/*emit=*/true);
  pump();
  ASSERT_EQ(seen, (std::vector<std::string>{"add USB Optical Mouse"}));
  RegistryId first = machine->devices().at(ev).service;
  uint32_t location = machine->devices().at(ev).locationId;

  mock.remove(ev);
  pump();
  EXPECT_EQ(seen.back(), "remove USB Optical Mouse");
  EXPECT_TRUE(machine->devices().empty());
  EXPECT_EQ(machine->registry().size(), emptySize) << "a device that left leaves no entries behind";
  EXPECT_FALSE(machine->registry().exists(first));

  // Back on the same port: a new entry, the same location.
  ev = mock.addUsbMouse(1, "3", 0x093A, 0x2510, "USB Optical Mouse", true);
  pump();
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_NE(machine->devices().at(ev).service, first);
  EXPECT_EQ(machine->devices().at(ev).locationId, location);
  EXPECT_EQ(client->copyServices().size(), 1u);

  // A storm of comings and goings, read as fast as it comes, and a burst taken in one pass
  // (the device leaves and comes back before the monitor is read).
  mock.remove(ev);
  for (int i = 0; i < 20; ++i) {
    std::string e = mock.addUsbMouse(1, "3", 0x093A, 0x2510, "USB Optical Mouse", true);
    mock.remove(e);
  }
  ev = mock.addUsbMouse(1, "3", 0x093A, 0x2510, "USB Optical Mouse", true);
  mock.setPump(nullptr);
  mock.remove(ev);
  ev = mock.addUsbMouse(1, "3", 0x093A, 0x2510, "USB Optical Mouse", true);
  pump();
  mock.setPump([this] { pump(); });
  ASSERT_EQ(machine->devices().size(), 1u);
  ASSERT_TRUE(machine->devices().count(ev));
  size_t adds = std::count_if(seen.begin(), seen.end(), [](const std::string& s) { return s.rfind("add", 0) == 0; });
  size_t removes = seen.size() - adds;
  EXPECT_EQ(adds, removes + 1) << "every arrival but the last one was followed by its removal";
  EXPECT_EQ(client->copyServices().size(), 1u);
  mock.remove(ev);
  EXPECT_EQ(machine->registry().size(), emptySize);

  // An unscheduled client hears nothing.
  client->unscheduleFromRunLoop();
  size_t before = seen.size();
  mock.addUsbMouse(1, "4", 0x093A, 0x2510, "USB Optical Mouse", true);
  pump();
  EXPECT_EQ(seen.size(), before);
}

TEST_F(UdevMachineTest, ABluetoothMouseKeepsItsLocationAcrossReconnects) {
  start();
  std::string first = mock.addBluetoothMouse("aa:bb:cc:dd:ee:02", 0x046D, 0xB023, "MX Master 3", true, true);
  ASSERT_EQ(machine->devices().size(), 1u);
  uint32_t location = machine->devices().at(first).locationId;
  mock.remove(first);
  ASSERT_TRUE(machine->devices().empty());
  // It comes back on a new uhid node with a new HID number: the same device at the same place.
  std::string again = mock.addBluetoothMouse("aa:bb:cc:dd:ee:02", 0x046D, 0xB023, "MX Master 3", true, true);
  ASSERT_EQ(machine->devices().size(), 1u);
  EXPECT_NE(again, first);
  EXPECT_EQ(machine->devices().at(again).locationId, location);
  std::string other = mock.addBluetoothMouse("aa:bb:cc:dd:ee:03", 0x046D, 0xB023, "MX Master 3", true, true);
  EXPECT_NE(machine->devices().at(other).locationId, location) << "a second mouse of the same model is another device";
}

TEST_F(UdevMachineTest, SpeedPropertiesGoToTheWriterAndIdentityStaysPut) {
  std::string usb = mock.addUsbMouse(1, "2", 0x093A, 0x2510, "USB Optical Mouse");
  start();
  auto s = serviceAt(usb);
  ASSERT_TRUE(s);
  std::string key = "HIDMouseAcceleration";
  EXPECT_EQ(QS852setCursorSpeed(errors, s.get(), &key, 600.0, 1.5, false), 0);
  ASSERT_EQ(writer.writes.size(), 2u);
  EXPECT_EQ(writer.writes[0].key, "HIDPointerResolution");
  EXPECT_EQ(writer.writes[0].value.intValue(), 600 * 65536);
  EXPECT_EQ(writer.writes[1].key, "HIDMouseAcceleration");
  EXPECT_EQ(QS852getCursorSens(s.get()), 600.0);
  // The registry shows the writer's value to the core's registry searches too.
  EXPECT_EQ(QS822searchResolution(platform, s->registryID(), "HIDPointerResolution"), 600.0);
  EXPECT_EQ(QS852setUnifyingInfo(s.get(), 0x4082, 2), 0);
  uint32_t mid = 0;
  uint8_t ix = 0;
  QS852getDeviceInfo(s.get(), nullptr, nullptr, &mid, nullptr, nullptr, &ix);
  EXPECT_EQ(mid, 0x4082u);
  EXPECT_EQ(ix, 2);
  EXPECT_FALSE(s->setProperty("VendorID", pl::Value::uint32(1))) << "identity is the kernel's";
  EXPECT_EQ(serviceUInt32(s.get(), "VendorID").value_or(0), 0x093Au);
}

TEST_F(UdevMachineTest, WithoutAWriterEveryWriteIsRefusedAndSaidOnce) {
  std::string usb = mock.addUsbMouse(1, "2", 0x093A, 0x2510, "USB Optical Mouse");
  start(/*withWriter=*/false);
  auto s = serviceAt(usb);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->writer().name(), "none");
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(s->setProperty("HIDPointerResolution", pl::Value::int32(400 << 16)));
  EXPECT_FALSE(s->property("HIDPointerResolution"));
  EXPECT_EQ(s->lastRefusal(), linux_input::kNoWriterDetail);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_NE(reports[0].find("no speed writer for this session"), std::string::npos) << reports[0];
  EXPECT_NE(reports[0].find("/dev/input/event"), std::string::npos) << reports[0];
  // The acceleration key a device takes is still known.
  EXPECT_EQ(serviceString(s.get(), "HIDPointerAccelerationType").value_or(""), "HIDMouseAcceleration");
}

}  // namespace
}  // namespace vl
