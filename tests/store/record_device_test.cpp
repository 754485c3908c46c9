// The device record on simulated devices: creation from a service, names, drivers across
// services, favourites, the change date, the dictionary form with import, and the pane's status.
#include <gtest/gtest.h>

#include "core/hid/pointer_parameters.h"
#include "core/store/records.h"
#include "tests/store/store_fixture.h"

namespace vl {
namespace {

class DeviceRecordTest : public test::StoreBench {
 protected:
  void SetUp() override { ctx = open(false); }
  RegistryId entryOf(const std::string& profile) { return QS852createRegistry(platform, pointingService(attach(profile)).get()); }
  StoreContextRef ctx;
};

TEST_F(DeviceRecordTest, IsMadeFromAServiceIdentity) {
  mac.setHardwareModel("MacBookPro12,1", "MacBook Pro (Retina, 13-inch, Early 2015)");
  struct Case {
    const char* profile;
    uint32_t vid, pid, mid;
    const char* transport;
    std::optional<std::string> registryName;
    const char* resolution;
  } cases[] = {
      {"logitech-unifying-receiver", 0x46d, 0xc52b, 0x4082, "USB", "USB Receiver (PID:C52B MID:4082)", "400"},
      {"microsoft-mouse-vendor-driver", 0x45e, 0x76c, 0, "USB", "Microsoft® Comfort Mouse 4500", "1000"},
      {"magic-mouse-2-bluetooth", 0x4c, 0x269, 0, "Bluetooth", "Magic Mouse 2", "1300"},
      {"macbook-pro-internal-trackpad", 0x5ac, 0x273, 0, "USB",
       "Trackpad: MacBook Pro (Retina, 13-inch, Early 2015), MacBookPro12,1", "400"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.profile);
    QS802DeviceClass* d = QS814insertDeviceWithInfo(errors, c.vid, c.pid, c.mid, c.transport, entryOf(c.profile), ctx.get());
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->registryName(), c.registryName);
    EXPECT_EQ(d->pointerResolution(), c.resolution);
    EXPECT_EQ(d->viewScaleX(), "3.0");
    EXPECT_TRUE(d->cursorSpeeds().empty());
  }
}

TEST_F(DeviceRecordTest, RefusesAnIncompleteIdentityAndLeavesNothingBehind) {
  RegistryId entry = entryOf("generic-usb-optical-mouse");
  struct Case {
    uint32_t vid;
    const char* transport;
    RegistryId entry;
  } cases[] = {{0, "USB", entry}, {0x93a, "", entry}, {0x93a, "USB", 0}};
  for (const Case& c : cases) {
    errors.clear();
    EXPECT_EQ(QS814insertDeviceWithInfo(errors, c.vid, 0x2510, 0, c.transport, c.entry, ctx.get()), nullptr);
    EXPECT_EQ(errorStackEntries(errors), (std::vector<std::string>{"814.0460", "802.0136"}));
  }
  EXPECT_TRUE(QS814allDevices(ctx.get()).empty());
  EXPECT_FALSE(ctx->hasChanges());
}

TEST_F(DeviceRecordTest, AnUnknownProductNameIsNotStored) {
  RegistryId top = attach("generic-usb-optical-mouse");
  for (RegistryId e : mac.registry().children(top, true).entries)
    if (mac.registry().property(e, "Product")) mac.setProperty(e, "Product", pl::Value("unKnown"));
  mac.setProperty(top, "USB Product Name", pl::Value("UNKNOWN"));
  RegistryId entry = QS852createRegistry(platform, pointingService(top).get());
  QS802DeviceClass* d = QS814insertDeviceWithInfo(errors, 0x93a, 0x2510, 0, "USB", entry, ctx.get());
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->registryName(), std::nullopt);
  EXPECT_EQ(d->displayName(), "Device");
}

TEST_F(DeviceRecordTest, DisplayNameAndItsSetter) {
  auto def = std::make_shared<QS834DeviceDefinition>(
      pl::Value(pl::Dict{{"name", pl::Value("MX Master 3")},
                         {"personalities", pl::Value(pl::Array{pl::Value(pl::Dict{{"vid", pl::Value(0x46d)}})})}}),
      "def.xml", false);
  QS802DeviceClass* d = makeDevice(ctx.get(), 0x46d, 0xc52b, 0x4082, "USB");
  d->setRegistryName(std::string("USB Receiver"));
  EXPECT_EQ(d->displayName(), "USB Receiver");
  d->setDeviceDefinition(def);
  EXPECT_EQ(d->displayName(), "MX Master 3");
  d->setName(std::string("USB Receiver"));  // repeats the registry: the definition's is better
  EXPECT_EQ(d->displayName(), "MX Master 3");
  d->setName(std::string("Desk mouse"));
  EXPECT_EQ(d->displayName(), "Desk mouse");

  d->setDisplayName("-Left");
  EXPECT_EQ(d->name(), " -Left");
  d->setDisplayName("");
  EXPECT_EQ(d->name(), "MX Master 3");
  d->setDeviceDefinition(nullptr);
  d->setDisplayName("");
  EXPECT_EQ(d->name(), "USB Receiver");
}

TEST_F(DeviceRecordTest, IndexesAreComparedByTheirText) {
  EXPECT_EQ(QS802DeviceClass::indexWithVID(0x46d, 0xc52b, 0x4082, "USB"), "46d-c52b-4082-USB");
  EXPECT_EQ(QS802DeviceClass::indexWithVID(0xffffffffu, 0, 0, "Bluetooth"), "ffffffff-0-0-Bluetooth");
  // Texts with equal 32-bit string hashes in common schemes still differ.
  EXPECT_FALSE(QS802DeviceClass::compareIndex("46d-c52b-0-Aa", "46d-c52b-0-BB"));
  EXPECT_TRUE(QS802DeviceClass::compareIndex("46d-c52b-0-USB", "46d-c52b-0-USB"));
  QS802DeviceClass* d = makeDevice(ctx.get(), 0x46d, 0xc52b, 0x4082, "USB");
  EXPECT_TRUE(d->isEqualToIndex("46d-c52b-4082-USB"));
  EXPECT_FALSE(d->isEqualToIndex("46d-c52b-4082-usb"));
}

TEST_F(DeviceRecordTest, AnotherVendorsDriverWinsWhicheverServiceComesFirst) {
  RegistryId top = attach("microsoft-mouse-vendor-driver");
  ServiceRef vendorService = pointingService(top);
  // The Apple-driven service of the same device (another service at the same location).
  RegistryId magic = attach("magic-mouse-2-bluetooth");
  ServiceRef appleService = pointingService(magic);
  for (bool appleFirst : {true, false}) {
    SCOPED_TRACE(appleFirst);
    QS802DeviceClass* d = makeDevice(ctx.get(), 0x45e, 0x76c, 0, "USB");
    d->setPointerResolution(std::string("123"));
    ASSERT_EQ(d->addClient(appleFirst ? appleService : vendorService), 0);
    ASSERT_EQ(d->addClient(appleFirst ? vendorService : appleService), 0);
    EXPECT_EQ(d->driverManufacture(), "com.microsoft.driver.MicrosoftMouseUSB");
    EXPECT_TRUE(d->isOtherDriver());
    EXPECT_EQ(d->clientList().size(), 2u);
    // With the other vendor's driver recorded first, the resolution stays untouched.
    if (!appleFirst) {
      EXPECT_EQ(d->pointerResolution(), "123");
    }
    EXPECT_EQ(QS814fetchDeviceForClient(errors, vendorService.get(), ctx.get()), d);
    d->removeClient(vendorService);
    d->removeClient(appleService);
    EXPECT_FALSE(d->driverManufacture());
    EXPECT_FALSE(d->locationID());
    ctx->deleteObject(d);
  }
  QS802DeviceClass* d = makeDevice(ctx.get(), 0x46d, 0xc52b, 0, "USB");
  EXPECT_EQ(d->addClient(nullptr), 8020441);
  EXPECT_EQ(d->updateDriverInfoWithRegistry(0), 8020379);
}

TEST_F(DeviceRecordTest, TheSiblingDriversServiceKeepsTheStoredResolution) {
  RegistryId top = attach("kensington-expert-mouse-drovana");
  QS802DeviceClass* d = makeDevice(ctx.get(), 0x47d, 0x1020, 0, "USB");
  d->setPointerResolution(std::string("777"));
  ASSERT_EQ(d->addClient(pointingService(top)), 0);
  EXPECT_TRUE(d->isDrovanaDriver());
  EXPECT_EQ(d->pointerResolution(), "777");
  EXPECT_EQ(QS814fetchDeviceForLocationID(errors, QS852createRegistry(platform, pointingService(top).get()), ctx.get()), d);
  EXPECT_EQ(QS814fetchDeviceForLocationID(errors, 0, ctx.get()), nullptr);
  EXPECT_EQ(errorStackEntries(errors).front(), "814.0562");
}

TEST_F(DeviceRecordTest, FiveDefaultFavouritesOnceOnly) {
  QS802DeviceClass* d = QS814insertDevice(errors, ctx.get());
  d->setCursorSpeedSelectedIndex(4);
  ASSERT_EQ(d->insert5CursorSpeedsWithSens(-1, -1), d);
  auto css = d->cursorSpeeds();
  ASSERT_EQ(css.size(), 5u);
  const char* sens[] = {"400", "500", "600", "700", "800"};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(css[i]->index(), i);
    EXPECT_EQ(css[i]->sensitivity(), sens[i]);
    EXPECT_EQ(css[i]->trackingSpeed(), "0.6875");
    EXPECT_EQ(css[i]->title(), "Favorite Settings " + std::to_string(i + 1));
    EXPECT_TRUE(css[i]->visible());
    EXPECT_EQ(css[i]->value(attr::cursorSpeed::disableAccl), pl::Value());
    EXPECT_EQ(css[i]->device(), d);
  }
  EXPECT_TRUE(d->value(attr::device::cursorSpeedSelectedIndex).isNull());
  EXPECT_EQ(d->selectedCursorSpeed(), css[0]);
  EXPECT_TRUE(d->cursorSpeedDate());
  css[2]->setSensitivity(std::string("42"));
  EXPECT_EQ(d->insert5CursorSpeedsWithSens(-1, -1), d);
  EXPECT_EQ(d->cursorSpeeds().size(), 5u);
  EXPECT_EQ(css[2]->sensitivity(), "42");
  // An index that no favourite carries still yields one.
  d->setCursorSpeedSelectedIndex(9);
  EXPECT_EQ(d->selectedCursorSpeed(), css[0]);
}

TEST_F(DeviceRecordTest, TheChangeDateFollowsSpeedChangesOnly) {
  QS802DeviceClass* d = makeDevice(ctx.get(), 0x46d, 0xc52b, 0x4082, "USB");
  d->setCursorSpeedDate(pl::Date{100});
  save(ctx.get());
  loop.runPass();
  d->setName(std::string("renamed"));
  d->updateCursorSpeedDate();
  EXPECT_EQ(d->cursorSpeedDate()->seconds, 100);
  d->cursorSpeeds()[1]->setTrackingSpeed(std::string("2"));
  d->updateCursorSpeedDate();
  EXPECT_GT(d->cursorSpeedDate()->seconds, 100);
  save(ctx.get());
  d->setCursorSpeedDate(pl::Date{100});
  save(ctx.get());
  d->setCursorSpeedDisabled(true);
  d->updateCursorSpeedDate();
  EXPECT_GT(d->cursorSpeedDate()->seconds, 100);
}

TEST_F(DeviceRecordTest, DictionaryFormInitAndImport) {
  QS802DeviceClass* src = makeDevice(ctx.get(), 0x46d, 0xc52b, 0x4082, "USB");
  src->setName(std::string("Source"));
  src->setPointerResolution(std::string("800"));
  src->setViewScaleY(std::string("2"));
  src->setCursorSpeedSelectedIndex(1);
  src->cursorSpeeds()[3]->setSensitivity(std::string("1234"));
  pl::Dict dic = src->devDic();
  // The default application made from nothing has no values: its empty dictionary is left out.
  src->insertDefApplication();
  EXPECT_EQ(src->insertDefApplication(), src->defApplication());
  EXPECT_EQ(src->devDic().count("applications"), 0u);
  src->insertApplicationWithObject(AppObject(pl::Dict{{"matchingKey", pl::Value("Mail.app")}}));
  dic = src->devDic();
  ASSERT_EQ(dic.count("applications"), 1u);
  EXPECT_EQ(dic["cursorSpeeds"].asArray()->size(), 5u);
  EXPECT_EQ(devdic::deviceIndex(dic), "46d-c52b-4082-USB");
  EXPECT_EQ(devdic::deviceName(dic), "Source");

  QS802DeviceClass* copy = QS814insertDevice(errors, ctx.get());
  ASSERT_EQ(copy->initWithDevDic(dic), copy);
  EXPECT_EQ(copy->name(), "Source");
  EXPECT_EQ(copy->cursorSpeeds().size(), 5u);
  EXPECT_EQ(copy->applications().size(), 1u);
  pl::Dict again = copy->devDic();
  again.erase("cursorSpeedDate");
  dic.erase("cursorSpeedDate");
  EXPECT_EQ(pl::Value(again), pl::Value(dic));

  // Import keeps identity, names, native resolution and date; replaces the rest.
  QS802DeviceClass* target = makeDevice(ctx.get(), 0x46d, 0xc52b, 0x4082, "USB");
  target->setName(std::string("Mine"));
  target->setCursorSpeedDate(pl::Date{5});
  target->setValueForKey("hScrollOp", pl::Value("gone"));
  std::vector<QS805CursorSpeedClass*> old = target->cursorSpeeds();
  ASSERT_EQ(target->importFromDevDic(dic), target);
  EXPECT_EQ(target->name(), "Mine");
  EXPECT_EQ(target->pointerResolution(), "400");
  EXPECT_EQ(target->viewScaleY(), "2");
  EXPECT_EQ(target->cursorSpeedSelectedIndex(), 1);
  EXPECT_TRUE(target->valueForKey("hScrollOp").isNull());
  EXPECT_EQ(target->selectedCursorSpeed()->sensitivity(), "500");
  EXPECT_EQ(target->cursorSpeeds()[3]->sensitivity(), "1234");
  for (QS805CursorSpeedClass* cs : old) EXPECT_TRUE(cs->managedObjectContext() == nullptr || cs->isDeleted());

  // Copying a dictionary without a key clears that attribute; an equal one marks nothing.
  save(ctx.get());
  pl::Dict current = copy->devDic();  // relationships in it are no attributes and are ignored
  QS812setDictionaryToManagedObject(&current, copy);
  EXPECT_FALSE(copy->hasChanges());
  pl::Dict less = current;
  less.erase("name");
  QS812setDictionaryToManagedObject(&less, copy);
  EXPECT_EQ(copy->name(), std::nullopt);
  EXPECT_EQ(copy->changedKeys(), std::vector<std::string>{"name"});
}

TEST_F(DeviceRecordTest, DebugTextsAndExpansionData) {
  QS802DeviceClass* d = makeDevice(ctx.get(), 0x46d, 0xc52b, 0x4082, "USB");
  d->setExpansionData(pl::Value("v"), "k");
  EXPECT_EQ(*d->expansionDataForKey("k"), pl::Value("v"));
  EXPECT_EQ(d->expantionDataDebug().find('\n'), std::string::npos);
  d->setExpantionDataDebug("{ a = b; c = (1, 2); }");
  EXPECT_EQ(*d->expansionDataForKey("a"), pl::Value("b"));
  d->setExpantionDataDebug("{ broken");  // a typo does not wipe the value
  EXPECT_EQ(*d->expansionDataForKey("a"), pl::Value("b"));
  d->setExpansionData(pl::Value(), "a");
  d->setExpansionData(pl::Value(), "c");
  EXPECT_TRUE(d->expansionData().isNull());
  d->setPartNameDebug("{ b1 = Left; }");
  EXPECT_EQ(d->partNameDebug(), "{b1 = Left;}");
}

TEST_F(DeviceRecordTest, WithoutDefaultGraphDataAServiceWithoutCurvesReadsAsNotConnected) {
  // A program that gives its records no defaults: the mouse is attached, yet shows as absent.
  RegistryId top = attach("generic-usb-optical-mouse");
  QS802DeviceClass* bare = makeDevice(ctx.get(), 0x93a, 0x2510, 0, "USB");
  ASSERT_EQ(bare->VL702addClient(pointingService(top)), 0);
  EXPECT_EQ(bare->VL702status(), kVL702NotConnected);
  bare->VL702removeClient(pointingService(top));

  // The defaults handed in when the store is opened make it connected.
  ctx.reset();
  records.defaultAcclTable = pl::Value(pl::Data{1, 2, 3});
  records.defaultAcclCurves = pl::Value(pl::Array{pl::Value(pl::Dict{})});
  ctx = open(false);
  QS802DeviceClass* d = makeDevice(ctx.get(), 0x93a, 0x2510, 0, "USB");
  ASSERT_EQ(d->VL702addClient(pointingService(top)), 0);
  EXPECT_EQ(d->VL702status(), kVL702Controlled);
}

TEST_F(DeviceRecordTest, StatusAndGraphDataOfTheFirstService) {
  records.defaultAcclTable = pl::Value(pl::Data{1, 2, 3});
  records.defaultAcclCurves = pl::Value(pl::Array{pl::Value(pl::Dict{})});
  ctx.reset();
  ctx = open(false);
  RegistryId top = attach("generic-usb-optical-mouse");
  QS802DeviceClass* d = makeDevice(ctx.get(), 0x93a, 0x2510, 0, "USB");
  EXPECT_EQ(d->VL702status(), kVL702NotConnected);
  EXPECT_STREQ(d->VL702statusIcon(), "NSImageNameStatusNone");
  ASSERT_EQ(d->VL702addClient(pointingService(top)), 0);
  EXPECT_TRUE(d->VL702readyForGraph());
  EXPECT_TRUE(d->VL702acclTable()->isData());
  EXPECT_NE(*d->VL702acclTable(), pl::Value(pl::Data{1, 2, 3})) << "the service's own table comes first";
  EXPECT_EQ(*d->VL702acclCurves(), pl::Value(pl::Array{pl::Value(pl::Dict{})})) << "no curves: the defaults";
  EXPECT_EQ(d->VL702status(), kVL702Controlled);
  EXPECT_FALSE(d->VL702hasError());
  d->setCursorSpeedDisabled(true);
  EXPECT_EQ(d->VL702status(), kVL702Disabled);
  EXPECT_TRUE(d->VL702isConnected());
  EXPECT_FALSE(d->VL702isEnabled());
  EXPECT_TRUE(d->VL702hasError());
  d->VL702removeClient(pointingService(top));
  EXPECT_EQ(d->VL702status(), kVL702NotConnected);
  EXPECT_FALSE(d->VL702acclTable());

  EXPECT_EQ(d->VL702addClient(nullptr), 7020106);
  EXPECT_EQ(errorStackEntries(errors).front(), "802.0441");

  d->setCursorSpeedSelectedIndex(1);
  for (const std::set<uint64_t>& sel : {std::set<uint64_t>{5}, std::set<uint64_t>{}}) {
    d->setVL702cursorSpeedSelectedIndexes(sel);
    EXPECT_EQ(d->cursorSpeedSelectedIndex(), 1);
  }
  d->setVL702cursorSpeedSelectedIndexes({0, 3});
  EXPECT_EQ(d->VL702cursorSpeedSelectedIndexes(), std::set<uint64_t>{3});
}

}  // namespace
}  // namespace vl
