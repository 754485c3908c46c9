// Device definitions: personality scores, value limits, localization, the OS filter, folder
// loading, ties between definitions, and the definitions that ship with the pane.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/devices/device_definition.h"
#include "core/store/defined_device.h"
#include "platform/api/paths.h"
#include "platform/api/platform.h"
#include "platform/sim/sim_mac.h"
#include "tests/store/definition_test_util.h"

namespace vl {
namespace {

constexpr uint32_t kLogi = 0x046D, kReceiver = 0xC52B, kMx3 = 0x4082;

pl::Value dict(pl::Dict d) { return pl::Value(std::move(d)); }

DeviceDefinitionRef definition(pl::Dict content, bool inUser = false, std::string path = "mem.xml") {
  return std::make_shared<const QS834DeviceDefinition>(pl::Value(std::move(content)), std::move(path), inUser);
}

pl::Date dateOfYear(int year) { return pl::Date{(year - 2001) * 365.25 * 86400}; }

class DefinitionTest : public ::testing::Test {
 protected:
  DefinitionTest() : platform(platformWithPaths()), definitions(platform) {}

  Platform platformWithPaths() {
    Platform p = mac_.platform();
    p.paths = &paths_;
    return p;
  }

  sim::SimMac mac_;
  test::TempFolder root_;
  RootedPaths paths_{root_.path(), root_.path() + "/Resources"};
  Platform platform;
  DeviceDefinitionCache definitions;
};

// --- Scores ------------------------------------------------------------------------------------

TEST_F(DefinitionTest, PersonalityScoresFollowSpecificity) {
  struct Case {
    const char* what;
    pl::Dict personality;
    uint32_t vid, pid, mid;
    const char* transport;
    int score;
  };
  const Case cases[] = {
      {"vid, pid and mid over USB", {{"vid", kLogi}, {"pid", kReceiver}, {"mid", kMx3}}, kLogi, kReceiver, kMx3, "USB", 1110},
      {"vendor only", {{"vid", kLogi}}, kLogi, kReceiver, kMx3, "USB", 1000},
      {"pid and transport, USB", {{"vid", kLogi}, {"pid", kReceiver}, {"transport", "USB"}}, kLogi, kReceiver, 0, "USB", 1101},
      {"pid and transport, Bluetooth", {{"vid", kLogi}, {"pid", kReceiver}, {"transport", "USB"}}, kLogi, kReceiver, 0,
       "Bluetooth", 0},
      {"all four", {{"vid", kLogi}, {"pid", kReceiver}, {"mid", kMx3}, {"transport", "USB"}}, kLogi, kReceiver, kMx3, "USB",
       1111},
      {"mid without pid", {{"vid", kLogi}, {"mid", kMx3}}, kLogi, kReceiver, kMx3, "USB", 1010},
      {"zero pid and mid match anything", {{"vid", kLogi}, {"pid", 0}, {"mid", 0}, {"transport", ""}}, kLogi, 1, 2, "X", 1000},
      {"no vid never matches", {{"pid", kReceiver}}, kLogi, kReceiver, 0, "USB", 0},
      {"vid 0 never matches", {{"vid", 0}}, kLogi, kReceiver, 0, "USB", 0},
      {"other product", {{"vid", kLogi}, {"pid", 0xB023}}, kLogi, kReceiver, 0, "USB", 0},
      {"other model", {{"vid", kLogi}, {"mid", 0x4069}}, kLogi, kReceiver, kMx3, "USB", 0},
      {"transport compared as text, not by prefix", {{"vid", kLogi}, {"transport", "USB"}}, kLogi, 0, 0, "USB ", 0},
      {"transport is case-sensitive", {{"vid", kLogi}, {"transport", "usb"}}, kLogi, 0, 0, "USB", 0},
      // Malformed identity values must not widen the match to "any product".
      {"pid given as text", {{"vid", kLogi}, {"pid", "0xC52B"}}, kLogi, 0x1234, 0, "USB", 0},
      {"negative mid", {{"vid", kLogi}, {"mid", -1}}, kLogi, 0, 0xFFFFFFFF, "USB", 0},
      {"vid beyond 32 bits", {{"vid", pl::Value::uint64(0x10000046DULL)}}, kLogi, 0, 0, "USB", 0},
      {"transport not text", {{"vid", kLogi}, {"transport", 5}}, kLogi, 0, 0, "USB", 0},
      {"highest unsigned ids", {{"vid", 0xFFFFFFFFu}, {"pid", 0xFFFFFFFEu}}, 0xFFFFFFFF, 0xFFFFFFFE, 0, "USB", 1100},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(QS834DeviceDefinition::scoreForPersonality(dict(c.personality), c.vid, c.pid, c.mid, c.transport),
              c.score)
        << c.what;
  }
}

TEST_F(DefinitionTest, BestPersonalityIsTheHighestAndTheEarlierOnTies) {
  auto d = definition({{"personalities", pl::Array{
                                             pl::Value("not a dictionary"),
                                             dict({{"vid", kLogi}, {"name", "first vendor-only"}}),
                                             dict({{"vid", kLogi}, {"name", "second vendor-only"}}),
                                             dict({{"vid", kLogi}, {"pid", kReceiver}, {"name", "receiver"}}),
                                         }}});
  int score = -1;
  const pl::Value* p = d->personalityForVID(kLogi, kReceiver, 0, "USB", &score);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(score, 1100);
  EXPECT_EQ(p->stringFor("name"), "receiver");

  p = d->personalityForVID(kLogi, 0xB023, 0, "USB", &score);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->stringFor("name"), "first vendor-only");

  EXPECT_EQ(d->personalityForVID(0x05AC, 1, 0, "USB", &score), nullptr);
  EXPECT_EQ(score, 0);
}

TEST_F(DefinitionTest, HundredPersonalitiesReadAsNone) {
  pl::Array list(99, dict({{"vid", kLogi}}));
  EXPECT_EQ(definition({{"personalities", list}})->personalityScoreForVID(kLogi, 1, 0, "USB"), 1000);
  list.push_back(dict({{"vid", kLogi}}));
  EXPECT_EQ(definition({{"personalities", list}})->personalityScoreForVID(kLogi, 1, 0, "USB"), 0);
}

// --- Limits ------------------------------------------------------------------------------------

TEST_F(DefinitionTest, PointerResolutionAndButtonCountHonourTheirLimits) {
  struct Case {
    pl::Value value;
    std::optional<double> expected;
  };
  const Case resolutions[] = {{"1600", 1600}, {"10", 10},        {"2000", 2000},     {"9.99", {}},
                              {"5000", {}},   {"abc", {}},       {"1600abc", {}},    {"nan", {}},
                              {"", {}},       {pl::Value(1600), {}},  // a number, not a text
                              {"1e3", 1000}};
  for (const auto& c : resolutions) {
    EXPECT_EQ(definition({{"pointerResolution", c.value}})->pointerResolution(), c.expected) << c.value.describe();
  }
  const std::pair<pl::Value, std::optional<int64_t>> buttons[] = {
      {1, 1}, {32, 32}, {0, {}}, {33, {}}, {pl::Value("3"), {}}, {pl::Value(true), {}}, {pl::Value(2.5), {}}};
  for (const auto& [v, expected] : buttons)
    EXPECT_EQ(definition({{"buttonCount", v}})->buttonCount(), expected) << v.describe();
  EXPECT_FALSE(definition({})->buttonCount());
}

TEST_F(DefinitionTest, CollectionsOverTheirLimitsReadAsAbsent) {
  auto entries = [](size_t n) {
    pl::Dict d;
    for (size_t i = 0; i < n; ++i) d.emplace("k" + std::to_string(i), pl::Value(static_cast<int>(i)));
    return d;
  };
  auto items = [](size_t n) {
    pl::Array a;
    for (size_t i = 0; i < n; ++i) a.push_back(pl::Value(static_cast<int>(i)));
    return a;
  };
  EXPECT_NE(definition({{"partName", entries(49)}})->partName(), nullptr);
  EXPECT_EQ(definition({{"partName", entries(50)}})->partName(), nullptr);
  EXPECT_NE(definition({{"deviceOps", items(19)}})->deviceOps(), nullptr);
  EXPECT_EQ(definition({{"deviceOps", items(20)}})->deviceOps(), nullptr);
  EXPECT_TRUE(definition({{"actDicList", items(49)}})->actDicList());
  EXPECT_FALSE(definition({{"actDicList", items(50)}})->actDicList());
  EXPECT_NE(definition({{"keyboardInputList", entries(99)}})->keyboardInputList(), nullptr);
  EXPECT_EQ(definition({{"keyboardInputList", entries(100)}})->keyboardInputList(), nullptr);
  // Wrong types read as absent too.
  EXPECT_EQ(definition({{"partName", items(3)}})->partName(), nullptr);
  EXPECT_FALSE(definition({{"hScrollOp", ""}})->hScrollOp());
  EXPECT_EQ(definition({{"hScrollOp", "shift"}})->hScrollOp(), "shift");
}

TEST_F(DefinitionTest, ActionListIsReadAsASet) {
  pl::Value a = dict({{"button", 3}}), b = dict({{"button", 4}});
  auto list = definition({{"actDicList", pl::Array{a, b, a}}})->actDicList();
  ASSERT_TRUE(list);
  EXPECT_EQ(*list, (pl::Array{a, b}));
}

TEST_F(DefinitionTest, DefaultsOfFlagsDateAndSystemVersion) {
  auto empty = definition({{"name", "x"}});
  EXPECT_FALSE(empty->needsButtonFixer());
  EXPECT_FALSE(empty->setupImmediately());
  EXPECT_EQ(empty->createDate(), pl::Date{0});
  EXPECT_EQ(empty->osVersion(), "10.0");
  auto set = definition({{"needsButtonFixer", true}, {"setupImmediately", true}, {"osVersion", "10.13.6"}});
  EXPECT_TRUE(set->needsButtonFixer());
  EXPECT_TRUE(set->setupImmediately());
  EXPECT_EQ(set->osVersion(), "10.13.6");
  for (const char* bad : {"10", "10.", "ten.5", "10.13.6.1", "", "10..3", "1234567890.1"})
    EXPECT_EQ(definition({{"osVersion", bad}})->osVersion(), "10.0") << bad;
  EXPECT_EQ(definition({{"createDate", "2020-01-01"}})->createDate(), pl::Date{0});
}

TEST_F(DefinitionTest, KeyboardInputKeysInHexadecimalBecomeDecimal) {
  struct Case {
    pl::Dict list;
    std::optional<pl::Dict> expected;
  };
  const Case cases[] = {
      {{{"0x28", 1}, {"40", 2}}, pl::Dict{{"40", 2}}},
      {{{"0x28", 1}}, pl::Dict{{"40", 1}}},
      {{{"0X2a", 7}}, pl::Dict{{"42", 7}}},
      {{{"0x0", 1}, {"0xZZ", 2}, {"0x", 3}, {"abc", 4}}, pl::Dict{{"0x0", 1}, {"0xZZ", 2}, {"0x", 3}, {"abc", 4}}},
      // Usages are unsigned: a high value must not turn into a negative key.
      {{{"0xFFFFFFFF", 1}}, pl::Dict{{"4294967295", 1}}},
      {{{"0x100000000", 1}}, pl::Dict{{"0x100000000", 1}}},
      {{{"0x28", 1}, {"41", "text"}}, std::nullopt},  // a non-number value spoils the whole list
      {{}, std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(definition({{"keyboardInputList", c.list}})->keyboardInputListDecimalKey(), c.expected)
        << pl::Value(c.list).describe();
  }
}

// --- Names and localization --------------------------------------------------------------------

TEST_F(DefinitionTest, NamesFallBackToTheDefinitionAndHonourLength) {
  std::string long101(101, 'n'), long100(100, 'n');
  auto d = definition({{"name", "Product"},
                       {"personalities", pl::Array{dict({{"vid", kLogi}, {"pid", 1}, {"name", "Personality"}}),
                                                   dict({{"vid", kLogi}, {"pid", 2}}),
                                                   dict({{"vid", kLogi}, {"pid", 3}, {"name", long101}}),
                                                   dict({{"vid", kLogi}, {"pid", 4}, {"name", long100}})}}});
  EXPECT_EQ(d->nameForVID(platform, kLogi, 1, 0, "USB"), "Personality");
  EXPECT_EQ(d->nameForVID(platform, kLogi, 2, 0, "USB"), "Product");
  EXPECT_EQ(d->nameForVID(platform, kLogi, 3, 0, "USB"), "Product");
  EXPECT_EQ(d->nameForVID(platform, kLogi, 4, 0, "USB"), long100);
  EXPECT_FALSE(definition({{"name", long101}})->nameForVID(platform, kLogi, 1, 0, "USB"));
  EXPECT_FALSE(definition({{"name", ""}})->nameForVID(platform, kLogi, 1, 0, "USB"));
  // Length counts characters as the platform does, not bytes: 100 three-byte characters fit.
  std::string kana;
  for (int i = 0; i < 100; ++i) kana += "\xE3\x83\x9E";  // マ
  EXPECT_EQ(definition({{"name", kana}})->nameForVID(platform, 0, 0, 0, ""), kana);
}

TEST_F(DefinitionTest, JapaneseUsersGetTheJapaneseNamesAndOperations) {
  auto d = definition({{"name", "Mouse"},
                       {"name_ja", "マウス"},
                       {"deviceOps", pl::Array{"scroll"}},
                       {"deviceOps_ja", pl::Array{"スクロール"}},
                       {"personalities", pl::Array{dict({{"vid", kLogi}, {"pid", 1}, {"name", "Receiver"},
                                                         {"name_ja", "レシーバー"}}),
                                                   dict({{"vid", kLogi}, {"pid", 2}})}}});
  mac_.setPreferredLanguages({"ja-JP", "en-US"});
  EXPECT_EQ(d->nameForVID(platform, kLogi, 1, 0, "USB"), "レシーバー");
  EXPECT_EQ(d->nameForVID(platform, kLogi, 2, 0, "USB"), "マウス");
  ASSERT_NE(d->localizedDeviceOps(platform), nullptr);
  EXPECT_EQ(*d->localizedDeviceOps(platform), pl::Array{"スクロール"});

  mac_.setPreferredLanguages({"de-DE"});
  EXPECT_EQ(d->nameForVID(platform, kLogi, 1, 0, "USB"), "Receiver");
  EXPECT_EQ(*d->localizedDeviceOps(platform), pl::Array{"scroll"});

  // An empty localized list falls back to the plain one.
  mac_.setPreferredLanguages({"ja"});
  auto emptyJa = definition({{"deviceOps", pl::Array{"scroll"}}, {"deviceOps_ja", pl::Array{}}});
  EXPECT_EQ(*emptyJa->localizedDeviceOps(platform), pl::Array{"scroll"});
}

// --- System versions ---------------------------------------------------------------------------

TEST_F(DefinitionTest, VersionsCompareNumerically) {
  EXPECT_LT(compareVersionTexts("10.9", "10.15"), 0);
  EXPECT_EQ(compareVersionTexts("10.15", "10.15.0"), 0);
  EXPECT_GT(compareVersionTexts("11.0.0", "10.15"), 0);
  EXPECT_LT(compareVersionTexts("10.14.6", "10.15"), 0);
}

TEST_F(DefinitionTest, DefinitionsForANewerSystemAreDropped) {
  auto d = definition({{"osVersion", "10.15"}, {"personalities", pl::Array{dict({{"vid", kLogi}})}}});
  const std::pair<OsVersion, bool> systems[] = {
      {{10, 14, 6}, false}, {{10, 15, 0}, true}, {{11, 0, 0}, true}, {{10, 9, 5}, false}};
  for (const auto& [os, available] : systems) {
    mac_.setOsVersion(os);
    EXPECT_EQ(d->isAvailableForCurrentOS(platform), available) << os.major << "." << os.minor << "." << os.patch;
  }
}

// --- Folders -----------------------------------------------------------------------------------

std::string dataDir() { return std::string(VELMORA_TEST_DATA) + "/definitions"; }

std::vector<std::string> fileNames(const DeviceDefinitionSet& set) {
  std::vector<std::string> names;
  for (const auto& d : set) names.push_back(std::filesystem::path(d->filePath()).filename().string());
  return names;
}

TEST_F(DefinitionTest, FolderReadsOnlyVisibleXmlFilesThatHoldADictionary) {
  auto set = QS834deviceDefsInDirectory(dataDir() + "/shipped");
  // Left out: hidden, other extension, sub-folder, empty dictionary, array root, broken, link.
  EXPECT_EQ(fileNames(set),
            (std::vector<std::string>{"expert-mouse.xml", "logitech-any.xml", "mx-master-3.xml", "optical-10-15.xml"}));
  for (const auto& d : set) EXPECT_FALSE(d->inUserFolder());
  EXPECT_TRUE(QS834deviceDefsInDirectory(dataDir() + "/no such folder").empty());
}

TEST_F(DefinitionTest, UserCopyTakesThePlaceOfTheShippedOne) {
  DefinitionFolders folders{dataDir() + "/user", {dataDir() + "/shipped"}};
  auto set = loadDeviceDefinitions(folders, std::nullopt);
  EXPECT_EQ(fileNames(set), (std::vector<std::string>{"mx-master-3 copy.xml", "my-trackball.xml", "expert-mouse.xml",
                                                      "logitech-any.xml", "optical-10-15.xml"}));
  auto mx = QS834deviceDefFromList(set, kLogi, kReceiver, kMx3, "USB");
  ASSERT_TRUE(mx);
  EXPECT_TRUE(mx->inUserFolder());
  EXPECT_EQ(mx->personalityScoreForVID(kLogi, kReceiver, kMx3, "USB"), 1111);

  // Equal scores: the user's trackball wins over the newer shipped one.
  auto ball = QS834deviceDefFromList(set, 0x047D, 0x1020, 0, "USB");
  ASSERT_TRUE(ball);
  EXPECT_EQ(ball->nameForVID(platform, 0x047D, 0x1020, 0, "USB"), "My Trackball");
  EXPECT_EQ(ball->pointerResolution(), 800);

  // A more specific shipped definition still beats a vendor-only one.
  EXPECT_EQ(QS834deviceDefFromList(set, kLogi, 0xB023, 0, "Bluetooth Low Energy")->filePath(),
            dataDir() + "/user/mx-master-3 copy.xml");
  EXPECT_EQ(fileNames({QS834deviceDefFromList(set, kLogi, 0x1234, 0, "USB")}),
            std::vector<std::string>{"logitech-any.xml"});
  EXPECT_FALSE(QS834deviceDefFromList(set, 0x05AC, 0x0265, 0, "USB"));
}

TEST_F(DefinitionTest, OsFilterRemovesDefinitionsWhileLoading) {
  DefinitionFolders folders{std::nullopt, {dataDir() + "/shipped"}};
  auto old = loadDeviceDefinitions(folders, OsVersion{10, 14, 6});
  EXPECT_FALSE(QS834deviceDefFromList(old, 0x093A, 0x2510, 0, "USB"));
  auto current = loadDeviceDefinitions(folders, OsVersion{10, 15, 0});
  EXPECT_TRUE(QS834deviceDefFromList(current, 0x093A, 0x2510, 0, "USB"));
}

TEST_F(DefinitionTest, ProcessListComesFromUserSiblingPaneAndOwnResources) {
  std::string user = paths_.applicationSupport() + "/Drovana & Velmora/Device Definitions";
  std::string sibling = root_ / "Library/PreferencePanes/Drovana.prefPane/Contents/Resources/Device Definitions";
  std::string own = paths_.resources() + "/Device Definitions";
  auto named = [](const char* name, uint32_t pid) {
    return pl::Value(pl::Dict{{"name", name}, {"personalities", pl::Array{dict({{"vid", 0x1111}, {"pid", pid}})}}});
  };
  test::writePlist(sibling + "/a.xml", named("from sibling", 1));
  test::writePlist(own + "/a.xml", named("from own", 2));
  test::writePlist(own + "/b.xml", named("from sibling", 1));  // equal content: kept once
  test::writePlist(own + "/new.xml",
                   pl::Value(pl::Dict{{"osVersion", "99.0"}, {"personalities", pl::Array{dict({{"vid", 0x1111}})}}}));
  mac_.setOsVersion({10, 14, 6});

  ASSERT_FALSE(std::filesystem::exists(user));
  const auto& list = QS834deviceDefList(definitions);
  EXPECT_TRUE(std::filesystem::is_directory(user)) << "the user's folder is created";
  EXPECT_EQ(list.size(), 2u);
  EXPECT_EQ(QS834deviceDef(definitions, 0x1111, 1, 0, "USB")->nameForVID(platform, 0x1111, 1, 0, "USB"), "from sibling");
  EXPECT_EQ(QS834deviceDef(definitions, 0x1111, 2, 0, "USB")->filePath(), own + "/a.xml");
  EXPECT_FALSE(QS834deviceDef(definitions, 0x1111, 3, 0, "USB")) << "the 99.0 definition is filtered out";

  // Kept for the process: a file added now is seen only after the list is rebuilt.
  test::writePlist(user + "/mine.xml", named("mine", 3));
  EXPECT_FALSE(QS834deviceDef(definitions, 0x1111, 3, 0, "USB"));
  definitions.forget();
  ASSERT_TRUE(QS834deviceDef(definitions, 0x1111, 3, 0, "USB"));
  EXPECT_TRUE(QS834deviceDef(definitions, 0x1111, 3, 0, "USB")->inUserFolder());
}

TEST_F(DefinitionTest, UnreadableUserFolderYieldsNoDefinitions) {
  // A file where the folder should be: it cannot be created, and nothing breaks.
  std::string settings = paths_.applicationSupport() + "/Drovana & Velmora";
  std::filesystem::create_directories(settings);
  test::writeBytes(settings + "/Device Definitions", "x", 1);
  EXPECT_TRUE(QS834deviceDefList(definitions).empty());
}

// --- Ties between definitions ------------------------------------------------------------------

TEST_F(DefinitionTest, EqualScoresPreferUserThenNewerDateThenNewerSystem) {
  auto make = [](const char* name, bool inUser, int year, const char* os) {
    return definition({{"name", name},
                       {"createDate", dateOfYear(year)},
                       {"osVersion", os},
                       {"personalities", pl::Array{dict({{"vid", kLogi}})}}},
                      inUser);
  };
  auto nameOf = [this](const DeviceDefinitionSet& s) { return *QS834deviceDefFromList(s, kLogi, 1, 0, "USB")->nameForVID(platform, kLogi, 1, 0, "USB"); };
  auto oldShipped = make("old shipped", false, 2015, "10.12");
  auto newShipped = make("new shipped", false, 2022, "10.12");
  auto oldUser = make("old user", true, 2002, "10.12");
  auto sameDateNewerOs = make("newer os", false, 2015, "10.13");
  auto twin = make("twin", false, 2015, "10.12");

  // The result does not depend on the order of the set.
  EXPECT_EQ(nameOf({oldShipped, newShipped}), "new shipped");
  EXPECT_EQ(nameOf({newShipped, oldShipped}), "new shipped");
  EXPECT_EQ(nameOf({newShipped, oldUser}), "old user");
  EXPECT_EQ(nameOf({oldUser, newShipped}), "old user");
  EXPECT_EQ(nameOf({oldShipped, sameDateNewerOs}), "newer os");
  EXPECT_EQ(nameOf({sameDateNewerOs, oldShipped}), "newer os");
  // Nothing tells them apart: the first stays.
  EXPECT_EQ(nameOf({oldShipped, twin}), "old shipped");
  EXPECT_EQ(nameOf({twin, oldShipped}), "twin");
}

// --- The shipped definitions -------------------------------------------------------------------

TEST_F(DefinitionTest, EveryShippedDefinitionIsValid) {
  std::string folder = std::string(VELMORA_SOURCE_RESOURCES) + "/Device Definitions";
  size_t files = 0;
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    if (e.path().extension() != ".xml") continue;
    ++files;
    SCOPED_TRACE(e.path().filename().string());
    auto d = QS834DeviceDefinition::deviceDefinitionWithURL(e.path().string());
    ASSERT_TRUE(d) << "does not load";
    EXPECT_TRUE(d->content().stringFor("name")) << "has no name";
    EXPECT_EQ(d->osVersion(), "10.12");
    EXPECT_NE(d->content().find("createDate"), nullptr);
    ASSERT_NE(d->personalities(), nullptr);
    for (const auto& p : *d->personalities()) {
      uint32_t vid = static_cast<uint32_t>(p.integerFor("vid").value_or(0));
      EXPECT_NE(vid, 0u);
      EXPECT_GT(QS834DeviceDefinition::scoreForPersonality(p, vid, static_cast<uint32_t>(p.integerFor("pid").value_or(0)),
                                                            static_cast<uint32_t>(p.integerFor("mid").value_or(0)),
                                                            p.stringFor("transport").value_or("")),
                0);
    }
    if (d->content().find("pointerResolution")) {
      EXPECT_TRUE(d->pointerResolution()) << "resolution out of limits";
    }
  }
  EXPECT_GE(files, 5u);
}

TEST_F(DefinitionTest, ShippedDefinitionsRecogniseTheFixtureDevices) {
  DefinitionFolders folders{std::nullopt, {std::string(VELMORA_SOURCE_RESOURCES) + "/Device Definitions"}};
  auto set = loadDeviceDefinitions(folders, OsVersion{10, 12, 0});
  struct Case {
    uint32_t vid, pid, mid;
    const char* transport;
    const char* name;
    std::optional<double> resolution;
  };
  // Identities as the shipped device profiles (resources/devices) report them.
  const Case cases[] = {
      {0x046D, 0xC52B, 0x4082, "USB", "MX Master 3 (Unifying Receiver)", 1000},
      {0x046D, 0xC52B, 0x4069, "USB", "MX Master 2S (Unifying Receiver)", 1000},
      {0x046D, 0xB023, 0, "Bluetooth Low Energy", "MX Master 3 (Bluetooth)", 1000},
      {0x004C, 0x0269, 0, "Bluetooth", "Magic Mouse 2", 1300},
      {0x004C, 0x0265, 0, "Bluetooth", "Magic Trackpad 2", 400},
      {0x05AC, 0x0265, 0, "USB", "Magic Trackpad 2 (USB)", 400},
      {0x093A, 0x2510, 0, "USB", "USB Optical Mouse (PixArt)", std::nullopt},
      {0x047D, 0x1020, 0, "USB", "Kensington Expert Mouse", 400},
  };
  for (const auto& c : cases) {
    auto d = QS834deviceDefFromList(set, c.vid, c.pid, c.mid, c.transport);
    ASSERT_TRUE(d) << c.name;
    EXPECT_EQ(d->nameForVID(platform, c.vid, c.pid, c.mid, c.transport), c.name);
    EXPECT_EQ(d->pointerResolution(), c.resolution) << c.name;
  }
  // A receiver with an unknown paired mouse, or an unknown product, matches nothing.
  EXPECT_FALSE(QS834deviceDefFromList(set, 0x046D, 0xC52B, 0x1234, "USB"));
  EXPECT_FALSE(QS834deviceDefFromList(set, 0x056A, 0x0374, 0, "USB"));
}

}  // namespace
}  // namespace vl
