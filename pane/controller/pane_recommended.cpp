// The controller's recommended-settings window: the "Recommend" button and what the window asks
// of the controller.
#include "pane/controller/pane_controller.h"

namespace vl {

QS838RecdWinClass& quillon_Velmora_prefpane::recommendedWindow() {
  if (!recdWin_) recdWin_ = std::make_unique<QS838RecdWinClass>(QS838RecdWinClass::Ports::from(platform_), *this, settings_.bundle.identifier);
  return *recdWin_;
}

void quillon_Velmora_prefpane::showRecommendedWindow() { recommendedWindow().show(selectedDevice()); }

ModifierFlags quillon_Velmora_prefpane::recommendedModifierFlags() const { return window_.modifierFlags(); }

}  // namespace vl
