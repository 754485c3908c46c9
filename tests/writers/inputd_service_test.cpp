// velmora-inputd: its bookkeeping with fake devices and policy, its bus object against the
// inputd writer on a private bus, and the kernel's grab and uinput where the machine has them.
#include "tools/inputd/core/inputd_service.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <linux/uinput.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <thread>

#include "platform/linux/inputd_pointer_writer.h"
#include "support/private_bus.h"
#include "tools/inputd/core/inputd_bus.h"
#include "tools/inputd/core/kernel_devices.h"

namespace vl::inputd {
namespace {

struct DeviceLog {
  std::vector<InputEvent> pending;  // what the device will report
  std::vector<InputEvent> emitted;  // what reached the virtual pointer
  bool gone = false;
  bool grabbed = false;
};

class FakeInput : public GrabbedInput {
 public:
  explicit FakeInput(DeviceLog& log) : log_(log), fd_(eventfd(0, EFD_CLOEXEC)) { log_.grabbed = true; }
  ~FakeInput() override {
    log_.grabbed = false;
    close(fd_);
  }
  int fd() const override { return fd_; }
  Status read(std::vector<InputEvent>& out) override {
    out.insert(out.end(), log_.pending.begin(), log_.pending.end());
    log_.pending.clear();
    return log_.gone ? Status::failure(inputd_error::kDeviceFailed, "ENODEV") : Status::success();
  }

 private:
  DeviceLog& log_;
  int fd_;
};

class FakeOutput : public VirtualPointer {
 public:
  explicit FakeOutput(DeviceLog& log) : log_(log) {}
  Status write(const std::vector<InputEvent>& events) override {
    log_.emitted.insert(log_.emitted.end(), events.begin(), events.end());
    return Status::success();
  }

 private:
  DeviceLog& log_;
};

class FakeOpener : public DeviceOpener {
 public:
  std::map<std::string, DeviceLog> devices;
  Result<OpenedDevice> open(const std::string& devNode) override {
    auto it = devices.find(devNode);
    if (it == devices.end()) return Status::failure(inputd_error::kDeviceFailed, "ENOENT");
    if (it->second.grabbed) return Status::failure(inputd_error::kDeviceFailed, "EBUSY");
    OpenedDevice d;
    d.input = std::make_unique<FakeInput>(it->second);
    d.output = std::make_unique<FakeOutput>(it->second);
    return d;
  }
};

// Device 3 belongs to another seat, device 4 is a keyboard, uid 666 is refused by polkit.
class FakePolicy : public AccessPolicy {
 public:
  int asked = 0;
  Status mayFilter(const Caller& caller, const std::string& devNode) override {
    ++asked;
    if (devNode == "/dev/input/event3") return Status::failure(inputd_error::kNotOwner, "other seat");
    if (devNode == "/dev/input/event4") return Status::failure(inputd_error::kNotAPointer, "keyboard");
    if (caller.uid == 666) return Status::failure(inputd_error::kNotAllowed, "polkit said no");
    return Status::success();
  }
};

const Caller kAgent{":1.10", 1000, 100};
const Caller kOther{":1.20", 1001, 200};

TEST(InputdService, FiltersReleasesAndRefusesWhatIsNotTheCallers) {
  FakeOpener opener;
  for (int n : {1, 2, 3, 4}) opener.devices["/dev/input/event" + std::to_string(n)];
  FakePolicy policy;
  int watches = 0;
  InputdService service(opener, policy, [&](int, std::function<void()>) { return uint64_t(++watches); }, [&](uint64_t) { --watches; });

  struct Refusal {
    Caller caller;
    std::string node;
    double res, accel;
    int64_t code;
  } refusals[] = {
      {kAgent, "/dev/input/event3", 400, 1, inputd_error::kNotOwner},
      {kAgent, "/dev/input/event4", 400, 1, inputd_error::kNotAPointer},
      {{":1.30", 666, 300}, "/dev/input/event1", 400, 1, inputd_error::kNotAllowed},
      {kAgent, "/dev/input/../input/event1", 400, 1, inputd_error::kBadNode},
      {kAgent, "/dev/hidraw0", 400, 1, inputd_error::kBadNode},
      {kAgent, "/dev/input/event", 400, 1, inputd_error::kBadNode},
      {kAgent, "/dev/input/event1", 9.99, 1, inputd_error::kBadSpeed},
      {kAgent, "/dev/input/event1", 400, 20.5, inputd_error::kBadSpeed},
      {kAgent, "/dev/input/event1", 400, std::nan(""), inputd_error::kBadSpeed},
      {kAgent, "/dev/input/event9", 400, 1, inputd_error::kDeviceFailed},
  };
  for (const Refusal& r : refusals) EXPECT_EQ(service.filter(r.caller, r.node, r.res, r.accel).code(), r.code) << r.node;
  EXPECT_EQ(service.filtered(), 0u);
  EXPECT_FALSE(opener.devices["/dev/input/event3"].grabbed);

  ASSERT_TRUE(service.filter(kAgent, "/dev/input/event1", 400, 0.6875).ok());
  EXPECT_TRUE(opener.devices["/dev/input/event1"].grabbed);
  EXPECT_EQ(watches, 1);
  EXPECT_EQ(service.filter(kOther, "/dev/input/event1", 400, 1).code(), inputd_error::kBusy);
  EXPECT_EQ(service.release(kOther, "/dev/input/event1").code(), inputd_error::kBusy);
  // A new speed keeps the grab; read back gives it.
  ASSERT_TRUE(service.filter(kAgent, "/dev/input/event1", 800, 3.0).ok());
  EXPECT_EQ(service.speed("/dev/input/event1"), std::make_pair(800.0, 3.0));
  ASSERT_TRUE(service.release(kAgent, "/dev/input/event1").ok());
  EXPECT_FALSE(opener.devices["/dev/input/event1"].grabbed);
  EXPECT_EQ(watches, 0);
  EXPECT_EQ(service.release(kAgent, "/dev/input/event1").code(), inputd_error::kNotFiltered);
}

TEST(InputdService, MotionGoesThroughTheModelAndAGoneDeviceOrCallerEndsTheGrab) {
  FakeOpener opener;
  opener.devices["/dev/input/event1"];
  opener.devices["/dev/input/event2"];
  FakePolicy policy;
  InputdService service(opener, policy, nullptr, nullptr);
  ASSERT_TRUE(service.filter(kAgent, "/dev/input/event1", 67, 1.0).ok());
  ASSERT_TRUE(service.filter(kAgent, "/dev/input/event2", 400, 0.6875).ok());
  auto curve = CursorCurve::create(nullptr, 67, 1.0);
  ASSERT_TRUE(curve.ok());
  DeviceLog& one = opener.devices["/dev/input/event1"];
  one.pending = {{5, kEvRel, kRelX, 10}, {5, kEvSyn, kSynReport, 0}};
  service.pump("/dev/input/event1");
  ASSERT_EQ(one.emitted.size(), 2u);
  EXPECT_EQ(one.emitted[0].value, curve->cursorFixed(10) / 65536);

  // Unplugged: the last events still go out, then the filter ends.
  one.pending = {{6, kEvRel, kRelX, 10}, {6, kEvSyn, kSynReport, 0}};
  one.gone = true;
  service.pump("/dev/input/event1");
  EXPECT_EQ(one.emitted.size(), 4u);
  EXPECT_FALSE(one.grabbed);
  EXPECT_FALSE(service.speed("/dev/input/event1"));

  // The agent crashed: its bus name left, its grabs go.
  service.callerGone(kOther.busName);
  EXPECT_TRUE(opener.devices["/dev/input/event2"].grabbed);
  service.callerGone(kAgent.busName);
  EXPECT_FALSE(opener.devices["/dev/input/event2"].grabbed);
  EXPECT_EQ(service.filtered(), 0u);
}

// The real bus object on a private bus, served from its own thread, with the inputd writer as
// its client: the stand-in differs from velmora-inputd only in its fake devices and policy.
class InputdBusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("velmora-inputd-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir_);
    bus_ = std::make_unique<test::PrivateBus>(dir_.string());
    if (bus_->address().empty()) GTEST_SKIP() << "dbus-daemon could not start a private bus";
    for (int n : {1, 2, 3}) opener_.devices["/dev/input/event" + std::to_string(n)];
    std::atomic<int> ready{0};
    server_ = std::thread([this, &ready] {
      sd_bus* bus = nullptr;
      sd_bus_new(&bus);
      sd_bus_set_address(bus, bus_->address().c_str());
      sd_bus_set_bus_client(bus, 1);
      if (sd_bus_start(bus) < 0) {
        ready = -1;
        return;
      }
      InputdService service(opener_, policy_, nullptr, nullptr);
      {
        InputdBus object(bus, service);
        ready = object.ok() && sd_bus_request_name(bus, kInputdBusName, 0) >= 0 ? 1 : -1;
        while (!stop_) {
          while (sd_bus_process(bus, nullptr) > 0) {
          }
          sd_bus_wait(bus, 20000);
        }
        service.releaseAll();
      }
      sd_bus_flush_close_unref(bus);
    });
    while (ready == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(ready, 1);
  }
  void TearDown() override {
    stop_ = true;
    if (server_.joinable()) server_.join();
    bus_.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::unique_ptr<linux_input::InputdPointerWriter> writer() {
    auto w = linux_input::InputdPointerWriter::open(bus_->address(), nullptr, nullptr);
    EXPECT_TRUE(w.ok()) << w.status().detail();
    return w.ok() ? std::move(*w) : nullptr;
  }

  std::filesystem::path dir_;
  std::unique_ptr<test::PrivateBus> bus_;
  FakeOpener opener_;
  FakePolicy policy_;
  std::thread server_;
  std::atomic<bool> stop_{false};
};

linux_input::InputDeviceInfo node(int n) {
  return {"", "/dev/input/event" + std::to_string(n), "event" + std::to_string(n), "Mouse", 0, 0, false};
}

TEST_F(InputdBusTest, TheWriterFiltersReadsBackAndReleases) {
  auto w = writer();
  ASSERT_TRUE(w);
  EXPECT_EQ(w->name(), "inputd");
  EXPECT_TRUE(w->handles(node(1)));
  EXPECT_FALSE(w->handles({"", "", "", "Xvfb mouse", 0, 0, false}));
  ASSERT_TRUE(w->setProperty(node(1), "HIDPointerResolution", pl::Value::int32(800 * 65536)).ok());
  ASSERT_TRUE(w->setProperty(node(1), "HIDMouseAcceleration", pl::Value::int32(3 * 65536)).ok());
  auto speed = w->serviceSpeed(node(1));
  ASSERT_TRUE(speed.ok()) << speed.status().detail();
  EXPECT_EQ(*speed, std::make_pair(800.0, 3.0));
  // Refusals come back as failures that say why.
  Status refused = w->setProperty(node(3), "HIDMouseAcceleration", pl::Value::int32(65536));
  EXPECT_EQ(refused.code(), linux_input::writer_error::kWriteFailed);
  EXPECT_NE(refused.detail().find("other seat"), std::string::npos) << refused.detail();
  ASSERT_TRUE(w->restore(node(1)).ok());
  EXPECT_FALSE(w->serviceSpeed(node(1)).ok());
}

TEST_F(InputdBusTest, AClientThatLeavesTheBusGivesItsDevicesBack) {
  auto w = writer();
  ASSERT_TRUE(w);
  ASSERT_TRUE(w->setProperty(node(2), "HIDMouseAcceleration", pl::Value::int32(65536)).ok());
  w.reset();  // the agent's connection closes without a release, as in a crash
  auto other = writer();
  ASSERT_TRUE(other);
  bool released = false;
  for (int i = 0; i < 100 && !released; ++i) {
    released = !other->serviceSpeed(node(2)).ok();
    if (!released) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(released);
}

// A mouse of the test's own, made through uinput, so that no real device is ever grabbed.
class SourceMouse {
 public:
  SourceMouse() : fd_(::open("/dev/uinput", O_WRONLY | O_NONBLOCK | O_CLOEXEC)) {
    if (fd_ < 0) return;
    ioctl(fd_, UI_SET_EVBIT, EV_KEY);
    ioctl(fd_, UI_SET_KEYBIT, BTN_LEFT);
    ioctl(fd_, UI_SET_EVBIT, EV_REL);
    ioctl(fd_, UI_SET_RELBIT, REL_X);
    ioctl(fd_, UI_SET_RELBIT, REL_Y);
    uinput_setup setup{};
    setup.id.bustype = BUS_VIRTUAL;
    std::strcpy(setup.name, "Velmora test mouse");
    char sysname[64] = {};
    if (ioctl(fd_, UI_DEV_SETUP, &setup) < 0 || ioctl(fd_, UI_DEV_CREATE) < 0 ||
        ioctl(fd_, UI_GET_SYSNAME(sizeof sysname), sysname) < 0)
      return;
    const std::string dir = std::string("/sys/devices/virtual/input/") + sysname;
    for (int i = 0; i < 100 && node_.empty(); ++i) {
      std::error_code ec;
      for (const auto& e : std::filesystem::directory_iterator(dir, ec))
        if (e.path().filename().string().rfind("event", 0) == 0) node_ = "/dev/input/" + e.path().filename().string();
      if (node_.empty() || !std::filesystem::exists(node_)) {
        node_.clear();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    }
  }
  ~SourceMouse() {
    if (fd_ >= 0) {
      ioctl(fd_, UI_DEV_DESTROY);
      close(fd_);
    }
  }
  const std::string& node() const { return node_; }

 private:
  int fd_;
  std::string node_;
};

TEST(InputdKernel, GrabEndsWithItsHolderAndTheVirtualPointerIsMade) {
  if (!std::filesystem::exists("/dev/uinput")) GTEST_SKIP() << "/dev/uinput is absent on this machine (no uinput module or no access)";
  if (!std::filesystem::exists("/dev/input")) GTEST_SKIP() << "/dev/input is absent on this machine";
  SourceMouse mouse;
  if (mouse.node().empty()) GTEST_SKIP() << "cannot make a uinput mouse here (no access to /dev/uinput)";
  auto first = grabEventNode(mouse.node());
  ASSERT_TRUE(first.ok()) << first.status().detail();
  EXPECT_FALSE(grabEventNode(mouse.node()).ok()) << "a grabbed device is this process's alone";
  first->reset();
  pid_t child = fork();
  if (child == 0) {
    auto g = grabEventNode(mouse.node());
    _exit(g.ok() ? 0 : 1);  // ends holding the grab, as a crash would
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(grabEventNode(mouse.node()).ok()) << "the kernel ends a dead process's grab";
  KernelDeviceOpener opener;
  auto opened = opener.open(mouse.node());
  ASSERT_TRUE(opened.ok()) << opened.status().detail();
  EXPECT_FALSE(grabEventNode(mouse.node()).ok());
}

}  // namespace
}  // namespace vl::inputd

namespace vl::inputd {
namespace {

// The real program on a private bus: it serves, refuses a device udev does not know (this
// machine has no input devices at all), and ends on SIGTERM.
TEST(InputdProgram, ServesOnTheBusAndRefusesAnUnknownDevice) {
  const std::string program = std::string(VELMORA_BIN_DIR) + "/velmora-inputd";
  if (!std::filesystem::exists(program)) GTEST_SKIP() << "velmora-inputd is not built";
  auto dir = std::filesystem::temp_directory_path() / ("velmora-inputd-prog-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  {
    test::PrivateBus bus(dir.string());
    if (bus.address().empty()) GTEST_SKIP() << "dbus-daemon could not start a private bus";
    test::BusProgram service({program, "--bus", bus.address()}, bus.address(), (dir / "inputd.log").string());
    ASSERT_TRUE(service.started());
    Result<std::unique_ptr<linux_input::InputdPointerWriter>> w = Status::failure(1, "not yet");
    for (int i = 0; i < 100 && !w.ok(); ++i) {
      w = linux_input::InputdPointerWriter::open(bus.address(), nullptr, nullptr);
      if (!w.ok()) std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    ASSERT_TRUE(w.ok()) << w.status().detail();
    Status s = (*w)->setProperty({"", "/dev/input/event0", "event0", "Mouse", 0, 0, false}, "HIDMouseAcceleration",
                                 pl::Value::int32(65536));
    EXPECT_EQ(s.code(), linux_input::writer_error::kWriteFailed);
    EXPECT_NE(s.detail().find("udev"), std::string::npos) << s.detail();
  }
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

}  // namespace
}  // namespace vl::inputd
