// Automatic snapping's costs on the simulated desktop: the button search over a window of
// 200 elements, a pass that snaps into such a window, an idle pass, and the worker's CPU
// share while nothing happens.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <thread>

#include "agent/snapping/auto_snapping.h"
#include "agent/snapping/ax_helpers.h"
#include "agent/snapping/button_search.h"
#include "platform/api/sleeper.h"
#include "platform/sim/sim_desktop.h"
#include "platform/sim/sim_mac.h"

namespace {

using namespace vl;

// A settings-like dialog: 10 groups of 19 elements (labels, fields, checkboxes, buttons),
// a toolbar of 4, a message and an icon, then Cancel and Apply on the bottom row: 200
// elements with the window.
sim::ElementSpec bigWindow() {
  sim::ElementSpec w;
  w.role = kAXWindowRole;
  w.subrole = kAXDialogSubrole;
  w.frame = Rect{200, 100, 900, 700};
  sim::ElementSpec toolbar;
  toolbar.role = kAXToolbarRole;
  toolbar.frame = Rect{200, 100, 900, 40};
  for (int i = 0; i < 4; ++i) {
    sim::ElementSpec b;
    b.title = "Tab " + std::to_string(i);
    b.enabled = true;
    b.frame = Rect{220.0 + 90 * i, 105, 80, 30};
    toolbar.children.push_back(b);
  }
  w.children.push_back(toolbar);
  for (int g = 0; g < 10; ++g) {
    sim::ElementSpec group;
    group.role = "AXGroup";
    group.frame = Rect{210, 150.0 + 55 * g, 880, 50};
    for (int k = 0; k < 18; ++k) {
      sim::ElementSpec e;
      const char* roles[] = {"AXStaticText", "AXTextField", "AXCheckBox", "AXButton", "AXPopUpButton", "AXImage"};
      e.role = roles[k % 6];
      e.title = "Item " + std::to_string(g) + "." + std::to_string(k);
      e.enabled = true;
      e.frame = Rect{215.0 + 48 * k, 155.0 + 55 * g, 44, 20};
      if (e.role == std::string("AXButton")) e.subrole = "AXHelpButton";  // keeps them out of the choice
      group.children.push_back(e);
    }
    w.children.push_back(group);
  }
  for (const char* role : {"AXStaticText", "AXImage"}) {
    sim::ElementSpec e;
    e.role = role;
    e.frame = Rect{220, 720, 400, 30};
    w.children.push_back(e);
  }
  for (const char* t : {"Cancel", "Apply"}) {
    sim::ElementSpec b;
    b.title = t;
    b.name = t;
    b.enabled = true;
    b.frame = Rect{t[0] == 'C' ? 880.0 : 980.0, 760, 90, 24};
    w.children.push_back(b);
  }
  return w;
}

struct Bench {
  Bench() : platform(withSleeper()), engine(AutoSnapping::Ports::from(platform), errors) {
    sim::SimDesktop& d = mac.desktop();
    app = d.ensureApplication("Settings");
    other = d.ensureApplication("Notes");
    d.activate(app);
    window = d.openWindow(app, bigWindow());
    sim::ElementSpec small;
    small.role = kAXWindowRole;
    small.frame = Rect{50, 50, 300, 200};
    d.openWindow(other, small);
    engine.setCancelButtonTitle("Cancel");
  }
  Platform withSleeper() {
    Platform p = mac.platform();
    p.sleeper = &sleeper;
    return p;
  }
  sim::SimMac mac;
  ThreadSleeper sleeper;
  Platform platform;
  ErrorStack errors;
  AutoSnapping engine;
  int32_t app = 0, other = 0;
  uint64_t window = 0;
};

void BM_ButtonSearch200Elements(benchmark::State& state) {
  Bench b;
  AXElementRef win = b.mac.desktop().axElement(b.window);
  Point at;
  for (auto _ : state) {
    int32_t rc = QS844buttonPosition(b.platform.accessibility, b.platform.screens, win, kButtonKindDefault, &at, "Cancel");
    benchmark::DoNotOptimize(rc);
    if (rc != 0) state.SkipWithError("search failed");
  }
  state.counters["candidates"] = static_cast<double>(lastButtonCandidates().size());
}
BENCHMARK(BM_ButtonSearch200Elements)->Unit(benchmark::kMicrosecond);

void BM_SnappingPass200Elements(benchmark::State& state) {
  Bench b;
  sim::SimDesktop& d = b.mac.desktop();
  for (auto _ : state) {
    state.PauseTiming();
    // Another window in between, so that the big one is new again.
    d.activate(b.other);
    benchmark::DoNotOptimize(b.engine.moveCursorToItem(kSnapDefaultButton, true, false));
    d.activate(b.app);
    d.moveCursor({600, 400});
    benchmark::DoNotOptimize(b.engine.moveCursorToItem(kSnapDefaultButton, true, false));  // notes the new window
    state.ResumeTiming();
    benchmark::DoNotOptimize(b.engine.moveCursorToItem(kSnapDefaultButton, true, false));  // the pass that snaps
  }
  if (!(d.cursorPosition() == *d.centreOf(d.elementNamed("Apply")))) state.SkipWithError("did not snap");
}
BENCHMARK(BM_SnappingPass200Elements)->Unit(benchmark::kMicrosecond);

void BM_IdlePass(benchmark::State& state) {
  Bench b;
  for (int i = 0; i < 3; ++i) benchmark::DoNotOptimize(b.engine.moveCursorToItem(kSnapDefaultButton, true, true));
  for (auto _ : state) benchmark::DoNotOptimize(b.engine.moveCursorToItem(kSnapDefaultButton, true, true));
  // Every pass found the same focused window again.
  state.counters["same_window_passes"] = b.engine.focusedWinCount();
}
BENCHMARK(BM_IdlePass)->Unit(benchmark::kMicrosecond);

double cpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The real worker on a real clock for a few seconds with nothing happening.
void BM_IdleWorkerCpuShare(benchmark::State& state) {
  Bench b;
  for (auto _ : state) {
    double cpu0 = cpuSeconds();
    auto t0 = std::chrono::steady_clock::now();
    b.engine.startAutoCursorSnappingToItem(kSnapDefaultButton, true, true);
    std::this_thread::sleep_for(std::chrono::seconds(3));
    b.engine.startAutoCursorSnappingToItem(kSnapNone, true, true);
    b.engine.waitForWorker();
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    state.counters["cpu_share_percent"] = 100.0 * (cpuSeconds() - cpu0) / wall;
  }
}
BENCHMARK(BM_IdleWorkerCpuShare)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
