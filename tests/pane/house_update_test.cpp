// The update sheet (reminder, skipped version, pre-releases, a request that has not answered
// yet, the "Check for Updates" alerts), the quarantine sheet and privileged commands.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/errors/error_stack.h"
#include "core/plist/codec.h"
#include "core/system/privileges.h"
#include "pane/windows/gatekeeper_sheet.h"
#include "pane/windows/update_sheet.h"
#include "platform/api/user_defaults.h"
#include "platform/sim/sim_workspace.h"
#include "platform/sim/world_file_attributes.h"
#include "platform/sim/world_service_manager.h"
#include "support/sim_world.h"
#include "tests/pane/fake_pane_window.h"

namespace vl {
namespace {

class RecordingUpdateView : public UpdateSheetView {
 public:
  void showUpdateSheet(const std::string& m) override { shown.push_back(m); }
  void closeUpdateSheet() override { ++closes; }
  void setBadgeHidden(bool h) override { badgeHidden = h; }
  void showCheckProgress(bool on) override { progress.push_back(on); }
  std::vector<bool> progress;
  std::vector<std::string> shown;
  int closes = 0;
  bool badgeHidden = false;
};

pl::Data versionList(const std::vector<std::string>& names) {
  pl::Array a;
  for (const auto& n : names) a.emplace_back(n);
  std::string xml = pl::writeXml(pl::Value(std::move(a)));
  return pl::Data(xml.begin(), xml.end());
}

class UpdateSheet : public test::SimWorld {
 protected:
  // Wall-clock seconds: a fixed day plus the virtual time.
  double clock() const { return 1.8e9 + loop.now(); }
  void offer(const std::vector<std::string>& names) { mac.setHttpAnswer("/velmora/xml/file.php", versionList(names)); }
  // A pane load: the delegate wakes, the pane appears, half a second passes.
  std::unique_ptr<VL225UpdateWinDelegate> load(const std::string& version = "2.2.3") {
    UpdatePane pane{&window, [this] { ++downloads; }, [this] { ++showAlls; }};
    UpdateSettings s;
    s.versionText = version;
    s.clock = [this] { return clock(); };
    auto d = std::make_unique<VL225UpdateWinDelegate>(VL225UpdateWinDelegate::Ports::from(platform), pane, view, s);
    d->awakeFromNib();
    d->scheduleUpdateWindow();
    loop.advance(0.6);
    return d;
  }
  test::FakePaneWindow window;
  RecordingUpdateView view;
  int downloads = 0, showAlls = 0;
};

TEST_F(UpdateSheet, RemindKeepsTheSheetAwayForThreeHours) {
  offer({"vl2.2.4.dmg"});
  auto d = load();
  ASSERT_EQ(view.shown, std::vector<std::string>{"Ver 2.2.4 is now available. Your version is 2.2.3."});
  EXPECT_FALSE(view.badgeHidden);
  d->remindUpdateWindow();
  EXPECT_EQ(view.closes, 1);

  loop.advance(10790);
  d = load();
  EXPECT_EQ(view.shown.size(), 1u) << "within three hours nothing";
  loop.advance(20);
  d = load();
  EXPECT_EQ(view.shown.size(), 2u) << "after three hours again";
}

TEST_F(UpdateSheet, SkipHoldsUntilANewerVersionIsOffered) {
  offer({"vl2.2.4.dmg"});
  load()->skipUpdateWindow();
  EXPECT_EQ(platform.defaults->value(kPaneDefaultsDomain, kUpdateVersionKey)->intValue(), 0x02248000);
  auto d = load();
  EXPECT_EQ(view.shown.size(), 1u);
  EXPECT_FALSE(view.badgeHidden) << "the badge still says there is one";
  offer({"vl2.2.4.dmg", "vl2.2.5.dmg"});
  d = load();
  ASSERT_EQ(view.shown.size(), 2u);
  EXPECT_EQ(view.shown.back(), "Ver 2.2.5 is now available. Your version is 2.2.3.");
}

TEST_F(UpdateSheet, PreReleasesCountOnlyForAPreRelease) {
  offer({"vl2.2.3.dmg", "vl2.3b1.dmg"});
  EXPECT_EQ(load()->hostVersion(), 0x02238000u);
  EXPECT_TRUE(view.badgeHidden);
  EXPECT_TRUE(view.shown.empty());
  EXPECT_EQ(load("2.2b2")->hostVersion(), 0x02306001u);
  EXPECT_EQ(view.shown.back(), "Ver 2.3b1 is now available. Your version is 2.2b2.");
}

TEST_F(UpdateSheet, ASlowAnswerShowsTheSheetWhenItComesAndLeavingDropsIt) {
  offer({"vl3.0.dmg"});
  mac.setHttpDelay(0.8);
  auto d = load();
  EXPECT_TRUE(view.shown.empty()) << "not answered yet at 0.5 s";
  loop.advance(0.3);
  EXPECT_EQ(view.shown.size(), 1u);

  // Left before the answer came: no sheet on a pane that is gone.
  auto e = load();
  e->cancelScheduled();
  loop.advance(1);
  EXPECT_EQ(view.shown.size(), 1u);
}

TEST_F(UpdateSheet, NoAnswerMeansNoBadgeAndNoSheet) {
  mac.setHttpError("/velmora/xml/file.php", kURLErrorCannotConnectToHost);
  auto d = load();
  EXPECT_TRUE(d->hostVersionKnown());
  EXPECT_EQ(d->hostVersion(), 0u);
  EXPECT_TRUE(view.badgeHidden);
  EXPECT_TRUE(view.shown.empty());
  // "Check for Updates" asks again, and a failure is said to be one, never "up to date".
  d->checkForUpdates();
  EXPECT_TRUE(window.alerts.empty()) << "not before the second answer";
  EXPECT_EQ(view.progress, std::vector<bool>{true});
  loop.advance(1.1);
  EXPECT_EQ(view.progress, (std::vector<bool>{true, false}));
  ASSERT_EQ(window.alerts.size(), 1u);
  EXPECT_EQ(window.alerts[0].alert.messageText, "Velmora could not check for updates. Please try again later.");
  EXPECT_EQ(window.alerts[0].alert.informativeText, "NSURLErrorDomain -1004");

  // The service came up: the next click finds the version.
  offer({"vl2.2.3.dmg"});
  d->checkForUpdates();
  loop.advance(1.1);
  ASSERT_EQ(window.alerts.size(), 2u);
  EXPECT_EQ(window.alerts[1].alert.messageText, "Your version is up to date. (Ver 2.2.3)");
  EXPECT_EQ(window.alerts[1].alert.informativeText,
            "Updates are checked automatically. You will be notified when you open Velmora in System Preferences if "
            "updates are available.");
}

TEST_F(UpdateSheet, CheckForUpdatesWaitsForTheAnswerWithProgressAndCanBeGivenUp) {
  offer({"vl2.4.dmg"});
  mac.setHttpDelay(0.9);
  window.alertAnswer = kAlertFirstButtonReturn;
  UpdatePane pane{&window, [this] { ++downloads; }, [this] { ++showAlls; }};
  UpdateSettings settings;
  settings.clock = [this] { return clock(); };
  VL225UpdateWinDelegate d(VL225UpdateWinDelegate::Ports::from(platform), pane, view, settings);
  d.awakeFromNib();
  // Clicked at once: no "up to date" while the answer is on its way.
  d.checkForUpdates();
  d.checkForUpdates();  // a second click while waiting starts nothing more
  EXPECT_TRUE(window.alerts.empty());
  EXPECT_EQ(view.progress, std::vector<bool>{true});
  EXPECT_TRUE(d.isCheckingForUpdates());
  loop.advance(1.0);
  EXPECT_EQ(view.progress, (std::vector<bool>{true, false}));
  ASSERT_EQ(window.alerts.size(), 1u);
  EXPECT_EQ(window.alerts[0].alert.messageText, "Ver 2.4 is now available. Your version is 2.2.3.");

  // Given up while waiting: nothing is said when the answer comes.
  VL225UpdateWinDelegate e(VL225UpdateWinDelegate::Ports::from(platform), pane, view, settings);
  e.awakeFromNib();
  e.checkForUpdates();
  e.cancelCheckForUpdates();
  EXPECT_FALSE(e.isCheckingForUpdates());
  loop.advance(1.0);
  EXPECT_EQ(window.alerts.size(), 1u);
  EXPECT_TRUE(e.hostVersionKnown());
}

TEST_F(UpdateSheet, DownloadForgetsTheChoicesOpensThePageAndShowsAll) {
  offer({"vl2.2.4.dmg"});
  EXPECT_TRUE(platform.defaults->setValue(kPaneDefaultsDomain, kUpdateVersionKey, pl::Value(1)).ok());
  auto d = load();
  d->downloadUpdateWindow();
  EXPECT_EQ(downloads, 1);
  EXPECT_EQ(showAlls, 1);
  EXPECT_FALSE(d->isShown());
  EXPECT_FALSE(platform.defaults->value(kPaneDefaultsDomain, kUpdateVersionKey));

  // The button: "Download" is the alternate button; the default one only closes.
  window.alertAnswer = kAlertFirstButtonReturn;
  d->checkForUpdates();
  EXPECT_EQ(downloads, 1);
  window.alertAnswer = kAlertSecondButtonReturn;
  d->checkForUpdates();
  EXPECT_EQ(downloads, 2);
  EXPECT_EQ(window.alerts.back().alert.buttons, (std::vector<std::string>{"OK", "Download"}));
}

// --- The quarantine sheet -------------------------------------------------------------------------

class RecordingGatekeeperView : public GatekeeperSheetView {
 public:
  void showGatekeeperSheet(const std::string& p) override { shown.push_back(p); }
  void closeGatekeeperSheet() override { ++closes; }
  std::vector<std::string> shown;
  int closes = 0;
};

class Quarantine : public test::SimWorld {
 protected:
  Quarantine() : workspace(home.path() + "/Users/me"), attributes(home.path()), admin(home.path()) {
    platform.workspace = &workspace;
    platform.fileAttributes = &attributes;
    platform.adminPrompt = &admin;
  }
  std::string installAt(const std::string& folder) {
    std::string pane = folder + "/Velmora.prefPane";
    std::filesystem::create_directories(pane + "/Contents");
    return pane;
  }
  // The workspace's home is elsewhere: every pane here is outside it.
  sim::SimWorkspace workspace;
  sim::WorldFileAttributes attributes;
  sim::WorldAdminPrompt admin;
  RecordingGatekeeperView view;
};

TEST_F(Quarantine, OnlyAQuarantinedPaneOutsideTheHomeOnCatalinaOrLater) {
  std::string local = installAt(home.path() + "/Local/Library/PreferencePanes");
  VL215GatekeeperWinDelegate d(VL215GatekeeperWinDelegate::Ports::from(platform), view);
  EXPECT_FALSE(d.showGatekeeperWindow()) << "no quarantine";
  std::string error;
  ASSERT_TRUE(attributes.setQuarantine(local));
  mac.setOsVersion({10, 14, 6});
  EXPECT_FALSE(d.showGatekeeperWindow()) << "before 10.15";
  mac.setOsVersion({10, 15, 7});
  EXPECT_TRUE(d.showGatekeeperWindow());
  EXPECT_EQ(view.shown, std::vector<std::string>{local});

  // The user's own copy is found first, and lies in the home folder.
  sim::SimWorkspace inHome(home.path());
  platform.workspace = &inHome;
  VL215GatekeeperWinDelegate homePane(VL215GatekeeperWinDelegate::Ports::from(platform), view);
  std::string user = installAt(home.path() + "/Library/PreferencePanes");
  ASSERT_TRUE(attributes.setQuarantine(user));
  EXPECT_FALSE(homePane.showGatekeeperWindow()) << "a pane in the home folder never asks";
}

TEST_F(Quarantine, OkRemovesItWithThePathAsOneArgument) {
  // Quotes, spaces and a shell's favourite characters stay inside the one argument.
  std::string folder = home.path() + "/Local/Library/PreferencePanes/it's \"here\"; rm -rf ~ $(x)";
  std::string pane = installAt(folder);
  std::filesystem::create_directories(pane + "/Contents/Resources");
  std::string inner = pane + "/Contents/Resources";
  mac.setOsVersion({11, 2, 0});
  std::string error;
  // The path with the odd characters is the pane the lookup finds: point the local domain at it.
  class OddPaths : public RootedPaths {
   public:
    OddPaths(std::string root, std::string f) : RootedPaths(std::move(root), ""), folder_(std::move(f)) {}
    std::vector<std::string> preferencePanes() const override { return {folder_}; }
    std::string folder_;
  } odd(home.path(), folder);
  platform.paths = &odd;
  ASSERT_TRUE(attributes.setQuarantine(pane));
  ASSERT_TRUE(attributes.setQuarantine(inner));
  VL215GatekeeperWinDelegate d(VL215GatekeeperWinDelegate::Ports::from(platform), view);
  ASSERT_TRUE(d.showGatekeeperWindow());
  d.okButtonGatekeeperWindow();
  auto prompts = admin.shownPrompts();
  ASSERT_EQ(prompts.size(), 1u);
  EXPECT_EQ(prompts[0].operations, (std::vector<std::vector<std::string>>{{"xattr", "-rc", pane}}));
  EXPECT_FALSE(attributes.hasQuarantine(pane));
  EXPECT_FALSE(attributes.hasQuarantine(inner)) << "recursive";
  EXPECT_EQ(view.closes, 1);

  // A cancelled prompt closes the sheet all the same and leaves the attribute.
  ASSERT_TRUE(attributes.setQuarantine(pane));
  ASSERT_TRUE(admin.setAnswer(sim::AdminAnswer::Cancel));
  ASSERT_TRUE(d.showGatekeeperWindow());
  d.okButtonGatekeeperWindow();
  EXPECT_TRUE(attributes.hasQuarantine(pane));
  EXPECT_EQ(view.closes, 2);
}

// --- Privileged commands ----------------------------------------------------------------------------

TEST_F(Quarantine, PrivilegedCommandNumbers) {
  Platform none = platform;
  none.adminPrompt = nullptr;
  AuthorizationRef auth;
  EXPECT_EQ(QS818createAuthorization(platform, errors, nullptr), kAuthorizationNoOut);
  EXPECT_EQ(QS818createAuthorization(none, errors, &auth), kAuthorizationNotCreated);
  EXPECT_EQ(errorStackEntries(errors).back(), std::to_string(kAuthorizationInternal));

  std::string error;
  struct Case {
    sim::AdminAnswer answer;
    int32_t result;
  };
  for (auto [answer, result] : {Case{sim::AdminAnswer::Cancel, kAdminCancelled}, Case{sim::AdminAnswer::Deny, kAdminDenied}}) {
    errors.clear();
    ASSERT_TRUE(admin.setAnswer(answer));
    EXPECT_EQ(QS818createAuthorization(platform, errors, &auth, "why"), result);
    EXPECT_FALSE(auth);
    EXPECT_EQ(errorStackEntries(errors), std::vector<std::string>{"818.0042"}) << "pushed as module and site";
  }
  ASSERT_TRUE(admin.setAnswer(sim::AdminAnswer::Accept));
  ASSERT_EQ(QS818createAuthorization(platform, errors, &auth, "why"), 0);
  ASSERT_TRUE(auth);
  EXPECT_EQ(QS818plivilegeCommand(errors, nullptr, "/bin/rm", {"-rf", "x"}), kPrivilegeNoAuthorization);
  EXPECT_EQ(QS818plivilegeCommand(errors, auth.get(), nullptr, {}), kPrivilegeNoAuthorization);

  std::string victim = home.path() + "/Local/gone";
  std::filesystem::create_directories(victim + "/inside");
  EXPECT_EQ(QS818plivilegeCommand(errors, auth.get(), "/bin/rm", {"-rf", victim.c_str(), nullptr, "ignored"}), 0);
  EXPECT_FALSE(std::filesystem::exists(victim));
  EXPECT_EQ(admin.shownPrompts().back().operations, (std::vector<std::vector<std::string>>{{"rm", "-rf", victim}}));
  errors.clear();
  EXPECT_EQ(QS818plivilegeCommand(errors, auth.get(), "/bin/rm", {"-rf", "/etc/outside-the-world"}), kPrivilegeRunFailed);
  EXPECT_EQ(errorStackEntries(errors).size(), 1u) << "the status is pushed";
}

}  // namespace
}  // namespace vl
