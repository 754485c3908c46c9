// The Applications tab on a desktop where snapping cannot move the pointer (Wayland, no
// display): one message, reachable by Tab, and snapping controls that are disabled for mouse
// and keyboard alike yet keep their names for assistive technology.
// First, before Qt's headers: the session adapters declare a member named emit.
#include "platform/linux/desktop_session_ports.h"

#include <QAccessible>
#include <QTabBar>

#include "pane/ui/app_list_sheet.h"
#include "tests/ui/ui_bench.h"

namespace vl {
namespace {

class AppsTabOnDesktop : public test::UiBench {
 protected:
  void openOnAppsTab() {
    ASSERT_NO_FATAL_FAILURE(open());
    ASSERT_TRUE(view().selectTab(ui::kAppsTabName));
    settle();
  }
  QString accessibleName(QWidget* w) {
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
    return a ? a->text(QAccessible::Name) : QString();
  }
};

TEST_F(AppsTabOnDesktop, WhereThePointerCannotBeMovedTheTabSaysWhyAndTheControlsRest) {
  for (auto server : {linux_::DisplayServer::Wayland, linux_::DisplayServer::None}) {
    const std::string reason = linux_::snappingOffReason(server);
    SCOPED_TRACE(reason);
    ui.reset();
    host.reset();
    settings.desktop = DesktopLimits{reason, linux_::kAtspiEnableHint};
    ASSERT_NO_FATAL_FAILURE(openOnAppsTab());

    QLabel* message = view().snappingOffLabel();
    ASSERT_NE(message, nullptr);
    EXPECT_TRUE(message->isVisible());
    EXPECT_EQ(message->text().toStdString(), reason);
    EXPECT_EQ(accessibleName(message).toStdString(), reason);

    QPushButton* list = view().appListButton();
    QPushButton* warning = view().snappingWarningButton();
    for (QPushButton* b : {list, warning}) {
      EXPECT_FALSE(b->isEnabled()) << b->text().toStdString();
      EXPECT_FALSE(accessibleName(b).trimmed().isEmpty()) << "assistive technology still finds it by name";
      EXPECT_EQ(b->toolTip().toStdString(), reason);
    }

    // The mouse: a click on the list's button opens nothing.
    QTest::mouseClick(list, Qt::LeftButton);
    settle();
    EXPECT_FALSE(view().appListSheet()->isVisible());

    // The keyboard: the message is a stop of the Tab chain; Tab leaves it past the disabled
    // controls.
    message->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(message->hasFocus()) << "the message takes the keyboard focus";
    QTest::keyClick(message, Qt::Key_Tab);
    QWidget* next = QApplication::focusWidget();
    EXPECT_NE(next, message);
    EXPECT_NE(next, list);
    EXPECT_NE(next, warning);
    message->setFocus(Qt::TabFocusReason);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    settle();
    EXPECT_FALSE(view().appListSheet()->isVisible());
  }
}

TEST_F(AppsTabOnDesktop, WhereSnappingRunsThereIsNoMessageAndTheListOpens) {
  // An X11 desktop: only the accessibility hint is known.
  settings.desktop = DesktopLimits{"", linux_::kAtspiEnableHint};
  ASSERT_NO_FATAL_FAILURE(openOnAppsTab());
  EXPECT_FALSE(view().snappingOffLabel()->isVisible());
  EXPECT_TRUE(view().appListButton()->isEnabled());
  EXPECT_TRUE(view().appListButton()->toolTip().isEmpty());
  QTest::mouseClick(view().appListButton(), Qt::LeftButton);
  settle();
  EXPECT_TRUE(view().appListSheet()->isVisible());
  view().appListSheet()->delegate().closeAppWindow();
}

}  // namespace
}  // namespace vl
