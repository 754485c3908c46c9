// The settings window's speed: opening the pane (controller, graph, Qt view) in a host window
// on a store of 100 devices until its first paint, and one frame of the curve graph painted with
// QPainter (five favourite curves, the source curve of a slider drag and the live indicator).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QApplication>
#include <QImage>
#include <QMainWindow>
#include <QPainter>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "core/system/alerts.h"
#include "core/runloop/virtual_runloop.h"
#include "core/store/records.h"
#include "pane/graph/curve_view.h"
#include "pane/ui/curve_widget.h"
#include "pane/ui/pane_ui.h"
#include "platform/api/paths.h"
#include "platform/api/sleeper.h"
#include "platform/sim/sim_mac.h"
#include "platform/sim/sim_workspace.h"
#include "platform/sim/world_service_manager.h"

namespace {

using namespace vl;

constexpr int kDevices = 100;

class Quiet : public Alerts {
 public:
  void beep() override {}
  void presentModal(const ErrorInfo&) override {}
  void presentSheet(const ErrorInfo&, std::function<void()> done) override {
    if (done) done();
  }
  void displayNotice(const std::string&, const std::string&, const std::string&) override {}
};
class Stay : public Lifecycle {
 public:
  void terminate(int) override { ++ends; }
  void terminateApplication(const std::string&) override {}
  int ends = 0;
};
class NoSleep : public Sleeper {
 public:
  void sleep(double) override {}
};
// Shift held: the device list shows every stored device, connected or not.
class ShiftHeld : public ui::InputState {
 public:
  Qt::KeyboardModifiers modifiers() const override { return Qt::ShiftModifier; }
  bool mouseButtonDown() const override { return false; }
};

// A simulated Mac with a pane bundle and a store of 100 devices, in a temporary home.
struct Bench {
  Bench()
      : home(makeHome()),
        mac(&loop),
        paths(home, VELMORA_SOURCE_RESOURCES),
        workspace(home),
        services(home + "/world", [](const std::vector<std::string>&, const std::string&) -> Result<pid_t> { return 7001; }),
        admin(home + "/world") {
    std::filesystem::create_directories(home + "/world");
    platform = mac.platform();
    platform.runLoop = &loop;
    platform.paths = &paths;
    platform.alerts = &alerts;
    platform.lifecycle = &lifecycle;
    platform.workspace = &workspace;
    platform.serviceManager = &services;
    platform.adminPrompt = &admin;
    platform.sleeper = &sleeper;
    settings.bundlePath = home + "/Library/PreferencePanes/Velmora.prefPane";
    // Without the agent's bundle the pane would measure its missing-agent path instead.
    if (!workspace.makeBundle(settings.bundlePath + "/" + kAgentRelativePath, "quillon.Velmora.boa", false)) std::abort();
    storePath = home + "/Library/Application Support/Drovana & Velmora/Device.dvsetting";
    settings.storePath = storePath;
    writeStore();
  }
  ~Bench() {
    std::error_code ec;
    std::filesystem::remove_all(home, ec);
  }
  static std::string makeHome() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "velmora-ui-bench-XXXXXX").string();
    char* dir = mkdtemp(tmpl.data());
    return dir ? dir : "/tmp";
  }
  void writeStore() {
    StoreContextRef ctx;
    ErrorInfo err;
    std::filesystem::create_directories(std::filesystem::path(storePath).parent_path());
    if (QS814createMOC(platform, errors, storePath, nullptr, false, &ctx, &err) != 0) std::abort();
    for (int i = 0; i < kDevices; ++i) {
      QS802DeviceClass* d = QS814insertDevice(errors, ctx.get());
      d->setVid(0x400 + static_cast<uint32_t>(i));
      d->setPid(0xc52b);
      d->setMid(static_cast<uint32_t>(i % 7));
      d->setTransport(i % 2 ? std::string("USB") : std::string("Bluetooth"));
      d->setName(std::string("Mouse ") + std::to_string(i));
      d->setCursorSpeedSelectedIndex(i % 5);
      if (!d->insert5CursorSpeedsWithSens(-1, -1)) std::abort();
    }
    if (QS814saveMOC(ctx.get(), &err) != 0) std::abort();
  }

  std::string home;
  VirtualRunLoop loop;
  sim::SimMac mac;
  RootedPaths paths;
  Quiet alerts;
  Stay lifecycle;
  sim::SimWorkspace workspace;
  sim::WorldServiceManager services;
  sim::WorldAdminPrompt admin;
  NoSleep sleeper;
  ShiftHeld input;
  Platform platform;
  ErrorStack errors;
  const ProcessIdentity identity{ProcessRole::Pane, {}, {"quillon.Velmora.prefpane", "Velmora", "2.2.3", ""}};
  PaneSettings settings;
  std::string storePath;
};

// The host window with the pane selected and painted once.
struct OpenPane {
  explicit OpenPane(Bench& b) {
    pane = std::make_unique<ui::PaneUi>(b.platform, ErrorContext{b.errors, b.identity}, b.settings, b.input);
    host = std::make_unique<QMainWindow>();
    (void)pane->mainNibName();
    host->setCentralWidget(pane->loadMainView(host.get()));
    host->resize(900, 760);
    pane->willSelect();
    host->show();
    pane->didSelect();
    b.loop.runPass();
    // The first paint: the whole window into its backing store.
    host->repaint();
  }
  ~OpenPane() {
    if (pane->shouldUnselect()) pane->willUnselect();
    pane.reset();
    host.reset();
  }
  std::unique_ptr<ui::PaneUi> pane;
  std::unique_ptr<QMainWindow> host;
};

void BM_WindowOpenToFirstPaint(benchmark::State& state) {
  Bench b;
  for (auto _ : state) {
    std::optional<OpenPane> open;
    open.emplace(b);
    // Closing is not what is measured.
    state.PauseTiming();
    if (open->pane->controller().deviceList().count() != kDevices) state.SkipWithError("the list lacks devices");
    open.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_WindowOpenToFirstPaint)->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_CurveGraphFrame(benchmark::State& state) {
  Bench b;
  OpenPane open(b);
  VL260CurveView& view = open.pane->controller().curveView();
  // All five curves on, and a drag in progress: the source curve is drawn as well.
  for (size_t i = 0; i < kCurveRows; ++i)
    if (!view.curveVisibleCheckbox(i)) view.clickCurveVisibleCheckbox(i);
  ui::PaneView& pv = open.pane->view();
  pv.trackingSlider()->setSliderDown(true);
  pv.trackingSlider()->setValue(pv.trackingSlider()->value() + 300);
  b.loop.runPass();
  view.updateIndicatorByX(40, 0);
  if (view.sourceCurve().isEmpty()) state.SkipWithError("no source curve");
  ui::CurveCanvas* canvas = open.pane->view().curvePanel()->canvas();
  QImage frame(canvas->sizeHint(), QImage::Format_ARGB32_Premultiplied);
  for (auto _ : state) {
    QPainter painter(&frame);
    canvas->paintGraph(painter);
  }
  pv.trackingSlider()->setSliderDown(false);
}
BENCHMARK(BM_CurveGraphFrame)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
