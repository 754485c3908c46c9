// The pane's main view as the controller's window port: modifier keys, sheets and alerts, focus,
// and the reloads and redraws the controller asks for.
#include "pane/ui/pane_view.h"

#include "pane/ui/house_sheets.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QLineEdit>
#include <QUrl>

#include "core/system/versions.h"
#include "pane/controller/pane_controller.h"
#include "pane/ui/app_list_sheet.h"
#include "pane/ui/ax_warning_window.h"
#include "pane/ui/curve_widget.h"
#include "pane/ui/device_window.h"
#include "pane/ui/list_models.h"
#include "pane/ui/local_texts.h"
#include "pane/ui/registry_window.h"
#include "pane/ui/speed_field.h"

namespace vl::ui {

namespace {

// Calls escaped when Escape is pressed in the watched dialog, and swallows the key.
class EscapeFilter : public QObject {
 public:
  EscapeFilter(std::function<void()> escaped, QObject* parent) : QObject(parent), escaped_(std::move(escaped)) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->matches(QKeySequence::Cancel)) {
      if (escaped_) escaped_();
      return true;
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  std::function<void()> escaped_;
};

}  // namespace

ModifierFlags PaneView::modifierFlags() const { return modifierFlagsOf(input_.modifiers()); }

bool PaneView::mouseButtonDown() const {
  return input_.mouseButtonDown() || sensitivitySlider_->isSliderDown() || trackingSlider_->isSliderDown();
}

bool PaneView::isMainWindowVisible() const { return window()->isVisible(); }

std::vector<QMessageBox*> PaneView::alertSheets() const {
  std::vector<QMessageBox*> out;
  for (const auto& s : sheets_)
    if (s->box && !s->ended) out.push_back(s->box);
  return out;
}

std::vector<PaneSheet*> PaneView::attachedSheets() const {
  // The diagnostic sheets first (they lie on the main window), then the alert sheets, which
  // have no cancel hook of their own.
  std::vector<PaneSheet*> out;
  if (registryWindow_ && registryWindow_->isVisible()) out.push_back(&registryWindow_->delegate());
  if (deviceWindow_ && deviceWindow_->delegate().isVisible()) out.push_back(&deviceWindow_->delegate());
  if (axWarningWindow_ && axWarningWindow_->delegate().isVisible()) out.push_back(&axWarningWindow_->delegate());
  if (house_)
    for (PaneSheet* sheet : house_->shownSheets()) out.push_back(sheet);
  if (appSheet_ && appSheet_->isShown()) out.push_back(&appSheet_->delegate());
  out.resize(out.size() + alertSheets().size(), nullptr);
  return out;
}

void PaneView::closeAttachedSheets() {
  if (house_)
    for (PaneSheet* sheet : house_->shownSheets()) sheet->cancelByPrefPane();
  for (size_t i = sheets_.size(); i-- > 0;) {
    Sheet* s = sheets_[i].get();
    if (!s->ended) finishSheet(s, kModalResponseStop);
  }
  if (appSheet_) appSheet_->endSheet();
}

PaneTab PaneView::selectedTab() const { return static_cast<PaneTab>(tabs_->currentIndex()); }

bool PaneView::cursorSpeedTableEnabled() const { return favouriteTable_->isEnabled(); }

bool PaneView::cursorSpeedTableIsFirstResponder() const { return favouriteTable_->hasFocus(); }

bool PaneView::commitEditing() {
  for (SpeedLineEdit* f : {sensitivityField_, trackingField_})
    if (!f->commit()) return false;
  return true;
}

void PaneView::endEditing() {
  QWidget* focus = QApplication::focusWidget();
  if (focus && isAncestorOf(focus)) {
    for (SpeedLineEdit* f : {sensitivityField_, trackingField_})
      if (focus == f && !f->endEditing()) return;
    setFocus(Qt::OtherFocusReason);
  }
}

void PaneView::rememberKeyControl() {
  QWidget* focus = QApplication::focusWidget();
  keyControl_ = focus && isAncestorOf(focus) && qobject_cast<QLineEdit*>(focus) ? focus : nullptr;
}

void PaneView::restoreKeyControl() {
  QWidget* w = keyControl_;
  if (!w || w->hasFocus()) return;
  w->setFocus(Qt::OtherFocusReason);
  if (auto* edit = qobject_cast<QLineEdit*>(w)) edit->selectAll();
}

void PaneView::focusSpeedField(SpeedField field) {
  SpeedLineEdit* f = field == SpeedField::Sensitivity ? sensitivityField_ : trackingField_;
  // Asked from another window (the speed help): the main window comes to the front first.
  if (!window()->isActiveWindow()) {
    window()->raise();
    window()->activateWindow();
  }
  f->makeFirstResponder();
}

void PaneView::showSheetAlert(const SheetAlert& alert, std::function<void(int)> completion) {
  closeAttachedSheets();
  if (messageLog_)
    messageLog_(alert.informativeText.empty() ? alert.messageText : alert.messageText + "\n" + alert.informativeText);
  auto* box = new QMessageBox(this->window());
  box->setIcon(alert.informational ? QMessageBox::Information : QMessageBox::Warning);
  box->setWindowTitle(QStringLiteral("Velmora"));
  box->setText(onThisSystem(QString::fromStdString(alert.messageText)));
  box->setInformativeText(onThisSystem(QString::fromStdString(alert.informativeText)));
  box->setAccessibleName(box->text());
  std::vector<std::string> buttons = alert.buttons;
  if (buttons.empty()) buttons.push_back(vlText("OK").toStdString());
  std::vector<QAbstractButton*> made;
  for (size_t i = 0; i < buttons.size(); ++i) {
    const QString text = onThisSystem(QString::fromStdString(buttons[i]));
    QPushButton* b = box->addButton(text, i == 0 ? QMessageBox::AcceptRole
                                            : i == 1 ? QMessageBox::RejectRole
                                                     : QMessageBox::DestructiveRole);
    b->setAccessibleName(text);
    made.push_back(b);
  }
  box->setDefaultButton(static_cast<QPushButton*>(made.front()));
  box->setWindowModality(Qt::WindowModal);
  box->setAttribute(Qt::WA_DeleteOnClose);

  auto sheet = std::make_unique<Sheet>();
  sheet->box = box;
  sheet->completion = std::move(completion);
  Sheet* raw = sheet.get();
  sheets_.push_back(std::move(sheet));
  connect(box, &QMessageBox::buttonClicked, this, [this, raw, made](QAbstractButton* clicked) {
    for (size_t i = 0; i < made.size(); ++i)
      if (made[i] == clicked) finishSheet(raw, kAlertFirstButtonReturn + static_cast<int>(i));
  });
  // Closed by the window system (Escape): the safe answer, never whichever button is last: the
  // platform's cancel, a lone button, else no button at all (as when the program ends the
  // sheet; the too-fast sheet restores then).
  int escape = kModalResponseStop;
  if (buttons.size() == 1) {
    escape = kAlertFirstButtonReturn;
  } else {
    const std::string cancel = QS812localizedCancelButtonTitle(platform_.paths, platform_.system);
    for (size_t i = 0; i < buttons.size(); ++i)
      if (buttons[i] == cancel) escape = kAlertFirstButtonReturn + static_cast<int>(i);
  }
  const int escapeIndex = escape - kAlertFirstButtonReturn;
  if (escapeIndex >= 0 && escapeIndex < static_cast<int>(made.size())) {
    box->setEscapeButton(made[static_cast<size_t>(escapeIndex)]);
  } else {
    // No button is the safe answer: Escape ends the sheet without one.
    box->setEscapeButton(static_cast<QAbstractButton*>(nullptr));
    box->installEventFilter(new EscapeFilter([this, raw, escape] { finishSheet(raw, escape); }, box));
  }
  connect(box, &QDialog::rejected, this, [this, raw, escape] { finishSheet(raw, escape); });
  box->open();
}

void PaneView::finishSheet(Sheet* sheet, int returnCode) {
  if (sheet->ended) return;
  sheet->ended = true;
  if (sheet->box) {
    sheet->box->disconnect(this);
    sheet->box->close();
  }
  auto completion = std::move(sheet->completion);
  std::erase_if(sheets_, [sheet](const std::unique_ptr<Sheet>& s) { return s.get() == sheet; });
  if (completion) completion(returnCode);
  endPassSoon();
}

void PaneView::endSheetAlert(int returnCode) {
  for (size_t i = sheets_.size(); i-- > 0;)
    if (!sheets_[i]->ended) {
      finishSheet(sheets_[i].get(), returnCode);
      return;
    }
}

void PaneView::beep() { QApplication::beep(); }

void PaneView::reloadDeviceTable() {
  if (deviceModel_) deviceModel_->reload();
  syncTableSelections();
  updateDevicePlaceholder();
}

void PaneView::reloadCursorSpeedTable() {
  if (favouriteModel_) favouriteModel_->reload();
  syncTableSelections();
  refreshEditors();
  updateDevicePlaceholder();
}

void PaneView::setShowAllLabelVisible(bool visible) {
  showAll_->setGeometry(rect());
  showAll_->setVisible(visible);
  if (visible) showAll_->raise();
}

void PaneView::showErrorView(const std::string& message) {
  if (message.empty()) {
    stack_->setCurrentWidget(tabs_);
    return;
  }
  errorLabel_->setText(onThisSystem(QString::fromStdString(message)));
  errorLabel_->setAccessibleName(errorLabel_->text());
  stack_->setCurrentWidget(errorLabel_);
}

bool PaneView::showsErrorView() const { return stack_->currentWidget() == errorLabel_; }

void PaneView::redrawCurve() {
  curvePanel_->refresh();
  refreshEditors();
}

void PaneView::undoStateChanged() {
  undoAction_->setEnabled(controller_ && controller_->canUndo());
  redoAction_->setEnabled(controller_ && controller_->canRedo());
  // "Undo Sensitivity": the menu says what it will undo.
  auto named = [this](const char* verb, bool can, const std::string& name) {
    return can && !name.empty() ? vlText(verb) + QLatin1Char(' ') + QString::fromStdString(name) : vlText(verb);
  };
  undoAction_->setText(named("Undo", undoAction_->isEnabled(), controller_ ? controller_->undoActionName() : ""));
  redoAction_->setText(named("Redo", redoAction_->isEnabled(), controller_ ? controller_->redoActionName() : ""));
}

void PaneView::removeTextUndoActions() {
  sensitivityField_->clearUndo();
  trackingField_->clearUndo();
}

void PaneView::openURL(const std::string& url) { QDesktopServices::openUrl(QUrl(QString::fromStdString(url))); }

}  // namespace vl::ui
