// A recording PaneWindow for tests: input state and answers the test sets, and a log of what
// the controller asked of the window.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "pane/windows/pane_window.h"

namespace vl::test {

class FakePaneWindow : public PaneWindow {
 public:
  // --- What the test sets ----------------------------------------------------------------------
  ModifierFlags modifiers;
  bool mouseDown = false;
  bool visible = true;
  std::vector<PaneSheet*> sheets;  // outermost first
  PaneTab tab = PaneTab::Speed;
  bool tableEnabled = true;
  bool tableFirstResponder = false;
  bool refuseCommit = false;
  // Alerts end at once with this return code unless holdAlerts is set (then endSheetAlert or
  // finishAlert ends them).
  bool holdAlerts = false;
  int alertAnswer = kAlertFirstButtonReturn;

  // --- What the controller did -----------------------------------------------------------------
  struct Shown {
    SheetAlert alert;
    std::function<void(int)> completion;
    bool ended = false;
    int returnCode = 0;
  };
  std::vector<Shown> alerts;
  int commits = 0;
  int endEditings = 0;
  int remembered = 0;
  int restored = 0;
  std::vector<SpeedField> focused;
  int beeps = 0;
  int deviceReloads = 0;
  int cursorSpeedReloads = 0;
  bool showAllVisible = false;
  std::vector<std::string> errorViews;
  int redraws = 0;
  int undoChanges = 0;
  int textUndoClears = 0;
  int sheetCloses = 0;
  std::vector<std::string> openedURLs;

  ModifierFlags modifierFlags() const override { return modifiers; }
  bool mouseButtonDown() const override { return mouseDown; }
  bool isMainWindowVisible() const override { return visible; }
  std::vector<PaneSheet*> attachedSheets() const override { return sheets; }
  void closeAttachedSheets() override {
    ++sheetCloses;
    sheets.clear();
  }
  PaneTab selectedTab() const override { return tab; }
  bool cursorSpeedTableEnabled() const override { return tableEnabled; }
  bool cursorSpeedTableIsFirstResponder() const override { return tableFirstResponder; }
  bool commitEditing() override {
    ++commits;
    return !refuseCommit;
  }
  void endEditing() override { ++endEditings; }
  void rememberKeyControl() override { ++remembered; }
  void restoreKeyControl() override { ++restored; }
  void focusSpeedField(SpeedField f) override { focused.push_back(f); }
  void showSheetAlert(const SheetAlert& a, std::function<void(int)> completion) override {
    alerts.push_back({a, std::move(completion)});
    if (!holdAlerts) finishAlert(alerts.size() - 1, alertAnswer);
  }
  void endSheetAlert(int returnCode) override {
    for (size_t i = alerts.size(); i-- > 0;)
      if (!alerts[i].ended) {
        finishAlert(i, returnCode);
        return;
      }
  }
  void finishAlert(size_t i, int returnCode) {
    Shown& s = alerts.at(i);
    if (s.ended) return;
    s.ended = true;
    s.returnCode = returnCode;
    if (auto c = s.completion) c(returnCode);
  }
  void beep() override { ++beeps; }
  void reloadDeviceTable() override { ++deviceReloads; }
  void reloadCursorSpeedTable() override { ++cursorSpeedReloads; }
  void setShowAllLabelVisible(bool v) override { showAllVisible = v; }
  void showErrorView(const std::string& message) override { errorViews.push_back(message); }
  void redrawCurve() override { ++redraws; }
  void undoStateChanged() override { ++undoChanges; }
  void removeTextUndoActions() override { ++textUndoClears; }
  void openURL(const std::string& url) override { openedURLs.push_back(url); }
};

}  // namespace vl::test
