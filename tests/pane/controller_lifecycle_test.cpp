// The pane's life cycle and window services: the error view, undo through the window's Edit
// menu, "Show All", values from outside, web pages, and the probes for drivers that can defeat
// the pane.
#include "core/store/app_record.h"
#include "pane/graph/curve_view.h"
#include "platform/sim/sim_desktop.h"
#include "core/store/store_model.h"
#include "tests/pane/controller_bench.h"

namespace vl {
namespace {

class PaneLife : public test::PaneBench {
 protected:
  void openWithMouse() {
    attach("generic-usb-optical-mouse");
    open();
    loop.advance(1.3);
    ASSERT_TRUE(pane->cursorSpeedList().selectedObject());
  }
  QS805CursorSpeedClass* selected() { return pane->cursorSpeedList().selectedObject(); }
  std::optional<std::string> lastSentSensitivity() {
    auto sent = commands(cmd::kCursorSpeed);
    if (sent.empty()) return std::nullopt;
    return commandString(sent.back(), key::kSensitivity);
  }
  // An edit as the window makes it: one pass of the run loop, then the debounce.
  void edit(const std::function<void()>& change) {
    change();
    loop.runPass();
    loop.advance(0.2);
  }
};

TEST_F(PaneLife, TheErrorViewQuitsTheAgentAndDoesNothingElse) {
  mac.setOsVersion({10, 11, 6});
  RunningApplication agent;
  agent.bundleIdentifier = "quillon.Velmora.boa";
  int32_t pid = workspace.launch(agent).processIdentifier;
  open();
  EXPECT_EQ(nib, kErrorNibName);
  ASSERT_EQ(window.errorViews.size(), 1u);
  EXPECT_EQ(window.errorViews.back(), "macOS Sierra 10.12 or later is required.");
  EXPECT_EQ(workspace.terminationRequests(), std::vector<int32_t>{pid});
  EXPECT_EQ(pane->managedObjectContext(), nullptr);
  EXPECT_FALSE(std::filesystem::exists(*settings.storePath));
  EXPECT_TRUE(commands().empty()) << "not even the launch announcement";
  EXPECT_FALSE(window.showAllVisible) << "the error view has no label to show";
  EXPECT_TRUE(pane->shouldUnselect());
  pane->willUnselect();
  EXPECT_FALSE(ended());
}

TEST_F(PaneLife, AStoreFromANewerVersionShowsTheErrorView) {
  // The file was written by a later model; this pane knows only the current one.
  StoreModel newer = StoreModel::current();
  newer.version += 1;
  {
    StoreContextRef ctx;
    ErrorInfo error;
    ASSERT_EQ(QS814createMOC(platform, errors, settings.storePath, &newer, false, &ctx, &error), 0);
    QS814insertUserInfo(errors, ctx.get());
    ASSERT_EQ(QS814saveMOC(ctx.get(), &error), 0);
  }
  open();
  EXPECT_EQ(nib, kErrorNibName);
  EXPECT_EQ(window.errorViews.back(), kSettingsFormatChangedMessage);
  EXPECT_EQ(pane->managedObjectContext(), nullptr);
}

TEST_F(PaneLife, OpeningAnnouncesThePaneAndMakesTheDefaultRecords) {
  open();
  EXPECT_EQ(nib, kMainNibName);
  EXPECT_EQ(window.errorViews, std::vector<std::string>{""});
  ASSERT_EQ(commands(cmd::kApplicationLaunched).size(), 1u);
  EXPECT_EQ(commandString(commands(cmd::kApplicationLaunched).back(), key::kReceiver), "quillon.Velmora.boa");
  EXPECT_TRUE(pane->userInfo());
  EXPECT_TRUE(QS803AppClass::fetchDefSnappingApp(errors, pane->managedObjectContext()));
  EXPECT_TRUE(pane->curveView().isPrepared());
  leave();
  EXPECT_FALSE(pane->curveView().isPrepared());
  EXPECT_FALSE(pane->connectedDeviceNotifier());
}

TEST_F(PaneLife, UndoThroughTheWindowStepsTheStoreAndReachesTheAgent) {
  openWithMouse();
  EXPECT_FALSE(pane->canUndo());
  edit([&] { selected()->setSensitivityDisplay(std::string("1500")); });
  EXPECT_EQ(lastSentSensitivity(), "500");
  ASSERT_TRUE(pane->canUndo());
  EXPECT_GT(window.undoChanges, 0);

  pane->undo();
  loop.runPass();
  loop.advance(0.2);
  EXPECT_EQ(selected()->sensitivityDisplay(), "1600");
  EXPECT_EQ(lastSentSensitivity(), "400") << "the agent follows the undo";
  EXPECT_FALSE(pane->canUndo());
  ASSERT_TRUE(pane->canRedo());

  pane->redo();
  loop.runPass();
  loop.advance(0.2);
  EXPECT_EQ(selected()->sensitivityDisplay(), "1500");
  EXPECT_EQ(lastSentSensitivity(), "500");
  EXPECT_TRUE(pane->canUndo());
  EXPECT_FALSE(pane->canRedo());
}

TEST_F(PaneLife, UndoNeverCrossesTabsOrSheets) {
  openWithMouse();
  edit([&] { selected()->setSensitivityDisplay(std::string("1500")); });
  ASSERT_TRUE(pane->canUndo());
  int cleared = window.textUndoClears;
  pane->tabViewDidSelectTabViewItem(PaneTab::Applications);
  EXPECT_FALSE(pane->canUndo());
  EXPECT_FALSE(pane->managedObjectContext()->undoManager()->canUndo());
  EXPECT_GT(window.textUndoClears, cleared);

  // A sheet that takes store undo has a history of its own; the main window's comes back empty.
  struct Sheet : PaneSheet {
    bool cancelByPrefPane() override { return true; }
  } sheet;
  window.sheets = {&sheet};
  pane->mocUndoRegisterWindow(true);
  edit([&] { selected()->setSensitivityDisplay(std::string("1400")); });
  EXPECT_TRUE(pane->canUndo());
  window.sheets.clear();
  pane->mocUndoRegisterWindow(false);
  EXPECT_FALSE(pane->canUndo());
}

TEST_F(PaneLife, ShowAllCancelsTheSheetsFromTheDeepestAndShowsTheLabel) {
  open();
  std::vector<std::string> order;
  struct Sheet : PaneSheet {
    Sheet(std::vector<std::string>& o, std::string n, bool a) : order(o), name(std::move(n)), agree(a) {}
    bool cancelByPrefPane() override {
      order.push_back(name);
      return agree;
    }
    std::vector<std::string>& order;
    std::string name;
    bool agree;
  };
  Sheet outer(order, "outer", true), middle(order, "middle", false), inner(order, "inner", true);
  window.sheets = {&outer, &middle, &inner};
  EXPECT_EQ(pane->frontmostWindow(), &inner);
  pane->showAll();
  EXPECT_EQ(order, (std::vector<std::string>{"inner", "middle"})) << "a refusing sheet keeps the ones below";
  EXPECT_EQ(window.sheetCloses, 1);
  EXPECT_TRUE(window.showAllVisible);
  EXPECT_TRUE(pane->showAllLabelVisible());
}

TEST_F(PaneLife, AccessibilityWithoutInputMonitoringAsksForARestartThenShowsAll) {
  mac.desktop().setTrusted(true);
  mac.setListenAccess(false);
  open();
  ASSERT_EQ(window.alerts.size(), 1u);
  EXPECT_EQ(window.alerts[0].alert.messageText,
            "You need to restart “System Preferences”. Please quit and open it again.");
  loop.runUntilIdle();
  EXPECT_TRUE(window.showAllVisible);
}

TEST_F(PaneLife, RecommendedValuesReachOnlyAnEditableSelectedFavourite) {
  struct Case {
    const char* why;
    std::function<void()> setUp;
    bool applied;
  };
  const std::vector<Case> cases = {
      {"plain", [] {}, true},
      {"window hidden", [this] { window.visible = false; }, false},
      {"other tab", [this] { window.tab = PaneTab::Applications; }, false},
      {"locked", [this] { selected()->setIsLocked(true); }, false},
      {"device off", [this] { pane->selectedDevice()->setCursorSpeedDisabled(true); }, false},
  };
  openWithMouse();
  for (const Case& c : cases) {
    QS805CursorSpeedClass* cs = selected();
    cs->setIsLocked(false);
    pane->selectedDevice()->setCursorSpeedDisabled(false);
    cs->setSensitivityDisplay(std::string("1600"));
    (void)cs->setTrackingSpeed(std::string("0.6875"));
    cs->setDisableAccl(true);
    window.visible = true;
    window.tab = PaneTab::Speed;
    c.setUp();
    pane->applyRecommendedSens(1234, 2.5, pane->selectedDevice());
    EXPECT_EQ(cs->sensitivityDisplay() == "1234" && cs->trackingSpeed() == "2.5" && !cs->disableAccl(), c.applied)
        << c.why;
  }
  // Another device than the selected one is never changed.
  QS805CursorSpeedClass* cs = selected();
  cs->setSensitivityDisplay(std::string("1600"));
  pane->applyRecommendedSens(1234, 2.5, nullptr);
  EXPECT_EQ(cs->sensitivityDisplay(), "1600");
}

TEST_F(PaneLife, ReleasingASliderFocusesItsField) {
  openWithMouse();
  window.mouseDown = true;
  pane->changeSlider(SpeedField::Sensitivity);
  EXPECT_TRUE(window.focused.empty()) << "ignored while the button is down";
  window.mouseDown = false;
  pane->changeSlider(SpeedField::Tracking);
  EXPECT_EQ(window.focused, std::vector<SpeedField>{SpeedField::Tracking});
  EXPECT_EQ(window.endEditings, 1);
}

TEST_F(PaneLife, WebPagesComeFromTheStringsTable) {
  make();
  pane->jumpToHP();
  pane->jumpToDLPage();
  pane->showWebSite("No Such Page");
  pane->upgrageCheck();  // the update check's way to the download page
  EXPECT_EQ(window.openedURLs,
            (std::vector<std::string>{"https://velmora.quillon.example/", "https://velmora.quillon.example/download/",
                                      "https://velmora.quillon.example/download/"}));
}

TEST_F(PaneLife, DriverProbesLookAtProcessNamesAndKernelExtensions) {
  struct Case {
    std::vector<std::string> processes;
    bool karabiner, elecom;
  };
  const std::vector<Case> cases = {
      {{}, false, false},
      {{"karabiner_grabber"}, true, false},
      {{"Karabiner-Elements"}, false, false},  // the settings app alone does not grab devices
      {{"MouseEventChange"}, false, true},
      {{"karabiner_observer", "MouseEventChange"}, true, true},
  };
  for (const Case& c : cases) {
    for (const auto& n : c.processes) workspace.startProcess(n);
    make();
    pane->mainNibName();
    EXPECT_EQ(pane->detectedDrivers().karabinerElements, c.karabiner);
    EXPECT_EQ(pane->detectedDrivers().elecomMouseEventChange, c.elecom);
    EXPECT_EQ(pane->karabinerElementsRunning(), c.karabiner);
    for (const auto& n : c.processes) workspace.stopProcess(n);
  }
  mac.setKernelExtension("com.microsoft.driver.MicrosoftMouseUSB", "/Library/Extensions/MicrosoftMouse.kext");
  make();
  pane->mainNibName();
  EXPECT_EQ(pane->microsoftDriverPath(), "/Library/Extensions/MicrosoftMouse.kext");
  EXPECT_FALSE(pane->detectedDrivers().logitechOptions);
}

TEST_F(PaneLife, LogitechOptionsIsFoundByItsRunningHelper) {
  std::string helper = home.path() + "/Applications/Logi Options.app";
  ASSERT_TRUE(workspace.makeBundle(helper, "com.logitech.manager.daemon"));
  RunningApplication app;
  app.bundleIdentifier = "com.logitech.manager.daemon";
  app.bundleURL = helper;
  workspace.launch(app);
  make();
  pane->mainNibName();
  ASSERT_TRUE(pane->detectedDrivers().logitechOptions);
  EXPECT_NE(pane->detectedDrivers().logitechOptions->find("/Applications/Logi Options"), std::string::npos);
}

}  // namespace
}  // namespace vl

namespace vl {
namespace {

class PaneGraph : public test::PaneBench {};

TEST_F(PaneGraph, TheGraphFollowsTheSelectionTheSelectedValuesAndTheStatus) {
  RegistryId mouse = attach("generic-usb-optical-mouse");
  open();
  loop.advance(1.3);
  VL260CurveView& graph = pane->curveView();
  ASSERT_TRUE(pane->selectedDevice());
  EXPECT_EQ(graph.selectedDevice(), pane->selectedDevice());
  EXPECT_EQ(graph.deviceStatus(), kVL702Controlled);
  size_t row = *pane->cursorSpeedList().selectionIndex();
  EXPECT_EQ(graph.cursorSpeedIndex(), row);

  // A value of the selected favourite: its curve is drawn again at once.
  std::vector<PathElement> before = graph.presetCurve(row).elements();
  (void)pane->cursorSpeedList().selectedObject()->setTrackingSpeed(std::string("3"));
  loop.runPass();
  EXPECT_NE(graph.presetCurve(row).elements(), before);
  int redraws = window.redraws;

  // Another favourite chosen in the table.
  ASSERT_TRUE(pane->cursorSpeedList().setSelectionIndex(4));
  loop.runPass();
  EXPECT_EQ(graph.cursorSpeedIndex(), 4u);
  EXPECT_GT(window.redraws, redraws);

  // The device goes away: its status changes without any store change.
  ASSERT_TRUE(mac.detach(mouse));
  loop.advance(2);
  EXPECT_EQ(graph.deviceStatus() == kVL702Controlled, false);
}

}  // namespace
}  // namespace vl
