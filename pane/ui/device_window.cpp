// The stored-devices sheet's widgets.
#include "pane/ui/device_window.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>
#include <set>

#include "core/store/device_record.h"

namespace vl::ui {

namespace {
QString hex4(uint32_t v) { return QStringLiteral("0x%1").arg(v, 4, 16, QLatin1Char('0')).toUpper().replace("0X", "0x"); }
}  // namespace

DeviceWindow::DeviceWindow(quillon_Velmora_prefpane& pane, QWidget* parent)
    : QDialog(parent),
      table_(new QTableWidget(this)),
      delete_(new QPushButton(QStringLiteral("Delete"), this)),
      delegate_(pane, *this) {
  setWindowTitle(QStringLiteral("Stored Devices"));
  setWindowModality(Qt::WindowModal);
  table_->setColumnCount(4);
  table_->setHorizontalHeaderLabels({QStringLiteral("Device"), QStringLiteral("Vendor ID"), QStringLiteral("Product ID"),
                                     QStringLiteral("Status")});
  table_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
  table_->verticalHeader()->hide();
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setAccessibleName(QStringLiteral("Stored Devices"));
  auto* done = new QPushButton(QStringLiteral("Close"), this);
  delete_->setAccessibleName(delete_->text());
  done->setAccessibleName(done->text());
  delete_->setAutoDefault(false);
  connect(delete_, &QPushButton::clicked, this, [this] { delegate_.removeDevice(); });
  connect(done, &QPushButton::clicked, this, [this] { delegate_.closeDeviceWindow(); });
  connect(this, &QDialog::rejected, this, [this] { delegate_.closeDeviceWindow(); });
  connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
    if (loading_) return;
    std::set<size_t> rows;
    for (const QModelIndex& i : table_->selectionModel()->selectedRows()) rows.insert(static_cast<size_t>(i.row()));
    delegate_.tableViewSelectionDidChange(rows);
  });
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(delete_);
  buttons->addStretch();
  buttons->addWidget(done);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(table_);
  layout->addLayout(buttons);
  resize(560, 320);
}

void DeviceWindow::showSheet() { open(); }

void DeviceWindow::closeSheet() {
  for (QDialog* child : findChildren<QDialog*>(Qt::FindDirectChildrenOnly)) child->close();
  if (isVisible()) hide();
}

void DeviceWindow::reloadTable() {
  loading_ = true;
  const auto& rows = delegate_.rows();
  table_->clearSelection();
  table_->setRowCount(static_cast<int>(rows.size()));
  for (size_t r = 0; r < rows.size(); ++r) {
    const DeviceRecord* d = rows[r];
    const int row = static_cast<int>(r);
    table_->setItem(row, 0, new QTableWidgetItem(QString::fromStdString(d->displayName())));
    table_->setItem(row, 1, new QTableWidgetItem(hex4(d->vid())));
    table_->setItem(row, 2, new QTableWidgetItem(hex4(d->pid())));
    table_->setItem(row, 3, new QTableWidgetItem(d->VL702isConnected() ? QStringLiteral("Connected")
                                                                        : QStringLiteral("Not connected")));
  }
  for (size_t r : delegate_.selectedRows())
    table_->selectionModel()->select(table_->model()->index(static_cast<int>(r), 0),
                                     QItemSelectionModel::Select | QItemSelectionModel::Rows);
  loading_ = false;
}

void DeviceWindow::setDeleteButtonHidden(bool hidden) { delete_->setVisible(!hidden); }

}  // namespace vl::ui
