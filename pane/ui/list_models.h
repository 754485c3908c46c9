// Table models of the speed tab over the controller's lists: the devices (status icon and
// name) and the selected device's five favourites (label or title, colour, lock).
#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <QString>
#include <functional>

#include "core/store/record_names.h"
#include "pane/windows/arranged_list.h"

namespace vl::ui {

// The status image names of the device records as icons (a coloured dot each).
QIcon statusIcon(const char* imageName);
// A favourite's label with its numbers in the user's locale ("Ⓐ0.687" -> "Ⓐ0,687").
QString localeLabel(const std::string& label);

class DeviceTableModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum Column { StatusColumn = 0, NameColumn = 1, ColumnCount = 2 };
  DeviceTableModel(const DeviceList& list, QString statusTitle, QString nameTitle, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  // The list changed its rows or a device its status: read everything again.
  void reload();
  // What the status icon means for a device, as its tooltip and accessible description (why
  // the device cannot take its speed); an empty text leaves the bare status.
  void setStatusText(std::function<QString(const DeviceRecord&)> text) { statusText_ = std::move(text); }

 private:
  std::function<QString(const DeviceRecord&)> statusText_;
  const DeviceList& list_;
  QString statusTitle_, nameTitle_;
};

class FavouriteTableModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum Column { LabelColumn = 0, ColourColumn = 1, LockColumn = 2, ColumnCount = 3 };
  FavouriteTableModel(CursorSpeedList& list, QString labelTitle, QString colourTitle, QString lockTitle,
                      QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  // The title can be typed over the label; the lock is a check box.
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  void reload();

 private:
  CursorSpeedList& list_;
  QString labelTitle_, colourTitle_, lockTitle_;
};

}  // namespace vl::ui
