// VL215GatekeeperWinDelegate: the quarantine sheet. A pane installed for all users from a
// download still carries the download's quarantine attributes, which make the system ask about
// it again; the sheet offers to remove them with administrator rights.
#pragma once

#include <string>
#include <vector>

#include "pane/windows/pane_window.h"
#include "platform/api/platform.h"

namespace vl {

// The quarantine sheet; the Qt front end implements it, tests record it.
class GatekeeperSheetView {
 public:
  virtual ~GatekeeperSheetView() = default;
  // Shows the sheet on the pane's frontmost window, naming the pane bundle.
  virtual void showGatekeeperSheet(const std::string& panePath) = 0;
  virtual void closeGatekeeperSheet() = 0;
};

class VL215GatekeeperWinDelegate : public PaneSheet {
 public:
  // What the sheet reads and asks.
  struct Ports {
    SystemInfo* system = nullptr;                // the system version
    Paths* paths = nullptr;                      // where the pane is installed; texts
    Workspace* workspace = nullptr;              // the home folder
    FileAttributes* fileAttributes = nullptr;    // the pane's quarantine
    AdminPrompt* adminPrompt = nullptr;          // removes it with the user's consent
    static Ports from(const Platform& p) { return Ports{p.system, p.paths, p.workspace, p.fileAttributes, p.adminPrompt}; }
  };

  VL215GatekeeperWinDelegate(const Ports& ports, GatekeeperSheetView& view);

  // Shows the sheet when the system checks downloads (10.15 and later), the pane lies outside
  // the user's home folder and carries quarantine attributes. True when shown.
  bool showGatekeeperWindow();
  void closeGatekeeperWindow();
  bool cancelByPrefPane() override;
  // Removes the pane's quarantine attributes, recursively, with administrator rights; whatever
  // comes of it, the sheet closes.
  void okButtonGatekeeperWindow();

  bool isShown() const { return shown_; }
  const std::string& panePath() const { return panePath_; }
  // The privileged operation: the path is one argument of its own, whatever it holds.
  static std::vector<std::string> quarantineRemoval(const std::string& panePath);

 private:
  Ports ports_;
  GatekeeperSheetView& view_;
  std::string panePath_;
  bool shown_ = false;
};
using GatekeeperSheetDelegate = VL215GatekeeperWinDelegate;  // the readable name

}  // namespace vl
