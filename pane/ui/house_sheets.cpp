// The update and quarantine sheets as window-modal dialogs, the uninstall alerts as message
// boxes, and their wiring to the controller.
#include "pane/ui/house_sheets.h"

#include <QHBoxLayout>
#include <QMessageBox>
#include <QProgressBar>
#include <QVBoxLayout>

#include "core/store/store_text.h"
#include "core/system/strings.h"

namespace vl::ui {

namespace {

QString text(const Platform& p, const char* key) {
  if (!p.paths) return QString::fromUtf8(key);
  return QString::fromStdString(localized(p, key, kTableVl));
}

QPushButton* addButton(QHBoxLayout* row, QWidget* parent, const QString& label) {
  auto* b = new QPushButton(label, parent);
  b->setAccessibleName(label);
  b->setAutoDefault(false);
  row->addWidget(b);
  return b;
}

}  // namespace

UpdateSheetWidget::UpdateSheetWidget(const Platform& platform, QWidget* parent, QLabel* badge)
    : QDialog(parent), badge_(badge) {
  setWindowModality(Qt::WindowModal);
  setWindowTitle(QStringLiteral("Velmora"));
  setAccessibleName(text(platform, "Check for Updates"));
  auto* layout = new QVBoxLayout(this);
  msg_ = new QLabel(this);
  msg_->setWordWrap(true);
  layout->addWidget(msg_);
  auto* row = new QHBoxLayout;
  layout->addLayout(row);
  skip_ = addButton(row, this, text(platform, "Skip This Version"));
  row->addStretch();
  remind_ = addButton(row, this, text(platform, "Remind Me Later"));
  download_ = addButton(row, this, text(platform, "Download"));
  download_->setDefault(true);
  connect(download_, &QPushButton::clicked, this, [this] {
    if (delegate_) delegate_->downloadUpdateWindow();
  });
  connect(skip_, &QPushButton::clicked, this, [this] {
    if (delegate_) delegate_->skipUpdateWindow();
  });
  connect(remind_, &QPushButton::clicked, this, [this] {
    if (delegate_) delegate_->remindUpdateWindow();
  });
  progress_ = new QDialog(parent);
  progress_->setWindowModality(Qt::WindowModal);
  progress_->setWindowTitle(QStringLiteral("Velmora"));
  progress_->setAccessibleName(text(platform, "Checking for updates…"));
  {
    auto* box = new QVBoxLayout(progress_);
    auto* what = new QLabel(text(platform, "Checking for updates…"), progress_);
    what->setAccessibleName(what->text());
    box->addWidget(what);
    auto* bar = new QProgressBar(progress_);
    bar->setRange(0, 0);  // busy: the answer's time is not known
    bar->setAccessibleName(what->text());
    box->addWidget(bar);
    auto* row = new QHBoxLayout;
    box->addLayout(row);
    row->addStretch();
    QPushButton* cancel = addButton(row, progress_, text(platform, "Cancel"));
    connect(cancel, &QPushButton::clicked, progress_, &QDialog::reject);
  }
  // Cancel, Escape or the close button: give up waiting.
  connect(progress_, &QDialog::rejected, this, [this] {
    if (delegate_) delegate_->cancelCheckForUpdates();
  });
  // Escape and the window's close button put the question off like "Remind Me Later" does not:
  // they only close.
  connect(this, &QDialog::rejected, this, [this] {
    if (delegate_ && delegate_->isShown()) delegate_->closeUpdateWindow();
  });
}

void UpdateSheetWidget::showUpdateSheet(const std::string& message) {
  msg_->setText(QString::fromStdString(message));
  msg_->setAccessibleName(msg_->text());
  open();
}

void UpdateSheetWidget::closeUpdateSheet() {
  if (isVisible()) hide();
}

void UpdateSheetWidget::showCheckProgress(bool shown) {
  if (shown) {
    progress_->open();
  } else if (progress_->isVisible()) {
    // Hidden, not rejected: the check ended, nobody gave up.
    progress_->hide();
  }
}

void UpdateSheetWidget::setBadgeHidden(bool hidden) {
  if (badge_) badge_->setVisible(!hidden);
}

GatekeeperSheetWidget::GatekeeperSheetWidget(const Platform& platform, QWidget* parent) : QDialog(parent) {
  setWindowModality(Qt::WindowModal);
  setWindowTitle(QStringLiteral("Velmora"));
  auto* layout = new QVBoxLayout(this);
  msg_ = new QLabel(text(platform,
                         "Velmora was installed for all users from a download. macOS keeps asking whether to open it "
                         "until the download quarantine is removed. Removing it needs an administrator's password."),
                    this);
  msg_->setWordWrap(true);
  msg_->setAccessibleName(msg_->text());
  layout->addWidget(msg_);
  auto* row = new QHBoxLayout;
  layout->addLayout(row);
  row->addStretch();
  cancel_ = addButton(row, this, text(platform, "Cancel"));
  ok_ = addButton(row, this, text(platform, "OK"));
  ok_->setDefault(true);
  connect(ok_, &QPushButton::clicked, this, [this] {
    if (delegate_) delegate_->okButtonGatekeeperWindow();
  });
  connect(cancel_, &QPushButton::clicked, this, [this] {
    if (delegate_) delegate_->closeGatekeeperWindow();
  });
  connect(this, &QDialog::rejected, this, [this] {
    if (delegate_ && delegate_->isShown()) delegate_->closeGatekeeperWindow();
  });
}

void GatekeeperSheetWidget::showGatekeeperSheet(const std::string&) { open(); }

void GatekeeperSheetWidget::closeGatekeeperSheet() {
  if (isVisible()) hide();
}

int QtUninstallView::runModalAlert(const SheetAlert& alert) {
  QMessageBox box(parent_ ? parent_->window() : nullptr);
  box.setWindowModality(Qt::ApplicationModal);
  box.setIcon(QMessageBox::Warning);
  box.setWindowTitle(QStringLiteral("Velmora"));
  box.setText(QString::fromStdString(alert.messageText));
  box.setInformativeText(QString::fromStdString(alert.informativeText));
  box.setAccessibleName(box.text());
  std::vector<std::string> buttons = alert.buttons;
  if (buttons.empty()) buttons.push_back("OK");
  std::vector<QAbstractButton*> made;
  for (size_t i = 0; i < buttons.size(); ++i) {
    // No accepting role either: the button box would make the first such button the default.
    QPushButton* b = box.addButton(QString::fromStdString(buttons[i]),
                                   i == 1 ? QMessageBox::RejectRole : QMessageBox::ActionRole);
    b->setAccessibleName(b->text());
    // No key equivalents: an uninstall is never one keystroke away.
    b->setShortcut(QKeySequence());
    b->setAutoDefault(false);
    made.push_back(b);
  }
  // No default button either, and the focus starts on the safe answer (the second button,
  // cancel, when there is one): Return does nothing, Space and Escape cancel.
  QAbstractButton* safe = made.size() > 1 ? made[1] : made.front();
  box.setEscapeButton(safe);
  safe->setFocus(Qt::OtherFocusReason);
  box.exec();
  for (size_t i = 0; i < made.size(); ++i)
    if (box.clickedButton() == made[i]) return kAlertFirstButtonReturn + static_cast<int>(i);
  return kAlertSecondButtonReturn;  // closed: cancel
}

HouseWindows::HouseWindows(const Platform& platform, quillon_Velmora_prefpane& controller, PaneWindow& window,
                           QWidget* parent, QLabel* badge, std::function<void()> hideTabs)
    : controller_(controller) {
  updateSheet_ = std::make_unique<UpdateSheetWidget>(platform, parent, badge);
  gatekeeperSheet_ = std::make_unique<GatekeeperSheetWidget>(platform, parent);
  uninstallView_ = std::make_unique<QtUninstallView>(parent, std::move(hideTabs));
  quillon_Velmora_prefpane* c = &controller;
  update_ = std::make_unique<UpdateSheetDelegate>(
      UpdateSheetDelegate::Ports::from(platform), UpdatePane{&window, [c] { c->jumpToDLPage(); }, [c] { c->showAll(); }}, *updateSheet_);
  gatekeeper_ = std::make_unique<GatekeeperSheetDelegate>(GatekeeperSheetDelegate::Ports::from(platform), *gatekeeperSheet_);
  updateSheet_->setDelegate(update_.get());
  gatekeeperSheet_->setDelegate(gatekeeper_.get());
  controller.setUpdateWinDelegate(update_.get());
  controller.setGatekeeperWinDelegate(gatekeeper_.get());
  controller.setUninstallView(uninstallView_.get());
  // The nib's load: the version request starts now and the badge follows its answer.
  update_->awakeFromNib();
}

HouseWindows::~HouseWindows() {
  controller_.setUpdateWinDelegate(nullptr);
  controller_.setGatekeeperWinDelegate(nullptr);
  controller_.setUninstallView(nullptr);
  updateSheet_->setDelegate(nullptr);
  gatekeeperSheet_->setDelegate(nullptr);
}

std::vector<PaneSheet*> HouseWindows::shownSheets() {
  std::vector<PaneSheet*> out;
  if (gatekeeper_->isShown()) out.push_back(gatekeeper_.get());
  if (update_->isShown()) out.push_back(update_.get());
  return out;
}

}  // namespace vl::ui
