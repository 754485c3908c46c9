// The speed tab's numeric fields.
#include "pane/ui/speed_field.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLocale>
#include <cmath>

#include "pane/ui/curve_widget.h"

namespace vl::ui {

std::optional<double> parseTypedNumber(const QString& text) {
  const QString t = text.trimmed();
  if (t.isEmpty()) return std::nullopt;
  bool ok = false;
  double v = QLocale().toDouble(t, &ok);
  if (!ok) v = QLocale::c().toDouble(t, &ok);
  if (!ok || !std::isfinite(v)) return std::nullopt;
  return v;
}

SpeedLineEdit::SpeedLineEdit(SpeedField field, std::function<bool(double)> store, QWidget* parent)
    : QLineEdit(parent), field_(field), store_(std::move(store)) {
  setAlignment(Qt::AlignRight);
  connect(this, &QLineEdit::textEdited, this, [this] {
    if (!editing_) {
      editing_ = true;
      if (logic_) logic_->controlTextDidBeginEditing();
    }
  });
}

void SpeedLineEdit::showStored(const std::optional<std::string>& stored) {
  stored_ = stored;
  if (editing_) return;
  const QString text = stored ? localeNumberText(*stored) : QString();
  if (text != this->text()) {
    // setText drops the field's own undo steps: the store's history is the one that counts.
    const bool selected = hasFocus() && hasSelectedText() && selectedText() == this->text();
    setText(text);
    if (selected) selectAll();
  }
}

bool SpeedLineEdit::commit() {
  if (!editing_ || inCommit_) return true;
  inCommit_ = true;
  auto v = parseTypedNumber(text());
  if (!v) {
    // Not a number at all: nothing reaches the store; the field shows the stored value again.
    inCommit_ = false;
    QApplication::beep();
    editing_ = false;
    showStored(stored_);
    return true;
  }
  const bool ok = store_ && store_(*v);
  inCommit_ = false;
  if (!ok) return false;
  editing_ = false;
  showStored(stored_);
  return true;
}

bool SpeedLineEdit::endEditing() {
  if (!commit()) return false;
  if (logic_) logic_->controlTextDidEndEditing();
  return true;
}

void SpeedLineEdit::clearUndo() {
  if (editing_) return;
  const QString t = text();
  setText(t);  // a new text has no undo history
}

double SpeedLineEdit::doubleValue() const {
  auto v = parseTypedNumber(text());
  return v ? *v : std::nan("");
}

void SpeedLineEdit::makeFirstResponder() {
  if (!hasFocus()) setFocus(Qt::OtherFocusReason);
}

void SpeedLineEdit::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  if (key == Qt::Key_Return || key == Qt::Key_Enter) {
    // Return ends the edit (the guard may ask), the field keeps the focus as on the platform.
    if (endEditing()) selectAll();
    event->accept();
    return;
  }
  if (logic_ && (key == Qt::Key_Up || key == Qt::Key_Down)) {
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    TextCommand c = key == Qt::Key_Up ? (shift ? TextCommand::MoveUpAndModifySelection : TextCommand::MoveUp)
                                      : (shift ? TextCommand::MoveDownAndModifySelection : TextCommand::MoveDown);
    // The step starts from what the field shows, typed or not; a typed text is stepped, not
    // committed first.
    editing_ = false;
    auto result = logic_->control(c);
    if (result.consumed) {
      event->accept();
      return;
    }
  }
  QLineEdit::keyPressEvent(event);
}

void SpeedLineEdit::focusInEvent(QFocusEvent* event) {
  QLineEdit::focusInEvent(event);
  if (logic_ && event->reason() != Qt::ActiveWindowFocusReason && event->reason() != Qt::PopupFocusReason)
    logic_->becomeFirstResponder();
}

void SpeedLineEdit::focusOutEvent(QFocusEvent* event) {
  QLineEdit::focusOutEvent(event);
  // A sheet or a menu over the window leaves the edit going, as the field editor stays.
  if (event->reason() == Qt::ActiveWindowFocusReason || event->reason() == Qt::PopupFocusReason) return;
  endEditing();
}

}  // namespace vl::ui
