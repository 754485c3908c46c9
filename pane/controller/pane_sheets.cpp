// Sheets, "Show All", values that reach the pane from outside, web pages, and the graph's cue.
#include "core/system/alerts.h"
#include "core/plist/number_text.h"
#include "core/store/cursor_speed_record.h"
#include "core/store/device_record.h"
#include "core/system/strings.h"
#include "pane/controller/pane_controller.h"
#include "pane/graph/curve_view.h"
#include "platform/api/file_manager.h"

namespace vl {

namespace {
constexpr size_t kMaxSheetDepth = 10;
constexpr const char* kHomePageKey = "Home Page URL";
constexpr const char* kDownloadPageKey = "Download Page URL";
}  // namespace

PaneSheet* quillon_Velmora_prefpane::frontmostWindow() const {
  std::vector<PaneSheet*> sheets = window_.attachedSheets();
  if (sheets.empty()) return nullptr;
  return sheets[std::min(sheets.size(), kMaxSheetDepth) - 1];
}

void quillon_Velmora_prefpane::cancelAttachedSheet() {
  std::vector<PaneSheet*> sheets = window_.attachedSheets();
  if (sheets.size() > kMaxSheetDepth) sheets.resize(kMaxSheetDepth);
  // The deepest first: a sheet that refuses keeps the ones below it open.
  for (auto it = sheets.rbegin(); it != sheets.rend(); ++it)
    if (*it && !(*it)->cancelByPrefPane()) break;
}

void quillon_Velmora_prefpane::showAll() {
  cancelAttachedSheet();
  window_.closeAttachedSheets();
  // The host does not let a pane switch to its overview: ask the user instead.
  showAllVisible_ = true;
  window_.setShowAllLabelVisible(true);
}

void quillon_Velmora_prefpane::changeSlider(SpeedField slider) {
  if (window_.mouseButtonDown()) return;
  window_.endEditing();
  // The graph leaves its drag state: an update with no key path.
  for (VL260CurveView* view : std::vector<VL260CurveView*>(curveObservers_)) view->observeValueForKeyPath();
  window_.focusSpeedField(slider);
}

void quillon_Velmora_prefpane::applyRecommendedSens(double sensitivityDisplay, double trackingSpeed,
                                                    QS802DeviceClass* device) {
  if (!window_.isMainWindowVisible() || !window_.attachedSheets().empty()) return;
  if (window_.selectedTab() != PaneTab::Speed) return;
  if (!device || device != selectedDevice() || device->cursorSpeedDisabled()) return;
  QS805CursorSpeedClass* cs = device->selectedCursorSpeed();
  if (!cs || cs->isLocked()) return;
  std::string sensText = pl::formatG(sensitivityDisplay);
  std::string trackText = pl::formatG(trackingSpeed);
  if (!cs->disableAccl() && cs->sensitivityDisplay() == sensText && cs->trackingSpeed() == trackText) return;
  cs->setDisableAccl(false);
  cs->setSensitivityDisplay(sensText);
  (void)cs->setTrackingSpeed(trackText);
}

void quillon_Velmora_prefpane::showWebSite(const std::string& key) {
  std::string url = localizedVL(key);
  // A table without the key gives the key back, which is no address.
  if (url.empty() || url == key) return;
  window_.openURL(url);
}

void quillon_Velmora_prefpane::jumpToHP() { showWebSite(kHomePageKey); }
void quillon_Velmora_prefpane::jumpToDLPage() { showWebSite(kDownloadPageKey); }
void quillon_Velmora_prefpane::upgrageCheck() { jumpToDLPage(); }

void quillon_Velmora_prefpane::ioResourceClassRetryError(int32_t error) { fatal(nullptr, nullptr, error, 1001764); }

void quillon_Velmora_prefpane::showMOC() {
  if (!managedObjectContext_ || !platform_.fileManager) return;
  platform_.fileManager->revealFile(QS814urlForMOC(managedObjectContext_.get()))
      .ignore("a convenience: nothing waits on the file viewer");
}

void quillon_Velmora_prefpane::notifyCurve(std::string_view keyPath) {
  // A copy: an observer may stop observing while it is told.
  for (VL260CurveView* view : std::vector<VL260CurveView*>(curveObservers_)) view->observeValueForKeyPath(keyPath, this);
}

}  // namespace vl
