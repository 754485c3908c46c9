// The application-list sheet: showing, closing, Delete, the file chooser, the running
// applications' pop-up, adding, removing and drops.
#include "pane/windows/app_list_sheet.h"

#include <algorithm>
#include <cctype>

#include "core/store/object_context.h"
#include "core/system/alerts.h"
#include "core/system/desktop_entry.h"
#include "core/system/strings.h"
#include "pane/windows/app_list.h"
#include "pane/windows/sheet_host.h"
#include "platform/api/desktop.h"
#include "platform/api/runloop.h"

namespace vl {

namespace {

constexpr double kAfterPanelDelay = 0.1;

std::string lowered(const std::string& s) {
  std::string out = s;
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
  return out;
}

}  // namespace

VL222AppWinDelegate::VL222AppWinDelegate(const Ports& ports, SheetHost& prefPane,
                                         AppListView& view)
    : ports_(ports), prefPane_(prefPane), view_(view) {}

VL222AppWinDelegate::~VL222AppWinDelegate() {
  if (ports_.runLoop) ports_.runLoop->cancelAllPerforms(this);
  if (appList_) appList_->removeObserver(listToken_);
}

void VL222AppWinDelegate::awakeFromNib() {
  if (appList_) return;
  appList_ = &prefPane_.appList();
  listToken_ = appList_->addObserver([this](AppList::Change c) {
    if (c == AppList::Change::Content) view_.reloadTable();
  });
}

// --- Showing and closing -----------------------------------------------------------------------------

void VL222AppWinDelegate::showAppWindow() {
  if (!prefPane_.window().commitEditing()) return;
  awakeFromNib();
  view_.reloadTable();
  if (appList_->count() > 0) {
    const auto& selected = appList_->selectionIndexes();
    size_t row = selected.empty() ? 0 : selected.front();
    view_.selectRows({row}, false);
    view_.scrollRowToVisible(row);
  }
  updateDeleteButton();
  // Undo and Redo step the store while the sheet is up.
  prefPane_.mocUndoRegisterWindow(true);
  shown_ = true;
  view_.showSheet();
}

void VL222AppWinDelegate::closeAppWindow() {
  if (!view_.commitEditing()) return;
  prefPane_.removeAllUndoActions();
  view_.closeAttachedSheets();
  view_.closeSheet();
  shown_ = false;
  prefPane_.mocUndoRegisterWindow(false);
  std::vector<size_t> rows = view_.selectedRows();
  if (!rows.empty() && appList_) appList_->setSelectionIndexes(rows);
}

bool VL222AppWinDelegate::cancelByPrefPane() {
  closeAppWindow();
  return true;
}

// --- Delete ------------------------------------------------------------------------------------------

void VL222AppWinDelegate::tableViewSelectionDidChange() { updateDeleteButton(); }

void VL222AppWinDelegate::updateDeleteButton() {
  std::vector<size_t> rows = view_.selectedRows();
  bool enabled = !rows.empty() && appList_;
  for (size_t r : rows) {
    QS803AppClass* app = appList_ ? appList_->row(r) : nullptr;
    if (!app || app->isDefault()) enabled = false;
  }
  view_.setDeleteButtonEnabled(enabled);
}

void VL222AppWinDelegate::removeApp() {
  if (!appList_) return;
  appList_->removeObjectsAtArrangedObjectIndexes(view_.selectedRows());
  view_.deselectAll();
  tableViewSelectionDidChange();
}

// --- The file chooser --------------------------------------------------------------------------------

std::vector<RunningAppItem> VL222AppWinDelegate::runningApplicationItems() const {
  std::vector<RunningAppItem> items;
  if (!ports_.workspace) return items;
  for (const RunningApplication& app : ports_.workspace->runningApplications()) {
    // Background-only and accessory processes have no place in a list of applications.
    if (app.activationPolicy != kActivationPolicyRegular) continue;
    RunningAppItem item;
    item.title = app.localizedName;
    item.icon = ports_.workspace->iconForFile(QS803AppClass::urlFromProc(app));
    item.tag = app.processIdentifier;
    items.push_back(std::move(item));
  }
  std::stable_sort(items.begin(), items.end(), [](const RunningAppItem& a, const RunningAppItem& b) {
    std::string la = lowered(a.title), lb = lowered(b.title);
    return la != lb ? la < lb : a.title < b.title;
  });
  return items;
}

void VL222AppWinDelegate::openAppPanel() {
  view_.setRunningApplications(runningApplicationItems());
  view_.setAppPanelButtonEnabled(false);
  view_.runFilePanel(localized(TextSource{ports_.paths, ports_.system}, kSelectApplicationText, "vl"),
                     [this](int result, std::optional<std::string> path) {
                       if (result != kPanelOK) return;
                       // Later, so that the chooser has gone before the records change.
                       if (ports_.runLoop)
                         ports_.runLoop->perform(this, "appPanelSelectFile", kAfterPanelDelay,
                                                    [this, path] { appPanelSelectFile(path); });
                       else
                         appPanelSelectFile(path);
                     });
}

void VL222AppWinDelegate::appPanelSelectFile(std::optional<std::string> path) {
  if (path && isApplicationAtURL(*path)) {
    view_.deselectAll();
    (void)addAppWithURL(*path);
    return;
  }
  view_.showSheetAlert({localized(TextSource{ports_.paths, ports_.system}, kNotAnApplicationText, "vl"), "", {}});
}

void VL222AppWinDelegate::enableAppPanelButton() {
  view_.setAppPanelButtonEnabled(view_.selectedRunningApplication().has_value());
}

void VL222AppWinDelegate::appPanelSelectProc() {
  std::optional<RunningAppItem> item = view_.selectedRunningApplication();
  if (!item) return;
  AddableApp proc;
  if (ports_.workspace)
    for (const RunningApplication& app : ports_.workspace->runningApplications())
      if (app.processIdentifier == item->tag) proc = app;
  view_.cancelFilePanel();
  view_.deselectAll();
  // An application that quit meanwhile adds nothing.
  (void)addApp(proc);
}

// --- Adding ------------------------------------------------------------------------------------------

std::optional<std::string> VL222AppWinDelegate::bundleIdentifierOf(const AddableApp& object) const {
  if (auto* proc = std::get_if<RunningApplication>(&object))
    return proc->bundleIdentifier.empty() ? std::nullopt : std::optional<std::string>(proc->bundleIdentifier);
  if (auto* url = std::get_if<FileURL>(&object)) {
    if (!ports_.workspace) return std::nullopt;
    if (auto id = ports_.workspace->bundleIdentifierAtPath(url->path)) return id;
    // A desktop entry's identifier is its desktop file ID.
    if (readApplicationEntry(url->path)) return desktopFileID(url->path);
  }
  return std::nullopt;
}

bool VL222AppWinDelegate::addApp(const AddableApp& object) {
  if (std::holds_alternative<std::monostate>(object)) return false;
  awakeFromNib();
  std::optional<std::string> bundleID = bundleIdentifierOf(object);
  if (bundleID == std::optional<std::string>(kHostBundleID) || bundleID == std::optional<std::string>(kSettingsHostBundleID)) {
    view_.showSheetAlert({localized(TextSource{ports_.paths, ports_.system}, kHostRefusedText, "vl"), "", {}});
    return true;
  }
  AppObject appObject = std::holds_alternative<FileURL>(object) ? AppObject(std::get<FileURL>(object))
                                                                : AppObject(std::get<RunningApplication>(object));
  for (size_t i = 0; i < appList_->count(); ++i) {
    if (appList_->row(i)->isEqualToMatchingKeyInObject(appObject)) {
      view_.selectRows({i}, true);
      tableViewSelectionDidChange();
      return false;
    }
  }
  std::vector<QS803AppClass*> remembered;
  for (size_t r : view_.selectedRows())
    if (QS803AppClass* a = appList_->row(r)) remembered.push_back(a);
  QS803AppClass* app = appList_->newObject();
  if (!app || !app->initSnappingAppWithObject(appObject)) {
    // The half-made record must not reach the store.
    if (app && appList_->context()) appList_->context()->deleteObject(app);
    AbendApp(ports_.alerting.platform(), prefPane_.errors(), nullptr, nullptr, 0, 2220264);
    return false;
  }
  // A desktop entry names its application itself; its file name would be a poor name.
  if (auto* url = std::get_if<FileURL>(&object))
    if (auto entry = readApplicationEntry(url->path)) app->setName(entry->name);
  appList_->addObject(app);
  remembered.push_back(app);
  std::vector<size_t> rows;
  for (QS803AppClass* a : remembered)
    if (auto i = appList_->indexOf(a)) rows.push_back(*i);
  std::sort(rows.begin(), rows.end());
  view_.selectRows(rows, false);
  if (!rows.empty()) view_.scrollRowToVisible(appList_->indexOf(app).value_or(rows.back()));
  tableViewSelectionDidChange();
  return false;
}

bool VL222AppWinDelegate::addAppWithURL(const std::string& path) {
  if (!isApplicationAtURL(path)) return false;
  return addApp(FileURL{path});
}

// --- Drag and drop -----------------------------------------------------------------------------------

bool VL222AppWinDelegate::validateDrop(const std::vector<std::string>& filePaths) const {
  if (view_.hasAttachedSheet() || !view_.runLoopInDefaultMode()) return false;
  return !filePaths.empty() && isApplicationAtURL(filePaths.front());
}

bool VL222AppWinDelegate::acceptDrop(const std::vector<std::string>& filePaths) {
  if (filePaths.empty()) return true;
  // Later, so that the drag session has ended before alerts or records appear.
  if (ports_.runLoop)
    ports_.runLoop->perform(this, "acceptDrop", kAfterPanelDelay, [this, filePaths] { acceptDropNow(filePaths); });
  else
    acceptDropNow(filePaths);
  return true;
}

void VL222AppWinDelegate::acceptDropNow(const std::vector<std::string>& filePaths) {
  view_.deselectAll();
  for (const std::string& path : filePaths)
    if (addAppWithURL(path)) break;
}

}  // namespace vl
