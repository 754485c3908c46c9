// The speed-help window's markers and buttons, the shipped help texts, the slider transforms
// and the separator menus' rules.
#include <gtest/gtest.h>

#include <cmath>
#include <regex>

#include "pane/editing/separator_menu.h"
#include "pane/editing/speed_help_view.h"
#include "pane/editing/value_transformers.h"
#include "support/comma_locale.h"
#include "tests/pane/editing_fixture.h"

namespace vl {
namespace {

class FakeHelpWindow : public SpeedHelpWindow {
 public:
  std::string text;
  std::vector<std::pair<size_t, size_t>> marked;
  std::map<HelpControl, HelpPoint> placed;
  int fronts = 0, clears = 0;
  bool layoutHasText = true;

  std::string helpText() const override { return text; }
  std::optional<HelpPoint> markCharacters(size_t position, size_t length) override {
    marked.push_back({position, length});
    if (!layoutHasText) return std::nullopt;
    return HelpPoint{10.0 * static_cast<double>(position), 5};
  }
  void placeControl(HelpControl c, HelpPoint p) override { placed[c] = p; }
  void orderFront() override { ++fronts; }
  void clearAllButtons() override { ++clears; }
};

class SpeedHelp : public test::EditingBench {
 protected:
  FakeHelpWindow help;
  VL250SpeedHelpViewClass view{host, window, help};
};

TEST_F(SpeedHelp, ControlsSitOnTheirMarkersAndMissingOnesGoOffScreen) {
  help.text = "Zero: 1. Long: 3.";  // no marker "2"
  view.show();
  EXPECT_EQ(help.fronts, 1);
  EXPECT_EQ(help.clears, 1);
  EXPECT_EQ(help.placed[HelpControl::ZeroButton], (HelpPoint{60, 5}));
  EXPECT_EQ(help.placed[HelpControl::ShortBox], kOffscreenPoint);
  EXPECT_EQ(help.placed[HelpControl::LongBox], (HelpPoint{150, 5}));
  EXPECT_EQ(help.marked, (std::vector<std::pair<size_t, size_t>>{{6, 1}, {15, 1}}));

  help.layoutHasText = false;  // the layout does not reach the marker
  view.show();
  EXPECT_EQ(help.placed[HelpControl::ZeroButton], kOffscreenPoint);
}

TEST(SpeedHelpMarkers, PositionsCountAsTheTextViewCounts) {
  // UTF-16 code units: "é" is one, an emoji two, whatever their UTF-8 length.
  EXPECT_EQ(VL250SpeedHelpViewClass::utf16Find("ab1", "1"), 2u);
  EXPECT_EQ(VL250SpeedHelpViewClass::utf16Find("\xC3\xA9" "1", "1"), 1u);
  EXPECT_EQ(VL250SpeedHelpViewClass::utf16Find("\xF0\x9F\x98\x80" "1", "1"), 2u);
  EXPECT_EQ(VL250SpeedHelpViewClass::utf16Find("\xE2\x82\xAC" "2 2", "2"), 1u);  // the first one
  EXPECT_EQ(VL250SpeedHelpViewClass::utf16Find("abc", "1"), std::nullopt);
  EXPECT_EQ(VL250SpeedHelpViewClass::utf16Find("abc", ""), std::nullopt);
}

TEST_F(SpeedHelp, ZeroButtonAppliesTheSelectedSensitivityWithoutAcceleration) {
  favourite->setSensitivityDisplay(std::string("1250.5"));
  view.setTrackingSpeedtoZero();
  ASSERT_EQ(host.applied.size(), 1u);
  EXPECT_EQ(host.applied[0].sensitivityDisplay, 1250.5);
  EXPECT_EQ(host.applied[0].trackingSpeed, 0);
  EXPECT_EQ(host.applied[0].device, device);
  EXPECT_EQ(help.clears, 1);
  EXPECT_EQ(window.focused, std::vector<SpeedField>{SpeedField::Sensitivity});

  host.selection.clear();
  view.setTrackingSpeedtoZero();
  EXPECT_EQ(host.applied.size(), 1u);
  view.moveFocusToTrackingSpeed();
  EXPECT_EQ(window.focused.back(), SpeedField::Tracking);
}

// The text as the help window shows it: without tags, comments and entities.
std::string shownText(const std::string& html) {
  std::string t = std::regex_replace(html, std::regex("<!--[\\s\\S]*?-->"), "");
  t = std::regex_replace(t, std::regex("<[^>]*>"), "");
  return std::regex_replace(t, std::regex("&[a-z]+;"), " ");
}

TEST_F(SpeedHelp, ShippedTextsCarryEachMarkerOnceInOrder) {
  std::optional<std::string> speedHelp = loadHelpText(platform, kSpeedHelpResource);
  ASSERT_TRUE(speedHelp);
  for (const std::string& text : {*speedHelp, shownText(*speedHelp)}) {
    size_t one = text.find('1'), two = text.find('2'), three = text.find('3');
    ASSERT_NE(three, std::string::npos);
    EXPECT_LT(one, two);
    EXPECT_LT(two, three);
    EXPECT_EQ(text.find('1', one + 1), std::string::npos);
    EXPECT_EQ(text.find('2', two + 1), std::string::npos);
    EXPECT_EQ(text.find('3', three + 1), std::string::npos);
  }
  std::optional<std::string> paneHelp = loadHelpText(platform, kPaneHelpResource);
  ASSERT_TRUE(paneHelp);
  EXPECT_NE(paneHelp->find("Velmora Manager"), std::string::npos);
  EXPECT_FALSE(loadHelpText(platform, "NoSuchHelp"));
}

TEST(SliderTransforms, StoredTextsAndPositions) {
  for (bool comma : {false, true}) {
    SCOPED_TRACE(comma ? "comma locale" : "C locale");
    std::optional<test::CommaLocale> locale;
    if (comma) {
      locale.emplace();
      if (!locale->active()) GTEST_SKIP() << "locale de_DE.UTF-8 is not installed";
    }
    EXPECT_EQ(VL200TrackingTransClass::reverseTransformedValue(1.5), "2.25");
    EXPECT_EQ(VL200TrackingTransClass::reverseTransformedValue(0.83), "0.689");
    EXPECT_EQ(VL200TrackingTransClass::reverseTransformedValue(std::sqrt(20.0)), "20");
    EXPECT_NEAR(VL200TrackingTransClass::transformedValue(std::string("0.6875")), 0.8292, 1e-4);
    EXPECT_EQ(VL200TrackingTransClass::transformedValue(std::nullopt), 0);
    EXPECT_EQ(VL200TrackingTransClass::transformedValue(std::string("-1")), 0);
    EXPECT_EQ(VL200SensitivityTransClass::transformedValue(std::string("1600.5")), 1600.5);
    EXPECT_EQ(VL200SensitivityTransClass::reverseTransformedValue(1234.9), "1234");
    EXPECT_EQ(VL200SensitivityTransClass::reverseTransformedValue(std::nan("")), "0");
    EXPECT_EQ(VL200SensitivityTransClass::reverseTransformedValue(1e12), "2147483647");
  }
}

class SeparatorMenu : public test::EditingBench {};

TEST_F(SeparatorMenu, TitlesMakeSeparatorsHeadingsAndItemsWithImages) {
  std::vector<QS802DeviceClass*> devices{device};
  VL232SeparatorMenuClass menu;
  menu.deviceList = &devices;
  using K = SeparatorMenuItem::Kind;
  EXPECT_EQ(menu.insertItemWithTitle("MX Master", 0), (SeparatorMenuItem{K::Normal, "MX Master", device->VL702statusIcon(), 0}));
  EXPECT_EQ(menu.insertItemWithTitle("Beyond the list", 5).image, "");
  EXPECT_EQ(menu.insertItemWithTitle("-", 1), (SeparatorMenuItem{K::Separator, "", "", 0}));
  EXPECT_EQ(menu.insertItemWithTitle("-Other devices", 0), (SeparatorMenuItem{K::Disabled, "Other devices", "", 0}));
  ASSERT_EQ(menu.items().size(), 4u);
  EXPECT_EQ(menu.items()[0].title, "Other devices");
  EXPECT_EQ(menu.items()[2].kind, K::Separator);
  EXPECT_EQ(menu.items()[3].title, "Beyond the list");
  EXPECT_EQ(std::string(device->VL702statusIcon()), "NSImageNameStatusNone");

  // With an application list, items take the application's icon at its size in menus, and the
  // device list is not consulted.
  std::vector<QS803AppClass*> apps{nullptr};
  menu.appList = &apps;
  EXPECT_EQ(menu.itemForTitle("Safari", 0).image, "");
  EXPECT_EQ(menu.itemForTitle("-", 0).kind, K::Separator);
}

}  // namespace
}  // namespace vl
