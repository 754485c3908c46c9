// The pane's help: the Help menu ("Velmora Help", "Speed Help"), the help window showing the
// pane's help text, and the speed-help window whose text carries the "Tracking 0" button and
// the short- and long-movement answers on its markers.
#pragma once

#include <QButtonGroup>
#include <QDialog>
#include <QGroupBox>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QTextBrowser>
#include <memory>

#include "pane/editing/speed_help_view.h"

namespace vl::ui {

// A window of help text (Help.html), read-only, links open in the browser.
class HelpWindow : public QDialog {
  Q_OBJECT
 public:
  HelpWindow(const Platform& platform, QWidget* parent);
  QTextBrowser* textView() const { return text_; }
  // Brings the window to the front, loading the text the first time.
  void showHelp();

 private:
  Platform platform_;
  QTextBrowser* text_;
  bool loaded_ = false;
};

// The speed-help window's widgets: the text and three controls laid over it.
class SpeedHelpWindowWidget : public QDialog, public SpeedHelpWindow {
  Q_OBJECT
 public:
  SpeedHelpWindowWidget(const Platform& platform, QWidget* parent);
  // The logic that answers the controls (null: they do nothing).
  void setLogic(SpeedHelpView* logic) { logic_ = logic; }

  QTextBrowser* textView() const { return text_; }
  QPushButton* zeroButton() const { return zero_; }
  QGroupBox* shortBox() const { return short_; }
  QGroupBox* longBox() const { return long_; }

  // --- SpeedHelpWindow ---------------------------------------------------------------------
  std::string helpText() const override;
  std::optional<HelpPoint> markCharacters(size_t position, size_t length) override;
  void placeControl(HelpControl control, HelpPoint origin) override;
  void orderFront() override;
  void clearAllButtons() override;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  // The controls follow the text when it scrolls or wraps anew.
  void replace();
  void endPass();
  QGroupBox* makeBox(const QString& title, const QStringList& answers, bool tracking);

  Platform platform_;
  SpeedHelpView* logic_ = nullptr;
  QTextBrowser* text_;
  QPushButton* zero_;
  QGroupBox* short_;
  QGroupBox* long_;
  bool placing_ = false;
};

// The Help menu and the two windows, for one pane view.
class PaneHelp : public QObject {
  Q_OBJECT
 public:
  // host: the controller's editing side (selection, values from outside); window: the pane's
  // window port (focus of its fields); parent: the pane's view. All must outlive this.
  PaneHelp(const Platform& platform, SpeedEditingHost& host, PaneWindow& window, QWidget* parent);
  ~PaneHelp() override;

  QMenu* menu() const { return menu_; }
  QAction* helpAction() const { return help_; }
  QAction* speedHelpAction() const { return speedHelp_; }
  HelpWindow* helpWindow() const { return helpWindow_; }
  SpeedHelpWindowWidget* speedHelpWindow() const { return speedWindow_; }
  SpeedHelpView& speedHelpLogic() { return *logic_; }

 private:
  QPointer<QMenu> menu_;
  QAction* help_;
  QAction* speedHelp_;
  QPointer<HelpWindow> helpWindow_;
  QPointer<SpeedHelpWindowWidget> speedWindow_;
  std::unique_ptr<SpeedHelpView> logic_;
};

}  // namespace vl::ui
