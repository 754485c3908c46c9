// Finding the control to snap to: the default and cancel button search on the desktop
// fixtures of tests/data/desktop, a named control's usable centre with every refusal, screens,
// element geometry and the focused window.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "agent/snapping/ax_helpers.h"
#include "agent/snapping/button_search.h"
#include "core/plist/codec.h"
#include "platform/sim/sim_desktop.h"
#include "support/sim_world.h"

namespace vl {
namespace {

std::string desktopDir() { return std::string(VELMORA_TEST_DATA) + "/desktop"; }

std::vector<std::string> fixtureNames() {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(desktopDir(), ec))
    if (e.path().extension() == ".plist") names.push_back(e.path().stem().string());
  std::sort(names.begin(), names.end());
  return names;
}

class DesktopTest : public test::SimWorld {
 protected:
  DesktopTest() : desk(mac.desktop()) {}
  AXElementRef focusedWindow() {
    AXElementRef app, win;
    EXPECT_EQ(QS842copyFocusedElement(platform.accessibility, platform.desktop, &app, &win), 0);
    return win;
  }
  Point centre(const std::string& name) {
    uint64_t id = desk.elementNamed(name);
    EXPECT_NE(id, 0u) << name;
    return desk.centreOf(id).value_or(Point{-1, -1});
  }
  sim::SimDesktop& desk;
};

// --- The fixtures ----------------------------------------------------------------------------------

class ButtonSearchFixture : public DesktopTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(ButtonSearchFixture, FindsTheExpectedButtonOrRefuses) {
  auto file = pl::readFile(desktopDir() + "/" + GetParam() + ".plist");
  ASSERT_TRUE(file) << file.error;
  auto opened = sim::loadDesktopFixture(desk, *file.value);
  ASSERT_TRUE(opened) << opened.status().detail();
  ASSERT_NE(*opened, 0u);
  AXElementRef window = focusedWindow();
  ASSERT_TRUE(window);
  std::string cancelTitle = file.value->stringFor("cancelTitle").value_or("Cancel");
  const pl::Value* expect = file.value->find("expect");
  ASSERT_TRUE(expect);
  for (auto [key, kind] : {std::pair{"default", kButtonKindDefault}, std::pair{"cancel", kButtonKindCancel}}) {
    const pl::Value* want = expect->find(key);
    ASSERT_TRUE(want) << key;
    Point at{-1, -1};
    int32_t rc = QS844buttonPosition(platform.accessibility, platform.screens, window, kind, &at, cancelTitle);
    if (want->isString()) {
      EXPECT_EQ(rc, 0) << key;
      Point c = centre(*want->asString());
      EXPECT_EQ(at.x, c.x) << key << " should be " << *want->asString();
      EXPECT_EQ(at.y, c.y) << key << " should be " << *want->asString();
    } else {
      EXPECT_EQ(rc, want->intValue()) << key;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Desktop, ButtonSearchFixture, ::testing::ValuesIn(fixtureNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           std::string n = info.param;
                           std::replace(n.begin(), n.end(), '-', '_');
                           return n;
                         });

TEST(ButtonSearchFixtures, TheFolderHoldsTheFixtures) { EXPECT_GE(fixtureNames().size(), 15u); }

// --- Rules the fixtures do not show -----------------------------------------------------------------

TEST_F(DesktopTest, CancelSearchStopsAtTheFirstCancelInWalkOrderAndFreshCandidatesEachTime) {
  int32_t pid = desk.ensureApplication("Mail");
  desk.activate(pid);
  desk.openDialog(pid, {{"Cancel", "Abbrechen", "Go"}, {}, {}, false, ""});
  AXElementRef window = focusedWindow();
  Point at;
  ASSERT_EQ(QS844buttonPosition(platform.accessibility, platform.screens, window, kButtonKindCancel, &at, "Abbrechen"), 0);
  EXPECT_EQ(at, centre("Cancel"));
  // The walk ended at the find: the buttons after it were never examined.
  EXPECT_EQ(lastButtonCandidates().size(), 1u);
  ASSERT_EQ(QS844buttonPosition(platform.accessibility, platform.screens, window, kButtonKindDefault, &at, "Abbrechen"), 0);
  EXPECT_EQ(at, centre("Go"));
  EXPECT_EQ(lastButtonCandidates().size(), 3u);
}

TEST_F(DesktopTest, OtherKindsAndMissingArgumentsAreRefused) {
  int32_t pid = desk.ensureApplication("Mail");
  desk.activate(pid);
  desk.openDialog(pid, {{"Cancel", "OK"}, {}, {}, false, ""});
  Point at;
  EXPECT_EQ(QS844buttonPosition(platform.accessibility, platform.screens, focusedWindow(), 5, &at, "Cancel"), 8440154);
  EXPECT_EQ(QS844buttonPosition(platform.accessibility, platform.screens, nullptr, 0, &at, "Cancel"), 8440027);
  EXPECT_EQ(QS844buttonPosition(platform.accessibility, platform.screens, focusedWindow(), 0, nullptr, "Cancel"), 8440027);
  // A window whose frame cannot be read.
  desk.failAttribute(desk.focusedWindow(), kAXSizeAttribute, kAXErrorCannotComplete);
  EXPECT_EQ(QS844buttonPosition(platform.accessibility, platform.screens, focusedWindow(), 0, &at, "Cancel"), 8440096);
}

TEST_F(DesktopTest, ElementsDeeperThanNineLevelsAreExaminedThemselves) {
  // A chain of groups: a titled button with a child at depth 10 is taken as a button, one
  // at depth 9 is only walked through.
  auto chain = [](int depth, sim::ElementSpec leaf) {
    for (int i = 0; i < depth - 1; ++i) {
      sim::ElementSpec g;
      g.role = "AXGroup";
      g.frame = Rect{400, 200, 500, 200};
      g.children.push_back(std::move(leaf));
      leaf = std::move(g);
    }
    return leaf;
  };
  sim::ElementSpec button;
  button.title = "Deep";
  button.name = "deep";
  button.enabled = true;
  button.frame = Rect{790, 360, 90, 24};
  sim::ElementSpec image;
  image.role = "AXImage";
  image.frame = Rect{795, 364, 16, 16};
  button.children.push_back(image);
  for (auto [depth, found] : {std::pair{10, true}, std::pair{9, false}}) {
    sim::ElementSpec w;
    w.role = kAXWindowRole;
    w.subrole = kAXDialogSubrole;
    w.frame = Rect{400, 200, 500, 200};
    w.children.push_back(chain(depth, button));
    int32_t pid = desk.ensureApplication("Deep" + std::to_string(depth));
    desk.activate(pid);
    desk.openWindow(pid, w);
    Point at;
    int32_t rc = QS844buttonPosition(platform.accessibility, platform.screens, focusedWindow(), kButtonKindDefault, &at, "Cancel");
    EXPECT_EQ(rc, found ? 0 : 8440104) << "depth " << depth;
  }
}

TEST(ButtonTitles, CompareIgnoringCase) {
  struct Case {
    const char* a;
    const char* b;
    bool equal;
  } cases[] = {
      {"OK", "ok", true},          {"Ok", "oK", true},           {"OK ", "OK", false},
      {"Cancel", "CANCEL", true},  {"Annuler", "ANNULER", true}, {"Übernehmen", "ÜBERNEHMEN", true},
      {"Отмена", "ОТМЕНА", true},  {"Άκυρο", "άκυρο", false},   {"Ακυρο", "ακυρο", true},
      {"キャンセル", "キャンセル", true}, {"", "", true},            {"Cancel", "Cancelled", false},
      {"\xC3", "\xC3", true},      {"\xC3", "\xE3", false},
  };
  for (const auto& c : cases) EXPECT_EQ(equalsIgnoringCase(c.a, c.b), c.equal) << c.a << " / " << c.b;
}

// --- A named control's centre -----------------------------------------------------------------------

TEST_F(DesktopTest, NamedControlCentreAndEveryRefusal) {
  int32_t pid = desk.ensureApplication("Preview");
  desk.activate(pid);
  uint64_t dialog = desk.openDialog(pid, {{"Cancel", "Save"}, std::string("Save"), std::string("Cancel"), false, ""});
  uint64_t save = desk.elementNamed("Save");
  Point at;
  ASSERT_EQ(QS842elementAttrPosition(platform.accessibility, platform.screens, errors, focusedWindow(), kAXDefaultButtonAttribute, &at), 0);
  EXPECT_EQ(at, centre("Save"));

  struct Case {
    const char* what;
    std::function<void()> arrange;
    const char* attribute;
    int32_t expected;
    std::vector<std::string> pushed;  // newest first
  };
  std::vector<Case> cases = {
      {"attribute missing", [] {}, "AXHelpButton", 8420064, {"-25205"}},
      {"control disabled", [&] { desk.setEnabled(save, false); }, kAXDefaultButtonAttribute, 8420082, {"842.0078"}},
      {"control without position", [&] { desk.failAttribute(save, kAXPositionAttribute, kAXErrorNoValue); },
       kAXDefaultButtonAttribute, 8420082, {"842.0027"}},
      {"control covered",
       [&] {
         sim::ElementSpec w;
         w.role = kAXWindowRole;
         w.frame = Rect{800, 300, 200, 200};
         desk.openWindow(desk.ensureApplication("Stickies"), w);
       },
       kAXDefaultButtonAttribute, 8420092, {}},
      {"control outside the window", [&] { desk.setFrame(save, Rect{1000, 600, 90, 24}); }, kAXDefaultButtonAttribute,
       8420099, {}},
      {"window without size", [&] { desk.failAttribute(dialog, kAXSizeAttribute, kAXErrorNoValue); },
       kAXDefaultButtonAttribute, 8420099, {}},
      {"control off every screen",
       [&] {
         desk.setFrame(dialog, Rect{1300, 300, 400, 200});
         desk.setFrame(save, Rect{1450, 450, 90, 24});
       },
       kAXDefaultButtonAttribute, 8420102, {}},
  };
  for (const auto& c : cases) {
    // Each case on a fresh dialog.
    desk.closeWindow(dialog);
    dialog = desk.openDialog(pid, {{"Cancel", "Save"}, std::string("Save"), std::string("Cancel"), false, ""});
    desk.activate(pid);
    save = desk.elementNamed("Save");
    c.arrange();
    errors.clear();
    EXPECT_EQ(QS842elementAttrPosition(platform.accessibility, platform.screens, errors, focusedWindow(), c.attribute, &at), c.expected) << c.what;
    EXPECT_EQ(errorStackEntries(errors), c.pushed) << c.what;
    for (const auto& app : desk.applications())
      if (app.localizedName == "Stickies") desk.quit(app.processIdentifier);
  }
}

TEST_F(DesktopTest, AFailedHitTestIsNoRefusal) {
  int32_t pid = desk.ensureApplication("Preview");
  desk.activate(pid);
  desk.openDialog(pid, {{"OK"}, std::string("OK"), {}, false, ""});
  desk.failHitTest(kAXErrorCannotComplete);
  Point at;
  EXPECT_EQ(QS842elementAttrPosition(platform.accessibility, platform.screens, errors, focusedWindow(), kAXDefaultButtonAttribute, &at), 0);
  EXPECT_EQ(QS844buttonPosition(platform.accessibility, platform.screens, focusedWindow(), kButtonKindDefault, &at, "Cancel"), 0);
  EXPECT_EQ(at, centre("OK"));
}

// --- Geometry ----------------------------------------------------------------------------------------

TEST_F(DesktopTest, PointsOnScreensUseTopLeftCoordinates) {
  // Main screen 1440 x 900; a second screen of 1920 x 1080 to its right, its bottom edge 100
  // points below the main screen's; a third above the main one.
  mac.setScreenFrames({{0, 0, 1440, 900}, {1440, -100, 1920, 1080}, {0, 900, 1280, 800}});
  struct Case {
    double x, y;
    bool on;
  } cases[] = {
      {0, 0, true},       {1439.5, 899.5, true}, {1440, -90, false},   {1440, 80, true},  {3359, 999, true},
      {3360, 500, false}, {1500, 1000, false},   {100, -1, true},    {100, -800, true}, {100, -801, false},
      {1300, -10, false}, {-1, 10, false},
  };
  for (const auto& c : cases) EXPECT_EQ(QS842withinScreen(platform.screens, c.x, c.y), c.on) << c.x << ", " << c.y;
  mac.setScreenFrames({});
  EXPECT_FALSE(QS842withinScreen(platform.screens, 10, 10));
}

TEST_F(DesktopTest, ElementGeometryAndItsErrorNumbers) {
  int32_t pid = desk.ensureApplication("Preview");
  desk.activate(pid);
  uint64_t dialog = desk.openDialog(pid, {{"OK"}, {}, {}, false, ""});
  uint64_t ok = desk.elementNamed("OK");
  AXElementRef button = desk.axElement(ok);
  Point p;
  Rect r;
  ASSERT_EQ(QS842elementPosition(platform.accessibility, button, &p), 0);
  EXPECT_EQ(p, *desk.centreOf(ok));
  ASSERT_EQ(QS842elementRect(platform.accessibility, desk.axElement(dialog), &r), 0);
  EXPECT_EQ(r.width, 420);
  EXPECT_EQ(QS842elementPosition(platform.accessibility, nullptr, &p), 8420023);
  EXPECT_EQ(QS842elementRect(platform.accessibility, button, nullptr), 8420116);
  // Without a size the position itself is the answer.
  desk.failAttribute(ok, kAXSizeAttribute, kAXErrorNoValue);
  ASSERT_EQ(QS842elementPosition(platform.accessibility, button, &p), 0);
  EXPECT_EQ(p.x, desk.centreOf(ok)->x - 41);
  EXPECT_EQ(QS842elementRect(platform.accessibility, button, &r), 8420128);
  desk.failAttribute(ok, kAXPositionAttribute, kAXErrorNoValue);
  EXPECT_EQ(QS842elementPosition(platform.accessibility, button, &p), 8420027);
  EXPECT_EQ(QS842elementRect(platform.accessibility, button, &r), 8420120);
  // A closed window's elements are invalid.
  desk.closeWindow(dialog);
  EXPECT_EQ(QS842elementRect(platform.accessibility, desk.axElement(dialog), &r), 8420120);
}

TEST_F(DesktopTest, FocusedWindowFallsBackToTheFrontmostApplication) {
  int32_t pid = desk.ensureApplication("Preview");
  desk.activate(pid);
  uint64_t dialog = desk.openDialog(pid, {{"OK"}, {}, {}, false, ""});
  AXElementRef app, win;
  ASSERT_EQ(QS842copyFocusedElement(platform.accessibility, platform.desktop, &app, &win), 0);
  EXPECT_TRUE(axEqual(win, desk.axElement(dialog)));
  desk.failSystemWideFocus(kAXErrorCannotComplete);
  ASSERT_EQ(QS842copyFocusedElement(platform.accessibility, platform.desktop, &app, nullptr), 0);
  int32_t appPid = 0;
  ASSERT_EQ(desk.accessibility().getPid(app, &appPid), 0);
  EXPECT_EQ(appPid, pid);
  ASSERT_EQ(QS842copyFocusedElement(platform.accessibility, platform.desktop, nullptr, &win), 0);
  EXPECT_TRUE(axEqual(win, desk.axElement(dialog)));
  // No window: the application still comes back, the window does not.
  desk.closeWindow(dialog);
  EXPECT_EQ(QS842copyFocusedElement(platform.accessibility, platform.desktop, &app, &win), kAXErrorNoValue);
  EXPECT_TRUE(app);
  EXPECT_FALSE(win);
  // Without permission nothing can be read.
  desk.setTrusted(false);
  EXPECT_EQ(QS842copyFocusedElement(platform.accessibility, platform.desktop, &app, &win), kAXErrorAPIDisabled);
}

}  // namespace
}  // namespace vl
