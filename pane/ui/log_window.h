// LogWindow: the pane's log window in Qt — a fixed-pitch text view that follows the end while
// the user looks at it, with Save and Clear; Backspace clears, Return adds a line break.
#pragma once

#include <QDialog>
#include <QPlainTextEdit>
#include <QPushButton>

#include "pane/ui/save_dialog.h"
#include "pane/windows/log_viewer.h"

namespace vl::ui {

class LogWindow : public QDialog, public LogWindowView {
  Q_OBJECT
 public:
  explicit LogWindow(QWidget* parent);
  LogViewerDelegate& delegate() { return delegate_; }
  QPlainTextEdit* textView() const { return text_; }
  SavePathChooser chooser;

  void showText(const std::string& text, double scrollY) override;
  void cancelAttachedSheet() override;
  void closeWindow() override;
  void runSavePanel(const std::string& proposedName,
                    std::function<void(const std::optional<std::string>&)> completion) override;
  void showSaveFailure(const std::string& message) override { vl::ui::showSaveFailure(this, message); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  QPlainTextEdit* text_;
  LogViewerDelegate delegate_;
  bool closing_ = false;
};

}  // namespace vl::ui
