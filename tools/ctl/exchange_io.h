// velmora-ctl exchange export / import: writing store records to an exchange file and reading
// one back into the store (the subcommands of the "exchange" group that touch the store).
#pragma once

#include "tools/ctl/command.h"

namespace vl::ctl {

// Each takes the arguments after the subcommand's name, prints its own errors and returns the
// tool's exit status.
int exchangeExport(const Args& args);
int exchangeImport(const Args& args);

}  // namespace vl::ctl
