// The pane's Applications tab: automatic cursor snapping, the list of applications and the
// accessibility warning.
#include "pane/ui/pane_view.h"

#include "pane/controller/pane_controller.h"
#include "pane/ui/app_list_sheet.h"
#include "pane/ui/pane_tab_button_rows.h"

namespace vl::ui {

// The list of applications is a sheet opened from its tab, as the pane's other windows are:
// while it is up the store's undo steps belong to it, and leaving the pane cancels it.
QWidget* PaneView::makeAppsTab() {
  auto* tab = new QWidget(tabs_);
  auto* layout = new QVBoxLayout(tab);
  layout->addWidget(makeSnappingOffLabel(tab));
  ButtonRows rows{tab, {}};
  QGridLayout* snapping = rows.group(layout, vlText("Automatic Cursor Snapping"));
  auto* text = new QLabel(vlText("When a window of an application appears, Velmora can move the pointer onto one of its "
                                 "buttons. Automatic cursor snapping is chosen per application; \"Default\" holds the "
                                 "choice of every application without a row of its own."),
                          tab);
  text->setAccessibleName(text->text());
  text->setWordWrap(true);
  snapping->addWidget(text, 0, 0, 1, 2);
  appListButton_ = rows.add(snapping, vlText("Applications…"),
                            vlText("Opens the list of applications, where you add applications and choose the button "
                                   "for each."));
  connect(appListButton_, &QPushButton::clicked, this, [this] {
    if (appSheet_) appSheet_->delegate().showAppWindow();
  });
  snappingWarning_ = rows.add(snapping, vlText("Accessibility Warning"),
                              vlText("Velmora's background program may not move the pointer yet: this explains how to "
                                     "allow it."));
  connect(snappingWarning_, &QPushButton::clicked, this, [this] {
    if (controller_) controller_->clickSnappingWarning();
  });
  rows.evenWidths();
  layout->addStretch();
  return tab;
}

void PaneView::setSnappingWarningVisible(bool visible) {
  snappingWarning_->setVisible(visible);
  // Its explanation goes with it.
  for (QLabel* l : snappingWarning_->parentWidget()->findChildren<QLabel*>())
    if (l->buddy() == snappingWarning_) l->setVisible(visible);
}

}  // namespace vl::ui
