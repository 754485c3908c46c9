// The sensitivity and tracking-speed fields: arrow-key stepping into the selected favourite,
// select-all after focus, and the too-fast sheet in virtual time.
#include <gtest/gtest.h>

#include <memory>

#include "core/plist/number_text.h"
#include "pane/editing/cursor_speed_text.h"
#include "support/comma_locale.h"
#include "tests/pane/editing_fixture.h"

namespace vl {
namespace {

using Cmd = TextCommand;

class SpeedFields : public test::EditingBench {
 protected:
  std::unique_ptr<VL230CursorSpeedTextClass> field(SpeedField f, test::FakeFieldView& v) {
    return std::make_unique<VL230CursorSpeedTextClass>(f, platform, v, host, window);
  }

  // Steps a field showing `value` and checks what reaches the favourite.
  struct Step {
    SpeedField field;
    double value;
    Cmd command;
    const char* stored;  // nullptr: consumed without a change
  };
  void runSteps(const std::vector<Step>& steps) {
    for (const Step& s : steps) {
      SCOPED_TRACE(testing::Message() << (s.field == SpeedField::Sensitivity ? "sensitivity " : "tracking ")
                                      << s.value << " command " << static_cast<int>(s.command));
      favourite->setSensitivityDisplay(std::string("1000"));
      favourite->setTrackingSpeed(std::string("7"));
      test::FakeFieldView v;
      v.value = s.value;
      auto f = field(s.field, v);
      VL230CursorSpeedTextClass::CommandResult r = f->control(s.command);
      EXPECT_TRUE(r.consumed);
      std::string after = s.field == SpeedField::Sensitivity ? favourite->sensitivityDisplay()
                                                             : favourite->trackingSpeed().value_or("");
      if (s.stored) {
        EXPECT_EQ(r.stored, s.stored);
        EXPECT_EQ(after, s.stored);
        EXPECT_EQ(v.firstResponders, 1);
      } else {
        EXPECT_EQ(r.stored, std::nullopt);
        EXPECT_EQ(after, s.field == SpeedField::Sensitivity ? "1000" : "7");
        EXPECT_EQ(v.firstResponders, 0);
      }
    }
  }

  void runSteppingTable() {
    const SpeedField S = SpeedField::Sensitivity, T = SpeedField::Tracking;
    runSteps({
        {S, 1900, Cmd::MoveUp, nullptr},
        {S, 100, Cmd::MoveUp, "101"},
        {S, 100, Cmd::MoveDown, "99"},
        {S, 403, Cmd::MoveUpAndModifySelection, "410"},
        {S, 403, Cmd::MoveDownAndModifySelection, "400"},
        {S, 400, Cmd::MoveDownAndModifySelection, "390"},
        {S, 1895, Cmd::MoveUpAndModifySelection, "1900"},
        {S, 1950, Cmd::MoveUp, "1900"},  // a typed value above the stepping range is pulled in
        {S, 5, Cmd::MoveDown, nullptr},
        {S, 8, Cmd::MoveDownAndModifySelection, "5"},
        {T, 0.6875, Cmd::MoveUp, "0.69"},
        {T, 0.6875, Cmd::MoveDown, "0.68"},
        {T, 0.68, Cmd::MoveDown, "0.67"},
        {T, 0.6875, Cmd::MoveUpAndModifySelection, "0.7"},
        {T, 0.6875, Cmd::MoveDownAndModifySelection, "0.6"},
        {T, 0.1, Cmd::MoveUp, "0.11"},
        {T, 0.1, Cmd::MoveDown, "0.099"},
        {T, 0.1, Cmd::MoveUpAndModifySelection, "0.2"},
        {T, 0.1, Cmd::MoveDownAndModifySelection, "0.09"},
        {T, 0.05, Cmd::MoveUp, "0.051"},
        {T, 0.05, Cmd::MoveDown, "0.049"},
        {T, 19.95, Cmd::MoveUpAndModifySelection, "20"},
        {T, 20, Cmd::MoveUpAndModifySelection, nullptr},
        {T, 0, Cmd::MoveDown, nullptr},
        {T, 0, Cmd::MoveUp, "0.001"},
        {T, 25, Cmd::MoveDown, "20"},
        {T, 1e300, Cmd::MoveUp, "20"},  // no integer conversion can overflow on a huge text
    });
  }
};

TEST_F(SpeedFields, ArrowKeysStepTheSelectedFavouriteWithinRange) { runSteppingTable(); }

TEST_F(SpeedFields, SteppedTextsKeepTheDotUnderACommaLocale) {
  VELMORA_WITH_COMMA_LOCALE(locale);
  runSteppingTable();
}

TEST_F(SpeedFields, OtherKeysAndEmptyFieldsChangeNothing) {
  test::FakeFieldView v;
  v.value = 400;
  auto f = field(SpeedField::Sensitivity, v);
  EXPECT_FALSE(f->control(Cmd::Other).consumed);
  v.value = std::numeric_limits<double>::quiet_NaN();
  VL230CursorSpeedTextClass::CommandResult r = f->control(Cmd::MoveUp);
  EXPECT_TRUE(r.consumed);
  EXPECT_EQ(r.stored, std::nullopt);
  EXPECT_EQ(favourite->sensitivityDisplay(), "1600");
  // Without a selected favourite the step is still the field's, and nothing is written.
  host.selection.clear();
  v.value = 400;
  EXPECT_EQ(f->control(Cmd::MoveUp).stored, "401");
  EXPECT_EQ(favourite->sensitivityDisplay(), "1600");
}

TEST_F(SpeedFields, FocusSelectsTheWholeTextAfterADelay) {
  test::FakeFieldView v;
  auto f = field(SpeedField::Tracking, v);
  f->becomeFirstResponder();
  loop.advance(0.2);
  f->becomeFirstResponder();  // focused again before the first selection: one selection
  loop.advance(0.29);
  EXPECT_EQ(v.selections, 0);
  loop.advance(0.02);
  EXPECT_EQ(v.selections, 1);
  // A field gone before its delay passed is not called.
  f->becomeFirstResponder();
  f.reset();
  loop.advance(1);
  EXPECT_EQ(v.selections, 1);
}

class TooFastGuard : public SpeedFields {
 protected:
  void SetUp() override {
    device->setPointerResolution(std::string("700"));  // the system speed: display 1300
    settle();
    window.holdAlerts = true;
    sens = field(SpeedField::Sensitivity, view);
  }
  // The user types a value and leaves the field: the field commits it, then ends editing.
  void type(double value) {
    sens->controlTextDidBeginEditing();
    favourite->setSensitivityDisplay(pl::formatG(value));
    settle();
    view.value = value;
    sens->controlTextDidEndEditing();
  }

  test::FakeFieldView view;
  std::unique_ptr<VL230CursorSpeedTextClass> sens;
};

TEST_F(TooFastGuard, SheetEndsItselfAfterFiveSecondsAndRestores) {
  size_t stepsBefore = ctx->undoManager()->undoCount();
  type(1950);
  ASSERT_EQ(window.alerts.size(), 1u);
  EXPECT_EQ(window.alerts[0].alert.messageText,
            "Cursor speed is too fast. It will be restored to the system defaults in 5 seconds.");
  EXPECT_EQ(window.alerts[0].alert.buttons, (std::vector<std::string>{"Restore now", "Keep setting"}));
  EXPECT_EQ(window.alerts[0].alert.informativeText, "");
  EXPECT_EQ(window.beeps, 1);
  EXPECT_TRUE(sens->isTooFastSheetShown());
  EXPECT_FALSE(sens->isSensitivityTextEdited());

  loop.advance(4.9);
  EXPECT_FALSE(window.alerts[0].ended);
  EXPECT_EQ(favourite->sensitivityDisplay(), "1950");
  loop.advance(0.2);
  EXPECT_TRUE(window.alerts[0].ended);
  EXPECT_EQ(window.alerts[0].returnCode, kModalResponseStop);
  EXPECT_EQ(favourite->sensitivity(), "700");  // the device's own resolution
  // The typed value's step was undone (not stacked under) before the restore made its own.
  settle();
  EXPECT_EQ(ctx->undoManager()->undoCount(), stepsBefore + 1);
  EXPECT_FALSE(sens->isTooFastSheetShown());
}

TEST_F(TooFastGuard, AnswersDecide) {
  struct Case {
    int answer;
    const char* sensitivity;
  } cases[] = {
      {VL230CursorSpeedTextClass::kRestoreNowReturn, "700"},
      {VL230CursorSpeedTextClass::kKeepSettingReturn, "50"},  // 1950 kept
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    window.alerts.clear();
    type(1950);
    ASSERT_EQ(window.alerts.size(), 1u);
    window.finishAlert(0, c.answer);
    EXPECT_EQ(favourite->sensitivity(), c.sensitivity);
    // The answered sheet's timer is gone: it must not end the next alert of the window.
    window.showSheetAlert({"another", "", {}}, nullptr);
    loop.advance(6);
    EXPECT_FALSE(window.alerts[1].ended);
    window.finishAlert(1, kAlertFirstButtonReturn);
  }
}

TEST_F(TooFastGuard, OnlyAnEditedSensitivityAboveTheLimitAsks) {
  type(1900);  // exactly the limit
  EXPECT_TRUE(window.alerts.empty());
  // An end of editing without a beginning (focus passing through) asks nothing.
  view.value = 1950;
  sens->controlTextDidEndEditing();
  EXPECT_TRUE(window.alerts.empty());
  // The tracking field never asks.
  test::FakeFieldView tv;
  tv.value = 1950;
  auto tracking = field(SpeedField::Tracking, tv);
  tracking->controlTextDidBeginEditing();
  tracking->controlTextDidEndEditing();
  EXPECT_TRUE(window.alerts.empty());
  // A slider release marks the field as edited, so the guard runs when editing ends.
  sens->setIsSensitivityTextEdited(true);
  sens->controlTextDidEndEditing();
  EXPECT_EQ(window.alerts.size(), 1u);
  EXPECT_EQ(window.beeps, 1);
}

TEST_F(TooFastGuard, OneSheetAtATimeAndNoCallAfterTheFieldIsGone) {
  type(1950);
  type(1960);
  EXPECT_EQ(window.alerts.size(), 1u);
  sens.reset();
  loop.advance(10);  // the pending end was cancelled with the field: no call into freed memory
  EXPECT_FALSE(window.alerts[0].ended);
  EXPECT_EQ(favourite->sensitivityDisplay(), "1960");
}

TEST_F(TooFastGuard, RestoresUnderACommaLocale) {
  VELMORA_WITH_COMMA_LOCALE(locale);
  device->setPointerResolution(std::string("612.5"));
  settle();
  type(1950.5);
  EXPECT_EQ(favourite->sensitivity(), "49.5");
  loop.advance(5);
  EXPECT_EQ(favourite->sensitivity(), "612.5");
  EXPECT_EQ(favourite->sensitivityDisplay(), "1387.5");
}

}  // namespace
}  // namespace vl
