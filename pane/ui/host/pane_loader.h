// Loading the pane's plug-in: the bundle's executable is opened as a shared library, its one
// entry point resolved and its ABI version checked, so that a pane made for another host is
// refused with a message instead of crashing the window.
#pragma once

#include <memory>
#include <string>

#include "pane/ui/pane_plugin.h"

namespace vl::host {

class LoadedPane {
 public:
  // Opens "<bundle>/Contents/MacOS/<CFBundleExecutable>" ("Velmora" when the Info.plist does not
  // say). Null with *error when the library cannot be opened, has no velmora_pane_entry, gives
  // no table, speaks another ABI version or leaves a life-cycle function out.
  static std::unique_ptr<LoadedPane> load(const std::string& bundlePath, std::string* error);
  ~LoadedPane();
  LoadedPane(const LoadedPane&) = delete;
  LoadedPane& operator=(const LoadedPane&) = delete;

  const VelmoraPaneEntry& entry() const { return *entry_; }
  const std::string& bundlePath() const { return bundlePath_; }
  const std::string& executablePath() const { return executablePath_; }

 private:
  LoadedPane() = default;
  void* handle_ = nullptr;
  const VelmoraPaneEntry* entry_ = nullptr;
  std::string bundlePath_, executablePath_;
};

// The executable a pane bundle names (CFBundleExecutable of Contents/Info.plist, else "Velmora").
std::string paneExecutablePath(const std::string& bundlePath);

}  // namespace vl::host
