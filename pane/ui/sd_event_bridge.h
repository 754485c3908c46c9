// SdEventBridge: runs the program's sd-event loop inside Qt's event loop, so delayed performs,
// timers, world and desktop watches and D-Bus messages are dispatched on the Qt main thread.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <memory>

#include "platform/linux/sd_event_runloop.h"

namespace vl::ui {

class SdEventBridge : public QObject {
  Q_OBJECT
 public:
  // loop must outlive the bridge.
  explicit SdEventBridge(linux_::SdEventRunLoop& loop, QObject* parent = nullptr);
  ~SdEventBridge() override;

  // Dispatches everything that is due now; returns how many sources ran. Does nothing when
  // called from inside a dispatch (a nested Qt loop opened by a callout).
  int drain();

 private:
  linux_::SdEventRunLoop& loop_;
  std::unique_ptr<QSocketNotifier> notifier_;
  bool dispatching_ = false;
};

}  // namespace vl::ui
