// The pane's "Contact Support" button: the support report of the selected device in an alert
// that mails it or copies it to the clipboard.
#include "core/system/versions.h"
#include "pane/controller/pane_controller.h"
#include "pane/windows/support_report.h"
#include "platform/api/pasteboard.h"

namespace vl {

void quillon_Velmora_prefpane::contactSupport() {
  std::string report = supportReportText(*this, selectedDevice(), supportReportDate());
  SheetAlert alert;
  alert.messageText = localizedVL(kSupportMessageKey);
  alert.informativeText = report;
  alert.buttons = {kCreateEmailButton, QS812localizedCancelButtonTitle(platform_.paths, platform_.system), kCopyToClipboardButton};
  window_.showSheetAlert(alert, [this, report](int returnCode) { contactSupportDidEnd(returnCode, report); });
}

void quillon_Velmora_prefpane::contactSupportDidEnd(int returnCode, const std::string& report) {
  if (returnCode == kAlertThirdButtonReturn) {
    if (platform_.pasteboard) platform_.pasteboard->setString(report);
    // Said only once the clipboard is seen to hold it.
    const bool copied = platform_.pasteboard && platform_.pasteboard->string() == report;
    SheetAlert done;
    done.informational = copied;
    done.messageText = localizedVL(copied ? kReportCopiedText : kReportNotCopiedText);
    window_.showSheetAlert(done, nullptr);
    return;
  }
  if (returnCode != kAlertFirstButtonReturn) return;
  std::string address = localizedVL(kSupportAddressKey);
  // A table without the key gives the key back, which is no address.
  if (address.empty() || address == kSupportAddressKey) return;
  window_.openURL(supportMailURL(address, localizedVL(kSupportSubjectKey), report));
}

}  // namespace vl
