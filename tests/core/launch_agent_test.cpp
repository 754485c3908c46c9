// The agent as a launch agent on the simulated Mac's service manager: registration (twice, with
// odd paths, refused for permission and repaired through the administrator prompt), load test,
// start, failure texts, old login items, termination requests and the executable-file test.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "core/errors/error_stack.h"
#include "core/plist/codec.h"
#include "core/system/launch_agent.h"
#include "platform/api/sleeper.h"
#include "platform/sim/host_process.h"
#include "platform/sim/sim_workspace.h"
#include "platform/sim/world_service_manager.h"
#include "tests/support/sim_world.h"

namespace vl {
namespace {

namespace fs = std::filesystem;
constexpr const char* kLabel = "quillon.Velmora.boa";

class CountingSleeper : public Sleeper {
 public:
  void sleep(double seconds) override { slept.push_back(seconds); }
  std::vector<double> slept;
};

// Makes <dir>/<name>.app with an Info.plist naming identifier and an executable.
std::string makeBundle(const std::string& dir, const std::string& name, const std::string& identifier) {
  std::string app = dir + "/" + name + ".app";
  fs::create_directories(app + "/Contents/MacOS");
  pl::Dict info;
  if (!identifier.empty()) info["CFBundleIdentifier"] = pl::Value(identifier);
  info["CFBundleExecutable"] = pl::Value(name);
  std::ofstream(app + "/Contents/Info.plist") << pl::writeXml(pl::Value(info));
  std::ofstream(app + "/Contents/MacOS/" + name) << "agent";
  fs::permissions(app + "/Contents/MacOS/" + name, fs::perms(0755));
  return app;
}

class LaunchAgentTest : public test::SimWorld {
 protected:
  LaunchAgentTest()
      : manager(world.path(),
                [this](const std::vector<std::string>& argv, const std::string& log) {
                  spawned.push_back(argv);
                  // Stands in for the agent: a real process that stays until it is stopped.
                  return sim::spawnDetached({"/bin/sleep", "30"}, log);
                }),
        prompt(world.path()),
        workspace(home.path()) {
    platform.serviceManager = &manager;
    platform.adminPrompt = &prompt;
    platform.workspace = &workspace;
    platform.sleeper = &sleeper;
    agent = makeBundle(bundles.path(), "Velmora Manager", kLabel);
  }
  ~LaunchAgentTest() override {
    // No stand-in agent outlives the test.
    QS812removeLaunchAgent(platform, agent);
  }
  std::string plistPath() const { return world.path() + "/Library/LaunchAgents/quillon.Velmora.boa.plist"; }
  std::optional<int32_t> runningPid() { return manager.status(kLabel).pid; }

  test::TempDir world, bundles;
  std::vector<std::vector<std::string>> spawned;
  sim::WorldServiceManager manager;
  sim::WorldAdminPrompt prompt;
  sim::SimWorkspace workspace;
  CountingSleeper sleeper;
  std::string agent;
};

TEST_F(LaunchAgentTest, RegistersThePropertyListLoadsAndStartsTheAgent) {
  ErrorInfo error;
  ASSERT_EQ(QS812registerLaunchAgent(platform, agent, &error), 0);
  auto r = pl::readFile(plistPath());
  ASSERT_TRUE(r) << r.error;
  EXPECT_EQ(r.value->stringFor("Label"), kLabel);
  EXPECT_EQ(r.value->stringFor("ProcessType"), "Interactive");
  EXPECT_EQ(r.value->boolFor("RunAtLoad"), true);
  ASSERT_NE(r.value->arrayFor("ProgramArguments"), nullptr);
  EXPECT_EQ(*r.value->arrayFor("ProgramArguments"),
            (pl::Array{pl::Value(agent + "/Contents/MacOS/Velmora Manager")}));
  // The manager wants property lists nobody else may change.
  struct stat st {};
  ASSERT_EQ(::stat(plistPath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);
  EXPECT_TRUE(QS812isLaunchAgentLoaded(platform, kLabel));
  // RunAtLoad started it on the world.
  ASSERT_EQ(spawned.size(), 1u);
  EXPECT_EQ(spawned[0], (std::vector<std::string>{agent + "/Contents/MacOS/Velmora Manager", "--world", world.path()}));
  EXPECT_TRUE(runningPid().has_value());
  // Starting a running agent starts no second one.
  EXPECT_EQ(QS812startLaunchAgentForBundleID(platform, errors, kLabel), 0);
  EXPECT_EQ(spawned.size(), 1u);
}

TEST_F(LaunchAgentTest, RegisteringTwiceLeavesOnePropertyListAndOneRunningAgent) {
  ErrorInfo error;
  ASSERT_EQ(QS812registerLaunchAgent(platform, agent, &error), 0);
  auto first = runningPid();
  ASSERT_TRUE(first);
  ASSERT_EQ(QS812registerLaunchAgent(platform, agent, &error), 0);
  auto second = runningPid();
  ASSERT_TRUE(second);
  EXPECT_NE(*first, *second);
  // The first registration was unloaded, and its agent stopped, before the second loaded.
  EXPECT_FALSE(sim::hostProcessAlive(*first));
  size_t files = 0;
  for (const auto& e : fs::directory_iterator(world.path() + "/Library/LaunchAgents")) files += e.is_regular_file();
  EXPECT_EQ(files, 1u);
  EXPECT_EQ(spawned.size(), 2u);
}

TEST_F(LaunchAgentTest, PathsWithQuotesAndNewlinesTravelAsOneArgument) {
  test::TempDir odd;
  std::string dir = odd.path() + "/it's \"quoted\"; $(touch x) `y`\nnext line";
  fs::create_directories(dir);
  agent = makeBundle(dir, "Velmora Manager", kLabel);
  ErrorInfo error;
  ASSERT_EQ(QS812registerLaunchAgent(platform, agent, &error), 0);
  auto r = pl::readFile(plistPath());
  ASSERT_TRUE(r);
  EXPECT_EQ(*r.value->arrayFor("ProgramArguments"), (pl::Array{pl::Value(agent + "/Contents/MacOS/Velmora Manager")}));
  ASSERT_EQ(spawned.size(), 1u);
  EXPECT_EQ(spawned[0][0], agent + "/Contents/MacOS/Velmora Manager");
  EXPECT_FALSE(fs::exists(odd.path() + "/x"));
  EXPECT_TRUE(QS812isLaunchAgentLoaded(platform, kLabel));
}

TEST_F(LaunchAgentTest, RegistrationFailuresHaveTheirNumbers) {
  ErrorInfo error;
  EXPECT_EQ(QS812registerLaunchAgent(platform, "", &error), kLaunchAgentNoLocation);
  EXPECT_EQ(QS812registerLaunchAgent(platform, makeBundle(bundles.path(), "Anonymous", ""), &error), kLaunchAgentNoLocation);
  // An identifier may not lead the property list out of the folder.
  EXPECT_EQ(QS812registerLaunchAgent(platform, makeBundle(bundles.path(), "Escape", "../../escape"), &error),
            kLaunchAgentNoLocation);
  std::string noExecutable = makeBundle(bundles.path(), "NoExe", kLabel);
  pl::Dict info;
  info["CFBundleIdentifier"] = pl::Value(kLabel);
  std::ofstream(noExecutable + "/Contents/Info.plist", std::ios::trunc) << pl::writeXml(pl::Value(info));
  EXPECT_EQ(QS812registerLaunchAgent(platform, noExecutable, &error), kLaunchAgentNoExecutable);
  EXPECT_TRUE(spawned.empty());
}

TEST_F(LaunchAgentTest, AFolderOfAnotherUserRefusesTheWriteWith513UntilTheAdministratorRepairsIt) {
  ASSERT_TRUE(manager.setAgentsFolderOwner(::getuid() + 1));
  ErrorInfo error;
  EXPECT_EQ(QS812registerLaunchAgent(platform, agent, &error), kLaunchAgentNotWritten);
  EXPECT_EQ(error.domain, "NSCocoaErrorDomain");
  EXPECT_EQ(error.code, 513);
  EXPECT_FALSE(fs::exists(plistPath()));

  struct Case {
    sim::AdminAnswer answer;
    AdminResult::Outcome outcome;
    int32_t code;
    int32_t secondRegistration;
  } cases[] = {
      {sim::AdminAnswer::Cancel, AdminResult::Outcome::Cancelled, kAdminCancelled, kLaunchAgentNotWritten},
      {sim::AdminAnswer::Deny, AdminResult::Outcome::Denied, kAdminDenied, kLaunchAgentNotWritten},
      {sim::AdminAnswer::Accept, AdminResult::Outcome::Accepted, 0, 0},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(prompt.setAnswer(c.answer));
    AdminResult result = QS812fixPermissionOfLaunchAgent(platform, "System Preferences", "Velmora");
    EXPECT_EQ(result.outcome, c.outcome) << sim::adminAnswerText(c.answer) << ": " << result.text;
    EXPECT_EQ(result.code, c.code);
    ErrorInfo again;
    EXPECT_EQ(QS812registerLaunchAgent(platform, agent, &again), c.secondRegistration) << sim::adminAnswerText(c.answer);
  }
  EXPECT_TRUE(QS812isLaunchAgentLoaded(platform, kLabel));

  // Every prompt told the user why and listed the operations, each path one argument.
  auto prompts = prompt.shownPrompts();
  ASSERT_EQ(prompts.size(), 3u);
  EXPECT_EQ(prompts[0].message, "System Preferences is going to execute this command for Velmora to save a login item.");
  std::string folder = world.path() + "/Library/LaunchAgents";
  std::string owner = std::to_string(::getuid()) + ":" + std::to_string(::getgid());
  EXPECT_EQ(prompts[2].operations, (std::vector<std::vector<std::string>>{
                                       {"chflags", "nouchg", folder}, {"chown", owner, folder}, {"chmod", "755", folder}}));
}

TEST_F(LaunchAgentTest, AnImmutableFolderIsRepairedToo) {
  ASSERT_TRUE(manager.setAgentsFolderImmutable(true));
  ErrorInfo error;
  EXPECT_EQ(QS812registerLaunchAgent(platform, agent, &error), kLaunchAgentNotWritten);
  EXPECT_EQ(error.code, 513);
  EXPECT_TRUE(QS812fixPermissionOfLaunchAgent(platform, "velmora-settings", "Velmora").accepted());
  EXPECT_EQ(QS812registerLaunchAgent(platform, agent, &error), 0);
}

// The manager's own status numbers are what its callers report; they travel as the failure's code.
TEST_F(LaunchAgentTest, TheManagersNumbersTravelAsTheFailureCode) {
  EXPECT_EQ(manager.bootout(plistPath()).code(), 3) << "nothing loaded";
  EXPECT_EQ(manager.kickstart(kLabel).code(), 113) << "no such service";
  EXPECT_EQ(manager.stop(kLabel).code(), 113) << "no such service";
  EXPECT_EQ(manager.bootstrap(world.path() + "/missing.plist").code(), 5) << "no property list";
  ErrorInfo error;
  ASSERT_EQ(QS812registerLaunchAgent(platform, agent, &error), 0);
  Status again = manager.bootstrap(plistPath());
  EXPECT_EQ(again.code(), 37) << "already loaded";
  EXPECT_NE(again.detail().find("37"), std::string::npos) << again.detail();
  ASSERT_TRUE(manager.bootout(plistPath()));
  ASSERT_TRUE(manager.disable(kLabel));
  EXPECT_EQ(manager.bootstrap(plistPath()).code(), 119) << "disabled";
  EXPECT_TRUE(manager.enable(kLabel));
  EXPECT_TRUE(manager.bootstrap(plistPath()));
}

TEST_F(LaunchAgentTest, StartAndLoadTestOfAnUnregisteredLabel) {
  EXPECT_EQ(QS812startLaunchAgentForBundleID(platform, errors, ""), 0);
  EXPECT_FALSE(QS812isLaunchAgentLoaded(platform, kLabel));
  errors.clear();
  EXPECT_EQ(QS812startLaunchAgentForBundleID(platform, errors, kLabel), kLaunchAgentStartFailed);
  // The manager's status ("could not find service") went on the stack first.
  EXPECT_EQ(errorStackEntries(errors), std::vector<std::string>{"113"});
  EXPECT_TRUE(spawned.empty());
}

TEST_F(LaunchAgentTest, AFailedLoadIsExplainedInTheManagersWords) {
  ErrorInfo error;
  ASSERT_EQ(QS812registerLaunchAgent(platform, agent, &error), 0);
  QS812removeLaunchAgent(platform, agent);
  EXPECT_FALSE(QS812isLaunchAgentLoaded(platform, kLabel));
  EXPECT_FALSE(fs::exists(plistPath()));
  // No property list at all.
  auto missing = QS812errorMsgLaunchAgent(platform, kLabel);
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->domain, kLabel);
  EXPECT_EQ(missing->code, 0);
  EXPECT_EQ(*missing->userInfo[kDescriptionKey].asString(), "Bootstrap failed: 2: No such file or directory");
  // A property list others could change is refused by the manager.
  ASSERT_EQ(QS812registerLaunchAgent(platform, agent, &error), 0);
  QS812removeLaunchAgent(platform, agent);
  std::ofstream(plistPath()) << pl::writeXml(pl::Value(pl::Dict{{"Label", pl::Value(kLabel)}}));
  fs::permissions(plistPath(), fs::perms(0666));
  auto refused = QS812errorMsgLaunchAgent(platform, kLabel);
  ASSERT_TRUE(refused);
  EXPECT_NE(refused->userInfo[kDescriptionKey].asString()->find("bad ownership/permissions"), std::string::npos);
}

TEST_F(LaunchAgentTest, HomeVolumeOwnership) {
  EXPECT_TRUE(QS812homeVolumeOwnerShip(platform));
  ASSERT_TRUE(manager.setHomeVolumeOwnership(false));
  EXPECT_FALSE(QS812homeVolumeOwnerShip(platform));
  // A home folder without a volume name cannot be asked: taken as ignoring ownership.
  ASSERT_TRUE(manager.setHomeVolumeOwnership(std::nullopt));
  EXPECT_FALSE(QS812homeVolumeOwnerShip(platform));
}

TEST_F(LaunchAgentTest, OldLoginItemsGoWithOrWithoutExtension) {
  for (const char* name : {"Velmora Manager", "Velmora Manager.app", "Drovana Manager.app", "Velmora Manager Helper",
                           "Velmora"})
    ASSERT_TRUE(manager.addLoginItem(name, std::string("/Applications/") + name));
  QS812removeFileFromLoginItems(platform, "Velmora Manager");
  std::vector<std::string> left;
  for (const auto& item : manager.loginItems()) left.push_back(item.displayName);
  EXPECT_EQ(left, (std::vector<std::string>{"Drovana Manager.app", "Velmora Manager Helper", "Velmora"}));
}

TEST_F(LaunchAgentTest, TerminationRequestsEndWhenNoneRunsOrOneIsRefused) {
  auto launch = [&](int32_t pid) {
    RunningApplication app;
    app.processIdentifier = pid;
    app.bundleIdentifier = kLabel;
    workspace.launch(app);
  };
  struct Case {
    const char* what;
    std::function<void()> setUp;
    size_t requests;
    size_t waits;
  } cases[] = {
      {"none runs", [] {}, 0, 0},
      {"quits at once", [&] { launch(700); }, 1, 1},
      // The newest of two goes first, then the other.
      {"two running", [&] { launch(701), launch(702); }, 2, 2},
      {"refuses", [&] { launch(703), workspace.refuseTermination(703); }, 1, 0},
      {"accepts but never quits",
       [&] {
         launch(704);
         workspace.setTerminationHandler([](const RunningApplication&) { return true; });
       },
       10, 10},
  };
  for (const auto& c : cases) {
    size_t before = workspace.terminationRequests().size();
    sleeper.slept.clear();
    c.setUp();
    QS812terminateApp(platform.workspace, platform.sleeper, kLabel);
    EXPECT_EQ(workspace.terminationRequests().size() - before, c.requests) << c.what;
    EXPECT_EQ(sleeper.slept.size(), c.waits) << c.what;
    for (double s : sleeper.slept) EXPECT_DOUBLE_EQ(s, 0.3) << c.what;
  }
  std::vector<int32_t> order(workspace.terminationRequests().begin() + 1, workspace.terminationRequests().begin() + 3);
  EXPECT_EQ(order, (std::vector<int32_t>{702, 701}));
}

TEST(LaunchAgentFiles, IsExecutableFileAtURL) {
  test::TempDir dir;
  std::string plainFolder = dir.path() + "/Folder";
  std::string fakeApp = dir.path() + "/Fake.app";
  std::string tool = dir.path() + "/tool";
  std::string text = dir.path() + "/notes.txt";
  fs::create_directories(plainFolder);
  fs::create_directories(fakeApp + "/Contents");
  std::string realApp = makeBundle(dir.path(), "Real", "com.example.real");
  std::ofstream(tool) << "x";
  fs::permissions(tool, fs::perms(0755));
  std::ofstream(text) << "x";
  fs::permissions(text, fs::perms(0644));
  struct Case {
    std::string path;
    bool executable;
  } cases[] = {
      {"", false},           {plainFolder, false}, {fakeApp, false},          {realApp, true},
      {realApp + "/", true}, {tool, true},         {"/bin/sh", true},         {dir.path() + "/missing", false},
  };
  for (const auto& c : cases) EXPECT_EQ(QS812isExecutableFileAtURL(c.path), c.executable) << c.path;
  // A plain text file is executable only with its mode saying so (as root, any x bit).
  EXPECT_FALSE(QS812isExecutableFileAtURL(text));
}

TEST(LaunchAgentFiles, URLsOfTheAgentsPropertyList) {
  test::TempDir world, dir;
  sim::WorldServiceManager manager(world.path());
  Platform p;
  EXPECT_FALSE(QS812launchAgentURL(p, kLabel, nullptr)) << "no service manager";
  p.serviceManager = &manager;
  ErrorInfo error;
  EXPECT_EQ(QS812launchAgentURL(p, kLabel, &error), world.path() + "/Library/LaunchAgents/quillon.Velmora.boa.plist");
  EXPECT_TRUE(fs::is_directory(world.path() + "/Library/LaunchAgents")) << "made when missing";
  EXPECT_FALSE(QS812launchAgentURL(p, "", &error));
  EXPECT_FALSE(QS812launchAgentURLWithURL(p, "", &error));
  EXPECT_EQ(QS812launchAgentURLWithURL(p, makeBundle(dir.path(), "Velmora Manager", kLabel), &error),
            world.path() + "/Library/LaunchAgents/quillon.Velmora.boa.plist");
  // A folder that cannot be made: the platform's error.
  std::ofstream(dir.path() + "/file") << "x";
  sim::WorldServiceManager blocked(dir.path() + "/file");
  p.serviceManager = &blocked;
  EXPECT_FALSE(QS812launchAgentURL(p, kLabel, &error));
  EXPECT_EQ(error.domain, "NSCocoaErrorDomain");
}

}  // namespace
}  // namespace vl
