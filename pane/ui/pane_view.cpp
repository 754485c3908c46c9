// The pane's main view, its error view and the controller's window port in Qt.
#include "pane/ui/pane_view.h"

#include "pane/ui/house_sheets.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QUrl>
#include <QVBoxLayout>
#include <array>
#include <cmath>

#include "core/plist/number_text.h"
#include "core/store/cursor_speed_record.h"
#include "core/store/device_record.h"
#include "core/store/object_context.h"
#include "core/store/undo_manager.h"
#include "core/system/strings.h"
#include "core/system/versions.h"
#include "platform/api/runloop.h"
#include "pane/controller/pane_controller.h"
#include "pane/editing/cursor_speed_text.h"
#include "pane/editing/value_transformers.h"
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
#include "pane/ui/qt_drawing_surface.h"
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

// The one row selected in a single-selection table; nullopt when none. The current cell moves
// to it when the selection came from elsewhere (assistive technology), so the arrows go on
// from there.
std::optional<size_t> selectedTableRow(const QTableView* table) {
  QItemSelectionModel* model = table->selectionModel();
  if (!model) return std::nullopt;
  const QModelIndexList rows = model->selectedRows();
  if (rows.size() != 1) return std::nullopt;
  if (model->currentIndex().row() != rows.front().row())
    model->setCurrentIndex(rows.front(), QItemSelectionModel::NoUpdate);
  return static_cast<size_t>(rows.front().row());
}

QSlider* makeSlider(int minimum, int maximum, const QString& name, QWidget* parent) {
  auto* s = new QSlider(Qt::Horizontal, parent);
  s->setRange(minimum, maximum);
  s->setAccessibleName(name);
  s->setTracking(true);
  return s;
}

QLabel* makeLabel(const QString& text, QWidget* parent, QWidget* buddy = nullptr) {
  auto* l = new QLabel(text, parent);
  l->setAccessibleName(text);
  if (buddy) l->setBuddy(buddy);
  return l;
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
  tabs_->addTab(makeSpeedTab(), vlText("Cursor Speed"));
  tabs_->addTab(makeAppsTab(), vlText("Applications"));
  tabs_->addTab(makeOtherTab(), vlText("Other"));
  connect(tabs_, &QTabWidget::currentChanged, this, [this](int index) {
    if (controller_) controller_->tabViewDidSelectTabViewItem(static_cast<PaneTab>(index));
    // The warning is offered while the agent that snaps lacks the permission.
    if (controller_ && static_cast<PaneTab>(index) == PaneTab::Applications) showAppsTabState();
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
      editMenu_, this, [this] { return isVisible() && !showsErrorView() && tabs_->currentIndex() == 0; },
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

QWidget* PaneView::makeSpeedTab() {
  auto* tab = new QWidget(tabs_);

  deviceTable_ = new QTableView(tab);
  deviceTable_->setAccessibleName(vlText("Devices"));
  deviceTable_->setSelectionBehavior(QAbstractItemView::SelectRows);
  deviceTable_->setSelectionMode(QAbstractItemView::SingleSelection);
  deviceTable_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  deviceTable_->verticalHeader()->hide();
  deviceTable_->setShowGrid(false);
  deviceTable_->setMinimumWidth(220);
  // Tab leaves the table for the next control; the arrows move within it. Stepping cell by
  // cell with Tab would choose (and apply) a row at every step.
  deviceTable_->setTabKeyNavigation(false);
  deviceTable_->setMinimumHeight(3 * deviceTable_->verticalHeader()->defaultSectionSize() +
                                 2 * deviceTable_->frameWidth() + 2);

  // Over the empty table: the devices are being found (they appear after the standby time),
  // or none is there.
  devicePlaceholder_ = new QLabel(deviceTable_->viewport());
  devicePlaceholder_->setWordWrap(true);
  devicePlaceholder_->setAlignment(Qt::AlignCenter);
  devicePlaceholder_->setMargin(12);
  devicePlaceholder_->setEnabled(false);
  deviceTable_->viewport()->installEventFilter(this);

  favouriteTable_ = new QTableView(tab);
  favouriteTable_->setAccessibleName(vlText("Favorites"));
  favouriteTable_->setSelectionBehavior(QAbstractItemView::SelectRows);
  favouriteTable_->setSelectionMode(QAbstractItemView::SingleSelection);
  favouriteTable_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
  favouriteTable_->setShowGrid(false);
  favouriteTable_->setTabKeyNavigation(false);
  // All five favourites show without scrolling: they are what the graph draws.
  // (The header is not sized before the model is set: count it as one more row.)
  favouriteTable_->setMinimumHeight(6 * favouriteTable_->verticalHeader()->defaultSectionSize() +
                                    2 * favouriteTable_->frameWidth() + 2);

  auto* settingBox = new QGroupBox(tab);
  settingBox->setAccessibleName(vlText("Favorite"));
  auto store = [this](SpeedField f) { return [this, f](double v) { return storeTyped(f, v); }; };
  sensitivityField_ = new SpeedLineEdit(SpeedField::Sensitivity, store(SpeedField::Sensitivity), settingBox);
  sensitivityField_->setAccessibleName(vlText("Sensitivity"));
  trackingField_ = new SpeedLineEdit(SpeedField::Tracking, store(SpeedField::Tracking), settingBox);
  trackingField_->setAccessibleName(vlText("Tracking speed"));
  for (SpeedLineEdit* f : {sensitivityField_, trackingField_}) f->setMaximumWidth(90);
  sensitivitySlider_ = makeSlider(static_cast<int>(kMinSensitivityDisplay), static_cast<int>(kMaxSensitivityDisplay),
                                  vlText("Sensitivity"), settingBox);
  trackingSlider_ = makeSlider(0, static_cast<int>(std::lround(std::sqrt(kMaxTrackingSpeed) * kTrackingSliderScale)),
                               vlText("Tracking speed"), settingBox);
  // Keyboard steps big enough to feel: a fortieth of the range per arrow, a tenth per page.
  // The tracking slider moves along the square root of the speed, so equal steps feel equal
  // at the slow end and the fast end alike.
  for (QSlider* s : {sensitivitySlider_, trackingSlider_}) {
    const int range = s->maximum() - s->minimum();
    s->setSingleStep(std::max(1, range / 40));
    s->setPageStep(std::max(1, range / 10));
  }
  disableAccl_ = new QCheckBox(vlText("Disable acceleration"), settingBox);
  disableAccl_->setAccessibleName(disableAccl_->text());

  auto* grid = new QGridLayout(settingBox);
  auto end = [&](const char* key, int row, int column, Qt::Alignment align) {
    QLabel* l = makeLabel(vlText(key), settingBox);
    l->setFont(smallSystemFont());
    l->setAlignment(align | Qt::AlignVCenter);
    grid->addWidget(l, row, column);
  };
  grid->addWidget(makeLabel(vlText("Sensitivity"), settingBox, sensitivityField_), 0, 0);
  grid->addWidget(sensitivityField_, 0, 1);
  end("Slow", 0, 2, Qt::AlignRight);
  grid->addWidget(sensitivitySlider_, 0, 3);
  end("Fast", 0, 4, Qt::AlignLeft);
  grid->addWidget(makeLabel(vlText("Tracking speed"), settingBox, trackingField_), 1, 0);
  grid->addWidget(trackingField_, 1, 1);
  end("Slow", 1, 2, Qt::AlignRight);
  grid->addWidget(trackingSlider_, 1, 3);
  end("Fast", 1, 4, Qt::AlignLeft);
  // What other users of this model chose (the recommended-settings window).
  recommend_ = new QPushButton(vlText("Recommend"), settingBox);
  recommend_->setAccessibleName(recommend_->text());
  auto* lastRow = new QHBoxLayout;
  lastRow->addWidget(disableAccl_);
  lastRow->addStretch();
  lastRow->addWidget(recommend_);
  grid->addLayout(lastRow, 2, 1, 1, 4);
  connect(recommend_, &QPushButton::clicked, this, [this] {
    if (controller_) controller_->showRecommendedWindow();
  });
  grid->setColumnStretch(3, 1);

  CurvePanelTexts texts;
  texts.yTitle = vlText("Cursor speed (pixels per frame)");
  texts.xTitle = vlText("Device speed (counts per frame)");
  texts.zoomXIn = vlText("Zoom in horizontally");
  texts.zoomXOut = vlText("Zoom out horizontally");
  texts.zoomYIn = vlText("Zoom in vertically");
  texts.zoomYOut = vlText("Zoom out vertically");
  texts.scaleX = vlText("Horizontal scale");
  texts.scaleY = vlText("Vertical scale");
  texts.scaleXShort = vlText("Horizontal zoom");
  texts.scaleYShort = vlText("Vertical zoom");
  texts.curve = vlText("Curve %1");
  curvePanel_ = new CurveGraphPanel(texts, [this] { return modifierFlags().shift; }, tab);

  version_ = new QLabel(QString::fromUtf8(kPaneVersionText), tab);
  version_->setAccessibleName(version_->text());
  version_->setAlignment(Qt::AlignRight);
  QFont small = version_->font();
  small.setPointSizeF(std::max(7.0, small.pointSizeF() - 2));
  version_->setFont(small);

  // The devices, their favourites and the editors on the left; the graph takes the rest of
  // the window, growing with it and giving way first when the window is small.
  auto* left = new QVBoxLayout;
  left->addWidget(deviceTable_, 1);
  left->addWidget(favouriteTable_);
  left->addWidget(settingBox);
  auto* top = new QHBoxLayout;
  top->addLayout(left, 2);
  top->addWidget(curvePanel_, 3);
  auto* layout = new QVBoxLayout(tab);
  layout->addLayout(top, 1);
  layout->addWidget(version_);

  // The user's actions.
  connect(sensitivitySlider_, &QSlider::valueChanged, this,
          [this](int v) { sliderMoved(SpeedField::Sensitivity, v); });
  connect(trackingSlider_, &QSlider::valueChanged, this, [this](int v) { sliderMoved(SpeedField::Tracking, v); });
  // A drag is one step of the Edit menu's history, however many values it passes.
  connect(sensitivitySlider_, &QSlider::sliderPressed, this, [this] { sliderPressed(); });
  connect(trackingSlider_, &QSlider::sliderPressed, this, [this] { sliderPressed(); });
  connect(sensitivitySlider_, &QSlider::sliderReleased, this, [this] { sliderReleased(SpeedField::Sensitivity); });
  connect(trackingSlider_, &QSlider::sliderReleased, this, [this] { sliderReleased(SpeedField::Tracking); });
  // toggled, not clicked: assistive technology's "Toggle" flips the box without a click. Showing
  // the stored value flips it too, which the comparison leaves alone.
  connect(disableAccl_, &QCheckBox::toggled, this, [this](bool on) {
    if (QS805CursorSpeedClass* cs = selectedCursorSpeed(); cs && cs->disableAccl() != on) {
      cs->setDisableAccl(on);
      nameUndoStep(disableAccl_->text());
      refreshEditors();
      endPassSoon();
    }
  });
  return tab;
}

// Buttons grouped by what they are for, each with a line saying what it does; the buttons of a
// tab share one width so they read as a column.
namespace {
struct ButtonRows {
  QWidget* tab;
  std::vector<QPushButton*> buttons;

  QGridLayout* group(QVBoxLayout* layout, const QString& title) {
    auto* box = new QGroupBox(title, tab);
    box->setAccessibleName(title);
    auto* grid = new QGridLayout(box);
    grid->setColumnStretch(1, 1);
    grid->setHorizontalSpacing(14);
    layout->addWidget(box);
    return grid;
  }
  QPushButton* add(QGridLayout* grid, const QString& text, const QString& explanation) {
    auto* b = new QPushButton(text, grid->parentWidget());
    b->setAccessibleName(text);
    b->setAccessibleDescription(explanation);
    auto* l = new QLabel(explanation, grid->parentWidget());
    l->setAccessibleName(explanation);
    l->setWordWrap(true);
    l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    l->setBuddy(b);
    const int row = grid->rowCount();
    grid->addWidget(b, row, 0, Qt::AlignLeft | Qt::AlignTop);
    grid->addWidget(l, row, 1);
    buttons.push_back(b);
    return b;
  }
  void evenWidths() {
    int w = 0;
    for (QPushButton* b : buttons) w = std::max(w, b->sizeHint().width());
    for (QPushButton* b : buttons) b->setMinimumWidth(w);
  }
};
}  // namespace

QWidget* PaneView::makeOtherTab() {
  auto* tab = new QWidget(tabs_);
  auto* layout = new QVBoxLayout(tab);
  ButtonRows rows{tab, {}};
  auto button = [&](QGridLayout* grid, const char* text, const char* explanation, std::function<void()> action) {
    QPushButton* b = rows.add(grid, vlText(text), vlText(explanation));
    connect(b, &QPushButton::clicked, this, [action = std::move(action)] { action(); });
    return b;
  };
  QGridLayout* web = rows.group(layout, vlText("Velmora on the Web"));
  button(web, "Home Page", "Opens Velmora's home page in your web browser.", [this] {
    if (controller_) controller_->jumpToHP();
  });
  button(web, "Download Page", "Opens the page with the latest version and the release notes.", [this] {
    if (controller_) controller_->upgrageCheck();
  });
  QPushButton* check = button(web, "Check for Updates", "Asks whether a newer version of Velmora is available.", [this] {
    if (house_) house_->update().checkForUpdates();
  });
  updateBadge_ = new QLabel(vlText("A new version is available."), tab);
  updateBadge_->setAccessibleName(updateBadge_->text());
  updateBadge_->setStyleSheet(QStringLiteral("color: white; background: #d0342c; border-radius: 6px; padding: 2px 6px;"));
  updateBadge_->hide();
  web->addWidget(updateBadge_, web->rowCount(), 1, Qt::AlignLeft);
  (void)check;

  QGridLayout* help = rows.group(layout, vlText("Help and Diagnostics"));
  button(help, "Contact Support",
         "Gathers what support needs about the device selected on the Cursor Speed tab, to send by email or copy.",
         [this] {
           if (controller_) controller_->contactSupport();
         });
  button(help, "Log", "Shows the messages Velmora wrote while it ran.", [this] {
    if (!logWindow_) return;
    logWindow_->delegate().openLogViewer();
    logWindow_->show();
    logWindow_->raise();
  });
  button(help, "I/O Registry", "Lists the pointing devices the system knows, with their properties.", [this] {
    if (registryWindow_) registryWindow_->delegate().showIORegWindow();
  });
  button(help, "Stored Devices", "Lists every device Velmora remembers; devices no longer used can be deleted.", [this] {
    if (deviceWindow_ && controller_ && controller_->isSelected()) deviceWindow_->delegate().showDeviceWindow();
  });
  button(help, "Show Settings File", "Shows the file that holds your settings in the file manager.", [this] {
    if (controller_) controller_->showMOC();
  });

  QGridLayout* remove = rows.group(layout, vlText("Remove Velmora"));
  button(remove, "Uninstall…", "Removes Velmora and its background program; asks before anything is removed.", [this] {
    if (controller_) controller_->showUninstallWindow();
  });
  rows.evenWidths();
  layout->addStretch();
  return tab;
}

// The list of applications is a sheet opened from its tab, as the pane's other windows are:
// while it is up the store's undo steps belong to it, and leaving the pane cancels it.
QWidget* PaneView::makeAppsTab() {
  auto* tab = new QWidget(tabs_);
  auto* layout = new QVBoxLayout(tab);
  layout->addWidget(makeSnappingOffLabel(tab));
  ButtonRows rows{tab, {}};
  QGridLayout* snapping = rows.group(layout, vlText("Automatic Cursor Snapping"));
  auto* text = new QLabel(vlText("When a window of an application appears, Velmora can move the pointer onto one of its "
                                 "buttons. Automatic cursor snapping is chosen per application; \"Default\" holds the "
                                 "choice of every application without a row of its own."),
                          tab);
  text->setAccessibleName(text->text());
  text->setWordWrap(true);
  snapping->addWidget(text, 0, 0, 1, 2);
  appListButton_ = rows.add(snapping, vlText("Applications…"),
                            vlText("Opens the list of applications, where you add applications and choose the button "
                                   "for each."));
  connect(appListButton_, &QPushButton::clicked, this, [this] {
    if (appSheet_) appSheet_->delegate().showAppWindow();
  });
  snappingWarning_ = rows.add(snapping, vlText("Accessibility Warning"),
                              vlText("Velmora's background program may not move the pointer yet: this explains how to "
                                     "allow it."));
  connect(snappingWarning_, &QPushButton::clicked, this, [this] {
    if (controller_) controller_->clickSnappingWarning();
  });
  rows.evenWidths();
  layout->addStretch();
  return tab;
}

void PaneView::setSnappingWarningVisible(bool visible) {
  snappingWarning_->setVisible(visible);
  // Its explanation goes with it.
  for (QLabel* l : snappingWarning_->parentWidget()->findChildren<QLabel*>())
    if (l->buddy() == snappingWarning_) l->setVisible(visible);
}

// --- Controller, graph and editing logic -------------------------------------------------------

void PaneView::attach(quillon_Velmora_prefpane& controller, VL260CurveView* curveView, SpeedEditingHost& editingHost) {
  detach();
  controller_ = &controller;
  curveView_ = curveView;
  house_ = std::make_unique<HouseWindows>(platform_, controller, *this, this, updateBadge_, [this] { tabs_->hide(); });
  sensitivityLogic_ = std::make_unique<VL230CursorSpeedTextClass>(SpeedField::Sensitivity, platform_,
                                                                  *sensitivityField_, editingHost, *this);
  trackingLogic_ = std::make_unique<VL230CursorSpeedTextClass>(SpeedField::Tracking, platform_, *trackingField_,
                                                               editingHost, *this);
  sensitivityField_->setLogic(sensitivityLogic_.get());
  trackingField_->setLogic(trackingLogic_.get());
  editActions_->attach(&editingHost, platform_.pasteboard, [this] {
    refreshEditors();
    endPassSoon();
  });

  deviceModel_ = new DeviceTableModel(controller.deviceList(), vlText("Status"), vlText("Device"), this);
  deviceModel_->setStatusText([this](const QS802DeviceClass& device) {
    if (!curveView_) return QString();
    // The tooltip names this system's places as the message sheet does.
    if (std::optional<std::string> why = curveView_->errorMessage(&device)) return onThisSystem(QString::fromStdString(*why));
    return vlText("Velmora sets the speed of this device.");
  });
  deviceTable_->setModel(deviceModel_);
  deviceTable_->horizontalHeader()->setSectionResizeMode(DeviceTableModel::StatusColumn, QHeaderView::ResizeToContents);
  deviceTable_->horizontalHeader()->setSectionResizeMode(DeviceTableModel::NameColumn, QHeaderView::Stretch);
  favouriteModel_ = new FavouriteTableModel(controller.cursorSpeedList(), vlText("Favorite"), vlText("Color"), vlText("Lock"), this);
  favouriteTable_->setModel(favouriteModel_);
  favouriteTable_->horizontalHeader()->setSectionResizeMode(FavouriteTableModel::LabelColumn, QHeaderView::Stretch);
  favouriteTable_->horizontalHeader()->setSectionResizeMode(FavouriteTableModel::ColourColumn,
                                                            QHeaderView::ResizeToContents);
  favouriteTable_->horizontalHeader()->setSectionResizeMode(FavouriteTableModel::LockColumn,
                                                            QHeaderView::ResizeToContents);

  // Opening a device (double click, Return) says why it cannot take its speed, when it cannot.
  connect(deviceTable_, &QAbstractItemView::activated, this, [this](const QModelIndex& index) {
    if (!controller_ || !curveView_ || !index.isValid()) return;
    if (controller_->deviceList().selectionIndex() != static_cast<size_t>(index.row())) return;
    curveView_->showErrorMsg();
  });
  // The selection, not the current cell, is what the user chose: a click, the arrows and
  // assistive technology's selectRow all change it, and only a row that differs from the
  // list's own selection reaches the controller.
  connect(deviceTable_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
    if (syncing_ || !controller_) return;
    const std::optional<size_t> row = selectedTableRow(deviceTable_);
    if (!row || controller_->deviceList().selectionIndex() == row) return;
    controller_->deviceList().setSelectionIndex(*row);
    endPassSoon();
  });
  connect(favouriteTable_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
    if (syncing_ || !controller_) return;
    const std::optional<size_t> row = selectedTableRow(favouriteTable_);
    if (!row || controller_->cursorSpeedList().selectionIndex() == row) return;
    controller_->cursorSpeedList().setSelectionIndex(*row);
    endPassSoon();
  });
  connect(favouriteModel_, &QAbstractItemModel::dataChanged, this, [this] { endPassSoon(); });

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

QS805CursorSpeedClass* PaneView::selectedCursorSpeed() const {
  return controller_ ? controller_->cursorSpeedList().selectedObject() : nullptr;
}

void PaneView::refreshEditors() {
  QS805CursorSpeedClass* cs = selectedCursorSpeed();
  // A locked favourite is shown, not edited; without acceleration the tracking speed has
  // nothing to act on.
  const bool on = cs != nullptr && !cs->isLocked();
  const bool trackingOn = on && !cs->disableAccl();
  for (QWidget* w : std::initializer_list<QWidget*>{sensitivityField_, sensitivitySlider_, disableAccl_}) w->setEnabled(on);
  for (QWidget* w : std::initializer_list<QWidget*>{trackingField_, trackingSlider_}) w->setEnabled(trackingOn);
  if (favouriteModel_) {
    std::array<QString, kCurveRows> titles;
    for (size_t i = 0; i < kCurveRows && static_cast<int>(i) < favouriteModel_->rowCount(); ++i)
      titles[i] = favouriteModel_->data(favouriteModel_->index(static_cast<int>(i), FavouriteTableModel::LabelColumn),
                                        Qt::DisplayRole)
                      .toString();
    curvePanel_->setCurveTitles(titles);
  }
  if (!cs) {
    sensitivityField_->showStored(std::nullopt);
    trackingField_->showStored(std::nullopt);
    return;
  }
  const std::string sensitivity = cs->sensitivityDisplay();
  const std::optional<std::string> tracking = cs->trackingSpeed();
  sensitivityField_->showStored(sensitivity);
  trackingField_->showStored(tracking);
  // A slider being dragged is where the value comes from: it is not moved under the mouse.
  if (!sensitivitySlider_->isSliderDown()) {
    QSignalBlocker block(sensitivitySlider_);
    sensitivitySlider_->setValue(static_cast<int>(std::lround(VL200SensitivityTransClass::transformedValue(sensitivity))));
  }
  if (!trackingSlider_->isSliderDown()) {
    QSignalBlocker block(trackingSlider_);
    trackingSlider_->setValue(
        static_cast<int>(std::lround(VL200TrackingTransClass::transformedValue(tracking) * kTrackingSliderScale)));
  }
  if (disableAccl_->isChecked() != cs->disableAccl()) disableAccl_->setChecked(cs->disableAccl());
}

void PaneView::syncTableSelections() {
  if (!controller_) return;
  syncing_ = true;
  auto select = [](QTableView* table, std::optional<size_t> row) {
    if (!table->model() || !table->selectionModel()) return;
    if (!row || static_cast<int>(*row) >= table->model()->rowCount()) {
      table->selectionModel()->clearSelection();
      table->selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
      return;
    }
    const QModelIndex index = table->model()->index(static_cast<int>(*row), 0);
    table->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  };
  select(deviceTable_, controller_->deviceList().selectionIndex());
  select(favouriteTable_, controller_->cursorSpeedList().selectionIndex());
  syncing_ = false;
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

bool PaneView::storeTyped(SpeedField field, double value) {
  QS805CursorSpeedClass* cs = selectedCursorSpeed();
  if (!cs) return true;
  const std::string text = pl::formatG(value);
  ErrorInfo error;
  const bool valid = field == SpeedField::Sensitivity ? cs->validateSensitivityDisplay(pl::Value(text), &error)
                                                      : cs->validateTrackingSpeed(pl::Value(text), &error);
  if (!valid) {
    // As the platform's bindings do: the field keeps the text and the focus, a sheet says why.
    SheetAlert alert;
    auto it = error.userInfo.find(kDescriptionKey);
    const std::string why = it != error.userInfo.end() && it->second.isString() ? *it->second.asString() : "";
    // Which field the value was for: the alert covers both.
    alert.messageText = (fieldName(field) + QStringLiteral(": ")).toStdString() + why;
    QPointer<SpeedLineEdit> f = field == SpeedField::Sensitivity ? sensitivityField_ : trackingField_;
    showSheetAlert(alert, [f](int) {
      if (f) {
        f->setFocus(Qt::OtherFocusReason);
        f->selectAll();
      }
    });
    return false;
  }
  if (field == SpeedField::Sensitivity) {
    if (cs->sensitivityDisplay() != text) cs->setSensitivityDisplay(text);
  } else if (cs->trackingSpeed() != text) {
    cs->setTrackingSpeed(text);
  }
  nameUndoStep(fieldName(field));
  endPassSoon();
  return true;
}

QString PaneView::fieldName(SpeedField field) const {
  return field == SpeedField::Sensitivity ? sensitivityField_->accessibleName() : trackingField_->accessibleName();
}

void PaneView::nameUndoStep(const QString& name) {
  if (!controller_) return;
  if (ManagedObjectContext* ctx = controller_->managedObjectContext())
    if (UndoManager* undo = ctx->undoManager()) undo->setActionName(name.toStdString());
}

void PaneView::sliderPressed() {
  if (dragGroupOpen_ || !controller_) return;
  ManagedObjectContext* ctx = controller_->managedObjectContext();
  if (!ctx || !ctx->undoManager()) return;
  ctx->undoManager()->beginUndoGrouping();
  dragGroupOpen_ = true;
}

void PaneView::closeDragGroup() {
  if (!dragGroupOpen_) return;
  dragGroupOpen_ = false;
  if (!controller_) return;
  if (ManagedObjectContext* ctx = controller_->managedObjectContext()) {
    // The drag's last values reach the observers first, then the drag's one step closes.
    ctx->processPendingChanges();
    if (UndoManager* undo = ctx->undoManager()) undo->endUndoGrouping();
  }
}

void PaneView::sliderMoved(SpeedField field, int position) {
  QS805CursorSpeedClass* cs = selectedCursorSpeed();
  if (!cs) return;
  if (field == SpeedField::Sensitivity) {
    std::string text = VL200SensitivityTransClass::reverseTransformedValue(position);
    if (cs->sensitivityDisplay() != text) cs->setSensitivityDisplay(text);
  } else {
    std::string text = VL200TrackingTransClass::reverseTransformedValue(static_cast<double>(position) / kTrackingSliderScale);
    if (cs->trackingSpeed() != text) cs->setTrackingSpeed(text);
  }
  nameUndoStep(fieldName(field));
  // The graph follows through the store's change at the end of this pass; it repaints with
  // the display, never once per value.
  endPassSoon();
}

void PaneView::sliderReleased(SpeedField field) {
  closeDragGroup();
  if (!controller_) return;
  // The guard runs when the sensitivity field's edit ends, as if the value had been typed.
  if (field == SpeedField::Sensitivity && sensitivityLogic_) sensitivityLogic_->setIsSensitivityTextEdited(true);
  controller_->changeSlider(field);
  endPassSoon();
}

// --- Tabs, menus, keys ------------------------------------------------------------------------

bool PaneView::selectTab(const std::string& name) {
  int index = -1;
  if (name == kSpeedTabName) index = 0;
  else if (name == kAppsTabName) index = 1;
  else if (name == kOtherTabName) index = 2;
  if (index < 0) return false;
  tabs_->setCurrentIndex(index);
  return true;
}

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

// --- PaneWindow -------------------------------------------------------------------------------

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
    const std::string cancel = QS812localizedCancelButtonTitle(platform_);
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

void PaneView::updateDevicePlaceholder() {
  const bool none = !deviceModel_ || deviceModel_->rowCount() == 0;
  const QString text = searchingDevices_ ? vlText("Looking for pointing devices…")
                                         : vlText("No pointing device is connected.");
  devicePlaceholder_->setText(text);
  devicePlaceholder_->setAccessibleName(text);
  devicePlaceholder_->setGeometry(deviceTable_->viewport()->rect());
  devicePlaceholder_->setVisible(none);
  // What needs a device waits for one.
  const bool device = controller_ && controller_->selectedDevice();
  favouriteTable_->setEnabled(device);
  recommend_->setEnabled(device);
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
