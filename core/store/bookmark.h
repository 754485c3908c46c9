// File bookmarks: a persistent reference to a file that still finds it after it was replaced
// or renamed within its folder, and says when the reference should be renewed.
#pragma once

#include <optional>
#include <string>

#include "core/plist/value.h"
#include "platform/api/alerts.h"

namespace vl {

// A minimal bookmark of an existing file or folder; nullopt and *error filled when the path
// does not exist.
std::optional<pl::Data> createMinimalBookmark(const std::string& path, ErrorInfo* error);
// The path the bookmark leads to, resolved without user interaction and without mounting
// anything. *stale is set when the file was found but not as recorded (replaced, or renamed
// within its folder): the caller should make a fresh bookmark. nullopt when it is gone.
std::optional<std::string> resolveBookmark(const pl::Data& bookmark, bool* stale);

}  // namespace vl
