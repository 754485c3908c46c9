#include "tools/ctl/store_location.h"

#include "core/store/store.h"
#include "platform/api/platform.h"
#include "platform/linux/xdg_paths.h"

namespace vl::ctl {

std::optional<std::string> userStorePath(std::string* error) {
  ErrorStack errors;  // the failure is told through *error
  auto paths = linux_::XdgPaths::create(linux_::XdgEnvironment::fromProcess(), VELMORA_SOURCE_RESOURCES, error);
  if (!paths) return std::nullopt;
  Platform p;
  p.paths = &*paths;
  std::optional<std::string> url = storeFilePath(p, errors);
  if (!url && error) *error = "cannot make the settings folder in " + paths->applicationSupport();
  return url;
}

std::optional<std::string> storePathOrDefault(const std::string& option, std::string* error) {
  if (!option.empty()) return option;
  return userStorePath(error);
}

}  // namespace vl::ctl
