// Automatic snapping in virtual time: one pass of the worker (the snap after a new window,
// the user's mouse and buttons, Control Center, the move back), the worker's life, the choice
// of the Application record, and the controller's operations with the store and the desktop.
#include <gtest/gtest.h>

#include "agent/snapping/auto_snapping.h"
#include "agent/snapping/ax_helpers.h"
#include "agent/snapping/snapping_controller.h"
#include "core/system/alerts.h"
#include "core/store/app_record.h"
#include "core/store/store.h"
#include "platform/sim/sim_desktop.h"
#include "support/sim_world.h"

namespace vl {
namespace {

constexpr Point kHome{300, 700};

class SnappingBench : public test::SimWorld {
 protected:
  SnappingBench() : desk(mac.desktop()), engine(AutoSnapping::Ports::from(withSleeper()), errors) {
    desk.setSleepHook([this](double s) { loop.advance(s); });
    engine.setSpawner([this](std::function<void()> fn) { kept.push_back(std::move(fn)); });
    engine.setCancelButtonTitle("Cancel");
    editor = desk.ensureApplication("TextEdit");
    desk.activate(editor);
    sim::ElementSpec doc;
    doc.role = kAXWindowRole;
    doc.subrole = kAXStandardWindowSubrole;
    doc.title = "Notes";
    doc.frame = Rect{100, 100, 900, 600};
    document = desk.openWindow(editor, doc);
    desk.moveCursor(kHome);
    loop.runUntilIdle();
  }

  // Lets the engine see the document window as old news.
  void settle() {
    for (int i = 0; i < 3; ++i) pass();
  }
  uint64_t openSave(bool sheet = false) {
    return desk.openDialog(editor, {{"Cancel", "Save"}, std::string("Save"), std::string("Cancel"), sheet, ""});
  }
  int32_t pass(unsigned index = kSnapDefaultButton, bool jump = true, bool bounce = false) {
    return engine.moveCursorToItem(index, jump, bounce);
  }
  Point centre(const std::string& name) { return *desk.centreOf(desk.elementNamed(name)); }
  // The worker's waits go through the desktop's sleeper, which advances virtual time.
  Platform withSleeper() {
    platform.sleeper = &mac.desktop().sleeper();
    return platform;
  }
  Point cursor() { return desk.cursorPosition(); }

  sim::SimDesktop& desk;
  AutoSnapping engine;
  std::vector<std::function<void()>> kept;
  int32_t editor = 0;
  uint64_t document = 0;
};

// --- One pass -----------------------------------------------------------------------------------------

TEST_F(SnappingBench, SnapsOnThePassAfterTheWindowAppearedAndOnlyOnce) {
  settle();
  openSave();
  pass();
  EXPECT_EQ(cursor(), kHome) << "the first pass only notes the new window";
  EXPECT_EQ(engine.focusedWinCount(), 0);
  pass();
  EXPECT_EQ(cursor(), centre("Save"));
  EXPECT_EQ(engine.focusedWinCount(), 1);
  EXPECT_TRUE(engine.hasTargetWindow());
  EXPECT_EQ(engine.snappingFromPosition(), kHome);
  EXPECT_EQ(engine.snappingRect(), squareAround(centre("Save"), 8));
  desk.moveCursor({500, 500});
  for (int i = 0; i < 5; ++i) pass();
  EXPECT_EQ(cursor(), (Point{500, 500})) << "a window that keeps the focus is snapped once";
}

TEST_F(SnappingBench, TheUserMovingTheMouseSinceTheWindowAppearedPreventsTheSnap) {
  struct Case {
    double dx, dy;
    bool snaps;
  } cases[] = {{0, 0, true}, {2.5, 2.5, true}, {-2.5, -2.5, true}, {-3, 0, false}, {10, 0, false}, {0, -4, false}};
  for (const auto& c : cases) {
    desk.moveCursor(kHome);
    settle();
    uint64_t dialog = openSave();
    pass();
    Point moved{kHome.x + c.dx, kHome.y + c.dy};
    desk.moveCursor(moved);
    pass();
    EXPECT_EQ(cursor(), c.snaps ? centre("Save") : moved) << c.dx << ", " << c.dy;
    desk.closeWindow(dialog);
  }
}

TEST_F(SnappingBench, AHeldButtonPreventsTheSnapForGood) {
  settle();
  openSave();
  pass();
  desk.setButtons(1);
  pass();
  EXPECT_EQ(cursor(), kHome);
  desk.setButtons(0);
  for (int i = 0; i < 3; ++i) pass();
  EXPECT_EQ(cursor(), kHome);
}

TEST_F(SnappingBench, ControlCenterCountsAsTheWindowBefore) {
  settle();
  openSave();
  pass();
  pass();
  ASSERT_EQ(cursor(), centre("Save"));
  desk.moveCursor(kHome);
  desk.focusControlCenter();
  int32_t before = engine.focusedWinCount();
  for (int i = 0; i < 3; ++i) pass();
  EXPECT_EQ(engine.focusedWinCount(), before + 3);
  EXPECT_EQ(cursor(), kHome) << "nothing of Control Center is snapped";
  desk.activate(editor);
  for (int i = 0; i < 3; ++i) pass();
  EXPECT_EQ(cursor(), kHome) << "coming back from Control Center is no new window";
}

TEST_F(SnappingBench, SwitchingAwayAndBackSnapsAgain) {
  settle();
  openSave();
  pass();
  pass();
  desk.moveCursor(kHome);
  int32_t finder = desk.ensureApplication("Finder");
  desk.activate(finder);
  sim::ElementSpec w;
  w.role = kAXWindowRole;
  w.subrole = kAXStandardWindowSubrole;
  w.frame = Rect{50, 50, 600, 400};
  desk.openWindow(finder, w);
  pass();
  pass();
  EXPECT_EQ(cursor(), kHome) << "the Finder window has no button";
  desk.activate(editor);
  pass();
  pass();
  EXPECT_EQ(cursor(), centre("Save"));
}

TEST_F(SnappingBench, TargetsAndTheirControls) {
  struct Case {
    unsigned index;
    const char* control;  // nullptr: the cursor stays
    int32_t result;
  } cases[] = {
      {kSnapSameAsDefault, nullptr, 0},    {kSnapNone, nullptr, 0},     {kSnapDefaultButton, "Save", 0},
      {kSnapCancelButton, "Cancel", 0},    {kSnapCloseButton, "AXCloseButton", 0},
      {kSnapMinimizeButton, nullptr, 8420082},  // a dialog's minimize and zoom buttons are disabled
      {kSnapFullscreenButton, nullptr, 8420082}, {7, nullptr, 0},  // "Dock"
  };
  for (const auto& c : cases) {
    desk.moveCursor(kHome);
    settle();
    uint64_t dialog = openSave();
    pass(c.index);
    EXPECT_EQ(pass(c.index), c.result) << c.index;
    EXPECT_EQ(cursor(), c.control ? centre(c.control) : kHome) << c.index;
    desk.closeWindow(dialog);
  }
}

TEST_F(SnappingBench, WithoutExposedDefaultButtonTheSearchDecides) {
  settle();
  desk.openDialog(editor, {{"Don't Save", "Save", "Cancel"}, {}, {}, true, ""});
  pass();
  pass();
  EXPECT_EQ(cursor(), centre("Save"));
}

TEST_F(SnappingBench, MovesBackWhenTheWindowGoesAway) {
  enum Gone { Closed, Minimized, AppHidden, Stays };
  struct Case {
    const char* what;
    Gone gone;
    bool bounce, shift;
    Point nudge;  // where the user moves the cursor after the snap
    bool back;
  } cases[] = {
      {"closed", Closed, true, false, {0, 0}, true},
      {"minimized", Minimized, true, false, {0, 0}, true},
      {"application hidden", AppHidden, true, false, {0, 0}, true},
      {"still there", Stays, true, false, {0, 0}, false},
      {"bounce off", Closed, false, false, {0, 0}, false},
      {"shift held", Closed, true, true, {0, 0}, false},
      {"cursor nudged within the square", Closed, true, false, {7, -7}, true},
      {"cursor taken out of the square", Closed, true, false, {8, 0}, false},
  };
  for (const auto& c : cases) {
    desk.activate(editor);
    desk.setHidden(editor, false);
    desk.setModifierFlags(0);
    desk.moveCursor(kHome);
    settle();
    uint64_t dialog = openSave();
    pass(kSnapDefaultButton, true, c.bounce);
    pass(kSnapDefaultButton, true, c.bounce);
    Point snapped = centre("Save");
    ASSERT_EQ(cursor(), snapped) << c.what;
    Point left{snapped.x + c.nudge.x, snapped.y + c.nudge.y};
    desk.moveCursor(left);
    if (c.shift) desk.setModifierFlags(kCGEventFlagMaskShift | 0x100);
    switch (c.gone) {
      case Closed: desk.closeWindow(dialog); break;
      case Minimized: desk.setMinimized(dialog, true); break;
      case AppHidden: desk.setHidden(editor, true); break;
      case Stays: break;
    }
    pass(kSnapDefaultButton, true, c.bounce);
    EXPECT_EQ(cursor(), c.back ? kHome : left) << c.what;
    // The target is kept only while the move back was not even considered or found no gone window.
    EXPECT_EQ(engine.hasTargetWindow(), c.gone == Stays || !c.bounce || c.shift) << c.what;
    desk.closeWindow(dialog);
  }
}

TEST_F(SnappingBench, AnUnreadableMinimizedStateKeepsTheTargetUntilTheWindowIsGone) {
  settle();
  uint64_t dialog = openSave();
  pass(kSnapDefaultButton, true, true);
  pass(kSnapDefaultButton, true, true);
  desk.failAttribute(dialog, kAXMinimizedAttribute, kAXErrorAttributeUnsupported);
  pass(kSnapDefaultButton, true, true);
  EXPECT_TRUE(engine.hasTargetWindow());
  EXPECT_EQ(cursor(), centre("Save"));
  desk.failAttribute(dialog, kAXMinimizedAttribute, kAXErrorCannotComplete);
  pass(kSnapDefaultButton, true, true);
  EXPECT_FALSE(engine.hasTargetWindow());
  EXPECT_EQ(cursor(), kHome);
}

TEST_F(SnappingBench, GlidingBackEndsWhereTheCursorCameFrom) {
  settle();
  uint64_t dialog = openSave();
  pass(kSnapDefaultButton, false, true);
  pass(kSnapDefaultButton, false, true);
  EXPECT_EQ(cursor(), centre("Save"));
  desk.closeWindow(dialog);
  pass(kSnapDefaultButton, false, true);
  EXPECT_EQ(cursor(), kHome);
}

// --- The worker -------------------------------------------------------------------------------------

TEST_F(SnappingBench, WorkerStartsOnlyForARealTargetAndWithPermission) {
  desk.setTrusted(false);
  engine.startAutoCursorSnappingToItem(kSnapDefaultButton, true, false);
  EXPECT_TRUE(kept.empty());
  EXPECT_FALSE(engine.isRunning());
  EXPECT_EQ(engine.target(), kSnapDefaultButton);
  desk.setTrusted(true);
  engine.startAutoCursorSnappingToItem(kSnapNone, true, false);
  EXPECT_TRUE(kept.empty());
  engine.startAutoCursorSnappingToItem(kSnapCancelButton, false, true);
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_TRUE(engine.isRunning());
  // A running worker takes new values on its next pass; no second worker.
  engine.startAutoCursorSnappingToItem(kSnapDefaultButton, true, true);
  EXPECT_EQ(kept.size(), 1u);
  EXPECT_EQ(engine.target(), kSnapDefaultButton);
  EXPECT_TRUE(engine.jump());
  EXPECT_TRUE(engine.bounce());
}

TEST_F(SnappingBench, WorkerLandsOnTheDefaultButtonWithinFourTenthsOfASecond) {
  settle();
  engine.startAutoCursorSnappingToItem(kSnapDefaultButton, true, true);
  ASSERT_EQ(kept.size(), 1u);
  double opened = 0, closed = 0;
  loop.perform(this, "open", 0.31, [&] {
    opened = loop.now();
    openSave();
  });
  loop.perform(this, "close", 1.5, [&] {
    closed = loop.now();
    desk.closeWindow();
  });
  loop.perform(this, "stop", 2.5, [&] { engine.startAutoCursorSnappingToItem(kSnapNone, false, false); });
  desk.clearCursorLog();
  kept.front()();  // the worker's loop, until it is told to stop
  EXPECT_FALSE(engine.isRunning());
  EXPECT_FALSE(engine.hasTargetWindow()) << "the worker releases its elements when it ends";
  std::vector<sim::CursorEvent> moves;
  for (const auto& e : desk.cursorLog())
    if (e.kind == sim::CursorEvent::Warp) moves.push_back(e);
  ASSERT_EQ(moves.size(), 2u);
  EXPECT_GT(moves[0].time, opened);
  EXPECT_LE(moves[0].time - opened, 0.4 + 1e-9);
  EXPECT_GT(moves[1].time, closed);
  EXPECT_LE(moves[1].time - closed, 0.2 + 1e-9);
  EXPECT_EQ(moves[1].to, kHome);
  // It ended within one pass of the stop.
  EXPECT_NEAR(desk.slept(), 2.6, 0.11);
}

TEST_F(SnappingBench, AStopTakenBackBeforeTheWorkerSawItKeepsItRunning) {
  engine.startAutoCursorSnappingToItem(kSnapDefaultButton, true, false);
  ASSERT_EQ(kept.size(), 1u);
  // The frontmost application changes to one without snapping and straight back, faster than
  // a pass: the worker must go on with the new values, and no second worker may start.
  engine.startAutoCursorSnappingToItem(kSnapNone, false, false);
  EXPECT_TRUE(engine.stopRequested());
  engine.startAutoCursorSnappingToItem(kSnapCancelButton, true, false);
  EXPECT_FALSE(engine.stopRequested());
  EXPECT_EQ(kept.size(), 1u);
  loop.perform(this, "open", 0.5, [&] { openSave(); });
  loop.perform(this, "stop", 1.5, [&] { engine.startAutoCursorSnappingToItem(kSnapNone, false, false); });
  kept.front()();
  EXPECT_EQ(cursor(), centre("Cancel"));
  // Once it has ended, the next start makes a new worker.
  engine.startAutoCursorSnappingToItem(kSnapDefaultButton, true, false);
  EXPECT_EQ(kept.size(), 2u);
}

TEST_F(SnappingBench, AStopBeforeTheFirstPassEndsTheWorkerAtOnce) {
  engine.startAutoCursorSnappingToItem(kSnapDefaultButton, true, false);
  engine.startAutoCursorSnappingToItem(kSnapNone, true, false);
  kept.front()();
  EXPECT_EQ(desk.slept(), 0);
  EXPECT_FALSE(engine.isRunning());
}

TEST_F(SnappingBench, PausedWorkerSkipsItsPasses) {
  settle();
  engine.startAutoCursorSnappingToItem(kSnapDefaultButton, true, false);
  engine.pauseAutoCursorSnapping(true);
  loop.perform(this, "open", 0.3, [&] { openSave(); });
  loop.perform(this, "stop", 1.5, [&] { engine.startAutoCursorSnappingToItem(kSnapNone, false, false); });
  kept.front()();
  EXPECT_EQ(cursor(), kHome);
  EXPECT_TRUE(engine.paused());
  // A new worker starts unpaused.
  engine.startAutoCursorSnappingToItem(kSnapDefaultButton, true, false);
  EXPECT_FALSE(engine.paused());
}

TEST_F(SnappingBench, RealThreadStopsAndIsJoined) {
  AutoSnapping threaded(AutoSnapping::Ports::from(platform), errors);
  threaded.setCancelButtonTitle("Cancel");
  desk.setSleepHook({});
  threaded.startAutoCursorSnappingToItem(kSnapDefaultButton, true, false);
  EXPECT_TRUE(threaded.isRunning());
  threaded.startAutoCursorSnappingToItem(kSnapNone, true, false);
  threaded.waitForWorker();
  EXPECT_FALSE(threaded.isRunning());
}

// --- Choosing the record ----------------------------------------------------------------------------

SnappingApp def(unsigned ix, bool jump = false, bool bounce = false) { return {true, std::nullopt, ix, jump, bounce}; }
SnappingApp rec(const char* key, unsigned ix, bool jump = false, bool bounce = false) {
  return {false, std::string(key), ix, jump, bounce};
}

TEST_F(SnappingBench, ChoosesTheApplicationsRecordElseTheDefault) {
  struct Case {
    const char* what;
    std::vector<SnappingApp> list;
    unsigned target;
    bool jump, bounce;
  } cases[] = {
      {"empty list", {}, 0, false, false},
      {"default only", {def(2, true, true)}, 2, true, true},
      {"own record", {def(2), rec("TextEdit.app", 3, true)}, 3, true, false},
      {"own record same as default", {def(2, false, true), rec("TextEdit.app", 0, true)}, 2, false, true},
      {"own record, no default", {rec("textedit.APP", 4)}, 4, false, false},
      {"same as default, no default", {rec("TextEdit.app", 0)}, 0, false, false},
      {"later default replaces", {def(2), def(5)}, 5, false, false},
      {"walk stops when both found", {def(2), rec("TextEdit.app", 3), rec("TextEdit.app", 6)}, 3, false, false},
      {"later match before the default", {rec("TextEdit.app", 3), rec("TextEdit.app", 6), def(2)}, 6, false, false},
      {"other application", {def(2), rec("Mail.app", 3)}, 2, false, false},
      {"stored key with leading folders", {def(2), rec("Applications/TextEdit.app", 3)}, 3, false, false},
      {"key that is only a suffix", {def(2), rec("Edit.app", 3)}, 2, false, false},
  };
  for (const auto& c : cases) {
    engine.startAutoCursorSnapping(&c.list, nullptr);
    EXPECT_EQ(engine.target(), c.target) << c.what;
    EXPECT_EQ(engine.jump(), c.jump) << c.what;
    EXPECT_EQ(engine.bounce(), c.bounce) << c.what;
  }
  std::vector<SnappingApp> list{def(2), rec("Mail.app", 3)};
  RunningApplication mail;
  mail.bundleURL = "/Applications/Mail.app";
  engine.startAutoCursorSnapping(&list, &mail);
  EXPECT_EQ(engine.target(), 3u) << "a given application rather than the frontmost one";
  engine.startAutoCursorSnapping(nullptr, &mail);
  EXPECT_EQ(engine.target(), 0u);
  EXPECT_TRUE(engine.stopRequested());
}

// --- The controller's operations ----------------------------------------------------------------------

class SnappingControllerTest : public SnappingBench {
 protected:
  SnappingControllerTest() {
    identity = {ProcessRole::Agent, {"quillon.Velmora.boa", "Velmora Manager", "2.2.3", ""}, {}};
    RunningApplication agent;
    agent.bundleIdentifier = "quillon.Velmora.boa";
    agent.localizedName = "Velmora Manager";
    agentPid = desk.launch(agent, kActivationPolicyProhibited, false);
    desk.setOwnProcess(agentPid);
  }
  ~SnappingControllerTest() override {
    controller.reset();
  }
  void openStore() {
    ErrorInfo error;
    ASSERT_EQ(QS814openMOC(platform, errors, nullptr, false, &ctx, &error), 0);
    QS803AppClass* d = QS803AppClass::insertSnappingAppWithObject(errors, AppObject(), ctx.get());
    ASSERT_TRUE(d);
    d->setSnapping(std::string(kSnappingDefaultButton));
    QS803AppClass* t = QS814insertApplication(errors, ctx.get());
    t->setMatchingKey(std::string("TextEdit.app"));
    t->setSnapping(std::string(kSnappingCancelButton));
    t->setSnappingJump(true);
    textEdit = t;
  }
  void make() {
    controller = std::make_unique<SnappingController>(SnappingController::Ports::from(platform), errorContext(), [this] { return ctx.get(); }, &engine);
  }
  StoreContextRef ctx;
  QS803AppClass* textEdit = nullptr;
  std::unique_ptr<SnappingController> controller;
  int32_t agentPid = 0;
};

TEST_F(SnappingControllerTest, StartingWithoutAStoreIsFatal) {
  make();
  controller->startAutoSnapping();
  EXPECT_EQ(lifecycle.exits, std::vector<int>{kFatalExitStatus});
  EXPECT_FALSE(controller->snappingStarted());
}

TEST_F(SnappingControllerTest, FollowsTheFrontmostRegularApplication) {
  openStore();
  make();
  controller->startAutoSnapping();
  EXPECT_TRUE(controller->snappingStarted());
  EXPECT_EQ(controller->snappingAppList().size(), 2u);
  EXPECT_EQ(engine.target(), kSnapCancelButton) << "TextEdit is frontmost";
  EXPECT_TRUE(engine.jump());
  // A helper without a Dock icon changes nothing; Mail takes the default.
  RunningApplication helper;
  helper.localizedName = "Helper";
  helper.bundleURL = "/Applications/Helper.app";
  desk.launch(helper, kActivationPolicyAccessory, true);
  loop.runUntilIdle();
  EXPECT_EQ(engine.target(), kSnapCancelButton);
  desk.activate(desk.ensureApplication("Mail"));
  loop.runUntilIdle();
  EXPECT_EQ(engine.target(), kSnapDefaultButton);
  EXPECT_FALSE(engine.jump());
  // The pane changed TextEdit to None: after the reload, TextEdit stops the worker.
  textEdit->setSnapping(std::string(kSnappingNone));
  desk.activate(editor);
  loop.runUntilIdle();
  controller->reloadSnappingAppList();
  EXPECT_EQ(engine.target(), kSnapNone);
  EXPECT_TRUE(engine.stopRequested());
  controller->stopAutoSnapping();
  EXPECT_TRUE(controller->snappingAppList().empty());
  desk.activate(desk.ensureApplication("Mail"));
  loop.runUntilIdle();
  EXPECT_EQ(engine.target(), 0u) << "no watcher after the stop";
}

TEST_F(SnappingControllerTest, PublishesThePermissionHalfASecondAfterItChanged) {
  make();
  controller->installAXNotify();
  controller->updateAXEnabled();
  EXPECT_TRUE(QS842getAXEnabled(platform.desktop, platform.defaults, "quillon.Velmora.boa"));
  desk.setTrusted(false);
  loop.advance(0.4);
  EXPECT_TRUE(QS842getAXEnabledFromWindow(platform.desktop, "quillon.Velmora.boa").value_or(false));
  loop.advance(0.2);
  EXPECT_EQ(QS842getAXEnabledFromWindow(platform.desktop, "quillon.Velmora.boa"), std::optional<bool>(false));
  EXPECT_FALSE(QS842getAXEnabledFromPlist(platform.defaults, "quillon.Velmora.boa"));
  EXPECT_FALSE(QS842getAXEnabled(platform.desktop, platform.defaults, "quillon.Velmora.boa"));
  desk.setTrusted(true);
  loop.advance(0.6);
  EXPECT_TRUE(QS842getAXEnabled(platform.desktop, platform.defaults, "quillon.Velmora.boa"));
  // One window, made once.
  int windows = 0;
  for (const auto& w : desk.desktop().windowList(true)) windows += w.ownerPid == agentPid;
  EXPECT_EQ(windows, 1);
  controller->removeAXNotify();
  desk.setTrusted(false);
  loop.advance(1.0);
  EXPECT_TRUE(QS842getAXEnabled(platform.desktop, platform.defaults, "quillon.Velmora.boa"));
}

TEST_F(SnappingControllerTest, APublishingFailureIsFatal) {
  desk.failWindowCreation(true);
  make();
  controller->updateAXEnabled();
  EXPECT_EQ(lifecycle.exits, std::vector<int>{kFatalExitStatus});
  ASSERT_EQ(alerts.modal.size(), 1u);
}

TEST_F(SnappingControllerTest, PermissionPromptAndPause) {
  make();
  desk.setTrusted(false);
  controller->axWarning();
  EXPECT_EQ(desk.prompts(), 1);
  controller->pause(true);
  EXPECT_TRUE(engine.paused());
  controller->pause(false);
  EXPECT_FALSE(engine.paused());
}

TEST(SnappingFlag, ChannelsAndTheirErrorChains) {
  ErrorStack errors;
  test::TempDir home;
  VirtualRunLoop loop;
  sim::SimMac mac(&loop);
  RootedPaths paths(home.path(), test::sourceResources());
  Platform p = mac.platform();
  p.paths = &paths;
  AXFlagWindow window;
  sim::SimDesktop& desk = mac.desktop();
  RunningApplication agent;
  agent.bundleIdentifier = "quillon.Velmora.boa";
  desk.setOwnProcess(desk.launch(agent, kActivationPolicyProhibited, false));

  // Nothing published yet: the preference is absent and reads as false.
  EXPECT_FALSE(QS842getAXEnabledFromWindow(p.desktop, "quillon.Velmora.boa").has_value());
  EXPECT_FALSE(QS842getAXEnabled(p.desktop, p.defaults, "quillon.Velmora.boa"));
  ASSERT_EQ(QS842updateAXEnabled(p.accessibility, p.desktop, p.defaults, errors, window, "quillon.Velmora.boa"), 0);
  EXPECT_EQ(mac.defaults().value("quillon.Velmora.boa", "AXEnabled"), pl::Value(true));
  EXPECT_EQ(QS842getAXEnabledFromWindow(p.desktop, "quillon.Velmora.boa"), std::optional<bool>(true));
  // Another process with only the preference.
  EXPECT_TRUE(mac.defaults().setValue("quillon.boa.Drovana", "AXEnabled", pl::Value(true)).ok());
  EXPECT_TRUE(QS842getAXEnabled(p.desktop, p.defaults, "quillon.boa.Drovana"));

  errors.clear();
  EXPECT_EQ(QS842updateAXEnabled(p.accessibility, p.desktop, p.defaults, errors, window, ""), 8420376);
  EXPECT_EQ(errorStackEntries(errors), (std::vector<std::string>{"842.0497", "842.0478"}));

  sim::SimMac other(&loop);
  Platform q = other.platform();
  q.paths = &paths;
  AXFlagWindow otherWindow;
  other.desktop().failWindowCreation(true);
  errors.clear();
  EXPECT_EQ(QS842updateAXEnabled(q.accessibility, q.desktop, q.defaults, errors, otherWindow, "quillon.Velmora.boa"), 8420372);
  EXPECT_EQ(errorStackEntries(errors), (std::vector<std::string>{"842.0452", "842.0438"}));
}

}  // namespace
}  // namespace vl
