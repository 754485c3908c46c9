// velmora-sim's desktop commands: dialogs opened and closed, applications focused, the cursor,
// mouse buttons and Shift, and the agent's accessibility permission, on the world's desktop.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace vl::simtool {

struct DesktopCommand {
  const char* name;
  const char* summary;
  const char* help;
  // args: what follows the command's name; folder: the world folder.
  std::function<int(std::vector<std::string>& args, const std::string& folder)> run;
};

// open-dialog, focus, close-window, move-cursor, hold, release, trust.
const std::vector<DesktopCommand>& desktopCommands();

// The desktop and the cursor, for 'show' (text, or a JSON object).
bool printDesktop(const std::string& folder, bool json, std::ostream& out, std::string* error);

}  // namespace vl::simtool
