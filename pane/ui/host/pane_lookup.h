// Where the settings host finds the Velmora pane: an explicit bundle, the PreferencePanes
// folders of the Paths port (the world's first when the programs run on one), then the bundle
// the build left beside the program.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/api/paths.h"

namespace vl::host {

inline constexpr const char* kPaneFileName = "Velmora.prefPane";

struct PaneLookup {
  std::string explicitPath;    // --pane; used alone when given
  const Paths* paths = nullptr;  // its preferencePanes(), in order
  std::string programFolder;   // the folder of the running program (build/<preset>/bin)
};

struct FoundPane {
  std::string path;    // ".../Velmora.prefPane"
  std::string origin;  // "--pane", "installed" or "build tree"
};

// The pane to load, or nullopt with *error naming every place looked at.
std::optional<FoundPane> findPane(const PaneLookup& lookup, std::string* error);

// The places findPane looks, in its order (for messages and --help).
std::vector<std::string> paneSearchPlaces(const PaneLookup& lookup);

// The folder of the running program (from /proc/self/exe); empty when unknown.
std::string runningProgramFolder();

}  // namespace vl::host
