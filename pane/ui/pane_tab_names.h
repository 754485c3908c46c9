// The short names the settings host selects the pane's tabs by (`--tab`), in the order the
// tabs show. The pane's tab table is checked against this list at compile time, so the host's
// suggestions for a mistyped name cannot drift from the tabs the pane has.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace vl::ui {

inline constexpr const char* kSpeedTabName = "speed";
inline constexpr const char* kAppsTabName = "apps";
inline constexpr const char* kOtherTabName = "other";

inline constexpr std::array<const char*, 3> kPaneTabNames = {kSpeedTabName, kAppsTabName, kOtherTabName};

inline std::vector<std::string> paneTabNames() { return {kPaneTabNames.begin(), kPaneTabNames.end()}; }

}  // namespace vl::ui
