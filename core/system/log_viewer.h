// A log window's text model (the agent's and the pane's), without a toolkit: the text, the
// follow-the-end scrolling rule, clear, save, the two keyboard commands, and the tear-down of
// an output capture.
#pragma once

#include <functional>
#include <string>
#include <utility>

namespace vl {

class LogViewer {
 public:
  // Line height of the 12-point fixed-pitch text, in points.
  static constexpr double kLineHeight = 15.0;
  static constexpr const char* kProposedFileName = "Velmora_Manager_Log.txt";

  // The pane's log window proposes its own file name.
  explicit LogViewer(std::string proposedFileName = kProposedFileName) : proposedFileName_(std::move(proposedFileName)) {}
  const std::string& proposedFileName() const { return proposedFileName_; }

  // openLogViewer: capture is not started in this configuration.
  void openLogViewer() {}
  // Appends text; follows the end when the user was looking at it (within 10 points).
  void putLogViewer(const std::string& text);
  void clearLogViewer() { text_.clear(); scrollY_ = 0; }
  // Writes the whole text atomically in UTF-8 to a new or regular file (never over a device,
  // FIFO or folder); false when it was not written, for callers that tell the user.
  bool saveLogViewer(const std::string& path) const;
  // "deleteBackward:" clears, "insertNewline:" appends a newline; true when handled.
  bool textViewDoCommandBySelector(const std::string& selector);
  // Tear-down when the window closes: restores captured descriptors, drops the pipe, clears.
  void windowWillClose();
  // closeLogViewer: cancels an attached sheet and closes the window (running the tear-down).
  void closeLogViewer();

  // What a view shows: its visible height and where it is scrolled to (from the top).
  void setVisibleHeight(double h) { visibleHeight_ = h; }
  void scrollTo(double y) { scrollY_ = y; }
  double scrollY() const { return scrollY_; }
  double documentHeight() const;
  const std::string& text() const { return text_; }
  bool sheetOpen() const { return sheetOpen_; }
  void setSheetOpen(bool open) { sheetOpen_ = open; }

  // The capture's descriptors (0 = nothing saved), as the tear-down restores them.
  int oldStdOut = 0;
  int oldStdErr = 0;
  int logPipe[2] = {-1, -1};

 private:
  std::string proposedFileName_;
  std::string text_;
  double visibleHeight_ = 300;
  double scrollY_ = 0;
  bool sheetOpen_ = false;
};

}  // namespace vl
