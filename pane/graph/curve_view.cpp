// VL260CurveView: the observer of the pane's selection, zoom, focus and visibility, keys,
// messages and the live speed indicator's sources.
#include "pane/graph/curve_view.h"

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <limits>

#include "core/system/alerts.h"
#include "core/errors/error_stack.h"
#include "core/plist/number_text.h"
#include "core/store/cursor_speed_record.h"
#include "core/store/device_record.h"
#include "core/store/store_text.h"
#include "platform/api/runloop.h"

namespace vl {

namespace {

constexpr uint32_t kAppleVendorUSB = 0x05AC;
constexpr uint32_t kAppleVendorBluetooth = 0x004C;
constexpr uint32_t kMicrosoftVendor = 0x045E;
constexpr uint32_t kKeyModifiers = kShiftKeyMask | kControlKeyMask | kOptionKeyMask | kCommandKeyMask;

constexpr const char* kOtherDriverMessage =
    "If the cursor speed does not change, you need to uninstall the following driver. Please contact the "
    "manufacturer how to uninstall it.\n\n%@\n(%@)\n     \nYou can change the cursor speed if you install Drovana "
    "in place of the driver.";
constexpr const char* kDisabledMessage =
    "You have disabled Velmora for this device.\n\nUse System Preferences or the manufacturer driver to adjust the "
    "cursor movement.";
constexpr const char* kNotDetectedMessage =
    "If this device is not detected, you need to uninstall the following driver. Please contact the manufacturer "
    "how to uninstall it.";
constexpr const char* kNotConnectedMessage = "This device is not connected.";
constexpr const char* kIdentityText = "VID:0x%X, PID:0x%X, MID:0x%X Transport:%@";

CurveDevice curveDeviceOf(const QS802DeviceClass& d) {
  CurveDevice c;
  c.enabled = d.VL702isEnabled();
  c.acclCurves = d.VL702acclCurves() ? &*d.VL702acclCurves() : nullptr;
  c.acclTable = d.VL702acclTable() ? d.VL702acclTable()->asData() : nullptr;
  c.drovanaDriver = d.isDrovanaDriver();
  c.pointerResolution = pl::parseLeadingDecimal(d.pointerResolution().value_or(""));
  return c;
}

CurveSpeed curveSpeedOf(const QS805CursorSpeedClass& cs, const CurveDevice* device, bool withLooks) {
  CurveSpeed s;
  s.device = device;
  s.sensitivity = pl::parseLeadingDecimal(cs.sensitivity().value_or(""));
  s.trackingSpeed = pl::parseLeadingDecimal(cs.trackingSpeed().value_or(""));
  s.disableAccl = cs.disableAccl();
  if (withLooks) {
    if (auto c = cs.color()) s.color = Rgba{c->red, c->green, c->blue, c->alpha};
    s.visible = cs.visible();
  }
  return s;
}

int clampToInt(int64_t v) {
  return static_cast<int>(std::clamp<int64_t>(v, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

}  // namespace

// The rows as the model reads them, with the device data they point to.
struct VL260CurveView::Rows {
  std::deque<CurveDevice> devices;  // stable addresses
  std::vector<const QS802DeviceClass*> owners;
  std::vector<CurveSpeed> speeds;

  const CurveDevice* deviceFor(const QS802DeviceClass* d) {
    if (!d) return nullptr;
    for (size_t i = 0; i < owners.size(); ++i)
      if (owners[i] == d) return &devices[i];
    owners.push_back(d);
    devices.push_back(curveDeviceOf(*d));
    return &devices.back();
  }
};

VL260CurveView::VL260CurveView(const Platform& platform, ErrorContext errors, CurveViewHost& host, double viewWidth,
                               double viewHeight)
    : platform_(platform), errors_(errors), host_(host), model_(errors.stack, viewWidth, viewHeight) {
  sourceCurve_.setLineWidth(kSourceCurveLineWidth);
}

VL260CurveView::~VL260CurveView() { dispose(); }

VL260CurveView::Rows VL260CurveView::rowsOf(const std::vector<QS805CursorSpeedClass*>& list) const {
  Rows rows;
  for (size_t i = 0; i < list.size() && i < kCurveRows; ++i) {
    const QS805CursorSpeedClass* cs = list[i];
    if (!cs) break;
    rows.speeds.push_back(curveSpeedOf(*cs, rows.deviceFor(cs->device()), true));
  }
  return rows;
}

void VL260CurveView::fatal(int32_t code, int64_t site) { AbendApp(platform_, errors_, nullptr, nullptr, code, site); }

// --- Life cycle ----------------------------------------------------------------------------------

int32_t VL260CurveView::prepare() {
  if (prepared_) dispose();
  model_ = CurveViewModel(errors_.stack, model_.viewWidth(), model_.viewHeight());
  sourceCurve_ = CurvePath();
  sourceCurve_.setLineWidth(kSourceCurveLineWidth);
  sourceCurveColor_.reset();
  isDragging_ = false;
  selectedDevice_ = nullptr;
  deviceStatus_ = -1;
  prepared_ = true;
  host_.addCurveViewObserver(this);
  observeValueForKeyPath();
  return 0;
}

void VL260CurveView::setViewSize(double width, double height) {
  if (width == model_.viewWidth() && height == model_.viewHeight()) return;
  model_.setViewSize(width, height);
  if (prepared_) setViewScaleBy(ZoomSender::Other);
}

void VL260CurveView::dispose() {
  if (!prepared_) return;
  if (platform_.runLoop) platform_.runLoop->cancelAllPerforms(this);
  closeAllDevices();
  if (hidManager_) {
    hidManager_->close();
    hidManager_.reset();
  }
  host_.removeCurveViewObserver(this);
  prepared_ = false;
  selectedDevice_ = nullptr;
  deviceStatus_ = -1;
  sourceCurve_.removeAllPoints();
  sourceCurveColor_.reset();
}

// --- Observer ------------------------------------------------------------------------------------

int32_t VL260CurveView::recomputeFocused(const QS805CursorSpeedClass* cs, CurvePath* path) {
  Rows rows;
  const CurveSpeed speed = cs ? curveSpeedOf(*cs, rows.deviceFor(cs->device()), false) : CurveSpeed{};
  const CurveSpeed* s = cs ? &speed : nullptr;
  if (s && s->device && s->device->acclCurves) return model_.updateCurvePA(path, s);
  return model_.updateCurveSG(path, s);
}

void VL260CurveView::observeValueForKeyPath(std::string_view, const void*) {
  if (!prepared_) return;
  QS802DeviceClass* dev = host_.selectedDevice();
  const int status = dev ? dev->VL702status() : kVL702NotConnected;
  const size_t idx = host_.cursorSpeedSelectionIndex();
  const std::vector<QS805CursorSpeedClass*> list = host_.cursorSpeedRows();
  QS805CursorSpeedClass* cs = idx < list.size() ? list[idx] : nullptr;

  // The two lists are between updates: wait for the second notice.
  if (dev && cs && cs->device() != dev) return;

  const bool sameDevice = dev == selectedDevice_;
  if (idx == model_.cursorSpeedIndex() && status == deviceStatus_ && sameDevice) {
    // A value of the focused setting changed (a slider, a field, undo).
    CurvePath* path = idx < kCurveRows ? &model_.presetCurve(idx) : nullptr;
    const bool down = host_.mouseButtonDown();
    if (down != isDragging_) {
      if (down) {
        model_.clearIndicator();
        sourceCurveColor_.reset();
        sourceCurve_.removeAllPoints();
        if (path) {
          Rgba c = model_.presetCurveColor(idx);
          c.a = kSourceCurveAlpha;
          sourceCurveColor_ = c;
          sourceCurve_ = *path;
        }
        sourceCurve_.setLineWidth(kSourceCurveLineWidth);
      } else {
        sourceCurve_.removeAllPoints();
      }
      isDragging_ = down;
    }
    if (int32_t err = recomputeFocused(cs, path)) {
      QS810stackError(errors_.stack, nullptr, err);
      fatal(curve_view_error::kObserverFastPath, curve_view_error::kObserverFatalSite);
      return;
    }
    host_.setNeedsDisplay();
    return;
  }

  if (!sameDevice) {
    const bool oldDeleted = selectedDevice_ && host_.isDeleted(selectedDevice_);
    if (selectedDevice_ && !oldDeleted) storeViewStateInto(selectedDevice_);
    setViewScaleBy(ZoomSender::None);
    setCurveVisible(true);
    if (!oldDeleted) host_.removeAllUndoActions();
    selectedDevice_ = dev;
    deviceStatus_ = -1;
  }

  if (status != deviceStatus_) {
    if (status == kVL702Controlled) {
      if (int32_t err = openDevice(dev)) {
        QS810stackError(errors_.stack, nullptr, err);
        fatal(curve_view_error::kObserverOpenDevice, curve_view_error::kObserverFatalSite);
        return;
      }
    } else {
      closeAllDevices();
    }
    deviceStatus_ = status;
    setViewScaleBy(ZoomSender::Other);
  }
  if (int32_t err = setFocusedCurve(idx)) {
    QS810stackError(errors_.stack, nullptr, err);
    fatal(curve_view_error::kObserverFocus, curve_view_error::kObserverFatalSite);
    return;
  }
  // Computed last, so the acceleration tables hold the focused curve for the back-calculation.
  if (int32_t err = recomputeFocused(cs, nullptr)) {
    QS810stackError(errors_.stack, nullptr, err);
    fatal(curve_view_error::kObserverFocusedCurve, curve_view_error::kObserverFatalSite);
    return;
  }
  model_.setCursorSpeedIndex(idx);
  host_.setNeedsDisplay();
}

void VL260CurveView::storeViewStateInto(QS802DeviceClass* device) {
  device->setViewScaleX(model_.scaleXText());
  device->setViewScaleY(model_.scaleYText());
  for (QS805CursorSpeedClass* cs : device->cursorSpeeds()) {
    const int64_t row = cs->index();
    // A favourite beyond the five check boxes has none to take its flag from.
    if (row < 0 || row >= static_cast<int64_t>(kCurveRows)) continue;
    cs->setVisible(model_.curveVisible(static_cast<size_t>(row)));
  }
}

// --- Controls ------------------------------------------------------------------------------------

void VL260CurveView::setViewScaleBy(ZoomSender sender, bool shiftHeld) {
  const QS802DeviceClass* dev = host_.selectedDevice();
  const std::string sx = dev ? dev->viewScaleX().value_or("") : "";
  const std::string sy = dev ? dev->viewScaleY().value_or("") : "";
  const std::vector<QS805CursorSpeedClass*> list = host_.cursorSpeedRows();
  Rows rows = rowsOf(list);
  if (int32_t err = model_.setViewScaleBy(sender, shiftHeld, sx, sy, rows.speeds)) {
    fatal(err, curve_view_error::kZoomFatalSite);
    return;
  }
  // Recomputing the five rows leaves the tables set for the last one; the indicator's
  // back-calculation reads them, so they go back to the focused curve.
  const size_t focused = model_.cursorSpeedIndex();
  if (focused < list.size() && list[focused]) {
    if (int32_t err = recomputeFocused(list[focused], nullptr)) {
      fatal(err, curve_view_error::kZoomFatalSite);
      return;
    }
  }
  host_.setNeedsDisplay();
}

int32_t VL260CurveView::setFocusedCurve(size_t index) {
  Rows rows = rowsOf(host_.cursorSpeedRows());
  return model_.setFocusedCurve(index, rows.speeds);
}

void VL260CurveView::setCurveVisible(bool fromStore) {
  if (fromStore) {
    Rows rows = rowsOf(host_.cursorSpeedRows());
    model_.setCurveVisible(rows.speeds);
  }
  host_.setNeedsDisplay();
}

void VL260CurveView::clickCurveVisibleCheckbox(size_t row) {
  if (row >= kCurveRows) return;
  model_.setCurveVisible(row, !model_.curveVisible(row));
  setCurveVisible(false);
}

bool VL260CurveView::performKeyEquivalent(const KeyEvent& event) {
  if (!host_.cursorSpeedTableEnabled() || event.isARepeat) return false;
  const uint32_t modifiers = event.modifierFlags & kKeyModifiers;
  if (modifiers == 0 && host_.cursorSpeedTableIsFirstResponder()) {
    const size_t idx = host_.cursorSpeedSelectionIndex();
    if (event.keyCode == kKeyCodeSpace) {
      clickCurveVisibleCheckbox(idx);
      return true;
    }
    if (event.keyCode == kKeyCodeL) {
      const std::vector<QS805CursorSpeedClass*> list = host_.cursorSpeedRows();
      if (idx < list.size() && list[idx]) list[idx]->setIsLocked(!list[idx]->isLocked());
      return true;
    }
  }
  if (modifiers == kCommandKeyMask && event.characters.size() == 1 && event.characters[0] >= '1' &&
      event.characters[0] <= '5') {
    host_.selectCursorSpeedRow(static_cast<size_t>(event.characters[0] - '1'));
    return true;
  }
  return false;
}

// --- Drawing and messages ------------------------------------------------------------------------

void VL260CurveView::drawRect(DrawingSurface& surface) const {
  drawCurveGraph(model_, GraphOverlay{&sourceCurve_, sourceCurveColor_, model_.indicatorValue(), indicatorAlpha_},
                 surface);
}

std::optional<std::string> VL260CurveView::errorMessage(const QS802DeviceClass* device) const {
  if (!device) return std::nullopt;
  switch (device->VL702status()) {
    case kVL702Controlled:
      return std::nullopt;
    case kVL702OtherDriver: {
      const std::string driver = device->driverManufacture().value_or("");
      const std::string path = host_.kernelExtensionPath(driver).value_or("");
      std::string text = localizedFormat(platform_, kOtherDriverMessage, kTableVl, {path, driver});
      // Drovana cannot take an Apple gesture device's place: its advice is left out.
      if (device->isAppleGestureDevice()) {
        const size_t cut = text.find("     ");
        if (cut != std::string::npos) text.erase(cut);
      }
      return text;
    }
    case kVL702Disabled:
      return localizedFormat(platform_, kDisabledMessage, kTableVl, {});
    default:
      break;
  }
  const std::string notDetected = localizedFormat(platform_, kNotDetectedMessage, kTableVl, {});
  if (device->vid() == kMicrosoftVendor) {
    if (auto driver = host_.microsoftDriverPath()) return formatPattern("%@\n\n%@", {notDetected, *driver});
  }
  if (host_.karabinerElementsRunning()) return formatPattern("%@\n\nKarabiner-Elements", {notDetected});
  return localizedFormat(platform_, kNotConnectedMessage, kTableVl, {});
}

void VL260CurveView::showErrorMsg() {
  const QS802DeviceClass* dev = host_.selectedDevice();
  auto message = errorMessage(dev);
  if (!message) return;
  const std::string identity =
      formatPattern(kIdentityText, {dev->vid(), dev->pid(), dev->mid(), dev->transport().value_or("")});
  host_.showSheetAlert(*message, identity);
}

// --- Live speed indicator ------------------------------------------------------------------------

int32_t VL260CurveView::openDevice(QS802DeviceClass* device) {
  closeAllDevices();
  if (!device) return 0;
  const uint32_t vid = device->vid();
  if (vid == kAppleVendorUSB || vid == kAppleVendorBluetooth) {
    // Apple's devices are not read raw: their movements come as cursor deltas.
    if (platform_.eventMonitors) {
      auto handler = [this](const MouseMovedEvent& e) { MouseMovedCallback(e); };
      mouseMonitor1_ = platform_.eventMonitors->addLocalMouseMovedMonitor(handler);
      mouseMonitor2_ = platform_.eventMonitors->addGlobalMouseMovedMonitor(handler);
    }
    return 0;
  }
  const std::optional<pl::Value>& location = device->locationID();
  if (!location) return 0;
  if (!hidManager_) {
    // A system that lends no raw HID input (a Linux desktop: event devices are root's) has no
    // live indicator; the curves are drawn all the same, and nothing has failed.
    if (!platform_.hidManagers) return 0;
    hidManager_ = platform_.hidManagers->createManager();
    if (!hidManager_) return curve_view_error::kHidManagerCreate;
    if (int32_t status = hidManager_->open(); status != kIOReturnSuccess) {
      QS810stackError(errors_.stack, nullptr, status);
      // Not kept half made: the next device tries again.
      hidManager_.reset();
      return curve_view_error::kHidManagerOpen;
    }
  }
  pl::Array pairs, axes;
  for (uint32_t usage : {kHIDUsage_GD_Pointer, kHIDUsage_GD_Mouse}) {
    pl::Dict p;
    p[kIOHIDDeviceUsagePageKey] = pl::Value::int64(kHIDPage_GenericDesktop);
    p[kIOHIDDeviceUsageKey] = pl::Value::int64(usage);
    pairs.emplace_back(std::move(p));
  }
  for (uint32_t usage : {kHIDUsage_GD_X, kHIDUsage_GD_Y}) {
    pl::Dict a;
    a[kIOHIDElementUsagePageKey] = pl::Value::int64(kHIDPage_GenericDesktop);
    a[kIOHIDElementUsageKey] = pl::Value::int64(usage);
    axes.emplace_back(std::move(a));
  }
  pl::Dict matching;
  matching[kIOHIDLocationIDKey] = *location;
  matching[kIOHIDDeviceUsagePairsKey] = pl::Value(std::move(pairs));
  hidManager_->setDeviceMatching(matching);
  for (HidInputDeviceRef& d : hidManager_->copyDevices()) {
    if (!d) continue;
    d->scheduleWithRunLoop();
    d->setInputValueMatchingMultiple(axes);
    d->registerInputValueCallback([this](int32_t result, const HidInputValue& v) { InputValueCallback(result, v); });
    hidDevices_.push_back(std::move(d));
  }
  return 0;
}

void VL260CurveView::closeAllDevices() {
  if (platform_.eventMonitors) {
    if (mouseMonitor1_) platform_.eventMonitors->removeMonitor(mouseMonitor1_);
    if (mouseMonitor2_) platform_.eventMonitors->removeMonitor(mouseMonitor2_);
  }
  mouseMonitor1_ = mouseMonitor2_ = 0;
  for (HidInputDeviceRef& d : hidDevices_) {
    d->close();
    d->registerInputValueCallback({});
    d->unscheduleFromRunLoop();
  }
  hidDevices_.clear();
}

void VL260CurveView::InputValueCallback(int32_t result, const HidInputValue& value) {
  if (result != kIOReturnSuccess || host_.mouseButtonDown()) return;
  if (value.usage == kHIDUsage_GD_X) lastX_ = value.integerValue;
  else lastY_ = value.integerValue;
  // The second axis of the same report: the pair is complete.
  if (lastTimestamp_ && *lastTimestamp_ == value.timestamp) updateIndicatorByX(clampToInt(lastX_), clampToInt(lastY_));
  else lastTimestamp_ = value.timestamp;
}

void VL260CurveView::MouseMovedCallback(const MouseMovedEvent& event) {
  if (host_.mouseButtonDown() || model_.cursorSpeedIndex() >= kCurveRows) return;
  model_.mouseMoved(event.deltaX, event.deltaY, false);
  indicatorMoved();
  host_.setNeedsDisplay();
}

void VL260CurveView::updateIndicatorByX(int x, int y) {
  model_.updateIndicatorByX(x, y);
  indicatorMoved();
  host_.setNeedsDisplay();
}

void VL260CurveView::indicatorMoved() {
  indicatorAlpha_ = 1;
  if (!platform_.runLoop) return;
  indicatorMovedAt_ = platform_.runLoop->now();
  if (!platform_.runLoop->hasPerform(this, "fadeIndicator"))
    platform_.runLoop->perform(this, "fadeIndicator", kIndicatorHoldSeconds, [this] { fadeIndicator(); });
}

void VL260CurveView::fadeIndicator() {
  const double still = platform_.runLoop->now() - indicatorMovedAt_;
  if (still < kIndicatorHoldSeconds) {
    // It moved again meanwhile: look again when the hold time since then is over.
    platform_.runLoop->perform(this, "fadeIndicator", kIndicatorHoldSeconds - still, [this] { fadeIndicator(); });
    return;
  }
  indicatorAlpha_ = std::max(0.0, 1 - (still - kIndicatorHoldSeconds) / kIndicatorFadeSeconds);
  if (indicatorAlpha_ <= 0) {
    model_.clearIndicator();
    indicatorAlpha_ = 1;
  } else {
    platform_.runLoop->perform(this, "fadeIndicator", kIndicatorFadeStep, [this] { fadeIndicator(); });
  }
  host_.setNeedsDisplay();
}

}  // namespace vl
