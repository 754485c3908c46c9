// The uninstall from the pane: what it removes with and without the sibling product, the copy
// for all users behind the administrator prompt (cancel and deny change nothing), the settings
// file shown instead, links planted in a folder it deletes, and a folder that lies elsewhere.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "core/store/store.h"
#include "core/store/user_info_record.h"
#include "core/system/launch_agent.h"
#include "pane/windows/uninstall.h"
#include "platform/sim/sim_file_manager.h"
#include "tests/pane/controller_bench.h"

namespace vl {
namespace {

namespace fs = std::filesystem;

class RecordingUninstallView : public UninstallView {
 public:
  int runModalAlert(const SheetAlert& a) override {
    alerts.push_back(a);
    int r = answers.empty() ? kAlertFirstButtonReturn : answers.front();
    if (!answers.empty()) answers.erase(answers.begin());
    return r;
  }
  void hideTabView() override { ++hides; }
  std::vector<SheetAlert> alerts;
  std::vector<int> answers;
  int hides = 0;
};

void write(const std::string& path, const std::string& text = "x") {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path) << text;
}

class Uninstall : public test::PaneBench {
 protected:
  Uninstall() : rootAdmin(home.path()) {
    // The simulated administrator may change anything of this simulated Mac (the temporary home).
    platform.adminPrompt = &rootAdmin;
    platform.fileManager = &files;
    settingsFolder = home.path() + "/Library/Application Support/Drovana & Velmora";
    olderFolder = home.path() + "/Library/Application Support/Velmora";
    allUsers = home.path() + "/Local/Library/PreferencePanes/Velmora.prefPane";
  }
  void openAndRegister() {
    attach("generic-usb-optical-mouse");
    open();
    loop.advance(1.3);
    uninstallView.answers.clear();
    pane->setUninstallView(&uninstallView);
    EXPECT_TRUE(platform.defaults->setValue("quillon.Velmora.prefpane", "quillonVelmoraPrefpane_logWindow", pl::Value("{{0, 0}, {1, 1}}")).ok());
    EXPECT_TRUE(platform.defaults->setValue("quillon.Velmora.prefpane", "quillonVelmoraPrefpane_update_version", pl::Value(5)).ok());
    EXPECT_TRUE(platform.defaults->setValue("quillon.Velmora.prefpane", kShareSettingsKey, pl::Value(true)).ok());
    EXPECT_TRUE(platform.defaults->setValue("quillon.Velmora.boa", "AXEnabled", pl::Value(true)).ok());
  }
  void installForAllUsers() {
    write(allUsers + "/Contents/Info.plist");
  }
  void installDrovana() {
    std::string dv = home.path() + "/Library/PreferencePanes/Drovana.prefPane";
    write(dv + "/Contents/Info.plist",
          "<plist version=\"1.0\"><dict><key>CFBundleIdentifier</key><string>quillon.prefpane.Drovana</string>"
          "<key>CFBundleVersion</key><string>5.3.1</string><key>MyBuildDate</key><string>2001-01-01</string></dict></plist>");
  }
  bool paneKey(const std::string& key) { return platform.defaults->value("quillon.Velmora.prefpane", key).has_value(); }

  sim::WorldAdminPrompt rootAdmin;
  sim::SimFileManager files;
  RecordingUninstallView uninstallView;
  std::string settingsFolder, olderFolder, allUsers;
};

TEST_F(Uninstall, WithoutTheSiblingEverythingGoesAndTheHostEnds) {
  openAndRegister();
  write(olderFolder + "/old.vlsetting");
  ASSERT_TRUE(services.status("quillon.Velmora.boa").registered);
  pane->showUninstallWindow();
  ASSERT_EQ(uninstallView.alerts.size(), 2u);
  const SheetAlert& first = uninstallView.alerts[0];
  EXPECT_EQ(first.messageText, "Uninstall Velmora.");
  EXPECT_EQ(first.buttons, (std::vector<std::string>{"Uninstall", "Cancel", "Show Settings File in Finder"}));
  EXPECT_NE(first.informativeText.find("Settings File Location:\n" + *settings.storePath), std::string::npos);
  EXPECT_EQ(uninstallView.alerts[1].messageText, "Are you sure you want to uninstall Velmora?");
  EXPECT_EQ(window.beeps, 1);
  EXPECT_EQ(uninstallView.hides, 1);

  EXPECT_FALSE(fs::exists(bundlePath));
  EXPECT_FALSE(fs::exists(settingsFolder)) << "the store goes with its folder";
  EXPECT_FALSE(fs::exists(olderFolder));
  EXPECT_FALSE(services.status("quillon.Velmora.boa").registered);
  EXPECT_FALSE(paneKey("quillonVelmoraPrefpane_logWindow"));
  EXPECT_FALSE(paneKey("quillonVelmoraPrefpane_update_version"));
  EXPECT_FALSE(paneKey(kShareSettingsKey));
  EXPECT_FALSE(platform.defaults->value("quillon.Velmora.boa", "AXEnabled")) << "the agent's whole domain";
  EXPECT_EQ(pane->managedObjectContext(), nullptr) << "the pane let go of the store";
  EXPECT_TRUE(rootAdmin.shownPrompts().empty()) << "nothing for all users: no password";
  loop.runUntilIdle();
  EXPECT_EQ(lifecycle.terminatedApps, std::vector<std::string>{"com.apple.systempreferences"});
  EXPECT_FALSE(ended()) << "no fatal end";
}

TEST_F(Uninstall, WithTheSiblingTheSharedStoreStaysWithoutOurSelection) {
  installDrovana();
  writeStore({{0x93a, 0x2510, 0, "USB", "Mouse"}}, std::string("93a-2510-0-USB"));
  openAndRegister();
  ASSERT_NE(pane->dvVersion(), 0u);
  pane->showUninstallWindow();
  ASSERT_EQ(uninstallView.alerts.size(), 1u) << "no settings file to keep aside: straight to the question";
  EXPECT_TRUE(fs::exists(*settings.storePath));
  EXPECT_TRUE(paneKey(kShareSettingsKey)) << "the consent is shared too";
  EXPECT_FALSE(paneKey("quillonVelmoraPrefpane_logWindow"));
  EXPECT_FALSE(fs::exists(bundlePath));
  StoreContextRef ctx;
  ErrorInfo error;
  ASSERT_EQ(QS814createMOC(platform, errors, settings.storePath, nullptr, true, &ctx, &error), 0);
  ASSERT_TRUE(QS814fetchUserInfo(errors, ctx.get()));
  EXPECT_FALSE(QS814fetchUserInfo(errors, ctx.get())->vlDeviceSelectedIndex());
}

TEST_F(Uninstall, TheAllUsersCopyNeedsThePasswordAndCancelOrDenyChangesNothing) {
  installForAllUsers();
  openAndRegister();
  std::string error;
  for (auto answer : {sim::AdminAnswer::Cancel, sim::AdminAnswer::Deny}) {
    ASSERT_TRUE(rootAdmin.setAnswer(answer));
    size_t before = uninstallView.alerts.size();
    pane->showUninstallWindow();
    EXPECT_EQ(uninstallView.alerts.size(), before + 2) << "no alert after the prompt";
    EXPECT_TRUE(fs::exists(allUsers));
    EXPECT_TRUE(fs::exists(bundlePath));
    EXPECT_TRUE(fs::exists(settingsFolder));
    EXPECT_TRUE(pane->managedObjectContext()) << "the pane goes on";
    EXPECT_EQ(uninstallView.hides, 0);
    EXPECT_TRUE(alerts.notices.empty());
  }
  ASSERT_TRUE(rootAdmin.setAnswer(sim::AdminAnswer::Accept));
  pane->showUninstallWindow();
  EXPECT_FALSE(fs::exists(allUsers));
  EXPECT_FALSE(fs::exists(bundlePath));
  auto prompts = rootAdmin.shownPrompts();
  // One prompt per uninstall: it names what it is for and carries every privileged step.
  ASSERT_EQ(prompts.size(), 3u) << "two refused, then the one that removes";
  for (const auto& prompt : prompts) {
    EXPECT_EQ(prompt.operations, (std::vector<std::vector<std::string>>{{"rm", "-rf", allUsers}}));
    EXPECT_EQ(prompt.message, "Velmora is going to remove its copy for all users.");
  }
  EXPECT_FALSE(ended());
}

// Makes path immutable (even for the superuser); false where the file system or the user
// cannot.
bool makeImmutable(const std::string& path, bool on) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
  ok = ok && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  ::close(fd);
  return ok;
}

class RecordingUninstallHooks : public UninstallHooks {
 public:
  void terminateAgent() override {}
  int32_t clearSharedSelection(ErrorInfo*) override { return 0; }
  void fatal(int32_t code, int64_t site, const ErrorInfo* error) override {
    fatals.push_back({code, site, error ? *error->userInfo.at(kDescriptionKey).asString() : std::string()});
  }
  struct Fatal {
    int32_t code;
    int64_t site;
    std::string text;
  };
  std::vector<Fatal> fatals;
};

TEST_F(Uninstall, AFileThatCannotGoStopsNothingElseAndASecondRunFinishes) {
  openAndRegister();
  write(olderFolder + "/old.vlsetting");
  const std::string stuck = settingsFolder + "/stuck";
  write(stuck);
  write(settingsFolder + "/other");
  if (!makeImmutable(stuck, true)) {
    if (::geteuid() == 0) GTEST_SKIP() << "this file system has no immutable attribute";
    // Without the superuser's rights a folder that may not be written stops a removal as well.
    ASSERT_EQ(::chmod(settingsFolder.c_str(), 0500), 0);
  }
  auto release = [&] {
    makeImmutable(stuck, false);
    ::chmod(settingsFolder.c_str(), 0755);
  };
  pane->showUninstallWindow();
  // Everything that does not depend on the settings folder is gone all the same.
  EXPECT_FALSE(fs::exists(bundlePath));
  EXPECT_FALSE(fs::exists(olderFolder));
  EXPECT_FALSE(services.status("quillon.Velmora.boa").registered);
  EXPECT_FALSE(paneKey("quillonVelmoraPrefpane_logWindow"));
  EXPECT_FALSE(platform.defaults->value("quillon.Velmora.boa", "AXEnabled"));
  EXPECT_TRUE(fs::exists(stuck));
  // One fatal report at the end, at the settings folder's site, naming the file and why.
  ASSERT_TRUE(ended());
  ASSERT_EQ(alerts.notices.size(), 1u);
  const std::string text = alerts.notices[0].header + "\n" + alerts.notices[0].message;
  EXPECT_NE(text.find("could not remove the settings folder " + settingsFolder), std::string::npos) << text;
  EXPECT_NE(text.find("stuck"), std::string::npos) << text;

  // The second run finds only what is left and finishes it once the reason is gone.
  UninstallPlan rest = planUninstall(platform);
  ASSERT_TRUE(rest.settingsFolder);
  EXPECT_FALSE(rest.userPane);
  RecordingUninstallHooks hooks;
  std::vector<UninstallFailure> failures;
  EXPECT_EQ(runUninstall(platform, errors, rest, "why", hooks, &failures), kUninstallSettingsFolderSite);
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0].item.kind, "settings folder");
  EXPECT_NE(failures[0].reason.find("stuck"), std::string::npos) << failures[0].reason;
  ASSERT_EQ(hooks.fatals.size(), 1u);
  EXPECT_EQ(hooks.fatals[0].site, kUninstallSettingsFolderSite);
  release();
  hooks.fatals.clear();
  EXPECT_EQ(runUninstall(platform, errors, planUninstall(platform), "why", hooks, &failures), 0);
  EXPECT_TRUE(failures.empty());
  EXPECT_TRUE(hooks.fatals.empty());
  EXPECT_FALSE(fs::exists(settingsFolder));
}

TEST_F(Uninstall, TheOtherButtonsStop) {
  openAndRegister();
  uninstallView.answers = {kAlertThirdButtonReturn};
  pane->showUninstallWindow();
  EXPECT_EQ(files.requests(), std::vector<std::string>{*settings.storePath});
  uninstallView.answers = {kAlertSecondButtonReturn};
  pane->showUninstallWindow();
  uninstallView.answers = {kAlertFirstButtonReturn, kAlertSecondButtonReturn};
  pane->showUninstallWindow();
  EXPECT_EQ(uninstallView.alerts.size(), 4u);
  EXPECT_TRUE(fs::exists(bundlePath));
  EXPECT_TRUE(fs::exists(settingsFolder));
}

TEST_F(Uninstall, APlantedLinkGoesButNotWhatItPointsTo) {
  openAndRegister();
  std::string precious = home.path() + "/precious";
  write(precious + "/thesis.txt", "years of work");
  fs::create_directory_symlink(precious, settingsFolder + "/link-to-folder");
  fs::create_symlink(precious + "/thesis.txt", settingsFolder + "/link-to-file");
  fs::create_directory_symlink(precious, bundlePath + "/Contents/planted");
  pane->showUninstallWindow();
  EXPECT_FALSE(fs::exists(settingsFolder));
  EXPECT_FALSE(fs::exists(bundlePath));
  EXPECT_TRUE(fs::exists(precious + "/thesis.txt"));
}

TEST_F(Uninstall, AFolderThatLiesElsewhereStopsEverything) {
  openAndRegister();
  std::string elsewhere = home.path() + "/../" + fs::path(home.path()).filename().string() + "-elsewhere";
  write(elsewhere + "/keep.txt");
  fs::create_directory_symlink(elsewhere, olderFolder);
  UninstallPlan plan = planUninstall(platform);
  EXPECT_NE(plan.refused.find(olderFolder), std::string::npos);
  pane->showUninstallWindow();
  ASSERT_EQ(uninstallView.alerts.size(), 3u);
  EXPECT_EQ(uninstallView.alerts.back().messageText, "Velmora was not uninstalled.");
  EXPECT_TRUE(fs::exists(elsewhere + "/keep.txt"));
  EXPECT_TRUE(fs::exists(bundlePath));
  EXPECT_TRUE(fs::exists(settingsFolder));
  EXPECT_TRUE(services.status("quillon.Velmora.boa").registered);
  fs::remove_all(elsewhere);
}

TEST(RemoveTree, RemovesLinksNotTargetsAndToleratesAbsence) {
  test::TempDir t;
  std::string top = t.path() + "/top", outside = t.path() + "/outside";
  write(outside + "/keep");
  write(top + "/a/b/c/file");
  fs::create_directory_symlink(outside, top + "/a/b/dirlink");
  fs::create_symlink(outside + "/keep", top + "/filelink");
  fs::create_symlink(t.path() + "/nowhere", top + "/dangling");
  Status removed = removeTreeNoFollow(top);
  EXPECT_TRUE(removed) << removed.code();
  EXPECT_FALSE(fs::exists(top));
  EXPECT_TRUE(fs::exists(outside + "/keep"));
  EXPECT_TRUE(removeTreeNoFollow(top)) << "already gone";
  // A link given as the folder itself is removed as a link.
  fs::create_directory_symlink(outside, top);
  EXPECT_TRUE(removeTreeNoFollow(top));
  EXPECT_TRUE(fs::exists(outside + "/keep"));
}

}  // namespace
}  // namespace vl
