// The pane controller as the curve graph's host: the graph's life with the pane, and what the
// graph reads of the lists, the window and the drivers found at load time.
#include <algorithm>

#include "core/store/device_record.h"
#include "pane/controller/pane_controller.h"
#include "pane/graph/curve_view.h"
#include "platform/api/system_info.h"

namespace vl {

int32_t quillon_Velmora_prefpane::prepareCurveView() { return curveView_->prepare(); }

void quillon_Velmora_prefpane::disposeCurveView() {
  if (curveView_ && curveView_->isPrepared()) curveView_->dispose();
}

void quillon_Velmora_prefpane::addCurveViewObserver(VL260CurveView* view) {
  if (view && std::find(curveObservers_.begin(), curveObservers_.end(), view) == curveObservers_.end())
    curveObservers_.push_back(view);
}

void quillon_Velmora_prefpane::removeCurveViewObserver(VL260CurveView* view) {
  curveObservers_.erase(std::remove(curveObservers_.begin(), curveObservers_.end(), view), curveObservers_.end());
}

std::vector<QS805CursorSpeedClass*> quillon_Velmora_prefpane::cursorSpeedRows() const {
  return cursorSpeedList_.arrangedObjects();
}

size_t quillon_Velmora_prefpane::cursorSpeedSelectionIndex() const {
  return cursorSpeedList_.selectionIndex().value_or(kNoCurve);
}

void quillon_Velmora_prefpane::selectCursorSpeedRow(size_t row) { (void)cursorSpeedList_.setSelectionIndex(row); }

bool quillon_Velmora_prefpane::cursorSpeedTableEnabled() const { return window_.cursorSpeedTableEnabled(); }

bool quillon_Velmora_prefpane::cursorSpeedTableIsFirstResponder() const {
  return window_.cursorSpeedTableIsFirstResponder();
}

bool quillon_Velmora_prefpane::isDeleted(const QS802DeviceClass* device) const {
  return !device || device->isDeleted() || !device->managedObjectContext();
}

bool quillon_Velmora_prefpane::mouseButtonDown() const { return window_.mouseButtonDown(); }

std::optional<std::string> quillon_Velmora_prefpane::kernelExtensionPath(const std::string& bundleIdentifier) const {
  if (!platform_.system) return std::nullopt;
  return platform_.system->kernelExtensionPath(bundleIdentifier);
}

std::optional<std::string> quillon_Velmora_prefpane::microsoftDriverPath() const { return drivers_.microsoftDriver; }

bool quillon_Velmora_prefpane::karabinerElementsRunning() const { return drivers_.karabinerElements; }

void quillon_Velmora_prefpane::setNeedsDisplay() { window_.redrawCurve(); }

void quillon_Velmora_prefpane::showSheetAlert(const std::string& message, const std::string& informativeText) {
  // Why a device's speed cannot change: a notice, not a warning.
  window_.showSheetAlert(SheetAlert{message, informativeText, {}, true}, nullptr);
}

}  // namespace vl
