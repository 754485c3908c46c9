// PaneUi: the pane's controller, its curve graph and its Qt view put together, driven through
// the pane life cycle as the settings host calls it.
#pragma once

#include <QPointer>
#include <memory>
#include <string>

#include "core/store/record_names.h"
#include "core/store/undo_manager.h"
#include "pane/controller/pane_controller.h"
#include "pane/editing/editing_host.h"
#include "pane/ui/pane_view.h"
#include "pane/windows/pane_log.h"

namespace vl::ui {

class PaneHelp;

// The speed tab's editing classes' view of the controller: its selection, its Edit menu's
// history and the values-from-outside rule.
class EditingBridge : public SpeedEditingHost {
 public:
  EditingBridge(quillon_Velmora_prefpane& controller, PaneView& view) : controller_(controller), view_(view) {}
  std::vector<CursorSpeedRecord*> selectedCursorSpeeds() const override;
  UndoManager* mainWindowUndoManager() override;
  void applyRecommendedSens(double sensitivityDisplay, double trackingSpeed, DeviceRecord* device) override;

 private:
  quillon_Velmora_prefpane& controller_;
  PaneView& view_;
  UndoManager undoStep_;
};

class PaneUi {
 public:
  // input must outlive this object.
  // errors: the process's error stack and identity, owned by whoever made the pane.
  PaneUi(const Platform& platform, ErrorContext errors, PaneSettings settings, const InputState& input);
  ~PaneUi();
  PaneUi(const PaneUi&) = delete;
  PaneUi& operator=(const PaneUi&) = delete;

  // The life cycle, as the host calls it.
  std::string mainNibName();
  QWidget* loadMainView(QWidget* parent);
  void willSelect();
  void didSelect();
  bool shouldUnselect();
  void willUnselect();
  bool selectTab(const std::string& name);

  quillon_Velmora_prefpane& controller() { return *controller_; }
  PaneView& view() { return *view_; }
  // The pane's own messages, which its log window shows.
  PaneLog& paneLog() { return log_; }
  PaneHelp& help() { return *help_; }

 private:
  void installEditMenu(bool install);

  // Before the parts that write to it, so it outlives them.
  PaneLog log_;
  LoggingAlerts alerts_;
  uint64_t logToken_ = 0;
  QPointer<PaneView> view_;
  std::unique_ptr<quillon_Velmora_prefpane> controller_;
  std::unique_ptr<EditingBridge> editing_;
  std::unique_ptr<PaneHelp> help_;
  bool menuInstalled_ = false;
};

}  // namespace vl::ui
