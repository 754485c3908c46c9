// The small Linux adapters: XDG folders and the private temporary folder's checks, the system
// facts' parsers, console alerts, the process lifecycle and file-backed user defaults.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "platform/linux/console_alerts.h"
#include "platform/linux/file_user_defaults.h"
#include "platform/linux/linux_system_info.h"
#include "platform/linux/xdg_paths.h"
#include "support/sim_world.h"

namespace vl {
namespace {

using namespace linux_;
using test::TempDir;

TEST(XdgPaths, FoldersFollowTheEnvironmentWithTheConventionalFallbacks) {
  TempDir tmp;
  struct Case {
    const char* name;
    XdgEnvironment env;
    std::string support, prefs, local, system, temporary;
  } cases[] = {
      {"defaults",
       {"/home/u", "", "", tmp.path() + "/run", {}, ::getuid()},
       "/home/u/.local/share", "/home/u/.config/velmora/preferences", "/usr/local/share", "/usr/share",
       tmp.path() + "/run/velmora"},
      {"set",
       {"/home/u", "/data", "/conf", tmp.path() + "/run", {"/opt/share", "/x", "/sys/share"}, ::getuid()},
       "/data", "/conf/velmora/preferences", "/opt/share", "/sys/share", tmp.path() + "/run/velmora"},
      {"relative values are ignored",
       {"/home/u", "data", "conf", tmp.path() + "/run", {"rel", "/only"}, ::getuid()},
       "/home/u/.local/share", "/home/u/.config/velmora/preferences", "/only", "/only",
       tmp.path() + "/run/velmora"},
  };
  ASSERT_EQ(::mkdir((tmp.path() + "/run").c_str(), 0700), 0);
  for (const auto& c : cases) {
    auto p = XdgPaths::create(c.env, "/res");
    ASSERT_TRUE(p) << c.name << ": " << p.status().detail();
    EXPECT_EQ(p->applicationSupport(), c.support) << c.name;
    EXPECT_EQ(p->applicationSupport(Domain::User), c.support) << c.name;
    EXPECT_EQ(p->preferences(), c.prefs) << c.name;
    EXPECT_EQ(p->applicationSupport(Domain::Local), c.local) << c.name;
    EXPECT_EQ(p->applicationSupport(Domain::System), c.system) << c.name;
    EXPECT_EQ(p->temporary(), c.temporary) << c.name;
    EXPECT_EQ(p->resources(), "/res");
    auto panes = p->preferencePanes();
    ASSERT_EQ(panes.size(), 4u);
    EXPECT_EQ(panes[0], c.support + "/velmora/PreferencePanes");
    EXPECT_EQ(panes[3], c.system + "/velmora/PreferencePanes");
  }
  struct stat st {};
  ASSERT_EQ(::stat((tmp.path() + "/run/velmora").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(XdgPaths, ATemporaryFolderOthersCouldReachIsRefused) {
  TempDir tmp;
  std::string open = tmp.path() + "/open", link = tmp.path() + "/link", file = tmp.path() + "/file";
  ASSERT_EQ(::mkdir(open.c_str(), 0700), 0);
  ASSERT_EQ(::chmod(open.c_str(), 0755), 0);
  ASSERT_EQ(::symlink(open.c_str(), link.c_str()), 0);
  std::ofstream(file) << "x";
  struct Case {
    std::string path;
    unsigned uid;
    const char* says;
  } cases[] = {
      {open, ::getuid(), "others may enter it (mode 755)"},
      {link, ::getuid(), "is not a folder"},
      {file, ::getuid(), "is not a folder"},
      {tmp.path() + "/mine", ::getuid() + 1, "belongs to another user"},
      {tmp.path() + "/missing/deeper", ::getuid(), "cannot create"},
  };
  for (const auto& c : cases) {
    Status made = ensurePrivateFolder(c.path, c.uid);
    const std::string& error = made.detail();
    EXPECT_FALSE(made) << c.path;
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
    EXPECT_EQ(error.find(c.path), 0u) << error;
  }
  XdgEnvironment env{"", "", "", "", {}, ::getuid()};
  auto homeless = XdgPaths::create(env, "");
  EXPECT_FALSE(homeless);
  EXPECT_NE(homeless.status().detail().find("HOME"), std::string::npos);
}

TEST(LinuxSystemInfo, VersionsComeFromOsReleaseElseTheKernel) {
  struct Case {
    const char* osRelease;
    const char* kernel;
    OsVersion want;
  } cases[] = {
      {"NAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\n", "6.1.0-18-amd64", {12, 0, 0}},
      {"VERSION_ID=22.04\n", "", {22, 4, 0}},
      {"VERSION_ID='3.19.1'\n", "", {3, 19, 1}},
      {"ID=arch\n", "6.8.9-arch1-1", {6, 8, 9}},
      {"VERSION_ID=rolling\n", "5.15", {5, 15, 0}},
      {"", "", {0, 0, 0}},
  };
  for (const auto& c : cases) {
    OsVersion v = parseOsVersion(c.osRelease, c.kernel);
    EXPECT_EQ(v.major, c.want.major) << c.osRelease << c.kernel;
    EXPECT_EQ(v.minor, c.want.minor) << c.osRelease << c.kernel;
    EXPECT_EQ(v.patch, c.want.patch) << c.osRelease << c.kernel;
  }
}

TEST(LinuxSystemInfo, LanguagesComeFromTheLocaleInThePlatformsForm) {
  struct Case {
    const char* language;
    const char* lang;
    std::vector<std::string> want;
  } cases[] = {
      {"", "en_GB.UTF-8", {"en-GB"}},
      {"ja_JP:en_US:ja_JP", "ja_JP.UTF-8", {"ja-JP", "en-US"}},
      {"fr:de", "C", {"en"}},
      {"", "", {"en"}},
      {"", "POSIX", {"en"}},
      {"", "de_DE@euro", {"de-DE"}},
      {"x/../y:pt_BR", "pt_BR.UTF-8", {"pt-BR"}},
  };
  for (const auto& c : cases) EXPECT_EQ(parseLanguages(c.language, c.lang), c.want) << c.language << " / " << c.lang;
}

TEST(LinuxSystemInfo, ModelAndMarketingNameFromTheMachinesNames) {
  SystemSources s;
  s.productName = "ThinkPad X1 Carbon Gen 9";
  s.vendorName = "LENOVO";
  LinuxSystemInfo info(s);
  EXPECT_EQ(info.hardwareModel(), "ThinkPad X1 Carbon Gen 9");
  EXPECT_EQ(info.marketingNameForModel("ThinkPad X1 Carbon Gen 9"), "LENOVO ThinkPad X1 Carbon Gen 9");
  EXPECT_EQ(info.marketingNameForModel("MacBookPro12,1"), "");
  EXPECT_EQ(info.userID(), ::getuid());
  EXPECT_EQ(info.processID(), ::getpid());
  EXPECT_FALSE(info.processName().empty());
  // The running machine's architecture; Linux has no code signatures to name a signer.
  EXPECT_FALSE(LinuxSystemInfo(SystemSources::fromProcess()).machine().empty());
  EXPECT_EQ(info.codeSigner("/usr/bin"), std::nullopt);
}

std::string captured(std::FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string s;
  int c;
  while ((c = std::fgetc(f)) != EOF) s += static_cast<char>(c);
  return s;
}

TEST(ConsoleAlerts, ErrorsAndNoticesArePrintedReadablyAndTheBellOnlyOnATerminal) {
  std::FILE* f = std::tmpfile();
  ASSERT_TRUE(f);
  ConsoleAlerts alerts(f, "velmora-manager");
  ErrorInfo e;
  e.domain = "Velmora";
  e.code = 1200069;
  e.userInfo[kDescriptionKey] = pl::Value("The settings could not be opened.");
  e.userInfo[kRecoverySuggestionKey] = pl::Value("Open the settings window once.");
  pl::Dict under{{"domain", pl::Value("SQLite")}, {"code", pl::Value(14)},
                 {"userInfo", pl::Value(pl::Dict{{kDescriptionKey, pl::Value("unable to open database file")}})}};
  e.userInfo[kUnderlyingErrorKey] = pl::Value(under);
  alerts.presentModal(e);
  bool done = false;
  alerts.presentSheet(ErrorInfo{}, [&] { done = true; });
  alerts.displayNotice("Device not configurable", "Magic Mouse (VID:0x004C)", "icon.icns");
  alerts.beep();
  EXPECT_TRUE(done);
  EXPECT_EQ(captured(f),
            "velmora-manager: error: The settings could not be opened. (Velmora 1200069)\n"
            "  Open the settings window once.\n"
            "  caused by: unable to open database file (SQLite 14)\n"
            "velmora-manager: error: an error occurred\n"
            "velmora-manager: notice: Device not configurable\n"
            "  Magic Mouse (VID:0x004C)\n");
  std::fclose(f);
}

TEST(ProcessLifecycle, TerminateRunsTheProgramsShutdownOnceThenExitsWithTheStatus) {
  std::vector<std::string> apps;
  ProcessLifecycle quiet(nullptr, [&](const std::string& id) { apps.push_back(id); });
  quiet.terminateApplication("quillon.Velmora.prefpane");
  EXPECT_EQ(apps, std::vector<std::string>{"quillon.Velmora.prefpane"});
  EXPECT_EXIT(
      {
        ProcessLifecycle* self = nullptr;
        ProcessLifecycle lifecycle(
            [&](int status) {
              std::fprintf(stderr, "shutdown %d\n", status);
              self->terminate(9);  // a failure during shutdown ends at once
            },
            nullptr);
        self = &lifecycle;
        lifecycle.terminate(3);
      },
      ::testing::ExitedWithCode(9), "shutdown 3");
}

TEST(FileUserDefaults, DomainsAreFilesCachedUntilSynchronizedAndWrittenKeyByKey) {
  TempDir tmp;
  std::string folder = tmp.path() + "/prefs";
  FileUserDefaults agent(folder), pane(folder);
  const std::string domain = "quillon.Velmora.boa";
  EXPECT_FALSE(pane.value(domain, "AXEnabled"));  // now cached as empty
  ASSERT_TRUE(agent.setValue(domain, "AXEnabled", pl::Value(true))) << agent.lastError();
  EXPECT_FALSE(pane.value(domain, "AXEnabled")) << "another process's change is seen after synchronize";
  pane.synchronize(domain);
  EXPECT_EQ(pane.value(domain, "AXEnabled"), pl::Value(true));
  // Each write changes one key of the file as it is now.
  ASSERT_TRUE(pane.setValue(domain, "Other", pl::Value("x")));
  ASSERT_TRUE(agent.setValue(domain, "Count", pl::Value(2)));
  FileUserDefaults fresh(folder);
  EXPECT_EQ(fresh.value(domain, "AXEnabled"), pl::Value(true));
  EXPECT_EQ(fresh.value(domain, "Other"), pl::Value("x"));
  EXPECT_EQ(fresh.value(domain, "Count"), pl::Value(2));
  ASSERT_TRUE(fresh.removeValue(domain, "Other"));
  EXPECT_FALSE(fresh.value(domain, "Other"));
  struct stat st {};
  ASSERT_EQ(::stat(fresh.fileOf(domain).c_str(), &st), 0);

  for (const char* bad : {"", "../escape", "a/b", ".hidden"}) {
    EXPECT_FALSE(agent.setValue(bad, "k", pl::Value(1))) << bad;
    EXPECT_FALSE(agent.value(bad, "k")) << bad;
  }
  std::ofstream(fresh.fileOf("broken")) << "<plist><dict><key>x";
  EXPECT_FALSE(fresh.value("broken", "x"));
  ASSERT_TRUE(fresh.setValue("broken", "y", pl::Value(1)));
  EXPECT_EQ(fresh.value("broken", "y"), pl::Value(1));
}

}  // namespace
}  // namespace vl
