// VL229IORegWinDelegate: the registry viewer sheet, showing the HID devices of the service
// plane with their ancestors and properties, in the layout of the registry tool's tree.
#pragma once

#include <string>

#include "pane/windows/pane_window.h"
#include "pane/windows/save_panel.h"
#include "platform/api/hid.h"

namespace vl {

inline constexpr const char* kRegistryPleaseWait = "Please wait...";
inline constexpr const char* kRegistryError = "ioreg error.";
inline constexpr const char* kRegistryFileName = "IORegistry.txt";

// The service plane from its root down to every entry conforming to className, each entry as
// "+-o Name  <class X, id 0x…>", the matching ones followed by their "{ … }" property block;
// "|" marks an ancestor whose later siblings are still to come. Empty when nothing matches.
std::string registryTreeDump(const IoRegistry& registry, const std::string& className);

class RegistryWindowView : public SavePanelHost {
 public:
  virtual void showSheet() = 0;
  // Closes sheets attached to the viewer, then the viewer itself.
  virtual void closeSheet() = 0;
  virtual void setText(const std::string& text) = 0;
};

class VL229IORegWinDelegate : public PaneSheet {
 public:
  // registry: the one port the viewer reads (null: an empty dump).
  VL229IORegWinDelegate(IoRegistry* registry, RegistryWindowView& view) : registry_(registry), view_(view) {}
  void showIORegWindow();
  void closeIORegWindow();
  bool cancelByPrefPane() override;
  void save();
  const std::string& text() const { return text_; }

 private:
  IoRegistry* registry_;
  RegistryWindowView& view_;
  std::string text_ = kRegistryPleaseWait;
};
using RegistryViewerDelegate = VL229IORegWinDelegate;  // the readable name

}  // namespace vl
