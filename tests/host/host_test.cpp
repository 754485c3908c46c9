// The settings host: which pane it finds, which plug-ins it refuses and why, the life cycle it
// drives (with vetoes), and the program's --screenshot on good and broken panes.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QImage>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "pane/ui/host/host_window.h"
#include "pane/ui/host/pane_loader.h"
#include "pane/ui/host/pane_lookup.h"
#include "pane/ui/host/pane_session.h"
#include "platform/api/paths.h"
#include "platform/sim/world.h"
#include "platform/sim/world_paths.h"
#include "tools/common/bundle_resources.h"

extern char** environ;

namespace vl::host {
namespace {

namespace fs = std::filesystem;

std::string testPane(const std::string& kind) { return std::string(VELMORA_TEST_PANES) + "/" + kind + "/Velmora.prefPane"; }

struct TempDir {
  fs::path path;
  TempDir() {
    char tmpl[] = "/tmp/velmora-host-XXXXXX";
    path = ::mkdtemp(tmpl);
  }
  ~TempDir() { fs::remove_all(path); }
  std::string operator/(const std::string& rel) const { return (path / rel).string(); }
};

// One application for the widget tests, ended before the process ends so that what Qt keeps
// for its life is given back.
std::unique_ptr<QApplication> application;
struct ApplicationEnd : ::testing::Environment {
  void TearDown() override { application.reset(); }
};
const auto* const applicationEnd = ::testing::AddGlobalTestEnvironment(new ApplicationEnd);

QApplication& app() {
  static int argc = 1;
  static char name[] = "velmora_host_tests";
  static char* argv[] = {name, nullptr};
  if (!application) application = std::make_unique<QApplication>(argc, argv);
  return *application;
}

// The good fake pane's record of calls, read from the library the host opened.
struct FakeCalls {
  const std::vector<std::string>* (*calls)() = nullptr;
  void (*clear)() = nullptr;
  void (*veto)(int) = nullptr;
  explicit FakeCalls(const std::string& bundle) {
    // The same path as the host's dlopen: the same loaded copy.
    void* h = ::dlopen(paneExecutablePath(bundle).c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!h) return;
    calls = reinterpret_cast<decltype(calls)>(::dlsym(h, "fake_pane_calls"));
    clear = reinterpret_cast<decltype(clear)>(::dlsym(h, "fake_pane_clear"));
    veto = reinterpret_cast<decltype(veto)>(::dlsym(h, "fake_pane_veto"));
  }
  std::vector<std::string> take() {
    auto c = *calls();
    clear();
    return c;
  }
};

// --- Refusals --------------------------------------------------------------------------------

TEST(PaneLoader, RefusesPanesThatAreNotForThisHost) {
  TempDir tmp;
  fs::create_directories(tmp / "Empty.prefPane/Contents");
  struct Case {
    std::string bundle;
    std::string message;
  } cases[] = {
      {testPane("wrong_abi"), "is made for pane ABI version 2; this velmora-settings loads version 1"},
      {testPane("no_entry"), "is not a Velmora pane: it has no entry point velmora_pane_entry"},
      {testPane("no_table"), "velmora_pane_entry gave no entry table"},
      {tmp / "Empty.prefPane", "is not a pane: it has no Contents/MacOS/Velmora"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_EQ(LoadedPane::load(c.bundle, &error), nullptr) << c.bundle;
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
  }
  std::string error;
  auto good = LoadedPane::load(testPane("good"), &error);
  ASSERT_NE(good, nullptr) << error;
  EXPECT_EQ(good->entry().abiVersion, kVelmoraPaneAbiVersion);
}

TEST(PaneLoader, ExecutableNameComesFromInfoPlistButCannotLeaveTheBundle) {
  TempDir tmp;
  fs::create_directories(tmp / "A.prefPane/Contents");
  std::ofstream(tmp / "A.prefPane/Contents/Info.plist")
      << "<plist version=\"1.0\"><dict><key>CFBundleExecutable</key><string>Other</string></dict></plist>";
  EXPECT_EQ(paneExecutablePath(tmp / "A.prefPane"), tmp / "A.prefPane/Contents/MacOS/Other");
  std::ofstream(tmp / "A.prefPane/Contents/Info.plist")
      << "<plist version=\"1.0\"><dict><key>CFBundleExecutable</key><string>../../x</string></dict></plist>";
  EXPECT_EQ(paneExecutablePath(tmp / "A.prefPane"), tmp / "A.prefPane/Contents/MacOS/Velmora");
}

// --- Lookup order ----------------------------------------------------------------------------

TEST(PaneLookup, ExplicitThenWorldThenUserThenOtherDomainsThenBuildTree) {
  TempDir tmp;
  RootedPaths rooted(tmp / "home", "");
  sim::WorldPaths paths(rooted, tmp / "world");
  std::string program = tmp / "build/bin";
  const std::vector<std::string> places = {
      tmp / "world/Library/PreferencePanes/Velmora.prefPane",
      tmp / "world/Local/Library/PreferencePanes/Velmora.prefPane",  // the world's copy for all users
      tmp / "home/Library/PreferencePanes/Velmora.prefPane",
      tmp / "home/Local/Library/PreferencePanes/Velmora.prefPane",
      tmp / "home/System/Library/PreferencePanes/Velmora.prefPane",
      tmp / "build/Velmora.prefPane",
  };
  PaneLookup lookup{"", &paths, program};
  EXPECT_EQ(paneSearchPlaces(lookup).size(), 7u);  // the network domain's folder as well

  std::string error;
  EXPECT_FALSE(findPane(lookup, &error));
  for (const auto& place : places) EXPECT_NE(error.find(place), std::string::npos) << error;

  for (const auto& place : places) fs::create_directories(place);
  // Taking each winner away reveals the next one.
  for (size_t i = 0; i < places.size(); ++i) {
    auto found = findPane(lookup, &error);
    ASSERT_TRUE(found) << i;
    EXPECT_EQ(found->path, places[i]);
    EXPECT_EQ(found->origin, i + 1 == places.size() ? "build tree" : "installed");
    fs::remove_all(places[i]);
  }

  fs::create_directories(places[0]);
  fs::create_directories(tmp / "mine/Velmora.prefPane");
  PaneLookup explicitly{tmp / "mine/Velmora.prefPane", &paths, program};
  auto found = findPane(explicitly, &error);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->path, tmp / "mine/Velmora.prefPane");
  // A named pane that is missing is an error, not a reason to take another one.
  PaneLookup missing{tmp / "nowhere/Velmora.prefPane", &paths, program};
  EXPECT_FALSE(findPane(missing, &error));
  EXPECT_NE(error.find("no pane bundle at"), std::string::npos);
}

TEST(BundleResources, AProgramInsideABundleUsesItsResources) {
  TempDir tmp;
  fs::create_directories(tmp / "A.app/Contents/MacOS");
  fs::create_directories(tmp / "A.app/Contents/Resources");
  fs::create_directories(tmp / "B.app/Contents/MacOS");
  EXPECT_EQ(cli::bundleResourcesOf(tmp / "A.app/Contents/MacOS/A Manager"), tmp / "A.app/Contents/Resources");
  EXPECT_EQ(cli::bundleResourcesOf(tmp / "B.app/Contents/MacOS/B"), "");  // no Resources folder
  EXPECT_EQ(cli::bundleResourcesOf(tmp / "bin/velmora-manager"), "");     // not in a bundle
  EXPECT_EQ(cli::bundleResourcesOf("velmora-manager"), "");
}

// --- Life cycle ------------------------------------------------------------------------------

TEST(HostWindow, DrivesTheLifeCycleAndHonoursVetoes) {
  app();
  std::string error;
  auto loaded = LoadedPane::load(testPane("good"), &error);
  ASSERT_NE(loaded, nullptr) << error;
  FakeCalls fake(testPane("good"));
  ASSERT_NE(fake.calls, nullptr);
  fake.clear();

  PaneSession session(*loaded, "/worlds/one");
  ASSERT_TRUE(session.create(&error));
  EXPECT_FALSE(session.showsErrorView());
  {
    HostWindow window(session);
    ASSERT_TRUE(window.selectPane());
    EXPECT_EQ(fake.take(), (std::vector<std::string>{"create " + testPane("good") +
                                                         " world=/worlds/one host=quillon.Velmora.settings",
                                                     "mainNibName", "loadMainView", "willSelect", "didSelect"}));
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(window.paneShown());
    EXPECT_EQ(window.windowTitle(), "Velmora");

    // A veto keeps the pane on "Show All" and on closing.
    fake.veto(2);
    EXPECT_FALSE(window.showAll());
    EXPECT_FALSE(window.close());
    EXPECT_TRUE(window.paneShown());
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(fake.take(), (std::vector<std::string>{"shouldUnselect no", "shouldUnselect no"}));

    EXPECT_TRUE(window.showAll());
    EXPECT_FALSE(window.paneShown());
    EXPECT_FALSE(window.showAllAction()->isEnabled());
    EXPECT_EQ(window.windowTitle(), "Velmora Settings");
    EXPECT_EQ(fake.take(), (std::vector<std::string>{"shouldUnselect yes", "willUnselect"}));

    // Selecting it again reuses the view: no second main view.
    ASSERT_TRUE(window.selectPane());
    EXPECT_EQ(fake.take(), (std::vector<std::string>{"willSelect", "didSelect"}));

    EXPECT_TRUE(window.close());
    EXPECT_EQ(fake.take(), (std::vector<std::string>{"shouldUnselect yes", "willUnselect"}));
    session.destroy();
  }
  EXPECT_EQ(fake.take(), (std::vector<std::string>{"destroy"}));
}

TEST(PaneSession, DestroyingASelectedPaneUnselectsItFirstEvenAfterAVeto) {
  app();
  std::string error;
  auto loaded = LoadedPane::load(testPane("good"), &error);
  ASSERT_NE(loaded, nullptr) << error;
  FakeCalls fake(testPane("good"));
  fake.clear();
  {
    PaneSession session(*loaded, "");
    ASSERT_TRUE(session.create(&error));
    QWidget parent;
    ASSERT_NE(session.willSelect(&parent), nullptr);
    session.didSelect();
    fake.take();
    fake.veto(1);
  }
  EXPECT_EQ(fake.take(), (std::vector<std::string>{"shouldUnselect no", "willUnselect", "destroy"}));
}

// --- The program -----------------------------------------------------------------------------

struct RunResult {
  int status = -1;
  std::string err;
};

RunResult runSettings(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
  TempDir tmp;
  std::string errPath = tmp / "stderr";
  std::vector<std::string> argvStrings{std::string(VELMORA_BIN_DIR) + "/velmora-settings"};
  argvStrings.insert(argvStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argvStrings) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> envStrings;
  for (char** e = environ; *e; ++e) envStrings.push_back(*e);
  for (const auto& e : env) envStrings.push_back(e);
  std::vector<char*> envp;
  for (auto& e : envStrings) envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  RunResult r;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0) {
    int st = 0;
    ::waitpid(pid, &st, 0);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  }
  posix_spawn_file_actions_destroy(&actions);
  std::ifstream in(errPath);
  std::stringstream s;
  s << in.rdbuf();
  r.err = s.str();
  return r;
}

TEST(SettingsProgram, ScreenshotOfAGoodPaneAndRefusalsOfBrokenOnes) {
  TempDir tmp;
  auto created = sim::World::create(tmp / "world", {}, false);
  ASSERT_TRUE(created) << created.status().detail();
  std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen", "XDG_DATA_HOME=" + (tmp / "data"),
                                  "XDG_RUNTIME_DIR=" + (tmp / "run")};
  fs::create_directories(tmp / "run");
  fs::permissions(tmp / "run", fs::perms::owner_all, fs::perm_options::replace);
  std::string png = tmp / "shot.png";

  RunResult ok = runSettings({"--world", tmp / "world", "--pane", testPane("good"), "--tab", "speed", "--size",
                              "1366x768", "--screenshot", png},
                             env);
  EXPECT_EQ(ok.status, 0) << ok.err;
  QImage shot(QString::fromStdString(png));
  ASSERT_FALSE(shot.isNull());
  // The window at a laptop's whole screen, as asked.
  EXPECT_EQ(shot.size(), QSize(1366, 768));
  // The pane's own colour is in the picture: the view was painted, not just the frame.
  bool paneColour = false;
  for (int y = 0; y < shot.height() && !paneColour; y += 4)
    for (int x = 0; x < shot.width() && !paneColour; x += 4) paneColour = shot.pixel(x, y) == qRgb(0x20, 0x80, 0xd0);
  EXPECT_TRUE(paneColour);

  struct Case {
    std::vector<std::string> args;
    int status;
    std::string message;
  } cases[] = {
      {{"--pane", testPane("wrong_abi")}, 1, "ABI version 2"},
      {{"--pane", testPane("no_entry")}, 1, "has no entry point velmora_pane_entry"},
      {{"--pane", testPane("no_create")}, 1, "the pane could not be made"},
      {{"--pane", testPane("error_view")}, 1, "shows its error view"},
      {{"--pane", testPane("good"), "--tab", "sped"}, 2, "did you mean 'speed'?"},
      {{"--pane", testPane("good"), "--delay", "61"}, 2, "--delay"},
      {{"--pane", testPane("good"), "--size", "1366"}, 2, "WIDTHxHEIGHT"},
      {{"--pane", testPane("good"), "--size", "100x768"}, 2, "--size width"},
      {{"--pane", tmp / "missing.prefPane"}, 1, "no pane bundle at"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"--world", tmp / "world", "--screenshot", tmp / "broken.png"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    RunResult r = runSettings(args, env);
    EXPECT_EQ(r.status, c.status) << c.args[1] << ": " << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
  RunResult noWorld = runSettings({"--world", tmp / "none", "--screenshot", png}, env);
  EXPECT_EQ(noWorld.status, 1);
  EXPECT_NE(noWorld.err.find("velmora-sim init"), std::string::npos) << noWorld.err;
}

}  // namespace
}  // namespace vl::host
