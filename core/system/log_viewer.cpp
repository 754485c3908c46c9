// The log window's text model, shared by the agent's log window and the pane's.
#include "core/system/log_viewer.h"

#include <unistd.h>

#include <algorithm>

#include "core/system/file_output.h"

namespace vl {

double LogViewer::documentHeight() const {
  double lines = 1 + static_cast<double>(std::count(text_.begin(), text_.end(), '\n'));
  return lines * kLineHeight;
}

void LogViewer::putLogViewer(const std::string& text) {
  if (text.empty()) return;
  // Distance of the visible bottom from the document's end, measured before appending:
  // 0 at the end, negative when scrolled up.
  double bottom = std::max(documentHeight(), visibleHeight_);
  double distance = (scrollY_ + visibleHeight_) - bottom;
  text_ += text;
  if (distance > -10.0) scrollY_ = std::max(0.0, documentHeight() - visibleHeight_);
}

bool LogViewer::saveLogViewer(const std::string& path) const {
  return pl::writeUserFile(path, text_).ok();
}

bool LogViewer::textViewDoCommandBySelector(const std::string& selector) {
  if (selector == "deleteBackward:") {
    clearLogViewer();
    return true;
  }
  if (selector == "insertNewline:") {
    putLogViewer("\n");
    return true;
  }
  return false;
}

void LogViewer::windowWillClose() {
  if (oldStdOut != 0) {
    ::dup2(oldStdOut, STDOUT_FILENO);
    ::close(oldStdOut);
    oldStdOut = 0;
  }
  if (oldStdErr != 0) {
    ::dup2(oldStdErr, STDERR_FILENO);
    ::close(oldStdErr);
    oldStdErr = 0;
  }
  for (int& fd : logPipe) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  clearLogViewer();
}

void LogViewer::closeLogViewer() {
  sheetOpen_ = false;
  windowWillClose();
}

}  // namespace vl
