// Where a program finds its resources: in the bundle it runs from when it is installed as a
// bundle's executable (Velmora Manager.app/Contents/MacOS/Velmora Manager finds
// Contents/Resources), else the given folder (the source tree's, for programs run from the build).
#pragma once

#include <string>

namespace vl::cli {

// The Resources folder of the bundle holding the executable at exePath, or "" when it is not in
// one (not <bundle>/Contents/MacOS/<name>, or no Contents/Resources folder).
std::string bundleResourcesOf(const std::string& exePath);

// bundleResourcesOf the running program, else fallback.
std::string bundledResourcesOr(const std::string& fallback);

}  // namespace vl::cli
