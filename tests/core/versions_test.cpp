// Packed versions and their text, installed panes, the web service's newest version, machine
// facts, and the small text and number helpers.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/plist/codec.h"
#include "core/system/versions.h"
#include "platform/api/paths.h"
#include "support/sim_world.h"

namespace vl {
namespace {

TEST(VersionNumbers, ParseTable) {
  struct Case {
    const char* text;
    uint32_t packed;
  } cases[] = {
      {"2.2.3", 0x02238000}, {"2.2", 0x02208000},   {"2", 0x02008000},      {"12.1.1", 0x12118000},
      {"2.2b3", 0x02206003}, {"5.0d255", 0x050020FF}, {".5", 0x00508000},
      {"2.2.3f1", 0x02238001}, {"1.0a", 0x01004000}, {"5.3.1", 0x05318000},
      // Not versions.
      {"2.10", 0}, {"10.15", 0}, {"1.2.3.4", 0}, {"2.2.3x", 0}, {"5.0d256", 0}, {"", 0},
      {"12345678901", 0}, {"a1", 0}, {"2.", 0}, {"1.0b1234", 0}, {".", 0}, {"-1", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(QS812versionNumberFromString(std::string(c.text)), c.packed) << c.text;
  EXPECT_EQ(QS812versionNumberFromString(nullptr), 0u);
}

TEST(VersionNumbers, FormatTable) {
  struct Case {
    uint32_t packed;
    const char* text;
  } cases[] = {
      {0x02238000, "2.2.3"}, {0x02206003, "2.2b3"}, {0x10008000, "10.0"},
      {0x02238001, "2.2.3"}, {0x02200000, "2.2"}, {0x05002014, "5.0d20"}, {0x12114007, "12.1.1a7"}, {0x0210C001, "2.1b1"},
  };
  for (const auto& c : cases) EXPECT_EQ(QS812stringFromVersionNumver(c.packed), c.text) << std::hex << c.packed;
  // Every parsable final version survives a round trip through its text.
  for (uint32_t major : {0u, 1u, 9u, 10u, 99u})
    for (uint32_t minor = 0; minor < 10; minor += 3)
      for (uint32_t fix = 0; fix < 10; fix += 4) {
        uint32_t p = ((major / 10) << 28) | ((major % 10) << 24) | (minor << 20) | (fix << 16) | 0x8000;
        EXPECT_EQ(QS812versionNumberFromString(QS812stringFromVersionNumver(p)), p);
      }
}

TEST(Numbers, HelpersTable) {
  EXPECT_EQ(QS812BitIndex(8), 3u);
  EXPECT_EQ(QS812BitIndex(1), 0u);
  EXPECT_EQ(QS812BitIndex(0x8000000000000000ULL), 63u);
  for (uint64_t v : {0ull, 6ull, 12ull}) EXPECT_EQ(QS812BitIndex(v), kNotFound);

  EXPECT_DOUBLE_EQ(QS812numberCounterAtDigit(1, true, 0.6875), 0.7);
  EXPECT_DOUBLE_EQ(QS812numberCounterAtDigit(1, false, 0.6875), 0.6);
  EXPECT_DOUBLE_EQ(QS812numberCounterAtDigit(1, false, 0.7), 0.6);
  EXPECT_DOUBLE_EQ(QS812numberCounterAtDigit(1, true, -0.35), -0.3);
  EXPECT_DOUBLE_EQ(QS812numberCounterAtDigit(1, false, -0.35), -0.4);
  EXPECT_DOUBLE_EQ(QS812numberCounterAtDigit(1, true, -0.3), -0.2);
  // numberCounter moves one digit coarser above 0.1 in the stepping direction.
  EXPECT_DOUBLE_EQ(QS812numberCounter(true, 2, 0.05), QS812numberCounterAtDigit(2 ^ 3, true, 0.05));
  EXPECT_DOUBLE_EQ(QS812numberCounter(true, 2, 0.1), QS812numberCounterAtDigit(3 ^ 3, true, 0.1));
  EXPECT_DOUBLE_EQ(QS812numberCounter(false, 2, 0.1), QS812numberCounterAtDigit(2 ^ 3, false, 0.1));

  EXPECT_DOUBLE_EQ(QS812round1(2, 0.6875), 0.69);
  EXPECT_DOUBLE_EQ(QS812round1(0, 2.5), 2.0);  // half-way cases round as printf does
  EXPECT_DOUBLE_EQ(QS812round1(3, 1.0005), 1.0);

  EXPECT_EQ(QS812addingPercentEscapes("Velmora Manager"), "Velmora%20Manager");
  EXPECT_EQ(QS812addingPercentEscapes("a&b=c/d?e#f%"), "a%26b%3Dc%2Fd%3Fe%23f%25");
  EXPECT_EQ(QS812addingPercentEscapes("é"), "%C3%A9");
}

class SystemFacts : public test::SimWorld {
 protected:
  // Makes a pane bundle with an Info.plist in one of the PreferencePanes folders.
  std::string makePane(const std::string& dir, const std::string& name, pl::Dict info) {
    std::string bundle = dir + "/" + name;
    std::filesystem::create_directories(bundle + "/Contents");
    auto bytes = pl::writeBinary(pl::Value(std::move(info)));
    std::string err;
    EXPECT_TRUE(pl::writeFileAtomic(bundle + "/Contents/Info.plist", bytes, &err)) << err;
    return bundle;
  }
};

TEST_F(SystemFacts, PanesVersionsAndBuildDates) {
  EXPECT_EQ(QS812DrovanaVersion(platform.paths), 0u);
  EXPECT_EQ(QS812VelmoraVersion(platform.paths), 0u);
  EXPECT_EQ(QS812DrovanaBuildDate(platform.paths), "");
  EXPECT_EQ(QS812VelmoraBuildDate(platform.paths), "");

  auto dirs = paths.preferencePanes();
  // The user's folder wins over the local one.
  makePane(dirs[1], "Drovana.prefPane", {{"CFBundleVersion", "5.2.9"}, {"MyBuildDate", "2020-01-01"}});
  std::string user = makePane(dirs[0], "Drovana.prefPane",
                              {{"CFBundleVersion", "5.3.1"}, {"MyBuildDate", "2024-05-06 10:00"},
                               {"CFBundleShortVersionString", "5.3.1"}});
  EXPECT_EQ(QS812prefPaneURLForDrovana(platform.paths), user);
  EXPECT_EQ(QS812DrovanaVersion(platform.paths), 0x05318000u);
  EXPECT_EQ(QS812DrovanaBuildDate(platform.paths), "2024-05-06 10:00");
  EXPECT_EQ(QS812applicationVersion(user), "5.3.1");
  makePane(dirs[3], "Velmora.prefPane", {{"CFBundleVersion", "not a version"}});
  EXPECT_EQ(QS812VelmoraVersion(platform.paths), 0u);
  EXPECT_EQ(QS812VelmoraBuildDate(platform.paths), "");
}

TEST_F(SystemFacts, BundleVersionOfARunningApplication) {
  RunningApplication app;
  EXPECT_EQ(QS812BundleVersionFromProc(app), 0u) << "a plain executable has no bundle";
  app.bundleURL = home.path() + "/Gone.app";
  EXPECT_EQ(QS812BundleVersionFromProc(app), 0u) << "a bundle that is not there";
  app.bundleURL = makePane(home.path(), "Velmora Manager.app", {{"CFBundleVersion", "2.3b4"}});
  EXPECT_EQ(QS812BundleVersionFromProc(app), 0x02306004u);
}

TEST_F(SystemFacts, OsVersionText) {
  mac.setOsVersion({11, 2, 0});
  EXPECT_EQ(QS812SystemVersionString(platform.system), "110200");
  mac.setOsVersion({10, 15, 7});
  EXPECT_EQ(QS812SystemVersionString(platform.system), "101507");
}

TEST_F(SystemFacts, HostVersionTakesTheNewestFinalUnlessPreReleasesAreWanted) {
  mac.setOsVersion({13, 6, 1});
  EXPECT_EQ(QS812getHostVersion(platform.http, platform.system, "Velmora", false), 0u);  // no answer
  pl::Array files{"Velmora2.2.3.dmg", "Velmora2.3b1.dmg", "Velmora2.2.9.zip", "readme.txt", 17, "Velmora10.0.dmg"};
  auto body = pl::writeXml(pl::Value(files));
  mac.setHttpAnswer("/velmora/xml/file.php", pl::Data(body.begin(), body.end()));
  EXPECT_EQ(QS812getHostVersion(platform.http, platform.system, "Velmora", false), 0x10008000u);
  files.pop_back();
  body = pl::writeXml(pl::Value(files));
  mac.setHttpAnswer("/velmora/xml/file.php", pl::Data(body.begin(), body.end()));
  EXPECT_EQ(QS812getHostVersion(platform.http, platform.system, "Velmora", false), 0x02298000u);
  EXPECT_EQ(QS812getHostVersion(platform.http, platform.system, "Velmora", true), 0x02306001u);
  EXPECT_EQ(mac.httpRequests().back(), "/velmora/xml/file.php?app=Velmora&osv=130601");
  // A failing status or a body that is not a list counts as no answer.
  mac.setHttpAnswer("/velmora/xml/file.php", pl::Data(body.begin(), body.end()), 500);
  EXPECT_EQ(QS812getHostVersion(platform.http, platform.system, "Velmora", true), 0u);
  mac.setHttpAnswer("/velmora/xml/file.php", pl::Data{'{', '}'});
  EXPECT_EQ(QS812getHostVersion(platform.http, platform.system, "Velmora", true), 0u);
}

TEST_F(SystemFacts, MachineSerialAndModelName) {
  EXPECT_EQ(machineSerialNumber(platform.registry), std::nullopt);
  attach("mac-platform-macbookpro12-1");
  auto serial = machineSerialNumber(platform.registry);
  ASSERT_TRUE(serial);
  mac.setHardwareModel("MacBookPro12,1", "Retina laptop");
  EXPECT_EQ(machineModelName(platform.registry, platform.defaults, platform.system), (std::pair<std::string, std::string>{"Retina laptop, MacBookPro12,1", "MacBookPro12,1"}));
  // The profiler's cache is preferred, keyed by the serial's last four characters.
  std::string tail = serial->substr(serial->size() - 4);
  EXPECT_TRUE(mac.defaults().setValue("com.apple.SystemProfiler", "CPU Names",
                          pl::Dict{{"ZZZZ-en-US_US", "Other"}, {tail + "-en-US_US", "MacBook Pro (13-inch, Early 2015)"}}).ok());
  EXPECT_EQ(machineModelName(platform.registry, platform.defaults, platform.system).first, "MacBook Pro (13-inch, Early 2015), MacBookPro12,1");
}

TEST_F(SystemFacts, LocalizedValuesPreferTheFirstLanguage) {
  pl::Value dict(pl::Dict{{"name", "Mouse"}, {"name_ja", "マウス"}, {"name_de", "Maus"}});
  mac.setPreferredLanguages({"ja-JP", "de"});
  EXPECT_EQ(*localizedValueForKey(platform.system, &dict, "name")->asString(), "マウス");
  mac.setPreferredLanguages({"fr-FR"});
  EXPECT_EQ(*localizedValueForKey(platform.system, &dict, "name")->asString(), "Mouse");
  EXPECT_EQ(localizedValueForKey(platform.system, &dict, ""), nullptr);
  EXPECT_EQ(localizedValueForKey(platform.system, nullptr, "name"), nullptr);
}

TEST_F(SystemFacts, ZoomPreferences) {
  bool enabled = true;
  int64_t mods = 7;
  EXPECT_EQ(QS812getScrollZoom(platform.defaults, &enabled, &mods), 0);
  EXPECT_FALSE(enabled);
  EXPECT_TRUE(mac.defaults().setValue("com.apple.universalaccess", "closeViewScrollWheelToggle", true).ok());
  EXPECT_TRUE(mac.defaults().setValue("com.apple.universalaccess", "closeViewScrollWheelModifiersInt", 262144).ok());
  EXPECT_EQ(QS812getScrollZoom(platform.defaults, &enabled, &mods), 262144);
  EXPECT_TRUE(enabled);
  EXPECT_TRUE(QS812scrollZoomEnabled(platform.defaults));
  EXPECT_FALSE(QS812keyZoomEnabled(platform.defaults));
}

}  // namespace
}  // namespace vl
