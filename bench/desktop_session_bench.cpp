// The desktop session on a real X server (Xvfb) with the AT-SPI bus and logind's stand-in:
// the time from a dialog being shown to the pointer on its default button, with the agent's
// own snapping worker (real threads, real sleeps) on the desktop port, split into the wait the
// snapping rules prescribe and the work of the pass that snaps; and the idle wake-ups of a run
// loop watching logind, RandR, AT-SPI and the desktop port's activations.
// Usage: bench_desktop_session_bench [--runs N] [--idle-seconds S]
#include <poll.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <map>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "agent/snapping/auto_snapping.h"
#include "agent/snapping/ax_helpers.h"
#include "core/plist/number_text.h"
#include "platform/api/sleeper.h"
#include "platform/linux/atspi_accessibility.h"
#include "platform/linux/linux_desktop.h"
#include "platform/linux/linux_workspace.h"
#include "platform/linux/logind_session.h"
#include "platform/linux/sd_event_runloop.h"
#include "platform/linux/x11_desktop.h"
#include "tests/desktop/desktop_env.h"
#include "tests/support/private_bus.h"

using namespace vl;

namespace {

double monoNow() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Real sleeps, with the moment each pass's wait ended.
class StampingSleeper : public Sleeper {
 public:
  void sleep(double seconds) override {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    if (seconds >= 0.1) {
      std::lock_guard<std::mutex> l(m);
      passStarts.push_back(monoNow());
    }
  }
  double lastPassStartBefore(double t) {
    std::lock_guard<std::mutex> l(m);
    double best = 0;
    for (double s : passStarts)
      if (s <= t) best = s;
    return best;
  }
  std::mutex m;
  std::vector<double> passStarts;
};

std::string ms(double seconds) { return pl::formatFixed(seconds * 1000, 1) + " ms"; }

struct Stats {
  std::vector<double> v;
  std::string text() {
    if (v.empty()) return "no samples";
    std::sort(v.begin(), v.end());
    double sum = 0;
    for (double x : v) sum += x;
    return "median " + ms(v[v.size() / 2]) + ", mean " + ms(sum / v.size()) + ", max " + ms(v.back()) + " (" +
           std::to_string(v.size()) + " runs)";
  }
};

// A temporary folder removed with the object.
struct TempDir {
  TempDir() {
    char tmpl[] = "/tmp/velmora-desktop-bench-XXXXXX";
    if (mkdtemp(tmpl)) dir = tmpl;
  }
  ~TempDir() {
    std::error_code ec;
    if (!dir.empty()) std::filesystem::remove_all(dir, ec);
  }
  const std::string& path() const { return dir; }
  std::string dir;
};

int voluntarySwitches() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<int>(u.ru_nvcsw + u.ru_nivcsw);
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 10;
  double idleSeconds = 30;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--runs") == 0) runs = std::max(1, std::atoi(argv[i + 1]));
    else if (std::strcmp(argv[i], "--idle-seconds") == 0) idleSeconds = std::max(1, std::atoi(argv[i + 1]));
  }
  TempDir dir;
  test::VirtualDisplay display(dir.path());
  if (!display.whyNot().empty()) {
    std::printf("SKIP: %s\n", display.whyNot().c_str());
    return 0;
  }
  test::PrivateBus bus(dir.path());
  std::map<std::string, std::string> env{{"DBUS_SESSION_BUS_ADDRESS", bus.address()}, {"DISPLAY", display.name()}};
  auto lenv = env;
  lenv["GSETTINGS_BACKEND"] = "memory";
  test::Program launcher({"/usr/libexec/at-spi-bus-launcher", "--launch-immediately"}, lenv, dir.path() + "/atspi.log");
  std::string error;
  bool up = false;
  for (int i = 0; i < 200 && !up; ++i) {
    up = test::callMethod(bus.address(), "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", &error);
    if (!up) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (!up || !test::callMethod(bus.address(), "org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Set",
                               &error, "ssv", "org.a11y.Status", "IsEnabled", "b", 1)) {
    std::printf("SKIP: the AT-SPI bus did not start: %s\n", error.c_str());
    return 0;
  }
  ::setenv("DBUS_SESSION_BUS_ADDRESS", bus.address().c_str(), 1);
  ::setenv("DISPLAY", display.name().c_str(), 1);
  auto ax = linux_::AtspiAccessibility::create(bus.address());
  auto cursor = linux_::X11Cursor::create(display.name());
  auto screens = linux_::X11Screens::create(display.name());
  if (!ax || !cursor || !screens) {
    std::printf("SKIP: the adapters could not start\n");
    return 0;
  }
  for (int i = 0; i < 100 && !(*ax)->isProcessTrusted(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));

  // --- Dialog shown -> pointer on its default button ----------------------------------------
  auto penv = env;
  penv["QT_QPA_PLATFORM"] = "xcb";
  penv["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1";
  test::Program dialog({std::string(VELMORA_BIN_DIR) + "/velmora-test-dialog"}, penv, dir.path() + "/dialog.log");
  if (dialog.readLine(30) != "ready") {
    std::printf("SKIP: the test dialog program did not start (%s/velmora-test-dialog)\n", VELMORA_BIN_DIR);
    return 0;
  }
  StampingSleeper sleeper;
  // The agent's worker asks the desktop port about the focused program on every pass.
  linux_::LinuxWorkspace workspace(ax->get(), {});
  linux_::LinuxDesktopOptions dopt;
  dopt.display = display.name();
  dopt.userBusAddress = bus.address();
  auto desktop = linux_::LinuxDesktop::create(workspace, dopt);
  AutoSnapping::Ports p;
  p.accessibility = ax->get();
  p.cursor = cursor->get();
  p.screens = screens->get();
  p.workspace = &workspace;
  p.desktop = desktop.get();
  p.sleeper = &sleeper;
  ErrorStack errors;
  for (bool jump : {true, false}) {
    Stats total, beyond;
    AutoSnapping engine(p, errors);
    engine.setCancelButtonTitle("Cancel");
    engine.startAutoCursorSnappingToItem(kSnapDefaultButton, jump, false);
    for (int r = 0; r < runs; ++r) {
      (void)(*cursor)->warpMouseCursorPosition({200, 150});
      std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the main window settles as focused
      dialog.send("open-default");
      std::istringstream in(dialog.readLine(20).substr(6));
      double x = 0, y = 0, shownNs = 0;
      in >> x >> y >> shownNs;
      double shown = shownNs / 1e9, arrived = 0;
      for (double end = monoNow() + 5; monoNow() < end;) {
        Point at = (*cursor)->location();
        if (std::abs(at.x - x) <= 1 && std::abs(at.y - y) <= 1) {
          arrived = monoNow();
          break;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500));
      }
      if (arrived > 0) {
        total.v.push_back(arrived - shown);
        beyond.v.push_back(arrived - sleeper.lastPassStartBefore(arrived));
      }
      dialog.send("close");
      (void)dialog.readLine(20);
    }
    engine.startAutoCursorSnappingToItem(kSnapNone, false, false);
    engine.waitForWorker();
    std::printf("%s: dialog shown -> pointer on its default button: %s\n", jump ? "jump" : "glide", total.text().c_str());
    std::printf("%s:   of which the pass that snaps (after the rules' own 0.2-0.4 s wait%s): %s\n", jump ? "jump" : "glide",
                jump ? "" : ", including the glide's 13 ms steps", beyond.text().c_str());
  }
  dialog.send("quit");
  dialog.wait();

  // --- Idle wake-ups ---------------------------------------------------------------------------
  test::Program logind({"/usr/bin/env", "DBUS_SYSTEM_BUS_ADDRESS=" + bus.address(), "/usr/bin/python3", "-m", "dbusmock",
                        "--template", "logind"},
                       {}, dir.path() + "/logind.log");
  bool added = false;
  for (int i = 0; i < 200 && !added; ++i) {
    added = test::callMethod(bus.address(), "org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.DBus.Mock",
                             "AddSession", &error, "ssusb", "c1", "seat0", 1000u, "someone", 1);
    if (!added) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  auto session = added ? linux_::LogindSession::create({bus.address(), "c1"}) : Result<std::unique_ptr<linux_::LogindSession>>(Status::failure(1, error));
  auto createdLoop = linux_::SdEventRunLoop::create();
  if (!session || !createdLoop) {
    std::printf("idle: SKIP (logind stand-in: %s)\n",
                !session ? session.status().detail().c_str() : createdLoop.status().detail().c_str());
    return 0;
  }
  std::unique_ptr<linux_::SdEventRunLoop> loop = std::move(createdLoop).value();
  (*session)->observe([](SessionEvent) {});
  (void)(*session)->attach(*loop);
  (void)(*screens)->attach(*loop);
  (void)(*ax)->attach(*loop);
  desktop->observeActivation([](const RunningApplication&) {});
  (void)desktop->attach(*loop);
  // The attaches' own first passes, and what the stand-ins still had to say, settle first.
  for (double settle = monoNow() + 2; monoNow() < settle;) loop->runOnce(settle - monoNow());
  int wakeups = 0;
  std::string when;
  int switchesBefore = voluntarySwitches();
  double end = monoNow() + idleSeconds;
  while (monoNow() < end - 0.001) {
    double left = end - monoNow();
    double before = monoNow();
    loop->runOnce(left);
    if (monoNow() < end - 0.001 && monoNow() - before < left - 0.001) {
      ++wakeups;
      if (wakeups <= 5) when += " " + pl::formatFixed(monoNow() - (end - idleSeconds), 3);
    }
  }
  int switches = voluntarySwitches() - switchesBefore;
  std::printf("idle: %d wake-ups of the run loop in %s s with logind, RandR, AT-SPI and activations watched (%s per minute); "
              "%d context switches of the whole process\n",
              wakeups, pl::formatFixed(idleSeconds, 0).c_str(), pl::formatFixed(wakeups * 60.0 / idleSeconds, 1).c_str(),
              switches);
  if (wakeups > 0) std::printf("idle: the first wake-ups came at (s):%s\n", when.c_str());
  // Their watches belong to the loop: they go first.
  session->reset();
  screens->reset();
  desktop.reset();
  ax->reset();
  return 0;
}
