// The pane's life cycle as the host drives it.
#include "pane/ui/host/pane_session.h"

namespace vl::host {

PaneSession::PaneSession(const LoadedPane& pane, std::string worldFolder, HostIdentity host)
    : entry_(pane.entry()), bundlePath_(pane.bundlePath()), worldFolder_(std::move(worldFolder)), host_(std::move(host)) {}

PaneSession::~PaneSession() { destroy(); }

bool PaneSession::create(std::string* error) {
  if (pane_) return true;
  VelmoraPaneHostInfo info{bundlePath_.c_str(), worldFolder_.c_str(), host_.name.c_str(), host_.bundleID.c_str()};
  pane_ = entry_.create(&info);
  if (!pane_) {
    if (error) *error = "the pane could not be made (see the messages above)";
    return false;
  }
  const char* nib = entry_.mainNibName(pane_);
  nibName_ = nib ? nib : "";
  return true;
}

QWidget* PaneSession::willSelect(QWidget* parent) {
  if (!pane_ || selected_) return view_;
  if (!view_) view_ = entry_.loadMainView(pane_, parent);
  entry_.willSelect(pane_);
  selected_ = true;
  return view_;
}

void PaneSession::didSelect() {
  if (pane_ && selected_) entry_.didSelect(pane_);
}

bool PaneSession::unselect() {
  if (!pane_ || !selected_) return true;
  if (!entry_.shouldUnselect(pane_)) return false;
  entry_.willUnselect(pane_);
  selected_ = false;
  return true;
}

bool PaneSession::selectTab(const std::string& name) { return pane_ && entry_.selectTab(pane_, name.c_str()); }

void PaneSession::destroy() {
  if (!pane_) return;
  if (selected_) {
    // The host is going away: the pane saves what it can, but cannot keep the process alive.
    (void)entry_.shouldUnselect(pane_);
    entry_.willUnselect(pane_);
    selected_ = false;
  }
  entry_.destroy(pane_);
  pane_ = nullptr;
  view_ = nullptr;
}

}  // namespace vl::host
