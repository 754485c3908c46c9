// The window's tabs: each short name the host uses opens its own tab under its own title, the
// controller hears the same tab the tab bar shows, and the favourites' Copy is offered only
// where the favourites are on screen.
#include <QAction>
#include <QTabWidget>
#include <QTableView>

#include "pane/ui/favourite_edit_actions.h"
#include "tests/ui/ui_bench.h"

namespace vl {
namespace {

class Tabs : public test::UiBench {};

TEST_F(Tabs, EachNameOpensItsTabAndThePortReportsIt) {
  ASSERT_NO_FATAL_FAILURE(open());
  struct Row {
    const char* name;
    PaneTab tab;
    const char* title;
  };
  const Row rows[] = {
      {ui::kOtherTabName, PaneTab::Other, "Other"},
      {ui::kAppsTabName, PaneTab::Applications, "Applications"},
      {ui::kSpeedTabName, PaneTab::Speed, "Cursor Speed"},
  };
  ASSERT_EQ(view().tabs()->count(), 3);
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ASSERT_TRUE(view().selectTab(r.name));
    settle();
    EXPECT_EQ(view().selectedTab(), r.tab);
    EXPECT_EQ(view().tabs()->tabText(view().tabs()->currentIndex()).toStdString(), r.title);
  }
  // An unknown name is refused and leaves the shown tab alone.
  ASSERT_TRUE(view().selectTab(ui::kAppsTabName));
  EXPECT_FALSE(view().selectTab("Speed"));
  EXPECT_FALSE(view().selectTab(""));
  EXPECT_EQ(view().selectedTab(), PaneTab::Applications);
}

TEST_F(Tabs, FavouriteCopyIsOfferedOnTheSpeedTabOnly) {
  ASSERT_NO_FATAL_FAILURE(openWithMouse());
  view().favouriteTable()->setFocus(Qt::OtherFocusReason);
  ui::FavouriteEditActions* actions = view().editActions();
  ASSERT_TRUE(view().selectTab(ui::kSpeedTabName));
  settle();
  actions->updateEnabled();
  EXPECT_TRUE(actions->copyAction()->isEnabled()) << "a favourite is selected on the speed tab";
  for (const char* other : {ui::kAppsTabName, ui::kOtherTabName}) {
    SCOPED_TRACE(other);
    ASSERT_TRUE(view().selectTab(other));
    settle();
    actions->updateEnabled();
    EXPECT_FALSE(actions->copyAction()->isEnabled());
  }
}

}  // namespace
}  // namespace vl
