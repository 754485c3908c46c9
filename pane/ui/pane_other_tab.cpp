// The pane's Other tab: the web pages, help and diagnostics, and uninstalling.
#include "pane/ui/pane_view.h"

#include "pane/ui/house_sheets.h"

#include "pane/controller/pane_controller.h"
#include "pane/ui/device_window.h"
#include "pane/ui/log_window.h"
#include "pane/ui/pane_tab_button_rows.h"
#include "pane/ui/registry_window.h"

namespace vl::ui {

QWidget* PaneView::makeOtherTab() {
  auto* tab = new QWidget(tabs_);
  auto* layout = new QVBoxLayout(tab);
  ButtonRows rows{tab, {}};
  auto button = [&](QGridLayout* grid, const char* text, const char* explanation, std::function<void()> action) {
    QPushButton* b = rows.add(grid, vlText(text), vlText(explanation));
    connect(b, &QPushButton::clicked, this, [action = std::move(action)] { action(); });
    return b;
  };
  QGridLayout* web = rows.group(layout, vlText("Velmora on the Web"));
  button(web, "Home Page", "Opens Velmora's home page in your web browser.", [this] {
    if (controller_) controller_->jumpToHP();
  });
  button(web, "Download Page", "Opens the page with the latest version and the release notes.", [this] {
    if (controller_) controller_->upgrageCheck();
  });
  QPushButton* check = button(web, "Check for Updates", "Asks whether a newer version of Velmora is available.", [this] {
    if (house_) house_->update().checkForUpdates();
  });
  updateBadge_ = new QLabel(vlText("A new version is available."), tab);
  updateBadge_->setAccessibleName(updateBadge_->text());
  updateBadge_->setStyleSheet(QStringLiteral("color: white; background: #d0342c; border-radius: 6px; padding: 2px 6px;"));
  updateBadge_->hide();
  web->addWidget(updateBadge_, web->rowCount(), 1, Qt::AlignLeft);
  (void)check;

  QGridLayout* help = rows.group(layout, vlText("Help and Diagnostics"));
  button(help, "Contact Support",
         "Gathers what support needs about the device selected on the Cursor Speed tab, to send by email or copy.",
         [this] {
           if (controller_) controller_->contactSupport();
         });
  button(help, "Log", "Shows the messages Velmora wrote while it ran.", [this] {
    if (!logWindow_) return;
    logWindow_->delegate().openLogViewer();
    logWindow_->show();
    logWindow_->raise();
  });
  button(help, "I/O Registry", "Lists the pointing devices the system knows, with their properties.", [this] {
    if (registryWindow_) registryWindow_->delegate().showIORegWindow();
  });
  button(help, "Stored Devices", "Lists every device Velmora remembers; devices no longer used can be deleted.", [this] {
    if (deviceWindow_ && controller_ && controller_->isSelected()) deviceWindow_->delegate().showDeviceWindow();
  });
  button(help, "Show Settings File", "Shows the file that holds your settings in the file manager.", [this] {
    if (controller_) controller_->showMOC();
  });

  QGridLayout* remove = rows.group(layout, vlText("Remove Velmora"));
  button(remove, "Uninstall…", "Removes Velmora and its background program; asks before anything is removed.", [this] {
    if (controller_) controller_->showUninstallWindow();
  });
  rows.evenWidths();
  layout->addStretch();
  return tab;
}

}  // namespace vl::ui
