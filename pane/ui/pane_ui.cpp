// The pane's parts put together.
#include "pane/ui/pane_ui.h"

#include <QMainWindow>
#include <QMenuBar>

#include "core/store/device_record.h"
#include "pane/ui/help_windows.h"
#include "pane/ui/log_window.h"
#include "pane/ui/recommended_window.h"

namespace vl::ui {

// --- EditingBridge ----------------------------------------------------------------------------

std::vector<CursorSpeedRecord*> EditingBridge::selectedCursorSpeeds() const {
  if (CursorSpeedRecord* cs = controller_.cursorSpeedList().selectedObject()) return {cs};
  return {};
}

UndoManager* EditingBridge::mainWindowUndoManager() {
  // The window's history is the controller's Edit menu: one step that undoes through it.
  undoStep_.removeAllActions();
  if (controller_.canUndo()) {
    undoStep_.setGroupsByEvent(false);
    undoStep_.registerUndo([&controller = controller_] { controller.undo(); });
  }
  return &undoStep_;
}

void EditingBridge::applyRecommendedSens(double sensitivityDisplay, double trackingSpeed, DeviceRecord* device) {
  controller_.applyRecommendedSens(sensitivityDisplay, trackingSpeed, device);
}

// --- PaneUi -----------------------------------------------------------------------------------

PaneUi::PaneUi(const Platform& hostPlatform, ErrorContext errors, PaneSettings settings, const InputState& input)
    : alerts_(hostPlatform.alerts, log_) {
  // Every alert the pane shows is written to its log as well.
  Platform platform = hostPlatform;
  platform.alerts = &alerts_;
  // The view exists before the host asks for it: the controller talks to it from the start.
  view_ = new PaneView(platform, input);
  view_->setMessageLog([this](const std::string& message) { log_.put(message); });
  view_->hide();
  controller_ = std::make_unique<quillon_Velmora_prefpane>(platform, errors, *view_, std::move(settings));
  editing_ = std::make_unique<EditingBridge>(*controller_, *view_);
  // The recommended-settings window is made when the "Recommend" button first needs it.
  controller_->recommendedWindow().setViewFactory([platform, view = QPointer<PaneView>(view_)](RecommendedWindowLogic& logic) {
    auto window = std::make_unique<RecommendedWindow>(platform, logic);
    if (view) view->addSecondaryWindow(window.get());
    return window;
  });
  view_->attach(*controller_, &controller_->curveView(), *editing_);
  help_ = std::make_unique<PaneHelp>(platform, *editing_, *view_, view_);
  // The log window shows what was said before it opened, and what is said while it is open.
  if (LogWindow* w = view_->logWindow()) w->delegate().putLogViewer(log_.text());
  logToken_ = log_.subscribe([view = view_](const std::string& entry) {
    if (view && view->logWindow()) view->logWindow()->delegate().putLogViewer(entry);
  });
}

PaneUi::~PaneUi() {
  installEditMenu(false);
  log_.unsubscribe(logToken_);
  help_.reset();
  if (view_) view_->setMessageLog({});
  if (view_) view_->detach();
  editing_.reset();
  controller_.reset();
  // The host's window may own the view by now; otherwise it is still ours.
  if (view_ && !view_->parent()) delete view_.data();
}

std::string PaneUi::mainNibName() {
  std::string nib = controller_->mainNibName();
  if (nib == kErrorNibName) {
    if (auto message = controller_->errorWindowMessage()) view_->showErrorView(*message);
  }
  return nib;
}

QWidget* PaneUi::loadMainView(QWidget* parent) {
  if (!view_) return nullptr;
  view_->setParent(parent);
  view_->show();
  controller_->mainViewDidLoad();
  return view_;
}

void PaneUi::willSelect() {
  controller_->willSelect();
  view_->storeOpened();
}

void PaneUi::didSelect() {
  controller_->didSelect();
  installEditMenu(true);
}

bool PaneUi::shouldUnselect() { return controller_->shouldUnselect(); }

void PaneUi::willUnselect() {
  installEditMenu(false);
  view_->storeClosing();
  controller_->willUnselect();
}

bool PaneUi::selectTab(const std::string& name) { return view_ && view_->selectTab(name); }

void PaneUi::installEditMenu(bool install) {
  if (!view_ || install == menuInstalled_) return;
  auto* main = qobject_cast<QMainWindow*>(view_->window());
  if (!main) return;
  QAction* menu = view_->editMenu()->menuAction();
  QAction* help = help_ && help_->menu() ? help_->menu()->menuAction() : nullptr;
  if (install) {
    // After the host's own first menu (its application menu), as the platform orders them;
    // Help comes last.
    const auto actions = main->menuBar()->actions();
    main->menuBar()->insertAction(actions.size() > 1 ? actions.at(1) : nullptr, menu);
    if (help) main->menuBar()->addAction(help);
  } else {
    main->menuBar()->removeAction(menu);
    if (help) main->menuBar()->removeAction(help);
  }
  menuInstalled_ = install;
}

}  // namespace vl::ui
