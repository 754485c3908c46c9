// The real agent on a temporary simulated Mac: latency from posting "Cursor Speed Cmd" to the
// property write landing in the world (store of 100 devices, 200 commands), then its idle cost
// (CPU time and wake-ups over a quiet period) and resident memory. Run under dbus-run-session.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "core/store/cursor_speed_record.h"
#include "core/store/device_record.h"
#include "core/store/store.h"
#include "core/system/boa_notifications.h"
#include "platform/linux/dbus_notifications.h"
#include "platform/linux/sd_event_runloop.h"
#include "platform/sim/world.h"

extern char** environ;
using namespace vl;
namespace fs = std::filesystem;

namespace {

double wallNow() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// utime + stime in seconds, voluntary + involuntary context switches, resident kB.
struct ProcStats {
  double cpu = 0;
  long switches = 0;
  long rssKb = 0;
};
ProcStats procStats(pid_t pid) {
  ProcStats s;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  auto close = line.rfind(')');
  std::istringstream rest(line.substr(close + 2));
  std::string field;
  long ticks = sysconf(_SC_CLK_TCK);
  for (int i = 3; i <= 15 && rest >> field; ++i) {
    if (i == 14 || i == 15) s.cpu += std::stod(field) / static_cast<double>(ticks);
  }
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) s.rssKb = std::stol(line.substr(6));
    if (line.find("ctxt_switches:") != std::string::npos) s.switches += std::stol(line.substr(line.find(':') + 1));
  }
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("DBUS_SESSION_BUS_ADDRESS")) {
    std::fprintf(stderr, "run under dbus-run-session\n");
    return 2;
  }
  double quietSeconds = argc > 1 ? std::atof(argv[1]) : 60.0;
  std::string bin = fs::path(fs::canonical("/proc/self/exe")).parent_path().string();
  char tmpl[] = "/tmp/velmora-latency-XXXXXX";
  std::string work = mkdtemp(tmpl);
  setenv("XDG_DATA_HOME", (work + "/data").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (work + "/config").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", (work + "/run").c_str(), 1);
  fs::create_directories(work + "/run");
  fs::permissions(work + "/run", fs::perms::owner_all);
  std::string worldDir = work + "/world";

  auto created = sim::World::create(worldDir, {}, false);
  if (!created) return std::fprintf(stderr, "%s\n", created.status().detail().c_str()), 1;
  std::unique_ptr<sim::World> world = std::move(created).value();
  auto mouse = world->attachProfile(sim::deviceProfileFolder(VELMORA_SOURCE_RESOURCES), "generic-usb-optical-mouse");
  if (!mouse) return std::fprintf(stderr, "%s\n", mouse.status().detail().c_str()), 1;
  RegistryId service = world->mac().eventServicesOf(*mouse).at(0);

  // A store of 100 devices, the connected mouse among them.
  {
    const Platform none;
    ErrorStack errors;
    StoreContextRef ctx;
    ErrorInfo err;
    std::string storeDir = work + "/data/Drovana & Velmora";
    fs::create_directories(storeDir);
    if (QS814createMOC(none, errors, storeDir + "/Device.dvsetting", nullptr, false, &ctx, &err) != 0) return 1;
    for (int i = 0; i < 100; ++i) {
      QS802DeviceClass* d = QS814insertDevice(errors, ctx.get());
      d->setVid(i == 0 ? 0x093A : 0x1000 + i);
      d->setPid(i == 0 ? 0x2510 : 0x2000 + i);
      d->setMid(0);
      d->setTransport(std::string("USB"));
      d->insert5CursorSpeedsWithSens(-1, -1);
    }
    if (QS814saveMOC(ctx.get(), &err) != 0) return 1;
  }

  setenv("VELMORA_WORLD", worldDir.c_str(), 1);
  std::string manager = bin + "/velmora-manager";
  char* args[] = {manager.data(), const_cast<char*>("--quiet"), nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, manager.c_str(), nullptr, nullptr, args, environ) != 0) return 1;

  auto lastWrite = [&](double after) -> double {
    double t = 0;
    // An unreadable history reads as no write yet: the wait below tries again.
    for (const auto& w : world->history(after).valueOr({}))
      if (w.service == service && w.key == "HIDMouseAcceleration") t = w.time;
    return t;
  };
  double start = wallNow();
  while (lastWrite(start - 5) == 0 && wallNow() - start < 20) std::this_thread::sleep_for(std::chrono::milliseconds(20));

  auto createdLoop = linux_::SdEventRunLoop::create();
  if (!createdLoop) return std::fprintf(stderr, "%s\n", createdLoop.status().detail().c_str()), 1;
  std::unique_ptr<linux_::SdEventRunLoop> loop = std::move(createdLoop).value();
  auto connected = linux_::DbusNotifications::connect(*loop);
  if (!connected) return std::fprintf(stderr, "%s\n", connected.status().detail().c_str()), 1;
  std::unique_ptr<linux_::DbusNotifications> bus = std::move(connected).value();
  Platform p;
  p.runLoop = loop.get();
  p.notifications = bus.get();
  std::vector<double> latencies;
  for (int i = 0; i < 200; ++i) {
    double t0 = wallNow();
    QS824postCursorSpeedNotification(p.notifications, 0x093A, 0x2510, 0, "USB", "bench", std::nullopt, std::nullopt, std::nullopt);
    bus->flush();
    double landed = 0;
    while ((landed = lastWrite(t0)) == 0 && wallNow() - t0 < 2) std::this_thread::sleep_for(std::chrono::microseconds(500));
    if (landed > 0) latencies.push_back((landed - t0) * 1000);
  }
  std::sort(latencies.begin(), latencies.end());
  if (latencies.empty()) {
    std::printf("no command landed\n");
  } else {
    std::printf("Cursor Speed Cmd to write landing, %zu of 200 commands: median %.2f ms, p99 %.2f ms, max %.2f ms\n",
                latencies.size(), latencies[latencies.size() / 2],
                latencies[std::min(latencies.size() - 1, latencies.size() * 99 / 100)], latencies.back());
  }

  ProcStats before = procStats(pid);
  std::this_thread::sleep_for(std::chrono::duration<double>(quietSeconds));
  ProcStats after = procStats(pid);
  std::printf("idle %.0f s with a device attached: CPU %.3f s, context switches %ld, resident %ld KiB\n", quietSeconds,
              after.cpu - before.cpu, after.switches - before.switches, after.rssKb);
  kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
  std::printf("agent exit status %d\n", WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  fs::remove_all(work);
  return 0;
}
