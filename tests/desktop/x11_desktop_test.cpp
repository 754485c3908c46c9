// The X11 screens and pointer adapters on a real X server (Xvfb): frames in the port's
// convention, a screen resize reaching the agent as its display-change moment, and the pointer
// moved and read back.
#include <gtest/gtest.h>

#include "agent/snapping/ax_helpers.h"
#include "platform/linux/desktop_session_ports.h"
#include "platform/linux/x11_desktop.h"
#include "tests/desktop/agent_bench.h"
#include "tests/desktop/desktop_env.h"

namespace vl {
namespace {

using linux_::framesFromRootRects;
using linux_::X11Cursor;
using linux_::X11Screens;

TEST(X11Frames, MainScreenFirstAndFlippedSoThatTopLeftPointsLandOnTheRightScreen) {
  // A laptop panel at the top left, primary, and a taller monitor to its right, lower down.
  std::vector<Rect> root = {{1920, 200, 2560, 1440}, {0, 0, 1920, 1080}};
  auto frames = framesFromRootRects(root, 1);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0], (Rect{0, 0, 1920, 1080}));
  EXPECT_EQ(frames[1], (Rect{1920, 1080 - 1640, 2560, 1440}));
  Platform p;
  struct Fixed : Screens {
    std::vector<Rect> f;
    std::vector<Rect> frames() const override { return f; }
    Token observeChanges(std::function<void()>) override { return 1; }
    void unobserve(Token) override {}
  } screens;
  screens.f = frames;
  p.screens = &screens;
  EXPECT_TRUE(QS842withinScreen(p.screens, 10, 10));
  EXPECT_TRUE(QS842withinScreen(p.screens, 1920 + 5, 200 + 5));
  EXPECT_FALSE(QS842withinScreen(p.screens, 1920 + 5, 100)) << "above the right monitor";
  EXPECT_FALSE(QS842withinScreen(p.screens, 100, 1100)) << "below the panel";

  // A primary that is not at the top cannot be the main screen: the topmost one is.
  auto lower = framesFromRootRects(root, 0);
  EXPECT_EQ(lower[0], (Rect{0, 0, 1920, 1080}));
  EXPECT_TRUE(framesFromRootRects({}, 0).empty());
}

class OnXvfb : public test::AgentOnSim {
 protected:
  // The agent unobserves the screens as it goes: it goes first.
  ~OnXvfb() override { agent.reset(); }
  void SetUp() override {
    if (!display.whyNot().empty()) GTEST_SKIP() << display.whyNot();
  }
  test::VirtualDisplay display{home.path()};
  std::unique_ptr<X11Screens> screens;
};

TEST_F(OnXvfb, AScreenArrangementChangeIsTheAgentsDisplayChange) {
  auto made = X11Screens::create(display.name());
  ASSERT_TRUE(made) << made.status().detail();
  screens = std::move(*made);
  if (!screens->hasRandr()) GTEST_SKIP() << "this Xvfb has no RandR extension";
  EXPECT_EQ(screens->frames().front(), (Rect{0, 0, 1280, 1024}));
  platform.screens = screens.get();
  RegistryId mouse = storedMouse();
  launch();
  loop.advance(2);
  ASSERT_EQ(writesTo(mouse), 2u);
  mac.clearWrites();

  // xrandr, as the desktop's display settings would change the arrangement. (Xvfb's one output
  // has a single mode and its largest size is its first, so it cannot be resized.)
  ASSERT_EQ(test::runProgram({"/usr/bin/xrandr", "--output", "screen", "--primary"}, {{"DISPLAY", display.name()}}), 0)
      << "xrandr (x11-xserver-utils) failed";
  int reports = 0;
  for (int i = 0; i < 50 && reports == 0; ++i) reports += screens->processPending(0.1);
  EXPECT_EQ(reports, 1) << "one report for the change";
  EXPECT_EQ(screens->frames().front(), (Rect{0, 0, 1280, 1024}));
  EXPECT_EQ(logged("display changed: applying in 2 s"), 1u);
  loop.runPass();
  loop.advance(1.99);
  EXPECT_EQ(writesTo(mouse), 0u);
  loop.advance(0.02);
  EXPECT_EQ(writesTo(mouse), 2u);
}

TEST_F(OnXvfb, ThePointerGoesWhereItIsSentAndNowhereOffScreen) {
  auto cursor = X11Cursor::create(display.name());
  ASSERT_TRUE(cursor) << cursor.status().detail();
  X11Cursor& c = **cursor;
  EXPECT_EQ(c.warpMouseCursorPosition({300.7, 200.2}), kCGErrorSuccess);
  EXPECT_EQ(c.location(), (Point{300, 200})) << "whole pixels, rounded down";
  EXPECT_EQ(c.currentButtonState(), 0u);
  EXPECT_EQ(c.hidModifierFlags(), 0u);
  auto e = c.createMouseEvent(kCGEventMouseMoved, {640, 512}, kCGMouseButtonLeft);
  ASSERT_TRUE(e);
  c.postEvent(kCGSessionEventTap, *e);
  EXPECT_EQ(c.location(), (Point{640, 512}));
  EXPECT_EQ(c.warpMouseCursorPosition({5000, 10}), kCGErrorFailure);
  EXPECT_EQ(c.warpMouseCursorPosition({-1, 10}), kCGErrorFailure);
  EXPECT_EQ(c.location(), (Point{640, 512})) << "a refused move leaves the pointer";
}

TEST(DesktopSession, SnappingIsSwitchedOffWithAMessageWhereThePointerCannotBeMoved) {
  using linux_::DisplayServer;
  auto env = [](std::map<std::string, std::string> m) {
    return [m](const char* name) -> const char* {
      auto it = m.find(name);
      return it == m.end() ? nullptr : it->second.c_str();
    };
  };
  EXPECT_EQ(linux_::detectDisplayServer(env({{"DISPLAY", ":0"}})), DisplayServer::X11);
  EXPECT_EQ(linux_::detectDisplayServer(env({{"XDG_SESSION_TYPE", "x11"}, {"DISPLAY", ":1"}})), DisplayServer::X11);
  // XWayland's DISPLAY does not make a Wayland session an X11 one.
  EXPECT_EQ(linux_::detectDisplayServer(env({{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":0"}})), DisplayServer::Wayland);
  EXPECT_EQ(linux_::detectDisplayServer(env({{"XDG_SESSION_TYPE", "wayland"}})), DisplayServer::Wayland);
  EXPECT_EQ(linux_::detectDisplayServer(env({})), DisplayServer::None);
  EXPECT_TRUE(linux_::snappingOffReason(DisplayServer::X11).empty());
  EXPECT_EQ(linux_::snappingOffReason(DisplayServer::Wayland), linux_::kSnappingOffOnWayland);

  // A Wayland session without X: no cursor port, the message among the notes, display changes
  // said to be missing, once.
  linux_::DesktopSessionOptions o;
  o.systemBusAddress = "unix:path=/nonexistent/bus";
  o.userBusAddress = "unix:path=/nonexistent/bus";
  o.getenv = env({{"WAYLAND_DISPLAY", "wayland-0"}});
  auto ports = linux_::makeDesktopSessionPorts(o);
  EXPECT_EQ(ports.displayServer, DisplayServer::Wayland);
  EXPECT_FALSE(ports.cursor);
  EXPECT_FALSE(ports.screens);
  EXPECT_FALSE(ports.session);
  EXPECT_EQ(ports.snappingOff, linux_::kSnappingOffOnWayland);
  auto count = [&](const std::string& part) {
    return std::count_if(ports.notes.begin(), ports.notes.end(), [&](const std::string& n) { return n.find(part) != std::string::npos; });
  };
  EXPECT_EQ(count(linux_::kSnappingOffOnWayland), 1);
  EXPECT_EQ(count("display changes: this Wayland session announces none"), 1);
  EXPECT_EQ(count("session moments: logind cannot be asked"), 1);
  Platform p;
  Cursor* sentinel = reinterpret_cast<Cursor*>(&p);
  p.cursor = sentinel;
  ports.fill(p);
  EXPECT_EQ(p.cursor, nullptr) << "no pointer to move: no cursor port";
  ASSERT_TRUE(ports.workspace);
  EXPECT_EQ(p.workspace, ports.workspace.get());
}

}  // namespace
}  // namespace vl
