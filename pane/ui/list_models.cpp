// The device and favourite table models.
#include "pane/ui/list_models.h"

#include <QLocale>
#include <QPainter>
#include <QPixmap>
#include <cstring>

#include "core/store/cursor_speed_record.h"
#include "core/store/device_record.h"
#include "pane/ui/qt_drawing_surface.h"

namespace vl::ui {

QIcon statusIcon(const char* imageName) {
  QColor fill;
  if (!imageName) imageName = "";
  if (std::strcmp(imageName, "NSImageNameStatusAvailable") == 0) fill = QColor(0x2e, 0xb8, 0x4b);
  else if (std::strcmp(imageName, "NSImageNameStatusPartiallyAvailable") == 0) fill = QColor(0xf5, 0xb8, 0x1c);
  else if (std::strcmp(imageName, "NSImageNameStatusUnavailable") == 0) fill = QColor(0xe0, 0x3a, 0x2f);
  QPixmap pm(12, 12);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QColor(0x70, 0x70, 0x70));
  p.setBrush(fill.isValid() ? QBrush(fill) : QBrush(Qt::NoBrush));
  p.drawEllipse(QRectF(1.5, 1.5, 9, 9));
  return QIcon(pm);
}

QString localeLabel(const std::string& label) {
  QString text = QString::fromStdString(label);
  const QString point = QLocale().decimalPoint();
  if (point == QStringLiteral(".")) return text;
  for (qsizetype i = 1; i + 1 < text.size(); ++i)
    if (text[i] == u'.' && text[i - 1].isDigit() && text[i + 1].isDigit()) text.replace(i, 1, point);
  return text;
}

// --- Devices ----------------------------------------------------------------------------------

DeviceTableModel::DeviceTableModel(const DeviceList& list, QString statusTitle, QString nameTitle, QObject* parent)
    : QAbstractTableModel(parent), list_(list), statusTitle_(std::move(statusTitle)), nameTitle_(std::move(nameTitle)) {}

int DeviceTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(list_.count());
}

int DeviceTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant DeviceTableModel::data(const QModelIndex& index, int role) const {
  const DeviceRecord* d = list_.row(static_cast<size_t>(index.row()));
  if (!d) return {};
  if (index.column() == StatusColumn) {
    if (role == Qt::DecorationRole) return statusIcon(d->VL702statusIcon());
    if (role == Qt::AccessibleTextRole || role == Qt::ToolTipRole || role == Qt::AccessibleDescriptionRole) {
      QString text = statusText_ ? statusText_(*d) : QString();
      return text.isEmpty() ? QVariant() : QVariant(text);
    }
    return {};
  }
  if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole) return QString::fromStdString(d->displayName());
  return {};
}

QVariant DeviceTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  return section == StatusColumn ? statusTitle_ : nameTitle_;
}

void DeviceTableModel::reload() {
  beginResetModel();
  endResetModel();
}

// --- Favourites -------------------------------------------------------------------------------

FavouriteTableModel::FavouriteTableModel(CursorSpeedList& list, QString labelTitle, QString colourTitle,
                                         QString lockTitle, QObject* parent)
    : QAbstractTableModel(parent),
      list_(list),
      labelTitle_(std::move(labelTitle)),
      colourTitle_(std::move(colourTitle)),
      lockTitle_(std::move(lockTitle)) {}

int FavouriteTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(list_.count());
}

int FavouriteTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant FavouriteTableModel::data(const QModelIndex& index, int role) const {
  const CursorSpeedRecord* cs = list_.row(static_cast<size_t>(index.row()));
  if (!cs) return {};
  switch (index.column()) {
    case LabelColumn: {
      auto title = cs->title();
      if (role == Qt::EditRole) return title ? QString::fromStdString(*title) : QString();
      if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
        return title && !title->empty() ? QString::fromStdString(*title) : localeLabel(cs->VL705label());
      return {};
    }
    case ColourColumn: {
      auto c = cs->color();
      if (role == Qt::DecorationRole && c) {
        QPixmap pm(14, 14);
        pm.fill(toQColor({c->red, c->green, c->blue, 1}));
        return QIcon(pm);
      }
      if (role == Qt::AccessibleTextRole && c) return toQColor({c->red, c->green, c->blue, 1}).name();
      return {};
    }
    case LockColumn:
      if (role == Qt::CheckStateRole) return cs->isLocked() ? Qt::Checked : Qt::Unchecked;
      // Named whether checked or not: the check state says which.
      if (role == Qt::AccessibleTextRole) return lockTitle_;
      return {};
  }
  return {};
}

QVariant FavouriteTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Vertical) return section + 1;
  switch (section) {
    case LabelColumn: return labelTitle_;
    case ColourColumn: return colourTitle_;
    case LockColumn: return lockTitle_;
  }
  return {};
}

Qt::ItemFlags FavouriteTableModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags f = QAbstractTableModel::flags(index);
  if (index.column() == LabelColumn) f |= Qt::ItemIsEditable;
  if (index.column() == LockColumn) f |= Qt::ItemIsUserCheckable;
  return f;
}

bool FavouriteTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  CursorSpeedRecord* cs = list_.row(static_cast<size_t>(index.row()));
  if (!cs) return false;
  if (index.column() == LabelColumn && role == Qt::EditRole) {
    const QString t = value.toString().trimmed();
    cs->setTitle(t.isEmpty() ? std::nullopt : std::optional<std::string>(t.toStdString()));
  } else if (index.column() == LockColumn && role == Qt::CheckStateRole) {
    cs->setIsLocked(value.toInt() == Qt::Checked);
  } else {
    return false;
  }
  emit dataChanged(index, index);
  return true;
}

void FavouriteTableModel::reload() {
  beginResetModel();
  endResetModel();
}

}  // namespace vl::ui
