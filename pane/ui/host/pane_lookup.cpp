// Pane lookup: --pane, then the installed panes the way the core finds them, then the build tree.
#include "pane/ui/host/pane_lookup.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include "core/system/versions.h"
#include "platform/api/platform.h"

namespace vl::host {

namespace {

bool isFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string besideProgram(const std::string& programFolder) {
  if (programFolder.empty()) return "";
  // build/<preset>/bin/velmora-settings -> build/<preset>/Velmora.prefPane
  std::string parent = programFolder;
  size_t slash = parent.find_last_of('/');
  parent = slash == std::string::npos || slash == 0 ? std::string("/") : parent.substr(0, slash);
  return (parent == "/" ? "" : parent) + "/" + kPaneFileName;
}

}  // namespace

std::vector<std::string> paneSearchPlaces(const PaneLookup& lookup) {
  if (!lookup.explicitPath.empty()) return {lookup.explicitPath};
  std::vector<std::string> places;
  if (lookup.paths)
    for (const auto& dir : lookup.paths->preferencePanes()) places.push_back(dir + "/" + kPaneFileName);
  std::string built = besideProgram(lookup.programFolder);
  if (!built.empty()) places.push_back(built);
  return places;
}

std::optional<FoundPane> findPane(const PaneLookup& lookup, std::string* error) {
  if (!lookup.explicitPath.empty()) {
    if (isFolder(lookup.explicitPath)) return FoundPane{lookup.explicitPath, "--pane"};
    if (error) *error = "no pane bundle at " + lookup.explicitPath;
    return std::nullopt;
  }
  if (lookup.paths) {
    Platform p;
    p.paths = const_cast<Paths*>(lookup.paths);
    if (auto installed = prefPanePath(p.paths, kPaneFileName); installed && isFolder(*installed))
      return FoundPane{*installed, "installed"};
  }
  std::string built = besideProgram(lookup.programFolder);
  if (!built.empty() && isFolder(built)) return FoundPane{built, "build tree"};
  if (error) {
    std::string text = std::string("no ") + kPaneFileName + " found; looked in:";
    for (const auto& place : paneSearchPlaces(lookup)) text += "\n  " + place;
    *error = text;
  }
  return std::nullopt;
}

std::string runningProgramFolder() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "";
  std::string path(buf, static_cast<size_t>(n));
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "" : path.substr(0, slash);
}

}  // namespace vl::host
