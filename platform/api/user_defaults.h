// UserDefaults port: the per-user preference domains ("com.apple.universalaccess",
// the pane's own keys, the agent's published flags).
#pragma once

#include <optional>
#include <string>

#include "core/plist/value.h"
#include "platform/api/status.h"

namespace vl {

class UserDefaults {
 public:
  virtual ~UserDefaults() = default;
  // Re-reads the domain from its store (the platform caches it otherwise).
  virtual void synchronize(const std::string& domain) = 0;
  virtual std::optional<pl::Value> value(const std::string& domain, const std::string& key) const = 0;
  // A failure when the domain's store could not take the change.
  virtual Status setValue(const std::string& domain, const std::string& key, const pl::Value& v) = 0;
  virtual Status removeValue(const std::string& domain, const std::string& key) = 0;
  // Deletes the whole domain, every key of it and its store ("defaults delete <domain>").
  // Success also when there was none; a failure when it could not be deleted (or the adapter
  // cannot).
  virtual Status removeDomain(const std::string& domain) {
    return Status::failure(1, "this system cannot delete the preference domain " + domain);
  }
};

}  // namespace vl
