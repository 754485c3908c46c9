// PaneUi: the pane's controller, its curve graph and its Qt view put together, driven through
// the pane life cycle as the settings host calls it.
#pragma once

#include <QPointer>
#include <memory>
#include <string>

#include "core/store/undo_manager.h"
#include "pane/controller/pane_controller.h"
#include "pane/editing/editing_host.h"
#include "pane/ui/pane_view.h"

namespace vl::ui {

// The speed tab's editing classes' view of the controller: its selection, its Edit menu's
// history and the values-from-outside rule.
class EditingBridge : public SpeedEditingHost {
 public:
  EditingBridge(quillon_Velmora_prefpane& controller, PaneView& view) : controller_(controller), view_(view) {}
  std::vector<QS805CursorSpeedClass*> selectedCursorSpeeds() const override;
  UndoManager* mainWindowUndoManager() override;
  void applyRecommendedSens(double sensitivityDisplay, double trackingSpeed, QS802DeviceClass* device) override;

 private:
  quillon_Velmora_prefpane& controller_;
  PaneView& view_;
  UndoManager undoStep_;
};

class PaneUi {
 public:
  // input must outlive this object.
  PaneUi(const Platform& platform, PaneSettings settings, const InputState& input);
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

 private:
  void installEditMenu(bool install);

  QPointer<PaneView> view_;
  std::unique_ptr<quillon_Velmora_prefpane> controller_;
  std::unique_ptr<EditingBridge> editing_;
  bool menuInstalled_ = false;
};

}  // namespace vl::ui
