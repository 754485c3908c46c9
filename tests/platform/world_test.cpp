// The shared world: two World objects on one folder stand for two processes; what one changes
// reaches the other as the platform's events, ids agree, nothing is lost when both write, and
// damaged files give clear errors.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "core/plist/codec.h"
#include "core/runloop/virtual_runloop.h"
#include "platform/linux/sd_event_runloop.h"
#include "platform/sim/host_process.h"
#include "platform/sim/world.h"
#include "support/result_value.h"
#include "support/sim_world.h"

namespace vl {
namespace {

using sim::World;
using sim::WorldOptions;
using test::TempDir;
using test::valueOf;

constexpr const char* kMouse = "generic-usb-optical-mouse";
constexpr const char* kReceiver = "logitech-unifying-receiver";

// What a client of one process sees: arrivals, removals, session, speed and display events.
struct Observer {
  explicit Observer(sim::SimMac& m) : mac(m) {
    client = mac.eventSystem().createClient();
    pl::Dict pointer;
    pointer["DeviceUsagePage"] = pl::Value(1);
    pointer["DeviceUsage"] = pl::Value(1);
    client->setMatchingMultiple({pl::Value(pointer)});
    client->scheduleWithRunLoop();
    client->registerDeviceMatchingCallback([this](const ServiceRef& s) {
      events.push_back("arrived " + hex(s->registryID()));
      client->registerRemovalCallback(s, [this](const ServiceRef& r) { events.push_back("removed " + hex(r->registryID())); });
    });
    client->registerPropertyChangedCallback("HIDMouseAcceleration", [this](const std::string& k, const pl::Value& v) {
      events.push_back("speed " + k + " " + std::to_string(v.intValue()));
    });
    sessionToken = mac.session().observe([this](SessionEvent e) {
      const char* names[] = {"became active", "resigned active", "locked", "unlocked"};
      events.push_back(std::string("session ") + names[static_cast<int>(e)]);
    });
    screensToken = mac.screens().observeChanges([this] { events.push_back("display"); });
  }
  ~Observer() {
    mac.session().unobserve(sessionToken);
    mac.screens().unobserve(screensToken);
  }
  static std::string hex(RegistryId id) {
    char b[32];
    std::snprintf(b, sizeof b, "0x%llX", static_cast<unsigned long long>(id));
    return b;
  }
  std::vector<std::string> take() { return std::exchange(events, {}); }
  sim::SimMac& mac;
  std::unique_ptr<HidEventSystemClient> client;
  std::vector<std::string> events;
  Session::Token sessionToken = 0;
  Screens::Token screensToken = 0;
};

class WorldTest : public ::testing::Test {
 protected:
  WorldTest() {
    a = valueOf(World::create(dir.path(), options("agent", &loopA), false));
    b = valueOf(World::open(dir.path(), options("pane", &loopB)));
  }
  static WorldOptions options(const char* name, RunLoop* loop) {
    WorldOptions o;
    o.processName = name;
    o.runLoop = loop;
    o.wallClock = [] { return 1.7e9; };
    o.onError = [](const std::string& e) { ADD_FAILURE() << e; };
    return o;
  }
  RegistryId attach(World& w, const std::string& profile) {
    return valueOf(w.attachProfile(sim::deviceProfileFolder(VELMORA_SOURCE_RESOURCES), profile));
  }
  // b catches up with the folder and delivers what it learnt.
  void syncB() {
    EXPECT_TRUE(b->processChanges());
    loopB.runUntilIdle();
  }
  std::vector<RegistryId> subtree(World& w, RegistryId top) {
    auto it = w.mac().registry().children(top, true);
    it.entries.insert(it.entries.begin(), top);
    return it.entries;
  }

  TempDir dir;
  VirtualRunLoop loopA, loopB;
  std::unique_ptr<World> a, b;
};

TEST_F(WorldTest, DeviceAttachedInOneProcessArrivesInTheOtherWithTheSameIds) {
  Observer seen(b->mac());
  RegistryId mouse = attach(*a, kMouse);
  RegistryId receiver = attach(*a, kReceiver);
  EXPECT_EQ(mouse, sim::kWorldFirstBlock);
  EXPECT_EQ(receiver, sim::kWorldFirstBlock + sim::kWorldBlockSize);
  EXPECT_TRUE(seen.take().empty()) << "nothing arrives before the change is processed";

  syncB();
  std::vector<std::string> expected;
  for (RegistryId top : {mouse, receiver})
    for (RegistryId s : a->mac().eventServicesOf(top)) expected.push_back("arrived " + Observer::hex(s));
  EXPECT_EQ(seen.take(), expected);
  for (RegistryId top : {mouse, receiver}) {
    EXPECT_EQ(subtree(*b, top), subtree(*a, top));
    for (RegistryId id : subtree(*a, top)) EXPECT_EQ(b->mac().registry().name(id), a->mac().registry().name(id));
  }
  EXPECT_EQ(b->mac().profileOf(receiver), kReceiver);

  // A process that starts later agrees too, and ids are never reused after a detach.
  ASSERT_TRUE(a->detach(mouse));
  VirtualRunLoop loopC;
  auto c = valueOf(World::open(dir.path(), options("later", &loopC)));
  ASSERT_TRUE(c);
  EXPECT_EQ(c->mac().attachedDevices(), std::vector<RegistryId>{receiver});
  EXPECT_EQ(subtree(*c, receiver), subtree(*a, receiver));
  EXPECT_EQ(attach(*c, kMouse), sim::kWorldFirstBlock + 2 * sim::kWorldBlockSize);
}

TEST_F(WorldTest, ServiceWritesAreSharedAndKeptInTheHistory) {
  RegistryId top = attach(*a, kMouse);
  syncB();
  RegistryId svc = a->mac().eventServicesOf(top).front();
  ServiceRef service = a->mac().serviceFor(svc);
  ASSERT_TRUE(service->setProperty("HIDPointerResolution", pl::Value::int32(600 << 16)));
  ASSERT_TRUE(service->setProperty("QuillonMID", pl::Value::uint32(0x4082)));
  a->mac().refuseServiceWrites("HIDMouseAcceleration", true);
  EXPECT_FALSE(service->setProperty("HIDMouseAcceleration", pl::Value::int32(45056)));

  syncB();
  EXPECT_EQ(b->mac().registry().property(svc, "HIDPointerResolution"), pl::Value::int32(600 << 16));
  EXPECT_EQ(b->mac().registry().property(svc, "QuillonMID"), pl::Value::uint32(0x4082));
  EXPECT_FALSE(b->mac().registry().property(svc, "HIDMouseAcceleration")) << "a refused write changes nothing";

  auto history = valueOf(b->history(0));
  ASSERT_EQ(history.size(), 3u);
  EXPECT_EQ(history[0].key, "HIDPointerResolution");
  EXPECT_EQ(history[0].service, svc);
  EXPECT_EQ(history[0].writer, "agent");
  EXPECT_DOUBLE_EQ(history[0].time, 1.7e9);
  EXPECT_EQ(history[1].value, pl::Value::uint32(0x4082));
  EXPECT_FALSE(history[2].accepted);
  EXPECT_TRUE(valueOf(b->history(1.8e9)).empty());

  // Written values are in place before the services arrive in a process that starts later.
  VirtualRunLoop loopC;
  auto c = valueOf(World::open(dir.path(), options("later", &loopC)));
  ASSERT_TRUE(c);
  EXPECT_EQ(c->mac().registry().property(svc, "HIDPointerResolution"), pl::Value::int32(600 << 16));

  // The writer's own change comes back as a notice and does nothing.
  Observer own(a->mac());
  ASSERT_TRUE(a->processChanges());
  loopA.runUntilIdle();
  EXPECT_TRUE(own.take().empty());
}

TEST_F(WorldTest, SharedChangesReachTheOtherProcessAsEvents) {
  RegistryId top = attach(*a, kMouse);
  syncB();
  RegistryId svc = a->mac().eventServicesOf(top).front();
  Observer seen(b->mac());
  // The removal callback is registered when a service arrives; register it for the existing one.
  seen.client->registerRemovalCallback(b->mac().serviceFor(svc), [&](const ServiceRef& r) {
    seen.events.push_back("removed " + Observer::hex(r->registryID()));
  });
  struct Case {
    const char* name;
    std::function<Status(World&)> change;
    std::vector<std::string> events;
  };
  std::vector<Case> cases = {
      {"lock", [](World& w) { return w.setSessionState({true, true}); }, {"session locked"}},
      {"unlock", [](World& w) { return w.setSessionState({true, false}); }, {"session unlocked"}},
      {"logout and lock",
       [](World& w) { return w.setSessionState({false, true}); },
       {"session resigned active", "session locked"}},
      {"login and unlock",
       [](World& w) { return w.setSessionState({true, false}); },
       {"session became active", "session unlocked"}},
      {"speed", [](World& w) { return w.setSystemAcceleration("HIDMouseAcceleration", 0.5); },
       {"speed HIDMouseAcceleration 32768"}},
      {"same speed again",
       [](World& w) { return w.setSystemAcceleration("HIDMouseAcceleration", 0.5); },
       {}},
      {"display", [](World& w) { return w.displayChange(); }, {"display"}},
      {"detach", [top](World& w) { return w.detach(top); }, {"removed " + Observer::hex(svc)}},
  };
  for (const auto& c : cases) {
    Status changed = c.change(*a);
    ASSERT_TRUE(changed) << c.name << ": " << changed.detail();
    syncB();
    EXPECT_EQ(seen.take(), c.events) << c.name;
  }
  EXPECT_EQ(b->mac().session().current().onConsole, true);
  EXPECT_EQ(b->mac().systemAcceleration("HIDMouseAcceleration"), 0.5);
  EXPECT_EQ(b->displayChangeCount(), 1u);
  EXPECT_TRUE(b->mac().attachedDevices().empty());
  EXPECT_FALSE(b->mac().registry().exists(svc));
}

TEST_F(WorldTest, UnknownIdsAndMalformedFixturesAreRefusedBeforeTheyReachTheFolder) {
  std::string error = a->detach(0x100009000).detail();
  EXPECT_FALSE(error.empty());
  EXPECT_NE(error.find("0x100009000"), std::string::npos) << error;
  pl::Dict broken;
  broken["tree"] = pl::Value(pl::Dict{{"name", pl::Value("x")}});
  auto refused = a->attach(pl::Value(broken));
  EXPECT_FALSE(refused);
  error = refused.status().detail();
  EXPECT_NE(error.find("classes"), std::string::npos) << error;
  EXPECT_FALSE(a->attachProfile(sim::deviceProfileFolder(VELMORA_SOURCE_RESOURCES), "no-such-device"));
  EXPECT_FALSE(a->attachProfile(sim::deviceProfileFolder(VELMORA_SOURCE_RESOURCES), "../devices/generic-usb-optical-mouse"))
      << "a name with a slash is a path, and this one has no .plist";
  syncB();
  EXPECT_TRUE(b->devices().empty());
  VirtualRunLoop loopC;
  EXPECT_TRUE(valueOf(World::open(dir.path(), options("later", &loopC))));
}

TEST_F(WorldTest, DamagedFilesGiveAnErrorNamingTheFileAndKeepTheLastGoodState) {
  RegistryId top = attach(*a, kMouse);
  syncB();
  struct Case {
    const char* file;
    const char* content;
    const char* says;
  } cases[] = {
      {"devices.plist", "<plist><dict><key>NextBlock", "devices.plist"},
      {"devices.plist", "(1, 2)", "root is not a dictionary"},
      {"devices.plist",
       "<plist><dict><key>NextBlock</key><integer>9</integer><key>Devices</key><array><dict><key>Id</key>"
       "<integer>4096</integer><key>Fixture</key><dict/></dict></array></dict></plist>",
       "does not start a block"},
      {"properties.plist", "{ Services = { zz = {}; }; }", "not a 0x registry id"},
      {"system.plist", "{ Session = { OnConsole = 1; }; }", "Session needs"},
      {"applications.plist", "{ NextPid = 0; Running = (); }", "NextPid"},
      {"devices.plist", "<plist><dict><key>Version</key><integer>99</integer></dict></plist>", "newer version"},
  };
  for (const auto& c : cases) {
    std::string saved;
    {
      std::ifstream in(dir.path() + "/" + c.file);
      saved.assign(std::istreambuf_iterator<char>(in), {});
    }
    {
      std::ofstream out(dir.path() + "/" + c.file, std::ios::trunc);
      out << c.content;
    }
    Status loaded = b->processChanges();
    std::string error = loaded.detail();
    EXPECT_FALSE(loaded) << c.file << " " << c.content;
    EXPECT_NE(error.find(c.file), std::string::npos) << error;
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
    EXPECT_EQ(b->mac().attachedDevices(), std::vector<RegistryId>{top}) << c.content;
    VirtualRunLoop loopC;
    auto reopened = World::open(dir.path(), options("later", &loopC));
    EXPECT_FALSE(reopened);
    std::string openError = reopened.status().detail();
    EXPECT_NE(openError.find(c.says), std::string::npos) << openError;
    {
      std::ofstream out(dir.path() + "/" + c.file, std::ios::trunc);
      out << saved;
    }
    EXPECT_TRUE(b->processChanges());
  }
  auto nowhere = World::open(dir.path() + "/nowhere", options("x", nullptr));
  EXPECT_FALSE(nowhere);
  EXPECT_NE(nowhere.status().detail().find("no world"), std::string::npos);
}

TEST_F(WorldTest, AFifoOrAnOversizedFileInPlaceOfAWorldFileIsRefusedWithoutWaiting) {
  RegistryId top = attach(*a, kMouse);
  syncB();
  struct Case {
    const char* file;
    bool fifo;
    const char* says;
  } cases[] = {
      {"system.plist", true, "not a regular file"},
      {"devices.plist", true, "not a regular file"},
      {"devices.plist", false, "larger than the limit"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string path = dir.path() + "/" + c.file;
    const std::string keep = path + ".kept";
    ASSERT_EQ(::rename(path.c_str(), keep.c_str()), 0);
    if (c.fifo) {
      ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);  // no writer: an open() without O_NONBLOCK hangs
    } else {
      std::ofstream(path) << "";
      ASSERT_EQ(::truncate(path.c_str(), 17 * 1024 * 1024), 0);
    }
    Status loaded = b->processChanges();
    std::string error = loaded.detail();
    EXPECT_FALSE(loaded);
    EXPECT_NE(error.find(c.file), std::string::npos) << error;
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
    EXPECT_EQ(b->mac().attachedDevices(), std::vector<RegistryId>{top});
    ASSERT_EQ(::rename(keep.c_str(), path.c_str()), 0);
    EXPECT_TRUE(b->processChanges());
  }
}

TEST_F(WorldTest, WritersThatDoNotSeeEachOtherLoseNothing) {
  RegistryId top = attach(*a, kMouse);
  syncB();
  RegistryId svc = a->mac().eventServicesOf(top).front();
  ServiceRef sa = a->mac().serviceFor(svc), sb = b->mac().serviceFor(svc);
  // Alternating, neither process catching up in between.
  for (int i = 0; i < 6; ++i) {
    ServiceRef s = i % 2 ? sb : sa;
    ASSERT_TRUE(s->setProperty("Key" + std::to_string(i), pl::Value(i)));
  }
  ASSERT_TRUE(a->setSystemAcceleration("HIDMouseAcceleration", 1.0));
  ASSERT_TRUE(b->setSystemAcceleration("HIDTrackpadAcceleration", 2.0));
  ASSERT_TRUE(a->processChanges());
  ASSERT_TRUE(b->processChanges());
  for (World* w : {a.get(), b.get()}) {
    for (int i = 0; i < 6; ++i)
      EXPECT_EQ(w->mac().registry().property(svc, "Key" + std::to_string(i)), pl::Value(i)) << w->folder() << " " << i;
    EXPECT_EQ(w->mac().systemAcceleration("HIDMouseAcceleration"), 1.0);
    EXPECT_EQ(w->mac().systemAcceleration("HIDTrackpadAcceleration"), 2.0);
  }
  EXPECT_EQ(valueOf(a->history(0)).size(), 6u);
}

TEST_F(WorldTest, ConcurrentWritersLoseNothing) {
  RegistryId top = attach(*a, kMouse);
  syncB();
  RegistryId svc = a->mac().eventServicesOf(top).front();
  constexpr int kWrites = 25;
  // Each world has its own lock descriptor, so the two threads contend as two processes would.
  auto writer = [&](World& w, const char* prefix) {
    ServiceRef s = w.mac().serviceFor(svc);
    for (int i = 0; i < kWrites; ++i) EXPECT_TRUE(s->setProperty(prefix + std::to_string(i), pl::Value(i)).ok());
  };
  std::thread ta(writer, std::ref(*a), "A");
  std::thread tb(writer, std::ref(*b), "B");
  ta.join();
  tb.join();
  VirtualRunLoop loopC;
  auto c = valueOf(World::open(dir.path(), options("later", &loopC)));
  ASSERT_TRUE(c);
  for (const char* prefix : {"A", "B"})
    for (int i = 0; i < kWrites; ++i)
      EXPECT_TRUE(c->mac().registry().property(svc, prefix + std::to_string(i))) << prefix << i;
  EXPECT_EQ(valueOf(c->history(0)).size(), 2u * kWrites);
}

TEST_F(WorldTest, HistoryKeepsTheNewestWritesUpToItsLimit) {
  WorldOptions small = options("small", nullptr);
  small.historyLimit = 10;
  auto w = valueOf(World::open(dir.path(), small));
  ASSERT_TRUE(w);
  RegistryId top = attach(*w, kMouse);
  ServiceRef s = w->mac().serviceFor(w->mac().eventServicesOf(top).front());
  for (int i = 0; i < 35; ++i) EXPECT_TRUE(s->setProperty("HIDPointerResolution", pl::Value(i)).ok());
  auto history = valueOf(w->history(0));
  ASSERT_EQ(history.size(), 10u);
  EXPECT_EQ(history.front().value, pl::Value(25));
  EXPECT_EQ(history.back().value, pl::Value(34));
  size_t files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path() + "/history")) files += e.is_regular_file();
  EXPECT_LE(files, 3u);
}

TEST_F(WorldTest, RunningApplicationsAreSharedWithWorldWideProcessIds) {
  RunningApplication pane;
  pane.bundleIdentifier = "quillon.Velmora.prefpane";
  pane.localizedName = "Velmora";
  auto p1 = a->launchApplication(pane, true);
  ASSERT_TRUE(p1) << p1.status().detail();
  RunningApplication editor;
  editor.bundleIdentifier = "com.example.editor";
  auto p2 = b->launchApplication(editor, true);
  ASSERT_TRUE(p2) << p2.status().detail();
  EXPECT_NE(*p1, *p2);
  syncB();
  ASSERT_TRUE(a->processChanges());
  for (World* w : {a.get(), b.get()}) {
    auto running = w->workspace().runningApplications();
    ASSERT_EQ(running.size(), 2u);
    EXPECT_EQ(w->workspace().frontmostApplication()->bundleIdentifier, "com.example.editor");
  }
  ASSERT_TRUE(a->terminateApplication("quillon.Velmora.prefpane"));
  EXPECT_FALSE(a->terminateApplication("quillon.Velmora.prefpane"));
  syncB();
  ASSERT_EQ(b->workspace().runningApplications().size(), 1u);
  EXPECT_EQ(b->workspace().runningApplications()[0].processIdentifier, *p2);
}

TEST_F(WorldTest, ApplicationsKnowTheirStartAndQuitWhenAsked) {
  RunningApplication pane;
  pane.bundleIdentifier = "quillon.Velmora.prefpane";
  auto simulated = a->launchApplication(pane, false);
  ASSERT_TRUE(simulated) << simulated.status().detail();
  // A real process stands in for the agent.
  auto child = sim::spawnDetached({"/bin/sleep", "30"}, dir.path() + "/sleep.log");
  ASSERT_TRUE(child) << child.status().detail();
  RunningApplication agent;
  agent.processIdentifier = *child;
  agent.bundleIdentifier = "quillon.Velmora.boa";
  ASSERT_EQ(valueOf(a->recordHostProcess(agent)), *child);
  syncB();
  ASSERT_EQ(b->workspace().runningApplications().size(), 2u);
  // A simulated application started when the world's clock said; a real one when the kernel says.
  EXPECT_EQ(b->workspace().processStartTime(*simulated), 1.7e9);
  auto started = b->workspace().processStartTime(*child);
  ASSERT_TRUE(started);
  EXPECT_EQ(*started, *sim::hostProcessStartTime(*child));
  EXPECT_NEAR(*started, static_cast<double>(::time(nullptr)), 60);

  // Asked to quit: the simulated one leaves every process's list, the real one gets SIGTERM.
  EXPECT_TRUE(b->workspace().terminateRunningApplication(*simulated));
  EXPECT_TRUE(b->workspace().terminateRunningApplication(*child));
  int status = 0;
  ASSERT_EQ(::waitpid(*child, &status, 0), *child);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
  ASSERT_TRUE(a->processChanges());
  // The real process ended without a word: no list shows it any more.
  for (World* w : {a.get(), b.get()}) {
    ASSERT_TRUE(w->processChanges());
    auto running = w->workspace().runningApplications();
    EXPECT_TRUE(running.empty()) << running.size();
    EXPECT_FALSE(w->workspace().processStartTime(*simulated));
  }
  EXPECT_FALSE(b->workspace().terminateRunningApplication(*simulated)) << "none such runs";
}

TEST_F(WorldTest, AWorldMadeAnewReplacesTheDevicesOfRunningProcesses) {
  RegistryId old = attach(*a, kMouse);
  syncB();
  Observer seen(b->mac());
  seen.client->registerRemovalCallback(b->mac().serviceFor(b->mac().eventServicesOf(old).front()),
                                       [&](const ServiceRef&) { seen.events.push_back("old removed"); });
  EXPECT_FALSE(World::create(dir.path(), options("init", nullptr), false));
  auto fresh = valueOf(World::create(dir.path(), options("init", nullptr), true));
  ASSERT_TRUE(fresh);
  RegistryId again = attach(*fresh, kMouse);
  EXPECT_GT(again, old);
  syncB();
  auto events = seen.take();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0], "old removed");
  EXPECT_EQ(events[1], "arrived " + Observer::hex(fresh->mac().eventServicesOf(again).front()));
}

TEST_F(WorldTest, AFolderRemovedAndMadeAgainIsWatchedAgain) {
  attach(*a, kMouse);
  syncB();
  std::filesystem::remove_all(dir.path());
  auto fresh = valueOf(World::create(dir.path(), options("init", nullptr), false));
  ASSERT_TRUE(fresh);
  RegistryId mouse = attach(*fresh, kMouse);
  syncB();
  EXPECT_EQ(b->mac().attachedDevices(), std::vector<RegistryId>{mouse});
  ASSERT_TRUE(fresh->setSessionState({true, true}));
  struct pollfd pfd = {b->watchFd(), POLLIN, 0};
  EXPECT_EQ(::poll(&pfd, 1, 0), 1) << "the new folder is watched";
  syncB();
  EXPECT_TRUE(b->mac().session().current().screenLocked);
}

TEST(WorldOnARealLoop, ChangesArriveThroughTheWatchDescriptor) {
  TempDir dir;
  auto loop = valueOf(linux_::SdEventRunLoop::create());
  ASSERT_TRUE(loop);
  WorldOptions agentOptions;
  agentOptions.processName = "agent";
  agentOptions.runLoop = loop.get();
  auto tool = valueOf(World::create(dir.path(), WorldOptions{}, false));
  ASSERT_TRUE(tool);
  auto agent = valueOf(World::open(dir.path(), agentOptions));
  ASSERT_TRUE(agent);
  std::string syncError;
  // A failed read is left in syncError; the event awaited below is what the test checks.
  loop->watchFd(agent->watchFd(), [&] {
    if (Status read = agent->processChanges(); !read) syncError = read.detail();
  });
  std::vector<SessionEvent> events;
  agent->mac().session().observe([&](SessionEvent e) {
    events.push_back(e);
    loop->stop(0);
  });
  ASSERT_TRUE(tool->setSessionState({true, true}));
  // Stops at the event; the timer only bounds a broken watch.
  loop->addTimer(2.0, false, [&] { loop->stop(1); });
  EXPECT_EQ(loop->run(), 0);
  EXPECT_EQ(events, std::vector<SessionEvent>{SessionEvent::ScreenLocked});
  EXPECT_EQ(syncError, "");
}

TEST(WorldFolder, ProgramsFindTheWorldByOptionThenEnvironment) {
  EXPECT_EQ(sim::worldFolderFor("/given"), "/given");
  // The environment is the process's; put it back afterwards.
  struct Saved {
    const char* name;
    std::optional<std::string> value;
  } saved[] = {{"VELMORA_WORLD", {}}, {"XDG_DATA_HOME", {}}, {"HOME", {}}};
  for (auto& s : saved)
    if (const char* v = std::getenv(s.name)) s.value = v;
  ::setenv("VELMORA_WORLD", "/from/env", 1);
  EXPECT_EQ(sim::worldFolderFor(""), "/from/env");
  ::unsetenv("VELMORA_WORLD");
  ::setenv("XDG_DATA_HOME", "/data", 1);
  EXPECT_EQ(sim::worldFolderFor(""), "/data/velmora/world");
  ::unsetenv("XDG_DATA_HOME");
  ::setenv("HOME", "/home/u", 1);
  EXPECT_EQ(sim::worldFolderFor(""), "/home/u/.local/share/velmora/world");
  for (const auto& s : saved) {
    if (s.value) ::setenv(s.name, s.value->c_str(), 1);
    else ::unsetenv(s.name);
  }
}

}  // namespace
}  // namespace vl
