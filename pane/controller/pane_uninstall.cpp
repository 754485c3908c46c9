// The controller's uninstall: the window that offers to keep the settings file, the last
// question, and the removal itself (pane/windows/uninstall.h: the copy for all users first,
// under one administrator prompt), after which the settings host ends.
#include "core/system/alerts.h"
#include "core/store/store_text.h"
#include "core/store/user_info_record.h"
#include "core/system/launch_agent.h"
#include "core/system/privileges.h"
#include "core/system/strings.h"
#include "core/system/versions.h"
#include "pane/controller/pane_controller.h"
#include "pane/windows/uninstall.h"
#include "platform/api/runloop.h"

namespace vl {

namespace {

constexpr const char* kKeepSettingsText =
    "You can save your current configuration by moving the settings file to another folder. If you would like to use "
    "the same configuration again, put the settings file back into the original folder.\n\nSettings File "
    "Location:\n%@";

// The pane's part in the removal: its window, its store and its fatal ends.
class PaneUninstallHooks : public UninstallHooks {
 public:
  PaneUninstallHooks(quillon_Velmora_prefpane& pane, UninstallView& view, std::function<void(const ErrorInfo&, int32_t, int64_t)> fatal)
      : pane_(pane), view_(view), fatal_(std::move(fatal)) {}
  void beginUninstall() override {
    view_.hideTabView();
    pane_.cancelAttachedSheet();
    pane_.window().closeAttachedSheets();
  }
  void terminateAgent() override { QS812terminateApp(pane_.platform().workspace, pane_.platform().sleeper, velmora::kAgentBundleID); }
  int32_t clearSharedSelection(ErrorInfo* error) override {
    ManagedObjectContext* ctx = pane_.managedObjectContext();
    QS809UserInfoClass* info = pane_.userInfo();
    if (!ctx || !info) return 0;
    info->setVlDeviceSelectedIndex(std::nullopt);
    return QS814saveMOC(ctx, error);
  }
  void willUnselect() override { pane_.willUnselect(); }
  void fatal(int32_t code, int64_t site, const ErrorInfo* error) override { fatal_(error ? *error : ErrorInfo{}, code, site); }

 private:
  quillon_Velmora_prefpane& pane_;
  UninstallView& view_;
  std::function<void(const ErrorInfo&, int32_t, int64_t)> fatal_;
};

}  // namespace

void quillon_Velmora_prefpane::showUninstallWindow() {
  if (!uninstallView_) return;
  // Only a store of this product alone is worth keeping aside: the sibling keeps a shared one.
  std::string text;
  if (dvVersion_ == 0) {
    std::string store = managedObjectContext_ ? QS814urlForMOC(managedObjectContext_.get())
                                              : settings_.storePath.value_or(QS814prefsFileURL(platform_, errors_.stack).value_or(""));
    text = localizedFormat(platform_, kKeepSettingsText, kTableVl, {store});
  }
  if (!text.empty()) {
    SheetAlert alert{localizedVL("Uninstall Velmora."), text,
                     {localizedVL("Uninstall"), QS812localizedCancelButtonTitle(platform_.paths, platform_.system),
                      localizedVL("Show Settings File in Finder")}};
    int r = uninstallView_->runModalAlert(alert);
    if (r == kAlertThirdButtonReturn) {
      showMOC();
      return;
    }
    if (r != kAlertFirstButtonReturn) return;
  }
  performUninstall();
}

void quillon_Velmora_prefpane::performUninstall() {
  if (!uninstallView_) return;
  window_.beep();
  SheetAlert sure{localizedVL("Are you sure you want to uninstall Velmora?"), "",
                  {localizedVL("OK"), QS812localizedCancelButtonTitle(platform_.paths, platform_.system)}};
  if (uninstallView_->runModalAlert(sure) != kAlertFirstButtonReturn) return;

  UninstallPlan plan = planUninstall(platform_);
  if (!plan.refused.empty()) {
    // A folder is not where it must be: nothing is touched, and the user is told why.
    uninstallView_->runModalAlert({localizedVL("Velmora was not uninstalled."), plan.refused, {}});
    return;
  }
  PaneUninstallHooks hooks(*this, *uninstallView_, [this](const ErrorInfo& e, int32_t code, int64_t site) {
    if (e.domain.empty())
      fatal(nullptr, nullptr, code, site);
    else
      fatalWithError(e, code, site);
  });
  // The copy for all users goes first, under the one administrator prompt; a cancelled or
  // denied prompt leaves everything, the pane included, as it was.
  int32_t r = runUninstall(platform_, errors_.stack, plan, localizedVL("Velmora is going to remove its copy for all users."), hooks);
  if (r != 0) return;
  if (RunLoop* rl = platform_.runLoop) {
    Lifecycle* life = platform_.lifecycle;
    rl->perform(this, "terminateHost", 0, [life] {
      if (life) life->terminateApplication(velmora::kSettingsHostBundleID);
    });
  }
}

}  // namespace vl
