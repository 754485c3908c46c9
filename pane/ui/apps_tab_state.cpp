// The Applications tab on a desktop where snapping cannot run: one message above the snapping
// controls, which are disabled but keep their names for assistive technology.
#include "pane/controller/pane_controller.h"
#include "pane/ui/pane_view.h"
#include "pane/windows/desktop_limits.h"

namespace vl::ui {

QLabel* PaneView::makeSnappingOffLabel(QWidget* tab) {
  snappingOffLabel_ = new QLabel(tab);
  snappingOffLabel_->setObjectName(QStringLiteral("snappingOff"));
  snappingOffLabel_->setWordWrap(true);
  snappingOffLabel_->setFrameShape(QFrame::StyledPanel);
  snappingOffLabel_->setMargin(8);
  // Disabled buttons take no focus: Tab stops here instead, so a keyboard or screen-reader
  // user meets the reason before the controls that do nothing.
  snappingOffLabel_->setFocusPolicy(Qt::StrongFocus);
  snappingOffLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  snappingOffLabel_->hide();
  return snappingOffLabel_;
}

void PaneView::showAppsTabState() {
  if (!controller_ || !snappingOffLabel_) return;
  const AppsTabState state = appsTabState(controller_->desktopLimits(), controller_->boaAXEnabled());
  setSnappingWarningVisible(state.warningVisible);
  const QString message = QString::fromStdString(state.message);
  snappingOffLabel_->setText(message);
  snappingOffLabel_->setAccessibleName(message);
  snappingOffLabel_->setVisible(!message.isEmpty());
  for (QPushButton* b : {appListButton_, snappingWarning_}) {
    b->setEnabled(state.snappingControlsEnabled);
    // The reason travels with the control, for whoever reaches it without seeing the tab.
    b->setToolTip(message);
  }
}

}  // namespace vl::ui
