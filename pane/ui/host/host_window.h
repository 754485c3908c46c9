// The settings host's window: a "Show All" control, the window title, and the selected pane's
// view; closing the window or "Show All" asks the pane before it goes (it may veto).
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <string>

#include "pane/ui/host/pane_session.h"

class QAction;
class QStackedWidget;
class QToolButton;

namespace vl::host {

class HostWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit HostWindow(PaneSession& session, QWidget* parent = nullptr);

  // Selects the pane (will select, shown, did select); false when it gave no view.
  bool selectPane();
  // "Show All": unselects the pane and shows the overview; false when the pane vetoed.
  bool showAll();
  // Called once, after the first paint of the selected pane (for --screenshot).
  void onFirstPanePaint(std::function<void()> callback);

  QAction* showAllAction() const { return showAll_; }
  QAction* quitAction() const { return quit_; }
  bool paneShown() const;

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void updateTitle();
  PaneSession& session_;
  QStackedWidget* pages_ = nullptr;
  QWidget* overview_ = nullptr;
  QWidget* paneHolder_ = nullptr;
  QPointer<QWidget> paneView_;
  QAction* showAll_ = nullptr;
  QAction* quit_ = nullptr;
  std::function<void()> firstPaint_;
};

}  // namespace vl::host
