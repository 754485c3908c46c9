// ConsoleAlerts and ProcessLifecycle.
#include "platform/linux/console_alerts.h"

#include <unistd.h>

#include <cstdlib>

namespace vl::linux_ {

namespace {

// One text of the user info, when it is a string.
std::string infoText(const pl::Dict& info, const char* key) {
  auto it = info.find(key);
  if (it == info.end() || !it->second.isString()) return "";
  return *it->second.asString();
}

void appendUnderlying(const pl::Dict& info, std::string& out, int depth) {
  auto it = info.find(kUnderlyingErrorKey);
  if (it == info.end() || depth > 8) return;
  const pl::Value& u = it->second;
  std::string domain = u.stringFor("domain").value_or("");
  auto code = u.integerFor("code");
  std::string desc = u.dictFor("userInfo") ? infoText(*u.dictFor("userInfo"), kDescriptionKey) : u.describe();
  out += "  caused by: " + (desc.empty() ? std::string("an error") : desc);
  if (!domain.empty() || code) out += " (" + domain + (code ? " " + std::to_string(*code) : "") + ")";
  out += "\n";
  if (const pl::Dict* inner = u.dictFor("userInfo")) appendUnderlying(*inner, out, depth + 1);
}

}  // namespace

ConsoleAlerts::ConsoleAlerts(std::FILE* out, std::string programName) : out_(out), program_(std::move(programName)) {}

std::string ConsoleAlerts::format(const std::string& program, const ErrorInfo& e) {
  std::string desc = infoText(e.userInfo, kDescriptionKey);
  std::string out = program + ": error: " + (desc.empty() ? "an error occurred" : desc);
  if (!e.domain.empty() || e.code != 0) out += " (" + e.domain + " " + std::to_string(e.code) + ")";
  out += "\n";
  std::string hint = infoText(e.userInfo, kRecoverySuggestionKey);
  if (!hint.empty()) out += "  " + hint + "\n";
  appendUnderlying(e.userInfo, out, 0);
  return out;
}

void ConsoleAlerts::beep() {
  if (::isatty(::fileno(out_))) {
    std::fputc('\a', out_);
    std::fflush(out_);
  }
}

void ConsoleAlerts::presentModal(const ErrorInfo& error) {
  std::fputs(format(program_, error).c_str(), out_);
  std::fflush(out_);
}

void ConsoleAlerts::presentSheet(const ErrorInfo& error, std::function<void()> onDone) {
  presentModal(error);
  if (onDone) onDone();
}

void ConsoleAlerts::displayNotice(const std::string& header, const std::string& message, const std::string&) {
  std::string text = program_ + ": notice: " + header + (message.empty() ? "" : "\n  " + message) + "\n";
  std::fputs(text.c_str(), out_);
  std::fflush(out_);
}

ProcessLifecycle::ProcessLifecycle(std::function<void(int)> onTerminate,
                                   std::function<void(const std::string&)> onTerminateApplication)
    : onTerminate_(std::move(onTerminate)), onTerminateApplication_(std::move(onTerminateApplication)) {}

void ProcessLifecycle::terminate(int status) {
  // A failure inside the shutdown work may ask to terminate again; end at once then.
  if (!terminating_) {
    terminating_ = true;
    if (onTerminate_) onTerminate_(status);
  }
  std::fflush(nullptr);
  std::exit(status);
}

void ProcessLifecycle::terminateApplication(const std::string& bundleIdentifier) {
  if (onTerminateApplication_) onTerminateApplication_(bundleIdentifier);
}

}  // namespace vl::linux_
