// The real machine's composition end to end on a umockdev machine: Velmora Manager's own
// controller on the Platform the desktop process builds, its favourites reaching the session's
// speed writer, and quitting, logging out and a killed run's leftovers ending in the writer's
// own restore — with a recording desktop writer, and with the X11 writer on Xvfb.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>

#include "agent/app_controller.h"
#include "core/system/alerts.h"
#include "core/system/instance_lock.h"
#include "platform/linux/mapped_pointer_writer.h"
#include "support/result_value.h"
#include "support/sim_world.h"
#include "tools/common/desktop_process.h"
#include "udev/mock_machine.h"
#include "writers/xvfb_server.h"
// After gtest: Xlib's macros would break its templates.
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#undef Status

namespace vl {
namespace {

constexpr double kOwnGain = 0.25;  // the fake desktop's own setting of every device

// A desktop whose per-device setting is one gain, kept outside the writer so that it outlives
// a writer dropped without restoring (a killed run).
class FakeDesktopWriter : public linux_input::MappedPointerWriter {
 public:
  FakeDesktopWriter(std::map<std::string, double>& desktop, linux_input::WriterRestoreFile* file)
      : MappedPointerWriter(inputd::modelGainMapping(), file), desktop_(desktop) {}
  std::string name() const override { return "fake-desktop"; }
  bool handles(const linux_input::InputDeviceInfo&) const override { return true; }
  // The user moves the desktop's own speed slider for the device.
  void userSets(const linux_input::InputDeviceInfo& d, double gain) {
    desktop_[d.devNode] = gain;
    reportChanged(d);
  }

 protected:
  Result<pl::Dict> captureOriginal(const linux_input::InputDeviceInfo& d) override {
    return pl::Dict{{"gain", pl::Value(gainOf(d.devNode))}, {"name", pl::Value(d.name)}};
  }
  Status writeOriginal(const linux_input::InputDeviceInfo& d, const pl::Dict& original) override {
    desktop_[d.devNode] = original.at("gain").doubleValue();
    return Status::success();
  }
  Status writeSpeed(const linux_input::InputDeviceInfo& d, const linux_input::DesktopSpeed& speed) override {
    desktop_[d.devNode] = speed.gain;
    return Status::success();
  }

 private:
  double gainOf(const std::string& node) {
    auto it = desktop_.find(node);
    return it == desktop_.end() ? (desktop_[node] = kOwnGain) : it->second;
  }
  std::map<std::string, double>& desktop_;
};

// Points the process's XDG folders at the test's home for the object's life.
class ScopedEnv {
 public:
  void set(const char* name, const std::string& value) {
    const char* old = ::getenv(name);
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    ::setenv(name, value.c_str(), 1);
  }
  void unset(const char* name) {
    const char* old = ::getenv(name);
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    ::unsetenv(name);
  }
  ~ScopedEnv() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second) ::setenv(it->first.c_str(), it->second->c_str(), 1);
      else ::unsetenv(it->first.c_str());
    }
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

class DesktopComposition : public test::SimWorld {
 protected:
  void SetUp() override {
    if (!testing::MockMachine::available()) GTEST_SKIP() << testing::MockMachine::whyUnavailable();
    realLoop = test::valueOf(linux_::SdEventRunLoop::create());
    ASSERT_TRUE(realLoop);
    runtime = home.path() + "/run";
    std::filesystem::create_directories(runtime);
    ::chmod(runtime.c_str(), 0700);
    env.set("HOME", home.path());
    env.set("XDG_DATA_HOME", home.path() + "/data");
    env.set("XDG_CONFIG_HOME", home.path() + "/config");
    env.set("XDG_RUNTIME_DIR", runtime);
    identity = {ProcessRole::Agent, {"quillon.Velmora.boa", "Velmora Manager", "2.2.3", ""}, {}};
    settings.bundle.resourcesDir = test::sourceResources();
    settings.instanceLockPath = home.path() + "/agent.lock";
    settings.restoreValuesPath = home.path() + "/restore-values.plist";
    settings.sharingSaltPath = home.path() + "/sharing-salt";
  }
  void TearDown() override {
    dropComposition();
  }
  void dropComposition() {
    agent.reset();
    process.reset();
    slots = {};
  }

  // The composition as velmora-manager builds it, in a session whose environment is facts;
  // the recording desktop stands in for velmora-inputd where openers asks for it.
  void compose(const std::function<const char*(const char*)>& sessionEnv, bool fakeWriter) {
    cli::DesktopSlotOptions o;
    o.restoreFile = true;
    o.runtimeDir = runtime;
    o.getenv = sessionEnv;
    o.log = [this](const std::string& l) { writerLog.push_back(l); };
    if (fakeWriter) {
      restoreFile = std::make_unique<linux_input::WriterRestoreFile>(linux_input::WriterRestoreFile::defaultPath(runtime));
      restoreFile->load().ignore("a missing file is an empty one");
      openers.inputd = [this]() -> Result<std::unique_ptr<linux_input::PointerWriter>> {
        return std::unique_ptr<linux_input::PointerWriter>(std::make_unique<FakeDesktopWriter>(desktop, restoreFile.get()));
      };
      o.openers = &openers;
    }
    slots = cli::defaultDesktopSlots(o);
    // The session moments come from the simulated session, which the test drives.
    slots.sessionPorts = [this](Platform& p, std::vector<std::string>&) { p.session = &mac.session(); };
    cli::DesktopProcessOptions po;
    po.resources = test::sourceResources();
    po.connectBus = false;
    po.slots = slots;
    po.report = [this](const std::string& l) { reports.push_back(l); };
    process = test::valueOf(cli::DesktopProcess::open(*realLoop, std::move(po)));
    ASSERT_TRUE(process);
    composed = process->platform();
    // Virtual time for the agent's delays; the udev monitor is pumped by hand.
    composed.runLoop = &loop;
    composed.alerts = &alerts;
    composed.lifecycle = &lifecycle;
    // The simulated session bus stands in for the pane's commands.
    composed.notifications = platform.notifications;
  }
  void launch() {
    process->giveLeftoversBack(settings.instanceLockPath);
    agent = std::make_unique<AppControllerClass>(composed, errorContext(), settings);
    agent->setActivityLog([this](const std::string& line) { log.push_back(line); });
    agent->applicationWillFinishLaunching();
    agent->applicationDidFinishLaunching();
    ASSERT_TRUE(agent->launched());
    process->giveSpeedsBackAtSessionEnd();
  }
  // What velmora-manager does at SIGTERM.
  void quit() {
    agent->applicationWillTerminate();
    Status st = process->giveSpeedsBack();
    EXPECT_TRUE(st.ok()) << st.detail();
  }
  bool logged(const std::string& part) const {
    for (const auto& l : log)
      if (l.find(part) != std::string::npos) return true;
    return false;
  }
  static const char* tty(const char* name) {
    return std::string_view(name) == "XDG_SESSION_TYPE" ? "tty" : nullptr;
  }

  std::unique_ptr<linux_::SdEventRunLoop> realLoop;
  std::string runtime;
  ScopedEnv env;
  testing::MockMachine mock;
  std::map<std::string, double> desktop;
  std::unique_ptr<linux_input::WriterRestoreFile> restoreFile;
  linux_input::WriterOpeners openers;
  cli::DesktopSlots slots;
  std::unique_ptr<cli::DesktopProcess> process;
  Platform composed;
  AgentSettings settings;
  std::unique_ptr<AppControllerClass> agent;
  std::vector<std::string> log, writerLog, reports;
};

TEST_F(DesktopComposition, AFavouriteReachesTheWriterAndQuittingOrLoggingOutGivesTheDesktopsOwnBack) {
  std::string ev = mock.addUsbMouse(1, "2", 0x093A, 0x2510, "USB Optical Mouse");
  compose(tty, true);
  ASSERT_EQ(writerLog.size(), 1u);
  EXPECT_EQ(writerLog[0], "pointer speeds: writer inputd");
  const std::string node = process->machine().devices().at(ev).info.devNode;
  launch();
  loop.advance(3.0);
  ASSERT_TRUE(logged("applied favourite")) << "the agent applied nothing";
  ASSERT_TRUE(desktop.count(node));
  EXPECT_NE(desktop[node], kOwnGain) << "the favourite never reached the desktop";
  EXPECT_EQ(restoreFile->entries("fake-desktop").size(), 1u) << "the desktop's own setting is kept for a crash";

  // Logout: the agent restores, and the writer gives the desktop's own setting back exactly
  // (what the agent writes as the system speed would only be mapped).
  mac.logout();
  loop.advance(0.1);
  EXPECT_TRUE(logged("logout"));
  EXPECT_EQ(desktop[node], kOwnGain);
  // Back at login the favourite is applied again after the usual delay.
  mac.login();
  loop.advance(2.0);
  EXPECT_NE(desktop[node], kOwnGain);

  quit();
  EXPECT_EQ(desktop[node], kOwnGain);
  EXPECT_TRUE(restoreFile->entries("fake-desktop").empty());
}

TEST_F(DesktopComposition, ASpeedChangedBehindTheWritersBackIsAppliedAgain) {
  std::string ev = mock.addUsbMouse(1, "2", 0x093A, 0x2510, "USB Optical Mouse");
  compose(tty, true);
  const auto info = process->machine().devices().at(ev).info;
  launch();
  loop.advance(3.0);
  const double applied = desktop[info.devNode];
  ASSERT_NE(applied, kOwnGain);
  auto* writer = dynamic_cast<FakeDesktopWriter*>(&slots.parts->writer());
  ASSERT_NE(writer, nullptr);
  writer->userSets(info, 0.9);
  EXPECT_TRUE(logged("system speed changed: applying in 0.5 s"));
  loop.advance(0.4);
  EXPECT_EQ(desktop[info.devNode], 0.9);
  loop.advance(0.2);
  EXPECT_EQ(desktop[info.devNode], applied);
}

TEST_F(DesktopComposition, AKilledRunsLeftoversGoBackAtTheNextStartButNotUnderAnotherAgent) {
  std::string ev = mock.addUsbMouse(1, "2", 0x093A, 0x2510, "USB Optical Mouse");
  compose(tty, true);
  const std::string node = process->machine().devices().at(ev).info.devNode;
  launch();
  loop.advance(3.0);
  ASSERT_NE(desktop[node], kOwnGain);
  const double applied = desktop[node];
  // Killed: nothing restores; the desktop keeps the favourite, the file its own setting.
  dropComposition();
  restoreFile.reset();
  ASSERT_EQ(desktop[node], applied);

  // Another agent of this user runs: its entries are its own, and this start leaves them.
  compose(tty, true);
  {
    std::string error;
    auto other = InstanceLock::acquire(settings.instanceLockPath, &error);
    ASSERT_TRUE(other) << error;
    EXPECT_FALSE(process->giveLeftoversBack(settings.instanceLockPath));
    EXPECT_EQ(desktop[node], applied);
  }
  // Alone, the next start gives the desktop's own setting back before announcing the device.
  EXPECT_TRUE(process->giveLeftoversBack(settings.instanceLockPath));
  EXPECT_EQ(desktop[node], kOwnGain);
  EXPECT_TRUE(restoreFile->entries("fake-desktop").empty());
}

TEST_F(DesktopComposition, VelmoraInputdsOwnVirtualPointersAreNoDevices) {
  std::string real = mock.addUsbMouse(1, "2", 0x093A, 0x2510, "USB Optical Mouse");
  std::string filtered = mock.addVirtualPointer("Velmora filtered Maker USB Optical Mouse");
  std::string other = mock.addVirtualPointer("Some virtual mouse");
  compose(tty, true);
  const auto& devices = process->machine().devices();
  EXPECT_TRUE(devices.count(real));
  EXPECT_FALSE(devices.count(filtered)) << "the filter's own output would be filtered again";
  EXPECT_TRUE(devices.count(other)) << "other virtual pointers are the user's";
  // Plugged in while running: passed by as well.
  std::string later = mock.addVirtualPointer("Velmora filtered Other Mouse", true);
  process->machine().processEvents();
  EXPECT_FALSE(process->machine().devices().count(later));
}

// The Xvfb mouse's pointer-acceleration profile, read as another client would.
int32_t serverProfile(const std::string& display) {
  Display* d = XOpenDisplay(display.c_str());
  if (!d) return 12345;
  int n = 0, id = 0;
  XIDeviceInfo* info = XIQueryDevice(d, XIAllDevices, &n);
  for (int i = 0; i < n; ++i)
    if (std::string(info[i].name) == "Xvfb mouse") id = info[i].deviceid;
  XIFreeDeviceInfo(info);
  Atom type;
  int format;
  unsigned long items, after;
  unsigned char* data = nullptr;
  int32_t v = 12345;
  XIGetProperty(d, id, XInternAtom(d, "Device Accel Profile", False), 0, 1, False, AnyPropertyType, &type, &format,
                &items, &after, &data);
  if (data && items == 1) std::memcpy(&v, data, 4);
  if (data) XFree(data);
  XCloseDisplay(d);
  return v;
}

TEST_F(DesktopComposition, OnX11TheServersOwnAccelerationComesBackAtQuit) {
  if (!std::filesystem::exists("/usr/bin/Xvfb")) GTEST_SKIP() << "Xvfb is not installed (package xvfb)";
  std::optional<test::XvfbServer> server;
  {
    // The X server is no part of the mocked machine: it runs without umockdev's preload.
    ScopedEnv plain;
    plain.unset("LD_PRELOAD");
    server.emplace();
  }
  if (server->display().empty()) GTEST_SKIP() << "Xvfb did not start";
  // A desktop has clients all along: an X server with none resets itself.
  Display* keep = XOpenDisplay(server->display().c_str());
  ASSERT_NE(keep, nullptr);
  const int32_t own = serverProfile(server->display());
  // The umockdev mouse is the X server's own mouse as the writer finds it (by name).
  mock.addBluetoothMouse("aa:bb:cc:dd:ee:ff", 0x093A, 0x2510, "Xvfb mouse", false);
  const std::string display = server->display();
  compose(
      [&display](const char* name) -> const char* {
        std::string_view n(name);
        if (n == "XDG_SESSION_TYPE") return "x11";
        if (n == "DISPLAY") return display.c_str();
        return nullptr;
      },
      false);
  ASSERT_FALSE(writerLog.empty());
  EXPECT_EQ(writerLog[0], "pointer speeds: writer x11");
  launch();
  loop.advance(3.0);
  ASSERT_TRUE(logged("applied favourite")) << "the agent applied nothing";
  EXPECT_EQ(serverProfile(server->display()), -1) << "the favourite's flat gain is not in force";
  EXPECT_TRUE(reports.empty()) << reports.front();

  quit();
  EXPECT_EQ(serverProfile(server->display()), own);
  // The writer's connection closes before the server ends.
  dropComposition();
  XCloseDisplay(keep);
}

}  // namespace
}  // namespace vl
