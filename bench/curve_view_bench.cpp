// One frame of the curve graph while a slider is dragged: the favourite's value changes in the
// store, the view's observer recomputes the focused curve (with the pre-drag source curve and
// the indicator shown) and the whole graph is drawn, into an SVG document or into a recording
// surface that only keeps the commands. Goal: well under 2 ms per frame.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/runloop/virtual_runloop.h"
#include "core/store/records.h"
#include "pane/curves/default_curves.h"
#include "pane/graph/curve_view.h"
#include "pane/graph/svg_surface.h"
#include "platform/api/paths.h"
#include "platform/sim/sim_mac.h"

namespace {

using namespace vl;

class DragHost : public CurveViewHost {
 public:
  void addCurveViewObserver(VL260CurveView*) override {}
  void removeCurveViewObserver(VL260CurveView*) override {}
  QS802DeviceClass* selectedDevice() const override { return device; }
  std::vector<QS805CursorSpeedClass*> cursorSpeedRows() const override { return rows; }
  size_t cursorSpeedSelectionIndex() const override { return 2; }
  void selectCursorSpeedRow(size_t) override {}
  bool cursorSpeedTableEnabled() const override { return true; }
  bool cursorSpeedTableIsFirstResponder() const override { return false; }
  bool isDeleted(const QS802DeviceClass*) const override { return false; }
  bool mouseButtonDown() const override { return buttonDown; }
  std::optional<std::string> kernelExtensionPath(const std::string&) const override { return std::nullopt; }
  std::optional<std::string> microsoftDriverPath() const override { return std::nullopt; }
  bool karabinerElementsRunning() const override { return false; }
  void removeAllUndoActions() override {}
  void setNeedsDisplay() override {}
  void showSheetAlert(const std::string&, const std::string&) override {}

  QS802DeviceClass* device = nullptr;
  std::vector<QS805CursorSpeedClass*> rows;
  bool buttonDown = false;
};

// A connected mouse with its five favourites in a store, and the view showing them mid-drag.
struct Scene {
  Scene() : mac(&loop), paths(folder(), VELMORA_SOURCE_RESOURCES) {
    platform = mac.platform();
    platform.runLoop = &loop;
    platform.paths = &paths;
    RecordSettings records;
    records.defaultAcclTable = pl::Value(*defaultAcclTable());
    records.defaultAcclCurves = *defaultAcclCurves();
    ErrorInfo err;
    if (QS814createMOC(platform, errors, folder() + "/Device.dvsetting", nullptr, false, &ctx, &err, records) != 0) std::abort();
    auto attached = mac.attachProfile(sim::deviceProfileFolder(VELMORA_SOURCE_RESOURCES), "generic-usb-optical-mouse");
    if (!attached) std::abort();
    RegistryId top = *attached;
    host.device = QS814insertDevice(errors, ctx.get());
    host.device->setVid(0x93a);
    host.device->setPid(0x2510);
    host.device->setTransport(std::string("USB"));
    host.device->setPointerResolution(std::string("400"));
    if (!host.device->insert5CursorSpeedsWithSens(-1, -1)) std::abort();
    if (host.device->VL702addClient(mac.serviceFor(mac.eventServicesOf(top).front())) != 0) std::abort();
    host.rows = host.device->cursorSpeeds();
    std::sort(host.rows.begin(), host.rows.end(), [](auto* a, auto* b) { return a->index() < b->index(); });
    view = std::make_unique<VL260CurveView>(platform, ErrorContext{errors, identity}, host);
    if (view->prepare() != 0) std::abort();
    host.buttonDown = true;  // the drag: the source curve stays on screen
    view->updateIndicatorByX(120, 0);
  }
  ~Scene() {
    view.reset();
    ctx.reset();
    std::error_code ec;
    std::filesystem::remove_all(folder(), ec);
  }
  static std::string folder() {
    static const std::string f = [] {
      std::string d = (std::filesystem::temp_directory_path() / ("velmora-bench-" + std::to_string(::getpid()))).string();
      std::filesystem::create_directories(d);
      return d;
    }();
    return f;
  }
  // One slider step: the favourite's sensitivity moves and the view follows.
  void step(int i) {
    host.rows[2]->setSensitivity(std::to_string(500 + i % 200));
    view->observeValueForKeyPath(kObservedSensitivity);
  }

  VirtualRunLoop loop;
  sim::SimMac mac;
  RootedPaths paths;
  Platform platform;
  ErrorStack errors;
  const ProcessIdentity identity{ProcessRole::Pane, {}, {}};
  StoreContextRef ctx;
  DragHost host;
  std::unique_ptr<VL260CurveView> view;
};

void BM_SliderFrameSvg(benchmark::State& state) {
  Scene scene;
  int i = 0;
  size_t bytes = 0;
  for (auto _ : state) {
    scene.step(i++);
    SvgSurface surface(scene.view->viewWidth(), scene.view->viewHeight());
    scene.view->drawRect(surface);
    std::string doc = surface.document();
    bytes = doc.size();
    benchmark::DoNotOptimize(doc);
  }
  state.counters["svg bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_SliderFrameSvg)->Unit(benchmark::kMicrosecond);

void BM_SliderFrameRecording(benchmark::State& state) {
  Scene scene;
  int i = 0;
  RecordingSurface surface;
  for (auto _ : state) {
    scene.step(i++);
    surface.commands.clear();
    scene.view->drawRect(surface);
    benchmark::DoNotOptimize(surface.commands.data());
  }
  state.counters["commands"] = static_cast<double>(surface.commands.size());
}
BENCHMARK(BM_SliderFrameRecording)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
