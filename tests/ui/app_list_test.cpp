// The application-list sheet in Qt: opened from its tab, adding from the file chooser and from
// the running applications' pop-up, a drop of three files stopping at the host, Delete kept
// off for the default row, and every control named.
#include <QAccessible>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QMimeData>
#include <QUrl>

#include "core/store/app_record.h"
#include "pane/windows/app_list.h"
#include "pane/ui/app_list_sheet.h"
#include "platform/api/desktop.h"
#include "tests/ui/ui_bench.h"

namespace vl {
namespace {

class AppListUi : public test::UiBench {
 protected:
  void openSheet() {
    ASSERT_NO_FATAL_FAILURE(open());
    view().selectTab(ui::kAppsTabName);
    QTest::mouseClick(view().appListButton(), Qt::LeftButton);
    settle();
    ASSERT_NE(sheet(), nullptr);
    ASSERT_TRUE(sheet()->isVisible());
  }
  ui::AppListSheet* sheet() { return view().appListSheet(); }
  std::string bundle(const std::string& name, const std::string& id) {
    std::string path = home.path() + "/Applications/" + name + ".app";
    EXPECT_TRUE(workspace.makeBundle(path, id));
    return path;
  }
  int rows() { return sheet()->table()->model()->rowCount(); }
  QString rowName(int r) { return sheet()->table()->model()->index(r, 0).data().toString(); }
  void drop(const std::vector<std::string>& paths) {
    QMimeData data;
    QList<QUrl> urls;
    for (const auto& p : paths) urls.push_back(QUrl::fromLocalFile(QString::fromStdString(p)));
    data.setUrls(urls);
    QWidget* target = sheet()->table()->viewport();
    QPoint at = target->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent dropped(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &dropped);
    EXPECT_TRUE(dropped.isAccepted());
  }
};

TEST_F(AppListUi, AnApplicationChosenInTheFileChooserIsListed) {
  ASSERT_NO_FATAL_FAILURE(openSheet());
  std::string mail = bundle("Mail", "com.apple.mail");
  QTest::mouseClick(sheet()->addButton(), Qt::LeftButton);
  QFileDialog* panel = sheet()->filePanel();
  ASSERT_NE(panel, nullptr);
  EXPECT_FALSE(panel->testOption(QFileDialog::DontUseNativeDialog) == false);
  ASSERT_NE(sheet()->appPanelPopup(), nullptr);
  EXPECT_TRUE(panel->isAncestorOf(sheet()->appPanelPopup()));  // the accessory is in the chooser
  panel->selectFile(QString::fromStdString(mail));
  static_cast<QDialog*>(panel)->accept();  // Open
  settle();
  ASSERT_EQ(rows(), 2);
  EXPECT_EQ(rowName(1), QStringLiteral("Mail"));
  // Its snapping choice is a pop-up in the row, starting at "Same as Default".
  auto* combo = qobject_cast<QComboBox*>(sheet()->table()->indexWidget(sheet()->table()->model()->index(1, 1)));
  ASSERT_NE(combo, nullptr);
  EXPECT_EQ(combo->currentText(), QStringLiteral("Same as Default"));
  combo->setCurrentIndex(2);
  emit combo->activated(2);
  settle();
  EXPECT_EQ(ui->controller().appList().row(1)->snapping(), std::optional<std::string>("Default Button"));
  EXPECT_EQ(commands(cmd::kAutoCursorSnapping).size() >= 1, true);
}

TEST_F(AppListUi, ARunningApplicationIsAddedFromThePopUp) {
  RunningApplication app;
  app.bundleIdentifier = "com.apple.TextEdit";
  app.bundleURL = bundle("TextEdit", app.bundleIdentifier);
  app.localizedName = "TextEdit";
  workspace.launch(app);
  RunningApplication helper = app;
  helper.bundleIdentifier = "com.example.helper";
  helper.bundleURL = bundle("Helper", helper.bundleIdentifier);
  helper.localizedName = "Helper";
  helper.activationPolicy = kActivationPolicyAccessory;
  workspace.launch(helper);
  ASSERT_NO_FATAL_FAILURE(openSheet());
  QTest::mouseClick(sheet()->addButton(), Qt::LeftButton);
  QComboBox* popup = sheet()->appPanelPopup();
  ASSERT_NE(popup, nullptr);
  ASSERT_EQ(popup->count(), 1);
  EXPECT_EQ(popup->itemText(0), QStringLiteral("TextEdit"));
  EXPECT_FALSE(sheet()->appPanelButton()->isEnabled());
  popup->setCurrentIndex(0);
  EXPECT_TRUE(sheet()->appPanelButton()->isEnabled());
  QTest::mouseClick(sheet()->appPanelButton(), Qt::LeftButton);
  settle();
  EXPECT_EQ(sheet()->filePanel(), nullptr);  // the chooser was cancelled
  ASSERT_EQ(rows(), 2);
  EXPECT_EQ(rowName(1), QStringLiteral("TextEdit"));
}

TEST_F(AppListUi, ADropOfThreeStopsAtTheHostWithItsAlert) {
  ASSERT_NO_FATAL_FAILURE(openSheet());
  ASSERT_NO_FATAL_FAILURE(drop({bundle("Mail", "com.apple.mail"), bundle("System Preferences", kHostBundleID),
                                bundle("Notes", "com.apple.notes")}));
  EXPECT_EQ(rows(), 1);  // not during the drag
  settle();
  ASSERT_EQ(rows(), 2);
  EXPECT_EQ(rowName(1), QStringLiteral("Mail"));
  ASSERT_NE(sheet()->alert(), nullptr);
  EXPECT_EQ(sheet()->alert()->text(), QStringLiteral("“System Preferences” is not added."));
}

TEST_F(AppListUi, DeleteStaysOffOnTheDefaultRowAndRemovesOthers) {
  ASSERT_NO_FATAL_FAILURE(openSheet());
  ASSERT_TRUE(!sheet()->delegate().addAppWithURL(bundle("Mail", "com.apple.mail")));
  settle();
  ASSERT_EQ(rows(), 2);
  sheet()->table()->selectRow(0);
  EXPECT_FALSE(sheet()->deleteButton()->isEnabled());
  sheet()->table()->selectRow(1);
  ASSERT_TRUE(sheet()->deleteButton()->isEnabled());
  QTest::mouseClick(sheet()->deleteButton(), Qt::LeftButton);
  settle();
  EXPECT_EQ(rows(), 1);
  // Every control of the sheet carries its label as its name.
  for (QWidget* w : sheet()->findChildren<QWidget*>()) {
    if (!qobject_cast<QAbstractButton*>(w) && !qobject_cast<QAbstractItemView*>(w)) continue;
    bool part = false;  // a table's header, corner button or row editor is named by the table
    for (QWidget* p = w->parentWidget(); p && p != sheet(); p = p->parentWidget())
      if (qobject_cast<QAbstractItemView*>(p)) part = true;
    if (part) continue;
    EXPECT_FALSE(w->accessibleName().isEmpty()) << w->metaObject()->className();
  }
  // Show All closes the sheet through the controller.
  ui->controller().showAll();
  settle();
  EXPECT_FALSE(sheet()->isVisible());
}

}  // namespace
}  // namespace vl
