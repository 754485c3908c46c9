// FileUserDefaults: user-defaults domains as one XML property list per domain in a folder,
// cached per process as the platform caches them, written through at once.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "core/plist/value.h"
#include "platform/api/user_defaults.h"

namespace vl::linux_ {

class FileUserDefaults : public UserDefaults {
 public:
  // folder is made (0700) on the first write.
  explicit FileUserDefaults(std::string folder);

  // Re-reads the domain's file; until then values come from this process's cache, so another
  // process's change is seen after synchronize, as on the platform.
  void synchronize(const std::string& domain) override;
  std::optional<pl::Value> value(const std::string& domain, const std::string& key) const override;
  // Changes one key in the file as it is now (keys another process wrote meanwhile stay), under
  // a lock on the folder. A failure for a domain name that is no plain file name, or when the
  // file cannot be written (lastError keeps the last failure's words too).
  Status setValue(const std::string& domain, const std::string& key, const pl::Value& v) override;
  Status removeValue(const std::string& domain, const std::string& key) override;
  // Deletes the domain's file under the folder's lock.
  Status removeDomain(const std::string& domain) override;

  std::string fileOf(const std::string& domain) const { return folder_ + "/" + domain + ".plist"; }
  const std::string& lastError() const { return lastError_; }

 private:
  bool change(const std::string& domain, const std::string& key, const pl::Value* v);
  const pl::Dict& cached(const std::string& domain) const;
  // A domain's file; an unreadable or malformed file reads as empty.
  pl::Dict load(const std::string& domain) const;

  std::string folder_;
  mutable std::map<std::string, pl::Dict> cache_;
  std::string lastError_;
};

// Whether a domain name can be a file name in the folder ("com.apple.universalaccess").
bool isValidDomainName(const std::string& domain);

}  // namespace vl::linux_
