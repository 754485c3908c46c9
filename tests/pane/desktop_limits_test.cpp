// A desktop where snapping cannot run or has no per-program accessibility permission: the
// Applications tab's state, and what the accessibility warnings say there instead of the
// permission advice of the simulated Mac.
#include "pane/windows/ax_warning.h"
#include "pane/windows/desktop_limits.h"
#include "platform/sim/sim_desktop.h"
#include "tests/pane/controller_bench.h"

namespace vl {
namespace {

constexpr const char* kOff = "Cursor snapping is off: no program may move the pointer here.";
constexpr const char* kHint = "Turn on the desktop's assistive technologies, then log in again.";

TEST(AppsTabState, SnappingOffDisablesTheControlsWithItsOneMessage) {
  struct Case {
    DesktopLimits limits;
    bool agentAX;
    bool enabled, warning;
    std::string message;
  } cases[] = {
      {{}, true, true, false, ""},
      {{}, false, true, true, ""},
      // A hint alone (an X11 desktop) changes nothing in the tab.
      {{"", kHint}, false, true, true, ""},
      {{kOff, kHint}, false, false, true, kOff},
      {{kOff, ""}, true, false, false, kOff},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.limits.snappingOff + "|" + c.limits.accessibilityHint + "|" + std::to_string(c.agentAX));
    AppsTabState s = appsTabState(c.limits, c.agentAX);
    EXPECT_EQ(s.snappingControlsEnabled, c.enabled);
    EXPECT_EQ(s.warningVisible, c.warning);
    EXPECT_EQ(s.message, c.message);
  }
}

class RecordingAXView : public AXWarnWindowView {
 public:
  void showSheet(const AXWarningTexts& t) override { shown.push_back(t); }
  void closeSheet() override {}
  void runConfirmAlert(const SheetAlert&, std::function<void(int)>) override {}
  std::vector<AXWarningTexts> shown;
};

// The pane on a desktop whose accessibility is one switch for every program.
class DesktopWarnings : public test::PaneBench {
 protected:
  void SetUp() override {
    settings.desktop = DesktopLimits{"", kHint};
    settings.buildDate = "2099-01-01";  // this product's agent snaps
    make();
    warning = std::make_unique<VL216AXWarnWinDelegate>(VL216AXWarnWinDelegate::Ports::from(pane->platform()), *pane, view);
    pane->setAXWarnWindow(warning.get());
  }
  void TearDown() override { pane->setAXWarnWindow(nullptr); }
  RecordingAXView view;
  std::unique_ptr<VL216AXWarnWinDelegate> warning;
};

TEST_F(DesktopWarnings, TheSheetExplainsTheSwitchOnlyWhileItIsOff) {
  mac.desktop().setTrusted(false);
  open();
  ASSERT_EQ(view.shown.size(), 1u);
  EXPECT_EQ(view.shown[0].message, kAccessibilityOffMessage);
  EXPECT_EQ(view.shown[0].informative, kHint);
  leave();
  // Switched on: the agent reads dialogs as this window does; no permission to ask for.
  mac.desktop().setTrusted(true);
  open();
  EXPECT_EQ(view.shown.size(), 1u);
}

TEST_F(DesktopWarnings, TheTabsWarningTellsTheSwitchOrThatTheAgentHasNotReported) {
  open();
  for (bool on : {false, true}) {
    mac.desktop().setTrusted(on);
    window.alerts.clear();
    size_t before = commands(cmd::kAccessibilityWarning).size();
    pane->clickSnappingWarning();
    ASSERT_EQ(window.alerts.size(), 1u);
    const SheetAlert& a = window.alerts[0].alert;
    EXPECT_EQ(a.messageText, on ? kAgentNotReadingMessage : kAccessibilityOffMessage);
    EXPECT_EQ(a.informativeText, on ? std::string(kAgentNotReadingInformative) : std::string(kHint));
    EXPECT_EQ(a.messageText.find("Security & Privacy"), std::string::npos);
    // OK still asks the agent to look again.
    loop.runUntilIdle();
    EXPECT_EQ(commands(cmd::kAccessibilityWarning).size(), before + 1);
  }
}

}  // namespace
}  // namespace vl
