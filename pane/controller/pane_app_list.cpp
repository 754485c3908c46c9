// The controller's application list and the warning that the snapping agent lacks the
// accessibility permission.
#include "core/system/boa_notifications.h"
#include "core/system/drovana.h"
#include "core/system/strings.h"
#include "core/system/versions.h"
#include "pane/controller/pane_controller.h"
#include "platform/api/accessibility.h"
#include "platform/api/runloop.h"

namespace vl {

namespace {
std::string fill(std::string pattern, const std::string& value) {
  for (size_t at = pattern.find("%@"); at != std::string::npos; at = pattern.find("%@", at + value.size()))
    pattern.replace(at, 2, value);
  return pattern;
}
}  // namespace

int32_t quillon_Velmora_prefpane::setupAppList() {
  // Sorted and filtered by the records' own rules; inserted records are not selected by it.
  appList_.fetch(managedObjectContext_.get());
  return 0;
}

void quillon_Velmora_prefpane::clickSnappingWarning() {
  std::string agent = axPreferred_ ? "Velmora Manager" : "Drovana Manager";
  std::string name = fill(localizedVL("“%@”"), agent);
  SheetAlert alert;
  alert.messageText = fill(localizedVL("You need to allow %@ to use accessibility features in Security & Privacy."), name);
  alert.informativeText = fill(
      localizedVL("If this message is displayed even though you have already done it, please uncheck and check %@ "
                  "again in the accessibility list."),
      name);
  // A desktop without per-program permissions has only its accessibility switch to name.
  const bool accessibilityOn = platform_.accessibility && platform_.accessibility->isProcessTrusted();
  if (auto desktop = desktopSnappingWarningTexts(settings_.desktop, accessibilityOn)) {
    alert.messageText = desktop->message;
    alert.informativeText = desktop->informative;
  }
  alert.buttons = {localizedVL("OK"), QS812localizedCancelButtonTitle(platform_.paths, platform_.system)};
  window_.showSheetAlert(alert, [this](int returnCode) {
    if (returnCode != kAlertFirstButtonReturn) return;
    if (RunLoop* rl = platform_.runLoop)
      rl->perform(this, "snappingWarningDidEnd", 0, [this] { snappingWarningDidEnd(); });
    else
      snappingWarningDidEnd();
  });
}

void quillon_Velmora_prefpane::snappingWarningDidEnd() {
  std::string receiver(axPreferred_ ? velmora::kAgentBundleID : drovana::kAgentBundleID);
  (void)QS824postAXWarningNotification(platform_.notifications, receiver, settings_.bundle.identifier);
  showAll();
}

}  // namespace vl
