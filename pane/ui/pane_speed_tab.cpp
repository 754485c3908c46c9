// The pane's Cursor Speed tab: the device and favourite tables, the fields and sliders that edit
// the selected favourite, and the curve graph.
#include "pane/ui/pane_view.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>
#include <array>
#include <cmath>

#include "core/plist/number_text.h"
#include "core/store/cursor_speed_record.h"
#include "core/store/device_record.h"
#include "core/store/object_context.h"
#include "core/store/undo_manager.h"
#include "pane/controller/pane_controller.h"
#include "pane/editing/cursor_speed_text.h"
#include "pane/editing/value_transformers.h"
#include "pane/graph/curve_view.h"
#include "pane/ui/curve_widget.h"
#include "pane/ui/list_models.h"
#include "pane/ui/local_texts.h"
#include "pane/ui/qt_drawing_surface.h"
#include "pane/ui/speed_field.h"

namespace vl::ui {

namespace {

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
    if (CursorSpeedRecord* cs = selectedCursorSpeed(); cs && cs->disableAccl() != on) {
      cs->setDisableAccl(on);
      nameUndoStep(disableAccl_->text());
      refreshEditors();
      endPassSoon();
    }
  });
  return tab;
}

// The device and favourite tables follow the controller's lists; the user's choice in either
// goes back to it.
void PaneView::connectSpeedTables(quillon_Velmora_prefpane& controller) {
  deviceModel_ = new DeviceTableModel(controller.deviceList(), vlText("Status"), vlText("Device"), this);
  deviceModel_->setStatusText([this](const DeviceRecord& device) {
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
}

CursorSpeedRecord* PaneView::selectedCursorSpeed() const {
  return controller_ ? controller_->cursorSpeedList().selectedObject() : nullptr;
}

void PaneView::refreshEditors() {
  CursorSpeedRecord* cs = selectedCursorSpeed();
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
    sensitivitySlider_->setValue(static_cast<int>(std::lround(SensitivityTransformer::transformedValue(sensitivity))));
  }
  if (!trackingSlider_->isSliderDown()) {
    QSignalBlocker block(trackingSlider_);
    trackingSlider_->setValue(
        static_cast<int>(std::lround(TrackingTransformer::transformedValue(tracking) * kTrackingSliderScale)));
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

bool PaneView::storeTyped(SpeedField field, double value) {
  CursorSpeedRecord* cs = selectedCursorSpeed();
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
  CursorSpeedRecord* cs = selectedCursorSpeed();
  if (!cs) return;
  if (field == SpeedField::Sensitivity) {
    std::string text = SensitivityTransformer::reverseTransformedValue(position);
    if (cs->sensitivityDisplay() != text) cs->setSensitivityDisplay(text);
  } else {
    std::string text = TrackingTransformer::reverseTransformedValue(static_cast<double>(position) / kTrackingSliderScale);
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

}  // namespace vl::ui
