// XattrFileAttributes: download quarantine on Linux. Browsers record where a download came from
// in the extended attributes "user.xdg.origin.url" and "user.xdg.referrer.url"; a file with
// either counts as quarantined, and removing the quarantine removes both.
#pragma once

#include <string>

#include "platform/api/file_attributes.h"

namespace vl::linux_ {

inline constexpr const char* kOriginUrlAttribute = "user.xdg.origin.url";
inline constexpr const char* kReferrerUrlAttribute = "user.xdg.referrer.url";

class XattrFileAttributes : public FileAttributes {
 public:
  // Reads the attributes of the link itself, never its target (llistxattr).
  bool hasQuarantine(const std::string& path) const override;
  // lremovexattr on path and, when recursive, on every entry below it; links are not followed
  // and files without the attributes are left alone.
  Status removeQuarantine(const std::string& path, bool recursive) override;
};

}  // namespace vl::linux_
