// Device definitions applied to device records: a newly seen device is named and given its
// real resolution by the matching definition; existing records are refreshed the same way.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/store/defined_device.h"
#include "core/store/records.h"
#include "tests/store/definition_test_util.h"
#include "tests/store/store_fixture.h"

namespace vl {
namespace {

class DefinedDevice : public test::StoreBench {
 protected:

  std::string userFolder() const { return paths.applicationSupport() + "/Drovana & Velmora/Device Definitions"; }

  // The registry entry of a fixture's first pointing service.
  RegistryId serviceEntry(const std::string& profile) {
    auto services = mac.eventServicesOf(attach(profile));
    EXPECT_FALSE(services.empty());
    return services.empty() ? 0 : services.front();
  }

  // This bench's definitions, read on first use like an agent's.
  DeviceDefinitionCache definitions{platform};

  static DeviceDefinitionRef definition(pl::Dict content) {
    return std::make_shared<const QS834DeviceDefinition>(pl::Value(std::move(content)), "mem.xml", false);
  }

  bool stackHas(const std::string& entry) {
    auto e = errorStackEntries(errors);
    return std::find(e.begin(), e.end(), entry) != e.end();
  }
};

TEST_F(DefinedDevice, ReceiverWithMxMaster3TakesTheDefinitionsNameAndResolution) {
  auto ctx = open(false);
  RegistryId entry = serviceEntry("logitech-unifying-receiver");
  QS802DeviceClass* d = VL714insertDefinedDevice(errors, definitions, 0x46D, 0xC52B, 0x4082, "USB", entry, ctx.get(), -1, -1);
  ASSERT_NE(d, nullptr) << ::testing::PrintToString(errorStackEntries(errors));
  EXPECT_EQ(d->registryName(), "MX Master 3 (Unifying Receiver)");
  EXPECT_EQ(d->pointerResolution(), "1000") << "the receiver reports 400; the mouse has 1000";
  ASSERT_TRUE(d->deviceDefinition());
  EXPECT_EQ(std::filesystem::path(d->deviceDefinition()->filePath()).filename(), "logitech-mx-master-3.xml");
  EXPECT_EQ(d->cursorSpeeds().size(), 5u);
  EXPECT_EQ(d->displayName(), "MX Master 3 (Unifying Receiver)");
}

TEST_F(DefinedDevice, UnknownDeviceKeepsWhatTheRegistrySays) {
  auto ctx = open(false);
  RegistryId entry = serviceEntry("wacom-intuos-tablet");
  QS802DeviceClass* d = VL714insertDefinedDevice(errors, definitions, 0x56A, 0x374, 0, "USB", entry, ctx.get(), 300, 1.5);
  ASSERT_NE(d, nullptr);
  EXPECT_FALSE(d->deviceDefinition());
  EXPECT_EQ(d->pointerResolution(), "400");
  EXPECT_TRUE(d->registryName().has_value());
  ASSERT_EQ(d->cursorSpeeds().size(), 5u);
  // The given sensitivity and acceleration seed the favourites.
  auto* first = d->selectedCursorSpeed();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->sensitivity(), "300");
  EXPECT_EQ(first->trackingSpeed(), "1.5");
}

TEST_F(DefinedDevice, UsersOwnDefinitionWinsAndAPersonalityWithoutNameUsesTheProducts) {
  test::writePlist(userFolder() + "/mine.xml",
                   pl::Value(pl::Dict{{"name", "My Magic Mouse"},
                                      {"pointerResolution", "1600"},
                                      {"personalities", pl::Array{pl::Value(pl::Dict{{"vid", 0x4C}, {"pid", 0x269}})}}}));
  auto ctx = open(false);
  RegistryId entry = serviceEntry("magic-mouse-2-bluetooth");
  QS802DeviceClass* d = VL714insertDefinedDevice(errors, definitions, 0x4C, 0x269, 0, "Bluetooth", entry, ctx.get(), -1, -1);
  ASSERT_NE(d, nullptr);
  // The shipped definition scores 1101 (with transport) and beats the user's 1100.
  EXPECT_EQ(d->registryName(), "Magic Mouse 2");
  EXPECT_EQ(d->pointerResolution(), "1300");

  definitions.forget();
  test::writePlist(userFolder() + "/mine.xml",
                   pl::Value(pl::Dict{{"name", "My Magic Mouse"},
                                      {"pointerResolution", "1600"},
                                      {"personalities", pl::Array{pl::Value(pl::Dict{
                                                            {"vid", 0x4C}, {"pid", 0x269}, {"transport", "Bluetooth"}})}}}));
  QS802DeviceClass* again = VL714insertDefinedDevice(errors, definitions, 0x4C, 0x269, 0, "Bluetooth", entry, ctx.get(), -1, -1);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->registryName(), "My Magic Mouse") << "equal scores: the user's definition wins";
  EXPECT_EQ(again->pointerResolution(), "1600");
  EXPECT_TRUE(again->deviceDefinition()->inUserFolder());
}

TEST_F(DefinedDevice, InsertFailurePushesItsNumber) {
  auto ctx = open(false);
  errors.clear();
  EXPECT_EQ(VL714insertDefinedDevice(errors, definitions, 0, 0xC52B, 0, "USB", serviceEntry("logitech-unifying-receiver"), ctx.get(), -1, -1),
            nullptr);
  EXPECT_TRUE(stackHas("714.0038")) << ::testing::PrintToString(errorStackEntries(errors));
  errors.clear();
  EXPECT_EQ(VL714insertDefinedDevice(errors, definitions, 0x46D, 0xC52B, 0, "USB", 0, ctx.get(), -1, -1), nullptr) << "no registry entry";
  EXPECT_TRUE(stackHas("714.0038"));
  EXPECT_EQ(VL714insertDefinedDevice(errors, definitions, 0x46D, 0xC52B, 0, "USB", 1, nullptr, -1, -1), nullptr) << "no context";
}

TEST_F(DefinedDevice, ApplyingTakesOnlyAResolutionWithinLimitsThatDiffers) {
  auto ctx = open(false);
  struct Case {
    const char* device;
    pl::Value defined;
    const char* expected;
  };
  const Case cases[] = {
      {"400", "1600", "1600"},   {"400", "5000", "400"},  {"400", "abc", "400"},
      {"400.0", "400", "400.0"},  // the same value: the text is left alone
      {"", "800", "800"},        {"400", pl::Value(), "400"},
  };
  for (const auto& c : cases) {
    QS802DeviceClass* d = makeDevice(ctx.get(), 0x93A, 0x2510, 0, "USB");
    d->setPointerResolution(*c.device ? std::optional<std::string>(c.device) : std::nullopt);
    pl::Dict content{{"name", "Mouse"}};
    if (!c.defined.isNull()) content.emplace("pointerResolution", c.defined);
    auto def = definition(content);
    VL714applyDeviceDefinition(d, def);
    EXPECT_EQ(d->pointerResolution().value_or(""), c.expected) << c.device << " <- " << c.defined.describe();
    EXPECT_EQ(d->deviceDefinition(), def);
  }
  VL714applyDeviceDefinition(nullptr, definition({{"pointerResolution", "800"}}));
  QS802DeviceClass* d = makeDevice(ctx.get(), 0x93A, 0x2510, 0, "USB");
  VL714applyDeviceDefinition(d, nullptr);
  EXPECT_FALSE(d->deviceDefinition());
  EXPECT_EQ(d->pointerResolution(), "400");
}

TEST_F(DefinedDevice, SearchAndApplyRefreshesRecordsAndKeepsAnEarlierLink) {
  auto ctx = open(false);
  QS802DeviceClass* ball = makeDevice(ctx.get(), 0x47D, 0x1020, 0, "USB");
  VL714searchAndApplyDeviceDefinition(definitions, ball);
  ASSERT_TRUE(ball->deviceDefinition());
  EXPECT_EQ(ball->ddefName(), "Kensington Expert Mouse");
  EXPECT_EQ(ball->displayName(), "Kensington Expert Mouse");

  // No definition for this identity: the link it had stays, nothing else changes.
  QS802DeviceClass* odd = makeDevice(ctx.get(), 0x1234, 0x5678, 0, "USB");
  auto earlier = definition({{"name", "Earlier"}});
  odd->setDeviceDefinition(earlier);
  VL714searchAndApplyDeviceDefinition(definitions, odd);
  EXPECT_EQ(odd->deviceDefinition(), earlier);
  EXPECT_EQ(odd->pointerResolution(), "400");
  VL714searchAndApplyDeviceDefinition(definitions, nullptr);
}

}  // namespace
}  // namespace vl
