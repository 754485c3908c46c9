// The pane's message log and the alerts that write into it.
#include "pane/windows/pane_log.h"

#include <ctime>

namespace vl {

namespace {

void twoDigits(std::string& out, int v) {
  out += static_cast<char>('0' + (v / 10) % 10);
  out += static_cast<char>('0' + v % 10);
}

std::string textOf(const ErrorInfo& error, const char* key) {
  auto it = error.userInfo.find(key);
  if (it == error.userInfo.end()) return {};
  if (const std::string* s = it->second.asString()) return *s;
  return it->second.describe();
}

}  // namespace

std::string localTimeStamp() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  std::string out;
  twoDigits(out, tm.tm_hour);
  out += ':';
  twoDigits(out, tm.tm_min);
  out += ':';
  twoDigits(out, tm.tm_sec);
  out += ' ';
  return out;
}

PaneLog::PaneLog(std::function<std::string()> stamp) : stamp_(std::move(stamp)) {
  if (!stamp_) stamp_ = localTimeStamp;
}

void PaneLog::put(const std::string& message) {
  if (message.empty()) return;
  std::string entry = stamp_() + message;
  if (entry.back() != '\n') entry += '\n';
  text_ += entry;
  if (text_.size() > kMaxBytes) {
    // The oldest lines go; the rest starts at a line.
    size_t cut = text_.find('\n', text_.size() - kMaxBytes);
    text_.erase(0, cut == std::string::npos ? text_.size() - kMaxBytes : cut + 1);
  }
  // A listener may unsubscribe while it hears: walk a copy.
  auto listeners = listeners_;
  for (auto& [token, listener] : listeners)
    if (listener) listener(entry);
}

uint64_t PaneLog::subscribe(Listener listener) {
  const uint64_t token = next_++;
  listeners_[token] = std::move(listener);
  return token;
}

void PaneLog::unsubscribe(uint64_t token) { listeners_.erase(token); }

void LoggingAlerts::logError(const ErrorInfo& error) {
  std::string text = textOf(error, kDescriptionKey);
  const std::string more = textOf(error, kRecoverySuggestionKey);
  if (!more.empty()) text += (text.empty() ? "" : "\n") + more;
  if (text.empty()) text = error.domain;
  log_.put(text);
}

void LoggingAlerts::beep() {
  if (inner_) inner_->beep();
}

void LoggingAlerts::presentModal(const ErrorInfo& error) {
  logError(error);
  if (inner_) inner_->presentModal(error);
}

void LoggingAlerts::presentSheet(const ErrorInfo& error, std::function<void()> onDone) {
  logError(error);
  if (inner_) {
    inner_->presentSheet(error, std::move(onDone));
  } else if (onDone) {
    onDone();
  }
}

void LoggingAlerts::displayNotice(const std::string& header, const std::string& message, const std::string& iconPath) {
  log_.put(message.empty() ? header : header + "\n" + message);
  if (inner_) inner_->displayNotice(header, message, iconPath);
}

}  // namespace vl
