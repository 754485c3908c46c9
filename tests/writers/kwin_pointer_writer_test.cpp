// The KWin writer against a stand-in of KWin's input-device interface on a private bus.
#include "platform/linux/kwin_pointer_writer.h"

#include <gtest/gtest.h>
#include <systemd/sd-bus.h>

#include <cmath>
#include <filesystem>
#include <thread>

#include "support/private_bus.h"

namespace vl::linux_input {
namespace {

constexpr int32_t kOne = 65536;

// A second client on the bus (the settings panel, another tool).
class Panel {
 public:
  explicit Panel(const std::string& address) {
    sd_bus_new(&bus_);
    sd_bus_set_address(bus_, address.c_str());
    sd_bus_set_bus_client(bus_, 1);
    if (sd_bus_start(bus_) < 0) bus_ = sd_bus_unref(bus_);
  }
  ~Panel() { sd_bus_flush_close_unref(bus_); }
  bool ok() const { return bus_ != nullptr; }
  bool kwinThere() {
    sd_bus_message* reply = nullptr;
    int has = 0;
    if (sd_bus_call_method(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
                           nullptr, &reply, "s", "org.kde.KWin") >= 0)
      sd_bus_message_read(reply, "b", &has);
    sd_bus_message_unref(reply);
    return has;
  }
  double accel(const std::string& dev) {
    double v = -99;
    sd_bus_get_property_trivial(bus_, "org.kde.KWin", ("/org/kde/KWin/InputDevice/" + dev).c_str(),
                                "org.kde.KWin.InputDevice", "pointerAcceleration", nullptr, 'd', &v);
    return v;
  }
  int flag(const std::string& dev, const char* prop) {
    int v = -1;
    sd_bus_get_property_trivial(bus_, "org.kde.KWin", ("/org/kde/KWin/InputDevice/" + dev).c_str(),
                                "org.kde.KWin.InputDevice", prop, nullptr, 'b', &v);
    return v;
  }
  void setAccel(const std::string& dev, double v) {
    sd_bus_set_property(bus_, "org.kde.KWin", ("/org/kde/KWin/InputDevice/" + dev).c_str(), "org.kde.KWin.InputDevice",
                        "pointerAcceleration", nullptr, "d", v);
  }

 private:
  sd_bus* bus_ = nullptr;
};

InputDeviceInfo device(const std::string& sys, const std::string& name) {
  return {"/sys/devices/virtual/input/input1/" + sys, "/dev/input/" + sys, sys, name, 0x46d, 0xc077, false};
}

class KWinWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("velmora-kwin-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir_);
    bus_ = std::make_unique<test::PrivateBus>(dir_.string());
    if (bus_->address().empty()) GTEST_SKIP() << "dbus-daemon could not start a private bus";
    if (!std::filesystem::exists("/usr/lib/python3/dist-packages/dbusmock"))
      GTEST_SKIP() << "python3-dbusmock is not installed";
    mock_ = std::make_unique<test::BusProgram>(
        std::vector<std::string>{"/usr/bin/python3", "-m", "dbusmock", "--template",
                                 std::string(VELMORA_TEST_DATA) + "/../writers/kwin_input_template.py"},
        bus_->address(), (dir_ / "mock.log").string());
    panel_ = std::make_unique<Panel>(bus_->address());
    ASSERT_TRUE(panel_->ok());
    for (int i = 0; i < 100 && !panel_->kwinThere(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(panel_->kwinThere()) << "the stand-in did not start";
    file_ = std::make_unique<WriterRestoreFile>((dir_ / "restore.plist").string());
    auto w = KWinPointerWriter::open(bus_->address(), [](double r, double a) { return DesktopSpeed{96.0 / r, a < 0}; },
                                     file_.get(), nullptr);
    ASSERT_TRUE(w.ok()) << w.status().detail();
    writer_ = std::move(*w);
  }
  void TearDown() override {
    writer_.reset();
    mock_.reset();
    bus_.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  std::filesystem::path dir_;
  std::unique_ptr<test::PrivateBus> bus_;
  std::unique_ptr<test::BusProgram> mock_;
  std::unique_ptr<Panel> panel_;
  std::unique_ptr<WriterRestoreFile> file_;
  std::unique_ptr<KWinPointerWriter> writer_;
};

TEST_F(KWinWriterTest, SetsTheFlatSpeedReadsBackAndRestoresTheDesktopsOwn) {
  const auto mouse = device("event5", "Logitech USB Optical Mouse");
  EXPECT_TRUE(writer_->handles(mouse));
  EXPECT_FALSE(writer_->handles(device("event7", "AT Translated Set 2 keyboard"))) << "not a pointer";
  EXPECT_FALSE(writer_->handles(device("event42", "Unknown"))) << "not known to KWin";
  EXPECT_FALSE(writer_->handles(device("../event5", "Sneaky"))) << "no path outside KWin's devices";

  // 96 / 80 = 1.2 pixels per count: flat profile, speed 0.2.
  ASSERT_TRUE(writer_->setProperty(mouse, "HIDPointerResolution", pl::Value::int32(80 * kOne)).ok());
  ASSERT_TRUE(writer_->setProperty(mouse, "HIDMouseAcceleration", pl::Value::int32(-kOne)).ok());
  EXPECT_NEAR(panel_->accel("event5"), 0.2, 1e-9);
  EXPECT_EQ(panel_->flag("event5", "pointerAccelerationProfileFlat"), 1);
  EXPECT_EQ(panel_->flag("event5", "pointerAccelerationProfileAdaptive"), 0);
  EXPECT_EQ(writer_->property(mouse, "HIDMouseAcceleration")->intValue(), -kOne);
  EXPECT_TRUE(file_->entry("kwin", "/dev/input/event5").has_value());

  // 96 / 400 is below libinput's slowest flat speed: the nearest reachable, -1, never less.
  ASSERT_TRUE(writer_->setProperty(mouse, "HIDPointerResolution", pl::Value::int32(400 * kOne)).ok());
  EXPECT_NEAR(panel_->accel("event5"), -0.76, 1e-9);
  EXPECT_EQ(writer_->setProperty(mouse, "HIDMouseAcceleration", pl::Value(std::nan(""))).code(), writer_error::kNotANumber);
  EXPECT_NEAR(panel_->accel("event5"), -0.76, 1e-9);

  ASSERT_TRUE(writer_->restore(mouse).ok());
  EXPECT_EQ(panel_->accel("event5"), 0.0);
  EXPECT_EQ(panel_->flag("event5", "pointerAccelerationProfileFlat"), 0);
  EXPECT_EQ(panel_->flag("event5", "pointerAccelerationProfileAdaptive"), 1);
  EXPECT_FALSE(file_->entry("kwin", "/dev/input/event5").has_value());
}

TEST_F(KWinWriterTest, ThePanelsChangeIsReportedAndOurOwnEchoIsNot) {
  const auto mouse = device("event5", "Logitech USB Optical Mouse");
  int reports = 0;
  writer_->onChangedBehindBack([&](const InputDeviceInfo& d) {
    EXPECT_EQ(d.sysName, "event5");
    ++reports;
  });
  ASSERT_TRUE(writer_->setProperty(mouse, "HIDMouseAcceleration", pl::Value::int32(-kOne)).ok());
  writer_->processEvents(0.3);
  EXPECT_EQ(reports, 0);
  panel_->setAccel("event5", 0.5);
  for (int i = 0; i < 20 && reports == 0; ++i) writer_->processEvents(0.1);
  EXPECT_EQ(reports, 1);
  ASSERT_TRUE(writer_->restore(mouse).ok());
}

TEST_F(KWinWriterTest, ADeviceThatVanishesMidWriteIsReportedGoneAndLeavesNothingBehind) {
  const auto vanishing = device("event9", "Vanishing Mouse");
  ASSERT_TRUE(writer_->handles(vanishing));
  Status s = writer_->setProperty(vanishing, "HIDMouseAcceleration", pl::Value::int32(kOne));
  EXPECT_EQ(s.code(), writer_error::kNoDevice) << s.detail();
  EXPECT_FALSE(writer_->handles(vanishing));
  // Nothing to give back to a device that is gone, and no error for it.
  EXPECT_TRUE(writer_->restore(vanishing).ok());
  EXPECT_FALSE(file_->entry("kwin", "/dev/input/event9").has_value());
}

TEST_F(KWinWriterTest, ANextRunGivesBackWhatACrashedRunLeftBehind) {
  const auto mouse = device("event5", "Logitech USB Optical Mouse");
  ASSERT_TRUE(writer_->setProperty(mouse, "HIDMouseAcceleration", pl::Value::int32(-kOne)).ok());
  writer_.reset();
  WriterRestoreFile reread((dir_ / "restore.plist").string());
  ASSERT_TRUE(reread.load().ok());
  auto next = KWinPointerWriter::open(bus_->address(), [](double r, double a) { return DesktopSpeed{96.0 / r, a < 0}; },
                                      &reread, nullptr);
  ASSERT_TRUE(next.ok());
  ASSERT_TRUE((*next)->restoreLeftovers().ok());
  EXPECT_EQ(panel_->accel("event5"), 0.0);
  EXPECT_EQ(panel_->flag("event5", "pointerAccelerationProfileAdaptive"), 1);
  EXPECT_TRUE(reread.entries("kwin").empty());
}

TEST(KWinWriterOpen, WithoutKWinOnTheBusItIsUnavailable) {
  auto dir = std::filesystem::temp_directory_path() / ("velmora-kwin-none-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  {
    test::PrivateBus bus(dir.string());
    if (bus.address().empty()) GTEST_SKIP() << "dbus-daemon could not start a private bus";
    auto w = KWinPointerWriter::open(bus.address(), nullptr, nullptr, nullptr);
    EXPECT_EQ(w.status().code(), writer_error::kUnavailable);
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace vl::linux_input
