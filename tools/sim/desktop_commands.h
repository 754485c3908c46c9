// velmora-sim's desktop commands: dialogs opened and closed, applications focused, the cursor,
// mouse buttons and Shift, and the agent's accessibility permission, on the world's desktop.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "core/plist/value.h"
#include "platform/api/status.h"
#include "tools/common/command_table.h"

namespace vl::simtool {

// args: what follows the command's name; folder: the world folder.
using DesktopCommand = cli::Command<int(std::vector<std::string>& args, const std::string& folder)>;

// open-dialog, focus, close-window, move-cursor, hold, release, trust.
const std::vector<DesktopCommand>& desktopCommands();

// The desktop and the cursor, for 'show': the text listing, and the same as a value for
// --json (applications with their windows as element trees, the cursor, the accessibility
// trust and this process's own windows).
Status printDesktop(const std::string& folder, std::ostream& out);
Result<pl::Value> desktopValue(const std::string& folder);

}  // namespace vl::simtool
