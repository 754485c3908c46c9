// SheetHost: what the pane's secondary windows and sheets (the accessibility warning, the
// stored-devices sheet, the application list, the support report) need of the pane's
// controller, so that they are built below it and never include it.
#pragma once

#include <optional>
#include <string>

#include "core/errors/error_context.h"
#include "pane/windows/desktop_limits.h"
#include "platform/api/platform.h"

namespace vl {

class AppList;
class DeviceList;
class ManagedObjectContext;
class PaneWindow;
class QS802DeviceClass;
class VL260CurveView;

// Drivers and tools found at load time that can defeat the pane (its messages name them).
struct DetectedDrivers {
  std::optional<std::string> logitechOptions;  // display path
  std::optional<std::string> logitechGHub;     // display path
  bool karabinerElements = false;
  bool elecomMouseEventChange = false;
  std::optional<std::string> microsoftDriver;  // kernel extension path
};

class SheetHost {
 public:
  virtual ~SheetHost() = default;

  virtual const Platform& platform() const = 0;
  // The program's error stack and identity: a sheet's fatal end goes through them.
  virtual ErrorContext errors() const = 0;
  virtual PaneWindow& window() = 0;
  // The pane bundle's folder and identifier.
  virtual const std::string& paneBundlePath() const = 0;
  virtual const std::string& paneBundleIdentifier() const = 0;

  // The store and its lists.
  virtual ManagedObjectContext* managedObjectContext() const = 0;
  virtual DeviceList& deviceList() = 0;
  virtual AppList& appList() = 0;
  virtual QS802DeviceClass* selectedDevice() const = 0;
  virtual bool saveMOC() = 0;
  virtual void mocUndoRegisterWindow(bool sheetTakesStoreUndo) = 0;
  virtual void removeAllUndoActions() = 0;

  // The agent and the accessibility permission.
  virtual std::optional<std::string> boaURL() const = 0;
  virtual void quitBOA() = 0;
  virtual bool boaAXEnabled() const = 0;
  virtual bool axPreferred() const = 0;
  virtual const DetectedDrivers& detectedDrivers() const = 0;
  // What the running desktop cannot do for snapping; none by default (the simulated Mac).
  virtual DesktopLimits desktopLimits() const { return {}; }
  virtual VL260CurveView& curveView() = 0;

  // "Show All" and the uninstall window.
  virtual void showAll() = 0;
  virtual void showUninstallWindow() = 0;
};

}  // namespace vl
