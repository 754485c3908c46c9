// The recommended-settings window's widgets and the view port the window logic talks to.
#include "pane/ui/recommended_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QStyle>

#include "pane/ui/local_texts.h"
#include <QDateTime>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLocale>
#include <QVBoxLayout>

#include "core/system/strings.h"
#include "platform/api/runloop.h"

namespace vl::ui {

namespace {

QTableWidgetItem* cell(const QString& text, Qt::Alignment alignment = Qt::AlignRight | Qt::AlignVCenter) {
  auto* item = new QTableWidgetItem(text);
  item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  item->setTextAlignment(alignment);
  return item;
}

}  // namespace

RecommendedWindow::RecommendedWindow(const Platform& platform, RecommendedWindowLogic& logic, QWidget* parent)
    : QWidget(parent, Qt::Window), platform_(platform), logic_(logic) {
  setObjectName(QStringLiteral("RecdWin"));
  setWindowTitle(text("Recommended Settings", "vl"));
  setAccessibleName(windowTitle());

  // The identity, editable in search mode.
  searchRow_ = new QWidget(this);
  auto* ids = new QHBoxLayout(searchRow_);
  ids->setContentsMargins(0, 0, 0, 0);
  auto addField = [&](QLineEdit*& f, const QString& label, const QString& widest) {
    auto* l = new QLabel(label, searchRow_);
    f = new QLineEdit(searchRow_);
    f->setAccessibleName(label);
    // Room for the widest value it takes ("0xFFFF": four hex digits), with the frame's margins.
    const int width = f->fontMetrics().horizontalAdvance(widest) + 2 * f->style()->pixelMetric(QStyle::PM_DefaultFrameWidth) + 12;
    f->setMinimumWidth(width);
    f->setMaximumWidth(width + 24);
    l->setBuddy(f);
    ids->addWidget(l);
    ids->addWidget(f);
  };
  addField(vid_, text("Vendor ID", "vl"), QStringLiteral("0xFFFF"));
  addField(pid_, text("Product ID", "vl"), QStringLiteral("0xFFFF"));
  addField(mid_, text("Model ID", "vl"), QStringLiteral("0xFFFF"));
  addField(transport_, text("Transport", "vl"), QStringLiteral("Bluetooth Low Energy"));
  searchButton_ = new QPushButton(text("Search", "vl"), searchRow_);
  searchButton_->setAccessibleName(searchButton_->text());
  ids->addWidget(searchButton_);
  ids->addStretch();
  connect(searchButton_, &QPushButton::clicked, this, [this] { logic_.update(); });

  table_ = new QTableWidget(0, 4, this);
  table_->setAccessibleName(text("Recommended Settings", "vl"));
  table_->setHorizontalHeaderLabels(
      {text("Rank", "vl"), text("Tracking", "vl"), text("Sensitivity", "vl"), text("Rating", "vl")});
  table_->verticalHeader()->hide();
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->setShowGrid(false);
  connect(table_, &QTableWidget::cellDoubleClicked, this, [this](int row, int) {
    table_->selectRow(row);
    apply();
  });

  applyButton_ = new QPushButton(text("Apply", "vl"), this);
  applyButton_->setAccessibleName(applyButton_->text());
  applyButton_->setEnabled(false);
  connect(applyButton_, &QPushButton::clicked, this, [this] { apply(); });
  connect(table_, &QTableWidget::itemSelectionChanged, this,
          [this] { applyButton_->setEnabled(selectedRow().has_value()); });

  progress_ = new QProgressBar(this);
  progress_->setAccessibleName(text("Downloading", "vl"));
  progress_->setTextVisible(false);
  progress_->setRange(0, 1);
  progress_->setValue(0);
  progress_->setMaximumHeight(12);
  progress_->hide();

  status_ = new QLabel(this);
  status_->setWordWrap(true);
  status_->setAccessibleName(text("Status", "vl"));
  status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  date_ = new QLabel(this);
  date_->setAccessibleName(text("Date", "vl"));
  total_ = new QLabel(this);
  total_->setAccessibleName(text("Total", "vl"));

  auto* facts = new QFormLayout;
  facts->addRow(text("Date", "vl"), date_);
  facts->addRow(text("Total", "vl"), total_);

  closeButton_ = new QPushButton(text("Close", "vl"), this);
  closeButton_->setAccessibleName(closeButton_->text());
  closeButton_->setAutoDefault(false);
  connect(closeButton_, &QPushButton::clicked, this, [this] { close(); });
  auto* bottom = new QHBoxLayout;
  bottom->addLayout(facts, 1);
  bottom->addWidget(closeButton_, 0, Qt::AlignBottom);
  bottom->addWidget(applyButton_, 0, Qt::AlignBottom);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(searchRow_);
  layout->addWidget(table_, 1);
  layout->addWidget(progress_);
  layout->addWidget(status_);
  layout->addLayout(bottom);
  resize(520, 420);
}

RecommendedWindow::~RecommendedWindow() {
  if (sheet_) {
    sheet_->disconnect(this);
    delete sheet_.data();
  }
}

QString RecommendedWindow::text(const char* key, const char* table) const {
  if (!platform_.paths) return QString::fromUtf8(key);
  return QString::fromStdString(localized(platform_, key, table));
}

QString RecommendedWindow::stars(int64_t rating) {
  int filled = static_cast<int>(std::clamp<int64_t>(rating, 0, 5));
  return QString(filled, QChar(0x2605)) + QString(5 - filled, QChar(0x2606));
}

QLineEdit* RecommendedWindow::field(RecdField f) const {
  switch (f) {
    case RecdField::Vid:
      return vid_;
    case RecdField::Pid:
      return pid_;
    case RecdField::Mid:
      return mid_;
    case RecdField::Transport:
      return transport_;
  }
  return nullptr;
}

void RecommendedWindow::apply() {
  logic_.applySetting();
  // The store's change is announced at the end of the run loop's pass.
  if (platform_.runLoop) platform_.runLoop->post([] {});
}

// --- RecommendedWindowView -----------------------------------------------------------------------

void RecommendedWindow::showWindow() {
  if (isMinimized()) showNormal();
  show();
  raise();
  activateWindow();
}

void RecommendedWindow::bringToFront() {
  raise();
  activateWindow();
}

void RecommendedWindow::closeWindow() {
  closing_ = true;
  hide();
  closing_ = false;
}

bool RecommendedWindow::isVisibleOrMinimised() const { return isVisible() || isMinimized(); }

void RecommendedWindow::setSearchControlsVisible(bool visible) {
  searchRow_->setVisible(visible);
  // A search lists how many users chose each setting; the ranking lists places.
  table_->setHorizontalHeaderItem(0, new QTableWidgetItem(visible ? text("Users", "vl") : text("Rank", "vl")));
}

std::string RecommendedWindow::fieldText(RecdField f) const { return field(f)->text().toStdString(); }

void RecommendedWindow::setFieldText(RecdField f, const std::string& t) { field(f)->setText(QString::fromStdString(t)); }

void RecommendedWindow::setRows(const std::vector<RecommendedEntry>& rows) {
  table_->clearContents();
  table_->setRowCount(static_cast<int>(rows.size()));
  QLocale locale;
  for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
    const RecommendedEntry& e = rows[static_cast<size_t>(i)];
    table_->setItem(i, 0, cell(locale.toString(static_cast<qlonglong>(e.ran))));
    // What the user reads follows the user's locale.
    table_->setItem(i, 1, cell(locale.toString(e.accValue(), 'g', 6)));
    table_->setItem(i, 2, cell(locale.toString(e.senValue(), 'g', 6)));
    QTableWidgetItem* rating = cell(stars(e.rat), Qt::AlignLeft | Qt::AlignVCenter);
    rating->setData(Qt::AccessibleTextRole, QString::number(e.rat));
    rating->setToolTip(QString::number(e.rat));
    table_->setItem(i, 3, rating);
  }
  applyButton_->setEnabled(false);
}

std::optional<size_t> RecommendedWindow::selectedRow() const {
  const auto rows = table_->selectionModel()->selectedRows();
  if (rows.isEmpty()) return std::nullopt;
  return static_cast<size_t>(rows.front().row());
}

void RecommendedWindow::setStatusText(const std::string& t) {
  status_->setText(platformShortcutText(QString::fromStdString(t)));
  status_->setAccessibleDescription(status_->text());
}

void RecommendedWindow::setTotalText(const std::string& t) { total_->setText(QString::fromStdString(t)); }

void RecommendedWindow::showDownloadDate() {
  date_->setText(QLocale().toString(QDateTime::currentDateTime(), QLocale::ShortFormat));
}

void RecommendedWindow::startProgress() {
  // A busy bar: the style animates it while the event loop runs, which the download leaves free.
  progress_->setRange(0, 0);
  progress_->show();
}

void RecommendedWindow::stopProgress() {
  progress_->setRange(0, 1);
  progress_->setValue(0);
  progress_->hide();
}

bool RecommendedWindow::hasSheet() const { return sheet_ != nullptr; }

void RecommendedWindow::showSheetAlert(const SheetAlert& alert, std::function<void(int)> completion) {
  if (sheet_) finishSheet(kAlertCancelledReturn);
  auto* box = new QMessageBox(this);
  box->setIcon(QMessageBox::Information);
  box->setWindowTitle(windowTitle());
  box->setText(QString::fromStdString(alert.messageText));
  box->setInformativeText(QString::fromStdString(alert.informativeText));
  box->setAccessibleName(box->text());
  std::vector<std::string> buttons = alert.buttons;
  if (buttons.empty()) buttons.push_back("OK");
  std::vector<QAbstractButton*> made;
  for (size_t i = 0; i < buttons.size(); ++i) {
    const QString label = QString::fromStdString(buttons[i]);
    QPushButton* b = box->addButton(label, i == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole);
    b->setAccessibleName(label);
    made.push_back(b);
  }
  box->setDefaultButton(static_cast<QPushButton*>(made.front()));
  box->setWindowModality(Qt::WindowModal);
  box->setAttribute(Qt::WA_DeleteOnClose);
  sheet_ = box;
  sheetCompletion_ = std::move(completion);
  connect(box, &QMessageBox::buttonClicked, this, [this, made](QAbstractButton* clicked) {
    for (size_t i = 0; i < made.size(); ++i)
      if (made[i] == clicked) finishSheet(kAlertFirstButtonReturn + static_cast<int>(i));
  });
  // Escape answers as the last button does.
  connect(box, &QDialog::rejected, this,
          [this, n = made.size()] { finishSheet(kAlertFirstButtonReturn + static_cast<int>(n) - 1); });
  box->open();
}

void RecommendedWindow::finishSheet(int returnCode) {
  if (!sheet_) return;
  QMessageBox* box = sheet_;
  sheet_ = nullptr;
  box->disconnect(this);
  box->close();
  auto completion = std::move(sheetCompletion_);
  sheetCompletion_ = nullptr;
  if (completion) completion(returnCode);
}

void RecommendedWindow::endSheet() { finishSheet(kAlertCancelledReturn); }

void RecommendedWindow::beep() { QApplication::beep(); }

void RecommendedWindow::closeEvent(QCloseEvent* event) {
  event->accept();
  if (!closing_) logic_.close();
}

}  // namespace vl::ui
