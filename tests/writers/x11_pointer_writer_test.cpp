// The X11 writer on a real X server (Xvfb): its mouse's own pointer-acceleration properties are
// written, read back, restored, guarded against bad values, and another client's change is seen.
#include "platform/linux/x11_pointer_writer.h"

#include <gtest/gtest.h>
#include <stdlib.h>
// After gtest: Xlib's macros (None, Bool, Status) would break its templates.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#undef Status

#include <cmath>
#include <cstring>
#include <filesystem>

#include "platform/linux/sd_event_runloop.h"
#include "writers/xvfb_server.h"
#include "support/result_value.h"

namespace vl::linux_input {
namespace {

constexpr int32_t kOne = 65536;

// A second client of the same server: reads and writes properties as another tool would.
class OtherClient {
 public:
  explicit OtherClient(const std::string& display) : d_(XOpenDisplay(display.c_str())) {}
  ~OtherClient() {
    if (d_) XCloseDisplay(d_);
  }
  int device(const char* name) const {
    int n = 0, id = 0;
    XIDeviceInfo* info = XIQueryDevice(d_, XIAllDevices, &n);
    for (int i = 0; i < n; ++i)
      if (std::strcmp(info[i].name, name) == 0) id = info[i].deviceid;
    XIFreeDeviceInfo(info);
    return id;
  }
  std::vector<uint8_t> raw(int dev, const char* prop) const {
    Atom type;
    int format;
    unsigned long items, after;
    unsigned char* data = nullptr;
    XIGetProperty(d_, dev, XInternAtom(d_, prop, False), 0, 16, False, AnyPropertyType, &type, &format, &items, &after, &data);
    std::vector<uint8_t> out(data, data + items * (format / 8));
    if (data) XFree(data);
    return out;
  }
  float floatOf(int dev, const char* prop) const {
    auto b = raw(dev, prop);
    float f = 0;
    if (b.size() >= 4) std::memcpy(&f, b.data(), 4);
    return f;
  }
  int32_t intOf(int dev, const char* prop) const {
    auto b = raw(dev, prop);
    int32_t v = 0;
    if (b.size() >= 4) std::memcpy(&v, b.data(), 4);
    return v;
  }
  void setFloat(int dev, const char* prop, float v) {
    XIChangeProperty(d_, dev, XInternAtom(d_, prop, False), XInternAtom(d_, "FLOAT", False), 32, XIPropModeReplace,
                     reinterpret_cast<unsigned char*>(&v), 1);
    XSync(d_, False);
  }
  Display* display() const { return d_; }

 private:
  Display* d_;
};

DesktopSpeed linearMapping(double resolution, double acceleration) {
  return {96.0 / resolution, acceleration < 0};
}

class X11WriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists("/usr/bin/Xvfb")) GTEST_SKIP() << "Xvfb is not installed (package xvfb)";
    server_ = std::make_unique<test::XvfbServer>();
    if (server_->display().empty()) GTEST_SKIP() << "Xvfb did not start";
    dir_ = std::filesystem::temp_directory_path() / ("velmora-x11-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir_);
    file_ = std::make_unique<WriterRestoreFile>((dir_ / "restore.plist").string());
    auto w = X11PointerWriter::open(server_->display().c_str(), linearMapping, file_.get(), nullptr);
    ASSERT_TRUE(w.ok()) << w.status().detail();
    writer_ = std::move(*w);
    other_ = std::make_unique<OtherClient>(server_->display());
    mouseId_ = other_->device("Xvfb mouse");
    ASSERT_NE(mouseId_, 0);
  }
  void TearDown() override {
    writer_.reset();
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
  }
  // The server's mouse has no device node: it is found by its name.
  InputDeviceInfo mouse() const { return {"", "", "", "Xvfb mouse", 0, 0, false}; }

  std::unique_ptr<test::XvfbServer> server_;
  std::filesystem::path dir_;
  std::unique_ptr<WriterRestoreFile> file_;
  std::unique_ptr<X11PointerWriter> writer_;
  std::unique_ptr<OtherClient> other_;
  int mouseId_ = 0;
};

TEST_F(X11WriterTest, AppliesReadsBackAndRestoresTheServersOwnAcceleration) {
  EXPECT_TRUE(writer_->handles(mouse()));
  EXPECT_EQ(writer_->nameFor(mouse()), "x11-ptraccel");
  EXPECT_FALSE(writer_->handles({"", "/dev/input/event99", "event99", "No such mouse", 0, 0, false}));
  const int32_t profile0 = other_->intOf(mouseId_, "Device Accel Profile");
  const float decel0 = other_->floatOf(mouseId_, "Device Accel Constant Deceleration");

  ASSERT_TRUE(writer_->setProperty(mouse(), "HIDPointerResolution", pl::Value::int32(400 * kOne)).ok());
  ASSERT_TRUE(writer_->setProperty(mouse(), "HIDMouseAcceleration", pl::Value::int32(-kOne)).ok());
  EXPECT_EQ(other_->intOf(mouseId_, "Device Accel Profile"), -1);
  EXPECT_NEAR(other_->floatOf(mouseId_, "Device Accel Constant Deceleration"), 400.0 / 96.0, 1e-5);
  EXPECT_EQ(writer_->property(mouse(), "HIDPointerResolution")->intValue(), 400 * kOne);
  EXPECT_EQ(writer_->property(mouse(), "HIDMouseAcceleration")->intValue(), -kOne);
  EXPECT_TRUE(file_->entry("x11", "name:Xvfb mouse").has_value()) << "the desktop's value is kept against a crash";

  // A second write is still restored to the first original, not to our own value.
  ASSERT_TRUE(writer_->setProperty(mouse(), "HIDPointerResolution", pl::Value::int32(800 * kOne)).ok());
  EXPECT_NEAR(other_->floatOf(mouseId_, "Device Accel Constant Deceleration"), 800.0 / 96.0, 1e-5);

  ASSERT_TRUE(writer_->restore(mouse()).ok());
  EXPECT_EQ(other_->intOf(mouseId_, "Device Accel Profile"), profile0);
  EXPECT_EQ(other_->floatOf(mouseId_, "Device Accel Constant Deceleration"), decel0);
  EXPECT_FALSE(file_->entry("x11", "name:Xvfb mouse").has_value());
  EXPECT_FALSE(writer_->property(mouse(), "HIDMouseAcceleration").has_value());
}

TEST_F(X11WriterTest, OutOfRangeAndNonNumbersNeverReachTheServer) {
  const float decel0 = other_->floatOf(mouseId_, "Device Accel Constant Deceleration");
  struct Bad {
    const char* key;
    pl::Value value;
    int64_t code;
  } bad[] = {
      {"HIDPointerResolution", pl::Value::int32(static_cast<int32_t>(9.99 * kOne)), writer_error::kResolutionRange},
      {"HIDPointerResolution", pl::Value::int32(static_cast<int32_t>(2000.01 * kOne)), writer_error::kResolutionRange},
      {"HIDMouseAcceleration", pl::Value::int32(static_cast<int32_t>(20.5 * kOne)), writer_error::kAccelerationRange},
      {"HIDMouseAcceleration", pl::Value(std::nan("")), writer_error::kNotANumber},
      {"HIDMouseAcceleration", pl::Value("fast"), writer_error::kNotANumber},
      {"HIDMouseAcceleration", pl::Value::int64(int64_t(1) << 40), writer_error::kNotANumber},
      {"HIDScrollResolution", pl::Value::int32(9 * kOne), writer_error::kUnknownKey},
  };
  for (const Bad& b : bad) {
    Status s = writer_->setProperty(mouse(), b.key, b.value);
    EXPECT_EQ(s.code(), b.code) << b.key;
  }
  EXPECT_EQ(other_->floatOf(mouseId_, "Device Accel Constant Deceleration"), decel0);
  EXPECT_FALSE(writer_->property(mouse(), "HIDPointerResolution").has_value()) << "a refused value is not remembered";
  // The edges are accepted.
  ASSERT_TRUE(writer_->setProperty(mouse(), "HIDPointerResolution", pl::Value::int32(2000 * kOne)).ok());
  ASSERT_TRUE(writer_->setProperty(mouse(), "HIDMouseAcceleration", pl::Value::int32(-kOne)).ok());
  EXPECT_NEAR(other_->floatOf(mouseId_, "Device Accel Constant Deceleration"), 2000.0 / 96.0, 1e-4);
  ASSERT_TRUE(writer_->setProperty(mouse(), "HIDPointerResolution", pl::Value::int32(10 * kOne)).ok());
  EXPECT_NEAR(other_->floatOf(mouseId_, "Device Accel Constant Deceleration"), 10.0 / 96.0, 1e-6);
  ASSERT_TRUE(writer_->restore(mouse()).ok());
}

TEST_F(X11WriterTest, AMappingGoneWrongIsClampedOrRefusedNeverPassedOn) {
  const float decel0 = other_->floatOf(mouseId_, "Device Accel Constant Deceleration");
  auto nan = X11PointerWriter::open(server_->display().c_str(), [](double, double) { return DesktopSpeed{std::nan(""), false}; },
                                    nullptr, nullptr);
  ASSERT_TRUE(nan.ok());
  EXPECT_EQ((*nan)->setProperty(mouse(), "HIDMouseAcceleration", pl::Value::int32(kOne)).code(), writer_error::kDeviceValueRange);
  EXPECT_EQ(other_->floatOf(mouseId_, "Device Accel Constant Deceleration"), decel0);
  auto huge = X11PointerWriter::open(server_->display().c_str(), [](double, double) { return DesktopSpeed{1e6, false}; },
                                     nullptr, nullptr);
  ASSERT_TRUE(huge.ok());
  ASSERT_TRUE((*huge)->setProperty(mouse(), "HIDMouseAcceleration", pl::Value::int32(kOne)).ok());
  EXPECT_NEAR(other_->floatOf(mouseId_, "Device Accel Constant Deceleration"), kMinDeceleration, 1e-6);
  ASSERT_TRUE((*huge)->restore(mouse()).ok());
  EXPECT_EQ(other_->floatOf(mouseId_, "Device Accel Constant Deceleration"), decel0);
  EXPECT_EQ(libinputFlatSpeedFor(1e6), 1.0);
  EXPECT_EQ(libinputFlatSpeedFor(0.0), -1.0);
  EXPECT_EQ(ptraccelDecelerationFor(1e-9), kMaxDeceleration);
}

TEST_F(X11WriterTest, AnotherClientsChangeIsReportedOnceAndOurOwnWritesAreNot) {
  std::vector<std::string> reports;
  writer_->onChangedBehindBack([&](const InputDeviceInfo& d) { reports.push_back(d.name); });
  ASSERT_TRUE(writer_->setProperty(mouse(), "HIDMouseAcceleration", pl::Value::int32(kOne)).ok());
  writer_->processEvents();
  EXPECT_TRUE(reports.empty()) << "our own write echoes back as a property event";

  other_->setFloat(mouseId_, "Device Accel Constant Deceleration", 3.5f);
  // The event crosses the server; wait for it on the writer's descriptor, as the loop would.
  for (int i = 0; i < 50 && reports.empty(); ++i) {
    pollfd p{writer_->fd(), POLLIN, 0};
    poll(&p, 1, 100);
    writer_->processEvents();
  }
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0], "Xvfb mouse");
  // The agent re-applies: the writer's value is back.
  ASSERT_TRUE(writer_->setProperty(mouse(), "HIDMouseAcceleration", pl::Value::int32(kOne)).ok());
  EXPECT_NEAR(other_->floatOf(mouseId_, "Device Accel Constant Deceleration"), 400.0 / 96.0, 1e-5);
  ASSERT_TRUE(writer_->restore(mouse()).ok());
}

TEST_F(X11WriterTest, OnTheProgramsRunLoopAChangeArrivesWithoutAsking) {
  auto loop = test::valueOf(linux_::SdEventRunLoop::create());
  ASSERT_TRUE(loop);
  auto w = X11PointerWriter::open(server_->display().c_str(), linearMapping, nullptr, loop.get());
  ASSERT_TRUE(w.ok());
  int reports = 0;
  (*w)->onChangedBehindBack([&](const InputDeviceInfo&) {
    ++reports;
    loop->stop(0);
  });
  ASSERT_TRUE((*w)->setProperty(mouse(), "HIDMouseAcceleration", pl::Value::int32(-kOne)).ok());
  other_->setFloat(mouseId_, "Device Accel Constant Deceleration", 2.5f);
  for (int i = 0; i < 50 && reports == 0; ++i) loop->runOnce(0.1);
  EXPECT_EQ(reports, 1);
  ASSERT_TRUE((*w)->restore(mouse()).ok());
}

TEST_F(X11WriterTest, ANextRunGivesBackWhatACrashedRunLeftBehind) {
  const float decel0 = other_->floatOf(mouseId_, "Device Accel Constant Deceleration");
  const int32_t profile0 = other_->intOf(mouseId_, "Device Accel Profile");
  ASSERT_TRUE(writer_->setProperty(mouse(), "HIDMouseAcceleration", pl::Value::int32(-kOne)).ok());
  writer_.reset();  // ends without restore, as a crash would
  EXPECT_EQ(other_->intOf(mouseId_, "Device Accel Profile"), -1);

  WriterRestoreFile reread((dir_ / "restore.plist").string());
  ASSERT_TRUE(reread.load().ok());
  auto next = X11PointerWriter::open(server_->display().c_str(), linearMapping, &reread, nullptr);
  ASSERT_TRUE(next.ok());
  ASSERT_TRUE((*next)->restoreLeftovers().ok());
  EXPECT_EQ(other_->intOf(mouseId_, "Device Accel Profile"), profile0);
  EXPECT_EQ(other_->floatOf(mouseId_, "Device Accel Constant Deceleration"), decel0);
  EXPECT_TRUE(reread.entries("x11").empty());
}

TEST(X11WriterLibinput, LibinputDriverProperties) {
  GTEST_SKIP() << "needs Xorg with the libinput input driver on evdev nodes: this machine has no /dev/input "
                  "and no /dev/uinput, and umockdev cannot give the X server's libinput the evdev ioctls it needs; "
                  "the libinput path shares the tested base and differs only in the property names";
}

}  // namespace
}  // namespace vl::linux_input
