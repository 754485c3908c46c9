// The launch agent on Linux: unit and autostart files for odd paths, the systemd user manager's
// D-Bus calls in order against a stand-in manager (python-dbusmock) on a private bus, the
// manager's own text for a failed load, the autostart fallback where no manager answers, and
// the polkit prompt's commands.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "core/plist/codec.h"
#include "core/system/launch_agent.h"
#include "platform/linux/agent_files.h"
#include "platform/linux/systemd_service_manager.h"
#include "tests/support/private_bus.h"
#include "tests/support/sim_world.h"

namespace vl {
namespace {

namespace fs = std::filesystem;
using linux_::AgentDefinition;
using linux_::SystemdOptions;
using linux_::SystemdServiceManager;
constexpr const char* kLabel = "quillon.Velmora.boa";
constexpr const char* kUnit = "quillon.Velmora.boa.service";

std::string readText(const std::string& path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

std::string makeAgentBundle(const std::string& dir, const std::string& target) {
  std::string app = dir + "/Velmora Manager.app";
  fs::create_directories(app + "/Contents/MacOS");
  pl::Dict info;
  info["CFBundleIdentifier"] = pl::Value(kLabel);
  info["CFBundleExecutable"] = pl::Value("Velmora Manager");
  std::ofstream(app + "/Contents/Info.plist") << pl::writeXml(pl::Value(info));
  if (!target.empty()) fs::create_symlink(target, app + "/Contents/MacOS/Velmora Manager");
  return app;
}

TEST(AgentFiles, UnitTextQuotesEveryArgumentForSystemd) {
  struct Case {
    std::string argument, quoted;
  } cases[] = {
      {"/opt/Velmora Manager", "\"/opt/Velmora Manager\""},
      {"/a\"b'c", "\"/a\\\"b'c\""},
      {"/back\\slash", "\"/back\\\\slash\""},
      {"/line\nbreak\ttab", "\"/line\\nbreak\\ttab\""},
      {"/100%/$HOME/%h", "\"/100%%/$$HOME/%%h\""},
      {"/bell\x07", "\"/bell\\x07\""},
      {"/caf\xc3\xa9", "\"/caf\xc3\xa9\""},
  };
  for (const auto& c : cases) EXPECT_EQ(linux_::systemdQuote(c.argument), c.quoted) << c.argument;
  EXPECT_FALSE(linux_::systemdQuote("/bad\xff")) << "not UTF-8";

  AgentDefinition agent{kLabel, {"/opt/it's \"odd\"/Velmora Manager"}, true, "/x.plist"};
  auto text = linux_::unitText(agent);
  ASSERT_TRUE(text);
  auto l = lines(*text);
  auto has = [&](const std::string& line) { return std::find(l.begin(), l.end(), line) != l.end(); };
  EXPECT_TRUE(has("ExecStart=\"/opt/it's \\\"odd\\\"/Velmora Manager\"")) << *text;
  EXPECT_TRUE(has("Restart=on-failure"));
  // Never again after the agent's fatal status (70), nor after a start it refused (1, 2).
  EXPECT_TRUE(has("RestartPreventExitStatus=1 2 70"));
  EXPECT_TRUE(has("WantedBy=default.target"));
  agent.runAtLoad = false;
  EXPECT_EQ(linux_::unitText(agent)->find("WantedBy"), std::string::npos);
}

TEST(AgentFiles, UnitNamesAndAutostartEntries) {
  EXPECT_EQ(linux_::unitNameForLabel(kLabel), kUnit);
  EXPECT_EQ(linux_::unitNameForLabel("a b/c"), "a\\x20b\\x2fc.service");
  EXPECT_EQ(linux_::unitNameForLabel(".hidden"), "\\x2ehidden.service");

  struct Case {
    std::string argument, exec;
  } cases[] = {
      {"/usr/bin/plain", "/usr/bin/plain"},
      {"/opt/Velmora Manager", "\"/opt/Velmora Manager\""},
      {"/a\"b`c$d\\e", "\"/a\\\"b\\`c\\$d\\\\e\""},
      {"/50%", "/50%%"},
  };
  for (const auto& c : cases) EXPECT_EQ(linux_::desktopExecQuote(c.argument), c.exec) << c.argument;
  AgentDefinition agent{kLabel, {"/opt/odd\\dir\nline/Velmora Manager"}, true, "/x.plist"};
  auto text = linux_::autostartEntryText(agent);
  ASSERT_TRUE(text);
  // The key file escapes the Exec value's own backslashes and the newline once more.
  EXPECT_NE(text->find("Exec=\"/opt/odd\\\\\\\\dir\\nline/Velmora Manager\"\n"), std::string::npos) << *text;
  EXPECT_EQ(linux_::keyFileUnescape(linux_::keyFileEscape(" lead\\\n")), " lead\\\n");
}

// A program that cannot start is a failure carrying the errno and naming the program; one that
// ran gives its exit status, whatever it was.
TEST(AgentFiles, StartingAndRunningSayWhyAProgramDidNotRun) {
  test::TempDir dir;
  const std::string log = dir.path() + "/out.log";
  auto missing = linux_::spawnDetached({dir.path() + "/no-such-program"}, log);
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.status().code(), ENOENT);
  EXPECT_NE(missing.status().detail().find("no-such-program"), std::string::npos) << missing.status().detail();
  EXPECT_EQ(linux_::spawnDetached({}, log).status().code(), EINVAL);

  std::string output;
  auto notRun = linux_::runAndWait({dir.path() + "/no-such-program"}, &output);
  ASSERT_FALSE(notRun);
  EXPECT_EQ(notRun.status().code(), ENOENT);
  auto said = linux_::runAndWait({"/bin/echo", "said"}, &output);
  ASSERT_TRUE(said) << said.status().detail();
  EXPECT_EQ(*said, 0);
  EXPECT_EQ(output, "said\n");
  auto refused = linux_::runAndWait({"/bin/false"}, &output);
  ASSERT_TRUE(refused) << "a non-zero exit is a result, not a failure to run";
  EXPECT_EQ(*refused, 1);
}

// A stand-in user manager on a private bus, with a home of its own.
class SystemdManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (bus.address().empty()) GTEST_SKIP() << "dbus-daemon could not be started";
    if (::access("/usr/bin/python3", X_OK) != 0) GTEST_SKIP() << "no python3 for the stand-in manager";
    fs::create_directories(config() + "/systemd/user");
    std::string params = "{\"unit_dir\": \"" + config() + "/systemd/user\", \"call_log\": \"" + callLog() + "\"}";
    mock = std::make_unique<test::BusProgram>(
        std::vector<std::string>{"/usr/bin/python3", "-m", "dbusmock", "--template",
                                 std::string(VELMORA_TEST_DATA) + "/../platform/data/systemd_user_manager.py", "-p", params},
        bus.address(), dir.path() + "/mock.log");
    manager = std::make_unique<SystemdServiceManager>(options(bus.address()));
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!manager->managerAnswers() && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (!manager->managerAnswers()) GTEST_SKIP() << "the stand-in manager did not start: " << readText(dir.path() + "/mock.log");
    platform.serviceManager = manager.get();
  }
  SystemdOptions options(const std::string& address) const {
    SystemdOptions o;
    o.busAddress = address;
    o.home = dir.path();
    o.configHome = config();
    o.runtimeDir = dir.path() + "/run";
    o.timeoutSeconds = 2;
    return o;
  }
  std::string config() const { return dir.path() + "/config"; }
  std::string callLog() const { return dir.path() + "/calls.log"; }
  // The calls since the last look, one "Method unit" each; GetUnit polls are left out.
  std::vector<std::string> takeCalls() {
    auto all = lines(readText(callLog()));
    std::vector<std::string> out;
    for (size_t i = seen; i < all.size(); ++i)
      if (all[i].rfind("GetUnit", 0) != 0) out.push_back(all[i]);
    seen = all.size();
    return out;
  }

  test::TempDir dir;
  test::PrivateBus bus{dir.path()};
  std::unique_ptr<test::BusProgram> mock;
  std::unique_ptr<SystemdServiceManager> manager;
  Platform platform;
  size_t seen = 0;
  ErrorStack errors;
};

TEST_F(SystemdManagerTest, RegistersAUnitAndDrivesTheManagerInOrder) {
  std::string odd = dir.path() + "/it's \"odd\" $HOME 100%";
  fs::create_directories(odd);
  std::string agent = makeAgentBundle(odd, "/bin/true");
  ErrorInfo error;
  ASSERT_EQ(QS812registerLaunchAgent(platform, agent, &error), 0) << manager->lastError();
  EXPECT_EQ(takeCalls(), (std::vector<std::string>{"Reload", std::string("EnableUnitFiles ") + kUnit,
                                                   std::string("StartUnit ") + kUnit}));
  // The manager read back exactly the executable's path from the unit.
  std::string argv = readText(callLog() + ".argv");
  EXPECT_EQ(argv, agent + "/Contents/MacOS/Velmora Manager\n");
  EXPECT_TRUE(QS812isLaunchAgentLoaded(platform, kLabel));
  ServiceStatus s = manager->status(kLabel);
  EXPECT_TRUE(s.registered);
  EXPECT_EQ(s.pid, 4242);
  EXPECT_FALSE(QS812errorMsgLaunchAgent(platform, kLabel)) << "nothing to explain";

  // Again: the first registration is stopped, disabled and forgotten before the second.
  ASSERT_EQ(QS812registerLaunchAgent(platform, agent, &error), 0);
  EXPECT_EQ(takeCalls(), (std::vector<std::string>{std::string("StopUnit ") + kUnit, std::string("DisableUnitFiles ") + kUnit,
                                                   "Reload", "Reload", std::string("EnableUnitFiles ") + kUnit,
                                                   std::string("StartUnit ") + kUnit}))
      << manager->lastError() << readText(dir.path() + "/mock.log");
  EXPECT_TRUE(QS812isLaunchAgentLoaded(platform, kLabel));

  EXPECT_EQ(QS812startLaunchAgentForBundleID(platform, errors, kLabel), 0);
  EXPECT_EQ(takeCalls(), std::vector<std::string>{std::string("StartUnit ") + kUnit});
  EXPECT_EQ(manager->stop(kLabel).code(), 0);
  EXPECT_FALSE(QS812isLaunchAgentLoaded(platform, kLabel));

  QS812removeLaunchAgent(platform, agent);
  EXPECT_FALSE(fs::exists(config() + "/systemd/user/" + kUnit));
  EXPECT_FALSE(fs::exists(config() + "/velmora/LaunchAgents/quillon.Velmora.boa.plist"));
}

TEST_F(SystemdManagerTest, AFailedLoadIsExplainedWithTheManagersOwnText) {
  // The bundle's executable is missing: the unit loads, its start fails.
  std::string agent = makeAgentBundle(dir.path(), "");
  ErrorInfo error;
  ASSERT_EQ(QS812registerLaunchAgent(platform, agent, &error), 0);
  EXPECT_FALSE(QS812isLaunchAgentLoaded(platform, kLabel));
  auto why = QS812errorMsgLaunchAgent(platform, kLabel);
  ASSERT_TRUE(why);
  EXPECT_EQ(why->domain, kLabel);
  EXPECT_EQ(*why->userInfo[kDescriptionKey].asString(), std::string(kUnit) + " is failed (result: exit-code), exit status 203");
  errors.clear();
  EXPECT_EQ(QS812startLaunchAgentForBundleID(platform, errors, kLabel), kLaunchAgentStartFailed);
  errors.clear();

  // A unit file the manager has not loaded: its "not loaded" answer.
  QS812removeLaunchAgent(platform, agent);
  std::ofstream(config() + "/systemd/user/" + kUnit) << "[Service]\nExecStart=/bin/true\n";
  why = QS812errorMsgLaunchAgent(platform, kLabel);
  ASSERT_TRUE(why);
  EXPECT_EQ(*why->userInfo[kDescriptionKey].asString(), std::string("Unit ") + kUnit + " not loaded.");
}

TEST(SystemdFallback, WithoutAUserManagerAnAutostartEntryAndADirectStartStandIn) {
  test::TempDir dir;
  SystemdOptions o;
  o.busAddress = "unix:path=" + dir.path() + "/no-bus";
  o.home = dir.path();
  o.configHome = dir.path() + "/config";
  o.runtimeDir = dir.path() + "/run";
  o.timeoutSeconds = 1;
  SystemdServiceManager manager(o);
  Platform p;
  p.serviceManager = &manager;
  EXPECT_FALSE(manager.managerAnswers());
  // The agent prints its environment, so its log shows that it ran.
  std::string agent = makeAgentBundle(dir.path(), "/usr/bin/env");
  ErrorInfo error;
  ASSERT_EQ(QS812registerLaunchAgent(p, agent, &error), 0) << manager.lastError();
  std::string entry = o.configHome + "/autostart/quillon.Velmora.boa.desktop";
  std::string text = readText(entry);
  EXPECT_NE(text.find("Exec=\"" + agent + "/Contents/MacOS/Velmora Manager\"\n"), std::string::npos) << text;
  EXPECT_FALSE(fs::exists(o.configHome + "/systemd/user/" + kUnit));
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (readText(manager.logPath(kLabel)).find("HOME=") == std::string::npos && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_NE(readText(manager.logPath(kLabel)).find("HOME="), std::string::npos) << "the agent was started directly";

  // Autostart entries are the session's login items.
  std::ofstream(o.configHome + "/autostart/old.desktop") << "[Desktop Entry]\nName=Velmora Manager.app\nExec=/x\n";
  QS812removeFileFromLoginItems(p, "Velmora Manager");
  EXPECT_FALSE(fs::exists(o.configHome + "/autostart/old.desktop"));
  EXPECT_TRUE(fs::exists(entry)) << "the agent's own entry is named by its label";
  QS812removeLaunchAgent(p, agent);
  EXPECT_FALSE(fs::exists(entry));
}

TEST(PkexecPrompt, ARequestIsOnePromptForTheHelperWithTheMessageFirst) {
  std::vector<std::vector<std::string>> ran;
  int answer = 0;
  test::TempDir dir;
  std::string helper = dir.path() + "/velmora-ctl";
  std::ofstream(helper) << "#!/bin/true\n";
  ::chmod(helper.c_str(), 0755);
  linux_::PkexecAdminPrompt prompt(
      [&](const std::vector<std::string>& argv, std::string* output) {
        ran.push_back(argv);
        if (answer == 1) *output = "rm -rf: /x: Operation not permitted\n";
        return answer;
      },
      "/usr/bin/pkexec", helper);
  std::string path = "/home/u/it's; rm -rf ~ --step 1 rm";
  std::vector<std::vector<std::string>> ops = {{"chflags", "nouchg", path}, {"chown", "1000:1000", path}, {"chmod", "755", path}};
  AdminResult r = prompt.runPrivileged("Settings is going to execute this command", ops);
  EXPECT_TRUE(r.accepted()) << r.text;
  ASSERT_EQ(ran.size(), 1u) << "three steps, one prompt";
  std::vector<std::string> expected = {"/usr/bin/pkexec", helper, "privileged", "--explain",
                                       "Settings is going to execute this command",
                                       "--step", "3", "chflags", "nouchg", path,
                                       "--step", "3", "chown", "1000:1000", path,
                                       "--step", "3", "chmod", "755", path};
  EXPECT_EQ(ran[0], expected);
  struct Case {
    int status;
    AdminResult::Outcome outcome;
    int32_t code;
  } cases[] = {{126, AdminResult::Outcome::Cancelled, kAdminCancelled},
               {127, AdminResult::Outcome::Denied, kAdminDenied},
               {1, AdminResult::Outcome::Failed, 1}};
  for (const auto& c : cases) {
    answer = c.status;
    ran.clear();
    r = prompt.runPrivileged("why", ops);
    EXPECT_EQ(ran.size(), 1u);
    EXPECT_EQ(r.outcome, c.outcome) << c.status;
    EXPECT_EQ(r.code, c.code) << c.status;
  }
  EXPECT_NE(r.text.find("Operation not permitted"), std::string::npos) << "the helper's report comes back";
  linux_::PkexecAdminPrompt missing([&](const auto&, auto*) { return 0; }, "/usr/bin/pkexec",
                                    dir.path() + "/none");
  EXPECT_EQ(missing.runPrivileged("why", ops).outcome, AdminResult::Outcome::Failed);
}

}  // namespace
}  // namespace vl
