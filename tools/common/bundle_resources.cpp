// Resources of the bundle a program runs from.
#include "tools/common/bundle_resources.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>

namespace vl::cli {

std::string bundleResourcesOf(const std::string& exePath) {
  size_t slash = exePath.find_last_of('/');
  if (slash == std::string::npos) return "";
  std::string folder = exePath.substr(0, slash);
  const std::string suffix = "/Contents/MacOS";
  if (folder.size() < suffix.size() || folder.compare(folder.size() - suffix.size(), suffix.size(), suffix) != 0)
    return "";
  std::string resources = folder.substr(0, folder.size() - suffix.size()) + "/Contents/Resources";
  struct stat st {};
  if (::stat(resources.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return "";
  return resources;
}

std::string bundledResourcesOr(const std::string& fallback) {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return fallback;
  std::string inBundle = bundleResourcesOf(std::string(buf, static_cast<size_t>(n)));
  return inBundle.empty() ? fallback : inBundle;
}

}  // namespace vl::cli
