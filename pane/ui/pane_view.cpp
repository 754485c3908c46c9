// The pane's main view: construction, the tab table, attaching the controller, the store's
// changes and the keys and windows the whole view answers.
#include "pane/ui/pane_view.h"

#include "pane/ui/house_sheets.h"

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QResizeEvent>
#include <QScreen>
#include <QVBoxLayout>
#include <span>
#include <string_view>

#include "core/store/object_context.h"
#include "core/system/strings.h"
#include "platform/api/runloop.h"
#include "pane/controller/pane_controller.h"
#include "pane/editing/cursor_speed_text.h"
#include "pane/graph/curve_view.h"
#include "pane/ui/ax_warning_window.h"
#include "pane/ui/app_list_sheet.h"
#include "pane/ui/curve_widget.h"
#include "pane/ui/device_window.h"
#include "pane/ui/favourite_edit_actions.h"
#include "pane/ui/log_window.h"
#include "pane/ui/registry_window.h"
#include "pane/ui/list_models.h"
#include "pane/ui/local_texts.h"
#include "pane/ui/speed_field.h"

namespace vl::ui {

// --- Input state ------------------------------------------------------------------------------

Qt::KeyboardModifiers QtInputState::modifiers() const { return QGuiApplication::queryKeyboardModifiers(); }
bool QtInputState::mouseButtonDown() const { return QGuiApplication::mouseButtons() != Qt::NoButton; }

ModifierFlags modifierFlagsOf(Qt::KeyboardModifiers m) {
  ModifierFlags f;
  f.shift = m & Qt::ShiftModifier;
  f.command = m & Qt::ControlModifier;
  f.control = m & Qt::MetaModifier;
  f.option = m & Qt::AltModifier;
  return f;
}

namespace {

uint32_t keyMaskOf(Qt::KeyboardModifiers m) {
  const ModifierFlags f = modifierFlagsOf(m);
  return (f.shift ? kShiftKeyMask : 0) | (f.command ? kCommandKeyMask : 0) | (f.control ? kControlKeyMask : 0) |
         (f.option ? kOptionKeyMask : 0);
}

// The platform's virtual key codes of the keys the graph answers; others get one no key has.
constexpr uint16_t kNoKeyCode = 0xFFFF;
uint16_t keyCodeOf(int key) {
  if (key == Qt::Key_Space) return kKeyCodeSpace;
  if (key == Qt::Key_L) return kKeyCodeL;
  return kNoKeyCode;
}

// charactersIgnoringModifiers: the key's own character, whatever Control did to the text.
std::string charactersOf(const QKeyEvent& e) {
  const int k = e.key();
  if (k >= Qt::Key_0 && k <= Qt::Key_9) return std::string(1, static_cast<char>('0' + (k - Qt::Key_0)));
  if (k >= Qt::Key_A && k <= Qt::Key_Z) return std::string(1, static_cast<char>('a' + (k - Qt::Key_A)));
  if (k == Qt::Key_Space) return " ";
  return e.text().toStdString();
}

}  // namespace

// --- Construction -------------------------------------------------------------------------------

PaneView::PaneView(const Platform& platform, const InputState& input, QWidget* parent)
    : QWidget(parent), platform_(platform), input_(input) {
  setAccessibleName(vlText("Velmora"));
  setFocusPolicy(Qt::ClickFocus);

  stack_ = new QStackedWidget(this);
  tabs_ = new QTabWidget(stack_);
  tabs_->setAccessibleName(vlText("Velmora"));
  for (const TabEntry& t : tabTable()) tabs_->addTab((this->*t.build)(), vlText(t.title));
  connect(tabs_, &QTabWidget::currentChanged, this, [this](int index) {
    const PaneTab tab = tabAt(index);
    if (controller_) controller_->tabViewDidSelectTabViewItem(tab);
    // The warning is offered while the agent that snaps lacks the permission.
    if (controller_ && tab == PaneTab::Applications) showAppsTabState();
  });

  errorLabel_ = new QLabel(stack_);
  errorLabel_->setObjectName(QStringLiteral("ErrorWin"));
  errorLabel_->setWordWrap(true);
  errorLabel_->setAlignment(Qt::AlignCenter);
  errorLabel_->setMargin(40);
  errorLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  stack_->addWidget(tabs_);
  stack_->addWidget(errorLabel_);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(stack_);

  // Over everything, hidden until "Show All" needs it.
  showAll_ = new QLabel(vlText(kShowAllText), this);
  showAll_->setAccessibleName(showAll_->text());
  showAll_->setAlignment(Qt::AlignCenter);
  showAll_->setAutoFillBackground(true);
  showAll_->setBackgroundRole(QPalette::Window);
  QFont big = showAll_->font();
  big.setPointSize(18);
  showAll_->setFont(big);
  showAll_->hide();

  editMenu_ = new QMenu(vlText("Edit"), this);
  undoAction_ = editMenu_->addAction(vlText("Undo"));
  undoAction_->setShortcut(QKeySequence::Undo);
  redoAction_ = editMenu_->addAction(vlText("Redo"));
  redoAction_->setShortcut(QKeySequence::Redo);
  for (QAction* a : {undoAction_, redoAction_}) {
    a->setShortcutContext(Qt::WindowShortcut);
    a->setEnabled(false);
    addAction(a);
  }
  connect(undoAction_, &QAction::triggered, this, [this] {
    if (!controller_) return;
    controller_->undo();
    endPassSoon();
  });
  connect(redoAction_, &QAction::triggered, this, [this] {
    if (!controller_) return;
    controller_->redo();
    endPassSoon();
  });

  editActions_ = new FavouriteEditActions(
      editMenu_, this, [this] { return isVisible() && !showsErrorView() && selectedTab() == PaneTab::Speed; },
      [this](const char* key) { return vlText(key); });

  qApp->installEventFilter(this);
}

PaneView::~PaneView() {
  *alive_ = false;
  qApp->removeEventFilter(this);
  for (auto& s : sheets_)
    if (s->box) s->box->disconnect(this);
  detach();
}

QString PaneView::vlText(const char* key) const {
  if (!platform_.paths) return QString::fromUtf8(key);
  return QString::fromStdString(localized(platform_, key, "vl"));
}

// --- Tabs ------------------------------------------------------------------------------------

// The tabs in the order they show. A tab's place in the tab widget is its row here.
std::span<const PaneView::TabEntry> PaneView::tabTable() {
  static constexpr TabEntry kTabs[] = {
      {PaneTab::Speed, kSpeedTabName, "Cursor Speed", &PaneView::makeSpeedTab},
      {PaneTab::Applications, kAppsTabName, "Applications", &PaneView::makeAppsTab},
      {PaneTab::Other, kOtherTabName, "Other", &PaneView::makeOtherTab},
  };
  constexpr auto matchesHostNames = [] {
    if (std::size(kTabs) != kPaneTabNames.size()) return false;
    for (size_t i = 0; i < kPaneTabNames.size(); ++i)
      if (std::string_view(kTabs[i].name) != kPaneTabNames[i]) return false;
    return true;
  };
  static_assert(matchesHostNames(), "pane_tab_names.h must list the tabs in this table's order");
  return kTabs;
}

PaneTab PaneView::tabAt(int index) {
  const std::span<const TabEntry> table = tabTable();
  return index >= 0 && static_cast<size_t>(index) < table.size() ? table[static_cast<size_t>(index)].tab : PaneTab::Speed;
}

bool PaneView::selectTab(const std::string& name) {
  const std::span<const TabEntry> table = tabTable();
  for (size_t i = 0; i < table.size(); ++i)
    if (name == table[i].name) {
      tabs_->setCurrentIndex(static_cast<int>(i));
      return true;
    }
  return false;
}

// --- Controller and store -----------------------------------------------------------------------

void PaneView::attach(quillon_Velmora_prefpane& controller, CurveView* curveView, SpeedEditingHost& editingHost) {
  detach();
  controller_ = &controller;
  curveView_ = curveView;
  house_ = std::make_unique<HouseWindows>(platform_, controller, *this, this, updateBadge_, [this] { tabs_->hide(); });
  sensitivityLogic_ = std::make_unique<CursorSpeedText>(SpeedField::Sensitivity, platform_,
                                                                  *sensitivityField_, editingHost, *this);
  trackingLogic_ = std::make_unique<CursorSpeedText>(SpeedField::Tracking, platform_, *trackingField_,
                                                               editingHost, *this);
  sensitivityField_->setLogic(sensitivityLogic_.get());
  trackingField_->setLogic(trackingLogic_.get());
  editActions_->attach(&editingHost, platform_.pasteboard, [this] {
    refreshEditors();
    endPassSoon();
  });

  connectSpeedTables(controller);

  curvePanel_->setCurveView(curveView_);
  appSheet_ = new AppListSheet(platform_, controller, this);
  reloadDeviceTable();
  reloadCursorSpeedTable();

  registryWindow_ = new RegistryWindow(platform_, this);
  logWindow_ = new LogWindow(this);
  deviceWindow_ = new DeviceWindow(controller, this);
  axWarningWindow_ = new AXWarningWindow(controller, this);
  controller.setAXWarnWindow(&axWarningWindow_->delegate());
  showAppsTabState();
}

void PaneView::detach() {
  storeClosing();
  if (editActions_) editActions_->attach(nullptr, nullptr, {});
  delete appSheet_;
  appSheet_ = nullptr;
  if (sensitivityField_) sensitivityField_->setLogic(nullptr);
  if (trackingField_) trackingField_->setLogic(nullptr);
  sensitivityLogic_.reset();
  trackingLogic_.reset();
  if (curvePanel_) curvePanel_->setCurveView(nullptr);
  if (deviceTable_) deviceTable_->setModel(nullptr);
  if (favouriteTable_) favouriteTable_->setModel(nullptr);
  delete deviceModel_;
  delete favouriteModel_;
  deviceModel_ = nullptr;
  favouriteModel_ = nullptr;
  if (controller_) controller_->setAXWarnWindow(nullptr);
  // The windows that hold the controller go with it.
  for (QDialog* w : std::initializer_list<QDialog*>{registryWindow_, logWindow_, deviceWindow_, axWarningWindow_}) delete w;
  registryWindow_ = nullptr;
  logWindow_ = nullptr;
  deviceWindow_ = nullptr;
  axWarningWindow_ = nullptr;
  house_.reset();
  controller_ = nullptr;
  curveView_ = nullptr;
}

void PaneView::storeOpened() {
  storeClosing();
  if (!controller_) return;
  searchingDevices_ = true;
  if (platform_.runLoop) {
    std::weak_ptr<bool> alive = alive_;
    searchPending_ = true;
    platform_.runLoop->perform(this, "devicesSearched", kDeviceSearchSeconds, [this, alive] {
      if (alive.expired()) return;
      searchPending_ = false;
      searchingDevices_ = false;
      updateDevicePlaceholder();
    });
  }
  if (ManagedObjectContext* ctx = controller_->managedObjectContext()) {
    // Whatever changed a favourite (a step, a paste, undo, another window) shows in the fields.
    contextToken_ = ctx->addObjectsDidChangeObserver([this](const ObjectsDidChange&) {
      if (favouriteModel_) {
        const int rows = favouriteModel_->rowCount();
        if (rows > 0)
          emit favouriteModel_->dataChanged(favouriteModel_->index(0, 0),
                                            favouriteModel_->index(rows - 1, FavouriteTableModel::ColumnCount - 1));
      }
      refreshEditors();
    });
  }
  reloadDeviceTable();
  reloadCursorSpeedTable();
}

void PaneView::storeClosing() {
  closeDragGroup();
  // Only while it waits: the view may outlive the run loop (the host's window deletes it last).
  if (searchPending_ && platform_.runLoop) platform_.runLoop->cancelPerform(this, "devicesSearched");
  searchPending_ = false;
  if (contextToken_ && controller_) {
    if (ManagedObjectContext* ctx = controller_->managedObjectContext()) ctx->removeObjectsDidChangeObserver(contextToken_);
  }
  contextToken_ = 0;
}

void PaneView::endPassSoon() {
  if (passPending_ || !platform_.runLoop) return;
  passPending_ = true;
  std::weak_ptr<bool> alive = alive_;
  platform_.runLoop->post([this, alive] {
    if (alive.expired()) return;
    passPending_ = false;
  });
}

// --- Windows and keys -----------------------------------------------------------------------------

void PaneView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  showAll_->setGeometry(rect());
}

QWidget* PaneView::secondaryWindowOf(QObject* object) const {
  auto* w = qobject_cast<QWidget*>(object);
  if (!w || !w->isWindow() || w == window()) return nullptr;
  for (const QPointer<QWidget>& extra : extraWindows_)
    if (extra == w) return w;
  // One of ours: the main window is among its parents.
  for (QWidget* p = w->parentWidget(); p; p = p->parentWidget())
    if (p == window()) return w;
  return nullptr;
}

void PaneView::addSecondaryWindow(QWidget* w) {
  std::erase_if(extraWindows_, [](const QPointer<QWidget>& p) { return p.isNull(); });
  extraWindows_.emplace_back(w);
}

void PaneView::centreOverMainWindow(QWidget* w) const {
  const QRect main = window()->frameGeometry();
  QRect r(QPoint(0, 0), w->frameGeometry().size());
  r.moveCenter(main.center());
  // Not off the screen the main window is on.
  if (QScreen* screen = window()->screen()) {
    const QRect avail = screen->availableGeometry();
    r.moveRight(std::min(r.right(), avail.right()));
    r.moveBottom(std::min(r.bottom(), avail.bottom()));
    r.moveLeft(std::max(r.left(), avail.left()));
    r.moveTop(std::max(r.top(), avail.top()));
  }
  w->move(r.topLeft());
}

bool PaneView::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Resize && watched == deviceTable_->viewport()) {
    devicePlaceholder_->setGeometry(deviceTable_->viewport()->rect());
    return false;
  }
  // The secondary windows: each opens centred over the main window, and Escape and Ctrl+W close
  // every one (a dialog as its Cancel does).
  if (event->type() == QEvent::Show && !event->spontaneous()) {
    if (QWidget* w = secondaryWindowOf(watched)) centreOverMainWindow(w);
  } else if (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) {
    auto* key = static_cast<QKeyEvent*>(event);
    auto* focus = qobject_cast<QWidget*>(watched);
    QWidget* w = focus ? secondaryWindowOf(focus->window()) : nullptr;
    auto* box = qobject_cast<QMessageBox*>(w);
    // An alert keeps its own Escape (its escape button); every other window closes as its
    // close button closes it, so each says goodbye to its logic the same way.
    const bool closeKey = key->matches(QKeySequence::Close) ||
                          (key->key() == Qt::Key_W && key->modifiers() == Qt::ControlModifier) ||
                          (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier && !box);
    if (w && closeKey) {
      if (event->type() == QEvent::ShortcutOverride) {
        key->accept();  // the key comes to us as a key press, not to a shortcut
        return true;
      }
      // An alert answers as its Escape button does; a dialog closes through its close event,
      // which cancels it.
      // An alert without one (a grave question) is answered by a click only.
      if (box && box->escapeButton()) box->escapeButton()->click();
      else if (!box) w->close();
      return true;
    }
  }
  if (event->type() == QEvent::ShortcutOverride) {
    // Ctrl+Z in a speed field that holds no typing of its own is the window's Undo (the
    // store's last step), not the field's empty text history.
    auto* field = qobject_cast<SpeedLineEdit*>(watched);
    auto* e = static_cast<QKeyEvent*>(event);
    if (field && isAncestorOf(field) && !field->isEditing() &&
        (e->matches(QKeySequence::Undo) || e->matches(QKeySequence::Redo))) {
      e->ignore();
      return true;
    }
    return false;
  }
  if (event->type() != QEvent::KeyPress || !curveView_ || !isVisible() || showsErrorView()) return false;
  auto* w = qobject_cast<QWidget*>(watched);
  if (!w || w->window() != window() || !isAncestorOf(w)) return false;
  // Keys typed into a text field stay there (Space in the title editor, L in a number).
  if (qobject_cast<QLineEdit*>(w)) {
    auto* e = static_cast<QKeyEvent*>(event);
    if (!(e->modifiers() & Qt::ControlModifier)) return false;
  }
  auto* e = static_cast<QKeyEvent*>(event);
  // A key nobody takes travels up the widget chain and comes by here again: answering it once
  // more does nothing, as the graph takes a key the first time or never.
  KeyEvent key;
  key.keyCode = keyCodeOf(e->key());
  key.characters = charactersOf(*e);
  key.modifierFlags = keyMaskOf(e->modifiers());
  key.isARepeat = e->isAutoRepeat();
  if (!curveView_->performKeyEquivalent(key)) return false;
  refreshEditors();
  endPassSoon();
  return true;
}

}  // namespace vl::ui
