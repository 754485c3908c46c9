// Cursor snapping end to end on a real X server with the AT-SPI bus: a Qt program's dialogs,
// read through the AT-SPI adapter, the pointer moved through the X11 adapter by the agent's own
// snapping engine, with the per-application rule taken from the program's desktop entry.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "agent/snapping/auto_snapping.h"
#include "agent/snapping/ax_helpers.h"
#include "core/store/app_record.h"
#include "core/system/desktop_entry.h"
#include "platform/api/sleeper.h"
#include "platform/linux/atspi_accessibility.h"
#include "platform/linux/linux_workspace.h"
#include "platform/linux/x11_desktop.h"
#include "tests/desktop/desktop_env.h"
#include "tests/support/private_bus.h"
#include "tests/support/sim_world.h"

namespace vl {
namespace {

namespace fs = std::filesystem;
using linux_::AtspiAccessibility;
using linux_::LinuxWorkspace;
using linux_::X11Cursor;
using linux_::X11Screens;

// Waits in virtual time: the glide's steps are counted, nothing sleeps.
class CountingSleeper : public Sleeper {
 public:
  void sleep(double seconds) override { slept.push_back(seconds); }
  std::vector<double> slept;
};

linux_::ApplicationEntryReader entryReader() {
  return [](const std::string& path) -> std::optional<linux_::ApplicationEntry> {
    auto e = readApplicationEntry(path);
    if (!e) return std::nullopt;
    return linux_::ApplicationEntry{desktopFileID(path), path, e->name, e->exec, e->icon, e->noDisplay};
  };
}

// Xvfb, a private session bus with the AT-SPI bus switched on, and the adapters on them: one
// set for the whole suite, as libatspi keeps one connection per process.
struct DesktopEnv {
  DesktopEnv() {
    if (!display.whyNot().empty()) {
      why = display.whyNot();
      return;
    }
    if (bus.address().empty()) {
      why = "dbus-daemon could not be started";
      return;
    }
    if (::access(kLauncher, X_OK) != 0) {
      why = std::string("at-spi2-core is not installed (") + kLauncher + ")";
      return;
    }
    // The switch lives in the desktop's settings store: an in-memory one, so the test's
    // switching never reaches the user's own settings.
    auto lenv = env();
    lenv["GSETTINGS_BACKEND"] = "memory";
    launcher = std::make_unique<test::Program>(std::vector<std::string>{kLauncher, "--launch-immediately"}, lenv,
                                               dir.path() + "/atspi.log");
    std::string error;
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    bool up = false;
    while (!up && std::chrono::steady_clock::now() < end) {
      up = test::callMethod(bus.address(), "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", &error);
      if (!up) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (!up) {
      why = "the AT-SPI bus did not start: " + error;
      return;
    }
    // libatspi finds its bus through this process's session bus and display.
    ::setenv("DBUS_SESSION_BUS_ADDRESS", bus.address().c_str(), 1);
    ::setenv("DISPLAY", display.name().c_str(), 1);
    ::unsetenv("AT_SPI_BUS_ADDRESS");
    auto a = AtspiAccessibility::create(bus.address());
    if (!a) {
      why = "libatspi: " + a.status().detail();
      return;
    }
    ax = std::move(*a);
    offReason = ax->untrustedReason();
    if (!test::callMethod(bus.address(), "org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Set", &error,
                          "ssv", "org.a11y.Status", "IsEnabled", "b", 1))
      why = "assistive technologies could not be switched on: " + error;
    auto c = X11Cursor::create(display.name());
    auto s = X11Screens::create(display.name());
    if (!c || !s) {
      why = "the X adapters could not start: " + (c ? s.status() : c.status()).detail();
      return;
    }
    cursor = std::move(*c);
    screens = std::move(*s);
  }
  std::map<std::string, std::string> env() const {
    return {{"DBUS_SESSION_BUS_ADDRESS", bus.address()}, {"DISPLAY", display.name()}};
  }
  static constexpr const char* kLauncher = "/usr/libexec/at-spi-bus-launcher";
  test::TempDir dir;
  test::VirtualDisplay display{dir.path()};
  test::PrivateBus bus{dir.path()};
  std::unique_ptr<test::Program> launcher;
  std::unique_ptr<AtspiAccessibility> ax;
  std::unique_ptr<X11Cursor> cursor;
  std::unique_ptr<X11Screens> screens;
  std::string why, offReason;
};

class SnappingOnXvfb : public test::SimWorld {
 protected:
  static void SetUpTestSuite() { desktop = std::make_unique<DesktopEnv>(); }
  static void TearDownTestSuite() { desktop.reset(); }
  void SetUp() override {
    if (!desktop->why.empty()) GTEST_SKIP() << desktop->why;
    ax = desktop->ax.get();
    cursor = desktop->cursor.get();
    // The switch was off when the adapter first asked, and said so.
    EXPECT_NE(desktop->offReason.find("switched off"), std::string::npos) << desktop->offReason;
    // The launcher takes the switch through the settings store: a moment later.
    ASSERT_TRUE(waitFor([&] { return ax->isProcessTrusted(); }, 5)) << ax->untrustedReason();

    // The program's desktop entry, so that the workspace names it and the rule finds it.
    fs::create_directories(home.path() + "/share/applications");
    std::ofstream(home.path() + "/share/applications/velmora-test-dialog.desktop")
        << "[Desktop Entry]\nType=Application\nName=Velmora Test Dialog\nExec=" << dialogProgram() << " %U\nIcon=dialog-question\n";
    linux_::WorkspaceOptions wo;
    wo.readEntry = entryReader();
    wo.dataDirs = {home.path() + "/share"};
    wo.home = home.path();
    workspace = std::make_unique<LinuxWorkspace>(ax, std::move(wo));

    platform.accessibility = ax;
    platform.cursor = cursor;
    platform.screens = desktop->screens.get();
    platform.workspace = workspace.get();
    platform.sleeper = &sleeper;

    auto penv = desktop->env();
    penv["QT_QPA_PLATFORM"] = "xcb";
    penv["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1";
    dialog = std::make_unique<test::Program>(std::vector<std::string>{dialogProgram()}, penv, home.path() + "/dialog.log");
    ASSERT_EQ(dialog->readLine(30), "ready") << "the test dialog program did not start";
    ASSERT_TRUE(waitFor([&] { return focusedTitle() == "Velmora test window"; }))
        << "the program's window never had the focus on the AT-SPI bus; focused: " << focusedTitle();
  }
  void TearDown() override {
    if (dialog) {
      dialog->send("quit");
      dialog->wait();
      dialog.reset();
      // Gone from the bus before the next test's program arrives.
      waitFor([&] { return focusedTitle().empty(); }, 5);
    }
  }

  static std::string dialogProgram() { return std::string(VELMORA_BIN_DIR) + "/velmora-test-dialog"; }

  // The title of the focused window as the agent's helper finds it.
  std::string focusedTitle() {
    AXElementRef app, window;
    if (QS842copyFocusedElement(platform, &app, &window) != 0) return {};
    std::string title;
    (void)axString(platform, window, kAXTitleAttribute, &title);
    return title;
  }
  // Waiting for another program to show something: bounded, in real time.
  template <class Pred>
  static bool waitFor(Pred pred, double seconds = 20) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!pred()) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
  }
  // The program as the workspace lists it.
  std::optional<RunningApplication> dialogApp() {
    for (auto& a : workspace->runningApplications())
      if (a.processIdentifier == dialog->pid()) return a;
    return std::nullopt;
  }
  // The rules: none by default; the program's own rule made from its desktop entry.
  std::vector<SnappingApp> rules(unsigned programRule) {
    SnappingApp def;
    def.isDefault = true;
    def.snappingIX = kSnapNone;
    SnappingApp mine;
    mine.matchingKey = QS803AppClass::matchingKeyFromURL(platform, home.path() + "/share/applications/velmora-test-dialog.desktop");
    mine.snappingIX = programRule;
    mine.bounce = true;
    return {def, mine};
  }
  // Opens a dialog; its default button's centre as the program itself places it.
  std::optional<Point> open(const std::string& kind) {
    dialog->send(kind);
    std::string line = dialog->readLine(20);
    EXPECT_EQ(line.rfind("shown ", 0), 0u) << line;
    EXPECT_TRUE(waitFor([&] { return focusedTitle() == "Velmora test dialog"; })) << "focused: " << focusedTitle();
    if (line.size() < 7 || line[6] == '-') return std::nullopt;
    std::istringstream in(line.substr(6));
    double x = 0, y = 0;
    in >> x >> y;
    return Point{x, y};
  }
  int pass(AutoSnapping& engine) { return engine.moveCursorToItem(engine.target(), engine.jump(), engine.bounce()); }
  std::unique_ptr<AutoSnapping> engine() {
    auto e = std::make_unique<AutoSnapping>(platform, errors);
    e->setSpawner([](std::function<void()>) {});  // the test runs the passes itself
    e->setCancelButtonTitle("Cancel");
    return e;
  }

  static std::unique_ptr<DesktopEnv> desktop;
  AtspiAccessibility* ax = nullptr;
  X11Cursor* cursor = nullptr;
  std::unique_ptr<LinuxWorkspace> workspace;
  CountingSleeper sleeper;
  std::unique_ptr<test::Program> dialog;
};

std::unique_ptr<DesktopEnv> SnappingOnXvfb::desktop;

TEST_F(SnappingOnXvfb, TheDialogsDefaultButtonIsReadFromTheBus) {
  auto button = open("open-default");
  ASSERT_TRUE(button);
  AXElementRef app, window, def;
  ASSERT_EQ(QS842copyFocusedElement(platform, &app, &window), 0);
  int32_t pid = 0;
  ASSERT_EQ(ax->getPid(app, &pid), kAXErrorSuccess);
  EXPECT_EQ(pid, dialog->pid());
  std::string subrole, title;
  EXPECT_EQ(axString(platform, window, kAXSubroleAttribute, &subrole), kAXErrorSuccess);
  EXPECT_EQ(subrole, kAXDialogSubrole);
  ASSERT_EQ(axElement(platform, window, kAXDefaultButtonAttribute, &def), kAXErrorSuccess);
  EXPECT_EQ(axString(platform, def, kAXTitleAttribute, &title), kAXErrorSuccess);
  EXPECT_EQ(title, "Save");
  Point centre;
  ASSERT_EQ(QS842elementAttrPosition(platform, errors, window, kAXDefaultButtonAttribute, &centre), 0)
      << "enabled, uncovered, inside the window and on a screen";
  EXPECT_LE(std::abs(centre.x - button->x), 1.0);
  EXPECT_LE(std::abs(centre.y - button->y), 1.0);
  // The main window is a standard window with no default button.
  AXValue windows;
  ASSERT_EQ(ax->copyAttributeValue(app, kAXWindowsAttribute, &windows), kAXErrorSuccess);
  EXPECT_GE(std::get<std::vector<AXElementRef>>(windows).size(), 2u);

  // The workspace names the program by its desktop entry and sees it in front.
  auto running = dialogApp();
  ASSERT_TRUE(running);
  EXPECT_EQ(running->bundleIdentifier, "velmora-test-dialog");
  EXPECT_EQ(running->localizedName, "Velmora Test Dialog");
  EXPECT_TRUE(running->active);
  EXPECT_EQ(running->activationPolicy, 0);
  EXPECT_EQ(workspace->frontmostApplication()->processIdentifier, dialog->pid());
}

TEST_F(SnappingOnXvfb, TheRuleOnGlidesOntoTheDefaultButtonAndBackWhenTheDialogCloses) {
  auto running = dialogApp();
  ASSERT_TRUE(running);
  auto list = rules(kSnapDefaultButton);
  auto e = engine();
  e->startAutoCursorSnapping(&list, &*running);
  ASSERT_EQ(e->target(), kSnapDefaultButton);
  ASSERT_TRUE(e->bounce());
  const Point start{200, 150};
  ASSERT_EQ(cursor->warpMouseCursorPosition(start), kCGErrorSuccess);
  for (int i = 0; i < 3; ++i) (void)pass(*e);  // the main window: nothing to snap to
  EXPECT_EQ(cursor->location(), start);

  auto button = open("open-default");
  ASSERT_TRUE(button);
  sleeper.slept.clear();
  EXPECT_EQ(pass(*e), 0);  // the new window is first seen
  EXPECT_EQ(cursor->location(), start);
  EXPECT_EQ(pass(*e), 0);  // one pass later it is snapped
  Point at = cursor->location();
  EXPECT_LE(std::abs(at.x - button->x), 1.0) << at.x;
  EXPECT_LE(std::abs(at.y - button->y), 1.0) << at.y;
  // The glide: whole 13 ms steps, at most d / 70 + 10 of them.
  double d = std::hypot(std::trunc(button->x - start.x), std::trunc(button->y - start.y));
  size_t steps = std::count(sleeper.slept.begin(), sleeper.slept.end(), 0.013);
  EXPECT_GE(steps, 5u);
  EXPECT_LE(steps, static_cast<size_t>(d) / 70 + 10);
  EXPECT_TRUE(e->hasTargetWindow());

  dialog->send("close");
  EXPECT_EQ(dialog->readLine(20), "closed");
  ASSERT_TRUE(waitFor([&] {
    (void)pass(*e);
    return cursor->location() == start;
  })) << "the pointer did not go back; it is at " << cursor->location().x << "," << cursor->location().y;
  EXPECT_FALSE(e->hasTargetWindow());
}

TEST_F(SnappingOnXvfb, NoDefaultButtonAMovingMouseOrARuleThatIsOffLeaveThePointerAlone) {
  auto running = dialogApp();
  ASSERT_TRUE(running);
  const Point start{200, 150};

  {  // A dialog without push buttons.
    auto list = rules(kSnapDefaultButton);
    auto e = engine();
    e->startAutoCursorSnapping(&list, &*running);
    ASSERT_EQ(cursor->warpMouseCursorPosition(start), kCGErrorSuccess);
    (void)pass(*e);
    EXPECT_FALSE(open("open-plain"));
    for (int i = 0; i < 4; ++i) (void)pass(*e);
    EXPECT_EQ(cursor->location(), start);
    EXPECT_FALSE(e->hasTargetWindow());
    dialog->send("close");
    EXPECT_EQ(dialog->readLine(20), "closed");
    ASSERT_TRUE(waitFor([&] { return focusedTitle() == "Velmora test window"; }));
  }
  {  // The user moves the mouse between the dialog appearing and the snap.
    auto list = rules(kSnapDefaultButton);
    auto e = engine();
    e->startAutoCursorSnapping(&list, &*running);
    ASSERT_EQ(cursor->warpMouseCursorPosition(start), kCGErrorSuccess);
    (void)pass(*e);
    ASSERT_TRUE(open("open-default"));
    (void)pass(*e);  // first seen, with the pointer at start
    const Point moved{start.x + 20, start.y + 5};
    ASSERT_EQ(cursor->warpMouseCursorPosition(moved), kCGErrorSuccess);
    for (int i = 0; i < 4; ++i) (void)pass(*e);
    EXPECT_EQ(cursor->location(), moved);
    dialog->send("close");
    EXPECT_EQ(dialog->readLine(20), "closed");
    ASSERT_TRUE(waitFor([&] { return focusedTitle() == "Velmora test window"; }));
  }
  {  // The program's rule is off: no worker, and a pass with its target moves nothing.
    auto list = rules(kSnapNone);
    auto e = engine();
    e->startAutoCursorSnapping(&list, &*running);
    EXPECT_EQ(e->target(), kSnapNone);
    EXPECT_FALSE(e->isRunning());
    ASSERT_EQ(cursor->warpMouseCursorPosition(start), kCGErrorSuccess);
    ASSERT_TRUE(open("open-default"));
    for (int i = 0; i < 4; ++i) (void)pass(*e);
    EXPECT_EQ(cursor->location(), start);
  }
}

}  // namespace
}  // namespace vl
