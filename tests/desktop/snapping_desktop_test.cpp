// Cursor snapping end to end on a real X server with the AT-SPI bus: a Qt program's dialogs,
// read through the AT-SPI adapter, the pointer moved through the X11 adapter by the agent's own
// snapping engine and controller, with the per-application rule taken from the program's desktop
// entry; and the desktop port's activations, applications by process and window list there.
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "agent/snapping/auto_snapping.h"
#include "agent/snapping/ax_helpers.h"
#include "agent/snapping/snapping_controller.h"
#include "core/store/app_record.h"
#include "core/store/store.h"
#include "core/system/alerts.h"
#include "core/system/ax_flag.h"
#include "core/system/desktop_entry.h"
#include "core/system/versions.h"
#include "platform/api/sleeper.h"
#include "platform/linux/atspi_accessibility.h"
#include "platform/linux/linux_desktop.h"
#include "platform/linux/linux_workspace.h"
#include "platform/linux/sd_event_runloop.h"
#include "platform/linux/x11_desktop.h"
#include "tests/desktop/desktop_env.h"
#include "tests/support/private_bus.h"
#include "tests/support/result_value.h"
#include "tests/support/sim_world.h"

namespace vl {
namespace {

namespace fs = std::filesystem;
using linux_::AtspiAccessibility;
using linux_::LinuxDesktop;
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

    // The desktop port hears activations from before the program starts, on a loop of the test's.
    loop = test::valueOf(linux_::SdEventRunLoop::create());
    ASSERT_TRUE(loop);
    linux_::LinuxDesktopOptions dopt;
    dopt.display = desktop->display.name();
    dopt.userBusAddress = desktop->bus.address();
    desk = LinuxDesktop::create(*workspace, dopt);
    ASSERT_TRUE(desk->hasX());
    ASSERT_TRUE(desk->hasAtspiEvents()) << (desk->notes().empty() ? "" : desk->notes().front());
    EXPECT_TRUE(desk->notes().empty()) << desk->notes().front();
    ASSERT_TRUE(desk->attach(*loop).ok());
    desk->observeActivation([this](const RunningApplication& app) { activations.push_back(app); });

    auto penv = desktop->env();
    penv["QT_QPA_PLATFORM"] = "xcb";
    penv["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1";
    dialog = std::make_unique<test::Program>(std::vector<std::string>{dialogProgram()}, penv, home.path() + "/dialog.log");
    ASSERT_EQ(dialog->readLine(30), "ready") << "the test dialog program did not start";
    ASSERT_TRUE(waitFor([&] { return focusedTitle() == "Velmora test window"; }))
        << "the program's window never had the focus on the AT-SPI bus; focused: " << focusedTitle();
  }
  void TearDown() override {
    controller.reset();
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
    if (QS842copyFocusedElement(platform.accessibility, platform.desktop, &app, &window) != 0) return {};
    std::string title;
    (void)axString(platform.accessibility, window, kAXTitleAttribute, &title);
    return title;
  }
  // Waiting for another program to show something: bounded, in real time, with the desktop
  // port's events handled meanwhile.
  template <class Pred>
  bool waitFor(Pred pred, double seconds = 20) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!pred()) {
      if (std::chrono::steady_clock::now() > end) return false;
      if (loop) loop->runOnce(0.02);
      else std::this_thread::sleep_for(std::chrono::milliseconds(20));
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
    auto e = std::make_unique<AutoSnapping>(AutoSnapping::Ports::from(platform), errors);
    e->setSpawner([](std::function<void()>) {});  // the test runs the passes itself
    e->setCancelButtonTitle("Cancel");
    return e;
  }

  static std::unique_ptr<DesktopEnv> desktop;
  std::unique_ptr<linux_::SdEventRunLoop> loop;
  std::unique_ptr<LinuxDesktop> desk;
  std::vector<RunningApplication> activations;
  StoreContextRef ctx;
  std::unique_ptr<SnappingController> controller;
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
  ASSERT_EQ(QS842copyFocusedElement(platform.accessibility, platform.desktop, &app, &window), 0);
  int32_t pid = 0;
  ASSERT_EQ(ax->getPid(app, &pid), kAXErrorSuccess);
  EXPECT_EQ(pid, dialog->pid());
  std::string subrole, title;
  EXPECT_EQ(axString(platform.accessibility, window, kAXSubroleAttribute, &subrole), kAXErrorSuccess);
  EXPECT_EQ(subrole, kAXDialogSubrole);
  ASSERT_EQ(axElement(platform.accessibility, window, kAXDefaultButtonAttribute, &def), kAXErrorSuccess);
  EXPECT_EQ(axString(platform.accessibility, def, kAXTitleAttribute, &title), kAXErrorSuccess);
  EXPECT_EQ(title, "Save");
  Point centre;
  ASSERT_EQ(QS842elementAttrPosition(platform.accessibility, platform.screens, errors, window, kAXDefaultButtonAttribute, &centre), 0)
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

TEST_F(SnappingOnXvfb, TheDesktopPortHearsTheProgramComeToTheFrontAndKnowsItByItsProcess) {
  const int32_t pid = dialog->pid();
  ASSERT_TRUE(waitFor([&] { return !activations.empty(); }, 10)) << "no activation reached the loop";
  EXPECT_EQ(activations.back().processIdentifier, pid);
  EXPECT_EQ(activations.back().bundleIdentifier, "velmora-test-dialog");
  EXPECT_TRUE(activations.back().active);
  EXPECT_EQ(activations.back().activationPolicy, kActivationPolicyRegular);
  // The program's dialog is another window of the same program: no second notification.
  ASSERT_TRUE(open("open-default"));
  for (int i = 0; i < 10; ++i) loop->runOnce(0.02);
  EXPECT_EQ(activations.size(), 1u);

  auto front = desk->frontmostApplication();
  ASSERT_TRUE(front);
  EXPECT_EQ(front->processIdentifier, pid);
  EXPECT_TRUE(front->active);
  auto running = desk->runningApplication(pid);
  ASSERT_TRUE(running);
  EXPECT_EQ(running->localizedName, "Velmora Test Dialog");
  EXPECT_EQ(running->bundleURL, home.path() + "/share/applications/velmora-test-dialog.desktop");
  // Other tests running beside this one may have a copy of the program of their own.
  auto byID = desk->runningApplications("velmora-test-dialog");
  EXPECT_EQ(std::count_if(byID.begin(), byID.end(), [&](const RunningApplication& a) { return a.processIdentifier == pid; }), 1);
  for (const RunningApplication& a : byID) EXPECT_EQ(a.bundleIdentifier, "velmora-test-dialog");
  EXPECT_TRUE(desk->runningApplications("").empty());
  EXPECT_TRUE(desk->runningApplications("org.example.None").empty());

  // Regular: a shown desktop entry and a window; this test program has neither entry nor window.
  EXPECT_EQ(desk->activationPolicy(pid), kActivationPolicyRegular);
  EXPECT_EQ(desk->activationPolicy(static_cast<int32_t>(::getpid())), kActivationPolicyAccessory);
  EXPECT_EQ(desk->activationPolicy(0), -1);
  EXPECT_EQ(desk->activationPolicy(0x3fffffff), -1) << "no such process";
}

TEST_F(SnappingOnXvfb, TheWindowListHasTheProgramsWindowsFrontToBackAndOurNeverShownFlagWindow) {
  const int32_t pid = dialog->pid();
  auto button = open("open-default");
  ASSERT_TRUE(button);
  auto mine = [&](const std::vector<WindowInfo>& list, int32_t owner) {
    std::vector<WindowInfo> out;
    for (const auto& w : list)
      if (w.ownerPid == owner && w.onScreen) out.push_back(w);
    return out;
  };
  auto shown = mine(desk->windowList(true), pid);
  ASSERT_GE(shown.size(), 2u) << "the main window and the dialog";
  // The dialog, mapped last, lies in front of the main window.
  EXPECT_EQ(shown[0].bounds, (Rect{700, 500, 320, 140}));
  EXPECT_EQ(shown[1].bounds, (Rect{100, 100, 500, 300}));
  EXPECT_EQ(shown[0].ownerName, "velmora-test-di") << "the command name, as the kernel keeps it";

  // The accessibility flag: a window of this process, listed though never shown, its width the flag.
  const int32_t me = static_cast<int32_t>(::getpid());
  uint32_t flag = desk->createWindow(Rect{0, 0, 10, 10}, true, true, false);
  ASSERT_NE(flag, 0u);
  ASSERT_TRUE(desk->setWindowFrame(flag, Rect{0, 0, kAXEnabledWindowWidth, 10}));
  auto listed = [&] {
    for (const auto& w : desk->windowList(true))
      if (w.number == flag) return std::optional<WindowInfo>(w);
    return std::optional<WindowInfo>();
  };
  auto w = listed();
  ASSERT_TRUE(w);
  EXPECT_EQ(w->ownerPid, me);
  EXPECT_FALSE(w->onScreen);
  EXPECT_EQ(w->bounds.width, kAXEnabledWindowWidth);
  EXPECT_EQ(w->bounds.height, 10);
  EXPECT_TRUE(mine(desk->windowList(true), me).empty()) << "nothing of this process is on screen";
  ASSERT_TRUE(desk->setWindowFrame(flag, Rect{0, 0, kAXDisabledWindowWidth, 10}));
  EXPECT_EQ(listed()->bounds.width, kAXDisabledWindowWidth);

  // Only this process's own windows, with frames X can hold, are moved.
  EXPECT_FALSE(desk->setWindowFrame(shown[0].number, Rect{0, 0, 50, 50}));
  EXPECT_FALSE(desk->setWindowFrame(flag, Rect{0, 0, 0, 10}));
  EXPECT_FALSE(desk->setWindowFrame(flag, Rect{0, 0, std::nan(""), 10}));
  EXPECT_EQ(listed()->bounds.width, kAXDisabledWindowWidth);

  // Without an X server: no windows, and creating one fails rather than pretending.
  linux_::LinuxDesktopOptions none;
  none.useX = false;
  none.useAtspi = false;
  auto bare = LinuxDesktop::create(*workspace, none);
  EXPECT_TRUE(bare->windowList(false).empty());
  EXPECT_EQ(bare->createWindow(Rect{0, 0, 10, 10}, true, true, false), 0u);
  EXPECT_FALSE(bare->setWindowFrame(flag, Rect{0, 0, 10, 10}));
  linux_::LinuxDesktopOptions gone;
  gone.display = ":9999";
  gone.useAtspi = false;
  auto unreachable = LinuxDesktop::create(*workspace, gone);
  EXPECT_FALSE(unreachable->hasX());
  ASSERT_EQ(unreachable->notes().size(), 1u);
  EXPECT_NE(unreachable->notes()[0].find(":9999"), std::string::npos) << unreachable->notes()[0];
}

TEST_F(SnappingOnXvfb, TheAgentsSnappingControllerOnTheDesktopPortSnapsByTheStoredRuleAndPublishesItsFlag) {
  // The store's rules: nothing by default, the dialog program's own rule on with the move back.
  ErrorInfo error;
  ASSERT_EQ(QS814openMOC(platform, errors, nullptr, false, &ctx, &error), 0);
  QS803AppClass* byDefault = QS803AppClass::insertSnappingAppWithObject(errors, AppObject(), ctx.get());
  ASSERT_TRUE(byDefault);
  byDefault->setSnapping(std::string(kSnappingNone));
  QS803AppClass* rule = QS814insertApplication(errors, ctx.get());
  rule->setMatchingKey(
      QS803AppClass::matchingKeyFromURL(platform, home.path() + "/share/applications/velmora-test-dialog.desktop"));
  rule->setSnapping(std::string(kSnappingDefaultButton));
  rule->setSnappingBounce(true);

  // The agent's own controller and worker, on the Linux ports, in real time (the worker's own
  // passes and glide steps).
  Platform p = platform;
  p.desktop = desk.get();
  p.runLoop = loop.get();
  p.sleeper = nullptr;
  const Point start{200, 150};
  ASSERT_EQ(cursor->warpMouseCursorPosition(start), kCGErrorSuccess);
  AutoSnapping engine(AutoSnapping::Ports::from(p), errors);
  engine.setCancelButtonTitle("Cancel");
  identity = {ProcessRole::Agent, {"quillon.Velmora.boa", "Velmora Manager", "2.2.3", ""}, {}};
  controller = std::make_unique<SnappingController>(SnappingController::Ports::from(p), errorContext(), [this] { return ctx.get(); }, &engine);
  controller->startAutoSnapping();
  EXPECT_TRUE(controller->snappingStarted());
  EXPECT_EQ(engine.target(), kSnapDefaultButton) << "the frontmost program's own rule";
  EXPECT_TRUE(engine.isRunning());

  // The published flag is a window of this process the desktop port lists, 777 wide.
  controller->updateAXEnabled();
  EXPECT_TRUE(lifecycle.exits.empty()) << "publishing the flag failed";
  bool published = false;
  for (const auto& w : desk->windowList(true))
    published = published || (w.ownerPid == static_cast<int32_t>(::getpid()) && w.bounds.width == kAXEnabledWindowWidth);
  EXPECT_TRUE(published);

  // Passes over the main window, which has nothing to snap to.
  for (int i = 0; i < 20; ++i) loop->runOnce(0.02);
  EXPECT_EQ(cursor->location(), start);
  auto button = open("open-default");
  ASSERT_TRUE(button);
  auto near = [&](Point target) {
    Point at = cursor->location();
    return std::abs(at.x - target.x) <= 1 && std::abs(at.y - target.y) <= 1;
  };
  EXPECT_TRUE(waitFor([&] { return near(*button); }, 10))
      << "the pointer is at " << cursor->location().x << "," << cursor->location().y;
  dialog->send("close");
  EXPECT_EQ(dialog->readLine(20), "closed");
  EXPECT_TRUE(waitFor([&] { return near(start); }, 10))
      << "the pointer did not go back; it is at " << cursor->location().x << "," << cursor->location().y;

  controller->stopAutoSnapping();
  EXPECT_FALSE(engine.isRunning());
  controller.reset();
}

// What a window manager announces on the root window, set by the test standing in for one, and
// removed again so that the other tests see a desktop without a manager.
class StandInWindowManager {
 public:
  explicit StandInWindowManager(const std::string& display) {
    c_ = xcb_connect(display.c_str(), nullptr);
    root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
  }
  ~StandInWindowManager() {
    for (xcb_atom_t a : set_) xcb_delete_property(c_, root_, a);
    xcb_aux_sync();
    xcb_disconnect(c_);
  }
  void setWindows(const char* name, std::vector<uint32_t> windows) {
    xcb_atom_t a = atom(name);
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, root_, a, XCB_ATOM_WINDOW, 32, static_cast<uint32_t>(windows.size()),
                        windows.data());
    set_.push_back(a);
    xcb_aux_sync();
  }

 private:
  xcb_atom_t atom(const char* name) {
    auto* r = xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    xcb_atom_t a = r ? r->atom : 0;
    std::free(r);
    return a;
  }
  void xcb_aux_sync() { std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr)); }
  xcb_connection_t* c_;
  xcb_window_t root_;
  std::vector<xcb_atom_t> set_;
};

TEST_F(SnappingOnXvfb, UnderAWindowManagerTheActiveWindowAndTheStackingListComeFromTheRoot) {
  const int32_t pid = dialog->pid();
  // X alone, so that every activation seen comes from the root window.
  linux_::LinuxDesktopOptions xOnly;
  xOnly.display = desktop->display.name();
  xOnly.useAtspi = false;
  auto port = LinuxDesktop::create(*workspace, xOnly);
  ASSERT_TRUE(port->attach(*loop).ok());
  std::vector<RunningApplication> seen;
  port->observeActivation([&](const RunningApplication& app) { seen.push_back(app); });
  std::vector<uint32_t> programs;
  for (const auto& w : port->windowList(false))
    if (w.ownerPid == pid && w.onScreen) programs.push_back(w.number);
  ASSERT_FALSE(programs.empty());
  {
    StandInWindowManager wm(desktop->display.name());
    wm.setWindows("_NET_ACTIVE_WINDOW", {programs[0]});
    ASSERT_TRUE(waitFor([&] { return !seen.empty(); }, 5)) << "the active window's change was not heard";
    EXPECT_EQ(seen[0].processIdentifier, pid);
    EXPECT_EQ(seen[0].bundleIdentifier, "velmora-test-dialog");
    // The same program again is no new activation; after a moment with no active window it is.
    wm.setWindows("_NET_ACTIVE_WINDOW", {programs[0]});
    for (int i = 0; i < 10; ++i) loop->runOnce(0.01);
    EXPECT_EQ(seen.size(), 1u);
    wm.setWindows("_NET_ACTIVE_WINDOW", {0});
    for (int i = 0; i < 10; ++i) loop->runOnce(0.01);
    EXPECT_EQ(seen.size(), 1u);
    wm.setWindows("_NET_ACTIVE_WINDOW", {programs[0]});
    ASSERT_TRUE(waitFor([&] { return seen.size() == 2; }, 5));

    // What the manager says is active is in front; this test process is not.
    EXPECT_EQ(port->frontmostApplication()->processIdentifier, pid);
    EXPECT_TRUE(port->runningApplication(pid)->active);
    EXPECT_FALSE(port->runningApplication(static_cast<int32_t>(::getpid()))->active);
    EXPECT_EQ(port->activationPolicy(pid), kActivationPolicyRegular) << "its window is on screen";

    // The manager's stacking list (bottom to top) comes first, front to back.
    uint32_t flag = port->createWindow(Rect{0, 0, 10, 10}, true, true, false);
    ASSERT_NE(flag, 0u);
    wm.setWindows("_NET_CLIENT_LIST_STACKING", {programs[0], flag});
    auto list = port->windowList(false);
    ASSERT_GE(list.size(), 2u);
    EXPECT_EQ(list[0].number, flag);
    EXPECT_EQ(list[1].number, programs[0]);
    EXPECT_EQ(std::count_if(list.begin(), list.end(), [&](const WindowInfo& w) { return w.number == flag; }), 1)
        << "a managed window is listed once";
  }
}

}  // namespace
}  // namespace vl
