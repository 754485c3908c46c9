// JSON text of property-list values, for velmora-sim's --json output.
#pragma once

#include <string>

#include "core/plist/value.h"

#include "tools/common/cli_args.h"

namespace vl::simtool {

// Dictionaries become objects (keys sorted), arrays arrays, integers keep their sign, reals
// are printed exactly enough to read back, data becomes a lower-case hex string, dates their
// seconds since 2001, nulls null. indent 0 gives one line.
std::string toJson(const pl::Value& v, int indent = 2);
using cli::jsonString;

}  // namespace vl::simtool
