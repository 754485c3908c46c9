// The update sheet's buttons and badge, and the "Other" tab's "Check for Updates", in the Qt
// window (offscreen).
#include <QMessageBox>
#include <QPushButton>

#include "core/plist/codec.h"
#include "pane/ui/house_sheets.h"
#include "pane/windows/update_sheet.h"
#include "platform/api/user_defaults.h"
#include "tests/ui/ui_bench.h"

namespace vl {
namespace {

class HouseSheets : public test::UiBench {
 protected:
  void offer(const std::string& name) {
    std::string xml = pl::writeXml(pl::Value(pl::Array{pl::Value(name)}));
    mac.setHttpAnswer("/velmora/xml/file.php", pl::Data(xml.begin(), xml.end()));
  }
  ui::UpdateSheetWidget& sheet() { return view().houseWindows()->updateSheet(); }
  QPushButton* otherTabButton(const QString& name) {
    for (QPushButton* b : view().tabs()->widget(2)->findChildren<QPushButton*>())
      if (b->accessibleName() == name) return b;
    return nullptr;
  }
};

TEST_F(HouseSheets, TheSheetAppearsWithTheBadgeAndItsButtonsAnswer) {
  offer("vl2.3.dmg");
  ASSERT_NO_FATAL_FAILURE(open());
  loop.advance(0.6);
  QApplication::processEvents();
  ASSERT_TRUE(view().houseWindows());
  EXPECT_TRUE(sheet().isVisible());
  EXPECT_EQ(sheet().message()->text(), QStringLiteral("Ver 2.3 is now available. Your version is 2.2.3."));
  EXPECT_FALSE(view().updateBadge()->isHidden());
  EXPECT_EQ(sheet().remindButton()->accessibleName(), QStringLiteral("Remind Me Later"));

  QTest::mouseClick(sheet().remindButton(), Qt::LeftButton);
  QApplication::processEvents();
  EXPECT_FALSE(sheet().isVisible());
  auto date = platform.defaults->value(kPaneDefaultsDomain, kUpdateDateKey);
  ASSERT_TRUE(date && date->asDate());

  // Put off: the next visit asks nothing. Skip is tried on a version the reminder does not hold.
  EXPECT_TRUE(platform.defaults->removeValue(kPaneDefaultsDomain, kUpdateDateKey).ok());
  ASSERT_TRUE(view().houseWindows()->update().showUpdateWindow());
  QApplication::processEvents();
  QTest::mouseClick(sheet().skipButton(), Qt::LeftButton);
  QApplication::processEvents();
  EXPECT_FALSE(sheet().isVisible());
  EXPECT_EQ(platform.defaults->value(kPaneDefaultsDomain, kUpdateVersionKey)->intValue(), 0x02308000);
  EXPECT_FALSE(view().houseWindows()->update().showUpdateWindow()) << "skipped";
}

TEST_F(HouseSheets, CheckForUpdatesSaysUpToDateWithoutAnUpdate) {
  offer("vl2.2.3.dmg");
  ASSERT_NO_FATAL_FAILURE(open());
  loop.advance(0.6);
  QApplication::processEvents();
  EXPECT_FALSE(sheet().isVisible());
  EXPECT_TRUE(view().updateBadge()->isHidden());
  QPushButton* check = otherTabButton(QStringLiteral("Check for Updates"));
  ASSERT_TRUE(check);
  ASSERT_TRUE(otherTabButton(QStringLiteral("Uninstall…")));
  check->click();
  QApplication::processEvents();
  auto sheets = view().alertSheets();
  ASSERT_EQ(sheets.size(), 1u);
  EXPECT_EQ(sheets[0]->text(), QStringLiteral("Your version is up to date. (Ver 2.2.3)"));
  view().endSheetAlert(kAlertFirstButtonReturn);
}

}  // namespace
}  // namespace vl
