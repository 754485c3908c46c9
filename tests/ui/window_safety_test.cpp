// The window is safe from the keyboard and from assistive technology: Tab never chooses a row,
// the uninstall alerts have no default answer, Escape on the too-fast sheet restores, and a row
// chosen through the accessibility interface reaches the controller once, as a click does.
#include <QAccessible>
#include <QAccessibleInterface>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <filesystem>
#include <functional>

#include "core/plist/codec.h"
#include "pane/graph/curve_view.h"
#include "pane/ui/house_sheets.h"
#include "pane/windows/update_sheet.h"
#include "platform/api/http_client.h"
#include "tests/ui/ui_bench.h"

namespace vl {
namespace {

class WindowSafety : public test::UiBench {
 protected:
  // Two mice, so the device table has a row to move to.
  void openWithTwoMice() {
    attach("magic-mouse-2-bluetooth");
    ASSERT_NO_FATAL_FAILURE(openWithMouseAnd());
  }
  void openWithMouseAnd() {
    attach("generic-usb-optical-mouse");
    open();
    loop.advance(2.5);
    settle();
    ASSERT_TRUE(lifecycle.exits.empty()) << "the pane ended";
    ASSERT_EQ(ui->controller().deviceList().count(), 2u);
    ASSERT_NE(selected(), nullptr);
  }
  ~WindowSafety() override {
    if (!ui) return;
    ui->controller().deviceList().removeObserver(deviceToken_);
    ui->controller().cursorSpeedList().removeObserver(favouriteToken_);
  }
  // Counts the selection changes each list posts to the controller's side.
  struct SelectionCounter {
    int devices = 0, favourites = 0;
  };
  void countSelections(SelectionCounter& c) {
    deviceToken_ = ui->controller().deviceList().addObserver([&c](auto change) {
      if (change == DeviceList::Change::Selection) ++c.devices;
    });
    favouriteToken_ = ui->controller().cursorSpeedList().addObserver([&c](auto change) {
      if (change == CursorSpeedList::Change::Selection) ++c.favourites;
    });
  }
  uint64_t deviceToken_ = 0, favouriteToken_ = 0;
  SelectionCounter count;
  // Runs body on the application-modal box that action opens (the uninstall alerts are
  // modal: action returns only when the box is gone).
  void onModalBox(const std::function<void()>& action, const std::function<void(QMessageBox*)>& body) {
    bool ran = false;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box || !box->isVisible()) return;
      if (ran) {
        // A box the first one's answer led to: a failure above says so; it must not hang.
        box->reject();
        return;
      }
      ran = true;
      body(box);
      // Whatever body did, the box goes (cancel) so the test goes on.
      if (box->isVisible()) box->reject();
    });
    poll.start();
    action();
    poll.stop();
    EXPECT_TRUE(ran) << "no box appeared";
  }
};

TEST_F(WindowSafety, TabMovesBetweenControlsAndNeverChoosesARow) {
  ASSERT_NO_FATAL_FAILURE(openWithTwoMice());
  QTableView* favourites = view().favouriteTable();
  QTableView* devices = view().deviceTable();
  QS802DeviceClass* device = ui->controller().selectedDevice();
  const int64_t chosen = device->cursorSpeedSelectedIndex();
  countSelections(count);

  for (QTableView* table : {devices, favourites}) {
    table->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(table->hasFocus());
    QTest::keyClick(table, Qt::Key_Tab);
    settle();
    EXPECT_FALSE(table->hasFocus()) << table->accessibleName().toStdString() << " kept the focus on Tab";
    table->setFocus(Qt::TabFocusReason);
    QTest::keyClick(table, Qt::Key_Backtab, Qt::ShiftModifier);
    settle();
    EXPECT_FALSE(table->hasFocus()) << table->accessibleName().toStdString() << " kept the focus on Shift+Tab";
  }
  // A whole round of the window's focus chain chooses nothing either.
  favourites->setFocus(Qt::TabFocusReason);
  for (int i = 0; i < 30; ++i) QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  settle();
  EXPECT_EQ(count.devices, 0);
  EXPECT_EQ(count.favourites, 0);
  EXPECT_EQ(ui->controller().selectedDevice(), device);
  EXPECT_EQ(device->cursorSpeedSelectedIndex(), chosen);
  EXPECT_TRUE(commands(cmd::kCursorSpeed).empty()) << "nothing was applied";

  // The arrows move within a table, and that is a choice.
  favourites->setFocus(Qt::TabFocusReason);
  QTest::keyClick(favourites, chosen < 4 ? Qt::Key_Down : Qt::Key_Up);
  settle();
  EXPECT_EQ(count.favourites, 1);
  EXPECT_EQ(device->cursorSpeedSelectedIndex(), chosen < 4 ? chosen + 1 : chosen - 1);
  devices->setFocus(Qt::TabFocusReason);
  const size_t row = *ui->controller().deviceList().selectionIndex();
  QTest::keyClick(devices, row == 0 ? Qt::Key_Down : Qt::Key_Up);
  settle();
  EXPECT_EQ(count.devices, 1);
  EXPECT_NE(ui->controller().selectedDevice(), device);
}

TEST_F(WindowSafety, ARowChosenThroughTheAccessibilityInterfaceReachesTheControllerOnceAsAClickDoes) {
  ASSERT_NO_FATAL_FAILURE(openWithTwoMice());
  QTableView* favourites = view().favouriteTable();
  countSelections(count);
  const size_t sentBefore = commands(cmd::kCursorSpeed).size();

  QAccessibleInterface* table = QAccessible::queryAccessibleInterface(favourites);
  ASSERT_TRUE(table && table->tableInterface());
  const int target = ui->controller().cursorSpeedList().selectionIndex() == 3u ? 2 : 3;
  ASSERT_TRUE(table->tableInterface()->selectRow(target));
  settle();
  EXPECT_EQ(count.favourites, 1);
  EXPECT_EQ(favourites->currentIndex().row(), target) << "the arrows go on from the chosen row";
  EXPECT_EQ(ui->controller().selectedDevice()->cursorSpeedSelectedIndex(), target);
  // The fields, the graph and the agent follow.
  QS805CursorSpeedClass* cs = selected();
  EXPECT_EQ(view().sensitivityField()->text().toStdString(), cs->sensitivityDisplay());
  EXPECT_EQ(ui->controller().curveView().cursorSpeedIndex(), static_cast<size_t>(target));
  ASSERT_EQ(commands(cmd::kCursorSpeed).size(), sentBefore + 1);
  EXPECT_EQ(commandString(commands(cmd::kCursorSpeed).back(), key::kSensitivity), cs->sensitivity());

  // A click on another row: the same one change.
  QTest::mouseClick(favourites->viewport(), Qt::LeftButton, {},
                    favourites->visualRect(favourites->model()->index(1, 0)).center());
  settle();
  EXPECT_EQ(count.favourites, 2);
  EXPECT_EQ(ui->controller().selectedDevice()->cursorSpeedSelectedIndex(), 1);

  // The device table likewise.
  QAccessibleInterface* devices = QAccessible::queryAccessibleInterface(view().deviceTable());
  ASSERT_TRUE(devices && devices->tableInterface());
  const int other = *ui->controller().deviceList().selectionIndex() == 0 ? 1 : 0;
  ASSERT_TRUE(devices->tableInterface()->selectRow(other));
  settle();
  EXPECT_EQ(count.devices, 1);
  EXPECT_EQ(ui->controller().deviceList().selectionIndex(), static_cast<size_t>(other));
  EXPECT_EQ(ui->controller().cursorSpeedList().device(), ui->controller().selectedDevice());
}

TEST_F(WindowSafety, ReturnAndSpaceOnTheUninstallAlertsRemoveNothing) {
  ASSERT_NO_FATAL_FAILURE(openWithMouse());
  ASSERT_TRUE(ui->shouldUnselect());  // saves the store: there is a file to lose
  ASSERT_TRUE(std::filesystem::exists(*settings.storePath));
  ASSERT_TRUE(std::filesystem::exists(settings.bundlePath));

  auto keysDoNothingHarmful = [this](QMessageBox* box) {
    EXPECT_EQ(box->defaultButton(), nullptr) << box->text().toStdString();
    for (QPushButton* b : box->findChildren<QPushButton*>()) {
      EXPECT_FALSE(b->isDefault()) << b->text().toStdString();
      EXPECT_TRUE(b->shortcut().isEmpty()) << b->text().toStdString();
    }
    // Return answers nothing: the question stays.
    QWidget* focus = box->focusWidget() ? box->focusWidget() : box;
    QTest::keyClick(focus, Qt::Key_Return);
    QTest::keyClick(focus, Qt::Key_Enter);
    QApplication::processEvents();
    EXPECT_TRUE(box->isVisible()) << "Return answered " << box->text().toStdString();
    // Space presses the focused button: the safe one.
    focus = box->focusWidget() ? box->focusWidget() : box;
    QTest::keyClick(focus, Qt::Key_Space);
    QApplication::processEvents();
    EXPECT_FALSE(box->isVisible()) << "Space did not cancel";
    EXPECT_TRUE(std::filesystem::exists(*settings.storePath));
  };
  int boxes = 0;
  onModalBox([this] { ui->controller().showUninstallWindow(); },
             [&](QMessageBox* box) {
               ++boxes;
               EXPECT_EQ(box->text(), QStringLiteral("Uninstall Velmora."));
               keysDoNothingHarmful(box);
             });
  onModalBox([this] { ui->controller().performUninstall(); },
             [&](QMessageBox* box) {
               ++boxes;
               EXPECT_EQ(box->text(), QStringLiteral("Are you sure you want to uninstall Velmora?"));
               keysDoNothingHarmful(box);
             });
  EXPECT_EQ(boxes, 2);
  // Escape is cancel too.
  onModalBox([this] { ui->controller().performUninstall(); },
             [](QMessageBox* box) {
               QTest::keyClick(box->focusWidget() ? box->focusWidget() : box, Qt::Key_Escape);
               QApplication::processEvents();
               EXPECT_FALSE(box->isVisible());
             });
  EXPECT_TRUE(std::filesystem::exists(*settings.storePath));
  EXPECT_TRUE(std::filesystem::exists(settings.bundlePath));
  EXPECT_TRUE(lifecycle.exits.empty());
}

TEST_F(WindowSafety, EscapeOnTheTooFastSheetRestoresTheSpeed) {
  ASSERT_NO_FATAL_FAILURE(openWithMouse());
  QS805CursorSpeedClass* cs = selected();
  const std::string before = cs->sensitivityDisplay();
  typeInto(view().sensitivityField(), QStringLiteral("1950"));
  settle();
  auto sheets = view().alertSheets();
  ASSERT_EQ(sheets.size(), 1u);
  ASSERT_EQ(cs->sensitivityDisplay(), "1950");
  QWidget* focus = sheets[0]->focusWidget() ? sheets[0]->focusWidget() : sheets[0];
  QTest::keyClick(focus, Qt::Key_Escape);
  settle();
  EXPECT_TRUE(view().alertSheets().empty());
  EXPECT_NE(cs->sensitivityDisplay(), "1950");
  EXPECT_EQ(cs->sensitivityDisplay(), before);
  // The automatic end has nothing left to do.
  loop.advance(6);
  settle();
  EXPECT_EQ(cs->sensitivityDisplay(), before);
}

// "Check for Updates" clicked before the web service answered waits, showing so, and then
// answers; Cancel on the progress gives up without an answer.
TEST_F(WindowSafety, CheckForUpdatesWaitsForTheAnswerWithItsProgressShown) {
  std::string xml = pl::writeXml(pl::Value(pl::Array{pl::Value(std::string("vl2.2.3.dmg"))}));
  mac.setHttpAnswer("/velmora/xml/file.php", pl::Data(xml.begin(), xml.end()));
  mac.setHttpDelay(0.9);
  ASSERT_NO_FATAL_FAILURE(open());
  ui::HouseWindows* house = view().houseWindows();
  ASSERT_TRUE(house);
  ASSERT_FALSE(house->update().hostVersionKnown());
  house->update().checkForUpdates();
  QApplication::processEvents();
  EXPECT_TRUE(house->updateSheet().progressSheet()->isVisible());
  EXPECT_TRUE(view().alertSheets().empty()) << "no answer before the service's";
  loop.advance(1.0);
  QApplication::processEvents();
  EXPECT_FALSE(house->updateSheet().progressSheet()->isVisible());
  auto sheets = view().alertSheets();
  ASSERT_EQ(sheets.size(), 1u);
  EXPECT_EQ(sheets[0]->text(), QStringLiteral("Your version is up to date. (Ver 2.2.3)"));
  view().endSheetAlert(kAlertFirstButtonReturn);

  // Given up: Escape on the progress, and nothing is said when the answer comes.
  mac.setHttpError("/velmora/xml/file.php", kURLErrorCannotConnectToHost);
  house->update().awakeFromNib();
  house->update().checkForUpdates();
  QApplication::processEvents();
  ASSERT_TRUE(house->updateSheet().progressSheet()->isVisible());
  QTest::keyClick(house->updateSheet().progressSheet(), Qt::Key_Escape);
  QApplication::processEvents();
  EXPECT_FALSE(house->updateSheet().progressSheet()->isVisible());
  EXPECT_FALSE(house->update().isCheckingForUpdates());
  loop.advance(1.0);
  QApplication::processEvents();
  EXPECT_TRUE(view().alertSheets().empty());
}

// Escape answers a sheet's cancel, never whichever button happens to be last.
TEST_F(WindowSafety, EscapeOnOtherSheetsIsTheirCancel) {
  ASSERT_NO_FATAL_FAILURE(openWithMouse());
  int answer = 0;
  SheetAlert report{"Support", "report", {"Create an Email", "Cancel", "Copy to Clipboard"}};
  view().showSheetAlert(report, [&](int code) { answer = code; });
  QTest::keyClick(view().alertSheets().at(0), Qt::Key_Escape);
  settle();
  EXPECT_EQ(answer, kAlertSecondButtonReturn);
  SheetAlert offer{"Ver 9 is now available.", "", {"OK", "Download"}};
  view().showSheetAlert(offer, [&](int code) { answer = code; });
  QTest::keyClick(view().alertSheets().at(0), Qt::Key_Escape);
  settle();
  EXPECT_EQ(answer, kModalResponseStop) << "Escape must not download";
}

}  // namespace
}  // namespace vl
