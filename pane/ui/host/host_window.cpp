// The host window: toolbar with "Show All", an overview page with the pane's button, and the
// page that holds the pane's view.
#include "pane/ui/host/host_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QMenuBar>
#include <QStackedWidget>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace vl::host {

namespace {
constexpr const char* kPaneLabel = "Velmora";
}

HostWindow::HostWindow(PaneSession& session, QWidget* parent) : QMainWindow(parent), session_(session) {
  setObjectName("VelmoraSettingsHost");
  setAccessibleName(QString::fromStdString(HostIdentity{}.name));

  showAll_ = new QAction(tr("Show All"), this);
  showAll_->setObjectName("showAll");
  showAll_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
  connect(showAll_, &QAction::triggered, this, [this] { showAll(); });
  quit_ = new QAction(tr("Quit"), this);
  quit_->setObjectName("quit");
  quit_->setShortcut(QKeySequence::Quit);
  connect(quit_, &QAction::triggered, this, &QWidget::close);

  // The application menu first: the pane puts its Edit menu after it, as on the platform.
  QMenu* application = menuBar()->addMenu(QString::fromStdString(HostIdentity{}.name));
  application->addAction(quit_);
  QMenu* view = menuBar()->addMenu(tr("View"));
  view->addAction(showAll_);

  QToolBar* bar = addToolBar(tr("Toolbar"));
  bar->setObjectName("hostToolbar");
  bar->setMovable(false);
  bar->addAction(showAll_);
  if (QWidget* button = bar->widgetForAction(showAll_)) button->setAccessibleName(tr("Show All"));

  pages_ = new QStackedWidget(this);
  overview_ = new QWidget(pages_);
  overview_->setObjectName("overview");
  auto* grid = new QVBoxLayout(overview_);
  auto* open = new QToolButton(overview_);
  open->setObjectName("openVelmora");
  open->setText(kPaneLabel);
  open->setAccessibleName(kPaneLabel);
  open->setIcon(style()->standardIcon(QStyle::SP_ComputerIcon));
  open->setIconSize(QSize(48, 48));
  open->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  connect(open, &QToolButton::clicked, this, [this] { selectPane(); });
  grid->addWidget(open, 0, Qt::AlignLeft | Qt::AlignTop);
  paneHolder_ = new QWidget(pages_);
  paneHolder_->setObjectName("paneHolder");
  auto* holderLayout = new QVBoxLayout(paneHolder_);
  holderLayout->setContentsMargins(0, 0, 0, 0);
  pages_->addWidget(overview_);
  pages_->addWidget(paneHolder_);
  setCentralWidget(pages_);
  pages_->setCurrentWidget(overview_);
  updateTitle();
}

bool HostWindow::selectPane() {
  if (session_.selected()) return true;
  QWidget* view = session_.willSelect(paneHolder_);
  if (!view) return false;
  if (paneView_ != view) {
    paneView_ = view;
    paneHolder_->layout()->addWidget(view);
    view->installEventFilter(this);
  }
  view->show();
  pages_->setCurrentWidget(paneHolder_);
  showAll_->setEnabled(true);
  updateTitle();
  // The pane may look at its window in didSelect: it must be on screen by then.
  if (!isVisible()) {
    show();
    // Without a window manager (a virtual display) nobody else gives the window the keyboard.
    raise();
    activateWindow();
  }
  session_.didSelect();
  return true;
}

bool HostWindow::showAll() {
  if (!session_.selected()) return true;
  if (!session_.unselect()) return false;
  pages_->setCurrentWidget(overview_);
  showAll_->setEnabled(false);
  updateTitle();
  return true;
}

bool HostWindow::paneShown() const { return session_.selected() && pages_->currentWidget() == paneHolder_; }

void HostWindow::onFirstPanePaint(std::function<void()> callback) { firstPaint_ = std::move(callback); }

void HostWindow::closeEvent(QCloseEvent* event) {
  // A pane that cannot commit its edits keeps the window open, as it keeps itself selected.
  if (!session_.unselect()) {
    event->ignore();
    return;
  }
  updateTitle();
  event->accept();
}

bool HostWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == paneView_ && event->type() == QEvent::Paint && firstPaint_) {
    // After the paint has reached the backing store, not in the middle of it.
    auto callback = std::move(firstPaint_);
    firstPaint_ = nullptr;
    QTimer::singleShot(0, this, std::move(callback));
  }
  return QMainWindow::eventFilter(watched, event);
}

void HostWindow::updateTitle() {
  setWindowTitle(session_.selected() ? QString(kPaneLabel) : QString::fromStdString(HostIdentity{}.name));
}

}  // namespace vl::host
