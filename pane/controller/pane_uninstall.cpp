// The controller's uninstall window: opened from the accessibility warning and the "Other" tab.
#include "pane/controller/pane_controller.h"

namespace vl {

// The uninstall itself is built separately; until then the entry point exists and does nothing.
void quillon_Velmora_prefpane::showUninstallWindow() {}

}  // namespace vl
