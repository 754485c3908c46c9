// ConsoleAlerts and ProcessLifecycle: errors and notices of a program without windows, printed
// to stderr; and ending the process after the program's own termination work.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "platform/api/alerts.h"

namespace vl::linux_ {

class ConsoleAlerts : public Alerts {
 public:
  // Writes to out (stderr by default); the bell rings only when out is a terminal.
  explicit ConsoleAlerts(std::FILE* out = stderr, std::string programName = "velmora");
  void beep() override;
  // Printed at once; there is no one to dismiss them, so they count as dismissed when printed.
  void presentModal(const ErrorInfo& error) override;
  void presentSheet(const ErrorInfo& error, std::function<void()> onDone) override;
  void displayNotice(const std::string& header, const std::string& message, const std::string& iconPath) override;

  // The text of an error as printed: "<program>: error: <description>", the recovery
  // suggestion and the underlying errors indented below, and "(<domain> <code>)".
  static std::string format(const std::string& programName, const ErrorInfo& error);

 private:
  std::FILE* out_;
  std::string program_;
};

class ProcessLifecycle : public Lifecycle {
 public:
  // onTerminate runs before the process ends (the program's shutdown: restoring speeds,
  // saving); terminateApplication is handed to onTerminateApplication (in the shared world it
  // takes the application out of the running list). Either may be empty.
  ProcessLifecycle(std::function<void(int status)> onTerminate,
                   std::function<void(const std::string& bundleIdentifier)> onTerminateApplication);
  // Runs the termination handler once, then exits with status.
  void terminate(int status) override;
  void terminateApplication(const std::string& bundleIdentifier) override;

 private:
  std::function<void(int)> onTerminate_;
  std::function<void(const std::string&)> onTerminateApplication_;
  bool terminating_ = false;
};

}  // namespace vl::linux_
