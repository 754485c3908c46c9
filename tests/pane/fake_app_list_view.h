// A recording AppListView for tests: the table's selection, the sheet and its attached
// sheets, the file chooser and the alerts shown on the sheet.
#pragma once

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "pane/windows/app_list_sheet.h"

namespace vl::test {

class FakeAppListView : public AppListView {
 public:
  // --- What the test sets ----------------------------------------------------------------------
  bool refuseCommit = false;
  bool modalSession = false;  // the run loop is not in its default mode
  std::optional<size_t> popupChoice;  // the pop-up item the user picked

  // --- What the delegate did -------------------------------------------------------------------
  std::vector<size_t> rows;  // the table's selection
  bool deleteEnabled = true;
  bool sheetShown = false;
  int reloads = 0;
  std::vector<SheetAlert> alerts;
  std::vector<RunningAppItem> popup;
  bool panelButtonEnabled = true;
  std::function<void(int, std::optional<std::string>)> panel;  // the chooser while it is up
  std::string panelMessage;
  int panelsCancelled = 0;
  bool alertUp = false;

  void reloadTable() override { ++reloads; }
  std::vector<size_t> selectedRows() const override { return rows; }
  void selectRows(const std::vector<size_t>& r, bool extend) override {
    if (!extend) rows.clear();
    rows.insert(rows.end(), r.begin(), r.end());
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  }
  void deselectAll() override { rows.clear(); }
  void scrollRowToVisible(size_t) override {}
  void setDeleteButtonEnabled(bool e) override { deleteEnabled = e; }
  bool commitEditing() override { return !refuseCommit; }
  void showSheet() override { sheetShown = true; }
  void closeSheet() override { sheetShown = false; }
  void closeAttachedSheets() override {
    alertUp = false;
    cancelFilePanel();
  }
  bool hasAttachedSheet() const override { return alertUp || static_cast<bool>(panel); }
  bool runLoopInDefaultMode() const override { return !modalSession; }
  void showSheetAlert(const SheetAlert& a) override {
    closeAttachedSheets();
    alerts.push_back(a);
    alertUp = true;
  }
  void setRunningApplications(const std::vector<RunningAppItem>& items) override {
    popup = items;
    popupChoice.reset();
  }
  std::optional<RunningAppItem> selectedRunningApplication() const override {
    if (!popupChoice || *popupChoice >= popup.size()) return std::nullopt;
    return popup[*popupChoice];
  }
  void setAppPanelButtonEnabled(bool e) override { panelButtonEnabled = e; }
  void runFilePanel(const std::string& message, std::function<void(int, std::optional<std::string>)> done) override {
    panelMessage = message;
    panel = std::move(done);
  }
  void cancelFilePanel() override {
    if (!panel) return;
    ++panelsCancelled;
    finishPanel(kPanelCancel, std::nullopt);
  }
  // The user ends the chooser.
  void finishPanel(int result, std::optional<std::string> path) {
    auto done = std::move(panel);
    panel = nullptr;
    if (done) done(result, std::move(path));
  }
};

}  // namespace vl::test
