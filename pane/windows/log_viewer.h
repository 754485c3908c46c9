// VL219LogWinDelegate: the pane's log window. The text model (append and follow the end,
// clear, keyboard commands, tear-down of an output capture) is the one the agent's log window
// uses too (core/system/log_viewer.h).
#pragma once

#include <string>

#include "core/system/log_viewer.h"
#include "pane/windows/save_panel.h"

namespace vl {

inline constexpr const char* kPaneLogFileName = "Velmora_Prefpane_Log.txt";

class LogWindowView : public SavePanelHost {
 public:
  // The text changed; scrollY is where the view must be scrolled to (from the top).
  virtual void showText(const std::string& text, double scrollY) = 0;
  // Cancels a sheet attached to the log window (a save panel).
  virtual void cancelAttachedSheet() = 0;
  virtual void closeWindow() = 0;
};

class VL219LogWinDelegate {
 public:
  explicit VL219LogWinDelegate(LogWindowView& view) : view_(view), model_(kPaneLogFileName) {}
  void openLogViewer() {}
  void closeLogViewer();
  // The window is closing (by the user or closeLogViewer).
  void windowWillClose();
  void putLogViewer(const std::string& text);
  void saveLogViewer();
  void clearLogViewer();
  // "deleteBackward:" clears, "insertNewline:" appends "\n"; false for commands the text
  // view handles itself.
  bool textViewDoCommandBySelector(const std::string& selector);
  // What the view shows: its visible height and the user's scrolling.
  void setVisibleHeight(double h) { model_.setVisibleHeight(h); }
  void scrollTo(double y) { model_.scrollTo(y); }
  // The capture's descriptors, restored when the window closes.
  LogViewer& model() { return model_; }
  const std::string& text() const { return model_.text(); }

 private:
  void refresh();
  LogWindowView& view_;
  LogViewer model_;
};
using LogViewerDelegate = VL219LogWinDelegate;  // the readable name

}  // namespace vl
