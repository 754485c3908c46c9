// The recommended-settings window's logic: showing, the sharing consent, the download and its
// outcomes, applying an entry and closing with the upload command.
#include "pane/windows/recommended_window.h"

#include <utility>

#include "core/store/device_record.h"
#include "core/store/web_sharing.h"
#include "core/system/boa_notifications.h"
#include "core/system/drovana.h"
#include "core/system/strings.h"
#include "core/system/versions.h"
#include "platform/api/runloop.h"
#include "platform/api/user_defaults.h"

namespace vl {

namespace {

constexpr double kUpdateDelay = 0.1;

// The agent that uploads for the bundle the window belongs to; none for any other bundle.
std::optional<std::string> uploadReceiver(const std::string& bundleIdentifier) {
  if (bundleIdentifier == velmora::kPaneBundleID) return std::string(velmora::kAgentBundleID);
  if (bundleIdentifier == drovana::kPaneBundleID) return std::string(drovana::kAgentBundleID);
  return std::nullopt;
}

// The connection message in plain words, the error's domain and code on a details line of
// their own ("(%@,%d)" at the end of the text moves there; a text without it is filled in).
std::string fillConnectionMessage(std::string format, const std::string& domain, int code) {
  const std::string details = domain + ", " + std::to_string(code);
  if (auto open = format.rfind(" (%@,%d)"); open != std::string::npos && open + 8 == format.size()) {
    format.erase(open);
    return format + "\n" + "Details: " + details;
  }
  if (auto at = format.find("%@"); at != std::string::npos) format.replace(at, 2, domain);
  if (auto d = format.find("%d"); d != std::string::npos) format.replace(d, 2, std::to_string(code));
  return format;
}

}  // namespace

QS838RecdWinClass::QS838RecdWinClass(const Ports& ports, RecommendedWindowHost& host, std::string bundleIdentifier)
    : ports_(ports), host_(host), bundleIdentifier_(std::move(bundleIdentifier)) {}

QS838RecdWinClass::~QS838RecdWinClass() {
  *alive_ = false;
  if (ports_.runLoop) ports_.runLoop->cancelAllPerforms(this);
  if (request_ != 0 && ports_.http) ports_.http->cancel(request_);
}

void QS838RecdWinClass::setViewFactory(ViewFactory factory) { factory_ = std::move(factory); }

bool QS838RecdWinClass::ensureView() {
  if (!view_ && factory_) view_ = factory_(*this);
  return view_ != nullptr;
}

std::string QS838RecdWinClass::text(const std::string& key) const { return localized(TextSource{ports_.paths, ports_.system}, key, recd::kTable); }

bool QS838RecdWinClass::sharingEnabled() const {
  if (!ports_.defaults) return false;
  std::optional<pl::Value> v = ports_.defaults->value(bundleIdentifier_, kShareSettingsKey);
  return v && v->boolValue();
}

void QS838RecdWinClass::setSharingEnabled(bool on) {
  if (ports_.defaults)
    ports_.defaults->setValue(bundleIdentifier_, kShareSettingsKey, pl::Value(on))
        .ignore("sharingEnabled reads the stored value back, so what was not kept shows as it was");
}

bool QS838RecdWinClass::isShown() const { return view_ && view_->isVisibleOrMinimised(); }

void QS838RecdWinClass::cancelDownload() {
  ++generation_;
  if (request_ == 0) return;
  if (ports_.http) ports_.http->cancel(request_);
  request_ = 0;
  if (view_) view_->stopProgress();
}

// --- Showing ---------------------------------------------------------------------------------------

void QS838RecdWinClass::show(QS802DeviceClass* device) {
  searchMode_ = host_.recommendedModifierFlags().shiftAlone();
  if (!ensureView()) return;
  // An answer for what the window showed before must not land on the new content.
  cancelDownload();
  view_->setSearchControlsVisible(searchMode_);
  view_->setFieldText(RecdField::Vid, device ? std::to_string(device->vid()) : "");
  view_->setFieldText(RecdField::Pid, device ? std::to_string(device->pid()) : "");
  view_->setFieldText(RecdField::Mid, device ? std::to_string(device->mid()) : "");
  view_->setFieldText(RecdField::Transport, device ? device->transport().value_or("") : "");
  curDevice_ = searchMode_ ? nullptr : device;
  view_->showWindow();
  if (!ports_.runLoop) return;
  ports_.runLoop->cancelAllPerforms(this);
  std::weak_ptr<bool> alive = alive_;
  ports_.runLoop->perform(this, "update:", kUpdateDelay, [this, alive] {
    if (alive.expired()) return;
    if (sharingEnabled())
      update();
    else
      showSharingAlert();
  });
}

void QS838RecdWinClass::showSharingAlert() {
  if (!ensureView() || view_->hasSheet()) return;
  view_->beep();
  view_->bringToFront();
  SheetAlert alert{text(recd::kSharingOff), "", {text(recd::kStartSharing), QS812localizedCancelButtonTitle(ports_.paths, ports_.system)}};
  std::weak_ptr<bool> alive = alive_;
  view_->showSheetAlert(alert, [this, alive](int returnCode) {
    if (alive.expired()) return;
    if (returnCode == kAlertFirstButtonReturn) {
      setSharingEnabled(true);
      if (ports_.runLoop)
        ports_.runLoop->post([this, alive] {
          if (!alive.expired()) update();
        });
    } else if (view_) {
      view_->setStatusText(text(recd::kSharingOff));
    }
  });
}

// --- Downloading -------------------------------------------------------------------------------------

void QS838RecdWinClass::update() {
  if (!isShown()) return;
  cancelDownload();
  if (!sharingEnabled()) {
    finish(text(recd::kSharingOff), std::nullopt);
    return;
  }
  RankingIdentity identity;
  if (searchMode_) {
    uint32_t* ids[] = {&identity.vid, &identity.pid, &identity.mid};
    RecdField fields[] = {RecdField::Vid, RecdField::Pid, RecdField::Mid};
    for (int i = 0; i < 3; ++i) {
      *ids[i] = searchFieldValue(view_->fieldText(fields[i]));
      view_->setFieldText(fields[i], std::to_string(*ids[i]));
    }
    identity.transport = searchTransport(view_->fieldText(RecdField::Transport));
    view_->setFieldText(RecdField::Transport, identity.transport);
  } else {
    if (!curDevice_ || host_.isDeleted(curDevice_)) {
      curDevice_ = nullptr;
      finish(text(recd::kNoDevice), std::nullopt);
      return;
    }
    WebDeviceID web = QS836deviceIDForWebTotaling(ports_.registry, ports_.system, curDevice_);
    identity = {web.vid, web.pid, web.mid, web.transport};
  }
  OsVersion os = ports_.system ? ports_.system->osVersion() : OsVersion{10, 12, 0};
  std::string query = rankingQuery(identity, rankingOsRange(os));

  recommendedList_.reset();
  view_->setRows({});
  view_->setStatusText(text(recd::kDownloading));
  view_->bringToFront();
  view_->startProgress();
  if (!ports_.http) {
    HttpResult none;
    none.error.code = kURLErrorCannotConnectToHost;
    downloaded(none, searchMode_);
    return;
  }
  uint64_t generation = generation_;
  bool search = searchMode_;
  std::weak_ptr<bool> alive = alive_;
  request_ = ports_.http->startGet(kRankingPath, query, kRankingTimeoutSeconds,
                                      [this, alive, generation, search](HttpResult result) {
                                        // A download abandoned by a newer one or by closing.
                                        if (alive.expired() || generation != generation_) return;
                                        request_ = 0;
                                        downloaded(result, search);
                                      });
}

void QS838RecdWinClass::downloaded(const HttpResult& result, bool searchMode) {
  if (!result.ok()) {
    finish(fillConnectionMessage(text(recd::kConnectionFailed), result.error.domain, result.error.code), std::nullopt);
    return;
  }
  RankingAnswer answer = checkRankingAnswer(result.response->body, searchMode);
  switch (answer.outcome) {
    case RankingOutcome::Wrong:
      finish(text(recd::kWrongData), std::nullopt);
      return;
    case RankingOutcome::Empty:
      finish(text(recd::kNotShared), std::nullopt);
      return;
    case RankingOutcome::Listed:
      break;
  }
  if (view_) {
    view_->showDownloadDate();
    view_->setTotalText(rankingTotalText(answer.total));
  }
  listShown_ = true;
  finish(text(recd::kListed), std::move(answer.list));
}

void QS838RecdWinClass::finish(const std::string& status, std::optional<std::vector<RecommendedEntry>> list) {
  recommendedList_ = std::move(list);
  if (!view_) return;
  view_->stopProgress();
  view_->setStatusText(status);
  view_->setRows(recommendedList_ ? *recommendedList_ : std::vector<RecommendedEntry>{});
}

// --- Applying and closing ----------------------------------------------------------------------------

void QS838RecdWinClass::applySetting() {
  if (!curDevice_ || !recommendedList_ || !view_) return;
  std::optional<size_t> row = view_->selectedRow();
  if (!row || *row >= recommendedList_->size()) return;
  const RecommendedEntry& e = (*recommendedList_)[*row];
  host_.applyRecommendedSens(e.senValue(), e.accValue(), curDevice_);
}

void QS838RecdWinClass::close() {
  if (ports_.runLoop) ports_.runLoop->cancelAllPerforms(this);
  cancelDownload();
  if (view_ && view_->hasSheet()) view_->endSheet();
  if (sharingEnabled() || listShown_) {
    if (std::optional<std::string> receiver = uploadReceiver(bundleIdentifier_))
      (void)QS824postUploadCursorSpeedNotification(ports_.notifications, receiver, bundleIdentifier_);
  }
  curDevice_ = nullptr;
  recommendedList_.reset();
  listShown_ = false;
  if (view_) view_->closeWindow();
}

}  // namespace vl
