// Starting the agent from the pane: registration as a launch agent, restart of an agent older
// than its bundle, the permission repair with its one retry a second later, and the failures
// that end the pane.
#include <filesystem>

#include "core/errors/error_stack.h"
#include "tests/pane/controller_bench.h"

namespace vl {
namespace {

class PaneAgent : public test::PaneBench {
 protected:
  std::string plist() const { return home.path() + "/world/Library/LaunchAgents/quillon.Velmora.boa.plist"; }
  bool registered() const { return std::filesystem::exists(plist()); }
  double bundleTime() const {
    auto t = std::filesystem::last_write_time(agentPath);
    return std::chrono::duration<double>(std::chrono::file_clock::to_sys(t).time_since_epoch()).count();
  }
  // An agent already running, started `age` seconds after its bundle was written.
  int32_t runningAgent(double startedAfterBundle) {
    RunningApplication app;
    app.bundleIdentifier = "quillon.Velmora.boa";
    app.bundleURL = agentPath;
    app.localizedName = "Velmora Manager";
    int32_t pid = workspace.launch(app).processIdentifier;
    workspace.setProcessStartTime(pid, bundleTime() + startedAfterBundle);
    return pid;
  }
  // Everything the fatal notices said.
  std::string noticeText() const {
    std::string all;
    for (const auto& n : alerts.notices) all += n.header + "\n" + n.message + "\n";
    return all;
  }
};

TEST_F(PaneAgent, ANewPaneRegistersAndStartsTheAgent) {
  open();
  EXPECT_TRUE(registered());
  EXPECT_TRUE(services.isLoaded("quillon.Velmora.boa"));
  ASSERT_FALSE(spawned.empty());
  EXPECT_NE(spawned.front().front().find("Velmora Manager.app/Contents/MacOS/Velmora Manager"), std::string::npos);
  EXPECT_FALSE(ended());
}

TEST_F(PaneAgent, AnAgentOlderThanItsBundleIsRestartedANewerOneLeftAlone) {
  struct Case {
    double startedAfterBundle;
    bool restarted;
  };
  for (const Case& c : {Case{-100, true}, Case{+100, false}, Case{0, false}}) {
    std::filesystem::remove(plist());
    spawned.clear();
    int32_t pid = runningAgent(c.startedAfterBundle);
    size_t requests = workspace.terminationRequests().size();
    make();
    std::optional<ErrorInfo> error;
    EXPECT_EQ(pane->launchBOAAndReturnError(&error), 0);
    bool asked = workspace.terminationRequests().size() > requests;
    EXPECT_EQ(asked, c.restarted) << c.startedAfterBundle;
    EXPECT_EQ(registered(), c.restarted) << "no registration for an agent that stays";
    EXPECT_EQ(!spawned.empty(), c.restarted);
    workspace.terminate(pid);
  }
}

TEST_F(PaneAgent, AnOldLoginItemIsRemovedBeforeRegistering) {
  std::string error;
  ASSERT_TRUE(services.addLoginItem("Velmora Manager.app", agentPath));
  open();
  EXPECT_TRUE(services.loginItems().empty());
  EXPECT_TRUE(registered());
}

TEST_F(PaneAgent, AFolderRefusingTheWriteIsRepairedAndRegisteredOnceASecondLater) {
  std::string error;
  ASSERT_TRUE(services.setAgentsFolderOwner(services.userID() + 1));
  open();
  ASSERT_EQ(admin.shownPrompts().size(), 1u);
  EXPECT_FALSE(registered()) << "the second registration waits a second";
  EXPECT_FALSE(ended());
  loop.advance(0.99);
  EXPECT_FALSE(registered());
  loop.advance(0.02);
  EXPECT_TRUE(registered());
  EXPECT_TRUE(services.isLoaded("quillon.Velmora.boa"));
  EXPECT_FALSE(spawned.empty());
  EXPECT_FALSE(ended());
  EXPECT_EQ(admin.shownPrompts().size(), 1u) << "one repair only";
}

TEST_F(PaneAgent, ACancelledRepairEndsThePaneWithTheRetryNumber) {
  std::string error;
  ASSERT_TRUE(services.setAgentsFolderOwner(services.userID() + 1));
  ASSERT_TRUE(admin.setAnswer(sim::AdminAnswer::Cancel));
  open();
  EXPECT_FALSE(ended());
  loop.advance(1.1);
  EXPECT_FALSE(registered());
  ASSERT_TRUE(ended());
  EXPECT_NE(noticeText().find("100.1249"), std::string::npos) << noticeText();
  EXPECT_NE(noticeText().find("100.0851"), std::string::npos) << noticeText();
  EXPECT_NE(noticeText().find("100.0864"), std::string::npos) << "no explanation from the manager: " << noticeText();
}

TEST_F(PaneAgent, AnAgentThatDoesNotLoadEndsThePaneWithTheManagersExplanation) {
  services.refuseLoad = true;
  services.explanation = "Bootstrap failed: 5: Input/output error";
  open();
  ASSERT_TRUE(ended());
  EXPECT_NE(noticeText().find("Bootstrap failed: 5"), std::string::npos) << noticeText();
  EXPECT_NE(noticeText().find("100.1262"), std::string::npos) << noticeText();
  EXPECT_NE(noticeText().find("100.0851"), std::string::npos) << noticeText();
  EXPECT_NE(noticeText().find("100.0863"), std::string::npos) << "with the manager's error";
}

TEST_F(PaneAgent, AVolumeIgnoringOwnershipIsExplained) {
  std::string error;
  services.refuseLoad = true;
  ASSERT_TRUE(services.setHomeVolumeOwnership(false));
  open();
  ASSERT_TRUE(ended());
  EXPECT_NE(noticeText().find("Ignore ownership on this volume"), std::string::npos) << noticeText();
  EXPECT_NE(noticeText().find("100.1258"), std::string::npos) << noticeText();
  EXPECT_EQ(lifecycle.exits.size(), 1u) << "one fatal end, not two";
}

TEST_F(PaneAgent, APaneWithoutBundleCannotFindItsAgent) {
  settings.bundlePath.clear();
  make();
  std::optional<ErrorInfo> error;
  EXPECT_EQ(pane->launchBOAAndReturnError(&error), 1001221);
}

TEST_F(PaneAgent, TheAgentOutlivesThePane) {
  open();
  size_t requests = workspace.terminationRequests().size();
  leave();
  pane.reset();
  EXPECT_EQ(workspace.terminationRequests().size(), requests);
  EXPECT_TRUE(services.isLoaded("quillon.Velmora.boa"));
}

}  // namespace
}  // namespace vl
