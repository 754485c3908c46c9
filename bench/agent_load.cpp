// Load on the agent: 1,000 attach/detach events of 20 devices in bursts on the simulated Mac
// (virtual time). Reports leaks of entries and in-flight records, whether every attached
// device ends at its chosen speed, the virtual time to settle and the real time spent.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <unistd.h>

#include "agent/app_controller.h"
#include "core/system/alerts.h"
#include "core/hid/fixed_point.h"
#include "core/plist/codec.h"
#include "core/runloop/virtual_runloop.h"
#include "core/store/cursor_speed_record.h"
#include "core/store/device_record.h"
#include "core/store/store.h"
#include "platform/api/paths.h"
#include "platform/sim/sim_mac.h"

using namespace vl;

namespace {

struct NullAlerts : Alerts {
  void beep() override {}
  void presentModal(const ErrorInfo& e) override { std::fprintf(stderr, "alert: %s\n", e.domain.c_str()); }
  void presentSheet(const ErrorInfo&, std::function<void()>) override {}
  void displayNotice(const std::string&, const std::string&, const std::string&) override {}
};
struct CountingLifecycle : Lifecycle {
  void terminate(int) override { ++fatal; }
  void terminateApplication(const std::string&) override {}
  int fatal = 0;
};

}  // namespace

int main() {
  char tmpl[] = "/tmp/velmora-load-XXXXXX";
  std::string home = mkdtemp(tmpl);
  VirtualRunLoop loop;
  sim::SimMac mac(&loop);
  RootedPaths paths(home, VELMORA_SOURCE_RESOURCES);
  NullAlerts alerts;
  CountingLifecycle lifecycle;
  Platform p = mac.platform();
  p.runLoop = &loop;
  p.paths = &paths;
  p.alerts = &alerts;
  p.lifecycle = &lifecycle;
  std::filesystem::create_directories(paths.temporary());

  // Twenty USB mice, each at its own location, each with its own chosen sensitivity.
  auto fixture = pl::readFile(sim::deviceProfileFolder(VELMORA_SOURCE_RESOURCES) + "/generic-usb-optical-mouse.plist");
  if (!fixture) return 1;
  const int kDevices = 20;
  // This program's error stack and identity, as the manager makes them.
  ErrorStack errors;
  const ProcessIdentity identity{ProcessRole::Agent, {"quillon.Velmora.boa", "Velmora Manager", "2.2.3", ""}, {}};
  std::vector<pl::Value> fixtures;
  {
    StoreContextRef ctx;
    ErrorInfo error;
    if (QS814openMOC(p, errors, nullptr, false, &ctx, &error) != 0) return 1;
    for (int i = 0; i < kDevices; ++i) {
      pl::Value f = *fixture.value;
      // Give each copy its own product id and location, in every entry of its tree.
      std::function<void(pl::Value&)> patch = [&](pl::Value& e) {
        pl::Dict* props = (*e.asDict())["properties"].asDict();
        if (props->count("ProductID")) (*props)["ProductID"] = 0x3000 + i;
        if (props->count("LocationID")) (*props)["LocationID"] = 0x15000000 + (i << 16);
        if (props->count("locationID")) (*props)["locationID"] = 0x15000000 + (i << 16);
        for (auto& c : *(*e.asDict())["children"].asArray()) patch(c);
      };
      patch((*f.asDict())["tree"]);
      fixtures.push_back(f);
      QS802DeviceClass* d = QS814insertDevice(errors, ctx.get());
      d->setVid(0x093A);
      d->setPid(0x3000 + i);
      d->setMid(0);
      d->setTransport(std::string("USB"));
      d->insert5CursorSpeedsWithSens(-1, -1);
      d->setCursorSpeedSelectedIndex(1);
      d->selectedCursorSpeed()->setSensitivity(std::to_string(500 + 10 * i));
    }
    if (QS814saveMOC(ctx.get(), &error) != 0) return 1;
  }

  AgentSettings settings;
  settings.instanceLockPath = home + "/agent.lock";
  AppControllerClass agent(p, ErrorContext{errors, identity}, settings);
  agent.applicationDidFinishLaunching();
  if (!agent.launched()) return 1;

  std::mt19937 rng(7);
  std::vector<RegistryId> attached(kDevices, 0);
  int events = 0;
  double lastAttach = 0;
  auto wallStart = std::chrono::steady_clock::now();
  while (events < 1000) {
    // A burst of 5-40 events 1-400 ms apart, then a pause of 0-3 s.
    int burst = 5 + static_cast<int>(rng() % 36);
    for (int b = 0; b < burst && events < 1000; ++b, ++events) {
      int i = static_cast<int>(rng() % kDevices);
      if (attached[i]) {
        mac.detach(attached[i]);
        attached[i] = 0;
      } else {
        attached[i] = mac.attach(fixtures[i]).valueOr(0);  // a fixture that fails stays detached
        lastAttach = loop.now();
      }
      loop.advance(0.001 * (1 + rng() % 400));
    }
    loop.advance(0.001 * (rng() % 3000));
  }
  double lastEvent = loop.now();
  loop.advance(10);
  double lastWrite = lastEvent;
  for (const auto& w : mac.writes()) lastWrite = std::max(lastWrite, w.time);
  double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();

  int connected = 0, correct = 0;
  for (int i = 0; i < kDevices; ++i) {
    if (!attached[i]) continue;
    ++connected;
    RegistryId service = mac.eventServicesOf(attached[i]).at(0);
    std::optional<int32_t> res;
    for (const auto& w : mac.writes())
      if (w.service == service && w.key == "HIDPointerResolution") res = w.value.intValue();
    if (res == X2Fix(500 + 10 * i)) ++correct;
  }
  size_t entries = agent.connectedDeviceList()->size();
  size_t inFlight = agent.connectedDeviceNotifier()->deviceList().size();
  std::printf("events %d, devices connected at the end %d\n", events, connected);
  std::printf("agent entries %zu (leaked %d), tracker records in flight %zu\n", entries,
              static_cast<int>(entries) - connected, inFlight);
  std::printf("attached devices at their chosen speed: %d of %d\n", correct, connected);
  std::printf("settled %.3f s (virtual) after the last attach (%.3f s after the last event); property writes %zu; "
              "fatal ends %d\n",
              lastWrite - lastAttach, lastWrite - lastEvent, mac.writes().size(), lifecycle.fatal);
  std::printf("real time for the whole run: %.3f s\n", wall);
  agent.applicationWillTerminate();
  std::filesystem::remove_all(home);
  bool ok = entries == static_cast<size_t>(connected) && inFlight == 0 && correct == connected && lifecycle.fatal == 0;
  return ok ? 0 : 1;
}
