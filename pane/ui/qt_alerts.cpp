// Message boxes for the pane's errors and notices.
#include "pane/ui/qt_alerts.h"

#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>

#include "platform/linux/console_alerts.h"

namespace vl::ui {

namespace {
std::string text(const pl::Dict& info, const char* key) {
  auto it = info.find(key);
  return it != info.end() && it->second.isString() ? *it->second.asString() : std::string();
}
}  // namespace

std::pair<std::string, std::string> alertTexts(const ErrorInfo& error) {
  std::string message = text(error.userInfo, kDescriptionKey);
  if (message.empty()) message = "An error occurred.";
  return {message, text(error.userInfo, kRecoverySuggestionKey)};
}

QtAlerts::QtAlerts(bool interactive, std::string programName)
    : interactive_(interactive), program_(std::move(programName)) {}

QWidget* QtAlerts::sheetParent() const {
  if (mainWindow_) return mainWindow_->window();
  return QApplication::activeWindow();
}

void QtAlerts::beep() { QApplication::beep(); }

void QtAlerts::presentModal(const ErrorInfo& error) {
  std::fputs(linux_::ConsoleAlerts::format(program_, error).c_str(), stderr);
  if (!interactive_) return;
  auto [message, info] = alertTexts(error);
  QMessageBox box(QMessageBox::Warning, QString::fromStdString(program_), QString::fromStdString(message),
                  QMessageBox::Ok, sheetParent());
  box.setInformativeText(QString::fromStdString(info));
  box.exec();
}

void QtAlerts::presentSheet(const ErrorInfo& error, std::function<void()> onDone) {
  std::fputs(linux_::ConsoleAlerts::format(program_, error).c_str(), stderr);
  auto [message, info] = alertTexts(error);
  auto* box = new QMessageBox(QMessageBox::Warning, QString::fromStdString(program_),
                              QString::fromStdString(message), QMessageBox::Ok, sheetParent());
  box->setInformativeText(QString::fromStdString(info));
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(box->parentWidget() ? Qt::WindowModal : Qt::ApplicationModal);
  QObject::connect(box, &QMessageBox::finished, box, [onDone = std::move(onDone)](int) {
    if (onDone) onDone();
  });
  box->open();
}

void QtAlerts::displayNotice(const std::string& header, const std::string& message, const std::string&) {
  std::string line = program_ + ": notice: " + header + (message.empty() ? "" : "\n  " + message) + "\n";
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
  if (!interactive_) return;
  QMessageBox box(QMessageBox::Critical, QString::fromStdString(program_), QString::fromStdString(header),
                  QMessageBox::Ok, sheetParent());
  box.setInformativeText(QString::fromStdString(message));
  box.exec();
}

PaneLifecycle::PaneLifecycle(std::string hostBundleID, std::function<void(const std::string&)> terminateOther)
    : hostBundleID_(std::move(hostBundleID)), terminateOther_(std::move(terminateOther)) {}

void PaneLifecycle::terminate(int status) {
  std::fflush(nullptr);
  std::exit(status);
}

void PaneLifecycle::terminateApplication(const std::string& bundleIdentifier) {
  // The pane lives in the host's process: its end is this process's, which terminate brings.
  if (bundleIdentifier == hostBundleID_) {
    if (QCoreApplication::instance()) QCoreApplication::exit(0);
    return;
  }
  if (terminateOther_) terminateOther_(bundleIdentifier);
}

}  // namespace vl::ui
