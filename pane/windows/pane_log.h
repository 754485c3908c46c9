// PaneLog: the pane's own messages (the alerts and notices it shows, what its process reports),
// kept in order for the pane's log window; LoggingAlerts: the Alerts port that writes each
// alert's text there before handing it on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "platform/api/alerts.h"

namespace vl {

class PaneLog {
 public:
  using Listener = std::function<void(const std::string& text)>;
  // stamp gives the time prefix of each message ("23:41:07 "); empty: the local time.
  explicit PaneLog(std::function<std::string()> stamp = {});

  // Adds one message (its lines as they are, with a line break at the end) and tells the
  // listeners. Empty messages are left out.
  void put(const std::string& message);
  // Everything kept so far: the newest kMaxBytes at most, cut at a line start.
  const std::string& text() const { return text_; }
  // Listeners hear each message as put adds it (with its stamp and line break).
  uint64_t subscribe(Listener listener);
  void unsubscribe(uint64_t token);

  static constexpr size_t kMaxBytes = 256 * 1024;

 private:
  std::function<std::string()> stamp_;
  std::string text_;
  std::map<uint64_t, Listener> listeners_;
  uint64_t next_ = 1;
};

// The local time of day as "HH:MM:SS " (digits only, whatever the locale).
std::string localTimeStamp();

class LoggingAlerts : public Alerts {
 public:
  // inner may be null (the messages are only logged). Both must outlive this.
  LoggingAlerts(Alerts* inner, PaneLog& log) : inner_(inner), log_(log) {}
  void beep() override;
  void presentModal(const ErrorInfo& error) override;
  void presentSheet(const ErrorInfo& error, std::function<void()> onDone) override;
  void displayNotice(const std::string& header, const std::string& message, const std::string& iconPath) override;

 private:
  void logError(const ErrorInfo& error);
  Alerts* inner_;
  PaneLog& log_;
};

}  // namespace vl
