// The real desktop's speed writers against the acceleration model: per writer, the largest and
// mean relative difference of the cursor speed it yields from the model's over device speeds
// of 1 … 200 counts per frame for the five default favourites; and the exact filter's cost
// per event (latency percentiles, CPU at 1,000 and 8,000 reports per second).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "core/plist/number_text.h"
#include "platform/linux/mapped_pointer_writer.h"
#include "tools/inputd/core/motion_filter.h"

namespace {

using namespace vl;
using namespace vl::inputd;

// The five favourites a new device gets: sensitivities 400 … 800 at tracking 0.6875.
constexpr double kFavouriteResolutions[] = {400, 500, 600, 700, 800};
constexpr double kFavouriteTracking = 0.6875;

std::string fixed(double v, int digits) { return pl::formatFixed(v, digits); }

// Cursor pixels per frame each writer gives a frame of `counts` counts.
double exactFilterPixels(const CursorCurve& curve, int counts) {
  MotionFilter f(curve);
  std::vector<InputEvent> out;
  f.feed({0, kEvRel, kRelX, counts}, out);
  f.feed({0, kEvSyn, kSynReport, 0}, out);
  int64_t whole = 0;
  for (const InputEvent& e : out)
    if (e.type == kEvRel) whole += e.value;
  return (static_cast<double>(whole) * 65536 + static_cast<double>(f.remainderX())) / 65536.0;
}

struct Difference {
  double largest = 0, sum = 0;
  int n = 0;
  void add(double yielded, double model) {
    double d = std::fabs(yielded - model) / model;
    largest = std::max(largest, d);
    sum += d;
    ++n;
  }
  double mean() const { return n ? sum / n : 0; }
};

void printCurveDifferences(double tracking) {
  const char* writers[] = {"x11-libinput", "x11-ptraccel", "kwin", "inputd"};
  std::cout << "Relative difference of each writer's cursor speed from the model, device speeds 1-200 counts/frame,\n"
               "the five default favourites (resolution 400-800, tracking "
            << (tracking < 0 ? std::string("-1: acceleration off") : fixed(tracking, 4)) << "):\n";
  std::cout << "writer        favourite   gain(px/count)  largest    mean\n";
  for (const char* w : writers) {
    Difference all;
    for (double res : kFavouriteResolutions) {
      auto curve = CursorCurve::create(nullptr, res, tracking);
      if (!curve) std::abort();
      const linux_input::DesktopSpeed speed = flatSpeedFor(res, tracking);
      Difference one;
      double gain = 0;
      for (int v = 1; v <= 200; ++v) {
        const double model = static_cast<double>(curve->cursorFixed(v)) / 65536.0;
        double yielded;
        const std::string name = w;
        if (name == "inputd") {
          yielded = exactFilterPixels(*curve, v);
          gain = 0;
        } else if (name == "x11-ptraccel") {
          gain = 1.0 / linux_input::ptraccelDecelerationFor(speed.gain);
          yielded = v * gain;
        } else {
          gain = 1.0 + linux_input::libinputFlatSpeedFor(speed.gain);
          yielded = v * gain;
        }
        one.add(yielded, model);
        all.add(yielded, model);
      }
      std::cout << "  " << w << std::string(12 - std::string(w).size(), ' ') << "  " << fixed(res, 0) << "/"
                << (tracking < 0 ? std::string("off   ") : fixed(tracking, 4)) << "  " << (gain > 0 ? fixed(gain, 4) : std::string("exact ")) << "          "
                << fixed(one.largest * 100, 4) << "%   " << fixed(one.mean() * 100, 4) << "%\n";
    }
    std::cout << "  " << w << " overall: largest " << fixed(all.largest * 100, 4) << "%, mean " << fixed(all.mean() * 100, 4)
              << "%\n";
  }
}

// Frames of a 1000 Hz mouse in motion: mostly small, some fast, both axes.
std::vector<InputEvent> frames(int count) {
  std::vector<InputEvent> e;
  for (int i = 0; i < count; ++i) {
    e.push_back({i, kEvRel, kRelX, (i * 37) % 41 - 20});
    e.push_back({i, kEvRel, kRelY, (i * 13) % 23 - 11});
    e.push_back({i, kEvSyn, kSynReport, 0});
  }
  return e;
}

double threadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Latency a frame gains in the filter (from its SYN_REPORT in to its frame out), measured one
// frame at a time; and the same with the two system calls the service makes per frame (a
// read from the grabbed device and a write to uinput), here on pipes.
void printFilterLatency() {
  auto curve = CursorCurve::create(nullptr, 400, kFavouriteTracking);
  if (!curve) std::abort();
  for (bool withIo : {false, true}) {
    MotionFilter filter(*curve);
    const auto in = frames(200000);
    std::vector<InputEvent> out;
    out.reserve(16);
    std::vector<double> ns;
    ns.reserve(in.size() / 3);
    int pin[2], pout[2];
    if (pipe2(pin, O_NONBLOCK) != 0 || pipe2(pout, O_NONBLOCK) != 0) std::abort();
    const double cpu0 = threadCpuSeconds();
    for (size_t i = 0; i < in.size(); i += 3) {
      auto t0 = std::chrono::steady_clock::now();
      InputEvent raw[3];
      if (withIo) {
        if (write(pin[1], &in[i], sizeof raw) != sizeof raw || read(pin[0], raw, sizeof raw) != sizeof raw) std::abort();
      } else {
        std::copy(in.begin() + i, in.begin() + i + 3, raw);
      }
      out.clear();
      for (const InputEvent& e : raw) filter.feed(e, out);
      if (withIo && !out.empty()) {
        char sink[256];
        if (write(pout[1], out.data(), out.size() * sizeof(InputEvent)) < 0 || read(pout[0], sink, sizeof sink) < 0) std::abort();
      }
      ns.push_back(std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0).count());
    }
    // CPU per frame from the thread's own CPU time: a busy machine's preemptions (the long
    // maxima) are wall-clock time, not work of the filter.
    const double cpuPerFrame = (threadCpuSeconds() - cpu0) / static_cast<double>(ns.size());
    for (int fd : {pin[0], pin[1], pout[0], pout[1]}) close(fd);
    std::sort(ns.begin(), ns.end());
    const auto pct = [&](double p) { return ns[static_cast<size_t>(p * (ns.size() - 1))]; };
    std::cout << "Exact filter" << (withIo ? " + read/write system calls (pipes)" : "") << ": per frame p50 "
              << fixed(pct(0.5) / 1000, 3) << " us, p99 " << fixed(pct(0.99) / 1000, 3) << " us, max "
              << fixed(ns.back() / 1000, 1) << " us (wall clock, includes preemption); CPU at 1000 reports/s "
              << fixed(cpuPerFrame * 1000 * 100, 4) << "% of a core, at 8000 reports/s "
              << fixed(cpuPerFrame * 8000 * 100, 4) << "%\n";
  }
}

void BM_FilterFrame(benchmark::State& state) {
  auto curve = CursorCurve::create(nullptr, 400, kFavouriteTracking);
  if (!curve) std::abort();
  MotionFilter filter(*curve);
  const auto in = frames(4096);
  std::vector<InputEvent> out;
  out.reserve(16);
  size_t i = 0;
  for (auto _ : state) {
    out.clear();
    filter.feed(in[i], out);
    filter.feed(in[i + 1], out);
    filter.feed(in[i + 2], out);
    benchmark::DoNotOptimize(out.data());
    i = (i + 3) % in.size();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FilterFrame);

void BM_FlatGainFit(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(flatSpeedFor(400, kFavouriteTracking));
}
BENCHMARK(BM_FlatGainFit);

}  // namespace

int main(int argc, char** argv) {
  printCurveDifferences(kFavouriteTracking);
  printCurveDifferences(-1);
  printFilterLatency();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
