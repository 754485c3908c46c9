// The pane's log window: the agent's log model behind the pane's own file name and view.
#include "pane/windows/log_viewer.h"

namespace vl {

void VL219LogWinDelegate::refresh() { view_.showText(model_.text(), model_.scrollY()); }

void VL219LogWinDelegate::closeLogViewer() {
  view_.cancelAttachedSheet();
  view_.closeWindow();
  windowWillClose();
}

void VL219LogWinDelegate::windowWillClose() {
  // Restores captured output descriptors and drops the pipe; the text goes with the window.
  model_.windowWillClose();
  refresh();
}

void VL219LogWinDelegate::putLogViewer(const std::string& text) {
  if (text.empty()) return;
  model_.putLogViewer(text);
  refresh();
}

void VL219LogWinDelegate::saveLogViewer() {
  std::string text = model_.text();
  LogWindowView& view = view_;
  view_.runSavePanel(model_.proposedFileName(), [text, &view](const std::optional<std::string>& path) {
    if (!path) return;
    if (Status saved = saveTextAtomically(*path, text); !saved) view.showSaveFailure(saved.detail());
  });
}

void VL219LogWinDelegate::clearLogViewer() {
  model_.clearLogViewer();
  refresh();
}

bool VL219LogWinDelegate::textViewDoCommandBySelector(const std::string& selector) {
  if (!model_.textViewDoCommandBySelector(selector)) return false;
  refresh();
  return true;
}

}  // namespace vl
