#include "tools/ctl/store_location.h"

#include "core/store/store.h"
#include "platform/api/platform.h"
#include "platform/linux/xdg_paths.h"

namespace vl::ctl {

Result<std::string> userStorePath() {
  ErrorStack errors;  // the failure is told through the result
  auto paths = linux_::XdgPaths::create(linux_::XdgEnvironment::fromProcess(), VELMORA_SOURCE_RESOURCES);
  if (!paths) return paths.status();
  Platform p;
  p.paths = &*paths;
  std::optional<std::string> url = storeFilePath(p, errors);
  if (!url) return Status::failure(1, "cannot make the settings folder in " + paths->applicationSupport());
  return *url;
}

Result<std::string> storePathOrDefault(const std::string& option) {
  if (!option.empty()) return option;
  return userStorePath();
}

}  // namespace vl::ctl
