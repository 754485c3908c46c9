// One pane in the settings host: made once, then selected and unselected in the order the
// host promises (main nib, main view, will select, shown, did select; should unselect, which may
// veto, then will unselect), and destroyed last.
#pragma once

#include <string>

#include "pane/ui/host/pane_loader.h"

class QWidget;

namespace vl::host {

struct HostIdentity {
  std::string name = "Velmora Settings";
  // The host's own bundle identifier: the pane ends the host by it after a fatal alert.
  std::string bundleID = "quillon.Velmora.settings";
};

class PaneSession {
 public:
  PaneSession(const LoadedPane& pane, std::string worldFolder, HostIdentity host = {});
  ~PaneSession();  // unselects (without a veto) and destroys the pane when still made
  PaneSession(const PaneSession&) = delete;
  PaneSession& operator=(const PaneSession&) = delete;

  // Makes the pane and asks for its main nib; false with *error when the pane cannot be made.
  bool create(std::string* error);
  // "ErrorWin" when the pane found itself unusable (it shows its error view).
  const std::string& mainNibName() const { return nibName_; }
  bool showsErrorView() const { return nibName_ == "ErrorWin"; }

  // Loads the main view under parent (first time only), then willSelect. The caller shows the
  // view and calls didSelect. Null when the pane gave no view.
  QWidget* willSelect(QWidget* parent);
  void didSelect();
  // shouldUnselect, then willUnselect; false (and the pane stays selected) on a veto.
  bool unselect();
  bool selected() const { return selected_; }
  bool selectTab(const std::string& name);
  QWidget* view() const { return view_; }
  // Unselects without asking (the process is ending) and destroys the pane.
  void destroy();

 private:
  const VelmoraPaneEntry& entry_;
  std::string bundlePath_, worldFolder_;
  HostIdentity host_;
  VelmoraPane* pane_ = nullptr;
  QWidget* view_ = nullptr;
  std::string nibName_;
  bool selected_ = false;
};

}  // namespace vl::host
