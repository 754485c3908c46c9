// The application-list sheet in Qt: its table model and snapping pop-ups, the file chooser
// with the running applications' pop-up, drops and alerts.
#include "pane/ui/app_list_sheet.h"

#include <QDir>
#include <QFontMetrics>
#include <QStandardPaths>
#include <QStyleOptionComboBox>
#include <QUrl>
#include <QAbstractTableModel>
#include <QApplication>
#include <QDragEnterEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMimeData>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QVBoxLayout>

#include "core/store/app_record.h"
#include "core/system/desktop_entry.h"
#include "core/system/strings.h"
#include "pane/windows/app_list.h"
#include "pane/controller/pane_controller.h"

namespace vl::ui {

namespace {

// An icon file, else a theme icon by name, else the style's file icon.
QIcon iconFrom(const std::string& icon) {
  if (icon.empty()) return QApplication::style()->standardIcon(QStyle::SP_FileIcon);
  QString text = QString::fromStdString(icon);
  if (QFileInfo(text).isFile()) {
    QIcon i(text);
    if (!i.isNull() && !i.availableSizes().isEmpty()) return i;
  }
  QIcon themed = QIcon::fromTheme(QFileInfo(text).completeBaseName().isEmpty() ? text : text);
  return themed.isNull() ? QApplication::style()->standardIcon(QStyle::SP_FileIcon) : themed;
}

// Room beyond the pop-up's own size hint, for the table's cell margins.
constexpr int kComboSlack = 12;

// The snapping pop-up of a row: the record's menu with its separators.
class SnappingDelegate : public QStyledItemDelegate {
 public:
  SnappingDelegate(AppList& list, QObject* parent) : QStyledItemDelegate(parent), list_(list) {}
  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex& index) const override {
    auto* combo = new QComboBox(parent);
    AppRecord* app = list_.row(static_cast<size_t>(index.row()));
    if (!app) return combo;
    for (const std::string& item : app->snappingMenu()) {
      if (item == kMenuSeparator) combo->insertSeparator(combo->count());
      else combo->addItem(QString::fromStdString(item));
    }
    combo->setAccessibleName(QString::fromStdString(app->displayName()));
    connect(combo, QOverload<int>::of(&QComboBox::activated), this, [this, combo] {
      emit const_cast<SnappingDelegate*>(this)->commitData(combo);
    });
    return combo;
  }
  // As wide as the pop-up with its longest item ("Same as Default"), so no choice is cut.
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    AppRecord* app = list_.row(static_cast<size_t>(index.row()));
    if (!app) return size;
    const QFontMetrics metrics(option.font);
    int widest = 0;
    for (const std::string& item : app->snappingMenu())
      if (item != kMenuSeparator) widest = std::max(widest, metrics.horizontalAdvance(QString::fromStdString(item)));
    QStyleOptionComboBox box;
    if (option.widget) box.initFrom(option.widget);
    const QStyle* style = option.widget ? option.widget->style() : QApplication::style();
    const QSize combo = style->sizeFromContents(QStyle::CT_ComboBox, &box, QSize(widest, metrics.height()), option.widget);
    return size.expandedTo(combo + QSize(kComboSlack, 0));
  }
  void setEditorData(QWidget* editor, const QModelIndex& index) const override {
    auto* combo = static_cast<QComboBox*>(editor);
    if (AppRecord* app = list_.row(static_cast<size_t>(index.row())))
      combo->setCurrentIndex(static_cast<int>(app->snappingMenuIX()));
  }
  void setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex& index) const override {
    auto* combo = static_cast<QComboBox*>(editor);
    AppRecord* app = list_.row(static_cast<size_t>(index.row()));
    if (app && combo->currentIndex() >= 0 && static_cast<size_t>(combo->currentIndex()) != app->snappingMenuIX())
      app->setSnappingMenuIX(static_cast<size_t>(combo->currentIndex()));
  }

 private:
  AppList& list_;
};

}  // namespace

// The rows of the application list: the name with its icon, and the snapping choice.
class AppTableModel : public QAbstractTableModel {
 public:
  enum Column { NameColumn = 0, SnappingColumn = 1, ColumnCount = 2 };
  AppTableModel(AppList& list, QString name, QString snapping, QObject* parent)
      : QAbstractTableModel(parent), list_(list), name_(std::move(name)), snapping_(std::move(snapping)) {}
  int rowCount(const QModelIndex& parent = {}) const override {
    return parent.isValid() ? 0 : static_cast<int>(list_.count());
  }
  int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : ColumnCount; }
  QVariant data(const QModelIndex& index, int role) const override {
    AppRecord* app = list_.row(static_cast<size_t>(index.row()));
    if (!app) return {};
    if (index.column() == NameColumn) {
      if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole) return QString::fromStdString(app->displayName());
      if (role == Qt::DecorationRole && !app->isDefault()) {
        std::optional<std::string> url = app->url();
        std::string icon = app->icon();
        if (url)
          if (auto entry = readApplicationEntry(*url)) icon = entry->icon;
        return iconFrom(icon);
      }
    } else if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole) {
      std::vector<std::string> menu = app->snappingMenu();
      size_t ix = app->snappingMenuIX();
      return ix < menu.size() ? QString::fromStdString(menu[ix]) : QString();
    }
    return {};
  }
  Qt::ItemFlags flags(const QModelIndex& index) const override {
    Qt::ItemFlags f = QAbstractTableModel::flags(index) | Qt::ItemIsDropEnabled;
    if (index.column() == SnappingColumn) f |= Qt::ItemIsEditable;
    return f;
  }
  QVariant headerData(int section, Qt::Orientation o, int role) const override {
    if (o != Qt::Horizontal || role != Qt::DisplayRole) return {};
    return section == NameColumn ? name_ : snapping_;
  }
  Qt::DropActions supportedDropActions() const override { return Qt::CopyAction; }
  // The records the rows showed before the list changed (compared, never read).
  const std::vector<AppRecord*>& shown() const { return shown_; }
  void reload() {
    beginResetModel();
    shown_ = list_.arrangedObjects();
    endResetModel();
  }

 private:
  AppList& list_;
  std::vector<AppRecord*> shown_;
  QString name_, snapping_;
};

// --- The table's drops -------------------------------------------------------------------------------

std::vector<std::string> AppTable::filePathsOf(const QMimeData* data) {
  std::vector<std::string> paths;
  if (!data) return paths;
  for (const QUrl& url : data->urls())
    if (url.isLocalFile()) paths.push_back(url.toLocalFile().toStdString());
  return paths;
}

void AppTable::dragEnterEvent(QDragEnterEvent* e) {
  if (delegate_ && delegate_->validateDrop(filePathsOf(e->mimeData()))) {
    e->setDropAction(Qt::CopyAction);
    e->accept();
  } else {
    e->ignore();
  }
}

void AppTable::dragMoveEvent(QDragMoveEvent* e) {
  // A drop goes onto the whole table, never between rows.
  if (delegate_ && delegate_->validateDrop(filePathsOf(e->mimeData()))) {
    e->setDropAction(Qt::CopyAction);
    e->accept();
  } else {
    e->ignore();
  }
}

void AppTable::dropEvent(QDropEvent* e) {
  if (!delegate_) return e->ignore();
  delegate_->acceptDrop(filePathsOf(e->mimeData()));
  e->setDropAction(Qt::CopyAction);
  e->accept();
}

// --- The sheet ---------------------------------------------------------------------------------------

AppListSheet::AppListSheet(const Platform& platform, quillon_Velmora_prefpane& prefPane, QWidget* parent)
    : QDialog(parent), platform_(platform), prefPane_(prefPane) {
  delegate_ = std::make_unique<AppListDelegate>(AppListDelegate::Ports::from(platform_), prefPane_, *this);
  setWindowTitle(vlText("Applications"));
  setAccessibleName(windowTitle());
  setWindowModality(Qt::WindowModal);

  table_ = new AppTable(this);
  table_->setAccessibleName(vlText("Applications"));
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  table_->setEditTriggers(QAbstractItemView::AllEditTriggers);
  table_->verticalHeader()->hide();
  table_->verticalHeader()->setDefaultSectionSize(36);
  table_->setIconSize(QSize(32, 32));
  table_->setAcceptDrops(true);
  table_->viewport()->setAcceptDrops(true);
  table_->setDragDropMode(QAbstractItemView::DropOnly);
  table_->setDelegate(delegate_.get());
  table_->setMinimumSize(420, 260);

  delegate_->awakeFromNib();
  model_ = new AppTableModel(*delegate_->appList(), vlText("Application"), vlText("Snapping"), this);
  table_->setModel(model_);
  table_->setItemDelegateForColumn(AppTableModel::SnappingColumn, new SnappingDelegate(*delegate_->appList(), this));
  table_->horizontalHeader()->setSectionResizeMode(AppTableModel::NameColumn, QHeaderView::Stretch);
  table_->horizontalHeader()->setSectionResizeMode(AppTableModel::SnappingColumn, QHeaderView::ResizeToContents);
  connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
    if (!syncing_) delegate_->tableViewSelectionDidChange();
  });

  auto button = [this](const QString& text) {
    auto* b = new QPushButton(text, this);
    b->setAccessibleName(text);
    b->setAutoDefault(false);
    return b;
  };
  add_ = button(vlText("Add"));
  delete_ = button(vlText("Delete"));
  close_ = button(vlText("Close"));
  connect(add_, &QPushButton::clicked, this, [this] { delegate_->openAppPanel(); });
  connect(delete_, &QPushButton::clicked, this, [this] { delegate_->removeApp(); });
  connect(close_, &QPushButton::clicked, this, [this] { delegate_->closeAppWindow(); });

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(add_);
  buttons->addWidget(delete_);
  buttons->addStretch();
  buttons->addWidget(close_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(table_);
  layout->addLayout(buttons);
}

AppListSheet::~AppListSheet() {
  if (panel_) panel_->disconnect(this);
  if (alert_) alert_->disconnect(this);
  table_->setDelegate(nullptr);
}

QString AppListSheet::vlText(const char* key) const {
  if (!platform_.paths) return QString::fromUtf8(key);
  return QString::fromStdString(localized(platform_, key, "vl"));
}

void AppListSheet::openEditors() {
  // Each row shows its snapping choice as a pop-up button.
  for (int r = 0; r < model_->rowCount(); ++r) table_->openPersistentEditor(model_->index(r, AppTableModel::SnappingColumn));
}

void AppListSheet::reloadTable() {
  // The selected records stay selected wherever the new order puts them.
  std::vector<const AppRecord*> selected;
  for (size_t r : selectedRows())
    if (r < model_->shown().size()) selected.push_back(model_->shown()[r]);
  syncing_ = true;
  model_->reload();
  std::vector<size_t> rows;
  for (const AppRecord* a : selected)
    if (auto i = delegate_->appList()->indexOf(a)) rows.push_back(*i);
  selectRows(rows, false);
  syncing_ = false;
  openEditors();
}

std::vector<size_t> AppListSheet::selectedRows() const {
  std::vector<size_t> rows;
  for (const QModelIndex& i : table_->selectionModel()->selectedRows()) rows.push_back(static_cast<size_t>(i.row()));
  std::sort(rows.begin(), rows.end());
  return rows;
}

void AppListSheet::selectRows(const std::vector<size_t>& rows, bool extend) {
  syncing_ = true;
  QItemSelection selection;
  for (size_t r : rows)
    if (static_cast<int>(r) < model_->rowCount())
      selection.select(model_->index(static_cast<int>(r), 0), model_->index(static_cast<int>(r), AppTableModel::ColumnCount - 1));
  table_->selectionModel()->select(selection, (extend ? QItemSelectionModel::Select : QItemSelectionModel::ClearAndSelect) |
                                                  QItemSelectionModel::Rows);
  syncing_ = false;
}

void AppListSheet::deselectAll() {
  syncing_ = true;
  table_->clearSelection();
  syncing_ = false;
}

void AppListSheet::scrollRowToVisible(size_t row) { table_->scrollTo(model_->index(static_cast<int>(row), 0)); }

void AppListSheet::setDeleteButtonEnabled(bool enabled) { delete_->setEnabled(enabled); }

bool AppListSheet::commitEditing() {
  // The snapping pop-ups store their choice when it is made; nothing is pending.
  return true;
}

void AppListSheet::showSheet() {
  QTimer::singleShot(0, this, [this] { openEditors(); });
  open();
}

void AppListSheet::closeSheet() {
  syncing_ = true;
  QDialog::done(QDialog::Rejected);
  syncing_ = false;
}

void AppListSheet::endSheet() {
  closeAttachedSheets();
  if (!isShown()) return;
  if (!delegate_->cancelByPrefPane()) closeSheet();
}

void AppListSheet::reject() { delegate_->closeAppWindow(); }

void AppListSheet::closeAttachedSheets() {
  if (alert_) {
    alert_->disconnect(this);
    alert_->close();
    alert_->deleteLater();
    alert_ = nullptr;
  }
  cancelFilePanel();
}

bool AppListSheet::hasAttachedSheet() const {
  return (alert_ && alert_->isVisible()) || (panel_ && panel_->isVisible());
}

bool AppListSheet::runLoopInDefaultMode() const {
  QWidget* modal = QApplication::activeModalWidget();
  return !QApplication::activePopupWidget() && (!modal || modal == this || modal == window());
}

void AppListSheet::showSheetAlert(const SheetAlert& alert) {
  closeAttachedSheets();
  auto* box = new QMessageBox(this);
  box->setIcon(QMessageBox::Warning);
  box->setWindowTitle(QStringLiteral("Velmora"));
  box->setText(QString::fromStdString(alert.messageText));
  box->setInformativeText(QString::fromStdString(alert.informativeText));
  box->setAccessibleName(box->text());
  QPushButton* ok = box->addButton(vlText("OK"), QMessageBox::AcceptRole);
  ok->setAccessibleName(ok->text());
  box->setDefaultButton(ok);
  box->setWindowModality(Qt::WindowModal);
  box->setAttribute(Qt::WA_DeleteOnClose);
  alert_ = box;
  box->open();
}

// --- The file chooser --------------------------------------------------------------------------------

QStringList applicationFolders(const Platform& platform) {
  QStringList out;
  auto add = [&out](const QString& folder) {
    if (!folder.isEmpty() && QDir(folder).exists() && !out.contains(folder)) out.append(folder);
  };
  // Application bundles first (a simulated Mac keeps them there), then the desktop's entries:
  // the system's (where most applications are) before the user's own.
  if (platform.workspace) add(QString::fromStdString(platform.workspace->homeDirectory()) + QStringLiteral("/Applications"));
  add(QStringLiteral("/Applications"));
  QStringList desktop = QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation);
  std::stable_partition(desktop.begin(), desktop.end(),
                        [](const QString& f) { return !f.startsWith(QDir::homePath()); });
  for (const QString& folder : desktop) add(folder);
  return out;
}

namespace {
// Application bundles are folders: choosing one opens it as a file rather than going into it.
class AppFileDialog : public QFileDialog {
 public:
  using QFileDialog::QFileDialog;
  void accept() override {
    QStringList files = selectedFiles();
    if (files.size() == 1 && isApplicationAtURL(files.front().toStdString())) {
      QDialog::accept();
      return;
    }
    QFileDialog::accept();
  }
};
}  // namespace

void AppListSheet::setRunningApplications(const std::vector<RunningAppItem>& items) {
  items_ = items;
  if (!popup_) return;
  popup_->clear();
  for (const RunningAppItem& item : items) {
    popup_->addItem(iconFrom(item.icon), QString::fromStdString(item.title), item.tag);
  }
  popup_->setIconSize(QSize(kPopupIconSize, kPopupIconSize));
  popup_->setCurrentIndex(-1);
}

std::optional<RunningAppItem> AppListSheet::selectedRunningApplication() const {
  if (!popup_ || popup_->currentIndex() < 0 || static_cast<size_t>(popup_->currentIndex()) >= items_.size())
    return std::nullopt;
  return items_[static_cast<size_t>(popup_->currentIndex())];
}

void AppListSheet::setAppPanelButtonEnabled(bool enabled) {
  if (popupButton_) popupButton_->setEnabled(enabled);
}

void AppListSheet::runFilePanel(const std::string& message,
                                std::function<void(int, std::optional<std::string>)> completion) {
  cancelFilePanel();
  auto* panel = new AppFileDialog(this);
  panel->setOption(QFileDialog::DontUseNativeDialog, true);
  panel->setFileMode(QFileDialog::ExistingFile);
  panel->setAcceptMode(QFileDialog::AcceptOpen);
  panel->setLabelText(QFileDialog::LookIn, QString::fromStdString(message));
  panel->setWindowTitle(QString::fromStdString(message));
  panel->setAccessibleName(panel->windowTitle());
  panel->setWindowModality(Qt::WindowModal);
  panel->setAttribute(Qt::WA_DeleteOnClose);
  // It opens where applications are, showing applications only (another filter shows all).
  const QStringList places = applicationFolders(platform_);
  if (!places.isEmpty()) panel->setDirectory(places.front());
  else if (platform_.workspace) panel->setDirectory(QString::fromStdString(platform_.workspace->homeDirectory()));
  QList<QUrl> sidebar = panel->sidebarUrls();
  for (const QString& place : places) sidebar.append(QUrl::fromLocalFile(place));
  panel->setSidebarUrls(sidebar);
  panel->setNameFilters({vlText("Applications (*.desktop *.app)"), vlText("All files (*)")});

  // The accessory: the running applications and the button that adds the chosen one.
  accessory_ = new QWidget(panel);
  auto* row = new QHBoxLayout(accessory_);
  row->setContentsMargins(0, 0, 0, 0);
  auto* label = new QLabel(vlText("Running Applications:"), accessory_);
  popup_ = new QComboBox(accessory_);
  popup_->setAccessibleName(label->text());
  label->setBuddy(popup_);
  popupButton_ = new QPushButton(vlText("Add Running Application"), accessory_);
  popupButton_->setAccessibleName(popupButton_->text());
  popupButton_->setAutoDefault(false);
  row->addWidget(label);
  row->addWidget(popup_, 1);
  row->addWidget(popupButton_);
  if (auto* grid = qobject_cast<QGridLayout*>(panel->layout())) grid->addWidget(accessory_, grid->rowCount(), 0, 1, -1);
  else if (panel->layout()) panel->layout()->addWidget(accessory_);
  setRunningApplications(items_);
  popupButton_->setEnabled(false);  // until an application is chosen
  connect(popup_, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this] { delegate_->enableAppPanelButton(); });
  connect(popupButton_, &QPushButton::clicked, this, [this] { delegate_->appPanelSelectProc(); });

  panel_ = panel;
  panelDone_ = std::move(completion);
  connect(panel, &QDialog::finished, this, [this, panel](int result) {
    std::optional<std::string> path;
    if (result == QDialog::Accepted && !panel->selectedFiles().isEmpty()) path = panel->selectedFiles().front().toStdString();
    auto done = std::move(panelDone_);
    panelDone_ = nullptr;
    panel_ = nullptr;
    popup_ = nullptr;
    popupButton_ = nullptr;
    accessory_ = nullptr;
    if (done) done(result == QDialog::Accepted ? kPanelOK : kPanelCancel, std::move(path));
  });
  panel->open();
}

void AppListSheet::cancelFilePanel() {
  if (panel_) panel_->reject();
}

}  // namespace vl::ui
