// The speed tab's controls do what the controller says: typed values reach the selected
// favourite (and the agent), sliders, check box, Edit menu and ⌘-keys change the store, and the
// numbers show in the user's locale while the store keeps its own form.
#include <QAction>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>

#include "pane/graph/curve_view.h"
#include "pane/ui/curve_widget.h"
#include "support/comma_locale.h"
#include "tests/ui/ui_bench.h"

namespace vl {
namespace {

class SpeedTab : public test::UiBench {};

TEST_F(SpeedTab, TypingASensitivityChangesTheSelectedFavouriteAndReachesTheAgent) {
  openWithMouse();
  QS805CursorSpeedClass* cs = selected();
  typeInto(view().sensitivityField(), QStringLiteral("1200"));
  settle();
  EXPECT_EQ(cs->sensitivityDisplay(), "1200");
  EXPECT_EQ(cs->sensitivity(), "800");
  auto sent = commands(cmd::kCursorSpeed);
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(commandString(sent.back(), key::kSensitivity), "800");
  // The field keeps the focus and shows what the store holds.
  EXPECT_TRUE(view().sensitivityField()->hasFocus());
  EXPECT_EQ(view().sensitivityField()->text(), QStringLiteral("1200"));
  EXPECT_EQ(view().sensitivitySlider()->value(), 1200);
}

TEST_F(SpeedTab, OutOfRangeAndNonNumbersNeverReachTheStore) {
  openWithMouse();
  QS805CursorSpeedClass* cs = selected();
  const std::string before = cs->sensitivityDisplay();
  typeInto(view().sensitivityField(), QStringLiteral("2500"));
  settle();
  EXPECT_EQ(cs->sensitivityDisplay(), before);
  auto sheets = view().alertSheets();
  ASSERT_EQ(sheets.size(), 1u);
  EXPECT_TRUE(sheets[0]->text().contains(QStringLiteral("2500"))) << sheets[0]->text().toStdString();
  // Refused: leaving the pane is vetoed until the text is mended.
  EXPECT_FALSE(view().commitEditing());
  view().endSheetAlert(kAlertFirstButtonReturn);

  typeInto(view().trackingField(), QStringLiteral("fast"));
  settle();
  EXPECT_EQ(cs->trackingSpeed(), "0.6875");
  EXPECT_EQ(view().trackingField()->text(), QStringLiteral("0.6875"));
}

TEST_F(SpeedTab, ArrowKeysStepTheFieldsValue) {
  openWithMouse();
  QS805CursorSpeedClass* cs = selected();
  view().trackingField()->setFocus(Qt::MouseFocusReason);
  QTest::keyClick(view().trackingField(), Qt::Key_Up);
  settle();
  EXPECT_EQ(cs->trackingSpeed(), "0.69");
  EXPECT_EQ(view().trackingField()->text(), QStringLiteral("0.69"));
  view().sensitivityField()->setFocus(Qt::MouseFocusReason);
  QTest::keyClick(view().sensitivityField(), Qt::Key_Up, Qt::ShiftModifier);
  settle();
  EXPECT_EQ(cs->sensitivityDisplay(), "1610");  // 1600 is the first default's speed
}

TEST_F(SpeedTab, SliderDragChangesTheValueAndItsReleaseFocusesTheField) {
  openWithMouse();
  QS805CursorSpeedClass* cs = selected();
  QSlider* slider = view().trackingSlider();
  slider->setSliderDown(true);
  slider->setValue(1500);  // position 1.5: tracking speed 2.25
  settle();
  EXPECT_EQ(cs->trackingSpeed(), "2.25");
  // While the button is down the graph shows the curve as it was before the drag.
  EXPECT_FALSE(ui->controller().curveView().sourceCurve().isEmpty());
  EXPECT_FALSE(view().trackingField()->hasFocus());
  slider->setSliderDown(false);
  settle();
  EXPECT_TRUE(view().trackingField()->hasFocus());
  EXPECT_TRUE(ui->controller().curveView().sourceCurve().isEmpty());
  EXPECT_EQ(view().trackingField()->text(), QStringLiteral("2.25"));
}

TEST_F(SpeedTab, SensitivitySliderAboveTheLimitAsksAndRestoresAfterFiveSeconds) {
  openWithMouse();
  QS805CursorSpeedClass* cs = selected();
  QSlider* slider = view().sensitivitySlider();
  slider->setSliderDown(true);
  slider->setValue(1950);
  slider->setSliderDown(false);
  settle();
  EXPECT_EQ(cs->sensitivityDisplay(), "1950");
  ASSERT_TRUE(view().sensitivityField()->hasFocus());
  // Leaving the field ends the edit the release began: the guard asks.
  view().trackingField()->setFocus(Qt::TabFocusReason);
  QApplication::processEvents();
  auto sheets = view().alertSheets();
  ASSERT_EQ(sheets.size(), 1u);
  EXPECT_EQ(sheets[0]->text().toStdString(),
            "Cursor speed is too fast. It will be restored to the system defaults in 5 seconds.");
  loop.advance(4.9);
  EXPECT_EQ(view().alertSheets().size(), 1u);
  loop.advance(0.2);
  QApplication::processEvents();
  EXPECT_TRUE(view().alertSheets().empty());
  EXPECT_NE(cs->sensitivityDisplay(), "1950");
}

TEST_F(SpeedTab, KeepSettingKeepsATooFastSpeed) {
  openWithMouse();
  QS805CursorSpeedClass* cs = selected();
  typeInto(view().sensitivityField(), QStringLiteral("1950"));
  settle();
  auto sheets = view().alertSheets();
  ASSERT_EQ(sheets.size(), 1u);
  QAbstractButton* keep = nullptr;
  for (QAbstractButton* b : sheets[0]->buttons())
    if (b->text() == QStringLiteral("Keep setting")) keep = b;
  ASSERT_NE(keep, nullptr);
  keep->click();
  settle();
  loop.advance(6);
  EXPECT_EQ(cs->sensitivityDisplay(), "1950");
}

TEST_F(SpeedTab, CheckBoxFlipsDisableAccelerationAndTheGraphDrawsTheLine) {
  openWithMouse();
  QS805CursorSpeedClass* cs = selected();
  ASSERT_FALSE(cs->disableAccl());
  view().disableAcclCheckbox()->click();
  settle();
  EXPECT_TRUE(cs->disableAccl());
  EXPECT_TRUE(ui->controller().curveView().presetCurve(ui->controller().curveView().cursorSpeedIndex()).isLinearCurve());
  view().disableAcclCheckbox()->click();
  settle();
  EXPECT_FALSE(cs->disableAccl());
}

TEST_F(SpeedTab, EditMenuUndoRevertsAndTheRecordAndFieldFollow) {
  openWithMouse();
  QS805CursorSpeedClass* cs = selected();
  typeInto(view().sensitivityField(), QStringLiteral("1000"));
  settle();
  ASSERT_EQ(cs->sensitivityDisplay(), "1000");
  // The host's menu bar has the pane's Edit menu while the pane is selected.
  bool listed = false;
  for (QAction* a : host->menuBar()->actions()) listed |= a->text() == QStringLiteral("Edit");
  EXPECT_TRUE(listed);
  ASSERT_TRUE(view().undoAction()->isEnabled());
  view().undoAction()->trigger();
  settle();
  EXPECT_EQ(cs->sensitivityDisplay(), "1600");
  EXPECT_EQ(view().sensitivityField()->text(), QStringLiteral("1600"));
  auto sent = commands(cmd::kCursorSpeed);
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(commandString(sent.back(), key::kSensitivity), "400");
  ASSERT_TRUE(view().redoAction()->isEnabled());
  view().redoAction()->trigger();
  settle();
  EXPECT_EQ(cs->sensitivityDisplay(), "1000");
}

TEST_F(SpeedTab, CommandDigitSelectsAFavouriteAndTheTableFollows) {
  openWithMouse();
  view().favouriteTable()->setFocus(Qt::MouseFocusReason);
  QTest::keyClick(view().favouriteTable(), Qt::Key_2, Qt::ControlModifier);
  settle();
  EXPECT_EQ(ui->controller().cursorSpeedList().selectionIndex(), 1u);
  EXPECT_EQ(ui->controller().selectedDevice()->cursorSpeedSelectedIndex(), 1);
  EXPECT_EQ(view().favouriteTable()->currentIndex().row(), 1);
  // The fields show the newly chosen favourite (the second default: speed 1500).
  EXPECT_EQ(view().sensitivityField()->text(), QStringLiteral("1500"));
  // Clicking a row chooses it too.
  QTest::mouseClick(view().favouriteTable()->viewport(), Qt::LeftButton, {},
                    view().favouriteTable()->visualRect(view().favouriteTable()->model()->index(3, 0)).center());
  settle();
  EXPECT_EQ(ui->controller().selectedDevice()->cursorSpeedSelectedIndex(), 3);
}

TEST_F(SpeedTab, ZoomButtonsStepTheScaleAndShiftZoomsBothAxes) {
  openWithMouse();
  ui::CurveGraphPanel* panel = view().curvePanel();
  const std::string y0 = ui->controller().curveView().scaleYLabel();
  panel->zoomButton(ZoomSender::XUp)->click();
  EXPECT_NE(ui->controller().curveView().scaleXLabel(), "1.0");
  EXPECT_EQ(ui->controller().curveView().scaleYLabel(), y0);
  input.mods = Qt::ShiftModifier;
  panel->zoomButton(ZoomSender::YUp)->click();
  EXPECT_EQ(ui->controller().curveView().scaleXLabel(), ui->controller().curveView().scaleYLabel());
  EXPECT_EQ(panel->scaleXLabel()->text().toStdString(), ui->controller().curveView().scaleXLabel());
}

TEST_F(SpeedTab, DecimalCommaLocaleShowsCommasAndStoresDots) {
  VELMORA_WITH_COMMA_LOCALE(cLocale);
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  openWithMouse();
  QS805CursorSpeedClass* cs = selected();
  EXPECT_EQ(view().trackingField()->text(), QStringLiteral("0,6875"));
  typeInto(view().trackingField(), QStringLiteral("1,25"));
  settle();
  EXPECT_EQ(cs->trackingSpeed(), "1.25");
  auto sent = commands(cmd::kCursorSpeed);
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(commandString(sent.back(), key::kTrackingSpeed), "1.25");
  EXPECT_EQ(view().trackingField()->text(), QStringLiteral("1,25"));
  // A dot typed under the decimal-comma locale still means a decimal point.
  typeInto(view().trackingField(), QStringLiteral("0.5"));
  settle();
  EXPECT_EQ(cs->trackingSpeed(), "0.5");
  EXPECT_TRUE(view().curvePanel()->scaleXLabel()->text().contains(u','));
  // The favourite's label shows the locale's numbers too.
  const QString label = view().favouriteTable()->model()->index(0, 0).data().toString();
  EXPECT_TRUE(label.contains(QStringLiteral("0,5"))) << label.toStdString();
}

TEST_F(SpeedTab, ErrorViewShowsTheMessageInsteadOfTheTabs) {
  open();
  view().showErrorView("Please upgrade Drovana to the latest version.");
  EXPECT_TRUE(view().showsErrorView());
  EXPECT_EQ(view().errorLabel()->text(), QStringLiteral("Please upgrade Drovana to the latest version."));
  view().setShowAllLabelVisible(true);
  EXPECT_TRUE(view().showAllLabel()->isVisible());
  EXPECT_EQ(view().showAllLabel()->geometry(), view().rect());
}

}  // namespace
}  // namespace vl
