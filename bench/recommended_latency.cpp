// Measurement: how late the settings window's event loop runs while the recommended-settings
// window waits for a slow web service. The Qt window (offscreen) downloads through the libcurl
// client from an in-process server that answers after 3 s; a 10 ms timer records how late each
// of its ticks comes (max and 99th percentile). For comparison, the same wait done as one
// blocking request on the event loop.
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <httplib.h>
#include <thread>
#include <vector>

#include "core/plist/codec.h"
#include "core/plist/number_text.h"
#include "pane/ui/recommended_window.h"
#include "pane/ui/sd_event_bridge.h"
#include "pane/windows/recommended_window.h"
#include "platform/linux/curl_http_client.h"
#include "platform/linux/sd_event_runloop.h"
#include "platform/sim/sim_mac.h"

namespace {

constexpr int kServerDelayMs = 3000;
constexpr int kTickMs = 10;

class SearchHost : public vl::RecommendedWindowHost {
 public:
  // Shift alone: the window asks for a typed identity, so no store is needed.
  vl::ModifierFlags recommendedModifierFlags() const override { return {true, false, false, false}; }
  bool isDeleted(const vl::QS802DeviceClass*) const override { return false; }
  void applyRecommendedSens(double, double, vl::QS802DeviceClass*) override {}
};

struct Lateness {
  double maxMs = 0, p99Ms = 0, p50Ms = 0;
  size_t ticks = 0;
};

Lateness summarise(std::vector<double> late) {
  Lateness l;
  l.ticks = late.size();
  if (late.empty()) return l;
  std::sort(late.begin(), late.end());
  l.maxMs = late.back();
  l.p99Ms = late[std::min(late.size() - 1, static_cast<size_t>(late.size() * 0.99))];
  l.p50Ms = late[late.size() / 2];
  return l;
}

// Runs Qt's loop for ms milliseconds with a 10 ms timer, recording each tick's lateness.
std::vector<double> measure(int ms, const std::function<void()>& atStart) {
  std::vector<double> late;
  QElapsedTimer clock;
  QTimer tick;
  tick.setTimerType(Qt::PreciseTimer);
  tick.setInterval(kTickMs);
  qint64 last = 0;
  QObject::connect(&tick, &QTimer::timeout, [&] {
    qint64 now = clock.nsecsElapsed();
    late.push_back(std::max(0.0, (now - last) / 1e6 - kTickMs));
    last = now;
  });
  clock.start();
  tick.start();
  QTimer::singleShot(0, atStart);
  QTimer::singleShot(ms, [] { QApplication::exit(0); });
  QApplication::exec();
  tick.stop();
  return late;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);

  pl::Array entries{pl::Dict{{"Acc", 0.6875}, {"Sen", 1600.0}, {"Qty", 40}, {"Tot", 40}}};
  std::string answer = pl::writeXml(pl::Value(entries));
  httplib::Server server;
  server.Get("/velmora/xml/setting_rank.php", [&](const httplib::Request&, httplib::Response& res) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kServerDelayMs));
    res.set_content(answer, "application/xml");
  });
  int port = server.bind_to_any_port("127.0.0.1");
  std::thread serving([&] { server.listen_after_bind(); });
  while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));

  auto created = vl::linux_::SdEventRunLoop::create();
  if (!created) {
    std::fprintf(stderr, "no run loop: %s\n", created.status().detail().c_str());
    return 1;
  }
  std::unique_ptr<vl::linux_::SdEventRunLoop> loop = std::move(created).value();
  vl::ui::SdEventBridge bridge(*loop);
  vl::linux_::CurlHttpClient http("http://127.0.0.1:" + std::to_string(port), loop.get());
  vl::sim::SimMac mac(loop.get());
  vl::Platform platform = mac.platform();
  platform.runLoop = loop.get();
  platform.http = &http;

  SearchHost host;
  vl::QS838RecdWinClass logic(vl::QS838RecdWinClass::Ports::from(platform), host, "quillon.Velmora.prefpane");
  logic.setSharingEnabled(true);
  vl::ui::RecommendedWindow* window = nullptr;
  logic.setViewFactory([&](vl::QS838RecdWinClass& l) {
    auto w = std::make_unique<vl::ui::RecommendedWindow>(platform, l);
    window = w.get();
    return w;
  });
  int barPaints = 0;
  struct PaintCounter : QObject {
    int* count;
    explicit PaintCounter(int* c) : count(c) {}
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::Paint) ++*count;
      return false;
    }
  } counter(&barPaints);

  // The window's own download: the loop keeps ticking while the server waits.
  std::vector<double> asyncLate = measure(kServerDelayMs - 500, [&] {
    logic.show(nullptr);
    window->field(vl::RecdField::Vid)->setText("1133");
    window->field(vl::RecdField::Pid)->setText("c52b");
    window->progressBar()->installEventFilter(&counter);
  });
  bool stillWaiting = logic.downloading();
  // Let the answer arrive and be shown.
  QTimer::singleShot(1500, [] { QApplication::exit(0); });
  QApplication::exec();
  bool listed = window && window->table()->rowCount() == 1;

  // The blocking way: one synchronous request from the event loop.
  std::vector<double> syncLate = measure(kServerDelayMs + 500, [&] {
    (void)http.get("/velmora/xml/setting_rank.php", "VID=1133&PID=50475&MID=0&Tra=USB&OS0=101200&OS1=0&Cnt=20", 5.0);
  });

  logic.close();
  server.stop();
  serving.join();

  Lateness a = summarise(asyncLate), s = summarise(syncLate);
  std::printf("event-loop lateness of a %d ms timer while the ranking waits %d ms for the server\n", kTickMs,
              kServerDelayMs);
  // QApplication took the user's locale: numbers go through the locale-free formatter.
  auto ms = [](double v) { return pl::formatFixed(v, 2); };
  std::printf("  window download (started, not waited for): ticks %zu  p50 %s ms  p99 %s ms  max %s ms\n",
              a.ticks, ms(a.p50Ms).c_str(), ms(a.p99Ms).c_str(), ms(a.maxMs).c_str());
  std::printf("    download still running during the measurement: %s; busy bar repaints: %d; list shown after: %s\n",
              stillWaiting ? "yes" : "no", barPaints, listed ? "yes" : "no");
  std::printf("  blocking request on the event loop (for comparison):  ticks %zu  p50 %s ms  p99 %s ms  max %s ms\n",
              s.ticks, ms(s.p50Ms).c_str(), ms(s.p99Ms).c_str(), ms(s.maxMs).c_str());
  return stillWaiting && listed && a.maxMs < 50 ? 0 : 1;
}
