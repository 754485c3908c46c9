// The udev adapters on a umockdev machine: time from a device's "add" uevent to its first
// registry lookup (monitor read, registry entries built, service found by id), and the idle
// wake-ups of a run loop with the udev monitor armed (goal: none). Run under umockdev-wrapper
// (ASAN_OPTIONS is not needed in the release preset): umockdev-wrapper bench_udev_hotplug
#include <benchmark/benchmark.h>

#include <chrono>

#include "core/hid/pointer_parameters.h"
#include "platform/linux/sd_event_runloop.h"
#include "platform/linux/udev_event_system.h"
#include "platform/linux/udev_machine.h"
#include "udev/mock_machine.h"

using namespace vl;

namespace {

void BM_AddEventToFirstRegistryLookup(benchmark::State& state) {
  testing::MockMachine mock;  // the testbed first: the preload is active only with one
  if (!testing::MockMachine::available()) {
    state.SkipWithError(testing::MockMachine::whyUnavailable());
    return;
  }
  auto opened = linux_::UdevMachine::open();
  if (!opened) {
    state.SkipWithError(opened.status().detail().c_str());
    return;
  }
  std::unique_ptr<linux_::UdevMachine> machine = std::move(opened).value();
  linux_::UdevEventSystem events(*machine, {});
  Platform p;
  p.registry = &machine->registry();
  p.eventSystem = &events;
  int port = 1;
  for (auto _ : state) {
    state.PauseTiming();
    // umockdev sends the uevents as it adds the device; the clock starts once they are queued.
    std::string ev = mock.addUsbMouse(1, std::to_string(port), 0x093A, 0x2510, "USB Optical Mouse", true);
    state.ResumeTiming();
    machine->processEvents();
    auto it = machine->devices().find(ev);
    auto service = it == machine->devices().end() ? nullptr : events.service(it->second.service);
    RegistryId entry = QS852createRegistry(p, service.get());
    benchmark::DoNotOptimize(entry);
    state.PauseTiming();
    if (entry == 0) state.SkipWithError("the device was not found");
    mock.remove(ev);
    machine->processEvents();
    port = port % 9 + 1;
    state.ResumeTiming();
  }
}
BENCHMARK(BM_AddEventToFirstRegistryLookup)->Unit(benchmark::kMicrosecond)->Iterations(200);

// Idle: the loop waits with the monitor's descriptor armed and nothing happening. Counts the
// passes the loop makes (each pass is a wake-up), over three seconds, per minute.
void BM_IdleWakeupsWithMonitorArmed(benchmark::State& state) {
  testing::MockMachine mock;
  if (!testing::MockMachine::available()) {
    state.SkipWithError(testing::MockMachine::whyUnavailable());
    return;
  }
  mock.addUsbMouse(1, "2", 0x093A, 0x2510, "USB Optical Mouse");
  auto createdLoop = linux_::SdEventRunLoop::create();
  auto opened = linux_::UdevMachine::open();
  if (!createdLoop || !opened) {
    state.SkipWithError((!createdLoop ? createdLoop.status() : opened.status()).detail().c_str());
    return;
  }
  std::unique_ptr<linux_::SdEventRunLoop> loop = std::move(createdLoop).value();
  std::unique_ptr<linux_::UdevMachine> machine = std::move(opened).value();
  int64_t monitorCalls = 0, passes = 0;
  loop->watchFd(machine->monitorFd(), [&] {
    ++monitorCalls;
    machine->processEvents();
  });
  loop->addEndOfPassObserver([&] { ++passes; });
  const double seconds = 3.0;
  for (auto _ : state) {
    passes = monitorCalls = 0;
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (true) {
      double left = std::chrono::duration<double>(end - std::chrono::steady_clock::now()).count();
      if (left <= 0) break;
      loop->runOnce(left);
    }
  }
  state.counters["wakeups_per_minute"] = static_cast<double>(passes) * 60.0 / seconds;
  state.counters["monitor_reads_per_minute"] = static_cast<double>(monitorCalls) * 60.0 / seconds;
  state.counters["pointing_devices"] = static_cast<double>(machine->devices().size());
}
BENCHMARK(BM_IdleWakeupsWithMonitorArmed)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
