// The Linux workspace on a process table and applications folders written by the test: Exec
// lines, programs matched to their desktop entries, start times, and rules made from a desktop
// entry matching the running program.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "core/store/app_record.h"
#include "core/system/desktop_entry.h"
#include "platform/linux/linux_desktop.h"
#include "platform/linux/linux_workspace.h"
#include "tests/support/sim_world.h"

namespace vl {
namespace {

namespace fs = std::filesystem;
using linux_::execArguments;
using linux_::LinuxWorkspace;

TEST(LinuxWorkspace, ExecLinesGiveTheProgramAndItsArgumentsWithoutFieldCodes) {
  using V = std::vector<std::string>;
  EXPECT_EQ(execArguments("gedit %U"), (V{"gedit"}));
  EXPECT_EQ(execArguments("\"/opt/My App/run\" --new-window %f"), (V{"/opt/My App/run", "--new-window"}));
  EXPECT_EQ(execArguments("env LANG=C GDK_BACKEND=x11 /usr/bin/app --x"), (V{"/usr/bin/app", "--x"}));
  EXPECT_EQ(execArguments("app \"quote\\\"d\" 100%%"), (V{"app", "quote\"d", "100%"}));
  EXPECT_EQ(execArguments("  "), V{});
}

class FakeMachine : public ::testing::Test {
 protected:
  FakeMachine() {
    fs::create_directories(root() + "/share/applications/org");
    entry("share/applications/org.example.Editor.desktop", "Editor", "/usr/bin/editor %F");
    entry("share/applications/org/example-tool.desktop", "Tool", "tool-wrapper --go");
    entry("share/applications/hidden.desktop", "Helper", "helper", "NoDisplay=true\n");
    // pid 100: the editor; 200: the tool, known by its command line; 300: a daemon.
    process(100, "/usr/bin/editor", "editor", "/usr/bin/editor\0--x\0");
    process(200, "/usr/bin/python3.11", "tool-wrapper", std::string("tool-wrapper\0", 13));
    process(300, "/usr/sbin/daemon", "daemon", std::string("daemon\0", 7));
    fs::create_directories(root() + "/proc");
    std::ofstream(root() + "/proc/stat") << "cpu  1 2 3\nbtime 1700000000\nprocesses 5\n";
    std::ofstream(root() + "/proc/100/stat")
        << "100 (my (odd) name) S 1 100 100 0 -1 4194560 1 0 0 0 0 0 0 0 20 0 1 0 " << 250 * sysconf(_SC_CLK_TCK)
        << " 1000 10 0 0\n";
  }
  std::string root() const { return dir.path(); }
  void entry(const std::string& rel, const std::string& name, const std::string& exec, const std::string& extra = {}) {
    std::ofstream(root() + "/" + rel) << "[Desktop Entry]\nType=Application\nName=" << name << "\nExec=" << exec
                                      << "\nIcon=" << name << "-icon\n" << extra;
  }
  void process(int pid, const std::string& exe, const std::string& comm, const std::string& cmdline) {
    std::string d = root() + "/proc/" + std::to_string(pid);
    fs::create_directories(d);
    fs::create_symlink(exe, d + "/exe");
    std::ofstream(d + "/comm") << comm << "\n";
    std::ofstream(d + "/cmdline", std::ios::binary) << cmdline;
  }
  LinuxWorkspace workspace() {
    linux_::WorkspaceOptions o;
    o.readEntry = [](const std::string& path) -> std::optional<linux_::ApplicationEntry> {
      auto e = readApplicationEntry(path);
      if (!e) return std::nullopt;
      return linux_::ApplicationEntry{desktopFileID(path), path, e->name, e->exec, e->icon, e->noDisplay};
    };
    o.dataDirs = {root() + "/share"};
    o.home = root();
    o.proc = root() + "/proc";
    return LinuxWorkspace(nullptr, std::move(o));
  }
  test::TempDir dir;
};

TEST_F(FakeMachine, RunningProgramsAreNamedAndIdentifiedByTheirDesktopEntries) {
  auto ws = workspace();
  auto apps = ws.runningApplications();
  std::map<int32_t, RunningApplication> byPid;
  for (auto& a : apps) byPid[a.processIdentifier] = a;
  ASSERT_EQ(byPid.size(), 2u) << "the daemon has no entry and no window";
  EXPECT_EQ(byPid[100].bundleIdentifier, "org.example.Editor");
  EXPECT_EQ(byPid[100].localizedName, "Editor");
  EXPECT_EQ(byPid[100].executableURL, "/usr/bin/editor");
  EXPECT_EQ(byPid[100].bundleURL, root() + "/share/applications/org.example.Editor.desktop");
  EXPECT_EQ(byPid[200].bundleIdentifier, "org-example-tool") << "an interpreter's program by its command line";
  EXPECT_EQ(ws.bundleIdentifierAtPath(byPid[200].bundleURL), "org-example-tool");
  EXPECT_FALSE(ws.frontmostApplication()) << "without the accessibility bus nothing is known to be in front";

  EXPECT_EQ(ws.urlForApplicationWithBundleIdentifier("org.example.Editor"), byPid[100].bundleURL);
  EXPECT_FALSE(ws.urlForApplicationWithBundleIdentifier("org.example.None"));
  EXPECT_EQ(ws.iconForFile(byPid[100].bundleURL), "Editor-icon");
  EXPECT_EQ(ws.displayNameAtPath(byPid[100].bundleURL), "Editor");
  EXPECT_EQ(ws.displayNameAtPath("/usr/bin/other"), "other");
  EXPECT_TRUE(ws.isFilePackageAtPath(byPid[100].bundleURL));
  EXPECT_FALSE(ws.isFilePackageAtPath("/usr/bin/editor"));

  // A rule made from the desktop entry is the rule of the running program.
  Platform p;
  p.workspace = &ws;
  EXPECT_EQ(QS803AppClass::matchingKeyFromURL(p, byPid[100].bundleURL), QS803AppClass::matchingKeyFromProc(p, byPid[100]));

  auto names = ws.processNames();
  EXPECT_EQ(std::count(names.begin(), names.end(), "daemon"), 1);
  EXPECT_EQ(ws.processStartTime(100), 1700000000.0 + 250) << "after a command name with blanks and parentheses";
  EXPECT_FALSE(ws.processStartTime(999));
  EXPECT_FALSE(ws.terminateRunningApplication(1));
}

TEST_F(FakeMachine, OneProcessIsLookedUpAloneAndANewDesktopEntryIsSeenAtOnce) {
  auto ws = workspace();
  auto editor = ws.runningApplication(100);
  ASSERT_TRUE(editor);
  EXPECT_EQ(editor->bundleIdentifier, "org.example.Editor");
  EXPECT_EQ(editor->activationPolicy, 0) << "a shown entry";
  EXPECT_FALSE(editor->active);
  auto daemon = ws.runningApplication(300);
  ASSERT_TRUE(daemon);
  EXPECT_TRUE(daemon->bundleIdentifier.empty());
  EXPECT_EQ(daemon->activationPolicy, 2) << "no entry";
  EXPECT_FALSE(ws.runningApplication(999));
  EXPECT_FALSE(ws.runningApplication(0));

  // The entries are kept between calls, but an entry installed later (in a new folder too) or
  // removed counts from the next call on.
  fs::create_directories(root() + "/share/applications/vendor");
  entry("share/applications/vendor/daemon.desktop", "Daemon Settings", "daemon");
  daemon = ws.runningApplication(300);
  ASSERT_TRUE(daemon);
  EXPECT_EQ(daemon->bundleIdentifier, "vendor-daemon");
  EXPECT_EQ(daemon->localizedName, "Daemon Settings");
  fs::remove(root() + "/share/applications/vendor/daemon.desktop");
  EXPECT_TRUE(ws.runningApplication(300)->bundleIdentifier.empty());
  EXPECT_FALSE(ws.urlForApplicationWithBundleIdentifier("vendor-daemon"));

  // The desktop port's policy: regular only with a shown entry and a window on screen, which
  // neither an X server nor AT-SPI can vouch for here.
  linux_::LinuxDesktopOptions none;
  none.useX = false;
  none.useAtspi = false;
  auto desktop = linux_::LinuxDesktop::create(ws, none);
  EXPECT_TRUE(desktop->notes().empty());
  EXPECT_EQ(desktop->activationPolicy(100), kActivationPolicyAccessory);
  EXPECT_EQ(desktop->activationPolicy(300), kActivationPolicyAccessory);
  EXPECT_EQ(desktop->activationPolicy(999), -1);
  EXPECT_FALSE(desktop->frontmostApplication());
  ASSERT_EQ(desktop->runningApplications("org.example.Editor").size(), 1u);
  EXPECT_EQ(desktop->runningApplications("org.example.Editor")[0].processIdentifier, 100);
}

}  // namespace
}  // namespace vl
