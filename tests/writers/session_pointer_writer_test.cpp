// The agent's one call on the real desktop: the session's writer over Xvfb, with a previous
// run's leftovers given back before anything is written, and the model's mapping in force.
#include "tools/inputd/core/session_pointer_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "tools/inputd/core/cursor_curve.h"
#include "writers/xvfb_server.h"
// After gtest: Xlib's macros would break its templates.
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#undef Status

namespace vl::inputd {
namespace {

// The Xvfb mouse's "Device Accel Profile", read as another client would.
int32_t serverProfile(const std::string& display) {
  Display* d = XOpenDisplay(display.c_str());
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
  XIGetProperty(d, id, XInternAtom(d, "Device Accel Profile", False), 0, 1, False, AnyPropertyType, &type, &format, &items,
                &after, &data);
  if (data && items == 1) std::memcpy(&v, data, 4);
  if (data) XFree(data);
  XCloseDisplay(d);
  return v;
}

TEST(SessionPointerWriter, GivesBackLeftoversThenWritesTheModelsGain) {
  if (!std::filesystem::exists("/usr/bin/Xvfb")) GTEST_SKIP() << "Xvfb is not installed (package xvfb)";
  test::XvfbServer server;
  if (server.display().empty()) GTEST_SKIP() << "Xvfb did not start";
  auto dir = std::filesystem::temp_directory_path() / ("velmora-session-" + std::to_string(getpid()));
  std::filesystem::remove_all(dir);
  const linux_input::SessionFacts facts{"x11", "XFCE", server.display(), ""};
  const linux_input::InputDeviceInfo mouse{"", "", "", "Xvfb mouse", 0, 0, false};
  std::vector<std::string> logs;
  auto log = [&](const std::string& l) { logs.push_back(l); };
  // A desktop has clients all along; without one an X server resets itself when the last
  // client leaves, and the crash below would undo itself.
  Display* desktop = XOpenDisplay(server.display().c_str());
  ASSERT_NE(desktop, nullptr);

  // A first run writes and "crashes" (its writer is dropped without restore).
  {
    auto first = openSessionPointerWriter(facts, dir.string(), nullptr, log);
    ASSERT_EQ(first.writer->nameFor(mouse), "x11-ptraccel");
    ASSERT_TRUE(first.writer->setProperty(mouse, "HIDPointerResolution", pl::Value::int32(400 << 16)).ok());
    ASSERT_TRUE(first.writer->setProperty(mouse, "HIDMouseAcceleration", pl::Value::int32(-65536)).ok());
  }
  ASSERT_FALSE(logs.empty());
  EXPECT_EQ(logs.front(), "pointer speeds: writer x11");
  EXPECT_EQ(serverProfile(server.display()), -1) << "the crashed run's value is still in force";

  // The next run finds the file and puts the server's own values back before anything else.
  auto second = openSessionPointerWriter(facts, dir.string(), nullptr, log);
  EXPECT_TRUE(second.restoreFile->entries("x11").empty());
  const int32_t own = serverProfile(server.display());
  EXPECT_NE(own, -1) << "the server's own profile is back";
  // Its approximate writes use the model's fitted gain: 400 / 0.6875 → about 0.77 px/count.
  ASSERT_TRUE(second.writer->setProperty(mouse, "HIDMouseAcceleration", pl::Value::int32(45056)).ok());
  EXPECT_NEAR(flatSpeedFor(400, 0.6875).gain, 0.77, 0.01);
  EXPECT_EQ(serverProfile(server.display()), -1);
  ASSERT_TRUE(second.writer->restore(mouse).ok());
  EXPECT_EQ(serverProfile(server.display()), own);
  XCloseDisplay(desktop);
  std::filesystem::remove_all(dir);
}

TEST(SessionPointerWriter, NothingAvailableMeansTheRefusingWriter) {
  linux_input::WriterOpeners none;
  none.inputd = []() -> Result<std::unique_ptr<linux_input::PointerWriter>> {
    return Status::failure(linux_input::writer_error::kUnavailable, "velmora-inputd is not installed");
  };
  std::vector<std::string> logs;
  auto s = openSessionPointerWriter({"wayland", "GNOME", "", "wayland-0"}, "/nonexistent-runtime", nullptr,
                                    [&](const std::string& l) { logs.push_back(l); }, &none);
  EXPECT_EQ(s.writer->name(), "none");
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_NE(logs[0].find("velmora-inputd is not installed"), std::string::npos);
}

}  // namespace
}  // namespace vl::inputd
