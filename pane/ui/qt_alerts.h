// QtAlerts and PaneLifecycle: the pane's alerts as Qt message boxes, and the end of the settings
// host after a fatal error.
#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>
#include <string>

#include "platform/api/alerts.h"

namespace vl::ui {

// The text a message box shows for an error: its description, then the recovery suggestion.
std::pair<std::string, std::string> alertTexts(const ErrorInfo& error);

class QtAlerts : public Alerts {
 public:
  // interactive: a user is there to dismiss boxes (not so on the offscreen platform, where a
  // modal box would wait for ever); the texts always go to standard error as well.
  explicit QtAlerts(bool interactive, std::string programName = "Velmora");

  // The window sheets hang on; the active window when none is set.
  void setMainWindow(QWidget* window) { mainWindow_ = window; }

  void beep() override;
  void presentModal(const ErrorInfo& error) override;
  void presentSheet(const ErrorInfo& error, std::function<void()> onDone) override;
  // A fatal end follows a notice at once: the box is modal, so the user reads it before the
  // host goes.
  void displayNotice(const std::string& header, const std::string& message, const std::string& iconPath) override;

 private:
  QWidget* sheetParent() const;
  bool interactive_;
  std::string program_;
  QPointer<QWidget> mainWindow_;
};

class PaneLifecycle : public Lifecycle {
 public:
  // hostBundleID: the settings host's; terminating it ends this process. Other applications
  // are handed to terminateOther (the simulated Mac's running applications).
  PaneLifecycle(std::string hostBundleID, std::function<void(const std::string&)> terminateOther);
  // Ends the process with status, after the host's own end (when asked for) has run.
  void terminate(int status) override;
  void terminateApplication(const std::string& bundleIdentifier) override;

 private:
  std::string hostBundleID_;
  std::function<void(const std::string&)> terminateOther_;
};

}  // namespace vl::ui
