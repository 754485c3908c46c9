// The curve graph view: following the pane's selection (device change, status, the fast path
// and its source curve), keys, messages, the live indicator's sources and the drawing.
#include <gtest/gtest.h>

#include "pane/graph/svg_surface.h"
#include "tests/pane/curve_view_support.h"

namespace vl {
namespace {

using test::CurveViewBench;

constexpr uint32_t kMouseVid = 0x93a, kMousePid = 0x2510;    // generic-usb-optical-mouse
constexpr uint32_t kMagicVid = 0x4c, kMagicPid = 0x269;      // magic-mouse-2-bluetooth

class CurveViewTest : public CurveViewBench {
 protected:
  void prepare(QS802DeviceClass* d, size_t row) {
    host.device = d;
    host.selection = row;
    ASSERT_EQ(view.prepare(), 0);
  }
  // The registry id of the device's IOHIDDevice, as the HID manager matches it.
  RegistryId hidEntry(const QS802DeviceClass* d) {
    auto entries = mac.pointerDevicesAt(d->locationID()->unsignedIntValue());
    EXPECT_EQ(entries.size(), 1u);
    return entries.empty() ? 0 : entries.front();
  }
  std::string fatalText() const {
    std::string all;
    for (const auto& e : alerts.modal)
      for (const auto& [k, v] : e.userInfo) all += v.describe() + "\n";
    return all;
  }

  VL260CurveView view{platform, errorContext(), host};
};

TEST_F(CurveViewTest, ADeviceChangeStoresZoomAndVisibilityIntoTheOldDeviceAndLoadsTheNewOnes) {
  QS802DeviceClass* a = device(kMouseVid, kMousePid, "USB");
  QS802DeviceClass* b = device(0x46d, 0xc077, "USB");
  a->setViewScaleX(std::string("2.0"));
  a->setViewScaleY(std::string("1.5"));
  row(b, 3)->setVisible(false);
  b->setViewScaleX(std::string("0.5"));
  b->setViewScaleY(std::string("3.0"));
  prepare(a, 0);
  EXPECT_EQ(host.observer, &view);
  EXPECT_EQ(view.scaleXLabel(), "2.0");
  EXPECT_EQ(view.scaleYLabel(), "1.5");

  view.setViewScaleBy(ZoomSender::XUp, true);  // Shift: both axes take 2.1
  view.clickCurveVisibleCheckbox(1);
  const int undoClears = host.undoClears;
  host.select(b, 2);
  EXPECT_EQ(a->viewScaleX(), "2.1");
  EXPECT_EQ(a->viewScaleY(), "2.1");
  EXPECT_FALSE(row(a, 1)->visible());
  EXPECT_TRUE(row(a, 0)->visible());
  EXPECT_EQ(host.undoClears, undoClears + 1);
  EXPECT_EQ(view.scaleXLabel(), "0.5");
  EXPECT_EQ(view.scaleYLabel(), "3.0");
  EXPECT_TRUE(view.curveVisibleCheckbox(1));
  EXPECT_FALSE(view.curveVisibleCheckbox(3));
  EXPECT_EQ(view.cursorSpeedIndex(), 2u);

  // A device that was deleted keeps its values, and its undo actions are not touched.
  host.deleted.insert(b);
  view.setViewScaleBy(ZoomSender::YUp, false);
  host.select(a, 0);
  EXPECT_EQ(b->viewScaleY(), "3.0");
  EXPECT_EQ(host.undoClears, undoClears + 1);

  view.dispose();
  EXPECT_EQ(host.observer, nullptr);
}

TEST_F(CurveViewTest, MissingRowsHaveEmptyCurvesAndClearColours) {
  QS802DeviceClass* d = device(kMouseVid, kMousePid, "USB", "generic-usb-optical-mouse");
  for (int64_t i : {3, 4}) {
    QS805CursorSpeedClass* cs = row(d, i);
    d->removeCursorSpeedsObject(cs);
    ctx->deleteObject(cs);
  }
  prepare(d, 0);
  for (size_t i = 0; i < 3; ++i) EXPECT_GT(view.presetCurve(i).elementCount(), 2u) << i;
  for (size_t i = 3; i < 5; ++i) {
    EXPECT_EQ(view.presetCurveColor(i), kClearColour) << i;
    EXPECT_LE(view.presetCurve(i).elementCount(), 1u) << i;
    EXPECT_FALSE(view.curveVisibleCheckbox(i));
  }
  EXPECT_EQ(view.presetCurveColor(0).a, 1);
  EXPECT_EQ(view.presetCurveColor(1).a, 0.3);
}

TEST_F(CurveViewTest, TrackingZeroDrawsTheTableAndDisabledAccelerationTheOneToOneLine) {
  QS802DeviceClass* d = device(kMouseVid, kMousePid, "USB", "generic-usb-optical-mouse");
  ASSERT_TRUE(d->VL702acclCurves());
  row(d, 1)->setTrackingSpeed(std::string("0"));
  row(d, 2)->setDisableAccl(true);
  prepare(d, 0);
  EXPECT_TRUE(view.presetCurve(0).isPACurve());
  EXPECT_TRUE(view.presetCurve(1).isSGCurve()) << "tracking 0 is drawn from the table even with curves";
  const CurvePath& linear = view.presetCurve(2);
  EXPECT_TRUE(linear.isLinearCurve());
  ASSERT_EQ(linear.elementCount(), 2u);
  EXPECT_EQ(linear.elements()[0], (PathElement{PathOp::MoveTo, 26, 18}));
  EXPECT_EQ(linear.elements()[1], (PathElement{PathOp::LineTo, 526, 518}));

  // A device that is not connected shows empty curves.
  QS802DeviceClass* absent = device(0x46d, 0xc077, "USB");
  host.select(absent, 0);
  EXPECT_LE(view.presetCurve(0).elementCount(), 1u);
}

TEST_F(CurveViewTest, DraggingShowsThePreDragCurveFaintlyUntilRelease) {
  QS802DeviceClass* d = device(kMouseVid, kMousePid, "USB", "generic-usb-optical-mouse");
  prepare(d, 1);
  const CurvePath before = view.presetCurve(1);
  view.updateIndicatorByX(40, 0);
  ASSERT_NE(view.indicatorValue(), 0);

  host.buttonDown = true;
  row(d, 1)->setSensitivity(std::string("300"));
  view.observeValueForKeyPath(kObservedSensitivity);
  EXPECT_EQ(view.sourceCurve().elements(), before.elements());
  EXPECT_EQ(view.sourceCurve().lineWidth(), 3);
  ASSERT_TRUE(view.sourceCurveColor());
  EXPECT_EQ(view.sourceCurveColor()->a, 0.3);
  EXPECT_EQ(view.sourceCurveColor()->b, view.presetCurveColor(1).b);
  EXPECT_EQ(view.indicatorValue(), 0);
  EXPECT_NE(view.presetCurve(1).elements(), before.elements()) << "the focused curve follows the value";

  // Further moves keep the pre-drag copy; the drawing puts it under the focused curve.
  row(d, 1)->setSensitivity(std::string("250"));
  view.observeValueForKeyPath(kObservedSensitivity);
  EXPECT_EQ(view.sourceCurve().elements(), before.elements());
  RecordingSurface surface;
  view.drawRect(surface);
  std::vector<const CurvePath*> stroked;
  for (const auto& c : surface.commands)
    if (c.kind == DrawCommand::Kind::StrokePath) stroked.push_back(c.path);
  ASSERT_GE(stroked.size(), 2u);
  EXPECT_EQ(stroked[stroked.size() - 2], &view.sourceCurve());
  EXPECT_EQ(stroked.back(), &view.presetCurve(1));

  host.buttonDown = false;
  row(d, 1)->setSensitivity(std::string("260"));
  view.observeValueForKeyPath(kObservedSensitivity);
  EXPECT_TRUE(view.sourceCurve().isEmpty());
}

TEST_F(CurveViewTest, InputValuesMoveTheIndicatorOnlyAsPairsOfOneReport) {
  QS802DeviceClass* d = device(kMouseVid, kMousePid, "USB", "generic-usb-optical-mouse");
  prepare(d, 0);
  ASSERT_EQ(view.deviceStatus(), kVL702Controlled);
  ASSERT_EQ(view.openHidDeviceCount(), 1u);
  const RegistryId hid = hidEntry(d);
  auto x = [](int64_t v, uint64_t t) { return HidInputValue{1, kHIDUsage_GD_X, v, t}; };
  auto y = [](int64_t v, uint64_t t) { return HidInputValue{1, kHIDUsage_GD_Y, v, t}; };

  // X in one report and Y in the next: no pair yet.
  EXPECT_EQ(mac.postInputReport(hid, {x(7, 100)}), 1u);
  mac.postInputReport(hid, {y(-3, 200)});
  loop.runUntilIdle();
  EXPECT_EQ(view.indicatorValue(), 0);
  // A report with both axes: the larger magnitude at scale 1.0.
  mac.postInputReport(hid, {x(-12, 300), y(5, 300)});
  loop.runUntilIdle();
  EXPECT_EQ(view.indicatorValue(), 26 + 12);
  // Other usages are filtered out by the device; values while a button is down are ignored.
  mac.postInputReport(hid, {HidInputValue{1, 56, 99, 400}, HidInputValue{1, 56, 99, 400}});
  host.buttonDown = true;
  mac.postInputReport(hid, {x(30, 500), y(0, 500)});
  loop.runUntilIdle();
  EXPECT_EQ(view.indicatorValue(), 26 + 12);

  // Disabling the device closes the source.
  host.buttonDown = false;
  d->setCursorSpeedDisabled(true);
  view.observeValueForKeyPath(kObservedStatus);
  EXPECT_EQ(view.openHidDeviceCount(), 0u);
  EXPECT_EQ(mac.postInputReport(hid, {x(30, 600), y(0, 600)}), 0u);
}

TEST_F(CurveViewTest, AppleDevicesFollowCursorDeltasThroughTheFocusedCurve) {
  QS802DeviceClass* d = device(kMagicVid, kMagicPid, "Bluetooth", "magic-mouse-2-bluetooth");
  prepare(d, 0);
  ASSERT_EQ(view.deviceStatus(), kVL702Controlled);
  EXPECT_TRUE(view.mouseMonitorsInstalled());
  EXPECT_EQ(view.openHidDeviceCount(), 0u);

  // The back-calculated device speed sits where the focused curve's output passes the delta.
  mac.postMouseMoved(-4.7, 20.9);
  loop.runUntilIdle();
  const int first = view.indicatorValue();
  ASSERT_GT(first, 26);
  const int device = first - 26;
  EXPECT_NE(device, 20) << "the delta went through the curve";

  // Zooming keeps the back-calculation on the focused curve, not on the last row computed.
  view.setViewScaleBy(ZoomSender::XUp, false);
  mac.postMouseMoved(0, 20);
  loop.runUntilIdle();
  EXPECT_EQ(view.indicatorValue(), static_cast<int>(26 + device * 1.1));

  // Local monitors get the events while this process has them.
  mac.setReceivesMouseEvents(true);
  host.buttonDown = true;
  const int held = view.indicatorValue();
  mac.postMouseMoved(50, 0);
  loop.runUntilIdle();
  EXPECT_EQ(view.indicatorValue(), held) << "ignored while a button is down";

  view.dispose();
  EXPECT_FALSE(view.mouseMonitorsInstalled());
}

TEST_F(CurveViewTest, AHidManagerThatCannotOpenIsAFatalAlertWithItsNumbers) {
  mac.failHidManagerOpen(true);
  QS802DeviceClass* d = device(kMouseVid, kMousePid, "USB", "generic-usb-optical-mouse");
  prepare(d, 0);
  ASSERT_EQ(lifecycle.exits.size(), 1u);
  EXPECT_NE(fatalText().find("260.0419"), std::string::npos) << fatalText();
  EXPECT_NE(fatalText().find("260.0458"), std::string::npos) << fatalText();
  EXPECT_NE(fatalText().find("260.0504"), std::string::npos) << fatalText();

  // The failed manager is not kept half made: the next time the device is usable it opens.
  mac.failHidManagerOpen(false);
  d->setCursorSpeedDisabled(true);
  view.observeValueForKeyPath(kObservedStatus);
  d->setCursorSpeedDisabled(false);
  view.observeValueForKeyPath(kObservedStatus);
  ASSERT_EQ(view.openHidDeviceCount(), 1u);
  mac.postInputReport(hidEntry(d), {{1, kHIDUsage_GD_X, 9, 1}, {1, kHIDUsage_GD_Y, 2, 1}});
  loop.runUntilIdle();
  EXPECT_EQ(view.indicatorValue(), 26 + 9);
}

TEST_F(CurveViewTest, WithoutRawInputOnTheSystemTheGraphStaysAndOnlyTheIndicatorIsMissing) {
  // A Linux desktop lends the window no raw HID input: no manager is an absent indicator, not
  // a failure that ends the window.
  Platform noRawInput = platform;
  noRawInput.hidManagers = nullptr;
  VL260CurveView bare{noRawInput, errorContext(), host};
  QS802DeviceClass* d = device(kMouseVid, kMousePid, "USB", "generic-usb-optical-mouse");
  host.device = d;
  host.selection = 0;
  ASSERT_EQ(bare.prepare(), 0);
  EXPECT_EQ(bare.deviceStatus(), kVL702Controlled);
  EXPECT_TRUE(lifecycle.exits.empty()) << fatalText();
  EXPECT_TRUE(alerts.modal.empty()) << fatalText();
  EXPECT_EQ(bare.openHidDeviceCount(), 0u);
  bare.dispose();
}

TEST_F(CurveViewTest, KeyEquivalents) {
  QS802DeviceClass* d = device(kMouseVid, kMousePid, "USB");
  prepare(d, 1);
  struct Case {
    const char* what;
    KeyEvent key;
    bool enabled, firstResponder;
    bool handled;
  } cases[] = {
      {"cmd-3", {20, "3", kCommandKeyMask, false}, true, false, true},
      {"cmd-6", {22, "6", kCommandKeyMask, false}, true, true, false},
      {"cmd-shift-3", {20, "3", kCommandKeyMask | kShiftKeyMask, false}, true, true, false},
      {"repeat", {20, "3", kCommandKeyMask, true}, true, true, false},
      {"table disabled", {20, "3", kCommandKeyMask, false}, false, true, false},
      {"space elsewhere", {kKeyCodeSpace, " ", 0, false}, true, false, false},
      {"plain 3", {20, "3", 0, false}, true, true, false},
  };
  for (const auto& c : cases) {
    host.tableEnabled = c.enabled;
    host.firstResponder = c.firstResponder;
    EXPECT_EQ(view.performKeyEquivalent(c.key), c.handled) << c.what;
  }
  EXPECT_EQ(host.selectedRows, std::vector<size_t>{2});

  host.tableEnabled = host.firstResponder = true;
  host.selection = 1;
  ASSERT_TRUE(view.curveVisibleCheckbox(1));
  EXPECT_TRUE(view.performKeyEquivalent({kKeyCodeSpace, " ", 0, false}));
  EXPECT_FALSE(view.curveVisibleCheckbox(1));
  // Device-dependent flag bits (which side's key) do not count as modifiers.
  EXPECT_TRUE(view.performKeyEquivalent({kKeyCodeSpace, " ", 0x100, false}));
  EXPECT_TRUE(view.curveVisibleCheckbox(1));

  EXPECT_TRUE(view.performKeyEquivalent({kKeyCodeL, "l", 0, false}));
  EXPECT_TRUE(row(d, 1)->isLocked());
  EXPECT_TRUE(view.performKeyEquivalent({kKeyCodeL, "l", 0, false}));
  EXPECT_FALSE(row(d, 1)->isLocked());
  EXPECT_TRUE(row(d, 1)->value(attr::cursorSpeed::isLocked).isNull()) << "unlocked is stored as nil";
}

TEST_F(CurveViewTest, MessagesForDevicesWhoseSpeedCannotChange) {
  QS802DeviceClass* controlled = device(kMouseVid, kMousePid, "USB", "generic-usb-optical-mouse");
  QS802DeviceClass* other = device(0x45e, 0x7fd, "USB", "microsoft-mouse-vendor-driver");
  QS802DeviceClass* absent = device(0x45e, 0x1234, "USB");
  ASSERT_EQ(other->VL702status(), kVL702OtherDriver);
  const std::string driver = other->driverManufacture().value_or("");
  host.kexts[driver] = "/Library/Extensions/Vendor.kext";
  prepare(controlled, 0);

  EXPECT_FALSE(view.errorMessage(controlled));
  const std::string otherText = view.errorMessage(other).value_or("");
  EXPECT_NE(otherText.find("\n\n/Library/Extensions/Vendor.kext\n(" + driver + ")\n     \nYou can change"), std::string::npos)
      << otherText;
  EXPECT_EQ(view.errorMessage(absent), "This device is not connected.");
  host.karabiner = true;
  EXPECT_EQ(view.errorMessage(absent),
            "If this device is not detected, you need to uninstall the following driver. Please contact the "
            "manufacturer how to uninstall it.\n\nKarabiner-Elements");
  host.microsoftDriver = "/Library/Extensions/MicrosoftMouse.kext";
  EXPECT_EQ(view.errorMessage(absent).value_or("").substr(view.errorMessage(absent)->size() - 41),
            "\n\n/Library/Extensions/MicrosoftMouse.kext");
  controlled->setCursorSpeedDisabled(true);
  EXPECT_EQ(view.errorMessage(controlled)->rfind("You have disabled Velmora for this device.", 0), 0u);

  host.select(absent, 0);
  view.showErrorMsg();
  ASSERT_EQ(host.sheets.size(), 1u);
  EXPECT_EQ(host.sheets[0].first, view.errorMessage(absent).value_or(""));
  EXPECT_EQ(host.sheets[0].second, "VID:0x45E, PID:0x1234, MID:0x0 Transport:USB");
  host.select(controlled, 0);
  controlled->setCursorSpeedDisabled(false);
  view.observeValueForKeyPath(kObservedStatus);
  view.showErrorMsg();
  EXPECT_EQ(host.sheets.size(), 1u) << "a usable device has nothing to show";
}

TEST_F(CurveViewTest, AnAppleGestureDeviceDrivenByAnotherDriverGetsNoDrovanaAdvice) {
  QS802DeviceClass* d = device(kMagicVid, kMagicPid, "Bluetooth", "magic-mouse-2-bluetooth");
  d->setDriverManufacture(std::string("com.vendor.driver.Mouse"));
  prepare(d, 0);
  ASSERT_EQ(d->VL702status(), kVL702OtherDriver);
  const std::string text = view.errorMessage(d).value_or("");
  EXPECT_EQ(text.find("Drovana"), std::string::npos) << text;
  EXPECT_NE(text.find("(com.vendor.driver.Mouse)\n"), std::string::npos) << text;
}

TEST_F(CurveViewTest, DrawingKeepsLabelsApartAndClipsTheCurves) {
  QS802DeviceClass* d = device(kMouseVid, kMousePid, "USB", "generic-usb-optical-mouse");
  d->setViewScaleX(std::string("0.5"));
  d->setViewScaleY(std::string("0.2"));
  prepare(d, 0);
  view.updateIndicatorByX(100, 0);
  RecordingSurface s;
  view.drawRect(s);
  ASSERT_FALSE(s.commands.empty());
  EXPECT_EQ(s.commands[0].kind, DrawCommand::Kind::FrameRect);
  EXPECT_EQ(s.commands[0].rect, (DrawRect{26, 18, 600, 300}));

  // At 0.5 a tick every 25 points: "50" and "100" would touch, so every other label shows.
  std::vector<std::string> xLabels, yLabels;
  for (const auto& c : s.commands) {
    if (c.kind != DrawCommand::Kind::Text) continue;
    (c.y < 15 ? xLabels : yLabels).push_back(c.text);
  }
  ASSERT_GE(xLabels.size(), 3u);
  EXPECT_EQ(xLabels[0], "50");
  EXPECT_EQ(xLabels[1], "150");
  EXPECT_EQ(xLabels[2], "250");
  // At 0.2 a tick every 10 points with 12-point labels: again every other one.
  ASSERT_GE(yLabels.size(), 2u);
  EXPECT_EQ(yLabels[0], "50");
  EXPECT_EQ(yLabels[1], "150");

  auto clip = std::find_if(s.commands.begin(), s.commands.end(),
                           [](const DrawCommand& c) { return c.kind == DrawCommand::Kind::PushClip; });
  ASSERT_NE(clip, s.commands.end());
  EXPECT_EQ(clip->rect, (DrawRect{27, 19, 598, 298}));
  // The indicator line, then (the focused curve being shown) a mark where it meets the curve.
  auto indicator = std::find_if(s.commands.begin(), s.commands.end(), [](const DrawCommand& c) {
    return c.kind == DrawCommand::Kind::FrameRect && c.rect == DrawRect{76, 18, 1, 300};
  });
  ASSERT_NE(indicator, s.commands.end());
  EXPECT_EQ(indicator->colour, kIndicatorColour);
  auto mark = std::find_if(indicator, s.commands.end(),
                           [](const DrawCommand& c) { return c.kind == DrawCommand::Kind::FillRect; });
  if (view.curveVisibleCheckbox(0)) {
    ASSERT_NE(mark, s.commands.end());
    const auto y = curveHeightAt(view.presetCurve(0), 76.5);
    ASSERT_TRUE(y.has_value());
    EXPECT_NEAR(mark->rect.y + mark->rect.height / 2, *y, 0.01);
  } else {
    EXPECT_EQ(mark, s.commands.end());
  }
  EXPECT_EQ(s.commands.back().kind, DrawCommand::Kind::PopClip);

  // Only ticks at whole steps: at 0.5 the x range is 1200 counts.
  const auto ticks = std::count_if(s.commands.begin(), s.commands.end(), [](const DrawCommand& c) {
    return c.kind == DrawCommand::Kind::FrameRect && c.rect.y == 15 && c.rect.height == 3;
  });
  EXPECT_EQ(ticks, 24);
}

TEST(SvgSurface, FramesFillTheirInsideBandAndTextIsEscaped) {
  SvgSurface s(100, 50);
  s.frameRect({10, 10, 20, 10}, {1, 0, 0, 1}, 2);
  s.frameRect({0, 0, 1, 3}, {0, 0, 0, 1}, 1);
  s.drawText("a<b & \"c\"", 5, 5, {0, 0, 0, 1});
  s.pushClip({0, 0, 10, 10});
  const std::string doc = s.document();
  EXPECT_NE(doc.find("<rect x=\"11\" y=\"31\" width=\"18\" height=\"8\" fill=\"none\" stroke=\"rgb(255,0,0)\" "
                     "stroke-width=\"2\"/>"),
            std::string::npos)
      << doc;
  EXPECT_NE(doc.find("<rect x=\"0\" y=\"47\" width=\"1\" height=\"3\" fill=\"rgb(0,0,0)\"/>"), std::string::npos) << doc;
  EXPECT_NE(doc.find("a&lt;b &amp; &quot;c&quot;"), std::string::npos);
  EXPECT_EQ(doc.substr(doc.size() - 14), "  </g>\n</svg>\n") << "an open clip is closed";
}

}  // namespace
}  // namespace vl
