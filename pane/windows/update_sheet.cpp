// VL225UpdateWinDelegate: the version request, the badge, the sheet's conditions and buttons,
// and the "Check for Updates" alerts.
#include "pane/windows/update_sheet.h"

#include <chrono>

#include "core/plist/number_text.h"
#include "core/store/store_text.h"
#include "core/system/strings.h"
#include "core/system/versions.h"
#include "platform/api/runloop.h"
#include "platform/api/user_defaults.h"

namespace vl {

namespace {

constexpr const char* kAvailableText = "Ver %@ is now available. Your version is %@.";
constexpr const char* kUpToDateText = "Your version is up to date. (Ver %@)";
constexpr const char* kAutomaticText =
    "Updates are checked automatically. You will be notified when you open Velmora in System Preferences if updates "
    "are available.";
constexpr const char* kCheckFailedText = "Velmora could not check for updates. Please try again later.";
constexpr const char* kScheduleSelector = "showUpdateWindow";
// Seconds between the epoch and the platform's reference date (2001-01-01), in which dates are kept.
constexpr double kReferenceDateOffset = 978307200.0;

// A final version's stage field.
constexpr uint32_t kStageMask = 0xFF00;
constexpr uint32_t kFinalStage = 0x8000;

}  // namespace

VL225UpdateWinDelegate::VL225UpdateWinDelegate(const Ports& ports, UpdatePane pane, UpdateSheetView& view,
                                               UpdateSettings settings)
    : ports_(ports), pane_(std::move(pane)), view_(view), settings_(std::move(settings)) {}

VL225UpdateWinDelegate::~VL225UpdateWinDelegate() {
  cancelScheduled();
  if (request_ != 0 && ports_.http) ports_.http->cancel(request_);
}

std::string VL225UpdateWinDelegate::localizedVL(const std::string& key) const { return localized(TextSource{ports_.paths, ports_.system}, key, kTableVl); }

double VL225UpdateWinDelegate::now() const {
  if (settings_.clock) return settings_.clock();
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

void VL225UpdateWinDelegate::awakeFromNib() {
  curVersion_ = QS812versionNumberFromString(settings_.versionText);
  hostVersion_ = 0;
  badgeHidden_ = true;
  view_.setBadgeHidden(true);
  startRequest();
}

void VL225UpdateWinDelegate::startRequest() {
  known_ = false;
  failure_.clear();
  if (request_ != 0 && ports_.http) ports_.http->cancel(request_);
  request_ = 0;
  if (!ports_.http) {
    known_ = true;
    failure_ = "no connection to the web service";
    return;
  }
  // The request runs while the pane goes on loading; only a pre-release looks at pre-releases.
  const bool acceptPreReleases = (curVersion_ & kStageMask) != kFinalStage;
  request_ = ports_.http->startGet(kHostVersionPath, QS812hostVersionQuery(ports_.system, settings_.applicationName),
                                      kHostVersionTimeout, [this, acceptPreReleases](HttpResult result) {
                                        request_ = 0;
                                        hostVersion_ = QS812hostVersionFromAnswer(result, acceptPreReleases);
                                        answered(result);
                                      });
}

void VL225UpdateWinDelegate::answered(const HttpResult& result) {
  known_ = true;
  if (!result.ok())
    failure_ = result.error.domain + " " + pl::formatG(static_cast<double>(result.error.code), 12);
  else if (result.response->status < 200 || result.response->status >= 300)
    failure_ = "HTTP " + pl::formatG(static_cast<double>(result.response->status), 12);
  badgeHidden_ = curVersion_ >= hostVersion_;
  view_.setBadgeHidden(badgeHidden_);
  if (showWhenKnown_) {
    showWhenKnown_ = false;
    showUpdateWindow();
  }
  if (checkWhenKnown_) answerCheck();
}

void VL225UpdateWinDelegate::scheduleUpdateWindow() {
  if (!ports_.runLoop) return;
  ports_.runLoop->cancelPerform(this, kScheduleSelector);
  ports_.runLoop->perform(this, kScheduleSelector, kUpdateWindowDelay, [this] { showUpdateWindow(); });
}

void VL225UpdateWinDelegate::cancelScheduled() {
  showWhenKnown_ = false;
  if (ports_.runLoop) ports_.runLoop->cancelPerform(this, kScheduleSelector);
}

std::string VL225UpdateWinDelegate::updateMessage() const {
  return localizedFormat(TextSource{ports_.paths, ports_.system}, kAvailableText, kTableVl,
                         {QS812stringFromVersionNumver(hostVersion_), settings_.versionText});
}

bool VL225UpdateWinDelegate::showUpdateWindow() {
  if (!known_) {
    // The answer is still on its way: decide when it comes.
    showWhenKnown_ = true;
    return false;
  }
  if (shown_ || curVersion_ >= hostVersion_) return false;
  UserDefaults* defaults = ports_.defaults;
  if (defaults) {
    if (auto date = defaults->value(kPaneDefaultsDomain, kUpdateDateKey); date && date->asDate()) {
      double since = now() - (date->asDate()->seconds + kReferenceDateOffset);
      // A date in the future (the clock was set back) puts nothing off for ever.
      if (since >= 0 && since < kUpdateRemindInterval) return false;
    }
    if (auto skipped = defaults->value(kPaneDefaultsDomain, kUpdateVersionKey); skipped && skipped->asInteger()) {
      const pl::Integer& i = *skipped->asInteger();
      // A negative number skips nothing.
      if ((i.isUnsigned || static_cast<int64_t>(i.bits) >= 0) && i.bits >= hostVersion_) return false;
    }
  }
  shown_ = true;
  view_.showUpdateSheet(updateMessage());
  return true;
}

void VL225UpdateWinDelegate::closeUpdateWindow() {
  if (!shown_) return;
  shown_ = false;
  view_.closeUpdateSheet();
}

bool VL225UpdateWinDelegate::cancelByPrefPane() {
  cancelCheckForUpdates();
  closeUpdateWindow();
  return true;
}

void VL225UpdateWinDelegate::downloadUpdateWindow() {
  if (UserDefaults* d = ports_.defaults) {
    // Kept or not, the next check asks again at worst.
    d->removeValue(kPaneDefaultsDomain, kUpdateVersionKey).ignore("a skipped version left behind is replaced by the next skip");
    d->removeValue(kPaneDefaultsDomain, kUpdateDateKey).ignore("a reminder date left behind only delays the next check");
  }
  if (pane_.jumpToDLPage) pane_.jumpToDLPage();
  closeUpdateWindow();
  if (pane_.showAll) pane_.showAll();
}

void VL225UpdateWinDelegate::skipUpdateWindow() {
  if (UserDefaults* d = ports_.defaults)
    d->setValue(kPaneDefaultsDomain, kUpdateVersionKey, pl::Value::int64(hostVersion_))
        .ignore("a skip that was not kept offers the update again at the next check");
  closeUpdateWindow();
}

void VL225UpdateWinDelegate::remindUpdateWindow() {
  if (UserDefaults* d = ports_.defaults)
    d->setValue(kPaneDefaultsDomain, kUpdateDateKey, pl::Value(pl::Date{now() - kReferenceDateOffset}))
        .ignore("a reminder that was not kept offers the update again at the next check");
  closeUpdateWindow();
}

void VL225UpdateWinDelegate::checkForUpdates() {
  if (!pane_.window || checkWhenKnown_) return;
  // A failed request is asked again: the service may be up by now.
  if (known_ && !failure_.empty()) startRequest();
  if (!known_) {
    checkWhenKnown_ = true;
    view_.showCheckProgress(true);
    return;
  }
  answerCheck();
}

void VL225UpdateWinDelegate::cancelCheckForUpdates() {
  if (!checkWhenKnown_) return;
  checkWhenKnown_ = false;
  view_.showCheckProgress(false);
}

void VL225UpdateWinDelegate::answerCheck() {
  if (checkWhenKnown_) {
    checkWhenKnown_ = false;
    view_.showCheckProgress(false);
  }
  if (!pane_.window) return;
  if (!failure_.empty()) {
    pane_.window->showSheetAlert({localizedVL(kCheckFailedText), failure_, {}}, nullptr);
    return;
  }
  const std::string informative = localizedVL(kAutomaticText);
  if (badgeHidden_) {
    pane_.window->showSheetAlert({localizedFormat(TextSource{ports_.paths, ports_.system}, kUpToDateText, kTableVl, {settings_.versionText}), informative, {}},
                                 nullptr);
    return;
  }
  SheetAlert alert{updateMessage(), informative, {localizedVL("OK"), localizedVL("Download")}};
  pane_.window->showSheetAlert(alert, [this](int returnCode) {
    if (returnCode == kAlertSecondButtonReturn && pane_.jumpToDLPage) pane_.jumpToDLPage();
  });
}

}  // namespace vl
