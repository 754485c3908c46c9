// Why a store or folder named on the command line cannot be used, told plainly: a missing
// store, a denied permission, a symbolic-link loop or an overlong name each say what they are.
#pragma once

#include <cerrno>
#include <optional>
#include <string>

#include "core/plist/file_input.h"

namespace vl::ctl {

// Nothing when something exists at path; else the message for the command to print.
inline std::optional<std::string> storePathProblem(const std::string& path) {
  int e = pl::pathStatError(path);
  if (e == 0) return std::nullopt;
  if (e == ENOENT) return "no settings store at " + path;
  return "cannot open the settings store " + path + ": " + pl::pathErrorText(e);
}

}  // namespace vl::ctl
