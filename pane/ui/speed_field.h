// SpeedLineEdit: a numeric field of the speed tab (sensitivity shown as speed, or tracking
// speed). It shows the stored "%g" text in the user's locale, steps with the arrow keys and
// guards against too fast a speed through CursorSpeedText, and hands a typed value to
// the store when editing ends.
#pragma once

#include <QLineEdit>
#include <functional>
#include <optional>
#include <string>

#include "pane/editing/cursor_speed_text.h"

namespace vl::ui {

// A typed number: the user's locale first, then the C locale (a dot typed under a
// decimal-comma locale still means a decimal point). nullopt when neither reads it.
std::optional<double> parseTypedNumber(const QString& text);

class SpeedLineEdit : public QLineEdit, public SpeedFieldView {
  Q_OBJECT
 public:
  // store: hands a typed value to the selected favourite; false when the store refuses it
  // (it has told the user why).
  SpeedLineEdit(SpeedField field, std::function<bool(double)> store, QWidget* parent = nullptr);

  SpeedField field() const { return field_; }
  // The editing logic (arrow keys, focus, the too-fast guard); null leaves the field plain.
  void setLogic(CursorSpeedText* logic) { logic_ = logic; }
  CursorSpeedText* logic() const { return logic_; }

  // Shows a stored text ("%g", or none), unless the user is typing in the field.
  void showStored(const std::optional<std::string>& stored);
  // Whether the text was typed since it was last shown or committed.
  bool isEditing() const { return editing_; }
  // Hands a typed text to the store; true when there was none or the store took it.
  bool commit();
  // Ends the editing session as leaving the field does (commit, then the guard).
  bool endEditing();
  // Drops the field's own undo history (what the store does not hold).
  void clearUndo();

  // SpeedFieldView.
  double doubleValue() const override;
  void selectText() override { selectAll(); }
  void makeFirstResponder() override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  SpeedField field_;
  std::function<bool(double)> store_;
  CursorSpeedText* logic_ = nullptr;
  std::optional<std::string> stored_;
  bool editing_ = false;
  bool inCommit_ = false;
};

}  // namespace vl::ui
