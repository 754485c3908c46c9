// The favourites table's copy and paste: what a pasteboard text yields, when the menu items are
// enabled, and what a paste changes.
#include <gtest/gtest.h>

#include "core/plist/codec.h"
#include "pane/editing/favorite_table.h"
#include "support/comma_locale.h"
#include "tests/pane/editing_fixture.h"

namespace vl {
namespace {

TEST(PasteboardText, YieldsOnlyNumbersWithinRange) {
  const std::optional<std::string> none;
  struct Case {
    std::string text;
    std::optional<std::string> sensitivity, tracking;
  } cases[] = {
      {"//MX Master\n{\n    Acceleration = 0.6875;\n    Sensitivity = 1600;\n}\n", "1600", "0.6875"},
      {"{Speed = 1200; Acceleration = \"2\";}", "1200", "2"},
      {"{Sensitivity = 1995; Acceleration = 1;}", none, "1"},
      {"{Sensitivity = 5; Acceleration = 20;}", "5", "20"},
      {"{Sensitivity = 1990; Acceleration = 0;}", "1990", "0"},
      {"{Sensitivity = 4.9; Acceleration = 20.5;}", none, none},
      {"{Sensitivity = 1000; Acceleration = -0.1;}", "1000", none},
      // The sensitivity key is chosen before its value is checked.
      {"{Sensitivity = abc; Speed = 1200; Acceleration = 1;}", none, "1"},
      // Texts that are not one number are not taken, nor turned into 0 or their first digits.
      {"{Sensitivity = \"1200abc\"; Acceleration = \"\";}", none, none},
      {"{Sensitivity = \" 1200 \"; Acceleration = \"0,5\";}", "1200", none},
      {"{Sensitivity = nan; Acceleration = inf;}", none, none},
      {"{Sensitivity = 1e3; Acceleration = 0.50;}", "1000", "0.5"},
      {"{Sensitivity = {a = 1;}; Acceleration = (1);}", none, none},
      {"<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>Sensitivity</key><integer>700</integer>"
       "<key>Acceleration</key><real>1.25</real></dict></plist>",
       "700", "1.25"},
      {"(1600, 0.6875)", none, none},
      {"Sensitivity 1600", none, none},
      {"{Sensitivity = 1600; Acceleration = 1;", none, none},
      {"", none, none},
      {std::string(200, '(') + std::string(200, ')'), none, none},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    PastedSpeed p = readSpeedFromPasteboardText(c.text);
    EXPECT_EQ(p.sensitivity, c.sensitivity);
    EXPECT_EQ(p.tracking, c.tracking);
  }
  // Text beyond the bound is not parsed, however well formed.
  std::string big = "{Sensitivity = 1600; Acceleration = 1;}//" + std::string(kMaxPastedTextBytes, 'x');
  EXPECT_FALSE(readSpeedFromPasteboardText(big).sensitivity);
}

TEST(PasteboardText, CopiedTextReadsBackWhateverTheDeviceName) {
  for (std::string name : {"MX Master", "Mouse\nwith {braces} = ;", "Maus \"Ü\"\r\n//", ""}) {
    SCOPED_TRACE(name);
    std::string text = speedPasteboardText(name, "1600", "0.6875");
    EXPECT_EQ(text.rfind("//", 0), 0u);
    EXPECT_EQ(text.back(), '\n');
    PastedSpeed p = readSpeedFromPasteboardText(text);
    EXPECT_EQ(p.sensitivity, "1600");
    EXPECT_EQ(p.tracking, "0.6875");
  }
  EXPECT_EQ(speedPasteboardText("MX Master", "1600", "0.6875").substr(0, 12), "//MX Master\n");
}

class FavouriteTableTest : public test::EditingBench {
 protected:
  VL240FavoriteTableClass table{host, &pasteboard};
};

TEST_F(FavouriteTableTest, MenuItemsNeedOneRowAndTheRightSetting) {
  pasteboard.put("{Sensitivity = 1200; Acceleration = 1;}");
  EXPECT_TRUE(table.validateMenuItem(MenuAction::Copy));
  EXPECT_TRUE(table.validateMenuItem(MenuAction::Paste));
  EXPECT_TRUE(table.validateMenuItem(MenuAction::Other));

  host.selection.clear();
  EXPECT_FALSE(table.validateMenuItem(MenuAction::Copy));
  EXPECT_FALSE(table.validateMenuItem(MenuAction::Paste));
  EXPECT_FALSE(table.validateMenuItem(MenuAction::Other));
  host.selection = {device->cursorSpeeds()[0], device->cursorSpeeds()[1]};
  EXPECT_FALSE(table.validateMenuItem(MenuAction::Copy));
  EXPECT_FALSE(table.validateMenuItem(MenuAction::Paste));
  host.selection = {favourite};

  favourite->setDisableAccl(true);
  EXPECT_FALSE(table.validateMenuItem(MenuAction::Copy));
  EXPECT_FALSE(table.copy());
  EXPECT_EQ(pasteboard.changeCount(), 0);
  EXPECT_TRUE(table.validateMenuItem(MenuAction::Paste));  // a paste turns acceleration back on
  favourite->setDisableAccl(false);

  favourite->setIsLocked(true);
  EXPECT_FALSE(table.validateMenuItem(MenuAction::Paste));
  EXPECT_FALSE(table.paste());
  EXPECT_EQ(favourite->sensitivityDisplay(), "1600");
  favourite->setIsLocked(false);

  for (const char* text : {"{Sensitivity = 1995; Acceleration = 1;}", "{Sensitivity = 1200;}", "not a list"}) {
    SCOPED_TRACE(text);
    pasteboard.put(text);
    EXPECT_FALSE(table.validateMenuItem(MenuAction::Paste));
  }
  pasteboard.put(std::nullopt);
  EXPECT_FALSE(table.validateMenuItem(MenuAction::Paste));

  VL240FavoriteTableClass noPasteboard(host, nullptr);
  EXPECT_FALSE(noPasteboard.validateMenuItem(MenuAction::Copy));
  EXPECT_FALSE(noPasteboard.validateMenuItem(MenuAction::Paste));
}

TEST_F(FavouriteTableTest, CopyThenPasteCarriesASettingToAnotherFavourite) {
  favourite->setSensitivityDisplay(std::string("1234"));
  favourite->setTrackingSpeed(std::string("1.5"));
  ASSERT_TRUE(table.copy());
  EXPECT_EQ(pasteboard.string()->substr(0, 12), "//MX Master\n");

  QS805CursorSpeedClass* other = device->cursorSpeeds()[3];
  other->setDisableAccl(true);
  host.selection = {other};
  ASSERT_TRUE(table.paste());
  EXPECT_EQ(other->sensitivityDisplay(), "1234");
  EXPECT_EQ(other->trackingSpeed(), "1.5");
  EXPECT_FALSE(other->disableAccl());
}

TEST_F(FavouriteTableTest, PasteWritesOnlyWhatDiffers) {
  save(ctx.get());
  pasteboard.put("//from elsewhere\n{Speed = 1600; Acceleration = 3;}\n");
  ASSERT_TRUE(table.paste());
  EXPECT_EQ(favourite->changedKeys(), std::vector<std::string>{"trackingSpeed"});
  EXPECT_EQ(favourite->trackingSpeed(), "3");
}

TEST_F(FavouriteTableTest, TextsKeepTheDotUnderACommaLocale) {
  VELMORA_WITH_COMMA_LOCALE(locale);
  favourite->setTrackingSpeed(std::string("0.6875"));
  favourite->setSensitivityDisplay(std::string("1500.5"));
  ASSERT_TRUE(table.copy());
  std::string text = *pasteboard.string();
  EXPECT_NE(text.find("0.6875"), std::string::npos) << text;
  EXPECT_NE(text.find("1500.5"), std::string::npos) << text;
  EXPECT_EQ(text.find(','), std::string::npos) << text;

  QS805CursorSpeedClass* other = device->cursorSpeeds()[2];
  host.selection = {other};
  ASSERT_TRUE(table.paste());
  EXPECT_EQ(other->trackingSpeed(), "0.6875");
  EXPECT_EQ(other->sensitivity(), "499.5");
}

}  // namespace
}  // namespace vl
