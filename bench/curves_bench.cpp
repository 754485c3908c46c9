// Speed of the acceleration model: scalePointer per delta against a double-precision
// evaluation of the same curve, and the curve graph's recomputations (one parametric path,
// one table path, the five curves of a zoom step), with heap allocations counted.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>
#include <vector>

#include "pane/curves/default_curves.h"
#include "pane/curves/parametric_curves.h"
#include "pane/model/curve_view_model.h"

namespace {
std::atomic<long> g_allocations{0};
}  // namespace

void* operator new(std::size_t n) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

using namespace vl;

constexpr int kDeltaCount = 256;

// Device deltas as a 1000 Hz mouse reports them: mostly small, some fast.
std::vector<Fixed> sampleDeltas() {
  std::vector<Fixed> d;
  for (int i = 0; i < kDeltaCount; ++i) d.push_back(X2Fix((i * 37) % 97 + (i % 5) * 0.25));
  return d;
}

void setupDefault(AccelerationState& s) {
  if (setupForAcceleration(s, defaultAcclCurves(), 400, 0.6875) != 0) std::abort();
}

void countAllocations(benchmark::State& state, long before) {
  state.counters["allocs/iter"] = benchmark::Counter(static_cast<double>(g_allocations.load() - before),
                                                     benchmark::Counter::kAvgIterations);
}

void BM_ScalePointer(benchmark::State& state) {
  AccelerationState s;
  setupDefault(s);
  const auto deltas = sampleDeltas();
  size_t i = 0;
  const long before = g_allocations.load();
  for (auto _ : state) {
    benchmark::DoNotOptimize(scalePointer(s, deltas[i]));
    i = (i + 1) % deltas.size();
  }
  countAllocations(state, before);
}
BENCHMARK(BM_ScalePointer);

// The same blended curve in doubles: quartic, tangent line, square-root tail.
struct RealCurve {
  double deviceScale, cursorScale, g[4], t[2], linearSlope, linearIntercept, rootSlope, rootIntercept;
  int tangentIndex;
  explicit RealCurve(const PAParams& pp) {
    auto d = [](IOFixed64 v) { return static_cast<double>(v.value) / 65536.0; };
    deviceScale = d(pp.primary.deviceScale);
    cursorScale = d(pp.primary.cursorScale);
    for (int i = 0; i < 4; ++i) g[i] = d(pp.primary.gain[i]);
    for (int i = 0; i < 2; ++i) t[i] = d(pp.primary.tangent[i]);
    linearSlope = d(pp.secondary.linearSlope);
    linearIntercept = d(pp.secondary.linearIntercept);
    rootSlope = d(pp.secondary.rootSlope);
    rootIntercept = d(pp.secondary.rootIntercept);
    tangentIndex = pp.secondary.tangentIndex;
  }
  double scale(double delta) const {
    const double speed = std::floor(std::fabs(delta));
    if (speed <= 0) return 0;
    const double v = speed / deviceScale;
    double a;
    if (t[tangentIndex] != 0 && v <= t[tangentIndex]) {
      const double x0 = g[0] * v, x1 = g[1] * v, x2 = g[2] * v, x3 = g[3] * v;
      a = x0 + x1 * x1 + x2 * x2 * x2 + x3 * x3 * x3 * x3;
    } else if (tangentIndex == 0 && t[1] != 0 && v <= t[1]) {
      a = linearSlope * v + linearIntercept;
    } else {
      a = std::sqrt(std::fmax(0, rootSlope * v + rootIntercept));
    }
    return a * cursorScale / speed * delta;
  }
};

void BM_DoubleReference(benchmark::State& state) {
  AccelerationState s;
  setupDefault(s);
  const RealCurve curve(s.g_paparams);
  std::vector<double> deltas;
  for (Fixed f : sampleDeltas()) deltas.push_back(Fix2X(f));
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(curve.scale(deltas[i]));
    i = (i + 1) % deltas.size();
  }
}
BENCHMARK(BM_DoubleReference);

struct DefaultDevice {
  CurveDevice device{true, defaultAcclCurves(), defaultAcclTable(), false, 400};
  std::vector<CurveSpeed> rows;
  DefaultDevice() {
    for (int i = 0; i < 5; ++i) rows.push_back({&device, 400.0 + 100 * i, 0.6875, false, favouriteColour(i), true});
  }
};

void BM_PAPath600(benchmark::State& state) {
  DefaultDevice d;
  ErrorStack errors;
  CurveViewModel model(errors);
  model.setViewScaleBy(ZoomSender::None, false, "1.0", "1.0", d.rows);  // 600 counts wide
  CurvePath path;
  model.updateCurvePA(&path, d.device.acclCurves, 400, 0.6875);
  const long before = g_allocations.load();
  for (auto _ : state) {
    if (model.updateCurvePA(&path, d.device.acclCurves, 400, 0.6875) != 0) std::abort();
    benchmark::DoNotOptimize(path.elementCount());
  }
  countAllocations(state, before);
}
BENCHMARK(BM_PAPath600)->Unit(benchmark::kMicrosecond);

void BM_SGPath(benchmark::State& state) {
  DefaultDevice d;
  ErrorStack errors;
  CurveViewModel model(errors);
  model.setViewScaleBy(ZoomSender::None, false, "1.0", "1.0", d.rows);
  CurvePath path;
  model.updateCurveSG(&path, &d.device, 800, 0.6875, false);
  const long before = g_allocations.load();
  for (auto _ : state) {
    // changeAcclTable on the private copy, the segment build, the path.
    if (model.updateCurveSG(&path, &d.device, 800, 0.6875, false) != 0) std::abort();
    benchmark::DoNotOptimize(path.elementCount());
  }
  countAllocations(state, before);
}
BENCHMARK(BM_SGPath)->Unit(benchmark::kMicrosecond);

void BM_ZoomStepFiveCurves(benchmark::State& state) {
  DefaultDevice d;
  ErrorStack errors;
  CurveViewModel model(errors);
  model.setViewScaleBy(ZoomSender::None, false, "3.0", "1.0", d.rows);
  bool up = true;
  for (auto _ : state) {
    if (model.setViewScaleBy(up ? ZoomSender::XUp : ZoomSender::XDown, false, "", "", d.rows) != 0) std::abort();
    up = !up;
  }
}
BENCHMARK(BM_ZoomStepFiveCurves)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
