// VL215GatekeeperWinDelegate: when the quarantine sheet shows, and the privileged removal.
#include "pane/windows/gatekeeper_sheet.h"

#include <filesystem>

#include "core/store/store_text.h"
#include "core/system/strings.h"
#include "core/system/versions.h"
#include "platform/api/admin_prompt.h"
#include "platform/api/file_attributes.h"
#include "platform/api/system_info.h"
#include "platform/api/workspace.h"

namespace vl {

namespace fs = std::filesystem;

namespace {

constexpr const char* kPromptText = "Velmora is going to remove the download quarantine from %@.";

// The path with links and dots resolved as far as it exists.
std::string resolved(const std::string& path) {
  std::error_code ec;
  fs::path p = fs::weakly_canonical(path, ec);
  return (ec ? fs::path(path).lexically_normal() : p).string();
}

bool inside(const std::string& path, const std::string& folder) {
  if (folder.empty()) return false;
  std::string f = folder.back() == '/' ? folder : folder + "/";
  return path == folder || path.compare(0, f.size(), f) == 0;
}

}  // namespace

VL215GatekeeperWinDelegate::VL215GatekeeperWinDelegate(const Ports& ports, GatekeeperSheetView& view)
    : ports_(ports), view_(view) {}

std::vector<std::string> VL215GatekeeperWinDelegate::quarantineRemoval(const std::string& panePath) {
  return {"xattr", "-rc", panePath};
}

bool VL215GatekeeperWinDelegate::showGatekeeperWindow() {
  if (shown_) return false;
  // Only systems that check downloads this way (10.15 and later) ask about the pane again.
  if (!ports_.system) return false;
  OsVersion v = ports_.system->osVersion();
  if (v.major < 10 || (v.major == 10 && v.minor < 15)) return false;
  auto pane = QS812prefPaneURLForVelmora(ports_.paths);
  if (!pane) return false;
  // A pane the user installed for themself is theirs to trust.
  if (ports_.workspace && inside(resolved(*pane), resolved(ports_.workspace->homeDirectory()))) return false;
  if (!ports_.fileAttributes || !ports_.fileAttributes->hasQuarantine(*pane)) return false;
  panePath_ = *pane;
  shown_ = true;
  view_.showGatekeeperSheet(panePath_);
  return true;
}

void VL215GatekeeperWinDelegate::closeGatekeeperWindow() {
  if (!shown_) return;
  shown_ = false;
  view_.closeGatekeeperSheet();
}

bool VL215GatekeeperWinDelegate::cancelByPrefPane() {
  closeGatekeeperWindow();
  return true;
}

void VL215GatekeeperWinDelegate::okButtonGatekeeperWindow() {
  if (!panePath_.empty() && ports_.adminPrompt) {
    // Whatever the prompt answers, the sheet has done its part; the next selection checks again.
    (void)ports_.adminPrompt->runPrivileged(localizedFormat(TextSource{ports_.paths, ports_.system}, kPromptText, kTableVl, {panePath_}),
                                               {quarantineRemoval(panePath_)});
  }
  closeGatekeeperWindow();
}

}  // namespace vl
