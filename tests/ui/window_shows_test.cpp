// What the window shows of its logic: a device's status with the reason it cannot take its
// speed, copy and paste of a favourite from the Edit menu, the help and speed-help windows, and
// the pane's own messages in its log window.
#include <QAbstractButton>
#include <QClipboard>
#include <QIcon>
#include <QMessageBox>
#include <QRadioButton>

#include "pane/editing/favorite_table.h"
#include "pane/graph/curve_view.h"
#include "pane/ui/favourite_edit_actions.h"
#include "pane/ui/help_windows.h"
#include "pane/ui/list_models.h"
#include "pane/ui/log_window.h"
#include "tests/ui/ui_bench.h"

namespace vl {
namespace {

class WindowShows : public test::UiBench {
 protected:
  QModelIndex statusCell() {
    return view().deviceTable()->model()->index(static_cast<int>(*ui->controller().deviceList().selectionIndex()),
                                                ui::DeviceTableModel::StatusColumn);
  }
  void chooseFavourite(int row) {
    view().favouriteTable()->setFocus(Qt::MouseFocusReason);
    QTest::keyClick(view().favouriteTable(), static_cast<Qt::Key>(Qt::Key_1 + row), Qt::ControlModifier);
    settle();
  }
};

TEST_F(WindowShows, TheStatusIconSaysWhyADeviceCannotTakeItsSpeedAndOpeningItShowsTheMessage) {
  ASSERT_NO_FATAL_FAILURE(openWithMouse());
  QAbstractItemModel* model = view().deviceTable()->model();
  EXPECT_TRUE(model->data(statusCell(), Qt::DecorationRole).value<QIcon>().availableSizes().size() > 0);
  EXPECT_EQ(model->data(statusCell(), Qt::ToolTipRole).toString(), QStringLiteral("Velmora sets the speed of this device."));

  QS802DeviceClass* device = ui->controller().selectedDevice();
  device->setCursorSpeedDisabled(true);
  settle();
  const QString disabled = QStringLiteral(
      "You have disabled Velmora for this device.\n\nUse Settings or the manufacturer driver to adjust the "
      "cursor movement.");
  EXPECT_EQ(model->data(statusCell(), Qt::ToolTipRole).toString(), disabled);
  EXPECT_EQ(model->data(statusCell(), Qt::AccessibleDescriptionRole).toString(), disabled);

  // Opening the device (Return on its row) shows the message as a sheet, with its identity.
  view().deviceTable()->setFocus(Qt::TabFocusReason);
  view().deviceTable()->setCurrentIndex(statusCell());
  QTest::keyClick(view().deviceTable(), Qt::Key_Return);
  settle();
  auto sheets = view().alertSheets();
  ASSERT_EQ(sheets.size(), 1u);
  EXPECT_EQ(sheets[0]->text(), disabled);
  EXPECT_TRUE(sheets[0]->informativeText().startsWith(QStringLiteral("VID:0x"))) << sheets[0]->informativeText().toStdString();
  view().endSheetAlert(kAlertFirstButtonReturn);

  // A device that can take its speed has nothing to say.
  device->setCursorSpeedDisabled(false);
  settle();
  QTest::keyClick(view().deviceTable(), Qt::Key_Return);
  settle();
  EXPECT_TRUE(view().alertSheets().empty());
}

TEST_F(WindowShows, EditMenuCopiesAFavouriteAndPastesItOntoAnother) {
  ASSERT_NO_FATAL_FAILURE(openWithMouse());
  ui::FavouriteEditActions* edit = view().editActions();
  ASSERT_TRUE(edit);
  EXPECT_EQ(edit->copyAction()->shortcut(), QKeySequence(QKeySequence::Copy));
  EXPECT_EQ(edit->pasteAction()->shortcut(), QKeySequence(QKeySequence::Paste));
  EXPECT_EQ(edit->cutAction()->shortcut(), QKeySequence(QKeySequence::Cut));
  EXPECT_TRUE(view().editMenu()->actions().contains(edit->copyAction()));

  typeInto(view().sensitivityField(), QStringLiteral("1234"));
  settle();
  chooseFavourite(0);
  // The platform's shortcut with the table focused copies the favourite in the shared format.
  QTest::keyClick(view().favouriteTable(), Qt::Key_C, Qt::ControlModifier);
  const std::string name = ui->controller().selectedDevice()->displayName();
  ASSERT_TRUE(pasteboard.string());
  EXPECT_EQ(*pasteboard.string(), speedPasteboardText(name, "1234", "0.6875"));
  EXPECT_EQ(pasteboard.string()->rfind("//" + name + "\n", 0), 0u);

  chooseFavourite(2);
  QS805CursorSpeedClass* third = selected();
  ASSERT_NE(third->sensitivityDisplay(), "1234");
  edit->updateEnabled();
  EXPECT_TRUE(edit->pasteAction()->isEnabled());
  EXPECT_FALSE(edit->cutAction()->isEnabled()) << "a favourite cannot be cut out of the table";
  QTest::keyClick(view().favouriteTable(), Qt::Key_V, Qt::ControlModifier);
  settle();
  EXPECT_EQ(third->sensitivityDisplay(), "1234");
  EXPECT_EQ(view().sensitivityField()->text(), QStringLiteral("1234"));
  ASSERT_FALSE(commands(cmd::kCursorSpeed).empty());
  EXPECT_EQ(commandString(commands(cmd::kCursorSpeed).back(), key::kSensitivity), "766");

  // A locked favourite takes no paste; text from elsewhere is no favourite.
  chooseFavourite(3);
  selected()->setIsLocked(true);
  settle();
  const std::string fourth = selected()->sensitivityDisplay();
  edit->updateEnabled();
  EXPECT_FALSE(edit->pasteAction()->isEnabled());
  edit->pasteAction()->trigger();
  settle();
  EXPECT_EQ(selected()->sensitivityDisplay(), fourth);

  // With the focus in a field the menu edits the field's text (a locked favourite's fields take
  // no focus, so the lock comes off first).
  selected()->setIsLocked(false);
  settle();
  view().trackingField()->setFocus(Qt::MouseFocusReason);
  view().trackingField()->selectAll();
  edit->copyAction()->trigger();
  EXPECT_EQ(QApplication::clipboard()->text(), view().trackingField()->text());
}

TEST_F(WindowShows, HelpMenuOpensTheHelpAndTheSpeedHelpWhoseControlsWork) {
  ASSERT_NO_FATAL_FAILURE(openWithMouse());
  bool listed = false;
  for (QAction* a : host->menuBar()->actions()) listed |= a->text() == QStringLiteral("Help");
  EXPECT_TRUE(listed) << "no Help menu in the menu bar";

  ui::PaneHelp& help = ui->help();
  EXPECT_EQ(help.helpAction()->shortcut(), QKeySequence(QKeySequence::HelpContents));
  help.helpAction()->trigger();
  ASSERT_TRUE(help.helpWindow()->isVisible());
  EXPECT_TRUE(help.helpWindow()->textView()->toPlainText().contains(QStringLiteral("Velmora Help")));

  help.speedHelpAction()->trigger();
  ui::SpeedHelpWindowWidget* speed = help.speedHelpWindow();
  ASSERT_TRUE(speed->isVisible());
  // Each control sits on its marker, inside the text, in the text's order.
  const QPoint zero = speed->zeroButton()->pos(), shortBox = speed->shortBox()->pos(), longBox = speed->longBox()->pos();
  for (QPoint p : {zero, shortBox, longBox}) EXPECT_GE(p.x(), 0);
  EXPECT_LT(zero.y(), shortBox.y());
  EXPECT_LT(shortBox.y(), longBox.y());
  EXPECT_EQ(speed->zeroButton()->accessibleName(), QStringLiteral("Tracking 0"));

  // "Tracking 0": the selected favourite keeps its sensitivity with no acceleration, and the
  // sensitivity field is next.
  QS805CursorSpeedClass* cs = selected();
  const std::string sensitivity = cs->sensitivityDisplay();
  speed->zeroButton()->click();
  settle();
  EXPECT_EQ(cs->trackingSpeed(), "0");
  EXPECT_EQ(cs->sensitivityDisplay(), sensitivity);
  // The main window's focus (it is the key window again on a desktop).
  EXPECT_EQ(view().window()->focusWidget(), view().sensitivityField());
  ASSERT_FALSE(commands(cmd::kCursorSpeed).empty());
  EXPECT_EQ(commandString(commands(cmd::kCursorSpeed).back(), key::kTrackingSpeed), "0");

  // An answer about long movements leads to the tracking field, and show clears the answers.
  auto radios = speed->longBox()->findChildren<QRadioButton*>();
  ASSERT_FALSE(radios.empty());
  radios[0]->click();
  settle();
  EXPECT_EQ(view().window()->focusWidget(), view().trackingField());
  help.speedHelpAction()->trigger();
  EXPECT_FALSE(radios[0]->isChecked());
}

TEST_F(WindowShows, TheLogWindowShowsThePanesOwnMessages) {
  ASSERT_NO_FATAL_FAILURE(openWithMouse());
  ui->paneLog().put("earlier message");
  typeInto(view().sensitivityField(), QStringLiteral("2500"));
  settle();
  view().endSheetAlert(kAlertFirstButtonReturn);
  // A fatal error reaches the user through the pane's alerts: the log has it too.
  ui->controller().ioResourceClassRetryError(1234567);
  settle();
  const QString shown = view().logWindow()->textView()->toPlainText();
  EXPECT_TRUE(shown.contains(QStringLiteral("earlier message"))) << shown.toStdString();
  EXPECT_TRUE(shown.contains(QStringLiteral("2500"))) << shown.toStdString();
  EXPECT_TRUE(shown.contains(QStringLiteral("123.4567"))) << shown.toStdString();
}

}  // namespace
}  // namespace vl
