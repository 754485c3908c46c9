// The sd-event loop's descriptor (an epoll set that holds its timers, watches and the bus)
// watched by Qt: whenever it is readable, whatever is due runs.
#include "pane/ui/sd_event_bridge.h"

#include <systemd/sd-event.h>

#include <QTimer>

namespace vl::ui {

namespace {
// One readiness of the descriptor can stand for several sources, but sd-event dispatches one
// per iteration; beyond this many in one go the rest runs on Qt's next pass, so the window
// stays responsive under a flood of messages.
constexpr int kDispatchBudget = 64;
}  // namespace

SdEventBridge::SdEventBridge(linux_::SdEventRunLoop& loop, QObject* parent) : QObject(parent), loop_(loop) {
  int fd = sd_event_get_fd(loop_.event());
  notifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { drain(); });
  // Work scheduled before Qt's loop starts (or between two readinesses) shows on the
  // descriptor too, through the loop's timer; one look at once covers what is already due.
  QTimer::singleShot(0, this, [this] { drain(); });
}

SdEventBridge::~SdEventBridge() = default;

int SdEventBridge::drain() {
  if (dispatching_) return 0;
  dispatching_ = true;
  // A callout may open a nested Qt loop (a modal alert); the descriptor stays readable then and
  // would call back at once, for ever, while this dispatch cannot go on.
  notifier_->setEnabled(false);
  int ran = 0;
  for (; ran < kDispatchBudget; ++ran) {
    if (sd_event_run(loop_.event(), 0) <= 0) break;
  }
  notifier_->setEnabled(true);
  dispatching_ = false;
  if (ran == kDispatchBudget) QTimer::singleShot(0, this, [this] { drain(); });
  return ran;
}

}  // namespace vl::ui
